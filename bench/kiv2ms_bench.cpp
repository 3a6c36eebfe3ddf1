// SPDX-License-Identifier: Apache-2.0
// kiv2ms against a minimal packer over libmseed, measured in the same run, on
// one day of 100 Hz integer samples (8,640,000, a random walk of small steps,
// bench/walkday.h) stored as a KIV file:
//   kiv2ms: kiv2ms -q -o OUT day.kiv (Steim-2 in 512-byte records, chosen by
//     itself for whole numbers);
//   baseline: this program re-executed: one read() of the KIV file, its floats
//     made int32, msr_pack in Steim-2 512-byte records (with a blockette 1001
//     as kiv2ms writes it, so that both make the same bytes), each record
//     fwrite()n to the output through a 1 MiB stdio buffer;
//   kiv2ms -n: its reading and checking alone (nothing packed or written).
// Each process runs on its own (fork and exec), as a user runs it: start-up
// and fresh memory are paid by both. Before timing, both outputs are made once
// and must be the same bytes, which libmseed reads back as the day's samples.
// Variants are interleaved, each taking each place in turn; medians are
// shown, wall and user + system CPU. Each run writes into an empty directory
// of its own, removed after it; TMPDIR=/dev/shm takes the disk out.
//   cmake --build <build> --target kiv2ms_bench && <build>/bench/kiv2ms_bench [rounds [kiv2ms]]
// A second argument names another kiv2ms to measure (an older build, say).
// With --inputs DIR it only writes DIR/day.kiv, for profiling by hand.
#include <libmseed.h>

#include "dff/dff.h"
#include "spawn.h"
#include "walkday.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using bench::Ran;

