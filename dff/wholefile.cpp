// SPDX-License-Identifier: Apache-2.0
// Files that appear whole or not at all: where a file goes, and a file of
// bytes written through a temporary name as the KIV writer writes its own.
#include "dff/dff_internal.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace kivf {

Draft cannotcreate(std::string_view kname, int err) {
    Draft why(kMsgCreate, err);
    why << kname
        << (err == EACCES || err == EPERM ? "(Insufficient access rights.)"
                                          : "(System error occurred.)");
    return why;
}

int openplace(std::string_view kname, Path& path, Path& dir, KivPlace& at) {
    if (!zpath(kname, path)) return ENAMETOOLONG;
    const std::size_t len = std::strlen(path.data()); // a NUL in the name ends it
    if (len == 0) return ENOENT;
    const std::size_t last = std::string_view(path.data(), len).rfind('/');
    // A plain name lies in the working directory: no directory to open.
    const bool here = last == std::string_view::npos;
    if (here) {
        dir[0] = '.';
    } else {
        std::memcpy(dir.data(), path.data(), last == 0 ? 1 : last); // "/x" lies in "/"
    }
#ifdef O_PATH
    constexpr int kDirFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
    constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif
    const int dirfd = here ? AT_FDCWD : ::open(dir.data(), kDirFlags);
    if (dirfd == -1) return errno;
    at = KivPlace{dirfd, dir.data(), here ? path.data() : path.data() + last + 1};
    return 0;
}

void closeplace(const KivPlace& at) {
    if (at.dirfd != AT_FDCWD) ::close(at.dirfd);
}

namespace {

constexpr std::size_t kGather = std::size_t{1} << 20; // bytes a write gathers

// Every byte out, a write cut short or interrupted carried on.
int putall(int fd, const char* p, std::size_t n) {
    while (n > 0) {
        const ssize_t put = ::write(fd, p, n);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return put < 0 ? errno : EIO;
        p += put;
        n -= static_cast<std::size_t>(put);
    }
    return 0;
}

} // namespace

WholeFile::~WholeFile() {
    drop();
}

Failure WholeFile::open(std::string_view path, bool keep) {
    drop();
    Path full{}, dir{};
    KivPlace at{};
    if (const int err = openplace(path, full, dir, at); err != 0)
        return cannotcreate(path, err).failure();
    TempFile tmp;
    fd_ = wkivtemp(at.dirfd, at.dir, at.dirfd, at.name, tmp);
    if (fd_ < 0) {
        const int err = errno;
        closeplace(at);
        return cannotcreate(path, err).failure();
    }
    path_ = path;
    dir_ = at.dir;
    name_ = at.name;
    dirfd_ = at.dirfd;
    temp_ = tmp.name;
    slot_ = tmp.slot;
    err_ = 0;
    keep_ = keep;
    buf_.clear();
    buf_.reserve(kGather);
    return {};
}

int WholeFile::write(std::span<const char> bytes) {
    if (fd_ < 0) return EBADF;
    if (err_ == 0 && buf_.size() + bytes.size() > kGather) {
        err_ = putall(fd_, buf_.data(), buf_.size());
        buf_.clear();
        if (err_ == 0 && bytes.size() >= kGather) {
            err_ = putall(fd_, bytes.data(), bytes.size());
            return err_;
        }
    }
    if (err_ == 0) buf_.insert(buf_.end(), bytes.begin(), bytes.end());
    return err_;
}

Failure WholeFile::commit() {
    if (fd_ < 0) return cannotcreate(path_, EBADF).failure();
    if (err_ == 0) err_ = putall(fd_, buf_.data(), buf_.size());
    // A failed close loses data on some file systems and counts as a failed write.
    if (::close(fd_) != 0 && err_ == 0) err_ = errno;
    fd_ = -1;
    TempFile tmp{temp_, dirfd_, slot_};
    const int placed = wkivdone(tmp, dirfd_, name_.c_str(), err_ == 0, keep_);
    slot_ = -1;
    closeplace(KivPlace{dirfd_, nullptr, nullptr});
    dirfd_ = -1;
    if (err_ != 0)
        return (Draft(kMsgWriteFailed, err_)
                << path_ << "(" + std::string(std::strerror(err_)) + ")")
            .failure();
    if (placed != 0) return cannotcreate(path_, placed).failure();
    return {};
}

// An uncommitted file removed.
void WholeFile::drop() {
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
    TempFile tmp{temp_, dirfd_, slot_};
    wkivdone(tmp, dirfd_, name_.c_str(), false);
    slot_ = -1;
    closeplace(KivPlace{dirfd_, nullptr, nullptr});
    dirfd_ = -1;
}

} // namespace kivf
