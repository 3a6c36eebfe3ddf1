// SPDX-License-Identifier: Apache-2.0
// Dates and times as the listing shows them: the reference date and time of
// day as their fields hold them, and an instant in the proleptic Gregorian
// calendar.
#include "show/show.h"

#include "ucf/ucf.h"

#include <array>
#include <cstdio>

namespace kivf::show {

namespace {

constexpr std::int64_t kDayMicros = 86'400'000'000;

} // namespace

std::string showdate(std::int32_t year, std::int32_t jday) {
    std::array<char, 64> buf{};
    const bool leap = daysinyear(year) == 366;
    if (jday < 1 || jday > daysinyear(year)) {
        std::snprintf(buf.data(), buf.size(), "%04d day %d (no such day)", year, jday);
        return buf.data();
    }
    std::int32_t month = 1;
    while (month < 12 && jday > daysbefore(month + 1, leap)) ++month;
    std::snprintf(buf.data(), buf.size(), "%04d-%02d-%02d (%03d)", year, month,
                  jday - daysbefore(month, leap), jday);
    return buf.data();
}

std::string showtime(std::int32_t h, std::int32_t m, std::int32_t s, std::int32_t ms) {
    std::array<char, 64> buf{};
    std::snprintf(buf.data(), buf.size(), "%02d:%02d:%02d.%03d", h, m, s, ms);
    return buf.data();
}

bool showmicros(std::int64_t us, std::string& out) {
    out.clear();
    if (us < daysfromepoch(0) * kDayMicros || us >= daysfromepoch(10000) * kDayMicros) return false;
    const Instant t = splitmicros(us);
    const std::int64_t yday = t.jday - 1;
    const bool leap = daysfromepoch(t.year + 1) - daysfromepoch(t.year) == 366; // Gregorian
    std::int32_t month = 1;
    while (month < 12 && yday >= daysbefore(month + 1, leap)) ++month;
    std::array<char, 64> buf{};
    std::snprintf(buf.data(), buf.size(), "%04d-%02lld-%02lldT%02d:%02d:%02d.%03d%03dZ", t.year,
                  static_cast<long long>(month),
                  static_cast<long long>(yday - daysbefore(month, leap) + 1), t.hour, t.minute,
                  t.second, t.msec, t.usec);
    out = buf.data();
    return true;
}

} // namespace kivf::show
