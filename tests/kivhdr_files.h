// KIV files built by hand from the byte layout, in a chosen byte order, with
// no code of the library: what the reader and the lister must take in.
#pragma once

#include "dff/dff.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

namespace kivtest {

struct HandKiv {
    bool big; // byte order of the numeric words
    std::string b = std::string(632, '\0');

    // Every field as after a header reset.
    explicit HandKiv(bool bigendian) : big(bigendian) {
        for (std::size_t o = 0; o < 280; o += 4) f(o, -12345.0f);
        for (std::size_t o = 280; o < 420; o += 4) n(o, -12345);
        for (std::size_t o = 420; o < 440; o += 4) n(o, 0);
        for (std::size_t o = 440; o < 632; o += 8) k(o, "-12345");
        n(304, 6);                                        // NVHDR
        n(308, 0);                                        // NINF
        n(312, 0);                                        // NHST
        n(340, 1);                                        // IFTYPE = ITIME
        for (std::size_t o : {420u, 428u, 432u}) n(o, 1); // LEVEN LOVROK LCALDA
    }
    void n(std::size_t off, std::int32_t v) {
        std::uint32_t w = 0;
        std::memcpy(&w, &v, 4);
        for (int i = 0; i < 4; ++i)
            b[off + static_cast<std::size_t>(big ? i : 3 - i)] =
                static_cast<char>((w >> (24 - 8 * i)) & 0xFF);
    }
    void f(std::size_t off, float v) {
        std::int32_t w = 0;
        std::memcpy(&w, &v, 4);
        n(off, w);
    }
    // A text of 8 characters (16 at KEVNM's byte 448), blank-padded.
    void k(std::size_t off, const std::string& t) {
        std::string v = t;
        v.resize(off == 448 ? 16 : 8, ' ');
        b.replace(off, v.size(), v);
    }
    // The file: header and npts samples (twice as many values when uneven).
    std::string bytes(std::size_t values) const { return b + std::string(4 * values, '\0'); }
};

} // namespace kivtest

namespace kivtest {

// The header both test programs write in both ways: numbers that need every
// digit, a leap day, enumerated values, a 16-character event name, labels.
inline HandKiv example(bool bigendian) {
    HandKiv h(bigendian);
    h.f(0, 0.01f);                                      // DELTA
    h.f(20, -1.5f);                                     // B
    h.f(24, 0.03f);                                     // E
    h.f(28, -0.5f);                                     // O
    h.f(32, 12.25f);                                    // A
    h.f(52, 7.125f);                                    // T3
    h.f(160, 1.0000001f);                               // USER0: needs eight significant digits
    h.f(164, 1e-30f);                                   // USER1
    const std::int32_t ints[] = {2016, 60, 7, 5, 3, 9}; // NZYEAR .. NZMSEC
    for (std::size_t i = 0; i < 6; ++i) h.n(280 + 4 * i, ints[i]);
    h.n(316, 3);  // NPTS
    h.n(344, 7);  // IDEP = IVEL
    h.n(368, 40); // IEVTYP = IQUAKE
    h.n(372, 99); // IQUAL: no such value
    h.n(420, 0);  // LEVEN false: the file holds 6 values
    h.k(440, "ANMO");
    h.k(448, "ABCDEFGHIJKLMNOP"); // KEVNM and KEVNMC
    h.k(480, "P");                // KA
    h.k(512, "S wave");           // KT3
    h.k(600, "BHZ");              // KCMPNM
    return h;
}

} // namespace kivtest

namespace kivtest {

// The same header as the current one, set by name as a program would (after
// newhdr); written by wkiv0 it must read back like example().
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
