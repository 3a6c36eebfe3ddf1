// Dates and times as the listing shows them: the reference date and time of
// day as their fields hold them, and an instant (the reference time plus
// seconds) in the proleptic Gregorian calendar.
#include "show/show.h"

#include "ucf/ucf.h"

#include <array>
#include <cmath>
#include <cstdio>

namespace kivf::show {

namespace {

constexpr std::array<std::int32_t, 13> kDaysBefore = {0,   31,  59,  90,  120, 151, 181,
                                                      212, 243, 273, 304, 334, 365};

// Microseconds from 1970 of a reference time far outside any year shown still
// fit: 128 bits hold every sum of int32 fields times their units.
__extension__ using Micros = __int128;
constexpr std::int64_t kDayMicros = 86'400'000'000;

std::int64_t floordiv(std::int64_t a, std::int64_t b) {
    return a / b - (a % b != 0 && (a < 0) != (b < 0) ? 1 : 0);
}

} // namespace

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

} // namespace kivf::show
