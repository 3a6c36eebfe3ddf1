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
// ".kivtmp-HOST-PID-RANDOM": HOST (16 hex digits) tells the machine and
// process-id space, PID the process, so that a later run can tell whose a
// leftover is: a process id means nothing on another node of a shared file
// system or in another container.
constexpr std::string_view kTempPrefix = ".kivtmp-";
constexpr std::size_t kHostDigits = 16;
constexpr std::size_t kTempRandom = 8;
constexpr std::size_t kPidDigits = 10; // 2^31 - 1
using TempName =
    std::array<char, kTempPrefix.size() + kHostDigits + 1 + kPidDigits + 1 + kTempRandom + 1>;
constexpr int kTempTries = 64;
// A leftover whose owner cannot be asked (another host, an earlier form of
// the name) goes only when nothing has written to it for this long.
constexpr std::int64_t kStaleSeconds = 24 * 3600;

// The temporary file in progress, for a signal handler: plain storage, set
// before the file is made and cleared after it is renamed or removed.
TempName g_tmp{};
volatile int g_tmpdir = -1;
volatile std::sig_atomic_t g_active = 0;

std::uint64_t splitmix(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

// This host's tag: the kernel's boot id (one per machine and boot), the
// process-id namespace (one per container) and the host name, hashed.
const std::array<char, kHostDigits + 1>& hosttag() {
    static std::array<char, kHostDigits + 1> tag{};
    if (tag[0] != '\0') return tag;
    std::uint64_t h = 0;
    const auto take = [&h](std::string_view s) {
        for (const char c : s) h = splitmix(h) ^ static_cast<unsigned char>(c);
    };
    std::array<char, 256> buf{};
    if (std::FILE* f = std::fopen("/proc/sys/kernel/random/boot_id", "re")) {
        take(std::string_view(buf.data(), std::fread(buf.data(), 1, buf.size(), f)));
        std::fclose(f);
    }
    struct stat ns {};
    if (::stat("/proc/self/ns/pid", &ns) == 0) take(std::to_string(ns.st_ino));
    buf.fill('\0');
    if (::gethostname(buf.data(), buf.size() - 1) == 0) take(buf.data());
    h = splitmix(h);
    static constexpr std::string_view hex = "0123456789abcdef";
    for (std::size_t i = 0; i < kHostDigits; ++i) tag[i] = hex[(h >> (60 - 4 * i)) & 0xF];
    return tag;
}

// A leftover's owner from its name: host tag (empty for the earlier form
// ".kivtmp-PID-RANDOM") and pid. False for a name not of our form.
bool owner(std::string_view n, std::string_view& host, std::int64_t& pid) {
    if (!n.starts_with(kTempPrefix)) return false;
    n.remove_prefix(kTempPrefix.size());
    host = {};
    if (n.size() > kHostDigits && n[kHostDigits] == '-' &&
        n.substr(0, kHostDigits).find_first_not_of("0123456789abcdef") == std::string_view::npos) {
        host = n.substr(0, kHostDigits);
        n.remove_prefix(kHostDigits + 1);
    }
    const auto r = std::from_chars(n.data(), n.data() + n.size(), pid);
    return r.ec == std::errc() && r.ptr != n.data() && pid > 0 &&
           pid <= std::numeric_limits<pid_t>::max() && r.ptr < n.data() + n.size() &&
           *r.ptr == '-' &&
           n.data() + n.size() - (r.ptr + 1) == static_cast<std::ptrdiff_t>(kTempRandom);
}

// Remove in dirfd the temporary files that are provably stale: what a killed
// run left behind. One of this host whose process is gone goes at once; any
// other of our form only when untouched for a day, since its process may be
// alive on another node or in another container.
void sweep(int dirfd, const char* dir) {
    DIR* d = ::opendir(dir);
    if (d == nullptr) return;
    const std::string_view ours(hosttag().data(), kHostDigits);
    const std::int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
    while (const dirent* e = ::readdir(d)) {
        std::string_view host;
        std::int64_t pid = 0;
        if (!owner(e->d_name, host, pid)) continue;
        struct stat st {};
        const bool gone =
            host == ours && ::kill(static_cast<pid_t>(pid), 0) == -1 && errno == ESRCH;
        if (gone || (::fstatat(dirfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                     now - st.st_mtime > kStaleSeconds))
            ::unlinkat(dirfd, e->d_name, 0);
    }
    ::closedir(d);
}

void tempname(TempName& name, std::uint64_t& state) {
    static constexpr std::string_view digits =
        "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    name.fill('\0');
    std::memcpy(name.data(), kTempPrefix.data(), kTempPrefix.size());
    char* at = name.data() + kTempPrefix.size();
    std::memcpy(at, hosttag().data(), kHostDigits);
    at += kHostDigits;
    *at++ = '-';
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
