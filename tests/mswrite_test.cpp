// SPDX-License-Identifier: Apache-2.0
// The packing library: which encodings hold which samples, what a trace
// must have to be packed, and records that libmseed's own reader decodes
// back to the trace.
#include "mswrite/mswrite.h"

#include "msread/msread.h"

#include "bot/numbers.h"
#include "dff/dff.h"

#include <gtest/gtest.h>

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
        {Encoding::int16, {kNaN}, kMsgPackNumber},
        {Encoding::int32, {-2147483648.0F, 2147483520.0F}, 0},
        {Encoding::int32, {2147483648.0F}, kMsgPackChange},
        {Encoding::int32, {0.5F}, kMsgPackChange},
        {Encoding::int32, {-0.0F}, kMsgPackChange}, // its sign would be lost
        {Encoding::int32, {1, kInf}, kMsgPackNumber},
        {Encoding::int32, {-kInf}, kMsgPackNumber},
        {Encoding::steim2, {1, k2p29, 1}, 0}, // +2^29-1, then -(2^29-1)
        {Encoding::steim2, {0, -k2p29}, 0},   // -2^29
        {Encoding::steim2, {0, k2p29}, kMsgPackChange},
        {Encoding::steim2, {k2p29, -1}, kMsgPackChange}, // -(2^29+1)
        {Encoding::steim2, {2147483520.0F, 2147483520.0F - k2p29}, 0},
        {Encoding::steim1, {-2147483648.0F, 2147483520.0F}, kMsgPackChange}, // 2^32-128
        {Encoding::steim1, {0, 2147483520.0F, 0}, 0},
        {Encoding::steim1, {-2147483648.0F, 0}, kMsgPackChange},      // +2^31
        {Encoding::steim1, {-2147483520.0F, 127, -2147483520.0F}, 0}, // 2^31-1, -(2^31-1)
        {Encoding::steim1, {0, -2147483648.0F}, 0},                   // -2^31
        {Encoding::float32, {kNaN, -0.0F, kInf, 0.1F}, 0},
        {Encoding::float64, {kNaN, -0.0F, -kInf, 1e-45F}, 0},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(misfit(cases[i].y, cases[i].e).number, cases[i].refused);
    }
}

// A trace of n samples from y (repeated), 100 Hz, starting 2024-04-09
// 01:02:03.456789, codes XX.ABC.00.BHZ.
Trace trace(std::vector<float> y) {
    Trace t = newtrace();
    t.y = std::move(y);
    t.hdr.n(nslot::NPTS) = static_cast<std::int32_t>(t.y.size());
    t.hdr.f(fslot::DELTA) = 0.01F;
    t.hdr.f(fslot::B) = 0.000789F; // 789 us after the reference millisecond
    const std::int32_t ref[] = {2024, 100, 1, 2, 3, 456};
    for (std::int32_t s = nslot::NZYEAR; s <= nslot::NZMSEC; ++s) t.hdr.n(s) = ref[s - 1];
    t.khdr.k(kslot::KNETWK).set("XX");
    t.khdr.k(kslot::KSTNM).set("ABC");
    t.khdr.k(kslot::KHOLE).set("00");
    t.khdr.k(kslot::KCMPNM).set("BHZ");
    return t;
}

// What libmseed's own reader finds in records: every record's header, the
// samples of all of them as floats (values as the encoding holds them).
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
        for (std::int64_t i = 0; i < m->numsamples; ++i) {
            const char* d = static_cast<const char*>(m->datasamples);
            if (m->sampletype == 'i')
                u.y.push_back(static_cast<float>(reinterpret_cast<const std::int32_t*>(d)[i]));
            else if (m->sampletype == 'f')
                u.y.push_back(reinterpret_cast<const float*>(d)[i]);
            else
                u.y.push_back(static_cast<float>(reinterpret_cast<const double*>(d)[i]));
        }
    }
}

