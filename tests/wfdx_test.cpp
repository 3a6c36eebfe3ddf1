// SPDX-License-Identifier: Apache-2.0
// The converter's pieces that a run cannot show one by one.
#include "wfdxlate/layout.h"
#include "xlate/xlate.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

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

// A catalogue KIVAUX names but that is not there, told in words: missing, not a file, or a path
// past the 128 characters the message system reads (the longest that loads is told nothing);
// nothing is left open by looking.
TEST(Catalogue, OneThatIsNotThereIsToldInWords) {
    namespace fs = std::filesystem;
    const fs::path base = fs::temp_directory_path() / ("kivf-cat-" + std::to_string(::getpid()));
    fs::remove_all(base);
    const auto dir = [&](std::size_t pathsize) { // "DIR/messages" of this many characters
        return base / std::string(pathsize - base.string().size() - 1 - 9, 'x');
    };
    for (const std::size_t n : {128u, 129u}) {
        fs::create_directories(dir(n));
        std::ofstream(dir(n) / "messages") << "2001 a text\n";
    }
    fs::create_directories(base / "d/messages");
    const auto said = [](const std::string& aux) {
        ::setenv("KIVAUX", aux.c_str(), 1);
        return kivf::xlate::nocatalogue();
    };
    const auto opened = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), {}); };
    const auto before = opened();
    EXPECT_EQ(said(dir(128)), "");
    EXPECT_EQ(said(dir(129)), dir(129).string() +
                                  "/messages: longer than the 128 characters a path may have");
    EXPECT_EQ(said((base / "none").string()), (base / "none/messages").string() +
                                                  ": No such file or directory");
    EXPECT_EQ(said((base / "d").string()), (base / "d/messages").string() + ": not a regular file");
    EXPECT_EQ(opened(), before);
    ::unsetenv("KIVAUX");
    EXPECT_EQ(kivf::xlate::nocatalogue(), "");
    fs::remove_all(base);
}
