// SPDX-License-Identifier: Apache-2.0
// The raw sample codes of wfdisc files and their widening to 32-bit floats.
#pragma once

#include <cstddef>
#include <string_view>

namespace kivf::wfdx {

// Bytes per raw sample of a wfdisc datatype code (s4 i4 s2 i2 s3 i3 t4 f4 t8
// f8), 0 for any other code.
int dtwidth(std::string_view code);

// Whether a code's samples come in compressed blocks (e1, see e1.h): no
// fixed width, so dtwidth says 0 for it.
bool dtcompressed(std::string_view code);

// Turn n raw samples of a known code, lying at the start of buf, into 32-bit
// floats in this machine's byte order, in place. buf holds at least
// n * max(width, 4) bytes. Integers are rounded to the nearest float (exact
// up to 2^24), 8-byte floats likewise; NaNs and infinities pass through.
void widen(std::string_view code, std::byte* buf, std::size_t n);

} // namespace kivf::wfdx
