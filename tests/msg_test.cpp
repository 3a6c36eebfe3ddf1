#include "msg/msg.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <string>

using namespace kivf;
using namespace std::string_literals;
using test::msgline;
using test::TempDir;

namespace {

struct MsgTest : ::testing::Test {
    TempDir dir;
    std::string out;
    void SetUp() override {
        test::resetstate();
        names();
        out = dir / "out";
    }
    void TearDown() override { test::resetstate(); }
    // The type names as the start-up sets them, without loading anything.
    static void names() {
        const char* n[] = {"ERRORS", "WARNINGS", "OUTPUT", "COMMANDS", "MACROS", "PROCESSED"};
        for (std::size_t i = 0; i < 6; ++i) kmmsg.typname[i].set(n[i]);
    }
    // Everything written to a file unit by f.
    template <class F> std::string capture(std::int32_t unit, F f) {
        EXPECT_EQ(uopen(unit, out, "NEW"), 0);
        f();
        uclose(unit);
        std::string s = test::slurp(out);
        ::unlink(out.c_str());
        return s;
    }
    static void catalogue(std::initializer_list<std::pair<std::int32_t, const char*>> entries) {
        for (auto [num, text] : entries) {
            const auto k = static_cast<std::size_t>(cmmsg.ncatmsg++);
            cmmsg.catnum[k] = num;
            kmmsg.cattext[k].set(text);
        }
    }
};

} // namespace

TEST_F(MsgTest, TypeFromFirstCharacter) {
    struct Case {
        std::string type;
        std::int32_t want;
    } cases[] = {{"ERROR", 1}, {"error", 1}, {"e", 1},         {"WARNING", 2}, {"warn", 2},
                 {"x", 3},     {"   ", 3},   {"", 3},          {"OUTPUT", 3},  {"commands", 4},
                 {"M", 5},     {"p", 6},     {"\"ERROR\"", 3}, {"Error!", 1}};
    for (const auto& c : cases) {
        setmsg(c.type, 5);
        EXPECT_EQ(cmmsg.msgtype, c.want) << '"' << c.type << '"';
        EXPECT_EQ(cmmsg.msgnum, 5);
        EXPECT_EQ(msgline(0), ""); // below 100: no text
    }
    test::resetstate(); // no type names yet: everything is type 3
    setmsg("ERROR", 108);
    EXPECT_EQ(cmmsg.msgtype, 3);
}

TEST_F(MsgTest, GetmsgCatalogueAndFallback) {
    struct Case {
        std::int32_t num;
        std::string want;
    } cases[] = {{7, "Number    7"},
                 {108, "Number  108"},
                 {1337, "Number 1337"},
                 {0, "Number    0"},
                 {-42, "Number  -42"},
                 {123456, "Number*****"},
                 {-2147483647 - 1, "Number*****"}};
    for (const auto& c : cases) {
        Text<20> t;
        getmsg(c.num, t);
        EXPECT_EQ(t.view(), c.want + std::string(20 - c.want.size(), ' ')) << c.num;
    }
    catalogue({{108, "first text"}, {108, "second text"}, {0, ""}});
    Text<20> t;
    getmsg(108, t);
    EXPECT_EQ(t.used(), "first text"); // the earlier entry wins
    getmsg(0, t);
    EXPECT_EQ(t.used(), "");
    Text<4> small;
    getmsg(108, small); // cut to the text
    EXPECT_EQ(small.view(), "firs");
    getmsg(999, small);
    EXPECT_EQ(small.view(), "Numb");
}

TEST_F(MsgTest, PiecesAreSeparatedByOneBlank) {
    setmsg("ERROR", 5);
    apcmsg("abc");
    apcmsg("def   ");
    EXPECT_EQ(msgline(0), "abc def");
    EXPECT_EQ(cmmsg.msgcol, 8);
    apcmsg("    "); // a blank piece adds one column and nothing else
    apcmsg("");
    apcmsg("g");
    EXPECT_EQ(msgline(0), "abc def   g");
    apimsg(-42);
    apimsg(2147483647);
    EXPECT_EQ(msgline(0), "abc def   g -42 ********");
    catalogue({{114, "Data read failed."}});
    apcmsgnum(114);
    apcmsgnum(7); // any number is looked up, below 100 too
    EXPECT_EQ(msgline(0), "abc def   g -42 ******** Data read failed. Number    7");
    setmsg("ERROR", 114);
    EXPECT_EQ(msgline(0), "Data read failed.");
    EXPECT_EQ(cmmsg.msgcol, 18);
}

