// The converter's batch mode: wfdisc files named on the command line, in the
// CSS 3.0 or CSS 2.8 column layout, converted without any prompt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kivf::wfdx {

// Run the batch mode on the command line; returns the exit status.
int batch(int argc, char** argv);

// Bytes per raw sample of a wfdisc datatype code (s4 i4 s2 i2 s3 i3 t4 f4 t8
// f8), 0 for any other code.
int dtwidth(std::string_view code);

// Turn n raw samples of a known code, lying at the start of buf, into 32-bit
// floats in this machine's byte order, in place. buf holds at least
// n * max(width, 4) bytes. Integers are rounded to the nearest float (exact
// up to 2^24), 8-byte floats likewise; NaNs and infinities pass through.
void widen(std::string_view code, std::byte* buf, std::size_t n);

} // namespace kivf::wfdx
