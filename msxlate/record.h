// One miniSEED record decoded alone, in the bytes it has and no others; and
// libmseed's own log lines, taken into our messages rather than printed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <libmseed.h>
#include <string>

namespace kivf::msx {

// How far past the bytes it is given libmseed may read while finding or
// parsing a record: blockette offsets and lengths of 16 bits each.
inline constexpr std::size_t kBeyond = 2 * 65536 + 256;

// What one record holds.
struct Decoded {
    enum Kind { samples, note, refused } kind = refused;
    std::int32_t number = 0;  // the note's or refusal's message
    std::string why;          // its particulars
    std::int64_t rounded = 0; // samples whose value changed as 32-bit floats
};

// The record of exactly len bytes at rec, alone: decoded into msr (made or
// reused) with its samples 32-bit floats, or why not. Nothing outside the
// len bytes is read, whatever its header says.
Decoded decoderecord(const char* rec, int len, MSRecord*& msr);

// How many samples of the encoding room bytes of data can hold; -1 when
// the encoding is not one that is known.
std::int64_t capacity(int encoding, std::int64_t room);

// Why a record length of len bytes, more than any record has, is refused.
std::string overlong(int len);

// Route libmseed's own log lines here; done once before any other libmseed
// call. takelogged() returns what it said since last taken, joined by "; ".
void capturelog();
std::string takelogged();

} // namespace kivf::msx
