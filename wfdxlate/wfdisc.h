// SPDX-License-Identifier: Apache-2.0
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

// A start time (seconds since 1970) in microseconds: the decimal value
// rounded to the microsecond. False when it cannot be held exactly to the
// microsecond.
bool startmicros(double start, std::int64_t& us);
// Whole seconds of its day and milliseconds, truncated to the millisecond.
bool dayseconds(double start, std::int32_t& sec, std::int32_t& ms);

} // namespace kivf::wfdx
