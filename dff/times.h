// SPDX-License-Identifier: Apache-2.0
// Times in use: the sampling rate a stored DELTA stands for, the time of each
// sample of an even trace to the microsecond, and instants split as headers
// and file names hold them. Every tool takes its times from here, so that
// the lister, the Python package and its merges agree to the microsecond.
#pragma once

#include "dff/records.h"

#include <cstdint>
#include <span>
#include <string_view>

namespace kivf {

// The simplest decimal a stored DELTA stands for: digits × 10^exp10, either a
// rate in samples a second (40, 100, 33.333) or an interval in seconds (3,
// 0.032). A rate's interval is DELTA when the float32 nearest 1/rate, taken
// in double, is DELTA (as the converters write it); an interval's when the
// float32 nearest it is.
struct Nominal {
    std::int64_t digits = 0; // without trailing zeros, at most 9 of them
    std::int32_t exp10 = 0;
    bool rate = false;
    // The rate and the interval in double, correctly rounded where the power
    // of ten is exact in a double (exponents within ±22).
    [[nodiscard]] double hz() const;
    [[nodiscard]] double seconds() const;
};

// The nominal value of delta: the decimal of fewest significant digits, as a
// rate or an interval, whose interval is exactly delta; among those of as
// many digits the one whose interval lies nearest delta, then the rate, then
// the smaller decimal. Every
// finite positive float32 has one (its own shortest decimal, at worst). False,
// out unchanged, for 0, negative, infinite and NaN values.
bool nominal(float delta, Nominal& out);

// Microseconds from a trace's first sample to sample i: i × the nominal
// interval, exactly, rounded to the nearest microsecond (halves to even).
// False when beyond ±2^62 µs (some 146,000 years), or when n is not one
// nominal gives (digits 1 to 999,999,999).
bool sampleoffset(const Nominal& n, std::int64_t i, std::int64_t& us);
// The same for samples first, first + 1, ..., one per element of out,
// stepped in integers; false (out unspecified) when any is beyond, or its
// index is.
bool sampleoffsets(const Nominal& n, std::int64_t first, std::span<std::int64_t> out);

// The reference time of h plus seconds, in microseconds since 1970: seconds
// widened to double and rounded to the microsecond (halves to even), as the
// converters write B; the calendar proleptic Gregorian, a reference field out
// of its range counting on. False when a reference field or seconds is
// undefined or not finite, or the sum is beyond ±2^62 µs.
bool instant(const CmHdr& h, float seconds, std::int64_t& us);
// The first sample's time: instant(h, B).
bool starttime(const CmHdr& h, std::int64_t& us);
// The last sample's time: of an even trace (LEVEN not false) its start plus
// sampleoffset of sample NPTS - 1, E playing no part; of an uneven one
// instant(h, E), the last x. False when those are not all there (an even
// trace also needs NPTS of at least 1 and a DELTA with a nominal value).
bool endtime(const CmHdr& h, std::int64_t& us);

// An instant split as headers and file names hold it.
struct Instant {
    std::int32_t year = 0, jday = 0, hour = 0, minute = 0, second = 0, msec = 0, usec = 0;
};
// Microseconds since 1970 split in the proleptic Gregorian calendar; times
// before 1970 count down (the microseconds are never negative).
Instant splitmicros(std::int64_t us);

// An ISO 8601 UTC time as station tables and command lines give it,
// "2010-02-27T06:34:11.5Z": a date YYYY-MM-DD, then optionally T (or one
// blank) and HH:MM, :SS and a fraction of up to 6 digits, and a final Z; in
// microseconds since 1970, the calendar proleptic Gregorian. False for
// anything else, a field out of its range included (a leap second, 60, is
// refused: the system counts none).
bool isotime(std::string_view text, std::int64_t& us);

} // namespace kivf
