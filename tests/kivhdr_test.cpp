// The KIV header reader (files of both byte orders, refusals) and the pieces
// of the lister's output. Files are built by hand in kivhdr_files.h.
#include "kivhdr/kivhdr.h"
#include "kivhdr_files.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

using namespace kivf;
using kivtest::HandKiv;
using test::TempDir;

namespace {

constexpr bool kBig = std::endian::native == std::endian::big;

struct KivhdrRead : ::testing::Test {
    TempDir dir;
    CmHdr h{};
    KmHdr k{};
    void SetUp() override {
        test::resetall();
        ::setenv("KIVAUX", KIVF_SOURCE_DIR "/kivaux", 1); // the catalogue as shipped
        newhdr();
    }
    void TearDown() override { test::resetstate(); }
    bool numeric_equal(const CmHdr& a, const CmHdr& b) { return std::memcmp(&a, &b, 440) == 0; }
    bool text_equal(const KmHdr& a, const KmHdr& b) { return a.khdr == b.khdr; }
};

} // namespace

TEST_F(KivhdrRead, WrittenByWkiv0AndByHandInTheOtherOrderReadTheSame) {
    kivtest::setexample();
    std::int32_t nerr = 0;
    const std::vector<float> x = {0, 1, 2}, y = {5, 6, 7};
    wkiv0(dir / "w.kiv", x, y, nerr);
    ASSERT_EQ(nerr, 0);
    test::spit(dir / "other.kiv", kivtest::example(!kBig).bytes(6));
    test::spit(dir / "same.kiv", kivtest::example(kBig).bytes(6));

    for (const auto& [file, swapped] :
         {std::pair{"w.kiv", false}, {"other.kiv", true}, {"same.kiv", false}}) {
        SCOPED_TRACE(file);
        bool sw = !swapped;
        rkivhdr(dir / file, h, k, sw, nerr);
        ASSERT_EQ(nerr, 0);
        EXPECT_EQ(sw, swapped);
        EXPECT_TRUE(numeric_equal(h, cmhdr));
        EXPECT_TRUE(text_equal(k, kmhdr));
        EXPECT_EQ(h.f(fslot::USER0), 1.0000001f);
        EXPECT_EQ(h.n(nslot::NZYEAR), 2016);
        EXPECT_EQ(std::string(k.k(kslot::KEVNMC).view()), "IJKLMNOP");
    }
}

TEST_F(KivhdrRead, IntoTheCurrentHeaderLeavesItsConstantsAlone) {
    test::spit(dir / "a.kiv", kivtest::example(!kBig).bytes(6));
    cmhdr = CmHdr{}; // as at program start: the first newhdr must still set up everything
    kmhdr = KmHdr{};
    bool sw = false;
    std::int32_t nerr = 0;
    rkivhdr(dir / "a.kiv", sw, nerr);
    ASSERT_EQ(nerr, 0);
    EXPECT_EQ(cmhdr.n(nslot::NPTS), 3);
    EXPECT_EQ(cmhdr.i(islot::IDEP), ienum::IVEL);
    EXPECT_EQ(std::string(kmhdr.k(kslot::KSTNM).view()), "ANMO    ");
    EXPECT_EQ(cmhdr.undfflt, 0.0f);
    EXPECT_EQ(cmhdr.curhver, 0);
    EXPECT_EQ(cmhdr.ienm[0], 0);
    EXPECT_EQ(kmhdr.undftxt, Text<8>{});
}

TEST_F(KivhdrRead, SizesThatMatchNptsAndLeven) {
    struct Case {
        std::int32_t npts, leven;
        std::size_t values;
    };
    for (const Case c : {Case{0, 1, 0}, Case{0, 0, 0}, Case{1000, 1, 1000}, Case{7, 0, 14}}) {
        for (const bool big : {false, true}) {
            HandKiv f(big);
            f.n(316, c.npts);
            f.n(420, c.leven);
            test::spit(dir / "s.kiv", f.bytes(c.values));
            bool sw = false;
            std::int32_t nerr = -1;
            rkivhdr(dir / "s.kiv", h, k, sw, nerr);
            EXPECT_EQ(nerr, 0) << c.npts << " " << c.leven << " " << big;
            EXPECT_EQ(h.n(nslot::NPTS), c.npts);
        }
    }
}

