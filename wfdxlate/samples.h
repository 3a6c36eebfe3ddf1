// SPDX-License-Identifier: Apache-2.0
// The raw samples of a row: its sample file opened and checked, and the room
// in a trace's samples that they are widened into.
#pragma once

#include "wfdxlate/layout.h"

#include "dff/dff.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace kivf::wfdx {

// Open the row's sample file and check that it holds the row's samples (e1
// samples, whose length shows only as their blocks are read: that it reaches
// byte foff); the file's identity goes into the row. Returns the descriptor,
// or -1 with the refusal set.
int opensamples(Row& row);

// Read the row's samples from fd (opened by opensamples) into the trace's
// samples as floats: widened, or decoded from e1 blocks, each piece going
// into stats (begun anew) as it is made. 0 with the bytes of the file read in
// bytes, or the message number of the failure (kMsgBatchMemory,
// kMsgBatchRead, kMsgBatchE1) with its particulars, as the message shows them,
// in why.
std::int32_t readsamples(const Row& row, int fd, Trace& trace, std::size_t& bytes, std::string& why,
                         DepAccum& stats);

} // namespace kivf::wfdx
