// Datatype e1: blocks decoded in memory against the public example and
// hand-made packet words, round trips through the tests' own encoder, and
// records read from real files in pieces, corrupted in every part.
#include "e1encode.h"
#include "testutil.h"

#include "wfdxlate/e1.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <numeric>
#include <random>
#include <sys/mman.h>
#include <unistd.h>

namespace {

using namespace kivf::wfdx;
using e1enc::kKinds;

std::string hexbytes(const std::string& hex) {
    std::string b;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        b += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return b;
}

std::span<const std::byte> span(const std::string& b) {
    return std::as_bytes(std::span(b.data(), b.size()));
}

// A block decoded: its samples, and its fault's reason after them when refused.
std::vector<std::int32_t> decoded(const std::string& block, E1Block& b) {
    static E1Samples s;
    b = e1decode(span(block), s);
    return b.fault == E1Fault::none ? std::vector<std::int32_t>(s.begin(), s.begin() + b.count)
                                    : std::vector<std::int32_t>{};
}

const std::string kExample = "003800280100019c90101441783a24b0ee979a24c51cc22d05f57d54200b5000c95e"
                             "56bdc6533aa0777720d1cebfa6528160f04df0000006";
const std::vector<std::int32_t> kExampleSamples = {
    257, 262, 327, 295, 248, 323, 352, 261, 210, 246, 286, 273, 277, 322,
    345, 260, 217, 349, 351, 263, 263, 209, 202, 247, 308, 358, 306, 295,
    327, 292, 221, 234, 291, 210, 165, 247, 269, 329, 406, 412};

TEST(E1Block, ThePublicExampleIsItsFortySamples) {
    E1Block b;
    EXPECT_EQ(decoded(hexbytes(kExample), b), kExampleSamples);
    EXPECT_EQ(e1reason(b), "");
    EXPECT_EQ(b.length, 56u);
    EXPECT_EQ(b.differences, 1);
    // Bytes after the block are the next block's, not this one's.
    EXPECT_EQ(decoded(hexbytes(kExample) + "00080000", b), kExampleSamples);
}

TEST(E1Block, EveryPacketKindFromHandMadeWords) {
    // Words packed by hand, prefix then values from the high bits down.
    const std::vector<std::pair<std::string, std::vector<std::int32_t>>> kinds = {
        {"401fe00ff804c99c", {-256, 255, 0, -1, 1, 100, -100}}, // 0: 7 x 9 bits
        {"a007ffff", {-512, 511, -1}},                          // 10: 3 x 10
        {"c80fc07e", {-64, 63, 0, -2}},                         // 1100: 4 x 7
        {"d8007ff005ffb000", {-2048, 2047, 5, -5, 0}},          // 1101: 5 x 12
        {"e8000fffc000ffff", {-16384, 16383, 1, -1}},           // 1110: 4 x 15
        {"f8000000", {-(1 << 27)}},                             // 1111: 1 x 28
        {"f7ffffff", {(1 << 27) - 1}},
    };
    std::string all;
    std::vector<std::int32_t> values;
    for (const auto& [words, want] : kinds) {
        const std::string w = hexbytes(words);
        E1Block b;
        EXPECT_EQ(decoded(e1enc::header(8 + w.size(), want.size(), 0, want.back()) + w, b), want)
            << words << " " << e1reason(b);
        // Fewer samples than the packet holds: the rest are ignored.
        EXPECT_EQ(decoded(e1enc::header(8 + w.size(), 1, 0, want[0]) + w, b),
                  std::vector<std::int32_t>{want[0]})
            << words;
        all += w;
        values.insert(values.end(), want.begin(), want.end());
    }
    E1Block b; // all kinds in one block, one after the other
    EXPECT_EQ(decoded(e1enc::header(8 + all.size(), values.size(), 0, values.back()) + all, b),
              values);
}

// Values spanning a width: its extremes and some between, n of them.
std::vector<std::int32_t> extremes(int width, std::size_t n, std::uint32_t seed) {
    const std::int32_t hi = static_cast<std::int32_t>((std::int64_t{1} << (width - 1)) - 1);
    std::vector<std::int32_t> v = {-hi - 1, hi, 0, -1, 1, hi - 1, -hi};
    std::mt19937 g(seed);
    std::uniform_int_distribution<std::int32_t> any(-hi - 1, hi);
    while (v.size() < n) v.push_back(any(g));
    v.resize(n);
    return v;
}

TEST(E1Block, EveryKindAndDifferenceCountRoundTripsAtItsWidthsExtremes) {
    for (int k = 0; k < static_cast<int>(std::size(kKinds)); ++k)
        for (int d = 0; d <= 4; ++d) {
            const auto kind = kKinds[k];
            // One past a whole number of packets: the last has extra values.
            const std::size_t n = 3 * static_cast<std::size_t>(kind.count) + 1;
            const auto samples = e1enc::summed(extremes(kind.width, n, 7u * k + d), d);
            const std::string block = e1enc::block(samples, d, k, 2);
            ASSERT_FALSE(block.empty()) << kind.width;
            E1Block b;
            EXPECT_EQ(decoded(block, b), samples) << kind.width << " " << d << " " << e1reason(b);
            EXPECT_EQ(b.length, block.size());
        }
}

TEST(E1Block, PlainBlocksAreTheirWordsWhateverTheDifferenceCount) {
    const std::vector<std::int32_t> s = {INT32_MIN, INT32_MAX, -1, 0, 123456789, -8388608};
    for (const unsigned flags : {0x10u, 0x14u, 0xF3u, 0x81u}) {
        E1Block b;
        EXPECT_EQ(decoded(e1enc::plain(s, flags, 1), b), s) << flags << " " << e1reason(b);
        EXPECT_TRUE(b.plain);
    }
    E1Block b; // an empty block, nothing to check
    EXPECT_EQ(decoded(e1enc::header(8, 0, 0, 77), b), std::vector<std::int32_t>{});
    EXPECT_EQ(e1reason(b), "");
}

// Room of n bytes right before an unreadable page: a read or write past it
// stops the test, or makes the system refuse a read into it (EFAULT).
struct Guarded {
    const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)), n, size;
    std::byte* base;
    std::span<std::byte> room;
    explicit Guarded(std::size_t bytes)
        : n(bytes), size((bytes + page - 1) / page * page + page),
          base(static_cast<std::byte*>(
              ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0))) {
        if (base == MAP_FAILED || ::mprotect(base + size - page, page, PROT_NONE) != 0)
            std::abort();
        room = std::span<std::byte>(base + size - page - n, n);
    }
    explicit Guarded(const std::string& b) : Guarded(b.size()) {
        std::memcpy(room.data(), b.data(), b.size());
    }
    ~Guarded() { ::munmap(base, size); }
};

