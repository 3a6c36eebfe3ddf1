// Descriptor transfers and named file management.
#include "co/co.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace kivf;
using test::TempDir;

namespace {

// Every piece that zrabs/zwabs hands to the system, with its result.
std::vector<std::pair<std::size_t, long>> g_pieces;
long spyread(int fd, void* buf, std::size_t n) {
    const long r = ::read(fd, buf, n);
    g_pieces.emplace_back(n, r);
    return r;
}
long spywrite(int fd, const void* buf, std::size_t n) {
    const long r = ::write(fd, buf, n);
    g_pieces.emplace_back(n, r);
    return r;
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
    std::int32_t opendata(const std::string& f, const char* type = "DATA") {
        std::int32_t h = 7, nerr = -1;
        zopen(h, f, type, 0, nerr);
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

TEST_F(FileTest, PiecesAreCutAt512ByteBoundaries) {
    struct Case {
        std::int32_t count, offset;
        std::vector<std::pair<std::size_t, long>> pieces;
    } cases[] = {
        {100, 100, {{112, 112}, {288, 288}}},           // head to the boundary, then the tail
        {300, 0, {{512, 512}, {512, 512}, {176, 176}}}, // whole blocks, then the tail
        {0, 3, {{0, 0}}},                               // unaligned: one empty piece
        {0, 128, {}},                                   // aligned: nothing at all
        {256, 64, {{256, 256}, {512, 512}, {256, 256}}},
    };
    const std::string f = dir / "d";
    test::spit(f, bytes(8192));
    for (const auto& c : cases) {
        const std::int32_t h = opendata(f);
        std::vector<std::int32_t> words(static_cast<std::size_t>(c.count) + 1, -1);
        std::int32_t nerr = -1;
        g_pieces.clear();
        zrabs(h, std::span(words), c.count, c.offset, nerr);
        EXPECT_EQ(nerr, 0);
        EXPECT_EQ(g_pieces, c.pieces) << c.count << " at " << c.offset;
        const std::string want = bytes(8192).substr(4 * static_cast<std::size_t>(c.offset),
                                                    4 * static_cast<std::size_t>(c.count));
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(words.data()), want.size()), want);
        EXPECT_EQ(words.back(), -1); // nothing past the count
        zclose(h, nerr);
    }
}

TEST_F(FileTest, ShortFileFailsWith114AfterEveryPiece) {
    const std::string f = dir / "short";
    test::spit(f, bytes(1000));
    const std::int32_t h = opendata(f);
    std::vector<std::int32_t> words(300);
    std::int32_t nerr = 0;
    zrabs(h, std::span(words), 300, 0, nerr);
    EXPECT_EQ(nerr, 114);
    EXPECT_EQ(g_pieces,
              (std::vector<std::pair<std::size_t, long>>{{512, 512}, {512, 488}, {200, 0}}));
    EXPECT_EQ(cmmsg.msgnum, 114);
    EXPECT_EQ(cmmsg.msgtype, 3); // no type names before the message system starts
}

TEST_F(FileTest, WritesUseTheSamePiecesAndNothingOutsideTheArray) {
    const std::string f = dir / "w";
    std::int32_t h = 0, nerr = -1;
    znfile(h, f, "DATA", 0, nerr);
    ASSERT_EQ(nerr, 0);
    std::array<float, 100> words{};
    for (std::size_t i = 0; i < words.size(); ++i) words[i] = static_cast<float>(i);
    zwabs(h, std::span<const float>(words), 100, 100, nerr);
    EXPECT_EQ(nerr, 0);
    EXPECT_EQ(g_pieces, (std::vector<std::pair<std::size_t, long>>{{112, 112}, {288, 288}}));
    g_pieces.clear();
    // Refused before anything moves: more words than the array, a negative
    // offset or count, a unit number as handle.
    for (auto [count, offset, handle] :
         {std::array<std::int32_t, 3>{101, 0, h}, {1, -1, h}, {-1, 0, h}, {1, 0, 0}, {1, 0, 6}}) {
        zwabs(handle, std::span<const float>(words), count, offset, nerr);
        EXPECT_EQ(nerr, 115) << count << " " << offset << " " << handle;
        std::vector<std::int32_t> in(4);
        zrabs(handle, std::span(in), count, offset, nerr);
        EXPECT_EQ(nerr, 114) << count << " " << offset << " " << handle;
    }
    EXPECT_TRUE(g_pieces.empty());
    zclose(h, nerr);
    EXPECT_EQ(test::slurp(f).size(), 800u);
}

TEST_F(FileTest, ZputcCopiesExactlyCountBytes) {
    std::array<std::int32_t, 2> words{};
    std::memset(words.data(), '#', 8);
    zputc("abcdefgh", std::as_writable_bytes(std::span(words)), 5);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(words.data()), 8), "abcde###");
    zputc("xy", std::as_writable_bytes(std::span(words)), 100); // never past either
    EXPECT_EQ(std::string(reinterpret_cast<char*>(words.data()), 8), "xycde###");
}

