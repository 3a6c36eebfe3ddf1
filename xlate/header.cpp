// SPDX-License-Identifier: Apache-2.0
// The header fields every converted trace sets and derives.
#include "xlate/xlate.h"

namespace kivf::xlate {

void setfields(CmHdr& h, KmHdr& k, const Fields& v) {
    h.n(nslot::NPTS) = v.npts;
    h.f(fslot::B) = 0.0F;
    h.f(fslot::DELTA) = v.interval;
    h.n(nslot::NZYEAR) = v.start.year;
    h.n(nslot::NZJDAY) = v.start.jday;
    h.n(nslot::NZHOUR) = v.start.hour;
    h.n(nslot::NZMIN) = v.start.minute;
    h.n(nslot::NZSEC) = v.start.second;
    h.n(nslot::NZMSEC) = v.start.msec;
    k.k(kslot::KSTNM).set(v.station);
    k.k(kslot::KCMPNM).set(v.channel);
    // Missing user texts stay undefined rather than take another record's.
    if (!v.user0.empty()) k.k(kslot::KUSER0).set(v.user0);
    if (!v.user1.empty()) k.k(kslot::KUSER1).set(v.user1);
}

void derive(CmHdr& h, std::int32_t usec, std::size_t n, const DepAccum& stats) {
    // The reference time keeps the millisecond (the file name shows it); B
    // carries the rest, so that the first sample's time is exact to the
    // microsecond. One correctly rounded float division.
    h.f(fslot::B) = static_cast<float>(usec) / 1e6F;
    derivefields(h, n, {}, stats);
}

} // namespace kivf::xlate
