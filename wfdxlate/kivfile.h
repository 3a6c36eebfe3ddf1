// A row's KIV file in the batch mode: its header filled in from the row and
// its samples, and the trace written through the library's writer.
#pragma once

#include "wfdxlate/layout.h"
#include "wfdxlate/names.h"

#include "dff/dff.h"

namespace kivf::wfdx {

// Reset the trace's header and fill it from the row and the trace's samples;
// every other field keeps its reset value.
void fillheader(const Row& row, Trace& trace);

// The trace as the file name in the output directory, whole under a
// temporary name, then renamed: readers and concurrent runs never see a
// partial file, an interrupted run leaves none. Returns 0 or errno.
int writeout(const Outputs& out, const char* name, const Trace& trace);

} // namespace kivf::wfdx