TEST_F(KivhdrRead, RefusalsComposeTheirMessageAndLeaveTheRecordsAlone) {
    auto withnpts = [](std::int32_t npts, std::int32_t leven, std::size_t values, bool big) {
        HandKiv f(big);
        f.n(316, npts);
        f.n(420, leven);
        return f.bytes(values);
    };
    std::string nvhdr7 = HandKiv(kBig).bytes(0);
    nvhdr7[kBig ? 307 : 304] = 7;
    struct Case {
        const char* what;
        std::string bytes; // empty: no file at all
        std::int32_t nerr;
        std::string text; // after the file name
    };
    const std::vector<Case> cases = {
        {"missing", "", 1410, "KIV file does not exist: F"},
        {"empty", "\n", 1413,
         "Truncated or not a KIV file: shorter than the 632-byte header: F (1 bytes)"},
        {"cut inside the header", HandKiv(!kBig).b.substr(0, 631), 1413,
         "Truncated or not a KIV file: shorter than the 632-byte header: F (631 bytes)"},
        {"version 7", nvhdr7, 1412,
         "Not a KIV file: no header version 6 at byte 304 in either byte order: F"},
        {"text", std::string(700, 'x'), 1412,
         "Not a KIV file: no header version 6 at byte 304 in either byte order: F"},
        {"short data", withnpts(3, 1, 2, !kBig), 1414,
         "KIV file size does not match NPTS and LEVEN: F (640 bytes, expected 644 for NPTS = 3 "
         "and LEVEN true)"},
        {"uneven, y only", withnpts(3, 0, 3, kBig), 1414,
         "KIV file size does not match NPTS and LEVEN: F (644 bytes, expected 656 for NPTS = 3 "
         "and LEVEN false)"},
        {"a byte too many", withnpts(0, 1, 0, !kBig) + "x", 1414,
         "KIV file size does not match NPTS and LEVEN: F (633 bytes, expected 632 for NPTS = 0 "
         "and LEVEN true)"},
        {"NPTS undefined", withnpts(-12345, 1, 0, !kBig), 1416,
         "KIV file sample count NPTS is undefined or negative: F (NPTS = -12345)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string name = dir / "f.kiv";
        std::filesystem::remove(name);
        if (!c.bytes.empty()) test::spit(name, c.bytes);
        h.nhdr.fill(77);
        k.khdr.fill(Text<8>{});
        bool sw = true;
        std::int32_t nerr = 0;
        rkivhdr(name, h, k, sw, nerr);
        EXPECT_EQ(nerr, c.nerr);
        EXPECT_EQ(cmmsg.msgnum, c.nerr);
        std::string want = c.text;
        want.replace(want.find(": F") + 2, 1, name);
        EXPECT_EQ(test::msgline(0), want);
        EXPECT_FALSE(sw);
        EXPECT_EQ(h.n(nslot::NPTS), 77);
        EXPECT_EQ(k.k(kslot::KSTNM), Text<8>{});
    }
    bool sw = false;
    std::int32_t nerr = 0;
    rkivhdr(dir.path.string(), h, k, sw, nerr);
    EXPECT_EQ(nerr, 1411);
    EXPECT_EQ(test::msgline(0),
              "KIV file cannot be opened: " + dir.path.string() + " (Not a plain file.)");
}

// ------------------------------------------------------------- the lister ----

TEST_F(KivhdrRead, DatesCountEveryFourthYearAsLeap) {
    struct Case {
        std::int32_t year, day;
        const char* shown;
    };
    for (const Case& c :
         {Case{2015, 69, "2015-03-10 (069)"}, Case{2015, 1, "2015-01-01 (001)"},
          Case{2015, 59, "2015-02-28 (059)"}, Case{2015, 60, "2015-03-01 (060)"},
          Case{2015, 365, "2015-12-31 (365)"}, Case{2016, 60, "2016-02-29 (060)"},
          Case{1900, 60, "1900-02-29 (060)"}, Case{1900, 366, "1900-12-31 (366)"},
          Case{2016, 335, "2016-11-30 (335)"}, Case{2015, 0, "2015 day 0 (no such day)"},
          Case{2015, 366, "2015 day 366 (no such day)"}})
        EXPECT_EQ(kivhdr::showdate(c.year, c.day), c.shown);
    EXPECT_EQ(kivhdr::showtime(7, 5, 3, 9), "07:05:03.009");
    EXPECT_EQ(kivhdr::showtime(23, 59, 59, 999), "23:59:59.999");
}

TEST_F(KivhdrRead, FloatsReadBackExactly) {
    EXPECT_EQ(kivhdr::showfloat(0.01f), "0.01");
    EXPECT_EQ(kivhdr::showfloat(1200.0f), "1200");
    EXPECT_EQ(kivhdr::showfloat(1.0000001f), "1.0000001");
    EXPECT_EQ(kivhdr::showfloat(-12345.5f), "-12345.5");
    std::uint32_t bits = 0x12345u;
    for (int i = 0; i < 20000; ++i) {
        bits = bits * 1664525u + 1013904223u;
        float v = 0;
        std::memcpy(&v, &bits, 4);
        if (v != v) continue; // not a number: no value to read back
        const float back = std::strtof(kivhdr::showfloat(v).c_str(), nullptr);
        ASSERT_EQ(std::memcmp(&back, &v, 4), 0) << kivhdr::showfloat(v);
    }
}

TEST_F(KivhdrRead, DerivedAndEnumeratedValues) {
    test::spit(dir / "a.kiv", kivtest::example(!kBig).bytes(6));
    bool sw = false;
    std::int32_t nerr = 0;
    rkivhdr(dir / "a.kiv", h, k, sw, nerr);
    ASSERT_EQ(nerr, 0);
    struct Case {
        const char* name;
        const char* shown; // nullptr: undefined
    };
    for (const Case& c : {Case{"KSTCMP", "ANMO BHZ"},
                          Case{"FILENAME", "my file"},
                          Case{"AMARKER", "12.25 (P)"},
                          Case{"OMARKER", "-0.5"},
                          Case{"T3MARKER", "7.125 (S wave)"},
                          Case{"T4MARKER", nullptr},
                          Case{"KAHDR08", nullptr},
                          Case{"KZDATE", "2016-02-29 (060)"},
                          Case{"KZTIME", "07:05:03.009"},
                          Case{"KEVNM", "ABCDEFGHIJKLMNOP"},
                          Case{"IDEP", "IVEL    VELOCITY (NM/SEC)"},
                          Case{"IEVTYP", "IQUAKE  EARTHQUAKE"},
                          Case{"IQUAL", "99  (not an enumerated value)"},
                          Case{"IZTYPE", nullptr},
                          Case{"LEVEN", "false"},
                          Case{"LPSPOL", "false"},
                          Case{"LCALDA", "true"},
                          Case{"KHOLE", nullptr},
                          Case{"NVHDR", "6"},
                          Case{"SCALE", nullptr}}) {
        std::string v;
        EXPECT_EQ(kivhdr::value(c.name, h, k, "my file", v), c.shown != nullptr) << c.name;
        EXPECT_EQ(v, c.shown ? c.shown : "") << c.name;
    }
    EXPECT_EQ(kivhdr::showenum(52), "UNUSED  UNUSED");
    EXPECT_EQ(kivhdr::showenum(0), "0  (not an enumerated value)");

    // Event names of 5 characters (second half blank) and with no first half.
    std::string v;
    k.k(kslot::KEVNM).set("QUAKE");
    k.k(kslot::KEVNMC).set("");
    EXPECT_TRUE(kivhdr::value("KEVNM", h, k, "", v));
    EXPECT_EQ(v, "QUAKE");
    k.k(kslot::KEVNM).set("-12345");
    EXPECT_FALSE(kivhdr::value("KEVNM", h, k, "", v));
    k.k(kslot::KEVNMC).set("TAIL");
    EXPECT_TRUE(kivhdr::value("KEVNM", h, k, "", v));
    EXPECT_EQ(v, "-12345  TAIL");
}
