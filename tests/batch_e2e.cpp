// wfdxlate with wfdisc files on the command line: archives written here (CSS
// 3.0 and 2.8 lines, shared sample files, every datatype), outputs read back
// and compared bit for bit with values worked out by hand.
#include "e2e.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string hexbytes(const std::string& hex) {
    std::string b;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        b += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return b;
}

template <class T = std::uint32_t> T word(const std::string& b, std::size_t off) {
    T v{};
    std::memcpy(&v, b.data() + off, 4);
    return v;
}
float fword(const std::string& b, std::size_t off) {
    return word<float>(b, off);
}

constexpr std::size_t kDelta = 0, kDepmin = 4, kDepmax = 8, kScale = 12, kB = 20, kE = 24,
                      kDepmen = 224, kNz = 280, kIftype = 340, kLeven = 420, kSta = 440,
                      kUser0 = 576, kUser1 = 584, kChan = 600, kInst = 624;

// A CSS 3.0 line with single blanks: the columns that matter, the rest filler.
std::string css30(const std::string& sta, const std::string& chan, const std::string& time,
                  const std::string& nsamp, const std::string& rate, const std::string& dt,
                  const std::string& dir, const std::string& dfile, const std::string& foff,
                  const std::string& instype = "-") {
    return sta + " " + chan + " " + time + " -1 -1 2017066 0 " + nsamp + " " + rate + " 0.5 1.0 " +
           instype + " - " + dt + " - " + dir + " " + dfile + " " + foff + " -1 1489009080.00000\n";
}

const std::string kT0 = "1488931200.01900"; // 2017-03-08 (day 067) 00:00:00.019
const std::string kName = ".2017.067.00.00.00.019.kiv";

struct Batch : ::testing::Test {
    fs::path root;
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "wfdx-batch-XXXXXX").string();
        root = ::mkdtemp(tmpl.data());
        fs::create_directories(root / "out");
    }
    void TearDown() override { fs::remove_all(root); }
    std::string p(const std::string& name) const { return (root / name).string(); }
    void file(const std::string& name, const std::string& bytes) const {
        fs::create_directories((root / name).parent_path());
        std::ofstream(p(name), std::ios::binary) << bytes;
    }
    e2e::Result run(std::vector<std::string> args, const std::string& cwd = "") const {
        args.insert(args.begin(), WFDXLATE_BIN);
        e2e::Options o;
        o.kivaux = KIVF_SOURCE_DIR "/kivaux";
        return e2e::run(args, cwd.empty() ? root.string() : cwd, "", o);
    }
    std::string out(const std::string& name) const { return e2e::readfile(p("out/" + name)); }
    std::vector<std::string> listing(const std::string& dir) const {
        std::vector<std::string> v;
        for (const auto& e : fs::directory_iterator(root / dir)) v.push_back(e.path().filename());
        std::sort(v.begin(), v.end());
        return v;
    }
};

