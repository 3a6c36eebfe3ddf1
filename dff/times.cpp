// SPDX-License-Identifier: Apache-2.0
// Sample times in exact integers, start and end times of headers, instants
// split.
#include "dff/times.h"

#include "ucf/ucf.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace kivf {

namespace {

__extension__ using I128 = __int128;
constexpr std::int64_t kLimit = std::int64_t{1} << 62; // microseconds either way
constexpr std::int64_t kDayMicros = 86'400'000'000;

// 10^k for 0 <= k <= 38, exact.
I128 ipow10(int k) {
    I128 p = 1;
    for (int j = 0; j < k; ++j) p *= 10;
    return p;
}

// The microseconds of the nominal interval as num / den; tiny when every
// offset an int64 index reaches rounds to 0, huge when every one past sample
// 0 is beyond kLimit.
struct Fraction {
    I128 num = 0, den = 1;
    bool tiny = false, huge = false;
};
Fraction micros(const Nominal& n) {
    Fraction f;
    if (n.rate) { // 10^(6 - e) / m
        const int k = 6 - n.exp10;
        if (k > 36)
            f.huge = true;
        else if (k >= 0)
            f = {ipow10(k), n.digits};
        else if (-k > 21)
            f.tiny = true; // m × 10^-k >= 10^22: under 1e-3 µs at 2^63
        else
            f = {1, I128{n.digits} * ipow10(-k)};
    } else { // m × 10^(e + 6)
        const int k = n.exp10 + 6;
        if (k > 29)
            f.huge = true;
        else if (k >= 0)
            f = {I128{n.digits} * ipow10(k), 1};
        else if (-k > 30)
            f.tiny = true;
        else
            f = {n.digits, ipow10(-k)};
    }
    return f;
}

// Whether q + r / den (0 <= r < den) rounds up to the nearest, halves to even.
template <class T> bool roundsup(T q, T r, T den) {
    return 2 * r > den || (2 * r == den && (q & 1) != 0);
}

// num / den rounded to the nearest, halves to even; num >= 0.
I128 rounded(I128 num, I128 den) {
    const I128 q = num / den;
    return q + (roundsup(q, num % den, den) ? 1 : 0);
}

// The reference time of h in microseconds since 1970; 128 bits hold every
// sum of int32 fields times their units.
bool reference(const CmHdr& h, I128& t) {
    for (std::int32_t s = nslot::NZYEAR; s <= nslot::NZMSEC; ++s)
        if (h.n(s) == kUndfInt) return false;
    t = daysfromepoch(h.n(nslot::NZYEAR)) + h.n(nslot::NZJDAY) - 1;
    t = ((t * 24 + h.n(nslot::NZHOUR)) * 60 + h.n(nslot::NZMIN)) * 60 + h.n(nslot::NZSEC);
    t = (t * 1000 + h.n(nslot::NZMSEC)) * 1000;
    return true;
}

bool within(I128 t) {
    return t >= -I128{kLimit} && t <= I128{kLimit};
}

} // namespace

