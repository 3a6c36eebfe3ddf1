// SPDX-License-Identifier: Apache-2.0
// Sample files are opened without waiting (a FIFO never holds the run) and
// must be regular files long enough for every sample the row names (for e1,
// of no fixed width, samplebytes is 0: long enough to reach foff).
#include "wfdxlate/samples.h"
#include "wfdxlate/datatype.h"
#include "wfdxlate/e1.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace kivf::wfdx {

int opensamples(Row& r) {
    const int fd = ::open(r.path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        r.why.reason = fd < 0 ? std::strerror(errno) : "not a regular file";
        if (fd >= 0) ::close(fd);
        r.why.set(kMsgBatchOpen, r.path, r.why.reason);
        return -1;
    }
    const std::int64_t need = r.foff + r.nsamp * r.samplebytes;
    if (st.st_size < need) {
        ::close(fd);
        r.why.set(kMsgBatchShort, r.path, {}, static_cast<std::int64_t>(st.st_size), need);
        return -1;
    }
    r.samplefile = FileId{st.st_dev, st.st_ino};
    return fd;
}

namespace {

// The trace is reused from record to record: its room only grows, so a run's
// memory is its largest record.
bool samplespace(Trace& trace, std::size_t n) {
    trace.y.clear();
    try {
        trace.y.reserve(n);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

} // namespace

std::int32_t readsamples(const Row& r, int fd, Trace& trace, std::size_t& bytes, std::string& why,
                         DepAccum& stats) {
    const auto n = static_cast<std::size_t>(r.nsamp);
    stats = {};
    if (!samplespace(trace, n)) {
        why = std::to_string(r.nsamp);
        return kMsgBatchMemory;
    }
    why = r.path + " ";
    if (dtcompressed(r.datatype)) { // its length is known only as its blocks are read
        E1Read e1;
        if (!reade1(fd, r.foff, n, trace.y, e1, zscratch(), &stats)) {
            if (e1.err == 0) why += "block at byte " + std::to_string(e1.at) + ": ";
            why += e1.reason;
            return e1.err != 0 ? kMsgBatchRead : kMsgBatchE1;
        }
        bytes = static_cast<std::size_t>(e1.used);
        return 0;
    }
    const auto width = static_cast<std::size_t>(r.samplebytes);
    bytes = n * width;
    std::size_t got;
    if (zpreadf(fd, r.foff, n, width, trace.y, got,
                [code = r.datatype, &stats](std::byte* piece, std::size_t k) {
                    widen(code, piece, k);
                    stats.add({reinterpret_cast<const float*>(piece), k}); // while in the cache
                }))
        return 0;
    // The size was checked: the file changed, or the device failed.
    why += errno != 0 ? std::string(std::strerror(errno))
                      : "file ended after " + std::to_string(got) + " of " + std::to_string(bytes) +
                            " bytes";
    return kMsgBatchRead;
}

} // namespace kivf::wfdx
