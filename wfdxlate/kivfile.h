// A row's KIV file in the batch mode: its header filled in the current
// header, and the file written whole under a temporary name, then renamed.
#pragma once

#include "wfdxlate/layout.h"
#include "wfdxlate/names.h"

#include <cstddef>

namespace kivf::wfdx {

// Reset the current header (cmhdr, kmhdr) and fill it from the row and its
// n samples; every other field keeps its reset value.
void fillheader(const Row& row, const float* samples, std::size_t n);

// The current header and n samples as the file name in the output
// directory, as the writer does it: readers and concurrent runs never see a
// partial file, an interrupted run leaves none. Returns 0 or errno.
int writeout(const Outputs& out, const char* name, const float* samples, std::size_t n);

} // namespace kivf::wfdx
