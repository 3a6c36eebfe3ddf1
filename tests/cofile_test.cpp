// Descriptor transfers and named file management.
#include "co/co.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
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
    void SetUp() override {
        test::resetstate();
        g_pieces.clear();
        zsetio(spyread, spywrite);
    }
    void TearDown() override {
        zsetio(nullptr, nullptr);
        test::resetstate();
    }
    std::int32_t opendata(const std::string& f) {
        std::int32_t h = 7, nerr = -1;
        zopen(h, f, "DATA", 0, nerr);
        EXPECT_EQ(nerr, 0) << test::msgline(0);
        return h;
    }
};

std::string bytes(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 7 + 3);
    return s;
}

} // namespace

TEST_F(FileTest, TransfersAreCutAt512ByteBoundaries) {
    // clang-format off
    struct Case {
        std::int32_t count, offset;
        Pieces pieces;
    } cases[] = {
        {100, 100, {{112, 112}, {288, 288}}},           // head to the boundary, then the tail
        {300, 0, {{512, 512}, {512, 512}, {176, 176}}}, // whole blocks, then the tail
        {128, 0, {{512, 512}}},                         // exactly one block
        {127, 1, {{508, 508}}},                         // exactly to the boundary
        {0, 3, {{0, 0}}},                               // unaligned: one empty piece
        {0, 128, {}},                                   // aligned: nothing at all
        {256, 64, {{256, 256}, {512, 512}, {256, 256}}},
        {300, 1792, {{512, 512}, {512, 320}, {368, 0}}}, // past the end: 114
        {128, 1920, {{512, 320}, {192, 0}}},
    };
    // clang-format on
    const std::string f = dir / "d";
    test::spit(f, bytes(8000));
    for (const auto& c : cases) {
        const std::int32_t h = opendata(f);
        std::vector<std::int32_t> words(static_cast<std::size_t>(c.count) + 1, -1);
        std::int32_t nerr = -1;
        g_pieces.clear();
        zrabs(h, std::span(words), c.count, c.offset, nerr);
        EXPECT_EQ(g_pieces, c.pieces) << c.count << " at " << c.offset;
        const bool full = c.offset + c.count <= 2000;
        EXPECT_EQ(nerr, full ? 0 : 114);
        EXPECT_EQ(cmmsg.msgnum, full ? 0 : 114);
        const std::string want =
            bytes(8000).substr(4 * std::size_t(c.offset), 4 * std::size_t(c.count));
        if (full) {
            EXPECT_EQ(std::string(reinterpret_cast<char*>(words.data()), 4 * words.size() - 4),
                      want);
        }
        EXPECT_EQ(words.back(), -1); // nothing past the count
        zclose(h, nerr);
    }
}

TEST_F(FileTest, WritesUseTheSamePiecesAndRefusalsMoveNothing) {
    const std::string f = dir / "w";
    std::int32_t h = 0, nerr = -1;
    znfile(h, f, "DATA", 0, nerr);
    ASSERT_EQ(nerr, 0);
    std::array<float, 100> words{};
    for (std::size_t i = 0; i < words.size(); ++i) words[i] = static_cast<float>(i);
    zwabs(h, std::span<const float>(words), 100, 100, nerr);
    EXPECT_EQ(nerr, 0);
    EXPECT_EQ(g_pieces, (Pieces{{112, 112}, {288, 288}}));
    g_pieces.clear();
    // More words than the array, a negative offset or count, a unit number.
    for (auto [count, offset, handle] :
         {std::array<std::int32_t, 3>{101, 0, h}, {1, -1, h}, {-1, 0, h}, {1, 0, 0}, {1, 0, 6}}) {
        zwabs(handle, std::span<const float>(words), count, offset, nerr);
        EXPECT_EQ(nerr, 115) << count << " " << offset << " " << handle;
        std::vector<std::int32_t> in(4);
        zrabs(handle, std::span(in), count == 101 ? 5 : count, offset, nerr);
        EXPECT_EQ(nerr, 114) << count << " " << offset << " " << handle;
        EXPECT_EQ(cmmsg.msgtype, 3); // no type names before the message system starts
    }
    EXPECT_TRUE(g_pieces.empty());
    zwabs(h, std::span<const float>(words), 0, 0, nerr);
    EXPECT_EQ(nerr, 0); // a cleared error
    zclose(h, nerr);
    EXPECT_EQ(test::slurp(f).size(), 800u);
    std::array<std::int32_t, 2> w{};
    std::memset(w.data(), '#', 8);
    zputc("abcdefgh", std::as_writable_bytes(std::span(w)), 5);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(w.data()), 8), "abcde###");
    zputc("xy", std::as_writable_bytes(std::span(w)), 100); // never past either
    zputc("zz", std::as_writable_bytes(std::span(w)), -1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(w.data()), 8), "xycde###");
}

