// SPDX-License-Identifier: Apache-2.0
// The platform file layer: numbered units for text and record files, and the
// field conversions used on records and on texts held in memory.
#pragma once

#include "bot/numbers.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace kivf {

// ---------------------------------------------------------------- units ----
//
// A unit is a small number standing for an open file. Units 5 and 6 are
// standard input and output from the start; every other unit is connected by
// uopen and released by uclose. Records are lines ended by a newline.

inline constexpr std::int32_t kMaxUnit = 99;
inline constexpr std::int32_t kStdin = 5;
inline constexpr std::int32_t kStdout = 6;

// Status numbers of uopen besides the system's own errno values (which are
// small positive numbers): all positive, 0 is success.
enum UnitStatus : std::int32_t {
    kUnitOk = 0,
    kUnitBadNumber = 901,   // unit outside 0..kMaxUnit
    kUnitBadKeyword = 902,  // status, access or form not recognised
    kUnitNameTooLong = 903, // the name does not fit a path
    kUnitIsDirectory = 904, // only plain files and devices are opened
    kUnitBadRecl = 905,     // direct access without a positive record length
};

// Open a unit on a file. status: "OLD" (must exist), "NEW" (must not exist;
// created with bits 0666 narrowed by the umask), "SCRATCH" (nameless, gone at
// close). access "SEQUENTIAL" or "DIRECT", form "FORMATTED" or "UNFORMATTED",
// recl for direct access. Keywords are matched without regard to case or
// trailing blanks. The name is its used part. An OLD file is opened for
// reading and writing where allowed, else for reading only; with readonly
// always for reading only (files that are only read, so that a pipe ends).
// Returns a status number; on failure the unit is left unconnected.
std::int32_t uopen(std::int32_t unit, std::string_view name, std::string_view status,
                   std::string_view access = "SEQUENTIAL", std::string_view form = "FORMATTED",
                   std::int32_t recl = 0, bool readonly = false);

// Close a unit, keeping the file or removing it (remove = disposition
// DELETE). A unit that is not connected is left alone. Units 5 and 6 are
// flushed and disconnected, never closed at the system level.
void uclose(std::int32_t unit, bool remove = false);

// Whether a unit is connected.
bool uconnected(std::int32_t unit);

// Whether a file (of any kind) of that name exists; the name is its used part.
bool uexists(std::string_view name);

enum class ReadStatus { ok, eof, fail };

// Read the next record (line) of a unit into rec: cut to rec, or padded with
// blanks; the rest of a longer line is skipped. End of file before any
// character of a record is eof; a unit that is not connected or a read error
// is fail. Reading unit 5 first flushes standard output, so that an open
// prompt is seen before the program waits. One carriage return just before
// the line end is part of the line end. length, when given, receives the
// length of the whole line, however much of it rec holds.
ReadStatus uread(std::int32_t unit, std::span<char> rec, std::size_t* length = nullptr);

// Write one record: the characters as they are, then a newline unless
// newline is false (the line stays open and is flushed at once). Returns
// false when the unit is not connected or the write failed.
bool uwrite(std::int32_t unit, std::string_view rec, bool newline = true);

// Open /dev/null (read-only) on each of descriptors 0, 1 and 2 that is
// closed, so that no file opened later takes a standard stream's place.
// Programs call it first.
void zstdfd();

// Flush every connected unit (done at exit too).
void uflushall();

// ----------------------------------------------------- field conversions ----

// Integer field: an optionally signed decimal integer; blanks anywhere are
// ignored and an all-blank field reads 0. Anything else, or a value outside
// 32 bits, is a failure (false, value unchanged).
bool rdint(std::string_view field, std::int32_t& value);

// Integer written right-justified over the whole field, a minus sign before
// the digits of a negative value; asterisks over the field when it does not
// fit.
void wrint(std::int32_t value, std::span<char> field);

// Free-form numbers: leading and trailing blanks are passed over; the rest
// must be an optionally signed decimal number in ordinary notation (digits,
// an optional decimal point, an optional exponent E or D), rounded once to
// the target. Not-a-number words, infinities, an empty text, a value out of
// the target's range and anything else are failures (false, value
// unchanged). The integer target accepts only an optionally signed integer.
// A text of 512 characters or more (after its blanks) is refused too: no
// field this system reads is that long.
bool rdfree(std::string_view text, float& value);
bool rdfree(std::string_view text, double& value);
bool rdfree(std::string_view text, std::int32_t& value);

// ------------------------------------------------- descriptor file I/O ----
//
// Word-addressed binary data files. A handle of a file opened here is the
// negated descriptor; handles of 0 or more are units.

// Open or create (create != 0: create if absent, empty if present, bits 0666
// narrowed by the umask) the named file, read-only when rdonly != 0. kind: 0
// opened, 1 permission refused, 2 any other failure (handle then 1). A name
// whose used part does not fit 1023 bytes is refused with kind 2, and so is
// anything but a regular file (opened without waiting, so a FIFO never blocks).
// The path zopenc opens for a name: trailing blanks dropped (an all-blank
// name is one blank, leading blanks stay), NUL-terminated. False when it does
// not fit: such a name is refused, never cut to another path.
inline constexpr std::size_t kPathBytes = 1024; // a path and its terminator
using Path = std::array<char, kPathBytes>;
bool zpath(std::string_view name, Path& path);
// True when zpath hands name to the system exactly as given: not empty, no
// NUL, no trailing blank, and it fits. Callers that take a path as a whole
// string (not a blank-padded field) refuse any other rather than open a
// different file; zinexact says why ("ends in a blank", ...; empty when exact).
bool zexact(std::string_view name);
std::string_view zinexact(std::string_view name);

