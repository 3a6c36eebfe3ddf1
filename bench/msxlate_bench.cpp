// SPDX-License-Identifier: Apache-2.0
// msxlate against libmseed's own reading, measured in the same run:
//   baseline: ms_readtracelist of each file, mstl_convertsamples(seg, 'f')
//     for every segment, mstl_free; run as a process of its own (this program
//     re-executed) so that start-up and fresh memory are paid as msxlate pays
//     them;
//   baseline+write: the same, also writing each segment's floats behind a
//     632-byte header in one call (what writing alone costs, for comparison);
//   baseline+rename: the same through a temporary name renamed into place, as
//     the library's writer makes files appear whole;
//   msxlate -n: msxlate writing nothing (its reading apart from its writing).
// 1. one day at 100 samples/s in Steim-2 512-byte records (8,640,000 samples),
//    one channel: times, and the peak resident memory of each process against
//    1.2 x the day's float32 size + 32 MiB;
// 2. 1,000 files of 1,000 samples each (Steim-2, 512-byte records), one
//    station each.
// Both inputs are made here with libmseed's packer from a seeded seismogram.
// Variants are interleaved and take each place in turn; medians are shown.
// Wall times suffer from whatever else the machine does; the user + system
// CPU times of each process are shown beside them.
// Each run writes into an empty directory of its own. The day's outputs go
// as soon as the run ends: on a virtual machine, memory that was freed to the
// host costs a fault on first use again, and writing 34.5 MB into such pages
// took up to 80 ms more than into the pages of the file just removed. The
// 1,000 files' outputs stay until the part ends: an ext4 without a journal
// passes over inodes freed in the last minute or more, one lookup each, and
// removing 1,000 files between runs made each later creation take up to
// 1 ms. For the same reason, leave a few minutes between two runs of this
// program; TMPDIR=/dev/shm takes the disk out altogether.
//   cmake --build <build> --target msxlate_bench && <build>/bench/msxlate_bench [rounds
//   [msxlate]]
// A second argument names another msxlate to measure (an older build, say).
// With --inputs DIR it only writes the inputs there (day.mseed, many/S*.mseed),
// for profiling by hand.
#include <libmseed.h>

#include "../examples/mspack.h"
#include "spawn.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using bench::Clock;
using bench::Ran;

namespace {

// A quiet station: mean-reverting random walk (noise), microseism swell and
// a slower wander, so that first differences are mostly a few bits wide and
// Steim-2 packs as it does real data; a quake every few hours needs its wide
// packets too.
std::vector<std::int32_t> seismogram(std::size_t n, std::uint64_t seed) {
    std::vector<std::int32_t> v(n);
    const double pi = 3.14159265358979323846;
    double walk = 0;
    for (std::size_t i = 0; i < n; ++i) {
        double step = 0; // roughly normal, sd about 23
        for (int k = 0; k < 4; ++k) {
            seed = seed * 6364136223846793005ull + 1442695040888963407ull;
            step += static_cast<double>(seed >> 40) / 16777216.0 - 0.5;
        }
        walk = 0.995 * walk + 40 * step;
        const double t = static_cast<double>(i) / 100.0;
        double y = walk + 600 * std::sin(2 * pi * t / 6.5) + 150 * std::sin(2 * pi * t / 97.0) +
                   40 * std::sin(2 * pi * 1.3 * t);
        const double since = std::fmod(t, 21600.0) - 9000.0;
        if (since > 0 && since < 300) y += 2e5 * std::exp(-since / 30.0) * std::sin(2 * pi * since);
        v[i] = static_cast<std::int32_t>(std::lround(y));
    }
    return v;
}

// Steim-2 in 512-byte records, all samples (the last record partly filled).
void pack(const fs::path& p, const char* sta, hptime_t start, std::vector<std::int32_t> v) {
    const std::string bytes = mspack::pack({.net = "XX",
                                            .sta = sta,
                                            .loc = "00",
                                            .chan = "HHZ",
                                            .start = start,
                                            .rate = 100.0,
                                            .ints = std::move(v)});
    std::FILE* f = std::fopen(p.c_str(), "wb");
    if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() ||
        std::fclose(f) != 0)
        std::abort();
}

