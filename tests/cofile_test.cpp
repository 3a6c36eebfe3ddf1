// SPDX-License-Identifier: Apache-2.0
// Descriptor transfers and named file management.
#include "co/co.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <vector>

using namespace kivf;
using test::TempDir;
using Pieces = std::vector<std::pair<std::size_t, long>>;

namespace {

// Every piece that zrabs/zwabs hands to the system, with its result.
Pieces g_pieces;
long spyread(int fd, void* buf, std::size_t n) {
    return g_pieces.emplace_back(n, ::read(fd, buf, n)).second;
}
long spywrite(int fd, const void* buf, std::size_t n) {
    return g_pieces.emplace_back(n, ::write(fd, buf, n)).second;
}

struct FileTest : ::testing::Test {
    TempDir dir;
    void SetUp() override { test::resetstate(), g_pieces.clear(), zsetio(spyread, spywrite); }
    void TearDown() override { zsetio(nullptr, nullptr), test::resetstate(); }
};

} // namespace

TEST_F(FileTest, WritesAreCutAt512ByteBoundariesAndRefusalsMoveNothing) {
    const std::string f = dir / "w";
    std::int32_t h = 0, nerr = -1;
    ASSERT_EQ((znfile(h, f, "DATA", 0, nerr), nerr), 0);
    std::array<float, 100> words{};
    for (std::size_t i = 0; i < words.size(); ++i) words[i] = static_cast<float>(i);
    zwabs(h, std::span<const float>(words), 100, 100, nerr);
    EXPECT_EQ(std::pair(nerr, g_pieces), std::pair(0, Pieces{{112, 112}, {288, 288}}));
    g_pieces.clear();
    // More words than the array, a negative offset or count, a unit number.
    for (auto [count, offset, handle] :
         {std::array<std::int32_t, 3>{101, 0, h}, {1, -1, h}, {-1, 0, h}, {1, 0, 0}, {1, 0, 6}}) {
        std::int32_t rerr = -1;
        zwabs(handle, std::span<const float>(words), count, offset, nerr);
        std::vector<std::int32_t> in(4);
        zrabs(handle, std::span(in), count == 101 ? 5 : count, offset, rerr);
        // no type names before the message system starts: type 3
        EXPECT_EQ((std::array{nerr, rerr, cmmsg.msgtype}), (std::array{115, 114, 3}))
            << count << " " << offset;
    }
    zwabs(h, std::span<const float>(words), 0, 0, nerr);
    EXPECT_TRUE(g_pieces.empty() && nerr == 0); // a cleared error
    EXPECT_EQ((zclose(h, nerr), test::slurp(f).size()), 800u);
    std::string w(8, '#');
    const auto out = std::as_writable_bytes(std::span(w));
    zputc("abcdefgh", out, 5);
    zputc("QRS", out.first(1), 100); // never past the array
    zputc("xy", out, 100);           // nor the text or count
    zputc("zz", out, -1);
    EXPECT_EQ(w, "xycde###");
}

