// How each list member is shown: numbers exactly, texts trimmed, enumerated
// values by name and description, auxiliary names as values derived from the
// fields.
#include "kivhdr/kivhdr.h"

#include "bot/bot.h"
#include "co/co.h"
#include "msg/msg.h"
#include "ucf/ucf.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace kivf::kivhdr {

namespace {

// Auxiliary names by position in the catalogue.
enum : std::int32_t {
    KZDATE = 1,
    KZTIME,
    KSTCMP,
    FILENAME,
    AMARKER,
    OMARKER,
    FMARKER,
    T0MARKER = 10,
    T9MARKER = 19,
};

constexpr std::array<std::int32_t, 13> kDaysBefore = {0,   31,  59,  90,  120, 151, 181,
                                                      212, 243, 273, 304, 334, 365};

bool undefined(std::string_view text8) {
    return text8 == kUndfTxt;
}

// Control characters become '?', so that a damaged text or an odd file name
// cannot upset the terminal or break a line of the listing.
std::string printable(std::string_view t) {
    std::string s(t);
    maskcontrols(s);
    return s;
}

// Trimmed at both ends.
std::string showtext(std::string_view t) {
    t = used(t);
    while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
    return printable(t);
}

std::string shownum(std::int32_t v) {
    std::array<char, 16> buf{};
    const auto r = std::to_chars(buf.data(), buf.data() + buf.size(), v);
    return {buf.data(), r.ptr};
}

// A time with its label, when the time is set.
bool marker(const CmHdr& h, const KmHdr& k, std::int32_t fs, std::int32_t ks, std::string& out) {
    if (h.f(fs) == kUndfFlt) return false;
    out = showfloat(h.f(fs));
    const std::string_view label = k.k(ks);
    if (!undefined(label) && !showtext(label).empty()) out += " (" + showtext(label) + ")";
    return true;
}

// Microseconds from 1970 of a reference time far outside any year shown still
// fit: 128 bits hold every sum of int32 fields times their units.
__extension__ using Micros = __int128;
constexpr std::int64_t kDayMicros = 86'400'000'000;

std::int64_t floordiv(std::int64_t a, std::int64_t b) {
    return a / b - (a % b != 0 && (a < 0) != (b < 0) ? 1 : 0);
}

bool auxvalue(std::int32_t aux, const CmHdr& h, const KmHdr& k, std::string_view file,
              std::string& out) {
    switch (aux) {
    case KZDATE:
        if (h.n(nslot::NZYEAR) == kUndfInt || h.n(nslot::NZJDAY) == kUndfInt) return false;
        out = showdate(h.n(nslot::NZYEAR), h.n(nslot::NZJDAY));
        return true;
    case KZTIME:
        for (std::int32_t s = nslot::NZHOUR; s <= nslot::NZMSEC; ++s)
            if (h.n(s) == kUndfInt) return false;
        out =
            showtime(h.n(nslot::NZHOUR), h.n(nslot::NZMIN), h.n(nslot::NZSEC), h.n(nslot::NZMSEC));
        return true;
    case KSTCMP: {
        const std::string_view sta = k.k(kslot::KSTNM), cmp = k.k(kslot::KCMPNM);
        if (undefined(sta) && undefined(cmp)) return false;
        // One of them undefined is shown as any undefined field is, never as its marker text.
        out = (undefined(sta) ? "undefined" : showtext(sta)) + " " +
              (undefined(cmp) ? "undefined" : showtext(cmp));
        return true;
    }
    case FILENAME:
        out = printable(file);
        return true;
    case AMARKER:
        return marker(h, k, fslot::A, kslot::KA, out);
    case OMARKER:
        return marker(h, k, fslot::O, kslot::KO, out);
    case FMARKER:
        return marker(h, k, fslot::F, kslot::KF, out);
    default:
        if (aux >= T0MARKER && aux <= T9MARKER)
            return marker(h, k, fslot::T0 + aux - T0MARKER, kslot::KT0 + aux - T0MARKER, out);
        return false; // positions without a value of their own
    }
}

} // namespace

