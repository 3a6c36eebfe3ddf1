// Tokens and start times of wfdisc lines.
#include "wfdxlate/wfdisc.h"

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

bool dayseconds(double start, std::int32_t& sec, std::int32_t& ms) {
    std::int64_t days = 0;
    std::int32_t us = 0;
    return dayseconds(start, days, sec, ms, us);
}

bool dayseconds(double start, std::int64_t& days, std::int32_t& sec, std::int32_t& ms,
                std::int32_t& us) {
    // Microseconds must be exact in a double: 2^53 of them at most.
    constexpr double limit = 9007199254.0;
    if (!(std::fabs(start) < limit)) return false;
    const auto all = static_cast<std::int64_t>(std::llround(start * 1e6));
    std::int64_t whole = all / 1000000, frac = all % 1000000;
    if (frac < 0) { // floor for times before the epoch
        frac += 1000000;
        --whole;
    }
    std::int64_t day = whole % 86400;
    if (day < 0) day += 86400;
    days = (whole - day) / 86400;
    sec = static_cast<std::int32_t>(day);
    ms = static_cast<std::int32_t>(frac / 1000);
    us = static_cast<std::int32_t>(frac % 1000);
    return true;
}

} // namespace kivf::wfdx
