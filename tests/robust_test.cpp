// Library routines given what no caller should: any integer, empty spans, odd files and lines.
#include "testutil.h"

#include <gtest/gtest.h>

#include <climits>
#include <sys/stat.h>

using namespace kivf;

namespace {

struct Robust : ::testing::Test {
    test::TempDir dir;
    void SetUp() override { test::resetstate(); }
};

TEST_F(Robust, HandlesThatAreNoDescriptorAndEmptySpans) {
    std::array<std::int32_t, 4> words{1, 2, 3, 4};
    for (const std::int32_t h : {INT_MIN, INT_MIN + 1, 0, 7, INT_MAX}) {
        std::int32_t rerr = 0, werr = 0, cerr = -1;
        zrabs(h, std::span<std::int32_t>(words), 1, 0, rerr);
        zwabs(h, std::span<const std::int32_t>(words), 1, 0, werr);
        zclosec(h), zclose(h, cerr);
        EXPECT_EQ((std::array{rerr, werr, cerr}), (std::array{114, 115, 0})) << h;
    }
    EXPECT_EQ(words, (std::array<std::int32_t, 4>{1, 2, 3, 4}));
    std::array<std::byte, 4> a{};
    zputc("abc", a, INT_MAX), zputc("xyz", a, INT_MIN), zputc(std::string_view(), a, 4);
    zputc("xyz", std::span<std::byte>(), 3);
    EXPECT_EQ(a, (std::array{std::byte{'a'}, std::byte{'b'}, std::byte{'c'}, std::byte{0}}));
}

// Read-only types never write (TEXT is the contrast); a FIFO, device or directory is no data file.
TEST_F(Robust, ReadOnlyTypesNeverWriteAndDataFilesMustBeRegular) {
    for (const char* type : {"TEXT", "ROTEXT", "READ", "ROUNFR", "RODIR"}) {
        test::spit(dir / type, "held\n");
        std::int32_t unit = 12, nerr = 0;
        zopen(unit, dir / type, type, 8, nerr);
        ASSERT_EQ(nerr, 0) << type;
        uwrite(unit, "over"), uclose(unit);
        EXPECT_EQ(test::slurp(dir / type) == "held\n", type != std::string("TEXT")) << type;
    }
    const std::string fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const int holder = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    for (const auto& [name, why] : {std::pair<std::string, std::string>{fifo, "a FIFO"},
                                    {"/dev/null", "a character device"},
                                    {dir.path.string(), "a directory"}})
        for (const char* type : {"DATA", "RODATA"}) {
            std::int32_t h = 13, nerr = 0, kind = 0;
            zopen(h, name, type, 0, nerr);
            const auto got = std::tuple(nerr, h, test::msgline(0));
            zopenc(h, name, 0, 1, 0, kind);
            EXPECT_EQ(std::tuple_cat(got, std::tuple(kind)),
                      std::tuple(101, 1,
                                 "Number  101 " + name + " (Not a regular file: " + why + ".)", 2));
        }
    ::close(holder);
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
