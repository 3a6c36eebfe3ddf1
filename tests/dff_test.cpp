// SPDX-License-Identifier: Apache-2.0
// The KIV header: catalogue, defaults, access by name, the writer (against hand-built files).
#include "dff/dff.h"
#include "dff/dff_testing.h"
#include "kivhdr_files.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <sched.h>
#include <thread>

using namespace kivf;
using kivtest::HandKiv;
namespace fs = std::filesystem;

namespace {

// Catalogue texts of our own, so that the output shows which file was loaded.
const char* const kCatalogue = " 101 T-create failed:\n 115 T-write failed.\n"
                               "1337 T-no such field:\n1400 T-NPTS bad:\n1401 T-y short:\n"
                               "1402 T-x short:\n1403 T-NPTS huge:\n";

int opendirfd(const char* path) {
    return ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

std::vector<float> ramp(std::size_t n, float base) {
    std::vector<float> v(n);
    for (std::size_t j = 0; j < n; ++j) v[j] = base + static_cast<float>(j) * 0.25F;
    return v;
}

// Write calls under zwabs: the k-th fails (EIO), or with a full disk moves half, then all fail.
int g_call = 0, g_failat = 0;
bool g_full = false;
long flakywrite(int fd, const void* buf, std::size_t n) {
    ++g_call;
    if (g_failat == 0 || g_call < g_failat) return ::write(fd, buf, n);
    if (g_full && g_call == g_failat) return ::write(fd, buf, n / 2);
    errno = g_full ? ENOSPC : EIO;
    return -1;
}

// writev under the gathered writes: the first g_zeros calls move nothing, and with g_every
// every other call after them too; the rest move at most 100 bytes. From the 1000th call on it
// writes, so that a writer that never gives up is seen, not waited for.
int g_vcall = 0, g_zeros = 0;
bool g_every = false;
long zerowritev(int fd, const iovec* iov, int n) {
    ++g_vcall;
    if (g_vcall < 1000 && (g_vcall <= g_zeros || (g_every && g_vcall % 2 == 0))) return 0;
    int k = 0;
    while (k < n && iov[k].iov_len == 0) ++k;
    return ::write(fd, iov[k].iov_base, std::min<std::size_t>(iov[k].iov_len, 100));
}

struct Dff : ::testing::Test {
    test::TempDir aux, dir;
    std::string old, before = std::string(10000, 'o');
    void SetUp() override {
        test::resetall();
        test::spit(aux / "messages", kCatalogue);
        ::setenv("KIVAUX", aux.path.c_str(), 1);
        newhdr();
        old = dir / "old.kiv", test::spit(old, before);
    }
    void TearDown() override {
        zsetio(nullptr, nullptr), wkivsetwritev(nullptr), wkivsetrenamenew(nullptr),
            test::resetstate();
    }
    static int wk(const std::string& name, std::span<const float> x, std::span<const float> y) {
        std::int32_t nerr = -1;
        return wkiv0(name, x, y, nerr), nerr;
    }
    // nerr and what was printed.
    std::string write(const std::string& name, std::span<const float> x, std::span<const float> y) {
        std::int32_t nerr = -1;
        const std::string said = test::printed([&] { nerr = wk(name, x, y); });
        return std::to_string(nerr) + said;
    }
    // The old file as it was, and nothing beside it but more entries.
    void untouched(std::ptrdiff_t more = 0) {
        EXPECT_EQ(test::slurp(old), before);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), {}), 1 + more);
    }
};

bool samehdr(const CmHdr& c, const KmHdr& k) {
    return std::memcmp(&c, &cmhdr, sizeof c) == 0 && std::memcmp(&k, &kmhdr, sizeof k) == 0;
}

} // namespace

