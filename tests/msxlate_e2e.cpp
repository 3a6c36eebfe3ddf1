// msxlate run as a user would: miniSEED files made here by libmseed's own
// packer, the KIV files written read back and compared bit for bit with the
// samples packed.
#include "dff/dff.h"
#include "e2e.h"
#include "msgen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <optional>
#include <random>
#include <regex>
#include <sys/stat.h>
#include <thread>

namespace fs = std::filesystem;
using msgen::Stream;

namespace {

// n samples (n even) in pairs c+d, c-d, so that any run of whole pairs has
// the mean c; d over four magnitudes (below amp) so that Steim frames need
// differences of every width.
std::vector<std::int32_t> ints(std::size_t n, std::int32_t c, std::int32_t amp) {
    std::vector<std::int32_t> v;
    for (std::uint32_t k = 0; v.size() < n; ++k) {
        const std::int32_t scale[] = {7, 200, 30000, amp};
        const auto d = static_cast<std::int32_t>(
            (k * 2654435761U >> 7) % static_cast<std::uint32_t>(std::min(scale[k / 8 % 4], amp)));
        v.push_back(c + d), v.push_back(c - d);
    }
    return v;
}

// n finite floats of every exponent (subnormals too) in pairs x, -x, the
// first 0 and -0: any run of whole pairs sums to 0 exactly.
std::vector<float> floats(std::size_t n) {
    std::vector<float> v;
    for (std::uint32_t k = 0; v.size() < n; ++k) {
        const float x = std::bit_cast<float>(k == 0 ? 0U : (k * 2654435761U) & 0x7F7FFFFFU);
        v.push_back(x), v.push_back(-x);
    }
    return v;
}

std::vector<float> asfloats(const std::vector<std::int32_t>& v, std::size_t from = 0,
                            std::size_t to = SIZE_MAX) {
    std::vector<float> y; // below 2^24: every value exact
    for (std::size_t i = from; i < std::min(to, v.size()); ++i)
        y.push_back(static_cast<float>(v[i]));
    return y;
}

std::vector<std::uint32_t> bits(const std::vector<float>& v) {
    std::vector<std::uint32_t> b;
    for (float f : v) b.push_back(std::bit_cast<std::uint32_t>(f));
    return b;
}

// Whole message lines, each with its catalogue text.
std::string msg(int number, const std::string& particulars) {
    static const std::map<int, std::string> texts = {
        {2045, "ERROR 2045: Output directory cannot be used:"},
        {2050, "NOTE 2050: Record skipped: it holds no time series:"},
        {2051, "ERROR 2051: Record not converted: it cannot be decoded:"},
        {2052, "ERROR 2052: Bytes skipped: they are not miniSEED records:"},
        {2053, "ERROR 2053: Record not converted: it is cut short by the end of the file:"},
        {2054, "ERROR 2054: File not converted: it is not miniSEED:"},
        {2055, "ERROR 2055: File cannot be read:"},
        {2056, "ERROR 2056: File not converted: its samples need more memory than is available:"},
        {2057, "ERROR 2057: Segment not converted: its network, station, location or channel "
               "cannot be part of a file name:"},
        {2058,
         "ERROR 2058: Segment not converted: its output name was already written in this run:"},
        {2059, "ERROR 2059: Segment not converted: its waveform file was not written:"},
        {2060, "ERROR 2060: Segment not converted: its output would replace a miniSEED file of "
               "this run:"},
        {2062, "ERROR 2062: Record not converted: a sample is beyond the range of 32-bit floats:"},
        {2064, "NOTE 2064: File holds no records: it is empty:"},
        {2065, "NOTE 2065: Segment skipped: its samples are all in another segment of its file:"}};
    return "msxlate: " + texts.at(number) + " " + particulars + "\n";
}

// Standard error split into its messages and its summary line; the summary
// loses its prefix and its timing, whose form is checked here.
using Err = std::pair<std::string, std::string>; // messages, summary
Err parts(const std::string& err) {
    const auto nl = err.size() < 2 ? std::string::npos : err.rfind('\n', err.size() - 2);
    const std::size_t from = nl == std::string::npos ? 0 : nl + 1;
    const std::string last = err.empty() ? "" : err.substr(from, err.size() - 1 - from);
    const auto comma = last.rfind(", ");
    if (last.rfind("msxlate: ", 0) != 0 || comma == std::string::npos || err.back() != '\n' ||
        !std::regex_match(last.substr(comma), std::regex(", [0-9]+(\\.[0-9]+)? s")))
        return {err, "(no summary)"};
    return {err.substr(0, from), last.substr(9, comma - 9)};
}

// Whole lines compared, where "..." in expected stands for any text within a
// line (a reason worded by libmseed).
bool matches(const std::string& actual, const std::string& expected) {
    std::string re = std::regex_replace(expected, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
    for (std::size_t at; (at = re.find(R"(\.\.\.)")) != std::string::npos;)
        re.replace(at, 6, "[^\n]*");
    return std::regex_match(actual, std::regex(re));
}

using N = std::size_t;
std::string tally(N read, N skipped, N refused, N segs, N gaps, N overlaps, N samples, N files,
                  N rounded = 0) {
    const auto s = [](auto n) { return std::to_string(n); };
    return s(read) + " records read, " + s(skipped) + " skipped, " + s(refused) + " refused; " +
           s(segs) + " segments written, " + s(gaps) + " gaps, " + s(overlaps) + " overlaps, " +
           s(samples) + " samples, " + (rounded ? s(rounded) + " samples rounded, " : "") +
           s(files) + " files";
}

// An expected output: its name (which also gives its codes and reference
// time), samples, mean where the samples make it exact, interval and B.
struct Seg {
    std::string name;
    std::vector<float> y;
    std::optional<float> mean;
    float delta = 0.05F, b = 0;
};

void expectKiv(const fs::path& path, const Seg& s) {
    SCOPED_TRACE(s.name);
    kivf::Trace t;
    ASSERT_EQ(kivf::readtrace(path.string(), t), 0) << path;
    std::vector<std::string> f;
    for (std::size_t from = 0, dot = 0; dot != std::string::npos; from = dot + 1)
        dot = s.name.find('.', from), f.push_back(s.name.substr(from, dot - from));
    ASSERT_EQ(f.size(), 11u);
    const auto text = [&](int slot) { return std::string(t.khdr.k(slot).used()); };
    using namespace kivf;
    EXPECT_EQ(text(kslot::KNETWK) + "." + text(kslot::KSTNM) + "." + text(kslot::KHOLE) + "." +
                  text(kslot::KCMPNM),
              f[0] + "." + f[1] + "." + (f[2].empty() ? "-12345" : f[2]) + "." + f[3]);
    const int nz[] = {nslot::NZYEAR, nslot::NZJDAY, nslot::NZHOUR,
                      nslot::NZMIN,  nslot::NZSEC,  nslot::NZMSEC};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(t.hdr.n(nz[i]), std::stoi(f[4 + i])) << f[4 + i];
    EXPECT_EQ(t.hdr.n(nslot::NPTS), static_cast<std::int32_t>(s.y.size()));
    EXPECT_EQ(t.hdr.f(fslot::DELTA), s.delta);
    EXPECT_EQ(t.hdr.f(fslot::B), s.b);
    EXPECT_FLOAT_EQ(t.hdr.f(fslot::E), s.b + static_cast<float>(s.y.size() - 1) * s.delta);
    EXPECT_EQ(t.hdr.i(islot::IFTYPE), ienum::ITIME);
    EXPECT_EQ(t.hdr.l(lslot::LEVEN), 1);
    EXPECT_EQ(bits(t.y), bits(s.y));
    if (s.y.empty()) return;
    const auto [lo, hi] = std::minmax_element(s.y.begin(), s.y.end());
    EXPECT_EQ(t.hdr.f(fslot::DEPMIN), *lo);
    EXPECT_EQ(t.hdr.f(fslot::DEPMAX), *hi);
    if (s.mean) {
        EXPECT_EQ(t.hdr.f(fslot::DEPMEN), *s.mean);
    }
}

struct Msx : ::testing::Test {
    fs::path root;
    void SetUp() override {
        root = ::mkdtemp((fs::temp_directory_path() / "msxlate-e2e-XXXXXX").string().data());
    }
    void TearDown() override { fs::remove_all(root); }
    std::string p(const std::string& name) const { return (root / name).string(); }
    void file(const std::string& name, const std::string& bytes) const {
        fs::create_directories(fs::path(p(name)).parent_path());
        if (name.back() != '/') std::ofstream(p(name), std::ios::binary) << bytes;
    }
    e2e::Result run(std::vector<std::string> args, const std::string& cwd = "") const {
        args.insert(args.begin(), MSXLATE_BIN);
        return e2e::run(args, p(cwd), "");
    }
    std::vector<std::string> listing(const std::string& dir) const {
        std::vector<std::string> v;
        if (fs::is_directory(p(dir)))
            for (const auto& e : fs::directory_iterator(p(dir))) v.push_back(e.path().filename());
        std::sort(v.begin(), v.end());
        return v;
    }
    // The outputs of a run in dir: these, besides what was there before.
    void expectOutputs(const std::string& dir, const std::vector<Seg>& segs,
                       std::vector<std::string> before = {}) const {
        for (const auto& s : segs) before.push_back(s.name);
        std::sort(before.begin(), before.end());
        ASSERT_EQ(listing(dir), before);
        for (const auto& s : segs) expectKiv(p(dir + "/" + s.name), s);
    }
};

struct EncodingRow {
    const char* what;
    int encoding, reclen, order;
    double rate;
    hptime_t start;
    const char* time; // of the name
    float b, delta;
};

TEST_F(Msx, EveryEncodingRecordLengthAndByteOrderKeepsItsSamples) {
    using msgen::at;
    // clang-format off
    const EncodingRow rows[] = {
        {"steim1 512 big", DE_STEIM1, 512, 1, 20, at(2023, 45, 6, 7, 8, 90000), "2023.045.06.07.08.090", 0, 0.05F},
        {"steim1 4096 little", DE_STEIM1, 4096, 0, 40, at(2023, 45, 6, 7, 8, 0), "2023.045.06.07.08.000", 0, 0.025F},
        // Before 1970 the millisecond is the one before, not the one nearer 1970.
        {"steim2 256 big", DE_STEIM2, 256, 1, 1, at(1969, 365, 23, 59, 59, 999500), "1969.365.23.59.59.999", 5e-4F, 1},
        {"steim2 4096 little, leap day 366, microseconds", DE_STEIM2, 4096, 0, 100,
         at(2024, 366, 12, 34, 56, 789012), "2024.366.12.34.56.789", 1.2e-5F, 0.01F},
        {"int16 256 little", DE_INT16, 256, 0, 4, at(2000, 60, 0, 0, 0, 0), "2000.060.00.00.00.000", 0, 0.25F},
        {"int32 512 big", DE_INT32, 512, 1, 200, at(1950, 1, 0, 0, 0, 1000), "1950.001.00.00.00.001", 0, 0.005F},
        {"float32 512 little", DE_FLOAT32, 512, 0, 0.5, at(1999, 365, 23, 59, 59, 500000), "1999.365.23.59.59.500", 0, 2},
        {"float64 4096 big", DE_FLOAT64, 4096, 1, 250, at(2010, 200, 1, 2, 3, 456700), "2010.200.01.02.03.456", 7e-4F, 0.004F},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const auto i = static_cast<std::size_t>(&row - rows);
        const std::string dir = "out" + std::to_string(i), loc = i == 1 ? "1" : i % 2 ? "00" : "";
        Stream s{.sta = "STAT1",
                 .loc = loc,
                 .start = row.start,
                 .rate = row.rate,
                 .encoding = row.encoding,
                 .reclen = row.reclen,
                 .byteorder = row.order};
        std::vector<float> y = floats(3000); // two records at least, even of 4096 bytes
        float mean = 0;
        if (row.encoding == DE_FLOAT32) s.floats = y;
        if (row.encoding == DE_FLOAT64) s.doubles.assign(y.begin(), y.end());
        if (row.encoding != DE_FLOAT32 && row.encoding != DE_FLOAT64) {
            s.ints = ints(3000, -300, row.encoding == DE_INT16 ? 30000 : 1 << 23);
            y = asfloats(s.ints), mean = -300;
        }
        const std::string bytes = msgen::pack(s);
        file("in.mseed", bytes);
        const auto r = run({"-o", dir, "in.mseed"});
        EXPECT_EQ(r.out + std::to_string(r.status), "0");
        const auto records = msgen::split(bytes).size();
        EXPECT_GE(records, 2u);
        EXPECT_EQ(parts(r.err), Err("", tally(records, 0, 0, 1, 0, 0, 3000, 1)));
        const std::string name = "XX.STAT1." + loc + ".BHZ." + row.time + ".kiv";
        expectOutputs(dir, {{name, y, mean, row.delta, row.b}});
    }
}

TEST_F(Msx, InterleavedChannelsEachBecomeOneFile) {
    const auto t0 = msgen::at(2022, 10, 0, 0, 0, 0);
    const auto z = ints(400, 5, 1000), n = ints(300, -7, 1 << 20);
    const auto e = floats(500);
    const std::vector<std::vector<std::string>> recs = {
        msgen::split(msgen::pack({.loc = "00", .start = t0, .reclen = 256, .ints = z})),
        msgen::split(msgen::pack({.loc = "00",
                                  .chan = "BHN",
                                  .start = t0,
                                  .encoding = DE_INT32,
                                  .reclen = 256,
                                  .ints = n})),
        msgen::split(msgen::pack({.net = "Y",
                                  .sta = "STB",
                                  .chan = "HHE",
                                  .start = t0,
                                  .rate = 100,
                                  .encoding = DE_FLOAT32,
                                  .reclen = 256,
                                  .floats = e}))};
    std::string bytes; // record i of each channel in turn
    std::size_t count = 0;
    for (std::size_t i = 0; count < recs[0].size() + recs[1].size() + recs[2].size(); ++i)
        for (const auto& c : recs)
            if (i < c.size()) bytes += c[i], ++count;
    file("in.mseed", bytes);
    const auto r = run({"-o", "out", "in.mseed"});
    EXPECT_EQ(r.out + std::to_string(r.status), "0");
    EXPECT_EQ(parts(r.err), Err("", tally(count, 0, 0, 3, 0, 0, 1200, 1)));
    expectOutputs("out", {{"XX.STA.00.BHZ.2022.010.00.00.00.000.kiv", asfloats(z), 5.0F},
                          {"XX.STA.00.BHN.2022.010.00.00.00.000.kiv", asfloats(n), -7.0F},
                          {"Y.STB..HHE.2022.010.00.00.00.000.kiv", e, 0.0F, 0.01F}});
}

// Two halves of one stream, the second moved by shift microseconds, their
// records in the order given: joined within half a sample, else two files.
TEST_F(Msx, RecordsAreJoinedWithinHalfASampleWhateverTheirOrder) {
    struct Row {
        const char* what;
        hptime_t shift;
        int order;          // 0 as packed, 1 reversed, 2 shuffled
        const char* second; // time of the second file, if any
        N gaps, overlaps;
    };
    const Row rows[] = {{"contiguous", 0, 0, nullptr, 0, 0},
                        {"0.4 sample late", 20000, 0, nullptr, 0, 0},
                        {"0.4 sample early", -20000, 0, nullptr, 0, 0},
                        {"0.6 sample late", 30000, 0, "2021.100.10.00.15.030", 1, 0},
                        {"10 s late", 10000000, 0, "2021.100.10.00.25.000", 1, 0},
                        {"50 samples early", -2500000, 0, "2021.100.10.00.12.500", 0, 1},
                        {"reversed", 0, 1, nullptr, 0, 0},
                        {"shuffled", 0, 2, nullptr, 0, 0},
                        {"10 s late, shuffled", 10000000, 2, "2021.100.10.00.25.000", 1, 0}};
    const auto all = ints(600, 11, 1 << 22);
    const auto t0 = msgen::at(2021, 100, 10, 0, 0, 0);
    const std::string name = "XX.STA..BHZ.2021.100.10.00.00.000.kiv";
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        auto recs =
            msgen::split(msgen::pack({.start = t0, .ints = {all.begin(), all.begin() + 300}}));
        for (auto& rec : msgen::split(msgen::pack(
                 {.start = t0 + 15000000 + row.shift, .ints = {all.begin() + 300, all.end()}})))
            recs.push_back(rec);
        if (row.order == 1) std::reverse(recs.begin(), recs.end());
        if (row.order == 2) std::shuffle(recs.begin(), recs.end(), std::mt19937(7));
        const std::string dir = "out" + std::to_string(&row - rows);
        file("in.mseed", msgen::join(recs));
        const auto r = run({"-o", dir, "in.mseed"});
        EXPECT_EQ(r.out + std::to_string(r.status), "0");
        std::vector<Seg> segs = {{name, asfloats(all), 11.0F}};
        if (row.second)
            segs = {{name, asfloats(all, 0, 300), 11.0F},
                    {"XX.STA..BHZ." + std::string(row.second) + ".kiv", asfloats(all, 300), 11.0F}};
        EXPECT_EQ(parts(r.err),
                  Err("", tally(recs.size(), 0, 0, segs.size(), row.gaps, row.overlaps, 600, 1)));
        expectOutputs(dir, segs);
    }
}

TEST_F(Msx, RecordsWithoutATimeSeriesAreSkippedWithANote) {
    const auto v = ints(600, 3, 1 << 20);
    const auto t0 = msgen::at(2015, 1, 0, 0, 0, 0);
    const auto recs = msgen::split(msgen::pack({.start = t0, .encoding = DE_INT32, .ints = v}));
    ASSERT_EQ(recs.size(), 6u); // 114 samples a record: each of whole pairs
    const std::string text = msgen::pack(
        {.chan = "LOG", .start = t0, .rate = 1, .encoding = DE_ASCII, .text = "GPS locked"});
    const std::string rate0 =
        msgen::pack({.start = t0 + 5000000, .rate = 0, .encoding = DE_INT32, .ints = {1, 2, 3}});
    std::string none = msgen::pack({.start = t0 + 7000000, .encoding = DE_INT32, .ints = {9, 9}});
    msgen::setcount(none, 0);
    file("in.mseed", recs[0] + text + recs[1] + rate0 + msgen::join(recs, {2, 3, 4, 5}) + none);
    for (const std::string quiet : {"", "-q"}) {
        SCOPED_TRACE(quiet);
        const std::string dir = "out" + quiet;
        std::vector<std::string> args = {"-o", dir, "in.mseed"};
        if (quiet == "-q") args.insert(args.begin(), quiet);
        const auto r = run(args);
        EXPECT_EQ(r.out + std::to_string(r.status), "0");
        const std::string notes = msg(2050, "in.mseed at byte 512 (text)") +
                                  msg(2050, "in.mseed at byte 1536 (sampling rate 0)") +
                                  msg(2050, "in.mseed at byte 4096 (no samples)");
        EXPECT_EQ(parts(r.err), quiet == "-q" ? Err("", "(no summary)")
                                              : Err(notes, tally(6, 3, 0, 1, 0, 0, 600, 1)));
        expectOutputs(dir, {{"XX.STA..BHZ.2015.001.00.00.00.000.kiv", asfloats(v), 3.0F}});
    }
}

// Expectations by hand: nearest, ties to even, at the precision of each value.
TEST_F(Msx, SamplesBeyondFloatPrecisionAreRoundedToNearestAndCounted) {
    using lim = std::numeric_limits<std::int32_t>;
    // clang-format off
    const std::vector<std::int32_t> big = {16777216, 16777217, 16777219, -16777217, lim::max(), lim::min(), 33554435, 0};
    const std::vector<float> bigf = {16777216, 16777216, 16777220, -16777216, 2147483648.0F, -2147483648.0F, 33554436, 0};
    const std::vector<double> wide = {0.1, 1 + 0x1p-23 - 0x1p-30, -(1 + 0x1p-24), 1 + 3 * 0x1p-24, 0.5, 1e30, 1e-45};
    const std::vector<float> widef = {0.1F, 1 + 0x1p-23F, -1, 1 + 0x1p-22F, 0.5F, 1e30F, std::numeric_limits<float>::denorm_min()};
    // clang-format on
    const auto t0 = msgen::at(2016, 1, 0, 0, 0, 0);
    file("in.mseed", msgen::pack({.start = t0, .rate = 1, .encoding = DE_INT32, .ints = big}) +
                         msgen::pack({.chan = "BHN",
                                      .start = t0,
                                      .rate = 1,
                                      .encoding = DE_FLOAT64,
                                      .byteorder = 0,
                                      .doubles = wide}));
    const auto r = run({"-o", "out", "in.mseed"});
    EXPECT_EQ(r.out + std::to_string(r.status), "0");
    // 5 integers change (16777216, -2^31 and 0 do not), 6 doubles (0.5 does not).
    EXPECT_EQ(parts(r.err), Err("", tally(2, 0, 0, 2, 0, 0, 15, 1, 11)));
    expectOutputs("out", {{"XX.STA..BHZ.2016.001.00.00.00.000.kiv", bigf, 8388609.0F, 1},
                          {"XX.STA..BHN.2016.001.00.00.00.000.kiv", widef, std::nullopt, 1}});
}

struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::string>> files; // a name ending in / is a directory
    std::vector<std::string> args;
    int status;
    std::string messages, tally;
    std::vector<Seg> outputs; // in out/
};

