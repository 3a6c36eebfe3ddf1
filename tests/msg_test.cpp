// SPDX-License-Identifier: Apache-2.0
#include "msg/msg.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <string>

using namespace kivf;
using test::msgline;
using test::TempDir;

namespace {

using Types = std::array<bool, kMsgTypes>;
constexpr Types kAll{true, true, true, true, true, true};

struct MsgTest : ::testing::Test {
    TempDir dir;
    void SetUp() override {
        test::resetstate();
        const char* n[] = {"ERRORS", "WARNINGS", "OUTPUT", "COMMANDS", "MACROS", "PROCESSED"};
        for (std::size_t i = 0; i < 6; ++i) kmmsg.typname[i].set(n[i]);
    }
    void TearDown() override { test::resetstate(); }
    // Everything written to unit 20 by f.
    template <class F> std::string capture(F f) {
        EXPECT_EQ(uopen(20, dir / "out", "NEW"), 0);
        f();
        uclose(20);
        const std::string s = test::slurp(dir / "out");
        return std::filesystem::remove(dir / "out"), s;
    }
    static void catalogue(std::int32_t num, const char* text) {
        const auto k = static_cast<std::size_t>(cmmsg.ncatmsg++);
        cmmsg.catnum[k] = num;
        kmmsg.cattext[k].set(text);
    }
    // The used message lines from the first'th, then the line count and the column.
    static std::string lines(int first = 0) {
        std::string s;
        for (int i = first; i < cmmsg.nmsgline; ++i) s += msgline(i) + "|";
        return s + std::to_string(cmmsg.nmsgline) + "," + std::to_string(cmmsg.msgcol);
    }
    // Loads the catalogue of KIVAUX=where; the catalogue unit is released whatever happens.
    static std::int32_t from(const std::string& where) {
        ::setenv("KIVAUX", where.c_str(), 1);
        test::resetstate();
        std::int32_t nerr = -1;
        kivmsg(nerr);
        EXPECT_FALSE(uconnected(19));
        return nerr;
    }
    std::int32_t load(const std::string& contents) {
        return test::spit(dir / "messages", contents), from(dir.path);
    }
};

} // namespace

TEST_F(MsgTest, TypesAndNumbers) {
    EXPECT_EQ(Draft(1).failure().number + Draft().failure().number, 1); // any number but 0 fails
    // clang-format off
    const std::pair<std::string, std::int32_t> types[] = {
        {"ERROR", 1}, {"e", 1}, {"warn", 2}, {"x", 3}, {"   ", 3}, {"", 3}, {"OUTPUT", 3}, {"commands", 4}, {"M", 5}, {"p", 6}};
    // clang-format on
    for (const auto& [type, want] : types) {
        setmsg(type, 99); // below 100: no text
        EXPECT_EQ((std::tuple{cmmsg.msgtype, cmmsg.msgnum, msgline(0)}),
                  (std::tuple{want, 99, ""}));
    }
}

TEST_F(MsgTest, PiecesLinesAndColumns) {
    setmsg("ERROR", 5);
    for (const char* piece : {"abc", "def   ", "    ", "g"}) apcmsg(piece); // a blank one: 1 column
    apimsg(-42), apimsg(2147483647);
    catalogue(114, "Data read failed.");
    apcmsgnum(114);
    apcmsgnum(7); // any number is looked up
    EXPECT_EQ(lines(), "abc def  g -42 ******** Data read failed. Number    7|1,54");
    // Line 1 holds 150 columns, the others 160; a piece that does not fit starts a line.
    for (auto [col, len, line, newcol] :
         {std::array{100, 49, 1, 150}, {100, 50, 2, 51}, {0, 200, 2, 201}}) {
        setmsg("ERROR", 5);
        cmmsg.msgcol = col;
        apcmsg(std::string(static_cast<std::size_t>(len), 'a'));
        EXPECT_EQ((std::array{cmmsg.nmsgline, cmmsg.msgcol}), (std::array{line, newcol})) << len;
        EXPECT_EQ(msgline(line - 1).size(),
                  std::size_t(std::min(len + (line == 1 ? col : 0), 160)));
    }
    cmmsg.msgcol = 100, apcmsg(std::string(59, 'c')); // 160 on line 2
    EXPECT_EQ(cmmsg.nmsgline, 2);
    apcmsg("d");
    for (int i = 1; i <= 4; ++i) aplmsg("line " + std::to_string(i));
    EXPECT_EQ(lines(2), "d|line 1|line 4|5,7"); // the fifth line is reused
    cmmsg.msgcol = 157, apcmsg("0123");         // "line 4" cleared first
    EXPECT_EQ(lines(3), "line 1|0123|5,5");
    aplmsg("    ");
    apcmsg("two"); // after the blank column
    EXPECT_EQ(lines(4), " two|5,5");
    std::string t(21, '#'); // the text into 20 characters: cut there, nothing past them
    std::int32_t num = 0;
    lastmsg(num, std::span(t).first(20));
    EXPECT_EQ(std::pair(t[20], num), std::pair('#', 5));
    clrmsg();
    EXPECT_EQ((std::array{cmmsg.nmsgline, cmmsg.msgnum, cmmsg.msgtype, cmmsg.msgcol}),
              (std::array{1, 0, 0, 0}));
    for (const MsgLine& l : kmmsg.msgline) EXPECT_EQ(l.view(), std::string(160, ' '));
}