std::vector<std::uint32_t> bitsof(const std::vector<float>& y) {
    std::vector<std::uint32_t> b;
    for (const float v : y) b.push_back(std::bit_cast<std::uint32_t>(v));
    return b;
}

// Records packed from a trace decode, by libmseed's reader, to its samples
// bit for bit, its codes, its start to the microsecond and its rate; the
// encoding is the one chosen, the length and quality those asked for, and
// the records are numbered on from the sequence given.
TEST(Pack, RecordsDecodeToTheTrace) {
    std::vector<float> whole, wide, fractions, edges2, edges1;
    for (int i = 0; i < 3000; ++i) {
        // The widest differences each Steim form holds, both ways.
        const float two[] = {1, k2p29, 1, 0, -k2p29, -1};
        const float one[] = {-2147483520.0F, 127, -2147483520.0F, 0, -2147483648.0F};
        edges2.push_back(two[i % 6]);
        edges1.push_back(one[i % 5]);
        whole.push_back(static_cast<float>((i * 7919) % 20001 - 10000));
        wide.push_back(i % 2 == 0 ? 2147483520.0F : -2147483648.0F); // differences of 2^32
        fractions.push_back(i % 3 == 0 ? -0.0F : static_cast<float>(i) / 7.0F);
    }
    fractions[5] = kNaN;
    struct Case {
        std::vector<float> y;
        Encoding asked, chosen;
        int reclen;
        float delta;
        double rate;
    };
    const std::vector<Case> cases = {
        {whole, Encoding::automatic, Encoding::steim2, 512, 0.01F, 100},
        {wide, Encoding::automatic, Encoding::int32, 256, 0.01F, 100},
        {fractions, Encoding::automatic, Encoding::float32, 4096, 0.01F, 100},
        {whole, Encoding::steim1, Encoding::steim1, 512, 0.05F, 20},
        {edges2, Encoding::automatic, Encoding::steim2, 512, 0.01F, 100},
        {edges1, Encoding::steim1, Encoding::steim1, 512, 0.01F, 100},
        {whole, Encoding::int16, Encoding::int16, 1024, 10.0F, 0.1},
        {fractions, Encoding::float64, Encoding::float64, 512, 1.0F / 33.333F, 33.333},
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
        ASSERT_FALSE(mswrite::plan(t.hdr, t.khdr, t.y, as, "t.kiv", p));
        EXPECT_EQ(p.encoding, c.chosen);
        EXPECT_EQ(p.rate, c.rate);
        EXPECT_EQ(p.start, 1712624523456789); // 2024-04-09T01:02:03.456789Z
        std::vector<std::string> records;
        std::int32_t sequence = 41;
        std::int64_t count = 0;
        ASSERT_FALSE(mswrite::pack(
            p, t.y, as, sequence,
            [&](std::span<const char> r) {
                records.emplace_back(r.data(), r.size());
                return 0;
            },
            count));
        ASSERT_EQ(count, static_cast<std::int64_t>(records.size()));
        EXPECT_EQ(sequence, 41 + count);
        Unpacked u;
        unpack(records, u);
        EXPECT_EQ(bitsof(u.y), bitsof(c.y));
        ASSERT_FALSE(u.recs.empty());
        const MSRecord* first = u.recs.front();
        EXPECT_EQ(first->starttime, 1712624523456789);
        EXPECT_EQ(static_cast<float>(1.0 / first->samprate), c.delta);
        for (std::size_t r = 0; r < u.recs.size(); ++r) {
            const MSRecord* m = u.recs[r];
            EXPECT_EQ(m->reclen, c.reclen);
            EXPECT_EQ(m->encoding, static_cast<int>(c.chosen));
            EXPECT_EQ(m->dataquality, 'Q');
            EXPECT_EQ(m->sequence_number, 41 + static_cast<std::int32_t>(r));
            EXPECT_EQ(std::string(m->network) + "." + m->station + "." + m->location + "." +
                          m->channel,
                      "XX.ABC.00.BHZ");
        }
    }
}

