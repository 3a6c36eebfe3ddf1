// SPDX-License-Identifier: Apache-2.0
// The baseline of bench/mseed_read_bench.py: libmseed's own reading of a
// whole miniSEED file into memory, timed inside this process.
//   mseed_read_base --make DIR   writes DIR/day.mseed, the day of
//     bench/walkday.h in Steim-2 512-byte records (XX.DAY..HHZ, 100 Hz), and
//     DIR/day.i32, its samples as raw int32 in this machine's order;
//   mseed_read_base --time FILE  reads FILE once with ms_readtracelist, data
//     unpacked (int32 for Steim-2), then converts every segment to float32
//     with mstl_convertsamples, and prints the seconds of each step and the
//     samples read: "read S convert S samples N".
#include <libmseed.h>

#include "../examples/mspack.h"
#include "walkday.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

bool writeall(const std::string& path, const void* p, std::size_t n) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    return f != nullptr && std::fwrite(p, 1, n, f) == n && std::fclose(f) == 0;
}

int make(const std::string& dir) {
    const auto v = bench::walkday();
    const std::string bytes = mspack::pack({.net = "XX",
                                            .sta = "DAY",
                                            .loc = "",
                                            .chan = "HHZ",
                                            .start = ms_time2hptime(2024, 61, 0, 0, 0, 0),
                                            .rate = 100.0,
                                            .ints = v});
    return writeall(dir + "/day.mseed", bytes.data(), bytes.size()) &&
                   writeall(dir + "/day.i32", v.data(), 4 * v.size())
               ? 0
               : 1;
}

int time(const char* file) {
    const auto t0 = Clock::now();
    MSTraceList* mstl = nullptr;
    if (ms_readtracelist(&mstl, file, 0, -1.0, -1.0, 0, 1, 1, 0) != MS_NOERROR) return 1;
    const auto t1 = Clock::now();
    long long n = 0;
    for (MSTraceID* id = mstl->traces; id != nullptr; id = id->next)
        for (MSTraceSeg* seg = id->first; seg != nullptr; seg = seg->next) {
            if (mstl_convertsamples(seg, 'f', 0) != 0) return 1;
            n += seg->numsamples;
        }
    const auto t2 = Clock::now();
    std::printf("read %.6f convert %.6f samples %lld\n",
                std::chrono::duration<double>(t1 - t0).count(),
                std::chrono::duration<double>(t2 - t1).count(), n);
    mstl_free(&mstl, 0);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--make") == 0) return make(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "--time") == 0) return time(argv[2]);
    std::fprintf(stderr, "usage: mseed_read_base --make DIR | --time FILE\n");
    return 2;
}
