// What every reading of a wfdisc line shares, in the dialogue and in batch
// mode: its tokens, and its start time split as the header holds it.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace kivf::wfdx {

// Split text into tokens, runs of characters that are none of seps: the first
// out.size() go into out (views into text, so their positions are known), the
// rest are not looked for. Returns how many were filled.
std::size_t split(std::string_view text, std::string_view seps, std::span<std::string_view> out);

// Split a start time into whole seconds of its day and milliseconds: the
// decimal value rounded to the microsecond, truncated to the millisecond.
// False when it cannot be held exactly to the microsecond.
bool dayseconds(double start, std::int32_t& sec, std::int32_t& ms);
// The same with the day it falls on (days since 1970-01-01, negative before)
// and the microseconds after the millisecond (0 to 999).
bool dayseconds(double start, std::int64_t& days, std::int32_t& sec, std::int32_t& ms,
                std::int32_t& us);

} // namespace kivf::wfdx
