// SPDX-License-Identifier: Apache-2.0
// A trace checked for packing: its codes, rate, start and the encoding that
// holds every sample exactly.
#include "mswrite/mswrite.h"

#include "bot/bot.h"
#include "bot/numbers.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <libmseed.h>
#include <limits>

namespace kivf::mswrite {

namespace {

struct Named {
    Encoding e;
    std::string_view name;
};
constexpr std::array<Named, 6> kNames{{{Encoding::steim1, "steim1"},
                                       {Encoding::steim2, "steim2"},
                                       {Encoding::int16, "int16"},
                                       {Encoding::int32, "int32"},
                                       {Encoding::float32, "float32"},
                                       {Encoding::float64, "float64"}}};

// The codes miniSEED 2 holds, from the header's text fields.
struct CodeField {
    std::int32_t slot;
    std::string_view field;
    std::size_t most;
    std::string PackAs::*given;
    std::string Plan::*code;
    bool needed; // a record without it names no channel
};
constexpr std::array<CodeField, 4> kCodes{{
    {kslot::KNETWK, "KNETWK", 2, &PackAs::network, &Plan::network, false},
    {kslot::KSTNM, "KSTNM", 5, &PackAs::station, &Plan::station, true},
    {kslot::KHOLE, "KHOLE", 2, &PackAs::location, &Plan::location, false},
    {kslot::KCMPNM, "KCMPNM", 3, &PackAs::channel, &Plan::channel, true},
}};

// The first and last microsecond (since 1970) of the years miniSEED readers
// take, 1900 to 2100.
constexpr std::int64_t kFirstUs = -2208988800LL * 1'000'000;
constexpr std::int64_t kEndUs = 4133980800LL * 1'000'000; // 2101-01-01

std::string number(double v) {
    std::array<char, 32> b{};
    std::snprintf(b.data(), b.size(), "%.9g", v);
    return b.data();
}

Failure refuse(std::int32_t n, std::string_view name, const std::string& why) {
    return (Draft(n) << name << why).failure();
}

// Why the code of f cannot go into a record; empty when it can.
std::string badcode(const CodeField& f, std::string_view code, bool given) {
    const std::string what =
        given ? "'" + std::string(code) + "' (given for " + std::string(f.field) + ")"
              : std::string(f.field) + " '" + std::string(code) + "'";
    if (code.empty())
        return f.needed ? "(" + std::string(f.field) + " is undefined and none is given)" : "";
    const std::string why = codewhy(code, f.most);
    return why.empty() ? why : "(" + what + " " + why.substr(1);
}

// A sample as a whole number of 32 bits, when it is one (-0.0 is not: its
// sign would be lost).
bool whole(float v, std::int32_t& i) {
    if (!(v >= -2147483648.0F && v < 2147483648.0F)) return false;
    i = static_cast<std::int32_t>(v);
    return static_cast<float>(i) == v && !(i == 0 && std::signbit(v));
}

} // namespace

bool encodingnamed(std::string_view name, Encoding& e) {
    for (const Named& n : kNames)
        if (n.name == name) {
            e = n.e;
            return true;
        }
    return false;
}

std::string_view encodingname(Encoding e) {
    for (const Named& n : kNames)
        if (n.e == e) return n.name;
    return "automatic";
}

std::string codewhy(std::string_view code, std::size_t most) {
    if (code.size() > most)
        return "(is longer than the " + std::to_string(most) + " characters miniSEED holds)";
    for (const char c : code)
        if (c < 0x21 || c > 0x7E) return "(holds a blank or a character not ASCII)";
    return "";
}

bool qualityok(std::string_view quality) {
    return quality.size() == 1 &&
           std::string_view("DRQM").find(quality[0]) != std::string_view::npos;
}

bool reclenok(std::int64_t reclen) {
    return reclen >= kMinReclen && reclen <= kMaxReclen && (reclen & (reclen - 1)) == 0;
}

namespace {

Failure misfitnamed(std::span<const float> y, Encoding e, std::string_view name) {
    if (e == Encoding::float32 || e == Encoding::float64) return {};
    // The widest difference each Steim form holds; int16's range.
    const std::int64_t most = e == Encoding::steim2   ? (std::int64_t{1} << 29)
                              : e == Encoding::steim1 ? (std::int64_t{1} << 31)
                                                      : std::numeric_limits<std::int64_t>::max();
    const bool narrow = e == Encoding::int16;
    std::int32_t last = 0;
    for (std::size_t i = 0; i < y.size(); ++i) {
        std::int32_t v;
        const auto at = [i] { return "(sample " + std::to_string(i + 1); };
        if (!std::isfinite(y[i]))
            return refuse(kMsgPackNumber, name, at() + " is " + number(y[i]) + ")");
        if (!whole(y[i], v))
            return refuse(kMsgPackChange, name,
                          at() + ", " + number(y[i]) + ", is not a whole number of 32 bits; " +
                              std::string(encodingname(e)) + " holds only those)");
        if (narrow && (v < -32768 || v > 32767))
            return refuse(kMsgPackChange, name,
                          at() + ", " + number(y[i]) + ", is beyond int16's -32768 to 32767)");
        const std::int64_t d = std::int64_t{v} - last;
        if (i > 0 && (d < -most || d >= most))
            return refuse(kMsgPackChange, name,
                          at() + " differs from the one before by " + std::to_string(d) +
                              ", more than " + std::string(encodingname(e)) + " holds)");
        last = v;
    }
    return {};
}

} // namespace

Failure misfit(std::span<const float> y, Encoding e) {
    return misfitnamed(y, e, "");
}

Failure plan(const CmHdr& h, const KmHdr& k, std::span<const float> y, const PackAs& as,
             std::string_view name, Plan& p) {
    if (h.l(lslot::LEVEN) == 0) return refuse(kMsgPackUneven, name, "(LEVEN false)");
    if (y.empty()) return refuse(kMsgPackEmpty, name, "(NPTS 0)");
    Plan out;
    for (const CodeField& f : kCodes) {
        const Text<8>& t = k.k(f.slot);
        const bool undefined = t.view() == kUndfTxt || t.used().empty();
        const std::string code = undefined ? as.*f.given : std::string(t.used());
        if (const std::string why = badcode(f, code, undefined); !why.empty())
            return refuse(kMsgPackCode, name, why);
        out.*f.code = code;
    }
    Nominal nominal_{};
    const float delta = h.f(fslot::DELTA);
    std::int16_t factor = 0, multiplier = 0;
    if (!kivf::nominal(delta, nominal_) || ms_genfactmult(nominal_.hz(), &factor, &multiplier) != 0)
        return refuse(kMsgPackRate, name, "(DELTA " + number(delta) + ")");
    out.nominal = nominal_;
    out.rate = nominal_.hz();
    out.floatrate = ms_nomsamprate(factor, multiplier) != out.rate;
    if (!starttime(h, out.start)) return refuse(kMsgPackStart, name, "(B or a reference field)");
    std::int64_t span;
    const bool spanned = sampleoffset(nominal_, static_cast<std::int64_t>(y.size()) - 1, span);
    if (!spanned || out.start < kFirstUs || out.start > kEndUs - 1 - span) {
        std::array<char, 64> b{};
        if (!spanned) // (beyond 2^62 us)
            std::snprintf(b.data(), b.size(), "(its samples run on for more than 140,000 years)");
        else
            std::snprintf(b.data(), b.size(), "(its samples lie in the years %d to %d)",
                          splitmicros(out.start).year, splitmicros(out.start + span).year);
        return refuse(kMsgPackTime, name, b.data());
    }
    out.last = out.start + span;
    if (as.encoding != Encoding::automatic) {
        if (Failure why = misfitnamed(y, as.encoding, name)) return why;
        out.encoding = as.encoding;
    } else {
        out.encoding = !misfit(y, Encoding::steim2)  ? Encoding::steim2
                       : !misfit(y, Encoding::int32) ? Encoding::int32
                                                     : Encoding::float32;
    }
    p = std::move(out);
    return {};
}

} // namespace kivf::mswrite
