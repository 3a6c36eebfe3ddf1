// SPDX-License-Identifier: Apache-2.0
// kiv2ms's run: the converters' command line, messages, progress line and
// summary, over KIV files read whole one at a time and packed by the
// miniSEED packing library into files written whole.
//
// Memory: one KIV file's samples and the packer's copy of them; the names
// written so far.
#include "kiv2ms/kiv2ms.h"

#include "mswrite/mswrite.h"
#include "xlate/xlate.h"

#include "dff/dff.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace kivf::k2m {

using namespace xlate;
using mswrite::Encoding;
using mswrite::PackAs;
using mswrite::Plan;

namespace {

constexpr std::string_view kUsage =
    "Usage: kiv2ms [OPTION]... FILE...\n"
    "Convert KIV files into miniSEED 2 files: by default one beside each KIV\n"
    "file, named after it with .kiv replaced by .mseed (.mseed added to any\n"
    "other name).\n"
    "\n"
    "  -o DIR      write the miniSEED files into DIR, an existing directory\n"
    "  -o FILE     any other name: write every file's records into FILE\n"
    "  -r BYTES    record length, a power of two from 256 to 1048576\n"
    "              (default 512)\n"
    "  -e ENCODING steim1, steim2, int16, int32, float32 or float64; a file\n"
    "              it would change a sample of is refused (default: Steim-2\n"
    "              for whole numbers whose differences it holds, int32 for\n"
    "              other whole numbers, float32 for the rest)\n"
    "  -Q QUALITY  the records' data quality: D, R, Q or M (default D)\n"
    "  --network NN, --station SSSSS, --location LL, --channel CCC\n"
    "              codes for files whose own field (KNETWK, KSTNM, KHOLE,\n"
    "              KCMPNM) is undefined\n"
    "  -n          dry run: read and check everything, list what would be\n"
    "              written, write nothing\n"
    "  -q          quiet: show refusals only\n"
    "  -k, --no-clobber\n"
    "              keep every existing output: refuse what would replace it\n"
    "  --help      show this help and stop\n"
    "  --version   show the version and stop\n"
    "  --          what follows are file names, even if they begin with '-'\n"
    "\n"
    "A record's start is the file's first sample's time to the microsecond,\n"
    "its rate the nominal rate of DELTA. No encoding loses a sample: -0.0,\n"
    "NaN and infinities go as float32. Files that are not evenly sampled, have\n"
    "no start time or lie outside the years 1900 to 2100 are refused.\n"
    "Exit status: 0 everything converted, 1 bad usage or an output that\n"
    "cannot be made, 2 something not converted.\n";

void help() {
    std::fwrite(kUsage.data(), 1, kUsage.size(), stdout);
}

// What a run has done, for its summary.
struct Counts {
    std::int64_t read = 0, refused = 0, records = 0, samples = 0, outputs = 0;
};

struct Run {
    Options opt;
    PackAs as;
    Outputs out;
    bool single = false; // every input into one file, out.dir its path
    Counts n;
    Progress progress;
    std::unique_ptr<WholeFile> whole; // the one output, when single
    std::int32_t sequence = 1;        // the next record's, in the output being written
    bool unwritten = false;           // a write to the one output failed
};

// -r, -e, -Q and the codes; -1 taken, -2 not one of them, else the status.
int ownoption(PackAs& as, std::string_view arg, int argc, char** argv, int& a) {
    const auto next = [&](std::string_view& value) {
        if (a + 1 == argc) return false;
        value = argv[++a];
        return true;
    };
    std::string_view value;
    if (arg == "-r") {
        if (!next(value)) return usage("option -r needs a value");
        std::int64_t len = 0;
        const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), len);
        if (ec != std::errc{} || end != value.data() + value.size() || !mswrite::reclenok(len))
            return usage("record length '" + std::string(value) +
                         "' is not a power of two from 256 to 1048576");
        as.reclen = static_cast<int>(len);
        return -1;
    }
    if (arg == "-e") {
        if (!next(value)) return usage("option -e needs a value");
        if (!mswrite::encodingnamed(value, as.encoding))
            return usage("unknown encoding '" + std::string(value) +
                         "' (steim1, steim2, int16, int32, float32, float64)");
        return -1;
    }
    if (arg == "-Q") {
        if (!next(value)) return usage("option -Q needs a value");
        if (!mswrite::qualityok(value))
            return usage("data quality '" + std::string(value) + "' is none of D, R, Q, M");
        as.quality = value[0];
        return -1;
    }
    struct Code {
        std::string_view option;
        std::string PackAs::*code;
        std::size_t most;
    };
    for (const Code& c : {Code{"--network", &PackAs::network, mswrite::kNetworkMost},
                          Code{"--station", &PackAs::station, mswrite::kStationMost},
                          Code{"--location", &PackAs::location, mswrite::kLocationMost},
                          Code{"--channel", &PackAs::channel, mswrite::kChannelMost}}) {
        const int got = optionvalue(c.option, arg, argc, argv, a, value);
        if (got < 0) return 1;
        if (got == 0) continue;
        if (const std::string why = mswrite::codewhy(value, c.most); !why.empty())
            return usage(std::string(c.option) + " '" + std::string(value) + "' " + why);
        as.*c.code = value;
        return -1;
    }
    return -2;
}