// One sample per datatype and byte order, all in one shared file at odd
// offsets: raw bytes and the float32 bits each must become.
struct Case {
    const char* dt;
    const char* raw;
    std::uint32_t bits;
};
const Case kCases[] = {
    {"s4", "01000001", 0x4B800000},         // 2^24 + 1 rounds to 2^24
    {"i4", "03000001", 0x4B800002},         // 2^24 + 3: tie, to even 2^24 + 4
    {"s4", "80000000", 0xCF000000},         // INT_MIN
    {"i4", "00000080", 0xCF000000},         //
    {"s4", "FFFFFFFF", 0xBF800000},         // -1
    {"i4", "FEFFFFFF", 0xC0000000},         // -2
    {"s4", "7FFFFFFF", 0x4F000000},         // INT_MAX rounds to 2^31
    {"s2", "8000", 0xC7000000},             // -32768
    {"i2", "0080", 0xC7000000},             //
    {"s2", "7FFF", 0x46FFFE00},             // 32767
    {"i2", "FF7F", 0x46FFFE00},             //
    {"s3", "800000", 0xCB000000},           // -2^23
    {"i3", "000080", 0xCB000000},           //
    {"s3", "FFFFFE", 0xC0000000},           // -2
    {"i3", "FEFFFF", 0xC0000000},           //
    {"s3", "7FFFFF", 0x4AFFFFFE},           // 2^23 - 1
    {"i3", "FFFF7F", 0x4AFFFFFE},           //
    {"s3", "000001", 0x3F800000},           // 1
    {"i3", "010000", 0x3F800000},           //
    {"t4", "7FC00001", 0x7FC00001},         // NaN with its payload
    {"f4", "0100C07F", 0x7FC00001},         //
    {"t4", "7F800000", 0x7F800000},         // +inf
    {"f4", "000080FF", 0xFF800000},         // -inf
    {"t4", "00000001", 0x00000001},         // smallest subnormal
    {"f4", "0000C03F", 0x3FC00000},         // 1.5
    {"t8", "7FF0000000000000", 0x7F800000}, // +inf
    {"f8", "000000000000F0FF", 0xFF800000}, // -inf
    {"t8", "7FF8000000000000", 0x7FC00000}, // NaN
    {"t8", "3FB999999999999A", 0x3DCCCCCD}, // 0.1 to the nearest float
    {"f8", "9A9999999999B93F", 0x3DCCCCCD}, //
    {"t8", "3FF0000010000000", 0x3F800000}, // 1 + 2^-24: tie, to even 1
    {"f8", "000000000000F0BF", 0xBF800000}, // -1
};

TEST_F(Batch, EveryDatatypeInBothByteOrdersBitForBit) {
    std::string data = "pad", wf;
    for (std::size_t i = 0; i < std::size(kCases); ++i) {
        const std::string chan = "C" + std::to_string(i);
        wf += css30("STA", chan, kT0, "1", "20", kCases[i].dt, "-", "all.w",
                    std::to_string(data.size()));
        data += hexbytes(kCases[i].raw) + "x";
    }
    file("all.w", data);
    file("a.wfdisc", wf);
    const auto r = run({"-o", "out", "a.wfdisc"});
    EXPECT_EQ(r.status, 0) << r.err;
    for (std::size_t i = 0; i < std::size(kCases); ++i) {
        const std::string k = out("STA.C" + std::to_string(i) + kName);
        ASSERT_EQ(k.size(), 636u) << i;
        EXPECT_EQ(word(k, 632), kCases[i].bits) << i << " " << kCases[i].dt << " " << kCases[i].raw;
    }
}

