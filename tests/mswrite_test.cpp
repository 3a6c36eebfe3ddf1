// SPDX-License-Identifier: Apache-2.0
// The packing library: which encodings hold which samples, what a trace
// must have to be packed, and records that libmseed's own reader decodes
// back to the trace.
#include "mswrite/mswrite.h"

#include "msread/msread.h"

#include "bot/numbers.h"
#include "dff/dff.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <libmseed.h>
#include <limits>

namespace {

using namespace kivf;
using mswrite::Encoding;
using mswrite::misfit;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float k2p29 = 536870912.0F;

// The boundaries of every encoding: what each holds exactly, what it would
// change (0 held; else the refusal's number).
TEST(Misfit, EachEncodingHoldsExactlyItsOwnValues) {
    struct Case {
        Encoding e;
        std::vector<float> y;
        std::int32_t refused;
    };
    const std::vector<Case> cases = {
        {Encoding::int16, {-32768, 32767, 0}, 0},
        {Encoding::int16, {0, 32768}, kMsgPackChange},
        {Encoding::int16, {-32769}, kMsgPackChange},
        {Encoding::int32, {-2147483648.0F, 2147483520.0F}, 0},
        {Encoding::int32, {2147483648.0F}, kMsgPackChange},
        {Encoding::int32, {-0.0F}, kMsgPackChange}, // its sign would be lost
        {Encoding::int32, {1, kInf}, kMsgPackNumber},
        {Encoding::steim2, {1, k2p29, 1}, 0},            // +2^29-1, then -(2^29-1)
        {Encoding::steim2, {0, -k2p29}, 0},              // -2^29
        {Encoding::steim2, {k2p29, -1}, kMsgPackChange}, // -(2^29+1)
        {Encoding::steim1, {0, 2147483520.0F, 0}, 0},
        {Encoding::steim1, {-2147483648.0F, 0}, kMsgPackChange}, // +2^31
        {Encoding::steim1, {0, -2147483648.0F}, 0},              // -2^31
        {Encoding::float32, {kNaN, -0.0F, kInf, 0.1F}, 0},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(misfit(cases[i].y, cases[i].e).number, cases[i].refused);
    }
}

// The reference time (year, day, hour, minute, second, millisecond) and B.
void settime(Trace& t, const std::array<std::int32_t, 6>& ref, float b) {
    for (std::int32_t s = nslot::NZYEAR; s <= nslot::NZMSEC; ++s) t.hdr.n(s) = ref[s - 1];
    t.hdr.f(fslot::B) = b;
}

// A trace of y at 100 Hz from 2024-04-09 01:02:03.456789, codes XX.ABC.00.BHZ.
Trace trace(std::vector<float> y) {
    Trace t = newtrace();
    t.y = std::move(y);
    t.hdr.n(nslot::NPTS) = static_cast<std::int32_t>(t.y.size());
    t.hdr.f(fslot::DELTA) = 0.01F;
    settime(t, {2024, 100, 1, 2, 3, 456}, 0.000789F);
    t.khdr.k(kslot::KNETWK).set("XX");
    t.khdr.k(kslot::KSTNM).set("ABC");
    t.khdr.k(kslot::KHOLE).set("00");
    t.khdr.k(kslot::KCMPNM).set("BHZ");
    return t;
}

// What libmseed's own reader finds in records: every record's header, the
// samples of all of them made floats as msxlate makes them (whole numbers here
// are all exact).
struct Unpacked {
    std::vector<MSRecord*> recs;
    std::vector<float> y;
    ~Unpacked() {
        for (MSRecord* m : recs) msr_free(&m);
    }
};

void unpack(const std::vector<std::string>& records, Unpacked& u) {
    for (const std::string& r : records) {
        MSRecord* m = nullptr;
        ASSERT_EQ(msr_unpack(const_cast<char*>(r.data()), static_cast<int>(r.size()), &m, 1, 0),
                  MS_NOERROR);
        u.recs.push_back(m);
        ASSERT_EQ(msread::tofloats(m->datasamples, m->numsamples, m->sampletype), 0);
        const auto* y = static_cast<const float*>(m->datasamples);
        u.y.insert(u.y.end(), y, y + m->numsamples);
    }
}

std::vector<std::uint32_t> bitsof(const std::vector<float>& y) {
    std::vector<std::uint32_t> b;
    for (const float v : y) b.push_back(std::bit_cast<std::uint32_t>(v));
    return b;
}

// The records of t, numbered on from first.
std::vector<std::string> packed(const Trace& t, const mswrite::PackAs& as, mswrite::Plan& p,
                                std::int32_t first = 1) {
    std::vector<std::string> records;
    EXPECT_FALSE(mswrite::plan(t.hdr, t.khdr, t.y, as, "t", p));
    std::int32_t sequence = first;
    std::int64_t count = 0;
    EXPECT_FALSE(mswrite::pack(
        p, t.y, as, sequence,
        [&](std::span<const char> r) {
            records.emplace_back(r.data(), r.size());
            return 0;
        },
        count));
    EXPECT_EQ(std::pair(count, std::int64_t{sequence}),
              std::pair(std::ssize(records), first + count));
    return records;
}

// Records packed from a trace decode, by libmseed's reader, to its samples bit for bit, its codes,
// its start to the microsecond and its rate; the encoding is the one chosen, the length and
// quality those asked for, the records numbered on from the sequence given. However large a
// record, none counts more samples than its 16 bits hold, and each starts at its first sample.
TEST(Pack, RecordsDecodeToTheTrace) {
    std::vector<float> whole, wide, fractions, sevens;
    for (int i = 0; i < 140000; ++i) {
        whole.push_back(static_cast<float>((i * 7919) % 20001 - 10000));
        wide.push_back(i % 2 == 0 ? 2147483520.0F : -2147483648.0F); // differences of 2^32
        fractions.push_back(i % 3 == 0 ? -0.0F : static_cast<float>(i) / 7.0F);
        sevens.push_back(static_cast<float>(i % 7));
    }
    fractions[5] = std::bit_cast<float>(0x7FA00001U); // NaNs keep their payload, signalling or not
    fractions[6] = std::bit_cast<float>(0xFFC12345U);
    const auto first = [](const std::vector<float>& y, std::size_t n) {
        return std::vector<float>(y.begin(), y.begin() + static_cast<std::ptrdiff_t>(n));
    };
    struct Case {
        std::vector<float> y;
        Encoding asked, chosen;
        int reclen;
        float delta;
        double rate;
    };
    const Encoding a = Encoding::automatic;
    const std::vector<Case> cases = {
        {first(whole, 3000), a, Encoding::steim2, 512, 0.01F, 100},
        {first(wide, 3000), a, Encoding::int32, 256, 0.01F, 100},
        {first(fractions, 3000), a, Encoding::float32, 4096, 0.01F, 100},
        {first(whole, 3000), Encoding::steim1, Encoding::steim1, 512, 0.05F, 20},
        {first(whole, 3000), Encoding::int16, Encoding::int16, 1024, 10.0F, 0.1},
        {first(fractions, 3000), Encoding::float64, Encoding::float64, 512, 1 / 33.333F, 33.333},
        {sevens, Encoding::steim1, Encoding::steim1, 262144, 0.01F, 100},
        {first(sevens, 70000), Encoding::int32, Encoding::int32, 1048576, 0.01F, 100},
        {first(sevens, 70000), Encoding::float64, Encoding::float64, 1048576, 0.01F, 100},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        const Case& c = cases[i];
        Trace t = trace(c.y);
        t.hdr.f(fslot::DELTA) = c.delta;
        mswrite::PackAs as;
        as.encoding = c.asked;
        as.reclen = c.reclen;
        as.quality = 'Q';
        mswrite::Plan p;
        const std::vector<std::string> records = packed(t, as, p, 41);
        EXPECT_EQ(std::tuple(p.encoding, p.rate, p.start),
                  std::tuple(c.chosen, c.rate, 1712624523456789)); // 2024-04-09T01:02:03.456789Z
        Unpacked u;
        unpack(records, u);
        EXPECT_EQ(bitsof(u.y), bitsof(c.y));
        ASSERT_FALSE(u.recs.empty());
        EXPECT_EQ(u.recs.front()->starttime, 1712624523456789);
        EXPECT_EQ(static_cast<float>(1.0 / u.recs.front()->samprate), c.delta);
        std::int64_t at = 0;
        for (std::size_t r = 0; r < u.recs.size(); ++r) {
            const MSRecord* m = u.recs[r];
            EXPECT_EQ(std::tuple(m->reclen, m->encoding, m->dataquality, m->sequence_number),
                      std::tuple(c.reclen, static_cast<std::int8_t>(c.chosen), 'Q',
                                 41 + static_cast<std::int32_t>(r)));
            EXPECT_EQ(std::string(m->network) + "." + m->station + "." + m->location + "." +
                          m->channel,
                      "XX.ABC.00.BHZ");
            EXPECT_LE(m->samplecnt, 65535);
            std::int64_t offset = 0;
            ASSERT_TRUE(sampleoffset(p.nominal, at, offset));
            EXPECT_NEAR(static_cast<double>(m->starttime - p.start), static_cast<double>(offset),
                        1);
            at += m->numsamples;
        }
    }
}

// What a trace must have before it is packed, the plan left as it was. (The checks kiv2ms_e2e
// runs through, each with its message, are not repeated here.) What it may have at the edges.
TEST(Plan, RefusesWhatMiniseedCannotHoldAndTakesTheEdges) {
    const auto refused = [](const Trace& t, const mswrite::PackAs& as, std::int32_t number,
                            const std::string& why) {
        mswrite::Plan p;
        p.rate = -1;
        const Failure f = mswrite::plan(t.hdr, t.khdr, t.y, as, "t.kiv", p);
        EXPECT_EQ(std::pair(f.number, p.rate), std::pair(number, -1.0)) << why;
        EXPECT_NE(f.text.find(": t.kiv " + why), std::string::npos) << f.text;
    };
    const Trace base = trace({0, 1, 2});
    const auto as = [](Encoding e, const char* station = "") {
        mswrite::PackAs a;
        a.encoding = e, a.station = station;
        return a;
    };
    const auto code = [&](std::int32_t slot, std::string_view value) {
        Trace t = base;
        t.khdr.k(slot).set(value);
        return t;
    };
    refused(code(kslot::KNETWK, "XYZ"), {}, kMsgPackCode,
            "(KNETWK 'XYZ' is longer than the 2 characters miniSEED holds)");
    refused(code(kslot::KCMPNM, kUndfTxt), {}, kMsgPackCode,
            "(KCMPNM is undefined and none is given)");
    refused(code(kslot::KSTNM, ""), as(Encoding::automatic, "LONGER"), kMsgPackCode,
            "('LONGER' (given for KSTNM) is longer than the 5 characters miniSEED holds)");
    refused(code(kslot::KSTNM, "\xC3\xA9"), {}, kMsgPackCode,
            "(KSTNM '\xC3\xA9' holds a blank or a character not ASCII)");
    Trace t = base;
    t.hdr.f(fslot::DELTA) = 0;
    refused(t, {}, kMsgPackRate, "(DELTA 0)");
    t = base;
    settime(t, {1899, 365, 23, 59, 59, 999}, 0.000999F);
    refused(t, {}, kMsgPackTime, "(its samples lie in the years 1899 to 1900)");
    settime(t, {2100, 365, 23, 59, 59, 999}, 0); // the second sample is in 2101
    refused(t, {}, kMsgPackTime, "(its samples lie in the years 2100 to 2101)");
    t = base;
    t.y[0] = 2.5F;
    refused(t, as(Encoding::int32), kMsgPackChange,
            "(sample 1, 2.5, is not a whole number of 32 bits; int32 holds only those)");
    t.y[0] = 0, t.y[1] = k2p29;
    refused(t, as(Encoding::steim2), kMsgPackChange,
            "(sample 2 differs from the one before by 536870912, more than steim2 holds)");
    // Times past what a time holds (2^62 us) at the slowest rates a record holds: 5e12 s.
    t = trace(std::vector<float>(50000, 1));
    t.hdr.f(fslot::DELTA) = 1e8F;
    refused(t, {}, kMsgPackTime, "(its samples run on for more than 140,000 years)");
    // The last microsecond of 2100 and the first of 1900 are still taken; codes given stand in
    // only for undefined fields.
    t = trace({1});
    settime(t, {1900, 1, 0, 0, 0, 0}, 0);
    t.khdr.k(kslot::KNETWK).set(kUndfTxt);
    t.khdr.k(kslot::KHOLE).set("");
    mswrite::PackAs given;
    given.network = "NN";
    given.station = "OTHER";
    given.location = "--";
    mswrite::Plan p;
    ASSERT_FALSE(mswrite::plan(t.hdr, t.khdr, t.y, given, "t", p));
    EXPECT_EQ(p.start, -2208988800LL * 1000000);
    EXPECT_EQ(p.network + "." + p.station + "." + p.location + "." + p.channel, "NN.ABC.--.BHZ");
    settime(t, {2100, 365, 23, 59, 59, 999}, 0.000999F);
    ASSERT_FALSE(mswrite::plan(t.hdr, t.khdr, t.y, given, "t", p));
    EXPECT_EQ(p.start, 4133980800LL * 1000000 - 1);
}

TEST(Names, RecordLengthsAndCodes) {
    for (const std::int64_t ok : {256, 1048576}) EXPECT_TRUE(mswrite::reclenok(ok));
    for (const std::int64_t bad : {255, 384, 2097152}) EXPECT_FALSE(mswrite::reclenok(bad)) << bad;
    EXPECT_NE(mswrite::codewhy("A~\x7F", 5), "");
    EXPECT_EQ(mswrite::codewhy("!~", 2), "");
}

// Records on the days whose year and day read alike in both byte orders are
// written in this machine's order, so that readers here take them right;
// the day before and after, big-endian.
TEST(Pack, DaysAlikeInBothOrdersAreReadRight) {
    // 400000 samples at 100 Hz: the last 3999.99 s after the first. The reference time, and
    // whether the records are in this machine's order.
    const std::pair<std::array<std::int32_t, 6>, bool> days[] = {
        {{2056, 1, 0, 2, 3, 456}, true},     {{2056, 256, 12, 0, 0, 0}, true},
        {{2056, 257, 23, 2, 3, 456}, true},  {{2056, 2, 0, 2, 3, 456}, false},
        {{2055, 365, 22, 53, 20, 0}, false}, // the last a sample before 2056
        {{2055, 365, 22, 53, 20, 10}, true}, // the last at 2056-001 00:00
        {{2056, 258, 0, 0, 0, 0}, false}};
    for (const auto& [ref, host] : days) {
        SCOPED_TRACE(std::to_string(ref[0]) + "-" + std::to_string(ref[1]) + " " +
                     std::to_string(ref[2]) + ":" + std::to_string(ref[3]));
        Trace t = trace(std::vector<float>(400000, 3));
        settime(t, ref, 0);
        mswrite::PackAs as;
        mswrite::Plan p;
        const std::vector<std::string> records = packed(t, as, p);
        Unpacked u;
        unpack(records, u);
        EXPECT_EQ(u.y.size(), t.y.size());
        ASSERT_FALSE(u.recs.empty());
        EXPECT_EQ(u.recs.front()->starttime, p.start);
        for (const MSRecord* m : u.recs) ASSERT_EQ(m->byteorder, host ? ms_bigendianhost() : 1);
    }
}

} // namespace
