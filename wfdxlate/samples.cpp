// Sample files are opened without waiting (a FIFO never holds the run) and
// must be regular files long enough for every sample the row names (for e1,
// of no fixed width, samplebytes is 0: long enough to reach foff).
#include "wfdxlate/samples.h"

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
        r.why.set(kMsgOpen, r.path, r.why.reason);
        return -1;
    }
    const std::int64_t need = r.foff + r.nsamp * r.samplebytes;
    if (st.st_size < need) {
        ::close(fd);
        r.why.set(kMsgShort, r.path, {}, static_cast<std::int64_t>(st.st_size), need);
        return -1;
    }
    r.samplefile = FileId{st.st_dev, st.st_ino};
    return fd;
}

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

} // namespace kivf::wfdx
