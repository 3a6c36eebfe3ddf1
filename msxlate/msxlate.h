// SPDX-License-Identifier: Apache-2.0
// msxlate: every miniSEED file named on the command line becomes KIV files,
// one for each continuous segment of each channel.
#pragma once

namespace kivf::msx {

// Run msxlate on the command line; returns the exit status: 0 everything
// converted, 1 bad usage or an unusable output directory, 2 something was
// refused.
int run(int argc, char** argv);

} // namespace kivf::msx
