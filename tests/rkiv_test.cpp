// Reading KIV files whole, messages taken not printed, the compiled-in catalogue.
#include "dff/dff.h"
#include "testutil.h"
#include <bit>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <vector>

using namespace kivf;

namespace {

constexpr std::size_t kNpts = kNumFhdr + nslot::NPTS - 1;

// The file as the other byte order writes it: every word but text reversed.
std::string other(std::string s) {
    for (std::size_t w = 0; w < s.size() / 4; ++w)
        if (w < kHdrNumWords || w >= kHdrWords) std::reverse(&s[4 * w], &s[4 * w + 4]);
    return s;
}

struct Rkiv : ::testing::Test {
    test::TempDir dir;
    CmHdr h{};
    KmHdr k{};
    std::vector<float> y, x;
    void SetUp() override {
        test::resetall();
        ::setenv("KIVAUX", KIVF_SOURCE_DIR "/kivaux", 1);
        newhdr();
        msgprint(false);
        h.fhdr.fill(7.0F); // marks that a refusal must leave as they are
        for (auto& t : k.khdr) t.set("MARK");
    }
    // Random words in every field and sample, printable texts; the bytes wkiv0 writes.
    std::string write(const std::string& name, std::int32_t n, bool leven, unsigned seed) {
        std::mt19937 g(seed);
        for (std::size_t w = 0; w < kHdrNumWords; ++w)
            reinterpret_cast<std::uint32_t*>(&cmhdr)[w] = g();
        for (auto& t : kmhdr.khdr)
            for (std::size_t c = 0; c < 8; ++c) t[c] = static_cast<char>(' ' + g() % 95);
        cmhdr.n(nslot::NVHDR) = 6;
        cmhdr.n(nslot::NPTS) = n;
        cmhdr.l(lslot::LEVEN) = leven;
        y.resize(n), x.resize(n);
        for (std::int32_t i = 0; i < 2 * n; ++i)
            (i < n ? y[i] : x[i - n]) = std::bit_cast<float>(std::uint32_t(g()));
        std::int32_t nerr = -1;
        wkiv0(dir / name, x, y, nerr);
        EXPECT_EQ(nerr, 0);
        return test::slurp(dir / name);
    }
    // The message taken as "number|text", once the text is seen to fill room.
    static std::string last(std::size_t room = 300) {
        std::int32_t n = -1;
        std::string t(room + 1, '#');
        lastmsg(n, std::span(t).first(room));
        EXPECT_EQ(t.find('#'), room); // filled, and nothing past
        return std::to_string(n) + "|" + t.substr(0, t.find_last_not_of(' ', room - 1) + 1);
    }
};

TEST_F(Rkiv, BothByteOrdersEvenAndUnevenGiveBackEveryWordAndBit) {
    for (const bool leven : {true, false})
        for (const std::int32_t n : {0, 1, 300}) {
            const std::string bytes = write("f.kiv", n, leven, static_cast<unsigned>(n + leven));
            const CmHdr wrote = cmhdr;
            const KmHdr wrotek = kmhdr;
            test::spit(dir / "o.kiv", other(bytes));
            for (const bool swap : {false, true}) {
                SCOPED_TRACE(::testing::Message() << leven << swap << n);
                std::vector<float> y2(n + 2, 5.0F), x2(leven ? 0 : n + 1, 5.0F);
                bool swapped = !swap;
                std::int32_t nerr = -1;
                if (swap) {
                    rkiv(dir / "o.kiv", h, k, y2, x2, swapped, nerr);
                } else { // into the current header
                    newhdr();
                    rkiv(dir / "f.kiv", y2, x2, swapped, nerr);
                    h = cmhdr, k = kmhdr;
                }
                ASSERT_EQ(nerr, 0);
                EXPECT_EQ(swapped, swap);
                EXPECT_EQ(std::memcmp(&h, &wrote, 4 * kHdrNumWords), 0);
                EXPECT_EQ(std::memcmp(&k, &wrotek, kHdrTextBytes), 0);
                EXPECT_TRUE(n == 0 || std::memcmp(y2.data(), y.data(), 4 * n) == 0);
                EXPECT_TRUE(leven || n == 0 || std::memcmp(x2.data(), x.data(), 4 * n) == 0);
                EXPECT_TRUE(y2[n] == 5.0F && y2[n + 1] == 5.0F &&
                            (leven || x2[n] == 5.0F)); // past NPTS
            }
        }
}

TEST_F(Rkiv, RefusalsLeaveHeaderAndArraysAsTheyWere) {
    test::spit(dir / "even.kiv", other(write("even.kiv", 4, true, 1)));
    const std::string uneven = write("uneven.kiv", 4, false, 2);
    std::string neg = uneven;
    std::memset(&neg[4 * kNpts], 0xFF, 4); // NPTS -1
    test::spit(dir / "neg.kiv", neg);
    test::spit(dir / "cut.kiv", uneven.substr(0, 660));
    test::spit(dir / "short.kiv", uneven.substr(0, 300));
    test::spit(dir / "text.kiv", std::string(700, 'a'));
    ::mkfifo((dir / "fifo").c_str(), 0600);
    const std::string d = dir.path.string() + "/";
    const std::string t1417 = "An array is shorter than the KIV file's sample count NPTS: ";
    // clang-format off
    const struct { std::string file; std::size_t ny, nx; std::string want; } cases[] = {
        {"gone.kiv", 9, 9, "1410|ERROR 1410: KIV file does not exist: " + d + "gone.kiv"},
        {"fifo", 9, 9, "1411|ERROR 1411: KIV file cannot be opened: " + d + "fifo (Not a plain file.)"},
        {"text.kiv", 9, 9, "1412|ERROR 1412: Not a KIV file: no header version 6 at byte 304 in either byte order: " + d + "text.kiv"},
        {"short.kiv", 9, 9, "1413|ERROR 1413: Truncated or not a KIV file: shorter than the 632-byte header: " + d + "short.kiv (300 bytes)"},
        {"cut.kiv", 9, 9, "1414|ERROR 1414: KIV file size does not match NPTS and LEVEN: " + d + "cut.kiv (660 bytes, expected 664 for NPTS = 4 and LEVEN false)"},
        {"neg.kiv", 9, 9, "1416|ERROR 1416: KIV file sample count NPTS is undefined or negative: " + d + "neg.kiv (NPTS = -1)"},
        {"even.kiv", 3, 0, "1417|ERROR 1417: " + t1417 + d + "even.kiv (NPTS = 4, yarray holds 3)"},
        {"uneven.kiv", 4, 3, "1417|ERROR 1417: " + t1417 + d + "uneven.kiv (NPTS = 4, xarray holds 3)"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const CmHdr h0 = h;
        const KmHdr k0 = k;
        std::vector<float> y2(c.ny, 5.0F), x2(c.nx, 5.0F);
        bool swapped = true;
        std::int32_t nerr = 0;
        rkiv(d + c.file, h, k, y2, x2, swapped, nerr);
        EXPECT_EQ(nerr, std::stoi(c.want));
        EXPECT_EQ(last(), c.want);
        EXPECT_FALSE(swapped);
        EXPECT_EQ(std::memcmp(&h, &h0, sizeof h), 0);
        EXPECT_EQ(std::memcmp(&k, &k0, sizeof k), 0);
        EXPECT_EQ(std::count(y2.begin(), y2.end(), 5.0F) + std::count(x2.begin(), x2.end(), 5.0F),
                  c.ny + c.nx);
    }
}

TEST_F(Rkiv, MessagesAreTakenInsteadOfPrinted) {
    std::int32_t nerr = 0;
    ASSERT_EQ(uopen(7, dir / "out", "NEW"), 0);
    sendmsg(7, true, {true, true, true, true, true, true});
    setnhv("NOPE", 1, nerr); // printed at once, unless printing is off
    EXPECT_EQ(last(), "1337|ERROR 1337: No header field of this kind has the name NOPE");
    outmsg();
    wrtmsg(7);
    msgprint(true);
    setmsg("WARNING", 0);
    wrtmsg(7);
    outmsg();
    msgprint(false);
    uclose(7);
    EXPECT_EQ(test::slurp(dir / "out"), "WARNING: \n WARNING:  \n");
    // clang-format off
    const struct { std::string type; std::int32_t number; std::vector<std::string> more; std::size_t room; std::string want; } cases[] = {
        {"ERROR", 116, {}, 300, "116|ERROR  116: No free unit number is left to open a file."},
        {"ERROR", 1001, {"two", "three"}, 300, "1001|ERROR 1001: Number 1001\ntwo\nthree"},
        {"WARNING", 7, {"x"}, 300, "7|WARNING:  \nx"},
        {"PROCESSED", 0, {}, 300, "0|==>"},
        {"ERROR", 1001, {"two"}, 20, "1001|ERROR 1001: Number 1"},
    };
    // clang-format on
    for (const auto& c : cases) {
        setmsg(c.type, c.number);
        for (const auto& l : c.more) aplmsg(l);
        EXPECT_EQ(last(c.room), c.want);
    }
    clrmsg();
    EXPECT_EQ(last(), "0|");
}

TEST(BuiltinCatalogue, WithoutKivauxTheCatalogueFileIsCompiledIn) {
    test::resetall();
    ::unsetenv("KIVAUX");
    newhdr();
    std::istringstream in(test::slurp(KIVF_SOURCE_DIR "/kivaux/messages"));
    std::int32_t i = 0;
    for (std::string l; std::getline(in, l); ++i) {
        EXPECT_EQ(cmmsg.catnum[i], std::stoi(l.substr(0, 4)));
        EXPECT_EQ(kmmsg.cattext[i].used(), l.substr(5, l.find_last_not_of(' ') - 4));
    }
    EXPECT_GT(i, 20);
    EXPECT_EQ(cmmsg.ncatmsg, i);
}

} // namespace
