// SPDX-License-Identifier: Apache-2.0
// What every converter shares, whatever it reads: the command line, the
// printer of numbered messages and the progress line, output names and the
// files they may not replace, the names written in a run, the header fields
// every converted trace sets and derives, the writer call and the signals
// that must not leave a temporary file behind. Programs depend on this,
// never on each other.
#pragma once

#include "bot/numbers.h"
#include "dff/dff.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <functional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace kivf::xlate {

// ---- The command line ----

// A program's own option, as the argument arg at argv[a]; it may take its
// value from argv[a + 1] and move a on. Returns -1 when taken, -2 when it is
// none of the program's, else the exit status (a usage error).
using OwnOption = std::function<int(std::string_view arg, int argc, char** argv, int& a)>;

// What every program's command line takes: --help, --version, -- and the
// file names among the options in any order, moved to the front of argv's
// rest (files, nfiles; "-" alone is a name). help and version print and
// return the exit status; own takes every other option. Returns -1 when the
// run goes on, else the exit status: theirs, or 1 for an option that own
// does not take.
int readcommandline(int argc, char** argv, char**& files, int& nfiles,
                    const std::function<int()>& help, const std::function<int()>& version,
                    const OwnOption& own);

// The converters' command line: -o DIR, -n, -q, -k (--no-clobber) besides
// the above.
struct Options {
    std::string_view outdir; // empty: the working directory
    bool dry = false, quiet = false;
    bool keep = false;      // an existing output is kept, its record refused
    char** files = nullptr; // the file names, in their order
    int nfiles = 0;
};

// Read a converter's command line into o: 0 after --help (help() prints it)
// or --version ("program version"), else as readcommandline.
int readoptions(int argc, char** argv, Options& o, void (*help)(), const OwnOption& own = {});

// ---- Messages on standard error ----

// The program that messages, usage hints and the summary name.
const std::string& program();
void setprogram(std::string_view name);

// Print one line on standard error, control characters shown as '?', after
// standard output and never run on from the progress line.
void complain(std::string_view line);

// Where KIVAUX names a directory without the catalogue "messages" (it
// cannot be opened for reading): "PATH: why"; empty when it is there or
// KIVAUX is not set.
std::string nocatalogue();

// The WARNING line of a catalogue that is not there: why (as nocatalogue
// says it), then what is done instead.
void warnnocatalogue(std::string_view why, std::string_view instead);

// Start the message system for a converter's batch run (newhdr). A KIVAUX
// without its catalogue is said in words, one WARNING line, and the
// built-in texts are used instead: no message is left a bare number.
void startmessages();

// "file:line", as messages name a place.
std::string fileline(std::string_view file, std::int64_t line);

// A numbered message: its catalogue text, then the particulars given with
// <<, each after a blank; printed when it goes out of scope. Its kind is
// ERROR, or NOTE for what does not fail the run.
class Message {
  public:
    explicit Message(std::int32_t number, std::string_view kind = "ERROR");
    Message(const Message&) = delete;
    Message& operator=(const Message&) = delete;
    ~Message();
    Message& operator<<(std::string_view piece);
    Message& operator<<(std::int64_t n);

  private:
    std::string text_;
};

// A usage error: why, and where help is found. Returns the exit status 1.
int usage(std::string_view why);

using Clock = std::chrono::steady_clock;

// The progress line on a terminal: records done, of how many when known.
struct Progress {
    bool on = false;
    std::int64_t done = 0, total = -1, bytes = 0; // total -1: not known
    Clock::time_point start = Clock::now(), shown{};
};

// Redraw the progress line, at most ten times a second; the last call erases it.
void tick(Progress& p, bool last);

// ---- Output names and what they may not replace ----

// An output file name, NUL-terminated.
using OutName = std::array<char, 96>;

// The first 8 bytes of a name for the file name, cut back to the start of a
// UTF-8 character when the cut would split one (the header keeps all 8).
std::string_view charcut(std::string_view s);

// A name that is safe as part of a file name: no path separator, nothing
// unprintable, and not empty.
bool fitname(std::string_view s);

// Device and inode: what tells whether two names are one file.
struct FileId {
    dev_t dev = 0;
    ino_t ino = 0;
    bool operator==(const FileId&) const = default;
};

// The output names written in one run, so that an output that would write a
// name again is refused and the place that wrote it first is named. The
// input is never read again for it: a pipe or FIFO can be read only once.
//
// A 128-bit digest of each name (87 bits kept) with the place that wrote it,
// 16 bytes a name, in one open-addressed table kept between 64% and 80% full
// (20 to 25 bytes a name) that grows in place; each lookup costs the same
// however many names are held.
class Written {
  public:
    Written() = default;
    Written(const Written&) = delete;
    Written& operator=(const Written&) = delete;
    ~Written();

    // The place recorded for name, or 0 when it was not written.
    std::uint64_t find(std::string_view name) const;
    // Make room for one more name; false when no memory is left. Taken before
    // a file is written, so that a written file is always recorded.
    bool room();
    // Record name, not yet held, as written at place (1 to kMaxPlace; larger
    // places are kept as kMaxPlace). room() must have said yes.
    void add(std::string_view name, std::uint64_t place);
    std::size_t size() const { return used_; }
    std::size_t bytes() const { return cap_ * sizeof(Slot); }

