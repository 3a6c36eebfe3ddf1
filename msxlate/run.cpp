// SPDX-License-Identifier: Apache-2.0
// msxlate's run: the converters' command line, output directory, names
// written, writer, messages and progress line, over miniSEED files read
// whole one at a time.
//
// Memory: one file's samples (libmseed's trace list), converted to floats in
// place and written from there; the names written so far; a read buffer.
#include "msxlate/kivout.h"
#include "msxlate/msxlate.h"

#include "xlate/xlate.h"

#include "dff/dff.h"
#include "msg/msg.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace kivf::msx {

using namespace xlate;
using namespace msread;

namespace {

constexpr std::string_view kUsage =
    "Usage: msxlate [OPTION]... FILE...\n"
    "Convert miniSEED files into KIV files: one file for each continuous segment\n"
    "of each channel, named NET.STA.LOC.CHAN.YYYY.DDD.HH.MM.SS.mmm.kiv after its\n"
    "codes and its first sample's time.\n"
    "\n"
    "  -o DIR      write the KIV files into DIR, made with its parents when\n"
    "              missing (default: the working directory)\n"
    "  --stations FILE\n"
    "              channel metadata in the station text format of data centres\n"
    "              (Network|Station|Location|Channel|...): positions,\n"
    "              orientation, instrument and units\n"
    "  --event LAT,LON,DEPTH_KM,TIME\n"
    "              the event: its position and ISO 8601 UTC origin time;\n"
    "              distance and azimuths are computed for each file\n"
    "  -n          dry run: read and check everything, list what would be\n"
    "              written, write nothing\n"
    "  -q          quiet: show refusals only\n"
    "  -k, --no-clobber\n"
    "              keep every existing output: refuse what would replace it\n"
    "  --help      show this help and stop\n"
    "  --version   show the version and stop\n"
    "  --          what follows are file names, even if they begin with '-'\n"
    "\n"
    "Records of one file are joined when the next one starts within half a\n"
    "sample of where the last ended, whatever their order in the file; a gap or\n"
    "an overlap starts a new file. A start's microseconds after its millisecond\n"
    "go into B. Records without a time series (text, a sampling rate of 0) are\n"
    "skipped with a note. One file's samples are held in memory at a time.\n"
    "Exit status: 0 everything converted, 1 bad usage, 2 something not\n"
    "converted or the station table refused.\n";

void help() {
    std::fwrite(kUsage.data(), 1, kUsage.size(), stdout);
}

// What a run has done, for its summary.
struct Counts {
    std::int64_t records = 0, skipped = 0, refused = 0, segments = 0, gaps = 0, overlaps = 0,
                 samples = 0, rounded = 0;
    int files = 0;
};

struct Run {
    Options opt;
    Outputs out;
    Counts n;
    Progress progress;
    std::uint64_t budget = 0; // memory for one file's samples, taken at the start
    Gathered gathered;        // one file's segments' stats
    Metadata meta;            // --stations and --event
};

// What --stations and --event give a segment's header, then its distance
// and azimuths. A miniSEED record carries no calibration of its own.
void addmeta(Run& run, const Segment& s, std::string_view file, CmHdr& hdr, KmHdr& khdr) {
    ChannelMeta meta;
    run.meta.lookup(s.id->network, s.id->station, s.id->location, s.id->channel, s.seg->starttime,
                    false, file, meta);
    setmeta(hdr, khdr, meta, false);
    setevent(hdr, khdr, run.meta.event);
}

void summary(const Run& run) {
    const Counts& n = run.n;
    std::array<char, 300> b{};
    const std::string rounded =
        n.rounded > 0 ? ", " + std::to_string(n.rounded) + " samples rounded" : "";
    std::snprintf(
        b.data(), b.size(),
        "msxlate: %s%lld records read, %lld skipped, %lld refused; %lld segments %swritten, %lld "
        "gaps, %lld overlaps, %lld samples%s, %d files, %.3f s",
        run.opt.dry ? "dry run: " : "", static_cast<long long>(n.records),
        static_cast<long long>(n.skipped), static_cast<long long>(n.refused),
        static_cast<long long>(n.segments), run.opt.dry ? "would be " : "",
        static_cast<long long>(n.gaps), static_cast<long long>(n.overlaps),
        static_cast<long long>(n.samples), rounded.c_str(), n.files,
        std::chrono::duration<double>(Clock::now() - run.progress.start).count());
    complain(b.data());
}

// One segment: named, checked against what the run has written and read,
// converted and written. False when refused (its message printed).
bool convertsegment(Run& run, int fileno, const Segment& s) {
    const std::string_view file = run.out.files[fileno];
    if (!nameable(s.id)) {
        Message(kMsgMsName) << file
                            << "'" + std::string(s.id->network) + "." + s.id->station + "." +
                                   s.id->location + "." + s.id->channel + "'";
        return false;
    }
    const Instant start = splittime(s.seg->starttime);
    OutName name{};
    outname(s.id, start, name);
    const std::string shown = outpath(run.out, name.data());
    if (const std::uint64_t first = run.out.written.find(name.data()); first != 0) {
        Message(kMsgMsRepeat) << file << shown << "first written by"
                              << std::string_view(run.out.files[first - 1]);
        return false;
    }
    if (const std::int32_t why = clobbers(run.out, name.data(), FileId{}); why != 0) {
        Message(why == kMsgKept ? why : kMsgMsClobber) << file << shown;
        return false;
    }
    if (s.seg->numsamples > INT_MAX) {
        Message(kMsgMsTooLong) << file << shown
                               << "(" + std::to_string(s.seg->numsamples) + " samples)";
        return false;
    }
    if (!run.out.written.room()) {
        Message(kMsgMsMemory) << file << shown << "(no memory left for the names written)";
        return false;
    }
    static CmHdr hdr;
    static KmHdr khdr;
    if (run.opt.dry) { // the table is looked up all the same: its notes are checks too
        newhdr(hdr, khdr);
        addmeta(run, s, file, hdr, khdr);
        std::printf("%s -> %s (%lld samples at %g Hz)\n", run.out.files[fileno], shown.c_str(),
                    static_cast<long long>(s.seg->numsamples), s.seg->samprate);
    } else {
        fillheader(s, start, hdr, khdr, &run.gathered);
        addmeta(run, s, file, hdr, khdr);
        if (const int err = writeout(run.out, name.data(), hdr, khdr, floats(s.seg)); err != 0) {
            if (err == EEXIST && run.out.keep) // written by another run meanwhile: kept
                Message(kMsgKept) << file << shown;
            else
                Message(kMsgMsWrite) << file << shown << std::strerror(err);
            return false;
        }
    }
    run.out.written.add(name.data(), static_cast<std::uint64_t>(fileno) + 1);
    run.n.samples += s.seg->numsamples;
    return true;
}

// A segment whose samples another of its file holds: nothing is lost by
// leaving it out.
void noterepeat(const Run& run, int fileno, const Segment& s, const Segment& in) {
    OutName name{}, kept{};
    outname(s.id, splittime(s.seg->starttime), name);
    outname(in.id, splittime(in.seg->starttime), kept);
    Message(kMsgMsRepeated, "NOTE") << std::string_view(run.out.files[fileno]) << name.data()
                                    << "(" + std::to_string(s.seg->numsamples) + " samples) in"
                                    << outpath(run.out, kept.data());
}

// Open a file named on the command line: a regular file, FIFO or the like,
// not a directory or a device. -1 when refused (its message printed).
int openinput(const char* file) {
    const int fd = ::open(file, O_RDONLY | O_CLOEXEC);
    struct stat st {};
    const int err = fd < 0                  ? errno
                    : ::fstat(fd, &st) != 0 ? errno
                    : S_ISDIR(st.st_mode)   ? EISDIR
                                            : 0;
    const char* device = err == 0 ? devicewhy(fd) : nullptr;
    if (err == 0 && device == nullptr) return fd;
    if (fd >= 0) ::close(fd);
    Message(kMsgMsUnread) << std::string_view(file)
                          << (device != nullptr ? device : std::strerror(err));
    return -1;
}

// Every segment of one file. False when anything was refused.
bool convertfile(Run& run, int fileno) {
    const char* file = run.out.files[fileno];
    const int fd = openinput(file);
    if (fd < 0) {
        ++run.n.refused;
        return false;
    }
    MSTraceList* list = mstl_init(nullptr);
    run.gathered.clear();
    Progress& progress = run.progress;
    const ReadAs as{
        .budget = run.budget,
        .notes = !run.opt.quiet,
        .tell = [](const Told& t) { Message(t.number, t.note ? "NOTE" : "ERROR") << t.text; },
        .joined =
            [&progress](int len) {
                ++progress.done;
                progress.bytes += len;
                tick(progress, false);
            },
        .gathered = run.opt.dry ? nullptr : &run.gathered}; // a dry run makes no header
    const FileRead got = readfile(fd, file, list, as);
    ::close(fd);
    run.n.skipped += got.skipped;
    run.n.refused += got.refused;
    bool ok = got.refused == 0;
    if (!got.whole) {
        run.n.records += got.records;
        run.n.rounded += got.rounded;
        const std::vector<Segment> all = segments(list);
        const Breaks b = breaks(all);
        run.n.gaps += b.gaps;
        run.n.overlaps += b.overlaps;
        const std::vector<std::ptrdiff_t> repeated = repeats(all);
        for (std::size_t i = 0; i < all.size(); ++i) {
            const Segment& s = all[i];
            if (repeated[i] >= 0) {
                if (!run.opt.quiet)
                    noterepeat(run, fileno, s, all[static_cast<std::size_t>(repeated[i])]);
                continue; // let go with the list
            }
            const bool done = convertsegment(run, fileno, s);
            ++(done ? run.n.segments : run.n.refused);
            ok = ok && done;
            // Each segment's samples go once written: the list's memory
            // shrinks as the file's outputs are made.
            std::free(s.seg->datasamples);
            s.seg->datasamples = nullptr;
            s.seg->numsamples = 0;
        }
        ++run.n.files;
    }
    mstl_free(&list, 0);
    return ok;
}

} // namespace

