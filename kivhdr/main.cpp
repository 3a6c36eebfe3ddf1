// SPDX-License-Identifier: Apache-2.0
// kivhdr: lists the headers of KIV files, one block per file, with the
// catalogue's names.
//
// Listings go to standard output, failures (one line each) to standard error,
// so that a listing piped on is never mixed with them.
// Exit status: 0 every file listed; 1 bad usage, nothing listed; 2 at least
// one file could not be listed (the others were) or standard output failed.
#include "xlate/xlate.h"

#include "co/co.h"
#include "dff/dff.h"
#include "msg/msg.h"
#include "show/show.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

using namespace kivf;
using xlate::usage;

namespace {

constexpr std::string_view kUsage =
    "Usage: kivhdr [OPTION]... [--] FILE...\n"
    "List the header fields of KIV files, one block per file: a line\n"
    "'FILENAME  file', a line 'KSTCMP  station component', then one line\n"
    "per field, name and value.\n"
    "\n"
    "  --list NAME  show the fields of the list NAME: DEFAULT (the default),\n"
    "               PICKS, SPECIAL or STD, in any letter case\n"
    "  --all        show undefined fields too, as 'undefined'\n"
    "  -f, --field NAME\n"
    "               show only the value of field NAME (any letter case); repeat\n"
    "               for more fields: one line per file, values tab-separated in\n"
    "               the order given, 'undefined' for an undefined field;\n"
    "               STARTTIME and ENDTIME are the first and the last\n"
    "               sample's time, as 2017-03-08T00:00:00.019750Z (UTC)\n"
    "  --table      one line per file, values tab-separated, after a header\n"
    "               line: file network station location channel start end\n"
    "               rate samples; network to channel are KNETWK, KSTNM,\n"
    "               KHOLE, KCMPNM, start and end STARTTIME and ENDTIME, rate\n"
    "               the nominal rate DELTA stands for, samples NPTS;\n"
    "               'undefined' for an undefined value\n"
    "  -H, --with-filename\n"
    "               begin each --field line, and each line on standard error\n"
    "               about a file, with the file's name and a tab\n"
    "               (a --table line begins with it anyway)\n"
    "  --help       show this help and stop\n"
    "  --version    show the version and stop\n"
    "  --           what follows are file names, even if they begin with '-'\n"
    "\n"
    "Numbers are shown exactly (the shortest text that reads back to the same\n"
    "value), texts trimmed, logicals as true or false, enumerated fields by\n"
    "name and description. KZDATE is year-month-day with the day of the year\n"
    "in parentheses, KZTIME hours:minutes:seconds.milliseconds; markers show\n"
    "their label in parentheses. STARTTIME is the reference time plus B;\n"
    "ENDTIME adds NPTS-1 nominal sampling intervals (the simplest rate or\n"
    "interval DELTA stands for) to it, or is the reference time plus E for\n"
    "an unevenly sampled file. Both are rounded to the microsecond, in the\n"
    "proleptic Gregorian calendar, 'undefined' outside the years 0000-9999.\n"
    "\n"
    "A file that cannot be listed gets one line on standard error and the\n"
    "other files are still listed. Exit status: 0 all files listed, 1 bad\n"
    "usage, 2 some file could not be listed.\n";

void out(std::string_view s) {
    std::fwrite(s.data(), 1, s.size(), stdout);
}

// The catalogue is set up without newhdr, which would also start the message
// system and so stop the process when KIVAUX is unset: listing needs no
// auxiliary files. The message catalogue is loaded here only to say when
// KIVAUX's cannot be: the reader's texts come from the library's own loading,
// built-in texts standing in for whatever KIVAUX's catalogue does not give.
void startup() {
    inihdr();
    inilhf();
    if (const char* aux = std::getenv("KIVAUX")) {
        std::int32_t nerr;
        kivmsg(nerr);
        if (nerr == kMsgCatalogueLine ||
            nerr == kMsgCatalogueFull) { // the entries before the stop were loaded
            printline("kivhdr: WARNING: message catalogue loaded only in part from KIVAUX=" +
                      std::string(aux) + " (error " + std::to_string(nerr) +
                      "); built-in texts are used where it gives none");
        } else if (nerr != 0) {
            printline(
                "kivhdr: WARNING: message catalogue not loaded from KIVAUX=" + std::string(aux) +
                " (error " + std::to_string(nerr) + "); built-in texts are used");
        }
    }
}

// Whether everything meant for standard output got there; if not, one line
// on standard error says so.
bool written() {
    errno = 0;
    if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) return true;
    const int e = errno;
    printline(std::string("kivhdr: cannot write standard output") +
              (e != 0 ? ": " + std::string(std::strerror(e)) : std::string()));
    return false;
}

