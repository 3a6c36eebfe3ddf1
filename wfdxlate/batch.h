// The converter's batch mode: wfdisc files named on the command line, in the
// CSS 3.0 or CSS 2.8 column layout, converted without any prompt.
#pragma once

namespace kivf::wfdx {

// Run the batch mode on the command line; returns the exit status.
int batch(int argc, char** argv);

} // namespace kivf::wfdx