// The file holds one segment equal to v (the packer is trusted only so far).
void check(const fs::path& p, const std::vector<std::int32_t>& v) {
    MSTraceList* mstl = nullptr;
    if (ms_readtracelist(&mstl, p.c_str(), 0, -1.0, -1.0, 0, 1, 1, 0) != MS_NOERROR ||
        mstl->numtraces != 1 || mstl->traces->numsegments != 1 ||
        mstl->traces->first->numsamples != static_cast<int64_t>(v.size()) ||
        mstl->traces->first->sampletype != 'i' ||
        std::memcmp(mstl->traces->first->datasamples, v.data(), 4 * v.size()) != 0) {
        std::fprintf(stderr, "%s does not read back as packed\n", p.c_str());
        std::exit(1);
    }
    mstl_free(&mstl, 0);
}

// The baseline, in a process of its own: argv holds [-w|-r OUTDIR] FILE...
// (-r: written under a temporary name and renamed).
int baselinemain(int argc, char** argv) {
    const char* out = nullptr;
    bool rename = false;
    int i = 0;
    if (argc > 1 && (std::strcmp(argv[0], "-w") == 0 || std::strcmp(argv[0], "-r") == 0))
        out = argv[1], rename = argv[0][1] == 'r', i = 2;
    static char header[632] = {};
    long written = 0;
    for (; i < argc; ++i) {
        MSTraceList* mstl = nullptr;
        if (ms_readtracelist(&mstl, argv[i], 0, -1.0, -1.0, 0, 1, 1, 0) != MS_NOERROR) return 1;
        for (MSTraceID* id = mstl->traces; id != nullptr; id = id->next)
            for (MSTraceSeg* seg = id->first; seg != nullptr; seg = seg->next) {
                if (mstl_convertsamples(seg, 'f', 0) != 0) return 1;
                if (out == nullptr) continue;
                const std::string name =
                    std::string(out) + "/" + std::to_string(written++) + ".kiv";
                const std::string tmp = rename ? name + ".tmp" : name;
                const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
                const auto bytes = static_cast<std::size_t>(4 * seg->numsamples);
                iovec iov[2] = {{header, sizeof header}, {seg->datasamples, bytes}};
                if (fd < 0 || ::writev(fd, iov, 2) != static_cast<ssize_t>(sizeof header + bytes))
                    return 1;
                if (::close(fd) != 0 || (rename && std::rename(tmp.c_str(), name.c_str()) != 0))
                    return 1;
            }
        mstl_free(&mstl, 0);
    }
    return 0;
}

constexpr std::size_t kDay = 8'640'000;
constexpr int kFiles = 1000;
constexpr std::size_t kPts = 1000;
const hptime_t kStart = ms_time2hptime(2024, 61, 0, 0, 0, 0);

void makeday(const fs::path& p) {
    const auto v = seismogram(kDay, 1);
    pack(p, "DAY", kStart, v);
    check(p, v);
}

// Names relative to dir.
std::vector<std::string> makemany(const fs::path& dir, const std::string& sub) {
    std::vector<std::string> names;
    if (!sub.empty()) fs::create_directories(dir / sub);
    for (int i = 0; i < kFiles; ++i) {
        char sta[8];
        std::snprintf(sta, sizeof sta, "S%03d", i);
        names.push_back((sub.empty() ? "" : sub + "/") + sta + ".mseed");
        const auto v = seismogram(kPts, 1000 + static_cast<std::uint64_t>(i));
        pack(dir / names.back(), sta, kStart + static_cast<hptime_t>(i) * 60 * HPTMODULUS, v);
        if (i == 0) check(dir / names.back(), v);
    }
    return names;
}

using bench::spawninto;

using bench::cpu;
using bench::median;
using bench::peak;
using bench::wall;

const char* kNames[] = {"msxlate", "baseline", "baseline+write", "baseline+rename", "msxlate -n"};

// Each variant once per round, the order turning by one each round; the
// outputs of each run removed after it, or kept until all are done.
std::vector<std::vector<Ran>> rounds(const fs::path& dir,
                                     const std::vector<std::vector<std::string>>& runs, int reps,
                                     bool keep) {
    std::vector<std::vector<Ran>> t(runs.size());
    int made = 0;
    for (int r = 0; r < reps; ++r)
        for (std::size_t k = 0; k < runs.size(); ++k) {
            const std::size_t v = (static_cast<std::size_t>(r) + k) % runs.size();
            const std::string out = "outs/" + std::to_string(made++);
            t[v].push_back(spawninto(dir, runs[v], out));
            if (!keep) fs::remove_all(dir / out);
        }
    fs::remove_all(dir / "outs");
    return t;
}

