#include "bot/bot.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <string>

using namespace kivf;
using namespace std::string_literals;

TEST(Indexa, ScansEitherWayForMatchOrMismatch) {
    struct Case {
        std::string text;
        char c;
        bool forward, match;
        std::int32_t want;
    } cases[] = {
        {"", 'a', true, true, 0},        {"", 'a', false, false, 0},
        {"abcab", 'b', true, true, 2},   {"abcab", 'b', false, true, 5},
        {"  ab ", ' ', true, false, 3},  {"  ab ", ' ', false, false, 4},
        {"     ", ' ', false, false, 0}, {"xyz", 'q', true, true, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(indexa(c.text, c.c, c.forward, c.match), c.want) << '"' << c.text << '"';
}

TEST(Indexb, UsedLengthStopsAtFirstNul) {
    struct Case {
        std::string text;
        std::int32_t want;
    } cases[] = {
        {"abc  ", 3},    {"     ", 0}, {"ab\0de"s, 2},
        {"\0abc"s, 0},   {"a b  ", 3}, {"", 0},
        {"ab \0 x"s, 3}, {"abcde", 5}, {std::string(8, '\0'), 0},
    };
    for (const auto& c : cases) EXPECT_EQ(indexb(c.text), c.want) << c.text.size();
}

TEST(Ljust, MovesOverLeadingBlanks) {
    struct Case {
        std::string in, want;
    } cases[] = {
        {"  ab ", "ab   "}, {"     ", "     "}, {"ab   ", "ab   "},
        {"    x", "x    "}, {" a b ", "a b  "}, {"", ""},
    };
    for (const auto& c : cases) {
        std::string t = c.in;
        ljust(t);
        EXPECT_EQ(t, c.want) << '"' << c.in << '"';
    }
}

TEST(Modcase, QuoteStateIsSharedByBothQuoteCharacters) {
    std::string out(7, '?');
    modcase(true, "x\"y'z\"w", 7, out);
    EXPECT_EQ(out, "X\"y'Z\"w");
    modcase(false, "AB'CD'EF", 8, out = std::string(8, '?'));
    EXPECT_EQ(out, "ab'CD'ef");
}

TEST(Modcase, OnlyCountCharactersAndNeverPastEitherText) {
    std::string out = "-----";
    modcase(true, "abcde", 3, out);
    EXPECT_EQ(out, "ABC--");
    std::string small = "??";
    modcase(true, "abcdef", 6, small); // count larger than the output
    EXPECT_EQ(small, "AB");
    std::string same = "m\"n\"o";
    modcase(true, same, 5, same); // in place
    EXPECT_EQ(same, "M\"n\"O");
    modcase(true, "abc", -4, out = "zzz");
    EXPECT_EQ(out, "zzz");
}

TEST(Nequal, BlankPaddedExactEquality) {
    const std::string list = "B       DELTA   DEPMIN  ";
    struct Case {
        std::string name;
        std::int32_t count, want;
    } cases[] = {
        {"DELTA", 3, 2}, {"DELTA   ", 3, 2}, {"DELTA        ", 3, 2}, {"delta", 3, 0},
        {"DELT", 3, 0},  {" DELTA", 3, 0},   {"DEPMIN", 2, 0},        {"B", 3, 1},
        {"DELTA", 0, 0}, {"DELTA", -1, 0},   {"DEPMIN", 99, 3},       {"", 3, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(nequal(c.name, list, 8, c.count), c.want) << c.name << " " << c.count;
    std::array<Text<8>, 2> names{};
    names[0].set("NPTS");
    names[1].set("NVHDR");
    EXPECT_EQ(nequal("NVHDR", names), 2);
}

TEST(Cnvita, RightJustifiedOrAsterisks) {
    struct Case {
        std::int32_t v;
        std::size_t width;
        std::string want;
    } cases[] = {
        {42, 8, "      42"},
        {-1234567, 8, "-1234567"},
        {123456789, 8, "********"},
        {-1, 1, "*"},
        {0, 1, "0"},
        {0, 3, "  0"},
        {-2147483647 - 1, 11, "-2147483648"},
        {2147483647, 9, "*********"},
        {7, 0, ""},
    };
    for (const auto& c : cases) {
        std::string out(c.width, '?');
        cnvita(c.v, out);
        EXPECT_EQ(out, c.want) << c.v;
    }
}

TEST(Crname, AppendsDelimiterAndNameWhenItFits) {
    test::resetstate();
    std::string path = "abc       ";
    std::int32_t nerr = -1;
    crname(path, "/", "defgh", nerr);
    EXPECT_EQ(nerr, 0);
    EXPECT_EQ(path, "abc/defgh ");

    path = "abc       ";
    crname(path, "/", "defghijk", nerr);
    EXPECT_EQ(nerr, 916);
    EXPECT_EQ(path, "abc       ");
    EXPECT_EQ(test::msgline(0), "Number  916 abc / defghijk");

    path = "dir/      ";
    crname(path, "/x", "ab", nerr); // a second delimiter; only its first character
    EXPECT_EQ(path, "dir//ab   ");
    path = "          ";
    crname(path, "/", "messages", nerr);
    EXPECT_EQ(path, "/messages ");
    path = "abcd    ";
    crname(path, "/", "xyz", nerr);
    EXPECT_EQ(nerr, 0);
    EXPECT_EQ(path, "abcd/xyz");
}