TEST_F(MsgTest, FirstLineHolds150ColumnsOthers160) {
    setmsg("ERROR", 5);
    cmmsg.msgcol = 100;
    apcmsg(std::string(49, 'a')); // 100 + 49 + 1 = 150 still fits
    EXPECT_EQ(cmmsg.nmsgline, 1);
    EXPECT_EQ(cmmsg.msgcol, 150);
    setmsg("ERROR", 5);
    cmmsg.msgcol = 100;
    apcmsg(std::string(50, 'b'));
    EXPECT_EQ(cmmsg.nmsgline, 2);
    EXPECT_EQ(msgline(1), std::string(50, 'b'));
    EXPECT_EQ(cmmsg.msgcol, 51);
    cmmsg.msgcol = 100;
    apcmsg(std::string(59, 'c')); // 100 + 59 + 1 = 160 on line 2
    EXPECT_EQ(cmmsg.nmsgline, 2);
    apcmsg("d");
    EXPECT_EQ(cmmsg.nmsgline, 3);
    apcmsg(std::string(200, 'e')); // longer than a line: cut at 160, on a fresh line
    EXPECT_EQ(cmmsg.nmsgline, 4);
    EXPECT_EQ(msgline(3), std::string(160, 'e'));
    apcmsg("f");
    EXPECT_EQ(cmmsg.nmsgline, 5);
    EXPECT_EQ(msgline(4), "f");
}

TEST_F(MsgTest, FifthLineIsReusedWhenFull) {
    setmsg("ERROR", 5);
    for (int i = 1; i <= 10; ++i) aplmsg("line " + std::to_string(i));
    EXPECT_EQ(cmmsg.nmsgline, 5);
    EXPECT_EQ(msgline(1), "line 1");
    EXPECT_EQ(msgline(3), "line 3");
    EXPECT_EQ(msgline(4), "line 10");
    cmmsg.msgcol = 150;
    apcmsg("0123456789");
    EXPECT_EQ(cmmsg.nmsgline, 5);
    EXPECT_EQ(msgline(4), "0123456789");
    EXPECT_EQ(msgline(3), "line 3"); // lines 1 to 4 keep theirs
}

TEST_F(MsgTest, AplmsgStartsLinesAndClrmsgBlanksThem) {
    setmsg("ERROR", 5);
    apcmsg("one");
    aplmsg("    ");
    EXPECT_EQ(cmmsg.nmsgline, 2);
    EXPECT_EQ(cmmsg.msgcol, 1);
    apcmsg("two");
    EXPECT_EQ(kmmsg.msgline[1].view().substr(0, 5), " two "); // after the blank column
    aplmsg(std::string(170, 'z'));
    EXPECT_EQ(msgline(2), std::string(160, 'z'));
    clrmsg();
    EXPECT_EQ(cmmsg.nmsgline, 1);
    EXPECT_EQ(cmmsg.msgnum, 0);
    EXPECT_EQ(cmmsg.msgtype, 0);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(msgline(i), "") << i;
}

TEST_F(MsgTest, ComposingFromZeroFilledStateNeverLosesText) {
    test::resetstate(); // zero-filled lines, as at program start
    setmsg("ERROR", 5);
    apcmsg(" ");
    apcmsg("x");
    EXPECT_EQ(msgline(0), " x");
    cmmsg.nmsgline = 0; // never write outside the lines, whatever the count says
    apcmsg("y");
    cmmsg.nmsgline = 9;
    aplmsg("z");
    EXPECT_EQ(cmmsg.nmsgline, 5);
}

TEST_F(MsgTest, AutoprintFlushesAndGoesOn) {
    sendmsg(20, true, {true, true, true, true, true, true});
    const std::string s = capture(20, [] {
        cmmsg.autoprint = true;
        setmsg("WARNING", 5);
        for (int i = 1; i <= 5; ++i) aplmsg("l" + std::to_string(i));
        EXPECT_EQ(cmmsg.msgtype, 2);
        EXPECT_EQ(cmmsg.nmsgline, 1);
        EXPECT_EQ(cmmsg.msgnum, 0);
        EXPECT_EQ(msgline(0), "l5");
    });
    EXPECT_EQ(s, " WARNING:  \n l1\n l2\n l3\n l4\n");
}

TEST_F(MsgTest, OutmsgRecordLayouts) {
    sendmsg(20, true, {true, true, true, true, true, true});
    struct Case {
        std::string type;
        std::int32_t num;
        std::string want;
    } cases[] = {
        {"ERROR", 108, " \aERROR  108: T P\n"},
        {"ERROR", 1337, " \aERROR 1337: T P\n"},
        {"ERROR", 12345, " \aERROR ****: T P\n"},
        {"ERROR", 5, " \aERROR    5: T P\n"},
        {"ERROR", -5, " \aERROR   -5: T P\n"},
        {"ERROR", -100, " \aERROR  ***: T P\n"},
        {"ERROR", -999, " \aERROR  ***: T P\n"},
        {"ERROR", 999, " \aERROR  999: T P\n"},
        {"WARNING", 108, " WARNING: T P\n"},
        {"OUTPUT", 108, " T P\n"},
        {"COMMANDS", 1, " T P\n"},
        {"MACROS", 1, " T P\n"},
        {"PROCESSED", 1, " ==> T P\n"},
    };
    for (const auto& c : cases) {
        const std::string s = capture(20, [&] {
            setmsg(c.type, c.num);
            clrmsg(); // keep the test independent of the catalogue
            typmsg(c.type);
            cmmsg.msgnum = c.num;
            apcmsg("T");
            apcmsg("P");
            outmsg();
        });
        EXPECT_EQ(s, c.want) << c.type << " " << c.num;
    }
}

