// SPDX-License-Identifier: Apache-2.0
// e1 blocks decoded in memory, and a record's blocks read from its sample
// file in large pieces. Packets are unpacked by straight-line code per kind,
// chosen by a switch on the first word's top 4 bits; sums wrap as 32-bit
// unsigned numbers, as the samples were differenced.
#include "wfdxlate/e1.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <utility>

namespace kivf::wfdx {

namespace {

inline std::uint32_t be32(const std::byte* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return std::endian::native == std::endian::big ? v : __builtin_bswap32(v);
}

inline std::size_t be16(const std::byte* p) {
    return std::to_integer<std::size_t>(p[0]) << 8 | std::to_integer<std::size_t>(p[1]);
}

// K values of W bits, packed from the low end of v upwards in reverse (the
// first value highest), sign-extended into d[0..K).
template <int W, int K, class U> inline void put(U v, std::int32_t* d) {
    using S = std::make_signed_t<U>;
    constexpr int bits = static_cast<int>(sizeof(U)) * 8;
    [&]<int... J>(std::integer_sequence<int, J...>) {
        ((d[J] = static_cast<std::int32_t>(static_cast<S>(v << (bits - W - (K - 1 - J) * W)) >>
                                           (bits - W))),
         ...);
    }
    (std::make_integer_sequence<int, K>{});
}

// Packet kinds, named by their values' width and count; the two-word kinds
// first. kKinds: the kind of a first word's top 4 bits (prefixes 0, 10,
// 1100, 1101, 1110, 1111).
enum Kind : std::uint8_t { k9x7, k12x5, k15x4, k10x3, k7x4, k28x1 };
constexpr std::array<Kind, 16> kKinds = {k9x7,  k9x7,  k9x7,  k9x7,  k9x7, k9x7,  k9x7,  k9x7,
                                         k10x3, k10x3, k10x3, k10x3, k7x4, k12x5, k15x4, k28x1};

// The packets of a block's words into d until count values are had; false
// with the fault set when they run out or run past the words.
bool unpack(const std::byte* words, std::size_t nwords, std::size_t count, std::int32_t* d,
            E1Block& b) {
    std::size_t i = 0, got = 0;
    while (got < count) {
        if (i == nwords) {
            b.fault = E1Fault::packets;
            b.values = got;
            return false;
        }
        const std::uint32_t w = be32(words + 4 * i);
        const Kind kind = kKinds[w >> 28];
        if (kind <= k15x4 && i + 1 == nwords) {
            b.fault = E1Fault::overrun;
            b.packet = kE1Header + 4 * i;
            return false;
        }
        const auto pair = [&] { return std::uint64_t{w} << 32 | be32(words + 4 * i + 4); };
        switch (kind) {
        case k9x7:
            put<9, 7>(pair(), d + got);
            got += 7, i += 2;
            break;
        case k12x5:
            put<12, 5>(pair(), d + got);
            got += 5, i += 2;
            break;
        case k15x4:
            put<15, 4>(pair(), d + got);
            got += 4, i += 2;
            break;
        case k10x3:
            put<10, 3>(w, d + got);
            got += 3, i += 1;
            break;
        case k7x4:
            put<7, 4>(w, d + got);
            got += 4, i += 1;
            break;
        case k28x1:
            put<28, 1>(w, d + got);
            got += 1, i += 1;
            break;
        }
    }
    return true;
}

} // namespace

E1Block e1decode(std::span<const std::byte> bytes, E1Samples& samples) {
    E1Block b;
    if (bytes.size() < kE1Header) {
        b.fault = E1Fault::cut;
        b.there = bytes.size();
        return b;
    }
    const std::byte* p = bytes.data();
    b.length = be16(p);
    b.count = be16(p + 2);
    const auto flags = std::to_integer<unsigned>(p[4]);
    b.plain = flags >> 4 != 0;
    b.differences = static_cast<int>(flags & 15);
    const std::uint32_t check = be32(p + 4) & 0xFFFFFF;
    b.check = static_cast<std::int32_t>(check << 8) >> 8;
    if (b.length < kE1Header)
        b.fault = E1Fault::shortlength;
    else if (b.length % 4 != 0)
        b.fault = E1Fault::length;
    else if (b.differences > kE1MaxDifferences)
        b.fault = E1Fault::differences;
    else if (b.count == 0 && b.length != kE1Header) // else a corrupt count skips its samples
        b.fault = E1Fault::empty;
    else if (bytes.size() < b.length)
        b.fault = E1Fault::cut, b.there = bytes.size();
    if (b.fault != E1Fault::none) return b;

    const std::byte* words = p + kE1Header;
    const std::size_t nwords = (b.length - kE1Header) / 4;
    std::int32_t* d = samples.data();
    if (b.plain) {
        if (b.count > nwords) {
            b.fault = E1Fault::plain;
            return b;
        }
        for (std::size_t j = 0; j < b.count; ++j)
            d[j] = static_cast<std::int32_t>(be32(words + 4 * j));
    } else {
        if (!unpack(words, nwords, b.count, d, b)) return b;
        for (int k = 0; k < b.differences; ++k) {
            std::uint32_t sum = 0;
            for (std::size_t j = 0; j < b.count; ++j) {
                sum += static_cast<std::uint32_t>(d[j]);
                d[j] = static_cast<std::int32_t>(sum);
            }
        }
    }
    if (b.count > 0 && ((static_cast<std::uint32_t>(d[b.count - 1]) ^ check) & 0xFFFFFF) != 0) {
        b.fault = E1Fault::check;
        b.last = d[b.count - 1];
    }
    return b;
}

std::string e1reason(const E1Block& b) {
    const auto s = [](auto v) { return std::to_string(v); };
    switch (b.fault) {
    case E1Fault::none:
        return {};
    case E1Fault::cut:
        if (b.length == 0) return "the file ends after " + s(b.there) + " of its 8 header bytes";
        return "the file ends after " + s(b.there) + " of its " + s(b.length) + " bytes";
    case E1Fault::length:
        return "its length " + s(b.length) + " is not a multiple of 4";
    case E1Fault::shortlength:
        return "its length " + s(b.length) + " is less than its 8-byte header";
    case E1Fault::differences:
        return "it has " + s(b.differences) + " differences to undo, more than 4";
    case E1Fault::empty:
        return "it has no samples, yet its length " + s(b.length) +
               " is more than its 8-byte header";
    case E1Fault::plain:
        return "its " + s(b.length) + " bytes cannot hold its " + s(b.count) + " plain samples";
    case E1Fault::packets:
        return "its packets hold " + s(b.values) + " of its " + s(b.count) + " samples";
    case E1Fault::overrun:
        return "the two-word packet at its byte " + s(b.packet) + " runs past its " + s(b.length) +
               " bytes";
    case E1Fault::check:
        return "check value " + s(b.check) + " is not the last sample " + s(b.last);
    }
    return {};
}

bool reade1(int fd, std::int64_t off, std::size_t n, std::vector<float>& out, E1Read& read,
            std::span<std::byte> piece, DepAccum* stats) {
    static E1Samples block;
    read = E1Read{};
    std::int64_t base = off; // the file's byte at piece[0]
    std::size_t have = 0;    // bytes of the file in piece
    std::size_t pos = 0;     // the next block's byte in piece
    bool end = false;        // the file has nothing after piece's bytes
    for (std::size_t done = 0; done < n;) {
        const E1Block b = e1decode(piece.subspan(pos, have - pos), block);
        if (b.fault == E1Fault::cut && !end) { // the block's rest, and as many after it as fit
            std::memmove(piece.data(), piece.data() + pos, have - pos);
            base += static_cast<std::int64_t>(pos);
            have -= pos;
            pos = 0;
            // About what the rest of the record takes, so that a short record
            // in a large file does not read far past its end.
            const std::size_t want = std::min(piece.size() - have, kE1MinPiece + 4 * (n - done));
            std::size_t got;
            if (!zpreadn(fd, piece.data() + have, want, base + static_cast<std::int64_t>(have),
                         got)) {
                if (errno != 0) {
                    read.at = base;
                    read.err = errno;
                    read.reason = std::strerror(errno);
                    return false;
                }
                end = true;
            }
            have += got;
            continue;
        }
        if (b.fault != E1Fault::none) {
            read.at = base + static_cast<std::int64_t>(pos);
            read.reason = b.fault == E1Fault::cut && b.there == 0
                              ? "the file ends there, after " + std::to_string(done) + " of " +
                                    std::to_string(n) + " samples"
                              : e1reason(b);
            return false;
        }
        const std::size_t take = std::min(b.count, n - done);
        out.insert(out.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(take));
        if (stats != nullptr) stats->add(std::span(out).last(take));
        done += take;
        pos += b.length;
    }
    read.used = base + static_cast<std::int64_t>(pos) - off;
    return true;
}

} // namespace kivf::wfdx
