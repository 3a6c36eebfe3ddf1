// Datatype e1 blocks decoded in memory: the public example, hand-made packet
// words, round trips through the tests' own encoder, and blocks at the end of
// readable memory.
#include "e1encode.h"
#include "e1util.h"

#include "wfdxlate/e1.h"

#include <gtest/gtest.h>

namespace {

using namespace kivf::wfdx;
using namespace e1test;
using e1enc::kKinds;

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

} // namespace
