// kivhdr run as a user would, on files written by wkiv0 and by hand in the
// other byte order; expected listings are written out here in full.
#include "e2e.h"
#include "kivhdr_files.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

using namespace kivf;
using kivtest::kBig;

namespace {

const std::string kAux = KIVF_SOURCE_DIR "/kivaux";

// The DEFAULT listing of the example header, with its FILENAME and KSTCMP lines.
std::string listed(const std::string& file) {
    return "FILENAME  " + file +
           "\nKSTCMP    ANMO BHZ\nNPTS      3\nB         -1.5\nE         0.03\n"
           "IFTYPE    ITIME   TIME SERIES FILE\nLEVEN     false\nDELTA     0.01\n"
           "IDEP      IVEL    VELOCITY (NM/SEC)\nOMARKER   -0.5\nAMARKER   12.25 (P)\n"
           "T3MARKER  7.125 (S wave)\nKZDATE    2016-02-29 (060)\nKZTIME    07:05:03.009\n"
           "KSTNM     ANMO\nKEVNM     ABCDEFGHIJKLMNOP\nIEVTYP    IQUAKE  EARTHQUAKE\n"
           "LOVROK    true\nIQUAL     99  (not an enumerated value)\nUSER0     1.0000001\n"
           "USER1     1e-30\n";
}

struct KivhdrProgram : ::testing::Test {
    test::TempDir dir;
    void SetUp() override {
        test::resetall();
        ::setenv("KIVAUX", kAux.c_str(), 1);
        newhdr();
        kivtest::setexample();
        std::int32_t nerr = 0;
        const std::vector<float> x = {0, 1, 2}, y = {5, 6, 7};
        wkiv0(dir / "w.kiv", x, y, nerr); // this machine's order
        ASSERT_EQ(nerr, 0);
        test::spit(dir / "h.kiv", kivtest::example(!kBig).bytes(6)); // the other one
    }
    e2e::Result run(std::vector<std::string> args, bool kivaux = true) {
        args.insert(args.begin(), KIVHDR_BIN);
        e2e::Options o;
        if (kivaux) o.kivaux = kAux;
        return e2e::run(args, dir.path.string(), "", o);
    }
};

} // namespace

TEST_F(KivhdrProgram, ListingsOfBothByteOrdersAndOfEachList) {
    // clang-format off
    struct Case {
        std::vector<std::string> args;
        std::string out;
    } cases[] = {
        {{"w.kiv", "h.kiv"}, listed("w.kiv") + "\n" + listed("h.kiv")}, {{"--list", "picks", "h.kiv"},
         "FILENAME  h.kiv\nKSTCMP    ANMO BHZ\nNPTS      3\nB         -1.5\nE         "
         "0.03\nOMARKER   -0.5\n"
         "AMARKER   12.25 (P)\nT3MARKER  7.125 (S wave)\nKZDATE    2016-02-29 (060)\nKZTIME    "
         "07:05:03.009\n"},
        {{"--list=SPECIAL", "--all", "h.kiv"}, "FILENAME  h.kiv\nKSTCMP    ANMO BHZ\n"},
        {{"--", "-odd.kiv"}, listed("-odd.kiv")}};
    // clang-format on
    test::spit(dir / "-odd.kiv", kivtest::example(kBig).bytes(6));
    for (const auto& c : cases) {
        const e2e::Result r = run(c.args);
        EXPECT_EQ(r.status, 0) << c.args[0];
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, c.out) << c.args[0];
    }
    const e2e::Result r = run({"--all", "--list", "STD", "w.kiv"});
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 83); // FILENAME, KSTCMP, 81 members
    for (const char* line : {"\nNPTS      3\n", "\nODELTA    undefined\n",
                             "\nT0MARKER  undefined\n", "\nYMAXIMUM  undefined\n"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line;
}

TEST_F(KivhdrProgram, EachBadFileGetsOneLineAndTheOthersAreListed) {
    const std::string good = kivtest::example(kBig).bytes(6);
    test::spit(dir / "cut.kiv", good.substr(0, 500));
    test::spit(dir / "size.kiv", good.substr(0, 640));
    test::spit(dir / "text.kiv", std::string(800, 'a'));
    const std::string err = "kivhdr: ERROR 1413: Truncated or not a KIV file: shorter than the "
                            "632-byte header: cut.kiv (500 bytes)\n"
                            "kivhdr: ERROR 1414: KIV file size does not match NPTS and LEVEN: "
                            "size.kiv (640 bytes, expected 656 for "
                            "NPTS = 3 and LEVEN false)\n"
                            "kivhdr: ERROR 1412: Not a KIV file: no header version 6 at byte 304 "
                            "in either byte order: text.kiv\n"
                            "kivhdr: ERROR 1410: KIV file does not exist: gone\aname.kiv\n";
    for (const bool kivaux : {true, false}) { // without KIVAUX the built-in texts are the same
        const e2e::Result r =
            run({"cut.kiv", "w.kiv", "size.kiv", "text.kiv", "gone\aname.kiv", "h.kiv"}, kivaux);
        EXPECT_EQ(r.status, 2);
        std::string want = err;
        want.replace(want.find('\a'), 1, "?");
        EXPECT_EQ(r.err, want);
        EXPECT_EQ(r.out, listed("w.kiv") + "\n" + listed("h.kiv"));
    }
    EXPECT_EQ(run({"h.kiv"}, false).status, 0);
    const e2e::Result r = run({"cut.kiv"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    const e2e::Options bad{dir / "none"};
    const e2e::Result w = e2e::run({KIVHDR_BIN, "h.kiv"}, dir.path.string(), "", bad);
    EXPECT_EQ(w.err, "kivhdr: WARNING: message catalogue not loaded from KIVAUX=" + dir / "none" +
                         " (error 108); built-in texts are used\n");
    EXPECT_EQ(w.out, listed("h.kiv"));
    EXPECT_EQ(w.status, 0);
}

TEST_F(KivhdrProgram, Options) {
    // clang-format off
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* out; // regular expressions
        const char* err;
    } cases[] = {
        {{"--help", "-x"}, 0, "Usage: kivhdr [^]*--list NAME[^]*--all[^]*Exit status[^]*", ""},
        {{"--version", "x"}, 0, "kivhdr [0-9]+\\.[0-9]+\\.[0-9]+\n", ""}, {{"-odd.kiv"},
         1,
         "",
         "kivhdr: unknown option -odd.kiv\nTry 'kivhdr --help' for more information.\n"},
        {{"--list", "NOPE", "h.kiv"},
         1,
         "",
         "kivhdr: no list named 'NOPE' \\(lists: DEFAULT, PICKS, SPECIAL, STD\\)\n[^]*"},
        {{"h.kiv", "--list"}, 1, "", "kivhdr: option --list needs a list name\n[^]*"},
        {{"--all"}, 1, "", "kivhdr: no file given\n[^]*"},
        {{"-"}, 2, "", "kivhdr: ERROR 1410: KIV file does not exist: -\n"}};
    // clang-format on
    for (const Case& c : cases) {
        const e2e::Result r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args[0];
        EXPECT_TRUE(std::regex_match(r.out, std::regex(c.out))) << r.out;
        EXPECT_TRUE(std::regex_match(r.err, std::regex(c.err))) << r.err;
    }
}
