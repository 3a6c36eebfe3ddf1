// msxlate's pieces that carry arithmetic: start times split for the header
// and names, samples made floats, gaps and overlaps told apart, codes fit for
// names.
#include "msxlate/reader.h"
#include "msxlate/segments.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <unistd.h>

using namespace kivf::msx;

namespace {

constexpr hptime_t kSec = HPTMODULUS;

// Days since 1970-01-01 of some dates, counted from the calendar by hand.
TEST(MsxTime, SplitsIntoTheDayOfTheYearAndTheMillisecondAndItsRest) {
    struct Row {
        hptime_t t;
        std::array<std::int32_t, 7> want; // year jday hour minute second msec usec
    };
    const Row rows[] = {
        {0, {1970, 1, 0, 0, 0, 0, 0}},
        {-1, {1969, 365, 23, 59, 59, 999, 999}},
        {(20088LL * 86400 + 12 * 3600 + 34 * 60 + 56) * kSec + 789012, {2024, 366, 12, 34, 56, 789, 12}},
        {-25508LL * 86400 * kSec + 500, {1900, 60, 0, 0, 0, 0, 500}},     // 1900 is no leap year
        {47541LL * 86400 * kSec + 999999, {2100, 60, 0, 0, 0, 999, 999}}, // nor is 2100
        {11016LL * 86400 * kSec + 86399 * kSec + 1000, {2000, 60, 23, 59, 59, 1, 0}}, // 2000-02-29
    };
    for (const Row& r : rows) {
        const Start s = splittime(r.t);
        EXPECT_EQ((std::array{s.year, s.jday, s.hour, s.minute, s.second, s.msec, s.usec}), r.want)
            << r.t;
    }
}

template <class T> std::vector<float> converted(std::vector<T> in, char type, std::int64_t& changed) {
    changed = tofloats(in.data(), static_cast<std::int64_t>(in.size()), type);
    EXPECT_EQ(type, changed < 0 ? (sizeof(T) == 8 ? 'd' : 'i') : 'f');
    std::vector<float> out(in.size());
    std::memcpy(out.data(), in.data(), out.size() * 4);
    return out;
}

TEST(MsxSamples, IntegersAreExactTo2Pow24AndNearestBeyondCountingWhatChanged) {
    std::int64_t changed = 0;
    const auto y = converted<std::int32_t>({0, -7, 16777216, 16777217, -16777219, 2147483647,
                                            std::numeric_limits<std::int32_t>::min()},
                                           'i', changed);
    EXPECT_EQ(y, (std::vector<float>{0.0F, -7.0F, 16777216.0F, 16777216.0F, -16777220.0F,
                                     2147483648.0F, -2147483648.0F}));
    EXPECT_EQ(changed, 3);
    // Just beyond 2^24 at most: still counted one by one.
    EXPECT_EQ(converted<std::int32_t>({1, 16777217, 33554432}, 'i', changed),
              (std::vector<float>{1.0F, 16777216.0F, 33554432.0F}));
    EXPECT_EQ(changed, 1);
}

TEST(MsxSamples, Float64IsRoundedToNearestAndOutOfRangeIsRefusedUntouched) {
    std::int64_t changed = 0;
    const double inf = std::numeric_limits<double>::infinity();
    const auto y = converted<double>({0.5, 0.1, -inf, 3.0e38, 16777217.0}, 'd', changed);
    EXPECT_EQ(std::vector<float>(y.begin(), y.begin() + 5),
              (std::vector<float>{0.5F, 0.1F, -std::numeric_limits<float>::infinity(), 3.0e38F,
                                  16777216.0F}));
    EXPECT_EQ(changed, 3); // 0.1, 3e38 and 2^24 + 1 are not floats; an infinity stays one
    std::vector<double> big{1.0, 3.5e38, 2.0};
    char type = 'd';
    EXPECT_EQ(tofloats(big.data(), 3, type), -1);
    EXPECT_EQ(type, 'd');
    EXPECT_EQ(big, (std::vector<double>{1.0, 3.5e38, 2.0}));
    std::vector<float> same{1.5F, std::nanf("")};
    type = 'f';
    EXPECT_EQ(tofloats(same.data(), 2, type), 0);
    EXPECT_EQ(same[0], 1.5F);
    EXPECT_TRUE(std::isnan(same[1]));
}

// One channel at 1 sample a second: a segment of 10 samples from 0, then one
// starting at next (seconds); more than half a sample from 10 s is a break.
TEST(MsxBreaks, HalfASampleFromTheNextExpectedOneTellsGapsAndOverlaps) {
    struct Row {
        double next;
        std::int64_t gaps, overlaps;
    };
    for (const Row& r : {Row{10.4, 0, 0}, Row{9.6, 0, 0}, Row{10.6, 1, 0}, Row{9.4, 0, 1},
                         Row{3600, 1, 0}, Row{0, 0, 1}}) {
        MSTraceID a{}, b{};
        MSTraceSeg s1{}, s2{}, s3{};
        s1.starttime = 0;
        s1.endtime = 9 * kSec;
        s1.samprate = s2.samprate = s3.samprate = 1;
        s2.starttime = static_cast<hptime_t>(r.next * kSec);
        s3.starttime = 30 * kSec; // another channel: never a break
        const std::vector<Segment> all{{&a, &s1}, {&a, &s2}, {&b, &s3}};
        const Breaks got = breaks(all);
        EXPECT_EQ(got.gaps, r.gaps) << r.next;
        EXPECT_EQ(got.overlaps, r.overlaps) << r.next;
    }
}

// A segment inside an earlier one: the next is measured from the earlier one's end.
TEST(MsxBreaks, ASegmentWithinAnotherMovesNoExpectedSample) {
    MSTraceID a{};
    MSTraceSeg whole{}, inside{}, next{};
    whole.samprate = inside.samprate = next.samprate = 1;
    whole.endtime = 99 * kSec;
    inside.starttime = 10 * kSec;
    inside.endtime = 20 * kSec;
    next.starttime = 100 * kSec;
    const Breaks got = breaks({{&a, &whole}, {&a, &inside}, {&a, &next}});
    EXPECT_EQ((std::array<std::int64_t, 2>{got.gaps, got.overlaps}), (std::array<std::int64_t, 2>{0, 1}));
}

// What the system has, not unlimited: below its physical memory.
TEST(MsxMemory, TheBudgetIsMeasuredBelowThePhysicalMemory) {
    const auto physical = static_cast<std::uint64_t>(::sysconf(_SC_PHYS_PAGES)) *
                          static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    EXPECT_LT(memorybudget(), physical);
}

TEST(MsxNames, StationAndChannelAreNeededAndNoCodeMayHoldASeparatorOrControl) {
    struct Row {
        const char *net, *sta, *loc, *chan;
        bool ok;
    };
    for (const Row& r : {Row{"IU", "ANMO", "00", "BHZ", true}, Row{"", "ANMO", "", "BHZ", true},
                         Row{"IU", "", "00", "BHZ", false}, Row{"IU", "ANMO", "00", "", false},
                         Row{"I/", "ANMO", "", "BHZ", false}, Row{"IU", "AN\x01O", "", "BHZ", false},
                         Row{"IU", "ANMO", "0 ", "BHZ", false}, Row{"IU", "ANMO", "", "B/Z", false}}) {
        MSTraceID id{};
        std::strcpy(id.network, r.net);
        std::strcpy(id.station, r.sta);
        std::strcpy(id.location, r.loc);
        std::strcpy(id.channel, r.chan);
        EXPECT_EQ(nameable(&id), r.ok) << r.net << "." << r.sta << "." << r.loc << "." << r.chan;
    }
}

} // namespace
