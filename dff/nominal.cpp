// SPDX-License-Identifier: Apache-2.0
// The nominal rate or interval a stored DELTA stands for: the shortest
// decimals near it, checked exactly as the converters would write them.
#include "dff/times.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace kivf {

namespace {

constexpr int kMaxDigits = 9; // every float32 reads back from 9 significant digits

// 10^k in long double for |k| <= kPowers: exact up to 10^27 (5^27 < 2^64),
// nearly so beyond; a float32's decimals need no more.
constexpr int kPowers = 80;
long double lpow10(int k) {
    static const auto table = [] {
        std::array<long double, 2 * kPowers + 1> t{};
        long double p = 1;
        for (int j = 0; j <= kPowers; ++j, p *= 10) t[kPowers + j] = p;
        for (int j = 1; j <= kPowers; ++j) t[kPowers - j] = 1.0L / t[kPowers + j];
        return t;
    }();
    return table[static_cast<std::size_t>(k + kPowers)];
}

// The decimal m × 10^e as text, for the correctly rounded conversions.
using Text = std::array<char, 40>;
Text decimal(std::int64_t m, std::int32_t e) {
    Text t{};
    std::snprintf(t.data(), t.size(), "%llde%d", static_cast<long long>(m), e);
    return t;
}

// m × 10^e and its reciprocal in long double; each one correctly rounded while
// the power of ten is exact, so that a rate and an interval standing for the
// same number (100 Hz, 0.01 s) come out the same bits.
long double lvalue(std::int64_t m, std::int32_t e) {
    const auto lm = static_cast<long double>(m);
    return e >= 0 ? lm * lpow10(e) : lm / lpow10(-e);
}
long double linverse(std::int64_t m, std::int32_t e) {
    const auto lm = static_cast<long double>(m);
    return e >= 0 ? 1.0L / (lm * lpow10(e)) : lpow10(-e) / lm;
}

// m × 10^e correctly rounded to a double: without text while m and the power
// of ten are exact doubles (one rounding of exact values), else through it.
double todouble(std::int64_t m, std::int32_t e) {
    if (e >= -22 && e <= 22) {
        const auto p = static_cast<double>(lpow10(e < 0 ? -e : e)), dm = static_cast<double>(m);
        return e >= 0 ? dm * p : dm / p;
    }
    return std::strtod(decimal(m, e).data(), nullptr);
}

// 1 / (m × 10^e) in double: 10^-e / m, one rounding of exact values, where
// the power of ten is exact; else through the decimal's double.
double reciprocal(std::int64_t m, std::int32_t e) {
    if (e <= 0 && e >= -22) return static_cast<double>(lpow10(-e)) / static_cast<double>(m);
    return 1.0 / todouble(m, e);
}

// Whether the decimal, as an interval or as a rate, has delta for its interval.
bool matches(std::int64_t m, std::int32_t e, bool rate, float delta) {
    const double v = todouble(m, e);
    if (rate) return static_cast<float>(1.0 / v) == delta;
    // The float nearest the decimal is the float nearest its double, unless
    // that double lies exactly halfway between two floats.
    const float f = static_cast<float>(v);
    if (static_cast<double>(f) != v) {
        const float g = std::nextafter(f, v > f ? HUGE_VALF : -HUGE_VALF);
        if (v == (static_cast<double>(f) + static_cast<double>(g)) / 2)
            return std::strtof(decimal(m, e).data(), nullptr) == delta;
    }
    return f == delta;
}

} // namespace

double Nominal::hz() const {
    return rate ? todouble(digits, exp10) : reciprocal(digits, exp10);
}

double Nominal::seconds() const {
    return rate ? reciprocal(digits, exp10) : todouble(digits, exp10);
}

bool nominal(float delta, Nominal& out) {
    if (!std::isfinite(delta) || !(delta > 0)) return false;
    const long double d = delta;
    // Near a match, the decimal lies within an ulp of delta (the rate's
    // reciprocal too): a wider slack costs nothing but a few exact checks.
    const double near = 2 * (static_cast<double>(std::nextafter(delta, HUGE_VALF)) - delta) / delta;
    // Per target, the interval and the rate: the target scaled to one digit
    // before the point, and its decimal exponent; a logarithm on the wrong
    // side of a power of ten is mended below. Doubles place the candidates
    // well within the slack; the checks and the gaps are exact.
    std::array<double, 2> x{};
    std::array<int, 2> top{};
    for (std::size_t r = 0; r < 2; ++r) {
        const long double t = r == 0 ? d : 1.0L / d;
        top[r] = static_cast<int>(std::floor(std::log10(static_cast<double>(t))));
        x[r] = static_cast<double>(t / lpow10(top[r]));
    }
    for (int k = 1; k <= kMaxDigits; ++k) {
        const auto least = static_cast<std::int64_t>(lpow10(k - 1)), most = least * 10;
        bool found = false;
        Nominal best;
        long double bestgap = 0;
        for (const bool rate : {false, true}) {
            const std::size_t r = rate ? 1 : 0;
            double xk = x[r] * static_cast<double>(least); // the target in units of 10^e
            int e = top[r] - k + 1;
            if (xk < static_cast<double>(least))
                xk *= 10, --e;
            else if (xk >= static_cast<double>(most))
                xk /= 10, ++e;
            // The k-digit decimals nearest the target on either side; the
            // matching ones form a run around it, so no farther one can match
            // while these do not.
            const std::int64_t m0 = std::llround(xk);
            for (std::int64_t step = m0 - 1; step <= m0 + 1; ++step) {
                if (std::fabs(static_cast<double>(step) - xk) > xk * near) continue;
                // Past either end of k digits, the neighbour is in the next decade.
                std::int64_t m = step;
                int em = e;
                if (m == most)
                    m = least, ++em;
                else if (m == least - 1)
                    m = most - 1, --em;
                else if (m > most || (k > 1 && m % 10 == 0))
                    continue;
                if (!matches(m, em, rate, delta)) continue;
                const long double gap = std::fabs((rate ? linverse(m, em) : lvalue(m, em)) - d);
                // A rate wins a tie: it is met after the intervals.
                if (found && (gap > bestgap || (gap == bestgap && !rate))) continue;
                found = true;
                bestgap = gap;
                best = {m, em, rate};
            }
        }
        if (found) {
            out = best;
            return true;
        }
    }
    return false; // not reached: the shortest decimal of delta matches
}

} // namespace kivf