// The output of input file: its name with .kiv made .mseed (or .mseed
// added; a name that is only ".kiv" keeps it), in the output directory
// when there is one.
std::string outname(const Run& run, std::string_view file) {
    std::string name(file);
    const std::size_t base = name.rfind('/') + 1; // 0 without a directory
    if (name.size() - base > 4 && name.ends_with(".kiv")) name.resize(name.size() - 4);
    name += ".mseed";
    if (!run.out.dir.empty()) name.erase(0, base); // into the directory
    return name;
}

void summary(const Run& run) {
    const Counts& n = run.n;
    std::array<char, 300> b{};
    std::snprintf(b.data(), b.size(),
                  "kiv2ms: %s%lld files read, %lld refused; %lld records (%lld samples) %swritten "
                  "to %lld files, %.3f s",
                  run.opt.dry ? "dry run: " : "", static_cast<long long>(n.read),
                  static_cast<long long>(n.refused), static_cast<long long>(n.records),
                  static_cast<long long>(n.samples), run.opt.dry ? "would be " : "",
                  static_cast<long long>(n.outputs),
                  std::chrono::duration<double>(Clock::now() - run.progress.start).count());
    complain(b.data());
}

// A library failure as a message of this program.
void tell(const Failure& failed) {
    complain(program() + ": " + oneline(failed)); // its lines joined, as every message is one
}

// How one trace went into its file: packed, refused by the packer (told),
// or a write failed (told once, with the file's name, by its commit).
enum class Packed { ok, refused, unwritten };

Packed packinto(Run& run, WholeFile& file, const Plan& p, std::span<const float> y) {
    std::int64_t records;
    int unwritten = 0;
    const Failure failed = mswrite::pack(
        p, y, run.as, run.sequence,
        [&](std::span<const char> r) { return unwritten = file.write(r); }, records);
    if (unwritten != 0) return Packed::unwritten;
    if (failed) {
        tell(failed);
        return Packed::refused;
    }
    run.n.records += records;
    run.n.samples += static_cast<std::int64_t>(y.size());
    return Packed::ok;
}

// A dry run's line for a file that would be written to output.
void listed(Run& run, const char* file, const std::string& output, const Plan& p,
            std::size_t samples) {
    std::printf("%s -> %s (%s, %zu samples)\n", file, output.c_str(),
                std::string(mswrite::encodingname(p.encoding)).c_str(), samples);
    run.n.samples += static_cast<std::int64_t>(samples);
}

