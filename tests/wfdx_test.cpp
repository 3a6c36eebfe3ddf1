// SPDX-License-Identifier: Apache-2.0
// The converter's pieces that a run cannot show one by one.
#include "wfdxlate/layout.h"
#include "xlate/xlate.h"

#include <gtest/gtest.h>

#include <string>

TEST(Written, EveryNameKeepsItsPlaceThroughManyGrowths) {
    const auto name = [](std::size_t i) { // as a batch run makes them: alike but for a few characters
        return "STA" + std::to_string(i % 97) + ".BHZ.2017.067.00.00." + std::to_string(i) + ".kiv";
    };
    kivf::xlate::Written w;
    constexpr std::size_t n = 100'000; // the table grows some twenty times
    EXPECT_EQ(w.find(name(0)), 0u);
    for (std::size_t i = 0; i < n; ++i) {
        ASSERT_TRUE(w.room());
        w.add(name(i), 3 * i + 1);
    }
    EXPECT_EQ(w.size(), n);
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < n; ++i) wrong += w.find(name(i)) != 3 * i + 1;
    for (std::size_t i = n; i < 2 * n; ++i) wrong += w.find(name(i)) != 0;
    EXPECT_EQ(wrong, 0u);
    // 16 bytes a slot, at most 80% and (after the first growths) at least 64% full.
    EXPECT_LE(w.bytes(), n * 25);
    EXPECT_GE(w.bytes() * 4, n * 16 * 5);
    // Names that differ only past a piece of 8, or by a NUL, or by length.
    for (const std::string& s : {std::string("ABCDEFGH1"), std::string("ABCDEFGH\0", 9), std::string("ABCDEFGH")})
        EXPECT_EQ(w.find(s), 0u) << s;
    w.room(), w.add("ABCDEFGHX", 7); // every byte counts, the ninth too
    EXPECT_EQ(w.find("ABCDEFGHY"), 0u);
    w.room(), w.add("ABCDEFGH", kivf::xlate::Written::kMaxPlace + 5); // a place too large is kept as the largest
    EXPECT_EQ(w.find("ABCDEFGH") + w.find(std::string("ABCDEFGH\0", 9)), kivf::xlate::Written::kMaxPlace);
}

// Sample paths are taken from the wfdisc file's directory; the root directory stays "/".
TEST(Layout, AWfdiscFilesDirectory) {
    using kivf::wfdx::Schema;
    const std::pair<const char*, const char*> cases[] = {
        {"/x.wfdisc", "/"}, {"//x.wfdisc", "/"}, {"a/b/x.wfdisc", "a/b"}, {"x.wfdisc", ""}};
    for (const auto& [file, dir] : cases)
        EXPECT_EQ(kivf::wfdx::source(file, Schema::css28, kivf::wfdx::DirPlaces{}).dir, dir) << file;
}
