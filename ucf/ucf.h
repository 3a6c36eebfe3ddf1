// SPDX-License-Identifier: Apache-2.0
// Calendar arithmetic on date-time arrays, and integer formatting helpers.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace kivf {

// Year, day of year, hour, minute, second, millisecond. Every year divisible
// by 4 is a leap year (no century rule).
using DateTime = std::array<std::int32_t, 6>;

// Days in a year: 366 when year is divisible by 4, else 365.
std::int32_t daysinyear(std::int32_t year);

// t2 = t1 advanced by inc seconds, every field normalised. t2 may be t1.
void idttm(const DateTime& t1, float inc, DateTime& t2);

// Adds inc seconds to a time of day; carry receives the days it moved. The
// increment splits into whole seconds and milliseconds in 32-bit floating
// arithmetic, both truncated toward zero. Outputs may alias inputs.
void inctim(std::int32_t hour, std::int32_t min, std::int32_t sec, std::int32_t msec, float inc,
            std::int32_t& ohour, std::int32_t& omin, std::int32_t& osec, std::int32_t& omsec,
            std::int32_t& carry);

// Adds a signed number of days to a year and day of year. Outputs may alias.
void incdat(std::int32_t year, std::int32_t day, std::int32_t ndays, std::int32_t& oyear,
            std::int32_t& oday);

// Days since 1970-01-01 to year and day of year in the Gregorian calendar,
// century rule included (unlike the arrays above); year 0 is 1 BC.
void gregorian(std::int64_t days, std::int32_t& year, std::int32_t& jday);

// Days from 1970-01-01 to January 1 of year in the same calendar (negative
// before 1970), exact for every year.
std::int64_t daysfromepoch(std::int32_t year);

// Days of a year before the first of month (1 to 12; 13 gives the year's
// length), in a leap year or another; the caller's calendar says which.
std::int32_t daysbefore(std::int32_t month, bool leap);

// Write value in decimal, right-justified over the whole field, a minus sign
// before the digits of a negative value; asterisks over the field when it does
// not fit.
void formatinteger(std::int32_t value, std::span<char> field);

} // namespace kivf
