// SPDX-License-Identifier: Apache-2.0
// A row's KIV file in the batch mode: its name, the outputs of the run it
// may not take as samples, and its header filled in from the row.
#pragma once

#include "wfdxlate/layout.h"

#include "xlate/xlate.h"

#include <cstdint>
#include <string>

namespace kivf::wfdx {

// Whether the row's station and channel can make a file name; false with the
// refusal set in the row.
bool nameable(Row& row);

// The output name of a decoded row: STA.CHAN.YYYY.DDD.HH.MM.SS.mmm.kiv.
void outname(const Row& row, xlate::OutName& name);

// The place that wrote the row's sample file when it is an output of this
// run (its samples would be a header and floats, not the raw data), else 0.
std::uint64_t rewritten(const xlate::Outputs& out, const std::string& path, FileId samplefile);

// Reset the trace's header and fill it from the row and the trace's samples,
// whose stats were gathered as they were read; every other field keeps its
// reset value.
void fillheader(const Row& row, Trace& trace, const DepAccum& stats);

} // namespace kivf::wfdx