TEST_F(MsgTest, OutputLayoutsAndDestinations) {
    sendmsg(20, true, kAll);
    // clang-format off
    const std::tuple<std::string, std::int32_t, std::string> cases[] = {
        {"ERROR", 1000, " \aERROR 1000: T P"}, {"ERROR", 999, " \aERROR  999: T P"}, {"WARNING", 108, " WARNING: T P"},
        {"MACROS", 1, " T P"}, {"PROCESSED", 1, " ==> T P"}};
    // clang-format on
    for (const auto& [type, num, want] : cases) {
        const std::string s = capture([&, type = type, num = num] {
            clrmsg(), typmsg(type);
            cmmsg.msgnum = num; // no catalogue text
            apcmsg("T"), apcmsg("P"), aplmsg("second"), aplmsg(std::string("\0x", 2));
            outmsg();
        });
        EXPECT_EQ(s, want + "\n second\n ?\n") << type << " " << num; // a NUL shown, masked
    }
    const std::string typed = capture([] {
        for (const char* t : {"ERROR", "WARNING", "OUTPUT"}) setmsg(t, 5), aplmsg("b"), wrtmsg(20);
        setmsg("ERROR", 5);
        outmsg();          // a blank line 1
        cmmsg.msgtype = 0; // no type: nothing
        outmsg();
    });
    EXPECT_EQ(typed, "\aERROR: \nb\nWARNING: \nb\n\nb\n \aERROR    5:  \n");
    sendmsg(21, true, {false, true, false, false, false, false});
    sendmsg(20, true, {true, true, true, false, false, false}); // replaced: flags only
    ASSERT_EQ(uopen(21, dir / "w", "NEW"), 0);
    cmmsg.autoprint = true;
    const std::string s = capture([] {
        setmsg("W", 5);
        for (int i = 1; i <= 6; ++i) aplmsg("l" + std::to_string(i)); // full: printed, goes on
        EXPECT_EQ((std::array{cmmsg.msgtype, cmmsg.nmsgline, cmmsg.msgnum}), (std::array{2, 2, 0}));
        outmsg();
        setmsg("COMMANDS", 5), apcmsg("hidden"), outmsg();
    });
    uclose(21);
    EXPECT_EQ(s, " WARNING:  \n l1\n l2\n l3\n l4\n WARNING: l5\n l6\n");
    EXPECT_EQ(test::slurp(dir / "w") + std::to_string(cmmsg.ndest), s + "2");
    sendmsg(20, false, kAll); // removed: the others move down with their flags
    EXPECT_EQ((std::array{cmmsg.ndest, cmmsg.destunit[0]}), (std::array{1, 21}));
    EXPECT_EQ(cmmsg.destact[0], (Types{false, true, false, false, false, false}));
    ASSERT_EQ(uopen(21, dir / "w2", "NEW"), 0);
    setmsg("WARNING", 5), aplmsg("y"), outmsg();
    uclose(21); // past the count: no destination
    EXPECT_EQ(test::slurp(dir / "w2"), " WARNING:  \n y\n");
}

TEST_F(MsgTest, CatalogueFile) {
    const std::string long160(160, 'a'), text = " 101 open failed\n108 x-left justified\n";
    EXPECT_EQ(load(text + " 101Xsecond 101\n\n-12  minus\n1337?Z\n 200 " + long160 + "IGNORED\n"),
              0);
    cmmsg.autoprint = true;
    inimsg(); // the same catalogue, nothing to say: standard output only, full messages kept whole
    EXPECT_TRUE(cmmsg.ndest == 1 && cmmsg.destunit[0] == kStdout && !cmmsg.autoprint &&
                cmmsg.destact[0] == (Types{true, true, true, false, false, false}));
    std::string all;
    for (std::size_t i = 0; i < std::size_t(cmmsg.ncatmsg); ++i)
        all += std::to_string(cmmsg.catnum[i]) + " " + std::string(kmmsg.cattext[i].used()) + "|";
    EXPECT_EQ(all, "101 open failed|108 -left justified|101 second 101|0 |-12 minus|1337 Z|200 " +
                       long160 + "|");
    for (int n : {399, 400, 401}) {
        std::string s;
        for (int i = 1; i <= n; ++i) s += std::to_string(1000 + i) + " text\n";
        EXPECT_EQ(load(s), n >= 400 ? 919 : 0) << n;
        const int kept = std::min(n, 400);
        EXPECT_EQ((std::array{cmmsg.ncatmsg, cmmsg.catnum[std::size_t(kept - 1)]}),
                  (std::array{kept, 1000 + kept}));
    }
    EXPECT_EQ(load(" 114 Read trouble.\n 100 Bad catalogue line\n 200 ok\n2x0 no\n 300 never\n"),
              100);
    EXPECT_EQ(msgline(0) + "|" + std::to_string(cmmsg.ncatmsg),
              "Bad catalogue line 4 Read trouble. " + dir / "messages|3");
    for (std::int32_t u = 1; u <= 19; ++u) // no unit left for it; 5 and 6 are taken already
        if (u != kStdin && u != kStdout) uopen(u, "", "SCRATCH");
    std::int32_t nerr = -1;
    kivmsg(nerr);
    EXPECT_EQ((std::array{nerr, cmmsg.ncatmsg}), (std::array{116, 3}));
    // A missing catalogue, one that is no regular file and a far too long KIVAUX are the
    // programs' bad-input rows; here the boundary: 128 characters with "/messages", then one more.
    const std::string d118 = "/" + std::string(118, 'd'), d119 = d118 + "d";
    EXPECT_EQ((std::array{from(d118), from(d119), cmmsg.ncatmsg}), (std::array{108, 916, 0}));
    EXPECT_EQ(msgline(0) + "|" + msgline(1), "Number  916 " + d119 + " / messages|");
}
