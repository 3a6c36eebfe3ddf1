// Bad input, one row each: what is given, the message expected, the exit
// status, and what must (and must not) exist afterwards. Every row runs a
// built program in a directory of its own with a short time limit, so a row
// that would hang ends as a failure.
#include "e2e.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <regex>
#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

const std::string kPrompt = "Enter wfdisc filename: ";

std::string err(int num, const std::string& text) {
    return " \aERROR "s + (num < 1000 ? " " : "") + std::to_string(num) + ": " + text + "\n";
}
const std::string kNum =
    "Record not converted: a token is not a number or is out of range; wfdisc line ";
const std::string kRead = "Record not converted: samples cannot be read; wfdisc line ";
const std::string kNoKiv = "kivhdr: ERROR 1410: KIV file does not exist: x.kiv\n";

std::string rec(const std::string& t1to6, const std::string& path = "s.w") {
    return t1to6 + " 1 1 STS o s4 - 1 1 . " + path + " 0 -1 2015 u0 u1\n";
}
const std::string kTo15 = "1995123 0 A B 2 1 1 1 STS o s4 - 1 1 . "; // tokens 1 to 15
const auto words = [](std::size_t n) { return std::string(4 * n, '\1'); };

// How the program is started, and what else is checked afterwards.
struct Env : e2e::Options {
    fs::path work;
    std::vector<std::string> argv{WFDXLATE_BIN};
    std::string answer = "w\n";
    std::function<void(const Env&)> check = [](const Env&) {};
    void file(const std::string& name, const std::string& bytes) const {
        fs::create_directories((work / name).parent_path());
        std::ofstream(work / name, std::ios::binary) << bytes;
    }
    void kivhdr(const std::string& arg) { argv = {KIVHDR_BIN, arg}; }
    void shell(const std::string& script) { argv = {"/bin/sh", "-c", script, WFDXLATE_BIN}; }
    void catalogue(const std::function<void(const fs::path&)>& make) {
        fs::create_directories(work / "cat"), make(work / "cat/messages");
        kivaux = (work / "cat").string();
    }
    void unchanged(const std::string& name) { // a file that must keep its bytes
        check = [name, was = e2e::readfile(work / name)](const Env& e) {
            EXPECT_EQ(e2e::readfile(e.work / name), was) << name;
        };
    }
};

// The usual setup: a sample file of n words and a wfdisc file of one record.
auto one(std::size_t n, const std::string& t1to6, const std::string& path = "s.w") {
    return [=](Env& e) { e.file(path, words(n)), e.file("w", rec(t1to6, path)); };
}

struct Row {
    std::string what;
    std::function<void(Env&)> setup;
    std::string out; // after the prompt, exactly ("*": converter messages only)
    int status;
    std::vector<std::string> exist = {}; // relative to the working directory
    std::vector<std::string> absent = {};
    std::string errout = ""; // standard error, exactly
};

