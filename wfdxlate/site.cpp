// SPDX-License-Identifier: Apache-2.0
// The site and sitechan tables of a CSS 3.0 archive.
#include "wfdxlate/site.h"
#include "wfdxlate/wfdisc.h"

#include "co/co.h"

#include <array>
#include <sys/stat.h>

namespace kivf::wfdx {

using xlate::ChannelMeta;
using xlate::Message;

namespace {

constexpr std::string_view kBlanks = " \t\r";
constexpr double kNull = -999.0;   // positions and depths not known
constexpr double kNoAngle = -1.0;  // hang and vang not known
constexpr std::int32_t kOpen = -1; // offdate of a row still open

// A jdate, YYYYDDD: a year of four digits, a day from 1 to 366.
bool jdate(std::string_view t, std::int32_t& v) {
    return rdfree(t, v) && v >= 1'000'001 && v <= 9'999'366 && v % 1000 >= 1 && v % 1000 <= 366;
}

// The days of a row: ondate, then offdate (-1, or not before ondate).
bool days(std::string_view on, std::string_view off, SiteRow& row, std::string& why) {
    if (!jdate(on, row.ondate)) {
        why = "(ondate is not a date YYYYDDD)";
        return false;
    }
    if (!rdfree(off, row.offdate) ||
        (row.offdate != kOpen && (!jdate(off, row.offdate) || row.offdate < row.ondate))) {
        why = "(offdate is neither -1 nor a date YYYYDDD from ondate on)";
        return false;
    }
    return true;
}

// A number column in unit: null leaves v undefined; false when it is not a
// number or, null aside, out of lo..hi. Read in double and rounded once.
bool field(std::string_view t, double null, double lo, double hi, double unit, float& v) {
    double read;
    if (!rdfree(t, read)) return false;
    if (read == null) return true;
    if (!(read >= lo && read <= hi)) return false;
    v = static_cast<float>(read * unit);
    return true;
}

// The first columns of a line; false with why when fewer than n.
template <std::size_t N>
bool columns(std::string_view line, std::array<std::string_view, N>& c, std::string_view table,
             bool& skip, std::string& why) {
    const std::size_t got = split(line, kBlanks, c);
    skip = got == 0;
    if (skip || got == N) return true;
    why = "(" + std::to_string(got) + " columns; a " + std::string(table) + " line needs " +
          std::to_string(N) + " before its free text)";
    return false;
}

bool bad(std::string& why, std::string_view text) {
    why = text;
    return false;
}

} // namespace

bool siteline(std::string_view line, SiteRow& row, bool& skip, std::string& why) {
    std::array<std::string_view, 6> c{}; // sta ondate offdate lat lon elev
    if (!columns(line, c, "site", skip, why)) return false;
    if (skip) return true;
    row = SiteRow{};
    row.sta = c[0];
    if (!days(c[1], c[2], row, why)) return false;
    ChannelMeta& m = row.meta;
    if (!field(c[3], kNull, -90, 90, 1, m.stla))
        return bad(why, "(lat is not a number from -90 to 90, or -999)");
    if (!field(c[4], kNull, -180, 180, 1, m.stlo))
        return bad(why, "(lon is not a number from -180 to 180, or -999)");
    if (!field(c[5], kNull, -12, 9, 1000, m.stel))
        return bad(why, "(elev is not a number of km from -12 to 9, or -999)");
    return true;
}

bool sitechanline(std::string_view line, SiteRow& row, bool& skip, std::string& why) {
    // sta chan ondate chanid offdate ctype edepth hang vang
    std::array<std::string_view, 9> c{};
    if (!columns(line, c, "sitechan", skip, why)) return false;
    if (skip) return true;
    row = SiteRow{};
    row.sta = c[0];
    row.chan = c[1];
    if (!days(c[2], c[4], row, why)) return false;
    ChannelMeta& m = row.meta;
    if (!field(c[6], kNull, -9, 12, 1000, m.stdp))
        return bad(why, "(edepth is not a number of km from -9 to 12, or -999)");
    if (!field(c[7], kNoAngle, 0, 360, 1, m.cmpaz))
        return bad(why, "(hang is not a number from 0 to 360, or -1)");
    if (!field(c[8], kNoAngle, 0, 180, 1, m.cmpinc))
        return bad(why, "(vang is not a number from 0 to 180, or -1)");
    return true;
}

bool SiteTable::load() {
    failed = !xlate::loadrows(file, rows, chans ? sitechanline : siteline);
    return !failed;
}

void Sites::open(std::string_view wfdisc) {
    // Beside the wfdisc file: its name without its extension, and .site or .sitechan.
    std::string base(wfdisc);
    const std::size_t slash = base.rfind('/'), dot = base.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1))
        base.resize(dot);
    const auto use = [this, &base](SiteTable& t, const std::string& named, const char* ext) {
        std::string name = named; // named: the same for every wfdisc file
        struct stat st {};
        if (name.empty() && ::stat((base + ext).c_str(), &st) == 0) name = base + ext;
        if (name == t.file) return;
        t.file = name;
        t.rows.clear();
        if (!name.empty() && !t.load()) failed = true;
    };
    use(sitetab, site, ".site");
    use(chantab, sitechan, ".sitechan");
}

void Sites::lookup(std::string_view sta, std::string_view chan, std::int32_t jd,
                   std::string_view at, CmHdr& h, KmHdr& k) {
    for (const SiteTable* t : {&sitetab, &chantab}) {
        if (t->file.empty() || t->failed) continue;
        const SiteRow* first = nullptr;
        const SiteRow* other = nullptr;
        for (const SiteRow& r : t->rows) {
            if (r.sta != sta || (t->chans && r.chan != chan) || jd < r.ondate ||
                (r.offdate != kOpen && jd > r.offdate))
                continue;
            if (first == nullptr)
                first = &r;
            else if (other == nullptr && !(r.meta == first->meta))
                other = &r;
        }
        if (first != nullptr && other == nullptr) {
            xlate::setmeta(h, k, first->meta, true);
            continue;
        }
        const xlate::Found f = first == nullptr
                                   ? xlate::Found{}
                                   : xlate::Found{xlate::Match::disagree, first->line, other->line};
        notes.note(f, at, t->chans ? std::string(sta) + "." + std::string(chan) : std::string(sta),
                   t->file);
    }
}

int siteoption(Sites& s, std::string_view arg, int argc, char** argv, int& a) {
    const int got = xlate::fileoption("--site", arg, argc, argv, a, s.site);
    return got != -2 ? got : xlate::fileoption("--sitechan", arg, argc, argv, a, s.sitechan);
}

} // namespace kivf::wfdx
