// SPDX-License-Identifier: Apache-2.0
// A day record for the batch bench as a seismometer gives it: a quiet
// background (microseism swell and noise) whose first differences fit the
// small packet kinds, and a few quakes whose large swings need the wide
// ones; written as s4 and as e1 blocks by the one e1 packer.
#pragma once

#include "../examples/e1pack.h"

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace e1day {

inline std::vector<std::int32_t> seismogram(std::size_t n, std::uint32_t seed) {
    std::vector<std::int32_t> v(n);
    const double pi = 3.14159265358979323846;
    double hum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const double noise = static_cast<double>(seed >> 24) - 127.5; // 8 bits of noise
        hum = 0.999 * hum + 0.3 * noise;                              // slow wander
        const double t = static_cast<double>(i) / 100.0;              // seconds at 100 Hz
        double y = 800 * std::sin(2 * pi * t / 6.5) + hum + noise / 4;
        const double since = std::fmod(t, 7200.0) - 3000.0; // a quake every two hours
        if (since > 0 && since < 600)
            y += 3e6 * std::exp(-since / 40.0) * std::sin(2 * pi * 2.5 * since);
        v[i] = static_cast<std::int32_t>(std::lround(y));
    }
    return v;
}

inline void writes4(const std::filesystem::path& p, const std::vector<std::int32_t>& v) {
    std::string b;
    b.reserve(4 * v.size());
    for (const std::int32_t x : v) e1enc::put32(b, static_cast<std::uint32_t>(x));
    std::ofstream(p, std::ios::binary) << b;
}

// Blocks of 2000 samples at one difference (or plain, when a block's swings
// fit no packet); returns the file's size.
inline std::size_t writee1(const std::filesystem::path& p, const std::vector<std::int32_t>& v) {
    std::string b;
    for (std::size_t i = 0; i < v.size(); i += 2000) {
        const std::vector<std::int32_t> part(
            v.begin() + static_cast<std::ptrdiff_t>(i),
            v.begin() + static_cast<std::ptrdiff_t>(std::min(i + 2000, v.size())));
        const std::string blk = e1enc::block(part, 1);
        b += blk.empty() ? e1enc::plain(part) : blk;
    }
    std::ofstream(p, std::ios::binary) << b;
    return b.size();
}

} // namespace e1day
