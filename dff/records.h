// SPDX-License-Identifier: Apache-2.0
// The KIV header as records: its fields by slot, the numeric and text records
// that hold one header, the records of the field catalogue, and the codec
// between the records and the header's bytes in a file.
//
// A KIV file is 158 four-byte words of header (110 numeric words, then 192
// bytes of text) followed by the samples; words go out in the byte order of
// the machine that writes them.
#pragma once

#include "bot/bot.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string_view>

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

} // namespace kivf
