// Pieces of the KIV reader and writer shared among the library's own files.
// Not installed.
#pragma once

#include "dff/dff.h"

#include <cstdint>
#include <string_view>

namespace kivf {

// Open kname and check it exactly as rkivhdr does; its header, decoded, into
// hdr and khdr (scratch records of the caller). On success the descriptor
// stays open in handle for the caller to close; on failure nothing is left
// open and the message is composed.
bool rkivopen(std::string_view kname, CmHdr& hdr, KmHdr& khdr, std::int32_t& handle, bool& swapped,
              std::int32_t& nerr);
// Copy the file's fields of checked records into a caller's records, whose
// constants stay as they are.
void rkivstore(const CmHdr& from, const KmHdr& kfrom, CmHdr& hdr, KmHdr& khdr);

// The temporary file of a write: wkivtemp makes it in dirfd (dir its path,
// for the sweep of leftovers), with the permission bits of the target (name
// in tdirfd) if that exists, and returns its descriptor, or -1 with errno;
// wkivdone renames it to name in tdirfd when keep is true (0, or the errno of
// a failed rename, the file then removed), else removes it. One temporary
// file at a time.
int wkivtemp(int dirfd, const char* dir, int tdirfd, const char* name);
int wkivdone(int tdirfd, const char* name, bool keep);

} // namespace kivf
