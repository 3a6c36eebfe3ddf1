// Datatype e1 blocks decoded in memory that ends where they do: the public example, hand-made
// packet words, round trips through the tests' own encoder at every kind's extremes, refusals.
#include "e1encode.h"
#include "e1util.h"

#include "wfdxlate/e1.h"

#include <gtest/gtest.h>

namespace {

using namespace kivf::wfdx;
using namespace e1test;
using e1enc::header, e1enc::kKinds, e1enc::plain;
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
    struct Case {
        std::string block;
        F fault;
        Samples want;
    };
    std::vector<Case> cases;
    const auto good = [](int k) { // whole packets of kind k, the last ending the block
        return e1enc::summed(extremes(kKinds[k].width, 2 * kKinds[k].count, 3), 1);
    };
    // One more sample than the packets hold, a two-word packet's first word last.
    const auto over = [&](int k, std::uint32_t prefix) {
        std::string w = e1enc::block(good(k), 1, k).substr(8);
        e1enc::put32(w, prefix);
        return header(8 + w.size(), 2 * kKinds[k].count + 1, 1, 0) + w;
    };
    for (const int k : {1, 3, 4}) cases.push_back({e1enc::block(good(k), 1, k), F::none, good(k)});
    // Words packed by hand, prefix then values from the high bits down; then all in one block,
    // and each with fewer samples than the packet holds: the rest are ignored.
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
        cases.push_back({header(8 + w.size(), 1, 0, want[0]) + w, F::none, {want[0]}});
        all += w, values.insert(values.end(), want.begin(), want.end());
    }
    // clang-format off
    const Samples ends = {INT32_MIN, INT32_MAX, -1, 0, 123456789, -8388608}, three = {INT32_MIN, 5, INT32_MAX};
    cases.insert(cases.end(), {
        {header(8 + all.size(), values.size(), 0, values.back()) + all, F::none, values},
        {hexbytes(kExample), F::none, kExampleSamples},
        {plain(ends, 0x10, 1), F::none, ends}, {plain(ends, 0x14, 1), F::none, ends}, // plain whatever the differences
        {plain(ends, 0xF3, 1), F::none, ends}, {plain(ends, 0x81, 1), F::none, ends},
        {header(8, 0, 0, 77), F::none, {}}, // empty: nothing to check
        {plain(three), F::none, three}, {header(20, 3, 0x10, 7) + plain(three).substr(8), F::check, {}},
        {plain({7}), F::none, {7}}, {header(12, 1, 0x10, 6) + plain({7}).substr(8), F::check, {}},
        {header(12, 1, 0, 6) + hexbytes("f0000007"), F::check, {}}, {header(12, 1, 0, 7) + hexbytes("f0000007"), F::none, {7}},
        {over(1, 0x00000000), F::overrun, {}}, {over(3, 0xD0000000), F::overrun, {}}, {over(4, 0xE0000000), F::overrun, {}},
        {over(0, 0xF0000000).substr(0, e1enc::block(good(0), 1, 0).size()), F::cut, {}},
        {header(12, 5, 0, 0) + hexbytes("c0000000"), F::packets, {}},
        {header(16, 5, 0x10, 0) + hexbytes("0000000000000000"), F::plain, {}}, {hexbytes("003800"), F::cut, {}}});
    // clang-format on
    for (int k = 0; k < static_cast<int>(std::size(kKinds)); ++k) // every kind, 0 to 4 differences
        for (int d = 0; d <= 4; ++d) { // one past whole packets: the last has extra values; padded
            const auto s =
                extremes(kKinds[k].width, 3 * std::size_t(kKinds[k].count) + 1, 7u * k + d);
            cases.push_back(
                {e1enc::block(e1enc::summed(s, d), d, k, 2), F::none, e1enc::summed(s, d)});
        }
    for (const Case& c : cases) {
        E1Block b;
        EXPECT_EQ(decoded(c.block, b), c.want) << c.block.size() << " " << e1reason(b);
        EXPECT_EQ(b.fault, c.fault) << c.block.size() << " " << e1reason(b);
        EXPECT_TRUE(c.fault != F::none || (e1reason(b).empty() && b.length == c.block.size()));
    }
}

} // namespace