bool exactname(std::string_view file, Failure& failed) {
    if (file.empty() || zexact(file)) return true;
    std::string shown(file); // a NUL would end the message line
    std::replace(shown.begin(), shown.end(), '\0', '?');
    Draft why(kMsgKivOpen);
    why << shown << "(The name " + std::string(zinexact(file)) + ".)";
    failed = why.failure();
    return false;
}

std::string showfloat(float v) {
    std::array<char, 32> buf{};
    const auto r = std::to_chars(buf.data(), buf.data() + buf.size(), v);
    return {buf.data(), r.ptr};
}

std::string showenum(std::int32_t v) {
    if (v < 1 || v > kNumEnum) return shownum(v) + "  (not an enumerated value)";
    const auto n = static_cast<std::size_t>(v - 1);
    std::string name(kmlhf.kienm[n].used());
    name.resize(6, ' '); // the longest enumeration name: descriptions line up
    return name + "  " + showtext(kmlhf.kdienm[n]);
}

std::string showdate(std::int32_t year, std::int32_t jday) {
    std::array<char, 64> buf{};
    const bool leap = daysinyear(year) == 366;
    if (jday < 1 || jday > daysinyear(year)) {
        std::snprintf(buf.data(), buf.size(), "%04d day %d (no such day)", year, jday);
        return buf.data();
    }
    std::int32_t month = 1;
    auto before = [&](std::int32_t m) { return kDaysBefore[m - 1] + (leap && m > 2 ? 1 : 0); };
    while (month < 12 && jday > before(month + 1)) ++month;
    std::snprintf(buf.data(), buf.size(), "%04d-%02d-%02d (%03d)", year, month,
                  jday - before(month), jday);
    return buf.data();
}

std::string showtime(std::int32_t h, std::int32_t m, std::int32_t s, std::int32_t ms) {
    std::array<char, 64> buf{};
    std::snprintf(buf.data(), buf.size(), "%02d:%02d:%02d.%03d", h, m, s, ms);
    return buf.data();
}

std::string showname(std::string_view file) {
    return printable(file);
}

