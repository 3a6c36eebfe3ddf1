// SPDX-License-Identifier: Apache-2.0
// How the floors below the message system report a failure: one numbered
// error message started and pieces appended to it. Declared here so that bot
// and co need nothing of msg but these; defined in msg, over its composing
// routines.
#pragma once

#include <cstdint>
#include <string_view>

namespace kivf {

// Discard the current message and start error message number; a number of
// 100 or more starts with its catalogue text.
void reporterror(std::int32_t number);
// Append the used part of a text as one piece.
void reportpiece(std::string_view text);
// Append an integer as one piece.
void reportinteger(std::int32_t value);
// Put the used part of a text on a new line.
void reportline(std::string_view text);

} // namespace kivf
