// SPDX-License-Identifier: Apache-2.0
// The names-written table of the batch mode against a plain map: every name
// added is found with its place, every other is not, whatever bytes the names
// hold and however often the table grows.
#include "common.h"

#include "xlate/xlate.h"

#include <algorithm>
#include <map>
#include <string>

using kivf::xlate::Written;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kivf::fuzz::Input in(data, size);
    Written w;
    std::map<std::string, std::uint64_t> model;
    std::uint64_t place = 0;
    const auto add = [&](const std::string& name, std::uint64_t step) {
        const auto it = model.find(name);
        FUZZ_CHECK(w.find(name) == (it == model.end() ? 0 : it->second));
        if (it != model.end()) return;
        FUZZ_CHECK(w.room());
        place += step;
        w.add(name, place);
        model.emplace(name, std::min(place, Written::kMaxPlace));
    };
    while (!in.empty()) {
        const std::uint8_t op = in.u8();
        const std::string name(in.bytes(op % 32));
        if ((op & 0xC0) == 0xC0) { // a run of names alike but for a number: the table grows
            const std::uint16_t count = in.u16();
            for (std::uint16_t i = 0; i < count % 4096; ++i) add(name + std::to_string(i), 1);
        } else if ((op & 0xC0) == 0x80) { // a place far along (a huge input's line)
            add(name, std::uint64_t{in.u8()} << 34);
        } else {
            add(name, 1 + in.u8());
        }
    }
    for (const auto& [name, at] : model) FUZZ_CHECK(w.find(name) == at);
    FUZZ_CHECK(w.size() == model.size());
    return 0;
}