namespace {

// 2024-03-01 (day 61) 00:00:00, as the KIV file's reference time.
const hptime_t kStart = ms_time2hptime(2024, 61, 0, 0, 0, 0);

void makekiv(const fs::path& p, const std::vector<std::int32_t>& v) {
    kivf::Trace t = kivf::newtrace();
    t.hdr.f(kivf::fslot::DELTA) = 0.01F;
    t.hdr.f(kivf::fslot::B) = 0.0F;
    t.hdr.n(kivf::nslot::NZYEAR) = 2024;
    t.hdr.n(kivf::nslot::NZJDAY) = 61;
    for (const std::int32_t s :
         {kivf::nslot::NZHOUR, kivf::nslot::NZMIN, kivf::nslot::NZSEC, kivf::nslot::NZMSEC})
        t.hdr.n(s) = 0;
    t.hdr.l(kivf::lslot::LEVEN) = 1;
    t.khdr.k(kivf::kslot::KNETWK).set("XX");
    t.khdr.k(kivf::kslot::KSTNM).set("DAY");
    t.khdr.k(kivf::kslot::KCMPNM).set("HHZ");
    t.y.assign(v.begin(), v.end());
    if (const kivf::Failure f = kivf::savetrace(p.string(), t)) {
        std::fprintf(stderr, "%s\n", f.text.c_str());
        std::exit(1);
    }
}

// The baseline, in a process of its own: argv holds IN OUT.
int baselinemain(int argc, char** argv) {
    if (argc != 2) return 2;
    const int fd = ::open(argv[0], O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) return 1;
    std::vector<char> file(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    for (ssize_t r = 1; r > 0 && done < file.size(); done += static_cast<std::size_t>(r))
        r = ::read(fd, file.data() + done, file.size() - done);
    ::close(fd);
    constexpr std::size_t kHeader = 4 * kivf::kHdrWords;
    std::int32_t npts = 0;
    std::memcpy(&npts, file.data() + 4 * (kivf::kNumFhdr + kivf::nslot::NPTS - 1), 4);
    if (done != file.size() || file.size() != kHeader + 4 * static_cast<std::size_t>(npts))
        return 1;
    std::vector<std::int32_t> ints(static_cast<std::size_t>(npts));
    const auto* y = reinterpret_cast<const float*>(file.data() + kHeader);
    for (std::size_t i = 0; i < ints.size(); ++i) ints[i] = static_cast<std::int32_t>(y[i]);

    std::FILE* out = std::fopen(argv[1], "wb");
    static char buffer[1 << 20];
    if (out == nullptr || std::setvbuf(out, buffer, _IOFBF, sizeof buffer) != 0) return 1;
    MSRecord* msr = msr_init(nullptr);
    std::strcpy(msr->network, "XX");
    std::strcpy(msr->station, "DAY");
    std::strcpy(msr->channel, "HHZ");
    msr->dataquality = 'D';
    msr->starttime = kStart;
    msr->samprate = 100.0;
    msr->reclen = 512;
    msr->encoding = DE_STEIM2;
    msr->byteorder = 1;
    msr->sequence_number = 1;
    blkt_1001_s b1001{};
    msr_addblockette(msr, reinterpret_cast<char*>(&b1001), sizeof b1001, 1001, 0);
    msr->datasamples = ints.data();
    msr->numsamples = npts;
    msr->sampletype = 'i';
    const auto put = [](char* rec, int len, void* f) {
        if (std::fwrite(rec, 1, static_cast<std::size_t>(len), static_cast<std::FILE*>(f)) !=
            static_cast<std::size_t>(len))
            std::abort();
    };
    std::int64_t packed = 0;
    const int records = msr_pack(msr, put, out, &packed, 1, 0);
    msr->datasamples = nullptr;
    msr_free(&msr);
    return records > 0 && packed == npts && std::fclose(out) == 0 ? 0 : 1;
}

std::string slurp(const fs::path& p) {
    std::string s(fs::file_size(p), '\0');
    std::FILE* f = std::fopen(p.c_str(), "rb");
    if (f == nullptr || std::fread(s.data(), 1, s.size(), f) != s.size()) std::abort();
    std::fclose(f);
    return s;
}

// The file holds one segment equal to v, as libmseed reads it.
bool readsback(const fs::path& p, const std::vector<std::int32_t>& v) {
    MSTraceList* mstl = nullptr;
    const bool ok = ms_readtracelist(&mstl, p.c_str(), 0, -1.0, -1.0, 0, 1, 1, 0) == MS_NOERROR &&
                    mstl->numtraces == 1 && mstl->traces->numsegments == 1 &&
                    mstl->traces->first->starttime == kStart &&
                    mstl->traces->first->numsamples == static_cast<int64_t>(v.size()) &&
                    mstl->traces->first->sampletype == 'i' &&
                    std::memcmp(mstl->traces->first->datasamples, v.data(), 4 * v.size()) == 0;
    mstl_free(&mstl, 0);
    return ok;
}

using bench::spawninto;

using bench::cpu;
using bench::median;
using bench::peak;
using bench::wall;

const char* kNames[] = {"kiv2ms", "baseline", "kiv2ms -n"};

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--baseline") == 0)
        return baselinemain(argc - 2, argv + 2);
    if (argc == 3 && std::strcmp(argv[1], "--inputs") == 0) {
        fs::create_directories(argv[2]);
        makekiv(fs::path(argv[2]) / "day.kiv", bench::walkday());
        return 0;
    }
    const int reps = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::string bin = argc > 2 ? fs::absolute(argv[2]).string() : KIV2MS_BIN;
    const std::string self = fs::canonical("/proc/self/exe").string();
    std::string tmpl = (fs::temp_directory_path() / "kiv2ms-bench-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) return 1;
    const fs::path dir = tmpl;
    std::printf("kiv2ms: %s\ninputs in %s\n", bin.c_str(), dir.c_str());

    const std::vector<std::int32_t> day = bench::walkday();
    makekiv(dir / "day.kiv", day);
    const std::vector<std::vector<std::string>> runs = {
        {bin, "-q", "-o", "OUT", "--", "day.kiv"},
        {self, "--baseline", "day.kiv", "OUT/day.mseed"},
        {bin, "-q", "-n", "-o", "OUT", "--", "day.kiv"}};

    // The same work: the same bytes out, the day's samples back.
    spawninto(dir, runs[0], "check/kiv2ms");
    spawninto(dir, runs[1], "check/baseline");
    const std::string ours = slurp(dir / "check/kiv2ms/day.mseed");
    const std::string base = slurp(dir / "check/baseline/day.mseed");
    if (ours != base) {
        const auto at = std::mismatch(ours.begin(), ours.end(), base.begin(), base.end());
        std::fprintf(stderr, "kiv2ms and the baseline differ: %zu and %zu bytes, first at %td\n",
                     ours.size(), base.size(), at.first - ours.begin());
        return 1;
    }
    if (!readsback(dir / "check/kiv2ms/day.mseed", day)) {
        std::fprintf(stderr, "kiv2ms's output does not read back as the day\n");
        return 1;
    }
    fs::remove_all(dir / "check");

    std::vector<std::vector<Ran>> t(runs.size());
    int made = 0;
    for (int r = 0; r < reps; ++r)
        for (std::size_t k = 0; k < runs.size(); ++k) {
            const std::size_t v = (static_cast<std::size_t>(r) + k) % runs.size();
            const std::string out = "outs/" + std::to_string(made++);
            t[v].push_back(spawninto(dir, runs[v], out));
            fs::remove_all(dir / out);
        }
    std::printf("one day, %zu samples, %.1f MB of KIV into %zu 512-byte Steim-2 records "
                "(%d rounds, medians; wall and user+system CPU)\n",
                day.size(), static_cast<double>(fs::file_size(dir / "day.kiv")) / 1e6,
                ours.size() / 512, reps);
    for (std::size_t v = 0; v < t.size(); ++v)
        std::printf("  %-10s wall %8.2f ms (kiv2ms/this %.3fx)   cpu %8.2f ms (%.3fx)   "
                    "peak RSS %6.1f MiB\n",
                    kNames[v], wall(t[v]) * 1e3, wall(t[0]) / wall(t[v]), cpu(t[v]) * 1e3,
                    cpu(t[0]) / cpu(t[v]), static_cast<double>(peak(t[v])) / 1024.0);
    std::printf("  kiv2ms/baseline: wall %.3fx, cpu %.3fx (target <= 1.3)  %s\n",
                wall(t[0]) / wall(t[1]), cpu(t[0]) / cpu(t[1]),
                wall(t[0]) / wall(t[1]) <= 1.3 ? "holds" : "OVER");
    fs::remove_all(dir);
    return 0;
}
