// SPDX-License-Identifier: Apache-2.0
// A KIV trace made from the input (DELTA, B, the reference time, LEVEN, the
// four codes and the codes given for undefined ones, odd values included;
// samples as raw float bits, as 32-bit integers or as walks of small or
// wide steps, repeated into many records) through mswrite::plan and, when
// it plans, mswrite::pack into records in memory. Every record is decoded
// by libmseed's own msr_unpack, not by our reader: the samples come back bit
// for bit, in order and all of them, under the codes, start, rate, quality,
// encoding and sequence numbers planned. A refusal is the one an
// independent reading of the trace expects, in plan's order. A put that
// fails stops the packing with its errno.
//
// Input: flags (record length, encoding asked, quality, samples' form), the
// header's fields, the codes given, the first sequence number, the record
// whose put fails, a repeat count, then the samples.
#include "common.h"

#include "mswrite/mswrite.h"

#include "bot/numbers.h"
#include "dff/dff.h"
#include "dff/kiv.h"
#include "msread/msread.h"

#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <libmseed.h>
#include <limits>
#include <optional>
#include <string>
#include <vector>

using namespace kivf;
using mswrite::Encoding;

namespace {

constexpr std::size_t kMostSamples = std::size_t{1} << 16;
constexpr std::string_view kName = "fuzz.kiv";

constexpr Encoding kEncodings[] = {Encoding::automatic, Encoding::automatic, Encoding::steim1,
                                   Encoding::steim2,    Encoding::int16,     Encoding::int32,
                                   Encoding::float32,   Encoding::float64};
// Intervals in use, and a few that no factor and multiplier hold.
constexpr float kDeltas[] = {0.01F,  0.02F, 0.005F, 0.025F, 1.0F,     0.05F,    1.0F / 3,
                             0.001F, 10.0F, 3600.F, 1e-5F,  3.05e-5F, 1.0F / 7, 86400.0F};

std::uint32_t bits(float v) {
    std::uint32_t b = 0;
    std::memcpy(&b, &v, 4);
    return b;
}
float frombits(std::uint32_t b) {
    float v = 0;
    std::memcpy(&v, &b, 4);
    return v;
}

// A float's bits as a double's: its value, or for a NaN its sign, quiet
// bit and payload where a double keeps them.
std::uint64_t widened(float v) {
    const std::uint64_t f = bits(v);
    if (!std::isnan(v)) {
        const double d = v;
        std::uint64_t b = 0;
        std::memcpy(&b, &d, 8);
        return b;
    }
    return (f >> 31) << 63 | std::uint64_t{0x7FF} << 52 | (f & 0x7FFFFF) << 29;
}

// ---- what plan should say, read here without it ----

struct Code {
    bool ok;
    std::string code;
};
// The code a record gets from the header's text t (the given one when t is
// undefined or empty), and whether it fits: at most most printable ASCII
// characters without blanks, present when needed.
Code code(const Text<8>& t, const std::string& given, std::size_t most, bool needed) {
    const std::string_view v(t.data(), 8);
    const std::string_view u = v.substr(0, fuzz::usedlen(v));
    const std::string c = v == "-12345  " || u.empty() ? given : std::string(u);
    bool ok = c.size() <= most && !(needed && c.empty());
    for (const char ch : c) ok = ok && ch > ' ' && ch < 0x7F;
    return {ok, c};
}

// Days from 1970-01-01 to the first of January of year y (proleptic Gregorian).
__int128 jan1(std::int64_t y) {
    const std::int64_t p = y - 1; // years wholly before
    const auto div = [](std::int64_t a, std::int64_t b) { return a / b - (a % b < 0 ? 1 : 0); };
    return __int128{365} * (y - 1970) + (div(p, 4) - div(p, 100) + div(p, 400)) -
           (1969 / 4 - 1969 / 100 + 1969 / 400);
}

// The first sample's time in microseconds since 1970, or none: a reference
// field or B undefined, B not finite, or beyond ±2^62 µs.
std::optional<std::int64_t> start(const CmHdr& h) {
    for (std::int32_t s = nslot::NZYEAR; s <= nslot::NZMSEC; ++s)
        if (h.n(s) == -12345) return std::nullopt;
    const float b = h.f(fslot::B);
    if (b == -12345.0F || !std::isfinite(b)) return std::nullopt;
    const double us = std::nearbyint(static_cast<double>(b) * 1e6); // halves to even
    if (std::fabs(us) > 1e30) return std::nullopt;                  // no reference brings it back
    __int128 t = jan1(h.n(nslot::NZYEAR)) + h.n(nslot::NZJDAY) - 1;
    t = t * 86400 + __int128{h.n(nslot::NZHOUR)} * 3600 + __int128{h.n(nslot::NZMIN)} * 60 +
        h.n(nslot::NZSEC);
    t = (t * 1000 + h.n(nslot::NZMSEC)) * 1000 + static_cast<__int128>(us);
    const __int128 limit = __int128{1} << 62;
    if (t < -limit || t > limit) return std::nullopt;
    return static_cast<std::int64_t>(t);
}

// A sample as a whole number of 32 bits (not -0.0).
std::optional<std::int32_t> whole(float v) {
    if (!(v >= -2147483648.0F && v < 2147483648.0F) || std::trunc(v) != v) return std::nullopt;
    if (v == 0 && std::signbit(v)) return std::nullopt;
    return static_cast<std::int32_t>(v);
}

// The refusal e gives y (kMsgPackNumber, kMsgPackChange), or 0.
std::int32_t misfit(const std::vector<float>& y, Encoding e) {
    if (e == Encoding::float32 || e == Encoding::float64) return 0;
    std::int64_t last = 0;
    for (std::size_t i = 0; i < y.size(); ++i) {
        if (!std::isfinite(y[i])) return kMsgPackNumber;
        const auto v = whole(y[i]);
        if (!v) return kMsgPackChange;
        if (e == Encoding::int16 && (*v < -32768 || *v > 32767)) return kMsgPackChange;
        const std::int64_t d = *v - last;
        last = *v;
        if (i == 0) continue;
        if (e == Encoding::steim2 && (d < -(1 << 29) || d > (1 << 29) - 1)) return kMsgPackChange;
        if (e == Encoding::steim1 && (d < INT32_MIN || d > INT32_MAX)) return kMsgPackChange;
    }
    return 0;
}

// ---- the trace from the input ----

// A text field: undefined, blank, eight raw bytes, or up to eight printable
// characters blank-padded.
void text(fuzz::Input& in, Text<8>& t) {
    switch (in.u8() % 4) {
    case 0:
        t.set("-12345  ");
        break;
    case 1:
        t.set("");
        break;
    case 2: {
        const std::string_view b = in.bytes(8);
        t.c.fill('\0');
        std::memcpy(t.data(), b.data(), b.size());
        break;
    }
    default: {
        std::string s;
        for (int n = in.u8() % 9; n > 0; --n) s += static_cast<char>(0x21 + in.u8() % 0x5E);
        t.set(s);
    }
    }
}

// A reference field: undefined, in its range (lo to lo + span - 1), or raw.
std::int32_t reference(fuzz::Input& in, std::int32_t lo, std::int32_t span) {
    switch (in.u8() % 8) {
    case 0:
        return -12345;
    case 1:
        return in.i32();
    default:
        return lo + static_cast<std::int32_t>(in.u16() % span);
    }
}

std::vector<float> samples(fuzz::Input& in, std::uint8_t form, std::size_t repeat) {
    std::vector<float> y;
    switch (form % 4) {
    case 0: // raw bits: NaN, -0.0, infinities, huge and tiny values
        while (y.size() < kMostSamples && !in.empty())
            y.push_back(frombits(static_cast<std::uint32_t>(in.i32())));
        break;
    case 1: // 32-bit integers, as floats hold them
        while (y.size() < kMostSamples && !in.empty()) y.push_back(static_cast<float>(in.i32()));
        break;
    default: { // a walk from a start, of 8-bit steps or of 16-bit steps shifted left
        const bool wide = form % 4 == 3;
        const int shift = wide ? in.u8() % 20 : 0;
        auto v = static_cast<std::uint32_t>(in.i32());
        std::vector<std::uint32_t> steps;
        while (!in.empty() && steps.size() < kMostSamples)
            steps.push_back(wide ? static_cast<std::uint32_t>(
                                       std::int64_t{static_cast<std::int16_t>(in.u16())} << shift)
                                 : static_cast<std::uint32_t>(static_cast<std::int8_t>(in.u8())));
        for (std::size_t r = 0; r < repeat && y.size() < kMostSamples; ++r)
            for (const std::uint32_t s : steps) {
                v += s; // the walk goes on from one repeat to the next
                y.push_back(static_cast<float>(static_cast<std::int32_t>(v)));
            }
        if (y.size() > kMostSamples) y.resize(kMostSamples);
        return y;
    }
    }
    // Raw values repeated as they are.
    const std::size_t m = y.size();
    for (std::size_t r = 1; r < repeat && m > 0 && y.size() + m <= kMostSamples; ++r)
        y.insert(y.end(), y.begin(), y.begin() + static_cast<std::ptrdiff_t>(m));
    return y;
}

std::string_view cstr(const char* s) {
    return {s, std::strlen(s)};
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    newhdr(); // the message texts the failures are composed with
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    const std::uint8_t flags = in.u8(), flags2 = in.u8();
    mswrite::PackAs as;
    as.reclen = 256 << ((flags & 15) % 13);
    as.encoding = kEncodings[(flags >> 4) % 8];
    as.quality = "DRQM"[flags2 % 4];
    const std::uint8_t form = flags2 >> 2;

    Trace t = newtrace();
    CmHdr& h = t.hdr;
    const std::uint8_t d = in.u8();
    h.f(fslot::DELTA) =
        d < 200 ? kDeltas[d % std::size(kDeltas)] : frombits(static_cast<std::uint32_t>(in.i32()));
    const std::uint8_t b = in.u8();
    h.f(fslot::B) = b < 64    ? static_cast<float>(static_cast<std::int8_t>(in.u8())) / 16
                    : b < 128 ? -12345.0F
                              : frombits(static_cast<std::uint32_t>(in.i32()));
    h.n(nslot::NZYEAR) = reference(in, 1890, 230);
    h.n(nslot::NZJDAY) = reference(in, 1, 366);
    h.n(nslot::NZHOUR) = reference(in, 0, 24);
    h.n(nslot::NZMIN) = reference(in, 0, 60);
    h.n(nslot::NZSEC) = reference(in, 0, 60);
    h.n(nslot::NZMSEC) = reference(in, 0, 1000);
    const std::uint8_t leven = in.u8() % 8;
    h.l(lslot::LEVEN) = leven == 0 ? 0 : leven == 1 ? -12345 : leven == 2 ? in.i32() : 1;
    for (const std::int32_t s : {kslot::KNETWK, kslot::KSTNM, kslot::KHOLE, kslot::KCMPNM})
        text(in, t.khdr.k(s));
    for (std::string* given : {&as.network, &as.station, &as.location, &as.channel})
        for (int n = in.u8() % 8; n > 0; --n) *given += static_cast<char>(in.u8());
    const std::uint8_t seq = in.u8();
    std::int32_t sequence = seq < 128   ? 1
                            : seq < 192 ? 999990 + seq % 10
                                        : 1 + static_cast<std::int32_t>(in.u16() % 999999);
    const std::uint8_t failat = in.u8(); // put fails at this record, when under 16
    const std::size_t repeat = 1 + in.u16() % 4096;
    t.y = samples(in, form, repeat);
    const std::vector<float>& y = t.y;
    h.n(nslot::NPTS) = static_cast<std::int32_t>(y.size());

    mswrite::Plan p;
    const Failure planned = mswrite::plan(h, t.khdr, y, as, kName, p);

    // The refusal expected, in plan's order. Where this reading cannot tell
    // (a rate or a period beyond the 32767 a record's factor and multiplier
    // hold, some of which they hold as products; a sample's time within
    // rounding of the years' bounds), plan's refusal is taken if it is that
    // one, and the reading goes on if it is not.
    std::int32_t want = 0;
    std::optional<std::int64_t> first;
    std::array<Code, 4> codes{};
    const float delta = h.f(fslot::DELTA);
    if (h.l(lslot::LEVEN) == 0) {
        want = kMsgPackUneven;
    } else if (y.empty()) {
        want = kMsgPackEmpty;
    } else {
        codes = {code(t.khdr.k(kslot::KNETWK), as.network, 2, false),
                 code(t.khdr.k(kslot::KSTNM), as.station, 5, true),
                 code(t.khdr.k(kslot::KHOLE), as.location, 2, false),
                 code(t.khdr.k(kslot::KCMPNM), as.channel, 3, true)};
        if (!codes[0].ok || !codes[1].ok || !codes[2].ok || !codes[3].ok) want = kMsgPackCode;
    }
    if (want == 0 &&
        (!(std::isfinite(delta) && delta > 0) ||
         ((1.0 / delta > 32000.0 || delta > 32000.0) && planned.number == kMsgPackRate)))
        want = kMsgPackRate;
    if (want == 0) {
        first = start(h);
        if (!first) want = kMsgPackStart;
    }
    if (want == 0) {
        constexpr double lo = -2208988800e6, hi = 4133980800e6; // 1900, 2101
        const double span = static_cast<double>(y.size() - 1) * static_cast<double>(delta) * 1e6;
        const double slack = span * 1e-6 + 2;
        const double a = static_cast<double>(*first), z = a + span;
        if (a < lo - 2 || z > hi + slack ||
            ((a < lo + 2 || z > hi - 1 - slack) && planned.number == kMsgPackTime))
            want = kMsgPackTime;
    }
    if (want == 0 && as.encoding != Encoding::automatic) want = misfit(y, as.encoding);
    if (planned.number != want) {
        std::fprintf(stderr, "plan said %d (%s), expected %d\n", planned.number,
                     planned.text.c_str(), want);
        fuzz::broken("the refusal expected", __FILE__, __LINE__);
    }
    if (planned) {
        FUZZ_CHECK(planned.text.find(kName) != std::string::npos);
        return 0;
    }

    // What plan made of the trace.
    FUZZ_CHECK(p.network == codes[0].code && p.station == codes[1].code &&
               p.location == codes[2].code && p.channel == codes[3].code);
    FUZZ_CHECK(first && p.start == *first);
    // The rate's interval is DELTA, within a float's rounding of 1 / rate.
    const float back = static_cast<float>(1.0 / p.rate);
    FUZZ_CHECK(p.rate > 0 && (back == delta || std::nextafter(back, delta) == delta));
    const Encoding chosen = as.encoding != Encoding::automatic ? as.encoding
                            : misfit(y, Encoding::steim2) == 0 ? Encoding::steim2
                            : misfit(y, Encoding::int32) == 0  ? Encoding::int32
                                                               : Encoding::float32;
    FUZZ_CHECK(p.encoding == chosen);

    // Packed into memory, a put failing with ENOSPC when the input says so.
    std::string records;
    std::int64_t puts = 0, made = 0;
    const std::int32_t sequence0 = sequence;
    const bool failing = failat < 16;
    bool failed = false;
    const Failure packed = mswrite::pack(
        p, y, as, sequence,
        [&](std::span<const char> r) {
            ++puts;
            FUZZ_CHECK(!failed); // nothing is put after a failure
            FUZZ_CHECK(r.size() == static_cast<std::size_t>(as.reclen));
            if (failing && puts == failat + 1) {
                failed = true;
                return ENOSPC;
            }
            records.append(r.data(), r.size());
            return 0;
        },
        made);
    FUZZ_CHECK(made == puts);
    if (failed) {
        FUZZ_CHECK(packed.number == kMsgWriteFailed && packed.err == ENOSPC);
        return 0;
    }
    if (packed) {
        std::fprintf(stderr, "pack refused a planned trace: %s\n", packed.text.c_str());
        fuzz::broken("a planned trace packs", __FILE__, __LINE__);
    }
    FUZZ_CHECK(puts > 0);

    // Whether the samples touch 2056-001, 2056-256 or 2056-257; the last
    // sample's time is known here within a microsecond of the nominal grid's,
    // so a trace ending that near such a day may be either.
    const double span = static_cast<double>(y.size() - 1) / p.rate * 1e6;
    const auto touches = [&](hptime_t last) {
        bool any = false;
        for (const int day : {1, 256}) { // 256 and 257 are one span of two days
            const hptime_t from = ms_time2hptime(2056, day, 0, 0, 0, 0);
            const hptime_t to = from + (day == 1 ? 1 : 2) * 86400LL * HPTMODULUS;
            any = any || (last >= from && p.start < to);
        }
        return any;
    };
    const hptime_t last = p.start + static_cast<hptime_t>(span);
    const bool alike = touches(last + 2), unsure = alike != touches(last - 2);

    // Every record through libmseed's own decoder.
    const auto next = [](std::int32_t s) { return s >= 999999 ? 1 : s + 1; };
    std::int32_t expectseq = sequence0;
    std::size_t at = 0; // samples decoded so far
    MSRecord* msr = nullptr;
    for (std::int64_t r = 0; r < puts; ++r) {
        char* rec = records.data() + r * as.reclen;
        if (msr_unpack(rec, as.reclen, &msr, 1, 0) != MS_NOERROR) {
            std::fprintf(stderr, "record %lld of %lld: %s\n", static_cast<long long>(r + 1),
                         static_cast<long long>(puts), msread::takelogged().c_str());
            fuzz::broken("libmseed decodes every record", __FILE__, __LINE__);
        }
        // Big-endian, except a trace with samples on a day whose year and day
        // read alike in both byte orders: then this machine's order, which
        // readers here take right.
        FUZZ_CHECK(msr->reclen == as.reclen);
        FUZZ_CHECK(msr->byteorder == (alike ? ms_bigendianhost() : 1) || unsure);
        FUZZ_CHECK(msr->encoding == static_cast<std::int8_t>(p.encoding));
        FUZZ_CHECK(msr->dataquality == as.quality);
        FUZZ_CHECK(cstr(msr->network) == p.network && cstr(msr->station) == p.station &&
                   cstr(msr->location) == p.location && cstr(msr->channel) == p.channel);
        FUZZ_CHECK(msr->sequence_number == expectseq);
        expectseq = next(expectseq);
        if (r == 0) FUZZ_CHECK(msr->starttime == p.start);
        // The rate exactly, or within a float's rounding in blockette 100.
        FUZZ_CHECK(
            msr->samprate == p.rate ||
            (msr->Blkt100 != nullptr && std::fabs(msr->samprate - p.rate) <= p.rate * 0x1p-24));
        if (msr->numsamples <= 0 || msr->numsamples > static_cast<std::int64_t>(y.size() - at)) {
            std::fprintf(stderr, "record %lld of %lld: %lld samples decoded, %zu left to come\n",
                         static_cast<long long>(r + 1), static_cast<long long>(puts),
                         static_cast<long long>(msr->numsamples), y.size() - at);
            fuzz::broken("a record's samples are some of those left", __FILE__, __LINE__);
        }
        for (std::int64_t i = 0; i < msr->numsamples; ++i, ++at) {
            float got = 0;
            switch (msr->sampletype) {
            case 'i':
                FUZZ_CHECK(p.encoding != Encoding::float32 && p.encoding != Encoding::float64);
                got = static_cast<float>(static_cast<const std::int32_t*>(msr->datasamples)[i]);
                break;
            case 'f':
                FUZZ_CHECK(p.encoding == Encoding::float32);
                std::memcpy(&got, static_cast<const char*>(msr->datasamples) + 4 * i, 4);
                break;
            case 'd': {
                // Compared as doubles: narrowing any NaN back to a float sets
                // its quiet bit, so a signalling one would pass unseen.
                FUZZ_CHECK(p.encoding == Encoding::float64);
                std::uint64_t v = 0;
                std::memcpy(&v, static_cast<const char*>(msr->datasamples) + 8 * i, 8);
                if (v != widened(y[at])) {
                    std::fprintf(stderr, "sample %zu: packed %08x, decoded %016llx (float64)\n",
                                 at + 1, bits(y[at]), static_cast<unsigned long long>(v));
                    fuzz::broken("every sample back bit for bit", __FILE__, __LINE__);
                }
                got = y[at];
                break;
            }
            default:
                fuzz::broken("a sample type of the encodings packed", __FILE__, __LINE__);
            }
            if (bits(got) != bits(y[at])) {
                std::fprintf(stderr, "sample %zu: packed %08x, decoded %08x (%s)\n", at + 1,
                             bits(y[at]), bits(got),
                             std::string(mswrite::encodingname(p.encoding)).c_str());
                fuzz::broken("every sample back bit for bit", __FILE__, __LINE__);
            }
        }
    }
    msr_free(&msr);
    if (at != y.size()) {
        std::fprintf(stderr, "%zu samples decoded of %zu packed\n", at, y.size());
        fuzz::broken("every sample decoded", __FILE__, __LINE__);
    }
    FUZZ_CHECK(sequence == expectseq);
    return 0;
}
