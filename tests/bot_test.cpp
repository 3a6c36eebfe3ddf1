#include "bot/bot.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <string>

using namespace kivf;
using namespace std::string_literals;

TEST(Bot, ScansAndUsedLength) {
    struct Case {
        std::string text;
        char c;
        bool forward, match;
        std::int32_t want;
    } cases[] = {
        {"", 'a', true, true, 0},        {"abcab", 'b', true, true, 2},
        {"abcab", 'b', false, true, 5},  {"  ab ", ' ', true, false, 3},
        {"  ab ", ' ', false, false, 4}, {"     ", ' ', false, false, 0},
        {"xyz", 'q', true, true, 0},     {"a", 'a', false, true, 1},
        {"b", 'a', true, false, 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(indexa(c.text, c.c, c.forward, c.match), c.want) << c.text << c.forward;
    const std::pair<std::string, std::int32_t> used[] = {
        {"abc  ", 3}, {"     ", 0},    {"ab\0de"s, 2}, {"\0abc"s, 0},
        {"", 0},      {"ab \0 x"s, 3}, {"abcde", 5}};
    for (const auto& [t, n] : used) EXPECT_EQ(indexb(t), n) << t.size();
}

TEST(Bot, LjustModcaseNequal) {
    for (auto [in, want] : {std::pair<std::string, std::string>{"  ab ", "ab   "},
                            {"     ", "     "},
                            {"    x", "x    "},
                            {" a b ", "a b  "},
                            {"", ""}}) {
        ljust(in);
        EXPECT_EQ(in, want);
    }
    std::string out(7, '?');
    modcase(true, "x\"y'z\"w", 7, out); // either quote toggles the same state
    EXPECT_EQ(out, "X\"y'Z\"w");
    modcase(false, "AB'CD'EF", 8, out = std::string(8, '?'));
    EXPECT_EQ(out, "ab'CD'ef");
    modcase(true, "abcde", 3, out = "-----");
    EXPECT_EQ(out, "ABC--");
    modcase(true, "abcdef", 6, out = "??"); // never past the output
    EXPECT_EQ(out, "AB");
    modcase(true, "ab", 6, out = "????"); // nor past the input
    EXPECT_EQ(out, "AB??");
    modcase(true, "abc", -4, out = "zzz");
    EXPECT_EQ(out, "zzz");

    const std::string list = "B       DELTA   DEPMIN  ";
    struct Case {
        std::string name;
        std::int32_t count, want;
    } cases[] = {{"DELTA", 3, 2},  {"DELTA        ", 3, 2}, {"delta", 3, 0},  {"DELT", 3, 0},
                 {" DELTA", 3, 0}, {"DEPMIN", 2, 0},        {"DEPMIN", 3, 3}, {"B", 1, 1},
                 {"DELTA", 0, 0},  {"DELTA", -1, 0},        {"", 3, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(nequal(c.name, list, 8, c.count), c.want) << c.name << c.count;
}

TEST(Bot, CnvitaAndCrname) {
    struct Case {
        std::int32_t v;
        std::size_t width;
        std::string want;
    } cases[] = {{42, 8, "      42"},
                 {-1234567, 8, "-1234567"},
                 {12345678, 8, "12345678"},
                 {123456789, 8, "********"},
                 {-1, 1, "*"},
                 {-1, 2, "-1"},
                 {0, 1, "0"},
                 {-2147483647 - 1, 11, "-2147483648"},
                 {2147483647, 9, "*********"},
                 {7, 0, ""}};
    for (const auto& c : cases) {
        std::string out(c.width, '?');
        cnvita(c.v, out);
        EXPECT_EQ(out, c.want) << c.v;
    }
    test::resetstate();
    struct Path {
        std::string path, delim, name, want;
        std::int32_t nerr;
    } paths[] = {{"abc       ", "/", "defgh", "abc/defgh ", 0},
                 {"abc       ", "/", "defghi", "abc/defghi", 0},
                 {"abc       ", "/", "defghij", "abc       ", 916},
                 {"dir/      ", "/x", "ab", "dir//ab   ", 0},
                 {"          ", "/", "messages", "/messages ", 0}};
    for (const auto& p : paths) {
        std::string path = p.path;
        std::int32_t nerr = -1;
        crname(path, p.delim, p.name, nerr);
        EXPECT_EQ(path, p.want);
        EXPECT_EQ(nerr, p.nerr);
    }
    EXPECT_EQ(test::msgline(0), "Number  916 abc / defghij");
}
