// SPDX-License-Identifier: Apache-2.0
// Segments' file names.
#include "msxlate/kivout.h"

#include <cstdio>

namespace kivf::msx {

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

} // namespace kivf::msx
