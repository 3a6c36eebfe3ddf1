// wfdxlate run as a user would: piped answer, a working directory, KIVAUX set,
// output files compared byte for byte with files built here from the layout.
#include "e2e.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

const std::string kPrompt = "Enter wfdisc filename: ";

// ------------------------------------------------------ expected KIV files ----

struct Kiv {
    std::int32_t npts = 0;
    float delta = 0.05f;
    std::int32_t year = 1995, jday = 123, hour = 0, min = 0, sec = 0, msec = 0;
    std::string sta = "ABC", cmp = "BHZ";
    std::optional<std::string> user0, user1;
    std::vector<float> y;
};

template <class T> void put(std::string& b, std::size_t off, T v) {
    std::memcpy(&b[off], &v, 4);
}

void puttext(std::string& b, std::size_t off, const std::string& t) {
    std::string v = t.substr(0, 8);
    v.resize(8, ' ');
    b.replace(off, 8, v);
}

// The file a record must give: every field its reset value but those the
// converter sets; numbers in this machine's byte order.
std::string kivbytes(const Kiv& k) {
    std::string b(632 + 4 * static_cast<std::size_t>(k.npts), '\0');
    for (std::size_t off = 0; off < 280; off += 4) put(b, off, -12345.0f);
    for (std::size_t off = 280; off < 420; off += 4) put(b, off, std::int32_t{-12345});
    for (std::size_t off = 440; off < 632; off += 8) b.replace(off, 8, "-12345  ");
    put(b, 304, std::int32_t{6});                                            // NVHDR
    put(b, 308, std::int32_t{0});                                            // NINF
    put(b, 312, std::int32_t{0});                                            // NHST
    put(b, 340, std::int32_t{1});                                            // IFTYPE = ITIME
    for (std::size_t off : {420u, 428u, 432u}) put(b, off, std::int32_t{1}); // LEVEN LOVROK LCALDA
    put(b, 424, std::int32_t{0});
    put(b, 436, std::int32_t{0});
    put(b, 0, k.delta);
    put(b, 20, 0.0f); // B
    const std::int32_t n[] = {k.year, k.jday, k.hour, k.min, k.sec, k.msec};
    for (std::size_t i = 0; i < 6; ++i) put(b, 280 + 4 * i, n[i]);
    put(b, 316, k.npts);
    puttext(b, 440, k.sta);
    puttext(b, 600, k.cmp);
    if (k.user0) puttext(b, 576, *k.user0);
    if (k.user1) puttext(b, 584, *k.user1);
    for (std::size_t i = 0; i < k.y.size(); ++i) put(b, 632 + 4 * i, k.y[i]);
    return b;
}

std::string samplebytes(const std::vector<std::int32_t>& v) {
    return std::string(reinterpret_cast<const char*>(v.data()), v.size() * 4);
}

// A wfdisc line: tokens 1-6 given, 7-15 filler, 16 the path, 17-19 filler,
// then the user texts.
std::string line(const std::string& t1to6, const std::string& path,
                 const std::string& users = "quiet day") {
    return t1to6 + " 1 1 STS o s4 - 1 1 . " + path + " 0 -1 2015" +
           (users.empty() ? "" : " " + users);
}