// clang-format off
std::vector<Row> rows() {
    const std::string okrec = rec("1995123 0 A B 2 1");
    const std::string k2014 =
        "ERROR 2014: Standard output cannot be written: messages of this run were lost.\n";
    const std::string full = "kivhdr: cannot write standard output: No space left on device\n";
    const auto name2007 = [](const std::string& n) {
        return err(2007, "The wfdisc file name is longer than 30 characters or holds a NUL "
                         "character: " + n);
    };
    const auto opened = [](const std::string& at, const std::string& p, const std::string& why) {
        return err(2006, kRead + at + " " + p + " Cannot open or create file " + p + " (" + why + ")");
    };
    const auto hundreds = [](const std::string& line) { // a catalogue of 401 such lines
        return [line](const fs::path& p) {
            std::ofstream c(p);
            for (int i = 0; i < 401; ++i) c << line << i << ")\n";
        };
    };
    std::string junk, junkout;
    for (int i = 1; i <= 20000; ++i)
        junk += "junk line " + std::to_string(i) + "\n",
        junkout += err(2001, "Record not converted: fewer than 16 tokens; wfdisc line " + std::to_string(i) + " has 3");
    return {
        {"wfdisc is a directory", [](Env& e) { fs::create_directories(e.work / "w"); },
         "Error opening wfdisc file..\n", 1, {"w"}},
        {"empty wfdisc", [](Env& e) { e.file("w", ""); }, "", 0, {"w"}},
        {"binary wfdisc", [](Env& e) {
             std::mt19937 g(7);
             std::string b(4096, '\0');
             for (auto& c : b) c = static_cast<char>(g() % 254 + 2); // no newline of its own
             for (std::size_t i = 0; i < b.size(); i += 97) b[i] = '\n';
             b[0] = '\0'; // every line but the first is gibberish; the first holds a NUL
             e.file("w", b);
         }, "*", 2, {"w"}},
        {"huge wfdisc of junk lines", [junk](Env& e) { e.file("w", junk); }, junkout, 2, {"w"}},
        {"line of tabs only", [](Env& e) { e.file("w", "\t\t\t\t\n"); },
         err(2001, "Record not converted: fewer than 16 tokens; wfdisc line 1 has 1"), 2},
        {"10,000-character line, then 100 tokens", [okrec](Env& e) {
             std::string l = okrec, m = rec("1995123 0 A B 2 1", "t.w");
             l.pop_back(), m.pop_back();
             for (int i = 0; i < 79; ++i) m += " t";
             for (const char* f : {"s.w", "t.w"}) e.file(f, words(2));
             e.file("w", l + std::string(10000, 'x') + "\n" + m + "\n");
         }, "", 0, {"s.w.kiv", "t.w.kiv"}},
        {"counts 0 and 90000, rate -1", [](Env& e) {
             e.file("s.w", words(90000)), e.file("t.w", "");
             e.file("w", rec("1995123 0 A B 0 20", "t.w") + rec("1995123 0 A B 90000 20") +
                         rec("1995123 0 A B 2 -1", "u.w")), e.file("u.w", words(2));
         }, "", 0, {"s.w.kiv", "t.w.kiv", "u.w.kiv"}},
        {"numbers out of range", [](Env& e) {
             e.file("s.w", words(2));
             e.file("w", rec("1995123 0 A B 2147483648 20") + rec("1995123 0 A B 2 1e40") +
                         rec("1995123 1e30 A B 2 1") + rec("1995123 - A B 2 1"));
         }, err(2002, kNum + "1 token 5 2147483648") + err(2002, kNum + "2 token 6 1e40") +
             err(2005, "Record not converted: start time cannot be held to the microsecond; "
                       "wfdisc line 3 1e30") + err(2002, kNum + "4 token 2 -"), 2, {}, {"s.w.kiv"}},
        {"sample path is a directory", [](Env& e) {
             fs::create_directories(e.work / "d.w");
             e.file("w", rec("1995123 0 A B 0 1", "d.w"));
         }, opened("1", "d.w", "Not a regular file: a directory."), 2, {"d.w"}, {"d.w.kiv"}},
        {"sample path is a dangling link", [](Env& e) {
             fs::create_symlink(e.work / "nowhere", e.work / "l.w");
             e.file("w", rec("1995123 0 A B 2 1", "l.w"));
         }, err(2006, kRead + "1 l.w File does not exist: l.w"), 2, {}, {"l.w.kiv", "nowhere"}},
        {"KIVAUX empty", [](Env& e) { e.kivaux = "", one(2, "1995123 0 A B 2 1")(e); },
         err(108, "Number  108 /messages"), 0, {"s.w.kiv"}},
        {"KIVAUX 200 characters long", [](Env& e) { // the value goes to line 2, cut at 160
             e.kivaux = "/" + std::string(199, 'k'), one(2, "1995123 5 A B -3 1")(e); },
         err(916, "Number  916") + " /" + std::string(159, 'k') + "\n" +
             err(2003, "Number 2003 1 -3"), 2, {}, {"s.w.kiv"}},
        {"KIVAUX without a messages file", [](Env& e) {
             e.kivaux = e.work.string(), one(2, "1995123 0 A B 2 1")(e); },
         err(108, "Number  108 @/messages"), 0, {"s.w.kiv"}},
        {"KIVAUX with a 401-line catalogue", [hundreds](Env& e) {
             e.catalogue(hundreds("2003 count refused (entry "));
             one(2, "1995123 0 A B -1 1")(e);
         }, err(919, "Number  919") + err(2003, "count refused (entry 0) 1 -1"), 2, {}, {"s.w.kiv"}},
        {"typed name holding a NUL", [okrec](Env& e) { e.answer = "w\0x\n"s, e.file("w", okrec); },
         name2007("w"), 1, {}, {"s.w.kiv"}},

        // Each row below once lost data, hung, ended 0 on a failure or wrote a wrong file.
        {"standard output closed: the wfdisc file takes no message", [](Env& e) {
             one(2, "1995123 0 A B -1 1")(e);
             e.closed = 1, e.unchanged("w");
         }, "", 2, {}, {"s.w.kiv"}, k2014},
        {"standard error closed, KIVAUX unset: the wfdisc file keeps its records", [](Env& e) {
             one(2, "1995123 0 A B 2 1")(e);
             e.closed = 2, e.kivaux.reset(), e.unchanged("w");
         }, "", 1, {}, {"s.w.kiv"}},
        {"sample file a FIFO or a link to one: refused, the run goes on", [okrec](Env& e) {
             ::mkfifo((e.work / "f.w").c_str(), 0644);
             fs::create_symlink("f.w", e.work / "l.w");
             e.file("s.w", words(2));
             e.file("w", rec("1995123 0 A B 2 1", "f.w") + rec("1995123 0 A B 2 1", "l.w") + okrec);
         }, opened("1", "f.w", "Not a regular file: a FIFO.") +
             opened("2", "l.w", "Not a regular file: a FIFO."), 2, {"s.w.kiv"}, {"f.w.kiv"}},
        {"wfdisc file a pipe whose writer is gone: read to its end", [okrec](Env& e) {
             e.file("s.w", words(2));
             e.shell("printf '%s' '" + okrec + "' | (exec 3<&0; echo /dev/fd/3 | exec \"$0\")");
         }, "", 0, {"s.w.kiv"}},
        {"catalogue a FIFO: as if missing", [](Env& e) {
             e.catalogue([](const fs::path& p) { ::mkfifo(p.c_str(), 0644); });
             one(2, "1995123 0 A B -1 1")(e);
         }, err(108, "Number  108 @/cat/messages") + err(2003, "Number 2003 1 -1"), 2},
        {"catalogue a link to /dev/zero: kivhdr as if missing", [](Env& e) {
             e.catalogue([](const fs::path& p) { fs::create_symlink("/dev/zero", p); });
             e.kivhdr("x.kiv");
         }, "", 2, {}, {}, "kivhdr: WARNING: message catalogue not loaded from KIVAUX=@/cat "
             "(error 108); built-in texts are used\n" + kNoKiv},
        {"kivhdr listing to a full device", [](Env& e) {
             std::string kiv(632, '\0');
             kiv[304] = 6; // the header version, in this machine's order; NPTS 0
             e.file("x.kiv", kiv);
             e.kivhdr("x.kiv"), e.outfile = "/dev/full";
         }, "", 2, {}, {}, full},
        {"kivhdr --help to a full device",
         [](Env& e) { e.kivhdr("--help"), e.outfile = "/dev/full"; }, "", 1, {}, {}, full},
        {"kivhdr --version to a full device",
         [](Env& e) { e.kivhdr("--version"), e.outfile = "/dev/full"; }, "", 1, {}, {}, full},
        {"wfdxlate to a full device",
         [](Env& e) { one(2, "1995123 0 A B 2 1")(e), e.outfile = "/dev/full"; },
         "", 2, {"s.w.kiv"}, {}, k2014},
        {"sample path cut by column 210", [](Env& e) {
             e.file("s.w", words(2));
             e.file("w", kTo15 + std::string(207 - kTo15.size(), ' ') + "s.wx 0 -1 2015 u0 u1\n");
         }, err(2012, "Record not converted: its sample file path is cut by the 210-column "
                      "limit; wfdisc line 1"), 2, {}, {"s.w.kiv"}},
        {"kivhdr, a full catalogue without its texts", [hundreds](Env& e) {
             e.catalogue(hundreds("2003 count refused (entry "));
             e.kivhdr("x.kiv");
         }, "", 2, {}, {}, "kivhdr: WARNING: message catalogue loaded only in part from "
             "KIVAUX=@/cat (error 919); built-in texts are used where it gives none\n" + kNoKiv},
        {"sample file behind a directory that may not be entered", [](Env& e) {
             one(2, "1995123 0 A B 2 1", "d/s.w")(e);
             fs::permissions(e.work / "d", fs::perms::none);
             e.uid = 65534;
         }, opened("1", "d/s.w", "Insufficient access rights."), 2},
        {"control characters of a record are not echoed", one(2, "1995123 0 A B \x1b]0;x\x07 1"),
         err(2002, kNum + "1 token 5 ?]0;x?"), 2, {}, {"s.w.kiv"}},
        {"CRLF line ends", [](Env& e) {
             std::string t = rec("1995123 0 A B 2 1", "t.w");
             t.insert(t.size() - 1, "\r");
             for (const char* f : {"s.w", "t.w", "u.w"}) e.file(f, words(2));
             e.file("w", kTo15 + "s.w\r\n" + t + "\r\n" + rec("1995123 0 A B 2 1", "u.w"));
             e.check = [](const Env& e) {
                 const std::string kiv = e2e::readfile(e.work / "t.w.kiv");
                 EXPECT_TRUE(kiv.find('\r') == std::string::npos && kiv.find("u1      ") < 632);
             };
         }, " Error reading file information\n", 0, {"s.w.kiv", "t.w.kiv"}, {"u.w.kiv"}},
        {"a replaced file keeps its permission bits", [](Env& e) {
             one(2, "1995123 0 A B 2 1")(e);
             e.file("s.w.kiv", "old");
             fs::permissions(e.work / "s.w.kiv", fs::perms(0600));
             e.check = [](const Env& e) {
                 const fs::path p = e.work / "s.w.kiv";
                 EXPECT_EQ(std::pair(fs::status(p).permissions(), fs::file_size(p)), std::pair(fs::perms(0600), std::uintmax_t(640)));
             };
         }, "", 0, {"s.w.kiv"}},
        {"SIGTERM during a write leaves no temporary file", [](Env& e) {
             std::string w;
             for (int i = 0; i < 400; ++i) w += rec("1995123 0 A B 90000 1");
             e.file("s.w", words(90000)), e.file("w", w);
             e.shell("exec 3<&0; \"$0\" <&3 & until [ -e .kivtmp-*-$!-* ]; do :; done 2>/dev/null; "
                     "kill $!; wait $! 2>/dev/null"); // the shell's status tells the signal: 128 + 15
         }, "", 128 + SIGTERM},
        {"temporary files untouched for two days go, fresh ones of other forms stay", [](Env& e) {
             one(2, "1995123 0 A B 2 1")(e);
             const pid_t dead = ::fork();
             if (dead == 0) ::_exit(0);
             ::waitpid(dead, nullptr, 0);
             const std::string live = ".kivtmp-" + std::to_string(::getpid()) + "-ABCDEFGH";
             e.file(".kivtmp-" + std::to_string(dead) + "-ABCDEFGH", "left"), e.file(live, "busy");
             fs::last_write_time(e.work / (".kivtmp-" + std::to_string(dead) + "-ABCDEFGH"), fs::file_time_type::clock::now() - std::chrono::hours(48));
             e.check = [live](const Env& e) { EXPECT_TRUE(fs::remove(e.work / live)); };
         }, "", 0, {"s.w.kiv"}},
        {"typed name longer than the line read", [](Env& e) {
             e.answer = "w" + std::string(300, ' ') + "x\n";
             one(2, "1995123 0 A B 2 1")(e);
         }, name2007("w"), 1, {}, {"s.w.kiv"}},
        {"token 1 not a year and day (digits past the 7th still ignored)", [](Env& e) {
             for (const char* f : {"s.w", "t.w", "u.w", "v.w"}) e.file(f, words(2));
             e.file("w", rec("2015-03-10 0 A B 2 1") + rec("20150 0 A B 2 1") + rec("12345678 0 A "
                 "B 2 1") + rec("95123 0 A B 2 1", "t.w") + rec("19953669 0 A B 2 1", "u.w") +
                 rec("2015001 0 A B 2 1", "v.w"));
         }, err(2002, kNum + "1 token 1 2015-03-10") + err(2002, kNum + "2 token 1 20150") +
             err(2002, kNum + "3 token 1 12345678"), 2, {"t.w.kiv", "u.w.kiv", "v.w.kiv"}, {"s.w.kiv"}},
        {"output would replace the wfdisc file", [](Env& e) {
             e.answer = "s.w.kiv\n";
             e.file("s.w", words(2));
             e.file("s.w.kiv", rec("1995123 0 A B 2 1"));
             e.unchanged("s.w.kiv");
         }, err(2013, "Record not converted: its waveform file would replace the wfdisc file; "
                      "wfdisc line 1 s.w.kiv"), 2},
    };
}
// clang-format on

