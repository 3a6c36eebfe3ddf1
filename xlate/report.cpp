// SPDX-License-Identifier: Apache-2.0
// The converters' messages on standard error. A progress line may stand on
// the terminal; every other line erases it first.
#include "xlate/xlate.h"

#include "bot/bot.h"
#include "msg/msg.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kivf::xlate {

namespace {

std::string& programname() {
    static std::string name;
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

std::string nocatalogue() {
    const char* aux = std::getenv("KIVAUX");
    if (aux == nullptr) return {};
    const std::string path = std::string(aux) + "/messages";
    if (path.size() > 128) return path + ": longer than the 128 characters a path may have";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    const int err = fd < 0 || ::fstat(fd, &st) != 0 ? errno : 0;
    if (fd >= 0) ::close(fd);
    if (err != 0) return path + ": " + std::strerror(err);
    return S_ISREG(st.st_mode) ? std::string() : path + ": not a regular file";
}

void warnnocatalogue(std::string_view why, std::string_view instead) {
    complain(program() + ": WARNING: no message catalogue where KIVAUX points: " +
             std::string(why) + "; " + std::string(instead));
}

void startmessages() {
    if (const std::string why = nocatalogue(); !why.empty()) {
        warnnocatalogue(why, "the built-in texts are used");
        ::unsetenv("KIVAUX");
    }
    newhdr();
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

int endrun(Progress& p, Outputs& out, bool quiet, bool failed,
           const std::function<void()>& summary) {
    tick(p, true);
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        Message{kMsgDlgLost};
        failed = true;
    }
    if (!quiet) summary();
    if (out.dirfd >= 0 && out.dirfd != AT_FDCWD) ::close(out.dirfd);
    out.dirfd = -1;
    return failed ? 2 : 0;
}

int usage(std::string_view why) {
    complain(program() + ": " + std::string(why));
    complain("Try '" + program() + " --help' for more information.");
    return 1;
}

} // namespace kivf::xlate
