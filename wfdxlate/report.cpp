// The batch mode's messages on standard error. A progress line may stand on
// the terminal; every other line erases it first.
#include "wfdxlate/report.h"

#include "bot/bot.h"
#include "msg/msg.h"

#include <array>
#include <cstdio>

namespace kivf::wfdx {

namespace {

constexpr std::string_view kUsage =
    "Usage: wfdxlate [OPTION]... WFDISC...\n"
    "       wfdxlate            (no arguments: asks for one wfdisc file)\n"
    "Convert every record of each wfdisc file into a KIV file named\n"
    "STA.CHAN.YYYY.DDD.HH.MM.SS.mmm.kiv after its station, channel and start.\n"
    "\n"
    "  -o DIR             write the KIV files into DIR, made with its parents when\n"
    "                     missing (default: the working directory)\n"
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
    "t4 f4 t8 f8 and e1 (compressed blocks). A start time's microseconds after\n"
    "its millisecond go into B. KIVAUX is not needed (message texts are built\n"
    "in; when set, they come from its catalogue).\n"
    "Exit status: 0 every record converted, 1 bad usage, 2 some record or file\n"
    "not converted.\n";

std::string& programname() {
    static std::string name = "wfdxlate";
    return name;
}

} // namespace

const std::string& program() {
    return programname();
}

void setprogram(std::string_view name) {
    programname() = name;
}

void complain(std::string_view s) {
    printline(s);
}

std::string fileline(std::string_view file, std::int64_t line) {
    return std::string(file) + ":" + std::to_string(line);
}

// The prefix, the number and its catalogue text.
Message::Message(std::int32_t number, std::string_view kind) {
    MsgLine text;
    getmsg(number, text);
    text_ = program() + ": " + std::string(kind) + " " + std::to_string(number) + ": ";
    text_ += text.used();
}

// Printed once the particulars are in.
Message::~Message() {
    complain(text_);
}

// An empty piece adds nothing, not even its blank.
Message& Message::operator<<(std::string_view piece) {
    if (!piece.empty()) (text_ += ' ') += piece;
    return *this;
}

// A count, in decimal.
Message& Message::operator<<(std::int64_t n) {
    return *this << std::string_view(std::to_string(n));
}

// Every particular at once: the refusing check returns what this returns.
bool Refusal::set(std::int32_t n, std::string_view s, std::string_view d, std::int64_t h,
                  std::int64_t w) {
    number = n;
    subject = s;
    detail = d;
    have = h;
    want = w;
    return false;
}

// The counts go in parentheses, worded for the message that has them.
void Refusal::print(std::string_view at) const {
    Message m(number);
    m << at << subject << detail;
    if (number == kMsgBatchColumns)
        m << "(" + std::to_string(have) + " of " + std::to_string(want) + ")";
    if (number == kMsgBatchDate) m << "(start time is in " + std::to_string(want) + ")";
    if (number == kMsgBatchShort)
        m << "(" + std::to_string(have) + " bytes, needs " + std::to_string(want) + ")";
}

void tick(Progress& p, bool last) {
    if (!p.on) return;
    const auto now = Clock::now();
    if (!last && now - p.shown < std::chrono::milliseconds(100)) return;
    p.shown = now;
    const double s = std::chrono::duration<double>(now - p.start).count();
    std::array<char, 128> b{};
    const double rate = s > 0 ? static_cast<double>(p.bytes) / 1e6 / s : 0.0;
    if (p.total >= 0) // unknown when a file is a pipe: records done only
        std::snprintf(b.data(), b.size(), "\r%lld of %lld records, %.1f MB/s\033[K",
                      static_cast<long long>(p.done), static_cast<long long>(p.total), rate);
    else
        std::snprintf(b.data(), b.size(), "\r%lld records, %.1f MB/s\033[K",
                      static_cast<long long>(p.done), rate);
    printprogress(b.data(), last);
}

void summary(const Tally& t, bool dry, Clock::time_point start) {
    std::array<char, 200> b{};
    std::snprintf(b.data(), b.size(),
                  "wfdxlate: %s%lld records %sconverted, %lld refused, %lld samples, %d wfdisc "
                  "files, %.3f s",
                  dry ? "dry run: " : "", static_cast<long long>(t.converted),
                  dry ? "would be " : "", static_cast<long long>(t.refused),
                  static_cast<long long>(t.samples), t.filesread,
                  std::chrono::duration<double>(Clock::now() - start).count());
    complain(b.data());
}

void help() {
    std::fwrite(kUsage.data(), 1, kUsage.size(), stdout);
}

int usage(std::string_view why) {
    complain(program() + ": " + std::string(why));
    complain("Try '" + program() + " --help' for more information.");
    return 1;
}

} // namespace kivf::wfdx
