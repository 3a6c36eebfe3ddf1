// SPDX-License-Identifier: Apache-2.0
// The writer call of every converter, and the signals that must not leave
// its temporary file behind.
#include "xlate/xlate.h"

#include <cerrno>
#include <csignal>

namespace kivf::xlate {

int writeout(const Outputs& out, const char* name, const CmHdr& hdr, const KmHdr& khdr,
             std::span<const float> y) {
    int err;
    const KivPlace at{out.dirfd, out.dir.empty() ? "." : out.dir.c_str(), name, out.keep};
    const std::int32_t nerr = writekiv(at, hdr, khdr, y, {}, err);
    return nerr != 0 && err == 0 ? EFBIG : err; // refused: only a file too large can be
}

namespace {

extern "C" void interrupted(int sig) {
    wkivabort();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

} // namespace

void cleanonsignals() {
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) // an ignored signal stays ignored (nohup)
        if (std::signal(sig, interrupted) == SIG_IGN) std::signal(sig, SIG_IGN);
}

} // namespace kivf::xlate