// Whether a name is one of the catalogue's field or auxiliary names, or a time
// that only --field shows.
bool known(std::string_view name) {
    if (std::find(show::kTimeNames.begin(), show::kTimeNames.end(), name) != show::kTimeNames.end())
        return true;
    if (name.empty() || name.size() > 8) return false;
    Text<8> key;
    key.set(name);
    return nequal(key, kmlhf.kahdr) != 0 || nequal(key, kmlhf.kfhdr) != 0 ||
           nequal(key, kmlhf.knhdr) != 0 || nequal(key, kmlhf.kihdr) != 0 ||
           nequal(key, kmlhf.klhdr) != 0 || nequal(key, kmlhf.kkhdr) != 0;
}

// The chosen fields' values of one header, tab-separated (no newline).
void fieldline(const std::vector<std::string>& fields, const CmHdr& h, const KmHdr& k,
               std::string_view file, std::string& text) {
    std::string val;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) text += '\t';
        text += show::value(fields[i], h, k, file, val) ? val : "undefined";
    }
}

// --table: its header line, and the fields of its columns around the rate.
constexpr std::string_view kTableHead =
    "file\tnetwork\tstation\tlocation\tchannel\tstart\tend\trate\tsamples\n";
const std::vector<std::string> kTableFields = {"KNETWK", "KSTNM",     "KHOLE",
                                               "KCMPNM", "STARTTIME", "ENDTIME"};

// One --table line: the file's name as -H shows it, the fields, the nominal rate
// (the shortest text that reads back to the same double), NPTS.
void tableline(const CmHdr& h, const KmHdr& k, std::string_view file, std::string& text) {
    text = show::showname(file) + '\t';
    fieldline(kTableFields, h, k, file, text);
    Nominal n;
    if (nominal(h.f(fslot::DELTA), n)) {
        std::array<char, 32> buf{};
        const auto r = std::to_chars(buf.data(), buf.data() + buf.size(), n.hz());
        text += '\t' + std::string(buf.data(), r.ptr);
    } else {
        text += "\tundefined";
    }
    text += '\t';
    fieldline({"NPTS"}, h, k, file, text);
    text += '\n';
}

} // namespace

int main(int argc, char** argv) {
    zstdfd(); // no file opened here may take a standard stream's place
    std::string_view listname = "DEFAULT";
    bool all = false;
    bool withname = false;
    bool table = false;
    bool listgiven = false;
    std::vector<std::string> fields;
    const auto own = [&](std::string_view arg, int n, char** args, int& a) {
        if (arg == "--all") {
            all = true;
        } else if (arg == "-H" || arg == "--with-filename") {
            withname = true;
        } else if (arg == "--table") {
            table = true;
        } else if (arg == "--list") {
            if (++a == n) return usage("option --list needs a list name");
            listname = args[a], listgiven = true;
        } else if (arg.starts_with("--list=")) {
            listname = arg.substr(7), listgiven = true;
        } else if (arg == "--field" || arg == "-f") {
            if (++a == n) return usage("option " + std::string(arg) + " needs a field name");
            fields.emplace_back(args[a]);
        } else if (arg.starts_with("--field=")) {
            fields.emplace_back(arg.substr(8));
        } else {
            return -2;
        }
        return -1;
    };
    xlate::setprogram("kivhdr");
    char** names = nullptr;
    int nnames;
    if (const int status = xlate::readcommandline(
            argc, argv, names, nnames,
            [] {
                out(kUsage);
                return written() ? 0 : 1;
            },
            [] {
                out("kivhdr " KIVF_VERSION "\n");
                return written() ? 0 : 1;
            },
            own);
        status >= 0)
        return status;
    const std::span<char*> files(names, static_cast<std::size_t>(nnames));

    startup();
    if (table && (!fields.empty() || all || listgiven))
        return usage("option --table takes no --field, --list or --all");
    const std::int32_t list = show::findlist(listname);
    if (list == 0)
        return usage("no list named '" + std::string(listname) +
                     "' (lists: DEFAULT, PICKS, SPECIAL, STD)");
    for (std::string& f : fields) {
        for (char& c : f) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (!known(f)) return usage("no field named '" + f + "'");
    }
    if (files.empty()) return usage("no file given");

    static CmHdr h; // the header of each file in turn; the current one stays as it is
    static KmHdr k;
    std::string text;
    bool listed = false;
    bool anyfailed = false;
    if (table) out(kTableHead); // also when no file can be read: a script finds its columns
    for (const std::string_view file : files) {
        bool swapped;
        Failure failed;
        if (show::exactname(file, failed)) failed = loadheader(file, h, k, swapped);
        // With -H a failing file's line begins as its row would: the message
        // names the file too, but cut short or trimmed where the name is odd.
        const std::string name = withname ? show::showname(file) + '\t' : std::string();
        if (failed) {
            std::string message = "kivhdr: " + oneline(failed);
            maskcontrols(message); // the name before it keeps its tab
            printline(name + message, false);
            anyfailed = true;
            continue;
        }
        text.clear();
        if (table) {
            tableline(h, k, file, text);
        } else if (!fields.empty()) {
            text = name;
            fieldline(fields, h, k, file, text);
            text += '\n';
        } else {
            if (listed) text += '\n';
            show::listing(list, h, k, file, all, text);
        }
        out(text);
        listed = true;
    }
    return written() && !anyfailed ? 0 : 2;
}
