// SPDX-License-Identifier: Apache-2.0
// wfdxlate's dialogue: it asks for one wfdisc file and converts each record
// in two steps, decoding the line and converting the decoded record into a
// KIV file, with fixed working storage.
#pragma once

#include "bot/bot.h"
#include "bot/numbers.h"
#include "ucf/ucf.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace kivf::wfdx {

inline constexpr std::size_t kLineLen = 210; // characters of a record that count
inline constexpr std::size_t kTokens = 30;   // token slots; later tokens are ignored
inline constexpr std::size_t kTokenLen = 30; // characters kept of a token
inline constexpr std::int32_t kMaxPts = 90000;
inline constexpr std::size_t kNameLen = 30; // typed wfdisc name, sample path

// Decoded values of the current record. Static and reused; every field a
// record needs is set from that record or the record is refused.
struct Record {
    Text<kLineLen> inline_;                   // the record as read
    std::array<Text<kTokenLen>, kTokens> var; // token slots
    std::array<std::size_t, kTokens> varpos;  // where each token starts in the record
    std::array<std::size_t, kTokens> varlen;  // its full length
    std::int32_t ntok;                        // tokens of this record (at most 30 kept)
    std::int32_t nzyear, nzjday;
    double start;          // start time in seconds, as written (never a 32-bit float)
    std::int32_t startsec; // whole seconds of the day of the start time, 0..86399
    std::int32_t startms;  // its milliseconds, 0..999
    Text<8> kstnm, kcmpnm;
    std::int32_t npts;
    float rate; // samples a second, as decoded
    Text<kTokenLen> infile;
};

enum class Decoded { ok, blank, refused };

// Decode one line: its first kLineLen characters count, and one more (when
// given) tells whether the sample path goes on past them. A refusal leaves its message (type ERROR,
// converter numbers) in the message buffer, naming the line number and the token.
Decoded decode(Record& r, std::string_view line, std::int32_t lineno);

// Load the samples, fill a fresh header and write the KIV file. False when
// the record was not converted; its message has then been printed.
bool convert(Record& r, std::int32_t lineno);

// The wfdisc file being read: no record's output may replace it.
void guard(const char* wfdisc);

// Print the message in the buffer on the terminal.
void report();

// Run the dialogue; returns the exit status.
int dialogue();

} // namespace kivf::wfdx
