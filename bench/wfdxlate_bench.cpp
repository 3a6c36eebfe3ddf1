// SPDX-License-Identifier: Apache-2.0
// Time per record of wfdxlate, against two plain C++ loops over the same
// records measured in the same run:
//   same-pattern: the reads and writes the converter must do, in the same
//     512-byte pieces, the output written under a temporary name and renamed;
//   single: one read of the samples, one write of the whole file.
// The converter runs as a process on a wfdisc file of R records; its time
// includes start-up, divided over the records. Peak resident memory of the
// converter is reported for a short and a very long wfdisc file.
#include <algorithm>
#include <array>
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
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "spawn.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::string recordline(int i, int npts, const std::string& path) {
    return "2015069 " + std::to_string(1425997327 + i) + ".325 STA" + std::to_string(i % 100) +
           " BHZ " + std::to_string(npts) + " 20.0 1 1 STS o s4 - 1 1 . " + path +
           " 0 -1 2015 u0 u1\n";
}

// The converter on the wfdisc file, its name typed at the prompt; returns
// seconds and peak RSS in kB.
std::pair<double, long> converter(const fs::path& dir, const std::string& wfdisc) {
    std::ofstream(dir / "answer") << wfdisc << "\n";
    const bench::Ran r = bench::spawn(dir, {WFDXLATE_BIN}, "answer");
    return {r.seconds, r.maxrss_kb};
}

// Pieces as the file layer cuts them: head to a 512-byte boundary, whole
// blocks, one tail.
template <class F> bool pieces(std::int64_t offset, std::int64_t want, F xfer) {
    std::int64_t done = 0;
    if (const std::int64_t head = offset % 512; head != 0) {
        const auto r = xfer(0, std::min<std::int64_t>(512 - head, want));
        if (r < 0) return false;
        done += r;
    }
    while (want - done >= 512) {
        const auto r = xfer(done, 512);
        if (r < 0) return false;
        done += r;
        if (r < 512) break;
    }
    if (want > done) {
        const auto r = xfer(done, want - done);
        if (r >= 0) done += r;
    }
    return done == want;
}

std::array<std::int32_t, 90000> iray;
std::array<float, 90000> yray;
std::array<char, 632> header{};

void samepattern(const fs::path& dir, int records, int npts) {
    for (int i = 0; i < records; ++i) {
        const std::string in = (dir / ("s" + std::to_string(i) + ".w")).string();
        const std::string out = in + ".kiv";
        const std::string tmp = (dir / ".tmp-baseline").string();
        const std::int64_t bytes = 4 * std::int64_t{npts};
        int fd = ::open(in.c_str(), O_RDONLY);
        ::lseek(fd, 0, SEEK_SET);
        auto* ib = reinterpret_cast<char*>(iray.data());
        pieces(0, bytes, [&](std::int64_t at, std::int64_t n) { return ::read(fd, ib + at, n); });
        ::close(fd);
        for (int k = 0; k < npts; ++k) yray[k] = static_cast<float>(iray[k]);
        fd = ::open(tmp.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0666);
        auto put = [&](std::int64_t off, const char* p, std::int64_t n) {
            ::lseek(fd, off, SEEK_SET);
            pieces(off, n, [&](std::int64_t at, std::int64_t m) { return ::write(fd, p + at, m); });
        };
        put(0, header.data(), 440);
        put(440, header.data() + 440, 192);
        put(632, reinterpret_cast<const char*>(yray.data()), bytes);
        ::close(fd);
        ::rename(tmp.c_str(), out.c_str());
    }
}

void single(const fs::path& dir, int records, int npts) {
    static std::array<char, 632 + 4 * 90000> file;
    for (int i = 0; i < records; ++i) {
        const std::string in = (dir / ("s" + std::to_string(i) + ".w")).string();
        const std::string out = in + ".kiv";
        const std::size_t bytes = 4 * static_cast<std::size_t>(npts);
        int fd = ::open(in.c_str(), O_RDONLY);
        if (::read(fd, iray.data(), bytes) != static_cast<ssize_t>(bytes)) std::abort();
        ::close(fd);
        std::memcpy(file.data(), header.data(), 632);
        for (int k = 0; k < npts; ++k) {
            const float v = static_cast<float>(iray[k]);
            std::memcpy(file.data() + 632 + 4 * k, &v, 4);
        }
        fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (::write(fd, file.data(), 632 + bytes) != static_cast<ssize_t>(632 + bytes))
            std::abort();
        ::close(fd);
    }
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

template <class F> double timed(F f) {
    const auto t0 = Clock::now();
    f();
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

} // namespace

int main(int argc, char** argv) {
    const int reps = argc > 1 ? std::atoi(argv[1]) : 7;
    std::string tmpl = (fs::temp_directory_path() / "wfdx-bench-XXXXXX").string();
    const fs::path dir = ::mkdtemp(tmpl.data());
    std::printf("%-8s %8s %14s %14s %14s %10s %10s\n", "npts", "records", "wfdxlate us/rec",
                "same us/rec", "single us/rec", "vs same", "vs single");
    for (const auto& [npts, records] : {std::pair{90000, 200}, std::pair{1000, 2000}}) {
        std::string wf;
        std::vector<std::int32_t> s(static_cast<std::size_t>(npts));
        for (int i = 0; i < records; ++i) {
            for (int k = 0; k < npts; ++k)
                s[static_cast<std::size_t>(k)] = (k * 7919 + i) % 100000 - 50000;
            const std::string name = "s" + std::to_string(i) + ".w";
            std::ofstream(dir / name, std::ios::binary)
                .write(reinterpret_cast<const char*>(s.data()),
                       4 * static_cast<std::streamsize>(npts));
            wf += recordline(i, npts, name);
        }
        std::ofstream(dir / "b.wfdisc") << wf;
        std::vector<double> tc, ts, t1;
        // Interleaved, and each variant takes each place in the order in turn,
        // so that drift and the files left by the one before hit all alike.
        for (int r = 0; r < reps; ++r) {
            for (int k = 0; k < 3; ++k) {
                switch ((r + k) % 3) {
                case 0:
                    tc.push_back(converter(dir, "b.wfdisc").first);
                    break;
                case 1:
                    ts.push_back(timed([&] { samepattern(dir, records, npts); }));
                    break;
                default:
                    t1.push_back(timed([&] { single(dir, records, npts); }));
                    break;
                }
            }
        }
        const double c = median(tc) / records * 1e6, sp = median(ts) / records * 1e6,
                     sg = median(t1) / records * 1e6;
        std::printf("%-8d %8d %14.1f %14.1f %14.1f %9.3fx %9.3fx\n", npts, records, c, sp, sg,
                    c / sp, c / sg);
        for (int i = 0; i < records; ++i) {
            fs::remove(dir / ("s" + std::to_string(i) + ".w"));
            fs::remove(dir / ("s" + std::to_string(i) + ".w.kiv"));
        }
    }
    // Peak memory: the same small record, repeated in a short and a long file.
    {
        std::vector<std::int32_t> s(1000, 1);
        std::ofstream(dir / "m.w", std::ios::binary)
            .write(reinterpret_cast<const char*>(s.data()), 4000);
        for (const int lines : {10, 100000}) {
            std::ofstream out(dir / "m.wfdisc");
            for (int i = 0; i < lines; ++i) out << recordline(i, 1000, "m.w");
            out.close();
            std::printf("peak resident memory, %6d records: %ld kB\n", lines,
                        converter(dir, "m.wfdisc").second);
        }
    }
    fs::remove_all(dir);
    return 0;
}
