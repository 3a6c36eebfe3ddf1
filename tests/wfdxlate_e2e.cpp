// SPDX-License-Identifier: Apache-2.0
// wfdxlate run as a user would: piped answer, a working directory, KIVAUX set,
// output files compared byte for byte with files built by hand from the layout.
#include "e2e.h"
#include "kivlayout.h"

#include <gtest/gtest.h>

#include <limits>
#include <set>
#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace std::string_literals;
namespace at = kivtest::at;

namespace {

const std::string kPrompt = "Enter wfdisc filename: ";

// The file a record must give: a reset header with what the converter sets.
struct Kiv {
    float delta = 0.05f;
    std::vector<std::int32_t> time = {1995, 123, 0, 0, 0, 0};             // NZYEAR .. NZMSEC
    std::string sta = "ABC", cmp = "BHZ", user0 = "quiet", user1 = "day"; // "": undefined
    std::vector<float> y;
    std::string bytes() const {
        kivtest::HandKiv h;
        h.f(at::DELTA, delta);
        h.f(at::B, 0.0f);
        h.n(at::NPTS, static_cast<std::int32_t>(y.size()));
        for (std::size_t i = 0; i < 6; ++i) h.n(at::NZYEAR + 4 * i, time[i]);
        h.k(at::KSTNM, sta);
        h.k(at::KCMPNM, cmp);
        if (!user0.empty()) h.k(at::KUSER0, user0);
        if (!user1.empty()) h.k(at::KUSER1, user1);
        return h.with(y);
    }
};

std::string samples(const std::vector<std::int32_t>& v) {
    return std::string(reinterpret_cast<const char*>(v.data()), v.size() * 4);
}

// A wfdisc line: tokens 1-6 given, 7-15 filler, 16 the path, 17-19 filler, the user texts.
std::string line(const std::string& t1to6, const std::string& path,
                 const std::string& users = "quiet day") {
    return t1to6 + " 1 1 STS o s4 - 1 1 . " + path + " 0 -1 2015" +
           (users.empty() ? "" : " " + users) + "\n";
}

std::string err(int num, const std::string& text) {
    return " \aERROR " + std::to_string(num) + ": Record not converted: " + text + "\n";
}

struct Wfdxlate : ::testing::Test, e2e::Scratch {
    std::string bin = WFDXLATE_BIN;
    Wfdxlate() : e2e::Scratch(KIVF_SOURCE_DIR "/kivaux/messages") {}
    e2e::Result run(const std::string& answer, const e2e::Options* o = nullptr) {
        return e2e::run({bin}, work, answer, o ? *o : env);
    }
    std::set<std::string> kivfiles() const {
        std::set<std::string> v;
        for (const auto& e : fs::recursive_directory_iterator(work))
            if (e.path().extension() == ".kiv") v.insert(e.path().lexically_relative(work));
        return v;
    }
};

TEST_F(Wfdxlate, ConvertsRecordsUntilABlankLine) {
    file("a.w", samples({1, -1, 16777217, 7, 99, 98}));
    file("b.w", samples({5, 6}));
    file("l.w", samples({5, 6}));
    ::chmod(p("a.w").c_str(), 0444); // read-only converts
    if (::getuid() == 0) {           // root may write anything: run as an ordinary user
        fs::copy_file(bin, root / "wfdxlate");
        bin = root / "wfdxlate";
        env.uid = 65534;
    }
    const std::string p30 = "p" + std::string(27, 'x') + ".w";
    file(p30, samples({4}));
    std::string wf = line("1995123 700000000.5 ABC BHZ 4 20.0", "a.w") +
                     line("2001002 3600.5 LONGSTATION LHZ 2 0", "l.w", "") +
                     line("1995123 0 ABC BHZ 2 20", "b.w") + "   95123   12  A\tB   " +
                     std::string(35, 'C') + "   1   20   1 1 STS o s4 - 1 1 . " + p30 +
                     " 0 -1 2015 u0 u1\n";
    // clang-format off
    std::vector<std::pair<std::string, Kiv>> want = {
        {"a.w.kiv", {.time = {1995, 123, 20, 26, 40, 500}, .y = {1.0f, -1.0f, 16777216.0f, 7.0f}}},
        {"l.w.kiv", {.delta = std::numeric_limits<float>::infinity(), .time = {2001, 2, 1, 0, 0, 500}, .sta = "LONGSTAT", .cmp = "LHZ", .user0 = "", .user1 = "", .y = {5.0f, 6.0f}}},
        {p30 + ".kiv", {.time = {9512, 3, 0, 0, 12, 0}, .sta = "A\tB", .cmp = "CCCCCCCC", .user0 = "u0", .user1 = "u1", .y = {4.0f}}}};
    const std::pair<std::string, std::vector<std::int32_t>> starts[] = {
        {"59.9999", {0, 0, 59, 999}}, {"2.3", {0, 0, 2, 300}}, {"86400", {0, 0, 0, 0}},
        {"-0.5", {23, 59, 59, 500}}, {"1425997541.050", {14, 25, 41, 50}}, {"0.0015", {0, 0, 0, 1}},
        {"9007199253.5", {23, 47, 33, 500}}};
    // clang-format on
    for (std::size_t i = 0; i < std::size(starts); ++i) {
        const std::string s = "s" + std::to_string(i) + ".w";
        const auto& [start, t] = starts[i];
        file(s, "");
        wf += line("1995123 " + start + " ABC BHZ 0 20", s);
        want.push_back({s + ".kiv", {.time = {1995, 123, t[0], t[1], t[2], t[3]}, .y = {}}});
    }
    std::string cut = line("1995123 0 ABC BHZ 1 20", "b.w", "u0"); // the last record of b.w wins
    cut.back() = ' ';
    cut.resize(209, ' ');
    wf += cut + " TOOFAR\n"; // token 21 would start at column 211: KUSER1 stays undefined
    want.push_back({"b.w.kiv", {.user0 = "u0", .user1 = "", .y = {5.0f}}});
    file("x.wfdisc", wf + "   \n" + line("1995123 0 ABC BHZ 1 20", "a.w"));
    const auto r = run("x.wfdisc   \n");
    EXPECT_EQ(std::tuple(r.out, r.err, r.status),
              std::tuple(kPrompt + " Error reading file information\n", "", 0));
    for (const auto& [name, kiv] : want) EXPECT_EQ(e2e::readfile(p(name)), kiv.bytes()) << name;
    EXPECT_EQ(kivfiles().size(), want.size());
    EXPECT_EQ(e2e::readfile(p("a.w")), samples({1, -1, 16777217, 7, 99, 98})); // samples untouched
}

TEST_F(Wfdxlate, RefusedRecordsAreNamedAndTheRunGoesOn) {
    file("ok.w", samples({1, 2, 3}));
    file("short.w", samples({1}));
    file("ok.w.kiv", "previous");
    for (const char* f : {"s2.w", "t2.w", "r.w", "t.w", "u.w"}) file(f, samples({1, 2}));
    file("z.w", "");
    file("big.w", std::string(360000, '\1'));
    ::mkfifo(p("f.w").c_str(), 0644);
    fs::create_symlink("f.w", work / "fl.w");
    std::string longline = line("1995123 0 ABC BHZ 2 20", "s2.w"),
                many = line("1995123 0 ABC BHZ 2 20", "t2.w");
    longline.insert(longline.size() - 1, 10000, 'x');
    for (int i = 0; i < 79; ++i) many.insert(many.size() - 1, " t"); // 100 tokens
    const std::string long31 = std::string(29, 'q') + ".w", ok = "1995123 0 ABC BHZ 3 20",
                      read = "samples cannot be read; wfdisc line ",
                      num = "a token is not a number or is out of range; wfdisc line ",
                      count = "sample count outside 0 to 90000; wfdisc line ";
    // clang-format off
    const std::pair<std::string, std::string> rows[] = {
        {line("1995123 0 ABC BHZ 90001 20", "ok.w"), err(2003, count + "1 90001")},
        {line("1995123 0 ABC BHZ -1 20", "ok.w"), err(2003, count + "2 -1")},
        {"1995123 0 ABC BHZ 3 20 1 1 STS o s4 - 1 1 .\n", err(2001, "fewer than 16 tokens; wfdisc line 3 has 15")},
        {line(ok, long31), err(2004, "sample file path longer than 30 characters; wfdisc line 4 " + long31)},
        {line("1995123 0 ABC BHZ 3x 20", "ok.w"), err(2002, num + "5 token 5 3x")},
        {line("1995123 9007199254 ABC BHZ 3 20", "ok.w"), err(2005, "start time cannot be held to the microsecond; wfdisc line 6 9007199254")},
        {line("19x5123 0 ABC BHZ 3 20", "ok.w"), err(2002, num + "7 token 1 19x5123")},
        {line("1995123 0 ABC BHZ 3 nan", "ok.w"), err(2002, num + "8 token 6 nan")},
        {line(ok, "missing.w"), err(2006, read + "9 missing.w File does not exist: missing.w")},
        {line(ok, "short.w"), err(2006, read + "10 short.w Data read failed or came up short.")},
        {line("1995123 x ABC BHZ 3 20", "ok.w"), err(2002, num + "11 token 2 x")},
        {ok + "\0"s + line(" 1", "ok.w"), err(2009, "it holds a NUL character; wfdisc line 12")},
        {line(ok, "ok.w"), ""},
        {"\t\n", err(2001, "fewer than 16 tokens; wfdisc line 14 has 1")}, // one character, and no blank
        {longline, ""}, {many, ""}, // the rest of a line too long is passed over
        {line("1995123 0 ABC BHZ 0 20", "z.w"), ""}, {line("1995123 0 ABC BHZ 90000 20", "big.w"), ""}, {line("1995123 0 ABC BHZ 2 -1", "r.w"), ""},
        {line("1995123 0 ABC BHZ 2 1", "fl.w"), err(2006, read + "20 fl.w Cannot open or create file fl.w (Not a regular file: a FIFO.)")}, // a link to one
        {line("1995123 0 A B \x1b]0;x\x07 1", "ok.w"), err(2002, num + "21 token 5 ?]0;x?")}, // control characters not echoed
        {"1995123 0 A B 2 1 1 1 STS o s4 - 1 1 . " + std::string(168, ' ') + "s.wx 0 -1 2015 u0 u1\n", err(2012, "its sample file path is cut by the 210-column limit; wfdisc line 22")},
        {line("20150 0 A B 2 1", "ok.w"), err(2002, num + "23 token 1 20150")},
        {line("12345678 0 A B 2 1", "ok.w"), err(2002, num + "24 token 1 12345678")},
        {line("95123 0 A B 2 1", "t.w"), ""}, {line("19953669 0 A B 2 1", "u.w"), ""}, // digits past the 7th ignored
        {"\0"s + line(ok, "ok.w"), err(2009, "it holds a NUL character; wfdisc line 27")}};
    // clang-format on
    std::string wf, want = kPrompt;
    for (const auto& [rec, msg] : rows) wf += rec, want += msg;
    file("r.wfdisc", wf);
    const auto r = run("r.wfdisc\n");
    EXPECT_EQ(std::tuple(r.out, r.status), std::tuple(want, 2));
    EXPECT_EQ(kivfiles(), (std::set<std::string>{"big.w.kiv", "ok.w.kiv", "r.w.kiv", "s2.w.kiv",
                                                 "t.w.kiv", "t2.w.kiv", "u.w.kiv", "z.w.kiv"}));
    EXPECT_EQ(e2e::readfile(p("ok.w.kiv")), (Kiv{.y = {1, 2, 3}}.bytes()));
}

TEST_F(Wfdxlate, ExitStatuses) {
    file("a.w", samples({1}));
    file("good.wfdisc", line("1995123 0 ABC BHZ 1 20", "a.w"));
    file("b.w", samples({1}));
    fs::create_directories(work / "b.w.kiv"); // its only record cannot be written
    file("nowrite.wfdisc", line("1995123 0 ABC BHZ 1 20", "b.w"));
    e2e::Options unset, tiny = env; // tiny: the prompt fills standard output's file
    tiny.fsize = std::ssize(kPrompt);
    file("bad.wfdisc",
         line("1995123 0 ABC BHZ 2 20", "a.w") + "\n" + line("1995123 0 ABC BHZ 1 20", "a.w"));
    // clang-format off
    const std::string e2007 = " \aERROR 2007: The wfdisc file name is longer than 30 characters or holds a NUL character: ",
        n30 = std::string(23, 'n') + ".wfdisc", ended = "\n \aERROR 2008: No wfdisc file name: standard input ended before a name was read.\n";
    file(n30, "");
    fs::create_directories(work / "adir.wfdisc");
    const struct Case { std::string answer; e2e::Options o; std::string out, err; int status; } cases[] = {
        {n30 + "\n", env, "", "", 0}, {"good.wfdisc\n", env, "", "", 0},
        {"bad.wfdisc\n", env, err(2006, "samples cannot be read; wfdisc line 1 a.w Data read failed or came up short.") + " Error reading file information\n", "", 2}, // stopped after a refusal
        {"nowrite.wfdisc\n", env, "\aERROR: Cannot open or create file b.w.kiv (System error occurred.)\n" + err(2011, "its waveform file was not written; wfdisc line 1 b.w.kiv"), "", 2},
        {"nothere.wfdisc\n", env, "Error opening wfdisc file..\n", "", 1}, {"adir.wfdisc\n", env, "Error opening wfdisc file..\n", "", 1},
        {"good.wfdisc\0x\n"s, env, e2007 + "good.wfdisc\n", "", 1}, {"good.wfdisc" + std::string(300, ' ') + "x\n", env, e2007 + "good.wfdisc\n", "", 1}, // beyond the line read
        {"good.wfdisc" + std::string(245, ' ') + "\n", env, "", "", 0}, // 256 characters: all read
        {n30 + "x\n", env, e2007 + n30 + "x\n", "", 1}, {"", env, ended, "", 1},
        {"good.wfdisc\n", unset, "", "ERROR: Environmental variable KIVAUX not defined.\n", 1},
        {"nothere.wfdisc\n", tiny, "", std::string("ERROR 2014: Standard output cannot be written").substr(0, kPrompt.size()), 1}}; // its message lost, so said
    // clang-format on
    for (const auto& c : cases) {
        fs::remove(p("a.w.kiv"));
        const auto r = run(c.answer, &c.o);
        EXPECT_EQ(std::tuple(r.out, r.err, r.status), std::tuple(kPrompt + c.out, c.err, c.status))
            << c.answer;
        EXPECT_EQ(fs::exists(p("a.w.kiv")), c.answer.starts_with("good.wfdisc") && c.status == 0)
            << c.answer;
    }
}

} // namespace
