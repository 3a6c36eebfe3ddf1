// SPDX-License-Identifier: Apache-2.0
// Catalogue loading: the input becomes the bytes of a messages file in a
// temporary KIVAUX directory (or KIVAUX names a missing or too long
// directory), kivmsg loads it after a few entries already loaded, and an
// independent reading of the file predicts the error number and every entry.
#include "common.h"

#include "co/co.h"

#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

using namespace kivf;
using namespace kivf::fuzz;

namespace {

std::string base;  // temporary directory of this process
std::string auxok; // holds the messages file

struct Entry {
    std::int32_t num;
    std::string text; // 160 characters as stored
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string tmpl = (std::filesystem::temp_directory_path() / "kivf-fuzz-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
    base = tmpl;
    auxok = base + "/aux";
    std::filesystem::create_directory(auxok);
    std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(base, ec);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    const std::uint8_t mode = in.u8();
    const std::uint8_t pre = in.u8();
    const std::string_view bytes = in.rest();

    freshmessages();
    std::vector<Entry> model;
    // Entries already loaded: most runs none, some many, so that the
    // 400-entry limit is reached without huge files.
    const std::int32_t npre = pre % 4 == 0 ? pre % 101 * 4 : 0;
    for (std::int32_t k = 0; k < npre; ++k) {
        const auto i = static_cast<std::size_t>(k);
        cmmsg.catnum[i] = -1 - k;
        kmmsg.cattext[i].set("preloaded " + std::to_string(k));
        model.push_back({-1 - k, padded("preloaded " + std::to_string(k), 160)});
    }
    cmmsg.ncatmsg = npre;

    std::string dir = auxok;
    std::int32_t want = 0;
    if (mode % 8 == 7) {
        // A directory name of 116 to 131 characters: the path with
        // "/messages" fits 128 characters up to 119 (then the file is
        // missing), and is refused beyond.
        const std::size_t len = 116 + (mode >> 3) % 16;
        dir = base + "/";
        dir.resize(len, 'x');
        want = len + 9 <= 128 ? kMsgFileMissing : kMsgPathTooLong;
    } else if (mode % 8 == 6) {
        dir = base + "/missing";
        want = kMsgFileMissing;
    } else {
        std::FILE* f = std::fopen((auxok + "/messages").c_str(), "wb");
        if (f == nullptr) std::abort();
        if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())
            std::abort();
        std::fclose(f);
        // Lines as records: a last line without a newline still counts.
        std::vector<std::string_view> lines;
        for (std::size_t b = 0; b < bytes.size();) {
            std::size_t e = bytes.find('\n', b);
            if (e == std::string_view::npos) e = bytes.size();
            std::string_view l = bytes.substr(b, e - b);
            if (l.ends_with('\r')) l.remove_suffix(1); // one CR belongs to the line end
            lines.push_back(l);
            b = e + 1;
        }
        for (std::size_t i = 0;; ++i) {
            if (model.size() >= 400) {
                want = kMsgCatalogueFull; // tested before every read, end of file too
                break;
            }
            if (i == lines.size()) break;
            const std::string rec = padded(lines[i], 165);
            const auto num = integer(std::string_view(rec).substr(0, 4), true);
            if (!num) {
                want = kMsgCatalogueLine;
                break;
            }
            model.push_back({*num, rec.substr(5)});
        }
    }
    setenv("KIVAUX", dir.c_str(), 1);

    std::int32_t nerr = -1;
    kivmsg(nerr);

    FUZZ_CHECK(nerr == 0 || nerr == kMsgCatalogueLine || nerr == kMsgFileMissing ||
               nerr == kMsgCreate || nerr == kMsgCatalogueFull || nerr == kMsgPathTooLong);
    FUZZ_CHECK(nerr == want);
    FUZZ_CHECK(cmmsg.ncatmsg >= 0 && cmmsg.ncatmsg <= 400);
    FUZZ_CHECK(cmmsg.ncatmsg == static_cast<std::int32_t>(model.size()));
    if (nerr != 0) {
        FUZZ_CHECK(cmmsg.msgnum == nerr);
        FUZZ_CHECK(cmmsg.msgtype == 1);
    }
    // The unit is released whatever happened.
    for (std::int32_t u = 0; u <= kMaxUnit; ++u)
        FUZZ_CHECK(uconnected(u) == (u == kStdin || u == kStdout));
    for (std::size_t k = 0; k < model.size(); ++k) {
        FUZZ_CHECK(cmmsg.catnum[k] == model[k].num);
        FUZZ_CHECK(std::string_view(kmmsg.cattext[k]) == model[k].text);
    }
    // Lookups find the first entry of a number.
    for (const Entry& e : model) {
        const auto first = std::find_if(model.begin(), model.end(),
                                        [&](const Entry& x) { return x.num == e.num; });
        MsgLine text;
        getmsg(e.num, text);
        FUZZ_CHECK(std::string_view(text) == first->text);
    }
    return 0;
}