TEST_F(MsgTest, MultiLineAndBlankMessages) {
    sendmsg(20, true, {true, true, true, true, true, true});
    EXPECT_EQ(capture(20,
                      [] {
                          setmsg("ERROR", 1337);
                          aplmsg("second");
                          aplmsg("");
                          outmsg();
                          wrtmsg(20);
                      }),
              " \aERROR 1337: Number 1337\n second\n  \n\aERROR: Number 1337\nsecond\n\n");
    EXPECT_EQ(capture(20,
                      [] {
                          setmsg("ERROR", 5); // line 1 blank
                          outmsg();
                          wrtmsg(20);
                          setmsg("WARNING", 5);
                          outmsg();
                          wrtmsg(20);
                          setmsg("OUTPUT", 5);
                          outmsg();
                          wrtmsg(20);
                      }),
              " \aERROR    5:  \n\aERROR: \n WARNING:  \nWARNING: \n  \n\n");
}

TEST_F(MsgTest, DestinationsByType) {
    // Unit 21 takes only warnings; the record order is line by line.
    sendmsg(20, true, {true, true, true, false, false, false});
    sendmsg(21, true, {false, true, false, false, false, false});
    ASSERT_EQ(uopen(21, dir / "w", "NEW"), 0);
    const std::string s = capture(20, [] {
        setmsg("W", 5);
        apcmsg("a");
        aplmsg("b");
        outmsg();
        setmsg("COMMANDS", 5);
        apcmsg("hidden");
        outmsg();
        wrtmsg(20); // whatever the destinations
    });
    uclose(21);
    EXPECT_EQ(s, " WARNING: a\n b\nhidden\n");
    EXPECT_EQ(test::slurp(dir / "w"), " WARNING: a\n b\n");
}

TEST_F(MsgTest, SendmsgRegisterReplaceRemove) {
    using F = std::array<bool, 6>;
    const F a{true, false, false, false, false, false}, b{false, true, false, false, false, false},
        c{false, false, true, false, false, false};
    sendmsg(6, true, a);
    sendmsg(7, true, b);
    sendmsg(8, true, c);
    sendmsg(7, true, c); // replace: flags only
    EXPECT_EQ(cmmsg.ndest, 3);
    EXPECT_EQ(cmmsg.destact[1], c);
    sendmsg(6, false, a); // remove the first: the others move down with their flags
    EXPECT_EQ(cmmsg.ndest, 2);
    EXPECT_EQ(cmmsg.destunit[0], 7);
    EXPECT_EQ(cmmsg.destunit[1], 8);
    EXPECT_EQ(cmmsg.destact[0], c);
    sendmsg(99, false, a); // not registered: nothing
    EXPECT_EQ(cmmsg.ndest, 2);
    sendmsg(6, true, b); // again, as the new last one
    EXPECT_EQ(cmmsg.destunit[2], 6);
    EXPECT_EQ(cmmsg.destact[2], b);
    sendmsg(30, true, a);
    sendmsg(31, true, a);
    sendmsg(32, true, a); // a sixth: ignored
    EXPECT_EQ(cmmsg.ndest, 5);
    EXPECT_EQ(cmmsg.destunit[4], 31);
}

// ------------------------------------------------------------ catalogue ----

namespace {

struct CatalogueTest : MsgTest {
    void load(const std::string& contents) {
        test::spit(dir / "messages", contents);
        ::setenv("KIVAUX", dir.path.c_str(), 1);
        test::resetstate();
    }
};

std::string lines(int n, int first = 1) {
    std::string s;
    for (int i = 0; i < n; ++i) {
        Text<4> num;
        wrint(first + i, num);
        s += std::string(num.view()) + " text " + std::to_string(first + i) + "\n";
    }
    return s;
}

} // namespace

