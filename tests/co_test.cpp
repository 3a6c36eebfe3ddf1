// SPDX-License-Identifier: Apache-2.0
#include "co/co.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

using namespace kivf;
using namespace std::string_literals;
using test::TempDir;

namespace {
struct Units : ::testing::Test {
    TempDir dir;
    void SetUp() override { test::resetstate(); }
};
} // namespace

TEST_F(Units, OpenReadWriteClose) {
    const std::string f = dir / "a.txt";
    EXPECT_EQ(uopen(9, f, "OLD"), ENOENT);
    const mode_t mask = ::umask(0);
    EXPECT_EQ(uopen(0, f + "   ", "new"), 0); // first unit; trailing blanks, any case
    ::umask(mask);
    struct stat st {};
    EXPECT_TRUE(::stat(f.c_str(), &st) == 0 && (st.st_mode & 07777) == 0666);
    EXPECT_TRUE(uwrite(0, "Prompt: ", false));
    EXPECT_EQ(test::slurp(f), "Prompt: "); // an open line is seen at once
    for (const char* line : {"\a x", "0123456789ABC", ""}) EXPECT_TRUE(uwrite(0, line));
    EXPECT_TRUE(uwrite(0, "no newline", false));
    std::int32_t cerr = -1;
    zclose(0, cerr); // unit 0 is a unit, not a descriptor
    EXPECT_FALSE(uwrite(0, "closed") || cerr != 0);
    EXPECT_EQ(test::slurp(f), "Prompt: \a x\n0123456789ABC\n\nno newline");
    EXPECT_TRUE(uopen(kMaxUnit, f, "NEW") == EEXIST && !uconnected(kMaxUnit)); // last unit
    errno = EACCES; // left over from before: a writable file still opens for writing
    ASSERT_EQ(uopen(kMaxUnit, f, "OLD"), 0);
    std::string got; // records cut or padded; the rest of a long line skipped
    Text<10> rec;
    while (uread(kMaxUnit, rec) == ReadStatus::ok) got += std::string(rec.view()) + "|";
    EXPECT_EQ(got, "Prompt: \a |0123456789|          |no newline|");
    EXPECT_TRUE(uread(kMaxUnit, rec) == ReadStatus::eof && uwrite(kMaxUnit, "more"));
    uclose(kMaxUnit, true); // DELETE
    EXPECT_FALSE(uexists(f) || uexists(dir / std::string(1100, '/')) ||
                 uread(kMaxUnit, rec) != ReadStatus::fail);
    // An open line longer than the buffer fails whole; the flush after it then has nothing to
    // write and succeeds, and must not hide the failure.
    ASSERT_EQ(uopen(9, "/dev/full", "OLD"), 0);
    EXPECT_FALSE(uwrite(9, std::string(1 << 17, 'a'), false));
}

TEST_F(Units, OpenRefusalsLeaveTheUnitUnconnected) {
    const std::string f = dir / "x", seq = "SEQUENTIAL", fmt = "FORMATTED";
    test::spit(f, "x\n");
    // clang-format off
    const std::tuple<std::int32_t, std::string, std::string, std::string, std::string, std::int32_t, std::int32_t> cases[] = {
        {-1, f, "OLD", seq, fmt, 0, kUnitBadNumber}, {kMaxUnit + 1, f, "OLD", seq, fmt, 0, kUnitBadNumber}, {9, f, "OLDISH", seq, fmt, 0, kUnitBadKeyword},
        {9, f, "OLD", "RANDOM", fmt, 0, kUnitBadKeyword}, {9, f, "OLD", seq, "XORMATTED", 0, kUnitBadKeyword}, {9, f, "OLD", "DIRECT", "UNFORMATTED", 0, kUnitBadRecl},
        {9, dir.path.string(), "OLD", seq, fmt, 0, kUnitIsDirectory}, {9, "/" + std::string(1023, 'a'), "OLD", seq, fmt, 0, kUnitNameTooLong},
        {9, "/" + std::string(1022, 'a'), "OLD", seq, fmt, 0, ENAMETOOLONG}, {9, f, "old  ", "direct", "unformatted", 1, kUnitOk}};
    // clang-format on
    for (const auto& [unit, name, status, access, form, recl, want] : cases) {
        EXPECT_EQ(uopen(unit, name, status, access, form, recl), want)
            << status << unit << access << form;
        EXPECT_EQ(uconnected(9), want == kUnitOk);
    }
}