    static constexpr std::uint64_t kMaxPlace = (std::uint64_t{1} << 40) - 1;

  private:
    // hi: 64 digest bits; lo: 23 more above the place (40 bits, 0 = empty).
    struct Slot {
        std::uint64_t hi, lo;
    };
    std::size_t home(std::uint64_t hi) const { return static_cast<std::size_t>(hi % cap_); }
    void put(Slot s);

    Slot* slots_ = nullptr;
    std::size_t cap_ = 0, used_ = 0;
};

// Where a run's outputs go, the names written so far with the place that
// wrote each, and the files no output may replace.
struct Outputs {
    std::string dir; // as given, for showing names; empty for the working directory
    int dirfd = AT_FDCWD;
    Written written;
    char** files = nullptr;     // the input files, as named
    std::vector<FileId> inputs; // every input file named
    bool keep = false;          // existing files are kept (-k), never replaced
};

// Open the output directory named in out.dir, made first with its parents
// (mode 0777 less the umask) when it is missing and make is set. 0, or the
// errno of what failed. A missing directory that is not made leaves dirfd at
// -1: nothing in it can be replaced.
int openoutdir(Outputs& out, bool make);

// Record the identity of each of the n files named in out.files in
// out.inputs, so that no output replaces one. True when every one that
// exists is a regular file or a directory (none a pipe or FIFO, which could
// be read only once).
bool knowinputs(Outputs& out, int n);

// The end of a converter's run: the progress line erased; standard output
// flushed (a listing that could not be written is lost output: ERROR, and a
// failure); the summary unless quiet; the output directory let go. Returns
// the exit status, 2 when anything failed, else 0.
int endrun(Progress& p, Outputs& out, bool quiet, bool failed,
           const std::function<void()>& summary);

// An output's name as the user will find it: under the directory given.
std::string outpath(const Outputs& out, const char* name);

// Why an output may not be written: it would replace an input file of this
// run (kMsgBatchClobber) or the output's own sample file (kMsgBatchOwn), or
// it exists and out.keep says to keep it (kMsgKept); else 0.
std::int32_t clobbers(const Outputs& out, const char* name, FileId samplefile);

// Why an input open as fd is refused: a device other than a terminal
// (/dev/zero or a disk would be read for ever), said as "(a ... device)";
// nullptr for a file, pipe, FIFO or terminal.
const char* devicewhy(int fd);

// ---- The header of a converted trace, and its writing ----

// The header fields every converted record sets.
struct Fields {
    std::int32_t npts = 0;
    float interval = 0; // DELTA
    Instant start;      // its year to millisecond become the reference time; usec is derive's
    std::string_view station, channel; // the first 8 characters are kept
    std::string_view user0, user1;     // empty: the field stays undefined
};

// Set NPTS, B = 0, DELTA, NZYEAR to NZMSEC, KSTNM, KCMPNM, and KUSER0 and
// KUSER1 when given, in the header records h and k; nothing else changes.
void setfields(CmHdr& h, KmHdr& k, const Fields& v);

// What every converted trace derives from its start and its n samples: B,
// the start's microseconds after the reference time's millisecond; E; and
// DEPMIN, DEPMAX and DEPMEN, from stats gathered over the samples. DELTA must
// be set.
void derive(CmHdr& hdr, std::int32_t usec, std::size_t n, const DepAccum& stats);

// The header and samples as the file name in the output directory, whole
// under a temporary name, then renamed: readers and concurrent runs never see
// a partial file, an interrupted run leaves none. Returns 0 or errno: EEXIST
// when out.keep and the name appeared meanwhile (it is kept).
int writeout(const Outputs& out, const char* name, const CmHdr& hdr, const KmHdr& khdr,
             std::span<const float> y);

// ---- Station and event metadata ----

// What station tables give one channel's header: kUndfFlt, empty or 0 where
// they give nothing.
struct ChannelMeta {
    float stla = kUndfFlt, stlo = kUndfFlt;    // degrees
    float stel = kUndfFlt, stdp = kUndfFlt;    // metres: elevation, emplacement depth
    float cmpaz = kUndfFlt, cmpinc = kUndfFlt; // degrees: from north, from vertical
    std::string network, instrument;           // KNETWK, KINST
    std::int32_t idep = 0;                     // IVEL, IDISP or IACC of the row's units
    float scale = kUndfFlt;                    // SCALE: that unit per count
    bool operator==(const ChannelMeta&) const = default;
};

// Set in h and k the fields meta gives; IDEP and SCALE only when the record
// has no calibration of its own. Every other field keeps its value.
void setmeta(CmHdr& h, KmHdr& k, const ChannelMeta& meta, bool calibrated);

// One line of a table, numbered from 1, without its line end: false, with
// why ("(...)"), when it is malformed.
using TableLine = std::function<bool(std::string_view line, std::int64_t lineno, std::string& why)>;

