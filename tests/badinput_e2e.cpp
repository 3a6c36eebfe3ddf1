// Bad input, one row each: what is given, the message expected, the exit
// status, and what must (and must not) exist afterwards. Every row runs the
// built converter in a directory of its own with a bounded run time.
#include "e2e.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

const std::string kPrompt = "Enter wfdisc filename: ";

std::string err(int num, const std::string& text) {
    char f[8];
    std::snprintf(f, sizeof f, num >= 1000 ? "%4d" : " %3d", num);
    return " \aERROR "s + f + ": " + text + "\n";
}
const std::string kNum =
    "Record not converted: a token is not a number or is out of range; wfdisc line ";
const std::string kCount = "Record not converted: sample count outside 0 to 90000; wfdisc line ";
const std::string kRead = "Record not converted: samples cannot be read; wfdisc line ";

std::string rec(const std::string& t1to6, const std::string& path = "s.w") {
    return t1to6 + " 1 1 STS o s4 - 1 1 . " + path + " 0 -1 2015 u0 u1\n";
}
std::string words(std::size_t n) {
    return std::string(4 * n, '\1');
}

struct Env {
    fs::path work, aux;
    std::string answer = "w\n";
    std::optional<std::string> kivaux;
    e2e::Options opt;
    void file(const std::string& name, const std::string& bytes) const {
        fs::create_directories((work / name).parent_path());
        std::ofstream(work / name, std::ios::binary) << bytes;
    }
};

struct Row {
    std::string what;
    std::function<void(Env&)> setup;
    std::string out; // standard output after the prompt, exactly
    int status;
    std::vector<std::string> exist; // relative to the working directory
    std::vector<std::string> absent;
    std::string errout = ""; // standard error, exactly
};

