// Sample files are opened without waiting (a FIFO never holds the run) and
// must be regular files long enough for every sample the row names.
#include "wfdxlate/samples.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
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

// Grown, never shrunk: a run's memory is its largest record.
std::byte* samplebuffer(std::size_t bytes) {
    static std::byte* buf = nullptr;
    static std::size_t cap = 0;
    if (bytes > cap) {
        std::free(buf);
        buf = static_cast<std::byte*>(std::malloc(bytes));
        cap = buf == nullptr ? 0 : bytes;
    }
    return buf;
}

} // namespace kivf::wfdx