struct Wfdxlate : ::testing::Test {
    fs::path root, work, aux;

    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "wfdx-e2e-XXXXXX").string();
        root = ::mkdtemp(tmpl.data());
        work = root / "work";
        aux = root / "aux";
        fs::create_directories(work);
        fs::create_directories(aux);
        fs::copy_file(KIVF_SOURCE_DIR "/kivaux/messages", aux / "messages");
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    std::string w(const std::string& name) const { return (work / name).string(); }
    void file(const std::string& name, const std::string& bytes) const {
        std::ofstream(w(name), std::ios::binary) << bytes;
    }
    e2e::Result run(const std::string& answer, e2e::Options o = {}) {
        if (!o.kivaux && !nokivaux) o.kivaux = aux.string();
        return e2e::run({bin}, work.string(), answer, o);
    }
    // The message line that outmsg gives an error of this number.
    static std::string err(int num, const std::string& text) {
        char f[8];
        std::snprintf(f, sizeof f, num >= 1000 ? "%4d" : " %3d", num);
        return " \aERROR "s + f + ": " + text + "\n";
    }
    std::vector<std::string> kivfiles() const {
        std::vector<std::string> v;
        for (const auto& e : fs::recursive_directory_iterator(work))
            if (e.path().extension() == ".kiv") v.push_back(e.path().lexically_relative(work));
        std::sort(v.begin(), v.end());
        return v;
    }
    std::string bin = WFDXLATE_BIN;
    bool nokivaux = false;
};

// ---------------------------------------------------------- the dialogue ----

TEST_F(Wfdxlate, EmptyWfdiscEndsQuietly) {
    file("empty.wfdisc", "");
    const auto r = run("empty.wfdisc\n");
    EXPECT_EQ(r.out, kPrompt);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(kivfiles().empty());
}

TEST_F(Wfdxlate, MissingWfdisc) {
    const auto r = run("nothere.wfdisc\n");
    EXPECT_EQ(r.out, kPrompt + "Error opening wfdisc file..\n");
    EXPECT_EQ(r.status, 1);
}

TEST_F(Wfdxlate, ConvertsRecordsAndStopsAtABlankLine) {
    file("a.w", samplebytes({1, -1, 16777217, 7, 99, 98}));
    file("b.w", samplebytes({5, 6}));
    file("x.wfdisc", line("1995123 700000000.5 ABC BHZ 4 20.0", "a.w") + "\n" +
                         line("2001002 3600.5 LONGSTATION LHZ 2 0", "b.w", "") + "\n" + "   \n" +
                         line("2001002 0 ZZZ Z 2 1", "b.w") + "\n");
    const auto r = run("x.wfdisc   \n");
    EXPECT_EQ(r.out, kPrompt + " Error reading file information\n");
    EXPECT_EQ(r.status, 0);
    Kiv a;
    a.npts = 4;
    a.year = 1995, a.jday = 123, a.hour = 20, a.min = 26, a.sec = 40, a.msec = 500;
    a.user0 = "quiet", a.user1 = "day";
    a.y = {1.0f, -1.0f, 16777216.0f, 7.0f}; // only the first npts words
    EXPECT_EQ(e2e::readfile(w("a.w.kiv")), kivbytes(a));
    Kiv b;
    b.npts = 2, b.delta = std::numeric_limits<float>::infinity(), b.year = 2001, b.jday = 2;
    b.hour = 1, b.msec = 500, b.sta = "LONGSTAT", b.cmp = "LHZ", b.y = {5.0f, 6.0f};
    EXPECT_EQ(e2e::readfile(w("b.w.kiv")), kivbytes(b)); // the record after the stop is not read
    EXPECT_EQ(kivfiles(), (std::vector<std::string>{"a.w.kiv", "b.w.kiv"}));
}

TEST_F(Wfdxlate, StartTimesKeepTheirMilliseconds) {
    struct Case {
        std::string start;
        std::int32_t hour, min, sec, msec;
    } cases[] = {
        {"700000000.5", 20, 26, 40, 500}, {"700000031.0", 20, 27, 11, 0},
        {"59.9999", 0, 0, 59, 999},       {"2.3", 0, 0, 2, 300},
        {"3600.5", 1, 0, 0, 500},         {"86400", 0, 0, 0, 0},
        {"-0.5", 23, 59, 59, 500},        {"1425997541.050", 14, 25, 41, 50},
        {"1.0e3", 0, 16, 40, 0},          {"0.0015", 0, 0, 0, 1},
    };
    file("s.w", "");
    std::string wf;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        file("s" + std::to_string(i) + ".w", "");
        wf += line("1995123 " + cases[i].start + " ABC BHZ 0 20", "s" + std::to_string(i) + ".w") +
              "\n";
    }
    file("t.wfdisc", wf);
    const auto r = run("t.wfdisc\n");
    EXPECT_EQ(r.out, kPrompt);
    EXPECT_EQ(r.status, 0);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        Kiv k;
        k.hour = cases[i].hour, k.min = cases[i].min, k.sec = cases[i].sec, k.msec = cases[i].msec;
        k.user0 = "quiet", k.user1 = "day";
        EXPECT_EQ(e2e::readfile(w("s" + std::to_string(i) + ".w.kiv")), kivbytes(k))
            << cases[i].start;
    }
}

