// Library routines given what no caller should: any integer, empty spans, files that are
// not regular, closed standard descriptors, line ends of other systems.
#include "testutil.h"

#include <gtest/gtest.h>

#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>

using namespace kivf;

namespace {

struct Robust : ::testing::Test {
    test::TempDir dir;
    void SetUp() override { test::resetstate(); }
};

TEST_F(Robust, HandlesThatAreNoDescriptorAreRefusedOrLeftAlone) {
    std::array<std::int32_t, 4> words{1, 2, 3, 4};
    std::int32_t nerr = 0;
    for (const std::int32_t h : {INT_MIN, INT_MIN + 1, 0, 7, INT_MAX}) {
        zrabs(h, std::span<std::int32_t>(words), 1, 0, nerr);
        EXPECT_EQ(nerr, 114) << h;
        zwabs(h, std::span<const std::int32_t>(words), 1, 0, nerr);
        EXPECT_EQ(nerr, 115) << h;
        zclosec(h);
        zclose(h, nerr);
        EXPECT_EQ(nerr, 0) << h;
    }
    EXPECT_EQ(words, (std::array<std::int32_t, 4>{1, 2, 3, 4}));
}

TEST_F(Robust, ZputcWithEmptySpans) {
    std::array<std::byte, 4> a{std::byte{7}, std::byte{7}, std::byte{7}, std::byte{7}};
    zputc(std::string_view(), a, 4);
    zputc("abc", std::span<std::byte>(), 3);
    zputc("abc", a, INT_MIN);
    EXPECT_EQ(a[0], std::byte{7});
    zputc("abc", a, INT_MAX);
    EXPECT_TRUE(a[2] == std::byte{'c'} && a[3] == std::byte{7});
}

// Files that are only read are opened for reading only: nothing written
// through their unit reaches them. TEXT, opened to write, shows the contrast.
TEST_F(Robust, ReadOnlyTypesNeverWrite) {
    const std::pair<const char*, bool> cases[] = {
        {"TEXT", true}, {"ROTEXT", false}, {"READ", false}, {"ROUNFR", false}, {"RODIR", false}};
    for (const auto& [type, writes] : cases) {
        const std::string f = dir / type;
        test::spit(f, "held\n");
        std::int32_t unit = 12, nerr = 0;
        zopen(unit, f, type, 8, nerr);
        ASSERT_EQ(nerr, 0) << type;
        uwrite(unit, "over");
        uclose(unit);
        EXPECT_EQ(test::slurp(f) == "held\n", !writes) << type;
    }
}

// A FIFO (with a writer of our own, so that nothing waits) and a device are
// no data files: refused with what they are, the handle left as a failed open.
TEST_F(Robust, DataFilesMustBeRegular) {
    const std::string fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const int holder = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    const std::pair<std::string, std::string> cases[] = {
        {fifo, "(Not a regular file: a FIFO.)"},
        {"/dev/null", "(Not a regular file: a character device.)"},
        {dir.path.string(), "(Not a regular file: a directory.)"}};
    for (const auto& [name, why] : cases) {
        for (const char* type : {"DATA", "RODATA"}) {
            std::int32_t h = 13, nerr = 0, kind = 0;
            zopen(h, name, type, 0, nerr);
            EXPECT_TRUE(nerr == 101 && h == 1) << name;
            EXPECT_EQ(test::msgline(0), "Number  101 " + name + " " + why);
            zopenc(h, name, 0, 1, 0, kind);
            EXPECT_EQ(kind, 2) << name;
        }
    }
    ::close(holder);
}

// A catalogue that is no regular file counts as none: 108, nothing loaded.
TEST_F(Robust, CatalogueNotARegularFile) {
    ::setenv("KIVAUX", dir.path.c_str(), 1);
    ASSERT_EQ(::mkdir((dir / "messages").c_str(), 0755), 0);
    std::int32_t nerr = 0;
    kivmsg(nerr);
    EXPECT_TRUE(nerr == 108 && cmmsg.ncatmsg == 0) << nerr;
    EXPECT_EQ(test::msgline(0), "Number  108 " + dir / "messages");
    ::unsetenv("KIVAUX");
}

TEST_F(Robust, OneCarriageReturnBeforeTheLineEndBelongsToIt) {
    const std::tuple<std::string, std::string, std::size_t> cases[] = {
        // line, record, length{"ab\r\n", "ab    ", 2},       {"\r\n", "      ", 0},
        {"a\rb\r\r\n", "a\rb\r  ", 4},
        {"abcdefgh\r\n", "abcdef", 8},
        {"abcdef\r\n", "abcdef", 6},
        {"ab\r", "ab    ", 2}};
    for (const auto& [line, want, wantlength] : cases) {
        const std::string f = dir / "lines";
        test::spit(f, line);
        ASSERT_EQ(uopen(12, f, "OLD", "SEQUENTIAL", "FORMATTED", 0, true), 0);
        Text<6> rec;
        std::size_t length = 99;
        EXPECT_EQ(uread(12, rec, &length), ReadStatus::ok);
        EXPECT_EQ(std::string(rec.view()), want);
        EXPECT_EQ(length, wantlength);
        uclose(12);
    }
}

// With a standard descriptor closed, zstdfd fills it, so a file opened next
// takes another descriptor; writing to a stream that was closed still fails.
TEST_F(Robust, StandardDescriptorsAreHeld) {
    for (const int fd : {0, 1, 2}) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(fd);
            zstdfd();
            const int next = ::open(dir.path.c_str(), O_RDONLY);
            const bool closedwrite = fd == 0 || ::write(fd, "x", 1) == -1;
            ::_exit(next > 2 && ::fcntl(fd, F_GETFD) != -1 && closedwrite ? 0 : 1);
        }
        int st = -1;
        ::waitpid(pid, &st, 0);
        EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << fd;
    }
}

} // namespace

