// SPDX-License-Identifier: Apache-2.0
// Reading KIV files whole, as traces and in pieces, and what their refusals leave.
#include "dff/dff.h"
#include "testutil.h"
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <vector>

using namespace kivf;

namespace {

// The file as the other byte order writes it: every word but text reversed.
std::string other(std::string s) {
    for (std::size_t w = 0; w < s.size() / 4; ++w)
        if (w < kHdrNumWords || w >= kHdrWords) std::reverse(&s[4 * w], &s[4 * w + 4]);
    return s;
}

// The array holds these bits, then only untouched 5s.
bool holds(const std::vector<float>& a, std::vector<float> want, std::size_t more) {
    want.resize(want.size() + more, 5.0F);
    return a.size() == want.size() &&
           (a.empty() || std::memcmp(a.data(), want.data(), 4 * a.size()) == 0);
}

struct Rkiv : ::testing::Test {
    test::TempDir dir;
    const std::string d = dir.path.string() + "/";
    CmHdr h{};
    KmHdr k{};
    std::vector<float> y, x;
    void SetUp() override {
        test::resetall(), ::setenv("KIVAUX", KIVF_SOURCE_DIR "/kivaux", 1), newhdr(),
            msgprint(false);
    }
    // Random bytes in every field and sample; the bytes wkiv0 writes.
    std::string write(const std::string& name, std::int32_t n, bool leven, unsigned seed) {
        std::mt19937 g(seed);
        y.resize(n), x.resize(n);
        // clang-format off
        for (auto [p, size] : {std::pair{(void*)&cmhdr, 4 * kHdrNumWords}, {(void*)&kmhdr, kHdrTextBytes}, {(void*)y.data(), 4 * n}, {(void*)x.data(), 4 * n}})
            for (std::int32_t i = 0; i < size; ++i) static_cast<char*>(p)[i] = char(g());
        // clang-format on
        cmhdr.n(nslot::NVHDR) = 6, cmhdr.n(nslot::NPTS) = n, cmhdr.l(lslot::LEVEN) = leven;
        std::int32_t nerr = -1;
        EXPECT_EQ((wkiv0(dir / name, x, y, nerr), nerr), 0);
        return test::slurp(dir / name);
    }
    // The message taken as "number|text", once the text is seen to fill room.
    static std::string last(std::size_t room = 300) {
        auto [n, t] = std::pair(std::int32_t{-1}, std::string(room + 1, '#'));
        lastmsg(n, std::span(t).first(room));
        EXPECT_EQ(t.find('#'), room); // filled, and nothing past
        return std::to_string(n) + "|" + t.substr(0, t.find_last_not_of(' ', room - 1) + 1);
    }
};

// rkiv (into given records or the current ones), a trace and pieces read every word and bit back
// from either byte order; the arrays' room past NPTS stays; a trace writes the same bytes back; a
// run of pieces past NPTS is refused, and their handle given back.
TEST_F(Rkiv, BothByteOrdersEvenAndUnevenGiveBackEveryWordAndBit) {
    for (const bool leven : {true, false})
        for (const std::int32_t n : {0, 1, 300}) {
            const std::string wrote = write("f.kiv", n, leven, unsigned(n + leven));
            test::spit(dir / "o.kiv", other(wrote));
            const auto [hw, kw] = std::pair(cmhdr, kmhdr);
            for (const bool swap : {false, true}) {
                const std::string file = d + (swap ? "o.kiv" : "f.kiv");
                std::vector<float> y2(n + 2, 5.0F), x2(leven ? 0 : n + 1, 5.0F);
                auto [swapped, nerr] = std::pair(!swap, std::int32_t{-1});
                if (swap)
                    rkiv(file, h, k, y2, x2, swapped, nerr);
                else
                    newhdr(), rkiv(file, y2, x2, swapped, nerr), h = cmhdr, k = kmhdr;
                EXPECT_TRUE(nerr == 0 && swapped == swap && holds(y2, y, 2) &&
                            (leven || holds(x2, x, 1)) &&
                            std::memcmp(&h, &hw, 4 * kHdrNumWords) == 0 && k.khdr == kw.khdr)
                    << leven << swap << n;
                Trace t = newtrace();
                swapped = !swap;
                ASSERT_EQ(readtrace(file, t, swapped), 0);
                EXPECT_TRUE(swapped == swap && holds(t.y, y, 0) &&
                            (leven ? t.x.empty() : holds(t.x, x, 0)) && t.hdr.undfflt == kUndfFlt)
                    << leven << swap << n;
                // Written back by name, or (other order) in a directory held open; never left
                // from the round before.
                std::filesystem::remove(d + "t.kiv");
                const int dfd = ::open(d.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                int err = -1;
                ASSERT_EQ(swap ? writetrace(KivPlace{dfd, d.c_str(), "t.kiv"}, t, err)
                               : writetrace(d + "t.kiv", t),
                          0);
                ::close(dfd);
                EXPECT_TRUE(test::slurp(d + "t.kiv") == wrote) << leven << swap << n;
                const int fd = test::lowestfd();
                {
                    KivSamples part;
                    swapped = !swap, h = CmHdr{}, k = KmHdr{};
                    ASSERT_FALSE(part.open(file, h, k, swapped));
                    EXPECT_TRUE(swapped == swap && part.size() == std::size_t(n) &&
                                std::memcmp(&h, &hw, 4 * kHdrNumWords) == 0 && k.khdr == kw.khdr);
                    const std::int32_t one = std::min(n, 1), last = n - one;
                    for (const auto& [first, len] :
                         {std::pair{0, n}, {last, one}, {n / 17, n / 3}, {n, 0}}) {
                        std::vector<float> got(std::size_t(len), 5.0F);
                        ASSERT_FALSE(part.read(first, got)) << first;
                        EXPECT_TRUE(holds(got, {y.begin() + first, y.begin() + first + len}, 0));
                    }
                    std::vector<float> past(2);
                    EXPECT_EQ(part.read(last, past).number, kMsgKivSpan);
                    EXPECT_EQ(part.read(n + 1, std::span(past).first(0)).number, kMsgKivSpan);
                }
                EXPECT_EQ(fd, test::lowestfd()) << leven << swap << n;
            }
        }
}

// The header check's refusals are the header reader's (kivhdr_test); here the array spans. Arrays
// that disagree are refused before a trace is written; a failed read changes nothing.
TEST_F(Rkiv, RefusalsLeaveHeaderArraysAndDescriptorsAsTheyWere) {
    test::spit(dir / "even.kiv", other(write("even.kiv", 4, true, 1)));
    write("uneven.kiv", 4, false, 2);
    // clang-format off
    const std::string t1417 = "ERROR 1417: An array is shorter than the KIV file's sample count NPTS: " + d;
    const struct { std::string file; std::size_t ny, nx; std::string want; } cases[] = {
        {"even.kiv", 3, 0, t1417 + "even.kiv (NPTS = 4, yarray holds 3)"}, {"uneven.kiv", 4, 3, t1417 + "uneven.kiv (NPTS = 4, xarray holds 3)"}};
    // clang-format on
    for (const auto& c : cases) {
        std::vector<float> y2(c.ny, 5.0F), x2(c.nx, 5.0F);
        auto [swapped, nerr] = std::pair(true, std::int32_t{0});
        const int fd = test::lowestfd();
        rkiv(d + c.file, h, k, y2, x2, swapped, nerr);
        EXPECT_EQ(last(), std::to_string(nerr) + "|" + c.want);
        swapped = true;
        EXPECT_EQ(test::shown(loadkiv(d + c.file, h, k, swapped,
                                      [&](std::size_t, bool, std::span<float>& ys,
                                          std::span<float>& xs) { ys = y2, xs = x2; })),
                  test::posted(0));
        EXPECT_TRUE(!swapped && h.nhdr == CmHdr{}.nhdr && k.khdr == KmHdr{}.khdr &&
                    fd == test::lowestfd() && holds(y2, {}, c.ny) && holds(x2, {}, c.nx))
            << c.file;
    }
    // Pieces of a file that is not KIV are refused (the header reader's failure); opening another
    // file lets the first go.
    KivSamples part;
    test::spit(dir / "short.kiv", std::string(100, 'x'));
    bool sw = true;
    const Failure f = part.open(d + "short.kiv", h, k, sw);
    EXPECT_TRUE(f.number == kMsgKivShort && !sw && part.size() == 0) << f.text;
    const int fd = test::lowestfd();
    ASSERT_FALSE(part.open(d + "uneven.kiv", h, k, sw));
    ASSERT_FALSE(part.open(d + "uneven.kiv", h, k, sw));
    EXPECT_EQ(test::lowestfd(), fd + 1);
    std::vector<float> three(3);
    ASSERT_FALSE(part.read(0, three));
    EXPECT_EQ(std::memcmp(three.data(), y.data(), 12), 0);
    zsetio([](int, void*, std::size_t) -> long { return errno = EIO, -1; }, nullptr); // reads fail
    auto [swapped, nerr] = std::pair(false, std::int32_t{0});
    h.n(nslot::NPTS) = 77; // kept: the caller's header changes only on success
    rkivhdr(d + "even.kiv", h, k, swapped, nerr);
    zsetio(nullptr, nullptr);
    EXPECT_EQ(last() + std::to_string(h.n(nslot::NPTS)),
              "1415|ERROR 1415: KIV file header cannot be read: " + d + "even.kiv77");
    h = CmHdr{}, k = KmHdr{};
    // Cut between its header and its samples, as when rewritten meanwhile: 1418, nothing kept.
    write("cut.kiv", 4, true, 3);
    std::vector<float> y3(4);
    const auto cut = [&](std::size_t, bool, std::span<float>& ys, std::span<float>&) {
        std::filesystem::resize_file(dir / "cut.kiv", 4 * kHdrWords + 8);
        ys = y3;
    };
    swapped = true;
    EXPECT_EQ(readkiv(d + "cut.kiv", h, k, swapped, cut), kMsgKivData);
    EXPECT_EQ(last(), "1418|ERROR 1418: KIV file samples cannot be read: " + d + "cut.kiv");
    EXPECT_TRUE(!swapped && h.nhdr == CmHdr{}.nhdr && k.khdr == KmHdr{}.khdr);
    Trace t = newtrace();
    EXPECT_EQ(std::memcmp(&t.hdr, &(newhdr(), cmhdr), sizeof t.hdr), 0);
    // NPTS the longer array's; the writer's message is dff_test's.
    for (const auto& [ny, nx, nerr] : {std::array{3, 2, 1402}, {2, 3, 1401}}) {
        t.y.assign(std::size_t(ny), 1.0F), t.x.assign(std::size_t(nx), 2.0F);
        EXPECT_EQ(writetrace(d + "n.kiv", t), nerr);
        EXPECT_EQ(test::shown(savetrace(d + "n.kiv", t)), test::posted(0));
        EXPECT_FALSE(std::filesystem::exists(dir / "n.kiv"));
    }
}

} // namespace