std::vector<Row> rows() {
    const std::string okrec = rec("1995123 0 ABC BHZ 2 20");
    return {
        {"missing wfdisc", [](Env&) {}, "Error opening wfdisc file..\n", 1, {}, {"w"}},
        {"wfdisc is a directory",
         [](Env& e) { fs::create_directories(e.work / "w"); },
         "Error opening wfdisc file..\n",
         1,
         {"w"},
         {}},
        {"empty wfdisc", [](Env& e) { e.file("w", ""); }, "", 0, {"w"}, {}},
        {"binary wfdisc",
         [](Env& e) {
             std::mt19937 g(7);
             std::string b(4096, '\0');
             for (auto& c : b) c = static_cast<char>(g() % 254 + 2); // no newline of its own
             for (std::size_t i = 0; i < b.size(); i += 97) b[i] = '\n';
             b[0] = '\0'; // every line but the first is gibberish; the first holds a NUL
             e.file("w", b);
         },
         "*",
         2,
         {"w"},
         {}},
        {"huge wfdisc of junk lines",
         [](Env& e) {
             std::string b;
             for (int i = 0; i < 20000; ++i) b += "junk line " + std::to_string(i) + "\n";
             e.file("w", b);
         },
         "*",
         2,
         {"w"},
         {}},
        {"NUL inside a record",
         [](Env& e) {
             e.file("s.w", words(2));
             e.file("w", "1995123 0 A\0C BHZ 2 20 1 1 STS o s4 - 1 1 . s.w 0 -1 2015 u0 u1\n"s);
         },
         err(2009, "Record not converted: it holds a NUL character; wfdisc line 1"),
         2,
         {},
         {"s.w.kiv"}},
        {"line of tabs only",
         [](Env& e) { e.file("w", "\t\t\t\t\n"); },
         err(2001, "Record not converted: fewer than 16 tokens; wfdisc line 1 has 1"),
         2,
         {},
         {}},
        {"10,000-character line",
         [](Env& e) {
             e.file("s.w", words(2));
             std::string l = rec("1995123 0 ABC BHZ 2 20");
             l.pop_back();
             e.file("w", l + std::string(10000, 'x') + "\n" + rec("1995123 0 ABC BHZ 2 20", "t.w"));
             e.file("t.w", words(2));
         },
         "",
         0,
         {"s.w.kiv", "t.w.kiv"},
         {}},
        {"100 tokens",
         [](Env& e) {
             e.file("s.w", words(2));
             std::string l = rec("1995123 0 ABC BHZ 2 20");
             l.pop_back();
             for (int i = 0; i < 79; ++i) l += " t";
             e.file("w", l + "\n");
         },
         "",
         0,
         {"s.w.kiv"},
         {}},
        {"count -1",
         [](Env& e) {
             e.file("s.w", words(2));
             e.file("w", rec("1995123 0 A B -1 20"));
         },
         err(2003, kCount + "1 -1"),
         2,
         {},
         {"s.w.kiv"}},
        {"count 0",
         [](Env& e) {
             e.file("s.w", "");
             e.file("w", rec("1995123 0 A B 0 20"));
         },
         "",
         0,
         {"s.w.kiv"},
         {}},
        {"count 90000",
         [](Env& e) {
             e.file("s.w", words(90000));
             e.file("w", rec("1995123 0 A B 90000 20"));
         },
         "",
         0,
         {"s.w.kiv"},
         {}},
        {"count 90001",
         [](Env& e) {
             e.file("s.w", words(90001));
             e.file("w", rec("1995123 0 A B 90001 20"));
         },
         err(2003, kCount + "1 90001"),
         2,
         {},
         {"s.w.kiv"}},
        {"count 2^31",
         [](Env& e) {
             e.file("s.w", words(2));
             e.file("w", rec("1995123 0 A B 2147483648 20"));
         },
         err(2002, kNum + "1 token 5 2147483648"),
         2,
         {},
         {"s.w.kiv"}},
        {"rate 0",
         [](Env& e) {
             e.file("s.w", words(2));
             e.file("w", rec("1995123 0 A B 2 0"));
         },
         "",
         0,
         {"s.w.kiv"},
         {}},
        {"rate -1",
         [](Env& e) {
             e.file("s.w", words(2));
             e.file("w", rec("1995123 0 A B 2 -1"));
         },
         "",
         0,
         {"s.w.kiv"},
         {}},
        {"rate 1e40",
         [](Env& e) {
             e.file("s.w", words(2));
             e.file("w", rec("1995123 0 A B 2 1e40"));
         },
         err(2002, kNum + "1 token 6 1e40"),
         2,
         {},
         {"s.w.kiv"}},
        {"rate nan",
         [](Env& e) {
             e.file("s.w", words(2));
             e.file("w", rec("1995123 0 A B 2 nan"));
         },
         err(2002, kNum + "1 token 6 nan"),
         2,
         {},
         {"s.w.kiv"}},
        {"start 1e30",
         [](Env& e) {
             e.file("s.w", words(2));
             e.file("w", rec("1995123 1e30 A B 2 1"));
         },
         err(2005, "Record not converted: start time cannot be held to the microsecond; wfdisc "
                   "line 1 1e30"),
         2,
         {},
         {"s.w.kiv"}},
        {"start -",
         [](Env& e) {
             e.file("s.w", words(2));
             e.file("w", rec("1995123 - A B 2 1"));
         },
         err(2002, kNum + "1 token 2 -"),
         2,
         {},
         {"s.w.kiv"}},
        {"sample path is a directory",
         [](Env& e) {
             fs::create_directories(e.work / "d.w");
             e.file("w", rec("1995123 0 A B 0 1", "d.w"));
         },
         err(2006, kRead + "1 d.w Cannot open or create file d.w (System error occurred.)"),
         2,
         {"d.w"},
         {"d.w.kiv"}},
        {"sample path is a dangling link",
         [](Env& e) {
             fs::create_symlink(e.work / "nowhere", e.work / "l.w");
             e.file("w", rec("1995123 0 A B 2 1", "l.w"));
         },
         err(2006, kRead + "1 l.w File does not exist: l.w"),
         2,
         {},
         {"l.w.kiv", "nowhere"}},
        {"30-character sample path",
         [](Env& e) {
             e.file(std::string(28, 'p') + ".w", words(2));
             e.file("w", rec("1995123 0 A B 2 1", std::string(28, 'p') + ".w"));
         },
         "",
         0,
         {std::string(28, 'p') + ".w.kiv"},
         {}},
        {"31-character sample path",
         [](Env& e) {
             e.file(std::string(29, 'p') + ".w", words(2));
             e.file("w", rec("1995123 0 A B 2 1", std::string(29, 'p') + ".w"));
         },
         err(2004, "Record not converted: sample file path longer than 30 characters; wfdisc "
                   "line 1 " +
                       std::string(29, 'p') + ".w"),
         2,
         {},
         {std::string(29, 'p') + ".w.kiv"}},
        {"sample file shorter than its count",
         [](Env& e) {
             e.file("s.w", words(3));
             e.file("w", rec("1995123 0 A B 4 1"));
         },
         err(2006, kRead + "1 s.w Data read failed or came up short."),
         2,
         {"s.w"},
         {"s.w.kiv"}},
        {"output name is a directory",
         [](Env& e) {
             e.file("s.w", words(2));
             fs::create_directories(e.work / "s.w.kiv");
             e.file("w", rec("1995123 0 A B 2 1"));
         },
         "\aERROR: Cannot open or create file s.w.kiv (System error occurred.)\n" +
             err(2011, "Record not converted: its waveform file was not written; wfdisc line 1 "
                       "s.w.kiv"),
         2,
         {"s.w.kiv/"},
         {}},
        {"KIVAUX empty",
         [](Env& e) {
             e.kivaux = "";
             e.file("s.w", words(2));
             e.file("w", rec("1995123 0 A B 2 1"));
         },
         err(108, "Number  108 /messages"),
         0,
         {"s.w.kiv"},
         {}},
        {"KIVAUX unset",
         [](Env& e) {
             e.kivaux.reset();
             e.file("s.w", words(2));
             e.file("w", rec("1995123 0 A B 2 1"));
         },
         "",
         1,
         {},
         {"s.w.kiv"},
         "ERROR: Environmental variable KIVAUX not defined.\n"},
        {"KIVAUX is a file",
         [](Env& e) {
             e.file("auxfile", "x");
             e.kivaux = (e.work / "auxfile").string();
             e.file("s.w", words(2));
             e.file("w", rec("1995123 0 A B 2 1"));
         },
         err(108, "Number  108 @/auxfile/messages"),
         0,
         {"s.w.kiv"},
         {}},
        {"KIVAUX 200 characters long",
         [](Env& e) {
             e.kivaux = "/" + std::string(199, 'k');
             e.file("s.w", words(2));
             e.file("w", rec("1995123 5 A B -3 1"));
         },
         // The value does not fit line 1 and goes to line 2, cut at 160.
         err(916, "Number  916") + " /" + std::string(159, 'k') + "\n" +
             err(2003, "Number 2003 1 -3"),
         2,
         {},
         {"s.w.kiv"}},
        {"KIVAUX without a messages file",
         [](Env& e) {
             fs::create_directories(e.work / "emptyaux");
             e.kivaux = (e.work / "emptyaux").string();
             e.file("s.w", words(2));
             e.file("w", rec("1995123 0 A B 2 1"));
         },
         err(108, "Number  108 @/emptyaux/messages"),
         0,
         {"s.w.kiv"},
         {}},
        {"KIVAUX with a 401-line catalogue",
         [](Env& e) {
             std::string cat;
             for (int i = 0; i < 401; ++i)
                 cat += "2003 count refused (entry " + std::to_string(i) + ")\n";
             fs::create_directories(e.work / "bigaux");
             std::ofstream(e.work / "bigaux/messages") << cat;
             e.kivaux = (e.work / "bigaux").string();
             e.file("s.w", words(2));
             e.file("w", rec("1995123 0 A B -1 1"));
         },
         err(919, "Number  919") + err(2003, "count refused (entry 0) 1 -1"),
         2,
         {},
         {"s.w.kiv"}},
        {"standard input closed before the name",
         [](Env& e) {
             e.opt.closedstdin = true;
             e.file("w", "");
         },
         "\n" + err(2008, "No wfdisc file name: standard input ended before a name was read."),
         1,
         {},
         {}},
        {"typed name of 31 characters",
         [](Env& e) {
             e.answer = std::string(31, 'n') + "\n";
             e.file(std::string(30, 'n'), rec("1995123 0 A B 2 1"));
         },
         err(2007, "The wfdisc file name is longer than 30 characters or holds a NUL character: " +
                       std::string(31, 'n')),
         1,
         {},
         {}},
        {"typed name holding a NUL",
         [](Env& e) {
             e.answer = "w\0x\n"s;
             e.file("w", rec("1995123 0 A B 2 1"));
         },
         err(2007, "The wfdisc file name is longer than 30 characters or holds a NUL character: w"),
         1,
         {},
         {"s.w.kiv"}},
        {"blank line first",
         [](Env& e) { e.file("w", "     \n" + rec("1995123 0 A B 2 1")); },
         " Error reading file information\n",
         0,
         {},
         {"s.w.kiv"}},
    };
}

