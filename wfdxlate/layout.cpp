// SPDX-License-Identifier: Apache-2.0
// The CSS 3.0 and CSS 2.8 wfdisc layouts as the batch mode reads them:
// columns split on blanks, tabs and line ends, checked one by one in a fixed
// order so that a refusal always names the first fault.
#include "wfdxlate/layout.h"
#include "wfdxlate/datatype.h"
#include "wfdxlate/wfdisc.h"

#include "co/co.h"
#include "dff/dff.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <sys/stat.h>

namespace kivf::wfdx {

namespace {

constexpr std::string_view kSeparators = " \t\r\n";
// Columns by layout: sta, chan, time, nsamp, samprate, calib, instype,
// datatype, dir, dfile, foff; and how many a line must have.
constexpr std::array<std::size_t, 11> kCss30 = {0, 1, 2, 7, 8, 9, 11, 13, 15, 16, 17};
constexpr std::array<std::size_t, 11> kCss28 = {2, 3, 1, 4, 5, 6, 8, 10, 14, 15, 16};
constexpr std::size_t kColumns30 = 19, kColumns28 = 17;
constexpr std::size_t kTime = 2, kNsamp = 3;                              // of the above
constexpr std::int64_t kMaxSamples = std::int64_t{INT32_MAX} - kHdrWords; // a KIV file's limit
constexpr double kMaxOffset = 9007199254740992.0;                         // 2^53: exact in a double

// Only digits, at least one.
bool alldigits(std::string_view t) {
    return !t.empty() && t.find_first_not_of("0123456789") == std::string_view::npos;
}

// A whole number from lo to hi, written in any form a number may take.
bool wholenumber(std::string_view t, double lo, double hi, std::int64_t& v) {
    double d;
    if (!rdfree(t, d) || d != std::floor(d) || d < lo || d > hi) return false;
    v = static_cast<std::int64_t>(d);
    return true;
}

// The start time rounded to the microsecond, as the dialogue rounds it, and
// split.
bool starttime(Row& r) {
    if (!startmicros(r.start, r.startus)) return false;
    r.at = splitmicros(r.startus);
    return true;
}

// A dir column through the first map whose FROM it begins with, as whole
// path components; else as it is. FROM has no trailing '/' unless it is "/".
std::string_view mapped(const DirPlaces* places, std::string_view dir, std::string& buf) {
    if (places == nullptr) return dir;
    for (const auto& [from, to] : places->maps) {
        if (!dir.starts_with(from) ||
            (dir.size() > from.size() && from.back() != '/' && dir[from.size()] != '/'))
            continue;
        std::string_view rest = dir.substr(from.size());
        buf = to;
        if (!rest.empty()) {
            const bool slashed = buf.ends_with('/');
            if (slashed && rest.starts_with('/')) rest.remove_prefix(1);
            if (!slashed && !rest.starts_with('/')) buf += '/';
            buf += rest;
        }
        return buf;
    }
    return dir;
}

// dir and dfile; a relative dir (also "." and "-") starts at the wfdisc
// file's directory (or the root given), never at the working directory.
void samplepath(Row& r, const Source& src, std::string_view dir, std::string_view dfile) {
    static std::string buf;
    dir = mapped(src.places, dir, buf);
    r.path.clear();
    if (dfile[0] != '/') {
        if (dir[0] == '/') {
            r.path = dir;
        } else {
            r.path = src.dir;
            if (dir != "-" && dir != ".") {
                if (!r.path.empty()) r.path += '/';
                r.path += dir;
            }
        }
        if (!r.path.empty() && r.path.back() != '/') r.path += '/';
    }
    r.path += dfile;
}

} // namespace

Source source(const char* file, Schema schema, const DirPlaces& places) {
    Source s;
    s.file = file;
    s.places = &places;
    const std::string_view v(file);
    const std::size_t slash = v.rfind('/');
    if (!places.root.empty())
        s.dir = places.root;
    else if (slash != std::string_view::npos)
        s.dir = v.substr(0, slash == 0 ? 1 : slash);
    s.layout = schema;
    return s;
}

int placeoption(DirPlaces& p, std::string_view arg, int argc, char** argv, int& a) {
    std::string_view value;
    if (const int got = xlate::optionvalue("--root", arg, argc, argv, a, value); got != 0) {
        if (got < 0) return 1;
        if (value.empty()) return xlate::usage("option --root needs a directory name, not ''");
        p.root = value;
        return -1;
    }
    if (const int got = xlate::optionvalue("--dir-map", arg, argc, argv, a, value); got != 0) {
        if (got < 0) return 1;
        const std::size_t eq = value.find('=');
        if (eq == 0 || eq == std::string_view::npos || eq + 1 == value.size())
            return xlate::usage("option --dir-map takes FROM=TO, neither empty, not '" +
                                std::string(value) + "'");
        std::string_view from = value.substr(0, eq);
        while (from.size() > 1 && from.back() == '/') from.remove_suffix(1);
        p.maps.emplace_back(from, value.substr(eq + 1));
        return -1;
    }
    return -2;
}

// CSS 3.0 starts with the station, a name; CSS 2.8 with the date, 5 to 7
// digits, and has a name third.
Schema detect(std::string_view line) {
    std::array<std::string_view, kMaxColumns> t{};
    const std::size_t n = split(line, kSeparators, t);
    if (n < 3) return Schema::automatic;
    double v;
    const bool third = rdfree(t[2], v);
    if (third && !alldigits(t[0])) return Schema::css30;
    if (!third && alldigits(t[0]) && t[0].size() >= 5 && t[0].size() <= 7) return Schema::css28;
    return Schema::automatic;
}

bool parses(std::string_view line) {
    std::array<std::string_view, kMaxColumns> t{};
    const std::size_t n = split(line, kSeparators, t);
    double time;
    std::int64_t nsamp = 0;
    const auto count = [&nsamp](std::string_view c) {
        return wholenumber(c, 0, static_cast<double>(kMaxSamples), nsamp);
    };
    // CSS 2.8 also starts with its date.
    return (n >= kColumns30 && rdfree(t[kCss30[kTime]], time) && count(t[kCss30[kNsamp]])) ||
           (n >= kColumns28 && alldigits(t[0]) && rdfree(t[kCss28[kTime]], time) &&
            count(t[kCss28[kNsamp]]));
}

bool decoderow(Row& r, const Source& src, std::string_view line) {
    std::array<std::string_view, kMaxColumns> t{};
    const std::size_t n = split(line, kSeparators, t);
    const bool css30 = src.layout == Schema::css30;
    const std::size_t need = css30 ? kColumns30 : kColumns28;
    if (n < need)
        return r.why.set(kMsgBatchColumns, css30 ? "css3.0" : "css2.8", {},
                         static_cast<std::int64_t>(n), static_cast<std::int64_t>(need));
    const auto& c = css30 ? kCss30 : kCss28;
    r.sta = t[c[0]];
    r.chan = t[c[1]];
    r.instype = t[c[6]];
    r.datatype = t[c[7]];
    r.user0 = !css30 && n >= 20 ? t[19] : std::string_view{};
    r.user1 = !css30 && n >= 21 ? t[20] : std::string_view{};

    if (!rdfree(t[c[kTime]], r.start) || !starttime(r))
        return r.why.set(kMsgBatchColumn, "time", t[c[kTime]]);
    if (!css30) {
        std::int32_t date;
        if (!alldigits(t[0]) || !rdint(t[0], date) || date != r.at.year * 1000 + r.at.jday)
            return r.why.set(kMsgBatchDate, t[0], {}, -1,
                             std::int64_t{r.at.year} * 1000 + r.at.jday);
    }
    if (!wholenumber(t[c[kNsamp]], 0, static_cast<double>(kMaxSamples), r.nsamp))
        return r.why.set(kMsgBatchColumn, "nsamp", t[c[kNsamp]]);
    if (!rdfree(t[c[4]], r.rate)) return r.why.set(kMsgBatchRate, t[c[4]]);
    if (const Rate rate = checkrate(r.rate, r.nsamp, r.interval); rate != Rate::ok)
        return r.why.set(kMsgBatchRate, t[c[4]], rate == Rate::overflows ? kOverflowWhy : "");
    if (!rdfree(t[c[5]], r.calib)) r.calib = 0; // a scale is kept only when it is one
    r.samplebytes = dtwidth(r.datatype);
    if (r.samplebytes == 0 && !dtcompressed(r.datatype))
        return r.why.set(kMsgBatchDatatype, r.datatype);
    if (!wholenumber(t[c[10]], 0, kMaxOffset, r.foff))
        return r.why.set(kMsgBatchColumn, "foff", t[c[10]]);
    samplepath(r, src, t[c[8]], t[c[9]]);
    return true;
}

// Every particular at once: the refusing check returns what this returns.
bool Refusal::set(std::int32_t n, std::string_view s, std::string_view d, std::int64_t h,
                  std::int64_t w) {
    number = n;
    subject = s;
    detail = d;
    have = h;
    want = w;
    return false;
}

// The counts go in parentheses, worded for the message that has them.
void Refusal::print(std::string_view at) const {
    xlate::Message m(number);
    m << at << subject << detail;
    if (number == kMsgBatchColumns)
        m << "(" + std::to_string(have) + " of " + std::to_string(want) + ")";
    if (number == kMsgBatchDate) m << "(start time is in " + std::to_string(want) + ")";
    if (number == kMsgBatchShort)
        m << "(" + std::to_string(have) + " bytes, needs " + std::to_string(want) + ")";
}

Line readline(std::FILE* f, std::array<char, kLineMax>& buf, std::string_view& line) {
    std::size_t n = 0;
    bool bad = false, nul = false;
    int ch = 0;
    while ((ch = getc_unlocked(f)) != EOF && ch != '\n') {
        nul = nul || ch == 0; // a NUL would cut a path short
        if (nul || n + 1 >= buf.size()) bad = true;
        if (!bad) buf[n++] = static_cast<char>(ch);
    }
    if (ch == EOF && n == 0 && !bad) return Line::eof;
    line = std::string_view(buf.data(), n);
    return nul ? Line::nul : bad ? Line::bad : Line::ok;
}

bool blankline(std::string_view s) {
    return s.find_first_not_of(" \t\r") == std::string_view::npos;
}

// A directory opens as a stream on this system but reads as nothing useful;
// a device other than a terminal may never end.
WfdiscFile::WfdiscFile(const char* path) {
    f = std::fopen(path, "r");
    struct stat st {};
    if (f != nullptr && (::fstat(::fileno(f), &st) != 0 || S_ISDIR(st.st_mode))) {
        std::fclose(f);
        f = nullptr;
        errno = EISDIR;
    } else if (f != nullptr && (why = xlate::devicewhy(::fileno(f))) != nullptr) {
        std::fclose(f);
        f = nullptr;
    }
}

// Closes the file, read or not.
WfdiscFile::~WfdiscFile() {
    if (f != nullptr) std::fclose(f);
}

} // namespace kivf::wfdx