TEST_F(Dff, SettersPutEveryGroupWhereTheFileHasIt) {
    // First and last name of each group, where they land in a file, case and length ignored.
    // clang-format off
    const struct { char group; const char* name; int off; } fields[] = {
        {'f', "DELTA", 0}, {'f', "b", 20}, {'f', "USER0", 160}, {'f', "FHDR70", 276},
        {'n', "NZYEAR", 280}, {'n', "nzmsec", 300}, {'n', "NHDR15", 336}, {'k', "KSTNM", 440},
        {'k', "KUSER2   x", 592}, {'k', "KCMPNM", 600}, {'k', "kinst", 624}};
    // clang-format on
    HandKiv want;
    cmhdr.n(nslot::NPTS) = 0;
    want.n(316, 0);
    CmHdr h{};
    KmHdr k{};
    for (const auto& [g, name, off] : fields) {
        // The records' setters find the same names: true; false for another group's name.
        EXPECT_TRUE(g == 'f'   ? setfield(h, name, 1.0F) && !setfield(h, name, std::int32_t{1})
                    : g == 'n' ? setfield(h, name, std::int32_t{1}) && !setfield(k, name, "x")
                               : setfield(k, name, "x") && !setfield(h, name, 1.0F))
            << name;
        std::int32_t nerr = -1;
        if (g == 'f') setfhv(name, 1000.5F + float(off), nerr), want.f(off, 1000.5F + float(off));
        if (g == 'n') setnhv(name, 2000 + off, nerr), want.n(off, 2000 + off);
        if (g == 'k') setkhv(name, name, nerr), want.k(off, std::string(name).substr(0, 8));
        EXPECT_EQ(nerr, 0) << name;
    }
    ASSERT_EQ(write(dir / "f.kiv", {}, {}), "0");
    EXPECT_EQ(test::slurp(dir / "f.kiv"), want.b);
    for (std::int32_t n = 1; n <= 60; ++n) EXPECT_EQ(cmhdr.ienm[std::size_t(n - 1)], n);
}

// Pieces of every size pattern give the bits of depstats over the whole, and both those of a
// plain loop (NaNs out, the first of equal extremes kept, the sum in double in order), across a
// change from whole numbers to others (pieces of 1 and 2 reach a fraction or 2^22 + 1 late).
TEST(DepStats, PiecesGiveTheBitsOfTheWhole) {
    const float nan = NAN, inf = INFINITY;
    // clang-format off
    const std::vector<std::vector<float>> sets = {{}, {nan}, {nan, nan, nan}, {7}, {-0.0F}, {1, 2, 3, 0.5F, 4, 5}, {0, 2, -0.0F, 6}, {-0.0F, 0, 2, 6},
        {3, nan, -4, 9, nan}, {1, inf, -inf, 2}, {4194304, -4194304, 4194305, 1},
        {1e20F, 1, -1e20F, 1, 3, 5}, // in order only the first 1 is lost; summed apart, both
        {16777216, 1, 1, 1, -3, 0.25F}};
    const std::vector<std::vector<std::size_t>> patterns = {{1}, {2}, {3, 1, 7}, {0, 5}, {64}, {1000, 4001}};
    // clang-format on
    for (const std::vector<float>& y : sets) {
        CmHdr whole{};
        depstats(whole, y);
        double lo = INFINITY, hi = -INFINITY, sum = 0;
        std::size_t n = 0;
        for (const float v : y)
            if (!std::isnan(v)) lo = v < lo ? v : lo, hi = v > hi ? v : hi, sum += v, ++n;
        const auto plain = [&](double v) { return n == 0 ? -12345.0F : static_cast<float>(v); };
        EXPECT_EQ(test::depbits(whole), test::bits({plain(lo), plain(hi), plain(n ? sum / n : 0)}))
            << y.size() << " samples";
        for (const std::vector<std::size_t>& sizes : patterns) {
            DepAccum acc;
            for (std::size_t at = 0, k = 0; at < y.size(); at += sizes[k++ % sizes.size()])
                acc.add(std::span(y).subspan(at, std::min(sizes[k % sizes.size()], y.size() - at)));
            CmHdr pieces{};
            acc.store(pieces);
            EXPECT_EQ(test::depbits(pieces), test::depbits(whole))
                << y.size() << " samples, pieces of " << sizes[0];
        }
    }
}

