// SPDX-License-Identifier: Apache-2.0
// The KIV file's byte layout, written down once for the tests, apart from the library's own
// tables: a fault in those must not move the tests' expectations with it.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace kivtest {

constexpr bool kBig = std::endian::native == std::endian::big;

// Byte offsets of the fields the tests look at.
namespace at {
// clang-format off
enum : std::size_t {
    DELTA = 0, DEPMIN = 4, DEPMAX = 8, SCALE = 12, B = 20, E = 24, O = 28, A = 32, T3 = 52,
    STLA = 124, STLO = 128, STEL = 132, STDP = 136, EVLA = 140, EVLO = 144, EVDP = 152,
    USER0 = 160, USER1 = 164, DIST = 200, AZ = 204, BAZ = 208, GCARC = 212, DEPMEN = 224,
    CMPAZ = 228, CMPINC = 232,
    NZYEAR = 280, NZJDAY = 284, NZHOUR = 288, NZMIN = 292, NZSEC = 296, NZMSEC = 300,
    NVHDR = 304, NINF = 308, NHST = 312, NPTS = 316,
    IFTYPE = 340, IDEP = 344, IEVTYP = 368, IQUAL = 372,
    LEVEN = 420, LPSPOL = 424, LOVROK = 428, LCALDA = 432, LHDR5 = 436,
    KSTNM = 440, KEVNM = 448, KHOLE = 464, KO = 472, KA = 480, KT3 = 512, KUSER0 = 576,
    KUSER1 = 584, KCMPNM = 600, KNETWK = 608, KINST = 624,
    DATA = 632, // the header's size: samples start here
};
// clang-format on
constexpr std::size_t FLOATS_END = NZYEAR, INTS_END = LEVEN, TEXTS_END = DATA;
} // namespace at

// The 4-byte word at off, read in the given byte order.
template <class T = std::int32_t> T word(const std::string& b, std::size_t off, bool big = kBig) {
    std::uint32_t w = 0;
    for (int i = 0; i < 4; ++i)
        w |= std::uint32_t(static_cast<unsigned char>(b.at(off + std::size_t(big ? i : 3 - i))))
             << (24 - 8 * i);
    return std::bit_cast<T>(w);
}
inline float fword(const std::string& b, std::size_t off, bool big = kBig) {
    return word<float>(b, off, big);
}
template <class T>
std::vector<T> words(const std::string& b, const std::vector<std::size_t>& offs) {
    std::vector<T> v;
    for (auto o : offs) v.push_back(word<T>(b, o));
    return v;
}
// Sample i of a file's first component.
inline float sample(const std::string& b, std::size_t i) {
    return fword(b, at::DATA + 4 * i);
}

// A KIV header built by hand from the byte layout in a chosen byte order, without the library.
struct HandKiv {
    bool big; // byte order of the numeric words
    std::string b = std::string(at::DATA, '\0');

    // Every field as after a header reset.
    explicit HandKiv(bool bigendian = kBig) : big(bigendian) {
        for (std::size_t o = 0; o < at::FLOATS_END; o += 4) f(o, -12345.0f);
        for (std::size_t o = at::NZYEAR; o < at::INTS_END; o += 4) n(o, -12345);
        for (std::size_t o = at::KSTNM; o < at::TEXTS_END; o += 8) k(o, "-12345");
        for (std::size_t o : {at::NINF, at::NHST, at::LPSPOL, at::LHDR5}) n(o, 0);
        for (std::size_t o : {at::IFTYPE, at::LEVEN, at::LOVROK, at::LCALDA})
            n(o, 1); // ITIME, true
        n(at::NVHDR, 6);
    }
    void n(std::size_t off, std::int32_t v) { word(b, off, static_cast<std::uint32_t>(v)); }
    void f(std::size_t off, float v) { word(b, off, std::bit_cast<std::uint32_t>(v)); }
    void word(std::string& s, std::size_t off, std::uint32_t w) const {
        for (int i = 0; i < 4; ++i)
            s[off + static_cast<std::size_t>(big ? i : 3 - i)] =
                static_cast<char>((w >> (24 - 8 * i)) & 0xFF);
    }
    // A text of 8 characters (16 for KEVNM), blank-padded.
    void k(std::size_t off, const std::string& t) {
        std::string v = t;
        v.resize(off == at::KEVNM ? 16 : 8, ' ');
        b.replace(off, v.size(), v);
    }
    std::string bytes(std::size_t values) const { return b + std::string(4 * values, '\0'); }
    std::string with(const std::vector<float>& v) const {
        std::string s = b + std::string(4 * v.size(), '\0');
        for (std::size_t i = 0; i < v.size(); ++i)
            word(s, at::DATA + 4 * i, std::bit_cast<std::uint32_t>(v[i]));
        return s;
    }
};

} // namespace kivtest