bool sampleoffset(const Nominal& n, std::int64_t i, std::int64_t& us) {
    // What nominal gives: 1 to 9 digits; the fractions below rely on it.
    if (n.digits <= 0 || n.digits >= 1'000'000'000) return false;
    const Fraction f = micros(n);
    if (f.tiny || i == 0) {
        us = 0;
        return true;
    }
    if (f.huge) return false;
    const I128 a = i < 0 ? -I128{i} : I128{i};
    I128 prod = 0;
    if (__builtin_mul_overflow(a, f.num, &prod)) return false;
    const I128 q = rounded(prod, f.den);
    if (q > kLimit) return false;
    us = static_cast<std::int64_t>(i < 0 ? -q : q);
    return true;
}

bool sampleoffsets(const Nominal& n, std::int64_t first, std::span<std::int64_t> out) {
    if (out.empty()) return true;
    const auto count = static_cast<std::int64_t>(out.size());
    std::int64_t last;
    if ((first > 0 && count - 1 > INT64_MAX - first) || !sampleoffset(n, first + (count - 1), last))
        return false;
    const Fraction f = micros(n);
    const I128 wide = std::int64_t{1} << 61;
    if (first < 0 || f.tiny || f.huge || f.num > wide || f.den > wide) {
        for (std::int64_t j = 0; j < count; ++j)
            if (!sampleoffset(n, first + j, out[static_cast<std::size_t>(j)])) return false;
        return true;
    }
    // Step the exact quotient and remainder of i × num / den; each rounded as
    // sampleoffset rounds it. The last fits, and every earlier one is smaller.
    const auto num = static_cast<std::int64_t>(f.num), den = static_cast<std::int64_t>(f.den);
    const I128 start = I128{first} * num;
    auto q = static_cast<std::int64_t>(start / den), r = static_cast<std::int64_t>(start % den);
    const std::int64_t qstep = num / den, rstep = num % den;
    for (std::int64_t& o : out) {
        o = q + (roundsup(q, r, den) ? 1 : 0);
        q += qstep;
        r += rstep;
        if (r >= den) {
            r -= den;
            ++q;
        }
    }
    return true;
}

bool instant(const CmHdr& h, float seconds, std::int64_t& us) {
    I128 t = 0;
    if (!reference(h, t) || seconds == kUndfFlt) return false;
    // Exact: a float's 24-bit significand times 1e6 (14 significant bits) fits a double's 53.
    const double micros = std::nearbyint(static_cast<double>(seconds) * 1e6);
    // References reach some 1e23 µs from 1970: beyond 1e30 no sum comes back into range.
    if (!(std::fabs(micros) <= 1e30)) return false; // NaN and infinities too
    t += static_cast<I128>(micros);
    if (!within(t)) return false;
    us = static_cast<std::int64_t>(t);
    return true;
}

bool starttime(const CmHdr& h, std::int64_t& us) {
    return instant(h, h.f(fslot::B), us);
}

bool endtime(const CmHdr& h, std::int64_t& us) {
    if (h.l(lslot::LEVEN) == 0) return instant(h, h.f(fslot::E), us);
    const std::int32_t npts = h.n(nslot::NPTS);
    Nominal n;
    std::int64_t start = 0, off = 0;
    if (npts == kUndfInt || npts < 1 || !nominal(h.f(fslot::DELTA), n) || !starttime(h, start) ||
        !sampleoffset(n, npts - 1, off) || !within(I128{start} + off))
        return false;
    us = start + off;
    return true;
}

Instant splitmicros(std::int64_t us) {
    std::int64_t day = us / kDayMicros, inday = us % kDayMicros;
    if (inday < 0) { // before 1970: the day counts down, the time in it up
        inday += kDayMicros;
        --day;
    }
    Instant t;
    gregorian(day, t.year, t.jday);
    const std::int64_t sec = inday / 1'000'000, sub = inday % 1'000'000;
    t.hour = static_cast<std::int32_t>(sec / 3600);
    t.minute = static_cast<std::int32_t>(sec / 60 % 60);
    t.second = static_cast<std::int32_t>(sec % 60);
    t.msec = static_cast<std::int32_t>(sub / 1000);
    t.usec = static_cast<std::int32_t>(sub % 1000);
    return t;
}

namespace {

// n digits of text from at, as a number; false unless all are digits.
bool digits(std::string_view text, std::size_t at, std::size_t n, std::int32_t& v) {
    if (at + n > text.size()) return false;
    v = 0;
    for (std::size_t i = at; i < at + n; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + (text[i] - '0');
    }
    return true;
}

} // namespace

bool isotime(std::string_view text, std::int64_t& us) {
    if (text.ends_with('Z')) text.remove_suffix(1);
    std::int32_t year = 0, month = 0, mday = 0, hour = 0, minute = 0, second = 0, sub = 0;
    if (!digits(text, 0, 4, year) || text.size() < 10 || text[4] != '-' || text[7] != '-' ||
        !digits(text, 5, 2, month) || !digits(text, 8, 2, mday) || month < 1 || month > 12)
        return false;
    const bool leap = daysfromepoch(year + 1) - daysfromepoch(year) == 366; // Gregorian
    if (mday < 1 || mday > daysbefore(month + 1, leap) - daysbefore(month, leap)) return false;
    std::size_t at = 10;
    if (at < text.size()) { // the time of day
        if ((text[at] != 'T' && text[at] != ' ') || !digits(text, at + 1, 2, hour) ||
            at + 3 >= text.size() || text[at + 3] != ':' || !digits(text, at + 4, 2, minute))
            return false;
        at += 6;
        if (at < text.size() && (text[at] != ':' || !digits(text, at + 1, 2, second))) return false;
        at = std::min(text.size(), at + 3);
        if (at < text.size()) { // a fraction: 1 to 6 digits, scaled to microseconds
            const std::size_t n = text.size() - at - 1;
            if (text[at] != '.' || n < 1 || n > 6 || !digits(text, at + 1, n, sub)) return false;
            for (std::size_t k = n; k < 6; ++k) sub *= 10;
        }
        if (hour > 23 || minute > 59 || second > 59) return false;
    }
    const std::int64_t day = daysfromepoch(year) + daysbefore(month, leap) + mday - 1;
    us = ((day * 24 + hour) * 60 + minute) * 60 + second;
    us = us * 1'000'000 + sub;
    return true;
}

} // namespace kivf