class BadInput : public ::testing::TestWithParam<std::size_t> {};

TEST_P(BadInput, Row) {
    static const std::vector<Row> table = rows();
    const Row& row = table[GetParam()];
    SCOPED_TRACE(row.what);
    std::string tmpl = (fs::temp_directory_path() / "wfdx-bad-XXXXXX").string();
    const fs::path root = ::mkdtemp(tmpl.data());
    Env e;
    e.work = root / "work", e.kivaux = root / "aux", e.seconds = 10;
    fs::create_directories(e.work), fs::create_directories(root / "aux");
    for (const fs::path& d : {root, e.work, root / "aux"}) fs::permissions(d, fs::perms::all);
    fs::copy_file(KIVF_SOURCE_DIR "/kivaux/messages", root / "aux/messages");
    row.setup(e);
    const e2e::Result r = e2e::run(e.argv, e.work, e.answer, e);
    EXPECT_FALSE(r.timedout);
    EXPECT_EQ(r.status, row.status) << r.out;
    const bool prompt = e.argv[0] != KIVHDR_BIN && e.closed != 1 && e.outfile.empty();
    std::string want = (prompt ? kPrompt : "") + row.out, werr = row.errout;
    for (std::string* s : {&want, &werr}) // "@" stands for the working directory
        for (std::size_t at; (at = s->find('@')) != std::string::npos;)
            s->replace(at, 1, e.work.string());
    if (row.out == "*") // one message of a converter number per refused line
        EXPECT_TRUE(std::regex_match(r.out, std::regex(kPrompt + "( \aERROR 200[^\n]*\n)+")));
    else
        EXPECT_EQ(r.out, want);
    EXPECT_EQ(r.err, werr);
    e.check(e);
    for (const auto& f : row.exist) EXPECT_TRUE(fs::exists(e.work / f)) << f;
    for (const auto& f : row.absent) EXPECT_FALSE(fs::exists(e.work / f)) << f;
    for (const auto& entry : fs::directory_iterator(e.work)) // no temporary file left behind
        EXPECT_FALSE(entry.path().filename().string().starts_with(".kivtmp")) << entry.path();
    std::error_code ec;
    fs::permissions(e.work / "d", fs::perms::all, ec), fs::remove_all(root, ec);
}

INSTANTIATE_TEST_SUITE_P(Table, BadInput, ::testing::Range<std::size_t>(0, rows().size()));

} // namespace