TEST_F(FileTest, ZopencKindsBitsAndNames) {
    Path p{};
    // clang-format off
    for (auto [name, want] : {std::pair<std::string, std::string>{"ab  ", "ab"}, {"   ", " "}, {" a ", " a"}, {"", ""}})
        EXPECT_TRUE(zpath(name, p) && std::string(p.data()) == want) << '"' << name << '"';
    for (auto [name, exact] : {std::pair<std::string, bool>{"a.kiv", true}, {" a", true}, {"a.kiv ", false}, {"", false}, {std::string("a\0b", 3), false}, {std::string(1023, 'a'), true}, {std::string(1024, 'a'), false}})
        EXPECT_EQ(zexact(name), exact) << '"' << name << '"'; // zinexact's texts: kivhdr_e2e, test_kivf.py
    // clang-format on
    const std::string f = dir / "data.w";
    std::int32_t h = 0, kind = -1;
    zopenc(h, f + "    ", 0, 0, 0, kind); // missing, no create
    EXPECT_EQ((std::array{h, kind}), (std::array{1, 2}));
    const mode_t old = ::umask(027);
    zopenc(h, f + "  ", 1, 0, 0, kind);
    ::umask(old);
    EXPECT_TRUE(kind == 0 && h < 0);
    zclosec(h);
    struct stat st {};
    EXPECT_TRUE(::stat(f.c_str(), &st) == 0 && (st.st_mode & 0777) == 0640);
    test::spit(f, "old contents");
    ::chmod(f.c_str(), 0604); // emptied, keeping its bits
    zopenc(h, f, 1, 0, 0, kind);
    zclosec(h);
    EXPECT_TRUE(::stat(f.c_str(), &st) == 0 && (st.st_mode & 0777) == 0604 && st.st_size == 0);
    const auto zero = [&] { // with standard input closed: not descriptor 0, which no handle is
        ::close(0);
        const bool unit = uopen(9, f, "OLD") == 0; // a unit may take descriptor 0
        uclose(9);
        std::int32_t hh = 5, k = -1, nerr = -1;
        zopenc(hh, f, 0, 1, 0, k);
        std::array<std::byte, 4> w{};
        zrabs(hh, w, 0, 0, nerr); // readable (the file is empty: no words asked for)
        const bool free0 = ::fcntl(0, F_GETFD) == -1;
        zclosec(hh);
        return unit && hh < 0 && k == 0 && nerr == 0 && free0 ? 0 : 3;
    };
    EXPECT_EQ(test::inchild(zero).status, 0);
    // Too long for the path: refused, never cut to a shorter name.
    std::string name = (dir.path.string() + std::string(1021, '/')).substr(0, 1021) + "abc";
    zopenc(h, name, 1, 0, 0, kind);
    EXPECT_TRUE(!zpath(name, p) && h == 1 && kind == 2 && !uexists(dir / "ab") &&
                !uexists(dir / "abc"));
    name.pop_back(); // 1023 characters fit
    zopenc(h, name, 1, 0, 0, kind);
    zclosec(h);
    EXPECT_TRUE(kind == 0 && uexists(dir / "ab"));
}

TEST_F(FileTest, ZpreadnTellsHowFarAFileEnded) {
    const std::string f = dir / "eight";
    test::spit(f, "abcdefgh");
    const int fd = ::open(f.c_str(), O_RDONLY);
    std::array<std::byte, 16> b{};
    std::size_t got = 99;
    // clang-format off
    for (auto [n, off, whole, bytes] : {std::tuple<std::size_t, std::int64_t, bool, std::size_t>{8, 0, true, 8}, {12, 0, false, 8}, {4, 6, false, 2}, {1, 8, false, 0}, {0, 9, true, 0}}) {
        errno = EINTR; // a stale reason must neither survive an early end nor loop on it
        EXPECT_EQ(std::tuple(zpreadn(fd, b.data(), n, off, got), got, errno), std::tuple(whole, bytes, whole ? EINTR : 0)) << n << " at " << off;
    }
    // clang-format on
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.data()), 8),
              "ghcdefgh"); // the last bytes read at the front
    EXPECT_FALSE(zpreadn(-1, b.data(), 1, 0, got) || errno != EBADF || got != 0);
    ::close(fd);
}

