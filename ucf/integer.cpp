// SPDX-License-Identifier: Apache-2.0
// The one integer formatter: co's integer fields and bot's texts both write through it.
#include "ucf/ucf.h"

#include <algorithm>
#include <array>

namespace kivf {

void formatinteger(std::int32_t value, std::span<char> field) {
    std::array<char, 12> buf{};
    std::size_t n = 0;
    std::int64_t v = value; // the most negative value has no 32-bit opposite
    const bool negative = v < 0;
    if (negative) v = -v;
    do {
        buf[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    if (negative) buf[n++] = '-';
    if (n > field.size()) {
        std::fill(field.begin(), field.end(), '*');
        return;
    }
    const std::size_t pad = field.size() - n;
    std::fill_n(field.begin(), pad, ' ');
    for (std::size_t i = 0; i < n; ++i) field[pad + i] = buf[n - 1 - i];
}

} // namespace kivf
