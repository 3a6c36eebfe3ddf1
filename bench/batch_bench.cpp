// SPDX-License-Identifier: Apache-2.0
// wfdxlate's batch mode against baselines measured in the same run:
//   baseline: plain C++ in this process, the same bytes in single large
//     transfers (one read of the samples, one write of header and samples);
//   numpy: a short /usr/bin/python3 script doing the same conversion.
// 1. one day at 100 samples/s, s4 (8,640,000 samples like a seismogram's): time
//    of each, and the converter's peak resident memory against the record's
//    float32 size; the same record as e1 blocks, against it as s4;
// 2. 10,000 records of 1,000 samples from one wfdisc file, per record, and
//    the peak memory for 1,000 and 10,000 records (it must not grow); once
//    replacing the files of the run before, once into an empty directory;
// 3. one-sample records, distinct names, at 10,000, 100,000 and 1,000,000
//    records, dry run and real run: time per record (it must stay flat) and
//    peak memory.
// A second argument names another wfdxlate to measure (an older build, for a
// before/after comparison in one sitting); a third, "noscale", skips part 3.
// Wall times suffer from whatever else the machine does; the user + system
// CPU times of each process are shown beside them.
// Variants are interleaved and take each place in turn; medians are shown.
//   cmake --build <build> --target batch_bench && <build>/bench/batch_bench [reps [wfdxlate
//   [noscale]]]
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "e1day.h"
#include "spawn.h"

namespace fs = std::filesystem;
using bench::Clock;
using bench::Ran;
using bench::spawn;