// Read the table file line by line through read (a pipe is read once; a
// line holding a NUL is malformed). False when it cannot be read (ERROR 2070)
// or at its first malformed line (ERROR 2071 naming file:line and why), the
// message printed.
bool loadtable(const std::string& file, const TableLine& read);

// The rows of a table file, each line through parse(line, row, skip, why)
// (skip: a line that is none, such as a header) and given its number; empty
// and false when loadtable refuses the file.
template <class Row, class Parse>
bool loadrows(const std::string& file, std::vector<Row>& rows, Parse parse) {
    rows.clear();
    const bool ok = loadtable(
        file, [&rows, &parse](std::string_view line, std::int64_t lineno, std::string& why) {
            Row row;
            bool skip = false;
            if (!parse(line, row, skip, why)) return false;
            row.line = lineno;
            if (!skip) rows.push_back(std::move(row));
            return true;
        });
    if (!ok) rows.clear();
    return ok;
}

// A channel epoch of a station text table (network|station|location|channel|
// ... one line each, level channel): its codes, its time span [start, end)
// in microseconds since 1970, what it gives, and its line.
struct StationRow {
    std::string net, sta, loc, chan;
    std::int64_t start = 0, end = INT64_MAX; // end: INT64_MAX while open
    ChannelMeta meta;
    std::int64_t line = 0;
};

// One line of a station text table; false with why ("(...)") when malformed.
// A header line (beginning with '#') or a blank one is none: skip is set.
bool stationline(std::string_view line, StationRow& row, bool& skip, std::string& why);

// What a lookup in a table found for one record.
enum class Match { none, one, disagree, ambiguous };
struct Found {
    Match match = Match::none;
    std::int64_t first = 0, second = 0; // the lines of the rows, where two are named
};

// The notes of a run's lookups: one for each channel (or station) that a
// table does not give one row, none under -q.
struct Notes {
    bool quiet = false;
    std::set<std::string> given; // table file and id
    // NOTE 2072 (no row), 2073 (rows that disagree) or 2074 (rows in more
    // than one network or location) for id in file, naming at and the rows.
    void note(const Found& f, std::string_view at, std::string_view id, std::string_view file);
};

// The event of --event: its position and origin time.
struct Event {
    bool given = false;
    float lat = kUndfFlt, lon = kUndfFlt, depth = kUndfFlt; // degrees, degrees, km
    std::int64_t origin = 0;                                // microseconds since 1970
};

// A run's station and event metadata: the station text table of --stations,
// the event of --event, and the notes given so far (one per channel).
struct Metadata {
    std::string file; // --stations FILE; empty when none
    std::vector<StationRow> rows;
    bool failed = false; // the table was refused (the run ends with status 2)
    Event event;
    Notes notes;

    // Read the station table, if one was named; false when refused, its
    // message printed and the run going on without it.
    bool load();
    // The table's row for a channel whose record starts at t (microseconds
    // since 1970) into meta. Without network and location (anycode), only a
    // channel that is unique among the table's networks and locations
    // matches, and it gives KNETWK too. A record without a match, or whose
    // rows disagree, keeps meta and gets one NOTE for its channel, naming at.
    void lookup(std::string_view net, std::string_view sta, std::string_view loc,
                std::string_view chan, std::int64_t t, bool anycode, std::string_view at,
                ChannelMeta& meta);
};

// The rows of table matching a channel at t; see Metadata::lookup.
Found findstation(const std::vector<StationRow>& table, std::string_view net, std::string_view sta,
                  std::string_view loc, std::string_view chan, std::int64_t t, bool anycode,
                  const StationRow*& row);

// --stations FILE and --event LAT,LON,DEPTH_KM,TIME (either also with '='),
// as an OwnOption takes them: -1 taken, -2 not one of them, else the exit
// status of a usage error.
int metaoption(Metadata& m, std::string_view arg, int argc, char** argv, int& a);

// An option's value: --name VALUE or --name=VALUE. 1 taken (a moved on when
// it was the next argument), 0 not this option, -1 no value (a usage error
// printed).
int optionvalue(std::string_view name, std::string_view arg, int argc, char** argv, int& a,
                std::string_view& value);

// An option naming a file, as optionvalue reads it, into file: -1 taken, -2
// not this option, else the exit status of a usage error (no value, or an
// empty name).
int fileoption(std::string_view name, std::string_view arg, int argc, char** argv, int& a,
               std::string& file);

// Read "LAT,LON,DEPTH_KM,TIME" into e; -1, or the exit status of a usage error.
int eventspec(std::string_view spec, Event& e);

// EVLA, EVLO, EVDP, O (the origin after the reference time, seconds; KO
// "ORIGIN") from the event when given, then GCARC, DIST, AZ and BAZ through
// the library's distances.
void setevent(CmHdr& h, KmHdr& k, const Event& e);

// SIGINT, SIGTERM and SIGHUP end the run as they would, but first remove
// the temporary file of a write under way; a signal ignored stays ignored.
void cleanonsignals();

} // namespace kivf::xlate
