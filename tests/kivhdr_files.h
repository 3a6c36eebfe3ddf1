// KIV files built by hand from the byte layout in a chosen byte order, without the library.
#pragma once

#include "dff/dff.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace kivtest {

constexpr bool kBig = std::endian::native == std::endian::big;

struct HandKiv {
    bool big; // byte order of the numeric words
    std::string b = std::string(632, '\0');

    // Every field as after a header reset.
    explicit HandKiv(bool bigendian = kBig) : big(bigendian) {
        for (std::size_t o = 0; o < 280; o += 4) f(o, -12345.0f);
        for (std::size_t o = 280; o < 420; o += 4) n(o, -12345);
        for (std::size_t o = 440; o < 632; o += 8) k(o, "-12345");
        for (std::size_t o : {308u, 312u, 424u, 436u}) n(o, 0); // NINF NHST LPSPOL LHDR5
        for (std::size_t o : {340u, 420u, 428u, 432u}) n(o, 1); // IFTYPE=ITIME LEVEN LOVROK LCALDA
        n(304, 6);                                              // NVHDR
    }
    void n(std::size_t off, std::int32_t v) { word(b, off, static_cast<std::uint32_t>(v)); }
    void f(std::size_t off, float v) { word(b, off, std::bit_cast<std::uint32_t>(v)); }
    void word(std::string& s, std::size_t off, std::uint32_t w) const {
        for (int i = 0; i < 4; ++i)
            s[off + static_cast<std::size_t>(big ? i : 3 - i)] =
                static_cast<char>((w >> (24 - 8 * i)) & 0xFF);
    }
    // A text of 8 characters (16 at KEVNM's byte 448), blank-padded.
    void k(std::size_t off, const std::string& t) {
        std::string v = t;
        v.resize(off == 448 ? 16 : 8, ' ');
        b.replace(off, v.size(), v);
    }
    std::string bytes(std::size_t values) const { return b + std::string(4 * values, '\0'); }
    std::string with(const std::vector<float>& v) const {
        std::string s = b + std::string(4 * v.size(), '\0');
        for (std::size_t i = 0; i < v.size(); ++i)
            word(s, 632 + 4 * i, std::bit_cast<std::uint32_t>(v[i]));
        return s;
    }
};

// Numbers needing every digit, a leap day, enumerations, a 16-character event name; NPTS 3, uneven.
inline HandKiv example(bool bigendian) {
    HandKiv h(bigendian);
    const std::pair<std::size_t, float> floats[] = {{0, 0.01f},        {20, -1.5f},  {24, 0.03f},
                                                    {28, -0.5f},       {32, 12.25f}, {52, 7.125f},
                                                    {160, 1.0000001f}, {164, 1e-30f}};
    for (auto [off, v] : floats) h.f(off, v);
    const std::int32_t ints[] = {2016, 60, 7, 5, 3, 9}; // NZYEAR .. NZMSEC
    for (std::size_t i = 0; i < 6; ++i) h.n(280 + 4 * i, ints[i]);
    const std::pair<std::size_t, std::int32_t> more[] = {
        {316, 3}, {344, 7}, {368, 40}, {372, 99}, {420, 0}};
    for (auto [off, v] : more) h.n(off, v); // NPTS, IDEP=IVEL, IEVTYP=IQUAKE, IQUAL 99, LEVEN
    const std::pair<std::size_t, const char*> texts[] = {
        {440, "ANMO"}, {448, "ABCDEFGHIJKLMNOP"}, {480, "P"}, {512, "S wave"}, {600, "BHZ"}};
    for (auto [off, t] : texts) h.k(off, t); // KSTNM, KEVNM+KEVNMC, KA, KT3, KCMPNM
    return h;
}

// The same header set by name in the current one, as a program would.
inline void setexample() {
    using namespace kivf;
    std::int32_t e = 0;
    const std::pair<const char*, float> floats[] = {
        {"DELTA", 0.01f}, {"B", -1.5f},   {"E", 0.03f},          {"O", -0.5f},
        {"A", 12.25f},    {"T3", 7.125f}, {"USER0", 1.0000001f}, {"USER1", 1e-30f}};
    for (const auto& [name, v] : floats) setfhv(name, v, e);
    const std::pair<const char*, std::int32_t> ints[] = {
        {"NZYEAR", 2016}, {"NZJDAY", 60}, {"NZHOUR", 7}, {"NZMIN", 5},
        {"NZSEC", 3},     {"NZMSEC", 9},  {"NPTS", 3}};
    for (const auto& [name, v] : ints) setnhv(name, v, e);
    const std::pair<const char*, const char*> texts[] = {{"KSTNM", "ANMO"},
                                                         {"KEVNM", "ABCDEFGHIJKLMNOP"},
                                                         {"KA", "P"},
                                                         {"KT3", "S wave"},
                                                         {"KCMPNM", "BHZ"}};
    for (const auto& [name, v] : texts) setkhv(name, v, e);
    cmhdr.i(islot::IDEP) = ienum::IVEL;
    cmhdr.i(islot::IEVTYP) = ienum::IQUAKE;
    cmhdr.i(islot::IQUAL) = 99;
    cmhdr.l(lslot::LEVEN) = 0;
}

} // namespace kivtest
