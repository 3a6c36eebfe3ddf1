#include "ucf/ucf.h"

#include <gtest/gtest.h>

using namespace kivf;

TEST(Idttm, CarriesAndLeapYears) {
    struct Case {
        DateTime t1;
        float inc;
        DateTime want;
    } cases[] = {
        {{1999, 365, 23, 59, 59, 999}, 0.001f, {2000, 1, 0, 0, 0, 0}},
        {{1995, 365, 23, 59, 59, 0}, 1.0f, {1996, 1, 0, 0, 0, 0}},
        {{1996, 366, 23, 0, 0, 0}, 3600.0f, {1997, 1, 0, 0, 0, 0}},
        {{1900, 365, 0, 0, 0, 0}, 86400.0f, {1900, 366, 0, 0, 0, 0}}, // no century rule
        {{2100, 366, 12, 0, 0, 0}, 0.0f, {2100, 366, 12, 0, 0, 0}},
        {{1996, 1, 0, 0, 0, 0}, -0.5f, {1995, 365, 23, 59, 59, 500}},
        {{1996, 1, 0, 0, 0, 0}, -60.0f, {1995, 365, 23, 59, 0, 0}},
        {{1970, 0, 0, 0, 0, 0}, 0.0f, {1969, 365, 0, 0, 0, 0}}, // day 0
        {{1970, 1, 25, 0, 0, 0}, 0.0f, {1970, 2, 1, 0, 0, 0}},
        {{1970, 1, 0, 75, 0, 0}, 0.0f, {1970, 1, 1, 15, 0, 0}},
        {{1970, 1, 0, 0, 0, 0}, 2.3f, {1970, 1, 0, 0, 2, 299}}, // 32-bit fraction
        {{1970, 1, 0, 0, 0, 0}, 1.7f, {1970, 1, 0, 0, 1, 700}},
        {{1970, 1, 0, 0, 0, 0}, 1.9999f, {1970, 1, 0, 0, 1, 999}},
        {{1970, 1, 0, 0, 0, 0}, -1.5f, {1969, 365, 23, 59, 58, 500}},
        {{1970, 0, 0, 0, 0, 0}, 3600.5f, {1969, 365, 1, 0, 0, 500}},
        {{1970, 0, 0, 0, 0, 0}, 59.9999f, {1969, 365, 0, 0, 59, 999}},
        {{1970, 0, 0, 0, 0, 0}, 700000000.5f, {1992, 66, 20, 26, 40, 0}},
        {{1972, 366, 0, 0, 0, 0}, 86400.0f * 366, {1974, 1, 0, 0, 0, 0}},
        {{1970, 1, 0, 0, 0, 0}, -86400.0f * 1461 * 3, {1958, 1, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        DateTime out{};
        idttm(c.t1, c.inc, out);
        EXPECT_EQ(out, c.want) << c.t1[0] << "/" << c.t1[1] << " + " << c.inc;
        DateTime same = c.t1; // the result may overwrite the input
        idttm(same, c.inc, same);
        EXPECT_EQ(same, c.want);
    }
}

TEST(Inctim, SplitsBeforeNormalisingAndReportsCarry) {
    std::int32_t h, m, s, ms, carry;
    inctim(0, 0, 10, 0, -1.5f, h, m, s, ms, carry); // -1 s and -500 ms
    EXPECT_EQ((DateTime{h, m, s, ms, carry, 0}), (DateTime{0, 0, 8, 500, 0, 0}));
    inctim(0, 0, 0, 0, -60.0f, h, m, s, ms, carry);
    EXPECT_EQ((DateTime{h, m, s, ms, carry, 0}), (DateTime{23, 59, 0, 0, -1, 0}));
    inctim(25, 0, 0, 0, 0.0f, h, m, s, ms, carry);
    EXPECT_EQ(h, 1);
    EXPECT_EQ(carry, 1);
    inctim(0, 0, 0, 0, -86400.0f * 3, h, m, s, ms, carry);
    EXPECT_EQ(carry, -3);
}

TEST(Inctim, AbsurdIncrementsStayDefined) {
    // Out of the integer range or not a number: defined results, no overflow.
    std::int32_t h = -1, m = -1, s = -1, ms = -1, carry = 0;
    inctim(0, 0, 0, 0, 1e30f, h, m, s, ms, carry);
    EXPECT_TRUE(h >= 0 && h < 24 && m >= 0 && m < 60 && s >= 0 && s < 60);
    inctim(0, 0, 0, 0, __builtin_nanf(""), h, m, s, ms, carry);
    EXPECT_EQ((DateTime{h, m, s, ms, carry, 0}), (DateTime{0, 0, 0, 0, 0, 0}));
}

TEST(Incdat, StepsYearsBothWays) {
    struct Case {
        std::int32_t y, d, n, wy, wd;
    } cases[] = {
        {1996, 366, 1, 1997, 1},
        {1997, 1, -1, 1996, 366},
        {1970, 0, 0, 1969, 365},
        {1900, 1, 365, 1900, 366},
        {2000, 1, 366 + 365 + 365 + 365, 2004, 1},
        {1970, 1, 1461 * 1000, 5970, 1},
        {1970, 1, -1461 * 1000, -2030, 1},
        {-1, 1, -1, -2, 365},
        {-4, 366, 0, -4, 366},
        {-4, 367, 0, -3, 1},
        {1970, 1, 2147483647, 5881580, 0},
    };
    for (const auto& c : cases) {
        std::int32_t y = 0, d = 0;
        incdat(c.y, c.d, c.n, y, d);
        if (c.wd == 0) { // only check the result is normalised
            EXPECT_TRUE(d >= 1 && d <= daysinyear(y)) << y << " " << d;
            continue;
        }
        EXPECT_EQ(y, c.wy) << c.y << "/" << c.d << " + " << c.n;
        EXPECT_EQ(d, c.wd) << c.y << "/" << c.d << " + " << c.n;
    }
}
