// Reading KIV files whole, taking messages instead of printing them, and the
// catalogue compiled into the library.
#include "dff/dff.h"
#include "testutil.h"
#include <array>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <vector>

using namespace kivf;

namespace {

constexpr std::size_t kNum = kHdrNumWords;
constexpr std::int32_t kNpts = kNumFhdr + nslot::NPTS - 1,
                       kLeven = kNumFhdr + kNumNhdr + kNumIhdr + lslot::LEVEN - 1;

// A header of random words (texts printable), holding version 6, n and leven.
struct Image {
    std::array<std::uint32_t, kNum> num{};
    std::string text;
    std::vector<std::uint32_t> y, x;
    Image(std::int32_t n, bool leven, unsigned seed) {
        std::mt19937 g(seed);
        for (auto& w : num) w = g();
        num[kNumFhdr + nslot::NVHDR - 1] = 6;
        num[kNpts] = static_cast<std::uint32_t>(n);
        num[kLeven] = leven ? 1 : 0;
        for (int i = 0; i < kHdrTextBytes; ++i) text += static_cast<char>(' ' + g() % 95);
        for (std::int32_t i = 0; i < n; ++i) y.push_back(g()), x.push_back(leven ? 0 : g());
        if (leven) x.clear();
    }
    // The file as a machine of this order (swap false) or the other would write it.
    std::string bytes(bool swap) const {
        std::string s;
        const auto put = [&](std::uint32_t w) {
            if (swap) w = __builtin_bswap32(w);
            s.append(reinterpret_cast<const char*>(&w), 4);
        };
        for (auto w : num) put(w);
        s += text;
        for (auto w : y) put(w);
        for (auto w : x) put(w);
        return s;
    }
};

struct Rkiv : ::testing::Test {
    test::TempDir dir;
    CmHdr h{};
    KmHdr k{};
    void SetUp() override {
        test::resetall();
        ::setenv("KIVAUX", KIVF_SOURCE_DIR "/kivaux", 1);
        newhdr();
        msgprint(false);
        h.fhdr.fill(7.0F); // marks that a refusal must leave as they are
        for (auto& t : k.khdr) t.set("MARK");
    }
    void TearDown() override { msgprint(true); }
    std::string last() {
        std::int32_t n = 0;
        std::array<char, 300> t{};
        lastmsg(n, t);
        std::string s(t.data(), t.size());
        return std::to_string(n) + "|" + s.substr(0, s.find_last_not_of(' ') + 1);
    }
};

// What the library prints on standard output while f runs.
template <class F> std::string printed(const std::string& file, F f) {
    uflushall();
    std::fflush(stdout);
    const int saved = ::dup(1);
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, 1);
    ::close(fd);
    f();
    uflushall();
    std::fflush(stdout);
    ::dup2(saved, 1);
    ::close(saved);
    return test::slurp(file);
}

std::uint32_t bits(float f) {
    std::uint32_t w = 0;
    std::memcpy(&w, &f, 4);
    return w;
}

TEST_F(Rkiv, BothByteOrdersEvenAndUnevenGiveBackEveryWordAndBit) {
    for (const bool leven : {true, false})
        for (const bool swap : {false, true})
            for (const std::int32_t n : {0, 1, 300}) {
                SCOPED_TRACE(::testing::Message() << leven << swap << n);
                const Image im(n, leven, static_cast<unsigned>(n * 4 + swap * 2 + leven));
                test::spit(dir / "f.kiv", im.bytes(swap));
                std::vector<float> y(n + 2, 5.0F), x(leven ? 0 : n + 1, 5.0F); // longer than NPTS
                bool swapped = !swap;
                std::int32_t nerr = -1;
                rkiv(dir / "f.kiv", h, k, y, x, swapped, nerr);
                ASSERT_EQ(nerr, 0);
                EXPECT_EQ(swapped, swap);
                EXPECT_EQ(std::memcmp(&h, im.num.data(), 4 * kNum), 0);
                EXPECT_EQ(std::string_view(k.khdr[0].data(), kHdrTextBytes), im.text);
                for (std::int32_t i = 0; i < n; ++i) {
                    ASSERT_EQ(bits(y[i]), im.y[i]) << i;
                    if (!leven) {
                        ASSERT_EQ(bits(x[i]), im.x[i]) << i;
                    }
                }
                EXPECT_EQ(y[n], 5.0F); // nothing past NPTS
                EXPECT_EQ(y[n + 1], 5.0F);
                if (!leven) {
                    EXPECT_EQ(x[n], 5.0F);
                }
            }
}

