// The segments of one file's trace list as KIV files: their order, the gaps
// and overlaps between them, their samples as 32-bit floats and their
// headers and names.
#pragma once

#include "xlate/xlate.h"

#include "dff/dff.h"

#include <cstdint>
#include <libmseed.h>
#include <span>
#include <unordered_map>
#include <vector>

namespace kivf::msx {

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
struct Start {
    std::int32_t year = 0, jday = 0, hour = 0, minute = 0, second = 0, msec = 0, usec = 0;
};
Start splittime(hptime_t t);

// Whether the codes can make a file name: station and channel not empty, no
// code holding a path separator or anything unprintable.
bool nameable(const MSTraceID* id);

// NET.STA.LOC.CHAN.YYYY.DDD.HH.MM.SS.mmm.kiv
void outname(const MSTraceID* id, const Start& s, xlate::OutName& name);

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

// A fresh header filled from the segment, whose samples are floats; the
// derived fields from gathered, else from a walk over the samples.
void fillheader(const Segment& s, const Start& start, CmHdr& hdr, KmHdr& khdr,
                const Gathered* gathered = nullptr);

} // namespace kivf::msx
