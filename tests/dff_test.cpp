// The KIV header: catalogue, defaults, access by name, the writer. Written
// files are compared with files built by hand in kivhdr_files.h.
#include "dff/dff.h"
#include "kivhdr_files.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <vector>

using namespace kivf;
using kivtest::HandKiv;
using test::TempDir;
namespace fs = std::filesystem;

namespace {

// Catalogue texts of our own, so that the output shows which file was loaded.
const char* const kCatalogue = " 101 T-create failed:\n 115 T-write failed.\n 116 T-no unit.\n"
                               "1337 T-no such field:\n1400 T-NPTS bad:\n1401 T-y short:\n"
                               "1402 T-x short:\n1403 T-NPTS huge:\n";

std::string pad(const std::string& s, std::size_t n = 8) {
    return (s + std::string(n, ' ')).substr(0, n);
}

std::vector<float> ramp(std::size_t n, float base) {
    std::vector<float> v(n);
    for (std::size_t j = 0; j < n; ++j) v[j] = base + static_cast<float>(j) * 0.25F;
    return v;
}

// Write calls under zwabs: the k-th fails with an error, or (disk full) moves
// half its bytes and every later one fails.
int g_call = 0, g_failat = 0;
bool g_full = false;
long flakywrite(int fd, const void* buf, std::size_t n) {
    ++g_call;
    if (g_failat == 0 || g_call < g_failat) return ::write(fd, buf, n);
    if (g_full && g_call == g_failat) return ::write(fd, buf, n / 2);
    errno = g_full ? ENOSPC : EIO;
    return -1;
}

struct Dff : ::testing::Test {
    TempDir aux, dir;
    std::string old, before = std::string(10000, 'o');
    void SetUp() override {
        test::resetall();
        test::spit(aux / "messages", kCatalogue);
        ::setenv("KIVAUX", aux.path.c_str(), 1);
        newhdr();
        old = dir / "old.kiv";
        test::spit(old, before);
    }
    void TearDown() override {
        zsetio(nullptr, nullptr);
        test::resetstate();
    }
    std::int32_t write(const std::string& name, std::span<const float> x, std::span<const float> y,
                       std::string* out = nullptr) {
        std::int32_t nerr = -1;
        const std::string s = test::printed([&] { wkiv0(name, x, y, nerr); });
        if (out != nullptr) *out = s;
        return nerr;
    }
    void set(const char* name, std::int32_t v) {
        std::int32_t nerr = -1;
        setnhv(name, v, nerr);
        ASSERT_EQ(nerr, 0);
    }
    std::vector<std::string> names(const fs::path& d) const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(d)) out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
    // The old file as it was, and nothing else beside it.
    void untouched(std::vector<std::string> others = {}) {
        EXPECT_EQ(test::slurp(old), before);
        others.push_back("old.kiv");
        std::sort(others.begin(), others.end());
        EXPECT_EQ(names(dir.path), others);
    }
};

bool samehdr(const CmHdr& c, const KmHdr& k) {
    return std::memcmp(&c, &cmhdr, sizeof c) == 0 && std::memcmp(&k, &kmhdr, sizeof k) == 0;
}

} // namespace

