// SPDX-License-Identifier: Apache-2.0
#include "bot/bot.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <string>

using namespace kivf;
using namespace std::string_literals;

TEST(Bot, ScansLengthsAndNames) {
    // clang-format off
    const std::tuple<std::string, char, bool, bool, std::int32_t> scans[] = {
        {"", 'a', true, true, 0}, {"abcab", 'b', true, true, 2}, {"abcab", 'b', false, true, 5},
        {"  ab ", ' ', true, false, 3}, {"  ab ", ' ', false, false, 4}, {"     ", ' ', false, false, 0},
        {"xyz", 'q', true, true, 0}, {"a", 'a', false, true, 1}, {"b", 'a', true, false, 1}, {"ab", '\0', true, true, 0}};
    const std::pair<std::string, std::int32_t> used[] = {
        {"abc  ", 3}, {"     ", 0}, {"ab\0de"s, 2}, {"\0abc"s, 0}, {"", 0}, {"ab \0 x"s, 3}, {"abcde", 5}};
    const std::tuple<std::string, std::int32_t, std::int32_t> names[] = { // in "B", "DELTA", "DEPMIN"
        {"DELTA", 3, 2}, {"DELTA        ", 3, 2}, {"delta", 3, 0}, {"DELT", 3, 0}, {" DELTA", 3, 0},
        {"DEPMIN", 2, 0}, {"DEPMIN", 3, 3}, {"B", 1, 1}, {"DELTA", 0, 0}, {"DELTA", -1, 0}, {"", 3, 0}};
    // clang-format on
    for (const auto& [t, c, fwd, match, want] : scans)
        EXPECT_EQ(indexa(t, c, fwd, match), want) << t << fwd;
    for (const auto& [t, n] : used) EXPECT_EQ(indexb(t), n) << t.size();
    for (const auto& [name, count, want] : names)
        EXPECT_EQ(nequal(name, "B       DELTA   DEPMIN  ", 8, count), want) << name << count;
    EXPECT_EQ(nequal("Q", "XYZ", 1, 9), 0); // never past the storage, whatever the count says
}

TEST(Bot, Edits) {
    // clang-format off
    const std::pair<std::string, std::string> ljusts[] = {{"  ab ", "ab   "}, {"     ", "     "}, {"    x", "x    "}, {" a b ", "a b  "}, {"", ""}};
    const std::pair<std::string, std::string> masks[] = {{"a\tb\x1f c\x7f\x80\xff~ !\0\n"s, "a?b? c?\x80\xff~ !??"}, {"", ""}};
    const std::tuple<bool, std::string, std::int32_t, std::string, std::string> cases[] = {
        {true, "x\"y'z\"w", 7, "???????", "X\"y'Z\"w"}, // either quote toggles the same state
        {false, "AB'CD'EF", 8, "????????", "ab'CD'ef"}, {true, "abcde", 3, "-----", "ABC--"},
        {true, "abcdef", 6, "??", "AB"}, {true, "ab", 6, "????", "AB??"}, {true, "abc", -4, "zzz", "zzz"}};
    const std::tuple<std::string, std::string, std::string, std::string, std::int32_t> paths[] = {
        {"abc       ", "/", "defgh", "abc/defgh ", 0}, {"abc       ", "/", "defghi", "abc/defghi", 0},
        {"abc       ", "/", "defghij", "abc       ", 916}, {"dir/      ", "/x", "ab", "dir//ab   ", 0},
        {"          ", "/", "messages", "/messages ", 0}, {"ab\0xyz    "s, "/", "c", "ab/c      ", 0}};
    // clang-format on
    for (auto [in, want] : ljusts) EXPECT_EQ((ljust(in), in), want);
    for (auto [in, want] : masks) EXPECT_EQ((maskcontrols(in), in), want);
    for (auto [up, in, count, out, want] : cases)
        EXPECT_EQ((modcase(up, in, count, out), out), want) << in;
    test::resetstate();
    std::int32_t e = -1;
    for (auto [path, delim, name, want, nerr] : paths)
        EXPECT_EQ((e = -1, crname(path, delim, name, e), std::pair(path, e)), std::pair(want, nerr))
            << name;
    EXPECT_EQ(test::msgline(0), "Number  916 abc / defghij");
}
