// A row's KIV file in the batch mode: its header filled in from the row and
// its samples, and the trace written through the library's writer.
#pragma once

#include "wfdxlate/layout.h"
#include "wfdxlate/names.h"

#include "dff/dff.h"

#include <cstdint>
#include <span>
#include <string_view>

namespace kivf::wfdx {

// Reset the trace's header and fill it from the row and the trace's samples,
// whose stats were gathered as they were read; every other field keeps its
// reset value.
void fillheader(const Row& row, Trace& trace, const DepAccum& stats);

// What every converted trace derives from its start and its n samples: B,
// the start's microseconds after the reference time's millisecond; E; and
// DEPMIN, DEPMAX and DEPMEN, from stats gathered over the samples. DELTA must
// be set.
void derive(CmHdr& hdr, std::int32_t usec, std::size_t n, const DepAccum& stats);

// The header and samples as the file name in the output directory, whole
// under a temporary name, then renamed: readers and concurrent runs never see
// a partial file, an interrupted run leaves none. Returns 0 or errno.
int writeout(const Outputs& out, const char* name, const CmHdr& hdr, const KmHdr& khdr,
             std::span<const float> y);

// Whether a sampling rate makes an interval every reader can use, for nsamp
// samples: the interval a normal 32-bit float (1e-300 gives none that is
// finite, 1e300 none above 0), and E, (nsamp - 1) intervals, a finite one.
enum class Rate { ok, bad, overflows };
Rate checkrate(double rate, std::int64_t nsamp, float& interval);
inline constexpr std::string_view kOverflowWhy = "(E would be beyond a 32-bit float)";

// SIGINT, SIGTERM and SIGHUP end the run as they would, but first remove
// the temporary file of a write under way; a signal ignored stays ignored.
void cleanonsignals();

} // namespace kivf::wfdx