TEST_F(Msx, DamagedInputsAndRefusedSegmentsAreReportedWhereTheyAre) {
    const auto v = ints(800, 9, 1 << 20);
    const Stream good{.start = msgen::at(2018, 200, 0, 0, 0, 0), .encoding = DE_INT32, .ints = v};
    const auto edges = [](const std::vector<std::string>& recs) { // samples before each record
        std::vector<std::size_t> edge = {0};
        for (const auto& rec : recs) edge.push_back(edge.back() + msgen::count(rec));
        return edge;
    };
    const auto recs = msgen::split(msgen::pack(good));
    const auto edge = edges(recs);
    ASSERT_EQ(recs.size(), 8u);
    ASSERT_EQ(edge[1] % 2, 0u); // records of whole pairs: every run of them has the mean 9
    const std::string all = msgen::join(recs), junk(100, '~');
    const auto nameAt = [](std::size_t k) { // of the segment from sample k (below 60 s)
        const std::string s = std::to_string(100 + k / 20), ms = std::to_string(1000 + k % 20 * 50);
        return "XX.STA..BHZ.2018.200.00.00." + s.substr(1) + "." + ms.substr(1) + ".kiv";
    };
    const std::string name = nameAt(0);
    const auto seg = [&](std::size_t from, std::size_t to) {
        return Seg{nameAt(edge[from]), asfloats(v, edge[from], edge[to]), 9.0F};
    };
    auto undecodable = recs[3];
    ASSERT_EQ(undecodable.substr(48, 2), std::string("\x03\xe8", 2)); // blockette 1000 first
    undecodable[52] = 99;                                             // an encoding that is none
    Stream other = good, odd = good, huge = good, steim1 = good;
    other.ints = ints(800, 1, 1000);
    odd.sta = "S/T";
    // The third record holds a value beyond float; the others are converted.
    huge.encoding = DE_FLOAT64, huge.doubles.assign(v.begin(), v.end());
    const auto hugeedge = edges(msgen::split(msgen::pack(huge)));
    ASSERT_GE(hugeedge.size(), 5u);
    huge.doubles[hugeedge[2] + 7] = 1e39;
    // Records of old, without a blockette 1000 to give their length and encoding
    // (Steim-1 then): told by where the next one starts, the last by what is left.
    steim1.encoding = DE_STEIM1;
    auto old = msgen::split(msgen::pack(steim1));
    for (auto& rec : old) rec[39] = 0, rec[46] = rec[47] = 0; // no blockettes
    const auto oldedge = edges(old);
    const std::size_t oldlast = old.size() - 1;
    const std::vector<std::string> args = {"-o", "out", "in.mseed"};
    // clang-format off
    const Case cases[] = {
        {"last record cut short", {{"in.mseed", all.substr(0, 3584 + 300)}}, args, 2,
         msg(2053, "in.mseed at byte 3584 (300 bytes of 512)"), tally(7, 0, 1, 1, 0, 0, edge[7], 1), {seg(0, 7)}},
        {"last record cut in its header", {{"in.mseed", all.substr(0, 3584 + 40)}}, args, 2,
         msg(2053, "in.mseed at byte 3584 (40 bytes)"), tally(7, 0, 1, 1, 0, 0, edge[7], 1), {seg(0, 7)}},
        {"records without blockette 1000", {{"in.mseed", msgen::join(old)}}, args, 0, "",
         tally(old.size(), 0, 0, 1, 0, 0, 800, 1), {seg(0, 8)}},
        {"records without blockette 1000, the last cut short", {{"in.mseed", msgen::join(old).substr(0, 512 * oldlast + 300)}},
         args, 2, msg(2053, "in.mseed at byte " + std::to_string(512 * oldlast) + " (300 bytes)"),
         tally(oldlast, 0, 1, 1, 0, 0, oldedge[oldlast], 1), {{name, asfloats(v, 0, oldedge[oldlast]), std::nullopt}}},
        {"bytes between records", {{"in.mseed", all.substr(0, 1536) + junk + all.substr(1536)}}, args, 2,
         msg(2052, "in.mseed at byte 1536 (100 bytes)"), tally(8, 0, 1, 1, 0, 0, 800, 1), {seg(0, 8)}},
        {"bytes before and after", {{"in.mseed", junk.substr(0, 64) + all + std::string(700, '\0')}}, args, 2,
         msg(2052, "in.mseed at byte 0 (64 bytes)") + msg(2052, "in.mseed at byte 4160 (700 bytes)"),
         tally(8, 0, 2, 1, 0, 0, 800, 1), {seg(0, 8)}},
        {"records repeated, one of them twice", {{"in.mseed", msgen::join(recs, {0, 0, 1, 2, 3, 4, 5, 6, 7, 3, 3, 7})}}, args, 0,
         msg(2065, "in.mseed " + name + " (" + std::to_string(edge[1]) + " samples) in out/" + name) +
         msg(2065, "in.mseed " + nameAt(edge[3]) + " (" + std::to_string(edge[4] - edge[3]) + " samples) in out/" + name) +
         msg(2065, "in.mseed " + nameAt(edge[3]) + " (" + std::to_string(edge[4] - edge[3]) + " samples) in out/" + name) +
         msg(2065, "in.mseed " + nameAt(edge[7]) + " (" + std::to_string(edge[8] - edge[7]) + " samples) in out/" + name),
         tally(12, 0, 0, 1, 0, 4, 800, 1), {seg(0, 8)}},
        {"nothing but bytes", {{"in.mseed", junk + junk}}, args, 2, msg(2054, "in.mseed"), tally(0, 0, 1, 0, 0, 0, 0, 0), {}},
        {"empty", {{"in.mseed", ""}}, args, 0, msg(2064, "in.mseed"), tally(0, 0, 0, 0, 0, 0, 0, 1), {}},
        {"a directory", {{"adir/", ""}}, {"-o", "out", "adir"}, 2, msg(2055, "adir Is a directory"),
         tally(0, 0, 1, 0, 0, 0, 0, 0), {}},
        {"a read that fails", {}, {"-o", "out", "/proc/self/mem"}, 2, msg(2055, "/proc/self/mem Input/output error"),
         tally(0, 0, 1, 0, 0, 0, 0, 0), {}},
        {"a record that cannot be decoded", {{"in.mseed", all.substr(0, 1536) + undecodable + all.substr(2048)}}, args, 2,
         msg(2051, "in.mseed at byte 1536 (...99...)"), tally(7, 0, 1, 2, 1, 0, 800 - (edge[4] - edge[3]), 1),
         {seg(0, 3), seg(4, 8)}},
        {"a sample beyond float", {{"in.mseed", msgen::pack(huge)}}, args, 2, msg(2062, "in.mseed at byte 1024 (float64)"),
         tally(hugeedge.size() - 2, 0, 1, 2, 1, 0, 800 - (hugeedge[3] - hugeedge[2]), 1),
         {{name, asfloats(v, 0, hugeedge[2]), std::nullopt}, {nameAt(hugeedge[3]), asfloats(v, hugeedge[3]), std::nullopt}}},
        {"the same segment in two files", {{"a.mseed", all}, {"b.mseed", msgen::pack(other)}},
         {"-o", "out", "a.mseed", "b.mseed"}, 2, msg(2058, "b.mseed out/" + name + " first written by a.mseed"),
         tally(16, 0, 1, 1, 0, 0, 800, 2), {seg(0, 8)}},
        {"an output that would replace an input", {{name, all}}, {name}, 2, msg(2060, name + " " + name),
         tally(8, 0, 1, 0, 0, 0, 0, 1), {}},
        {"a directory in the output's place", {{"in.mseed", all}, {"out/" + name + "/", ""}}, args, 2,
         msg(2059, "in.mseed out/" + name + " Is a directory"), tally(8, 0, 1, 0, 0, 0, 0, 1), {}},
        {"a station that cannot be a file name", {{"in.mseed", msgen::pack(odd)}}, args, 2,
         msg(2057, "in.mseed 'XX.S/T..BHZ'"), tally(8, 0, 1, 0, 0, 0, 0, 1), {}},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string cwd = "case" + std::to_string(&c - cases);
        fs::create_directory(p(cwd));
        for (const auto& [n, bytes] : c.files) file(cwd + "/" + n, bytes);
        const auto before = listing(cwd + "/out");
        const auto r = run(c.args, cwd);
        EXPECT_EQ(r.out + std::to_string(r.status), std::to_string(c.status));
        const auto [messages, sum] = parts(r.err);
        EXPECT_TRUE(matches(messages, c.messages)) << messages;
        EXPECT_EQ(sum, c.tally);
        expectOutputs(cwd + "/out", c.outputs, before);
        for (const auto& [n, bytes] : c.files) // inputs are only read
            EXPECT_TRUE(n.back() == '/' || e2e::readfile(p(cwd + "/" + n)) == bytes) << n;
    }
}