TEST_F(FileTest, ZopencNamesKindsAndCreationBits) {
    const std::string f = dir / "data.w";
    std::int32_t h = 0, kind = -1;
    zopenc(h, f + "    ", 0, 0, 0, kind); // missing, no create
    EXPECT_EQ(kind, 2);
    EXPECT_EQ(h, 1);
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
    // An existing file that is emptied keeps its bits.
    test::spit(f, "old contents");
    ::chmod(f.c_str(), 0640);
    zopenc(h, f, 1, 0, 0, kind);
    ASSERT_EQ(kind, 0);
    zclosec(h);
    struct stat st {};
    ::stat(f.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(st.st_size, 0);

    ::chmod(f.c_str(), 0);
    if (::access(f.c_str(), R_OK) != 0) { // not root
        zopenc(h, f, 0, 1, 0, kind);
        EXPECT_EQ(kind, 1);
        EXPECT_EQ(h, 1);
    }
    // Too long for the path: refused, never cut to a shorter name.
    // The name is 1024 characters; its first 1023 would name dir////...//ab.
    std::string name = dir.path.string();
    name.resize(1021, '/');
    name += "abc";
    ASSERT_EQ(name.size(), 1024u);
    zopenc(h, name, 1, 0, 0, kind);
    EXPECT_EQ(kind, 2);
    EXPECT_FALSE(uexists(dir / "ab") || uexists(dir / "abc"));
    name.pop_back(); // 1023 characters fit
    zopenc(h, name, 1, 0, 0, kind);
    EXPECT_EQ(kind, 0);
    zclosec(h);
    EXPECT_TRUE(uexists(dir / "ab"));
}

TEST_F(FileTest, TypeKeywordsMatchByPrefixInOrder) {
    const std::string f = dir / "f";
    test::spit(f, "line\n");
    struct Case {
        std::string type;
        bool descriptor;
    } ok[] = {{"DATA    ", true}, {"DATAFILE", true}, {"RODATA", true}, {"TEXT", false},
              {"ROTEXT", false},  {"READ", false},    {"ROUNFR", false}};
    for (const auto& c : ok) {
        std::int32_t h = 11, nerr = -1;
        zopen(h, f, c.type, 16, nerr);
        EXPECT_EQ(nerr, 0) << c.type;
        EXPECT_EQ(h < 0, c.descriptor) << c.type;
        if (!c.descriptor) {
            EXPECT_TRUE(uconnected(11));
        }
        zclose(h, nerr);
        EXPECT_EQ(nerr, 0);
        EXPECT_FALSE(uconnected(11));
    }
    std::int32_t h = 11, nerr = 0;
    zopen(h, f, "RODIR", 16, nerr);
    EXPECT_EQ(nerr, 0);
    zclose(h, nerr);

    // Lower case is a bad type, but only for a file that exists.
    zopen(h, f, "data", 0, nerr);
    EXPECT_EQ(nerr, 101);
    EXPECT_EQ(test::msgline(0), "Number  101 " + f + " (Bad value for file type = data )");
    zopen(h, dir / "missing", "data", 0, nerr);
    EXPECT_EQ(nerr, 108);
    EXPECT_EQ(test::msgline(0), "Number  108 " + dir / "missing");
    zopen(h, f, "DAT", 0, nerr); // shorter than every keyword
    EXPECT_EQ(nerr, 101);

    h = 12;
    zopen(h, "whatever", "SCRATCH", 0, nerr);
    EXPECT_EQ(nerr, 0);
    EXPECT_TRUE(uconnected(12));
    zclose(h, nerr);
    EXPECT_FALSE(uexists("whatever"));
}

TEST_F(FileTest, OpenFailuresCarryTheirReason) {
    const std::string sub = dir / "sub";
    ::mkdir(sub.c_str(), 0755);
    std::int32_t h = 13, nerr = 0;
    zopen(h, sub, "TEXT", 0, nerr);
    EXPECT_EQ(nerr, 101);
    EXPECT_EQ(test::msgline(0), "Number  101 " + sub + " (Fortran i/o error number = 904 )");
    EXPECT_EQ(h, 13);
    for (const char* type : {"DATA", "RODATA"}) { // a directory holds no words
        h = 13;
        zopen(h, sub, type, 0, nerr);
        EXPECT_EQ(nerr, 101) << type;
        EXPECT_EQ(h, 1) << type;
        EXPECT_EQ(test::msgline(0), "Number  101 " + sub + " (System error occurred.)");
    }
    znfile(h, dir / "n", "WEIRD", 0, nerr);
    EXPECT_EQ(nerr, 101);
    EXPECT_EQ(cmmsg.nmsgline, 2);
    EXPECT_EQ(test::msgline(1), "Bad value for file type = WEIRD");
}

TEST_F(FileTest, ZnfileCreatesOrReopens) {
    const std::string t = dir / "t.txt";
    std::int32_t h = 14, nerr = -1;
    znfile(h, t, "TEXT", 0, nerr);
    EXPECT_EQ(nerr, 0);
    EXPECT_TRUE(uwrite(14, "first"));
    zclose(h, nerr);
    znfile(h, t, "TEXT", 0, nerr); // exists: reopened with OLD, not refused
    EXPECT_EQ(nerr, 0);
    zclose(h, nerr);
    const std::string d = dir / "d.bin";
    test::spit(d, "0123456789");
    znfile(h, d, "DATA", 0, nerr);
    EXPECT_EQ(nerr, 0);
    EXPECT_LT(h, 0);
    zclose(h, nerr);
    EXPECT_EQ(test::slurp(d), ""); // emptied
}

TEST_F(FileTest, ZdestRemovesFilesButNotDirectories) {
    const std::string f = dir / "gone";
    test::spit(f, "x");
    std::int32_t nerr = -1;
    zdest(f, nerr);
    EXPECT_EQ(nerr, 0);
    EXPECT_FALSE(uexists(f));
    zdest(f, nerr);
    EXPECT_EQ(nerr, 108);
    EXPECT_EQ(test::msgline(0), "Number  108 " + f);
    const std::string sub = dir / "keep";
    ::mkdir(sub.c_str(), 0755);
    zdest(sub, nerr);
    EXPECT_EQ(nerr, 101);
    EXPECT_TRUE(uexists(sub));
    for (std::int32_t u = 1; u <= 19; ++u) {
        EXPECT_FALSE(u != 5 && u != 6 && uconnected(u)) << u;
    }
}

TEST_F(FileTest, ZgtfunHandsOutTheHighestFreeUnit) {
    std::int32_t unit = 0, nerr = -1;
    zgtfun(unit, nerr);
    EXPECT_EQ(unit, 19);
    EXPECT_EQ(nerr, 0);
    ASSERT_EQ(uopen(19, "", "SCRATCH"), 0);
    ASSERT_EQ(uopen(18, "", "SCRATCH"), 0);
    zgtfun(unit, nerr);
    EXPECT_EQ(unit, 17);
    for (std::int32_t u = 1; u <= 17; ++u) {
        if (!uconnected(u)) {
            ASSERT_EQ(uopen(u, "", "SCRATCH"), 0);
        }
    }
    zgtfun(unit, nerr);
    EXPECT_EQ(unit, 0);
    EXPECT_EQ(nerr, 116);
    EXPECT_EQ(cmmsg.msgnum, 116);
    std::int32_t n2 = 0;
    zdest("anything", n2); // missing file: 108 comes first
    EXPECT_EQ(n2, 108);
    test::spit(dir / "f", "x");
    zdest(dir / "f", n2);
    EXPECT_EQ(n2, 116);
    EXPECT_TRUE(uexists(dir / "f"));
}

TEST_F(FileTest, ZcloseChoosesBySign) {
    const std::string f = dir / "f";
    test::spit(f, "abcd");
    const std::int32_t h = opendata(f);
    ASSERT_EQ(uopen(4, "", "SCRATCH"), 0);
    std::int32_t nerr = -1;
    zclose(4, nerr);
    EXPECT_FALSE(uconnected(4));
    EXPECT_EQ(nerr, 0);
    zclose(h, nerr);
    EXPECT_EQ(::fcntl(-h, F_GETFD), -1); // descriptor released
    zclose(15, nerr);                    // not connected: nothing, no error
    EXPECT_EQ(nerr, 0);
}

TEST_F(FileTest, ZbasenameReadsKivaux) {
    Text<16> d;
    std::int32_t nerr = -1;
    ::setenv("KIVAUX", "/opt/aux", 1);
    zbasename(d, nerr);
    EXPECT_EQ(nerr, 0);
    EXPECT_EQ(d.view(), "/opt/aux        ");
    ::setenv("KIVAUX", "", 1);
    zbasename(d, nerr);
    EXPECT_EQ(d.view(), std::string(16, ' '));
    ::setenv("KIVAUX", "/exactly/16chars", 1);
    zbasename(d, nerr);
    EXPECT_EQ(nerr, 0);
    ::setenv("KIVAUX", "/seventeen/chars!", 1);
    d.set("unchanged");
    zbasename(d, nerr);
    EXPECT_EQ(nerr, 916);
    EXPECT_EQ(d.used(), "unchanged");
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
