// wfdxlate's batch mode: every record of every wfdisc file named on the
// command line becomes one KIV file named after its content
// (STA.CHAN.YYYY.DDD.HH.MM.SS.mmm.kiv), written whole under a temporary name
// and renamed into place.
//
// Memory: one buffer, as large as the largest record's samples, into which
// the raw samples are read and widened to floats in place, and the names
// written so far (written.h); everything else is fixed. Every wfdisc file is
// opened once and read once, so a pipe or FIFO works as a file does.
#include "wfdxlate/batch.h"
#include "wfdxlate/wfdx.h"
#include "wfdxlate/written.h"

#include "co/co.h"
#include "dff/dff.h"
#include "msg/msg.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>

namespace kivf::wfdx {

namespace {

using Clock = std::chrono::steady_clock;

// Message numbers of the batch mode (texts in the catalogue).
enum BatchMsg : std::int32_t {
    kMsgColumns = 2030,   // fewer columns than the layout needs
    kMsgColumn = 2031,    // a column is not a number or is out of range
    kMsgRate = 2032,      // rate not a finite number above 0
    kMsgDatatype = 2033,  // datatype code not known
    kMsgDate = 2034,      // css2.8 date column disagrees with the start time
    kMsgOpen = 2035,      // sample file cannot be opened or is not a regular file
    kMsgShort = 2036,     // sample file too short
    kMsgRead = 2037,      // samples cannot be read
    kMsgName = 2038,      // station or channel unfit for a file name
    kMsgRepeat = 2039,    // output name already written in this run
    kMsgWrite = 2040,     // the KIV file was not written
    kMsgWfdisc = 2041,    // a wfdisc file cannot be read
    kMsgLayout = 2042,    // layout cannot be told
    kMsgMemory = 2043,    // no memory for the samples
    kMsgLine = 2044,      // line too long or holding a NUL
    kMsgOutdir = 2045,    // output directory unusable
    kMsgClobber = 2046,   // the output would replace a wfdisc file of this run
    kMsgOwn = 2047,       // the output would replace the record's own sample file
    kMsgRewritten = 2048, // the sample file is an output of this run
};

enum class Schema { automatic, css30, css28 };

constexpr std::size_t kLineMax = 1024; // a line and its end
constexpr std::size_t kMaxTok = 24;    // columns looked at; later ones are ignored
constexpr std::int64_t kMaxSamples = std::int64_t{INT32_MAX} - kHdrWords; // a KIV file's limit
constexpr double kMaxOffset = 9007199254740992.0;                         // 2^53: exact in a double

constexpr std::string_view kUsage =
    "Usage: wfdxlate [OPTION]... WFDISC...\n"
    "       wfdxlate            (no arguments: asks for one wfdisc file)\n"
    "Convert every record of each wfdisc file into a KIV file named\n"
    "STA.CHAN.YYYY.DDD.HH.MM.SS.mmm.kiv after its station, channel and start.\n"
    "\n"
    "  -o DIR             write the KIV files into DIR (default: the working\n"
    "                     directory)\n"
    "  --schema LAYOUT    column layout of the wfdisc files: auto (the default,\n"
    "                     decided per file from its first line), css3.0 or css2.8\n"
    "  -n                 dry run: check every record and list what would be\n"
    "                     written, write nothing\n"
    "  -q                 quiet: show refused records only\n"
    "  --help             show this help and stop\n"
    "  --version          show the version and stop\n"
    "  --                 what follows are file names, even if they begin with '-'\n"
    "\n"
    "Sample files are found from dir and dfile, relative to the wfdisc file's\n"
    "own directory, nsamp samples from byte foff; datatypes s4 i4 s2 i2 s3 i3\n"
    "t4 f4 t8 f8. KIVAUX is not needed (message texts are built in; when set,\n"
    "they come from its catalogue).\n"
    "Exit status: 0 every record converted, 1 bad usage, 2 some record or file\n"
    "not converted.\n";

#ifndef KIVF_VERSION
#define KIVF_VERSION "unknown"
#endif

// ------------------------------------------------------------ messages ----

bool g_progress = false; // a progress line stands on the terminal

void complain(std::string_view s) {
    std::fflush(stdout);
    std::string line(s);
    maskcontrols(line); // a message is one line on a terminal, whatever a record held
    line += '\n';
    if (g_progress) line.insert(0, "\r\033[K"); // never run on from the progress line
    g_progress = false;
    std::fwrite(line.data(), 1, line.size(), stderr);
}

// A numbered message: its catalogue text, then the particulars.
struct Say {
    std::string s;
    explicit Say(std::int32_t number) {
        MsgLine text;
        getmsg(number, text);
        s = "wfdxlate: ERROR " + std::to_string(number) + ": ";
        s += text.used();
    }
    Say& operator<<(std::string_view piece) {
        if (!piece.empty()) (s += ' ') += piece;
        return *this;
    }
    Say& operator<<(std::int64_t n) { return *this << std::string_view(std::to_string(n)); }
    ~Say() { complain(s); }
};

std::string where(std::string_view file, std::int64_t line) {
    return std::string(file) + ":" + std::to_string(line);
}

// ------------------------------------------------------------- records ----

struct Rec {
    std::array<std::string_view, kMaxTok> tok{};
    std::size_t ntok = 0;
    std::string_view sta, chan, instype, datatype, user0, user1;
    std::string_view namesta, namechan; // as cut for the file name
    double time = 0, rate = 0, calib = 0;
    std::int64_t nsamp = 0, foff = 0;
    std::int32_t year = 0, jday = 0, hour = 0, min = 0, sec = 0, msec = 0;
    int width = 0;
    std::array<char, 96> name{}; // output file name, NUL-terminated
    std::string path;            // the sample file
    dev_t dev = 0;               // and its identity, once opened
    ino_t ino = 0;
    // Particulars of a refusal.
    std::int32_t err = 0;
    std::string_view what, bad;
    std::int64_t x = -1, y = -1;
    std::string reason;