// A file whose samples pass what the process may take is refused before an
// allocation fails, and the run goes on. The sanitizers' own reservations do
// not fit under such a limit.
#if defined(__SANITIZE_ADDRESS__)
#define MSX_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MSX_SANITIZED 1
#endif
#endif
#ifndef MSX_SANITIZED
TEST_F(Msx, AFileLargerThanTheMemoryAllowedIsRefusedAndTheRunGoesOn) {
    Stream big{.start = msgen::at(2020, 1, 0, 0, 0, 0), .reclen = 4096};
    big.ints.assign(12000000, 5); // 48 MB as floats, 7 MB packed
    const auto small = ints(100, 1, 10);
    file("big.mseed", msgen::pack(big));
    file("small.mseed", msgen::pack({.sta = "SMALL", .start = big.start, .ints = small}));
    const auto r = e2e::run(
        {"/bin/sh", "-c", "ulimit -d 40960 && exec \"$0\" -o out big.mseed small.mseed", MSXLATE_BIN},
        root.string(), "");
    EXPECT_EQ(r.out + std::to_string(r.status), "2");
    const auto [messages, sum] = parts(r.err);
    EXPECT_TRUE(matches(messages, msg(2056, "big.mseed (more than ... MB of samples; ... MB available)")))
        << messages;
    EXPECT_EQ(sum, tally(1, 0, 1, 1, 0, 0, 100, 1));
    expectOutputs("out", {{"XX.SMALL..BHZ.2020.001.00.00.00.000.kiv", asfloats(small), 1.0F}});
}
#endif

