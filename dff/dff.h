// The KIV header: the one current header of the process, its field catalogue,
// its defaults, access to its fields by name, and the file writer.
//
// A KIV file is 158 four-byte words of header (110 numeric words, then 192
// bytes of text) followed by the samples; words go out in the byte order of
// the machine that writes them.
#pragma once

#include "bot/bot.h"
#include "bot/numbers.h"
#include "msg/msg.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <span>
#include <string_view>
#include <vector>

namespace kivf {

// ------------------------------------------------------------ the header ----

inline constexpr std::int32_t kNumFhdr = 70; // floating fields
inline constexpr std::int32_t kNumNhdr = 15; // integer fields
inline constexpr std::int32_t kNumIhdr = 20; // enumerated fields
inline constexpr std::int32_t kNumLhdr = 5;  // logical fields
inline constexpr std::int32_t kNumKhdr = 24; // text fields, 8 characters each
inline constexpr std::int32_t kNumEnum = 60; // enumerated values (ordinals 1..60)

inline constexpr std::int32_t kHdrNumWords = 110; // F, N, I, L groups
inline constexpr std::int32_t kHdrTextBytes = 192;
inline constexpr std::int32_t kHdrWords = 158; // the data start at this word

inline constexpr float kUndfFlt = -12345.0F;
inline constexpr std::int32_t kUndfInt = -12345;
inline constexpr std::int32_t kUndfEnm = -12345;
inline constexpr std::string_view kUndfTxt = "-12345  ";
inline constexpr std::int32_t kCurHver = 6;

// Slot (1-based) of every floating field.
// clang-format off
namespace fslot {
enum : std::int32_t {
    DELTA = 1, DEPMIN, DEPMAX, SCALE, ODELTA, B, E, O, A, FMT,
    T0, T1, T2, T3, T4, T5, T6, T7, T8, T9,
    F,
    RESP0, RESP1, RESP2, RESP3, RESP4, RESP5, RESP6, RESP7, RESP8, RESP9,
    STLA, STLO, STEL, STDP, EVLA, EVLO, EVEL, EVDP, FHDR40,
    USER0, USER1, USER2, USER3, USER4, USER5, USER6, USER7, USER8, USER9,
    DIST, AZ, BAZ, GCARC, SB, SDELTA, DEPMEN, CMPAZ, CMPINC,
    XMINIMUM, XMAXIMUM, YMINIMUM, YMAXIMUM, ADJTM,
    FHDR65, FHDR66, FHDR67, FHDR68, FHDR69, FHDR70,
};
static_assert(FHDR70 == kNumFhdr);
} // namespace fslot

// Slot (1-based) of every integer field.
namespace nslot {
enum : std::int32_t {
    NZYEAR = 1, NZJDAY, NZHOUR, NZMIN, NZSEC, NZMSEC, NVHDR, NINF, NHST, NPTS,
    NSNPTS, NSN, NXSIZE, NYSIZE, NHDR15,
};
static_assert(NHDR15 == kNumNhdr);
} // namespace nslot

// Slot (1-based) of every enumerated field.
namespace islot {
enum : std::int32_t {
    IFTYPE = 1, IDEP, IZTYPE, IHDR4, IINST, ISTREG, IEVREG, IEVTYP, IQUAL, ISYNTH,
    IHDR11, IHDR12, IHDR13, IHDR14, IHDR15, IHDR16, IHDR17, IHDR18, IHDR19, IHDR20,
};
static_assert(IHDR20 == kNumIhdr);
} // namespace islot

// Slot (1-based) of every logical field.
namespace lslot {
enum : std::int32_t { LEVEN = 1, LPSPOL, LOVROK, LCALDA, LHDR5 };
static_assert(LHDR5 == kNumLhdr);
} // namespace lslot

// Slot (1-based) of every text field. KEVNM is 16 characters: slots 2 and 3.
namespace kslot {
enum : std::int32_t {
    KSTNM = 1, KEVNM, KEVNMC, KHOLE, KO, KA,
    KT0, KT1, KT2, KT3, KT4, KT5, KT6, KT7, KT8, KT9,
    KF, KUSER0, KUSER1, KUSER2, KCMPNM, KNETWK, KDATRD, KINST,
};
static_assert(KINST == kNumKhdr);
} // namespace kslot

// Ordinals of the enumerated values; 52 to 60 are unassigned.
namespace ienum {
enum : std::int32_t {
    ITIME = 1, IRLIM, IAMPH, IXY, IUNKN, IDISP, IVEL, IACC, IB, IDAY, IO, IA,
    IT0, IT1, IT2, IT3, IT4, IT5, IT6, IT7, IT8, IT9,
    IRADNV, ITANNV, IRADEV, ITANEV, INORTH, IEAST, IHORZA, IDOWN, IUP,
    IHBWBB, IWWSN1, IWWSN2, IHGLP, ISRO, INUCL, IPREN, IPOSTN, IQUAKE, IPREQ, IPOSTQ,
    ICHEM, IOTHER, IGOOD, IGLCH, IDROP, ILOWSN, IRLDTA, IVOLTS, IXYZ,
};
static_assert(IXYZ == 51);
} // namespace ienum
// clang-format on

// Numeric part of the current header. fhdr..lhdr are the 110 words of the
// file, in one piece; the constants after them are set by the first newhdr.
struct CmHdr {
    std::array<float, kNumFhdr> fhdr;
    std::array<std::int32_t, kNumNhdr> nhdr;
    std::array<std::int32_t, kNumIhdr> ihdr;
    std::array<std::int32_t, kNumLhdr> lhdr; // 1 true, 0 false
    std::array<std::int32_t, kNumEnum> ienm; // ienm[n-1] == n
    float undfflt;
    std::int32_t undfenm;
    std::int32_t undfint;
    std::int32_t curhver;

