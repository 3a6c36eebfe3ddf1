// SPDX-License-Identifier: Apache-2.0
// The KIV header reader (both byte orders, refusals) and the pieces of the lister's output.
#include "dff/times.h"
#include "kivhdr_files.h"
#include "show/show.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <sys/stat.h>

using namespace kivf;
using kivtest::HandKiv, kivtest::kBig;
namespace at = kivtest::at;

namespace {

struct Kivhdr : ::testing::Test {
    test::TempDir dir;
    CmHdr h{};
    KmHdr k{};
    void SetUp() override { // the catalogue as shipped
        test::resetall(), ::setenv("KIVAUX", KIVF_SOURCE_DIR "/kivaux", 1), newhdr();
    }
    void TearDown() override { test::resetstate(); }
    std::int32_t read(const std::string& name, bool& sw) {
        std::int32_t nerr = -1, fd = test::lowestfd();
        rkivhdr(name, h, k, sw, nerr);
        EXPECT_EQ(test::lowestfd(), fd) << "a descriptor left open";
        return nerr;
    }
};

std::string withnpts(std::int32_t npts, std::int32_t leven, std::size_t values, bool big) {
    HandKiv f(big);
    return f.n(at::NPTS, npts), f.n(at::LEVEN, leven), f.bytes(values);
}

} // namespace

TEST_F(Kivhdr, RefusalsComposeTheirMessageAndLeaveTheRecordsAlone) {
    std::string nvhdr7 = HandKiv().bytes(0);
    nvhdr7[at::NVHDR + (kBig ? 3 : 0)] = 7;
    // clang-format off
    const std::string shortf = "Truncated or not a KIV file: shorter than the 632-byte header: F (", size = "KIV file size does not match NPTS and LEVEN: F (",
                      notkiv = "Not a KIV file: no header version 6 at byte 304 in either byte order: F", other = HandKiv(!kBig).b;
    const struct { std::string bytes; std::int32_t nerr; std::string text; } cases[] = { // F: the name
        {"", 1410, "KIV file does not exist: F"}, {other.substr(0, 307), 1413, shortf + "307 bytes)"}, // "": no file at all
        {other.substr(0, 308), 1413, shortf + "308 bytes)"}, {other.substr(0, 631), 1413, shortf + "631 bytes)"},
        {std::string(308, 'x'), 1412, notkiv}, {nvhdr7, 1412, notkiv}, {withnpts(3, 1, 2, !kBig), 1414, size + "640 bytes, expected 644 for NPTS = 3 and LEVEN true)"},
        {withnpts(3, 0, 3, kBig), 1414, size + "644 bytes, expected 656 for NPTS = 3 and LEVEN false)"},
        {withnpts(0, 1, 0, !kBig) + "x", 1414, size + "633 bytes, expected 632 for NPTS = 0 and LEVEN true)"},
        {withnpts(-1, 1, 0, !kBig), 1416, "KIV file sample count NPTS is undefined or negative: F (NPTS = -1)"}};
    // clang-format on
    const std::string name = dir / "f.kiv";
    for (const auto& c : cases) {
        std::filesystem::remove(name), h.nhdr.fill(77), k.khdr.fill(Text<8>{});
        if (!c.bytes.empty()) test::spit(name, c.bytes);
        bool sw = true;
        EXPECT_EQ(read(name, sw), c.nerr) << c.bytes.size();
        EXPECT_EQ(test::msgline(0), std::string(c.text).replace(c.text.find(": F") + 2, 1, name));
        // The modern face fails alike (its errno where the system failed), keeping what it got.
        Trace t{h, k, {5}, {}};
        const std::string want = test::posted(c.nerr == 1410 ? ENOENT : 0);
        EXPECT_EQ(test::shown(loadheader(name, h, k, sw)) + test::shown(loadtrace(name, t, sw)),
                  want + want);
        EXPECT_TRUE(cmmsg.msgnum == c.nerr && !sw && h.n(nslot::NPTS) == 77 &&
                    k.k(kslot::KSTNM) == Text<8>{} && t.y.size() == 1 &&
                    t.hdr.n(nslot::NPTS) == 77);
    }
    test::spit(dir / "noread.kiv", withnpts(0, 1, 0, kBig)),
        ::chmod((dir / "noread.kiv").c_str(), 0);
    ::mkdir((dir / "locked").c_str(), 0), ::chmod(dir.path.c_str(), 0755);
    const std::string sys = " (System error occurred.)", acc = " (Insufficient access rights.)";
    // clang-format off
    const std::tuple<std::string, std::string, int> opens[] = {{dir.path.string(), " (Not a plain file.)", 0},
        {name + "/x.kiv", sys, ENOTDIR}, {"", " (Empty or overlong name.)", ENOENT}, {dir / "noread.kiv", acc, EACCES}, {dir / "locked/x.kiv", acc, EACCES}};
    // clang-format on
    for (const auto& [file, why, err] : opens) {
        const auto c = test::inchild(
            [&, file = file, err = err] {
                bool sw = false;
                const std::int32_t nerr = read(file, sw);
                const std::string modern = test::shown(loadheader(file, h, k, sw));
                return uwrite(kStdout, test::msgline(0) +
                                           (modern == test::posted(err) ? "" : " but " + modern)),
                       nerr - 1400;
            },
            true);
        EXPECT_EQ(std::to_string(c.status) + c.out,
                  "11KIV file cannot be opened: " + file + why + "\n");
    }
}

