// SPDX-License-Identifier: Apache-2.0
// KIV files built by hand from the byte layout in a chosen byte order, without the library.
#pragma once

#include "kivlayout.h"

#include <utility>

namespace kivtest {

// Every digit needed, a leap day, a 16-character KEVNM; NPTS 3, uneven; IDEP IVEL, IEVTYP IQUAKE.
inline HandKiv example(bool bigendian) {
    HandKiv h(bigendian);
    // clang-format off
    for (auto [off, v] : {std::pair{at::DELTA, 0.01f}, {at::B, -1.5f}, {at::E, 0.03f}, {at::O, -0.5f}, {at::A, 12.25f},
                          {at::T3, 7.125f}, {at::USER0, 1.0000001f}, {at::USER1, 1e-30f}})
        h.f(off, v);
    for (auto [off, v] : {std::pair{at::NZYEAR, 2016}, {at::NZJDAY, 60}, {at::NZHOUR, 7}, {at::NZMIN, 5}, {at::NZSEC, 3},
                          {at::NZMSEC, 9}, {at::NPTS, 3}, {at::IDEP, 7}, {at::IEVTYP, 40}, {at::IQUAL, 99}, {at::LEVEN, 0}})
        h.n(off, v);
    for (auto [off, t] : {std::pair{at::KSTNM, "ANMO"}, {at::KEVNM, "ABCDEFGHIJKLMNOP"}, {at::KA, "P"}, {at::KT3, "S wave"},
                          {at::KCMPNM, "BHZ"}})
        h.k(off, t);
    // clang-format on
    return h;
}

} // namespace kivtest
