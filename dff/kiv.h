// SPDX-License-Identifier: Apache-2.0
// KIV files as values: a trace (header records and samples) the caller owns,
// the header fields derived from samples, and the modern face, whose routines
// touch nothing process-wide.
#pragma once

#include "dff/records.h"
#include "dff/times.h"
#include "msg/msg.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// ---------------------------------------------------------------- traces ----

namespace kivf {

// A KIV file as a value: its header records and its samples, for callers
// that want neither the current header nor arrays of their own.
struct Trace {
    CmHdr hdr{};          // the numeric header; its 110 words are the file's
    KmHdr khdr{};         // the 24 texts
    std::vector<float> y; // the samples
    std::vector<float> x; // their independent values, when LEVEN is false
};

// Where a writer puts a file: name in the directory held open as dirfd
// (AT_FDCWD: the working directory), whose path is dir. With keep, a file
// that has the name already stays as it is and the write fails with EEXIST,
// decided at the rename itself: of writers racing for one name exactly one
// puts its file there.
struct KivPlace {
    int dirfd;
    const char* dir;
    const char* name;
    bool keep = false;
};

// Where a whole-file read puts the samples: called with NPTS and LEVEN of the
// checked header, it sets y and, when LEVEN is false, x to arrays of at least
// NPTS floats each (shorter ones are refused as 1417, nothing read).
using KivArrays =
    std::function<void(std::size_t npts, bool leven, std::span<float>& y, std::span<float>& x)>;

// A trace of the defaults newhdr gives the current header, and no samples;
// nothing process-wide is read or started (see defaults).
Trace newtrace();

// DEPMIN, DEPMAX and DEPMEN of hdr from the samples that are numbers (NaNs
// left out): the extremes, and the mean summed in double in the samples'
// order; undefined when there are none. Every writer that derives them (batch
// conversion, the Python package) gives the same bits this way.
void depstats(CmHdr& hdr, std::span<const float> y);
// The same gathered a piece at a time, the pieces added in the samples'
// order: store gives the bits depstats gives over all of them in one array.
// A converter adds each piece as it makes it, while it is in the cache, and
// so walks its samples once.
class DepAccum {
  public:
    void add(std::span<const float> y);
    void store(CmHdr& hdr) const;

