// SPDX-License-Identifier: Apache-2.0
// Test seam of the writer, for the project's own tests only (not installed).
#pragma once

#include <sys/uio.h>

namespace kivf {

// Replace the system's writev under the gathered writes (nullptr restores
// it), so that tests can make it move nothing.
using WritevCall = long (*)(int fd, const iovec* iov, int n);
void wkivsetwritev(WritevCall w);

// Replace the rename that never replaces (nullptr restores it), so that tests
// can take the way of file systems that lack it.
using RenameCall = int (*)(int fromdir, const char* from, int todir, const char* to);
void wkivsetrenamenew(RenameCall r);

} // namespace kivf
