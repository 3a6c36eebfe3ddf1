// SPDX-License-Identifier: Apache-2.0
// wfdxlate's batch mode: every record of every wfdisc file named on the
// command line becomes one KIV file named after its content
// (STA.CHAN.YYYY.DDD.HH.MM.SS.mmm.kiv), written whole under a temporary name
// and renamed into place.
//
// Memory: one trace, whose samples grow to the largest record's (read a
// piece at a time, widened and appended), and the names written so far
// (written.h); everything else is fixed. Every wfdisc file is
// opened once and read once, so a pipe or FIFO works as a file does.
#include "wfdxlate/batch.h"
#include "wfdxlate/datatype.h"
#include "wfdxlate/layout.h"
#include "wfdxlate/rowfile.h"
#include "wfdxlate/samples.h"
#include "wfdxlate/site.h"

#include "co/co.h"
#include "dff/dff.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kivf::wfdx {

using xlate::fileline;
using xlate::Message;
using xlate::OutName;
using xlate::Progress;

namespace {

// A batch run: its options, its outputs and what it has done so far.
struct Run {
    xlate::Options opt;
    Schema schema = Schema::automatic;
    DirPlaces places; // --root and --dir-map
    bool failed = false;
    xlate::Outputs out;
    // A place is a line's number counted over all files of the run, from 1.
    std::vector<std::uint64_t> linesbefore; // lines of the run before each file
    Tally tally;
    Progress progress;
    Sites sites;          // the CSS station tables of --site, --sitechan or beside each file
    xlate::Metadata meta; // --stations and --event
};

// The file is the last one that started before the place.
std::string lineof(const Run& run, std::uint64_t place) {
    if (place >= xlate::Written::kMaxPlace) return "an earlier line";
    const auto& before = run.linesbefore;
    const auto f = std::upper_bound(before.begin(), before.end(), place - 1) - 1;
    return fileline(run.out.files[f - before.begin()], static_cast<std::int64_t>(place - *f));
}

// What the station tables, --stations and --event give a record's header,
// then its distance and azimuths.
void addmeta(Run& run, const Row& r, std::string_view at, CmHdr& h, KmHdr& k) {
    run.sites.lookup(r.sta, r.chan, r.at.year * 1000 + r.at.jday, at, h, k);
    xlate::ChannelMeta meta;
    run.meta.lookup({}, r.sta, {}, r.chan, r.startus, true, at, meta);
    xlate::setmeta(h, k, meta, r.calib > 0 && std::isfinite(r.calib));
    xlate::setevent(h, k, run.meta.event);
}

// One record: checked, read, widened, written. False when refused (its
// message printed). place: the line's place in the run.
bool convertline(Run& run, const Source& src, std::int64_t lineno, std::uint64_t place,
                 std::string_view text) {
    static Row r;
    const std::string at = fileline(src.file, lineno);
    if (!decoderow(r, src, text) || !nameable(r)) { // its columns first, then its names
        r.why.print(at);
        return false;
    }
    const int fd = opensamples(r);
    if (fd < 0) {
        r.why.print(at);
        return false;
    }
    OutName outfile{};
    outname(r, outfile);
    const std::string_view name(outfile.data());
    const std::string shown = xlate::outpath(run.out, outfile.data());
    std::int32_t refusal = 0;
    if (const std::uint64_t first = run.out.written.find(name); first != 0) {
        Message(kMsgBatchRepeat) << at << shown << "first written by" << lineof(run, first);
        refusal = kMsgBatchRepeat;
    } else if (const std::uint64_t by = rewritten(run.out, r.path, r.samplefile); by != 0) {
        Message(kMsgBatchRewritten) << at << r.path << "written by" << lineof(run, by);
        refusal = kMsgBatchRewritten;
    } else if ((refusal = xlate::clobbers(run.out, outfile.data(), r.samplefile)) != 0) {
        Message(refusal) << at << shown;
    } else if (!run.out.written.room()) {
        Message(kMsgBatchMemory) << at << std::int64_t{r.nsamp};
        refusal = kMsgBatchMemory;
    }
    if (refusal != 0) {
        ::close(fd);
        return false;
    }
    const auto n = static_cast<std::size_t>(r.nsamp);
    static Trace trace; // reused: its samples only grow
    std::size_t raw = 0;
    std::string why;
    DepAccum stats;
    // A dry run reads no samples but e1 blocks: only decoding them finds their faults.
    const std::int32_t failed =
        !run.opt.dry || dtcompressed(r.datatype) ? readsamples(r, fd, trace, raw, why, stats) : 0;
    ::close(fd);
    if (failed != 0) {
        Message(failed) << at << why;
        return false;
    }
    if (run.opt.dry) { // the tables are looked up all the same: their notes are checks too
        static CmHdr h;
        static KmHdr k;
        newhdr(h, k);
        addmeta(run, r, at, h, k);
        run.out.written.add(name, place);
        std::printf("%s -> %s (%zu samples, %.*s)\n", at.c_str(), shown.c_str(), n,
                    static_cast<int>(r.datatype.size()), r.datatype.data());
        run.tally.samples += r.nsamp;
        return true;
    }
    fillheader(r, trace, stats);
    addmeta(run, r, at, trace.hdr, trace.khdr);
    if (const int err = xlate::writeout(run.out, outfile.data(), trace.hdr, trace.khdr, trace.y);
        err != 0) {
        if (err == EEXIST && run.out.keep) // written by another run meanwhile: kept
            Message(kMsgKept) << at << shown;
        else
            Message(kMsgBatchWrite) << at << shown << std::strerror(err);
        return false;
    }
    run.out.written.add(name, place);
    run.tally.samples += r.nsamp;
    run.progress.bytes += static_cast<std::int64_t>(raw);
    return true;
}

// The lines of a wfdisc file read before its first records are converted:
// enough to tell a file of records from anything else (a binary file, a
// listing of another kind) and refuse it in one line, not line by line. Kept
// here, since a pipe can be read only once.
constexpr int kProbeRecords = 10;
struct Probe {
    struct Held {
        Line got;
        std::string text;        // empty for blank lines
        std::int64_t repeat = 1; // blank lines in a row are held once, counted
    };
    std::vector<Held> lines; // every line read, blank ones too
    int records = 0;         // lines that are not blank
    bool parsed = false;     // one of them parses in either layout
};

// Why the file is no file of wfdisc records, from the lines probed; empty
// when it may be one.
std::string notwfdisc(const Probe& p) {
    std::int64_t line = 1;
    for (const Probe::Held& h : p.lines) {
        if (h.got == Line::ok && h.text.empty()) {
            line += h.repeat;
            continue;
        }
        if (h.got == Line::nul) // the first record line tells
            return "(line " + std::to_string(line) + " holds a NUL byte)";
        break;
    }
    if (p.records == 0 || p.parsed) return {};
    const std::string lines = p.records == 1              ? "its one line is not"
                              : p.records < kProbeRecords ? "none of its lines is"
                                                          : "none of its first 10 lines is";
    return "(" + lines + " a record of the css3.0 or css2.8 layout)";
}

// Every line of one wfdisc file; lines counts the lines of the run so far.
void convertfile(Run& run, int fileno, std::uint64_t& lines) {
    const char* file = run.out.files[fileno];
    run.linesbefore.push_back(lines);
    WfdiscFile w(file);
    if (w.f == nullptr) {
        Message(kMsgBatchWfdisc) << std::string_view(file)
                                 << (w.why != nullptr ? w.why : std::strerror(errno));
        run.failed = true;
        return;
    }
    run.sites.open(file);
    run.failed = run.failed || run.sites.failed;
    Source src = source(file, run.schema, run.places);
    static std::array<char, kLineMax> buf;
    std::string_view text;
    Line got = Line::ok;
    static Probe probe;
    probe = Probe{};
    while (probe.records < kProbeRecords && (got = readline(w.f, buf, text)) != Line::eof) {
        if (got == Line::ok && blankline(text)) {
            auto& last = probe.lines;
            if (!last.empty() && last.back().got == Line::ok && last.back().text.empty())
                ++last.back().repeat;
            else
                last.push_back({got, std::string()});
            continue;
        }
        probe.lines.push_back({got, std::string(text)});
        ++probe.records;
        probe.parsed = probe.parsed || (got == Line::ok && parses(text));
    }
    if (const std::string why = notwfdisc(probe); !why.empty()) {
        Message(kMsgBatchNotWfdisc) << std::string_view(file) << why;
        run.failed = true;
        return;
    }
    std::int64_t lineno = 0;
    std::size_t held = 0;
    const auto next = [&]() {
        while (held < probe.lines.size() && probe.lines[held].repeat == 0) ++held;
        if (held == probe.lines.size()) return readline(w.f, buf, text);
        Probe::Held& h = probe.lines[held];
        --h.repeat;
        text = h.text;
        return h.got;
    };
    while ((got = next()) != Line::eof) {
        ++lineno;
        ++lines;
        if (got == Line::ok && blankline(text)) continue;
        bool ok = false;
        if (got != Line::ok) {
            Message(kMsgBatchLine) << fileline(file, lineno);
        } else {
            if (src.layout == Schema::automatic) src.layout = detect(text);
            if (src.layout == Schema::automatic) {
                Message(kMsgBatchLayout) << fileline(file, lineno);
                run.failed = true;
                return;
            }
            ok = convertline(run, src, lineno, lines, text);
        }
        ++(ok ? run.tally.converted : run.tally.refused);
        run.failed = run.failed || !ok;
        ++run.progress.done;
        xlate::tick(run.progress, false);
    }
    if (std::ferror(w.f) != 0) {
        Message(kMsgBatchWfdisc) << std::string_view(file) << std::strerror(EIO);
        run.failed = true;
        return;
    }
    ++run.tally.filesread;
}

// What every wfdisc file named is, before any is read: its identity, so no
// output replaces it, and the run's record count for the progress line,
// which is known only when every file is a regular one (counted from a
// separate opening; a pipe or FIFO is never opened for it).
void survey(Run& run) {
    const bool regular = knowinputs(run.out, run.opt.nfiles); // a directory is refused later
    if (!run.progress.on || !regular) return;
    std::int64_t n = 0;
    static std::array<char, kLineMax> buf;
    for (int f = 0; f < run.opt.nfiles; ++f) {
        // Without waiting: a file swapped for a FIFO since it was looked at
        // must not hold the run.
        const int fd = ::open(run.out.files[f], O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        struct stat st {};
        if (fd < 0 || ::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) { // refused by the run itself
            if (fd >= 0) ::close(fd);
            continue;
        }
        std::FILE* in = S_ISREG(st.st_mode) ? ::fdopen(fd, "r") : nullptr;
        if (in == nullptr) {
            ::close(fd);
            return;
        }
        std::string_view text;
        Line got = Line::ok;
        while ((got = readline(in, buf, text)) != Line::eof)
            if (got != Line::ok || !blankline(text)) ++n;
        std::fclose(in);
    }
    run.progress.total = n;
}

// --schema LAYOUT or --schema=LAYOUT.
int schemaoption(Schema& schema, std::string_view arg, int argc, char** argv, int& a) {
    std::string_view value;
    if (const int got = xlate::optionvalue("--schema", arg, argc, argv, a, value); got <= 0)
        return got == 0 ? -2 : 1;
    if (value == "auto") {
        schema = Schema::automatic;
    } else if (value == "css3.0") {
        schema = Schema::css30;
    } else if (value == "css2.8") {
        schema = Schema::css28;
    } else {
        return xlate::usage("--schema takes auto, css3.0 or css2.8, not " + std::string(value));
    }
    return -1;
}

} // namespace

int batch(int argc, char** argv) {
    static Run run;
    xlate::Options& o = run.opt;
    const auto schema = [](std::string_view arg, int n, char** args, int& a) {
        int got = schemaoption(run.schema, arg, n, args, a);
        if (got == -2) got = placeoption(run.places, arg, n, args, a);
        if (got == -2) got = siteoption(run.sites, arg, n, args, a);
        return got == -2 ? xlate::metaoption(run.meta, arg, n, args, a) : got;
    };
    if (const int status = xlate::readoptions(argc, argv, o, help, schema); status >= 0)
        return status;
    if (o.nfiles == 0) return xlate::usage("no wfdisc file given");
    run.out.files = o.files;
    run.out.keep = o.keep;
    const std::string_view outdir = o.outdir;

    xlate::startmessages(); // catalogue texts from KIVAUX, else built in
    if (!outdir.empty()) {
        run.out.dir = outdir;
        if (const int err = xlate::openoutdir(run.out, !run.opt.dry);
            err != 0) { // a dry run makes nothing
            Message(kMsgBatchOutdir) << outdir << std::strerror(err);
            return 1;
        }
    }
    run.sites.notes.quiet = run.meta.notes.quiet = run.opt.quiet;
    run.failed = !run.meta.load();
    run.progress.on = !run.opt.quiet && ::isatty(2) == 1;
    survey(run);
    std::uint64_t lines = 0;
    for (int f = 0; f < run.opt.nfiles; ++f) convertfile(run, f, lines);
    return xlate::endrun(run.progress, run.out, run.opt.quiet, run.failed,
                         [] { summary(run.tally, run.opt.dry, run.progress.start); });
}

} // namespace kivf::wfdx