TEST_F(CatalogueTest, ColumnsDuplicatesAndBlankLines) {
    load(" 101 open failed\n108 x-left justified\n 101Xsecond 101\n\n-12  minus\n1337?Z\n");
    std::int32_t nerr = -1;
    kivmsg(nerr);
    EXPECT_EQ(nerr, 0);
    ASSERT_EQ(cmmsg.ncatmsg, 6);
    EXPECT_EQ(cmmsg.catnum[1], 108);
    EXPECT_EQ(kmmsg.cattext[1].used(), "-left justified"); // column 5 skipped: "x" lost
    EXPECT_EQ(cmmsg.catnum[3], 0);
    EXPECT_EQ(kmmsg.cattext[3].used(), "");
    EXPECT_EQ(cmmsg.catnum[4], -12);
    EXPECT_EQ(kmmsg.cattext[4].used(), "minus");
    Text<20> t;
    getmsg(101, t);
    EXPECT_EQ(t.used(), "open failed");
    getmsg(1337, t);
    EXPECT_EQ(t.used(), "Z");
}

TEST_F(CatalogueTest, LongLinesAreCutAt165) {
    load(" 200 " + std::string(160, 'a') + "IGNORED\n");
    std::int32_t nerr = -1;
    kivmsg(nerr);
    EXPECT_EQ(nerr, 0);
    EXPECT_EQ(kmmsg.cattext[0].used(), std::string(160, 'a'));
}

TEST_F(CatalogueTest, FourHundredLinesFillIt) {
    for (int n : {399, 400, 401}) {
        load(lines(n));
        std::int32_t nerr = -1;
        kivmsg(nerr);
        EXPECT_EQ(nerr, n >= 400 ? 919 : 0) << n;
        EXPECT_EQ(cmmsg.ncatmsg, std::min(n, 400)) << n;
        EXPECT_FALSE(uconnected(19)) << n;
    }
    EXPECT_EQ(cmmsg.catnum[399], 400);
}

TEST_F(CatalogueTest, BadLineStopsWithItsNumber) {
    load(" 114 Read trouble.\n 100 Bad catalogue line\n 200 ok\n2x0 nope\n 300 never\n");
    std::int32_t nerr = -1;
    kivmsg(nerr);
    EXPECT_EQ(nerr, 100);
    EXPECT_EQ(cmmsg.ncatmsg, 3);
    EXPECT_EQ(msgline(0), "Bad catalogue line 4 Read trouble. " + dir / "messages");
    EXPECT_FALSE(uconnected(19));
    load("ab   first line bad\n");
    kivmsg(nerr);
    EXPECT_EQ(nerr, 100);
    EXPECT_EQ(cmmsg.ncatmsg, 0);
    EXPECT_EQ(msgline(0), "Number  100 1 Number  114 " + dir / "messages");
}

TEST_F(CatalogueTest, MissingFileAndLongDirectory) {
    ::setenv("KIVAUX", (dir / "nothing").c_str(), 1);
    std::int32_t nerr = -1;
    kivmsg(nerr);
    EXPECT_EQ(nerr, 108);
    EXPECT_EQ(msgline(0), "Number  108 " + dir / "nothing" + "/messages");
    const std::string longdir = "/" + std::string(126, 'd'); // 127: path would be 136
    ::setenv("KIVAUX", longdir.c_str(), 1);
    kivmsg(nerr);
    EXPECT_EQ(nerr, 916);
    EXPECT_EQ(msgline(0), "Number  916 " + longdir + " /"); // the last piece did not fit
    EXPECT_EQ(msgline(1), "messages");
    const std::string toolong = "/" + std::string(199, 'd');
    ::setenv("KIVAUX", toolong.c_str(), 1);
    kivmsg(nerr);
    EXPECT_EQ(nerr, 916);
    EXPECT_EQ(cmmsg.ncatmsg, 0);
    EXPECT_FALSE(uconnected(19));
}

TEST(InimsgDeath, FailureIsPrintedOnceOnTheTerminal) {
    // In a child: standard output is what the user sees.
    TempDir dir;
    ::setenv("KIVAUX", dir.path.c_str(), 1);
    const std::string want = "^ \aERROR  108: Number  108 " + dir / "messages" + "\nend\n$";
    EXPECT_EXIT(
        {
            test::resetstate();
            ::dup2(2, 1); // the death test watches standard error
            inimsg();
            EXPECT_EQ(cmmsg.ndest, 1);
            uwrite(6, "end");
            std::exit(cmmsg.destunit[0] == 6 && cmmsg.destact[0][2] && !cmmsg.destact[0][3] ? 0
                                                                                            : 9);
        },
        ::testing::ExitedWithCode(0), want);
}

TEST(Inimsg, LoadsTheProjectCatalogue) {
    test::resetstate();
    ::setenv("KIVAUX", KIVF_SOURCE_DIR "/kivaux/", 1); // a trailing delimiter is fine
    inimsg();
    EXPECT_GE(cmmsg.ncatmsg, 9);
    for (std::int32_t num : {100, 101, 108, 114, 115, 116, 916, 919, 1337}) {
        Text<160> t;
        getmsg(num, t);
        EXPECT_FALSE(t.used().starts_with("Number")) << num;
    }
    test::resetstate();
}
