// SPDX-License-Identifier: Apache-2.0
// Bad input, one row each: what is given, the message expected, the exit status, and what must
// (and must not) exist afterwards. Every row runs a built program in a directory of its own with
// a short time limit, so a row that would hang ends as a failure.
#include "e2e.h"
#include "kivlayout.h"

#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

const std::string kPrompt = "Enter wfdisc filename: ";

std::string err(int num, const std::string& text) {
    return " \aERROR "s + (num < 1000 ? " " : "") + std::to_string(num) + ": " + text + "\n";
}
const std::string kNoKiv = "kivhdr: ERROR 1410: KIV file does not exist: x.kiv\n";
const std::string nocat = "wfdxlate: WARNING: no message catalogue where KIVAUX points: ";

std::string rec(const std::string& t1to6, const std::string& path = "s.w") {
    return t1to6 + " 1 1 STS o s4 - 1 1 . " + path + " 0 -1 2015 u0 u1\n";
}
const auto words = [](std::size_t n) { return std::string(4 * n, '\1'); };

// How the program is started, and what else is checked afterwards.
struct Env : e2e::Scratch {
    std::vector<std::string> argv{WFDXLATE_BIN};
    std::string answer = "w\n";
    std::function<void(const Env&)> check = [](const Env&) {};
    Env() : e2e::Scratch(KIVF_SOURCE_DIR "/kivaux/messages") { env.seconds = 10; }
    void kivhdr(const std::string& arg) { argv = {KIVHDR_BIN, arg}; }
    void catalogue(const std::function<void(const fs::path&)>& make) {
        fs::create_directories(work / "cat");
        make(work / "cat/messages");
        env.kivaux = p("cat");
    }
    void unchanged(const std::string& name) { // a file that must keep its bytes
        check = [name, was = e2e::readfile(p(name))](const Env& e) {
            EXPECT_EQ(e2e::readfile(e.p(name)), was) << name;
        };
    }
};

// The usual setup: a sample file of 2 words and a wfdisc file of one record.
auto one(const std::string& t1to6, const std::string& path = "s.w") {
    return [=](Env& e) { e.file(path, words(2)), e.file("w", rec(t1to6, path)); };
}

struct Row {
    std::string what;
    std::function<void(Env&)> setup;
    std::string out; // after the prompt, exactly
    int status;
    std::vector<std::string> exist = {}, absent = {}; // relative to the working directory
    std::string errout = "";                          // standard error, exactly
};