    bool refuse(std::int32_t number, std::string_view w, std::string_view b = {},
                std::int64_t xx = -1, std::int64_t yy = -1) {
        err = number;
        what = w;
        bad = b;
        x = xx;
        y = yy;
        return false;
    }
};

struct Source {
    std::string_view file; // as named
    std::string dir;       // its directory: where relative sample paths start
    Schema layout = Schema::automatic;
};

bool number(std::string_view t, double& v) {
    return rdfree(t, v);
}

bool digits(std::string_view t) {
    return !t.empty() && t.find_first_not_of("0123456789") == std::string_view::npos;
}

std::size_t split(std::string_view line, std::array<std::string_view, kMaxTok>& tok) {
    std::size_t n = 0, i = 0;
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (i < line.size() && n < kMaxTok) {
        while (i < line.size() && blank(line[i])) ++i;
        const std::size_t b = i;
        while (i < line.size() && !blank(line[i])) ++i;
        if (i > b) tok[n++] = line.substr(b, i - b);
    }
    return n;
}

// The layout of a file from its first non-blank line; automatic when it
// cannot be told.
Schema detect(std::string_view line) {
    std::array<std::string_view, kMaxTok> t{};
    const std::size_t n = split(line, t);
    if (n < 3) return Schema::automatic;
    double v = 0;
    const bool third = number(t[2], v);
    if (third && !digits(t[0])) return Schema::css30;
    if (!third && digits(t[0]) && t[0].size() >= 5 && t[0].size() <= 7) return Schema::css28;
    return Schema::automatic;
}

// The start time to the millisecond by the dialogue's rule (rounded to the
// microsecond, then cut to the millisecond).
bool times(Rec& r) {
    std::int32_t sod = 0;
    if (!dayseconds(r.time, sod, r.msec)) return false;
    const auto us = static_cast<std::int64_t>(std::llround(r.time * 1e6));
    std::int64_t whole = us / 1000000;
    if (us % 1000000 < 0) --whole;
    std::int64_t days = whole / 86400;
    if (whole % 86400 < 0) --days;
    gregorian(days, r.year, r.jday);
    r.hour = sod / 3600;
    r.min = sod / 60 % 60;
    r.sec = sod % 60;
    return true;
}

bool whole(std::string_view t, double lo, double hi, std::int64_t& v) {
    double d = 0;
    if (!number(t, d) || d != std::floor(d) || d < lo || d > hi) return false;
    v = static_cast<std::int64_t>(d);
    return true;
}

// The first 8 bytes of a name for the file name, cut back to the start of a
// UTF-8 character when the cut would split one (the header keeps all 8).
std::string_view charcut(std::string_view s) {
    std::size_t k = std::min<std::size_t>(s.size(), 8);
    const auto continuation = [&](std::size_t i) {
        return (static_cast<unsigned char>(s[i]) & 0xC0U) == 0x80U;
    };
    while (k < s.size() && k > 5 && continuation(k)) --k; // a character is at most 4 bytes
    return s.substr(0, k);
}

// A name that is safe as part of a file name: no path separator, nothing
// unprintable, and not empty.
bool fitname(std::string_view s) {
    if (s.empty()) return false;
    for (const char c : s)
        if (c == '/' || static_cast<unsigned char>(c) < 0x21 || c == 0x7F) return false;
    return true;
}

// Decode one line and find its sample file; nothing is opened.
bool decode(Rec& r, const Source& src, std::string_view line) {
    r.ntok = split(line, r.tok);
    const bool css30 = src.layout == Schema::css30;
    const std::size_t need = css30 ? 19 : 17;
    if (r.ntok < need)
        return r.refuse(kMsgColumns, css30 ? "css3.0" : "css2.8", {},
                        static_cast<std::int64_t>(r.ntok), static_cast<std::int64_t>(need));
    const auto& t = r.tok;
    // Columns by layout: time, nsamp, samprate, calib, instype, datatype, dir, dfile, foff.
    static constexpr std::array<std::size_t, 11> c30 = {0, 1, 2, 7, 8, 9, 11, 13, 15, 16, 17};
    static constexpr std::array<std::size_t, 11> c28 = {2, 3, 1, 4, 5, 6, 8, 10, 14, 15, 16};
    const auto& c = css30 ? c30 : c28;
    r.sta = t[c[0]].substr(0, 8);
    r.chan = t[c[1]].substr(0, 8);
    r.namesta = charcut(t[c[0]]);
    r.namechan = charcut(t[c[1]]);
    r.instype = t[c[6]];
    r.datatype = t[c[7]];
    r.user0 = !css30 && r.ntok >= 20 ? t[19] : std::string_view{};
    r.user1 = !css30 && r.ntok >= 21 ? t[20] : std::string_view{};

    if (!number(t[c[2]], r.time) || !times(r)) return r.refuse(kMsgColumn, "time", t[c[2]]);
    if (!css30) {
        std::int32_t date = 0;
        if (!digits(t[0]) || !rdint(t[0], date) || date != r.year * 1000 + r.jday)
            return r.refuse(kMsgDate, t[0], {}, std::int64_t{r.year} * 1000 + r.jday);
    }
    if (!whole(t[c[3]], 0, static_cast<double>(kMaxSamples), r.nsamp))
        return r.refuse(kMsgColumn, "nsamp", t[c[3]]);
    // The interval must be a float a reader can use: 1e-300 gives no finite
    // one, 1e300 none above 0.
    if (!number(t[c[4]], r.rate) || !std::isfinite(r.rate) || !(r.rate > 0))
        return r.refuse(kMsgRate, t[c[4]]);
    const auto delta = static_cast<float>(1.0 / r.rate);
    if (!std::isnormal(delta)) return r.refuse(kMsgRate, t[c[4]]);
    const auto span = static_cast<double>(std::max<std::int64_t>(r.nsamp - 1, 0));
    if (!std::isfinite(static_cast<float>(span * delta)))
        return r.refuse(kMsgRate, t[c[4]], "(E would be beyond a 32-bit float)");
    if (!number(t[c[5]], r.calib)) r.calib = 0; // a scale is kept only when it is one
    r.width = dtwidth(r.datatype);
    if (r.width == 0) return r.refuse(kMsgDatatype, r.datatype);
    if (!whole(t[c[10]], 0, kMaxOffset, r.foff)) return r.refuse(kMsgColumn, "foff", t[c[10]]);
    if (!fitname(r.namesta) || !fitname(r.namechan)) return r.refuse(kMsgName, r.sta, r.chan);

    std::snprintf(r.name.data(), r.name.size(), "%.*s.%.*s.%04d.%03d.%02d.%02d.%02d.%03d.kiv",
                  static_cast<int>(r.namesta.size()), r.namesta.data(),
                  static_cast<int>(r.namechan.size()), r.namechan.data(), r.year, r.jday, r.hour,
                  r.min, r.sec, r.msec);

    // dir and dfile; a relative dir (also "." and "-") starts at the wfdisc
    // file's directory, never at the working directory.
    const std::string_view dir = t[c[8]], dfile = t[c[9]];
    r.path.clear();
    if (dfile[0] != '/') {
        if (dir[0] == '/') {
            r.path = dir;
        } else {
            r.path = src.dir;
            if (dir != "-" && dir != ".") {
                if (!r.path.empty()) r.path += '/';
                r.path += dir;
            }
        }
        if (!r.path.empty() && r.path.back() != '/') r.path += '/';
    }
    r.path += dfile;
    return true;
}

// Open the sample file and check that it holds the record's samples. Returns
// the descriptor, or -1 with the refusal set.
int locate(Rec& r) {
    const int fd = ::open(r.path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        r.reason = fd < 0 ? std::strerror(errno) : "not a regular file";
        if (fd >= 0) ::close(fd);
        r.refuse(kMsgOpen, r.path, r.reason);
        return -1;
    }
    const std::int64_t need = r.foff + r.nsamp * r.width;
    if (st.st_size < need) {
        ::close(fd);
        r.refuse(kMsgShort, r.path, {}, static_cast<std::int64_t>(st.st_size), need);
        return -1;
    }
    r.dev = st.st_dev;
    r.ino = st.st_ino;
    return fd;
}

void say(const Rec& r, const Source& src, std::int64_t line) {
    Say m(r.err);
    m << where(src.file, line) << r.what << r.bad;
    if (r.err == kMsgColumns) m << "(" + std::to_string(r.x) + " of " + std::to_string(r.y) + ")";
    if (r.err == kMsgDate) m << "(start time is in " + std::to_string(r.x) + ")";
    if (r.err == kMsgShort)
        m << "(" + std::to_string(r.x) + " bytes, needs " + std::to_string(r.y) + ")";
}

// ------------------------------------------------------------ reading ----

// One line into a fixed buffer; the rest of a longer line is skipped.
enum class Line { ok, eof, bad };
Line readline(std::FILE* f, std::array<char, kLineMax>& buf, std::string_view& line) {
    std::size_t n = 0;
    bool bad = false;
    int ch = 0;
    while ((ch = getc_unlocked(f)) != EOF && ch != '\n') {
        if (ch == 0 || n + 1 >= buf.size()) bad = true; // a NUL would cut a path short
        if (!bad) buf[n++] = static_cast<char>(ch);
    }
    if (ch == EOF && n == 0 && !bad) return Line::eof;
    line = std::string_view(buf.data(), n);
    return bad ? Line::bad : Line::ok;
}

bool blankline(std::string_view s) {
    return s.find_first_not_of(" \t\r") == std::string_view::npos;
}

struct Wfdisc {
    std::FILE* f = nullptr;
    explicit Wfdisc(const char* path) {
        f = std::fopen(path, "r");
        struct stat st {};
        if (f != nullptr && (::fstat(::fileno(f), &st) != 0 || S_ISDIR(st.st_mode))) {
            std::fclose(f);
            f = nullptr;
            errno = EISDIR;
        }
    }
    ~Wfdisc() {
        if (f != nullptr) std::fclose(f);
    }
    Wfdisc(const Wfdisc&) = delete;
    Wfdisc& operator=(const Wfdisc&) = delete;
};

Source source(const char* file, Schema schema) {
    Source s;
    s.file = file;
    const std::string_view v(file);
    const std::size_t slash = v.rfind('/');
    if (slash != std::string_view::npos) s.dir = v.substr(0, slash == 0 ? 1 : slash);
    s.layout = schema;
    return s;
}

// ------------------------------------------------------------- the run ----

struct Run {
    char** files = nullptr;
    int nfiles = 0;
    Schema schema = Schema::automatic;
    std::string outdir; // as given, for showing names; empty for the working directory
    int dirfd = AT_FDCWD;
    bool dry = false, quiet = false, progress = false;
    std::int64_t converted = 0, refused = 0, samples = 0, bytes = 0, done = 0, total = -1;
    int filesread = 0;
    bool failed = false;
    Clock::time_point start = Clock::now(), shown{};
    // Output names written so far, each with its place: the line's number
    // counted over all files of the run, from 1 (base: lines before a file).
    Written written;
    std::vector<std::uint64_t> base;
    // Device and inode of each wfdisc file named: no output may replace one.
    std::vector<std::pair<dev_t, ino_t>> inputs;
};

// "file:line" of a place, from the lines each file started after.
std::string placed(const Run& run, std::uint64_t place) {
    if (place >= Written::kMaxPlace) return "an earlier line";
    const auto f = std::upper_bound(run.base.begin(), run.base.end(), place - 1) - 1;
    return where(run.files[f - run.base.begin()], static_cast<std::int64_t>(place - *f));
}

// The sample buffer: as large as the largest record so far, reused.
std::byte* samplebuf(std::size_t bytes) {
    static std::byte* buf = nullptr;
    static std::size_t cap = 0;
    if (bytes > cap) {
        std::free(buf);
        buf = static_cast<std::byte*>(std::malloc(bytes));
        cap = buf == nullptr ? 0 : bytes;
    }
    return buf;
}

// Header fields of the record; every other field keeps its reset value.
void fillheader(const Rec& r, const float* y, std::size_t n) {
    newhdr();
    const auto delta = static_cast<float>(1.0 / r.rate);
    cmhdr.n(nslot::NPTS) = static_cast<std::int32_t>(n);
    cmhdr.f(fslot::DELTA) = delta;
    cmhdr.f(fslot::B) = 0.0F;
    cmhdr.n(nslot::NZYEAR) = r.year;
    cmhdr.n(nslot::NZJDAY) = r.jday;
    cmhdr.n(nslot::NZHOUR) = r.hour;
    cmhdr.n(nslot::NZMIN) = r.min;
    cmhdr.n(nslot::NZSEC) = r.sec;
    cmhdr.n(nslot::NZMSEC) = r.msec;
    cmhdr.i(islot::IFTYPE) = ienum::ITIME;
    cmhdr.l(lslot::LEVEN) = 1;
    kmhdr.k(kslot::KSTNM).set(r.sta);
    kmhdr.k(kslot::KCMPNM).set(r.chan);
    if (r.instype != "-") kmhdr.k(kslot::KINST).set(r.instype);
    if (!r.user0.empty()) kmhdr.k(kslot::KUSER0).set(r.user0);
    if (!r.user1.empty()) kmhdr.k(kslot::KUSER1).set(r.user1);
    if (r.calib > 0 && std::isfinite(r.calib)) cmhdr.f(fslot::SCALE) = static_cast<float>(r.calib);
    if (n == 0) return;
    cmhdr.f(fslot::E) = static_cast<float>(static_cast<double>(n - 1) * delta);
    // Extremes and mean of the samples that are numbers.
    double lo = INFINITY, hi = -INFINITY, sum = 0;
    std::size_t count = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const float v = y[i];
        if (v != v) continue;
        lo = v < lo ? v : lo;
        hi = v > hi ? v : hi;
        sum += v;
        ++count;
    }
    if (count == 0) return;
    cmhdr.f(fslot::DEPMIN) = static_cast<float>(lo);
    cmhdr.f(fslot::DEPMAX) = static_cast<float>(hi);
    cmhdr.f(fslot::DEPMEN) = static_cast<float>(sum / static_cast<double>(count));
}

// The header and samples under a temporary name, renamed over the target, as
// the writer does it: readers and concurrent runs never see a partial file, an
// interrupted run leaves none. Returns 0 or errno.
int writeout(const Run& run, const char* name, const float* y, std::size_t n) {
    std::array<char, kHdrWords * 4> head{};
    std::memcpy(head.data(), &cmhdr, kHdrNumWords * 4);
    std::memcpy(head.data() + kHdrNumWords * 4, kmhdr.khdr.data(), kHdrTextBytes);
    const int fd =
        wkivtemp(run.dirfd, run.outdir.empty() ? "." : run.outdir.c_str(), run.dirfd, name);
    if (fd < 0) return errno;
    std::array<iovec, 2> iov{iovec{head.data(), head.size()},
                             iovec{const_cast<float*>(y), n * sizeof(float)}};
    int err = 0;
    std::size_t first = 0;
    while (first < iov.size() && err == 0) {
        const ssize_t put = ::writev(fd, &iov[first], static_cast<int>(iov.size() - first));
        if (put < 0) {
            if (errno != EINTR) err = errno;
            continue;
        }
        auto left = static_cast<std::size_t>(put);
        while (first < iov.size() && left >= iov[first].iov_len) left -= iov[first++].iov_len;
        if (first < iov.size()) {
            iov[first].iov_base = static_cast<char*>(iov[first].iov_base) + left;
            iov[first].iov_len -= left;
        }
    }
    if (::close(fd) != 0 && err == 0) err = errno;
    const int placed = wkivdone(run.dirfd, name, err == 0);
    return err != 0 ? err : placed;
}

std::string shown(const Run& run, const char* name) {
    if (run.outdir.empty()) return name;
    return run.outdir + (run.outdir.back() == '/' ? "" : "/") + name;
}

void tick(Run& run, bool last) {
    if (!run.progress) return;
    const auto now = Clock::now();
    if (!last && now - run.shown < std::chrono::milliseconds(100)) return;
    run.shown = now;
    const double s = std::chrono::duration<double>(now - run.start).count();
    std::array<char, 128> b{};
    const double rate = s > 0 ? static_cast<double>(run.bytes) / 1e6 / s : 0.0;
    if (run.total >= 0) // unknown when a file is a pipe: records done only
        std::snprintf(b.data(), b.size(), "\r%lld of %lld records, %.1f MB/s\033[K",
                      static_cast<long long>(run.done), static_cast<long long>(run.total), rate);
    else
        std::snprintf(b.data(), b.size(), "\r%lld records, %.1f MB/s\033[K",
                      static_cast<long long>(run.done), rate);
    std::fputs(b.data(), stderr);
    if (last) std::fputs("\r\033[K", stderr);
    g_progress = !last;
}

// Why a record's output may not be written: it would replace a wfdisc file
// of this run or the record's own sample file (same device and inode).
std::int32_t clobbers(const Run& run, const Rec& r) {
    struct stat out {};
    if (::fstatat(run.dirfd, r.name.data(), &out, 0) != 0) return 0;
    for (const auto& [dev, ino] : run.inputs)
        if (out.st_dev == dev && out.st_ino == ino) return kMsgClobber;
    return out.st_dev == r.dev && out.st_ino == r.ino ? kMsgOwn : 0;
}

// The place that wrote the record's sample file when it is an output of this
// run (its samples would be a header and floats, not the raw data), else 0.
std::uint64_t rewritten(const Run& run, const Rec& r) {
    const std::string_view path(r.path);
    const std::string base(path.substr(path.rfind('/') + 1)); // all of it when no '/'
    if (!base.ends_with(".kiv")) return 0;
    const std::uint64_t first = run.written.find(base);
    struct stat out {};
    if (first == 0 || ::fstatat(run.dirfd, base.c_str(), &out, 0) != 0) return 0;
    return out.st_dev == r.dev && out.st_ino == r.ino ? first : 0;
}

// One record: checked, read, widened, written. False when refused (its
// message printed).
bool record(Run& run, const Source& src, std::int64_t lineno, std::uint64_t place,
            std::string_view text) {
    static Rec r;
    if (!decode(r, src, text)) {
        say(r, src, lineno);
        return false;
    }
    const int fd = locate(r);
    if (fd < 0) {
        say(r, src, lineno);
        return false;
    }
    const std::string_view name(r.name.data());
    const std::string at = where(src.file, lineno), shownname = shown(run, r.name.data());
    std::int32_t refusal = 0;
    if (const std::uint64_t first = run.written.find(name); first != 0) {
        Say(kMsgRepeat) << at << shownname << "first written by" << placed(run, first);
        refusal = kMsgRepeat;
    } else if (const std::uint64_t by = rewritten(run, r); by != 0) {
        Say(kMsgRewritten) << at << r.path << "written by" << placed(run, by);
        refusal = kMsgRewritten;
    } else if ((refusal = clobbers(run, r)) != 0) {
        Say(refusal) << at << shownname;
    } else if (!run.written.room()) {
        Say(kMsgMemory) << at << std::int64_t{r.nsamp};
        refusal = kMsgMemory;
    }
    if (refusal != 0) {
        ::close(fd);
        return false;
    }
    const auto n = static_cast<std::size_t>(r.nsamp);
    if (run.dry) {
        ::close(fd);
        run.written.add(name, place);
        std::printf("%s -> %s (%zu samples, %.*s)\n", at.c_str(), shownname.c_str(), n,
                    static_cast<int>(r.datatype.size()), r.datatype.data());
        run.samples += r.nsamp;
        return true;
    }
    const std::size_t raw = n * static_cast<std::size_t>(r.width);
    std::byte* buf = samplebuf(std::max<std::size_t>(n * std::max(r.width, 4), 1));
    if (buf == nullptr) {
        ::close(fd);
        Say(kMsgMemory) << at << std::int64_t{r.nsamp};
        return false;
    }
    std::size_t got = 0;
    const bool whole = zpreadn(fd, buf, raw, r.foff, got);
    const int rerr = errno;
    ::close(fd);
    if (!whole) { // the size was checked: the file changed, or the device failed
        Say(kMsgRead) << at << r.path
                      << (rerr != 0 ? std::string(std::strerror(rerr))
                                    : "file ended after " + std::to_string(got) + " of " +
                                          std::to_string(raw) + " bytes");
        return false;
    }
    widen(r.datatype, buf, n);
    const auto* y = reinterpret_cast<const float*>(buf);
    fillheader(r, y, n);
    if (const int err = writeout(run, r.name.data(), y, n); err != 0) {
        Say(kMsgWrite) << at << shownname << std::strerror(err);
        return false;
    }
    run.written.add(name, place);
    run.samples += r.nsamp;
    run.bytes += static_cast<std::int64_t>(raw);
    return true;
}

void onefile(Run& run, int fileno, std::uint64_t& lines) {
    const char* file = run.files[fileno];
    run.base.push_back(lines);
    Wfdisc w(file);
    if (w.f == nullptr) {
        Say(kMsgWfdisc) << std::string_view(file) << std::strerror(errno);
        run.failed = true;
        return;
    }
    Source src = source(file, run.schema);
    static std::array<char, kLineMax> buf;
    std::string_view text;
    Line got = Line::ok;
    std::int64_t lineno = 0;
    while ((got = readline(w.f, buf, text)) != Line::eof) {
        ++lineno;
        ++lines;
        if (got == Line::ok && blankline(text)) continue;
        bool ok = false;
        if (got == Line::bad) {
            Say(kMsgLine) << where(file, lineno);
        } else {
            if (src.layout == Schema::automatic) src.layout = detect(text);
            if (src.layout == Schema::automatic) {
                Say(kMsgLayout) << where(file, lineno);
                run.failed = true;
                return;
            }
            ok = record(run, src, lineno, lines, text);
        }
        ++(ok ? run.converted : run.refused);
        run.failed = run.failed || !ok;
        ++run.done;
        tick(run, false);
    }
    if (std::ferror(w.f) != 0) {
        Say(kMsgWfdisc) << std::string_view(file) << std::strerror(EIO);
        run.failed = true;
        return;
    }
    ++run.filesread;
}

// What every wfdisc file named is, before any is read: its identity, so no
// output replaces it, and the run's record count for the progress line,
// which is known only when every file is a regular one (counted from a
// separate opening; a pipe or FIFO is never opened for it).
void survey(Run& run) {
    bool regular = true;
    for (int f = 0; f < run.nfiles; ++f) {
        struct stat st {};
        if (::stat(run.files[f], &st) != 0) continue;
        run.inputs.emplace_back(st.st_dev, st.st_ino);
        regular = regular && (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)); // a directory is refused
    }
    if (!run.progress || !regular) return;
    std::int64_t n = 0;
    static std::array<char, kLineMax> buf;
    for (int f = 0; f < run.nfiles; ++f) {
        // Without waiting: a file swapped for a FIFO since it was looked at
        // must not hold the run.
        const int fd = ::open(run.files[f], O_RDONLY | O_NONBLOCK | O_CLOEXEC);
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
            if (got == Line::bad || !blankline(text)) ++n;
        std::fclose(in);
    }
    run.total = n;
}