TEST_F(Wfdxlate, DecodingByPosition) {
    file("d.w", samplebytes({3}));
    // Token 1 read by position; blanks before and between tokens; a tab is
    // part of a token; a long channel token keeps its first 8 characters.
    const std::string chan35(35, 'C');
    file("d.wfdisc", "   95123   12  A\tB   " + chan35 +
                         "   1   20   1 1 STS o s4 - 1 1 . d.w 0 -1 2015 u0 u1\n");
    const auto r = run("d.wfdisc\n");
    EXPECT_EQ(r.out, kPrompt);
    EXPECT_EQ(r.status, 0);
    Kiv k;
    k.npts = 1, k.year = 9512, k.jday = 3, k.sec = 12, k.sta = "A\tB", k.cmp = "CCCCCCCC";
    k.user0 = "u0", k.user1 = "u1", k.y = {3.0f};
    EXPECT_EQ(e2e::readfile(w("d.w.kiv")), kivbytes(k));
}

TEST_F(Wfdxlate, OnlyThe210CharactersOfALineCount) {
    file("e.w", samplebytes({1}));
    std::string l = line("1995123 0 ABC BHZ 1 20", "e.w", "u0");
    l.resize(209, ' ');
    l += " TOOFAR"; // token 21 would start at column 211
    ASSERT_GT(l.size(), 210u);
    file("f.w", samplebytes({2}));
    file("e.wfdisc", l + "\n" + line("1995123 0 ABC BHZ 1 20", "f.w") + "\n");
    const auto r = run("e.wfdisc\n");
    EXPECT_EQ(r.status, 0);
    Kiv k;
    k.npts = 1, k.y = {1.0f}, k.user0 = "u0"; // KUSER1 stays undefined
    EXPECT_EQ(e2e::readfile(w("e.w.kiv")), kivbytes(k));
    EXPECT_TRUE(fs::exists(w("f.w.kiv"))); // the next line is the next record
}

TEST_F(Wfdxlate, TwoRecordsOneSampleFile) {
    file("same.w", samplebytes({1, 2}));
    file("m.wfdisc", line("1995123 0 AAA BHZ 1 20", "same.w") + "\n" +
                         line("1995123 0 BBB BHZ 2 20", "same.w") + "\n");
    const auto r = run("m.wfdisc\n");
    EXPECT_EQ(r.status, 0);
    Kiv k;
    k.npts = 2, k.sta = "BBB", k.y = {1.0f, 2.0f}, k.user0 = "quiet", k.user1 = "day";
    EXPECT_EQ(e2e::readfile(w("same.w.kiv")), kivbytes(k));
}

TEST_F(Wfdxlate, LongSamplePathsAndAbsolutePaths) {
    const std::string p30 = "p" + std::string(27, 'x') + ".w"; // 30 characters
    const std::string p27 = std::string(25, 'y') + ".w";
    file(p30, samplebytes({4}));
    file(p27, samplebytes({4}));
    fs::create_directories(work / "sub");
    file("sub/abs.w", samplebytes({4}));
    const std::string abs = w("sub/abs.w");
    file("l.wfdisc", line("1995123 0 ABC BHZ 1 20", p30) + "\n" +
                         line("1995123 0 ABC BHZ 1 20", p27) + "\n" +
                         (abs.size() <= 30 ? line("1995123 0 ABC BHZ 1 20", abs) + "\n" : ""));
    const auto r = run("l.wfdisc\n");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(fs::exists(w(p30 + ".kiv")));
    EXPECT_TRUE(fs::exists(w(p27 + ".kiv")));
    EXPECT_EQ(e2e::readfile(w(p30)), samplebytes({4})); // the sample file is untouched
    if (abs.size() <= 30) {
        EXPECT_TRUE(fs::exists(abs + ".kiv"));
    }
}

