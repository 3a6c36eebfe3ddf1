// SPDX-License-Identifier: Apache-2.0
// The converters' pieces that a run cannot show one by one: names written, paths, the catalogue,
// station tables line by line and their lookups.
#include "testutil.h"
#include "wfdxlate/layout.h"
#include "wfdxlate/samples.h"
#include "wfdxlate/site.h"
#include "xlate/xlate.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern "C" __attribute__((weak)) void __asan_init(); // there when built with AddressSanitizer

// As a batch run makes them: alike but for a few characters.
std::string name(std::size_t i) {
    return "STA" + std::to_string(i % 97) + ".BHZ.2017.067.00.00." + std::to_string(i) + ".kiv";
}

// Grown until memory runs out (in a child whose address space may grow by 8 MB, some hundreds of
// thousands of names): room() then says no, and every name keeps its place.
TEST(Written, EveryNameKeepsItsPlaceUntilMemoryRunsOut) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(10); // a table that grew without memory would loop for ever
        std::size_t pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        const rlim_t size = pages * ::sysconf(_SC_PAGESIZE) + (8u << 20);
        const rlimit lim{size, size};
        const bool sanitized = &__asan_init != nullptr; // its reservations pass any limit
        if (!sanitized && ::setrlimit(RLIMIT_AS, &lim) != 0) ::_exit(2);
        kivf::xlate::Written w;
        std::size_t n = 0, wrong = 0, grown = 0;
        for (; (!sanitized || n < 150'000) && w.room(); ++n) {
            w.add(name(n), 3 * n + 1);
            if (n + 1 == 100'000) grown = w.bytes();
        }
        for (std::size_t i = 0; i < n; ++i) wrong += w.find(name(i)) != 3 * i + 1;
        for (std::size_t i = n; i < 2 * n; ++i) wrong += w.find(name(i)) != 0;
        // 16 bytes a slot, at most 80% and (after the first growths) at least 64% full.
        ::_exit(w.size() == n && wrong == 0 && grown <= 100'000 * 25 && grown >= 100'000 * 20 ? 0
                                                                                              : 1);
    }
    int st = 0;
    ::waitpid(pid, &st, 0);
    EXPECT_EQ(st, 0) << "status " << st;
}

// Right after each growth (every entry placed anew), every name is found.
TEST(Written, EveryNameIsFoundRightAfterEachGrowth) {
    kivf::xlate::Written w;
    std::size_t wrong = 0, grown = 0;
    for (std::size_t n = 0, bytes = 0; n < 5000; ++n, bytes = w.bytes()) {
        w.room(), w.add(name(n), n + 1);
        if (w.bytes() == bytes) continue;
        ++grown;
        for (std::size_t i = 0; i <= n; ++i) wrong += w.find(name(i)) != i + 1;
    }
    EXPECT_EQ(std::pair(wrong, grown), std::pair(std::size_t{0}, std::size_t{10}));
}

TEST(Written, EveryByteOfANameCounts) {
    kivf::xlate::Written w;
    EXPECT_EQ(w.find("ABCDEFGH"), 0u);
    w.room(), w.add("ABCDEFGHX", 7); // the ninth byte too
    // Names that differ only past a piece of 8, or by a NUL, or by length.
    for (const std::string& s :
         {std::string("ABCDEFGHY"), std::string("ABCDEFGH\0", 9), std::string("ABCDEFGH")})
        EXPECT_EQ(w.find(s), 0u) << s;
    w.room(), w.add("ABCDEFGH", kivf::xlate::Written::kMaxPlace + 5); // kept as the largest
    EXPECT_EQ(w.find("ABCDEFGH") + w.find(std::string("ABCDEFGH\0", 9)) + w.find("ABCDEFGHX"),
              kivf::xlate::Written::kMaxPlace + 7);
}

// A sample file refused as not regular is closed, even as descriptor 0 (standard input closed).
TEST(Layout, ARefusedSampleFileIsClosedWhateverItsDescriptor) {
    const auto c = kivf::test::inchild([] {
        ::close(0);
        kivf::wfdx::Row r;
        r.path = KIVF_SOURCE_DIR; // a directory
        const bool refused = kivf::wfdx::opensamples(r) < 0 && r.why.reason == "not a regular file";
        return refused && ::fcntl(0, F_GETFD) == -1 && errno == EBADF ? 0 : 1;
    });
    EXPECT_EQ(c.status, 0);
}