    // Fields by 1-based slot.
    float& f(std::int32_t s) { return fhdr[idx(s)]; }
    float f(std::int32_t s) const { return fhdr[idx(s)]; }
    std::int32_t& n(std::int32_t s) { return nhdr[idx(s)]; }
    std::int32_t n(std::int32_t s) const { return nhdr[idx(s)]; }
    std::int32_t& i(std::int32_t s) { return ihdr[idx(s)]; }
    std::int32_t i(std::int32_t s) const { return ihdr[idx(s)]; }
    std::int32_t& l(std::int32_t s) { return lhdr[idx(s)]; }
    std::int32_t l(std::int32_t s) const { return lhdr[idx(s)]; }

  private:
    static constexpr std::size_t idx(std::int32_t s) { return static_cast<std::size_t>(s - 1); }
};

// Text part of the current header: the 192 bytes of the file, then the
// undefined text.
struct KmHdr {
    std::array<Text<8>, kNumKhdr> khdr;
    Text<8> undftxt;

    Text<8>& k(std::int32_t s) { return khdr[static_cast<std::size_t>(s - 1)]; }
    const Text<8>& k(std::int32_t s) const { return khdr[static_cast<std::size_t>(s - 1)]; }
};

static_assert(std::numeric_limits<float>::is_iec559 && sizeof(float) == 4);
static_assert(offsetof(CmHdr, fhdr) == 0);
static_assert(offsetof(CmHdr, nhdr) == 4 * kNumFhdr);
static_assert(offsetof(CmHdr, ihdr) == 4 * (kNumFhdr + kNumNhdr));
static_assert(offsetof(CmHdr, lhdr) == 4 * (kNumFhdr + kNumNhdr + kNumIhdr));
static_assert(offsetof(CmHdr, ienm) == 4 * kHdrNumWords, "the numeric words lie in one piece");
static_assert(offsetof(KmHdr, khdr) == 0 && sizeof(KmHdr::khdr) == kHdrTextBytes,
              "the text fields lie in one piece");

extern CmHdr cmhdr;
extern KmHdr kmhdr;

// --------------------------------------------------------- the catalogue ----

inline constexpr std::int32_t kNumLists = 4;     // DEFAULT, PICKS, SPECIAL, STD
inline constexpr std::int32_t kListSlots = 200;  // list member table
inline constexpr std::int32_t kNumAux = 20;      // auxiliary names
inline constexpr std::int32_t kEnumDescLen = 32; // enumeration description width
// First member slot (1-based) of each list in the member table.
inline constexpr std::array<std::int32_t, kNumLists> kListStart = {1, 82, 100, 120};

// Text part of the catalogue; every list indexed from 1 (element 0).
struct KmLhf {
    std::array<Text<8>, kListSlots> klist;  // members of the lists
    std::array<Text<8>, kNumLists> klistnm; // list names
    std::array<Text<8>, kNumFhdr> kfhdr;    // field names by group, slot order
    std::array<Text<8>, kNumNhdr> knhdr;
    std::array<Text<8>, kNumIhdr> kihdr;
    std::array<Text<8>, kNumLhdr> klhdr;
    std::array<Text<8>, kNumKhdr> kkhdr;
    std::array<Text<8>, kNumAux> kahdr;              // names without a slot of their own
    std::array<Text<8>, kNumEnum> kienm;             // enumeration names by ordinal
    std::array<Text<kEnumDescLen>, kNumEnum> kdienm; // their descriptions
};

// Numeric part of the catalogue.
struct CmLhf {
    std::array<std::int32_t, kNumLists> nlistmem; // member count of each list
    std::int32_t nlists;                          // lists defined
};

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

// ------------------------------------------------------- the header codec ----

// The header as it lies in a file: the 110 numeric words, then the 192 text
// bytes.
inline constexpr std::size_t kHdrBytes = std::size_t{4} * kHdrWords;
using HdrBytes = std::array<std::byte, kHdrBytes>;
// The first bytes of a header that tell its byte order: up to NVHDR.
inline constexpr std::size_t kOrderBytes = std::size_t{4} * (kNumFhdr + nslot::NVHDR);

// The records to the header's bytes, numeric words in this machine's order.
void packhdr(const CmHdr& hdr, const KmHdr& khdr, HdrBytes& bytes);
// A header's bytes to the records (the 110 words and the 24 texts; the
// constants stay as they are). swapped: the numeric words were written in the
// other byte order and are reversed; text bytes never are.
void unpackhdr(const HdrBytes& bytes, bool swapped, CmHdr& hdr, KmHdr& khdr);
// The byte order of a header from its first kOrderBytes bytes: true when
// NVHDR holds the header version in this machine's order (swapped false) or
// in the other one (swapped true); false for anything else.
bool hdrorder(std::span<const std::byte> head, bool& swapped);

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

} // namespace kivf

