// The wfdisc converter's working storage and its two steps per record:
// decoding one wfdisc line, and converting the decoded record into a KIV file;
// and what the batch mode does the same way (tokens, header fields, times).
#pragma once

#include "bot/bot.h"
#include "bot/numbers.h"
#include "ucf/ucf.h"

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace kivf {
struct CmHdr;
struct KmHdr;
} // namespace kivf

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

// Split text into tokens, runs of characters that are none of seps: the first
// out.size() go into out (views into text, so their positions are known), the
// rest are not looked for. Returns how many were filled.
std::size_t split(std::string_view text, std::string_view seps, std::span<std::string_view> out);

// The header fields every converted record sets, in either mode.
struct Fields {
    std::int32_t npts = 0;
    float interval = 0; // DELTA
    std::int32_t year = 0, jday = 0, hour = 0, minute = 0, second = 0, msec = 0;
    std::string_view station, channel; // the first 8 characters are kept
    std::string_view user0, user1;     // empty: the field stays undefined
};

// Set NPTS, B = 0, DELTA, NZYEAR to NZMSEC, KSTNM, KCMPNM, and KUSER0 and
// KUSER1 when given, in the header records h and k; nothing else changes.
void setfields(CmHdr& h, KmHdr& k, const Fields& v);

// Split a start time into whole seconds of its day and milliseconds: the
// decimal value rounded to the microsecond, truncated to the millisecond.
// False when it cannot be held exactly to the microsecond.
bool dayseconds(double start, std::int32_t& sec, std::int32_t& ms);
// The same with the day it falls on (days since 1970-01-01, negative before)
// and the microseconds after the millisecond (0 to 999).
bool dayseconds(double start, std::int64_t& days, std::int32_t& sec, std::int32_t& ms,
                std::int32_t& us);

// Load the samples, fill a fresh header and write the KIV file. False when
// the record was not converted; its message has then been printed.
bool convert(Record& r, std::int32_t lineno);

// The wfdisc file being read: no record's output may replace it.
void guard(const char* wfdisc);

// Print the message in the buffer on the terminal.
void report();

} // namespace kivf::wfdx
