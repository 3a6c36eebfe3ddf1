// A segment of a file's trace list as a KIV file: its name and its header.
#pragma once

#include "msread/msread.h"
#include "xlate/xlate.h"

#include "dff/dff.h"

#include <libmseed.h>

namespace kivf::msx {

using msread::Gathered;
using msread::Segment;

// Whether the codes can make a file name: station and channel not empty, no
// code holding a path separator or anything unprintable.
bool nameable(const MSTraceID* id);

// NET.STA.LOC.CHAN.YYYY.DDD.HH.MM.SS.mmm.kiv
void outname(const MSTraceID* id, const Instant& s, xlate::OutName& name);

// A fresh header filled from the segment, whose samples are floats; the
// derived fields from gathered, else from a walk over the samples.
void fillheader(const Segment& s, const Instant& start, CmHdr& hdr, KmHdr& khdr,
                const Gathered* gathered = nullptr);

} // namespace kivf::msx
