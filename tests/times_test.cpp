// SPDX-License-Identifier: Apache-2.0
// Nominal rates, sample times and instants.
#include "dff/kiv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace kivf {
namespace {

__extension__ using I128 = __int128;
constexpr std::int64_t kDay = 86'400'000'000;

// What every finite positive float must give: at most 9 digits without trailing
// zeros, whose interval, as the rule states it (through text here), is the float;
// an interval as short as the float's shortest decimal, a rate no longer.
void expectnominal(std::uint32_t bits) {
    float f = 0;
    std::memcpy(&f, &bits, sizeof f);
    Nominal n;
    ASSERT_TRUE(nominal(f, n)) << f;
    std::array<char, 64> t{}, s{};
    std::snprintf(t.data(), t.size(), "%llde%d", static_cast<long long>(n.digits), n.exp10);
    const float back = n.rate ? static_cast<float>(1.0 / std::strtod(t.data(), nullptr))
                              : std::strtof(t.data(), nullptr);
    const auto end = std::to_chars(s.data(), s.data() + s.size(), f, std::chars_format::scientific);
    const auto shortest = std::count_if(s.data(), std::find(s.data(), end.ptr, 'e'), isdigit);
    const auto digits = std::strchr(t.data(), 'e') - t.data();
    ASSERT_TRUE(back == f && n.digits > 0 && (n.digits < 10 || n.digits % 10 != 0) &&
                (n.rate ? digits <= shortest : digits == shortest))
        << std::hexfloat << f << " " << t.data() << " rate " << n.rate;
}

TEST(Nominal, TheSimplestDecimalOfStoredIntervals) {
    struct Case {
        float delta;
        std::int64_t digits;
        std::int32_t exp10;
        bool rate;
        double hz;
    };
    // clang-format off
    const Case cases[] = {
        {1.0F, 1, 0, true, 1},             // a rate and an interval alike: the rate
        {10.0F, 1, -1, true, 0.1},         // 0.1 Hz and 10 s alike
        {3.0F, 3, 0, false, 1.0 / 3},      // no decimal rate of so few digits
        {0.032F, 32, -3, false, 31.25}, {static_cast<float>(1.0 / 33.333), 33333, -3, true, 33.333},
        {static_cast<float>(1.0 / 10.001), 9999, -5, false, 1e5 / 9999}, // 0.09999 s is shorter
        {0.1F, 1, 1, true, 10}, {static_cast<float>(1.0 / 3), 3, 0, true, 3}, {0.3F, 3, -1, false, 10.0 / 3},
        {1.5e-6F, 15, -7, false, 1e7 / 15}, {1e-45F, 7, 44, true, 7e44}, // the least float: 1/7e44 nearest
        {0x1p-83F, 9671406, 18, true, 9.671406e24},   // a power of two: the rate below its target
        {0x1.ffcp+2F, 79960937, -7, false, 1e7 / 79960937.0}, // 7.99609375: two as near, the smaller
        // 7.038531e-26 is nearest this float, though its double lies halfway to the next one
        {0x1.5c87fap-84F, 7038531, -32, false, 1 / 7.038531e-26},
        {0x1.a71fcp-71F, 7, -22, false, 1e22 / 7}}; // 10^22 / 7, not 1 / (7e-22 as a double)
    // clang-format on
    for (const Case& c : cases) {
        Nominal n;
        ASSERT_TRUE(nominal(c.delta, n)) << c.delta;
        EXPECT_EQ(std::tuple(n.digits, n.exp10, n.rate, n.hz()),
                  std::tuple(c.digits, c.exp10, c.rate, c.hz));
        // The interval: the decimal itself, or a rate's reciprocal (correctly rounded: within
        // an ulp of 1 / hz).
        std::array<char, 40> t{};
        std::snprintf(t.data(), t.size(), "%llde%d", static_cast<long long>(c.digits), c.exp10);
        if (!c.rate)
            EXPECT_EQ(n.seconds(), std::strtod(t.data(), nullptr)) << c.delta;
        else
            EXPECT_NEAR(n.seconds() * c.hz, 1.0, 2.3e-16) << c.delta;
    }
    Nominal n{7, 7, true};
    for (const float bad : {0.0F, -0.0F, -0.025F, kUndfFlt, HUGE_VALF, -HUGE_VALF, NAN})
        EXPECT_TRUE(!nominal(bad, n) && n.digits == 7) << bad; // left as it was
    // The rates recorders use, as the converters write them, read back as given.
    for (const double rate : {0.1, 0.25, 2.5, 12.5, 31.25, 33.333, 40.0, 62.5, 100.0, 1000.0}) {
        float delta = 0;
        ASSERT_EQ(checkrate(rate, 100, delta), Rate::ok) << rate;
        EXPECT_TRUE(nominal(delta, n) && n.hz() == rate) << rate << " read back as " << n.hz();
    }
}

TEST(Nominal, EveryFloatOfRandomSampleAndOfTheEnds) {
    std::mt19937 gen(37);
    std::uniform_int_distribution<std::uint32_t> bits(1, 0x7f7fffffU); // finite, positive
    for (int j = 0; j < 300'000; ++j) ASSERT_NO_FATAL_FAILURE(expectnominal(bits(gen)));
    // The least floats, where an ulp is most of the value, and the greatest.
    for (std::uint32_t b = 1; b < 4096; ++b) {
        ASSERT_NO_FATAL_FAILURE(expectnominal(b));
        ASSERT_NO_FATAL_FAILURE(expectnominal(0x7f800000U - b));
    }
    // The binades of the intervals recorders write, densely: [1/128, 1/64) holds those of 100 and
    // 125 Hz, [1/64, 1/32) those of 40, 50 and 33.333 Hz.
    for (std::uint32_t b = 0x3c000000U; b < 0x3d000000U; b += 61)
        ASSERT_NO_FATAL_FAILURE(expectnominal(b));
}

// i × num / den to the nearest microsecond, halves to even, apart from the library.
std::int64_t expected(std::int64_t i, I128 num, I128 den) {
    const I128 p = I128{i < 0 ? -i : i} * num, r = p % den;
    const I128 q = p / den + (2 * r > den || (2 * r == den && (p / den) % 2 == 1) ? 1 : 0);
    return static_cast<std::int64_t>(i < 0 ? -q : q);
}

// Thirty days of 200 Hz (5000 µs) and 33.333 Hz (10^9 / 33333 µs, not whole): windows longer than
// the remainder's cycle, at the start, amid and at the end, stepped; and sampled one at a time.
TEST(SampleTimes, ThirtyDaysExactToTheMicrosecond) {
    for (const auto& [rate, num, den] :
         {std::tuple(200.0, 5000, 1), std::tuple(33.333, 1'000'000'000, 33333)}) {
        float delta = 0;
        Nominal n;
        ASSERT_TRUE(checkrate(rate, 2, delta) == Rate::ok && nominal(delta, n));
        const auto total = static_cast<std::int64_t>(30 * 86400 * rate);
        std::vector<std::int64_t> window(1 << 17);
        for (const std::int64_t first :
             {std::int64_t{0}, total / 2 + 12345, total - std::ssize(window)}) {
            ASSERT_TRUE(sampleoffsets(n, first, window));
            for (std::size_t j = 0; j < window.size(); ++j)
                ASSERT_EQ(window[j], expected(first + std::int64_t(j), num, den))
                    << rate << " " << first + std::int64_t(j);
        }
        for (std::int64_t i = -total, us = -1; i < total; i += 999'983)
            ASSERT_TRUE(sampleoffset(n, i, us) && us == expected(i, num, den)) << rate << " " << i;
    }
}

TEST(SampleTimes, HalvesToEvenAndFarOnesRefusedNotWrapped) {
    Nominal n, huge, tiny, day; // 1.5 µs: samples 1, 3, 5, 7 fall on halves
    ASSERT_TRUE(nominal(1.5e-6F, n) && nominal(3e38F, huge) && nominal(1e-45F, tiny) &&
                nominal(86400.0F, day));
    std::array<std::int64_t, 8> out{};
    ASSERT_TRUE(sampleoffsets(n, 0, out));
    EXPECT_EQ(out, (std::array<std::int64_t, 8>{0, 2, 3, 4, 6, 8, 9, 10}));
    ASSERT_TRUE(sampleoffsets(n, -3, std::span(out).first(4))); // stepped one at a time
    EXPECT_EQ(std::vector(out.begin(), out.begin() + 4),
              (std::vector<std::int64_t>{-4, -3, -2, 0}));
    std::int64_t us = 7, zero = 7, tinyus = 7;
    EXPECT_TRUE(sampleoffset(huge, 0, zero) && !sampleoffset(huge, 1, us) && zero == 0);
    EXPECT_TRUE(sampleoffset(tiny, std::int64_t{1} << 62, tinyus) && tinyus == 0);
    // 2^62 µs is some 53 million days: the last day within, the next beyond.
    const std::int64_t last = (std::int64_t{1} << 62) / kDay;
    EXPECT_TRUE(sampleoffset(day, last, us) && us == last * kDay);
    EXPECT_FALSE(sampleoffset(day, last + 1, us) || sampleoffset(day, -(last + 1), us) ||
                 sampleoffset(day, INT64_MAX, us));
    EXPECT_TRUE(sampleoffsets(day, last - 7, out) && !sampleoffsets(day, last - 6, out));
    EXPECT_FALSE(sampleoffsets(Nominal{}, 0, out)); // no interval at all
    // Ten digits are none nominal gives: 10^37 / 9e18 µs would pass for an interval.
    EXPECT_FALSE(sampleoffset(Nominal{999'999'999, -31, true}, 1, us) ||
                 sampleoffset(Nominal{9'000'000'000'000'000'000, -31, true}, 1, us) ||
                 sampleoffset(Nominal{1'000'000'000, 0, false}, 1, us));
}

TEST(Instants, IsoTimesOfTablesAndCommandLines) {
    const std::pair<const char*, std::int64_t> cases[] = {
        // microseconds reckoned apart from the library; 7: refused
        {"2000-03-01T01:02:03.004005Z", 951'872'523'004'005},
        {"2016-02-29 23:59:59.5", 1'456'790'399'500'000},
        {"1969-12-31T23:59:59.999999", -1},
        {"2100-03-01", 4'107'542'400'000'000},
        {"2100-03-01T00:00Z", 4'107'542'400'000'000},
        {"0001-01-01", -62'135'596'800'000'000},
        {"9999-12-31T23:59:59", 253'402'300'799'000'000},
        {"", 7},
        {"2017", 7},
        {"2017-1-01", 7},
        {"2017-13-01", 7},
        {"2017-00-10", 7},
        {"2017-02-29", 7},
        {"2100-02-29", 7},
        {"2017-04-31", 7},
        {"2017-12-32", 7},
        {"2017-01-00", 7},
        {"2017-01-01T", 7},
        {"2017-01-01T1:00", 7},
        {"2017-01-01T24:00", 7},
        {"2017-01-01T12:60", 7},
        {"2017-01-01T12:00:60", 7},
        {"2017-01-01T12:00:00.", 7},
        {"2017-01-01x", 7},
        {"2017-01-01T12:00:00.1234567", 7},
        {"2017-01-01T12:00:00,5", 7},
        {"2017-01-01T12:00:00ZZ", 7},
        {"+017-01-01", 7},
        {"2017-01-01T12:00:00.5 ", 7}};
    for (const auto& [text, want] : cases) {
        std::int64_t us = 7;
        EXPECT_TRUE(isotime(text, us) == (want != 7) && us == want) << text << " " << us;
    }
}

} // namespace
} // namespace kivf