TEST_F(Units, ReadOnlyFileOpensOldForReadingAndNotAsData) {
    const std::string f = dir / "ro";
    test::spit(f, "abc\n");
    ::chmod(f.c_str(), 0444);
    ::chmod(dir.path.c_str(), 0755);
    const auto body = [&] {
        if (::access(f.c_str(), W_OK) == 0) return 4; // the check would prove nothing
        Text<3> rec;
        const bool ok =
            uopen(9, f, "OLD") == 0 && uread(9, rec) == ReadStatus::ok && rec.view() == "abc";
        std::int32_t h = 0, nerr = 0;
        zopen(h, f, "DATA", 0, nerr); // read-write: the open itself is refused
        const bool why = test::msgline(0) == "Number  101 " + f + " (Insufficient access rights.)";
        return ok && why && !uwrite(9, "x") ? 0 : 5;
    };
    EXPECT_EQ(test::inchild(body, true).status, 0);
    // A writable file on a read-only mount (EROFS, not EACCES) falls back the same way.
    const std::string w = dir / "rw";
    test::spit(w, "abc\n");
    const auto onro = test::inchild([&] {
        const char* d = dir.path.c_str();
        if (::unshare(CLONE_NEWNS) != 0 && ::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return 77;
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount(d, d, nullptr, MS_BIND, nullptr) != 0 ||
            ::mount(nullptr, d, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
            return 77;
        if (::open(w.c_str(), O_RDWR) != -1 || errno != EROFS) return 4;
        Text<3> rec;
        return uopen(9, w, "OLD") == 0 && uread(9, rec) == ReadStatus::ok && rec.view() == "abc" &&
                       !uwrite(9, "x")
                   ? 0
                   : 5;
    });
    if (onro.status == 77) GTEST_SKIP() << "no read-only mount here";
    EXPECT_EQ(onro.status, 0);
}

// Standard output, a file here, is fully buffered: what was written is there before the read.
TEST_F(Units, PromptIsSeenBeforeStandardInputIsRead) {
    const auto c = test::inchild([] {
        int in[2];
        if (::pipe(in) != 0 || ::write(in[1], "name\n", 5) != 5 || ::dup2(in[0], 0) != 0) return 4;
        uwrite(kStdout, "Enter: ", false);
        uwrite(kStdout, "more", true); // not flushed by itself
        Text<4> rec;
        const bool ok = uread(kStdin, rec) == ReadStatus::ok && rec.view() == "name";
        const bool seen = ok && ::lseek(1, 0, SEEK_CUR) == 12;
        uwrite(kStdout, "end");
        uflushall();
        const bool all = seen && ::lseek(1, 0, SEEK_CUR) == 16;
        uwrite(kStdout, "x");
        uclose(kStdin); // released, the output flushed; the process's own streams stay open
        uclose(kStdout);
        const bool flushed = all && ::lseek(1, 0, SEEK_CUR) == 18;
        return flushed && ::fcntl(0, F_GETFD) != -1 && ::fcntl(1, F_GETFD) != -1 ? 0 : 3;
    });
    EXPECT_EQ(std::pair(c.status, c.out), std::pair(0, std::string("Enter: more\nend\nx\n")));
}

TEST_F(Units, OneCarriageReturnBeforeTheLineEndBelongsToIt) {
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

// Whatever a refused field gives, the value is left as it was. (wrint: Ucf.IntegerFormatting.)
TEST(Convert, Integers) {
    constexpr std::int64_t no = INT64_MIN;
    // clang-format off
    const std::pair<std::string, std::int64_t> reads[] = {
        {"1995", 1995}, {"    ", 0}, {"1 2 ", 12}, {"- 5", -5}, {"+7", 7}, {"0000000000000000000042", 42}, {"2147483647", 2147483647},
        {"-2147483648", -2147483648LL}, {"1\0"s, no}, {"--1", no}, {"1-", no}, {"+", no}, {"2147483648", no}, {"-2147483649", no},
        {"99999999999999999999", no}};
    // clang-format on
    for (const auto& [field, want] : reads) {
        std::int32_t v = -999;
        EXPECT_EQ(rdint(field, v), want != no) << field;
        EXPECT_EQ(v, want == no ? -999 : want) << field;
    }
}

TEST(Convert, FreeForm) {
    const std::string zeros(509, '0');
    // clang-format off
    const std::tuple<std::string, int, double> cases[] = { // text, readable as (1 float, 2 double, 4 integer), value
        {" -1 ", 7, -1}, {"+0", 7, 0}, {"0090000", 7, 90000}, {".5", 3, 0.5}, {"5.", 3, 5}, {"1e3", 3, 1000}, {"1.5E-2", 3, 0.015},
        {"2d1", 3, 20}, {"2D+1", 3, 20}, {"1e40", 2, 1e40}, {"2147483647", 7, 2147483647}, {"2147483648", 3, 2147483648.0},
        {"-2147483648", 7, -2147483648.0}, {"0." + zeros, 3, 0}, {"0.0" + zeros, 0, 0}, {"00" + zeros, 7, 0}, {"000" + zeros, 0, 0},
        {"   ", 0, 0}, {"inf", 0, 0}, {"-", 0, 0}, {"--1", 0, 0}, {"1e", 0, 0}, {"1e+", 0, 0}, {"1.2.3", 0, 0}, {".", 0, 0}, {"1 2", 0, 0},
        {"12\t", 0, 0}, {"1e400", 0, 0}, {"1\0"s, 0, 0}, {"700000000.5", 3, 700000000.5}, {"012345678901", 3, 12345678901.0}}; // the float rounded once, to even
    // clang-format on
    for (const auto& [text, ok, want] : cases) {
        auto [f, d, i] = std::tuple(-7.0f, -7.0, -7);
        const std::array got{rdfree(text, f), rdfree(text, d), rdfree(text, i)};
        EXPECT_EQ(std::tuple(got, f, d, i),
                  std::tuple(std::array{(ok & 1) != 0, (ok & 2) != 0, (ok & 4) != 0},
                             (ok & 1) ? float(want) : -7.0f, (ok & 2) ? want : -7.0,
                             (ok & 4) ? std::int32_t(want) : -7))
            << text;
    }
}
