// SPDX-License-Identifier: Apache-2.0
// The event of a run and the metadata options every converter takes.
#include "xlate/xlate.h"

#include "co/co.h"

#include <array>

namespace kivf::xlate {

int optionvalue(std::string_view name, std::string_view arg, int argc, char** argv, int& a,
                std::string_view& value) {
    if (arg.starts_with(name) && arg.size() > name.size() && arg[name.size()] == '=') {
        value = arg.substr(name.size() + 1);
        return 1;
    }
    if (arg != name) return 0;
    if (++a == argc) {
        usage("option " + std::string(name) + " needs a value");
        return -1;
    }
    value = argv[a];
    return 1;
}

int eventspec(std::string_view spec, Event& e) {
    std::array<std::string_view, 4> part{};
    std::string_view rest = spec;
    for (std::size_t i = 0; i < part.size(); ++i) {
        const std::size_t comma = i + 1 < part.size() ? rest.find(',') : std::string_view::npos;
        if (i + 1 < part.size() && comma == std::string_view::npos)
            return usage("--event takes LAT,LON,DEPTH_KM,TIME, not '" + std::string(spec) + "'");
        part[i] = rest.substr(0, comma);
        rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
    }
    const auto range = [](std::string_view text, float lo, float hi, float& v) {
        return rdfree(text, v) && v >= lo && v <= hi;
    };
    Event ev;
    if (!range(part[0], -90, 90, ev.lat))
        return usage("--event: latitude is not a number from -90 to 90: '" + std::string(part[0]) +
                     "'");
    if (!range(part[1], -180, 180, ev.lon))
        return usage("--event: longitude is not a number from -180 to 180: '" +
                     std::string(part[1]) + "'");
    // Down to the Earth's centre, up to the highest mountains.
    if (!range(part[2], -10, 6371, ev.depth))
        return usage("--event: depth is not a number of km from -10 to 6371: '" +
                     std::string(part[2]) + "'");
    if (!isotime(part[3], ev.origin))
        return usage("--event: origin time is not an ISO 8601 UTC time such as "
                     "2010-02-27T06:34:11.5Z: '" +
                     std::string(part[3]) + "'");
    ev.given = true;
    e = ev;
    return -1;
}

int fileoption(std::string_view name, std::string_view arg, int argc, char** argv, int& a,
               std::string& file) {
    std::string_view value;
    const int got = optionvalue(name, arg, argc, argv, a, value);
    if (got <= 0) return got == 0 ? -2 : 1;
    if (value.empty()) return usage("option " + std::string(name) + " needs a file name, not ''");
    file = value;
    return -1;
}

int metaoption(Metadata& m, std::string_view arg, int argc, char** argv, int& a) {
    if (const int got = fileoption("--stations", arg, argc, argv, a, m.file); got != -2) return got;
    std::string_view value;
    if (const int got = optionvalue("--event", arg, argc, argv, a, value); got != 0)
        return got < 0 ? 1 : eventspec(value, m.event);
    return -2;
}

void setevent(CmHdr& h, KmHdr& k, const Event& e) {
    if (e.given) {
        h.f(fslot::EVLA) = e.lat;
        h.f(fslot::EVLO) = e.lon;
        h.f(fslot::EVDP) = e.depth;
        std::int64_t reference;
        if (instant(h, 0.0F, reference)) {
            h.f(fslot::O) = static_cast<float>(static_cast<double>(e.origin - reference) / 1e6);
            k.k(kslot::KO).set("ORIGIN");
        }
    }
    distances(h);
}

} // namespace kivf::xlate