// ---------------------------------------------------------------- reader ----

namespace kivf {

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

// Where a whole-file read puts the samples: called with NPTS and LEVEN of the
// checked header, it sets y and, when LEVEN is false, x to arrays of at least
// NPTS floats each (shorter ones are refused as 1417, nothing read).
using KivArrays =
    std::function<void(std::size_t npts, bool leven, std::span<float>& y, std::span<float>& x)>;
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

// ---------------------------------------------------------------- traces ----

namespace kivf {

// A KIV file as a value: its header records and its samples, for callers
// that want neither the current header nor arrays of their own.
struct Trace {
    CmHdr hdr{};          // the numeric header; its 110 words are the file's
    KmHdr khdr{};         // the 24 texts
    std::vector<float> y; // the samples
    std::vector<float> x; // their independent values, when LEVEN is false
};

// Where a writer puts a file: name in the directory held open as dirfd
// (AT_FDCWD: the working directory), whose path is dir.
struct KivPlace {
    int dirfd;
    const char* dir;
    const char* name;
};

// A trace of the defaults newhdr gives the current header, and no samples;
// nothing process-wide is read or started (see defaults).
Trace newtrace();

// DEPMIN, DEPMAX and DEPMEN of hdr from the samples that are numbers (NaNs
// left out): the extremes, and the mean summed in double in the samples'
// order; undefined when there are none. Every writer that derives them (batch
// conversion, the Python package) gives the same bits this way.
void depstats(CmHdr& hdr, std::span<const float> y);
// The same gathered a piece at a time, the pieces added in the samples'
// order: store gives the bits depstats gives over all of them in one array.
// A converter adds each piece as it makes it, while it is in the cache, and
// so walks its samples once.
class DepAccum {
  public:
    void add(std::span<const float> y);
    void store(CmHdr& hdr) const;

