#include "co/co.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fcntl.h>
#include <limits>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

using namespace kivf;
using namespace std::string_literals;
using test::TempDir;

namespace {
struct CoTest : ::testing::Test {
    TempDir dir;
    void SetUp() override { test::resetstate(); }
    void TearDown() override { test::resetstate(); }
};
} // namespace

// ------------------------------------------------------------------ units ----

TEST_F(CoTest, StandardUnitsAreConnectedFromTheStart) {
    EXPECT_TRUE(uconnected(5));
    EXPECT_TRUE(uconnected(6));
    EXPECT_FALSE(uconnected(9));
    EXPECT_FALSE(uconnected(-1));
    EXPECT_FALSE(uconnected(kMaxUnit + 1));
}

TEST_F(CoTest, OpenStatusesOldNewScratch) {
    const std::string f = dir / "a.txt";
    EXPECT_NE(uopen(9, f, "OLD"), 0); // missing
    EXPECT_FALSE(uconnected(9));
    EXPECT_EQ(uopen(9, f + "   ", "new"), 0); // trailing blanks, any case
    EXPECT_TRUE(uexists(f));
    EXPECT_TRUE(uwrite(9, "line one"));
    uclose(9);
    EXPECT_NE(uopen(9, f, "NEW"), 0); // exists
    EXPECT_EQ(uopen(9, f, "OLD"), 0);
    Text<12> rec;
    EXPECT_EQ(uread(9, rec), ReadStatus::ok);
    EXPECT_EQ(rec.view(), "line one    ");
    EXPECT_EQ(uread(9, rec), ReadStatus::eof);
    uclose(9, true); // DELETE
    EXPECT_FALSE(uexists(f));

    EXPECT_EQ(uopen(3, "ignored", "SCRATCH"), 0);
    EXPECT_TRUE(uwrite(3, "temp"));
    uclose(3);
    EXPECT_FALSE(uexists("ignored"));
    uclose(3); // not connected: nothing happens
}

TEST_F(CoTest, OpenRefusals) {
    const std::string f = dir / "x";
    test::spit(f, "x\n");
    EXPECT_EQ(uopen(-1, f, "OLD"), kUnitBadNumber);
    EXPECT_EQ(uopen(100, f, "OLD"), kUnitBadNumber);
    EXPECT_EQ(uopen(9, f, "OLDISH"), kUnitBadKeyword);
    EXPECT_EQ(uopen(9, f, "OLD", "RANDOM"), kUnitBadKeyword);
    EXPECT_EQ(uopen(9, f, "OLD", "SEQUENTIAL", "BINARY"), kUnitBadKeyword);
    EXPECT_EQ(uopen(9, f, "OLD", "DIRECT", "UNFORMATTED", 0), kUnitBadRecl);
    EXPECT_EQ(uopen(9, dir.path.string(), "OLD"), kUnitIsDirectory);
    EXPECT_EQ(uopen(9, std::string(1100, 'a'), "OLD"), kUnitNameTooLong);
    EXPECT_FALSE(uconnected(9));
    EXPECT_EQ(uopen(9, f, "OLD", "DIRECT", "UNFORMATTED", 4), 0);
}

