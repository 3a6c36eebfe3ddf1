// msxlate's pieces whose boundaries its runs do not reach: gaps and overlaps
// told apart within libmseed's joining tolerance, the memory budget, codes fit
// for names. (Start times and samples made floats are pinned by msxlate_e2e.)
#include "msxlate/reader.h"
#include "msxlate/segments.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <unistd.h>

using namespace kivf::msx;

namespace {

// Segments at 1 sample a second: channel (0 or 1), from and to (seconds). More
// than half a sample from where the channel's segments so far reach is a gap
// or an overlap; the start of another channel is never one.
TEST(MsxBreaks, HalfASampleFromTheNextExpectedOneTellsGapsAndOverlaps) {
    struct Row {
        std::vector<std::array<double, 3>> segs;
        std::int64_t gaps, overlaps;
    };
    const Row rows[] = {
        {{{0, 0, 9}, {0, 10.4, 11}, {1, 30, 31}}, 0, 0},
        {{{0, 0, 9}, {0, 9.6, 11}, {1, 0, 1}}, 0, 0},
        {{{0, 0, 9}, {0, 10.6, 11}}, 1, 0},
        {{{0, 0, 9}, {0, 9.4, 11}}, 0, 1},
        {{{0, 0, 9}, {0, 10.5, 11}}, 0, 0}, // exactly half a sample: neither
        {{{0, 0, 9}, {0, 9.5, 11}}, 0, 0},
        {{{0, 0, 99}, {0, 10, 20}, {0, 100, 101}}, 0, 1}}; // within: no expected sample moves
    for (const Row& r : rows) {
        MSTraceID a{}, b{};
        std::vector<MSTraceSeg> s(r.segs.size());
        std::vector<Segment> all;
        for (std::size_t i = 0; i < s.size(); ++i) {
            s[i].samprate = 1;
            s[i].starttime = static_cast<hptime_t>(r.segs[i][1] * HPTMODULUS);
            s[i].endtime = static_cast<hptime_t>(r.segs[i][2] * HPTMODULUS);
            all.push_back({r.segs[i][0] == 0 ? &a : &b, &s[i]});
        }
        const Breaks got = breaks(all);
        EXPECT_EQ((std::array{got.gaps, got.overlaps}), (std::array{r.gaps, r.overlaps}))
            << r.segs[1][1];
    }
}

// Ints become floats in place: exact within 2^24 either side, else the nearest, counted.
TEST(MsxFloats, IntsBeyondTwoToThe24AreRoundedAndCounted) {
    struct Row {
        std::vector<std::int32_t> in;
        std::vector<float> out;
        std::int64_t changed;
    };
    for (const Row& r : {Row{{-16777216, 16777216, 3}, {-16777216, 16777216, 3}, 0},
                         Row{{-16777217, 1}, {-16777216, 1}, 1},
                         Row{{16777217, -1, 16777219}, {16777216, -1, 16777220}, 2}}) {
        std::vector<std::int32_t> v = r.in;
        char type = 'i';
        EXPECT_EQ(tofloats(v.data(), static_cast<std::int64_t>(v.size()), type), r.changed);
        std::vector<float> got(v.size());
        std::memcpy(got.data(), v.data(), 4 * v.size());
        EXPECT_EQ(std::pair(got, type), std::pair(r.out, 'f')) << r.in[0];
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
         {Row{"", "ANMO", "", "BHZ", true}, Row{"IU", "", "00", "BHZ", false},
          Row{"IU", "ANMO", "00", "", false}, Row{"I/", "ANMO", "", "BHZ", false},
          Row{"IU", "ANMO", "0 ", "BHZ", false}, Row{"IU", "ANMO", "", "B/Z", false}}) {
        MSTraceID id{};
        std::strcpy(id.network, r.net), std::strcpy(id.station, r.sta);
        std::strcpy(id.location, r.loc), std::strcpy(id.channel, r.chan);
        EXPECT_EQ(nameable(&id), r.ok) << r.net << "." << r.sta << "." << r.loc << "." << r.chan;
    }
}

} // namespace
