// SPDX-License-Identifier: Apache-2.0
#include "ucf/ucf.h"

#include "bot/bot.h"
#include "co/co.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

using namespace kivf;
using namespace std::string_literals;

TEST(Ucf, CalendarArithmetic) {
    // clang-format off
    const std::tuple<DateTime, float, DateTime> cases[] = {
        {{1999, 365, 23, 59, 59, 999}, 0.001f, {2000, 1, 0, 0, 0, 0}},
        {{1970, 1, 25, 75, 0, 0}, 0.0f, {1970, 2, 2, 15, 0, 0}},
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
    inctim(0, 0, 0, 0, -86400.0f * 3, h, m, s, ms, carry);
    EXPECT_EQ((DateTime{h, m, s, ms, carry, 0}), (DateTime{0, 0, 0, 0, -3, 0}));
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
        {-134775, 1600, 366}, {12477, 2004, 60}, {-719163, 0, 366}, {-865260, -400, 366}, // 1900 no leap year, 2000 one
        {730484280836, 2000000000, 365}, {-730485719347, -2000000000, 182}}; // eras far from ours
    // clang-format on
    std::int32_t y = 0, d = 0;
    for (const auto& [days, year, jday] : known) {
        EXPECT_EQ((gregorian(days, y, d), std::array{y, d}), (std::array{year, jday})) << days;
        EXPECT_TRUE(jday != 1 || daysfromepoch(year) == days) << year;
    }
}

// indexa as the library scans: through indexb and ljust (Bot.Edits).
TEST(Bot, ScansLengthsAndNames) {
    // clang-format off
    const std::pair<std::string, std::int32_t> used[] = {
        {"abc  ", 3}, {"     ", 0}, {"ab\0de"s, 2}, {"\0abc"s, 0}, {"", 0}, {"ab \0 x"s, 3}, {"abcde", 5}};
    const std::tuple<std::string, std::int32_t, std::int32_t> names[] = { // in "B", "DELTA", "DEPMIN"
        {"DELTA", 3, 2}, {"DELTA        ", 3, 2}, {"delta", 3, 0}, {"DELT", 3, 0}, {" DELTA", 3, 0},
        {"DEPMIN", 2, 0}, {"DEPMIN", 3, 3}, {"B", 1, 1}, {"DELTA", 0, 0}, {"DELTA", -1, 0}, {"", 3, 0}};
    // clang-format on
    for (const auto& [t, n] : used) EXPECT_EQ(indexb(t), n) << t.size();
    for (const auto& [name, count, want] : names)
        EXPECT_EQ(nequal(name, "B       DELTA   DEPMIN  ", 8, count), want) << name << count;
    EXPECT_EQ(nequal("Q", "XYZ", 1, 9), 0); // never past the storage, whatever the count says
}

TEST(Bot, Edits) {
    // clang-format off
    const std::pair<std::string, std::string> ljusts[] = {{"  ab ", "ab   "}, {"     ", "     "}, {"    x", "x    "}, {" a b ", "a b  "}, {"", ""}};
    const std::pair<std::string, std::string> masks[] = {{"a\tb\x1f c\x7f\x80\xff~ !\0\n"s, "a?b? c?\x80\xff~ !??"}, {"", ""}};
    const std::tuple<bool, std::string, std::int32_t, std::string, std::string> cases[] = {
        {true, "x\"y'z\"w", 7, "???????", "X\"y'Z\"w"}, // either quote toggles the same state
        {false, "AB'CD'EF", 8, "????????", "ab'CD'ef"}, {true, "abcde", 3, "-----", "ABC--"},
        {true, "abcdef", 6, "??", "AB"}, {true, "ab", 6, "????", "AB??"}, {true, "abc", -4, "zzz", "zzz"}};
    // clang-format on
    for (auto [in, want] : ljusts) EXPECT_EQ((ljust(in), in), want);
    for (auto [in, want] : masks) EXPECT_EQ((maskcontrols(in), in), want);
    for (auto [up, in, count, out, want] : cases)
        EXPECT_EQ((modcase(up, in, count, out), out), want) << in;
}