// What a trace must have before it is packed; the first fault found names it.
TEST(Plan, RefusesWhatMiniseedCannotHold) {
    struct Case {
        std::string what;
        void (*change)(Trace&, mswrite::PackAs&);
        std::int32_t refused;
        std::string why;
    };
    const std::vector<Case> cases = {
        {"uneven", [](Trace& t, mswrite::PackAs&) { t.hdr.l(lslot::LEVEN) = 0; }, kMsgPackUneven,
         "(LEVEN false)"},
        {"empty", [](Trace& t, mswrite::PackAs&) { t.y.clear(); }, kMsgPackEmpty, "(NPTS 0)"},
        {"station too long",
         [](Trace& t, mswrite::PackAs&) { t.khdr.k(kslot::KSTNM).set("ABCDEF"); }, kMsgPackCode,
         "(KSTNM 'ABCDEF' is longer than the 5 characters miniSEED holds)"},
        {"network too long", [](Trace& t, mswrite::PackAs&) { t.khdr.k(kslot::KNETWK).set("XYZ"); },
         kMsgPackCode, "(KNETWK 'XYZ' is longer than the 2 characters miniSEED holds)"},
        {"location too long", [](Trace& t, mswrite::PackAs&) { t.khdr.k(kslot::KHOLE).set("000"); },
         kMsgPackCode, "(KHOLE '000' is longer than the 2 characters miniSEED holds)"},
        {"channel too long",
         [](Trace& t, mswrite::PackAs&) { t.khdr.k(kslot::KCMPNM).set("BHZ1"); }, kMsgPackCode,
         "(KCMPNM 'BHZ1' is longer than the 3 characters miniSEED holds)"},
        {"no channel", [](Trace& t, mswrite::PackAs&) { t.khdr.k(kslot::KCMPNM).set(kUndfTxt); },
         kMsgPackCode, "(KCMPNM is undefined and none is given)"},
        {"given station too long",
         [](Trace& t, mswrite::PackAs& as) {
             t.khdr.k(kslot::KSTNM).set("");
             as.station = "LONGER";
         },
         kMsgPackCode,
         "('LONGER' (given for KSTNM) is longer than the 5 characters miniSEED holds)"},
        {"blank in a code", [](Trace& t, mswrite::PackAs&) { t.khdr.k(kslot::KSTNM).set("A B"); },
         kMsgPackCode, "(KSTNM 'A B' holds a blank or a character not ASCII)"},
        {"not ASCII", [](Trace& t, mswrite::PackAs&) { t.khdr.k(kslot::KSTNM).set("\xC3\xA9"); },
         kMsgPackCode, "(KSTNM '\xC3\xA9' holds a blank or a character not ASCII)"},
        {"no rate", [](Trace& t, mswrite::PackAs&) { t.hdr.f(fslot::DELTA) = kUndfFlt; },
         kMsgPackRate, "(DELTA -12345)"},
        {"zero rate", [](Trace& t, mswrite::PackAs&) { t.hdr.f(fslot::DELTA) = 0; }, kMsgPackRate,
         "(DELTA 0)"},
        {"no start", [](Trace& t, mswrite::PackAs&) { t.hdr.n(nslot::NZYEAR) = kUndfInt; },
         kMsgPackStart, "(B or a reference field)"},
        {"before 1900",
         [](Trace& t, mswrite::PackAs&) {
             t.hdr.n(nslot::NZYEAR) = 1899;
             t.hdr.n(nslot::NZJDAY) = 365;
             t.hdr.n(nslot::NZHOUR) = 23;
             t.hdr.n(nslot::NZMIN) = 59;
             t.hdr.n(nslot::NZSEC) = 59;
             t.hdr.n(nslot::NZMSEC) = 999;
             t.hdr.f(fslot::B) = 0.000999F;
         },
         kMsgPackTime, "(its samples lie in the years 1899 to 1900)"},
        {"after 2100",
         [](Trace& t, mswrite::PackAs&) {
             t.hdr.n(nslot::NZYEAR) = 2100;
             t.hdr.n(nslot::NZJDAY) = 365;
             t.hdr.n(nslot::NZHOUR) = 23;
             t.hdr.n(nslot::NZMIN) = 59;
             t.hdr.n(nslot::NZSEC) = 59;
             t.hdr.n(nslot::NZMSEC) = 999;
             t.hdr.f(fslot::B) = 0; // the second sample is in 2101
         },
         kMsgPackTime, "(its samples lie in the years 2100 to 2101)"},
        {"NaN forced whole",
         [](Trace& t, mswrite::PackAs& as) {
             t.y[1] = kNaN;
             as.encoding = Encoding::steim2;
         },
         kMsgPackNumber, "(sample 2 is nan)"},
        {"fraction forced whole",
         [](Trace& t, mswrite::PackAs& as) {
             t.y[0] = 2.5F;
             as.encoding = Encoding::int32;
         },
         kMsgPackChange,
         "(sample 1, 2.5, is not a whole number of 32 bits; int32 holds only those)"},
        {"wide step forced steim2",
         [](Trace& t, mswrite::PackAs& as) {
             t.y[1] = k2p29;
             as.encoding = Encoding::steim2;
         },
         kMsgPackChange,
         "(sample 2 differs from the one before by 536870912, more than steim2 holds)"},
        {"beyond int16",
         [](Trace& t, mswrite::PackAs& as) {
             t.y[1] = 40000;
             as.encoding = Encoding::int16;
         },
         kMsgPackChange, "(sample 2, 40000, is beyond int16's -32768 to 32767)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Trace t = trace({0, 1, 2});
        mswrite::PackAs as;
        c.change(t, as);
        mswrite::Plan p;
        p.rate = -1;
        const Failure f = mswrite::plan(t.hdr, t.khdr, t.y, as, "t.kiv", p);
        EXPECT_EQ(f.number, c.refused);
        EXPECT_NE(f.text.find(": t.kiv " + c.why), std::string::npos) << f.text;
        EXPECT_EQ(p.rate, -1); // the plan is left as it was
    }
}

// The last microsecond of 2100 and the first of 1900 are still taken; codes
// given stand in only for undefined fields.
// Samples whose times run past what a time holds (2^62 us) at the slowest
// rates a record holds are refused for their years too.
TEST(Plan, RefusesSamplesBeyondEveryTime) {
    Trace t = trace(std::vector<float>(50000, 1)); // 50000 intervals of 1e8 s: 5e12 s
    t.hdr.f(fslot::DELTA) = 1e8F;
    mswrite::Plan p;
    const Failure f = mswrite::plan(t.hdr, t.khdr, t.y, {}, "t", p);
    EXPECT_EQ(f.number, kMsgPackTime);
    EXPECT_NE(f.text.find("t (its samples run on for more than 140,000 years)"), std::string::npos)
        << f.text;
}

TEST(Plan, TakesTheEdgesAndFillsOnlyWhatIsUndefined) {
    Trace t = trace({1});
    const std::int32_t first[] = {1900, 1, 0, 0, 0, 0};
    for (std::int32_t s = nslot::NZYEAR; s <= nslot::NZMSEC; ++s) t.hdr.n(s) = first[s - 1];
    t.hdr.f(fslot::B) = 0;
    t.khdr.k(kslot::KNETWK).set(kUndfTxt);
    t.khdr.k(kslot::KHOLE).set("");
    mswrite::PackAs as;
    as.network = "NN";
    as.station = "OTHER";
    as.location = "--";
    mswrite::Plan p;
    ASSERT_FALSE(mswrite::plan(t.hdr, t.khdr, t.y, as, "t", p));
    EXPECT_EQ(p.start, -2208988800LL * 1000000);
    EXPECT_EQ(p.network + "." + p.station + "." + p.location + "." + p.channel, "NN.ABC.--.BHZ");
    as = {}; // nothing given: network and location may stay empty
    ASSERT_FALSE(mswrite::plan(t.hdr, t.khdr, t.y, as, "t", p));
    EXPECT_EQ(p.network + "." + p.station + "." + p.location + "." + p.channel, ".ABC..BHZ");
    const std::int32_t last[] = {2100, 365, 23, 59, 59, 999};
    for (std::int32_t s = nslot::NZYEAR; s <= nslot::NZMSEC; ++s) t.hdr.n(s) = last[s - 1];
    t.hdr.f(fslot::B) = 0.000999F;
    ASSERT_FALSE(mswrite::plan(t.hdr, t.khdr, t.y, as, "t", p));
    EXPECT_EQ(p.start, 4133980800LL * 1000000 - 1);
}

TEST(Names, EncodingsAndRecordLengths) {
    for (const Encoding e : {Encoding::steim1, Encoding::steim2, Encoding::int16, Encoding::int32,
                             Encoding::float32, Encoding::float64}) {
        Encoding back = Encoding::automatic;
        EXPECT_TRUE(mswrite::encodingnamed(mswrite::encodingname(e), back));
        EXPECT_EQ(back, e);
    }
    Encoding none = Encoding::int16;
    EXPECT_FALSE(mswrite::encodingnamed("STEIM2", none));
    EXPECT_FALSE(mswrite::encodingnamed("automatic", none));
    EXPECT_EQ(none, Encoding::int16);
    for (const std::int64_t ok : {256, 512, 4096, 1048576}) EXPECT_TRUE(mswrite::reclenok(ok));
    for (const std::int64_t bad : {0, 128, 255, 384, 1000, 2097152, -512})
        EXPECT_FALSE(mswrite::reclenok(bad)) << bad;
    EXPECT_EQ(mswrite::codewhy("AB", 2), "");
    EXPECT_NE(mswrite::codewhy("ABC", 2), "");
    EXPECT_NE(mswrite::codewhy("A~\x7F", 5), "");
    EXPECT_EQ(mswrite::codewhy("!~", 2), "");
}

} // namespace