bool showinstant(const CmHdr& h, float seconds, std::string& out) {
    out.clear();
    for (std::int32_t s = nslot::NZYEAR; s <= nslot::NZMSEC; ++s)
        if (h.n(s) == kUndfInt) return false;
    if (seconds == kUndfFlt) return false;
    // Exact: a float's 24-bit significand times 1e6 (14 significant bits) fits a double's 53.
    const double micros = std::nearbyint(static_cast<double>(seconds) * 1e6);
    // The reference fields reach no further than about 1e23 microseconds from 1970, so
    // beyond 1e30 no year shown is reached; NaN and infinities are refused here too.
    if (!(std::fabs(micros) <= 1e30)) return false;
    Micros t = daysfromepoch(h.n(nslot::NZYEAR)) + h.n(nslot::NZJDAY) - 1;
    t = ((t * 24 + h.n(nslot::NZHOUR)) * 60 + h.n(nslot::NZMIN)) * 60 + h.n(nslot::NZSEC);
    t = (t * 1000 + h.n(nslot::NZMSEC)) * 1000 + static_cast<Micros>(micros);
    if (t < Micros{daysfromepoch(0)} * kDayMicros || t >= Micros{daysfromepoch(10000)} * kDayMicros)
        return false;
    const auto us = static_cast<std::int64_t>(t);
    const std::int64_t day = floordiv(us, kDayMicros), inday = us - day * kDayMicros;
    std::int32_t year = 0, jday = 0;
    gregorian(day, year, jday);
    const std::int64_t yday = jday - 1;
    const bool leap = daysfromepoch(year + 1) - daysfromepoch(year) == 366;
    std::int64_t month = 1;
    auto before = [&](std::int64_t m) { return kDaysBefore[m - 1] + (leap && m > 2 ? 1 : 0); };
    while (month < 12 && yday >= before(month + 1)) ++month;
    std::array<char, 64> buf{};
    std::snprintf(buf.data(), buf.size(), "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%06lldZ",
                  static_cast<long long>(year), static_cast<long long>(month),
                  static_cast<long long>(yday - before(month) + 1),
                  static_cast<long long>(inday / 3'600'000'000),
                  static_cast<long long>(inday / 60'000'000 % 60),
                  static_cast<long long>(inday / 1'000'000 % 60),
                  static_cast<long long>(inday % 1'000'000));
    out = buf.data();
    return true;
}

std::int32_t findlist(std::string_view name) {
    if (name.empty() || name.size() > 8) return 0;
    Text<8> key;
    blank(key);
    modcase(true, name, static_cast<std::int32_t>(name.size()), key);
    return nequal(key, kmlhf.klistnm, cmlhf.nlists);
}

bool value(std::string_view name, const CmHdr& h, const KmHdr& k, std::string_view file,
           std::string& out) {
    out.clear();
    if (name == kTimeNames[0]) return showinstant(h, h.f(fslot::B), out);
    if (name == kTimeNames[1]) return showinstant(h, h.f(fslot::E), out);
    Text<8> key;
    key.set(name);
    if (const std::int32_t s = nequal(key, kmlhf.kahdr)) return auxvalue(s, h, k, file, out);
    if (const std::int32_t s = nequal(key, kmlhf.kfhdr)) {
        if (h.f(s) == kUndfFlt) return false;
        out = showfloat(h.f(s));
    } else if (const std::int32_t s = nequal(key, kmlhf.knhdr)) {
        if (h.n(s) == kUndfInt) return false;
        out = shownum(h.n(s));
    } else if (const std::int32_t s = nequal(key, kmlhf.kihdr)) {
        if (h.i(s) == kUndfEnm) return false;
        out = showenum(h.i(s));
    } else if (const std::int32_t s = nequal(key, kmlhf.klhdr)) {
        out = h.l(s) != 0 ? "true" : "false"; // logicals are never undefined
    } else if (const std::int32_t s = nequal(key, kmlhf.kkhdr)) {
        const std::string_view first = k.k(s);
        if (s != kslot::KEVNM) {
            if (undefined(first)) return false;
            out = showtext(first);
        } else {
            // The event name is 16 characters: its second half is the next slot.
            const std::string_view second = k.k(kslot::KEVNMC);
            if (undefined(first) && (undefined(second) || used(second).empty())) return false;
            std::string both(first);
            both += second;
            out = showtext(both);
        }
    } else {
        return false;
    }
    return true;
}

void listing(std::int32_t list, const CmHdr& h, const KmHdr& k, std::string_view file, bool all,
             std::string& out) {
    auto line = [&out](std::string_view name, std::string_view val) {
        std::string n(name);
        n.resize(kNameWidth, ' ');
        out += n + "  ";
        out += val;
        out += '\n';
    };
    line("FILENAME", printable(file));
    // Station and component name every block, whatever the list: no list of
    // the catalogue holds the component.
    std::string val;
    if (auxvalue(KSTCMP, h, k, file, val)) line("KSTCMP", val);
    if (list < 1 || list > kNumLists) return;
    const auto l = static_cast<std::size_t>(list - 1);
    const std::int32_t first = kListStart[l];
    const std::int32_t count = std::min(cmlhf.nlistmem[l], kListSlots - first + 1);
    for (std::int32_t m = 0; m < count; ++m) {
        const std::string_view name = kmlhf.klist[static_cast<std::size_t>(first + m - 1)].used();
        if (value(name, h, k, file, val)) {
            line(name, val);
        } else if (all) {
            line(name, "undefined");
        }
    }
}

} // namespace kivf::kivhdr