// One KIV file: read, checked, packed and written. False when refused.
bool convertfile(Run& run, int fileno) {
    const char* file = run.out.files[fileno];
    static Trace trace; // reused: one file's samples at a time
    if (const Failure failed = loadtrace(file, trace)) {
        tell(failed);
        return false;
    }
    ++run.n.read;
    Plan p;
    if (const Failure failed = mswrite::plan(trace.hdr, trace.khdr, trace.y, run.as, file, p)) {
        tell(failed);
        return false;
    }
    if (run.single) {
        if (run.opt.dry)
            listed(run, file, run.out.dir, p, trace.y.size());
        else if (const Packed done = packinto(run, *run.whole, p, trace.y); done != Packed::ok)
            return run.unwritten = done == Packed::unwritten, false; // told at the commit
        return true;
    }
    const std::string name = outname(run, file);
    const std::string shown = outpath(run.out, name.c_str());
    if (const std::uint64_t first = run.out.written.find(name); first != 0) {
        Message(kMsgPackRepeat) << file << shown << "first written for"
                                << std::string_view(run.out.files[first - 1]);
        return false;
    }
    if (const std::int32_t why = clobbers(run.out, name.c_str(), FileId{}); why != 0) {
        Message(why == kMsgKept ? why : kMsgPackClobber) << file << shown;
        return false;
    }
    if (!run.out.written.room()) {
        Message(kMsgMsMemory) << file << shown << "(no memory left for the names written)";
        return false;
    }
    if (run.opt.dry) {
        listed(run, file, shown, p, trace.y.size());
    } else {
        WholeFile out;
        run.sequence = 1;
        const Failure opened = out.open(shown, run.out.keep);
        if (opened) {
            tell(opened);
            return false;
        }
        if (packinto(run, out, p, trace.y) == Packed::refused) return false; // out dropped
        if (const Failure failed = out.commit()) {
            if (failed.err == EEXIST && run.out.keep) // written by another run meanwhile: kept
                Message(kMsgKept) << file << shown;
            else
                tell(failed);
            return false;
        }
        ++run.n.outputs;
    }
    run.out.written.add(name, static_cast<std::uint64_t>(fileno) + 1);
    return true;
}

// Where the outputs go: beside the inputs, into a directory, or into one
// file (opened here, unless a dry run). False when that cannot be.
bool outputs(Run& run) {
    if (run.opt.outdir.empty()) return true;
    struct stat st {};
    if (::stat(std::string(run.opt.outdir).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        run.out.dir = run.opt.outdir;
        if (const int err = openoutdir(run.out, false); err != 0) {
            Message(kMsgBatchOutdir) << run.opt.outdir << std::strerror(err);
            return false;
        }
        return true;
    }
    run.single = true;
    run.out.dir = run.opt.outdir;
    if (const std::int32_t why = clobbers(run.out, run.out.dir.c_str(), FileId{}); why != 0) {
        if (why == kMsgKept)
            Message(why) << run.opt.outdir;
        else
            Message(kMsgPackClobber) << run.opt.outdir << "(it is named as an input too)";
        return false;
    }
    if (run.opt.dry) return true;
    run.whole = std::make_unique<WholeFile>();
    if (const Failure failed = run.whole->open(run.out.dir, run.out.keep)) {
        tell(failed);
        return false;
    }
    return true;
}

} // namespace

int run(int argc, char** argv) {
    setprogram("kiv2ms");
    Run run;
    PackAs& as = run.as;
    const auto own = [&as](std::string_view arg, int n, char** args, int& a) {
        return ownoption(as, arg, n, args, a);
    };
    if (const int status = readoptions(argc, argv, run.opt, help, own); status >= 0) return status;
    if (run.opt.nfiles == 0) return usage("no KIV file given");
    run.out.files = run.opt.files;
    run.out.keep = run.opt.keep;
    startmessages();                     // catalogue texts from KIVAUX, else built in
    cleanonsignals();                    // an interrupted run leaves no temporary file
    knowinputs(run.out, run.opt.nfiles); // no output may replace one
    if (!outputs(run)) return 1;
    run.progress.on = !run.opt.quiet && ::isatty(2) == 1;
    run.progress.total = run.opt.nfiles;
    bool failed = false;
    for (int f = 0; f < run.opt.nfiles; ++f) {
        const bool done = convertfile(run, f);
        run.n.refused += done ? 0 : 1;
        failed = failed || !done;
        ++run.progress.done;
        tick(run.progress, false);
    }
    if (run.whole) {
        if (run.n.records == 0 && !run.unwritten) {
            run.whole.reset(); // nothing packed: nothing left behind
        } else if (const Failure bad = run.whole->commit()) {
            if (bad.err == EEXIST && run.out.keep) // written by another run meanwhile: kept
                Message(kMsgKept) << run.opt.outdir;
            else
                tell(bad);
            failed = true;
            run.n.refused = run.opt.nfiles; // none of them was written after all
            run.n.records = run.n.samples = 0;
        } else {
            ++run.n.outputs;
        }
    }
    return endrun(run.progress, run.out, run.opt.quiet, failed, [&run] { summary(run); });
}

} // namespace kivf::k2m
