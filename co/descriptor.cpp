// SPDX-License-Identifier: Apache-2.0
// Descriptor file I/O: word transfers cut at 512-byte boundaries of the file.
#include "co/co.h"
#include "co/co_testing.h"

#include "bot/report_internal.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <type_traits>
#include <unistd.h>

namespace kivf {

namespace {

constexpr std::int64_t kBlock = 512;

ReadCall g_read = nullptr;
WriteCall g_write = nullptr;

ssize_t sysread(int fd, void* buf, std::size_t n) {
    return g_read ? g_read(fd, buf, n) : ::read(fd, buf, n);
}
ssize_t syswrite(int fd, const void* buf, std::size_t n) {
    return g_write ? g_write(fd, buf, n) : ::write(fd, buf, n);
}

// One transfer of n bytes at byte position pos of the array.
template <class Buf>
ssize_t piece(bool reading, int fd, Buf* base, std::int64_t pos, std::int64_t n) {
    if constexpr (std::is_const_v<Buf>) {
        (void)reading;
        return syswrite(fd, base + pos, static_cast<std::size_t>(n));
    } else {
        return sysread(fd, base + pos, static_cast<std::size_t>(n));
    }
}

// A failure is errnum in nerr, its message started unless quiet.
template <class Buf>
void transfer(std::int32_t handle, std::span<Buf> array, std::int32_t count, std::int32_t offset,
              std::int32_t errnum, std::int32_t& nerr, bool quiet = false) {
    nerr = 0;
    constexpr bool reading = !std::is_const_v<Buf>;
    const std::int64_t want = std::int64_t{4} * count;
    // Only descriptors made by zopenc are negative; a unit number or a count
    // or offset outside the array is refused before anything moves.
    if (handle >= 0 || handle == std::numeric_limits<std::int32_t>::min() || count < 0 ||
        offset < 0 || want > static_cast<std::int64_t>(array.size())) {
        nerr = errnum;
        if (!quiet) zrwerr(errnum);
        return;
    }
    const int fd = -handle;
    const std::int64_t start = std::int64_t{4} * offset;
    ::lseek(fd, static_cast<off_t>(start), SEEK_SET);
    Buf* base = array.data();
    std::int64_t done = 0;
    ssize_t last = 0;
    if (const std::int64_t head = start % kBlock; head != 0) {
        last = piece(reading, fd, base, 0, std::min(kBlock - head, want));
        if (last >= 0) done += last;
    }
    if (last >= 0) {
        while (want - done >= kBlock) {
            last = piece(reading, fd, base, done, kBlock);
            if (last < 0) break;
            done += last;
            if (last < kBlock) break;
        }
    }
    if (last >= 0 && want > done) {
        last = piece(reading, fd, base, done, want - done);
        if (last >= 0) done += last;
    }
    if (last < 0 || done != want) {
        nerr = errnum;
        if (!quiet) zrwerr(errnum);
    }
}

} // namespace

void zsetio(ReadCall r, WriteCall w) {
    g_read = r;
    g_write = w;
}

bool zpreadn(int fd, std::byte* p, std::size_t n, std::int64_t off) {
    std::size_t got;
    return zpreadn(fd, p, n, off, got);
}

bool zpreadn(int fd, std::byte* p, std::size_t n, std::int64_t off, std::size_t& got) {
    got = 0;
    while (got < n) {
        const ssize_t r = ::pread(fd, p + got, n - got, static_cast<off_t>(off));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) {
            if (r == 0) errno = 0;
            break;
        }
        got += static_cast<std::size_t>(r);
        off += r;
    }
    return got == n;
}

std::span<std::byte> zscratch() {
    // Large enough that a read costs little more than its copy, small enough
    // to stay in the cache while its values are turned and appended.
    alignas(8) static std::array<std::byte, std::size_t{1} << 19> area;
    return area;
}

bool zpath(std::string_view name, Path& path) {
    std::size_t n = name.size();
    while (n > 1 && name[n - 1] == ' ') --n;
    if (n >= kPathBytes) return false;
    std::memcpy(path.data(), name.data(), n);
    path[n] = '\0';
    return true;
}

std::string_view zinexact(std::string_view name) {
    if (name.empty()) return "is empty";
    if (name.find('\0') != std::string_view::npos) return "holds a NUL character";
    if (name.back() == ' ') return "ends in a blank";
    if (name.size() >= kPathBytes) return "is 1024 bytes or longer";
    return {};
}

bool zexact(std::string_view name) {
    return zinexact(name).empty();
}

void zopenc(std::int32_t& handle, std::string_view name, std::int32_t create, std::int32_t rdonly,
            std::int32_t /*hint*/, std::int32_t& kind) {
    kind = 0;
    int mode = rdonly != 0 ? O_RDONLY : O_RDWR;
    if (create != 0) mode |= O_CREAT | O_TRUNC;
    mode |= O_CLOEXEC | O_NONBLOCK; // a FIFO must not hold the open; files ignore it

    Path path{};
    if (!zpath(name, path)) {
        handle = 1;
        kind = 2;
        return;
    }

    // New files get 0666 narrowed by the user's umask, like any other tool's.
    int fd = ::open(path.data(), mode, 0666);
    if (fd == 0) { // standard input was closed: descriptor 0 cannot be a handle (-0)
        const int up = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
        ::close(fd);
        fd = up;
    }
    if (fd < 0) {
        kind = errno == EACCES ? 1 : 2;
        handle = 1;
        return;
    }
    // Only a regular file holds words: a directory, a FIFO or a device is
    // refused here (a FIFO's reads would wait, a device's never end).
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        kind = 2;
        handle = 1;
        return;
    }
    handle = -fd;
}

void zclosec(std::int32_t handle) {
    if (handle < 0 && handle != std::numeric_limits<std::int32_t>::min()) ::close(-handle);
}

void zrabs(std::int32_t handle, std::span<std::byte> array, std::int32_t count, std::int32_t offset,
           std::int32_t& nerr) {
    transfer(handle, array, count, offset, kMsgReadFailed, nerr);
}

bool zreadwords(std::int32_t handle, std::span<std::byte> array, std::int32_t count,
                std::int32_t offset) {
    std::int32_t nerr;
    transfer(handle, array, count, offset, kMsgReadFailed, nerr, true);
    return nerr == 0;
}

void zwabs(std::int32_t handle, std::span<const std::byte> array, std::int32_t count,
           std::int32_t offset, std::int32_t& nerr) {
    transfer(handle, array, count, offset, kMsgWriteFailed, nerr);
}

void zrwerr(std::int32_t nerr) {
    reporterror(nerr);
}

void zputc(std::string_view text, std::span<std::byte> array, std::int32_t count) {
    const std::size_t n =
        std::min({static_cast<std::size_t>(std::max(count, 0)), text.size(), array.size()});
    if (n > 0) std::memcpy(array.data(), text.data(), n); // an empty span may have no data
}

} // namespace kivf