TEST_F(Rkiv, WrittenByTheLibraryReadsBackIntoTheCurrentHeader) {
    const Image im(50, false, 9);
    std::memcpy(static_cast<void*>(&cmhdr), im.num.data(), 4 * kNum);
    std::memcpy(static_cast<void*>(kmhdr.khdr.data()), im.text.data(), kHdrTextBytes);
    const CmHdr wrote = cmhdr;
    std::vector<float> y(50), x(50);
    std::memcpy(y.data(), im.y.data(), 200);
    std::memcpy(x.data(), im.x.data(), 200);
    std::int32_t nerr = -1;
    wkiv0(dir / "w.kiv", x, y, nerr);
    ASSERT_EQ(nerr, 0);
    cmhdr.fhdr.fill(0.0F);
    kmhdr.khdr.fill(kmhdr.undftxt);
    std::vector<float> y2(50), x2(50);
    bool swapped = true;
    rkiv(dir / "w.kiv", y2, x2, swapped, nerr);
    ASSERT_EQ(nerr, 0);
    EXPECT_FALSE(swapped);
    EXPECT_EQ(std::memcmp(&cmhdr, &wrote, 4 * kNum), 0);
    EXPECT_EQ(std::string_view(kmhdr.khdr[0].data(), kHdrTextBytes), im.text);
    EXPECT_EQ(std::memcmp(y2.data(), y.data(), 200), 0);
    EXPECT_EQ(std::memcmp(x2.data(), x.data(), 200), 0);
}