// ----------------------------------------------- refusals and exit status ----

TEST_F(Wfdxlate, RefusedRecordsAreNamedAndTheRunGoesOn) {
    file("ok.w", samplebytes({1, 2, 3}));
    file("short.w", samplebytes({1}));
    const std::string long31 = std::string(29, 'q') + ".w";
    struct Row {
        std::string rec, msg;
    } rows[] = {
        {line("1995123 0 ABC BHZ 90001 20", "ok.w"),
         err(2003, "Record not converted: sample count outside 0 to 90000; wfdisc line 1 90001")},
        {line("1995123 0 ABC BHZ -1 20", "ok.w"),
         err(2003, "Record not converted: sample count outside 0 to 90000; wfdisc line 2 -1")},
        {"1995123 0 ABC BHZ 3 20 1 1 STS o s4 - 1 1 .",
         err(2001, "Record not converted: fewer than 16 tokens; wfdisc line 3 has 15")},
        {line("1995123 0 ABC BHZ 3 20", long31),
         err(2004, "Record not converted: sample file path longer than 30 characters; wfdisc "
                   "line 4 " +
                       long31)},
        {line("1995123 0 ABC BHZ 3x 20", "ok.w"),
         err(2002, "Record not converted: a token is not a number or is out of range; wfdisc line "
                   "5 token 5 3x")},
        {line("1995123 1e30 ABC BHZ 3 20", "ok.w"),
         err(2005, "Record not converted: start time cannot be held to the microsecond; wfdisc "
                   "line 6 1e30")},
        {line("19x5123 0 ABC BHZ 3 20", "ok.w"),
         err(2002, "Record not converted: a token is not a number or is out of range; wfdisc line "
                   "7 token 1 19x5123")},
        {line("1995123 0 ABC BHZ 3 nan", "ok.w"),
         err(2002, "Record not converted: a token is not a number or is out of range; wfdisc line "
                   "8 token 6 nan")},
        {line("1995123 0 ABC BHZ 3 20", "missing.w"),
         err(2006, "Record not converted: samples cannot be read; wfdisc line 9 missing.w "
                   "File does not exist: missing.w")},
        {line("1995123 0 ABC BHZ 3 20", "short.w"),
         err(2006, "Record not converted: samples cannot be read; wfdisc line 10 short.w "
                   "Data read failed or came up short.")},
        {line("1995123 0 ABC BHZ 3 20", "ok.w"), ""},
    };
    std::string wf, want = kPrompt;
    for (const auto& row : rows) {
        wf += row.rec + "\n";
        want += row.msg;
    }
    file("r.wfdisc", wf);
    const auto r = run("r.wfdisc\n");
    EXPECT_EQ(r.out, want);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(kivfiles(), (std::vector<std::string>{"ok.w.kiv"}));
    Kiv k;
    k.npts = 3, k.y = {1, 2, 3}, k.user0 = "quiet", k.user1 = "day";
    EXPECT_EQ(e2e::readfile(w("ok.w.kiv")), kivbytes(k));
}