TEST_F(Batch, HeaderOfACss30Record) {
    // Three channels in one file at different offsets: big-endian 32-bit,
    // little-endian 16-bit, big-endian floats.
    file("d/day.w", hexbytes("EEEE"
                             "00000001FFFFFFFE00000003"
                             "0500FBFF"
                             "3F800000C0000000"));
    const std::string wf = css30("TKL", "BHZ", kT0, "3", "40.0", "s4", "d", "day.w", "2", "STS2") +
                           css30("TKL", "BHN", kT0, "2", "40.0", "i2", "d", "day.w", "14") +
                           css30("TKL", "BHE", kT0, "2", "40.0", "t4", "d", "day.w", "18");
    file("day.wfdisc", wf);
    const auto r = run({"-o", "out", "day.wfdisc"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("wfdxlate: 3 records converted, 0 refused, 7 samples, 1 wfdisc files"),
              std::string::npos);
    const std::string z = out("TKL.BHZ" + kName);
    ASSERT_EQ(z.size(), 632u + 12);
    const std::pair<std::size_t, float> f[] = {
        {632, 1},    {636, -2},     {640, 3},     {kDelta, 0.025f},    {kB, 0},
        {kE, 0.05f}, {kDepmin, -2}, {kDepmax, 3}, {kDepmen, 2.0f / 3}, {kScale, 0.5f}};
    for (const auto& [off, v] : f) EXPECT_EQ(fword(z, off), v) << off;
    const std::uint32_t nz[] = {2017, 67, 0, 0, 0, 19, 0, 0, 0, 3}; // NZYEAR..NZMSEC, NPTS
    for (std::size_t i : {0, 1, 2, 3, 4, 5, 9}) EXPECT_EQ(word(z, kNz + 4 * i), nz[i]) << i;
    EXPECT_EQ(word(z, kIftype) + word(z, kLeven), 2u); // ITIME, true
    EXPECT_EQ(z.substr(kSta, 8) + z.substr(kChan, 8) + z.substr(kInst, 8) + z.substr(kUser0, 8),
              "TKL     BHZ     STS2    -12345  ");
    const std::string n = out("TKL.BHN" + kName), e = out("TKL.BHE" + kName);
    EXPECT_EQ(fword(n, 632), 5.0f);
    EXPECT_EQ(fword(n, 636), -5.0f);
    EXPECT_EQ(n.substr(kInst, 8), "-12345  ");
    EXPECT_EQ(fword(e, 632), 1.0f);
    EXPECT_EQ(fword(e, 636), -2.0f);
}

TEST_F(Batch, BothLayoutsAndAutoGiveTheSameFile) {
    file("w/s.w", hexbytes("0000000A0000000B"));
    // The same record: CSS 3.0 with single blanks, with the wide columns of a
    // listing (its own directory "."), and CSS 2.8 with a user text.
    file("w/a.wfdisc", css30("ANMO", "BHZ", "1483228799.9994", "2", "20", "s4", ".", "s.w", "0"));
    file("w/b.wfdisc",
         "ANMO   BHZ       1483228799.99940        1       -1  2016366  1483228800.04940"
         "        2   20.0000000     0.500000     1.000000 -      -  s4 - "
         "./                                                                "
         "s.w                                         0       -1 1489009080.00000\n");
    file("w/c.wfdisc", "2016366 1483228799.9994 ANMO BHZ 2 20 0.5 1 - - s4 - 1 1 - s.w 0 -1 rem "
                       "net\n");
    const std::string name = "ANMO.BHZ.2016.366.23.59.59.999.kiv";
    std::string first;
    for (const auto& [f, schema] :
         std::vector<std::pair<std::string, std::string>>{{"w/a.wfdisc", "auto"},
                                                          {"w/b.wfdisc", "css3.0"},
                                                          {"w/c.wfdisc", "auto"},
                                                          {"w/c.wfdisc", "css2.8"},
                                                          {"w/b.wfdisc", "auto"}}) {
        const auto r = run({"--schema", schema, "-q", "-o", "out", f});
        EXPECT_EQ(r.status, 0) << f << r.err;
        EXPECT_EQ(r.err, "");
        std::string k = out(name);
        ASSERT_EQ(k.size(), 640u) << f;
        EXPECT_EQ(word(k, 636), 0x41300000u); // 11.0
        if (f == "w/c.wfdisc") {
            EXPECT_EQ(k.substr(kUser0, 8), "net     ");
            EXPECT_EQ(k.substr(kUser1, 8), "-12345  ");
        }
        if (first.empty()) first = k;
        EXPECT_EQ(k.substr(0, kUser0) + k.substr(kUser1 + 8),
                  first.substr(0, kUser0) + first.substr(kUser1 + 8))
            << f;
        fs::remove(p("out/" + name));
    }
    // A first line that fits neither layout.
    file("x.wfdisc", "12345 ABC 3 4\n");
    const auto r = run({"x.wfdisc"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("ERROR 2042: Wfdisc layout cannot be told from this first line; name it "
                         "with --schema css3.0 or --schema css2.8: x.wfdisc:1"),
              std::string::npos);
}

TEST_F(Batch, SampleDirectoriesStartAtTheWfdiscFile) {
    file("arc/sub/one.w", hexbytes("00000001"));
    file("arc/two.w", hexbytes("00000002"));
    file("abs/three.w", hexbytes("00000003"));
    file("arc/x.wfdisc", css30("S", "A", kT0, "1", "1", "s4", "sub", "one.w", "0") +
                             css30("S", "B", kT0, "1", "1", "s4", ".", "two.w", "0") +
                             css30("S", "C", kT0, "1", "1", "s4", "-", "two.w", "0") +
                             css30("S", "D", kT0, "1", "1", "s4", p("abs"), "three.w", "0") +
                             css30("S", "E", kT0, "1", "1", "s4", "sub", p("abs/three.w"), "0"));
    EXPECT_EQ(run({"-o", p("out"), "../arc/x.wfdisc"}, p("out")).status, 0);
    const float want[] = {1, 2, 2, 3, 3};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(fword(out("S." + std::string(1, 'A' + i) + kName), 632), want[i]);
}

TEST_F(Batch, MillionSampleRecord) {
    std::string data(4'000'000, '\0');
    for (std::uint32_t i = 0; i < 1'000'000; ++i) {
        const std::uint32_t v = i * 2654435761u; // big-endian, spread over all 32 bits
        for (std::uint32_t j = 0; j < 4; ++j)
            data[4 * i + j] = static_cast<char>(v >> (24 - 8 * j));
    }
    file("big.w", data);
    file("big.wfdisc", css30("BIG", "HHZ", kT0, "1000000", "100", "s4", ".", "big.w", "0"));
    EXPECT_EQ(run({"-o", "out", "big.wfdisc"}).status, 0);
    const std::string k = out("BIG.HHZ" + kName);
    ASSERT_EQ(k.size(), 632u + 4'000'000u);
    EXPECT_EQ(word(k, 316), 1'000'000u);
    for (std::uint32_t i : {0u, 1u, 4095u, 777'777u, 999'999u})
        EXPECT_EQ(fword(k, 632 + 4 * i),
                  static_cast<float>(static_cast<std::int32_t>(i * 2654435761u)))
            << i;
}

TEST_F(Batch, RefusalsNameFileAndLineAndTheRestConverts) {
    file("s.w", hexbytes("0000000100000002"));
    fs::create_directories(root / "adir");
    struct Bad {
        std::string line, msg;
    };
    const std::vector<Bad> bad = {
        {"S A " + kT0 + " -1 -1 0 0 1 1 0.5 1 - - s4 -\n",
         "2030: Record not converted: fewer columns than its layout needs: b.wfdisc:1 css3.0 (15 "
         "of 19)"},
        {css30("S", "B", "later", "1", "1", "s4", ".", "s.w", "0"),
         "2031: Record not converted: a "
         "column is not a number or is out of range: b.wfdisc:2 time later"},
        {css30("S", "C", kT0, "-1", "1", "s4", ".", "s.w", "0"), ":3 nsamp -1"},
        {css30("S", "D", kT0, "1", "0", "s4", ".", "s.w", "0"),
         "2032: Record not converted: the "
         "sampling rate is not a finite number above 0: b.wfdisc:4 0"},
        {css30("S", "E", kT0, "1", "nan", "s4", ".", "s.w", "0"),
         "2032: Record not converted: the "
         "sampling rate is not a finite number above 0: b.wfdisc:5 nan"},
        {css30("S", "F", kT0, "1", "1", "e1", ".", "s.w", "0"),
         "2033: Record not converted: "
         "datatype is none of s4 i4 s2 i2 s3 i3 t4 f4 t8 f8: b.wfdisc:6 e1"},
        {css30("S", "G", kT0, "1", "1", "s4", ".", "nothere.w", "0"),
         "2035: Record not converted: "
         "the sample file cannot be opened or is not a regular file: b.wfdisc:7 nothere.w"},
        {css30("S", "H", kT0, "1", "1", "s4", ".", "adir", "0"), ":8 adir not a regular file"},
        {css30("S", "I", kT0, "2", "1", "s4", ".", "s.w", "1"),
         "2036: Record not converted: the "
         "sample file is too short for nsamp samples from byte foff: b.wfdisc:9 s.w (8 bytes, "
         "needs 9)"},
        {css30("S/x", "J", kT0, "1", "1", "s4", ".", "s.w", "0"),
         "2038: Record not converted: "
         "station or channel name cannot be part of a file name: b.wfdisc:10 S/x J"},
        {css30("S", "K", kT0, "1", "1", "s4", ".", "s.w", "0"), ""},
        {css30("S", "K", kT0, "2", "1", "s4", ".", "s.w", "0"),
         "2039: Record not converted: its "
         "output name was already written in this run: b.wfdisc:12 out/S.K" +
             kName + " first written by b.wfdisc:11"},
        {std::string(1100, 'x') + "\n", "2044: Record not converted: the line is longer than "
                                        "1023 characters or holds a NUL character: b.wfdisc:13"},
        {css30("S", "L", kT0, "1", "1", "s4", ".", "s.w", "4.5"), ":14 foff 4.5"},
        {css30("S", "M", kT0, "1", "1", "s4", ".", "s.w", "4"), ""},
        {css30("S", "P", "1e10", "1", "1", "s4", ".", "s.w", "0"), ":16 time 1e10"},
        {"S Q " + kT0 + std::string(1, '\0') + "\n", "NUL character: b.wfdisc:17"},
    };
    std::string wf;
    for (const auto& b : bad) wf += b.line;
    file("b.wfdisc", wf);
    file("c.wfdisc", "2017067 " + kT0 + " S N 1 1 1 1 - - s4 - 1 1 . s.w 4\n2017066 " + kT0 +
                         " S O 1 1 1 1 - - s4 - 1 1 . s.w 4\n");
    const auto r = run({"-o", "out", "b.wfdisc", "missing.wfdisc", "c.wfdisc"});
    EXPECT_EQ(r.status, 2);
    for (const auto& b : bad)
        if (!b.msg.empty()) {
            EXPECT_NE(r.err.find(b.msg), std::string::npos) << b.msg << "\n" << r.err;
        }
    EXPECT_NE(r.err.find("ERROR 2041: Wfdisc file cannot be read: missing.wfdisc"),
              std::string::npos);
    EXPECT_NE(r.err.find("ERROR 2034: Record not converted: the date column disagrees with the "
                         "date of the start time: c.wfdisc:2 2017066 (start time is in 2017067)"),
              std::string::npos);
    EXPECT_NE(r.err.find("wfdxlate: 3 records converted, 16 refused, 3 samples, 2 wfdisc files"),
              std::string::npos);
    EXPECT_EQ(listing("out"),
              (std::vector<std::string>{"S.K" + kName, "S.M" + kName, "S.N" + kName}));
    EXPECT_EQ(word(out("S.K" + kName), 316), 1u); // the first writer's file stays
    EXPECT_EQ(fword(out("S.M" + kName), 632), 2.0f);
}

TEST_F(Batch, DryRunRerunAndUsage) {
    file("s.w", hexbytes("00000001"));
    file("a.wfdisc", css30("S", "Z", "946731605.25", "1", "1", "s4", ".", "s.w", "0"));
    auto r = run({"-n", "-o", "out", "a.wfdisc"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "a.wfdisc:1 -> out/S.Z.2000.001.13.00.05.250.kiv (1 samples, s4)\n");
    EXPECT_TRUE(listing("out").empty());
    r = run({"a.wfdisc", "-o", "out"});
    EXPECT_EQ(r.status + r.err.find('\r'), std::string::npos); // 0, and no progress in a log
    const std::string once = out("S.Z.2000.001.13.00.05.250.kiv");
    r = run({"-q", "-o", "out", "a.wfdisc"}); // a rerun replaces, leaves nothing else
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err + r.out, "");
    EXPECT_EQ(out("S.Z.2000.001.13.00.05.250.kiv"), once);
    EXPECT_EQ(listing("out"), std::vector<std::string>{"S.Z.2000.001.13.00.05.250.kiv"});
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"-q"}, {"-x", "a.wfdisc"}, {"--schema", "css4", "a.wfdisc"}, {"a.wfdisc", "-o"}}) {
        r = run(args);
        EXPECT_EQ(r.status, 1) << args[0];
        EXPECT_NE(r.err.find("Try 'wfdxlate --help'"), std::string::npos);
        EXPECT_EQ(r.out, "");
    }
    r = run({"-o", "nodir", "a.wfdisc"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("ERROR 2045: Output directory cannot be used: nodir"), std::string::npos);
    r = run({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("Usage: wfdxlate", 0), 0u);
    EXPECT_EQ(listing("out"), std::vector<std::string>{"S.Z.2000.001.13.00.05.250.kiv"});
}

} // namespace
