// SPDX-License-Identifier: Apache-2.0
// wfdxlate with wfdisc files named: archives written here, outputs compared bit for bit.
#include "e1encode.h"
#include "e2e.h"
#include "kivlayout.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <pty.h>

namespace fs = std::filesystem;
using namespace kivtest;
using e1enc::hexbytes;

namespace {

// A CSS 3.0 line with single blanks: the columns that matter, the rest filler.
using Arg = const std::string&;
std::string css30(Arg sta, Arg chan, Arg time, Arg nsamp, Arg rate, Arg dt, Arg dir, Arg dfile,
                  Arg foff, Arg instype = "-") {
    return sta + " " + chan + " " + time + " -1 -1 2017066 0 " + nsamp + " " + rate + " 0.5 1.0 " +
           instype + " - " + dt + " - " + dir + " " + dfile + " " + foff + " -1 1489009080.00000\n";
}

const std::string kT0 = "1488931200.01900"; // 2017-03-08 (day 067) 00:00:00.019
const std::string kName = ".2017.067.00.00.00.019.kiv";

// One s4 sample of station S at kT0.
std::string rec(Arg chan, Arg dir = ".", Arg dfile = "s.w", Arg foff = "0") {
    return css30("S", chan, kT0, "1", "1", "s4", dir, dfile, foff);
}

struct Batch : ::testing::Test, e2e::Scratch { // the program's working directory, out/ made
    Batch() {
        fs::create_directories(work / "out");
        env.kivaux = KIVF_SOURCE_DIR "/kivaux";
    }
    e2e::Result run(std::vector<std::string> args, const std::string& cwd = "",
                    const e2e::Options* o = nullptr) const {
        args.insert(args.begin(), WFDXLATE_BIN);
        return e2e::run(args, cwd.empty() ? work.string() : cwd, "", o ? *o : env);
    }
    std::string out(const std::string& name) const { return e2e::readfile(p("out/" + name)); }
};

// A record per datatype: values in both byte orders (s/t as given, i/f reversed) and the float32
// bits each must become.
// clang-format off
const std::tuple<const char*, const char*, std::vector<const char*>, std::vector<std::uint32_t>> kTypes[] = {
    {"s4", "i4", {"01000001", "01000003", "80000000", "7FFFFFFF"}, {0x4B800000, 0x4B800002, 0xCF000000, 0x4F000000}}, // 2^24 + 1 to 2^24, tie to even, INT_MIN, INT_MAX
    {"s2", "i2", {"8000", "7FFF"}, {0xC7000000, 0x46FFFE00}},
    {"s3", "i3", {"800000", "FFFFFE", "7FFFFF"}, {0xCB000000, 0xC0000000, 0x4AFFFFFE}},
    {"t4", "f4", {"7FC00001", "7F800000", "FF800000", "00000001"}, {0x7FC00001, 0x7F800000, 0xFF800000, 0x00000001}}, // NaN payload, infs, subnormal
    {"t8", "f8", {"7FF0000000000000", "7FF8000000000000", "3FB999999999999A", "3FF0000010000000"}, {0x7F800000, 0x7FC00000, 0x3DCCCCCD, 0x3F800000}}, // 1 + 2^-24: to even
};
// clang-format on

TEST_F(Batch, EveryDatatypeInBothByteOrdersBitForBit) {
    std::string data = "pad", wf;
    std::vector<std::string> want, got;
    // Channels 10, 11 and on: a name of digits first, the layout told all the same.
    const auto record = [&](Arg type, std::size_t n, const std::string& bytes) {
        wf += css30("STA", std::to_string(10 + want.size()), kT0, std::to_string(n), "20", type,
                    "-", "all.w", std::to_string(data.size()), want.empty() ? "STS2" : "-");
        data += bytes + "x"; // odd offsets
    };
    for (bool little : {false, true})
        for (const auto& [be, le, values, floats] : kTypes) {
            std::string bytes;
            for (const char* hex : values) {
                const std::string b = hexbytes(hex);
                bytes += little ? std::string(b.rbegin(), b.rend()) : b;
            }
            record(little ? le : be, values.size(), bytes);
            want.emplace_back(reinterpret_cast<const char*>(floats.data()), 4 * floats.size());
        }
    // e1: the example and a plain block, whole and ending inside the first; then a check value off.
    const std::string example = hexbytes(e1enc::kExample),
                      plain = e1enc::plain({0x01000001, 0x01000003, INT32_MIN, INT32_MAX});
    std::vector<float> e1values(e1enc::kExampleSamples.begin(), e1enc::kExampleSamples.end());
    for (const std::uint32_t f : std::get<3>(kTypes[0]))
        e1values.push_back(std::bit_cast<float>(f));
    for (const std::size_t n : {44u, 30u}) {
        record("e1", n, example + plain);
        want.emplace_back(reinterpret_cast<const char*>(e1values.data()), 4 * n);
    }
    std::string refused = "wfdxlate: ERROR 2049: Record not converted: its e1 samples cannot "
                          "be decoded: d/a.wfdisc:13 d/all.w block at byte " +
                          std::to_string(data.size() + plain.size()) +
                          ": check value 411 is not the last sample 412\n";
    record("e1", 44, plain + example.substr(0, 7) + "\x9b" + example.substr(8));
    // A sample file that ends before its size says (a /sys file: 4096 bytes, a few held).
    const std::string sys = "/sys/devices/system/cpu/online", held = e2e::readfile(sys),
                      e1 = refused;
    if (fs::is_regular_file(sys) && fs::file_size(sys) >= 400 && held.size() < 400) {
        wf += css30("S", "Z", kT0, "100", "1", "s4", "/sys/devices/system/cpu", "online", "0");
        refused += "wfdxlate: ERROR 2037: Record not converted: its samples cannot be read: "
                   "d/a.wfdisc:14 " +
                   sys + " file ended after " + std::to_string(held.size()) + " of 400 bytes\n";
    }
    file("d/all.w", data); // dir "-": the wfdisc file's directory, not the working one
    file("d/a.wfdisc", wf);
    const auto r = run({"-q", "-o", "out", "d/a.wfdisc"}), dry = run({"-n", "-q", "d/a.wfdisc"});
    EXPECT_EQ(r.err + std::to_string(r.status) + dry.err + std::to_string(dry.status),
              refused + "2" + e1 + "2"); // a dry run decodes e1 blocks too
    for (std::size_t i = 0; i < want.size(); ++i)
        got.push_back(out("STA." + std::to_string(10 + i) + kName).substr(at::DATA));
    EXPECT_EQ(got, want);
    const std::string first = out("STA.10" + kName); // KINST from instype, SCALE from calib
    EXPECT_EQ(first.substr(at::KINST, 8) + out("STA.11" + kName).substr(at::KINST, 8),
              "STS2    -12345  ");
    EXPECT_EQ(fword(first, at::SCALE), 0.5f);
}

TEST_F(Batch, BothLayoutsAndAutoGiveTheSameFile) {
    file("w/s.w", hexbytes("0000000A0000000B"));
    // One record: CSS 2.8 with two user texts and with one.
    file("w/c.wfdisc",
         "2016366 1483228799.9994 ANMO BHZ 2 20 0.5 1 - - s4 - 1 1 - s.w 0 -1 rem net quiet\n");
    file("w/d.wfdisc",
         "2016366 1483228799.9994 ANMO BHZ 2 20 0.5 1 - - s4 - 1 1 - s.w 0 -1 rem net\n");
    const std::string name = "ANMO.BHZ.2016.366.23.59.59.999.kiv";
    std::string first;
    // clang-format off
    const std::tuple<std::string, const char*, std::string> runs[] = {{"w/c.wfdisc", "auto", "net     quiet   "}, {"w/d.wfdisc", "css2.8", "net     -12345  "}}; // d: one user text only
    // clang-format on
    for (const auto& [f, schema, users] : runs) {
        const auto r = schema[0] == '-' ? run({schema, "-q", "-o", "out", f})
                                        : run({"--schema", schema, "-q", "-o", "out", f});
        EXPECT_EQ(r.err + std::to_string(r.status), "0") << f;
        std::string k = out(name);
        EXPECT_EQ(k.substr(at::DATA) + k.substr(at::KUSER0, 16),
                  hexbytes("0000204100003041") + users);
        k.erase(at::KUSER0, 16); // the user texts are all that differs
        if (first.empty()) first = k;
        EXPECT_EQ(k, first) << f;
        fs::remove(p("out/" + name));
    }
}

TEST_F(Batch, RefusalsNameFileAndLineAndTheRestConverts) {
    file("s.w", hexbytes("0000000100000002"));
    fs::create_directories(root / "adir");
    // clang-format off
    const std::string R = "Record not converted: ", N = "2031: " + R + "a column is not a number or is out of range: b.wfdisc:",
        F = "2035: " + R + "the sample file cannot be opened or is not a regular file: b.wfdisc:",
        S = "2032: " + R + "the sampling rate is not a number above 0 whose interval is a normal 32-bit float: b.wfdisc:",
        L = "2044: " + R + "the line is longer than 1023 characters or holds a NUL character: b.wfdisc:", W = "S.W" + kName;
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"S A " + kT0 + " -1 -1 0 0 1 1 0.5 1 - - s4 -\n", "2030: " + R + "fewer columns than its layout needs: b.wfdisc:1 css3.0 (15 of 19)"},
        {css30("S", "B", "later", "1", "1", "s4", ".", "s.w", "0"), N + "2 time later"},
        {css30("S", "C", kT0, "-1", "1", "s4", ".", "s.w", "0"), N + "3 nsamp -1"},
        {css30("S", "D", kT0, "1", "-1", "s4", ".", "s.w", "0"), S + "4 -1"},
        {css30("S", "E", kT0, "1", "nan", "s4", ".", "s.w", "0"), S + "5 nan"},
        {css30("S", "F", kT0, "1", "1", "e2", ".", "s.w", "0"), "2033: " + R + "datatype is none of s4 i4 s2 i2 s3 i3 t4 f4 t8 f8 e1: b.wfdisc:6 e2"},
        {rec("G", ".", "nothere.w"), F + "7 nothere.w No such file or directory"},
        {rec("H", ".", "adir"), F + "8 adir not a regular file"},
        {css30("S", "I", kT0, "2", "1", "s4", ".", "s.w", "1"), "2036: " + R + "the sample file is too short for nsamp samples from byte foff: b.wfdisc:9 s.w (8 bytes, needs 9)"},
        {css30("S/x", "J", kT0, "1", "1", "s4", ".", "s.w", "0"), "2038: " + R + "station or channel name cannot be part of a file name: b.wfdisc:10 S/x J"},
        {rec("K"), ""},
        {css30("S", "K", kT0, "2", "1", "s4", ".", "s.w", "0"), "2039: " + R + "its output name was already written in this run: b.wfdisc:12 out/S.K" + kName + " first written by b.wfdisc:11"},
        {std::string(1100, 'x') + "\n", L + "13"},
        {rec("L", ".", "s.w", "4.5"), N + "14 foff 4.5"},
        {rec("M", ".", "s.w", "4"), ""},
        {css30("S", "P", "1e10", "1", "1", "s4", ".", "s.w", "0"), N + "16 time 1e10"},
        {"S Q " + kT0 + std::string(1, '\0') + "\n", L + "17"},
        {css30("S", "R", kT0, "1", "1e39", "s4", ".", "s.w", "0"), S + "18 1e39"}, // an interval below the normal floats
        {css30("S", "R", kT0, "100", "1e-37", "s4", ".", "s.w", "0"), S + "19 1e-37 (E would be beyond a 32-bit float)"},
        {rec("V", "out", "S.V" + kName), "2047: " + R + "its output would replace its own sample file: b.wfdisc:20 out/S.V" + kName},
        {rec("W"), "2046: " + R + "its output would replace a wfdisc file of this run: b.wfdisc:21 out/" + W},
        {rec("X", "out", "S.K" + kName), "2048: " + R + "its sample file is an output of this run: b.wfdisc:22 out/S.K" + kName + " written by b.wfdisc:11"},
        {css30("S", "Y", kT0, "2", "5e-39", "s4", ".", "s.w", "0"), ""}, // E = 2e38 still a float
        {css30("S", "Z", kT0, "0", "1", "s4", ".", "s.w", "0"), ""}, // no samples at all
        {rec("U"), "2040: " + R + "its waveform file was not written: b.wfdisc:25 out/S.U" + kName + " Is a directory"},
        {css30("S", "T", kT0, "2147483489", "1", "s4", ".", "s.w", "0"), "2036: " + R + "the sample file is too short for nsamp samples from byte foff: b.wfdisc:26 s.w (8 bytes, needs 8589933956)"}, // the most
        {"", "2041: Wfdisc file cannot be read: missing.wfdisc No such file or directory"},
        {"", "2041: Wfdisc file cannot be read: adir Is a directory"},
        {"", "2041: Wfdisc file cannot be read: /proc/self/mem Input/output error"}, // a read that fails
        {"", "2041: Wfdisc file cannot be read: /dev/zero (a character device)"}, // read for ever
        {"", "2034: " + R + "the date column disagrees with the date of the start time: c.wfdisc:2 2017066 (start time is in 2017067)"},
        {"", "2034: " + R + "the date column disagrees with the date of the start time: y.wfdisc:1 17067 (start time is in 2017067)"}, // 5 digits: a date
        {"", "2092: Wfdisc file not read: it is not a file of wfdisc records: x.wfdisc (its one line is not a record of the css3.0 or css2.8 layout)"},
        {"", "2046: " + R + "its output would replace a wfdisc file of this run: out/" + W + ":1 out/" + W}, // itself
    };
    // clang-format on
    std::string wf, want;
    for (const auto& [line, msg] : bad)
        wf += line, want += msg.empty() ? "" : "wfdxlate: ERROR " + msg + "\n";
    const std::string self = rec("W", p(""));
    file("b.wfdisc", wf);
    file("x.wfdisc", "12345 ABC 3 4\n");
    file("y.wfdisc", "17067 " + kT0 + " S N 1 1 1 1 - - s4 - 1 1 . s.w 4\n");
    file("out/S.V" + kName, "own!");
    file("out/" + W, self);
    file("c.wfdisc", "2017067 " + kT0 + " S N 1 1 1 1 - - s4 - 1 1 . s.w 4\n2017066 " + kT0 +
                         " S O 1 1 1 1 - - s4 - 1 1 . s.w 4\n");
    fs::create_directories(root / "out" / ("S.U" + kName) / "full"); // no rename over it
    const auto r =
        run({"b.wfdisc", "missing.wfdisc", "-o", "out/", "adir", "/proc/self/mem", "/dev/zero",
             "c.wfdisc", "y.wfdisc", "x.wfdisc", "out/" + W}); // an option among the files
    EXPECT_EQ(r.err.substr(0, r.err.rfind(',')) + std::to_string(r.status),
              want + "wfdxlate: 5 records converted, 25 refused, 5 samples, 4 wfdisc files2");
    EXPECT_EQ(listing("out"),
              (std::vector<std::string>{"S.K" + kName, "S.M" + kName, "S.N" + kName, "S.U" + kName,
                                        "S.V" + kName, W, "S.Y" + kName, "S.Z" + kName}));
    EXPECT_EQ(out("S.V" + kName) + out(W), "own!" + self); // neither replaced
    EXPECT_EQ(word(out("S.K" + kName), at::NPTS) + sample(out("S.M" + kName), 0),
              3.0f); // the first writer's stays; foff 4: sample 2
    // A refusal after a success, a file refused whole, a failed read.
    for (const char* alone : {"c.wfdisc", "x.wfdisc", "/proc/self/mem"})
        EXPECT_EQ(run({"-q", "-o", "out", alone}).status, 2) << alone;
}