#ifdef KIVF_GATEWAY
// The plug-in's gateway, linked in, with this file as its host: a refusal
// other than a wrong count of arguments or results says what is wrong.
struct mxArray {
    std::size_t m = 1, n = 1;
    bool dbl = true, cplx = false, sparse = false;
    double v[4] = {};
};
// clang-format off
extern "C" {
double* mxGetPr(const mxArray* a) { return const_cast<double*>(a->v); }
std::size_t mxGetM(const mxArray* a) { return a->m; }
std::size_t mxGetN(const mxArray* a) { return a->n; }
bool mxIsDouble(const mxArray* a) { return a->dbl; }
bool mxIsComplex(const mxArray* a) { return a->cplx; }
bool mxIsSparse(const mxArray* a) { return a->sparse; }
void mexErrMsgTxt(const char* text) { throw std::string(text); }
mxArray* mxCreateDoubleMatrix(std::size_t, std::size_t, int) { return new mxArray; }
void mexfunction_(const std::int32_t*, mxArray**, const std::int32_t*, mxArray**);
}
// clang-format on

TEST(PluginRefusals, SayWhatIsWrong) {
    const std::pair<void (*)(mxArray*), std::string> cases[] = {
        {[](mxArray* a) { a[0].dbl = false; }, "slat must be a real double vector"},
        {[](mxArray* a) { a[1].dbl = false; }, "slon must be a real double vector"},
        {[](mxArray* a) { a[2].cplx = true; }, "elat must be a real double scalar"},
        {[](mxArray* a) { a[3].sparse = true; }, "elon must be a real double scalar"},
        {[](mxArray* a) { a[0].n = 0; }, "slat is empty but not 0-by-0 (no stations is 0-by-0)"},
        {[](mxArray* a) { a[0].n = 2; }, "slon has fewer elements than slat"},
        {[](mxArray* a) { a[2].m = a[2].n = 0; }, "elat must not be empty"},
        {[](mxArray* a) { a[3].n = 0; }, "elon must not be empty"},
        {[](mxArray*) {}, ""}}; // a good call: no refusal
    for (const auto& [make, want] : cases) {
        std::array<mxArray, 4> in{};
        make(in.data());
        std::array<mxArray*, 4> p{&in[0], &in[1], &in[2], &in[3]}, out{};
        const std::int32_t four = 4;
        std::string got;
        try {
            mexfunction_(&four, out.data(), &four, p.data());
        } catch (const std::string& m) {
            got = m;
        }
        EXPECT_EQ(got, want.empty() ? "" : "sphgeo: " + want);
        for (mxArray* o : out) delete o;
    }
}
#endif
