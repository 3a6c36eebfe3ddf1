// SPDX-License-Identifier: Apache-2.0
// Distance and azimuths of a header from its station and event positions, by
// the plug-in's own arithmetic, so that a file and sphgeo agree to the bit.
#include "dff/kiv.h"

#include "sphgeo/sphgeo.h"

#include <cmath>

namespace kivf {

bool distances(CmHdr& h) {
    const float slat = h.f(fslot::STLA), slon = h.f(fslot::STLO), elat = h.f(fslot::EVLA),
                elon = h.f(fslot::EVLO);
    if (h.l(lslot::LCALDA) == 0) return false;
    for (const float v : {slat, slon, elat, elon})
        if (v == kUndfFlt || !std::isfinite(v)) return false;
    double r[4] = {};
    sphgeoj(slat, slon, elat, elon, r[0], r[1], r[2], r[3]);
    static constexpr std::int32_t kSlots[4] = {fslot::GCARC, fslot::DIST, fslot::AZ, fslot::BAZ};
    // A station at the event has no direction to it: the formula's azimuths there are
    // not-a-number or, where the rounded cosine falls just below 1, meaningless.
    const int n = slat == elat && slon == elon ? 2 : 4;
    for (int i = 0; i < n; ++i) {
        float& field = h.f(kSlots[i]);
        if (field == kUndfFlt && std::isfinite(r[i])) field = static_cast<float>(r[i]);
    }
    return true;
}

} // namespace kivf
