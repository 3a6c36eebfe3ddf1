// SPDX-License-Identifier: Apache-2.0
// Reading miniSEED files through libmseed: a file's bytes framed into
// records, each record detected and decoded alone, its samples made 32-bit
// floats (so that records of one channel in different encodings join) and
// joined into the file's trace list (segments by network, station, location
// and channel, within half a sample of the next expected one, in time order
// whatever the records' order). What cannot be read is told to the caller as
// numbered messages naming the file and the byte offset; the rest of the
// file goes on. Nothing here prints: a program or a binding decides where
// what is told goes.
#pragma once

#include "bot/numbers.h"
#include "dff/dff.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <libmseed.h>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kivf::msread {

// ---- A file ----

// A numbered message for the caller: a note (nothing failed) or a refusal,
// its particulars after the catalogue text, pieces joined by blanks.
struct Told {
    std::int32_t number = 0;
    bool note = false;
    std::string text;
};

// What reading one file found.
struct FileRead {
    std::int64_t records = 0, skipped = 0, refused = 0; // records joined, skipped; refusals
    std::int64_t bytes = 0;                             // bytes read
    std::int64_t rounded = 0; // samples whose value changed as 32-bit floats
    bool whole = false;       // the file itself was refused: its list is empty
};

class Gathered; // below

// How a file is read: memory allowed for its samples (measured again before
// a file is refused for them), notes told or not, who is told (nobody when
// empty), who hears of each record joined (its length in bytes), where the
// segments' stats are gathered as records join them.
struct ReadAs {
    std::uint64_t budget = UINT64_MAX;
    bool notes = true;
    std::function<void(const Told&)> tell = {};
    std::function<void(int len)> joined = {};
    Gathered* gathered = nullptr;
};

// Read every record of the file open as fd, named file, into list (empty
// when given). Messages are told as they arise.
FileRead readfile(int fd, std::string_view file, MSTraceList* list, const ReadAs& as);

// The memory more samples may take: what the system has available and what
// this process's limits leave.
std::uint64_t memorybudget();

// "file at byte N", as messages name a place.
std::string byteat(std::string_view file, std::int64_t offset);

// ---- A record ----

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

// Route libmseed's own log lines here, before any other libmseed call (once
// a process; calls after the first do nothing). takelogged() returns what it
// said on the calling thread since last taken, joined by "; ".
void capturelog();
std::string takelogged();

// ---- The trace list ----

struct Segment {
    const MSTraceID* id;
    MSTraceSeg* seg;
};

// Every segment of the list, by network, station, location, channel, then
// start time.
std::vector<Segment> segments(const MSTraceList* list);

// Gaps and overlaps in each channel (in the order segments gives): a
// segment starting more than half a sample after, or before, the sample
// expected after the channel's segments so far.
struct Breaks {
    std::int64_t gaps = 0, overlaps = 0;
};
Breaks breaks(const std::vector<Segment>& all);

// For each segment, the earlier segment of its channel that holds all its
// samples at the same times, bit for bit (a record repeated in the file), or
// -1. Checked before any segment's samples are let go.
std::vector<std::ptrdiff_t> repeats(const std::vector<Segment>& all);

// Whether segment p holds the samples y, of the same rate, from start to
// end, at the same times, bit for bit.
bool holds(const MSTraceSeg* p, hptime_t start, hptime_t end, double rate,
           std::span<const float> y);

// Whether a record's samples, made floats, are all in its channel's
// segments of the list already (a record repeated).
bool heldalready(const MSTraceList* list, MSRecord* msr);

// n samples of type ('i' int32, 'f' float32, 'd' float64) as 32-bit floats,
// in place, type then 'f': integers exactly up to 2^24 and to the nearest
// beyond, float64 to the nearest. Returns how many changed value, or -1
// (nothing changed) when a float64 sample is a finite number beyond the
// float range.
std::int64_t tofloats(void* samples, std::int64_t n, char& type);
std::span<const float> floats(const MSTraceSeg* seg);

// A start time split as the header and the names hold it.
Instant splittime(hptime_t t);

// DEPMIN, DEPMAX and DEPMEN of the segments of a list, gathered from each
// record's floats as the record joins a segment's end, while they are in the
// cache. A record joined anywhere else (before a segment's start, or closing
// a gap between two) leaves its segment to be walked whole.
class Gathered {
  public:
    // After msr, its samples floats, was joined to seg.
    void joined(const MSTraceSeg* seg, MSRecord* msr);
    // Whether seg's samples were gathered in their order, then into stats.
    bool of(const MSTraceSeg* seg, DepAccum& stats) const;
    void clear() { parts_.clear(); }

  private:
    struct Part {
        DepAccum stats;
        std::int64_t n = 0; // the samples gathered
        bool inorder = true;
    };
    std::unordered_map<const MSTraceSeg*, Part> parts_;
};

// ---- Segments as KIV traces ----

// A fresh header filled from the segment, whose samples are floats, as the
// converter fills it: NPTS, DELTA, the reference time and B from start,
// station, channel, network and location codes; the derived fields from
// gathered, else from a walk over the samples.
void fillheader(const Segment& s, const Instant& start, CmHdr& hdr, KmHdr& khdr,
                const Gathered* gathered = nullptr);

// A segment's header and its samples, taken from the trace list (the list no
// longer holds them).
struct Freed {
    void operator()(float* p) const noexcept { std::free(p); }
};
struct SegmentTrace {
    CmHdr hdr{};
    KmHdr khdr{};
    std::unique_ptr<float[], Freed> y;
    std::size_t n = 0;
};

// Read the file open as fd, named file, into traces as the converter
// converts it: one for each segment, in segments' order, leaving out (with a
// NOTE 2065) a segment whose samples another holds, and refusing (2061) one
// of more samples than a header counts. Messages are told through as.tell
// as they arise; as.gathered is not used (the file's own is).
FileRead readtraces(int fd, std::string_view file, std::vector<SegmentTrace>& traces,
                    const ReadAs& as);

} // namespace kivf::msread
