// SPDX-License-Identifier: Apache-2.0
// Raw wfdisc sample codes: s and t are big-endian, i and f little-endian;
// s and i are two's-complement integers of 4, 2 or 3 bytes, t and f IEEE
// floats of 4 or 8 bytes.
#include "wfdxlate/datatype.h"

#include <bit>
#include <cstring>

namespace kivf::wfdx {

namespace {

constexpr bool kBigHost = std::endian::native == std::endian::big;

inline std::uint16_t swap(std::uint16_t v) {
    return __builtin_bswap16(v);
}
inline std::uint32_t swap(std::uint32_t v) {
    return __builtin_bswap32(v);
}
inline std::uint64_t swap(std::uint64_t v) {
    return __builtin_bswap64(v);
}

template <class U> inline U load(const std::byte* p, bool big) {
    U v;
    std::memcpy(&v, p, sizeof v);
    return big == kBigHost ? v : swap(v);
}

inline void store(std::byte* p, float f) {
    std::memcpy(p, &f, 4);
}

// Samples narrower than a float are read from the front and the floats
// written from the back, so that no raw sample is overwritten before it is
// read; 4- and 8-byte samples go front to back for the same reason.
template <class F> void backward(std::byte* buf, std::size_t n, std::size_t w, F get) {
    for (std::size_t i = n; i-- > 0;) store(buf + 4 * i, get(buf + w * i));
}
template <class F> void forward(std::byte* buf, std::size_t n, std::size_t w, F get) {
    for (std::size_t i = 0; i < n; ++i) store(buf + 4 * i, get(buf + w * i));
}

} // namespace

int dtwidth(std::string_view code) {
    if (code.size() != 2) return 0;
    const char k = code[0], w = code[1];
    if (k == 's' || k == 'i') return w == '4' ? 4 : w == '2' ? 2 : w == '3' ? 3 : 0;
    if (k == 't' || k == 'f') return w == '4' ? 4 : w == '8' ? 8 : 0;
    return 0;
}

bool dtcompressed(std::string_view code) {
    return code == "e1";
}

void widen(std::string_view code, std::byte* buf, std::size_t n) {
    const bool big = code[0] == 's' || code[0] == 't';
    const bool integer = code[0] == 's' || code[0] == 'i';
    switch (dtwidth(code)) {
    case 2:
        backward(buf, n, 2, [big](const std::byte* p) {
            return static_cast<float>(static_cast<std::int16_t>(load<std::uint16_t>(p, big)));
        });
        break;
    case 3:
        backward(buf, n, 3, [big](const std::byte* p) {
            const auto b0 = static_cast<std::uint32_t>(p[0]), b2 = static_cast<std::uint32_t>(p[2]);
            const std::uint32_t u =
                (big ? b0 << 16 | b2 : b2 << 16 | b0) | static_cast<std::uint32_t>(p[1]) << 8;
            // Sign from bit 23: shift it to the top and back.
            return static_cast<float>(static_cast<std::int32_t>(u << 8) >> 8);
        });
        break;
    case 4:
        if (integer) {
            forward(buf, n, 4, [big](const std::byte* p) {
                return static_cast<float>(static_cast<std::int32_t>(load<std::uint32_t>(p, big)));
            });
        } else if (big != kBigHost) { // floats are moved as bits, never computed on
            for (std::size_t i = 0; i < n; ++i) {
                const std::uint32_t v = swap(load<std::uint32_t>(buf + 4 * i, kBigHost));
                std::memcpy(buf + 4 * i, &v, 4);
            }
        }
        break;
    case 8:
        forward(buf, n, 8, [big](const std::byte* p) {
            return static_cast<float>(std::bit_cast<double>(load<std::uint64_t>(p, big)));
        });
        break;
    default:
        break;
    }
}

} // namespace kivf::wfdx