TEST(E1Block, NoBlockIsReadPastItsBytesAndASingleSampleIsChecked) {
    const auto good = [](int k) { // whole packets of kind k, the last ending the block
        return e1enc::block(e1enc::summed(extremes(kKinds[k].width, 2 * kKinds[k].count, 3), 1), 1,
                            k);
    };
    // One more sample than the packets hold, a two-word packet's first word last.
    const auto over = [&](int k, std::uint32_t prefix) {
        const std::string b = good(k);
        std::string w = b.substr(8);
        e1enc::put32(w, prefix);
        return e1enc::header(b.size() + 4, 2 * kKinds[k].count + 1, 1, 0) + w;
    };
    const std::vector<std::int32_t> all = {INT32_MIN, 5, INT32_MAX};
    // clang-format off
    const std::vector<std::pair<std::string, E1Fault>> cases = {
        {e1enc::plain(all), E1Fault::none},
        {e1enc::header(20, 3, 0x10, 7) + e1enc::plain(all).substr(8), E1Fault::check},
        {e1enc::plain({7}), E1Fault::none},
        {e1enc::header(12, 1, 0x10, 6) + e1enc::plain({7}).substr(8), E1Fault::check},
        {e1enc::header(12, 1, 0, 6) + hexbytes("f0000007"), E1Fault::check},
        {e1enc::header(12, 1, 0, 7) + hexbytes("f0000007"), E1Fault::none},
        {good(1), E1Fault::none}, {good(3), E1Fault::none}, {good(4), E1Fault::none},
        {over(1, 0x00000000), E1Fault::overrun}, {over(3, 0xD0000000), E1Fault::overrun}, {over(4, 0xE0000000), E1Fault::overrun},
        {over(0, 0xF0000000).substr(0, good(0).size()), E1Fault::cut},
        {e1enc::header(12, 5, 0, 0) + hexbytes("c0000000"), E1Fault::packets},
        {e1enc::header(16, 5, 0x10, 0) + hexbytes("0000000000000000"), E1Fault::plain},
        {hexbytes("003800"), E1Fault::cut},
    };
    // clang-format on
    for (std::size_t i = 0; i < cases.size(); ++i) {
        ASSERT_GT(cases[i].first.size(), 2u) << i;
        const Guarded g(cases[i].first);
        static E1Samples s;
        const E1Block b = e1decode(g.room, s);
        EXPECT_EQ(b.fault, cases[i].second) << i << " " << e1reason(b);
    }
}