TEST_F(FileTest, ZopenByTypeKeyword) {
    const std::string f = dir / "f", sub = dir / "sub", miss = dir / "missing",
                      bad = " (Bad value for file type = ";
    test::spit(f, "line\n");
    ::mkdir(sub.c_str(), 0755);
    // clang-format off
    const std::tuple<std::string, std::string, std::int32_t, std::int32_t, std::string> cases[] = {
        // name, type, nerr, handle after (-1: any descriptor), message; directories as data files are with the odd files
        {f, "DATA    ", 0, -1, ""}, {f, "RODATA", 0, -1, ""}, {f, "RODIR", 0, 11, ""}, {"any", "SCRATCH", 0, 11, ""},
        {f, "TEXT", 0, 11, ""}, {f, "ROTEXT", 0, 11, ""}, {f, "READ", 0, 11, ""}, {f, "ROUNFR", 0, 11, ""},
        {f, "data", 101, 11, "Number  101 " + f + bad + "data )"}, {miss, "data", 108, 11, "Number  108 " + miss},
        {sub, "TEXT", 101, 11, "Number  101 " + sub + " (Fortran i/o error number = 904 )"}};
    // clang-format on
    for (const auto& [name, type, want, handle, msg] : cases) {
        std::int32_t h = 11, nerr = -1, cerr = -1;
        zopen(h, name, type, 16, nerr);
        EXPECT_TRUE(handle < 0 ? h < 0 : h == handle) << type << " " << h;
        const bool writes = want == 0 && (type == "TEXT" || type == "SCRATCH"); // the rest read
        EXPECT_EQ((std::tuple{nerr, test::msgline(0), uconnected(11), uwrite(11, "over")}),
                  (std::tuple{want, msg, want == 0 && h == 11, writes}))
            << type;
        EXPECT_TRUE((zclose(h, cerr), cerr == 0) && !uconnected(11)) << type;
    }
    EXPECT_FALSE(uexists("any"));
    std::int32_t h = 0, nerr = -1;
    znfile(h, dir / "n", "WEIRD", 0, nerr);
    EXPECT_EQ((std::tuple{nerr, cmmsg.nmsgline, test::msgline(1), uexists(dir / "n")}),
              (std::tuple{101, 2, "Bad value for file type = WEIRD", false}));
}

TEST_F(FileTest, CreateDeleteUnitsAndKivaux) {
    const std::string t = dir / "t.txt", d = dir / "d.bin";
    std::int32_t h = 14, nerr = -1;
    const auto nf = [&](const std::string& name, const char* type) {
        return znfile(h, name, type, 0, nerr), nerr;
    };
    const auto close = [&](std::int32_t handle) { return zclose(handle, nerr), nerr; };
    const auto dest = [&](const std::string& name) { return zdest(name, nerr), nerr; };
    EXPECT_TRUE(nf(t, "TEXT") == 0 && uwrite(14, "first"));
    EXPECT_TRUE(close(h) == 0 && nf(t, "TEXT") == 0 && close(h) == 0); // exists: reopened
    EXPECT_EQ(test::slurp(t), "first\n");
    test::spit(d, "0123456789");
    EXPECT_TRUE(nf(d, "DATA") == 0 && h < 0);
    const int fd = -h;
    EXPECT_TRUE(close(h) == 0 && ::fcntl(fd, F_GETFD) == -1 && test::slurp(d).empty()); // emptied
    EXPECT_TRUE(dest(t) == 0 && !uexists(t));
    EXPECT_EQ((std::pair{dest(t), test::msgline(0)}), (std::pair{108, "Number  108 " + t}));
    EXPECT_TRUE(dest(dir.path.string()) == 101 && uexists(dir.path.string()));
    // clang-format off
    const std::tuple<const char*, std::int32_t, std::string, std::string> cases[] = { // KIVAUX, nerr, result, message
        {"/opt/aux", 0, "/opt/aux        ", ""}, {"", 0, std::string(16, ' '), ""}, {"/exactly/16chars", 0, "/exactly/16chars", ""},
        {"/seventeen/chars!", 916, "unchanged       ", "Number  916 /seventeen/chars!"}, {nullptr, 917, "unchanged       ", "Number  917"}};
    // clang-format on
    for (const auto& [value, want, result, msg] : cases) {
        value ? ::setenv("KIVAUX", value, 1) : ::unsetenv("KIVAUX");
        Text<16> k;
        k.set("unchanged");
        zbasename(k, nerr);
        EXPECT_EQ((std::tuple{nerr, std::string(k.view()), want ? test::msgline(0) : ""}),
                  (std::tuple{want, result, msg}));
    }
}

// A FIFO, device or directory is no data file, for zopen (its message) and zopenc alike.
TEST_F(FileTest, DataFilesMustBeRegular) {
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