  private:
    // While every sample so far is a whole number within 2^22, in integers
    // (see header.cpp); from the first other piece on, in double.
    bool whole_ = true;
    std::int32_t ilo_ = std::numeric_limits<std::int32_t>::max(),
                 ihi_ = std::numeric_limits<std::int32_t>::min();
    std::int64_t isum_ = 0;
    double lo_ = std::numeric_limits<double>::infinity(),
           hi_ = -std::numeric_limits<double>::infinity(), sum_ = 0;
    std::size_t count_ = 0; // the numbers among them (NaNs left out)
};
// E, DEPMIN, DEPMAX and DEPMEN of hdr for the samples y (and their independent
// values x when the trace is uneven; empty otherwise): E the last sample's
// time, B + (NPTS-1)*DELTA summed in double (only when B and DELTA are
// defined), or the last x (unless a NaN); the others as depstats. What cannot
// be had is undefined.
void derivefields(CmHdr& hdr, std::span<const float> y, std::span<const float> x);
// The same for n samples whose extremes and mean stats has gathered already.
void derivefields(CmHdr& hdr, std::size_t n, std::span<const float> x, const DepAccum& stats);
// Whether a sampling rate makes a DELTA every reader can use, for nsamp
// samples: the interval a normal 32-bit float (1e-300 gives none that is
// finite, 1e300 none above 0), and E, (nsamp - 1) intervals, a finite one.
enum class Rate { ok, bad, overflows };
Rate checkrate(double rate, std::int64_t nsamp, float& interval);
inline constexpr std::string_view kOverflowWhy = "(E would be beyond a 32-bit float)";

// Read the KIV file path whole into trace, as rkiv reads it (either byte
// order, the same checks and refusals); swapped tells whether its words were
// in the other order. Returns 0 or the failure (1410-1416, 1418), whose
// message is left for lastmsg; nothing is printed and trace is then
// unchanged.
std::int32_t readtrace(std::string_view path, Trace& trace, bool& swapped);
std::int32_t readtrace(std::string_view path, Trace& trace);

// Write trace as the KIV file path through writekiv. NPTS and LEVEN come from
// the arrays: NPTS is the length of y (of x when that is longer, which is
// then refused as 1401), LEVEN is false when x holds values or the records
// say so (a shorter x is 1402); every other field as the records hold it. Returns 0 or the
// failure of writekiv, its message left for lastmsg; nothing is printed.
std::int32_t writetrace(std::string_view path, const Trace& trace);
// The same into a directory held open; err is the system's errno of a failed
// create, write or rename, else 0.
std::int32_t writetrace(const KivPlace& at, const Trace& trace, int& err);
// writekiv into a directory held open, for arrays that are not a Trace's (a
// reader's own buffer, written without a copy); err as for writetrace.
std::int32_t writekiv(const KivPlace& at, const CmHdr& hdr, const KmHdr& khdr,
                      std::span<const float> yarray, std::span<const float> xarray, int& err);

// ------------------------------------------------------- the modern face ----
//
// Whole-word names, the file first, the records it fills or writes after it,
// the failure returned as a value (number, composed text, errno). Nothing
// process-wide is read or written: the current header and the message buffer
// stay as they are, nothing is printed, and no start-up is needed (the
// catalogue texts of failures are loaded on first use). So any number of
// threads may read and write different files at once.
//
// The checks, refusals and texts are those of the specified routines, which
// are built on these: loadheader reads as rkivhdr, loadkiv as readkiv,
// loadtrace as readtrace (the records and arrays change only on success);
// savekiv writes as writekiv, savetrace as writetrace.

// The field catalogue as inilhf fills it, made once on first use.
struct FieldCatalogue {
    CmLhf lists;
    KmLhf names;
};
const FieldCatalogue& fieldcatalogue();
// Fill a catalogue's records as inilhf fills the process's.
void inilhf(CmLhf& lists, KmLhf& names);

// The records' constants and the defaults newhdr gives the current header.
void defaults(CmHdr& hdr, KmHdr& khdr);

// One field of the records by name, as setfhv, setnhv and setkhv set the
// current header's (the same name rule; KEVNM's characters 9 to 16 go to
// KEVNMC); false, nothing changed, for a name not in the field's group.
bool setfield(CmHdr& hdr, std::string_view kname, float value);
bool setfield(CmHdr& hdr, std::string_view kname, std::int32_t value);
bool setfield(KmHdr& khdr, std::string_view kname, std::string_view value);

Failure loadheader(std::string_view path, CmHdr& hdr, KmHdr& khdr, bool& swapped);
Failure loadkiv(std::string_view path, CmHdr& hdr, KmHdr& khdr, bool& swapped,
                const KivArrays& arrays);
Failure loadtrace(std::string_view path, Trace& trace, bool& swapped);
Failure loadtrace(std::string_view path, Trace& trace);
Failure savekiv(std::string_view path, const CmHdr& hdr, const KmHdr& khdr,
                std::span<const float> y, std::span<const float> x);
Failure savekiv(const KivPlace& at, const CmHdr& hdr, const KmHdr& khdr, std::span<const float> y,
                std::span<const float> x);
Failure savetrace(std::string_view path, const Trace& trace);
Failure savetrace(const KivPlace& at, const Trace& trace);

} // namespace kivf