TEST_F(Dff, CatalogueGroupsListsAndEnumerations) {
    // Names and counts of each group: first and last, and where they land in a file.
    // clang-format off
    struct Field {
        char group;
        const char* name;
        std::size_t off;
    } fields[] = {{'f', "DELTA", 0},    {'f', "b", 20},          {'f', "USER0", 160},
                  {'f', "FHDR70", 276}, {'n', "NZYEAR", 280},    {'n', "NHDR15", 336},
                  {'k', "KSTNM", 440},  {'k', "KCMPNM", 600},    {'k', "kinst", 624},
                  {'n', "nzmsec", 300}, {'k', "KUSER2   x", 592}};
    // clang-format on
    set("NPTS", 0);
    HandKiv want;
    want.n(316, 0);
    std::int32_t nerr = 0;
    for (const auto& [g, name, off] : fields) {
        const auto v = static_cast<std::int32_t>(off);
        if (g == 'f') setfhv(name, 1000.5F + float(v), nerr), want.f(off, 1000.5F + float(v));
        if (g == 'n') setnhv(name, 2000 + v, nerr), want.n(off, 2000 + v);
        if (g == 'k') setkhv(name, name, nerr), want.k(off, std::string(name).substr(0, 8));
        EXPECT_EQ(nerr, 0) << name;
    }
    ASSERT_EQ(write(dir / "f.kiv", {}, {}), 0);
    EXPECT_EQ(test::slurp(dir / "f.kiv"), want.b);
    // clang-format off
    const std::pair<std::string_view, std::string> firstlast[] = {
        {kmlhf.kfhdr.front().view(), "DELTA"}, {kmlhf.kfhdr.back().view(), "FHDR70"},
        {kmlhf.knhdr.back().view(), "NHDR15"}, {kmlhf.kihdr.front().view(), "IFTYPE"},
        {kmlhf.kihdr.back().view(), "IHDR20"}, {kmlhf.klhdr.front().view(), "LEVEN"},
        {kmlhf.klhdr.back().view(), "LHDR5"}, {kmlhf.kahdr.front().view(), "KZDATE"},
        {kmlhf.kahdr[3].view(), "FILENAME"}, {kmlhf.kahdr[9].view(), "T0MARKER"},
        {kmlhf.kahdr.back().view(), "KAHDR20"}, {kmlhf.kienm.front().view(), "ITIME"},
        {kmlhf.kienm[50].view(), "IXYZ"}, {kmlhf.kienm[51].view(), "UNUSED"},
        {kmlhf.kienm.back().view(), "UNUSED"}, {kmlhf.klistnm[0].view(), "DEFAULT"},
        {kmlhf.klistnm[3].view(), "STD"}, {kmlhf.klist[0].view(), "NPTS"}, {kmlhf.klist[80].view(), "YMAXIMUM"},
        {kmlhf.klist[81].view(), "NPTS"}, {kmlhf.klist[98].view(), "KZTIME"}, {kmlhf.klist[99].view(), ""},
        {kmlhf.klist[118].view(), ""}, {kmlhf.kdienm[0].view(), pad("TIME SERIES FILE", 32)},
        {kmlhf.kdienm[50].view(), pad("GENERAL XYZ (3-D) FILE", 32)},
        {kmlhf.kdienm[59].view(), pad("UNUSED", 32)}};
    // clang-format on
    for (const auto& [got, name] : firstlast) EXPECT_EQ(got, pad(name, got.size()));
    EXPECT_EQ(cmlhf.nlists, 4);
    EXPECT_EQ(cmlhf.nlistmem, (std::array<std::int32_t, 4>{81, 18, 0, 81}));
    for (std::size_t s = 0; s < 81; ++s)
        EXPECT_EQ(kmlhf.klist[119 + s], kmlhf.klist[s]) << s; // STD is DEFAULT
    for (std::int32_t n = 1; n <= 60; ++n)
        EXPECT_EQ(cmhdr.ienm[static_cast<std::size_t>(n - 1)], n);
}

TEST_F(Dff, ResetGivesTheDefaultsAndInitialisesOnce) {
    EXPECT_EQ(cmhdr.curhver, 6);
    EXPECT_EQ(
        (std::array{cmhdr.undfint, cmhdr.undfenm, cmmsg.ncatmsg, cmmsg.ndest, cmmsg.destunit[0]}),
        (std::array{-12345, -12345, 8, 1, 6}));
    EXPECT_EQ(cmhdr.undfflt, -12345.0F);
    EXPECT_EQ(kmhdr.undftxt.view(), "-12345  ");
    const CmHdr fresh = cmhdr;
    const KmHdr kfresh = kmhdr;
    std::memset(&cmhdr, 1, 440);
    for (auto& t : kmhdr.khdr) t.set("SET");
    kmlhf.kfhdr[0].set("MARKED"); // what a second initialisation would wipe out
    cmmsg.ncatmsg = 3;
    newhdr();
    EXPECT_TRUE(samehdr(fresh, kfresh));
    EXPECT_EQ(kmlhf.kfhdr[0].view(), "MARKED  ");
    EXPECT_EQ(cmmsg.ncatmsg, 3);
    cmhdr.curhver = 7; // the constants are what the reset uses
    cmhdr.undfint = 99;
    newhdr();
    EXPECT_EQ((std::array{cmhdr.n(nslot::NVHDR), cmhdr.n(nslot::NZYEAR)}), (std::array{7, 99}));
}

