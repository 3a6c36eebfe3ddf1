// SPDX-License-Identifier: Apache-2.0
// The converter's batch mode: wfdisc files named on the command line, in the
// CSS 3.0 or CSS 2.8 column layout, converted without any prompt.
#pragma once

#include "xlate/xlate.h"

#include <cstdint>

namespace kivf::wfdx {

// Run the batch mode on the command line; returns the exit status.
int batch(int argc, char** argv);

// What a run did, for its summary.
struct Tally {
    std::int64_t converted = 0, refused = 0, samples = 0;
    int filesread = 0;
};

// The closing line: records converted and refused, samples, files, seconds.
void summary(const Tally& t, bool dry, xlate::Clock::time_point start);

// The help text on standard output.
void help();

} // namespace kivf::wfdx
