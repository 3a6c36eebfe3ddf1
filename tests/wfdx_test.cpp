// SPDX-License-Identifier: Apache-2.0
// The converter's pieces that a run cannot show one by one.
#include "wfdxlate/layout.h"
#include "xlate/xlate.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern "C" __attribute__((weak)) void __asan_init(); // there when built with AddressSanitizer

// As a batch run makes them: alike but for a few characters.
std::string name(std::size_t i) {
    return "STA" + std::to_string(i % 97) + ".BHZ.2017.067.00.00." + std::to_string(i) + ".kiv";
}

// Grown until memory runs out (in a child whose address space may grow by 8 MB, some hundreds of
// thousands of names): room() then says no, and every name keeps its place.
TEST(Written, EveryNameKeepsItsPlaceUntilMemoryRunsOut) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(10); // a table that grew without memory would loop for ever
        std::size_t pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        const rlim_t size = pages * ::sysconf(_SC_PAGESIZE) + (8u << 20);
        const rlimit lim{size, size};
        const bool sanitized = &__asan_init != nullptr; // its reservations pass any limit
        if (!sanitized && ::setrlimit(RLIMIT_AS, &lim) != 0) ::_exit(2);
        kivf::xlate::Written w;
        std::size_t n = 0, wrong = 0, grown = 0;
        for (; (!sanitized || n < 150'000) && w.room(); ++n) {
            w.add(name(n), 3 * n + 1);
            if (n + 1 == 100'000) grown = w.bytes();
        }
        for (std::size_t i = 0; i < n; ++i) wrong += w.find(name(i)) != 3 * i + 1;
        for (std::size_t i = n; i < 2 * n; ++i) wrong += w.find(name(i)) != 0;
        // 16 bytes a slot, at most 80% and (after the first growths) at least 64% full.
        ::_exit(w.size() == n && wrong == 0 && grown <= 100'000 * 25 && grown >= 100'000 * 20 ? 0
                                                                                              : 1);
    }
    int st = 0;
    ::waitpid(pid, &st, 0);
    EXPECT_EQ(st, 0) << "status " << st;
}

TEST(Written, EveryByteOfANameCounts) {
    kivf::xlate::Written w;
    EXPECT_EQ(w.find("ABCDEFGH"), 0u);
    w.room(), w.add("ABCDEFGHX", 7); // the ninth byte too
    // Names that differ only past a piece of 8, or by a NUL, or by length.
    for (const std::string& s :
         {std::string("ABCDEFGHY"), std::string("ABCDEFGH\0", 9), std::string("ABCDEFGH")})
        EXPECT_EQ(w.find(s), 0u) << s;
    w.room(), w.add("ABCDEFGH", kivf::xlate::Written::kMaxPlace + 5); // kept as the largest
    EXPECT_EQ(w.find("ABCDEFGH") + w.find(std::string("ABCDEFGH\0", 9)) + w.find("ABCDEFGHX"),
              kivf::xlate::Written::kMaxPlace + 7);
}

// Sample paths are taken from the wfdisc file's directory; the root directory stays "/".
TEST(Layout, AWfdiscFilesDirectory) {
    using kivf::wfdx::Schema;
    const std::pair<const char*, const char*> cases[] = {
        {"/x.wfdisc", "/"}, {"//x.wfdisc", "/"}, {"a/b/x.wfdisc", "a/b"}, {"x.wfdisc", ""}};
    for (const auto& [file, dir] : cases)
        EXPECT_EQ(kivf::wfdx::source(file, Schema::css28, kivf::wfdx::DirPlaces{}).dir, dir)
            << file;
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
    EXPECT_EQ(said(dir(129)),
              dir(129).string() + "/messages: longer than the 128 characters a path may have");
    EXPECT_EQ(said((base / "none").string()),
              (base / "none/messages").string() + ": No such file or directory");
    EXPECT_EQ(said((base / "d").string()), (base / "d/messages").string() + ": not a regular file");
    EXPECT_EQ(opened(), before);
    ::unsetenv("KIVAUX");
    EXPECT_EQ(kivf::xlate::nocatalogue(), "");
    fs::remove_all(base);
}