TEST_F(Dff, UnknownNamesAre1337AndChangeNothing) {
    // clang-format off
    const std::pair<char, std::string> cases[] = { // another group's, blanks before or within, too long
        {'f', "NPTS"}, {'n', "DELTA"}, {'k', "KZDATE"}, {'k', " KSTNM"}, {'n', "NPT S"}, {'f', ""}, {'f', "DELTAXYZW"}, {'k', "KEVNM2"}};
    // clang-format on
    for (const auto& c : cases) { // no structured binding: clang's lambdas cannot take one
        const std::string& name = c.second;
        const CmHdr h = cmhdr;
        const KmHdr k = kmhdr;
        std::int32_t nerr = 0;
        const std::string out = test::printed([&] {
            if (c.first == 'f') setfhv(name, 1.0F, nerr);
            if (c.first == 'n') setnhv(name, 1, nerr);
            if (c.first == 'k') setkhv(name, "X", nerr);
        });
        EXPECT_TRUE(nerr == 1337 && samehdr(h, k)) << name;
        EXPECT_EQ(out, "\aERROR: T-no such field:" + (name.empty() ? "" : " " + name) + "\n");
    }
}

TEST_F(Dff, WriterSamplesReplaceAndRefusals) {
    const auto y = ramp(300, 1.0F), x = ramp(300, 76.0F); // together a ramp of 600
    HandKiv want;
    cmhdr.n(nslot::NPTS) = 300;
    want.n(316, 300);
    ASSERT_EQ(write(old, {}, y), "0"); // LEVEN true: no independent array needed
    EXPECT_EQ(test::slurp(old), want.with(y));
    ASSERT_EQ(write(old + "   ", x, y), "0"); // the same file again: rewritten identically
    EXPECT_EQ(test::slurp(old), want.with(y));
    cmhdr.l(lslot::LEVEN) = 0;
    want.n(420, 0);
    ASSERT_EQ(write(old, x, y), "0");
    before = want.with(ramp(600, 1.0F));
    untouched();
    const std::string bad = "1400\aERROR: T-NPTS bad:", huge = "1403\aERROR: T-NPTS huge:",
                      ys = "1401\aERROR: T-y short:";
    // clang-format off
    const struct { std::int32_t npts; bool leven; std::size_t ny, nx; std::string head, rest; } cases[] = {
        {-1, true, 10, 10, bad, "(NPTS = -1 )"}, {11, true, 10, 0, ys, "(NPTS = 11 array length = 10 )"},
        {10, false, 10, 9, "1402\aERROR: T-x short:", "(NPTS = 10 array length = 9 )"}, {10, false, 9, 10, ys, "(NPTS = 10 array length = 9 )"},
        {1073741744, false, 0, 0, ys, "(NPTS = 1073741744 array length = 0 )"}, {1073741745, false, 0, 0, huge, "(NPTS = 1073741745 )"},
        {2147483489, true, 0, 0, ys, "(NPTS = 2147483489 array length = 0 )"}, {2147483490, true, 0, 0, huge, "(NPTS = 2147483490 )"}};
    // clang-format on
    for (const auto& c : cases) {
        cmhdr.n(nslot::NPTS) = c.npts;
        cmhdr.l(lslot::LEVEN) = c.leven ? 1 : 0;
        const std::vector<float> yy(c.ny, 1.0F), xx(c.nx, 2.0F);
        EXPECT_EQ(write(old, xx, yy), c.head + " " + old + " " + c.rest + "\n");
        EXPECT_EQ(test::shown(savekiv(old, cmhdr, kmhdr, yy, xx)),
                  (writekiv(old, cmhdr, kmhdr, yy, xx), test::posted(0)));
        untouched();
    }
}

TEST_F(Dff, WriteFailuresKeepTheOldFileAndLeaveNoTemporary) {
    // NPTS 300, uneven: 1 write for the numbers, 2 for the text, 3 per array (512-byte cuts).
    cmhdr.n(nslot::NPTS) = 300;
    cmhdr.l(lslot::LEVEN) = 0;
    const auto y = ramp(300, 1.0F);
    zsetio(nullptr, flakywrite);
    g_call = g_failat = 0;
    ASSERT_EQ(write(old, y, y), "0");
    ASSERT_EQ(g_call, 9);
    before = test::slurp(old);
    for (int k = 1; k <= 9; ++k)
        for (bool full : {false, true}) {
            g_call = 0, g_failat = k, g_full = full;
            EXPECT_EQ(write(old, y, y), "115\aERROR: T-write failed.\n") << k << full;
            untouched();
        }
}