// A shell command (the program as $0) with standard error on a terminal: status, what it showed.
std::pair<int, std::string> onterminal(const std::string& cmd, const fs::path& cwd) {
    int master = -1;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    if (pid < 0) return {-1, "no pseudo-terminal"};
    if (pid == 0)
        ::chdir(cwd.c_str()) == 0 &&
            ::execl("/bin/sh", "sh", "-c", cmd.c_str(), WFDXLATE_BIN, nullptr),
            ::_exit(127);
    std::string seen, b(4096, '\0');
    for (ssize_t n; (n = ::read(master, b.data(), b.size())) > 0 || (n < 0 && errno == EINTR);)
        seen.append(b.data(), static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
    int st = 0;
    ::waitpid(pid, &st, 0);
    ::close(master);
    return {WEXITSTATUS(st), seen};
}

TEST_F(Batch, PipesAreReadOnceAndRepeatsNameTheirTrueFirstWriter) {
    file("s.w", hexbytes("00000007"));
    std::string wf = rec("R", p(""), "missing.w") + rec("R", p("")); // the first R is refused
    std::vector<int> repeats;
    for (int i = 0, line = 3; i < 200; ++i, ++line) {
        wf += rec("C" + std::to_string(i), p(""));
        if (i % 20 == 0) wf += rec("R", p("")), repeats.push_back(++line);
    }
    file("a.wfdisc", wf);
    // With standard error on a terminal: the progress line counts, never reads ahead; a directory
    // named takes nothing from the total.
    for (const auto& [cmd, name, progress] :
         {std::tuple<std::string, std::string, std::string>{
              "cat a.wfdisc | timeout 30 \"$0\" -o out /dev/stdin", "/dev/stdin",
              "\r212 records, "},
          {"\"$0\" -o out a.wfdisc missing.wfdisc .", "a.wfdisc", "\r212 of 212 records, "}}) {
        fs::remove_all(root / "out");
        fs::create_directories(root / "out");
        const auto [status, seen] = onterminal(cmd, root);
        if (status == -1) GTEST_SKIP() << seen;
        EXPECT_EQ(status, 2) << cmd;
        EXPECT_NE(seen.find(progress), std::string::npos) << cmd;
        EXPECT_EQ(seen.find("\033[Kwfdxlate: ERROR"), seen.find("\r\033[Kwfdxlate: ERROR") + 1)
            << seen; // erased before
        EXPECT_NE(seen.find("\r\033[Kwfdxlate: 201 records converted, 11 refused"),
                  std::string::npos)
            << seen;                   // erased first
        for (const int line : repeats) // each names the line that wrote it, not the refused one
            EXPECT_NE(seen.find(name + ":" + std::to_string(line) + " out/S.R" + kName +
                                " first written by " + name + ":2\r\n"),
                      std::string::npos)
                << cmd << line;
        EXPECT_EQ(listing("out").size(), 201u) << cmd; // every distinct record, not one lost
    }
    // The rate is what was read over the time taken, for a run under a second too; the total
    // counts a wfdisc file opened on descriptor 0 (closed, no /dev/null to fill it, no -o).
    file("big.w", std::string(4000000, '\1'));
    file("big.wfdisc", css30("S", "BIG", kT0, "1000000", "1", "s4", ".", "big.w", "0"));
    const auto [status, seen] = onterminal(
        "if unshare -rm true 2>/dev/null; then exec unshare -rm sh -c 'mkdir -p nodev && mount "
        "--bind nodev /dev && exec \"$0\" big.wfdisc <&-' \"$0\"; else exec \"$0\" big.wfdisc; fi",
        root);
    EXPECT_TRUE(status == 0 && seen.find("\r1 of 1 records, ") != std::string::npos &&
                seen.find("\r1 of 1 records, 0.0 MB/s") == std::string::npos)
        << seen;
}

TEST_F(Batch, EachWfdiscFileIsClosedOnceRead) { // 40 of them under a limit of 16 descriptors
    file("s.w", hexbytes("00000007"));
    for (int i = 0; i < 40; ++i) file("w" + std::to_string(i) + ".wfdisc", rec(std::to_string(i)));
    const auto r =
        e2e::run({"/bin/sh", "-c", "ulimit -n 16 && exec \"$0\" -q -o out w*.wfdisc", WFDXLATE_BIN},
                 work.string(), "", env);
    EXPECT_EQ(r.err + std::to_string(r.status) + std::to_string(listing("out").size()), "040");
}

TEST_F(Batch, StoppedRunsLeaveNoTemporaryFileKilledOnesOnlyWhatIsProvablyStale) {
    std::string w;
    for (int i = 0; i < 20; ++i)
        w += css30("S", "Z" + std::to_string(i), kT0, "4000000", "1", "s4", ".", "s.w", "0");
    file("s.w", std::string(16000000, '\1'));
    file("a.wfdisc", w);
    file("b.wfdisc", rec("Y"));
    // Stopped by SIGTERM mid-write: none left. Killed mid-write: its own, this host's, process
    // gone.
    const auto r = e2e::run(
        {"/bin/sh", "-c",
         "\"$0\" -o out a.wfdisc & until ls -A out | grep -qv kiv$; do :; done; kill $!; wait $!; "
         "echo $? $(ls -A out | grep -c kivtmp); "
         "\"$0\" -o out a.wfdisc & while :; do until ls -A out | grep -q kivtmp; do :; done; "
         "kill -STOP $!; ls -A out | grep -q kivtmp && break; kill -CONT $!; done; kill -9 $!; "
         "wait $!",
         WFDXLATE_BIN},
        root.string(), "", {});
    EXPECT_EQ(r.out, std::to_string(128 + SIGTERM) + " 0\n");
    for (const auto& f : listing("out")) f.starts_with(".kivtmp") || fs::remove(p("out/" + f));
    const std::string left = listing("out").at(0), tag = left.substr(8, 17),
                      pid = left.substr(25, left.rfind('-') - 25);
    ASSERT_EQ(left.substr(0, 8) + std::to_string(left.size() - pid.size()), ".kivtmp-34") << left;
    const std::string foreign = ".kivtmp-0123456789abcdef-" + pid, earlier = ".kivtmp-" + pid,
                      live = ".kivtmp-" + tag + std::to_string(::getpid()) + "-ABCDEFGH";
    for (const std::string& f : {foreign + "-ABCDEFGH", foreign + "-OLDOLDOL",
                                 earlier + "-ABCDEFGH", earlier + "-OLDOLDOL", live})
        file("out/" + f, "left");
    for (const std::string& f : {foreign + "-OLDOLDOL", earlier + "-OLDOLDOL"}) // two days old
        fs::last_write_time(p("out/" + f),
                            fs::file_time_type::clock::now() - std::chrono::hours(48));
    // Untouched for a day to the second is not yet stale (set and swept within one second).
    const auto second = [] {
        return std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    };
    for (auto t = second();; t = second()) {
        file("out/" + foreign + "-ONEDAYOK", "left");
        fs::last_write_time(p("out/" + foreign + "-ONEDAYOK"),
                            std::chrono::file_clock::from_sys(t - std::chrono::hours(24)));
        EXPECT_EQ(run({"-q", "-o", "out", "b.wfdisc"}).status, 0);
        if (second() == t) break;
    }
    // Another host's or an earlier form's may be alive elsewhere: they stay while fresh.
    std::vector<std::string> stay{foreign + "-ABCDEFGH", foreign + "-ONEDAYOK",
                                  earlier + "-ABCDEFGH", live, "S.Y" + kName};
    std::sort(stay.begin(), stay.end()); // as listed: the order depends on the process ids
    EXPECT_EQ(listing("out"), stay);
}

TEST_F(Batch, DryRunRerunUsageAndOutputDirectoriesMade) {
    const std::string name = "S.Z.2000.001.13.00.05.250.kiv",
                      a = css30("S", "Z", "946731605.25", "1", "1", "s4", ".", "s.w", "0");
    file("s.w", hexbytes("00000001"));
    file("a.wfdisc", a);
    auto r = run({"-n", "-o", "new/er", "a.wfdisc"}); // nothing written, no directory made
    EXPECT_EQ(r.out + std::to_string(r.status) + std::to_string(fs::exists(p("new"))),
              "a.wfdisc:1 -> new/er/" + name + " (1 samples, s4)\n00");
    EXPECT_EQ(
        r.err.substr(0, r.err.rfind(',')),
        "wfdxlate: dry run: 1 records would be converted, 0 refused, 1 samples, 1 wfdisc files");
    file("b.wfdisc",
         css30("S", "Z", "-86401", "1", "1", "s4", ".", "s.w", "0") +
             css30("S", "Y", kT0, "1", "1", "s44", ".", "s.w", "0") + // before 1970; bad type
             css30("AAAAAAA\xC3\x85", "\xC3\x85\xC3\x85\xC3\x85\xC3\x85\xC3\x85", kT0, "1", "1",
                   "s4", ".", "s.w", "0") +
             css30("AAAA\x80\x80\x80\x80\x80", "Z", "951868800", "1", "1", "s4", ".", "s.w",
                   "0")); // never more than a character back
    r = run({"-n", "b.wfdisc"});
    const std::string dry =
        "b.wfdisc:1 -> S.Z.1969.364.23.59.59.000.kiv (1 samples, s4)\n"
        "b.wfdisc:3 -> AAAAAAA.\xC3\x85\xC3\x85\xC3\x85\xC3\x85" +
        kName +
        " (1 samples, s4)\n"
        "b.wfdisc:4 -> AAAA\x80.Z.2000.061.00.00.00.000.kiv (1 samples, s4)\n"; // 2000-03-01
    EXPECT_EQ(r.out + std::to_string(r.status), dry + "2"); // file names cut between characters
    e2e::Options full = env;
    full.outfile = "/dev/full";
    const auto lost = run({"-n", "a.wfdisc"}, "", &full); // a listing lost
    EXPECT_EQ(std::pair(lost.status, lost.err.find("wfdxlate: ERROR 2014: Standard output "
                                                   "cannot be written")),
              std::pair(2, 0ul));
    // A KIVAUX without the catalogue: said in words, and the built-in texts, not bare numbers.
    e2e::Options nowhere = env;
    nowhere.kivaux = p("nowhere");
    const auto nocat = run({"-n", "b.wfdisc"}, "", &nowhere);
    EXPECT_EQ(nocat.out + nocat.err.substr(0, nocat.err.rfind(',')),
              r.out +
                  "wfdxlate: WARNING: no message catalogue where KIVAUX points: " + p("nowhere") +
                  "/messages: No such file or directory; the built-in texts are "
                  "used\n" +
                  r.err.substr(0, r.err.rfind(',')));
    r = run({"a.wfdisc", "-o", "out"});
    EXPECT_EQ(r.status + r.err.find('\r'), std::string::npos); // 0, and no progress in a log
    const std::string once = out(name);
    fs::permissions(p("out/" + name), fs::perms(0600));
    file("-n", a);
    r = run({"-q", "-o", "out", "--", "-n"}); // a rerun replaces, keeps the mode; after --, a file
    EXPECT_EQ(r.err + r.out + std::to_string(r.status) + out(name), "0" + once);
    EXPECT_EQ(fs::status(p("out/" + name)).permissions(), fs::perms(0600));
    r = run({"--no-clobber", "-o", "out", "a.wfdisc"}); // kept, its record refused
    EXPECT_EQ(r.err.substr(0, r.err.rfind(',')) + std::to_string(r.status) + out(name),
              "wfdxlate: ERROR 2091: Not converted: its output exists, and -k keeps it: "
              "a.wfdisc:1 out/" +
                  name + "\nwfdxlate: 0 records converted, 1 refused, 0 samples, 1 wfdisc files2" +
                  once);
    // clang-format off
    const std::string usage = "Try 'wfdxlate --help'",
        notdir = "ERROR 2045: Output directory cannot be used: a.wfdisc/sub Not a directory";
    for (const auto& [args, msg] : std::vector<std::pair<std::vector<std::string>, std::string>>{{{"-q"}, usage},
             {{"-x", "a.wfdisc"}, usage}, {{"--schema", "css4", "a.wfdisc"}, usage}, {{"a.wfdisc", "-o"}, usage},
             {{"-o", "", "a.wfdisc"}, usage}, {{"-n", "-o", "a.wfdisc/sub", "a.wfdisc"}, notdir},
             {{"--dir-map", "nomap", "a.wfdisc"}, usage}, {{"--dir-map", "=/x", "a.wfdisc"}, usage},
             {{"--dir-map=/x=", "a.wfdisc"}, usage}, {{"--root", "", "a.wfdisc"}, usage}, {{"--root"}, usage}}) {
        // clang-format on
        r = run(args);
        EXPECT_EQ(std::tuple(r.out, r.status, r.err.find(msg) != std::string::npos),
                  std::tuple("", 1, true))
            << args[0];
    }
    r = run({"--help"});
    EXPECT_EQ(r.out.rfind("Usage: wfdxlate", 0) + r.status, 0u);
    EXPECT_EQ(listing("out"), std::vector<std::string>{name});
    // A missing output directory is made with its parents, as the run's umask allows.
    const mode_t mask = ::umask(0);
    for (const std::string& dir : {p("made/a/b"), std::string("out/deeper//still")}) {
        r = run({"-q", "-o", dir, "a.wfdisc"});
        EXPECT_EQ(r.err + std::to_string(r.status), "0") << dir;
        EXPECT_TRUE(fs::is_regular_file(work / dir / name)) << dir;
    }
    for (const std::string made : {"made", "made/a", "made/a/b", "out/deeper", "out/deeper/still"})
        EXPECT_EQ(fs::status(p(made)).permissions(), fs::perms(0777)) << made;
    ::umask(mask);
}

TEST_F(Batch, FilesOfNoRecordsAreRefusedWholeInOneLinePipesReadOnce) {
    file("s.w", hexbytes("00000007"));
    const std::string good = rec("Z"), junk = "this is prose, not a record\n",
                      nul = std::string("S Z 1\0 2\n", 9);
    std::string ten, eleven = good;
    const auto piped = [this](Arg in, Arg opts, Arg more = "") {
        return e2e::run(
            {"/bin/sh", "-c",
             "PATH=/bin:/usr/bin; " + in + "\"" WFDXLATE_BIN "\" " + opts + " /dev/stdin" + more},
            work.string(), "", env);
    };
    for (int i = 0; i < 10; ++i) ten += junk;
    const std::string cut =
        "(none of its first 10 lines is a record of the css3.0 or css2.8 layout)";
    // clang-format off
    const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
        {"bin", "\n \t\n" + nul + good, "(line 3 holds a NUL byte)"},  // the first record line tells
        {"blanks", std::string(100000, '\n') + nul, "(line 100001 holds a NUL byte)"}, // held as a count
        {"ten", ten + good, cut},                                      // a record too late to count
        {"few", junk + "\n" + junk + junk, "(none of its lines is a record of the css3.0 or css2.8 layout)"},
    };
    // clang-format on
    for (const auto& [name, text, why] : cases) {
        file(name + ".wfdisc", text);
        for (const std::string how : {"file", "pipe"}) {
            const auto r = how == "file" ? run({"-o", "out", name + ".wfdisc"})
                                         : piped("cat " + name + ".wfdisc | ", "-o out");
            const std::string shown = how == "file" ? name + ".wfdisc" : "/dev/stdin";
            EXPECT_EQ(r.err.substr(0, r.err.rfind(',')) + std::to_string(r.status),
                      "wfdxlate: ERROR 2092: Wfdisc file not read: it is not a file of wfdisc "
                      "records: " +
                          shown + " " + why +
                          "\nwfdxlate: 0 records converted, 0 refused, 0 samples, 0 wfdisc files2")
                << name << " " << how;
        }
    }
    EXPECT_TRUE(listing("out").empty());
    // A record on the tenth line: the file is read, each bad line refused by itself.
    for (int i = 0; i < 9; ++i) eleven = junk + eleven;
    file("late.wfdisc", "\n \n" + eleven + "\n\n\n" + nul + good); // blank lines in runs, counted
    file("head.wfdisc", junk + good);
    const auto r = piped("cat late.wfdisc | ", "-q --schema css3.0 --root . -o out", "");
    const auto head = run({"-q", "-o", "out", "head.wfdisc"});
    std::string want;
    for (int line = 3; line <= 11; ++line)
        want += "wfdxlate: ERROR 2030: Record not converted: fewer columns than its layout "
                "needs: /dev/stdin:" +
                std::to_string(line) + " css3.0 (6 of 19)\n";
    want += "wfdxlate: ERROR 2044: Record not converted: the line is longer than 1023 characters "
            "or holds a NUL character: /dev/stdin:16\n"
            "wfdxlate: ERROR 2039: Record not converted: its output name was already written in "
            "this run: /dev/stdin:17 out/S.Z" +
            kName + " first written by /dev/stdin:12\n";
    EXPECT_EQ(r.err + std::to_string(r.status), want + "2");
    EXPECT_EQ(head.err + std::to_string(head.status),
              "wfdxlate: ERROR 2042: Wfdisc layout cannot be told from this first line; name it "
              "with --schema css3.0 or --schema css2.8: head.wfdisc:1\n2");
    EXPECT_EQ(listing("out"), std::vector<std::string>{"S.Z" + kName});
}