// Sample paths are taken from the wfdisc file's directory; the root directory stays "/".
TEST(Layout, AWfdiscFilesDirectory) {
    using kivf::wfdx::Schema;
    const std::pair<const char*, const char*> cases[] = {
        {"/x.wfdisc", "/"}, {"//x.wfdisc", "/"}, {"a/b/x.wfdisc", "a/b"}, {"x.wfdisc", ""}};
    for (const auto& [file, dir] : cases)
        EXPECT_EQ(kivf::wfdx::source(file, Schema::css28, kivf::wfdx::DirPlaces{}).dir, dir)
            << file;
}

// A catalogue path past the 128 characters the message system reads is told in words (the
// longest that loads is told nothing); nothing is left open by looking.
TEST(Catalogue, APathPastWhatTheMessageSystemReadsIsToldInWords) {
    namespace fs = std::filesystem;
    const fs::path base = fs::temp_directory_path() / ("kivf-cat-" + std::to_string(::getpid()));
    fs::remove_all(base);
    const auto dir = [&](std::size_t pathsize) { // "DIR/messages" of this many characters
        return base / std::string(pathsize - base.string().size() - 1 - 9, 'x');
    };
    for (const std::size_t n : {128u, 129u}) {
        fs::create_directories(dir(n));
        std::ofstream(dir(n) / "messages") << "2001 a text\n";
    }
    const auto said = [](const std::string& aux) {
        ::setenv("KIVAUX", aux.c_str(), 1);
        return kivf::xlate::nocatalogue();
    };
    const auto opened = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), {}); };
    const auto before = opened();
    EXPECT_EQ(said(dir(128)), "");
    EXPECT_EQ(said(dir(129)),
              dir(129).string() + "/messages: longer than the 128 characters a path may have");
    EXPECT_EQ(opened(), before);
    ::unsetenv("KIVAUX");
    fs::remove_all(base);
}

using namespace kivf;
using xlate::Match;
using xlate::StationRow;