TEST_F(Wfdxlate, FailedRecordNeverGetsAnotherRecordsSamples) {
    file("good.w", samplebytes({11, 12}));
    file("short.w", samplebytes({1}));
    file("old.w.kiv", "previous");
    file("g.wfdisc", line("1995123 0 ABC BHZ 2 20", "good.w") + "\n" +
                         line("1995123 0 ABC BHZ 2 20", "short.w") + "\n");
    const auto r = run("g.wfdisc\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(fs::exists(w("short.w.kiv")));
    EXPECT_EQ(e2e::readfile(w("old.w.kiv")), "previous");
}

TEST_F(Wfdxlate, MissingUserTextsStayUndefined) {
    file("a.w", samplebytes({1}));
    file("b.w", samplebytes({1}));
    file("u.wfdisc", line("1995123 0 ABC BHZ 1 20", "a.w", "first second") + "\n" +
                         line("1995123 0 ABC BHZ 1 20", "b.w", "") + "\n");
    const auto r = run("u.wfdisc\n");
    EXPECT_EQ(r.status, 0);
    Kiv k;
    k.npts = 1, k.y = {1};
    EXPECT_EQ(e2e::readfile(w("b.w.kiv")), kivbytes(k)); // not the first record's texts
}

TEST_F(Wfdxlate, ReadOnlySampleFilesConvert) {
    file("ro.w", samplebytes({9}));
    ::chmod(w("ro.w").c_str(), 0444);
    file("ro.wfdisc", line("1995123 0 ABC BHZ 1 20", "ro.w") + "\n");
    e2e::Options o;
    if (::getuid() == 0) { // root may write anything: run as an ordinary user
        o.uid = 65534;
        fs::copy_file(bin, root / "wfdxlate");
        bin = (root / "wfdxlate").string();
        fs::permissions(root, fs::perms::all);
        fs::permissions(work, fs::perms::all);
        fs::permissions(aux, fs::perms::all);
    }
    const auto r = run("ro.wfdisc\n", o);
    EXPECT_EQ(r.out, kPrompt);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(fs::exists(w("ro.w.kiv")));
}

TEST_F(Wfdxlate, TypedNames) {
    const std::string n30 = std::string(23, 'n') + ".wfdisc";
    file(n30, "");
    EXPECT_EQ(run(n30 + "\n").status, 0);
    const auto r = run(n30 + "x\n");
    EXPECT_EQ(r.out, kPrompt + err(2007, "The wfdisc file name is longer than 30 characters or "
                                         "holds a NUL character: " +
                                             n30 + "x"));
    EXPECT_EQ(r.status, 1);
    const auto eof = run("");
    EXPECT_EQ(eof.out, kPrompt + "\n" +
                           err(2008, "No wfdisc file name: standard input ended before a name "
                                     "was read."));
    EXPECT_EQ(eof.status, 1);
    e2e::Options closed;
    closed.closedstdin = true;
    EXPECT_EQ(run("", closed).status, 1);
}

TEST_F(Wfdxlate, KivauxUnsetStopsBeforeAnyFileIsWritten) {
    file("a.w", samplebytes({1}));
    file("k.wfdisc", line("1995123 0 ABC BHZ 1 20", "a.w") + "\n");
    nokivaux = true;
    const auto r = run("k.wfdisc\n");
    EXPECT_EQ(r.out, kPrompt);
    EXPECT_EQ(r.err, "ERROR: Environmental variable KIVAUX not defined.\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(kivfiles().empty());
}

TEST_F(Wfdxlate, WriterFailureIsReportedAndCounted) {
    file("a.w", samplebytes({1}));
    fs::create_directories(work / "a.w.kiv"); // the output name is a directory
    file("b.w", samplebytes({2}));
    file("o.wfdisc", line("1995123 0 ABC BHZ 1 20", "a.w") + "\n" +
                         line("1995123 0 ABC BHZ 1 20", "b.w") + "\n");
    const auto r = run("o.wfdisc\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find(err(2011, "Record not converted: its waveform file was not written; "
                                   "wfdisc line 1 a.w.kiv")),
              std::string::npos)
        << r.out;
    EXPECT_TRUE(fs::is_directory(w("a.w.kiv")));
    EXPECT_TRUE(fs::exists(w("b.w.kiv")));
}

} // namespace
