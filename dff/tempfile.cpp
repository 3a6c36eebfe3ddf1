// SPDX-License-Identifier: Apache-2.0
// The writers' temporary files: a file is written whole under a temporary
// name in its own directory and renamed over the target only when every byte
// is written, so that a reader never sees a partial file and a failure never
// costs the old one.
#include "dff/dff.h"
#include "dff/dff_internal.h"
#include "dff/dff_testing.h"

#include "co/co.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <mutex>
#include <span>
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

// The temporary files in progress, for a signal handler: plain storage, each
// entry filled before its file is made and cleared after it is renamed or
// removed. state: 0 free, 1 claimed, 2 to be removed on a signal.
constexpr int kSlots = 64;
struct Slot {
    TempName name{};
    int dirfd = -1;
    std::atomic<int> state{0};
};
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler reads the states");
std::array<Slot, kSlots> g_slots;

int claim() {
    for (int i = 0; i < kSlots; ++i) {
        int free = 0;
        if (g_slots[static_cast<std::size_t>(i)].state.compare_exchange_strong(free, 1)) return i;
    }
    return -1;
}

void arm(const TempFile& tmp) {
    if (tmp.slot < 0) return;
    Slot& s = g_slots[static_cast<std::size_t>(tmp.slot)];
    s.state.store(1);
    std::memcpy(s.name.data(), tmp.name.data(), s.name.size());
    s.dirfd = tmp.dirfd;
    s.state.store(2); // before the file exists: a signal must not miss it
}

void release(TempFile& tmp) {
    if (tmp.slot >= 0) g_slots[static_cast<std::size_t>(tmp.slot)].state.store(0);
    tmp.slot = -1;
}

std::uint64_t splitmix(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

// This host's tag: the kernel's boot id (one per machine and boot), the
// process-id namespace (one per container) and the host name, hashed.
std::array<char, kHostDigits + 1> maketag() {
    std::array<char, kHostDigits + 1> tag{};
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

const std::array<char, kHostDigits + 1>& hosttag() {
    static const std::array<char, kHostDigits + 1> tag = maketag();
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

void tempname(std::span<char> name, std::uint64_t draw) {
    static constexpr std::string_view digits =
        "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    std::fill(name.begin(), name.end(), '\0');
    std::memcpy(name.data(), kTempPrefix.data(), kTempPrefix.size());
    char* at = name.data() + kTempPrefix.size();
    std::memcpy(at, hosttag().data(), kHostDigits);
    at += kHostDigits;
    *at++ = '-';
    at = std::to_chars(at, at + kPidDigits, static_cast<std::int64_t>(::getpid())).ptr;
    *at++ = '-';
    std::uint64_t r = splitmix(draw);
    for (std::size_t j = 0; j < kTempRandom; ++j, r /= digits.size())
        *at++ = digits[r % digits.size()];
}

} // namespace

namespace {

int renamenew(int fromdir, const char* from, int todir, const char* to) {
    return ::renameat2(fromdir, from, todir, to, RENAME_NOREPLACE);
}

std::atomic<RenameCall> g_renamenew{renamenew};

} // namespace

int placenew(int fromdir, const char* from, int todir, const char* to, bool& moved) {
    moved = g_renamenew.load()(fromdir, from, todir, to) == 0;
    if (moved) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return errno;
    // A file system without that rename (some network ones): a hard link
    // fails just as surely when the name exists; the temporary name goes after.
    return ::linkat(fromdir, from, todir, to, 0) != 0 ? errno : 0;
}

void wkivsetrenamenew(RenameCall r) {
    g_renamenew.store(r != nullptr ? r : renamenew);
}

int wkivtemp(int dirfd, const char* dir, int tdirfd, const char* name, TempFile& tmp) {
    // Leftovers of killed runs go, once per directory in a row.
    {
        static std::mutex m;
        static Path swept{};
        const std::lock_guard<std::mutex> hold(m);
        if (std::strncmp(swept.data(), dir, swept.size()) != 0) {
            sweep(dirfd, dir);
            std::strncpy(swept.data(), dir, swept.size() - 1);
        }
    }
    // Exclusive create: an existing file of the same name is never reused.
    // Seeded once; every draw, on any thread, gives fresh names.
    static std::atomic<std::uint64_t> draws{
        (static_cast<std::uint64_t>(::getpid()) << 32) ^
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count())};
    tmp.dirfd = dirfd;
    tmp.slot = claim();
    int fd = -1;
    int err = EEXIST;
    for (int t = 0; t < kTempTries && fd < 0 && err == EEXIST; ++t) {
        tempname(tmp.name, draws.fetch_add(1));
        arm(tmp);
        fd = ::openat(dirfd, tmp.name.data(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) err = errno;
    }
    if (fd < 0) {
        release(tmp);
        errno = err;
        return fd;
    }
    // A replaced file keeps its permission bits: a private file stays private.
    struct stat old {};
    if (::fstatat(tdirfd, name, &old, 0) == 0 && S_ISREG(old.st_mode))
        ::fchmod(fd, old.st_mode & 0777);
    return fd;
}

int wkivdone(TempFile& tmp, int tdirfd, const char* name, bool keep, bool noreplace) {
    // No flush to disk: the rename already makes the new file appear whole or
    // not at all to every reader, and a sync per record would cost more than
    // the conversion itself.
    int err = 0;
    bool moved = false;
    if (keep && noreplace) {
        err = placenew(tmp.dirfd, tmp.name.data(), tdirfd, name, moved);
    } else if (keep && ::renameat(tmp.dirfd, tmp.name.data(), tdirfd, name) != 0) {
        err = errno;
    } else {
        moved = keep;
    }
    if (!moved) ::unlinkat(tmp.dirfd, tmp.name.data(), 0);
    release(tmp);
    return err;
}

void wkivabort() noexcept {
    for (Slot& s : g_slots) {
        // The entry stays: its writer frees it, should the process go on.
        if (s.state.load() == 2) ::unlinkat(s.dirfd, s.name.data(), 0);
    }
}

} // namespace kivf