TEST_F(FileTest, ZopencKindsBitsAndNames) {
    Path p{};
    for (auto [name, want] : {std::pair<std::string, std::string>{"ab  ", "ab"},
                              {"   ", " "},
                              {" a ", " a"},
                              {"", ""}}) {
        ASSERT_TRUE(zpath(name, p));
        EXPECT_EQ(std::string(p.data()), want) << '"' << name << '"';
    }
    const std::string f = dir / "data.w";
    std::int32_t h = 0, kind = -1;
    zopenc(h, f + "    ", 0, 0, 0, kind); // missing, no create
    EXPECT_EQ((std::array{h, kind}), (std::array{1, 2}));
    for (mode_t mask : {022, 077}) {
        const mode_t old = ::umask(mask);
        ::unlink(f.c_str());
        zopenc(h, f + "  ", 1, 0, 0, kind);
        ::umask(old);
        ASSERT_EQ(kind, 0);
        EXPECT_LT(h, 0);
        zclosec(h);
        struct stat st {};
        ASSERT_EQ(::stat(f.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
    }
    test::spit(f, "old contents"); // emptied, keeping its bits
    ::chmod(f.c_str(), 0640);
    zopenc(h, f, 1, 0, 0, kind);
    zclosec(h);
    struct stat st {};
    ::stat(f.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(st.st_size, 0);
    ::chmod(f.c_str(), 0);
    const auto c = test::inchild(
        [&] {
            std::int32_t hh = 0, k = -1;
            zopenc(hh, f, 0, 1, 0, k);
            return hh == 1 && k == 1 ? 0 : 3;
        },
        true);
    EXPECT_EQ(c.status, 0); // permission refused
    // The first free descriptor may be 0: still a descriptor.
    ::chmod(f.c_str(), 0644);
    EXPECT_EQ(test::inchild([&] {
                  ::close(0);
                  std::int32_t hh = 5, k = -1;
                  zopenc(hh, f, 0, 1, 0, k);
                  return hh == 0 && k == 0 ? 0 : 3;
              }).status,
              0);
    // Too long for the path: refused, never cut to a shorter name.
    std::string name = dir.path.string();
    name.resize(1021, '/');
    name += "abc";
    EXPECT_FALSE(zpath(name, p));
    zopenc(h, name, 1, 0, 0, kind);
    EXPECT_EQ((std::array{h, kind}), (std::array{1, 2}));
    EXPECT_FALSE(uexists(dir / "ab") || uexists(dir / "abc"));
    name.pop_back(); // 1023 characters fit
    zopenc(h, name, 1, 0, 0, kind);
    EXPECT_EQ(kind, 0);
    zclosec(h);
    EXPECT_TRUE(uexists(dir / "ab"));
}

TEST_F(FileTest, ZopenByTypeKeyword) {
    const std::string f = dir / "f", sub = dir / "sub", miss = dir / "missing";
    test::spit(f, "line\n");
    ::mkdir(sub.c_str(), 0755);
    const std::string dirmsg = " (Not a regular file: a directory.)", bad = " (Bad value for file type = ";
    // clang-format off
    struct Case {
        std::string name, type;
        std::int32_t nerr, handle; // handle after: -1 any descriptor
        std::string msg;
    } cases[] = {
        {f, "DATA    ", 0, -1, ""}, {f, "DATAFILE", 0, -1, ""}, {f, "RODATA", 0, -1, ""},
        {f, "TEXT", 0, 11, ""}, {f, "ROTEXT", 0, 11, ""}, {f, "READ", 0, 11, ""}, {f, "ROUNFR", 0, 11, ""},
        {f, "RODIR", 0, 11, ""}, {"any", "SCRATCH", 0, 11, ""},
        {f, "data", 101, 11, "Number  101 " + f + bad + "data )"},
        {f, "DAT", 101, 11, "Number  101 " + f + bad + "DAT )"}, {miss, "data", 108, 11, "Number  108 " + miss},
        {sub, "TEXT", 101, 11, "Number  101 " + sub + " (Fortran i/o error number = 904 )"},
        {sub, "DATA", 101, 1, "Number  101 " + sub + dirmsg}, {sub, "RODATA", 101, 1, "Number  101 " + sub + dirmsg}};
    // clang-format on
    for (const auto& c : cases) {
        std::int32_t h = 11, nerr = -1;
        zopen(h, c.name, c.type, 16, nerr);
        EXPECT_EQ(nerr, c.nerr) << c.type;
        EXPECT_EQ(test::msgline(0), c.msg) << c.type;
        EXPECT_TRUE(c.handle < 0 ? h < 0 : h == c.handle) << c.type << " " << h;
        EXPECT_EQ(uconnected(11), c.nerr == 0 && h == 11) << c.type;
        zclose(h, nerr);
        EXPECT_EQ(nerr, 0);
        EXPECT_FALSE(uconnected(11));
    }
    EXPECT_FALSE(uexists("any"));
    std::int32_t h = 0, nerr = -1;
    znfile(h, dir / "n", "WEIRD", 0, nerr);
    EXPECT_EQ(nerr, 101);
    EXPECT_EQ(cmmsg.nmsgline, 2);
    EXPECT_EQ(test::msgline(1), "Bad value for file type = WEIRD");
    EXPECT_FALSE(uexists(dir / "n"));
}

TEST_F(FileTest, CreateDeleteUnitsAndKivaux) {
    const std::string t = dir / "t.txt", d = dir / "d.bin";
    std::int32_t h = 14, nerr = -1;
    znfile(h, t, "TEXT", 0, nerr);
    EXPECT_TRUE(nerr == 0 && uwrite(14, "first"));
    zclose(h, nerr);
    znfile(h, t, "TEXT", 0, nerr); // exists: reopened, not refused
    EXPECT_EQ(nerr, 0);
    zclose(h, nerr);
    EXPECT_EQ(test::slurp(t), "first\n");
    test::spit(d, "0123456789");
    znfile(h, d, "DATA", 0, nerr);
    EXPECT_TRUE(nerr == 0 && h < 0);
    const int fd = -h;
    zclose(h, nerr);
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1); // descriptor released
    EXPECT_EQ(test::slurp(d), "");       // emptied

    zdest(t, nerr);
    EXPECT_TRUE(nerr == 0 && !uexists(t));
    zdest(t, nerr);
    EXPECT_EQ(nerr, 108);
    EXPECT_EQ(test::msgline(0), "Number  108 " + t);
    zdest(dir.path.string(), nerr);
    EXPECT_EQ(nerr, 101);
    EXPECT_TRUE(uexists(dir.path.string()));

    std::int32_t unit = 0;
    zgtfun(unit, nerr);
    EXPECT_EQ((std::array{unit, nerr}), (std::array{19, 0}));
    ASSERT_EQ(uopen(19, "", "SCRATCH"), 0);
    zgtfun(unit, nerr);
    EXPECT_EQ(unit, 18);
    for (std::int32_t u = 2; u <= 18; ++u)
        if (!uconnected(u)) {
            ASSERT_EQ(uopen(u, "", "SCRATCH"), 0);
        }
    zgtfun(unit, nerr);
    EXPECT_EQ((std::array{unit, nerr}), (std::array{1, 0})); // the last one
    ASSERT_EQ(uopen(1, "", "SCRATCH"), 0);
    zgtfun(unit, nerr);
    EXPECT_EQ((std::array{unit, nerr, cmmsg.msgnum}), (std::array{0, 116, 116}));
    test::spit(d, "x");
    zdest(d, nerr);
    EXPECT_TRUE(nerr == 116 && uexists(d));
    zdest(dir / "none", nerr); // missing: 108 comes first
    EXPECT_EQ(nerr, 108);
    zclose(15, nerr); // connected units close, none fail
    EXPECT_TRUE(nerr == 0 && !uconnected(15));
    zclose(15, nerr);
    EXPECT_EQ(nerr, 0);

    Text<16> k;
    for (auto [value, want] : {std::pair<std::string, std::string>{"/opt/aux", "/opt/aux"},
                               {"", ""},
                               {"/exactly/16chars", "/exactly/16chars"}}) {
        ::setenv("KIVAUX", value.c_str(), 1);
        zbasename(k, nerr);
        EXPECT_EQ(nerr, 0);
        EXPECT_EQ(k.view(), (want + std::string(16, ' ')).substr(0, 16));
    }
    ::setenv("KIVAUX", "/seventeen/chars!", 1);
    k.set("unchanged");
    zbasename(k, nerr);
    EXPECT_EQ(nerr, 916);
    EXPECT_EQ(k.used(), "unchanged");
    EXPECT_EQ(test::msgline(0), "Number  916 /seventeen/chars!");
}

TEST(Zbasename, UnsetKivauxIsRefused) {
    ::unsetenv("KIVAUX");
    Text<16> d;
    d.set("unchanged");
    std::int32_t nerr = 0;
    zbasename(d, nerr);
    EXPECT_EQ(nerr, 917);
    EXPECT_EQ(d.used(), "unchanged");
}