// A file of the given bytes, open for reading.
struct File {
    kivf::test::TempDir dir;
    int fd = -1;
    explicit File(const std::string& bytes) {
        kivf::test::spit(dir / "s.w", bytes);
        fd = ::open((dir / "s.w").c_str(), O_RDONLY | O_CLOEXEC);
    }
    ~File() { ::close(fd); }
};

std::vector<float> floats(const std::vector<std::int32_t>& v) {
    return {v.begin(), v.end()};
}

TEST(E1Read, EveryPartOfABlockCorruptedIsRefusedAtItsByte) {
    const auto last = extremes(20, 40, 2);
    const std::string a = e1enc::block(extremes(9, 40, 1), 2), b = hexbytes(kExample),
                      c = e1enc::block(last, 1);
    ASSERT_FALSE(a.empty() || c.empty());
    ASSERT_NE(last.back() & 0xFFFFFF, 0);
    const std::string lead = "sixteen bytes of"; // the record starts at byte 16
    const std::size_t at = lead.size() + a.size();
    const auto sum = std::accumulate(kExampleSamples.begin(), kExampleSamples.end(), 0);
    struct Case {
        std::size_t byte; // of b and what follows it
        std::string set;  // bytes put there; empty: the file ends at byte
        std::string reason;
        std::size_t n = 120; // samples read; 100: the record ends inside c
    };
    const std::string zeros(3, '\0');
    // clang-format off
    const std::vector<Case> cases = {
        {1, "\x35", "its length 53 is not a multiple of 4"},
        {0, std::string("\0\x04", 2), "its length 4 is less than its 8-byte header"},
        {3, "\x29", "its packets hold 40 of its 41 samples"},
        {4, "\x05", "it has 5 differences to undo, more than 4"},
        {4, "\x17", "it has 7 differences to undo, more than 4"},
        {4, "\x11", "its 56 bytes cannot hold its 40 plain samples"},
        {4, "\x02", "check value 412 is not the last sample " + std::to_string(sum)},
        {7, "\x9b", "check value 411 is not the last sample 412"},
        {5, "\x80", "check value -8388196 is not the last sample 412"},
        {8, "\x91", "check value 412 is not the last sample 428"}, // first value 257 + 16
        {52, std::string("\0\0\0\x06", 4), "the two-word packet at its byte 52 runs past its 56 bytes"},
        {52, std::string("\xd0\0\0\x06", 4), "the two-word packet at its byte 52 runs past its 56 bytes"},
        {52, std::string("\xe0\0\0\x06", 4), "the two-word packet at its byte 52 runs past its 56 bytes"},
        {3, "", "the file ends after 3 of its 8 header bytes"},
        {30, "", "the file ends after 30 of its 56 bytes"},
        {0, "", "the file ends there, after 40 of 120 samples"},
        {56 + 5, zeros, "check value 0 is not the last sample " + std::to_string(last.back()), 100},
    };
    // clang-format on
    for (const Case& k : cases) {
        std::string f = lead + a + b + c;
        if (k.set.empty())
            f.resize(at + k.byte);
        else
            f.replace(at + k.byte, k.set.size(), k.set);
        File file(f);
        std::vector<float> out;
        E1Read r;
        EXPECT_FALSE(reade1(file.fd, 16, k.n, out, r)) << k.reason;
        EXPECT_EQ(r.reason, k.reason);
        EXPECT_EQ(r.at, static_cast<std::int64_t>(at + (k.byte >= b.size() ? b.size() : 0)))
            << k.reason;
        EXPECT_EQ(r.err, 0) << k.reason;
    }
    // Untouched, the same file reads whole: the faults were the changes.
    File file(lead + a + b + c);
    std::vector<float> out;
    E1Read r;
    EXPECT_TRUE(reade1(file.fd, 16, 120, out, r)) << r.reason;
    EXPECT_EQ(r.used, static_cast<std::int64_t>(a.size() + b.size() + c.size()));
    EXPECT_EQ(std::vector<float>(out.begin() + 40, out.begin() + 80), floats(kExampleSamples));
}