class BadInput : public ::testing::TestWithParam<std::size_t> {};

TEST_P(BadInput, Row) {
    static const std::vector<Row> table = rows();
    const Row& row = table[GetParam()];
    std::string tmpl = (fs::temp_directory_path() / "wfdx-bad-XXXXXX").string();
    const fs::path root = ::mkdtemp(tmpl.data());
    Env e;
    e.work = root / "work";
    e.aux = root / "aux";
    fs::create_directories(e.work);
    fs::create_directories(e.aux);
    fs::copy_file(KIVF_SOURCE_DIR "/kivaux/messages", e.aux / "messages");
    e.kivaux = e.aux.string();
    row.setup(e);
    e.opt.kivaux = e.kivaux;
    e.opt.seconds = 60;
    const e2e::Result r = e2e::run({WFDXLATE_BIN}, e.work.string(), e.answer, e.opt);
    SCOPED_TRACE(row.what);
    EXPECT_FALSE(r.timedout);
    EXPECT_EQ(r.status, row.status) << r.out;
    ASSERT_EQ(r.out.substr(0, kPrompt.size()), kPrompt);
    const std::string out = r.out.substr(kPrompt.size());
    if (row.out == "*") { // one message per refused line, each of a converter number
        EXPECT_FALSE(out.empty());
        for (std::size_t at = 0; at < out.size();) {
            const std::size_t nl = out.find('\n', at);
            ASSERT_NE(nl, std::string::npos);
            const std::string l = out.substr(at, nl - at);
            EXPECT_TRUE(l.starts_with(" \aERROR 200")) << l;
            at = nl + 1;
        }
    } else {
        std::string want = row.out; // "@" stands for the working directory
        for (std::size_t at; (at = want.find('@')) != std::string::npos;)
            want.replace(at, 1, e.work.string());
        EXPECT_EQ(out, want);
    }
    EXPECT_EQ(r.err, row.errout);
    for (const auto& f : row.exist) EXPECT_TRUE(fs::exists(e.work / f)) << f;
    for (const auto& f : row.absent) EXPECT_FALSE(fs::exists(e.work / f)) << f;
    for (const auto& entry : fs::directory_iterator(e.work)) // no temporary file left behind
        EXPECT_FALSE(entry.path().filename().string().starts_with(".kivtmp")) << entry.path();
    std::error_code ec;
    fs::remove_all(root, ec);
}

INSTANTIATE_TEST_SUITE_P(Table, BadInput, ::testing::Range<std::size_t>(0, rows().size()));

} // namespace
