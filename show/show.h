// SPDX-License-Identifier: Apache-2.0
// How the members of a catalogue list are shown for one header read from a
// file: the listing that kivhdr prints and the Python module returns, and its
// pieces.
#pragma once

#include "dff/dff.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kivf::show {

// Name column width: the longest field or auxiliary name is 8 characters.
inline constexpr std::size_t kNameWidth = 8;

// Position (1-based) of a list in the catalogue, any letter case; 0 when none.
std::int32_t findlist(std::string_view name);

// Names that only --field shows, in upper case: the first sample's time (the
// reference time plus B) and the last one's (starttime and endtime: of an
// evenly sampled file from NPTS and the nominal interval, E playing no part).
// They are in no catalogue list (one is longer than a field name).
inline constexpr std::array<std::string_view, 2> kTimeNames = {"STARTTIME", "ENDTIME"};

// The value of one list member (a field name or an auxiliary name) or of a
// name of kTimeNames, as shown; false when the value is undefined (out is then
// empty).
bool value(std::string_view name, const CmHdr& h, const KmHdr& k, std::string_view file,
           std::string& out);

// Append the listing of one header to out: a line "FILENAME  file", a line
// "KSTCMP  station component" when either is set (the other shown as
// "undefined"), then one
// line per member of the list with a defined value (every member when all),
// the name left-justified in kNameWidth columns, two blanks, the value.
void listing(std::int32_t list, const CmHdr& h, const KmHdr& k, std::string_view file, bool all,
             std::string& out);

// Whether file reaches the system exactly as given. The file layer drops
// trailing blanks (it also serves blank-padded fields), so "a.kiv " would list
// a.kiv: such a name, one holding a NUL and one too long for a path are
// refused as the reader refuses a file it cannot open (kMsgKivOpen, the
// message composed, nerr set). An empty name is left to the reader.
bool exactname(std::string_view file, Failure& failed);

// Pieces of the listing.
std::string showfloat(float v);                             // shortest text that reads back exactly
std::string showenum(std::int32_t v);                       // "ITIME   TIME SERIES FILE"
std::string showdate(std::int32_t year, std::int32_t jday); // "2015-03-10 (069)"
std::string showtime(std::int32_t h, std::int32_t m, std::int32_t s, std::int32_t ms);
std::string showname(std::string_view file); // control characters as '?'
// An instant (microseconds since 1970) as "2017-03-08T00:00:00.019750Z", the
// calendar proleptic Gregorian; false, out empty, outside years 0000-9999.
bool showmicros(std::int64_t us, std::string& out);

} // namespace kivf::show
