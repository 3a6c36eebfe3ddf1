// SPDX-License-Identifier: Apache-2.0
// kiv2ms run as a user would: KIV files into miniSEED, read back by
// libmseed's own reader, and what it refuses.
#include "dff/dff.h"
#include "e2e.h"
#include "examples/mspack.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <map>
#include <sstream>

namespace fs = std::filesystem;

namespace {

const std::string kCatalogue = std::string(KIVF_SOURCE_DIR) + "/kivaux/messages";

e2e::Result kiv2ms(const e2e::Scratch& s, std::vector<std::string> args) {
    args.insert(args.begin(), KIV2MS_BIN);
    return e2e::run(args, s.work.string(), "", s.env);
}

// One channel as libmseed's reader finds it in a file: its samples in
// order as floats (values as the records hold them), and what every record says of itself.
struct Channel {
    std::vector<float> y;
    std::set<int> encodings, reclens;
    std::set<char> qualities;
    std::vector<std::int32_t> sequence;
};

std::map<std::string, Channel> decode(const std::string& path) {
    const std::string bytes = e2e::readfile(path);
    std::map<std::string, Channel> out;
    for (std::size_t off = 0; off < bytes.size();) {
        const int len = ms_detect(bytes.data() + off, static_cast<int>(bytes.size() - off));
        if (len <= 0) {
            ADD_FAILURE() << path << ": no record at byte " << off;
            break;
        }
        MSRecord* m = nullptr;
        EXPECT_EQ(msr_unpack(const_cast<char*>(bytes.data() + off), len, &m, 1, 0), MS_NOERROR);
        Channel& c =
            out[std::string(m->network) + "." + m->station + "." + m->location + "." + m->channel];
        for (std::int64_t i = 0; i < m->numsamples; ++i) {
            const auto* d = static_cast<const char*>(m->datasamples);
            c.y.push_back(m->sampletype == 'i'
                              ? static_cast<float>(reinterpret_cast<const std::int32_t*>(d)[i])
                          : m->sampletype == 'f'
                              ? reinterpret_cast<const float*>(d)[i]
                              : static_cast<float>(reinterpret_cast<const double*>(d)[i]));
        }
        c.encodings.insert(m->encoding);
        c.reclens.insert(m->reclen);
        c.qualities.insert(m->dataquality);
        c.sequence.push_back(m->sequence_number);
        msr_free(&m);
        off += static_cast<std::size_t>(len);
    }
    return out;
}

std::vector<std::uint32_t> bits(const std::vector<float>& y) {
    std::vector<std::uint32_t> b;
    for (const float v : y) b.push_back(std::bit_cast<std::uint32_t>(v));
    return b;
}

// A KIV file at 100 Hz from 2024-04-09 01:02:03.456789, codes XK.DEMO.00.BHZ.
kivf::Trace kivtrace(std::vector<float> y) {
    using namespace kivf;
    Trace t = newtrace();
    t.y = std::move(y);
    t.hdr.f(fslot::DELTA) = 0.01F;
    t.hdr.f(fslot::B) = 0.000789F;
    const std::int32_t ref[] = {2024, 100, 1, 2, 3, 456};
    for (std::int32_t f = nslot::NZYEAR; f <= nslot::NZMSEC; ++f) t.hdr.n(f) = ref[f - 1];
    t.khdr.k(kslot::KNETWK).set("XK");
    t.khdr.k(kslot::KSTNM).set("DEMO");
    t.khdr.k(kslot::KHOLE).set("00");
    t.khdr.k(kslot::KCMPNM).set("BHZ");
    return t;
}

void save(const e2e::Scratch& s, const std::string& name, const kivf::Trace& t) {
    ASSERT_EQ(kivf::writetrace(s.p(name), t), 0) << name;
}

// Record length, quality, a forced encoding and codes for fields a file lacks; its own codes win
// over those given. Records are numbered on across the files packed into one, from 1 in each
// output; a file named by -o that exists is replaced whole.
TEST(Kiv2ms, OptionsShapeTheRecords) {
    using namespace kivf;
    e2e::Scratch s(kCatalogue);
    std::vector<float> y(3000);
    for (std::size_t i = 0; i < y.size(); ++i) y[i] = static_cast<float>(i % 300);
    Trace bare = kivtrace(y);
    bare.khdr.k(kslot::KNETWK).set(kUndfTxt);
    bare.khdr.k(kslot::KHOLE).set(kUndfTxt);
    save(s, "bare.kiv", bare);
    save(s, "own.kiv", kivtrace(y));
    s.file("both.mseed", "old");
    const e2e::Result r =
        kiv2ms(s, {"-r", "1024", "-Q", "R", "-e", "steim1", "--network=NN", "--location", "10",
                   "-o", "both.mseed", "bare.kiv", "own.kiv"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("kiv2ms: 2 files read, 0 refused; "), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\r'), std::string::npos) << r.err; // no progress line off a terminal
    const auto got = decode(s.p("both.mseed"));
    ASSERT_EQ(got.size(), 2U);
    const Channel& b = got.at("NN.DEMO.10.BHZ");
    const Channel& o = got.at("XK.DEMO.00.BHZ");
    for (const Channel* c : {&b, &o}) {
        EXPECT_EQ(c->encodings, std::set<int>{DE_STEIM1});
        EXPECT_EQ(c->reclens, std::set<int>{1024});
        EXPECT_EQ(c->qualities, std::set<char>{'R'});
        EXPECT_EQ(bits(c->y), bits(y));
    }
    ASSERT_FALSE(b.sequence.empty());
    EXPECT_EQ(b.sequence.front(), 1);
    EXPECT_EQ(o.sequence.front(), b.sequence.back() + 1);
    for (std::size_t i = 1; i < b.sequence.size(); ++i)
        EXPECT_EQ(b.sequence[i], b.sequence[i - 1] + 1);
    ASSERT_EQ(kiv2ms(s, {"-q", "bare.kiv", "own.kiv"}).status, 0);
    for (const char* out : {"bare.mseed", "own.mseed"})
        EXPECT_EQ(decode(s.p(out)).begin()->second.sequence.front(), 1) << out;
}

// Outputs beside their inputs (.kiv made .mseed, .mseed added to any other
// name) or in a directory given; a name already written in the run, or one
// that would replace an input, is refused.
TEST(Kiv2ms, NamesItsOutputsAndReplacesNoInput) {
    e2e::Scratch s(kCatalogue);
    const kivf::Trace t = kivtrace({1, 2, 3});
    fs::create_directory(s.work / "sub");
    for (const char* n : {"a.kiv", "b.dat", "sub/a.kiv", "sub/.kiv", "c.kiv", "c.mseed"})
        save(s, n, t);
    fs::create_directory(s.work / "out");
    e2e::Result r = kiv2ms(s, {"-q", "a.kiv", "b.dat", "sub/a.kiv", "sub/.kiv"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(s.listing("."), (std::vector<std::string>{"a.kiv", "a.mseed", "b.dat", "b.dat.mseed",
                                                        "c.kiv", "c.mseed", "out", "sub"}));
    EXPECT_EQ(s.listing("sub"),
              (std::vector<std::string>{".kiv", ".kiv.mseed", "a.kiv", "a.mseed"}));
    r = kiv2ms(s, {"-q", "-o", "out", "a.kiv", "sub/a.kiv"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "kiv2ms: ERROR 2090: File not converted: its miniSEED output name was already "
                     "written in this run: sub/a.kiv out/a.mseed first written for a.kiv\n");
    EXPECT_EQ(s.listing("out"), std::vector<std::string>{"a.mseed"});
    const std::string before = e2e::readfile(s.p("c.mseed"));
    r = kiv2ms(s, {"-q", "c.kiv", "c.mseed"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "kiv2ms: ERROR 2089: File not converted: its miniSEED output would replace an "
                     "input file of this run: c.kiv c.mseed\n");
    EXPECT_EQ(e2e::readfile(s.p("c.mseed")), before);
    EXPECT_TRUE(fs::exists(s.work / "c.mseed.mseed"));
    // -k: every existing output kept, beside the input or as the one file named (the run cannot
    // start: status 1, as for any output file that may not be written); new ones written.
    s.file("sub/a.mseed", "kept");
    s.file("one.mseed", "one");
    r = kiv2ms(s, {"-q", "-k", "sub/a.kiv", "c.kiv", "-o", "one.mseed"});
    EXPECT_EQ(
        std::to_string(r.status) + r.err,
        "1kiv2ms: ERROR 2091: Not converted: its output exists, and -k keeps it: one.mseed\n");
    r = kiv2ms(s, {"-q", "-k", "sub/a.kiv", "c.kiv"});
    EXPECT_EQ(std::to_string(r.status) + r.err,
              "2kiv2ms: ERROR 2091: Not converted: its output exists, and -k keeps it: sub/a.kiv "
              "sub/a.mseed\nkiv2ms: ERROR 2091: Not converted: its output exists, and -k keeps "
              "it: c.kiv c.mseed\n");
    EXPECT_EQ(e2e::readfile(s.p("sub/a.mseed")) + e2e::readfile(s.p("one.mseed")), "keptone");
    fs::remove(s.work / "c.mseed");
    EXPECT_EQ(kiv2ms(s, {"-q", "--no-clobber", "c.kiv"}).status, 0);
    EXPECT_EQ(decode(s.p("c.mseed")).size(), 1U);
}

// Each refusal: status 2, the file and the reason named, nothing left behind; the other files
// of the run are converted all the same.
TEST(Kiv2ms, RefusesWhatMiniseedCannotHoldAndLeavesNothing) {
    using namespace kivf;
    e2e::Scratch s(kCatalogue);
    std::vector<Trace> bad(8, kivtrace({1, 2, 3}));
    bad[0].x = {0, 1, 5};
    bad[1].hdr.f(fslot::B) = kUndfFlt;
    bad[2].hdr.n(nslot::NZYEAR) = 1850;
    bad[3].khdr.k(kslot::KSTNM).set("STATION");
    bad[4].y.clear();
    bad[5].hdr.f(fslot::DELTA) = -1;
    bad[6].y[2] = std::nanf("");
    bad[7].y[1] = 40000;
    const std::string dir(60, 'd'); // a message long enough for two lines is told on one
    const std::vector<std::string> names = {"uneven.kiv",  "nostart.kiv",    "early.kiv",
                                            "station.kiv", "empty.kiv",      "norate.kiv",
                                            "nan.kiv",     dir + "/wide.kiv"};
    fs::create_directory(s.work / dir);
    for (std::size_t i = 0; i < bad.size(); ++i) save(s, names[i], bad[i]);
    save(s, "good.kiv", kivtrace({4, 5, 6}));
    const auto errors = [](std::initializer_list<std::string> lines) {
        std::string all;
        for (const std::string& line : lines) all += "kiv2ms: ERROR 20" + line + "\n";
        return all;
    };
    e2e::Result r = kiv2ms(s, {"-q", "uneven.kiv", "nostart.kiv", "early.kiv", "station.kiv",
                               "empty.kiv", "norate.kiv", "good.kiv"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(
        r.err,
        errors({"80: File not converted: it is not evenly sampled, and miniSEED holds evenly "
                "sampled series only: uneven.kiv (LEVEN false)",
                "82: File not converted: its start time is undefined: nostart.kiv (B or a "
                "reference field)",
                "83: File not converted: its times lie outside the years 1900 to 2100 that "
                "miniSEED readers take: early.kiv (its samples lie in the years 1850 to 1850)",
                "84: File not converted: a code cannot be a miniSEED code: station.kiv (KSTNM "
                "'STATION' is longer than the 5 characters miniSEED holds)",
                "85: File not converted: it holds no samples: empty.kiv (NPTS 0)",
                "81: File not converted: its sampling interval DELTA gives no rate a miniSEED "
                "record can hold: norate.kiv (DELTA -1)"}));
    r = kiv2ms(s, {"-q", "-e", "int16", "nan.kiv", dir + "/wide.kiv"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, errors({"86: File not converted: a sample is not a number or is infinite, and "
                             "the encoding holds whole numbers only: nan.kiv (sample 3 is nan)",
                             "87: File not converted: the encoding asked for would change a "
                             "sample: " +
                                 dir +
                                 "/wide.kiv (sample 2, 40000, is beyond int16's -32768 to "
                                 "32767)"}));
    s.file("junk.kiv", std::string(700, 'x'));
    r = kiv2ms(s, {"-o", "all.mseed", "junk.kiv"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("kiv2ms: ERROR 1412: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("kiv2ms: 0 files read, 1 refused; 0 records (0 samples) written to 0 "
                         "files, "),
              std::string::npos)
        << r.err;
    std::vector<std::string> left = {"good.kiv", "good.mseed", "junk.kiv", dir};
    for (std::size_t i = 0; i < 7; ++i) left.push_back(names[i]);
    std::sort(left.begin(), left.end());
    EXPECT_EQ(s.listing("."), left);
    EXPECT_EQ(s.listing(dir), std::vector<std::string>{"wide.kiv"});
}

// Usage errors stop before anything is read (status 1); a dry run reads and
// checks everything and writes nothing.
TEST(Kiv2ms, UsageErrorsAndDryRuns) {
    e2e::Scratch s(kCatalogue);
    save(s, "a.kiv", kivtrace({1, 2, 3}));
    for (const std::string bad :
         {"-r 512x a.kiv", "-e steim3 a.kiv", "-Q X a.kiv", "-Q DD a.kiv", "--network ABC a.kiv",
          "--station TOOLONG a.kiv", "--location A_B a.kiv", "--channel BHZZ a.kiv", "-r",
          "a.kiv -e", "a.kiv --station", "-x a.kiv", ""}) {
        std::vector<std::string> args;
        std::istringstream words(bad);
        for (std::string w; words >> w;) args.push_back(w == "A_B" ? "A B" : w);
        const e2e::Result r = kiv2ms(s, args);
        EXPECT_EQ(r.status, 1) << bad;
        EXPECT_NE(r.err.find("Try 'kiv2ms --help'"), std::string::npos) << r.err;
    }
    e2e::Result r = kiv2ms(s, {"-o", "/nonexistent/x.mseed", "a.kiv"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("101: Cannot open or create file /nonexistent/x.mseed"), std::string::npos)
        << r.err;
    r = kiv2ms(s, {"-n", "a.kiv"});
    EXPECT_EQ(std::to_string(r.status) + r.out, "0a.kiv -> a.mseed (steim2, 3 samples)\n");
    r = kiv2ms(s, {"-n", "-o", "one.mseed", "a.kiv"});
    EXPECT_EQ(std::to_string(r.status) + r.out, "0a.kiv -> one.mseed (steim2, 3 samples)\n");
    EXPECT_NE(r.err.find("kiv2ms: dry run: 1 files read, 0 refused; 0 records (3 samples) would be "
                         "written to 0 files, "),
              std::string::npos)
        << r.err;
    EXPECT_EQ(s.listing("."), std::vector<std::string>{"a.kiv"});
    r = kiv2ms(s, {"--help"});
    EXPECT_EQ(std::to_string(r.status) + r.out.substr(0, 34),
              "0Usage: kiv2ms [OPTION]... FILE...\n");
    r = kiv2ms(s, {"--version"});
    EXPECT_EQ(r.out, "kiv2ms " KIVF_VERSION "\n");
}

// A run stopped by a signal leaves no temporary file: the one output of the
// run is made before the first input is read, and it is stopped while it
// packs a long list of inputs.
TEST(Kiv2ms, StoppedRunsLeaveNoTemporaryFile) {
    e2e::Scratch s(kCatalogue);
    save(s, "long.kiv", kivtrace(std::vector<float>(1000000, 5.0F)));
    std::string inputs;
    for (int i = 0; i < 400; ++i) inputs += " long.kiv";
    for (const int sig : {SIGTERM, SIGHUP}) { // (a job in the background ignores SIGINT)
        const e2e::Result r = e2e::run(
            {"/bin/sh", "-c",
             "\"$0\" -q -o out.mseed" + inputs +
                 " & until ls -A | grep -q kivtmp; do :; done; kill -" + std::to_string(sig) +
                 " $!; wait $!; echo $? $(ls -A | grep -c -e kivtmp -e out)",
             KIV2MS_BIN},
            s.work.string(), "", s.env);
        EXPECT_EQ(r.out, std::to_string(128 + sig) + " 0\n") << sig;
    }
}

// A write that fails (a file size limit here) is told with the output's
// name and the system's reason; nothing of that output is left, the others
// are written. Into one file, nothing is left at all.
TEST(Kiv2ms, AFailedWriteLeavesNothingOfItsOutput) {
    e2e::Scratch s(kCatalogue);
    const auto noise = [](std::size_t n) {
        std::vector<float> y(n);
        std::uint32_t r = 1;
        for (float& v : y) v = static_cast<float>(r = r * 1103515245U + 12345U) / 7.0F;
        return y;
    };
    save(s, "small.kiv", kivtrace(noise(100)));
    save(s, "mid.kiv", kivtrace(noise(200000))); // fails when the file is closed
    save(s, "big.kiv", kivtrace(noise(400000))); // fails while its records are packed
    const auto limited = [&](const std::string& args) {
        return e2e::run(
            {"/bin/sh", "-c", "trap '' XFSZ; ulimit -f 100; exec \"$0\" " + args, KIV2MS_BIN},
            s.work.string(), "", s.env);
    };
    // With -k too: a failed write is told as such, not as an output kept.
    e2e::Result r = limited("-q -k small.kiv mid.kiv big.kiv");
    EXPECT_EQ(r.status, 2);
    const std::string failed = "kiv2ms: ERROR  115: Data write failed or came up short. ";
    EXPECT_EQ(r.err,
              failed + "mid.mseed (File too large)\n" + failed + "big.mseed (File too large)\n");
    EXPECT_EQ(s.listing("."),
              (std::vector<std::string>{"big.kiv", "mid.kiv", "small.kiv", "small.mseed"}));
    r = limited("-o all.mseed small.kiv mid.kiv big.kiv");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1), failed + "all.mseed (File too large)\n");
    EXPECT_NE(
        r.err.find("kiv2ms: 3 files read, 3 refused; 0 records (0 samples) written to 0 files"),
        std::string::npos)
        << r.err;
    EXPECT_EQ(s.listing("."),
              (std::vector<std::string>{"big.kiv", "mid.kiv", "small.kiv", "small.mseed"}));
    // A write the limit cuts to one byte goes on; the next one says why (told through a pipe,
    // which the limit spares).
    r = e2e::run({"/bin/sh", "-c", "trap '' XFSZ; prlimit --fsize=1 \"$0\" -q small.kiv 2>&1 | cat",
                  KIV2MS_BIN},
                 s.work.string(), "", s.env);
    EXPECT_EQ(r.out, failed + "small.mseed (File too large)\n");
}

// An output that cannot be made beside its input (a directory the user may not write) is told
// once and the run goes on; an output directory that cannot be opened, and a single output named
// as an input too, stop the run before anything is read (status 1).
TEST(Kiv2ms, OutputsThatCannotBeMadeOrUsed) {
    e2e::Scratch s(kCatalogue);
    fs::create_directory(s.work / "ro");
    save(s, "ro/a.kiv", kivtrace({1, 2, 3}));
    save(s, "b.kiv", kivtrace({1, 2, 3}));
    fs::create_directory(s.work / "locked");
    fs::permissions(s.work / "ro", fs::perms::all & ~fs::perms::owner_write &
                                       ~fs::perms::group_write & ~fs::perms::others_write);
    fs::permissions(s.work / "locked", fs::perms::none);
    e2e::Options as = s.env;
    as.uid = 65534; // as root, a user the directories' modes keep out
    e2e::Result r = e2e::run({KIV2MS_BIN, "-q", "ro/a.kiv", "b.kiv"}, s.work.string(), "", as);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "kiv2ms: ERROR  101: Cannot open or create file ro/a.mseed (Insufficient "
                     "access rights.)\n");
    EXPECT_TRUE(fs::exists(s.work / "b.mseed"));
    r = e2e::run({KIV2MS_BIN, "-q", "-o", "locked", "b.kiv"}, s.work.string(), "", as);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kiv2ms: ERROR 2045: Output directory cannot be used: locked Permission "
                     "denied\n");
    r = kiv2ms(s, {"-q", "-o", "b.kiv", "b.kiv"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kiv2ms: ERROR 2089: File not converted: its miniSEED output would replace an "
                     "input file of this run: b.kiv (it is named as an input too)\n");
    fs::permissions(s.work / "ro", fs::perms::owner_all);
    fs::permissions(s.work / "locked", fs::perms::owner_all);
    EXPECT_EQ(s.listing("ro"), std::vector<std::string>{"a.kiv"});
    EXPECT_EQ(s.listing("."), (std::vector<std::string>{"b.kiv", "b.mseed", "locked", "ro"}));
    EXPECT_TRUE(fs::is_empty(s.work / "locked"));
}

} // namespace