// A temporary that cannot be made gives its slot back: after more such failures than there are
// slots, the temporary of a write stopped midway is still removed.
TEST_F(Dff, FailedTemporariesKeepNoSlot) {
    fs::create_directory(dir / "gone");
    const int gone = opendirfd((dir / "gone").c_str()), here = opendirfd(dir.path.c_str());
    fs::remove(dir / "gone");
    cmhdr.n(nslot::NPTS) = 2;
    const auto y = ramp(2, 1.0F);
    const auto c = test::inchild([&] {
        int err = 0;
        for (int i = 0; i < 100; ++i)
            if (writekiv(KivPlace{gone, "gone", "x.kiv"}, cmhdr, kmhdr, y, {}, err), err != ENOENT)
                return 3;
        wkivsetwritev([](int, const iovec*, int) -> long { return wkivabort(), ::_exit(0), 0; });
        return writekiv(KivPlace{here, dir.path.c_str(), "y.kiv"}, cmhdr, kmhdr, y, {}, err), 4;
    });
    ::close(gone), ::close(here);
    EXPECT_EQ(c.status, 0);
    for (const auto& e : fs::directory_iterator(dir.path))
        EXPECT_FALSE(e.path().filename().string().starts_with(".kivtmp")) << e.path();
}

// More writes at once than there are slots for their temporaries: the ones beyond go without a
// slot, and every file is written.
std::atomic<int> g_inside{0};
TEST_F(Dff, MoreWritesAtOnceThanSlots) {
    wkivsetwritev([](int fd, const iovec* v, int n) -> long {
        ++g_inside;
        for (int i = 0; i < 10000 && g_inside < 65; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return ::writev(fd, v, n);
    });
    cmhdr.n(nslot::NPTS) = 2;
    const auto y = ramp(2, 1.0F);
    const int here = opendirfd(dir.path.c_str());
    std::vector<std::thread> writers;
    std::atomic<int> failed{0};
    for (int t = 0; t < 65; ++t)
        writers.emplace_back([&, t] {
            int err = 0;
            const std::string name = std::to_string(t) + ".kiv";
            failed += writekiv(KivPlace{here, dir.path.c_str(), name.c_str()}, cmhdr, kmhdr, y, {},
                               err) != 0;
        });
    for (auto& w : writers) w.join();
    ::close(here);
    EXPECT_EQ(std::pair(failed.load(), g_inside.load()), std::pair(0, 65));
    for (int t = 0; t < 65; ++t)
        EXPECT_EQ(fs::file_size(dir / (std::to_string(t) + ".kiv")), 640u) << t;
}

TEST_F(Dff, UncreatableTargetsAre101) {
    for (const char* d : {"sub", "locked", "locked/in"}) fs::create_directory(dir / d);
    fs::permissions(dir.path / "locked", fs::perms::none);
    fs::permissions(dir.path, fs::perms(0705));
    const std::string sys = "(System error occurred.)", acc = "(Insufficient access rights.)";
    // clang-format off
    const struct { std::string first, second; int err; } cases[] = {{dir / "nodir/x.kiv", sys, ENOENT}, {dir / "sub", sys, EISDIR}, {"", sys, ENOENT},
        {dir / "locked/in/x.kiv", acc, EACCES}, {dir / "locked/x.kiv", acc, EACCES},
        {dir / std::string(300, 'b'), sys, ENAMETOOLONG}, {dir / std::string(1100, 'a'), sys, ENAMETOOLONG}};
    // clang-format on
    cmhdr.n(nslot::NPTS) = 4;
    const auto y = ramp(4, 1.0F);
    // The modern face takes its catalogue now, which the ordinary user below could not read.
    EXPECT_EQ(savekiv("", cmhdr, kmhdr, y, y).text, "ERROR  101: T-create failed:  " + sys);
    for (const auto& c : cases) {
        const auto run = test::inchild(
            [&] {
                errno = EACCES; // not the reason
                // Shown after the message: the modern face's failure, where it differs.
                const std::string modern = test::shown(savekiv(c.first, cmhdr, kmhdr, y, y));
                const bool same =
                    (writekiv(c.first, cmhdr, kmhdr, y, y), test::posted(c.err)) == modern;
                const int nerr = wk(c.first, y, y);
                return std::fputs(same ? "" : modern.c_str(), stdout), nerr;
            },
            c.second == acc); // as an ordinary user
        const std::string got = std::to_string(run.status) + run.out;
        if (c.first.size() < 100)
            EXPECT_EQ(got, "101\aERROR: T-create failed: " + c.first + " " + c.second + "\n");
        else // long names wrap
            EXPECT_TRUE(got.starts_with("101") && got.ends_with(c.second + "\n")) << got;
    }
    fs::permissions(dir.path / "locked", fs::perms::owner_all);
    untouched(2); // locked, sub
    EXPECT_TRUE(fs::is_empty(dir / "sub"));
}

// A name in the root directory is written there (in a child whose root is dir).
TEST_F(Dff, ANameInTheRootDirectoryIsWrittenThere) {
    cmhdr.n(nslot::NPTS) = 4;
    const auto y = ramp(4, 1.0F);
    const auto run = test::inchild([&] {
        const char* d = dir.path.c_str();
        if (::chroot(d) != 0 && (::unshare(CLONE_NEWUSER) != 0 || ::chroot(d) != 0)) return 77;
        return wk("/x.kiv", y, y);
    });
    if (run.status == 77) GTEST_SKIP() << "no chroot here";
    ASSERT_EQ(std::pair(run.status, wk(dir / "y.kiv", y, y)), std::pair(0, 0));
    EXPECT_EQ(test::slurp(dir / "x.kiv"), test::slurp(dir / "y.kiv"));
}

// writekiv's gathered write when the system takes nothing: a zero now and then is retried, three
// in a row are a failed write (as a full disk), the old file kept.
TEST_F(Dff, GatheredWritesThatMoveNothingAreRetriedAFewTimesThen115) {
    cmhdr.n(nslot::NPTS) = 300;
    const auto y = ramp(300, 1.0F);
    ASSERT_EQ(writekiv(old, cmhdr, kmhdr, y, {}), 0);
    const std::string want = test::slurp(old);
    const int dirfd = opendirfd(dir.path.c_str());
    const KivPlace at{dirfd, dir.path.c_str(), "old.kiv"};
    wkivsetwritev(zerowritev);
    // clang-format off
    const struct { int zeros; bool every, fails; } cases[] = {
        {1, false, false}, {2, false, false}, {0, true, false}, {3, false, true}, {1000, false, true}};
    // clang-format on
    for (const auto& c : cases) {
        test::spit(old, before);
        g_vcall = 0, g_zeros = c.zeros, g_every = c.every;
        int err = -1;
        clrmsg();
        const std::int32_t nerr = writekiv(at, cmhdr, kmhdr, y, {}, err);
        const std::string said = c.fails ? "ERROR  115: T-write failed." : "";
        EXPECT_EQ(std::tuple(nerr, err, lastmsg(), test::slurp(old) == (c.fails ? before : want),
                             std::distance(fs::directory_iterator(dir.path), {})),
                  std::tuple(c.fails ? 115 : 0, c.fails ? ENOSPC : 0, said, true, 1))
            << c.zeros << c.every << " after " << g_vcall << " calls";
    }
    ::close(dirfd);
}

// A rename that says the file system lacks it, or fails as a network one might.
int g_renameerr = 0;
int failedrename(int, const char*, int, const char*) {
    errno = g_renameerr;
    return -1;
}

// keep: an existing name stays as it is, decided at the rename (so a file that appears while one
// is written is kept too); by the link of file systems without the rename that never replaces as
// well; any other failure of that rename is the write's. Racing writers: exactly one puts its file.
TEST_F(Dff, KeptNamesStayAndOfRacingWritersExactlyOneWrites) {
    cmhdr.n(nslot::NPTS) = 3;
    const auto y = ramp(3, 2.0F);
    const int dirfd = opendirfd(dir.path.c_str());
    const auto entries = [&] { return std::distance(fs::directory_iterator(dir.path), {}); };
    for (const int way : {0, EINVAL, ENOSYS, EOPNOTSUPP, EXDEV}) {
        g_renameerr = way;
        wkivsetrenamenew(way != 0 ? failedrename : nullptr);
        for (const char* name : {"old.kiv", "new.kiv"}) {
            fs::remove(dir / "new.kiv");
            test::spit(old, before);
            int err = -1;
            const std::int32_t nerr =
                writekiv(KivPlace{dirfd, dir.path.c_str(), name, true}, cmhdr, kmhdr, y, {}, err);
            const bool fresh = name[0] == 'n' && way != EXDEV;
            const int want = name[0] == 'o' && way != EXDEV ? EEXIST : fresh ? 0 : way;
            EXPECT_EQ(std::tuple(nerr != 0, err, test::slurp(old) == before, entries()),
                      std::tuple(want != 0, want, true, fresh ? 2 : 1))
                << way << " " << name;
            EXPECT_EQ(fs::exists(dir / "new.kiv") ? test::slurp(dir / "new.kiv").size() : 0u,
                      fresh ? 644u : 0u);
        }
    }
    wkivsetrenamenew(nullptr);
    std::vector<int> errs(8, -1);
    std::vector<std::thread> writers;
    for (int& err : errs)
        writers.emplace_back([&] {
            writekiv(KivPlace{dirfd, dir.path.c_str(), "race.kiv", true}, cmhdr, kmhdr, y, {}, err);
        });
    for (std::thread& w : writers) w.join();
    EXPECT_EQ(std::count(errs.begin(), errs.end(), 0), 1);
    EXPECT_EQ(std::count(errs.begin(), errs.end(), EEXIST), 7);
    EXPECT_EQ(entries(), 2); // old and race: no temporary file left
    ::close(dirfd);
}

// The host tag of temporary names holds the pid namespace: containers share boot and host name,
// and a sweep in one must not take the other's live file (its pid 1, say) for a dead process's.
// Fresh processes (the tag is taken once a process) stop amid a write, leaving their files.
TEST(TempNames, TheHostTagTellsPidNamespacesApart) {
    if (const char* d = std::getenv("KIVF_TAG_DIR")) {
        wkivsetwritev([](int, const iovec*, int) -> long { ::_exit(0); });
        const int dirfd = opendirfd(d);
        int err = 0;
        newhdr(), cmhdr.n(nslot::NPTS) = 0;
        writekiv(KivPlace{dirfd, d, "x.kiv"}, cmhdr, kmhdr, {}, {}, err);
        ::_exit(1);
    }
    test::TempDir dir;
    const auto leave = [&](bool newns) { // the writer's pid as seen here
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (newns && ::unshare(CLONE_NEWPID) != 0) ::_exit(77);
            if (newns && ::fork() != 0) ::_exit((::wait(nullptr), 0));
            ::setenv("KIVF_TAG_DIR", dir.path.c_str(), 1), ::freopen("/dev/null", "w", stdout);
            ::execl("/proc/self/exe", "dff_test", "--gtest_filter=TempNames.*", nullptr);
            ::_exit(1);
        }
        int st = -1;
        return ::waitpid(pid, &st, 0), st == (77 << 8) ? -1 : pid;
    };
    // Here, in a new namespace (pid 1 there), here again: the first one's file is swept as this
    // host's (its tag the same, its process gone), the other namespace's kept.
    const pid_t first = leave(false), other = leave(true), again = leave(false);
    if (other < 0) GTEST_SKIP() << "no new pid namespace here (unshare refused)";
    std::map<std::string, std::string> tags; // by pid
    for (const auto& e : fs::directory_iterator(dir.path)) {
        const std::string n = e.path().filename();
        tags[n.substr(25, n.size() - 34)] = n.substr(8, 16);
    }
    EXPECT_TRUE(first > 0 && tags.size() == 2 && tags.count("1") &&
                tags.count(std::to_string(again)) && tags["1"] != tags[std::to_string(again)])
        << ::testing::PrintToString(tags);
}
