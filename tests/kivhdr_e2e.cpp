// kivhdr run as a user would, on files written by wkiv0 and by hand in the
// other byte order; expected listings are written out here in full.
#include "e2e.h"
#include "kivhdr_files.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <bit>
#include <regex>
#include <string>
#include <vector>

using namespace kivf;

namespace {

constexpr bool kBig = std::endian::native == std::endian::big;
const std::string kAux = KIVF_SOURCE_DIR "/kivaux";

// The DEFAULT listing of the example header, after its FILENAME and KSTCMP lines.
const std::string kDefault = "NPTS      3\n"
                             "B         -1.5\n"
                             "E         0.03\n"
                             "IFTYPE    ITIME   TIME SERIES FILE\n"
                             "LEVEN     false\n"
                             "DELTA     0.01\n"
                             "IDEP      IVEL    VELOCITY (NM/SEC)\n"
                             "OMARKER   -0.5\n"
                             "AMARKER   12.25 (P)\n"
                             "T3MARKER  7.125 (S wave)\n"
                             "KZDATE    2016-02-29 (060)\n"
                             "KZTIME    07:05:03.009\n"
                             "KSTNM     ANMO\n"
                             "KEVNM     ABCDEFGHIJKLMNOP\n"
                             "IEVTYP    IQUAKE  EARTHQUAKE\n"
                             "LOVROK    true\n"
                             "IQUAL     99  (not an enumerated value)\n"
                             "USER0     1.0000001\n"
                             "USER1     1e-30\n";

struct KivhdrProgram : ::testing::Test {
    test::TempDir dir;
    void SetUp() override {
        // Files of both kinds: by the writer in this machine's order, by hand
        // in the other one.
        test::resetstate();
        ::setenv("KIVAUX", kAux.c_str(), 1);
        newhdr();
        kivtest::setexample();
        std::int32_t nerr = 0;
        const std::vector<float> x = {0, 1, 2}, y = {5, 6, 7};
        wkiv0(dir / "w.kiv", x, y, nerr);
        ASSERT_EQ(nerr, 0);
        test::spit(dir / "h.kiv", kivtest::example(!kBig).bytes(6));
    }
    e2e::Result run(std::vector<std::string> args, bool kivaux = true) {
        args.insert(args.begin(), KIVHDR_BIN);
        e2e::Options o;
        if (kivaux) o.kivaux = kAux;
        return e2e::run(args, dir.path.string(), "", o);
    }
};

} // namespace

TEST_F(KivhdrProgram, BothByteOrdersListTheSameValues) {
    const e2e::Result r = run({"w.kiv", "h.kiv"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "FILENAME  w.kiv\nKSTCMP    ANMO BHZ\n" + kDefault +
                         "\nFILENAME  h.kiv\nKSTCMP    ANMO BHZ\n" + kDefault);
}

TEST_F(KivhdrProgram, ListsAndUndefinedFields) {
    e2e::Result r = run({"--list", "picks", "h.kiv"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "FILENAME  h.kiv\n"
                     "KSTCMP    ANMO BHZ\n"
                     "NPTS      3\n"
                     "B         -1.5\n"
                     "E         0.03\n"
                     "OMARKER   -0.5\n"
                     "AMARKER   12.25 (P)\n"
                     "T3MARKER  7.125 (S wave)\n"
                     "KZDATE    2016-02-29 (060)\n"
                     "KZTIME    07:05:03.009\n");
    r = run({"--list=SPECIAL", "h.kiv"});
    EXPECT_EQ(r.out, "FILENAME  h.kiv\nKSTCMP    ANMO BHZ\n");

    r = run({"--all", "--list", "STD", "w.kiv"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 83); // FILENAME, KSTCMP, 81 members
    for (const char* line : {"\nODELTA    undefined\n", "\nT0MARKER  undefined\n",
                             "\nKZDATE    2016-02-29 (060)\n", "\nYMAXIMUM  undefined\n"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line;
}

TEST_F(KivhdrProgram, EachBadFileGetsOneLineAndTheOthersAreListed) {
    const std::string good = kivtest::example(kBig).bytes(6);
    test::spit(dir / "cut.kiv", good.substr(0, 500));
    test::spit(dir / "size.kiv", good.substr(0, 640));
    test::spit(dir / "text.kiv", std::string(800, 'a'));
    const std::string err =
        "kivhdr: ERROR 1413: Truncated or not a KIV file: shorter than the 632-byte header: "
        "cut.kiv (500 bytes)\n"
        "kivhdr: ERROR 1414: KIV file size does not match NPTS and LEVEN: size.kiv (640 bytes, "
        "expected 656 for NPTS = 3 and LEVEN false)\n"
        "kivhdr: ERROR 1412: Not a KIV file: no header version 6 at byte 304 in either byte "
        "order: text.kiv\n"
        "kivhdr: ERROR 1410: KIV file does not exist: gone.kiv\n";
    // The same without KIVAUX: the built-in texts are the catalogue's.
    for (const bool kivaux : {true, false}) {
        SCOPED_TRACE(kivaux);
        const e2e::Result r =
            run({"cut.kiv", "w.kiv", "size.kiv", "text.kiv", "gone.kiv", "h.kiv"}, kivaux);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, err);
        EXPECT_EQ(r.out, "FILENAME  w.kiv\nKSTCMP    ANMO BHZ\n" + kDefault +
                             "\nFILENAME  h.kiv\nKSTCMP    ANMO BHZ\n" + kDefault);
    }
    const e2e::Result r = run({"h.kiv"}, false);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}

TEST_F(KivhdrProgram, Options) {
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* out; // regular expressions
        const char* err;
    };
    test::spit(dir / "-odd.kiv", kivtest::example(kBig).bytes(6));
    const std::vector<Case> cases = {
        {{"--help"}, 0, "Usage: kivhdr [^]*--list NAME[^]*--all[^]*Exit status[^]*", ""},
        {{"--version", "x"}, 0, "kivhdr [0-9]+\\.[0-9]+\\.[0-9]+\n", ""},
        {{"--", "-odd.kiv"}, 0, "FILENAME  -odd\\.kiv\nKSTCMP    ANMO BHZ\nNPTS      3\n[^]*", ""},
        {{"-odd.kiv"}, 1, "", "kivhdr: unknown option -odd.kiv\nTry 'kivhdr --help'[^]*"},
        {{"--list", "NOPE", "h.kiv"}, 1, "", "kivhdr: no list named 'NOPE' [^]*"},
        {{"h.kiv", "--list"}, 1, "", "kivhdr: option --list needs a list name\n[^]*"},
        {{}, 1, "", "kivhdr: no file given\n[^]*"},
    };
    for (const Case& c : cases) {
        const e2e::Result r = run(c.args);
        SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0]);
        EXPECT_EQ(r.status, c.status);
        EXPECT_TRUE(std::regex_match(r.out, std::regex(c.out))) << r.out;
        EXPECT_TRUE(std::regex_match(r.err, std::regex(c.err))) << r.err;
    }
}