TEST_F(Rkiv, RefusalsLeaveHeaderAndArraysAsTheyWere) {
    Image even(4, true, 1), uneven(4, false, 2), negative(4, true, 3);
    negative.num[kNpts] = static_cast<std::uint32_t>(-1);
    test::spit(dir / "even.kiv", even.bytes(true));
    test::spit(dir / "uneven.kiv", uneven.bytes(false));
    test::spit(dir / "neg.kiv", negative.bytes(false));
    test::spit(dir / "cut.kiv", even.bytes(false).substr(0, 644));
    test::spit(dir / "short.kiv", even.bytes(false).substr(0, 300));
    test::spit(dir / "text.kiv", std::string(700, 'a'));
    ::mkfifo((dir / "fifo").c_str(), 0600);
    const std::string d = dir.path.string() + "/";
    const struct {
        std::string file;
        std::size_t ny, nx;
        std::string want;
    } cases[] = {
        {"gone.kiv", 9, 9, "1410|ERROR 1410: KIV file does not exist: " + d + "gone.kiv"},
        {"", 9, 9, "1411|ERROR 1411: KIV file cannot be opened: " + d + " (Not a plain file.)"},
        {"fifo", 9, 9,
         "1411|ERROR 1411: KIV file cannot be opened: " + d + "fifo (Not a plain file.)"},
        {"text.kiv", 9, 9,
         "1412|ERROR 1412: Not a KIV file: no header version 6 at byte 304 in "
         "either byte order: " +
             d + "text.kiv"},
        {"short.kiv", 9, 9,
         "1413|ERROR 1413: Truncated or not a KIV file: shorter than the 632-byte "
         "header: " +
             d + "short.kiv (300 bytes)"},
        {"cut.kiv", 9, 9,
         "1414|ERROR 1414: KIV file size does not match NPTS and LEVEN: " + d +
             "cut.kiv (644 bytes, expected 648 for NPTS = 4 and LEVEN true)"},
        {"neg.kiv", 9, 9,
         "1416|ERROR 1416: KIV file sample count NPTS is undefined or negative: " + d +
             "neg.kiv (NPTS = -1)"},
        {"even.kiv", 3, 0,
         "1417|ERROR 1417: An array is shorter than the KIV file's sample count "
         "NPTS: " +
             d + "even.kiv (NPTS = 4, yarray holds 3)"},
        {"uneven.kiv", 4, 3,
         "1417|ERROR 1417: An array is shorter than the KIV file's sample "
         "count NPTS: " +
             d + "uneven.kiv (NPTS = 4, xarray holds 3)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const CmHdr h0 = h;
        const KmHdr k0 = k;
        std::vector<float> y(c.ny, 5.0F), x(c.nx, 5.0F);
        bool swapped = true;
        std::int32_t nerr = 0;
        rkiv(d + c.file, h, k, y, x, swapped, nerr);
        EXPECT_EQ(nerr, std::stoi(c.want));
        EXPECT_EQ(last(), c.want);
        EXPECT_FALSE(swapped);
        EXPECT_EQ(std::memcmp(&h, &h0, sizeof h), 0);
        EXPECT_EQ(std::memcmp(&k, &k0, sizeof k), 0);
        for (float v : y) EXPECT_EQ(v, 5.0F);
        for (float v : x) EXPECT_EQ(v, 5.0F);
    }
    // The uneven file needs both arrays, the even one only yarray.
    std::vector<float> y(4), none;
    bool swapped = false;
    std::int32_t nerr = -1;
    rkiv(d + "even.kiv", h, k, y, none, swapped, nerr);
    EXPECT_EQ(nerr, 0);
    EXPECT_TRUE(swapped);
}

TEST_F(Rkiv, MessagesAreTakenInsteadOfPrinted) {
    std::int32_t nerr = 0;
    const std::string out = printed(dir / "out", [&] {
        setnhv("NOPE", 1, nerr); // reported at once, unless printing is off
        EXPECT_EQ(last(), "1337|ERROR 1337: No header field of this kind has the name NOPE");
        std::vector<float> y;
        wkiv0(dir / "x.kiv", y, y, nerr);
        outmsg();
        wrtmsg(kStdout);
        msgprint(true);
        setnhv("NEIN", 1, nerr);
        msgprint(false);
    });
    EXPECT_EQ(out, "\aERROR: No header field of this kind has the name NEIN\n");
    const struct {
        std::string type;
        std::int32_t number;
        std::vector<std::string> more;
        std::size_t room;
        std::string want;
    } cases[] = {
        {"ERROR", 116, {}, 300, "116|ERROR  116: No free unit number is left to open a file."},
        {"ERROR", 1001, {"two", "three"}, 300, "1001|ERROR 1001: Number 1001\ntwo\nthree"},
        {"WARNING", 7, {"x"}, 300, "7|WARNING:  \nx"},
        {"OUTPUT", 0, {"y"}, 300, "0| \ny"},
        {"PROCESSED", 0, {}, 300, "0|==>"},
        {"ERROR", 1410, {}, 10, "1410|ERROR 1410"},
    };
    for (const auto& c : cases) {
        setmsg(c.type, c.number);
        for (const auto& l : c.more) aplmsg(l);
        std::int32_t n = -1;
        std::vector<char> t(c.room, '#');
        lastmsg(n, t);
        const std::string s(t.begin(), t.end());
        EXPECT_EQ(std::to_string(n) + "|" + s.substr(0, s.find_last_not_of(' ') + 1), c.want);
        EXPECT_EQ(s.find('#'), std::string::npos); // padded to the end
    }
    clrmsg();
    EXPECT_EQ(last(), "0|");
}

TEST(BuiltinCatalogue, WithoutKivauxTheCatalogueFileIsCompiledIn) {
    test::TempDir dir;
    test::resetall();
    ::unsetenv("KIVAUX");
    EXPECT_EQ(printed(dir / "out", [] { newhdr(); }), "");
    std::istringstream in(test::slurp(KIVF_SOURCE_DIR "/kivaux/messages"));
    std::int32_t i = 0;
    for (std::string l; std::getline(in, l); ++i) {
        ASSERT_LT(i, cmmsg.ncatmsg);
        EXPECT_EQ(cmmsg.catnum[i], std::stoi(l.substr(0, 4)));
        EXPECT_EQ(kmmsg.cattext[i].used(), l.substr(5, l.find_last_not_of(' ') - 4));
    }
    EXPECT_GT(i, 20);
    EXPECT_EQ(cmmsg.ncatmsg, i);
}

} // namespace
