// The batch mode's output names: STA.CHAN.YYYY.DDD.HH.MM.SS.mmm.kiv made from
// a row, and the checks that keep an output from replacing what the run has
// written or reads.
#pragma once

#include "wfdxlate/layout.h"
#include "wfdxlate/written.h"

#include <array>
#include <cstdint>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <vector>

namespace kivf::wfdx {

// An output file name, NUL-terminated.
using OutName = std::array<char, 96>;

// The first 8 bytes of a name for the file name, cut back to the start of a
// UTF-8 character when the cut would split one (the header keeps all 8).
std::string_view charcut(std::string_view s);

// A name that is safe as part of a file name: no path separator, nothing
// unprintable, and not empty.
bool fitname(std::string_view s);

// Whether the row's station and channel can make a file name; false with the
// refusal set in the row.
bool nameable(Row& row);

// The output name of a decoded row.
void outname(const Row& row, OutName& name);

// Where a run's outputs go, the names written so far with the place that
// wrote each, and the files no output may replace.
struct Outputs {
    std::string dir; // as given, for showing names; empty for the working directory
    int dirfd = AT_FDCWD;
    // A place is a line's number counted over all files of the run, from 1.
    Written written;
    char** files = nullptr;                 // the wfdisc files, as named
    std::vector<std::uint64_t> linesbefore; // lines of the run before each file
    std::vector<FileId> inputs;             // every wfdisc file named
};

// Open the output directory named in out.dir, made first with its parents
// (mode 0777 less the umask) when it is missing and make is set. 0, or the
// errno of what failed. A missing directory that is not made leaves dirfd at
// -1: nothing in it can be replaced.
int openoutdir(Outputs& out, bool make);

// An output's name as the user will find it: under the directory given.
std::string outpath(const Outputs& out, const char* name);

// "file:line" of a place, or "an earlier line" beyond the places kept.
std::string lineof(const Outputs& out, std::uint64_t place);

// Why a row's output may not be written: it would replace a wfdisc file of
// this run (kMsgBatchClobber) or the row's own sample file (kMsgBatchOwn); else 0.
std::int32_t clobbers(const Outputs& out, const char* name, FileId samplefile);

// The place that wrote the row's sample file when it is an output of this
// run (its samples would be a header and floats, not the raw data), else 0.
std::uint64_t rewritten(const Outputs& out, const std::string& path, FileId samplefile);

// Why an input open as fd is refused: a device other than a terminal
// (/dev/zero or a disk would be read for ever), said as "(a ... device)";
// nullptr for a file, pipe, FIFO or terminal.
const char* devicewhy(int fd);

} // namespace kivf::wfdx