TEST_F(Dff, UnknownNamesAre1337AndChangeNothing) {
    // clang-format off
    struct Case {
        char group;
        std::string name;
    } cases[] = {{'f', "NPTS"},      {'n', "DELTA"}, {'k', " KSTNM"},   {'k', "KZDATE"},
                 {'n', "IFTYPE"},    {'f', "LEVEN"}, {'f', "T0MARKER"}, {'f', ""},
                 {'f', "DELTAXYZW"}, {'n', "NPT S"}, {'k', "KEVNM2"},   {'n', "LEVEN"}, {'k', "DELTA"}};
    // clang-format on
    for (const auto& c : cases) {
        const CmHdr h = cmhdr;
        const KmHdr k = kmhdr;
        std::int32_t nerr = 0;
        const std::string out = test::printed([&] {
            if (c.group == 'f') setfhv(c.name, 1.0F, nerr);
            if (c.group == 'n') setnhv(c.name, 1, nerr);
            if (c.group == 'k') setkhv(c.name, "X", nerr);
        });
        EXPECT_EQ(nerr, 1337) << c.name;
        EXPECT_TRUE(samehdr(h, k)) << c.name;
        EXPECT_EQ(out, "\aERROR: T-no such field:" + (c.name.empty() ? "" : " " + c.name) + "\n");
    }
    // clang-format off
    struct Ev {
        std::string value, first, second;
    } evs[] = {{"QUAKE", "QUAKE   ", "        "},
               {"EIGHTCHR", "EIGHTCHR", "        "}, {"ABCDEFGHIJKLMNOP", "ABCDEFGH", "IJKLMNOP"},
               {"ABCDEFGHIJKLMNOPQ", "ABCDEFGH", "IJKLMNOP"}, {"", "        ", "        "}};
    // clang-format on
    for (const auto& e : evs) {
        std::int32_t nerr = -1;
        setkhv("KEVNMC", "OLDHALF", nerr);
        setkhv("kevnm", e.value, nerr);
        EXPECT_EQ(kmhdr.k(kslot::KEVNM).view(), e.first);
        EXPECT_EQ(kmhdr.k(kslot::KEVNMC).view(), e.second);
        EXPECT_EQ(kmhdr.k(kslot::KHOLE).view(), "-12345  ");
    }
    std::int32_t nerr = -1;
    setkhv("KSTNM", "STATION12345", nerr); // other texts keep 8 and leave the next alone
    setkhv("KEVNMC", "SECOND", nerr);
    EXPECT_EQ(kmhdr.k(kslot::KSTNM).view(), "STATION1");
    EXPECT_EQ(kmhdr.k(kslot::KEVNM).view(), "        ");
    EXPECT_EQ(kmhdr.k(kslot::KEVNMC).view(), "SECOND  ");
}

TEST_F(Dff, WriterSamplesReplaceAndRefusals) {
    set("NPTS", 300);
    const auto y = ramp(300, 1.0F), x = ramp(300, -500.0F);
    HandKiv even;
    even.n(316, 300);
    HandKiv uneven = even;
    uneven.n(420, 0);
    std::vector<float> both = y;
    both.insert(both.end(), x.begin(), x.end());
    ASSERT_EQ(write(old, {}, y), 0); // LEVEN true: no independent array needed
    EXPECT_EQ(test::slurp(old), even.with(y));
    ASSERT_EQ(write(old + "   ", x, y), 0); // the same file again: rewritten identically
    EXPECT_EQ(test::slurp(old), even.with(y));
    cmhdr.l(lslot::LEVEN) = 0;
    ASSERT_EQ(write(old, x, y), 0);
    EXPECT_EQ(test::slurp(old), uneven.with(both));
    before = uneven.with(both);
    untouched();
    // clang-format off
    struct Case {
        std::int32_t npts;
        bool leven;
        std::size_t ny, nx;
        std::int32_t nerr;
        std::string tail; // after the catalogue text and the name
    } cases[] = {
        {-12345, true, 10, 10, 1400, "T-NPTS bad: O (NPTS = -12345 )"},
        {-1, true, 10, 10, 1400, "T-NPTS bad: O (NPTS = -1 )"},
        {11, true, 10, 0, 1401, "T-y short: O (NPTS = 11 array length = 10 )"},
        {10, false, 10, 9, 1402, "T-x short: O (NPTS = 10 array length = 9 )"},
        {10, false, 9, 10, 1401, "T-y short: O (NPTS = 10 array length = 9 )"},
        {1073741744, false, 0, 0, 1401, "T-y short: O (NPTS = 1073741744 array length = 0 )"},
        {1073741745, false, 0, 0, 1403, "T-NPTS huge: O (NPTS = 1073741745 )"},
        {2147483489, true, 0, 0, 1401, "T-y short: O (NPTS = 2147483489 array length = 0 )"},
        {2147483490, true, 0, 0, 1403, "T-NPTS huge: O (NPTS = 2147483490 )"}};
    // clang-format on
    for (const auto& c : cases) {
        set("NPTS", c.npts);
        cmhdr.l(lslot::LEVEN) = c.leven ? 1 : 0;
        const std::vector<float> yy(c.ny, 1.0F), xx(c.nx, 2.0F);
        std::string out;
        EXPECT_EQ(write(old, xx, yy, &out), c.nerr) << c.npts;
        std::string want = "\aERROR: " + c.tail + "\n";
        want.replace(want.find(": O (") + 2, 1, old);
        EXPECT_EQ(out, want);
        EXPECT_EQ(write(dir / "new.kiv", xx, yy), c.nerr);
        untouched();
    }
    for (std::int32_t u = 1; u <= 19; ++u)
        if (!uconnected(u)) {
            ASSERT_EQ(uopen(u, "", "SCRATCH"), 0);
        }
    set("NPTS", 0);
    std::string out;
    EXPECT_EQ(write(old, {}, {}, &out), 116);
    EXPECT_EQ(out, "\aERROR: T-no unit.\n");
    untouched();
}

