// Named file management: open, create, close, delete and look up files by
// file-type keyword, find free units, read the auxiliary directory.
#include "co/co.h"

#include "msg/msg.h"

#include <cstdlib>
#include <cstring>

namespace kivf {

namespace {

// A type matches a keyword when its first characters are the keyword.
bool is(std::string_view ftype, std::string_view keyword) {
    return ftype.starts_with(keyword);
}

// Every failure here starts its message with the number and the file's name.
void failed(std::int32_t number, std::string_view name, std::int32_t& nerr) {
    nerr = number;
    setmsg("ERROR", nerr);
    apcmsg(name);
}

// 108 for a file that does not exist; true when it does not.
bool missing(std::string_view name, std::int32_t& nerr) {
    bool exists = false;
    zinquire(name, exists);
    if (!exists) failed(108, name, nerr);
    return !exists;
}

void openfailed(std::string_view name, std::int32_t kind, std::int32_t& nerr) {
    failed(101, name, nerr);
    apcmsg(kind == 1 ? "(Insufficient access rights.)" : "(System error occurred.)");
}

void unitfailed(std::string_view name, std::int32_t status, std::int32_t& nerr) {
    failed(101, name, nerr);
    apcmsg("(Fortran i/o error number =");
    apimsg(status);
    apcmsg(")");
}

} // namespace

void zinquire(std::string_view name, bool& exists) {
    exists = uexists(name);
}

void zopen(std::int32_t& handle, std::string_view name, std::string_view ftype, std::int32_t recl,
           std::int32_t& nerr) {
    nerr = 0;
    std::int32_t status = 0;
    if (is(ftype, "SCRATCH")) {
        status = uopen(handle, "", "SCRATCH", "SEQUENTIAL", "FORMATTED");
    } else {
        if (missing(name, nerr)) return; // before the type is looked at
        if (is(ftype, "DATA") || is(ftype, "RODATA")) {
            std::int32_t kind = 0;
            zopenc(handle, name, 0, is(ftype, "DATA") ? 0 : 1, recl, kind);
            if (kind != 0) openfailed(name, kind, nerr);
            return;
        }
        if (is(ftype, "TEXT") || is(ftype, "ROTEXT") || is(ftype, "READ")) {
            status = uopen(handle, name, "OLD", "SEQUENTIAL", "FORMATTED");
        } else if (is(ftype, "ROUNFR")) {
            status = uopen(handle, name, "OLD", "SEQUENTIAL", "UNFORMATTED");
        } else if (is(ftype, "RODIR")) {
            status = uopen(handle, name, "OLD", "DIRECT", "UNFORMATTED", recl);
        } else {
            failed(101, name, nerr);
            apcmsg("(Bad value for file type =");
            apcmsg(ftype);
            apcmsg(")");
            return;
        }
    }
    if (status != 0) unitfailed(name, status, nerr);
}

void znfile(std::int32_t& handle, std::string_view name, std::string_view ftype, std::int32_t hint,
            std::int32_t& nerr) {
    nerr = 0;
    bool exists = false;
    zinquire(name, exists);
    if (is(ftype, "DATA")) {
        std::int32_t kind = 0;
        zopenc(handle, name, 1, 0, hint, kind);
        if (kind != 0) openfailed(name, kind, nerr);
    } else if (is(ftype, "TEXT")) {
        const std::int32_t status =
            uopen(handle, name, exists ? "OLD" : "NEW", "SEQUENTIAL", "FORMATTED");
        if (status != 0) unitfailed(name, status, nerr);
    } else {
        failed(101, name, nerr);
        aplmsg("Bad value for file type = ");
        apcmsg(ftype);
    }
}

void zclose(std::int32_t handle, std::int32_t& nerr) {
    nerr = 0;
    if (handle < 0) {
        zclosec(handle);
    } else if (uconnected(handle)) {
        uclose(handle);
    }
}

void zdest(std::string_view name, std::int32_t& nerr) {
    nerr = 0;
    if (missing(name, nerr)) return;
    std::int32_t unit = 0;
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
    nerr = 116;
    setmsg("ERROR", nerr);
}

void zbasename(std::span<char> dir, std::int32_t& nerr) {
    nerr = 0;
    const char* value = std::getenv("KIVAUX");
    if (value == nullptr) { // the caller decides what that means; dir stays as it is
        nerr = kErrNoKivaux;
        setmsg("ERROR", nerr);
        return;
    }
    const std::string_view v(value);
    if (v.size() > dir.size()) { // never cut to another directory
        nerr = 916;
        setmsg("ERROR", nerr);
        apcmsg(v);
        return;
    }
    fill(dir, v);
}

} // namespace kivf