TEST_F(Batch, RootAndDirMapsFindArchivesThatMoved) {
    // The archive now lies under data/; its dir columns name where it was.
    file("data/gms/2017/066/a.w", hexbytes("00000001"));
    file("data/gms/2017/066/b.w", hexbytes("00000002"));
    file("data/other/c.w", hexbytes("00000003"));
    file("lists/day.wfdisc", rec("A", "/repo/gms/2017/066", "a.w") +     // mapped
                                 rec("B", "2017/066", "b.w") +           // relative: --root
                                 rec("C", "/repo/gms2", "c.w") +         // not under /repo/gms
                                 rec("D", "/repo/gms", "2017/066/a.w") + // the whole FROM
                                 rec("E", "/elsewhere/c", "c.w") +       // the first map that fits
                                 rec("F", "-", "2017/066/b.w"));
    const auto r =
        run({"-q", "-o", "out", "--root", p("data/gms"), "--dir-map=/repo/gms/=" + p("data/gms"),
             "--dir-map", "/elsewhere/c=" + p("data/other"), "--dir-map", "/elsewhere=/nowhere",
             "lists/day.wfdisc"});
    EXPECT_EQ(r.err + std::to_string(r.status),
              "wfdxlate: ERROR 2035: Record not converted: the sample file cannot be opened or "
              "is not a regular file: lists/day.wfdisc:3 /repo/gms2/c.w No such file or "
              "directory\n2");
    for (const auto& [chan, value] :
         {std::pair{"A", 1.0f}, {"B", 2.0f}, {"D", 1.0f}, {"E", 3.0f}, {"F", 2.0f}})
        EXPECT_EQ(fword(out(std::string("S.") + chan + kName), at::DATA), value) << chan;
    // A root relative to the working directory; a map to / of a whole tree.
    file("lists/e.wfdisc",
         rec("G", "gms/2017/066", "a.w") + rec("H", "/", p("data/gms/2017/066/b.w")));
    EXPECT_EQ(
        run({"-q", "-o", "out", "--root", "data", "--dir-map", "/=/x", "lists/e.wfdisc"}).status,
        0);
    EXPECT_EQ(fword(out("S.G" + kName), at::DATA), 1.0f);
    file("lists/f.wfdisc", rec("J", "/a/b", "a.w"));
    EXPECT_EQ(run({"-q", "-o", "out", "--dir-map", "/=" + p("data/gms/2017/066") + "/", "--root",
                   p("nowhere"), "lists/f.wfdisc"})
                  .status,
              2); // /a/b/a.w under it
    file("data/gms/2017/066/a/b/a.w", hexbytes("00000009"));
    EXPECT_EQ(
        run({"-q", "-o", "out", "--dir-map", "/=" + p("data/gms/2017/066") + "/", "lists/f.wfdisc"})
            .status,
        0);
    EXPECT_EQ(fword(out("S.J" + kName), at::DATA), 9.0f);
}

} // namespace