TEST_F(Dff, WriteFailuresKeepTheOldFileAndLeaveNoTemporary) {
    // NPTS 300, uneven: the numeric words go in 1 piece, the text in 2, each
    // array in 3 (cut at 512-byte boundaries): 9 write calls in all.
    set("NPTS", 300);
    cmhdr.l(lslot::LEVEN) = 0;
    const auto y = ramp(300, 1.0F), x = ramp(300, 2.0F);
    zsetio(nullptr, flakywrite);
    g_call = g_failat = 0;
    ASSERT_EQ(write(dir / "probe.kiv", x, y), 0);
    ASSERT_EQ(g_call, 9);
    fs::remove(dir / "probe.kiv");
    for (int k = 1; k <= 9; ++k) {
        for (bool full : {false, true}) {
            g_call = 0;
            g_failat = k;
            g_full = full;
            std::string out;
            EXPECT_EQ(write(old, x, y, &out), 115) << k << full;
            EXPECT_EQ(out, "\aERROR: T-write failed.\n");
            untouched();
        }
    }
    zsetio(nullptr, nullptr);
    const auto limited = [&](rlim_t bytes, int resource) {
        return [=, this] {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit lim{bytes, bytes};
            ::setrlimit(resource, &lim);
            std::int32_t nerr = 0;
            wkiv0(old, x, y, nerr);
            return static_cast<int>(nerr);
        };
    };
    auto c = test::inchild(limited(2048, RLIMIT_FSIZE)); // the samples cross it
    EXPECT_EQ(c.status, 115);
    EXPECT_EQ(c.out, "\aERROR: T-write failed.\n");
    untouched();
    const std::string sys = " (System error occurred.)";
    c = test::inchild(
        limited(static_cast<rlim_t>(test::lowestfd()), RLIMIT_NOFILE)); // no descriptor
    EXPECT_EQ(c.status, 101);
    EXPECT_EQ(c.out, "\aERROR: T-create failed: " + old + sys + "\n");
    fs::remove(old);
    c = test::inchild(limited(2048, RLIMIT_FSIZE));
    EXPECT_EQ(c.status, 115);
    EXPECT_TRUE(names(dir.path).empty());
}

TEST_F(Dff, UncreatableTargetsAre101) {
    fs::create_directory(dir.path / "sub");
    fs::create_directory(dir.path / "locked");
    fs::create_directory(dir.path / "locked/in");
    fs::permissions(dir.path / "locked", fs::perms::none);
    const std::string sys = "(System error occurred.)", acc = "(Insufficient access rights.)";
    // clang-format off
    const std::pair<std::string, std::string> cases[] = {{dir / "nodir/x.kiv", sys},
                                                         {dir / "sub", sys}, {old + "/x.kiv", sys}, {"", sys},
                                                         {dir / "locked/in/x.kiv", acc},
                                                         {dir / "locked/x.kiv", acc},
                                                         {dir / std::string(300, 'b'), sys},
                                                         {dir / std::string(1100, 'a'), sys}};
    // clang-format on
    set("NPTS", 4);
    const auto y = ramp(4, 1.0F);
    fs::permissions(dir.path,
                    fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    for (const auto& c0 : cases) {
        const std::string &name = c0.first, &why = c0.second;
        const auto c = test::inchild(
            [&] {
                errno = EACCES; // left over from before: not the reason
                std::int32_t nerr = 0;
                wkiv0(name, {}, y, nerr);
                return static_cast<int>(nerr);
            },
            why == acc);
        EXPECT_EQ(c.status, 101) << name.size();
        if (name.size() < 100) {
            EXPECT_EQ(c.out, "\aERROR: T-create failed: " + name + " " + why + "\n");
        } else { // long names wrap
            EXPECT_NE(c.out.find(why), std::string::npos) << c.out;
        }
        fs::permissions(dir.path,
                        fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    }
    fs::permissions(dir.path / "locked", fs::perms::owner_all);
    untouched({"locked", "sub"});
    EXPECT_TRUE(names(dir.path / "sub").empty());
    fs::permissions(dir.path, fs::perms::owner_read | fs::perms::owner_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
    const auto c = test::inchild(
        [&] {
            std::int32_t nerr = 0;
            wkiv0(old, {}, y, nerr);
            return static_cast<int>(nerr);
        },
        true);
    fs::permissions(dir.path, fs::perms::owner_all);
    EXPECT_EQ(c.status, 101);
    EXPECT_EQ(c.out, "\aERROR: T-create failed: " + old + " " + acc + "\n");
    untouched({"locked", "sub"});
}
