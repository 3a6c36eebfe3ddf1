// SPDX-License-Identifier: Apache-2.0
// A segment of a file's trace list as a KIV file: its name.
#pragma once

#include "msread/msread.h"
#include "xlate/xlate.h"

#include "dff/dff.h"

#include <libmseed.h>

namespace kivf::msx {

using msread::Segment;

// Whether the codes can make a file name: station and channel not empty, no
// code holding a path separator or anything unprintable.
bool nameable(const MSTraceID* id);

// NET.STA.LOC.CHAN.YYYY.DDD.HH.MM.SS.mmm.kiv
void outname(const MSTraceID* id, const Instant& s, xlate::OutName& name);

} // namespace kivf::msx
