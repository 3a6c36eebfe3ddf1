// SPDX-License-Identifier: Apache-2.0
// wfdxlate's station metadata: CSS site and sitechan tables written here, a station text
// table and an event; the fields read back from the files' bytes, distances compared bit for
// bit with the plug-in's own computation.
#include "e2e.h"
#include "kivlayout.h"
#include "sphgeo.h"

#include <gtest/gtest.h>

#include <bit>
#include <filesystem>

namespace fs = std::filesystem;
using namespace kivtest;

namespace {

// A CSS 3.0 wfdisc line of two s4 samples of s.w, calib 0 (no calibration of its own).
std::string css30(const std::string& sta, const std::string& chan, const std::string& time) {
    return sta + " " + chan + " " + time + " -1 -1 2017067 0 2 20 0 1 - - s4 - . s.w 0 -1 0\n";
}
const std::string kT0 = "1488931207.51900"; // 2017-03-08 (067) 00:00:07.519
const std::string kAt = ".2017.067.00.00.07.519.kiv";
const std::string kSite =
    "ANMO 1989001 -1 34.9459 -106.4572 1.8200 Albuquerque, New Mexico ss ANMO 0 0 2005-01-01\n";
const std::string kChans = "ANMO BHZ 1989001 1 -1 n 0.1000 -1 0 vertical sensor 2005001\n"
                           "ANMO BHN 1989001 2 -1 n 0.1000 0 90 north 2005001\n"
                           "ANMO BHE 1989001 3 -1 n 0.1000 90.0 90.0 east 2005001\n";
const std::string kEvent = "--event=38.297,142.373,29,2017-03-08T00:00:00.019Z";
constexpr float kUndef = -12345.0F;

struct Meta : ::testing::Test, e2e::Scratch {
    Meta() {
        fs::create_directories(work / "out");
        env.kivaux = KIVF_SOURCE_DIR "/kivaux";
        file("s.w", std::string(8, '\1'));
    }
    e2e::Result run(std::vector<std::string> args, const e2e::Options* o = nullptr) const {
        args.insert(args.begin(), {WFDXLATE_BIN, "-o", "out"});
        e2e::Result r = e2e::run(args, work.string(), "", o != nullptr ? *o : env);
        // The summary line last: its seconds vary.
        const std::size_t summary = r.err.rfind("wfdxlate: ", r.err.size() - 1);
        EXPECT_NE(r.err.find(" records converted, ", summary), std::string::npos) << r.err;
        r.err.resize(summary == std::string::npos ? 0 : summary);
        return r;
    }
    std::string out(const std::string& name) const { return e2e::readfile(p("out/" + name)); }
};

std::uint32_t bits(float v) {
    return std::bit_cast<std::uint32_t>(v);
}
std::string text(const std::string& b, std::size_t off) {
    return b.substr(off, 8);
}

TEST_F(Meta, ThreeComponentsTakeTheirTablesAndDistancesAreTheBitsOfSphgeo) {
    file("day.wfdisc",
         css30("ANMO", "BHZ", kT0) + css30("ANMO", "BHN", kT0) + css30("ANMO", "BHE", kT0));
    file("day.site", kSite);
    file("day.sitechan", kChans);
    const e2e::Result r = run({kEvent, "day.wfdisc"});
    ASSERT_EQ(r.err + std::to_string(r.status), "0");
    double d[4] = {};
    kivf::sphgeoj(34.9459F, -106.4572F, 38.297F, 142.373F, d[0], d[1], d[2], d[3]);
    for (const auto& [chan, az, inc] :
         {std::tuple{"BHZ", kUndef, 0.0F}, {"BHN", 0.0F, 90.0F}, {"BHE", 90.0F, 90.0F}}) {
        const std::string b = out("ANMO." + std::string(chan) + kAt);
        EXPECT_EQ(words<float>(b, {at::STLA, at::STLO, at::STEL, at::STDP, at::CMPAZ, at::CMPINC,
                                   at::EVLA, at::EVLO, at::EVDP, at::O}),
                  (std::vector<float>{34.9459F, -106.4572F, 1820, 100, az, inc, 38.297F, 142.373F,
                                      29, -7.5F})) // O: the origin 7.5 s before the reference
            << chan;
        EXPECT_EQ(text(b, at::KO), "ORIGIN  ");
        EXPECT_EQ(words<std::uint32_t>(b, {at::GCARC, at::DIST, at::AZ, at::BAZ}),
                  (std::vector<std::uint32_t>{bits(d[0]), bits(d[1]), bits(d[2]), bits(d[3])}));
    }
}

TEST_F(Meta, BadTablesAreNamedAndNothingElseIsLost) {
    const std::string lines = css30("ANMO", "BHZ", kT0) + css30("ANMO", "BHN", kT0) +
                              css30("ANMO", "BHZ", "1488931208") + css30("XYZ", "BHZ", kT0);
    const std::string M = "wfdxlate: ERROR 2071: Station table refused, the run goes on without "
                          "it: a line is malformed: ",
                      D = "wfdxlate: NOTE 2073: Rows of the station tables disagree; the fields "
                          "they give stay undefined: ",
                      N = "wfdxlate: NOTE 2072: No row of the station tables matches; the fields "
                          "it would give stay undefined: ";
    // clang-format off
    const std::vector<std::tuple<std::string, std::string, int, std::string>> cases = {
        {kSite + "ANMO 1989001 -1 34.9\n", kChans, 2, M + "b.site:2 (4 columns; a site line needs 6 before its free text)\n" + N + "b.wfdisc:4 XYZ.BHZ in b.sitechan\n"},
        {kSite, "ANMO BHZ 1989001 1 -1 n 0.1 north 0 x\n", 2, M + "b.sitechan:1 (hang is not a number from 0 to 360, or -1)\n" + N + "b.wfdisc:4 XYZ in b.site\n"},
        {"ANMO 1989001 -1 91 0 0 x\nshort\n", "", 2, M + "b.site:1 (lat is not a number from -90 to 90, or -999)\n"},
        {"ANMO 2017067 2017066 1 1 1 x\n", "", 2, M + "b.site:1 (offdate is neither -1 nor a date YYYYDDD from ondate on)\n"},
        {kSite + "ANMO 2017001 -1 35 -106.4572 1.82 newer\n", "", 0, D + "b.wfdisc:1 ANMO b.site:1 and b.site:2\n" + N + "b.wfdisc:4 XYZ in b.site\n"},
        {kSite + kSite, "", 0, N + "b.wfdisc:4 XYZ in b.site\n"}, // rows that agree are one
    };
    // clang-format on
    file("b.wfdisc", lines);
    for (const auto& [site, chans, status, err] : cases) {
        fs::remove_all(work / "out");
        file("b.site", site);
        chans.empty() ? void(fs::remove(work / "b.sitechan")) : file("b.sitechan", chans);
        const e2e::Result r = run({"b.wfdisc"});
        EXPECT_EQ(std::tuple(r.status, r.err, listing("out").size()), std::tuple(status, err, 4U))
            << site; // every waveform converted all the same
    }
}

TEST_F(Meta, EventsOutOfRangeAreUsageErrorsAMissingTableFailsTheRunAndQuietSaysNoNotes) {
    file("c.wfdisc", css30("ANMO", "BHZ", kT0));
    const std::string lat = "--event: latitude is not a number from -90 to 90: '",
                      lon = "--event: longitude is not a number from -180 to 180: '",
                      dep = "--event: depth is not a number of km from -10 to 6371: '",
                      iso = "--event: origin time is not an ISO 8601 UTC time such as "
                            "2010-02-27T06:34:11.5Z: '2017-0";
    const std::vector<std::pair<std::vector<std::string>, std::string>> bad = {
        {{"--event", "91,0,0,2017-01-01T00:00:00"}, lat + "91'"},
        {{"--event", "0,181,0,2017-01-01T00:00:00"}, lon + "181'"},
        {{"--event", "0,0,6372,2017-01-01T00:00:00"}, dep + "6372'"},
        {{"--event", "0,0,-10.5,2017-01-01"}, dep + "-10.5'"},
        {{"--event", "0,0,0,2017-01-01,5"}, iso + "1-01,5'"}, // a comma after the time is no end
        {{"--event=0,0,0"}, "--event takes LAT,LON,DEPTH_KM,TIME, not '0,0,0'"},
        {{"--site="}, "option --site needs a file name, not ''"},
        {{"--sitechan"}, "option --sitechan needs a value"}};
    for (const auto& [args, why] : bad) {
        std::vector<std::string> argv = {WFDXLATE_BIN, "-o", "out", "c.wfdisc"};
        argv.insert(argv.end(), args.begin(), args.end()); // last: with no value after it
        const e2e::Result r = e2e::run(argv, work.string(), "", env);
        EXPECT_EQ(r.err.substr(0, r.err.find('\n')) + std::to_string(r.status),
                  "wfdxlate: " + why + "1");
        EXPECT_TRUE(listing("out").empty()) << why;
    }
    file("c.site", "XYZ 2017001 -1 1 1 1 x\n"); // no row for ANMO
    const e2e::Result r = run(
        {"--stations", "none.txt", "--sitechan", "none.chan", "--site", "/dev/zero", "c.wfdisc"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "wfdxlate: ERROR 2070: Station table cannot be read; the run goes on without "
                     "it: none.txt No such file or directory\n"
                     "wfdxlate: ERROR 2070: Station table cannot be read; the run goes on without "
                     "it: /dev/zero (a character device)\n"
                     "wfdxlate: ERROR 2070: Station table cannot be read; the run goes on without "
                     "it: none.chan No such file or directory\n"); // named: c.site is not used
    EXPECT_EQ(listing("out").size(), 1U);
    const e2e::Result quiet = e2e::run(
        {WFDXLATE_BIN, "-q", "-o", "out", "--event=-90,-180,-10,2017-03-08T00:00:00Z", "c.wfdisc"},
        work.string(), "", env); // the least
    EXPECT_EQ(quiet.err + std::to_string(quiet.status), "0");
}

} // namespace
