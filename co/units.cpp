// SPDX-License-Identifier: Apache-2.0
// The unit table. A unit holds a stdio stream; units 5 and 6 are bound to
// standard input and output from the start.
#include "co/co.h"

#include "bot/bot.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kivf {

namespace {

constexpr std::size_t kPathMax = 1024; // bytes of a path, terminator included

struct Unit {
    std::FILE* fp = nullptr;
    bool standard = false; // bound to stdin/stdout: never closed at system level
    std::array<char, kPathMax> path{}; // NUL-terminated; empty for scratch/standard: never removed
};

std::array<Unit, kMaxUnit + 1>& units() {
    // Built on first use so that units 5 and 6 exist before any other code runs.
    static std::array<Unit, kMaxUnit + 1> table = [] {
        std::array<Unit, kMaxUnit + 1> t{};
        t[kStdin].fp = stdin;
        t[kStdin].standard = true;
        t[kStdout].fp = stdout;
        t[kStdout].standard = true;
        return t;
    }();
    return table;
}

Unit* find(std::int32_t unit) {
    if (unit < 0 || unit > kMaxUnit) return nullptr;
    Unit& u = units()[static_cast<std::size_t>(unit)];
    return u.fp ? &u : nullptr;
}

// Case-blind comparison of a keyword argument with its used part.
bool keyword(std::string_view arg, std::string_view word) {
    const std::string_view a = used(arg);
    if (a.size() != word.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char ch = a[i];
        if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 32);
        if (ch != word[i]) return false;
    }
    return true;
}

// NUL-terminated copy of a name's used part; false when it does not fit.
bool makepath(std::string_view name, std::array<char, kPathMax>& path) {
    const std::string_view u = used(name);
    if (u.size() >= kPathMax) return false;
    std::memcpy(path.data(), u.data(), u.size());
    path[u.size()] = '\0';
    return true;
}

} // namespace

std::int32_t uopen(std::int32_t unit, std::string_view name, std::string_view status,
                   std::string_view access, std::string_view form, std::int32_t recl,
                   bool readonly) {
    if (unit < 0 || unit > kMaxUnit) return kUnitBadNumber;
    const bool old = keyword(status, "OLD");
    const bool isnew = keyword(status, "NEW");
    const bool scratch = keyword(status, "SCRATCH");
    const bool direct = keyword(access, "DIRECT");
    if (!(old || isnew || scratch) || !(direct || keyword(access, "SEQUENTIAL")) ||
        !(keyword(form, "FORMATTED") || keyword(form, "UNFORMATTED")))
        return kUnitBadKeyword;
    if (direct && recl <= 0) return kUnitBadRecl;

    Unit fresh;
    if (scratch) {
        fresh.fp = std::tmpfile();
        if (!fresh.fp) return errno ? errno : kUnitBadKeyword;
    } else {
        if (!makepath(name, fresh.path)) return kUnitNameTooLong;
        int fd;
        bool rdonly = false;
        if (isnew) {
            fd = ::open(fresh.path.data(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        } else if (readonly) {
            // A pipe opened for writing too would never see its end of file.
            fd = ::open(fresh.path.data(), O_RDONLY | O_CLOEXEC);
            rdonly = true;
        } else {
            fd = ::open(fresh.path.data(), O_RDWR | O_CLOEXEC);
            if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EISDIR ||
                           errno == ETXTBSY || errno == EPERM)) {
                fd = ::open(fresh.path.data(), O_RDONLY | O_CLOEXEC);
                rdonly = true;
            }
        }
        if (fd < 0) return errno;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
            ::close(fd);
            return kUnitIsDirectory;
        }
        fresh.fp = ::fdopen(fd, rdonly ? "r" : "r+");
        if (!fresh.fp) {
            const int e = errno;
            ::close(fd);
            return e;
        }
    }
    uclose(unit); // reconnecting a unit releases its old file first
    units()[static_cast<std::size_t>(unit)] = fresh;
    return kUnitOk;
}

void uclose(std::int32_t unit, bool remove) {
    Unit* u = find(unit);
    if (!u) return;
    if (u->standard) {
        std::fflush(u->fp);
    } else {
        std::fclose(u->fp);
        if (remove && u->path[0] != '\0') ::unlink(u->path.data());
    }
    *u = Unit{};
}

bool uconnected(std::int32_t unit) {
    return find(unit) != nullptr;
}

bool uexists(std::string_view name) {
    std::array<char, kPathMax> path{};
    if (!makepath(name, path)) return false;
    struct stat st {};
    return ::stat(path.data(), &st) == 0;
}

ReadStatus uread(std::int32_t unit, std::span<char> rec, std::size_t* length) {
    Unit* u = find(unit);
    if (!u) return ReadStatus::fail;
    if (unit == kStdin) {
        if (Unit* out = find(kStdout)) std::fflush(out->fp);
    }
    std::FILE* fp = u->fp;
    std::size_t n = 0, whole = 0;
    bool any = false;
    int ch = 0, prev = 0;
    while ((ch = getc_unlocked(fp)) != EOF) {
        any = true;
        if (ch == '\n') break;
        if (n < rec.size()) rec[n++] = static_cast<char>(ch);
        ++whole;
        prev = ch;
    }
    if (!any) return std::ferror(fp) ? ReadStatus::fail : ReadStatus::eof;
    if (ch == EOF && std::ferror(fp)) return ReadStatus::fail;
    if (prev == '\r') { // a carriage return before the line end belongs to the line end
        --whole;
        n = std::min(n, whole);
    }
    if (length != nullptr) *length = whole;
    std::fill(rec.begin() + static_cast<std::ptrdiff_t>(n), rec.end(), ' ');
    return ReadStatus::ok;
}

bool uwrite(std::int32_t unit, std::string_view rec, bool newline) {
    Unit* u = find(unit);
    if (!u) return false;
    bool ok = std::fwrite(rec.data(), 1, rec.size(), u->fp) == rec.size();
    if (newline) {
        ok = std::fputc('\n', u->fp) != EOF && ok;
    } else {
        ok = std::fflush(u->fp) == 0 && ok; // an open line must be seen now
    }
    return ok;
}

void zstdfd() {
    // Read-only: a write to a standard stream that was closed still fails, as
    // it would have, but no file opened later can take the stream's place.
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int nul = ::open("/dev/null", O_RDONLY);
        if (nul >= 0 && nul != fd) { // lower ones are open already: nul is above fd
            ::dup2(nul, fd);
            ::close(nul);
        }
    }
}

void uflushall() {
    for (std::int32_t i = 0; i <= kMaxUnit; ++i)
        if (Unit* u = find(i)) std::fflush(u->fp);
}

} // namespace kivf
