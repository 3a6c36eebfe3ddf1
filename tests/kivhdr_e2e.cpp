// SPDX-License-Identifier: Apache-2.0
// kivhdr run as a user would, on files written by hand in either byte order; expected listings
// are written out here in full.
#include "e2e.h"
#include "kivhdr_files.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <regex>

using namespace kivf;
using kivtest::kBig;
namespace at = kivtest::at;

namespace {

const std::string kAux = KIVF_SOURCE_DIR "/kivaux";

// clang-format off
// The DEFAULT listing of the example header, with its FILENAME and KSTCMP lines.
std::string listed(const std::string& file) {
    return "FILENAME  " + file + "\nKSTCMP    ANMO BHZ\nNPTS      3\nB         -1.5\nE         0.03\nIFTYPE    ITIME   TIME SERIES FILE\nLEVEN     false\n"
           "DELTA     0.01\nIDEP      IVEL    VELOCITY (NM/SEC)\nOMARKER   -0.5\nAMARKER   12.25 (P)\nT3MARKER  7.125 (S wave)\nKZDATE    2016-02-29 (060)\n"
           "KZTIME    07:05:03.009\nKSTNM     ANMO\nKEVNM     ABCDEFGHIJKLMNOP\nIEVTYP    IQUAKE  EARTHQUAKE\nLOVROK    true\n"
           "IQUAL     99  (not an enumerated value)\nUSER0     1.0000001\nUSER1     1e-30\n";
}
// clang-format on

} // namespace

