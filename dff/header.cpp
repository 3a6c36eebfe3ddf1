// SPDX-License-Identifier: Apache-2.0
// The current header: its constants, its defaults and access to its fields by
// name.
#include "dff/dff.h"

#include "co/co.h"
#include "msg/msg.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

namespace kivf {

CmHdr cmhdr;
KmHdr kmhdr;

void newhdr() {
    newhdr(cmhdr, kmhdr);
}

namespace {

// The constants every header record carries.
void constants(CmHdr& hdr, KmHdr& khdr) {
    hdr.curhver = kCurHver;
    hdr.undfflt = kUndfFlt;
    hdr.undfenm = kUndfEnm;
    hdr.undfint = kUndfInt;
    khdr.undftxt.set(kUndfTxt);
    for (std::int32_t n = 1; n <= kNumEnum; ++n) hdr.ienm[static_cast<std::size_t>(n - 1)] = n;
}

// The fields' defaults, from the record's own constants.
void fields(CmHdr& hdr, KmHdr& khdr) {
    hdr.fhdr.fill(hdr.undfflt);
    hdr.nhdr.fill(hdr.undfint);
    hdr.ihdr.fill(hdr.undfenm);
    hdr.lhdr.fill(0);
    khdr.khdr.fill(khdr.undftxt);

    hdr.n(nslot::NVHDR) = hdr.curhver;
    hdr.l(lslot::LEVEN) = 1;
    hdr.l(lslot::LOVROK) = 1;
    hdr.l(lslot::LCALDA) = 1;
    hdr.n(nslot::NINF) = 0;
    hdr.n(nslot::NHST) = 0;
    hdr.i(islot::IFTYPE) = hdr.ienm[ienum::ITIME - 1];
}

} // namespace

void inihdr() {
    constants(cmhdr, kmhdr);
}

void newhdr(CmHdr& hdr, KmHdr& khdr) {
    // The records are zero at program start, so this runs on the first call
    // only: the catalogue and the messages are set up once per process.
    if (cmhdr.undfflt != kUndfFlt) {
        inihdr();
        inilhf();
        inimsg();
    }
    if (&hdr != &cmhdr) { // another record takes the current header's constants
        hdr.ienm = cmhdr.ienm;
        hdr.undfflt = cmhdr.undfflt;
        hdr.undfenm = cmhdr.undfenm;
        hdr.undfint = cmhdr.undfint;
        hdr.curhver = cmhdr.curhver;
        khdr.undftxt = kmhdr.undftxt;
    }
    fields(hdr, khdr);
}

Trace newtrace() {
    Trace t;
    defaults(t.hdr, t.khdr);
    return t;
}

void defaults(CmHdr& hdr, KmHdr& khdr) {
    constants(hdr, khdr);
    fields(hdr, khdr);
}

namespace {

// Converters add every sample here as they make it: in SSE2 alone, the
// integer extremes and widening sums take several steps each, in AVX2 one, so
// a second version is built for processors that have it.
// The choice is made by the loader, before a thread sanitizer's run-time is
// up, which that cannot take: its builds keep the one version.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KIVF_ONE_VERSION
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define KIVF_ONE_VERSION
#endif
#if defined(__x86_64__) && !defined(__AVX2__) && !defined(KIVF_ONE_VERSION)
#define WIDE __attribute__((target_clones("avx2", "default")))
#else
#define WIDE
#endif

// Whole numbers within 2^22 (counts, as most converted samples are), fewer
// than 2^30 of them: every partial sum is exact in any order, so their
// extremes and sum are taken in wide integer steps, to the bits the general
// loop gives. False, with nothing changed, for a piece with any other sample
// (a NaN, a fraction, -0.0, whose sign the general loop may keep). One pass:
// the integers are read from v + kRound, whose low bits hold v + 2^22 when v
// is one of these, and are of no use (nor kept) when it is not.
WIDE bool wholepiece(std::span<const float> y, std::int32_t& lo, std::int32_t& hi,
                     std::int64_t& sum) {
    constexpr float kRound = 0x1.8p23F, kLimit = 0x1p22F; // v + kRound rounds v to a whole number
    constexpr std::uint32_t kRoundBits = 0x4B400000U;
    std::uint32_t other = 0;
    std::int32_t l = lo, h = hi;
    std::int64_t s = sum;
    for (const float v : y) {
        const float r = v + kRound;
        const auto bits = std::bit_cast<std::uint32_t>(v), rbits = std::bit_cast<std::uint32_t>(r);
        other |= static_cast<std::uint32_t>(!(r - kRound == v) | !(v <= kLimit) | !(v >= -kLimit) |
                                            (bits == 0x80000000U));
        const auto i = static_cast<std::int32_t>(rbits - kRoundBits);
        l = std::min(l, i);
        h = std::max(h, i);
        s += i;
    }
    if (other != 0) return false;
    lo = l, hi = h, sum = s;
    return true;
}

} // namespace

void DepAccum::add(std::span<const float> y) {
    if (whole_ && count_ + y.size() < (std::size_t{1} << 30) && wholepiece(y, ilo_, ihi_, isum_)) {
        count_ += y.size();
        return;
    }
    if (whole_ && count_ > 0) { // exact: the general loop's values at this sample
        lo_ = ilo_;
        hi_ = ihi_;
        sum_ = static_cast<double>(isum_);
    }
    whole_ = false;
    double lo = lo_, hi = hi_, sum = sum_;
    std::size_t count = count_;
    for (const float v : y) {
        if (v != v) continue;
        lo = v < lo ? v : lo;
        hi = v > hi ? v : hi;
        sum += v;
        ++count;
    }
    lo_ = lo, hi_ = hi, sum_ = sum, count_ = count;
}

void DepAccum::store(CmHdr& hdr) const {
    if (count_ == 0) {
        hdr.f(fslot::DEPMIN) = hdr.f(fslot::DEPMAX) = hdr.f(fslot::DEPMEN) = kUndfFlt;
    } else if (whole_) {
        hdr.f(fslot::DEPMIN) = static_cast<float>(ilo_);
        hdr.f(fslot::DEPMAX) = static_cast<float>(ihi_);
        hdr.f(fslot::DEPMEN) =
            static_cast<float>(static_cast<double>(isum_) / static_cast<double>(count_));
    } else {
        hdr.f(fslot::DEPMIN) = static_cast<float>(lo_);
        hdr.f(fslot::DEPMAX) = static_cast<float>(hi_);
        hdr.f(fslot::DEPMEN) = static_cast<float>(sum_ / static_cast<double>(count_));
    }
}

void depstats(CmHdr& hdr, std::span<const float> y) {
    DepAccum all;
    all.add(y);
    all.store(hdr);
}

void derivefields(CmHdr& hdr, std::size_t n, std::span<const float> x, const DepAccum& stats) {
    const float b = hdr.f(fslot::B), delta = hdr.f(fslot::DELTA);
    float e = kUndfFlt;
    if (n > 0 && x.size() >= n) {
        if (!std::isnan(x[n - 1])) e = x[n - 1];
    } else if (n > 0 && b != kUndfFlt && delta != kUndfFlt) {
        e = static_cast<float>(b + static_cast<double>(n - 1) * delta);
    }
    hdr.f(fslot::E) = e;
    stats.store(hdr);
}

void derivefields(CmHdr& hdr, std::span<const float> y, std::span<const float> x) {
    DepAccum stats;
    stats.add(y);
    derivefields(hdr, y.size(), x, stats);
}

Rate checkrate(double rate, std::int64_t nsamp, float& interval) {
    if (!std::isfinite(rate) || !(rate > 0)) return Rate::bad;
    interval = static_cast<float>(1.0 / rate);
    if (!std::isnormal(interval)) return Rate::bad;
    const auto span = static_cast<double>(std::max<std::int64_t>(nsamp - 1, 0));
    return std::isfinite(static_cast<float>(span * interval)) ? Rate::ok : Rate::overflows;
}

std::int32_t catslot(std::string_view name, std::span<const Text<8>> list) {
    if (name.empty() || name.size() > 8) return 0;
    Text<8> upper;
    modcase(true, name, static_cast<std::int32_t>(name.size()), upper);
    const std::string_view key(upper.data(), name.size());
    for (std::size_t s = 0; s < list.size(); ++s)
        if (list[s].used() == key) return static_cast<std::int32_t>(s + 1);
    return 0;
}

namespace {

// Slot of kname in one group's name list, 0 when absent. Only the first eight
// characters count, without the blanks after them; leading blanks stay (and
// so never match).
std::int32_t slotof(std::string_view kname, std::span<const Text<8>> list) {
    return catslot(used(kname.substr(0, 8)), list);
}

// An unknown name is printed at once: the caller need not check.
void notfound(std::string_view kname, std::int32_t& nerr) {
    nerr = kMsgNoSuchField;
    setmsg("ERROR", nerr);
    apcmsg(kname);
    wrtmsg(kStdout);
}

} // namespace

namespace {

// The event name is 16 characters: its second half lives in the next slot.
void settext(KmHdr& khdr, std::int32_t slot, std::string_view value) {
    khdr.k(slot).set(value); // cut or blank-padded to 8
    if (slot == kslot::KEVNM) khdr.k(kslot::KEVNMC).set(value.size() > 8 ? value.substr(8) : "");
}

} // namespace

void setfhv(std::string_view kname, float fvalue, std::int32_t& nerr) {
    nerr = 0;
    const std::int32_t slot = slotof(kname, kmlhf.kfhdr);
    if (slot == 0) return notfound(kname, nerr);
    cmhdr.f(slot) = fvalue;
}

void setnhv(std::string_view kname, std::int32_t nvalue, std::int32_t& nerr) {
    nerr = 0;
    const std::int32_t slot = slotof(kname, kmlhf.knhdr);
    if (slot == 0) return notfound(kname, nerr);
    cmhdr.n(slot) = nvalue;
}

void setkhv(std::string_view kname, std::string_view kvalue, std::int32_t& nerr) {
    nerr = 0;
    const std::int32_t slot = slotof(kname, kmlhf.kkhdr);
    if (slot == 0) return notfound(kname, nerr);
    settext(kmhdr, slot, kvalue);
}

bool setfield(CmHdr& hdr, std::string_view kname, float value) {
    const std::int32_t slot = slotof(kname, fieldcatalogue().names.kfhdr);
    if (slot != 0) hdr.f(slot) = value;
    return slot != 0;
}

bool setfield(CmHdr& hdr, std::string_view kname, std::int32_t value) {
    const std::int32_t slot = slotof(kname, fieldcatalogue().names.knhdr);
    if (slot != 0) hdr.n(slot) = value;
    return slot != 0;
}

bool setfield(KmHdr& khdr, std::string_view kname, std::string_view value) {
    const std::int32_t slot = slotof(kname, fieldcatalogue().names.kkhdr);
    if (slot != 0) settext(khdr, slot, value);
    return slot != 0;
}

} // namespace kivf
