// SPDX-License-Identifier: Apache-2.0
// Times: nominal on any float, then the offsets of a run of samples from
// anywhere. A finite positive float has a nominal value of at most 9 digits
// whose interval, read back through text as the rule states it, is the
// float; nothing else has one. The stepped offsets equal the one-at-a-time
// ones, both fail together, never decrease, and lie within a microsecond of
// i × the interval reckoned in long double.
#include "common.h"

#include "dff/kiv.h"

#include <array>
#include <cmath>
#include <cstring>
#include <vector>

using namespace kivf;
using namespace kivf::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    const auto bits = static_cast<std::uint32_t>(in.i32());
    float delta = 0;
    std::memcpy(&delta, &bits, sizeof delta);
    // Indices near 0 mostly, anywhere sometimes.
    const auto wide = static_cast<std::int64_t>(static_cast<std::uint64_t>(in.i32()) << 32 |
                                                static_cast<std::uint32_t>(in.i32()));
    const std::int64_t first = (in.u8() & 1) != 0 ? wide : wide % 100'000'000;
    const std::size_t count = in.u8() % 64;
    Nominal n;
    const bool ok = nominal(delta, n);
    FUZZ_CHECK(ok == (std::isfinite(delta) && delta > 0));
    if (!ok) return 0;
    std::array<char, 40> t{};
    std::snprintf(t.data(), t.size(), "%llde%d", static_cast<long long>(n.digits), n.exp10);
    const float back = n.rate ? static_cast<float>(1.0 / std::strtod(t.data(), nullptr))
                              : std::strtof(t.data(), nullptr);
    FUZZ_CHECK(back == delta && n.digits > 0 && n.digits < 1'000'000'000);
    FUZZ_CHECK(n.digits < 10 || n.digits % 10 != 0);
    std::vector<std::int64_t> stepped(count);
    const bool all = sampleoffsets(n, first, stepped);
    bool each = true;
    const long double interval = n.rate ? 1e6L / std::strtold(t.data(), nullptr)
                                        : 1e6L * std::strtold(t.data(), nullptr);
    for (std::size_t j = 0; j < count; ++j) {
        std::int64_t us = 0;
        const auto i = static_cast<std::int64_t>(static_cast<std::uint64_t>(first) + j);
        if (i < first) break; // wrapped: beyond int64, the run stops
        if (!sampleoffset(n, i, us)) {
            each = false;
            continue;
        }
        const long double want = static_cast<long double>(i) * interval;
        FUZZ_CHECK(std::fabs(static_cast<long double>(us) - want) <= 1 + std::fabs(want) * 1e-15L);
        if (!all) continue;
        FUZZ_CHECK(stepped[j] == us);
        FUZZ_CHECK(j == 0 || stepped[j] >= stepped[j - 1]);
    }
    FUZZ_CHECK(all == each || count == 0 ||
               static_cast<std::int64_t>(static_cast<std::uint64_t>(first) + count - 1) < first);
    return 0;
}
