// SPDX-License-Identifier: Apache-2.0
// kiv2ms: KIV files into miniSEED files, for data centres and every tool
// that exchanges miniSEED.
#pragma once

namespace kivf::k2m {

// Run kiv2ms on the command line; returns the exit status: 0 everything
// converted, 1 bad usage or an output that cannot be made, 2 something was
// refused.
int run(int argc, char** argv);

} // namespace kivf::k2m