// Read n bytes at byte offset off of descriptor fd, going on after short
// transfers and signals. False when the file ends first (errno then 0) or a
// read fails (errno tells why); got, when given, holds the bytes read.
bool zpreadn(int fd, std::byte* p, std::size_t n, std::int64_t off);
bool zpreadn(int fd, std::byte* p, std::size_t n, std::int64_t off, std::size_t& got);

// A scratch area of the process for zpreadf, 8-byte aligned.
std::span<std::byte> zscratch();

// Read count values of width bytes each at byte offset off of fd and append
// them to out as floats, a piece at a time: each piece is read into the
// scratch area, turned into floats there by turn(piece, k) (k values; room
// for k * max(width, 4) bytes) and appended. So out is written once, never
// first filled with zeros and then overwritten. False as zpreadn, got then
// holding the bytes read; out may hold the values of the pieces before.
template <class Turn>
bool zpreadf(int fd, std::int64_t off, std::size_t count, std::size_t width,
             std::vector<float>& out, std::size_t& got, Turn turn) {
    const std::span<std::byte> piece = zscratch();
    const std::size_t per = piece.size() / (width > 4 ? width : 4);
    out.reserve(out.size() + count);
    got = 0;
    for (std::size_t done = 0; done < count;) {
        const std::size_t k = count - done < per ? count - done : per;
        std::size_t part;
        const bool whole =
            zpreadn(fd, piece.data(), k * width, off + static_cast<std::int64_t>(got), part);
        got += part;
        if (!whole) return false;
        turn(piece.data(), k);
        const auto* f = reinterpret_cast<const float*>(piece.data());
        out.insert(out.end(), f, f + k);
        done += k;
    }
    return true;
}

void zopenc(std::int32_t& handle, std::string_view name, std::int32_t create, std::int32_t rdonly,
            std::int32_t hint, std::int32_t& kind);
void zclosec(std::int32_t handle);

// Read (zrabs) or write (zwabs) count 4-byte words at word offset, in pieces
// cut at 512-byte boundaries of the file. A short or failed transfer is 114
// (read) or 115 (write) with its message started. A count that the array
// cannot hold, or a negative count or offset, fails the same way before any
// transfer.
void zrabs(std::int32_t handle, std::span<std::byte> array, std::int32_t count, std::int32_t offset,
           std::int32_t& nerr);
void zwabs(std::int32_t handle, std::span<const std::byte> array, std::int32_t count,
           std::int32_t offset, std::int32_t& nerr);
// zrabs that composes nothing, for callers on any thread: false on a short or
// failed transfer.
bool zreadwords(std::int32_t handle, std::span<std::byte> array, std::int32_t count,
                std::int32_t offset);
template <class T>
requires(sizeof(T) == 4) void zrabs(std::int32_t handle, std::span<T> array, std::int32_t count,
                                    std::int32_t offset, std::int32_t& nerr) {
    zrabs(handle, std::as_writable_bytes(array), count, offset, nerr);
}
template <class T>
requires(sizeof(T) == 4) void zwabs(std::int32_t handle, std::span<const T> array,
                                    std::int32_t count, std::int32_t offset, std::int32_t& nerr) {
    zwabs(handle, std::as_bytes(array), count, offset, nerr);
}

// Start the message of a failed transfer.
void zrwerr(std::int32_t nerr);
// Copy count characters of text into the first bytes of array (never past
// either).
void zputc(std::string_view text, std::span<std::byte> array, std::int32_t count);

// ---------------------------------------------------- named file management ----

// Open an existing file by file-type keyword (prefix match, in this order):
// SCRATCH, DATA, RODATA (descriptor; handle out), TEXT, ROTEXT, READ, ROUNFR,
// RODIR (unit given in handle). 108 missing file, 101 failed open or bad type;
// the message says why (access refused, not a regular file, ...). The RO
// types and READ open for reading only; DATA and RODATA take regular files only.
void zopen(std::int32_t& handle, std::string_view name, std::string_view ftype, std::int32_t recl,
           std::int32_t& nerr);
// Create a file: DATA (descriptor, handle out) or TEXT (unit given in handle).
void znfile(std::int32_t& handle, std::string_view name, std::string_view ftype, std::int32_t hint,
            std::int32_t& nerr);
// Close a descriptor (handle < 0) or a unit (handle >= 0). Never fails.
void zclose(std::int32_t handle, std::int32_t& nerr);
// Delete a named file: 108 when missing, 116 no unit, 101 when it cannot be
// opened as text (directories stay).
void zdest(std::string_view name, std::int32_t& nerr);
void zinquire(std::string_view name, bool& exists);
// Highest unit of 19..1 not connected; 116 when none.
void zgtfun(std::int32_t& unit, std::int32_t& nerr);
// The KIVAUX directory, blank-padded. Unset: 917, dir unchanged. A value
// longer than dir: 916 with the value.
void zbasename(std::span<char> dir, std::int32_t& nerr);

} // namespace kivf
