// Segments into KIV files.
#include "msxlate/kivout.h"

#include <cstdio>

namespace kivf::msx {

using msread::floats;

bool nameable(const MSTraceID* id) {
    const auto fit = [](std::string_view code, bool empty) {
        return (empty && code.empty()) || xlate::fitname(code);
    };
    return fit(id->network, true) && fit(id->station, false) && fit(id->location, true) &&
           fit(id->channel, false);
}

void outname(const MSTraceID* id, const Instant& s, xlate::OutName& name) {
    std::snprintf(name.data(), name.size(), "%s.%s.%s.%s.%04d.%03d.%02d.%02d.%02d.%03d.kiv",
                  id->network, id->station, id->location, id->channel, s.year, s.jday, s.hour,
                  s.minute, s.second, s.msec);
}

void fillheader(const Segment& s, const Instant& start, CmHdr& hdr, KmHdr& khdr,
                const Gathered* gathered) {
    const std::span<const float> y = floats(s.seg);
    newhdr(hdr, khdr);
    xlate::setfields(hdr, khdr,
                     {.npts = static_cast<std::int32_t>(y.size()),
                      .interval = static_cast<float>(1.0 / s.seg->samprate),
                      .start = start,
                      .station = s.id->station,
                      .channel = s.id->channel,
                      .user0 = {},
                      .user1 = {}});
    if (s.id->network[0] != '\0') khdr.k(kslot::KNETWK).set(s.id->network);
    if (s.id->location[0] != '\0') khdr.k(kslot::KHOLE).set(s.id->location);
    DepAccum stats;
    if (gathered == nullptr || !gathered->of(s.seg, stats)) stats.add(y);
    xlate::derive(hdr, start.usec, y.size(), stats);
}

} // namespace kivf::msx
