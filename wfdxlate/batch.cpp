// wfdxlate's batch mode: every record of every wfdisc file named on the
// command line becomes one KIV file named after its content
// (STA.CHAN.YYYY.DDD.HH.MM.SS.mmm.kiv), written whole under a temporary name
// and renamed into place.
//
// Memory: one buffer, as large as the largest record's samples, into which
// the raw samples are read and widened to floats in place; everything else is
// fixed. Output names already written in this run are remembered in a
// fixed-size filter only; a possible repeat is confirmed by reading the
// earlier lines again, so nothing grows with the number of records.
#include "wfdxlate/batch.h"
#include "wfdxlate/wfdx.h"

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

namespace kivf::wfdx {

namespace {

using Clock = std::chrono::steady_clock;

// Message numbers of the batch mode (texts in the catalogue).
enum BatchMsg : std::int32_t {
    kMsgColumns = 2030,  // fewer columns than the layout needs
    kMsgColumn = 2031,   // a column is not a number or is out of range
    kMsgRate = 2032,     // rate not a finite number above 0
    kMsgDatatype = 2033, // datatype code not known
    kMsgDate = 2034,     // css2.8 date column disagrees with the start time
    kMsgOpen = 2035,     // sample file cannot be opened or is not a regular file
    kMsgShort = 2036,    // sample file too short
    kMsgRead = 2037,     // samples cannot be read
    kMsgName = 2038,     // station or channel unfit for a file name
    kMsgRepeat = 2039,   // output name already written in this run
    kMsgWrite = 2040,    // the KIV file was not written
    kMsgWfdisc = 2041,   // a wfdisc file cannot be read
    kMsgLayout = 2042,   // layout cannot be told
    kMsgMemory = 2043,   // no memory for the samples
    kMsgLine = 2044,     // line too long or holding a NUL
    kMsgOutdir = 2045,   // output directory unusable
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
    "t4 f4 t8 f8. KIVAUX must name the directory of the message catalogue.\n"
    "Exit status: 0 every record converted, 1 bad usage, 2 some record or file\n"
    "not converted.\n";

#ifndef KIVF_VERSION
#define KIVF_VERSION "unknown"
#endif

// ------------------------------------------------------------ messages ----

void complain(std::string_view s) {
    std::fflush(stdout);
    std::string line(s);
    for (char& c : line) // a message is one line on a terminal, whatever a record held
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    line += '\n';
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
    double time = 0, rate = 0, calib = 0;
    std::int64_t nsamp = 0, foff = 0;
    std::int32_t year = 0, jday = 0, hour = 0, min = 0, sec = 0, msec = 0;
    int width = 0;
    std::array<char, 96> name{}; // output file name, NUL-terminated
    std::string path;            // the sample file
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

// Days since 1970-01-01 to year and day of year (Gregorian calendar).
void civil(std::int64_t days, std::int32_t& year, std::int32_t& jday) {
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100); // from March 1
    const std::int64_t y = yoe + era * 400 + (doy >= 306 ? 1 : 0);
    const std::int64_t yy = y - 1; // days to January 1 of y
    const std::int64_t e2 = (yy >= 0 ? yy : yy - 399) / 400;
    const std::int64_t yoe2 = yy - e2 * 400;
    const std::int64_t jan1 = e2 * 146097 + yoe2 * 365 + yoe2 / 4 - yoe2 / 100 + 306 - 719468;
    year = static_cast<std::int32_t>(y);
    jday = static_cast<std::int32_t>(days - jan1 + 1);
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
    civil(days, r.year, r.jday);
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
    if (!number(t[c[4]], r.rate) || !std::isfinite(r.rate) || !(r.rate > 0))
        return r.refuse(kMsgRate, t[c[4]]);
    if (!number(t[c[5]], r.calib)) r.calib = 0; // a scale is kept only when it is one
    r.width = dtwidth(r.datatype);
    if (r.width == 0) return r.refuse(kMsgDatatype, r.datatype);
    if (!whole(t[c[10]], 0, kMaxOffset, r.foff)) return r.refuse(kMsgColumn, "foff", t[c[10]]);
    if (!fitname(r.sta) || !fitname(r.chan)) return r.refuse(kMsgName, r.sta, r.chan);

    std::snprintf(r.name.data(), r.name.size(), "%.*s.%.*s.%04d.%03d.%02d.%02d.%02d.%03d.kiv",
                  static_cast<int>(r.sta.size()), r.sta.data(), static_cast<int>(r.chan.size()),
                  r.chan.data(), r.year, r.jday, r.hour, r.min, r.sec, r.msec);

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
    std::int64_t converted = 0, refused = 0, samples = 0, bytes = 0, done = 0, total = 0;
    int filesread = 0;
    bool failed = false;
    bool unreadable = false; // a wfdisc file that is not a regular file
    Clock::time_point start = Clock::now(), shown{};
};

// Names written in this run: a fixed bit filter (no false "new", rare false
// "seen", which the rescan settles).
constexpr std::size_t kFilterBits = std::size_t{1} << 23;
std::array<std::uint64_t, kFilterBits / 64> filter;

std::array<std::size_t, 3> probes(std::string_view name) {
    std::uint64_t h = 1469598103934665603ULL;
    for (const char c : name) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    const std::uint64_t g = (h ^ (h >> 29)) * 0xBF58476D1CE4E5B9ULL | 1;
    std::array<std::size_t, 3> p{};
    for (std::size_t i = 0; i < p.size(); ++i)
        p[i] = static_cast<std::size_t>((h + i * g) % kFilterBits);
    return p;
}
bool seen(std::string_view name) {
    for (const std::size_t b : probes(name))
        if ((filter[b / 64] >> (b % 64) & 1) == 0) return false;
    return true;
}
void remember(std::string_view name) {
    for (const std::size_t b : probes(name)) filter[b / 64] |= std::uint64_t{1} << (b % 64);
}

// The first earlier line of this run that gives the same name and passes
// every check but the repeat; false when there is none.
bool firstwriter(const Run& run, int curfile, std::int64_t curline, std::string_view name,
                 int& file, std::int64_t& line) {
    static Rec r;
    static std::array<char, kLineMax> buf;
    for (int f = 0; f <= curfile; ++f) {
        Wfdisc w(run.files[f]);
        if (w.f == nullptr) continue;
        Source src = source(run.files[f], run.schema);
        std::string_view text;
        Line got = Line::ok;
        for (std::int64_t n = 1; (got = readline(w.f, buf, text)) != Line::eof; ++n) {
            if (f == curfile && n >= curline) break;
            if (got == Line::bad || blankline(text)) continue;
            if (src.layout == Schema::automatic) src.layout = detect(text);
            if (src.layout == Schema::automatic) break;
            if (!decode(r, src, text) || name != r.name.data()) continue;
            const int fd = locate(r);
            if (fd < 0) continue;
            ::close(fd);
            file = f;
            line = n;
            return true;
        }
    }
    return false;
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
    std::snprintf(b.data(), b.size(), "\r%lld of %lld records, %.1f MB/s\033[K",
                  static_cast<long long>(run.done), static_cast<long long>(run.total),
                  s > 0 ? static_cast<double>(run.bytes) / 1e6 / s : 0.0);
    std::fputs(b.data(), stderr);
    if (last) std::fputs("\r\033[K", stderr);
}

// One record: checked, read, widened, written. False when refused (its
// message printed).
bool record(Run& run, const Source& src, int fileno, std::int64_t lineno, std::string_view text) {
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
    int ffile = 0;
    std::int64_t fline = 0;
    if (seen(name)) {
        const bool found = firstwriter(run, fileno, lineno, name, ffile, fline);
        // A wfdisc file that cannot be read again (a pipe) hides the first
        // line; the name is refused all the same.
        if (found || run.unreadable) {
            ::close(fd);
            Say(kMsgRepeat) << where(src.file, lineno) << shown(run, r.name.data())
                            << "first written by"
                            << (found ? where(run.files[ffile], fline) : "an earlier line");
            return false;
        }
    }
    const auto n = static_cast<std::size_t>(r.nsamp);
    if (run.dry) {
        ::close(fd);
        remember(name);
        std::printf("%s -> %s (%zu samples, %.*s)\n", where(src.file, lineno).c_str(),
                    shown(run, r.name.data()).c_str(), n, static_cast<int>(r.datatype.size()),
                    r.datatype.data());
        run.samples += r.nsamp;
        return true;
    }
    const std::size_t raw = n * static_cast<std::size_t>(r.width);
    std::byte* buf = samplebuf(std::max<std::size_t>(n * std::max(r.width, 4), 1));
    if (buf == nullptr) {
        ::close(fd);
        Say(kMsgMemory) << where(src.file, lineno) << std::int64_t{r.nsamp};
        return false;
    }
    const bool ok = zpreadn(fd, buf, raw, r.foff);
    const int rerr = errno;
    ::close(fd);
    if (!ok) {
        Say(kMsgRead) << where(src.file, lineno) << r.path << std::strerror(rerr);
        return false;
    }
    widen(r.datatype, buf, n);
    const auto* y = reinterpret_cast<const float*>(buf);
    fillheader(r, y, n);
    if (const int err = writeout(run, r.name.data(), y, n); err != 0) {
        Say(kMsgWrite) << where(src.file, lineno) << shown(run, r.name.data())
                       << std::strerror(err);
        return false;
    }
    remember(name);
    run.samples += r.nsamp;
    run.bytes += static_cast<std::int64_t>(raw);
    return true;
}

void onefile(Run& run, int fileno) {
    const char* file = run.files[fileno];
    Wfdisc w(file);
    if (w.f == nullptr) {
        Say(kMsgWfdisc) << std::string_view(file) << std::strerror(errno);
        run.failed = true;
        return;
    }
    Source src = source(file, run.schema);
    struct stat st {};
    if (::fstat(::fileno(w.f), &st) != 0 || !S_ISREG(st.st_mode)) run.unreadable = true;
    static std::array<char, kLineMax> buf;
    std::string_view text;
    Line got = Line::ok;
    std::int64_t lineno = 0;
    while ((got = readline(w.f, buf, text)) != Line::eof) {
        ++lineno;
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
            ok = record(run, src, fileno, lineno, text);
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

// Records of all files, for the progress line only.
std::int64_t countall(const Run& run) {
    std::int64_t n = 0;
    static std::array<char, kLineMax> buf;
    for (int f = 0; f < run.nfiles; ++f) {
        Wfdisc w(run.files[f]);
        if (w.f == nullptr) continue;
        std::string_view text;
        Line got = Line::ok;
        while ((got = readline(w.f, buf, text)) != Line::eof)
            if (got == Line::bad || !blankline(text)) ++n;
    }
    return n;
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

    newhdr(); // starts the message system: catalogue texts from KIVAUX
    if (!outdir.empty()) {
        run.outdir = outdir;
        run.dirfd = ::open(run.outdir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (run.dirfd < 0) {
            Say(kMsgOutdir) << outdir << std::strerror(errno);
            return 1;
        }
    }
    run.progress = !run.quiet && ::isatty(2) == 1;
    if (run.progress) run.total = countall(run);
    for (int f = 0; f < run.nfiles; ++f) onefile(run, f);
    tick(run, true);
    std::fflush(stdout);
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
