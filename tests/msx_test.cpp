// msxlate's pieces that carry arithmetic: start times split for the header
// and names, samples made floats, gaps and overlaps told apart, codes fit for
// names.
#include "msxlate/reader.h"
#include "msxlate/segments.h"

#include <gtest/gtest.h>

#include <array>
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
        std::array<std::int32_t, 7> want;
    }; // year jday h min s ms us
    const Row rows[] = {
        {0, {1970, 1, 0, 0, 0, 0, 0}},
        {-1, {1969, 365, 23, 59, 59, 999, 999}},
        {(20088LL * 86400 + 12 * 3600 + 34 * 60 + 56) * kSec + 789012,
         {2024, 366, 12, 34, 56, 789, 12}},
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

// Samples made floats in place: how many changed, -1 when one is beyond
// float (their type then left as it was), and the floats.
template <class T>
std::pair<std::int64_t, std::vector<float>> converted(std::vector<T> in, char type) {
    const std::int64_t changed = tofloats(in.data(), static_cast<std::int64_t>(in.size()), type);
    EXPECT_EQ(type, changed >= 0 ? 'f' : sizeof(T) == 8 ? 'd' : 'i');
    std::vector<float> out(changed >= 0 ? in.size() : 0);
    for (std::size_t i = 0; i < out.size(); ++i)
        std::memcpy(&out[i], reinterpret_cast<char*>(in.data()) + 4 * i, 4);
    return {changed, out};
}

TEST(MsxSamples, RoundedToNearestCountingWhatChangedAndBeyondFloatRefused) {
    using F = std::pair<std::int64_t, std::vector<float>>;
    const float inf = std::numeric_limits<float>::infinity();
    // Just beyond 2^24 at most: still counted one by one.
    EXPECT_EQ(converted<std::int32_t>({1, 16777217, 33554432}, 'i'), F(1, {1, 16777216, 33554432}));
    // 0.1, 3e38 and 2^24 + 1 are not floats; an infinity stays one.
    EXPECT_EQ(converted<double>({0.5, 0.1, -inf, 3.0e38, 16777217.0}, 'd'),
              F(3, {0.5F, 0.1F, -inf, 3.0e38F, 16777216}));
    EXPECT_EQ(converted<double>({1.0, 3.5e38, 2.0}, 'd'), F(-1, {}));
}

// Segments of one channel at 1 sample a second, from and to (seconds), then
// one of another channel, which is never a break: more than half a sample
// from where the channel's segments so far reach is a gap or an overlap.
TEST(MsxBreaks, HalfASampleFromTheNextExpectedOneTellsGapsAndOverlaps) {
    struct Row {
        std::vector<std::array<double, 2>> segs;
        std::int64_t gaps, overlaps;
    };
    const Row rows[] = {
        {{{0, 9}, {10.4, 11}}, 0, 0},           {{{0, 9}, {9.6, 11}}, 0, 0},
        {{{0, 9}, {10.6, 11}}, 1, 0},           {{{0, 9}, {9.4, 11}}, 0, 1},
        {{{0, 9}, {3600, 3601}}, 1, 0},         {{{0, 9}, {0, 11}}, 0, 1},
        {{{0, 99}, {10, 20}, {100, 101}}, 0, 1}}; // within: no expected sample moves
    for (const Row& r : rows) {
        MSTraceID a{}, b{};
        std::vector<MSTraceSeg> s(r.segs.size() + 1);
        std::vector<Segment> all;
        for (std::size_t i = 0; i < s.size(); ++i) {
            const auto at = i < r.segs.size() ? r.segs[i] : std::array<double, 2>{30, 31};
            s[i].samprate = 1;
            s[i].starttime = static_cast<hptime_t>(at[0] * kSec);
            s[i].endtime = static_cast<hptime_t>(at[1] * kSec);
            all.push_back({i < r.segs.size() ? &a : &b, &s[i]});
        }
        const Breaks got = breaks(all);
        EXPECT_EQ((std::array{got.gaps, got.overlaps}), (std::array{r.gaps, r.overlaps}))
            << r.segs[1][0];
    }
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
    for (const Row& r :
         {Row{"IU", "ANMO", "00", "BHZ", true}, Row{"", "ANMO", "", "BHZ", true},
          Row{"IU", "", "00", "BHZ", false}, Row{"IU", "ANMO", "00", "", false},
          Row{"I/", "ANMO", "", "BHZ", false}, Row{"IU", "AN\x01O", "", "BHZ", false},
          Row{"IU", "ANMO", "0 ", "BHZ", false}, Row{"IU", "ANMO", "", "B/Z", false}}) {
        MSTraceID id{};
        std::strcpy(id.network, r.net), std::strcpy(id.station, r.sta);
        std::strcpy(id.location, r.loc), std::strcpy(id.channel, r.chan);
        EXPECT_EQ(nameable(&id), r.ok) << r.net << "." << r.sta << "." << r.loc << "." << r.chan;
    }
}

} // namespace
