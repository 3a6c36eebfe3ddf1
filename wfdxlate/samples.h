// The raw samples of a row: its sample file opened and checked, and the room
// in a trace's samples that they are widened into.
#pragma once

#include "wfdxlate/layout.h"

#include "dff/dff.h"

#include <cstddef>

namespace kivf::wfdx {

// Open the row's sample file and check that it holds the row's samples (e1
// samples, whose length shows only as their blocks are read: that it reaches
// byte foff); the file's identity goes into the row. Returns the descriptor,
// or -1 with the refusal set.
int opensamples(Row& row);

// Empty the trace's samples and make room for n floats; false when there is
// no memory for them.
bool samplespace(Trace& trace, std::size_t n);

} // namespace kivf::wfdx
