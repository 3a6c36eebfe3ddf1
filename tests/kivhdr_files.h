// KIV files built by hand from the byte layout in a chosen byte order, without the library.
#pragma once

#include "dff/dff.h"
#include "kivlayout.h"

#include <cstdint>
#include <string>

namespace kivtest {

// Numbers needing every digit, a leap day, a 16-character event name; NPTS 3, uneven. Each
// field's name, byte, kind (f, n or k) and value.
struct Field {
    const char* name;
    std::size_t off;
    char kind;
    float f;
    const char* k = "";
};
// clang-format off
inline const Field kExampleFields[] = {
    {"DELTA", at::DELTA, 'f', 0.01f}, {"B", at::B, 'f', -1.5f}, {"E", at::E, 'f', 0.03f}, {"O", at::O, 'f', -0.5f},
    {"A", at::A, 'f', 12.25f}, {"T3", at::T3, 'f', 7.125f}, {"USER0", at::USER0, 'f', 1.0000001f}, {"USER1", at::USER1, 'f', 1e-30f},
    {"NZYEAR", at::NZYEAR, 'n', 2016}, {"NZJDAY", at::NZJDAY, 'n', 60}, {"NZHOUR", at::NZHOUR, 'n', 7}, {"NZMIN", at::NZMIN, 'n', 5},
    {"NZSEC", at::NZSEC, 'n', 3}, {"NZMSEC", at::NZMSEC, 'n', 9}, {"NPTS", at::NPTS, 'n', 3},
    {"KSTNM", at::KSTNM, 'k', 0, "ANMO"}, {"KEVNM", at::KEVNM, 'k', 0, "ABCDEFGHIJKLMNOP"}, {"KA", at::KA, 'k', 0, "P"},
    {"KT3", at::KT3, 'k', 0, "S wave"}, {"KCMPNM", at::KCMPNM, 'k', 0, "BHZ"}};
// clang-format on

// The example in a chosen byte order; IDEP IVEL, IEVTYP IQUAKE, IQUAL 99 (no enumeration), LEVEN.
inline HandKiv example(bool bigendian) {
    HandKiv h(bigendian);
    for (const Field& x : kExampleFields)
        x.kind == 'f' ? h.f(x.off, x.f) : x.kind == 'n' ? h.n(x.off, int(x.f)) : h.k(x.off, x.k);
    for (auto [off, v] :
         {std::pair{at::IDEP, 7}, {at::IEVTYP, 40}, {at::IQUAL, 99}, {at::LEVEN, 0}})
        h.n(off, v);
    return h;
}

// The same header set by name in the current one, as a program would.
inline void setexample() {
    using namespace kivf;
    std::int32_t e = 0;
    for (const Field& x : kExampleFields)
        x.kind == 'f' ? setfhv(x.name, x.f, e)
                      : (x.kind == 'n' ? setnhv(x.name, int(x.f), e) : setkhv(x.name, x.k, e));
    cmhdr.i(islot::IDEP) = ienum::IVEL, cmhdr.i(islot::IEVTYP) = ienum::IQUAKE;
    cmhdr.i(islot::IQUAL) = 99, cmhdr.l(lslot::LEVEN) = 0;
}

} // namespace kivtest
