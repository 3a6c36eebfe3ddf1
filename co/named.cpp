// SPDX-License-Identifier: Apache-2.0
// Named file management: open, create, close, delete and look up files by
// file-type keyword, find free units, read the auxiliary directory.
#include "co/co.h"

#include "bot/bot.h"
#include "bot/report_internal.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace kivf {

namespace {

// A type matches a keyword when its first characters are the keyword.
bool is(std::string_view ftype, std::string_view keyword) {
    return ftype.starts_with(keyword);
}

// Every failure here starts its message with the number and the file's name.
void failed(std::int32_t number, std::string_view name, std::int32_t& nerr) {
    nerr = number;
    reporterror(nerr);
    reportpiece(name);
}

// 108 for a file that does not exist; true when it does not.
bool missing(std::string_view name, std::int32_t& nerr) {
    bool exists;
    zinquire(name, exists);
    if (!exists) failed(kMsgFileMissing, name, nerr);
    return !exists;
}

// 108 when nothing is there; 101 with the reason when something is there
// that cannot be reached, or is not a regular file where one is needed.
// True when the file cannot be used.
bool unusable(std::string_view name, bool regular, std::int32_t& nerr) {
    Path path{};
    struct stat st {};
    if (!zpath(name, path)) return missing(name, nerr);
    if (::stat(path.data(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return missing(name, nerr);
        failed(kMsgCreate, name, nerr);
        reportpiece(errno == EACCES  ? "(Insufficient access rights.)"
                    : errno == ELOOP ? "(Too many levels of symbolic links.)"
                                     : "(System error occurred.)");
        return true;
    }
    if (!regular || S_ISREG(st.st_mode)) return false;
    failed(kMsgCreate, name, nerr);
    reportpiece(S_ISDIR(st.st_mode)    ? "(Not a regular file: a directory.)"
                : S_ISFIFO(st.st_mode) ? "(Not a regular file: a FIFO.)"
                : S_ISCHR(st.st_mode)  ? "(Not a regular file: a character device.)"
                : S_ISBLK(st.st_mode)  ? "(Not a regular file: a block device.)"
                : S_ISSOCK(st.st_mode) ? "(Not a regular file: a socket.)"
                                       : "(Not a regular file.)");
    return true;
}

void openfailed(std::string_view name, std::int32_t kind, std::int32_t& nerr) {
    failed(kMsgCreate, name, nerr);
    reportpiece(kind == 1 ? "(Insufficient access rights.)" : "(System error occurred.)");
}

void unitfailed(std::string_view name, std::int32_t status, std::int32_t& nerr) {
    failed(kMsgCreate, name, nerr);
    reportpiece("(Fortran i/o error number =");
    reportinteger(status);
    reportpiece(")");
}

} // namespace

void zinquire(std::string_view name, bool& exists) {
    exists = uexists(name);
}

void zopen(std::int32_t& handle, std::string_view name, std::string_view ftype, std::int32_t recl,
           std::int32_t& nerr) {
    nerr = 0;
    std::int32_t status;
    if (is(ftype, "SCRATCH")) {
        status = uopen(handle, "", "SCRATCH", "SEQUENTIAL", "FORMATTED");
    } else {
        const bool data = is(ftype, "DATA") || is(ftype, "RODATA");
        if (unusable(name, data, nerr)) {               // before the type is looked at
            if (data && nerr == kMsgCreate) handle = 1; // as zopenc leaves it
            return;
        }
        if (data) {
            std::int32_t kind;
            zopenc(handle, name, 0, is(ftype, "DATA") ? 0 : 1, recl, kind);
            if (kind != 0) openfailed(name, kind, nerr);
            return;
        }
        if (is(ftype, "TEXT")) {
            status = uopen(handle, name, "OLD", "SEQUENTIAL", "FORMATTED");
        } else if (is(ftype, "ROTEXT") || is(ftype, "READ")) { // only read: never opened to write
            status = uopen(handle, name, "OLD", "SEQUENTIAL", "FORMATTED", 0, true);
        } else if (is(ftype, "ROUNFR")) {
            status = uopen(handle, name, "OLD", "SEQUENTIAL", "UNFORMATTED", 0, true);
        } else if (is(ftype, "RODIR")) {
            status = uopen(handle, name, "OLD", "DIRECT", "UNFORMATTED", recl, true);
        } else {
            failed(kMsgCreate, name, nerr);
            reportpiece("(Bad value for file type =");
            reportpiece(ftype);
            reportpiece(")");
            return;
        }
    }
    if (status != 0) unitfailed(name, status, nerr);
}

void znfile(std::int32_t& handle, std::string_view name, std::string_view ftype, std::int32_t hint,
            std::int32_t& nerr) {
    nerr = 0;
    bool exists;
    zinquire(name, exists);
    if (is(ftype, "DATA")) {
        std::int32_t kind;
        zopenc(handle, name, 1, 0, hint, kind);
        if (kind != 0) openfailed(name, kind, nerr);
    } else if (is(ftype, "TEXT")) {
        const std::int32_t status =
            uopen(handle, name, exists ? "OLD" : "NEW", "SEQUENTIAL", "FORMATTED");
        if (status != 0) unitfailed(name, status, nerr);
    } else {
        failed(kMsgCreate, name, nerr);
        reportline("Bad value for file type = ");
        reportpiece(ftype);
    }
}

void zclose(std::int32_t handle, std::int32_t& nerr) {
    nerr = 0;
    if (handle < 0) { // zclosec leaves alone a handle that is no descriptor
        zclosec(handle);
    } else if (uconnected(handle)) {
        uclose(handle);
    }
}

void zdest(std::string_view name, std::int32_t& nerr) {
    nerr = 0;
    if (missing(name, nerr)) return;
    std::int32_t unit;
    zgtfun(unit, nerr);
    if (nerr != 0) return;
    // Opening it as a text file first means only what could be opened is
    // removed: a directory fails here and stays.
    zopen(unit, name, "TEXT", 0, nerr);
    if (nerr != 0) return;
    uclose(unit, true);
}

void zgtfun(std::int32_t& unit, std::int32_t& nerr) {
    nerr = 0;
    for (unit = 19; unit >= 1; --unit)
        if (!uconnected(unit)) return;
    unit = 0;
    nerr = kMsgNoUnit;
    reporterror(nerr);
}

void zbasename(std::span<char> dir, std::int32_t& nerr) {
    nerr = 0;
    const char* value = std::getenv("KIVAUX");
    if (value == nullptr) { // the caller decides what that means; dir stays as it is
        nerr = kMsgNoKivaux;
        reporterror(nerr);
        return;
    }
    const std::string_view v(value);
    if (v.size() > dir.size()) { // never cut to another directory
        nerr = kMsgPathTooLong;
        reporterror(nerr);
        reportpiece(v);
        return;
    }
    fill(dir, v);
}

} // namespace kivf