TEST_F(CoTest, ReadOnlyFilesOpenOld) {
    const std::string f = dir / "ro";
    test::spit(f, "abc\n");
    ::chmod(f.c_str(), 0444);
    ::chmod(dir.path.c_str(), 0755);
    // Root may write anything: check as an ordinary user, in a child.
    EXPECT_EXIT(
        {
            if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) std::exit(3);
            if (::access(f.c_str(), W_OK) == 0) std::exit(4); // the check would prove nothing
            Text<3> rec;
            const bool ok = uopen(9, f, "OLD") == 0 && uread(9, rec) == ReadStatus::ok &&
                            rec.view() == "abc";
            std::exit(ok ? 0 : 5);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(CoTest, RecordsAreCutPaddedAndEndOfFileIsItsOwnCondition) {
    const std::string f = dir / "r";
    test::spit(f, "0123456789ABC\n\nshort\nno newline at end");
    ASSERT_EQ(uopen(9, f, "OLD"), 0);
    Text<10> rec;
    EXPECT_EQ(uread(9, rec), ReadStatus::ok);
    EXPECT_EQ(rec.view(), "0123456789"); // rest of the long line skipped
    EXPECT_EQ(uread(9, rec), ReadStatus::ok);
    EXPECT_EQ(rec.view(), "          ");
    EXPECT_EQ(uread(9, rec), ReadStatus::ok);
    EXPECT_EQ(rec.view(), "short     ");
    EXPECT_EQ(uread(9, rec), ReadStatus::ok);
    EXPECT_EQ(rec.view(), "no newline");
    EXPECT_EQ(uread(9, rec), ReadStatus::eof);
    EXPECT_EQ(uread(9, rec), ReadStatus::eof);
    EXPECT_EQ(uread(12, rec), ReadStatus::fail); // not connected
}

TEST_F(CoTest, WritesRecordsWithAndWithoutLineEnd) {
    const std::string f = dir / "w";
    ASSERT_EQ(uopen(9, f, "NEW"), 0);
    EXPECT_TRUE(uwrite(9, "Prompt: ", false));
    EXPECT_EQ(test::slurp(f), "Prompt: "); // visible at once, without a close
    EXPECT_TRUE(uwrite(9, "answer"));
    EXPECT_TRUE(uwrite(9, "\a ERROR x"s)); // control characters go out unchanged
    uclose(9);
    EXPECT_EQ(test::slurp(f), "Prompt: answer\n\a ERROR x\n");
    EXPECT_FALSE(uwrite(9, "closed"));
}

TEST_F(CoTest, PromptIsVisibleBeforeStandardInputIsRead) {
    // In a child whose stdout is a pipe (fully buffered): the prompt must
    // reach the pipe before the read from unit 5 returns.
    int out[2], in[2];
    ASSERT_EQ(::pipe(out), 0);
    ASSERT_EQ(::pipe(in), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::dup2(in[0], 0);
        ::close(out[0]);
        ::close(in[1]);
        uwrite(kStdout, "Enter: ", false);
        uwrite(kStdout, "more", true); // buffered, not flushed yet
        Text<4> rec;
        const ReadStatus rs = uread(kStdin, rec);
        ::_exit(rs == ReadStatus::ok && rec.view() == "name" ? 0 : 3);
    }
    ::close(out[1]);
    ::close(in[0]);
    std::string seen;
    char buf[64];
    while (seen.size() < 12) {
        const ssize_t n = ::read(out[0], buf, sizeof buf);
        if (n <= 0) break;
        seen.append(buf, static_cast<std::size_t>(n));
    }
    EXPECT_EQ(seen, "Enter: more\n");
    ASSERT_EQ(::write(in[1], "name\n", 5), 5);
    ::close(in[1]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ::close(out[0]);
}

// -------------------------------------------------------- conversions ----

TEST(Convert, IntegerFieldRead) {
    struct Case {
        std::string field;
        bool ok;
        std::int32_t want;
    } cases[] = {
        {"1995", true, 1995},
        {" 123", true, 123},
        {"    ", true, 0},
        {"", true, 0},
        {"1 2 ", true, 12},
        {"-42", true, -42},
        {"+7", true, 7},
        {"- 5", true, -5},
        {"12a", false, 0},
        {"1.5", false, 0},
        {"--1", false, 0},
        {"1-", false, 0},
        {"+", false, 0},
        {"\t1", false, 0},
        {"1\0"s, false, 0},
        {"2147483647", true, 2147483647},
        {"-2147483648", true, -2147483647 - 1},
        {"2147483648", false, 0},
        {"00000000000000000000042", true, 42},
        {"99999999999999999999", false, 0},
    };
    for (const auto& c : cases) {
        std::int32_t v = -999;
        EXPECT_EQ(rdint(c.field, v), c.ok) << '"' << c.field << '"';
        EXPECT_EQ(v, c.ok ? c.want : -999) << '"' << c.field << '"';
    }
}

TEST(Convert, IntegerFieldWrite) {
    struct Case {
        std::int32_t v;
        std::size_t w;
        std::string want;
    } cases[] = {{108, 4, " 108"}, {1337, 4, "1337"}, {12345, 4, "****"}, {-100, 3, "***"},
                 {-5, 3, " -5"},   {0, 2, " 0"},      {-99, 3, "-99"}};
    for (const auto& c : cases) {
        std::string out(c.w, '?');
        wrint(c.v, out);
        EXPECT_EQ(out, c.want) << c.v;
    }
}

TEST(Convert, FreeFormFloat) {
    struct Case {
        std::string text;
        bool ok;
        float want;
    } cases[] = {
        {"20.0", true, 20.0f},
        {"20", true, 20.0f},
        {" 1.5 ", true, 1.5f},
        {"-0.25", true, -0.25f},
        {"+3", true, 3.0f},
        {".5", true, 0.5f},
        {"5.", true, 5.0f},
        {"1e3", true, 1000.0f},
        {"1.5E-2", true, 0.015f},
        {"2d1", true, 20.0f},
        {"2D+1", true, 20.0f},
        {"1e-50", true, 0.0f},
        {"700000000.5", true, 700000000.0f},
        {"0.1", true, 0.1f},
        {"", false, 0},
        {"   ", false, 0},
        {"abc", false, 0},
        {"1e40", false, 0},
        {"nan", false, 0},
        {"inf", false, 0},
        {"-", false, 0},
        {"--1", false, 0},
        {"+-1", false, 0},
        {"1e", false, 0},
        {"1.2.3", false, 0},
        {"0x10", false, 0},
        {"1,5", false, 0},
        {".", false, 0},
        {"e5", false, 0},
        {"1 2", false, 0},
        {"12\t", false, 0},
    };
    for (const auto& c : cases) {
        float v = -7.0f;
        EXPECT_EQ(rdfree(c.text, v), c.ok) << '"' << c.text << '"';
        EXPECT_EQ(v, c.ok ? c.want : -7.0f) << '"' << c.text << '"';
    }
    // Rounded once from the decimal text: the float nearest 16777217 is even.
    float v = 0;
    ASSERT_TRUE(rdfree("16777217", v));
    EXPECT_EQ(v, 16777216.0f);
    ASSERT_TRUE(rdfree("16777219", v));
    EXPECT_EQ(v, 16777220.0f);
}

TEST(Convert, FreeFormDoubleKeepsWhatFloatLoses) {
    double d = 0;
    ASSERT_TRUE(rdfree("700000000.5", d));
    EXPECT_EQ(d, 700000000.5);
    EXPECT_FALSE(rdfree("1e400", d));
    EXPECT_FALSE(rdfree(std::string(600, '1'), d)); // longer than any number we read
}

TEST(Convert, FreeFormInteger) {
    struct Case {
        std::string text;
        bool ok;
        std::int32_t want;
    } cases[] = {
        {"1000", true, 1000},
        {" -1 ", true, -1},
        {"+0", true, 0},
        {"0090000", true, 90000},
        {"2147483647", true, 2147483647},
        {"-2147483648", true, -2147483647 - 1},
        {"2147483648", false, 0},
        {"1e3", false, 0},
        {"10.0", false, 0},
        {"", false, 0},
        {"-", false, 0},
        {"1 0", false, 0},
        {"x", false, 0},
        {"--3", false, 0},
        {"99999999999", false, 0},
    };
    for (const auto& c : cases) {
        std::int32_t v = -7;
        EXPECT_EQ(rdfree(c.text, v), c.ok) << '"' << c.text << '"';
        EXPECT_EQ(v, c.ok ? c.want : -7) << '"' << c.text << '"';
    }
}