int usage(std::string_view why) {
    complain("wfdxlate: " + std::string(why));
    complain("Try 'wfdxlate --help' for more information.");
    return 1;
}

} // namespace

int batch(int argc, char** argv) {
    static Run run;
    static std::array<char*, 1> none{};
    std::string_view outdir;
    int first = argc; // first file name; the names are moved to the front of the rest
    int nfiles = 0;
    bool options = true;
    for (int a = 1; a < argc; ++a) {
        const std::string_view arg = argv[a];
        if (!options || arg.size() < 2 || arg[0] != '-') {
            if (first == argc) first = a;
            argv[first + nfiles++] = argv[a];
        } else if (arg == "--") {
            options = false;
        } else if (arg == "--help") {
            std::fwrite(kUsage.data(), 1, kUsage.size(), stdout);
            return 0;
        } else if (arg == "--version") {
            std::fputs("wfdxlate " KIVF_VERSION "\n", stdout);
            return 0;
        } else if (arg == "-n") {
            run.dry = true;
        } else if (arg == "-q") {
            run.quiet = true;
        } else if (arg == "-o" || arg.starts_with("--schema")) {
            std::string_view value;
            if (arg.starts_with("--schema=")) {
                value = arg.substr(9);
            } else if (arg == "-o" || arg == "--schema") {
                if (++a == argc) return usage("option " + std::string(arg) + " needs a value");
                value = argv[a];
            } else {
                return usage("unknown option " + std::string(arg));
            }
            if (arg == "-o") {
                if (value.empty()) return usage("option -o needs a directory name, not ''");
                outdir = value;
            } else if (value == "auto") {
                run.schema = Schema::automatic;
            } else if (value == "css3.0") {
                run.schema = Schema::css30;
            } else if (value == "css2.8") {
                run.schema = Schema::css28;
            } else {
                return usage("--schema takes auto, css3.0 or css2.8, not " + std::string(value));
            }
        } else {
            return usage("unknown option " + std::string(arg));
        }
    }
    if (nfiles == 0) return usage("no wfdisc file given");
    run.files = first < argc ? argv + first : none.data();
    run.nfiles = nfiles;

    newhdr(); // starts the message system: catalogue texts from KIVAUX, else built in
    if (!outdir.empty()) {
        run.outdir = outdir;
        run.dirfd = ::open(run.outdir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (run.dirfd < 0) {
            Say(kMsgOutdir) << outdir << std::strerror(errno);
            return 1;
        }
    }
    run.progress = !run.quiet && ::isatty(2) == 1;
    survey(run);
    std::uint64_t lines = 0;
    for (int f = 0; f < run.nfiles; ++f) onefile(run, f, lines);
    tick(run, true);
    // A listing that could not be written is lost output: said, and a failure.
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        Say{kMsgLost};
        run.failed = true;
    }
    if (!run.quiet) {
        std::array<char, 200> b{};
        std::snprintf(b.data(), b.size(),
                      "wfdxlate: %s%lld records converted, %lld refused, %lld samples, %d wfdisc "
                      "files, %.3f s",
                      run.dry ? "dry run: " : "", static_cast<long long>(run.converted),
                      static_cast<long long>(run.refused), static_cast<long long>(run.samples),
                      run.filesread,
                      std::chrono::duration<double>(Clock::now() - run.start).count());
        complain(b.data());
    }
    return run.failed ? 2 : 0;
}

} // namespace kivf::wfdx