TEST_F(Msx, AFifoIsReadLikeAFile) {
    const auto v = ints(300, 2, 1000);
    const std::string bytes = msgen::pack({.start = msgen::at(2019, 1, 0, 0, 0, 0),
                                           .encoding = DE_STEIM1,
                                           .byteorder = 0,
                                           .ints = v});
    ASSERT_EQ(::mkfifo(p("pipe").c_str(), 0600), 0);
    std::signal(SIGPIPE, SIG_IGN); // a reader that stops early must not end the test
    std::thread writer([&] { std::ofstream(p("pipe"), std::ios::binary) << bytes; });
    const auto r = run({"-o", "out", "pipe"});
    const int fd = ::open(p("pipe").c_str(), O_RDONLY | O_NONBLOCK); // frees a writer still waiting
    writer.join();
    ::close(fd);
    EXPECT_EQ(r.out + std::to_string(r.status), "0");
    EXPECT_EQ(parts(r.err), Err("", tally(msgen::split(bytes).size(), 0, 0, 1, 0, 0, 300, 1)));
    expectOutputs("out", {{"XX.STA..BHZ.2019.001.00.00.00.000.kiv", asfloats(v), 2.0F}});
}

TEST_F(Msx, DryRunListsWhatWouldBeWrittenAndWritesNothing) {
    const auto t0 = msgen::at(2020, 2, 3, 4, 5, 6000);
    const std::string bytes = msgen::pack({.loc = "10", .start = t0, .ints = ints(600, 0, 99)}) +
                              msgen::pack({.loc = "10",
                                           .chan = "LHZ",
                                           .start = t0,
                                           .rate = 0.5,
                                           .encoding = DE_INT32,
                                           .ints = {16777217, 0, 5}});
    file("in.mseed", bytes);
    const std::string listed =
        "in.mseed -> out/XX.STA.10.BHZ.2020.002.03.04.05.006.kiv (600 samples at 20 Hz)\n"
        "in.mseed -> out/XX.STA.10.LHZ.2020.002.03.04.05.006.kiv (3 samples at 0.5 Hz)\n";
    std::string sum = "dry run: " + tally(msgen::split(bytes).size(), 0, 0, 2, 0, 0, 603, 1, 1);
    sum.replace(sum.find("segments written"), 16, "segments would be written");
    for (const std::string quiet : {"", "-q"}) {
        SCOPED_TRACE(quiet);
        std::vector<std::string> args = {"-n", "-o", "out", "in.mseed"};
        if (quiet == "-q") args.insert(args.begin(), quiet);
        const auto r = run(args);
        EXPECT_EQ(r.status, 0);
        const auto nl = r.out.find('\n') + 1; // the two lines in either order
        EXPECT_TRUE(r.out == listed || r.out.substr(nl) + r.out.substr(0, nl) == listed) << r.out;
        EXPECT_EQ(parts(r.err), Err("", quiet == "-q" ? "(no summary)" : sum));
        EXPECT_EQ(listing("out"), std::vector<std::string>{});
    }
    e2e::Options full;
    full.outfile = "/dev/full"; // a listing lost is a failure
    const auto r = e2e::run({MSXLATE_BIN, "-q", "-n", "in.mseed"}, root.string(), "", full);
    EXPECT_EQ(r.err.substr(0, 22) + std::to_string(r.status), "msxlate: ERROR 2014: S2");
}

