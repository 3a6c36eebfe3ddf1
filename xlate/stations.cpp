// SPDX-License-Identifier: Apache-2.0
// Station metadata in the station text format of data centres (one channel
// epoch a line, '|'-separated) and what such a row gives a header.
#include "xlate/xlate.h"

#include "co/co.h"

#include <array>

namespace kivf::xlate {

namespace {

constexpr std::size_t kColumns = 17; // Network|Station|...|StartTime|EndTime
constexpr std::array<std::string_view, kColumns> kNames = {
    "Network",           "Station",   "Location",  "Channel",    "Latitude",
    "Longitude",         "Elevation", "Depth",     "Azimuth",    "Dip",
    "SensorDescription", "Scale",     "ScaleFreq", "ScaleUnits", "SampleRate",
    "StartTime",         "EndTime"};
enum Column : std::size_t {
    kNet,
    kSta,
    kLoc,
    kChan,
    kLat,
    kLon,
    kElev,
    kDepth,
    kAz,
    kDip,
    kSensor,
    kScale,
    kScaleFreq,
    kUnits,
    kRate,
    kStart,
    kEnd
};

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// A number column within lo..hi; an empty column gives nothing when optional.
bool number(std::string_view text, float lo, float hi, bool optional, float& v) {
    if (text.empty()) return optional;
    return rdfree(text, v) && v >= lo && v <= hi;
}

// The unit a row's scale is in, as the header's IDEP, and the factor that
// turns counts per that unit into the catalogue's unit per count (nm/s, nm,
// cm/s²).
bool unitof(std::string_view units, std::int32_t& idep, double& per) {
    std::string u(units);
    for (char& c : u) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    if (u == "M/S") {
        idep = ienum::IVEL;
        per = 1e9;
    } else if (u == "M") {
        idep = ienum::IDISP;
        per = 1e9;
    } else if (u == "M/S**2" || u == "M/S/S" || u == "M/S2") {
        idep = ienum::IACC;
        per = 100;
    } else {
        return false;
    }
    return true;
}

} // namespace

bool stationline(std::string_view line, StationRow& row, bool& skip, std::string& why) {
    skip = trimmed(line).empty() || trimmed(line).front() == '#';
    if (skip) return true;
    std::array<std::string_view, kColumns> c{};
    std::size_t n = 0;
    for (std::size_t from = 0; n < kColumns; ++n) {
        const std::size_t bar = line.find('|', from);
        c[n] = trimmed(line.substr(from, bar == std::string_view::npos ? bar : bar - from));
        if (bar == std::string_view::npos) {
            ++n;
            break;
        }
        from = bar + 1;
    }
    if (n < kColumns) {
        why = "(" + std::to_string(n) + " columns of " + std::to_string(kColumns) +
              "; a channel level table has " + std::to_string(kColumns) + ")";
        return false;
    }
    const auto bad = [&why](Column col, std::string_view what) {
        why = "(" + std::string(kNames[col]) + " " + std::string(what) + ")";
        return false;
    };
    if (c[kSta].empty()) return bad(kSta, "is empty");
    if (c[kChan].empty()) return bad(kChan, "is empty");
    row = StationRow{};
    row.net = c[kNet];
    row.sta = c[kSta];
    row.loc = c[kLoc] == "--" ? std::string_view{} : c[kLoc];
    row.chan = c[kChan];
    ChannelMeta& m = row.meta;
    if (!number(c[kLat], -90, 90, false, m.stla))
        return bad(kLat, "is not a number from -90 to 90");
    if (!number(c[kLon], -180, 180, false, m.stlo))
        return bad(kLon, "is not a number from -180 to 180");
    if (!number(c[kElev], -12000, 9000, true, m.stel))
        return bad(kElev, "is not a number of metres from -12000 to 9000");
    if (!number(c[kDepth], -9000, 12000, true, m.stdp))
        return bad(kDepth, "is not a number of metres from -9000 to 12000");
    if (!number(c[kAz], -360, 360, true, m.cmpaz))
        return bad(kAz, "is not a number from -360 to 360");
    double dip = 0; // down from the horizontal; the header's angle is from the vertical, up
    if (!c[kDip].empty() && (!rdfree(c[kDip], dip) || !(dip >= -90 && dip <= 90)))
        return bad(kDip, "is not a number from -90 to 90");
    if (!c[kDip].empty()) m.cmpinc = static_cast<float>(dip + 90);
    m.instrument = charcut(c[kSensor]); // the header's 8 bytes, no character cut in two
    double scale = 0;
    if (!c[kScale].empty() && (!rdfree(c[kScale], scale) || !(scale > 0)))
        return bad(kScale, "is not a number above 0");
    float freq = 0, rate = 0;
    if (!number(c[kScaleFreq], 0, 1e9F, true, freq))
        return bad(kScaleFreq, "is not a number of 0 or more");
    if (!number(c[kRate], 0, 1e9F, true, rate)) return bad(kRate, "is not a number of 0 or more");
    double per;
    if (scale > 0 && unitof(c[kUnits], m.idep, per)) {
        const double s = per / scale;
        if (!(s >= 1.17549435e-38 && s <= 3.40282346e38)) return bad(kScale, "is out of range");
        m.scale = static_cast<float>(s);
    }
    if (!isotime(c[kStart], row.start)) return bad(kStart, "is not a time");
    if (!c[kEnd].empty() && !isotime(c[kEnd], row.end)) return bad(kEnd, "is not a time");
    if (row.end <= row.start) return bad(kEnd, "is not after StartTime");
    return true;
}

bool Metadata::load() {
    if (file.empty()) return true;
    failed = !loadrows(file, rows, stationline);
    return !failed;
}

Found findstation(const std::vector<StationRow>& table, std::string_view net, std::string_view sta,
                  std::string_view loc, std::string_view chan, std::int64_t t, bool anycode,
                  const StationRow*& row) {
    Found f;
    row = nullptr;
    for (const StationRow& r : table) {
        if (r.sta != sta || r.chan != chan || t < r.start || t >= r.end) continue;
        if (!anycode && (r.net != net || r.loc != loc)) continue;
        if (row == nullptr) {
            row = &r;
            f = {Match::one, r.line, 0};
        } else if (row->net != r.net || row->loc != r.loc) {
            return {Match::ambiguous, row->line, r.line};
        } else if (!(row->meta == r.meta) && f.match == Match::one) {
            f = {Match::disagree, row->line, r.line};
        }
    }
    return f;
}

void Metadata::lookup(std::string_view net, std::string_view sta, std::string_view loc,
                      std::string_view chan, std::int64_t t, bool anycode, std::string_view at,
                      ChannelMeta& meta) {
    if (file.empty() || failed) return;
    const StationRow* row = nullptr;
    const Found f = findstation(rows, net, sta, loc, chan, t, anycode, row);
    if (f.match == Match::one) {
        meta = row->meta;
        if (anycode) meta.network = row->net;
        return;
    }
    const std::string id = anycode ? std::string(sta) + "." + std::string(chan)
                                   : std::string(net) + "." + std::string(sta) + "." +
                                         std::string(loc) + "." + std::string(chan);
    notes.note(f, at, id, file);
}

void Notes::note(const Found& f, std::string_view at, std::string_view id, std::string_view file) {
    if (quiet || !given.insert(std::string(file) + "\n" + std::string(id)).second) return;
    if (f.match == Match::none) {
        Message(kMsgMetaNone, "NOTE") << at << id << "in" << file;
    } else {
        Message(f.match == Match::disagree ? kMsgMetaDisagree : kMsgMetaAmbiguous, "NOTE")
            << at << id << fileline(file, f.first) << "and" << fileline(file, f.second);
    }
}

void setmeta(CmHdr& h, KmHdr& k, const ChannelMeta& m, bool calibrated) {
    const auto put = [&h](std::int32_t slot, float v) {
        if (v != kUndfFlt) h.f(slot) = v;
    };
    put(fslot::STLA, m.stla);
    put(fslot::STLO, m.stlo);
    put(fslot::STEL, m.stel);
    put(fslot::STDP, m.stdp);
    put(fslot::CMPAZ, m.cmpaz);
    put(fslot::CMPINC, m.cmpinc);
    if (!m.network.empty()) k.k(kslot::KNETWK).set(m.network);
    if (!m.instrument.empty()) k.k(kslot::KINST).set(m.instrument);
    if (!calibrated && m.idep != 0 && m.scale != kUndfFlt) {
        h.i(islot::IDEP) = m.idep;
        h.f(fslot::SCALE) = m.scale;
    }
}

} // namespace kivf::xlate
