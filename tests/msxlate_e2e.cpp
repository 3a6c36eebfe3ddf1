// SPDX-License-Identifier: Apache-2.0
// msxlate run as a user would on miniSEED made by libmseed's own packer; the KIV
// files written read back and compared bit for bit with the samples packed.
#include "dff/dff.h"
#include "e2e.h"
#include "examples/mspack.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <map>
#include <numeric>
#include <optional>
#include <random>
#include <regex>

namespace fs = std::filesystem;
using mspack::at;
using mspack::pack;
using mspack::Stream;

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

// The records of a packed stream, in order.
std::vector<std::string> split(const std::string& bytes) {
    std::vector<std::string> recs;
    for (std::size_t off = 0; off < bytes.size(); off += recs.back().size()) {
        const int len = ms_detect(bytes.data() + off, static_cast<int>(bytes.size() - off));
        recs.push_back(bytes.substr(off, len > 0 ? std::size_t(len) : std::string::npos));
    }
    return recs;
}

std::vector<float> asfloats(const std::vector<std::int32_t>& v, std::size_t from = 0,
                            std::size_t to = SIZE_MAX) {
    std::vector<float> y; // below 2^24: every value exact
    for (std::size_t i = from; i < std::min(to, v.size()); ++i)
        y.push_back(static_cast<float>(v[i]));
    return y;
}

// Whole message lines, each with its catalogue text.
std::string msg(int n, const std::string& particulars) {
    // clang-format off
    static const std::map<int, std::string> texts = {
        {2045, "Output directory cannot be used"}, {2050, "Record skipped: it holds no time series"},
        {2051, "Record not converted: it cannot be decoded"}, {2052, "Bytes skipped: they are not miniSEED records"},
        {2053, "Record not converted: it is cut short by the end of the file"}, {2055, "File cannot be read"},
        {2054, "File not converted: it is not miniSEED"}, {2064, "File holds no records: it is empty"},
        {2056, "File not converted: its samples need more memory than is available"},
        {2057, "Segment not converted: its network, station, location or channel cannot be part of a file name"},
        {2058, "Segment not converted: its output name was already written in this run"},
        {2059, "Segment not converted: its waveform file was not written"},
        {2060, "Segment not converted: its output would replace a miniSEED file of this run"},
        {2062, "Record not converted: a sample is beyond the range of 32-bit floats"},
        {2065, "Segment skipped: its samples are all in another segment of its file"},
        {2032, "Record not converted: the sampling rate is not a number above 0 whose interval is a normal 32-bit float"},
        {2066, "Record not converted: its sample count is more than its data can hold"},
        {2067, "Record not converted: its stated length runs past the next record or what a record may have"},
        {2068, "Record skipped: its samples are all among those read before it"},
        {2091, "Not converted: its output exists, and -k keeps it"}};
    // clang-format on
    const std::string kind = n == 2050 || n == 2064 || n == 2065 || n == 2068 ? "NOTE " : "ERROR ";
    return "msxlate: " + kind + std::to_string(n) + ": " + texts.at(n) + ": " + particulars + "\n";
}

