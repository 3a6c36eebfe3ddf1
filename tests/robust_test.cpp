// SPDX-License-Identifier: Apache-2.0
// Library routines given what no caller should: odd files and lines, closed standard descriptors.
#include "testutil.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace kivf;

namespace {

struct Robust : ::testing::Test {
    test::TempDir dir;
    void SetUp() override { test::resetstate(); }
};

// A FIFO, device or directory is no data file, for zopen (its message) and zopenc alike.
TEST_F(Robust, DataFilesMustBeRegular) {
    const std::string fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    // clang-format off
    const std::tuple<std::string, const char*, std::string> cases[] = {
        {fifo, "DATA", "a FIFO"}, {"/dev/null", "RODATA", "a character device"}, {dir.path.string(), "DATA", "a directory"}};
    // clang-format on
    for (const auto& [name, type, why] : cases) {
        std::int32_t h = 13, nerr = 0, kind = 0;
        zopen(h, name, type, 0, nerr);
        const auto got = std::tuple(nerr, h, test::msgline(0));
        zopenc(h, name, 0, 1, 0, kind);
        EXPECT_EQ(
            std::tuple_cat(got, std::tuple(kind)),
            std::tuple(101, 1, "Number  101 " + name + " (Not a regular file: " + why + ".)", 2));
    }
}

TEST_F(Robust, OneCarriageReturnBeforeTheLineEndBelongsToIt) {
    // clang-format off
    const std::tuple<std::string, std::string, std::size_t> cases[] = { // line, record, length
        {"ab\r\n", "ab    ", 2}, {"\r\n", "      ", 0}, {"a\rb\r\r\n", "a\rb\r  ", 4},
        {"abcdefgh\r\n", "abcdef", 8}, {"abcdef\r\n", "abcdef", 6}, {"ab\r", "ab    ", 2}};
    // clang-format on
    for (const auto& [line, want, wantlength] : cases) {
        test::spit(dir / "lines", line);
        ASSERT_EQ(uopen(12, dir / "lines", "OLD", "SEQUENTIAL", "FORMATTED", 0, true), 0);
        Text<6> rec;
        std::size_t length = 99;
        const ReadStatus st = uread(12, rec, &length);
        EXPECT_EQ(std::tuple(st, std::string(rec.view()), length),
                  std::tuple(ReadStatus::ok, want, wantlength));
        uclose(12);
    }
}

// A closed standard descriptor is filled: a file opened next takes another, writes still fail.
TEST_F(Robust, StandardDescriptorsAreHeld) {
    for (const int fd : {0, 1, 2}) {
        const auto body = [&] {
            ::close(fd), zstdfd();
            const bool held = ::open(dir.path.c_str(), O_RDONLY) > 2 && ::fcntl(fd, F_GETFD) != -1;
            return held && (fd == 0 || ::write(fd, "x", 1) == -1) ? 0 : 1;
        };
        EXPECT_EQ(test::inchild(body).status, 0) << fd;
    }
}

} // namespace
