// SPDX-License-Identifier: Apache-2.0
// The KIV header of the process: the one current header and the field
// catalogue as process-wide records, the routines that set them up and set
// fields by name, and the readers and writers of KIV files between them (or
// records of the caller's) and arrays. The header's layout is in records.h,
// KIV files as values in kiv.h.
#pragma once

#include "bot/bot.h"
#include "bot/numbers.h"
#include "dff/kiv.h"
#include "dff/records.h"
#include "msg/msg.h"

#include <cstdint>
#include <span>
#include <string_view>

namespace kivf {

// The current header and the catalogue, one of each for the whole process.
extern CmHdr cmhdr;
extern KmHdr kmhdr;
extern CmLhf cmlhf;
extern KmLhf kmlhf;

// ------------------------------------------------------------ routines ----

// Set the header constants (version, undefined values, enumeration ordinals).
void inihdr();
// Fill the catalogue, overwriting whatever it holds.
void inilhf();
// Reset the current header to its defaults. The first call of the process
// also runs inihdr, inilhf and inimsg. Cannot fail.
void newhdr();

// Set one floating, integer or text field by name. The name is upper-cased,
// characters after the eighth are not looked at, and only the routine's own
// group is searched. An unknown name is 1337, printed at once on unit 6, with
// no field changed. setkhv stores the first 8 characters of the value
// (blank-padded); for KEVNM characters 9 to 16 go to KEVNMC.
void setfhv(std::string_view kname, float fvalue, std::int32_t& nerr);
void setnhv(std::string_view kname, std::int32_t nvalue, std::int32_t& nerr);
void setkhv(std::string_view kname, std::string_view kvalue, std::int32_t& nerr);

// Slot (1-based) of a name in one list of the catalogue, 0 when absent. The
// whole name counts, in any letter case: a name of more than 8 characters is
// in no list.
std::int32_t catslot(std::string_view name, std::span<const Text<8>> list);

// Reset the records hdr and khdr to the defaults newhdr gives the current
// header; their constants too.
void newhdr(CmHdr& hdr, KmHdr& khdr);

// ------------------------------------------------------------ the writer ----

// The writers refuse (nothing created or removed) with kMsgNptsUndefined (NPTS undefined or
// negative), kMsgShortYarray, kMsgShortXarray (an array shorter than NPTS) and kMsgNptsTooLarge
// (a file past 2^31-1 words).

// Write the records hdr and khdr and the samples (yarray; xarray too when
// LEVEN is false) as a KIV file named kname: NPTS and LEVEN of hdr say how
// many words go. The file is written under a temporary name in the same
// directory and renamed over kname only when every write succeeded, so a
// failure leaves any old file as it was and no partial file. Returns 0 or the
// failure, its message composed (not printed): 101 the file cannot be created
// or put in place; 115 a write failed; 1400-1403 refused. A replaced file's
// permission bits pass to the new one. Temporary names are
// ".kivtmp-HOST-PID-XXXXXXXX" (HOST: 16 hex digits for this machine and
// process-id space); the first write in a directory removes those left there
// by processes of this host that no longer exist, and any other untouched for
// a day.
std::int32_t writekiv(std::string_view kname, const CmHdr& hdr, const KmHdr& khdr,
                      std::span<const float> yarray, std::span<const float> xarray);
// The same for the current header, in the file layer's word transfers (one
// each for the numeric words, the text, the samples and the x values; the
// others gather everything into one write), failures printed at once on
// unit 6; also 116 when no unit is free.
void wkiv0(std::string_view kname, std::span<const float> xarray, std::span<const float> yarray,
           std::int32_t& nerr);
// Remove the temporary file a writer is writing, if any. Async-signal-safe:
// for a program's signal handlers, which then end the process as they see fit.
void wkivabort() noexcept;

// ---------------------------------------------------------------- reader ----

// Failures of rkivhdr, composed (the number, the file name and the particulars) but not
// printed: the caller decides where they go. kMsgKivMissing no such file; kMsgKivOpen cannot be
// opened, or not a plain file; kMsgKivNotKiv NVHDR is 6 in neither byte order; kMsgKivShort
// shorter than the 632-byte header; kMsgKivSize the size is not 632 + 4*NPTS (8*NPTS uneven);
// kMsgKivRead the header could not be read; kMsgKivNpts NPTS negative or undefined.

// Read the header of the KIV file kname into hdr (the 110 numeric words F, N,
// I, L) and khdr (the 24 text fields), whichever byte order wrote it: the file
// is recognised by NVHDR = 6 at byte 304 in this machine's order or in the
// reverse one (swapped true), and numeric words are then reversed; text bytes
// never are. The size must be 632 + 4*NPTS bytes, 632 + 8*NPTS when LEVEN is
// false (0). The constants of the records (undefined values, version,
// enumeration ordinals) are never touched, so reading into the current header
// does not stand in for its first reset. On failure nerr is 1410-1416 and the
// records are unchanged.
void rkivhdr(std::string_view kname, CmHdr& hdr, KmHdr& khdr, bool& swapped, std::int32_t& nerr);
// The same into the current header (cmhdr, kmhdr).
void rkivhdr(std::string_view kname, bool& swapped, std::int32_t& nerr);

// Also kMsgKivSpan (a caller's span holds fewer than NPTS words) and kMsgKivData (the samples
// could not be read).

// Read a KIV file whole, the file opened once: the header checked as rkivhdr
// checks it (either byte order), then the samples straight into the arrays
// that arrays gives. Returns 0 or the failure, its message composed (not
// printed): 1410-1416 as rkivhdr, 1417, 1418 as rkiv. hdr and khdr change
// only on success.
std::int32_t readkiv(std::string_view kname, CmHdr& hdr, KmHdr& khdr, bool& swapped,
                     const KivArrays& arrays);

// Read a KIV file whole: the header exactly as rkivhdr reads it (same checks, same refusals
// 1410-1416, either byte order), then its NPTS samples into yarray and, when LEVEN is false,
// the NPTS independent values (stored after the samples, as wkiv0 writes them) into xarray,
// swapped to this machine's order when the file was written in the other one. yarray (and
// xarray when LEVEN is false) must hold at least NPTS words, else 1417 before anything is read.
// Never reads or writes past a span. On failure the message is composed (not printed: the
// caller decides), nerr is its number and hdr/khdr are unchanged. A read of the samples that
// fails after the checks (the file changed meanwhile) is 1418; the spans may then hold part of
// the samples.
void rkiv(std::string_view kname, CmHdr& hdr, KmHdr& khdr, std::span<float> yarray,
          std::span<float> xarray, bool& swapped, std::int32_t& nerr);
// The same into the current header (cmhdr, kmhdr).
void rkiv(std::string_view kname, std::span<float> yarray, std::span<float> xarray, bool& swapped,
          std::int32_t& nerr);

} // namespace kivf