namespace {

// The baseline: read nsamp big-endian 32-bit integers at foff, make floats,
// write a 632-byte header and the samples with one call.
std::vector<std::uint32_t> buf;
void baseline(const char* in, long foff, std::size_t n, const char* out, bool atomic) {
    static char header[632] = {};
    buf.resize(n);
    int fd = ::open(in, O_RDONLY);
    if (::pread(fd, buf.data(), 4 * n, foff) != static_cast<ssize_t>(4 * n)) std::abort();
    ::close(fd);
    for (std::size_t i = 0; i < n; ++i) {
        const float v = static_cast<float>(static_cast<std::int32_t>(__builtin_bswap32(buf[i])));
        std::memcpy(&buf[i], &v, 4);
    }
    const std::string tmp = std::string(out) + ".tmp";
    fd = ::open(atomic ? tmp.c_str() : out, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    iovec iov[2] = {{header, 632}, {buf.data(), 4 * n}};
    if (::writev(fd, iov, 2) != static_cast<ssize_t>(632 + 4 * n)) std::abort();
    ::close(fd);
    if (atomic && ::rename(tmp.c_str(), out) != 0) std::abort();
}

// The baseline as a process of its own (so that it pays start-up and fresh
// memory as the converter does): a list of "source foff nsamp output" lines.
int baselinemain(const char* list, bool atomic) {
    std::FILE* f = std::fopen(list, "r");
    char in[512], out[512];
    long foff = 0;
    std::size_t n = 0;
    while (f != nullptr && std::fscanf(f, "%511s %ld %zu %511s", in, &foff, &n, out) == 4)
        baseline(in, foff, n, out, atomic);
    return f == nullptr ? 1 : 0;
}

using bench::median;

std::string css30(const std::string& sta, const std::string& chan, double t, long n,
                  const std::string& file, long foff, const char* dt = "s4") {
    char line[400];
    std::snprintf(line, sizeof line,
                  "%-6s %-8s %17.5f %8d %8d %8d %17.5f %8ld %11.7f %16.6f %16.6f %-6s %c %-2s %c "
                  "%-64s %-32s %10ld %8d %-17s\n",
                  sta.c_str(), chan.c_str(), t, -1, -1, 2017067, t + (n - 1) / 100.0, n, 100.0, 1.0,
                  1.0, "-", '-', dt, '-', ".", file.c_str(), foff, -1, "1489009080.00000");
    return line;
}

void samples(const fs::path& p, std::size_t n, std::uint32_t seed) {
    std::vector<std::uint32_t> v(n);
    for (std::size_t i = 0; i < n; ++i) {
        seed = seed * 1664525u + 1013904223u;
        v[i] = __builtin_bswap32(seed >> 12); // big-endian, 20-bit values
    }
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(v.data()), static_cast<std::streamsize>(4 * n));
}

const char* kNumpy = R"(import sys, numpy as np
src, foff, n, out = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
y = np.fromfile(src, dtype='>i4', count=n, offset=foff).astype('=f4')
with open(out, 'wb') as f:
    f.write(bytes(632))
    y.tofile(f)
)";

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--baseline")
        return baselinemain(argv[2], std::string(argv[3]) == "atomic");
    const int reps = argc > 1 ? std::atoi(argv[1]) : 5;
    const std::string self = fs::canonical("/proc/self/exe").string();
    std::string tmpl = (fs::temp_directory_path() / "wfdx-batch-bench-XXXXXX").string();
    const fs::path dir = ::mkdtemp(tmpl.data());
    fs::create_directories(dir / "out");
    std::ofstream(dir / "conv.py") << kNumpy;
    const std::string bin = argc > 2 ? fs::absolute(argv[2]).string() : WFDXLATE_BIN;
    const bool scale = !(argc > 3 && std::string(argv[3]) == "noscale");
    std::printf("wfdxlate: %s\n", bin.c_str());

    // 1. One day at 100 samples/s.
    const std::size_t day = 8'640'000;
    const auto quakes = e1day::seismogram(day, 1);
    e1day::writes4(dir / "day.w", quakes);
    const std::size_t e1bytes = e1day::writee1(dir / "day.e1", quakes);
    std::ofstream(dir / "day.wfdisc") << css30("DAY", "HHZ", 1488931200.0, day, "day.w", 0);
    std::ofstream(dir / "e1.wfdisc") << css30("DAY", "HHE", 1488931200.0, day, "day.e1", 0, "e1");
    std::ofstream(dir / "day.list") << "day.w 0 " << day << " out/base.kiv\n";
    // Variants: wfdxlate, baseline, baseline with temporary name and rename, numpy, wfdxlate e1.
    const std::vector<std::vector<std::string>> dayruns = {
        {bin, "-q", "-o", "out", "day.wfdisc"},
        {self, "--baseline", "day.list", "plain"},
        {self, "--baseline", "day.list", "atomic"},
        {"/usr/bin/python3", "conv.py", "day.w", "0", std::to_string(day), "out/np.kiv"},
        {bin, "-q", "-o", "out", "e1.wfdisc"}};
    std::vector<std::vector<Ran>> t(dayruns.size());
    for (int r = 0; r < reps; ++r)
        for (std::size_t k = 0; k < dayruns.size(); ++k) {
            const std::size_t v = (static_cast<std::size_t>(r) + k) % dayruns.size();
            t[v].push_back(spawn(dir, dayruns[v]));
        }
    using bench::cpu;
    using bench::wall;
    long rss = 0, rsse1 = 0;
    for (const Ran& x : t[0]) rss = std::max(rss, x.maxrss_kb);
    for (const Ran& x : t[4]) rsse1 = std::max(rsse1, x.maxrss_kb);
    const double f32mb = 4.0 * day / 1048576.0;
    std::printf("day record, %zu s4 samples (%d runs each, medians; wall and user+system CPU)\n",
                day, reps);
    const char* names[] = {"wfdxlate", "baseline", "baseline+rename", "numpy", "wfdxlate e1"};
    for (std::size_t v = 0; v < t.size(); ++v)
        std::printf("  %-16s wall %8.1f ms (wfdxlate/this %.3fx)   cpu %8.1f ms (%.3fx)\n",
                    names[v], wall(t[v]) * 1e3, wall(t[0]) / wall(t[v]), cpu(t[v]) * 1e3,
                    cpu(t[0]) / cpu(t[v]));
    std::printf("  targets: wfdxlate/baseline <= 1.3, wfdxlate/numpy < 1\n");
    std::printf("  e1 (%.1f MB of blocks) against s4: wall %.3fx, cpu %.3fx (target <= 2)\n",
                static_cast<double>(e1bytes) / 1e6, wall(t[4]) / wall(t[0]), cpu(t[4]) / cpu(t[0]));
    std::printf("  peak RSS of wfdxlate %.1f MiB (e1 %.1f MiB); limit 1.1 x %.1f MiB + 16 MiB = "
                "%.1f MiB\n",
                rss / 1024.0, rsse1 / 1024.0, f32mb, 1.1 * f32mb + 16);
    fs::remove(dir / "day.w");
    fs::remove(dir / "day.e1");
    fs::remove(dir / "out" / "base.kiv");
    fs::remove(dir / "out" / "np.kiv");

    // 2. Many short records from one wfdisc file.
    const int records = 10'000;
    const std::size_t npts = 1000;
    std::string wf, head;
    for (int i = 0; i < records; ++i) {
        const std::string name = "r" + std::to_string(i) + ".w";
        samples(dir / name, npts, static_cast<std::uint32_t>(i));
        wf += css30("S" + std::to_string(i % 100), "HHZ", 1488931200.0 + 10.0 * i, npts, name, 0);
        if (i == 999) head = wf;
    }
    std::ofstream(dir / "many.wfdisc") << wf;
    std::ofstream(dir / "few.wfdisc") << head;
    {
        std::ofstream list(dir / "many.list");
        for (int i = 0; i < records; ++i)
            list << "r" << i << ".w 0 " << npts << " out/b" << i << ".kiv\n";
    }
    const std::vector<std::vector<std::string>> manyruns = {
        {bin, "-q", "-o", "out", "many.wfdisc"},
        {self, "--baseline", "many.list", "plain"},
        {self, "--baseline", "many.list", "atomic"}};
    std::vector<std::vector<Ran>> m(manyruns.size());
    long rssfew = 0;
    for (int r = 0; r < reps; ++r) {
        for (std::size_t k = 0; k < manyruns.size(); ++k) {
            const std::size_t v = (static_cast<std::size_t>(r) + k) % manyruns.size();
            m[v].push_back(spawn(dir, manyruns[v]));
        }
        rssfew = std::max(rssfew, spawn(dir, {bin, "-q", "-o", "out", "few.wfdisc"}).maxrss_kb);
    }
    long rssmany = 0;
    for (const Ran& x : m[0]) rssmany = std::max(rssmany, x.maxrss_kb);
    std::printf("%d records of %zu samples, one wfdisc file (%d runs each, medians)\n", records,
                npts, reps);
    for (std::size_t v = 0; v < m.size(); ++v)
        std::printf("  %-16s wall %7.1f us/record (wfdxlate/this %.3fx)   cpu %7.1f us/record "
                    "(%.3fx)\n",
                    names[v], wall(m[v]) / records * 1e6, wall(m[0]) / wall(m[v]),
                    cpu(m[v]) / records * 1e6, cpu(m[0]) / cpu(m[v]));
    std::printf("  target: wfdxlate/baseline <= 1.15\n");
    std::printf("  peak RSS of wfdxlate: 1,000 records %.1f MiB, 10,000 records %.1f MiB\n",
                rssfew / 1024.0, rssmany / 1024.0);
    // The same into an empty directory each time (a first conversion: no
    // file is replaced); emptying it is not timed.
    std::vector<std::vector<Ran>> e(manyruns.size());
    for (int r = 0; r < reps; ++r)
        for (std::size_t k = 0; k < manyruns.size(); ++k) {
            const std::size_t v = (static_cast<std::size_t>(r) + k) % manyruns.size();
            fs::remove_all(dir / "out");
            fs::create_directories(dir / "out");
            ::sync();
            e[v].push_back(spawn(dir, manyruns[v]));
        }
    std::printf("the same, each run into an empty directory\n");
    for (std::size_t v = 0; v < e.size(); ++v)
        std::printf("  %-16s wall %7.1f us/record (wfdxlate/this %.3fx)   cpu %7.1f us/record "
                    "(%.3fx)\n",
                    names[v], wall(e[v]) / records * 1e6, wall(e[0]) / wall(e[v]),
                    cpu(e[v]) / records * 1e6, cpu(e[0]) / cpu(e[v]));
    for (int i = 0; i < records; ++i) fs::remove(dir / ("r" + std::to_string(i) + ".w"));
    fs::remove_all(dir / "out");

    // 3. Scale: one-sample records with distinct names (a second apart).
    if (scale) {
        std::ofstream(dir / "one.w") << std::string(4, '\1');
        std::printf(
            "one-sample records, distinct names (one run each; per record against 10,000)\n");
        double dry0 = 0, real0 = 0;
        for (const long n : {10'000L, 100'000L, 1'000'000L}) {
            {
                std::ofstream wf(dir / "scale.wfdisc");
                for (long i = 0; i < n; ++i)
                    wf << css30("S" + std::to_string(i % 100), "HHZ",
                                1488931200.0 + static_cast<double>(i), 1, "one.w", 0);
            }
            fs::create_directories(dir / "out3");
            ::sync(); // earlier removals must not be paid for here
            const Ran dry = spawn(dir, {bin, "-q", "-n", "-o", "out3", "scale.wfdisc"});
            ::sync();
            const Ran real = spawn(dir, {bin, "-q", "-o", "out3", "scale.wfdisc"});
            fs::remove_all(dir / "out3");
            const double d = dry.seconds / static_cast<double>(n) * 1e6,
                         w = real.seconds / static_cast<double>(n) * 1e6;
            if (n == 10'000L) dry0 = d, real0 = w;
            std::printf("  %8ld records: dry run %6.2f us/record (%.2fx), peak RSS %6.1f MiB; "
                        "real run %6.1f us/record (%.2fx), peak RSS %6.1f MiB\n",
                        n, d, d / dry0, dry.maxrss_kb / 1024.0, w, w / real0,
                        real.maxrss_kb / 1024.0);
        }
        std::printf("  target: per record within 1.5x of the 10,000-record figure\n");
    }
    fs::remove_all(dir);
    return 0;
}