int run(int argc, char** argv) {
    setprogram("msxlate");
    Run run;
    Metadata& meta = run.meta;
    const auto own = [&meta](std::string_view arg, int n, char** args, int& a) {
        return metaoption(meta, arg, n, args, a);
    };
    if (const int status = readoptions(argc, argv, run.opt, help, own); status >= 0) return status;
    if (run.opt.nfiles == 0) return usage("no miniSEED file given");
    run.out.files = run.opt.files;
    run.out.keep = run.opt.keep;
    startmessages(); // catalogue texts from KIVAUX, else built in
    capturelog();
    cleanonsignals(); // an interrupted run leaves no temporary file
    if (!run.opt.outdir.empty()) {
        run.out.dir = run.opt.outdir;
        if (const int err = openoutdir(run.out, !run.opt.dry); err != 0) {
            Message(kMsgBatchOutdir) << run.opt.outdir << std::strerror(err);
            return 1;
        }
    }
    run.meta.notes.quiet = run.opt.quiet;
    bool failed = !run.meta.load();
    run.progress.on = !run.opt.quiet && ::isatty(2) == 1;
    knowinputs(run.out, run.opt.nfiles); // no output may replace one
    run.budget = memorybudget();
    for (int f = 0; f < run.opt.nfiles; ++f) failed = !convertfile(run, f) || failed;
    return endrun(run.progress, run.out, run.opt.quiet, failed, [&run] { summary(run); });
}

} // namespace kivf::msx