// clang-format off
std::vector<Row> rows() {
    const std::string okrec = rec("1995123 0 A B 2 1"), full = "kivhdr: cannot write standard output: No space left on device\n";
    const std::string k2014 = "ERROR 2014: Standard output cannot be written: messages of this run were lost.\n";
    const auto hundreds = [](const fs::path& p) { // a catalogue of 401 lines
        std::ofstream c(p);
        for (int i = 0; i < 401; ++i) c << "2003 count refused (entry " << i << ")\n";
    };
    const auto tofull = [](Env& e) { e.env.outfile = "/dev/full"; };
    return {
        {"KIVAUX empty: said once for two records", [](Env& e) {
             e.env.kivaux = "", e.file("s.w", words(2)), e.file("t.w", words(2)), e.file("w", rec("1995123 0 A B 2 1") + rec("1995123 0 A C 2 1", "t.w"));
         }, err(108, "Number  108 /messages"), 0, {"s.w.kiv", "t.w.kiv"}, {},
         nocat + "/messages: No such file or directory; messages show their numbers only\n"},
        {"standard output closed: the wfdisc file takes no message", [](Env& e) { one("1995123 0 A B -1 1")(e), e.env.closed = 1, e.unchanged("w"); },
         "", 2, {}, {"s.w.kiv"}, k2014},
        {"standard error closed, KIVAUX unset: the wfdisc file keeps its records", [](Env& e) {
             one("1995123 0 A B 2 1")(e), e.env.closed = 2, e.env.kivaux.reset(), e.unchanged("w"); }, "", 1, {}, {"s.w.kiv"}},
        {"wfdisc file a pipe whose writer is gone: read to its end", [okrec](Env& e) {
             e.file("s.w", words(2)), e.argv = {"/bin/sh", "-c", "printf '%s' '" + okrec + "' | (exec 3<&0; echo /dev/fd/3 | exec \"$0\")", WFDXLATE_BIN}; }, "", 0, {"s.w.kiv"}},
        {"catalogue a FIFO: as if missing", [](Env& e) {
             e.catalogue([](const fs::path& p) { ::mkfifo(p.c_str(), 0644); }), one("1995123 0 A B -1 1")(e);
         }, err(108, "Number  108 @/cat/messages") + err(2003, "Number 2003 1 -1"), 2, {}, {},
         nocat + "@/cat/messages: not a regular file; messages show their numbers only\n"},
        {"kivhdr listing to a full device", [tofull](Env& e) {
             kivtest::HandKiv h;
             h.n(kivtest::at::NPTS, 0), e.file("x.kiv", h.bytes(0)), e.kivhdr("x.kiv"), tofull(e);
         }, "", 2, {}, {}, full},
        {"kivhdr --help to a full device", [tofull](Env& e) { e.kivhdr("--help"), tofull(e); }, "", 1, {}, {}, full},
        {"kivhdr, its own text from a KIVAUX that ends in blanks", [](Env& e) {
             e.catalogue([](const fs::path& p) { std::ofstream(p) << "1410 No KIV file here:\n"; }), e.env.kivaux = *e.env.kivaux + "  ", e.kivhdr("x.kiv");
         }, "", 2, {}, {}, "kivhdr: ERROR 1410: No KIV file here: x.kiv\n"},
        {"kivhdr, a full catalogue without its texts", [hundreds](Env& e) { e.catalogue(hundreds), e.kivhdr("x.kiv"); }, "", 2, {}, {},
         "kivhdr: WARNING: message catalogue loaded only in part from KIVAUX=@/cat (error 919); built-in texts are used where it gives none\n" + kNoKiv},
        {"sample file behind a directory that may not be entered", [](Env& e) {
             one("1995123 0 A B 2 1", "d/s.w")(e), fs::permissions(e.work / "d", fs::perms::none), e.env.uid = 65534;
         }, err(2006, "Record not converted: samples cannot be read; wfdisc line 1 d/s.w Cannot open or create file d/s.w (Insufficient access rights.)"), 2},
        {"output would replace the wfdisc file", [](Env& e) {
             e.answer = "s.w.kiv\n", e.file("s.w", words(2)), e.file("s.w.kiv", rec("1995123 0 A B 2 1")), e.unchanged("s.w.kiv");
         }, err(2013, "Record not converted: its waveform file would replace the wfdisc file; wfdisc line 1 s.w.kiv"), 2},
    };
}
// clang-format on

class BadInput : public ::testing::TestWithParam<std::size_t> {};

TEST_P(BadInput, Row) {
    static const std::vector<Row> table = rows();
    const Row& row = table[GetParam()];
    SCOPED_TRACE(row.what);
    Env e;
    row.setup(e);
    const bool prompt = e.argv[0] != KIVHDR_BIN && e.env.closed != 1 && e.env.outfile.empty();
    std::string want = (prompt ? kPrompt : "") + row.out, werr = row.errout;
    for (std::string* s : {&want, &werr}) // "@" stands for the working directory
        for (std::size_t at; (at = s->find('@')) != std::string::npos;)
            s->replace(at, 1, e.work.string());
    const e2e::Result r = e2e::run(e.argv, e.work, e.answer, e.env);
    EXPECT_EQ(std::tuple(r.timedout, r.status, r.err), std::tuple(false, row.status, werr))
        << r.out;
    EXPECT_EQ(r.out, want);
    e.check(e);
    for (const auto& f : row.exist) EXPECT_TRUE(fs::exists(e.work / f)) << f;
    for (const auto& f : row.absent) EXPECT_FALSE(fs::exists(e.work / f)) << f;
    for (const auto& f : e.listing(""))
        EXPECT_FALSE(f.starts_with(".kivtmp")) << f; // none left behind
    std::error_code ec;
    fs::permissions(e.work / "d", fs::perms::all, ec);
}

INSTANTIATE_TEST_SUITE_P(Table, BadInput, ::testing::Range<std::size_t>(0, rows().size()));

} // namespace
