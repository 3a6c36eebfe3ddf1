#include "ucf/ucf.h"

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
    std::int32_t carry = 0;
    inctim(t1[2], t1[3], t1[4], t1[5], inc, t2[2], t2[3], t2[4], t2[5], carry);
    incdat(year, day, carry, t2[0], t2[1]);
}

} // namespace kivf
