// An e1 encoder of the tests' own (the bench uses it too), written apart from
// the decoder: packets are built bit by bit in a 64-bit accumulator from a
// table of kinds, not by fixed shifts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace e1enc {

struct Kind {
    int prefixbits;
    std::uint32_t prefix;
    int width, count, words;
};
// In order of values per word, densest first, as best() tries them.
inline constexpr Kind kKinds[] = {
    {4, 0xC, 7, 4, 1},  // 1100
    {1, 0x0, 9, 7, 2},  // 0
    {2, 0x2, 10, 3, 1}, // 10
    {4, 0xD, 12, 5, 2}, // 1101
    {4, 0xE, 15, 4, 2}, // 1110
    {4, 0xF, 28, 1, 1}, // 1111
};
inline constexpr int kBest = -1; // choose the densest kind that fits, packet by packet

inline bool fits(std::int32_t v, int width) {
    const std::int64_t half = std::int64_t{1} << (width - 1);
    return v >= -half && v < half;
}

// x differenced d times, wrapping as 32-bit numbers.
inline std::vector<std::int32_t> differenced(std::vector<std::int32_t> x, int d) {
    for (int k = 0; k < d; ++k) {
        std::uint32_t prev = 0;
        for (auto& v : x) {
            const auto u = static_cast<std::uint32_t>(v);
            v = static_cast<std::int32_t>(u - prev);
            prev = u;
        }
    }
    return x;
}

// x summed up d times, wrapping: what a block of x differenced d times holds.
inline std::vector<std::int32_t> summed(std::vector<std::int32_t> x, int d) {
    for (int k = 0; k < d; ++k) {
        std::uint32_t s = 0;
        for (auto& v : x) v = static_cast<std::int32_t>(s += static_cast<std::uint32_t>(v));
    }
    return x;
}

inline void put32(std::string& b, std::uint32_t w) {
    for (int s = 24; s >= 0; s -= 8) b += static_cast<char>(w >> s & 0xFF);
}

// The packets of values, all of kind k (an index of kKinds) or each the best
// that fits, appended to words; values past the end are 0. False when a value
// fits no kind allowed.
inline bool packets(const std::vector<std::int32_t>& v, int k, std::string& words) {
    for (std::size_t i = 0; i < v.size();) {
        const auto at = [&](std::size_t j) { return i + j < v.size() ? v[i + j] : 0; };
        const auto ok = [&](const Kind& kind) {
            for (int j = 0; j < kind.count; ++j)
                if (!fits(at(static_cast<std::size_t>(j)), kind.width)) return false;
            return true;
        };
        const Kind* kind = nullptr;
        if (k != kBest) {
            if (ok(kKinds[k])) kind = &kKinds[k];
        } else {
            for (const Kind& c : kKinds)
                if (kind == nullptr && ok(c)) kind = &c;
        }
        if (kind == nullptr) return false;
        const int total = 32 * kind->words;
        std::uint64_t acc = std::uint64_t{kind->prefix} << (total - kind->prefixbits);
        for (int j = 0; j < kind->count; ++j) {
            const std::uint64_t mask = (std::uint64_t{1} << kind->width) - 1;
            const int shift = total - kind->prefixbits - (j + 1) * kind->width;
            acc |= (static_cast<std::uint64_t>(at(static_cast<std::size_t>(j))) & mask) << shift;
        }
        if (kind->words == 2) put32(words, static_cast<std::uint32_t>(acc >> 32));
        put32(words, static_cast<std::uint32_t>(acc));
        i += static_cast<std::size_t>(kind->count);
    }
    return true;
}

// A block's header: length, count, flags, check (the last sample's low 24 bits).
inline std::string header(std::size_t length, std::size_t count, unsigned flags,
                          std::int32_t last) {
    std::string b;
    b += static_cast<char>(length >> 8), b += static_cast<char>(length & 0xFF);
    b += static_cast<char>(count >> 8), b += static_cast<char>(count & 0xFF);
    put32(b, (flags & 0xFF) << 24 | (static_cast<std::uint32_t>(last) & 0xFFFFFF));
    return b;
}

// A block of samples with d differences, packets of kind k (or the best),
// then pad words of zeros. Empty when the differences fit no kind allowed.
inline std::string block(const std::vector<std::int32_t>& samples, int d, int k = kBest,
                         std::size_t pad = 0) {
    std::string words;
    if (!packets(differenced(samples, d), k, words)) return {};
    words.append(4 * pad, '\0');
    return header(8 + words.size(), samples.size(), static_cast<unsigned>(d),
                  samples.empty() ? 0 : samples.back()) +
           words;
}

// A plain block: the samples as 32-bit words; flags' high 4 bits must not be 0.
inline std::string plain(const std::vector<std::int32_t>& samples, unsigned flags = 0x10,
                         std::size_t pad = 0) {
    std::string words;
    for (const std::int32_t v : samples) put32(words, static_cast<std::uint32_t>(v));
    words.append(4 * pad, '\0');
    return header(8 + words.size(), samples.size(), flags, samples.empty() ? 0 : samples.back()) +
           words;
}

} // namespace e1enc