TEST_F(Kivhdr, ReadAndShownValues) {
    using namespace show;
    // clang-format off
    const std::pair<std::string, std::string> shown[] = {{showdate(2015, 59), "2015-02-28 (059)"}, {showdate(2015, 60), "2015-03-01 (060)"},
        {showdate(1900, 366), "1900-12-31 (366)"}, {showdate(2016, 336), "2016-12-01 (336)"}, {showdate(2015, 0), "2015 day 0 (no such day)"},
        {showdate(2015, 366), "2015 day 366 (no such day)"}, {showenum(0), "0  (not an enumerated value)"}, {showenum(60), "UNUSED  UNUSED"},
        {showenum(61), "61  (not an enumerated value)"}};
    // clang-format on
    for (const auto& [got, want] : shown) EXPECT_EQ(got, want);
    // h and k read from the example in the other byte order; the current records take fields only.
    test::spit(dir / "e.kiv", kivtest::example(!kBig).bytes(6));
    bool sw = false;
    ASSERT_TRUE(read(dir / "e.kiv", sw) == 0 && sw);
    cmhdr = CmHdr{}, kmhdr = KmHdr{}; // as at program start: the first newhdr sets up all
    std::int32_t nerr = -1;
    rkivhdr(dir / "e.kiv", sw, nerr);
    EXPECT_EQ((std::array{nerr, std::int32_t{sw}, cmhdr.n(nslot::NPTS), cmhdr.i(islot::IDEP),
                          cmhdr.curhver, cmhdr.ienm[0]}),
              (std::array<std::int32_t, 6>{0, 1, 3, ienum::IVEL, 0, 0}));
    EXPECT_TRUE(kmhdr.k(kslot::KEVNMC).view() == "IJKLMNOP" && cmhdr.undfflt == 0.0F &&
                kmhdr.undftxt == Text<8>{});
    // "-": undefined. The lister's run shows the example's other fields, defined or not.
    const std::pair<const char*, const char*> values[] = {
        {"FILENAME", "my?file"}, {"KAHDR08", "-"}, {"NOSUCH", "-"}};
    const auto val = [&](const char* name) {
        std::string v = "x";
        return value(name, h, k, "my\tfile", v) ? v : v.empty() ? "-" : "not cleared";
    };
    for (const auto& [name, want] : values) EXPECT_EQ(val(name), want) << name;
    for (std::int32_t s = nslot::NZYEAR; s <= nslot::NZMSEC; ++s) { // any part undefined: none
        const std::int32_t keep = std::exchange(h.n(s), -12345);
        const std::string part = s <= nslot::NZJDAY ? "KZDATE" : "KZTIME";
        EXPECT_EQ(val(part.c_str()) + val("STARTTIME") + val("ENDTIME"), "---") << s;
        h.n(s) = keep;
    }
    k.k(kslot::KA).set(""), k.k(kslot::KT3).set("-12345"), k.k(kslot::KSTNM).set("-12345");
    k.k(kslot::KEVNM).set("QUAKE"), k.k(kslot::KEVNMC).set("");
    EXPECT_EQ(val("AMARKER") + "|" + val("T3MARKER") + "|" + val("KSTCMP") + "|" + val("KEVNM"),
              "12.25|7.125|undefined BHZ|QUAKE");
    const std::string gone = (k.k(kslot::KEVNM).set("-12345"), val("KEVNM"));
    k.k(kslot::KEVNMC).set("TAIL"), k.k(kslot::KCMPNM).set("-12345"); // both undefined: no KSTCMP
    EXPECT_EQ(gone + "|" + val("KEVNM") + "|" + val("KSTCMP"), "-|-12345  TAIL|-");
    k.k(kslot::KINST).set("  GS13"); // texts trimmed at both ends
    EXPECT_EQ(val("KINST"), "GS13");
    // The reference time plus B, to the microsecond, in years 0 to 9999.
    constexpr std::int32_t big = std::numeric_limits<std::int32_t>::max();
    // clang-format off
    const struct { std::array<std::int32_t, 6> ref; float seconds; const char* want; } cases[] = { // "-": undefined
        {{2017, 67, 0, 0, 0, 0}, 3599.9997f, "2017-03-08T00:59:59.999756Z"},  // 3599.999755859375: widened, then rounded
        {{2000, 1, 0, 0, 0, 0}, -0.0078125f, "1999-12-31T23:59:59.992188Z"}, // -7812.5 us: halves to even
        {{2000, 1, 0, 0, 0, 0}, 0.0234375f, "2000-01-01T00:00:00.023438Z"},  // 23437.5 us
        {{0, 60, 12, 0, 0, 0}, 0, "0000-02-29T12:00:00.000000Z"}, {{2017, 0, 24, 0, 0, 0}, 0, "2017-01-01T00:00:00.000000Z"},
        {{2017, 1, 0, 0, 0, -1}, 0, "2016-12-31T23:59:59.999000Z"}, {{2017, 1, 0, 0, 0, 0}, 1e9f, "2048-09-09T01:46:40.000000Z"},
        {{9999, 365, 23, 59, 59, 999}, 0, "9999-12-31T23:59:59.999000Z"}, {{9999, 365, 23, 59, 59, 999}, 0.001f, "-"},
        {{0, 1, 0, 0, 0, 0}, -4e-7f, "0000-01-01T00:00:00.000000Z"}, {{0, 1, 0, 0, 0, 0}, -1e-6f, "-"},
        {{big, big, big, big, big, big}, 0, "-"}, {{-big - 1, 1, 0, 0, 0, 0}, 0, "-"}, {{2017, 1, 0, 0, 0, 0}, 3e38f, "-"},
        {{2017, 1, 0, 0, 0, 0}, std::nanf(""), "-"}, {{2017, 1, 0, 0, 0, 0}, -12345.0f, "-"}};
    // clang-format on
    for (const auto& c : cases) {
        for (std::size_t i = 0; i < 6; ++i) h.n(nslot::NZYEAR + std::int32_t(i)) = c.ref[i];
        h.f(fslot::B) = c.seconds;
        EXPECT_EQ(val("STARTTIME"), c.want) << c.ref[0] << " " << c.seconds;
    }
    std::int64_t us = 7; // and no instant, for a time shown as "-" or any other
    EXPECT_FALSE(instant(h, 3e38F, us) || instant(h, std::nanf(""), us) ||
                 instant(h, -INFINITY, us));
    h.l(lslot::LEVEN) = 1, h.n(nslot::NPTS) = 1, h.f(fslot::B) = 0.5f; // one ends at its start
    const std::string one = val("ENDTIME");
    h.n(nslot::NPTS) = 0; // and none has no end
    const std::string none = val("ENDTIME");
    // From 2^42 s (139,000 years) before the reference, 2^20 intervals of 2^22 s: back at it.
    h.n(nslot::NPTS) = (1 << 20) + 1, h.f(fslot::DELTA) = 0x1p22F, h.f(fslot::B) = -0x1p42F;
    EXPECT_EQ(one + "|" + none + "|" + val("ENDTIME"),
              "2017-01-01T00:00:00.500000Z|-|2017-01-01T00:00:00.000000Z");
    std::string after = "x"; // beyond year 9999: false, and nothing left shown
    EXPECT_FALSE(showmicros(253'402'300'800'000'000, after));
    EXPECT_EQ(after, "");
}
