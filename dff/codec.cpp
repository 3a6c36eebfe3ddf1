// SPDX-License-Identifier: Apache-2.0
// The header codec: the one place that knows how the records lie in the 632
// bytes of a file. Every writer and reader goes through it.
#include "dff/dff.h"

#include <cstring>

namespace kivf {

namespace {

constexpr std::size_t kNumBytes = std::size_t{4} * kHdrNumWords;
// NVHDR's word: the version written tells a KIV file and its byte order.
constexpr std::size_t kVersionAt = std::size_t{4} * (kNumFhdr + nslot::NVHDR - 1);
static_assert(kOrderBytes == kVersionAt + 4);

std::uint32_t reversed(std::uint32_t w) {
    return (w >> 24) | ((w >> 8) & 0xFF00U) | ((w << 8) & 0xFF0000U) | (w << 24);
}

} // namespace

void packhdr(const CmHdr& hdr, const KmHdr& khdr, HdrBytes& bytes) {
    // The 110 numeric words lie in one piece at the start of the record and
    // the 24 texts in one piece at the start of theirs (asserted in dff.h).
    std::memcpy(bytes.data(), static_cast<const void*>(&hdr), kNumBytes);
    std::memcpy(bytes.data() + kNumBytes, khdr.khdr.data(), kHdrTextBytes);
}

void unpackhdr(const HdrBytes& bytes, bool swapped, CmHdr& hdr, KmHdr& khdr) {
    std::array<std::uint32_t, kHdrNumWords> words{};
    std::memcpy(words.data(), bytes.data(), kNumBytes);
    if (swapped)
        for (std::uint32_t& w : words) w = reversed(w);
    std::memcpy(static_cast<void*>(&hdr), words.data(), kNumBytes);
    std::memcpy(static_cast<void*>(khdr.khdr.data()), bytes.data() + kNumBytes, kHdrTextBytes);
}

bool hdrorder(std::span<const std::byte> head, bool& swapped) {
    swapped = false;
    if (head.size() < kOrderBytes) return false;
    std::uint32_t w;
    std::memcpy(&w, head.data() + kVersionAt, 4);
    const auto version = static_cast<std::uint32_t>(kCurHver);
    swapped = w != version;
    return w == version || reversed(w) == version;
}

} // namespace kivf
