// SPDX-License-Identifier: Apache-2.0
// The modern face on eight threads at once, each on files of its own: bit for bit what one
// thread did first; the current header and the message buffer stay as at program start (no
// newhdr: none is needed), nothing printed.
#include "dff/dff.h"
#include "testutil.h"

#include <bit>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

using namespace kivf;

namespace {

std::string bytes(const void* p, std::size_t n) {
    return {static_cast<const char*>(p), n};
}

// A trace's header words and texts and its samples, bit for bit.
std::string words(const Trace& t) {
    return bytes(&t.hdr, 4 * kHdrNumWords) + bytes(t.khdr.khdr.data(), kHdrTextBytes) +
           bytes(t.y.data(), 4 * t.y.size()) + bytes(t.x.data(), 4 * t.x.size());
}

// Round r of thread t in its directory d: a trace of its own (header words, texts and samples
// told apart by t and r; uneven every other round) saved, read back three ways and saved again
// from the arrays read, in the directory all share; a missing file, a file that is no KIV file,
// a refused NPTS. The failures, one a line, then the words read, or "differs" when they are not
// those saved.
std::string round(const std::string& d, const std::string& all, int t, int r) {
    Trace s, back, back2, got;
    s.y.resize(std::size_t(40 + 8 * t + r)), s.x.resize(r % 2 ? s.y.size() : 0);
    for (std::size_t i = 0; i < s.y.size(); ++i) {
        s.y[i] = std::bit_cast<float>(0x3f800000U + unsigned(t << 16 | r << 8) + unsigned(i));
        if (r % 2) s.x[i] = float(i) - s.y[i];
    }
    for (std::size_t i = 0; i < s.hdr.fhdr.size(); ++i) s.hdr.fhdr[i] = float(t * 1000 + r + i);
    s.hdr.n(nslot::NVHDR) = kCurHver, s.hdr.n(nslot::NPTS) = std::int32_t(s.y.size());
    s.hdr.l(lslot::LEVEN) = s.x.empty();
    s.khdr.k(kslot::KSTNM).set("T" + std::to_string(t) + "R" + std::to_string(r));
    test::spit(d + "junk", std::string(std::size_t(400 + t + r), char('a' + t)));
    const std::string path = d + "t.kiv", again = "again" + std::to_string(t) + ".kiv";
    const int dirfd = ::open(d.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC),
              allfd = ::open(all.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    got.y.resize(s.y.size()), got.x.resize(s.x.size());
    CmHdr h{};
    KmHdr k{};
    bool sw = true;
    const auto arrays = [&](std::size_t, bool, std::span<float>& ys, std::span<float>& xs) {
        ys = got.y, xs = got.x;
    };
    // clang-format off
    const Failure f[] = { // in this order
        r % 3 ? savetrace(path, s) : savetrace(KivPlace{dirfd, d.c_str(), "t.kiv"}, s), loadtrace(path, back, sw),
        loadheader(path, got.hdr, got.khdr, sw), loadkiv(path, h, k, sw, arrays),
        savekiv(KivPlace{allfd, all.c_str(), again.c_str()}, h, k, got.y, got.x), loadtrace(all + again, back2),
        loadtrace(d + "none.kiv", back2), loadheader(d + "junk", h, k, sw), (h.n(nslot::NPTS) = -1 - t - r, savekiv(path, h, k, got.y, got.x))};
    // clang-format on
    ::close(dirfd), ::close(allfd);
    std::string log;
    for (const Failure& e : f) log += test::shown(e) + "\n";
    const bool same = words(back) == words(s) && words(back2) == words(s) && words(got) == words(s);
    return log + (same && !sw ? words(s) : "differs");
}

} // namespace

TEST(Threads, EightThreadsDoWhatOneDidTouchingNothingProcessWide) {
    const auto state = [] {
        return bytes(&cmhdr, sizeof cmhdr) + bytes(&kmhdr, sizeof kmhdr) +
               bytes(&cmmsg, sizeof cmmsg) + bytes(&kmmsg, sizeof kmmsg);
    };
    const std::string zero(state().size(), '\0');
    ASSERT_TRUE(state() == zero) << "not as at program start";
    constexpr int kThreads = 8, kRounds = 20;
    test::TempDir dir;
    const std::string all = dir / "all/";
    std::filesystem::create_directory(all);
    std::vector<std::string> dirs, serial, threaded(kThreads * kRounds);
    const std::string out = test::printed([&] {
        for (int t = 0; t < kThreads; ++t) {
            dirs.push_back(dir / std::to_string(t) + "/");
            std::filesystem::create_directory(dirs.back());
            for (int r = 0; r < kRounds; ++r) serial.push_back(round(dirs.back(), all, t, r));
        }
        std::vector<std::jthread> pool;
        for (int t = 0; t < kThreads; ++t)
            pool.emplace_back([&, t] {
                for (int r = 0; r < kRounds; ++r)
                    threaded[std::size_t(t * kRounds + r)] = round(dirs[std::size_t(t)], all, t, r);
            });
    });
    EXPECT_TRUE(out.empty() && state() == zero) << out;
    for (std::size_t i = 0; i < serial.size(); ++i)
        EXPECT_TRUE(!serial[i].ends_with("differs") && threaded[i] == serial[i])
            << "thread " << i / kRounds << " round " << i % kRounds;
}
