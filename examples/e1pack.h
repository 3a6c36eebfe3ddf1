// SPDX-License-Identifier: Apache-2.0
// An e1 packer written apart from the decoder: packets are built bit by bit in a 64-bit
// accumulator from a table of kinds, not by fixed shifts. The demo's archive generator, the
// batch bench and the tests all write their e1 blocks through it; kinds can be forced and
// blocks padded or left plain, so that the tests can also build the odd and the broken ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace e1enc {

struct Kind {
    int prefixbits;
    std::uint32_t prefix;
    int width, count, words;
};
// Densest first, as kBest tries them; prefixes 1100 0 10 1101 1110 1111.
inline constexpr Kind kKinds[] = {{4, 0xC, 7, 4, 1},  {1, 0x0, 9, 7, 2},  {2, 0x2, 10, 3, 1},
                                  {4, 0xD, 12, 5, 2}, {4, 0xE, 15, 4, 2}, {4, 0xF, 28, 1, 1}};
inline constexpr int kBest = -1; // choose the densest kind that fits, packet by packet

// x differenced d times, wrapping as 32-bit numbers.
inline std::vector<std::int32_t> differenced(std::vector<std::int32_t> x, int d) {
    for (int k = 0; k < d; ++k)
        for (std::uint32_t prev = 0; auto& v : x)
            v = static_cast<std::int32_t>(static_cast<std::uint32_t>(v) -
                                          std::exchange(prev, static_cast<std::uint32_t>(v)));
    return x;
}

// x summed up d times, wrapping: what a block of x differenced d times holds.
inline std::vector<std::int32_t> summed(std::vector<std::int32_t> x, int d) {
    for (int k = 0; k < d; ++k)
        for (std::uint32_t s = 0; auto& v : x)
            v = static_cast<std::int32_t>(s += static_cast<std::uint32_t>(v));
    return x;
}

inline void put32(std::string& b, std::uint32_t w) {
    for (int s = 24; s >= 0; s -= 8) b += static_cast<char>(w >> s & 0xFF);
}

// The packets of values, all of kind k (an index of kKinds) or each the best that fits, appended
// to words; values past the end are 0. False when a value fits no kind allowed.
inline bool packets(const std::vector<std::int32_t>& v, int k, std::string& words) {
    for (std::size_t i = 0; i < v.size();) {
        const auto ok = [&](const Kind& c) {
            const std::int64_t half = std::int64_t{1} << (c.width - 1);
            for (std::size_t j = i; j < i + static_cast<std::size_t>(c.count); ++j)
                if (j < v.size() && (v[j] < -half || v[j] >= half)) return false;
            return true;
        };
        const Kind* kind = nullptr;
        for (int c = k == kBest ? 0 : k; kind == nullptr && c <= (k == kBest ? 5 : k); ++c)
            if (ok(kKinds[c])) kind = &kKinds[c];
        if (kind == nullptr) return false;
        const int total = 32 * kind->words;
        std::uint64_t acc = std::uint64_t{kind->prefix} << (total - kind->prefixbits);
        for (int j = 0; j < kind->count; ++j, ++i) {
            const std::uint64_t mask = (std::uint64_t{1} << kind->width) - 1;
            const auto x = static_cast<std::uint64_t>(i < v.size() ? v[i] : 0);
            acc |= (x & mask) << (total - kind->prefixbits - (j + 1) * kind->width);
        }
        if (kind->words == 2) put32(words, static_cast<std::uint32_t>(acc >> 32));
        put32(words, static_cast<std::uint32_t>(acc));
    }
    return true;
}

// A block's header: length, count, flags, check (the last sample's low 24 bits).
inline std::string header(std::size_t length, std::size_t count, unsigned flags,
                          std::int32_t last) {
    std::string b{static_cast<char>(length >> 8), static_cast<char>(length & 0xFF),
                  static_cast<char>(count >> 8), static_cast<char>(count & 0xFF)};
    put32(b, (flags & 0xFF) << 24 | (static_cast<std::uint32_t>(last) & 0xFFFFFF));
    return b;
}

// A block of samples with d differences, packets of kind k (or the best), then pad words of
// zeros; a plain one (flags' high 4 bits not 0) holds them as 32-bit words. Empty when the
// differences fit no kind allowed.
inline std::string block(const std::vector<std::int32_t>& samples, int d, int k = kBest,
                         std::size_t pad = 0, bool plain = false) {
    std::string words;
    for (const std::int32_t v : samples)
        if (plain) put32(words, static_cast<std::uint32_t>(v));
    if (!plain && !packets(differenced(samples, d), k, words)) return {};
    return header(8 + words.size() + 4 * pad, samples.size(), static_cast<unsigned>(d),
                  samples.empty() ? 0 : samples.back()) +
           words + std::string(4 * pad, '\0');
}
inline std::string plain(const std::vector<std::int32_t>& samples, unsigned flags = 0x10,
                         std::size_t pad = 0) {
    return block(samples, static_cast<int>(flags), kBest, pad, true);
}

} // namespace e1enc