// Standard error as expected: the messages ("..." any text within a line: libmseed's
// wording), then the summary unless none is expected, its timing of the form checked.
bool said(const std::string& err, const std::string& messages, const std::string& tally) {
    const std::string sum = tally.empty() ? "" : "msxlate: " + tally + "\n";
    std::string re =
        std::regex_replace(messages + sum, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
    for (std::size_t at; (at = re.find(R"(\.\.\.)")) != std::string::npos;)
        re.replace(at, 6, "[^\n]*");
    if (!sum.empty()) re.insert(re.size() - 1, R"(, [0-9]+(\.[0-9]+)? s)");
    return std::regex_match(err, std::regex(re));
}

using N = std::size_t;
std::string tally(N read, N skipped, N refused, N segs, N gaps, N overlaps, N samples, N files,
                  N rounded = 0) {
    const auto s = [](N n) { return std::to_string(n); };
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

void expectKiv(const std::string& path, const Seg& s) {
    SCOPED_TRACE(s.name);
    using namespace kivf;
    Trace t;
    ASSERT_EQ(readtrace(path, t), 0) << path;
    const auto k = [&](int slot) { return std::string(t.khdr.k(slot).used()); };
    const auto n = [&](int slot) { return t.hdr.n(slot); };
    char name[100]; // the header's codes and time, an empty location unset
    std::snprintf(name, sizeof name, "%s.%s.%s.%s.%04d.%03d.%02d.%02d.%02d.%03d.kiv",
                  k(kslot::KNETWK).c_str(), k(kslot::KSTNM).c_str(), k(kslot::KHOLE).c_str(),
                  k(kslot::KCMPNM).c_str(), n(nslot::NZYEAR), n(nslot::NZJDAY), n(nslot::NZHOUR),
                  n(nslot::NZMIN), n(nslot::NZSEC), n(nslot::NZMSEC));
    EXPECT_EQ(name, std::regex_replace(s.name, std::regex(R"(^([^.]*\.[^.]*)\.\.)"), "$1.-12345."));
    const auto [lo, hi] = std::minmax_element(s.y.begin(), s.y.end());
    const float e = s.b + static_cast<float>(s.y.size() - 1) * s.delta,
                men = t.hdr.f(fslot::DEPMEN);
    const auto f = [&](int slot) { return double(t.hdr.f(slot)); };
    EXPECT_EQ(
        (std::vector<double>{f(fslot::DELTA), f(fslot::B), f(fslot::E), double(n(nslot::NPTS)),
                             double(t.hdr.i(islot::IFTYPE)), double(t.hdr.l(lslot::LEVEN)),
                             f(fslot::DEPMIN), f(fslot::DEPMAX), f(fslot::DEPMEN)}),
        (std::vector<double>{s.delta, s.b, e, double(s.y.size()), ienum::ITIME, 1, *lo, *hi,
                             s.mean.value_or(men)})); // the mean if known
    ASSERT_EQ(t.y.size(), s.y.size());
    EXPECT_EQ(std::memcmp(t.y.data(), s.y.data(), 4 * s.y.size()), 0)
        << "samples differ in their bits";
}

// A run in a directory of its own: the files made there first (a name ending in / is a
// directory), what it says, and what it leaves in out/ besides what was there.
struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::string>> files;
    std::vector<std::string> args; // msxlate's, unless the first is a program by its path
    int status;
    std::string messages, tally;
    std::vector<Seg> outputs;
    std::string out = ""; // its standard output
};

struct Msx : ::testing::Test, e2e::Scratch {
    e2e::Result run(std::vector<std::string> args, const std::string& cwd = "") const {
        if (args.empty() || args[0][0] != '/') args.insert(args.begin(), MSXLATE_BIN);
        return e2e::run(args, p(cwd), "");
    }
    std::vector<std::string> made(const std::string& dir) const {
        return fs::is_directory(p(dir)) ? listing(dir) : std::vector<std::string>{};
    }
    void check(const Case& c, const std::string& cwd) const {
        SCOPED_TRACE(c.what);
        for (const auto& [n, bytes] : c.files) file(cwd + "/" + n, bytes);
        auto want = made(cwd + "/out");
        for (const auto& s : c.outputs) want.push_back(s.name);
        std::sort(want.begin(), want.end());
        const auto r = run(c.args, cwd);
        EXPECT_EQ(r.out + std::to_string(r.status), c.out + std::to_string(c.status));
        EXPECT_TRUE(said(r.err, c.messages, c.tally)) << r.err;
        ASSERT_EQ(made(cwd + "/out"), want);
        for (const auto& s : c.outputs) expectKiv(p(cwd + "/out/" + s.name), s);
        for (const auto& [n, bytes] : c.files) // inputs are only read
            EXPECT_TRUE(n.back() == '/' || e2e::readfile(p(cwd + "/" + n)) == bytes) << n;
    }
};

// Interleaved channels, and two halves of one stream joined or not, their records in any order:
// all in one run.
TEST_F(Msx, EverySampleIsKeptWhateverTheOrderOfRecords) {
    Case c{"", {}, {"-o", "out"}, 0, "", "", {}};
    N records = 0;
    const auto add = [&](const std::string& name, const std::string& bytes, std::vector<Seg> outs) {
        c.files.push_back({name, bytes});
        c.args.push_back(name);
        records += split(bytes).size();
        c.outputs.insert(c.outputs.end(), outs.begin(), outs.end());
    };
    // clang-format off
    const auto t0 = at(2022, 10, 0, 0, 0, 0);
    const auto z = ints(400, 5, 1000), n = ints(300, -7, 1 << 20), e = ints(500, 0, 1 << 20);
    const std::vector<std::vector<std::string>> chans = {
        split(pack({.loc = "00", .start = t0, .reclen = 256, .ints = z})),
        split(pack({.loc = "00", .chan = "BHN", .start = t0, .encoding = DE_INT32, .reclen = 256, .ints = n})),
        split(pack({.net = "Y", .sta = "STB", .chan = "HHE", .start = t0, .rate = 100, .encoding = DE_FLOAT32, .reclen = 256, .floats = asfloats(e)}))};
    std::string mixed; // record i of each channel in turn
    for (std::size_t i = 0; i < 100; ++i)
        for (const auto& chan : chans) mixed += i < chan.size() ? chan[i] : "";
    add("mixed", mixed, {{"XX.STA.00.BHZ.2022.010.00.00.00.000.kiv", asfloats(z), 5.0F},
                         {"XX.STA.00.BHN.2022.010.00.00.00.000.kiv", asfloats(n), -7.0F},
                         {"Y.STB..HHE.2022.010.00.00.00.000.kiv", asfloats(e), 0.0F, 0.01F}});
    const auto all = ints(600, 11, 1 << 22);
    // Two halves of one stream, the second moved by shift microseconds, their records in the
    // order given: one file within half a sample, else two.
    struct Join { hptime_t shift; bool shuffled; const char* second; };
    const Join joins[] = {{20000, false, nullptr}, {-20000, false, nullptr}, {0, true, nullptr}, // joined
                          {30000, false, "2021.100.10.00.15.030"}, {10000000, true, "2021.100.10.00.25.000"},
                          {-2500000, false, "2021.100.10.00.12.500"}}; // 50 samples early
    // clang-format on
    const auto t2 = at(2021, 100, 10, 0, 0, 0);
    for (const auto& j : joins) {
        const std::string sta = "J" + std::to_string(&j - joins), head = "XX." + sta + "..BHZ.";
        auto recs =
            split(pack({.sta = sta, .start = t2, .ints = {all.begin(), all.begin() + 300}}) +
                  pack({.sta = sta,
                        .start = t2 + 15000000 + j.shift,
                        .ints = {all.begin() + 300, all.end()}}));
        if (j.shuffled) std::shuffle(recs.begin(), recs.end(), std::mt19937(7));
        std::vector<Seg> outs = {
            {head + "2021.100.10.00.00.000.kiv", asfloats(all, 0, j.second ? 300 : 600), 11.0F}};
        if (j.second) outs.push_back({head + j.second + ".kiv", asfloats(all, 300), 11.0F});
        if (&j == &joins[3]) { // a channel sorted before that ends later: the gap is still one
            recs.push_back(pack({.sta = sta, .chan = "BHN", .start = t2, .ints = all}));
            outs.push_back({"XX." + sta + "..BHN.2021.100.10.00.00.000.kiv", asfloats(all), 11.0F});
        }
        add(sta, std::accumulate(recs.begin(), recs.end(), std::string()), outs);
    }
    c.tally = tally(records, 0, 0, 3 + 10, 2, 1, 1200 + 7 * 600, 7);
    check(c, "run");
}

extern "C" __attribute__((weak)) void __asan_init(); // there when built with AddressSanitizer

// Records of 512 bytes: 114 samples each as int32, 57 as float64, 800 in all.
TEST_F(Msx, DamagedInputsRefusalsDryRunsAndUsageAreReportedWhereTheyAre) {
    const auto v = ints(800, 9, 1 << 20);
    const Stream good{.start = at(2018, 200, 0, 0, 0, 0), .encoding = DE_INT32, .ints = v};
    const std::string all = pack(good), junk(100, '~');
    const auto recs = split(all);
    const auto nameAt = [](std::size_t k) { // of the segment from sample k (below 60 s)
        const std::string s = std::to_string(100 + k / 20), ms = std::to_string(1000 + k % 20 * 50);
        return "XX.STA..BHZ.2018.200.00.00." + s.substr(1) + "." + ms.substr(1) + ".kiv";
    };
    const std::string name = nameAt(0);
    // Samples from..to, whole pairs: their mean is 9.
    const auto seg = [&](std::size_t from, std::size_t to) {
        return Seg{nameAt(from), asfloats(v, from, to), 9.0F};
    };
    const auto repeat = [&](std::size_t rec, int n) {
        return msg(2068, "in.mseed at byte " + std::to_string(512 * rec) + " (" +
                             std::to_string(n) + " samples)");
    };
    // Header bytes changed: the sample count (30-31), blockette 1000's length exponent (54).
    const auto changed = [](std::string rec, std::size_t at, std::uint16_t value) {
        if (at == 54) return rec.replace(54, 1, 1, char(value));
        return rec.replace(at, 2, {char(value >> 8), char(value)});
    };
    auto undecodable = recs[3];
    undecodable[52] = 99; // an encoding that is none (blockette 1000 comes first)
    // A Steim-2 record of 512 bytes holds 7 frames: 7 * 15 words less the first and last
    // sample, 7 differences a word at most.
    const std::string steim2 = split(pack({.start = good.start, .ints = v}))[0];
    // clang-format off
    const auto slow = [&](double rate, std::size_t n) { // the first n samples at rate
        return pack({.start = good.start, .rate = rate, .b100 = true, .encoding = DE_INT32, .ints = {v.begin(), v.begin() + std::ptrdiff_t(n)}});
    };
    const auto small = ints(100, 1, 10);
    const std::string sub = pack({.start = good.start + 6000000, .encoding = DE_INT32, .reclen = 256, .ints = {v.begin() + 120, v.begin() + 168}});
    Stream other = good, odd = good, huge = good, steim1 = good;
    other.ints = ints(800, 1, 1000), odd.sta = "S/T";
    // The third record holds a value beyond float; the others are converted.
    huge.encoding = DE_FLOAT64, huge.doubles.assign(v.begin(), v.end());
    huge.doubles[2 * 57 + 7] = 1e39;
    // Records of old, without a blockette 1000 to give their length and encoding
    // (Steim-1 then): told by where the next one starts, the last by what is left.
    steim1.encoding = DE_STEIM1;
    std::string old = pack(steim1);
    for (std::size_t at = 0; at < old.size(); at += 512)
        old[at + 39] = old[at + 46] = old[at + 47] = 0;
    const std::size_t last = old.size() - 512,
                      oldlast = last / 512, // the last record's sample count:
        oldkept = 800 - (std::uint8_t(old[last + 30]) * 256U + std::uint8_t(old[last + 31]));
    const std::vector<std::string> args = {"-o", "out", "in.mseed"};
    const std::string usage = "\nTry 'msxlate --help' for more information.\n";
    // A file whose samples pass what the process may take is refused before an allocation fails,
    // and the run goes on. 48 MB as floats, 7 MB packed: the samples let go before any run.
    const std::string big = pack({.start = at(2020, 1, 0, 0, 0, 0), .reclen = 4096, .ints = std::vector<std::int32_t>(12000000, 5)});
    const std::string encodings = pack({.chan = "LOG", .start = good.start, .encoding = DE_ASCII, .text = "GPS locked"}) +
        pack({.start = good.start, .rate = 0, .encoding = DE_INT32, .ints = {1, 2}}) + pack({.sta = "ST2", .start = good.start, .ints = v}) +
        pack({.sta = "I16", .start = good.start, .encoding = DE_INT16, .ints = small}) +
        pack({.sta = "F32", .start = at(1969, 365, 23, 59, 59, 999500), .encoding = DE_FLOAT32, .floats = asfloats(v)});
    const Case cases[] = {
        // The dry run's listing in the order of the codes.
        {"dry run", {{"in", pack({.loc = "10", .chan = "LHZ", .start = at(2020, 2, 3, 4, 5, 6000), .rate = 0.5, .encoding = DE_INT32, .ints = {16777217, 0, 5}}) +
                            pack({.loc = "10", .start = at(2020, 2, 3, 4, 5, 6000), .ints = ints(600, 0, 99)})}}, {"-n", "-o", "out", "in"}, 0, "",
         "dry run: 3 records read, 0 skipped, 0 refused; 2 segments would be written, 0 gaps, 0 overlaps, 603 samples, "
         "1 samples rounded, 1 files", {},
         "in -> out/XX.STA.10.BHZ.2020.002.03.04.05.006.kiv (600 samples at 20 Hz)\n"
         "in -> out/XX.STA.10.LHZ.2020.002.03.04.05.006.kiv (3 samples at 0.5 Hz)\n"},
        {"last record cut short", {{"in.mseed", all.substr(0, 3584 + 300)}}, args, 2,
         msg(2053, "in.mseed at byte 3584 (300 bytes of 512)"), tally(7, 0, 1, 1, 0, 0, 798, 1), {seg(0, 798)}},
        {"last record cut in its header", {{"in.mseed", all.substr(0, 3584 + 27)}}, args, 2,
         msg(2053, "in.mseed at byte 3584 (27 bytes)"), tally(7, 0, 1, 1, 0, 0, 798, 1), {seg(0, 798)}},
        {"records without blockette 1000", {{"in.mseed", old}}, args, 0, "",
         tally(oldlast + 1, 0, 0, 1, 0, 0, 800, 1), {seg(0, 800)}},
        {"records without blockette 1000, the last cut short", {{"in.mseed", old.substr(0, 512 * oldlast + 300)}},
         args, 2, msg(2053, "in.mseed at byte " + std::to_string(512 * oldlast) + " (300 bytes)"),
         tally(oldlast, 0, 1, 1, 0, 0, oldkept, 1), {{name, asfloats(v, 0, oldkept), std::nullopt}}},
        {"bytes before, between and after records",
         {{"in.mseed", junk.substr(0, 64) + all.substr(0, 1536) + junk + all.substr(1536) + std::string(700, '\0')}}, args, 2,
         msg(2052, "in.mseed at byte 0 (64 bytes)") + msg(2052, "in.mseed at byte 1600 (100 bytes)") +
         msg(2052, "in.mseed at byte 4260 (700 bytes)"), tally(8, 0, 3, 1, 0, 0, 800, 1), {seg(0, 800)}},
        {"records repeated, one of them twice, one right after itself",
         {{"in.mseed", recs[0] + all + recs[3] + recs[3] + recs[7] + recs[7]}}, args, 0,
         repeat(1, 114) + repeat(9, 114) + repeat(10, 114) + repeat(11, 2) + repeat(12, 2), tally(8, 5, 0, 1, 0, 0, 800, 1),
         {seg(0, 800)}},
        {"a record whose samples a later segment holds", {{"in.mseed", sub + all}}, args, 0,
         msg(2065, "in.mseed " + nameAt(120) + " (48 samples) in out/" + name), tally(9, 0, 0, 1, 0, 1, 800, 1), {seg(0, 800)}},
        {"sample counts beyond a record: the next record's header, bytes past the file", {{"in.mseed",
          all.substr(0, 1024) + changed(recs[2], 30, 115) + all.substr(1536, 2048) + changed(recs[7], 30, 65535)}}, args, 2,
         msg(2066, "in.mseed at byte 1024 (115 samples; room for 114 in its 456 bytes of data)") +
         msg(2066, "in.mseed at byte 3584 (65535 samples; room for 114 in its 456 bytes of data)"),
         tally(6, 0, 2, 2, 1, 0, 684, 1), {seg(0, 228), seg(342, 798)}},
        {"Steim-2 counts: one more than its frames hold, and as many", {{"in.mseed", changed(steim2, 30, 722) + changed(steim2, 30, 721)}}, args, 2,
         msg(2066, "in.mseed at byte 0 (722 samples; room for 721 in its 448 bytes of data)") + msg(2051, "in.mseed at byte 512 (...)"),
         tally(0, 0, 2, 0, 0, 0, 0, 1), {}},
        {"record lengths stated past the next record and past any record", {{"in.mseed",
          all.substr(0, 1024) + changed(recs[2], 54, 10) + recs[3] + changed(recs[4], 54, 21) + all.substr(2560, 1024) + changed(recs[7], 54, 25)}},
         args, 2, msg(2067, "in.mseed at byte 1024 (1024 bytes; the next begins at byte 1536)") +
         msg(2067, "in.mseed at byte 2048 (2097152 bytes; the next begins at byte 2560)") +
         msg(2067, "in.mseed at byte 3584 (33554432 bytes, more than a record has)") +
         msg(2052, "in.mseed at byte 3585 (511 bytes)"), tally(5, 0, 4, 3, 2, 0, 570, 1), {seg(0, 228), seg(342, 456), seg(570, 798)}},
        {"a length stated past a last record of old", {{"in.mseed", changed(recs[0], 54, 10) + old.substr(last)}}, args, 2,
         msg(2067, "in.mseed at byte 0 (1024 bytes; the next begins at byte 512)"), tally(1, 0, 1, 1, 0, 0, 800 - oldkept, 1),
         {{nameAt(oldkept), asfloats(v, oldkept), std::nullopt}}},
        // 2^-128 Hz: an interval of 2^128 s, beyond float; 2^-125 Hz: 99 intervals of 2^125 s are;
        // 2^-40 Hz: 3 intervals are over 2^61 us; 1e20 Hz: an interval of 1e-20 s, a normal float.
        {"rates whose interval or E no float holds, a span no time holds, and one whose interval is a small float",
         {{"in.mseed", slow(0x1p-128, 2) + slow(0x1p-125, 100) + slow(0x1p-40, 4) + slow(0x1p-40, 3).replace(10, 1, "B") +
           pack({.sta = "FAST", .start = good.start, .rate = 1e20, .b100 = true, .encoding = DE_INT32, .ints = small})}}, args, 2,
         msg(2032, "in.mseed at byte 0 (2.938735877055719e-39 Hz)") +
         msg(2032, "in.mseed at byte 512 (2.350988701644575e-38 Hz) (E would be beyond a 32-bit float)") +
         msg(2032, "in.mseed at byte 1024 (9.094947017729282e-13 Hz) (its samples would span over 70,000 years)"),
         tally(2, 0, 3, 2, 0, 0, 103, 1), {{"XX.FAST..BHZ.2018.200.00.00.00.000.kiv", asfloats(small), 1.0F, float(1 / double(1e20F))},
                                            {"XX.STB..BHZ.2018.200.00.00.00.000.kiv", asfloats(v, 0, 3), std::nullopt, 0x1p40F}}},
        {"files of no records, a directory and a read that fails",
         {{"junk", junk + junk}, {"empty", ""}, {"adir/", ""}}, {"-o", "out", "junk", "adir", "empty", "/proc/self/mem"}, 2,
         msg(2054, "junk") + msg(2055, "adir Is a directory") + msg(2064, "empty") + msg(2055, "/proc/self/mem Input/output error"),
         tally(0, 0, 3, 0, 0, 0, 0, 1), {}},
        {"a record that cannot be decoded", {{"in.mseed", all.substr(0, 1536) + undecodable + all.substr(2048)}}, args, 2,
         msg(2051, "in.mseed at byte 1536 (...99...)"), tally(7, 0, 1, 2, 1, 0, 686, 1), {seg(0, 342), seg(456, 800)}},
        {"a sample beyond float", {{"in.mseed", pack(huge)}}, args, 2, msg(2062, "in.mseed at byte 1024 (float64)"),
         tally(14, 0, 1, 2, 1, 0, 743, 1), {seg(0, 114), {nameAt(171), asfloats(v, 171), std::nullopt}}},
        {"a mean that summing twice would change", {{"in.mseed", pack({.start = good.start, .encoding = DE_FLOAT32, .floats = {0x1p60F, -0x1p60F, 0.5F}})}},
         args, 0, "", tally(1, 0, 0, 1, 0, 0, 3, 1), {{name, {0x1p60F, -0x1p60F, 0.5F}, float(0.5 / 3)}}},
        {"the same segment in two files", {{"a.mseed", all}, {"b.mseed", pack(other)}},
         {"-o", "out", "a.mseed", "b.mseed"}, 2, msg(2058, "b.mseed out/" + name + " first written by a.mseed"),
         tally(16, 0, 1, 1, 0, 0, 800, 2), {seg(0, 800)}},
        {"an output that would replace an input", {{name, all}}, {name}, 2, msg(2060, name + " " + name),
         tally(8, 0, 1, 0, 0, 0, 0, 1), {}},
        {"-k keeping an output there", {{"in.mseed", all}, {"out/" + name, "kept"}}, {"--no-clobber", "-o", "out", "in.mseed"}, 2,
         msg(2091, "in.mseed out/" + name), tally(8, 0, 1, 0, 0, 0, 0, 1), {}},
        {"a directory in the output's place", {{"in.mseed", all}, {"out/" + name + "/", ""}}, args, 2,
         msg(2059, "in.mseed out/" + name + " Is a directory"), tally(8, 0, 1, 0, 0, 0, 0, 1), {}},
        {"a station that cannot be a file name", {{"in.mseed", pack(odd)}}, args, 2,
         msg(2057, "in.mseed 'XX.S/T..BHZ'"), tally(8, 0, 1, 0, 0, 0, 0, 1), {}},
        {"an output directory that is a file", {{"in.mseed", all}}, {"-o", "in.mseed/sub", "in.mseed"}, 1,
         msg(2045, "in.mseed/sub Not a directory"), "", {}},
        {"a file beyond the memory", {{"big", big}, {"small", pack({.sta = "SMALL", .start = at(2020, 1, 0, 0, 0, 0), .ints = small})}},
         {"/bin/sh", "-c", "ulimit -d 40960 && exec \"$0\" -o out big small", MSXLATE_BIN}, 2, msg(2056, "big (more than ... MB of samples; ... MB available)"),
         tally(1, 0, 1, 1, 0, 0, 100, 1), {{"XX.SMALL..BHZ.2020.001.00.00.00.000.kiv", asfloats(small), 1.0F}}},
        // Steim-2, int16 and float32 read through a pipe, after records without a time series;
        // before 1970 the millisecond is the one before, not the one nearer 1970.
        {"other encodings from a pipe", {{"in.mseed", encodings}},
         {"/bin/sh", "-c", "cat in.mseed | \"$0\" -o out /dev/stdin", MSXLATE_BIN}, 0,
         msg(2050, "/dev/stdin at byte 0 (text)") + msg(2050, "/dev/stdin at byte 512 (sampling rate 0)"), tally(split(encodings).size() - 2, 2, 0, 3, 0, 0, 1700, 1),
         {{"XX.ST2..BHZ.2018.200.00.00.00.000.kiv", asfloats(v), 9.0F}, {"XX.I16..BHZ.2018.200.00.00.00.000.kiv", asfloats(small), 1.0F},
          {"XX.F32..BHZ.1969.365.23.59.59.999.kiv", asfloats(v), 9.0F, 0.05F, 5e-4F}}},
        {"no file", {{"in.mseed", all}}, {"-q"}, 1, "msxlate: no miniSEED file given" + usage, "", {}},
        {"version", {{"in.mseed", all}}, {"--version"}, 0, "", "", {}, "msxlate " KIVF_VERSION "\n"},
        // Descriptor 0 closed: the input takes it where no /dev/null can fill it first, and no -o.
        {"no standard input", {{"in.mseed", all}, {"out/", ""}}, {"/bin/sh", "-c", "cd out && if unshare -rm true 2>/dev/null; then exec unshare -rm "
         "sh -c 'mount --bind . /dev && exec \"$0\" -q ../in.mseed <&-' \"$0\"; else exec \"$0\" -q ../in.mseed <&-; fi", MSXLATE_BIN},
         0, "", "", {seg(0, 800)}},
    };
    // clang-format on
    for (const auto& c : cases) // a sanitizer's own reservations pass any such limit
        if (&__asan_init == nullptr || c.args[0] != "/bin/sh" || c.args[2].find("ulimit") != 0)
            check(c, "case" + std::to_string(&c - cases));
    EXPECT_FALSE(fs::exists(p("case0/out"))); // nor made by a dry run
    const auto help = run({"--help"});
    EXPECT_EQ(help.out.substr(0, 35) + std::to_string(help.status) + help.err,
              "Usage: msxlate [OPTION]... FILE...\n0");
}

// What a run may take is what /proc/meminfo says is available (a stand-in mounted over it;
// 4 MB, and 4 more once those are held), not what its last line says.
TEST_F(Msx, TheMemoryAvailableBoundsWhatAFileMayTake) {
    if (std::system("unshare -rm true 2>/dev/null") != 0) GTEST_SKIP() << "no mount namespace";
    const std::string big =
        pack({.start = at(2020, 1, 0, 0, 0, 0), .ints = std::vector<std::int32_t>(3000000, 5)});
    check({"20 MB available, 4 of them free",
           {{"big", big}, {"meminfo", "MemAvailable: 20480 kB\nDirectMap2M: 99999999 kB\n"}},
           {"/bin/sh", "-c",
            "exec unshare -rm sh -c 'mount --bind meminfo /proc/meminfo && exec \"$0\" -o out big' "
            "\"$0\"",
            MSXLATE_BIN},
           2,
           msg(2056, "big (more than ... MB of samples; ... MB available)"),
           tally(0, 0, 1, 0, 0, 0, 0, 0),
           {}},
          "run");
}

// Stopped by a signal mid-write: no temporary file left, and the status the signal gives.
TEST_F(Msx, StoppedRunsLeaveNoTemporaryFile) {
    if (&__asan_init != nullptr) // its allocator copies the growing samples at every record
        GTEST_SKIP() << "a 48 MB segment read under the sanitizer: minutes";
    file("in.mseed", pack({.start = at(2020, 1, 0, 0, 0, 0),
                           .reclen = 4096,
                           .ints = std::vector<std::int32_t>(12000000, 5)}));
    for (const int sig : {SIGTERM, SIGHUP}) { // (a job in the background ignores SIGINT)
        // Stopped once its file shows; a run that ended before the look is tried again.
        const auto r =
            run({"/bin/sh", "-c",
                 "for i in 1 2 3 4 5; do rm -rf out; \"$0\" -q -o out in.mseed & "
                 "until ls -A out 2>/dev/null | grep -q kiv || ! kill -0 $! 2>/dev/null; "
                 "do :; done; kill -" +
                     std::to_string(sig) +
                     " $!; wait $!; s=$?; [ $s = 0 ] || break; done; "
                     "echo $s $(ls -A out | grep -c kivtmp)",
                 MSXLATE_BIN});
        EXPECT_EQ(r.out, std::to_string(128 + sig) + " 0\n") << sig;
        fs::remove_all(p("out"));
    }
}

} // namespace