// A record of many blocks of every sort, samples as they follow, and where
// each block starts: packed of one kind or the best, 0 to 4 differences,
// plain, padded, empty; the last holds samples.
struct Record {
    std::string bytes;
    std::vector<std::int32_t> samples;
    std::vector<std::size_t> starts;
};
Record record(std::size_t blocks, std::uint32_t seed) {
    std::mt19937 g(seed);
    Record r;
    std::int32_t x = 0;
    for (std::size_t i = 0; i < blocks; ++i) {
        const std::size_t n = g() % 8 == 0 && i + 1 < blocks ? 0 : 1 + g() % 3000;
        const int d = static_cast<int>(g() % 5), sort = static_cast<int>(g() % 8);
        const std::size_t pad = g() % 3;
        std::vector<std::int32_t> s;
        std::string block;
        if (sort < 6) { // one kind: its values at their widths
            s = e1enc::summed(extremes(kKinds[sort].width, n, g()), d);
            block = e1enc::block(s, d, sort, pad);
        } else { // a wandering trace with bursts
            for (std::size_t j = 0; j < n; ++j)
                s.push_back(x += static_cast<std::int32_t>(g() % 201) - 100 +
                                 (g() % 500 == 0 ? static_cast<std::int32_t>(g() % 2000000) : 0));
            block = sort == 6 ? e1enc::block(s, d, e1enc::kBest, pad) : "";
            if (block.empty()) block = e1enc::plain(s, 0x10 | static_cast<unsigned>(d), pad);
        }
        r.starts.push_back(r.bytes.size());
        r.bytes += block;
        r.samples.insert(r.samples.end(), s.begin(), s.end());
    }
    return r;
}

TEST(E1Read, ManyBlocksInPiecesOfAnySizeAndARecordEndingInsideABlock) {
    const Record rec = record(500, 11);
    ASSERT_GT(rec.bytes.size(), 4 * kE1MinPiece); // blocks straddle pieces, many times
    const std::string lead(1001, 'x');
    File file(lead + rec.bytes + hexbytes(kExample)); // a block after the record's
    const std::size_t n = rec.samples.size() - 1;
    std::vector<float> want{1.5f}; // what out held before stays
    want.insert(want.end(), rec.samples.begin(), rec.samples.begin() + static_cast<long>(n));
    for (const std::size_t size : {kE1MinPiece, kE1MinPiece + 1, 2 * kE1MinPiece + 12}) {
        const Guarded piece(size); // never read into past its end
        std::vector<float> out{1.5f};
        E1Read r;
        EXPECT_TRUE(reade1(file.fd, 1001, n, out, r, piece.room)) << r.reason;
        EXPECT_EQ(r.used, static_cast<std::int64_t>(rec.bytes.size())) << size;
        EXPECT_TRUE(out == want) << size; // one mismatch would print millions
    }
    std::vector<float> out; // through the process's own scratch area
    E1Read r;
    EXPECT_TRUE(reade1(file.fd, 1001, n, out, r)) << r.reason;
    EXPECT_EQ(out.size() + 1, want.size());
    EXPECT_TRUE(std::equal(out.begin(), out.end(), want.begin() + 1));
    // A fault far in is placed by the bytes of the pieces before it.
    for (std::size_t k : {std::size_t{1}, std::size_t{333}, rec.starts.size() - 1}) {
        std::string bad = lead + rec.bytes;
        std::size_t at = 1001 + rec.starts[k];
        while (bad[at + 2] == 0 && bad[at + 3] == 0) at = 1001 + rec.starts[++k]; // holds samples
        bad[at + 7] = static_cast<char>(bad[at + 7] ^ 1);
        File broken(bad);
        out.clear();
        const Guarded piece(kE1MinPiece);
        EXPECT_FALSE(reade1(broken.fd, 1001, n, out, r, piece.room));
        EXPECT_EQ(r.at, static_cast<std::int64_t>(at)) << k;
        EXPECT_EQ(r.reason.substr(0, 12), "check value ") << r.reason;
    }
}

TEST(E1Read, NoSamplesReadNothingAndAFailedReadSaysWhy) {
    const int dir = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(dir, 0);
    std::vector<float> out{2.0f};
    E1Read r;
    EXPECT_TRUE(reade1(dir, 12, 0, out, r)); // never read
    EXPECT_EQ(r.used + static_cast<std::int64_t>(out.size()), 1);
    EXPECT_FALSE(reade1(dir, 12, 1, out, r));
    EXPECT_EQ(r.err, EISDIR);
    EXPECT_EQ(r.reason, std::strerror(EISDIR));
    EXPECT_EQ(r.at, 12);
    ::close(dir);
}

} // namespace
