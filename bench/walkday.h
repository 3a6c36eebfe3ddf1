// SPDX-License-Identifier: Apache-2.0
// A day of 100 Hz integer samples for the miniSEED writing and reading
// benchmarks, made the same way by each of them: a mean-reverting random walk
// of small integer steps (a station's noise as a digitiser gives it), so that
// Steim-2 packs most differences in a few bits as it does real data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bench {

inline constexpr std::size_t kDaySamples = 8'640'000; // 24 h at 100 samples/s

inline std::vector<std::int32_t> walkday(std::size_t n = kDaySamples, std::uint64_t seed = 1) {
    std::vector<std::int32_t> v(n);
    std::int64_t y = 0;
    for (std::size_t i = 0; i < n; ++i) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        const auto r = static_cast<std::int64_t>(seed >> 33); // 31 random bits
        // Steps of -40..40, pulled back towards 0 by a 1/256 of the distance.
        y += r % 81 - 40 - y / 256;
        v[i] = static_cast<std::int32_t>(y);
    }
    return v;
}

} // namespace bench