namespace {

// Channels of one station with a station text table: the orientation, the instrument, units and
// scale from the table; a location written "--" matches an empty one; a
// channel outside its epoch keeps its fields and is noted once.
TEST_F(Msx, StationTextTablesGiveEachChannelItsOrientation) {
    std::string data;
    for (const char* chan : {"HHZ", "HH1"})
        data += pack({.net = "IU",
                      .sta = "TKL",
                      .chan = chan,
                      .start = at(2017, 67, 0, 0, 7, 519000),
                      .rate = 100,
                      .ints = ints(200, 5, 1000)});
    const std::string head = "#Network|Station|Location|Channel|Latitude|Longitude|Elevation|"
                             "Depth|Azimuth|Dip|SensorDescription|Scale|ScaleFreq|ScaleUnits|"
                             "SampleRate|StartTime|EndTime\n";
    const auto row = [](const char* chan, const char* az, const char* dip, const char* units,
                        const char* end = "") {
        return std::string("IU|TKL|--|") + chan + "|35.658|-83.774|360|12.5|" + az + "|" + dip +
               "|Streckeisen broadband|4.0E8|1.0|" + units + "|100|2010-01-01T00:00:00|" + end +
               "\n";
    };
    file("m/st.txt",
         head + row("HHZ", "0", "-90", "M/S") + row("HH1", "0", "0", "M/S", "2017-03-08"));
    file("m/d.mseed", data);
    const auto r = run({"-o", "out", "--stations", "st.txt", "--event",
                        "35.658,-83.774,0,2017-03-08T00:00:00Z", "d.mseed"},
                       "m");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err.substr(0, r.err.rfind("msxlate: 2 records")),
              "msxlate: NOTE 2072: No row of the station tables matches; the fields it "
              "would give stay undefined: d.mseed IU.TKL..HH1 in st.txt\n");
    // channel, CMPAZ, CMPINC, IDEP, SCALE (the catalogue's unit per count)
    const std::tuple<std::string, float, float, int, float> want[] = {
        {"HHZ", 0, 0, kivf::ienum::IVEL, static_cast<float>(1e9 / 4e8)},
        {"HH1", -12345, -12345, -12345, -12345}};
    for (const auto& [chan, az, inc, idep, scale] : want) {
        using namespace kivf;
        Trace t;
        ASSERT_EQ(readtrace(p("m/out/IU.TKL.." + chan + ".2017.067.00.00.07.519.kiv"), t), 0);
        const bool known = az != -12345; // at the event: the plug-in's tiny distance, no direction
        EXPECT_EQ(std::tuple(t.hdr.f(fslot::CMPAZ), t.hdr.f(fslot::CMPINC), t.hdr.i(islot::IDEP),
                             t.hdr.f(fslot::SCALE), std::string(t.khdr.k(kslot::KINST).used()),
                             t.hdr.f(fslot::STDP), std::fabs(t.hdr.f(fslot::GCARC)) < 1e-5,
                             t.hdr.f(fslot::AZ), t.hdr.f(fslot::BAZ)),
                  std::tuple(az, inc, idep, scale, known ? "Streckei" : "-12345",
                             known ? 12.5F : -12345.0F, known, -12345.0F, -12345.0F))
            << chan;
    }
}

} // namespace
