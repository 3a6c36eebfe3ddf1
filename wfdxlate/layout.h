// SPDX-License-Identifier: Apache-2.0
// The wfdisc files of the batch mode: their lines, the CSS 3.0 and CSS 2.8
// column layouts, and one line decoded into a row of values.
#pragma once

#include "xlate/xlate.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace kivf::wfdx {

enum class Schema { automatic, css30, css28 };

inline constexpr std::size_t kLineMax = 1024;  // a line and its end
inline constexpr std::size_t kMaxColumns = 24; // columns looked at; later ones are ignored

// Where sample directories are found in an archive that moved: --root DIR,
// where relative dir columns start, and the --dir-map FROM=TO pairs that
// replace a leading FROM of a dir column, in the order given.
struct DirPlaces {
    std::string root; // empty: the wfdisc file's own directory
    std::vector<std::pair<std::string, std::string>> maps;
};

// --root DIR and --dir-map FROM=TO (either also with '='), as an OwnOption
// takes them: -1 taken, -2 not one of them, else the exit status of a usage
// error (no value, an empty one, or a map without FROM or TO).
int placeoption(DirPlaces& p, std::string_view arg, int argc, char** argv, int& a);

// A wfdisc file being read: its name, the directory its relative sample paths
// start from, the maps of moved directories, and its layout once told.
struct Source {
    std::string_view file; // as named
    std::string dir;       // empty for the working directory
    const DirPlaces* places = nullptr;
    Schema layout = Schema::automatic;
};

// The source of a file named on the command line, in the layout asked for;
// relative sample paths start at places.root when that is given.
Source source(const char* file, Schema schema, const DirPlaces& places);

// The layout of a file from its first non-blank line; automatic when it
// cannot be told.
Schema detect(std::string_view line);

// Whether a line is a record in either layout as far as its columns go: as
// many as the layout needs, with a time and a sample count where it has them.
// What makes a file of wfdisc records, whatever its records hold.
bool parses(std::string_view line);

using xlate::FileId;

// Why a row was refused: its message number and the particulars.
struct Refusal {
    std::int32_t number = 0;
    std::string_view subject, detail;  // shown after the place
    std::int64_t have = -1, want = -1; // counts some messages add
    std::string reason;                // text detail may point into

    // Record a refusal; false, so that a check can return it.
    bool set(std::int32_t n, std::string_view s, std::string_view d = {}, std::int64_t h = -1,
             std::int64_t w = -1);
    // Print it as a message naming the place ("file:line").
    void print(std::string_view at) const;
};

// One wfdisc line decoded: what its KIV file and name are made of. The texts
// point into the line.
struct Row {
    std::string_view sta, chan;                       // whole columns; headers keep 8 bytes
    std::string_view instype, datatype, user0, user1; // user texts empty when absent
    double start = 0, rate = 0, calib = 0;            // start time (s), samples a second, scale
    float interval = 0;                               // seconds between samples, as DELTA holds it
    std::int64_t nsamp = 0, foff = 0;                 // samples, and the byte they start at
    std::int64_t startus = 0;                         // the start, microseconds since 1970
    Instant at;                                       // the start split, to the microsecond
    int samplebytes = 0;                              // bytes of one raw sample
    std::string path;                                 // the sample file
    FileId samplefile;                                // its identity, once opened
    Refusal why;                                      // set when refused
};

// Decode one line of src and find its sample file; nothing is opened. False
// when refused, with row.why set.
bool decoderow(Row& row, const Source& src, std::string_view line);

// One line read into a fixed buffer; the rest of a longer line is skipped,
// and such a line is bad, one holding a NUL nul (and as bad).
enum class Line { ok, eof, bad, nul };
Line readline(std::FILE* f, std::array<char, kLineMax>& buf, std::string_view& line);

// Whether a line holds only blanks, tabs and carriage returns.
bool blankline(std::string_view s);

// A wfdisc file opened for reading, closed when it goes; f is null when it
// cannot be opened or is a directory (errno says why).
struct WfdiscFile {
    std::FILE* f = nullptr;
    const char* why = nullptr; // when f is nullptr: why, or errno says
    explicit WfdiscFile(const char* path);
    ~WfdiscFile();
    WfdiscFile(const WfdiscFile&) = delete;
    WfdiscFile& operator=(const WfdiscFile&) = delete;
};

} // namespace kivf::wfdx
