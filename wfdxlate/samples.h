// The raw samples of a row: its sample file opened and checked, and the one
// buffer, as large as the largest record's samples, that they are read and
// widened into.
#pragma once

#include "wfdxlate/layout.h"

#include <cstddef>

namespace kivf::wfdx {

// Open the row's sample file and check that it holds the row's samples; the
// file's identity goes into the row. Returns the descriptor, or -1 with the
// refusal set.
int opensamples(Row& row);

// The sample buffer of at least bytes bytes, reused from record to record;
// null when there is no memory for it.
std::byte* samplebuffer(std::size_t bytes);

} // namespace kivf::wfdx