namespace {

std::vector<std::string> packed(const Trace& t, const mswrite::PackAs& as, mswrite::Plan& p) {
    std::vector<std::string> records;
    EXPECT_FALSE(mswrite::plan(t.hdr, t.khdr, t.y, as, "t", p));
    std::int32_t sequence = 1;
    std::int64_t count = 0;
    EXPECT_FALSE(mswrite::pack(
        p, t.y, as, sequence,
        [&](std::span<const char> r) {
            records.emplace_back(r.data(), r.size());
            return 0;
        },
        count));
    return records;
}

// float64 keeps a NaN's payload, signalling or quiet, and reading it back
// as floats gives the same bits.
TEST(Pack, Float64KeepsEveryNaNsBits) {
    const std::vector<std::uint32_t> in = {0x7FA00001U, 0xFFC12345U, 0x3FC00000U, 0xFF800000U};
    const std::vector<std::uint64_t> out = {0x7FF4000020000000ULL, 0xFFF82468A0000000ULL,
                                            0x3FF8000000000000ULL, 0xFFF0000000000000ULL};
    std::vector<float> y;
    for (const std::uint32_t b : in) y.push_back(std::bit_cast<float>(b));
    mswrite::PackAs as;
    as.encoding = Encoding::float64;
    mswrite::Plan p;
    const std::vector<std::string> records = packed(trace(y), as, p);
    ASSERT_EQ(records.size(), 1U);
    MSRecord* m = nullptr;
    ASSERT_EQ(msr_unpack(const_cast<char*>(records[0].data()), 512, &m, 1, 0), MS_NOERROR);
    ASSERT_EQ(m->numsamples, 4);
    std::vector<double> d(static_cast<const double*>(m->datasamples),
                          static_cast<const double*>(m->datasamples) + 4);
    msr_free(&m);
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(std::bit_cast<std::uint64_t>(d[i]), out[i]) << i;
    char type = 'd';
    ASSERT_EQ(msread::tofloats(d.data(), 4, type), 0);
    const auto* back = reinterpret_cast<const std::uint32_t*>(d.data());
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(back[i], in[i]) << i;
}

// However large a record, none counts more samples than its 16 bits hold:
// every sample comes back.
TEST(Pack, NoRecordHoldsMoreThanItsCount) {
    struct Case {
        Encoding e;
        int reclen;
        std::size_t n;
    };
    for (const Case c :
         {Case{Encoding::steim2, 65536, 100000}, Case{Encoding::steim1, 262144, 140000},
          Case{Encoding::int32, 1048576, 70000}, Case{Encoding::steim2, 512, 70000}}) {
        SCOPED_TRACE(c.reclen);
        std::vector<float> y(c.n);
        for (std::size_t i = 0; i < y.size(); ++i) y[i] = static_cast<float>(i % 7);
        mswrite::PackAs as;
        as.encoding = c.e;
        as.reclen = c.reclen;
        mswrite::Plan p;
        const std::vector<std::string> records = packed(trace(y), as, p);
        Unpacked u;
        unpack(records, u);
        EXPECT_EQ(bitsof(u.y), bitsof(y));
        std::int64_t at = 0; // each record starts where the samples before it end
        for (const MSRecord* m : u.recs) {
            EXPECT_LE(m->samplecnt, 65535);
            std::int64_t offset = 0;
            ASSERT_TRUE(sampleoffset(p.nominal, at, offset));
            EXPECT_NEAR(static_cast<double>(m->starttime - p.start), static_cast<double>(offset),
                        1);
            at += m->numsamples;
        }
    }
}

// Records on the days whose year and day read alike in both byte orders are
// written in this machine's order, so that readers here take them right;
// the day before and after, big-endian.
TEST(Pack, DaysAlikeInBothOrdersAreReadRight) {
    struct Case {
        std::int32_t year, day, hour, minute, second, msec;
        bool host;
    };
    // 400000 samples at 100 Hz: the last 3999.99 s after the first.
    for (const Case c : {Case{2056, 1, 0, 2, 3, 456, true}, Case{2056, 256, 12, 2, 3, 456, true},
                         Case{2056, 257, 23, 2, 3, 456, true}, Case{2056, 2, 0, 2, 3, 456, false},
                         Case{2055, 365, 23, 2, 3, 456, true},
                         Case{2055, 365, 22, 53, 20, 0, false}, // the last a sample before 2056
                         Case{2055, 365, 22, 53, 20, 10, true}, // the last at 2056-001 00:00
                         Case{2056, 258, 0, 0, 0, 0, false}}) {
        SCOPED_TRACE(std::to_string(c.year) + "-" + std::to_string(c.day) + " " +
                     std::to_string(c.hour) + ":" + std::to_string(c.minute));
        Trace t = trace(std::vector<float>(400000, 3));
        const std::int32_t ref[] = {c.year, c.day, c.hour, c.minute, c.second, c.msec};
        for (std::int32_t s = nslot::NZYEAR; s <= nslot::NZMSEC; ++s) t.hdr.n(s) = ref[s - 1];
        t.hdr.f(fslot::B) = 0;
        mswrite::PackAs as;
        mswrite::Plan p;
        const std::vector<std::string> records = packed(t, as, p);
        Unpacked u;
        unpack(records, u);
        EXPECT_EQ(u.y.size(), t.y.size());
        ASSERT_FALSE(u.recs.empty());
        EXPECT_EQ(u.recs.front()->starttime, p.start);
        for (const MSRecord* m : u.recs) ASSERT_EQ(m->byteorder, c.host ? ms_bigendianhost() : 1);
    }
}

} // namespace
