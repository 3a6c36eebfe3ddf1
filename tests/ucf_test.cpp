// SPDX-License-Identifier: Apache-2.0
#include "ucf/ucf.h"

#include "bot/bot.h"
#include "co/co.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

using namespace kivf;

TEST(Ucf, CalendarArithmetic) {
    // clang-format off
    const std::tuple<DateTime, float, DateTime> cases[] = {
        {{1999, 365, 23, 59, 59, 999}, 0.001f, {2000, 1, 0, 0, 0, 0}},
        {{1970, 1, 25, 75, 0, 0}, 0.0f, {1970, 2, 2, 15, 0, 0}},
        {{1970, 1, 0, 0, 59, 1000}, 0.0f, {1970, 1, 0, 1, 0, 0}},
        {{1970, 1, 0, 0, 0, 0}, 2.3f, {1970, 1, 0, 0, 2, 299}}, // 32-bit fraction, truncated
        {{1970, 1, 0, 0, 0, 0}, -1.5f, {1969, 365, 23, 59, 58, 500}},
        {{1970, 0, 0, 0, 0, 0}, 700000000.5f, {1992, 66, 20, 26, 40, 0}}};
    const std::array<std::int32_t, 5> days[] = { // year, day, days added, result
        {1996, 366, 1, 1997, 1}, {1997, 1, -1, 1996, 366}, {1996, 365, 1, 1996, 366}, {2000, 1, 1461, 2004, 1},
        {1970, 1, 1461 * 1000, 5970, 1}, {1970, 1, -1461 * 1000, -2030, 1}, {-4, 366, 0, -4, 366}, {-4, 367, 0, -3, 1}};
    // clang-format on
    DateTime same{}; // the result may overwrite the input
    for (const auto& [t1, inc, want] : cases)
        EXPECT_EQ((same = t1, idttm(same, inc, same), same), want)
            << t1[0] << "/" << t1[1] << "+" << inc;
    std::int32_t y = 0, d = 0, h = -1, m = -1, s = -1, ms = -1, carry = 7;
    for (const auto& c : days)
        EXPECT_EQ((incdat(c[0], c[1], c[2], y, d), std::array{y, d}), (std::array{c[3], c[4]}))
            << c[0] << "/" << c[1] << "+" << c[2];
    incdat(1970, 1, 2147483647, y, d); // no overflow: a normalised day
    EXPECT_TRUE(y > 5000000 && d >= 1 && d <= daysinyear(y)) << y << " " << d;
    inctim(0, 0, 0, 0, -86400.0f * 3, h, m, s, ms, carry);
    EXPECT_EQ((DateTime{h, m, s, ms, carry, 0}), (DateTime{0, 0, 0, 0, -3, 0}));
    inctim(0, 0, 0, 0, 1e30f, h, m, s, ms, carry); // beyond the integers: still a time of day
    EXPECT_TRUE(h >= 0 && h < 24 && m >= 0 && m < 60 && s >= 0 && s < 60);
    inctim(0, 0, 0, 0, __builtin_nanf(""), h, m, s, ms, carry);
    EXPECT_EQ((DateTime{h, m, s, ms, carry, 0}), (DateTime{0, 0, 0, 0, 0, 0}));
}

TEST(Ucf, IntegerFormatting) {
    // clang-format off
    const std::tuple<std::int32_t, std::size_t, std::string> cases[] = { // value, width, field written
        {0, 1, "0"}, {0, 2, " 0"}, {0, 3, "  0"}, {7, 0, ""}, {42, 1, "*"}, {108, 4, " 108"}, {-5, 2, "-5"}, {-5, 1, "*"}, {-99, 3, "-99"},
        {-100, 3, "***"}, {1337, 4, "1337"}, {12345, 4, "****"}, {-1234567, 9, " -1234567"}, {INT32_MAX, 10, "2147483647"},
        {INT32_MAX, 9, "*********"}, {INT32_MIN, 11, "-2147483648"}, {INT32_MIN, 10, "**********"}, {INT32_MIN, 12, " -2147483648"}};
    // clang-format on
    for (const auto& [v, w, want] : cases) { // bot's and co's writers are this one formatter
        std::string f(w, '?'), b(w, '?'), c(w, '?');
        formatinteger(v, f);
        cnvita(v, b);
        wrint(v, c);
        EXPECT_EQ(std::tuple(f, b, c), std::tuple(want, want, want)) << v << " in " << w;
    }
}

TEST(Ucf, GregorianDaysFromEpoch) {
    // clang-format off
    const std::tuple<std::int64_t, std::int32_t, std::int32_t> known[] = { // days since 1970-01-01, year, day of year
        {0, 1970, 1}, {365, 1971, 1}, {730, 1972, 1}, {1096, 1973, 1}, {10957, 2000, 1}, {11323, 2001, 1}, {-365, 1969, 1},
        {-25567, 1900, 1}, {-135140, 1600, 1}, {-719162, 1, 1}, {-719528, 0, 1}, {-719893, -1, 1}, {-720623, -3, 1},
        {-720989, -4, 1}, {-756052, -100, 1}, {-865259, -399, 1}, {-865625, -400, 1}, {2932897, 10000, 1},
        {784351576412, INT32_MAX, 1}, {-784353015833, INT32_MIN, 1}, // new years, also daysfromepoch's
        {-1, 1969, 365}, {-25509, 1900, 59}, {-25508, 1900, 60}, {11016, 2000, 60}, {11322, 2000, 366}, {47846, 2100, 365},
        {-134775, 1600, 366}, {12477, 2004, 60}, {-719163, 0, 366}, {-865260, -400, 366}}; // 1900 no leap year, 2000 one
    // clang-format on
    std::int32_t y = 0, d = 0;
    for (const auto& [days, year, jday] : known) {
        EXPECT_EQ((gregorian(days, y, d), std::array{y, d}), (std::array{year, jday})) << days;
        EXPECT_TRUE(jday != 1 || daysfromepoch(year) == days) << year;
    }
}