// Rows per variant; unit scales seconds (1e3: ms in all, 1e6 / n: us per file).
void table(const std::vector<std::vector<Ran>>& t, double unit, const char* what) {
    for (std::size_t v = 0; v < t.size(); ++v)
        std::printf("  %-15s wall %8.2f %s (msxlate/this %.3fx)   cpu %8.2f %s (%.3fx)   "
                    "peak RSS %6.1f MiB\n",
                    kNames[v], wall(t[v]) * unit, what, wall(t[0]) / wall(t[v]), cpu(t[v]) * unit,
                    what, cpu(t[0]) / cpu(t[v]), peak(t[v]) / 1024.0);
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--baseline") == 0)
        return baselinemain(argc - 2, argv + 2);
    if (argc == 3 && std::strcmp(argv[1], "--inputs") == 0) {
        fs::create_directories(argv[2]);
        makeday(fs::path(argv[2]) / "day.mseed");
        makemany(argv[2], "many");
        return 0;
    }
    const int reps = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::string bin = argc > 2 ? fs::absolute(argv[2]).string() : MSXLATE_BIN;
    const std::string self = fs::canonical("/proc/self/exe").string();
    std::string tmpl = (fs::temp_directory_path() / "msx-bench-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) return 1;
    const fs::path dir = tmpl;
    std::printf("msxlate: %s\ninputs in %s\n", bin.c_str(), dir.c_str());

    // 1. One day at 100 samples/s.
    const std::size_t day = kDay;
    makeday(dir / "day.mseed");
    const auto daybytes = fs::file_size(dir / "day.mseed");
    const std::vector<std::vector<std::string>> dayruns = {
        {bin, "-q", "-o", "OUT", "--", "day.mseed"},
        {self, "--baseline", "day.mseed"},
        {self, "--baseline", "-w", "OUT", "day.mseed"},
        {self, "--baseline", "-r", "OUT", "day.mseed"},
        {bin, "-q", "-n", "-o", "OUT", "--", "day.mseed"}};
    const auto t = rounds(dir, dayruns, reps, false);
    std::printf("one day, %zu samples in %ju 512-byte Steim-2 records (%.1f MB) (%d rounds, "
                "medians; wall and user+system CPU)\n",
                day, static_cast<std::uintmax_t>(daybytes / 512),
                static_cast<double>(daybytes) / 1e6, reps);
    table(t, 1e3, "ms");
    std::printf("  msxlate/baseline: wall %.3fx, cpu %.3fx (target <= 1.3)  %s\n",
                wall(t[0]) / wall(t[1]), cpu(t[0]) / cpu(t[1]),
                wall(t[0]) / wall(t[1]) <= 1.3 ? "holds" : "OVER");
    const double f32 = 4.0 * static_cast<double>(day);
    const double bound = 1.2 * f32 + 32.0 * 1048576.0;
    const double rss = static_cast<double>(peak(t[0])) * 1024.0;
    std::printf("  peak RSS of msxlate %.1f MiB (%.0f bytes); bound 1.2 x %.0f + 32 MiB = %.1f MiB "
                "(%.0f bytes)  %s\n",
                rss / 1048576.0, rss, f32, bound / 1048576.0, bound,
                rss <= bound ? "holds" : "OVER");
    std::printf("  peak RSS of the baseline %.1f MiB\n", peak(t[1]) / 1024.0);
    fs::remove(dir / "day.mseed");

    // 2. Many short files, a station each.
    const int files = kFiles;
    const std::size_t npts = kPts;
    const std::vector<std::string> names = makemany(dir, "");
    std::vector<std::vector<std::string>> manyruns = {{bin, "-q", "-o", "OUT", "--"},
                                                      {self, "--baseline"},
                                                      {self, "--baseline", "-w", "OUT"},
                                                      {self, "--baseline", "-r", "OUT"},
                                                      {bin, "-q", "-n", "-o", "OUT", "--"}};
    for (auto& r : manyruns) r.insert(r.end(), names.begin(), names.end());
    const auto m = rounds(dir, manyruns, reps, true);
    std::printf("%d files of %zu samples (%d rounds, medians)\n", files, npts, reps);
    table(m, 1e6 / files, "us/file");
    std::printf("  msxlate/baseline: wall %.3fx, cpu %.3fx (target <= 1.5)  %s\n",
                wall(m[0]) / wall(m[1]), cpu(m[0]) / cpu(m[1]),
                wall(m[0]) / wall(m[1]) <= 1.5 ? "holds" : "OVER");
    fs::remove_all(dir);
    return 0;
}
