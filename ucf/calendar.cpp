// SPDX-License-Identifier: Apache-2.0
#include "ucf/ucf.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>

namespace kivf {

namespace {

using i64 = std::int64_t;

// Bring v into 0..u-1, carrying the quotient (floored) into next.
void normalise(i64& v, i64 u, i64& next) {
    i64 q = 0;
    if (v > u - 1) {
        q = v / u;
    } else if (v < 0) {
        q = v / u;
        if (q * u != v) --q; // floor, not truncation
    }
    v -= q * u;
    next += q;
}

// The caller's fields are 32-bit; saturate instead of wrapping when a result
// cannot be held (only reachable with absurd inputs).
std::int32_t clamp32(i64 v) {
    constexpr i64 lo = std::numeric_limits<std::int32_t>::min();
    constexpr i64 hi = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(v < lo ? lo : (v > hi ? hi : v));
}

// Quotient rounded toward minus infinity (b > 0).
i64 floordiv(i64 a, i64 b) {
    return a / b - (a % b < 0 ? 1 : 0);
}

// Truncate a float toward zero into a 64-bit integer without undefined
// behaviour: NaN counts as 0, huge values saturate.
i64 trunc64(float x) {
    if (std::isnan(x)) return 0;
    constexpr float lim = 9.0e18f;
    if (x >= lim) return static_cast<i64>(lim);
    if (x <= -lim) return -static_cast<i64>(lim);
    return static_cast<i64>(x);
}

} // namespace

std::int32_t daysinyear(std::int32_t year) {
    return year % 4 == 0 ? 366 : 365;
}

void inctim(std::int32_t hour, std::int32_t min, std::int32_t sec, std::int32_t msec, float inc,
            std::int32_t& ohour, std::int32_t& omin, std::int32_t& osec, std::int32_t& omsec,
            std::int32_t& carry) {
    // Whole seconds and milliseconds, both in 32-bit floating arithmetic.
    const i64 w = trunc64(inc);
    const float frac = inc - static_cast<float>(w);
    const float fms = frac * 1000.0f;
    const i64 f = trunc64(fms);

    i64 h = hour, m = min, s = i64{sec} + w, ms = i64{msec} + f, d = 0;
    normalise(ms, 1000, s);
    normalise(s, 60, m);
    normalise(m, 60, h);
    normalise(h, 24, d);
    ohour = static_cast<std::int32_t>(h);
    omin = static_cast<std::int32_t>(m);
    osec = static_cast<std::int32_t>(s);
    omsec = static_cast<std::int32_t>(ms);
    carry = clamp32(d);
}

void incdat(std::int32_t year, std::int32_t day, std::int32_t ndays, std::int32_t& oyear,
            std::int32_t& oday) {
    i64 y = year, d = i64{day} + ndays;
    // Whole four-year cycles (1461 days each, exactly one leap year) first, so
    // that large counts do not loop year by year; the year-by-year steps below
    // then give the same result as stepping all the way.
    if (d > 2922 || d < -1461) {
        const i64 cycles = d > 0 ? (d - 1461) / 1461 : (d - 1) / 1461;
        y += 4 * cycles;
        d -= 1461 * cycles;
    }
    for (;;) {
        if (d < 1) {
            --y;
            d += daysinyear(static_cast<std::int32_t>(y));
        } else if (d > daysinyear(static_cast<std::int32_t>(y))) {
            d -= daysinyear(static_cast<std::int32_t>(y));
            ++y;
        } else {
            break;
        }
    }
    oyear = clamp32(y);
    oday = static_cast<std::int32_t>(d);
}

void idttm(const DateTime& t1, float inc, DateTime& t2) {
    const std::int32_t year = t1[0], day = t1[1];
    std::int32_t carry;
    inctim(t1[2], t1[3], t1[4], t1[5], inc, t2[2], t2[3], t2[4], t2[5], carry);
    incdat(year, day, carry, t2[0], t2[1]);
}

// By 400-year eras of 146097 days counted from 0000-03-01, so that the leap
// day ends a year; then the day of the year counted again from January 1.
void gregorian(std::int64_t days, std::int32_t& year, std::int32_t& jday) {
    const i64 z = days + 719468;
    const i64 era = (z >= 0 ? z : z - 146096) / 146097;
    const i64 doe = z - era * 146097;
    const i64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const i64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100); // from March 1
    const i64 y = yoe + era * 400 + (doy >= 306 ? 1 : 0);
    const i64 yy = y - 1; // days to January 1 of y
    const i64 e2 = (yy >= 0 ? yy : yy - 399) / 400;
    const i64 yoe2 = yy - e2 * 400;
    const i64 jan1 = e2 * 146097 + yoe2 * 365 + yoe2 / 4 - yoe2 / 100 + 306 - 719468;
    year = static_cast<std::int32_t>(y);
    jday = static_cast<std::int32_t>(days - jan1 + 1);
}

// Leap days before year counted from year 1, less the 477 before 1970; 64 bits
// hold 366 times any 32-bit year.
std::int64_t daysfromepoch(std::int32_t year) {
    const i64 y = i64{year} - 1;
    return 365 * (i64{year} - 1970) + floordiv(y, 4) - floordiv(y, 100) + floordiv(y, 400) - 477;
}

std::int32_t daysbefore(std::int32_t month, bool leap) {
    static constexpr std::array<std::int32_t, 13> kBefore = {0,   31,  59,  90,  120, 151, 181,
                                                             212, 243, 273, 304, 334, 365};
    return kBefore[static_cast<std::size_t>(month - 1)] + (leap && month > 2 ? 1 : 0);
}

} // namespace kivf
