// SPDX-License-Identifier: Apache-2.0
// Station tables: any line through the station text, site and sitechan
// parsers, and any text through isotime. What a parser takes is within the
// ranges the header may hold (latitudes, longitudes, epochs in order, null
// values left undefined); a time read back through splitmicros is the text's
// own date and time.
#include "common.h"

#include "dff/kiv.h"
#include "wfdxlate/site.h"
#include "xlate/xlate.h"

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace kivf;

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}

bool within(float v, float lo, float hi) {
    return v == kUndfFlt || (v >= lo && v <= hi);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    bool skip = false;
    std::string why;
    xlate::StationRow st;
    if (xlate::stationline(line, st, skip, why)) {
        check(skip || (!st.sta.empty() && !st.chan.empty() && st.start < st.end), "station row");
        check(skip || (within(st.meta.stla, -90, 90) && st.meta.stla != kUndfFlt), "latitude");
        check(skip || within(st.meta.cmpinc, 0, 180), "dip");
        check(skip || st.meta.instrument.size() <= 8, "instrument");
    } else {
        check(why.size() > 2 && why.front() == '(' && why.back() == ')', "station why");
    }
    wfdx::SiteRow row;
    for (const bool chans : {false, true}) {
        why.clear();
        const bool ok =
            chans ? wfdx::sitechanline(line, row, skip, why) : wfdx::siteline(line, row, skip, why);
        check(ok || (why.size() > 2 && why.front() == '('), "site why");
        if (!ok || skip) continue;
        check(row.offdate == -1 || row.offdate >= row.ondate, "days in order");
        check(within(row.meta.stla, -90, 90) && within(row.meta.stlo, -180, 180), "position");
        check(within(row.meta.cmpaz, 0, 360) && within(row.meta.cmpinc, 0, 180), "angles");
        check(!chans || !row.chan.empty(), "channel");
    }
    std::int64_t us = 0;
    if (isotime(line, us)) {
        const Instant t = splitmicros(us);
        char text[40];
        std::snprintf(text, sizeof text, "%04d %02d:%02d:%02d", t.year, t.hour, t.minute, t.second);
        const std::string back(text);
        check(line.substr(0, 4) == back.substr(0, 4), "year read back");
        if (line.size() >= 19) check(line.substr(11, 8) == back.substr(5, 8), "time read back");
    }
    return 0;
}
