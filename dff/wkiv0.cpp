// The KIV file writer.
//
// A file is written whole under a temporary name in its own directory and
// renamed over the target only when every byte is written, so that a reader
// never sees a partial file and a failure never costs the old one.
#include "dff/dff.h"

#include "co/co.h"
#include "msg/msg.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace kivf {

namespace {

// The temporary name: hidden, recognisably ours, and a short component of its
// own, so it fits wherever the target fits. It is opened relative to the
// directory, so its length never counts against the path limit.
// The process id follows the prefix, so that a later run can tell whose a
// leftover is.
constexpr std::string_view kTempPrefix = ".kivtmp-";
constexpr std::size_t kTempRandom = 8;
constexpr std::size_t kPidDigits = 10; // 2^31 - 1
using TempName = std::array<char, kTempPrefix.size() + kPidDigits + 1 + kTempRandom + 1>;
constexpr int kTempTries = 64;

// The temporary file in progress, for a signal handler: plain storage, set
// before the file is made and cleared after it is renamed or removed.
TempName g_tmp{};
volatile int g_tmpdir = -1;
volatile std::sig_atomic_t g_active = 0;

// Remove in dirfd the temporary files of processes that no longer exist:
// what a killed run left behind. Only names of our exact form are touched.
void sweep(int dirfd, const char* dir) {
    DIR* d = ::opendir(dir);
    if (d == nullptr) return;
    while (const dirent* e = ::readdir(d)) {
        const std::string_view n(e->d_name);
        if (!n.starts_with(kTempPrefix)) continue;
        std::int64_t pid = 0;
        const auto r = std::from_chars(n.data() + kTempPrefix.size(), n.data() + n.size(), pid);
        if (r.ec != std::errc() || r.ptr == n.data() + kTempPrefix.size() || pid <= 0 ||
            pid > std::numeric_limits<pid_t>::max() || *r.ptr != '-' ||
            n.data() + n.size() - (r.ptr + 1) != static_cast<std::ptrdiff_t>(kTempRandom))
            continue;
        if (::kill(static_cast<pid_t>(pid), 0) == -1 && errno == ESRCH)
            ::unlinkat(dirfd, e->d_name, 0);
    }
    ::closedir(d);
}

std::uint64_t splitmix(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

void tempname(TempName& name, std::uint64_t& state) {
    static constexpr std::string_view digits =
        "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    name.fill('\0');
    std::memcpy(name.data(), kTempPrefix.data(), kTempPrefix.size());
    char* at = name.data() + kTempPrefix.size();
    at = std::to_chars(at, at + kPidDigits, static_cast<std::int64_t>(::getpid())).ptr;
    *at++ = '-';
    std::uint64_t r = splitmix(state);
    for (std::size_t j = 0; j < kTempRandom; ++j, r /= digits.size())
        *at++ = digits[r % digits.size()];
}

// 101 as the file layer composes it for a failed create.
void cannotcreate(std::string_view kname, int err, std::int32_t& nerr) {
    nerr = 101;
    setmsg("ERROR", nerr);
    apcmsg(kname);
    apcmsg(err == EACCES || err == EPERM ? "(Insufficient access rights.)"
                                         : "(System error occurred.)");
}

void writefailed(std::int32_t& nerr) {
    nerr = 115;
    zrwerr(nerr);
}

// A count in full, however wide (apimsg has 8 columns).
template <class T> void apnum(T value) {
    std::array<char, 24> buf{};
    const auto r = std::to_chars(buf.data(), buf.data() + buf.size(), value);
    apcmsg(std::string_view(buf.data(), static_cast<std::size_t>(r.ptr - buf.data())));
}

// Refuse what would make a wrong or unreadable file; nothing is touched.
bool refused(std::string_view kname, std::span<const float> xarray, std::span<const float> yarray,
             std::int32_t& nerr) {
    const std::int32_t npts = cmhdr.n(nslot::NPTS);
    const bool leven = cmhdr.l(lslot::LEVEN) != 0;
    const auto need = static_cast<std::size_t>(npts < 0 ? 0 : npts);
    const std::int64_t words = std::int64_t{kHdrWords} + std::int64_t{npts} * (leven ? 1 : 2);
    if (npts < 0) {
        nerr = kErrNptsUndefined;
    } else if (words > std::numeric_limits<std::int32_t>::max()) {
        nerr = kErrNptsTooLarge; // word offsets of the file layer are 32-bit
    } else if (yarray.size() < need) {
        nerr = kErrShortYarray;
    } else if (!leven && xarray.size() < need) {
        nerr = kErrShortXarray;
    } else {
        return false;
    }
    setmsg("ERROR", nerr);
    apcmsg(kname);
    apcmsg("(NPTS =");
    apnum(npts);
    if (nerr == kErrShortYarray || nerr == kErrShortXarray) {
        apcmsg("array length =");
        apnum(nerr == kErrShortYarray ? yarray.size() : xarray.size());
    }
    apcmsg(")");
    return true;
}

// The header and the samples, word by word, to an open descriptor.
void writeall(std::int32_t handle, std::span<const float> xarray, std::span<const float> yarray,
              std::int32_t& nerr) {
    const std::int32_t npts = cmhdr.n(nslot::NPTS);
    const auto numeric = std::span<const std::byte>(reinterpret_cast<const std::byte*>(&cmhdr),
                                                    std::size_t{4} * kHdrNumWords);
    zwabs(handle, numeric, kHdrNumWords, 0, nerr);
    if (nerr != 0) return;

    std::array<std::byte, kHdrTextBytes> text{}; // the 48 words of packed text
    zputc(std::string_view(reinterpret_cast<const char*>(kmhdr.khdr.data()), kHdrTextBytes), text,
          kHdrTextBytes);
    zwabs(handle, std::span<const std::byte>(text), kHdrTextBytes / 4, kHdrNumWords, nerr);
    if (nerr != 0) return;

    zwabs(handle, yarray, npts, kHdrWords, nerr);
    if (nerr == 0 && cmhdr.l(lslot::LEVEN) == 0)
        zwabs(handle, xarray, npts, kHdrWords + npts, nerr);
}

} // namespace

void wkiv0(std::string_view kname, std::span<const float> xarray, std::span<const float> yarray,
           std::int32_t& nerr) {
    nerr = 0;
    if (refused(kname, xarray, yarray, nerr)) {
        wrtmsg(kStdout);
        return;
    }

    // A free unit is still asked for, so that running out of units fails the
    // same way as before, with nothing touched.
    std::int32_t unit = 0;
    zgtfun(unit, nerr);
    if (nerr != 0) {
        wrtmsg(kStdout);
        return;
    }

    Path path{};
    if (!zpath(kname, path)) {
        cannotcreate(kname, ENAMETOOLONG, nerr);
        wrtmsg(kStdout);
        return;
    }

    // The directory of the target, held open so that the temporary file and
    // the rename stay in it.
    const std::size_t len = std::strlen(path.data()); // a NUL in the name ends it
    Path dir{};
    const std::size_t last = std::string_view(path.data(), len).rfind('/');
    if (last == std::string_view::npos) {
        dir[0] = '.';
    } else {
        std::memcpy(dir.data(), path.data(), last == 0 ? 1 : last); // "/x" lies in "/"
    }
#ifdef O_PATH
    constexpr int kDirFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
    constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif
    // A plain name lies in the working directory: no directory to open.
    const bool here = last == std::string_view::npos;
    const int dirfd = len == 0 ? -1 : here ? AT_FDCWD : ::open(dir.data(), kDirFlags);
    if (dirfd == -1) {
        cannotcreate(kname, len == 0 ? ENOENT : errno, nerr);
        wrtmsg(kStdout);
        return;
    }

    const int fd = wkivtemp(dirfd, dir.data(), AT_FDCWD, path.data());
    if (fd < 0) {
        cannotcreate(kname, errno, nerr);
    } else {
        writeall(-fd, xarray, yarray, nerr);
        // A failed close loses data on some file systems and counts as a
        // failed write.
        if (::close(fd) != 0 && nerr == 0) writefailed(nerr);
        const int err = wkivdone(AT_FDCWD, path.data(), nerr == 0);
        if (err != 0 && nerr == 0) cannotcreate(kname, err, nerr);
    }
    if (!here) ::close(dirfd);
    if (nerr != 0) wrtmsg(kStdout);
}

int wkivtemp(int dirfd, const char* dir, int tdirfd, const char* name) {
    // Leftovers of killed runs go, once per directory in a row.
    static Path swept{};
    if (std::strncmp(swept.data(), dir, swept.size()) != 0) {
        sweep(dirfd, dir);
        std::strncpy(swept.data(), dir, swept.size() - 1);
    }
    // Exclusive create: an existing file of the same name is never reused.
    static std::uint64_t state = // seeded once; every call draws fresh names
        (static_cast<std::uint64_t>(::getpid()) << 32) ^
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    int fd = -1;
    int err = EEXIST;
    for (int t = 0; t < kTempTries && fd < 0 && err == EEXIST; ++t) {
        g_active = 0;
        tempname(g_tmp, state);
        g_tmpdir = dirfd;
        g_active = 1; // before the file exists: a signal must not miss it
        fd = ::openat(dirfd, g_tmp.data(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) err = errno;
    }
    if (fd < 0) {
        g_active = 0;
        errno = err;
        return fd;
    }
    // A replaced file keeps its permission bits: a private file stays private.
    struct stat old {};
    if (::fstatat(tdirfd, name, &old, 0) == 0 && S_ISREG(old.st_mode))
        ::fchmod(fd, old.st_mode & 0777);
    return fd;
}

int wkivdone(int tdirfd, const char* name, bool keep) {
    // No flush to disk: the rename already makes the new file appear whole or
    // not at all to every reader, and a sync per record would cost more than
    // the conversion itself.
    int err = 0;
    if (keep && ::renameat(g_tmpdir, g_tmp.data(), tdirfd, name) != 0) err = errno;
    if (!keep || err != 0) ::unlinkat(g_tmpdir, g_tmp.data(), 0);
    g_active = 0;
    return err;
}

void wkivabort() noexcept {
    if (g_active != 0) ::unlinkat(g_tmpdir, g_tmp.data(), 0);
    g_active = 0;
}

} // namespace kivf
