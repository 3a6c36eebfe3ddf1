// Pieces of the KIV reader shared by the header reader and the whole-file
// reader. Not installed.
#pragma once

#include "dff/dff.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace kivf {

using Raw = std::array<std::uint32_t, kHdrWords>;

// Open kname and check it exactly as rkivhdr does; its header words into raw,
// the numeric ones in this machine's order. On success the descriptor stays
// open in handle for the caller to close; on failure nothing is left open and
// the message is composed.
bool rkivopen(std::string_view kname, Raw& raw, std::int32_t& handle, bool& swapped,
              std::int32_t& nerr);
// Copy checked header words into a caller's records.
void rkivstore(const Raw& raw, CmHdr& hdr, KmHdr& khdr);

} // namespace kivf