namespace {

constexpr float U = kUndfFlt;
const std::string kHead = "#Network|Station|Location|Channel|Latitude|Longitude|Elevation|Depth|"
                          "Azimuth|Dip|SensorDescription|Scale|ScaleFreq|ScaleUnits|SampleRate|"
                          "StartTime|EndTime";

StationRow station(const std::string& line) {
    StationRow row;
    bool skip = true;
    std::string why;
    EXPECT_TRUE(xlate::stationline(line, row, skip, why)) << line << why;
    EXPECT_FALSE(skip) << line;
    return row;
}

TEST(StationText, ColumnsGiveTheirFields) {
    bool skip = false;
    std::string why;
    StationRow row;
    for (const std::string& none : {kHead, std::string(""), std::string("  \r")}) {
        EXPECT_TRUE(xlate::stationline(none, row, skip, why) && skip) << none;
    }
    // units, scale: IDEP and SCALE in the catalogue's unit per count
    const std::vector<std::tuple<std::string, std::string, std::int32_t, float>> units = {
        {"M/S", "2e9", ienum::IVEL, 0.5F}, {"m/s", "4", ienum::IVEL, 2.5e8F},
        {"M", "8e8", ienum::IDISP, 1.25F}, {"M/S**2", "400", ienum::IACC, 0.25F},
        {"COUNTS", "400", 0, U},           {"M/S", "", 0, U}};
    for (const auto& [unit, scale, idep, per] : units) {
        const StationRow r =
            station("IU|ANMO|--|BHZ| 34.9459 |-106.4572|1820|100.5|0|-90|"
                    "Streckeisen STS-2|" +
                    scale + "|1|" + unit + "|40|2008-06-30T20:00:00|2599-12-31T23:59:59\r");
        const xlate::ChannelMeta& m = r.meta;
        EXPECT_EQ(std::tuple(m.idep, m.scale), std::tuple(idep, per)) << unit << scale;
        EXPECT_EQ(std::tuple(r.net + "." + r.sta + "." + r.loc + "." + r.chan, m.stla, m.stlo,
                             m.stel, m.stdp, m.cmpaz, m.cmpinc, m.instrument, r.start, r.end),
                  std::tuple("IU.ANMO..BHZ", 34.9459F, -106.4572F, 1820.0F, 100.5F, 0.0F, 0.0F,
                             "Streckei", 1'214'856'000'000'000, 19'880'899'199'000'000));
    }
    // Dip in double, rounded once; an instrument's name not cut inside a character.
    const StationRow tilted =
        station("XX|S|00|HH1|1|2|||90|-0.3|Geophon\xC3\xB6 4.5 Hz|||||2001-01-01|");
    EXPECT_EQ(std::pair(tilted.meta.cmpinc, tilted.meta.instrument),
              std::pair(89.7F, std::string("Geophon")));
}

TEST(StationText, MalformedLinesSayWhichColumn) {
    const auto with = [](std::size_t column, const std::string& value) { // a good line but one
        std::vector<std::string> c = {"IU",   "ANMO", "00", "BHZ",        "34", "-106",
                                      "1820", "100",  "0",  "-90",        "s",  "1e9",
                                      "1",    "M/S",  "40", "2008-01-01", ""};
        c[column] = value;
        std::string line = c[0];
        for (std::size_t i = 1; i < c.size(); ++i) line += "|" + c[i];
        return line;
    };
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"IU|ANMO|00|BHZ|34|-106", "(6 columns of 17; a channel level table has 17)"},
        {with(1, ""), "(Station is empty)"},
        {with(3, " "), "(Channel is empty)"},
        {with(4, "90.5"), "(Latitude is not a number from -90 to 90)"},
        {with(4, ""), "(Latitude is not a number from -90 to 90)"},
        {with(5, "-180.01"), "(Longitude is not a number from -180 to 180)"},
        {with(6, "9001"), "(Elevation is not a number of metres from -12000 to 9000)"},
        {with(7, "-9001"), "(Depth is not a number of metres from -9000 to 12000)"},
        {with(8, "361"), "(Azimuth is not a number from -360 to 360)"},
        {with(9, "-91"), "(Dip is not a number from -90 to 90)"},
        {with(11, "0"), "(Scale is not a number above 0)"},
        {with(11, "1e-300"), "(Scale is out of range)"},
        {with(12, "-1"), "(ScaleFreq is not a number of 0 or more)"},
        {with(14, "fast"), "(SampleRate is not a number of 0 or more)"},
        {with(15, "2008-02-30"), "(StartTime is not a time)"},
        {with(16, "2008"), "(EndTime is not a time)"},
        {with(16, "2008-01-01"), "(EndTime is not after StartTime)"}};
    for (const auto& [line, want] : bad) {
        StationRow row;
        bool skip = true;
        std::string why;
        const bool took = xlate::stationline(line, row, skip, why);
        EXPECT_EQ(std::tuple(took, why, skip), std::tuple(false, want, false)) << line;
    }
}

