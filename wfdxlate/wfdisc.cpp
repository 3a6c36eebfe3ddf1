// SPDX-License-Identifier: Apache-2.0
// Tokens and start times of wfdisc lines.
#include "wfdxlate/wfdisc.h"

#include "dff/times.h"

#include <cmath>

namespace kivf::wfdx {

std::size_t split(std::string_view text, std::string_view seps, std::span<std::string_view> out) {
    std::size_t n = 0, i = 0;
    const auto sep = [seps](char c) { return seps.find(c) != std::string_view::npos; };
    while (i < text.size() && n < out.size()) {
        while (i < text.size() && sep(text[i])) ++i;
        const std::size_t b = i;
        while (i < text.size() && !sep(text[i])) ++i;
        if (i > b) out[n++] = text.substr(b, i - b);
    }
    return n;
}

bool startmicros(double start, std::int64_t& us) {
    // Microseconds must be exact in a double: 2^53 of them at most.
    constexpr double limit = 9007199254.0;
    if (!(std::fabs(start) < limit)) return false;
    us = static_cast<std::int64_t>(std::llround(start * 1e6));
    return true;
}

bool dayseconds(double start, std::int32_t& sec, std::int32_t& ms) {
    std::int64_t us;
    if (!startmicros(start, us)) return false;
    const Instant t = splitmicros(us);
    sec = (t.hour * 60 + t.minute) * 60 + t.second;
    ms = t.msec;
    return true;
}

} // namespace kivf::wfdx