TEST(KivhdrProgram, ListingsTablesRefusalsAndStatuses) {
    test::TempDir dir;
    const std::string good = kivtest::example(kBig).bytes(6); // this machine's order
    test::spit(dir / "w.kiv", good), test::spit(dir / "-odd.kiv", good);
    test::spit(dir / "h.kiv", kivtest::example(!kBig).bytes(6));
    test::spit(dir / "cut.kiv", good.substr(0, 500));
    // 40 Hz from 2016-02-29 07:05:03.009 + B 0.5, 6000 samples, every code set, this order.
    kivtest::HandKiv a(kBig);
    for (auto [off, v] : {std::pair{at::NZYEAR, 2016},
                          {at::NZJDAY, 60},
                          {at::NZHOUR, 7},
                          {at::NZMIN, 5},
                          {at::NZSEC, 3},
                          {at::NZMSEC, 9},
                          {at::NPTS, 6000}})
        a.n(off, v);
    a.f(at::DELTA, 1 / 40.0f), a.f(at::B, 0.5f);
    for (auto [off, t] :
         {std::pair{at::KNETWK, "XX"}, {at::KSTNM, "STA1"}, {at::KHOLE, "00"}, {at::KCMPNM, "HHZ"}})
        a.k(off, t);
    // An interval of 3 s without a reference time, a blank location, the other order.
    kivtest::HandKiv b(!kBig);
    b.n(at::NPTS, 2), b.f(at::DELTA, 3.0f), b.f(at::B, 0.0f), b.k(at::KHOLE, ""),
        b.k(at::KSTNM, "STA2");
    kivtest::HandKiv c(kBig); // no DELTA: no rate, no end
    for (std::size_t off = at::NZYEAR; off <= at::NZMSEC; off += 4) c.n(off, 1);
    c.n(at::NZYEAR, 2000), c.f(at::B, 0.0f), c.n(at::NPTS, 0);
    test::spit(dir / "a.kiv", a.bytes(6000)), test::spit(dir / "b.kiv", b.bytes(2));
    test::spit(dir / "c.kiv", c.bytes(0));
    const auto run = [&](std::vector<std::string> args, std::optional<std::string> kivaux = kAux) {
        e2e::Options o;
        o.kivaux = kivaux, args.insert(args.begin(), KIVHDR_BIN);
        return e2e::run(args, dir.path, "", o);
    };
    // clang-format off
    const std::string picks = listed("h.kiv"), both = listed("w.kiv") + "\n" + listed("h.kiv"),
                      none = dir / "none", usage = "\nTry 'kivhdr --help' for more information.\n",
                      times = "2016-02-29T07:05:01.509000Z\t2016-02-29T07:05:03.039000Z\n"; // B -1.5, E 0.03
    const std::vector<std::string> bad = {"cut.kiv", "w.kiv", "-", "gone\aname.kiv", "h.kiv"}; // "-": a file
    const std::string cut = "kivhdr: ERROR 1413: Truncated or not a KIV file: shorter than the 632-byte header: cut.kiv (500 bytes)\n",
        badfiles = cut + "kivhdr: ERROR 1410: KIV file does not exist: -\nkivhdr: ERROR 1410: KIV file does not exist: gone?name.kiv\n",
        head = "file\tnetwork\tstation\tlocation\tchannel\tstart\tend\trate\tsamples\n",
        rowa = "a.kiv\tXX\tSTA1\t00\tHHZ\t2016-02-29T07:05:03.509000Z\t2016-02-29T07:07:33.484000Z\t40\t6000\n",
        rowb = "b.kiv\tundefined\tSTA2\t\tundefined\tundefined\tundefined\t0.3333333333333333\t2\n",
        rowc = "c.kiv\tundefined\tundefined\tundefined\tundefined\t2000-01-01T01:01:01.001000Z\tundefined\tundefined\t0\n",
        rowh = "h.kiv\tundefined\tANMO\tundefined\tBHZ\t" + times.substr(0, 27) + "\t" + times.substr(28, 27) + "\t100\t3\n",
        refused = "kivhdr: option --table takes no --field, --list or --all" + usage;
    const struct Case { std::vector<std::string> args; std::optional<std::string> kivaux; int status; std::string out, err; } cases[] = {
        {{"--list", "picks", "h.kiv"}, kAux, 0, picks.substr(0, picks.find("IFTYPE")) + picks.substr(picks.find("OMARKER"), picks.find("KSTNM") - picks.find("OMARKER")), ""},
        {{"--list=SPECIAL", "--all", "h.kiv"}, kAux, 0, "FILENAME  h.kiv\nKSTCMP    ANMO BHZ\n", ""},
        {{"-H", "--", "-odd.kiv"}, kAux, 0, listed("-odd.kiv"), ""}, // a listing has no name before its lines
        {bad, kAux, 2, both, badfiles},
        {{"h.kiv"}, none, 0, listed("h.kiv"), "kivhdr: WARNING: message catalogue not loaded from KIVAUX=" + none + " (error 108); built-in texts are used\n"},
        {{"-odd.kiv"}, kAux, 1, "", "kivhdr: unknown option -odd.kiv" + usage},
        {{"--list", "STD      X", "h.kiv"}, kAux, 1, "", "kivhdr: no list named 'STD      X' (lists: DEFAULT, PICKS, SPECIAL, STD)" + usage},
        {{"h.kiv", "--list"}, kAux, 1, "", "kivhdr: option --list needs a list name" + usage},
        {{"--all"}, kAux, 1, "", "kivhdr: no file given" + usage},
        {{"-f", "XMINIMUMS", "h.kiv"}, kAux, 1, "", "kivhdr: no field named 'XMINIMUMS'" + usage}, // not cut to 8
        // -H: each -f row and each failing file's line begins with the name and a tab; blocks are as without it
        {{"-H", "-f", "kstnm", "-f", "StartTime", "-f", "ENDTIME", "w.kiv", "cut.kiv", "h.kiv", "gone\aname.kiv"}, kAux, 2,
         "w.kiv\tANMO\t" + times + "h.kiv\tANMO\t" + times, "cut.kiv\t" + cut + "gone?name.kiv\t" + badfiles.substr(badfiles.rfind("kivhdr:"))},
        {{"-f", "b", "-f", "starttime", "--with-filename", "--", "-odd.kiv", "w.kiv "}, {}, 2, "-odd.kiv\t-1.5\t" + times.substr(0, 27) + "\n",
         "w.kiv \tkivhdr: ERROR 1411: KIV file cannot be opened: w.kiv (The name ends in a blank.)\n"},
        {{"-H", std::string(1100, 'w')}, kAux, 2, "", std::string(1100, 'w') + "\tkivhdr: ERROR 1411: KIV file cannot be opened: " + std::string(kMsgLineLen, 'w') + " (The name is 1024 bytes or longer.)\n"},
        // --table: one row a file for scripts, the header line even when no file is read
        {{"--table", "a.kiv", "cut.kiv", "b.kiv", "c.kiv", "h.kiv"}, kAux, 2, head + rowa + rowb + rowc + rowh, cut},
        {{"-H", "--table", "--", "cut.kiv", "a.kiv"}, kAux, 2, head + rowa, "cut.kiv\t" + cut},
        {{"--table", "cut.kiv"}, kAux, 2, head, cut}, {{"--table"}, kAux, 1, "", "kivhdr: no file given" + usage},
        {{"--table", "-f", "npts", "a.kiv"}, kAux, 1, "", refused}, {{"--list", "STD", "--table", "a.kiv"}, kAux, 1, "", refused},
        {{"--table", "--all", "a.kiv"}, kAux, 1, "", refused}};
    for (const Case& c : cases) {
        const e2e::Result r = run(c.args, c.kivaux);
        EXPECT_EQ(std::tuple(r.status, r.out, r.err), std::tuple(c.status, c.out, c.err)) << c.args[0] << " " << c.args.size();
    }
    auto r = run({"--help", "-x"});
    EXPECT_TRUE(r.status == 0 && r.err.empty() && std::regex_match(r.out, std::regex("Usage: kivhdr [^]*--list NAME[^]*--all[^]*Exit status[^]*")));
    r = run({"--version", "x"});
    EXPECT_TRUE(r.status == 0 && r.err.empty() && std::regex_match(r.out, std::regex("kivhdr [0-9]+\\.[0-9]+\\.[0-9]+\n")));
    r = run({"--all", "--list", "STD", "w.kiv"});
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 83); // FILENAME, KSTCMP, 81 members
    // clang-format on
}