TEST(StationText, ARecordFindsItsEpochAndItsCodes) {
    std::vector<StationRow> t;
    int n = 0;
    for (const char* line : {"IU|ANMO|00|BHZ|34|-106||||||||||2000-01-01|2010-01-01",
                             "IU|ANMO|00|BHZ|34.5|-106||||||||||2010-01-01|", // next epoch
                             "IU|ANMO|10|BHZ|34|-106||||||||||2000-01-01|",   // other location
                             "IU|TKL||HHZ|35|-83||||||||||2000-01-01|2005-01-01",
                             "IU|TKL||HHZ|35|-84||||||||||2004-01-01|", // overlaps, differs
                             "IU|COR||BHZ|44|-123||||||||||2000-01-01|2005-01-01",
                             "IU|COR||BHZ|44|-123||||||||||2004-01-01|"}) { // overlaps, agrees
        t.push_back(station(line));
        t.back().line = ++n;
    }
    const std::int64_t y2003 = 1'041'379'200'000'000, y2010 = 1'262'304'000'000'000;
    struct Case {
        const char *net, *sta, *loc, *chan;
        std::int64_t at;
        bool anycode;
        Match match;
        std::int64_t first, second;
    };
    const Case cases[] = {
        {"IU", "ANMO", "00", "BHZ", y2010 - 1, false, Match::one, 1, 0},
        {"IU", "ANMO", "00", "BHZ", y2010, false, Match::one, 2, 0}, // the end is the next's
        {"IU", "ANMO", "10", "BHZ", y2003, false, Match::one, 3, 0},
        {"IU", "ANMO", "", "BHZ", y2003, false, Match::none, 0, 0},
        {"II", "ANMO", "00", "BHZ", y2003, false, Match::none, 0, 0},
        {"IU", "ANMO", "00", "BHN", y2003, false, Match::none, 0, 0},
        {"IU", "ANMO", "00", "BHZ", y2003 - 100'000'000'000'000, false, Match::none, 0, 0},
        {"", "ANMO", "", "BHZ", y2003, true, Match::ambiguous, 1, 3}, // the same network
        {"IU", "TKL", "", "HHZ", y2010, false, Match::one, 5, 0},
        {"IU", "TKL", "", "HHZ", y2010 - 6 * 31'536'000'000'000, false, Match::disagree, 4, 5},
        {"", "COR", "", "BHZ", y2010 - 6 * 31'536'000'000'000, true, Match::one, 6, 0}};
    for (const Case& c : cases) {
        const StationRow* row = nullptr;
        const xlate::Found f =
            xlate::findstation(t, c.net, c.sta, c.loc, c.chan, c.at, c.anycode, row);
        EXPECT_EQ(std::tuple(int(f.match), f.first, f.second, row != nullptr ? row->line : 0),
                  std::tuple(int(c.match), c.first, c.second, c.match == Match::none ? 0 : c.first))
            << c.sta << c.at;
    }
}

TEST(SiteTables, LinesGiveTheirFieldsNullsAndRefusals) {
    wfdx::SiteRow r;
    bool skip = false;
    std::string why;
    const auto meta = [&r] {
        return std::vector<float>{r.meta.stla, r.meta.stlo,  r.meta.stel,
                                  r.meta.stdp, r.meta.cmpaz, r.meta.cmpinc};
    };
    ASSERT_TRUE(wfdx::siteline("X\t1990001\t-1\t-999.0000\t-999\t-999 -", r, skip, why));
    EXPECT_EQ(std::pair(r.offdate, meta()), std::pair(-1, std::vector<float>(6, U)));
    ASSERT_TRUE(wfdx::sitechanline("X BHZ 1990001 3 1990001 n -999 -1 -1", r, skip, why));
    EXPECT_EQ(meta(), std::vector<float>(6, U));
    EXPECT_TRUE(wfdx::siteline(" \t\r", r, skip, why) && skip);
    ASSERT_TRUE(wfdx::siteline("X 2016366 9999366 1 1 1", r, skip, why)) << why; // the last days
    EXPECT_EQ(r.offdate, 9999366);
    const std::vector<std::tuple<bool, std::string, std::string>> bad = {
        {false, "X 1990000 -1 1 1 1", "(ondate is not a date YYYYDDD)"},
        {false, "X 1990367 -1 1 1 1", "(ondate is not a date YYYYDDD)"},
        {false, "X 999366 -1 1 1 1", "(ondate is not a date YYYYDDD)"},
        {false, "X 10000001 -1 1 1 1", "(ondate is not a date YYYYDDD)"},
        {false, "X 1990001 -2 1 1 1", "(offdate is neither -1 nor a date YYYYDDD from ondate on)"},
        {false, "X 1990001 -1 1 180.5 1", "(lon is not a number from -180 to 180, or -999)"},
        {false, "X 1990001 -1 1 1 9.5", "(elev is not a number of km from -12 to 9, or -999)"},
        {true, "X BHZ 1990001 1 -1 n 0",
         "(7 columns; a sitechan line needs 9 before its free text)"},
        {true, "X BHZ 1990001 1 -1 n 12.5 0 0",
         "(edepth is not a number of km from -9 to 12, or -999)"},
        {true, "X BHZ 1990001 1 -1 n 0 0 180.5", "(vang is not a number from 0 to 180, or -1)"}};
    for (const auto& [chans, line, want] : bad) {
        why.clear();
        const bool took =
            chans ? wfdx::sitechanline(line, r, skip, why) : wfdx::siteline(line, r, skip, why);
        EXPECT_EQ(std::pair(took, why), std::pair(false, want)) << line;
    }
}

} // namespace