  private:
    // While every sample so far is a whole number within 2^22, in integers
    // (see header.cpp); from the first other piece on, in double.
    bool whole_ = true;
    std::int32_t ilo_ = std::numeric_limits<std::int32_t>::max(),
                 ihi_ = std::numeric_limits<std::int32_t>::min();
    std::int64_t isum_ = 0;
    double lo_ = std::numeric_limits<double>::infinity(),
           hi_ = -std::numeric_limits<double>::infinity(), sum_ = 0;
    std::size_t count_ = 0; // the numbers among them (NaNs left out)
};
// E, DEPMIN, DEPMAX and DEPMEN of hdr for the samples y (and their independent
// values x when the trace is uneven; empty otherwise): E the last sample's
// time, B + (NPTS-1)*DELTA summed in double (only when B and DELTA are
// defined), or the last x (unless a NaN); the others as depstats. What cannot
// be had is undefined.
void derivefields(CmHdr& hdr, std::span<const float> y, std::span<const float> x);
// The same for n samples whose extremes and mean stats has gathered already.
void derivefields(CmHdr& hdr, std::size_t n, std::span<const float> x, const DepAccum& stats);
// GCARC (degrees), DIST (km), AZ (event to station) and BAZ (station to
// event) of hdr, when LCALDA is true and STLA, STLO, EVLA and EVLO are all
// defined: each of the four still undefined is computed by the plug-in's
// sphgeoj on the positions widened to double, then rounded to float; given
// ones are kept. A station at the event's position has no azimuths (they
// stay undefined), and neither has any result that is not finite. False when
// nothing could be computed.
bool distances(CmHdr& hdr);
// Whether a sampling rate makes a DELTA every reader can use, for nsamp
// samples: the interval a normal 32-bit float (1e-300 gives none that is
// finite, 1e300 none above 0), and E, (nsamp - 1) intervals, a finite one.
enum class Rate { ok, bad, overflows };
Rate checkrate(double rate, std::int64_t nsamp, float& interval);
inline constexpr std::string_view kOverflowWhy = "(E would be beyond a 32-bit float)";

// Read the KIV file path whole into trace, as rkiv reads it (either byte
// order, the same checks and refusals); swapped tells whether its words were
// in the other order. Returns 0 or the failure (1410-1416, 1418), whose
// message is left for lastmsg; nothing is printed and trace is then
// unchanged.
std::int32_t readtrace(std::string_view path, Trace& trace, bool& swapped);
std::int32_t readtrace(std::string_view path, Trace& trace);

// Write trace as the KIV file path through writekiv. NPTS and LEVEN come from
// the arrays: NPTS is the length of y (of x when that is longer, which is
// then refused as 1401), LEVEN is false when x holds values or the records
// say so (a shorter x is 1402); every other field as the records hold it. Returns 0 or the
// failure of writekiv, its message left for lastmsg; nothing is printed.
std::int32_t writetrace(std::string_view path, const Trace& trace);
// The same into a directory held open; err is the system's errno of a failed
// create, write or rename, else 0.
std::int32_t writetrace(const KivPlace& at, const Trace& trace, int& err);
// writekiv into a directory held open, for arrays that are not a Trace's (a
// reader's own buffer, written without a copy); err as for writetrace.
std::int32_t writekiv(const KivPlace& at, const CmHdr& hdr, const KmHdr& khdr,
                      std::span<const float> yarray, std::span<const float> xarray, int& err);

// ------------------------------------------------------- the modern face ----
//
// Whole-word names, the file first, the records it fills or writes after it,
// the failure returned as a value (number, composed text, errno). Nothing
// process-wide is read or written: the current header and the message buffer
// stay as they are, nothing is printed, and no start-up is needed (the
// catalogue texts of failures are loaded on first use). So any number of
// threads may read and write different files at once.
//
// The checks, refusals and texts are those of the specified routines, which
// are built on these: loadheader reads as rkivhdr, loadkiv as readkiv,
// loadtrace as readtrace (the records and arrays change only on success);
// savekiv writes as writekiv, savetrace as writetrace.

// The field catalogue as inilhf fills it, made once on first use.
struct FieldCatalogue {
    CmLhf lists;
    KmLhf names;
};
const FieldCatalogue& fieldcatalogue();
// Fill a catalogue's records as inilhf fills the process's.
void inilhf(CmLhf& lists, KmLhf& names);

// The records' constants and the defaults newhdr gives the current header.
void defaults(CmHdr& hdr, KmHdr& khdr);

// One field of the records by name, as setfhv, setnhv and setkhv set the
// current header's (the same name rule; KEVNM's characters 9 to 16 go to
// KEVNMC); false, nothing changed, for a name not in the field's group.
bool setfield(CmHdr& hdr, std::string_view kname, float value);
bool setfield(CmHdr& hdr, std::string_view kname, std::int32_t value);
bool setfield(KmHdr& khdr, std::string_view kname, std::string_view value);

Failure loadheader(std::string_view path, CmHdr& hdr, KmHdr& khdr, bool& swapped);
Failure loadkiv(std::string_view path, CmHdr& hdr, KmHdr& khdr, bool& swapped,
                const KivArrays& arrays);
Failure loadtrace(std::string_view path, Trace& trace, bool& swapped);
Failure loadtrace(std::string_view path, Trace& trace);
Failure savekiv(std::string_view path, const CmHdr& hdr, const KmHdr& khdr,
                std::span<const float> y, std::span<const float> x);
Failure savekiv(const KivPlace& at, const CmHdr& hdr, const KmHdr& khdr, std::span<const float> y,
                std::span<const float> x);
Failure savetrace(std::string_view path, const Trace& trace);
Failure savetrace(const KivPlace& at, const Trace& trace);

// A KIV file's samples read a piece at a time, so that a record of any
// length is gone through in the memory of one piece: the header checked and
// refused as loadheader refuses it, then any run of the y samples, in this
// machine's byte order, from the one opening of the file.
class KivSamples {
  public:
    KivSamples() = default;
    KivSamples(const KivSamples&) = delete;
    KivSamples& operator=(const KivSamples&) = delete;
    ~KivSamples();
    // The file opened and its header read into the records (changed only on
    // success); a file already open is closed first.
    Failure open(std::string_view path, CmHdr& hdr, KmHdr& khdr, bool& swapped);
    // NPTS of the file open (0 when none is).
    std::size_t size() const { return npts_; }
    // Samples first .. first + out.size() - 1 into out: kMsgKivSpan when they
    // run past NPTS or no file is open, kMsgKivData when the read fails.
    Failure read(std::size_t first, std::span<float> out) const;

  private:
    std::string path_;
    std::int32_t handle_ = 0; // 0: none open
    std::size_t npts_ = 0;
    bool swapped_ = false;
};

// A file written whole as the KIV writer writes its files: into a temporary
// file in the target's directory, renamed over the target by commit once
// every byte is written. Until then, when commit fails, or when the object
// goes without one, nothing is left behind and an old file stays as it was.
// Bytes are gathered into large writes.
class WholeFile {
  public:
    WholeFile() = default;
    WholeFile(const WholeFile&) = delete;
    WholeFile& operator=(const WholeFile&) = delete;
    ~WholeFile();
    // The temporary file of path made; kMsgCreate when it cannot be. With
    // keep, an existing path is kept and commit fails (kMsgCreate, EEXIST).
    Failure open(std::string_view path, bool keep = false);
    // Bytes appended: 0, or the errno of a failed write (every later one
    // fails the same way, and commit says why).
    int write(std::span<const char> bytes);
    // The file put in place: no failure, kMsgWriteFailed (a write failed,
    // the file dropped) or kMsgCreate (it could not be renamed).
    Failure commit();

  private:
    void drop();
    std::string path_, dir_, name_; // as given; the directory and the name in it
    int dirfd_ = -1, fd_ = -1, err_ = 0;
    bool keep_ = false;
    std::vector<char> buf_;
    std::array<char, 64> temp_{}; // the temporary file's name, and its entry for signals
    int slot_ = -1;
};

} // namespace kivf
