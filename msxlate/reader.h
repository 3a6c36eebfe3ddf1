// Reading one miniSEED file: its bytes framed into records here, each record
// detected and decoded by libmseed, its samples made 32-bit floats (so that
// records of one channel in different encodings join) and joined into the file's
// trace list (segments by network, station, location and channel, within
// half a sample of the next expected one, in time order whatever the
// records' order). What cannot be read is said as numbered messages naming
// the file and the byte offset; the rest of the file goes on.
#pragma once

#include "bot/numbers.h"
#include "msxlate/record.h"
#include "xlate/xlate.h"

#include <cstdint>
#include <libmseed.h>
#include <string>
#include <string_view>

namespace kivf::msx {

// What reading one file found.
struct FileRead {
    std::int64_t records = 0, skipped = 0, refused = 0; // records joined, skipped; refusals
    std::int64_t bytes = 0;                             // bytes read
    std::int64_t rounded = 0; // samples whose value changed as 32-bit floats
    bool whole = false;       // the file itself was refused: its list is empty
};

class Gathered; // segments.h

// How a file is read: memory allowed for its samples (measured again before
// a file is refused for them), notes shown or not, the progress line to move
// on, where the segments' stats are gathered as records join them.
struct ReadAs {
    std::uint64_t budget = UINT64_MAX;
    bool notes = true;
    xlate::Progress* progress = nullptr;
    Gathered* gathered = nullptr;
};

// Read every record of the file open as fd, named file, into list (empty
// when given). Messages are printed as they arise.
FileRead readfile(int fd, std::string_view file, MSTraceList* list, const ReadAs& as);

// The memory more samples may take: what the system has available and what
// this process's limits leave.
std::uint64_t memorybudget();

// "file at byte N", as messages name a place.
std::string byteat(std::string_view file, std::int64_t offset);

} // namespace kivf::msx
