// SPDX-License-Identifier: Apache-2.0
// Datatype e1: blocks decoded in memory that ends where they do (the public example, hand-made
// packet words, refusals); records read from real files in pieces: corrupted in every part of a
// block, many blocks of every sort across piece boundaries, failed reads.
#include "e1encode.h"

#include "wfdxlate/e1.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/mman.h>
#include <tuple>
#include <unistd.h>

namespace {

using namespace kivf::wfdx;
using namespace e1enc;

using Samples = std::vector<std::int32_t>;

// A block decoded right before an unreadable page: its samples when it has no fault.
Samples decoded(const std::string& block, E1Block& b) {
    static E1Samples s;
    const Guarded g(block);
    b = e1decode(g.room, s);
    return b.fault == E1Fault::none ? Samples(s.begin(), s.begin() + b.count) : Samples{};
}

TEST(E1Block, BlocksDecodeToTheirSamplesOrAreRefusedAndNeverReadPastTheirBytes) {
    using F = E1Fault;
    std::vector<std::tuple<std::string, F, Samples>> cases; // block, fault, samples
    // Words packed by hand, prefix then values from the high bits down; then all in one block.
    const std::pair<std::string, Samples> kinds[] = {
        {"401fe00ff804c99c", {-256, 255, 0, -1, 1, 100, -100}}, // 0: 7 x 9 bits
        {"a007ffff", {-512, 511, -1}},                          // 10: 3 x 10
        {"c80fc07e", {-64, 63, 0, -2}},                         // 1100: 4 x 7
        {"d8007ff005ffb000", {-2048, 2047, 5, -5, 0}},          // 1101: 5 x 12
        {"e8000fffc000ffff", {-16384, 16383, 1, -1}},           // 1110: 4 x 15
        {"f8000000", {-(1 << 27)}},                             // 1111: 1 x 28
        {"f7ffffff", {(1 << 27) - 1}}};
    std::string all;
    Samples values;
    for (const auto& [hex, want] : kinds) {
        const std::string w = hexbytes(hex);
        cases.push_back({header(8 + w.size(), want.size(), 0, want.back()) + w, F::none, want});
        all += w, values.insert(values.end(), want.begin(), want.end());
    }
    // clang-format off
    const Samples ends = {INT32_MIN, INT32_MAX, -1, 0, 123456789, -8388608};
    cases.insert(cases.end(), {
        {header(8 + all.size(), values.size(), 0, values.back()) + all, F::none, values},
        {hexbytes(kExample), F::none, kExampleSamples},
        {plain(ends, 0x10, 1), F::none, ends}, {plain(ends, 0xF3, 1), F::none, ends}, // plain whatever the differences
        {header(8, 0, 0, 77), F::none, {}}, // empty: nothing to check
        {header(12, 0, 0, 0) + hexbytes("c0000000"), F::empty, {}}, {plain({}, 0x10, 1), F::empty, {}},
        {header(56, 0, 0, 0), F::empty, {}}, // from the header alone, before its bytes are looked for
        {plain({7}), F::none, {7}}, {header(12, 1, 0x10, 6) + plain({7}).substr(8), F::check, {}},
        {header(12, 1, 0, 6) + hexbytes("f0000007"), F::check, {}}, {header(12, 1, 0, 7) + hexbytes("f0000007"), F::none, {7}},
        {header(12, 7, 0, 0) + hexbytes("00000000"), F::overrun, {}}, // two-word packets in one word
        {header(12, 5, 0, 0) + hexbytes("d0000000"), F::overrun, {}}, {header(12, 4, 0, 0) + hexbytes("e0000000"), F::overrun, {}},
        {hexbytes(kExample).substr(0, 55), F::cut, {}}, {hexbytes("003800"), F::cut, {}}});
    // clang-format on
    for (const auto& [block, fault, want] : cases) {
        E1Block b;
        EXPECT_EQ(decoded(block, b), want) << block.size() << " " << e1reason(b);
        EXPECT_EQ(b.fault, fault) << block.size() << " " << e1reason(b);
        EXPECT_TRUE(fault != F::none || (e1reason(b).empty() && b.length == block.size()));
    }
}

// A file of the given bytes, in memory.
struct File {
    const int fd = ::memfd_create("s.w", MFD_CLOEXEC);
    explicit File(const std::string& b) {
        EXPECT_EQ(::write(fd, b.data(), b.size()), long(b.size()));
    }
    ~File() { ::close(fd); }
};

TEST(E1Read, EveryPartOfABlockCorruptedIsRefusedAtItsByte) {
    const auto last = extremes(20, 40, 2);
    const std::string a = block(extremes(9, 40, 1), 2), b = hexbytes(kExample), c = block(last, 1),
                      lead = "sixteen bytes of"; // the record: byte 16
    ASSERT_TRUE(!a.empty() && !c.empty() && (last.back() & 0xFFFFFF) != 0);
    const std::size_t at = lead.size() + a.size();
    // At byte of b (or what follows), bytes set there (none: the file ends there); samples read
    // (100: the record ends inside c).
    // clang-format off
    const struct Case { std::size_t byte; std::string set, reason; std::size_t n = 120; } cases[] = {
        {1, "\x35", "its length 53 is not a multiple of 4"}, {0, std::string("\0\x04", 2), "its length 4 is less than its 8-byte header"},
        {3, "\x29", "its packets hold 40 of its 41 samples"}, {4, "\x05", "it has 5 differences to undo, more than 4"},
        {4, "\x17", "it has 7 differences to undo, more than 4"}, {4, "\x11", "its 56 bytes cannot hold its 40 plain samples"},
        {2, std::string(2, '\0'), "it has no samples, yet its length 56 is more than its 8-byte header"},
        {7, "\x9b", "check value 411 is not the last sample 412"}, {5, "\x80", "check value -8388196 is not the last sample 412"},
        {52, std::string("\0\0\0\x06", 4), "the two-word packet at its byte 52 runs past its 56 bytes"},
        {3, "", "the file ends after 3 of its 8 header bytes"}, {30, "", "the file ends after 30 of its 56 bytes"},
        {0, "", "the file ends there, after 40 of 120 samples"},
        {56 + 5, std::string(3, '\0'), "check value 0 is not the last sample " + std::to_string(last.back()), 100}};
    // clang-format on
    for (const Case& k : cases) {
        std::string f = lead + a + b + c;
        k.set.empty() ? f.resize(at + k.byte) : void(f.replace(at + k.byte, k.set.size(), k.set));
        File file(f);
        std::vector<float> out;
        E1Read r;
        EXPECT_FALSE(reade1(file.fd, 16, k.n, out, r)) << k.reason;
        EXPECT_EQ(std::tuple(r.reason, r.at, r.err),
                  std::tuple(k.reason, std::int64_t(at + (k.byte >= b.size() ? b.size() : 0)), 0));
    }
}

// A record of many blocks of every sort, its samples, and where each block starts: packed of one
// kind or the best, 0 to 4 differences, plain, padded, empty; the last holds samples.
struct Record {
    std::string bytes;
    std::vector<std::int32_t> samples;
    std::vector<std::size_t> starts;
};
Record record(std::size_t blocks, std::uint32_t seed) {
    std::mt19937 g(seed);
    Record r;
    for (std::size_t i = 0; i < blocks; ++i) {
        const std::size_t n = g() % 8 == 0 && i + 1 < blocks ? 0 : 1 + g() % 3000;
        const int d = static_cast<int>(g() % 5), sort = static_cast<int>(g() % 8);
        const std::size_t pad = n == 0 ? 0 : g() % 3; // an empty block is its header alone
        const int width = kKinds[sort < 6 ? sort : i % 6].width; // its kind's, or any
        const auto s = summed(extremes(width, n, g()), d);
        const std::string blk = sort < 7 ? block(s, d, sort < 6 ? sort : kBest, pad)
                                         : plain(s, 0x10 | static_cast<unsigned>(d), pad);
        r.starts.push_back(r.bytes.size()), r.bytes += blk;
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
    for (const std::size_t size :
         {kE1MinPiece, kE1MinPiece + 1, 2 * kE1MinPiece + 12, std::size_t{0}}) {
        const Guarded piece(size); // never read into past its end; 0: the process's scratch area
        std::vector<float> out{1.5f};
        E1Read r;
        EXPECT_TRUE(size ? reade1(file.fd, 1001, n, out, r, piece.room)
                         : reade1(file.fd, 1001, n, out, r))
            << r.reason;
        EXPECT_EQ(r.used, static_cast<std::int64_t>(rec.bytes.size())) << size;
        EXPECT_TRUE(out == want) << size; // one mismatch would print millions
    }
    // 16384 samples asked: 4 bytes a sample are a whole piece, which the first read still takes.
    ASSERT_GT(n, 16384U);
    const Guarded room(kE1MinPiece);
    std::vector<float> first;
    E1Read r16;
    EXPECT_TRUE(reade1(file.fd, 1001, 16384, first, r16, room.room) &&
                std::equal(first.begin(), first.end(), rec.samples.begin()) &&
                first.size() == 16384);
    // A fault far in is placed by the bytes of the pieces before it.
    for (std::size_t k : {std::size_t{1}, std::size_t{333}, rec.starts.size() - 1}) {
        std::string bad = lead + rec.bytes;
        std::size_t at = 1001 + rec.starts[k];
        while (bad[at + 2] == 0 && bad[at + 3] == 0) at = 1001 + rec.starts[++k]; // holds samples
        bad[at + 7] = static_cast<char>(bad[at + 7] ^ 1);
        const File broken(bad);
        const Guarded piece(kE1MinPiece);
        std::vector<float> out;
        E1Read r;
        EXPECT_FALSE(reade1(broken.fd, 1001, n, out, r, piece.room));
        EXPECT_EQ(std::pair(r.at, r.reason.substr(0, 12)),
                  std::pair(std::int64_t(at), std::string("check value ")))
            << k;
    }
    // No samples: nothing is read; a failed read says why.
    const int dir = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::vector<float> out{2.0f};
    E1Read r;
    EXPECT_TRUE(reade1(dir, 12, 0, out, r)); // never read
    EXPECT_EQ(r.used + static_cast<std::int64_t>(out.size()), 1);
    EXPECT_FALSE(reade1(dir, 12, 1, out, r));
    EXPECT_EQ(std::tuple(r.err, r.reason, r.at), std::tuple(EISDIR, std::strerror(EISDIR), 12));
    ::close(dir);
}

} // namespace
