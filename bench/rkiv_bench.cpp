// SPDX-License-Identifier: Apache-2.0
// Reading a 1,000,000-sample KIV file with rkiv against a plain read() of the
// same bytes into a buffer (and against one pread() of the samples alone),
// measured in the same run, turn about: the file in this machine's byte order
// and in the other one (rkiv then also swaps).
//   cmake --build <build> --target rkiv_bench && <build>/bench/rkiv_bench [rounds]
#include "dff/dff.h"
#include "msg/msg.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

using namespace kivf;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::int32_t kNpts = 1'000'000;

double plainread(const std::string& file, std::vector<char>& buf) {
    const auto t0 = Clock::now();
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    std::size_t done = 0;
    for (ssize_t r = 1; fd >= 0 && r > 0 && done < buf.size(); done += static_cast<std::size_t>(r))
        r = ::read(fd, buf.data() + done, buf.size() - done);
    ::close(fd);
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    if (done != buf.size()) std::abort();
    return s;
}

// Only the sample bytes, one pread() at their offset: what rkiv's own
// transfer is, without the header and its checks.
double plainsamples(const std::string& file, std::vector<float>& y) {
    const auto t0 = Clock::now();
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    const ssize_t r = ::pread(fd, y.data(), 4 * y.size(), off_t{4} * kHdrWords);
    ::close(fd);
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    if (r != static_cast<ssize_t>(4 * y.size())) std::abort();
    return s;
}

double libread(const std::string& file, std::vector<float>& y, bool want) {
    static CmHdr h;
    static KmHdr k;
    bool swapped = !want;
    std::int32_t nerr = 0;
    const auto t0 = Clock::now();
    rkiv(file, h, k, y, {}, swapped, nerr);
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    if (nerr != 0 || swapped != want) std::abort();
    return s;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 200;
    char tmpl[] = "/tmp/rkiv-bench-XXXXXX";
    const std::string dir = ::mkdtemp(tmpl);
    const std::string native = dir + "/native.kiv", other = dir + "/other.kiv";

    msgprint(false);
    newhdr();
    std::int32_t nerr = 0;
    setnhv("NPTS", kNpts, nerr);
    setfhv("DELTA", 0.01F, nerr);
    std::vector<float> y(kNpts);
    for (std::int32_t i = 0; i < kNpts; ++i) y[i] = static_cast<float>(i % 4096) * 0.5F - 7.0F;
    wkiv0(native, {}, y, nerr);
    if (nerr != 0) return 1;
    // The same file as a machine of the other byte order writes it: every
    // word but the 48 of text reversed.
    std::vector<char> bytes(std::size_t{4} * (kHdrWords + kNpts));
    plainread(native, bytes);
    for (std::size_t w = 0; w < bytes.size() / 4; ++w)
        if (w < kHdrNumWords || w >= kHdrWords) {
            const auto word = bytes.begin() + static_cast<std::ptrdiff_t>(4 * w);
            std::reverse(word, word + 4); // iterators: the last word's end is no element
        }
    FILE* f = std::fopen(other.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);

    // Each variant has its own destination, so that none finds it warm in
    // the caches from the one before.
    std::vector<char> buf(bytes.size());
    std::vector<float> out(kNpts), out2(kNpts), out3(kNpts);
    std::vector<double> base, samples, lib, libswap;
    for (int r = 0; r < rounds; ++r) { // each variant takes each place in turn
        for (int v = 0; v < 4; ++v) {
            switch ((r + v) % 4) {
            case 0:
                base.push_back(plainread(native, buf));
                break;
            case 1:
                samples.push_back(plainsamples(native, out3));
                break;
            case 2:
                lib.push_back(libread(native, out, false));
                break;
            default:
                libswap.push_back(libread(other, out2, true));
                break;
            }
        }
    }
    for (std::int32_t i = 0; i < kNpts; i += 99'991)
        if (out[i] != y[i] || out2[i] != y[i]) return 2;
    const double b = median(base), p = median(samples), l = median(lib), s = median(libswap);
    std::printf("1,000,000 samples (%zu bytes), %d rounds, medians:\n", bytes.size(), rounds);
    std::printf("  plain open+read()+close  %8.1f us  1.00x\n", b * 1e6);
    std::printf("  plain pread() of samples %8.1f us  %.2fx\n", p * 1e6, p / b);
    std::printf("  rkiv, this byte order    %8.1f us  %.2fx  (%.2fx the samples' pread)\n", l * 1e6,
                l / b, l / p);
    std::printf("  rkiv, other byte order   %8.1f us  %.2fx  (%.2fx the samples' pread)\n", s * 1e6,
                s / b, s / p);
    ::unlink(native.c_str());
    ::unlink(other.c_str());
    ::rmdir(dir.c_str());
    return 0;
}