TEST_F(Msx, CommandLine) {
    const std::string bytes = msgen::pack(
        {.start = msgen::at(2019, 1, 0, 0, 0, 0), .encoding = DE_INT16, .ints = {1, -1}});
    const std::vector<std::string> name = {"XX.STA..BHZ.2019.001.00.00.00.000.kiv"};
    file("in.mseed", bytes);
    file("-n", bytes);
    auto r = run({"-q", "-o", "made/a/b", "in.mseed"}); // made with its parents
    EXPECT_EQ(r.err + r.out + std::to_string(r.status) + listing("made/a/b").at(0), "0" + name[0]);
    e2e::Options noinput;
    noinput.closed = 0;                // the input file may then be descriptor 0
    fs::create_directory(p("closed")); // no -o: no output directory takes descriptor 0 first
    r = e2e::run({MSXLATE_BIN, "-q", "../in.mseed"}, p("closed"), "", noinput);
    EXPECT_EQ(r.err + r.out + std::to_string(r.status), "0");
    EXPECT_EQ(listing("closed"), name);
    r = run({"-q", "-o", "dashed", "--", "-n"}); // after --, a file even if named as an option
    EXPECT_EQ(r.err + r.out + std::to_string(r.status), "0");
    EXPECT_EQ(listing("dashed"), name);
    r = run({"-o", "in.mseed/sub", "in.mseed"});
    EXPECT_EQ(r.out + std::to_string(r.status), "1");
    EXPECT_EQ(r.err, msg(2045, "in.mseed/sub Not a directory"));
    const auto files = listing("");
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {"-q"}, {"-x", "in.mseed"}, {"in.mseed", "-o"}}) {
        r = run(args);
        EXPECT_EQ(r.out + std::to_string(r.status), "1") << args.size();
        EXPECT_NE(r.err, "") << args.size();
    }
    EXPECT_EQ(listing(""), files); // nothing written by a bad command line
    r = run({"--help"});
    EXPECT_EQ(r.err + std::to_string(r.status) + r.out.substr(0, 15), "0Usage: msxlate ");
    r = run({"--version"});
    EXPECT_EQ(r.err + std::to_string(r.status) + r.out, "0msxlate " KIVF_VERSION "\n");
}

} // namespace
