// SPDX-License-Identifier: Apache-2.0
// Pieces of the KIV reader and writer shared among the library's own files.
// Not installed.
#pragma once

#include "co/co.h"
#include "dff/dff.h"
#include "msg/msg.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace kivf {

// Open kname and check it exactly as rkivhdr does; its header, decoded, into
// hdr and khdr (scratch records of the caller). On success the descriptor
// stays open in handle for the caller to close; on failure nothing is left
// open and why holds the failure.
bool rkivopen(std::string_view kname, CmHdr& hdr, KmHdr& khdr, std::int32_t& handle, bool& swapped,
              Draft& why);
// A failure of the modern face posted into the message buffer for the
// specified routines; its number, 0 when there is none.
std::int32_t posted(const Draft& why);
// Copy the file's fields of checked records into a caller's records, whose
// constants stay as they are.
void rkivstore(const CmHdr& from, const KmHdr& kfrom, CmHdr& hdr, KmHdr& khdr);

// The temporary file of one write, on the writer's own stack: its name in
// the directory dirfd, and its entry in the table a signal handler clears (-1:
// none, when more writes are under way at once than the table holds; a later
// run's sweep then removes what a killed one leaves).
struct TempFile {
    std::array<char, 64> name{};
    int dirfd = -1;
    int slot = -1;
};

// wkivtemp makes the temporary file of a write in dirfd (dir its path, for the
// sweep of leftovers), with the permission bits of the target (name in tdirfd)
// if that exists, and returns its descriptor, or -1 with errno; wkivdone
// renames it to name in tdirfd when keep is true (0, or the errno of a failed
// rename, the file then removed), else removes it; with noreplace the rename
// fails with EEXIST when name exists. Any number of writes may be under way at
// once, on any threads.
int wkivtemp(int dirfd, const char* dir, int tdirfd, const char* name, TempFile& tmp);
int wkivdone(TempFile& tmp, int tdirfd, const char* name, bool keep, bool noreplace = false);
// Put from in place as to unless to exists (EEXIST): atomically, so that of
// writers racing for one name exactly one succeeds. moved: from is gone.
// 0 or the errno.
int placenew(int fromdir, const char* from, int todir, const char* to, bool& moved);

} // namespace kivf

namespace kivf {

// Where the file kname goes: its path as the system takes it (path), its
// directory's (dir, "." for a plain name) and at, that directory held open
// (AT_FDCWD for a plain name) with the name in it. 0, or the errno of why
// not, nothing then held open. closeplace lets the directory go.
int openplace(std::string_view kname, Path& path, Path& dir, KivPlace& at);
void closeplace(const KivPlace& at);

// kMsgCreate as the file layer composes it for a failed create.
Draft cannotcreate(std::string_view kname, int err);

} // namespace kivf
