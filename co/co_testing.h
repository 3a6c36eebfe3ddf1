// SPDX-License-Identifier: Apache-2.0
// Test seam of the file layer, for the project's own tests only (not
// installed).
#pragma once

#include <cstddef>

namespace kivf {

// Replace the system's read and write under zrabs/zwabs (nullptr restores
// them), so that tests can see every piece a transfer issues.
using ReadCall = long (*)(int fd, void* buf, std::size_t n);
using WriteCall = long (*)(int fd, const void* buf, std::size_t n);
void zsetio(ReadCall r, WriteCall w);

} // namespace kivf
