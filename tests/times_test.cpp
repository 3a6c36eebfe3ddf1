// Nominal rates, sample times and instants.
#include "dff/kiv.h"

#include <gtest/gtest.h>

#include <array>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace kivf {
namespace {

__extension__ using I128 = __int128;

float bitsfloat(std::uint32_t b) {
    float f = 0;
    std::memcpy(&f, &b, sizeof f);
    return f;
}

std::string text(const Nominal& n) {
    std::array<char, 40> t{};
    std::snprintf(t.data(), t.size(), "%llde%d", static_cast<long long>(n.digits), n.exp10);
    return t.data();
}

// The nominal value's interval as the rule states it, through text.
float interval(const Nominal& n) {
    const std::string t = text(n);
    return n.rate ? static_cast<float>(1.0 / std::strtod(t.c_str(), nullptr))
                  : std::strtof(t.c_str(), nullptr);
}

// Significant digits of the shortest decimal that reads back as f.
int shortest(float f) {
    std::array<char, 64> buf{};
    const auto res =
        std::to_chars(buf.data(), buf.data() + buf.size(), f, std::chars_format::scientific);
    int n = 0;
    for (const char* p = buf.data(); p < res.ptr && *p != 'e'; ++p) n += *p >= '0' && *p <= '9';
    return n;
}

int digits(std::int64_t m) {
    int n = 0;
    for (; m > 0; m /= 10) ++n;
    return n;
}

// What every finite positive float must give: a decimal of at most 9 digits,
// without trailing zeros, whose interval is the float; an interval exactly as
// short as the float's shortest decimal, a rate no longer than that.
void expectnominal(float f) {
    Nominal n;
    ASSERT_TRUE(nominal(f, n)) << f;
    ASSERT_GE(n.digits, 1) << f;
    ASSERT_TRUE(n.digits < 10 || n.digits % 10 != 0) << f << " " << text(n);
    ASSERT_EQ(interval(n), f) << std::hexfloat << f << " " << text(n) << " rate " << n.rate;
    const int s = shortest(f);
    if (n.rate)
        ASSERT_LE(digits(n.digits), s) << f << " " << text(n);
    else
        ASSERT_EQ(digits(n.digits), s) << f << " " << text(n);
}

TEST(Nominal, TheSimplestDecimalOfStoredIntervals) {
    struct Case {
        float delta;
        std::int64_t digits;
        std::int32_t exp10;
        bool rate;
        double hz;
    };
    const Case cases[] = {
        {0.025F, 4, 1, true, 40},
        {0.01F, 1, 2, true, 100},
        {0.05F, 2, 1, true, 20},
        {0.005F, 2, 2, true, 200},
        {1.0F, 1, 0, true, 1},        // a rate and an interval alike: the rate
        {10.0F, 1, -1, true, 0.1},    // 0.1 Hz and 10 s alike
        {3.0F, 3, 0, false, 1.0 / 3}, // no decimal rate of so few digits
        {0.032F, 32, -3, false, 31.25},
        {static_cast<float>(1.0 / 33.333), 33333, -3, true, 33.333},
        {static_cast<float>(1.0 / 10.001), 9999, -5, false, 1e5 / 9999}, // 0.09999 s is shorter
        {0.1F, 1, 1, true, 10},
        {static_cast<float>(1.0 / 3), 3, 0, true, 3},
        {0.3F, 3, -1, false, 10.0 / 3},
        {1.5e-6F, 15, -7, false, 1e7 / 15},
        {1e-45F, 7, 44, true, 7e44}, // the least float: 1/7e44 lies nearest it
    };
    for (const Case& c : cases) {
        Nominal n;
        ASSERT_TRUE(nominal(c.delta, n)) << c.delta;
        EXPECT_EQ(n.digits, c.digits) << c.delta;
        EXPECT_EQ(n.exp10, c.exp10) << c.delta;
        EXPECT_EQ(n.rate, c.rate) << c.delta;
        EXPECT_EQ(n.hz(), c.hz) << c.delta;
        EXPECT_EQ(static_cast<float>(n.seconds()), c.delta) << c.delta;
    }
    Nominal n{7, 7, true};
    for (const float bad : {0.0F, -0.0F, -0.025F, kUndfFlt, HUGE_VALF, -HUGE_VALF, NAN}) {
        EXPECT_FALSE(nominal(bad, n)) << bad;
        EXPECT_EQ(n.digits, 7); // left as it was
    }
}

// The rates recorders use, as the converters write them, read back as given.
TEST(Nominal, RatesOfRecordersReadBackAsGiven) {
    const double rates[] = {0.1, 0.2, 0.25, 0.5,   1,   2,      2.5, 4,   5,    8,   10,  12.5, 15,
                            16,  20,  25,   31.25, 32,  33.333, 40,  50,  62.5, 64,  80,  100,  120,
                            125, 128, 160,  200,   250, 256,    400, 500, 512,  640, 800, 1000};
    for (const double rate : rates) {
        float delta = 0;
        ASSERT_EQ(checkrate(rate, 100, delta), Rate::ok) << rate;
        Nominal n;
        ASSERT_TRUE(nominal(delta, n)) << rate;
        EXPECT_EQ(n.hz(), rate) << rate << " read back as " << text(n);
    }
}

TEST(Nominal, EveryFloatOfRandomSampleAndOfSmallBinades) {
    std::mt19937 gen(37);
    std::uniform_int_distribution<std::uint32_t> bits(1, 0x7f7fffffU); // finite, positive
    for (int j = 0; j < 300'000; ++j) ASSERT_NO_FATAL_FAILURE(expectnominal(bitsfloat(bits(gen))));
    // The least floats, where an ulp is most of the value, every one of them.
    for (std::uint32_t b = 1; b < (1U << 12); ++b)
        ASSERT_NO_FATAL_FAILURE(expectnominal(bitsfloat(b)));
    // The greatest binade's last floats, and its first.
    for (std::uint32_t b = 0x7f7fffffU; b > 0x7f7fffffU - 4096; --b)
        ASSERT_NO_FATAL_FAILURE(expectnominal(bitsfloat(b)));
}

// Whole binades of the intervals recorders write: [1/128, 1/64) holds those of
// 100 and 125 Hz, [1/64, 1/32) those of 40, 50 and 33.333 Hz.
class Binade : public testing::TestWithParam<std::uint32_t> {};
TEST_P(Binade, EveryFloatOfIt) {
    const std::uint32_t first = GetParam();
    for (std::uint32_t b = first; b < first + (1U << 23); ++b)
        ASSERT_NO_FATAL_FAILURE(expectnominal(bitsfloat(b)));
}
INSTANTIATE_TEST_SUITE_P(Nominal, Binade, testing::Values(0x3c000000U, 0x3c800000U));

// i × num / den to the nearest microsecond, halves to even, apart from the library.
std::int64_t expected(std::int64_t i, I128 num, I128 den) {
    const I128 p = I128{i < 0 ? -i : i} * num;
    I128 q = p / den;
    const I128 r = p % den;
    if (2 * r > den || (2 * r == den && q % 2 == 1)) ++q;
    return static_cast<std::int64_t>(i < 0 ? -q : q);
}

// Thirty days of samples, every one: 200 Hz (5000 µs) and 33.333 Hz (10^9 /
// 33333 µs, not whole), stepped a chunk at a time and sampled one at a time.
TEST(SampleTimes, ThirtyDaysExactToTheMicrosecond) {
    struct Case {
        double rate;
        std::int64_t num, den;
    };
    for (const Case c : {Case{200, 5000, 1}, Case{33.333, 1'000'000'000, 33333}}) {
        float delta = 0;
        ASSERT_EQ(checkrate(c.rate, 2, delta), Rate::ok);
        Nominal n;
        ASSERT_TRUE(nominal(delta, n));
        const auto total = static_cast<std::int64_t>(30 * 86400 * c.rate);
        std::vector<std::int64_t> chunk(1 << 20);
        for (std::int64_t first = 0; first < total;
             first += static_cast<std::int64_t>(chunk.size())) {
            const auto len =
                std::min<std::int64_t>(static_cast<std::int64_t>(chunk.size()), total - first);
            ASSERT_TRUE(
                sampleoffsets(n, first, std::span(chunk).first(static_cast<std::size_t>(len))));
            for (std::int64_t j = 0; j < len; ++j)
                ASSERT_EQ(chunk[static_cast<std::size_t>(j)], expected(first + j, c.num, c.den))
                    << c.rate << " sample " << first + j;
        }
        for (std::int64_t i = -total; i < total; i += 999'983) {
            std::int64_t us = -1;
            ASSERT_TRUE(sampleoffset(n, i, us));
            ASSERT_EQ(us, expected(i, c.num, c.den)) << c.rate << " sample " << i;
        }
    }
}

TEST(SampleTimes, HalvesToEvenFromEitherRoutine) {
    Nominal n; // 1.5 µs: samples 1, 3, 5, 7 fall on halves
    ASSERT_TRUE(nominal(1.5e-6F, n));
    std::array<std::int64_t, 8> out{};
    ASSERT_TRUE(sampleoffsets(n, 0, out));
    EXPECT_EQ(out, (std::array<std::int64_t, 8>{0, 2, 3, 4, 6, 8, 9, 10}));
    ASSERT_TRUE(sampleoffsets(n, -3, std::span(out).first(4))); // stepped one at a time
    EXPECT_EQ(out[0], -4);
    EXPECT_EQ(out[1], -3);
    EXPECT_EQ(out[2], -2);
    EXPECT_EQ(out[3], 0);
}

TEST(SampleTimes, FarIntervalsAndIndicesAreRefusedNotWrapped) {
    std::int64_t us = 7;
    Nominal huge, tiny, day;
    ASSERT_TRUE(nominal(3e38F, huge));
    ASSERT_TRUE(nominal(1e-45F, tiny));
    ASSERT_TRUE(nominal(86400.0F, day));
    EXPECT_TRUE(sampleoffset(huge, 0, us));
    EXPECT_EQ(us, 0);
    EXPECT_FALSE(sampleoffset(huge, 1, us));
    EXPECT_TRUE(sampleoffset(tiny, std::int64_t{1} << 62, us));
    EXPECT_EQ(us, 0);
    // 2^62 µs is some 53 million days: the last day within, the next beyond.
    const std::int64_t lastday = (std::int64_t{1} << 62) / 86'400'000'000;
    EXPECT_TRUE(sampleoffset(day, lastday, us));
    EXPECT_EQ(us, lastday * 86'400'000'000);
    EXPECT_FALSE(sampleoffset(day, lastday + 1, us));
    EXPECT_FALSE(sampleoffset(day, -(lastday + 1), us));
    EXPECT_FALSE(sampleoffset(day, INT64_MAX, us));
    std::array<std::int64_t, 3> out{};
    EXPECT_TRUE(sampleoffsets(day, lastday - 2, out));
    EXPECT_FALSE(sampleoffsets(day, lastday - 1, out));
    EXPECT_FALSE(sampleoffsets(Nominal{}, 0, out)); // no interval at all
}

CmHdr header(std::int32_t year, std::int32_t jday, std::int32_t msec, float b, float delta,
             std::int32_t npts) {
    CmHdr h{};
    KmHdr k{};
    defaults(h, k);
    h.n(nslot::NZYEAR) = year;
    h.n(nslot::NZJDAY) = jday;
    h.n(nslot::NZHOUR) = 0;
    h.n(nslot::NZMIN) = 0;
    h.n(nslot::NZSEC) = 0;
    h.n(nslot::NZMSEC) = msec;
    h.f(fslot::B) = b;
    h.f(fslot::DELTA) = delta;
    h.n(nslot::NPTS) = npts;
    h.l(lslot::LEVEN) = 1;
    return h;
}

constexpr std::int64_t kDay = 86'400'000'000;

TEST(SampleTimes, StartAndEndOfHeaders) {
    // 6000 samples at 40 Hz from 00:00:00.019: the last at 00:02:29.994000,
    // whatever E says.
    CmHdr h = header(2017, 67, 19, 0.0F, 0.025F, 6000);
    h.f(fslot::E) = 149.975F;
    const std::int64_t day = 1'488'931'200'000'000; // 2017-03-08
    std::int64_t us = 0;
    ASSERT_TRUE(starttime(h, us));
    EXPECT_EQ(us, day + 19'000);
    ASSERT_TRUE(endtime(h, us));
    EXPECT_EQ(us, day + 149'994'000);
    h.f(fslot::B) = 0.000250F; // B to the microsecond
    ASSERT_TRUE(endtime(h, us));
    EXPECT_EQ(us, day + 149'994'250);
    // An uneven file ends at its last x, E.
    h.l(lslot::LEVEN) = 0;
    h.f(fslot::E) = 149.5F;
    ASSERT_TRUE(endtime(h, us));
    EXPECT_EQ(us, day + 19'000 + 149'500'000);
    // What an even end needs.
    for (const auto unset :
         {+[](CmHdr& c) { c.n(nslot::NPTS) = 0; }, +[](CmHdr& c) { c.n(nslot::NPTS) = kUndfInt; },
          +[](CmHdr& c) { c.f(fslot::DELTA) = kUndfFlt; },
          +[](CmHdr& c) { c.f(fslot::B) = kUndfFlt; },
          +[](CmHdr& c) { c.n(nslot::NZMSEC) = kUndfInt; }}) {
        CmHdr c = header(2017, 67, 19, 0.0F, 0.025F, 6000);
        unset(c);
        us = 5;
        EXPECT_FALSE(endtime(c, us));
        EXPECT_EQ(us, 5);
    }
    // A reference out of every range, and seconds beyond any instant.
    CmHdr far = header(2147483647, 1, 0, 0.0F, 0.025F, 1);
    EXPECT_FALSE(starttime(far, us));
    far = header(1970, 1, 0, 3e38F, 0.025F, 1);
    EXPECT_FALSE(starttime(far, us));
    // Fields out of their ranges count on: day 0 is the last of the year before.
    CmHdr on = header(1970, 0, 0, -1e-6F, 1.0F, 1);
    ASSERT_TRUE(instant(on, -1e-6F, us));
    EXPECT_EQ(us, -kDay - 1);
}

TEST(Instants, SplitInTheGregorianCalendar) {
    struct Case {
        std::int64_t us;
        Instant t;
    };
    const Case cases[] = {
        {0, {1970, 1, 0, 0, 0, 0, 0}},
        {-1, {1969, 365, 23, 59, 59, 999, 999}},
        {951'786'123'004'005, {2000, 60, 1, 2, 3, 4, 5}},
        {4'107'542'400'000'000, {2100, 60, 0, 0, 0, 0, 0}}, // 1 March: 2100 is no leap year
        {-11'676'096'000'000'001, {1599, 365, 23, 59, 59, 999, 999}},
    };
    for (const Case& c : cases) {
        const Instant t = splitmicros(c.us);
        EXPECT_EQ(
            (std::array{t.year, t.jday, t.hour, t.minute, t.second, t.msec, t.usec}),
            (std::array{c.t.year, c.t.jday, c.t.hour, c.t.minute, c.t.second, c.t.msec, c.t.usec}))
            << c.us;
    }
}

} // namespace
} // namespace kivf
