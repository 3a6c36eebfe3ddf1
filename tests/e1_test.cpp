// SPDX-License-Identifier: Apache-2.0
// Datatype e1 blocks decoded in memory that ends where they do: the public example, hand-made
// packet words, round trips through the tests' own encoder at every kind's extremes, refusals.
#include "e1encode.h"

#include "wfdxlate/e1.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

using namespace kivf::wfdx;
using namespace e1enc;
using Samples = std::vector<std::int32_t>;

// A block decoded right before an unreadable page: its samples when it has no fault.
Samples decoded(const std::string& block, E1Block& b) {
    static E1Samples s;
    const Guarded g(block.size());
    block.copy(reinterpret_cast<char*>(g.room.data()), block.size());
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
        {hexbytes(kExample).substr(0, 55), F::cut, {}},
        {header(12, 5, 0, 0) + hexbytes("c0000000"), F::packets, {}},
        {header(16, 5, 0x10, 0) + hexbytes("0000000000000000"), F::plain, {}}, {hexbytes("003800"), F::cut, {}}});
    // clang-format on
    for (int k = 0; k < static_cast<int>(std::size(kKinds)); ++k) // every kind, 0 to 4 differences
        for (int d = 0; d <= 4; ++d) { // one past whole packets: the last has extra values; padded
            const auto s =
                extremes(kKinds[k].width, 3 * std::size_t(kKinds[k].count) + 1, 7u * k + d);
            cases.push_back({block(summed(s, d), d, k, 2), F::none, summed(s, d)});
        }
    for (const auto& [block, fault, want] : cases) {
        E1Block b;
        EXPECT_EQ(decoded(block, b), want) << block.size() << " " << e1reason(b);
        EXPECT_EQ(b.fault, fault) << block.size() << " " << e1reason(b);
        EXPECT_TRUE(fault != F::none || (e1reason(b).empty() && b.length == block.size()));
    }
}

} // namespace
