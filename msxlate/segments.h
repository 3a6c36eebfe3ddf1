// The segments of one file's trace list as KIV files: their order, the gaps
// and overlaps between them, their samples as 32-bit floats and their
// headers and names.
#pragma once

#include "wfdxlate/names.h"

#include "dff/dff.h"

#include <cstdint>
#include <libmseed.h>
#include <span>
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
void outname(const MSTraceID* id, const Start& s, wfdx::OutName& name);

// A fresh header filled from the segment, whose samples are floats.
void fillheader(const Segment& s, const Start& start, CmHdr& hdr, KmHdr& khdr);

} // namespace kivf::msx
