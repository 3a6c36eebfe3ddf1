// SPDX-License-Identifier: Apache-2.0
// Start-up of the message system and loading of the message catalogue.
#include "msg/msg.h"
#include "msg/msg_internal.h"

#include "co/co.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kivf {

namespace detail { // generated from the catalogue file at build time
extern const char kMessages[];
extern const std::size_t kMessagesSize;
} // namespace detail

void inimsg() {
    static constexpr std::array<std::string_view, kMsgTypes> names = {
        "ERRORS", "WARNINGS", "OUTPUT", "COMMANDS", "MACROS", "PROCESSED"};
    for (std::size_t t = 0; t < names.size(); ++t) kmmsg.typname[t].set(names[t]);
    cmmsg.msgnum = 0;
    cmmsg.msgtype = 0;
    cmmsg.autoprint = false;
    cmmsg.ncatmsg = 0;
    cmmsg.ndest = 0;
    sendmsg(kStdout, true, {true, true, true, false, false, false});
    std::int32_t nerr;
    kivmsg(nerr);
    if (nerr != 0) outmsg();
}

namespace {

enum class Loaded { all, full, badline };

// Catalogue lines from next() until it reports the end, each given to store
// while room() allows; lineno tells where a load stopped.
template <class Next, class Room, class Store>
Loaded load(Next next, Room room, Store store, std::int32_t& lineno) {
    Text<165> line;
    for (lineno = 1;; ++lineno) {
        if (!room()) return Loaded::full;
        const ReadStatus rs = next(line);
        if (rs == ReadStatus::eof) return Loaded::all;
        std::int32_t number;
        if (rs == ReadStatus::fail || !rdint(line.view().substr(0, 4), number))
            return Loaded::badline;
        store(number, line.view().substr(5)); // column 5 is skipped
    }
}

// Catalogue lines after the entries already loaded; where names the source in
// a failure.
template <class Next> void load(Next next, std::string_view where, std::int32_t& nerr) {
    std::int32_t lineno;
    const Loaded how = load(
        next, [] { return cmmsg.ncatmsg < kCatMax; },
        [](std::int32_t number, std::string_view text) {
            const auto k = static_cast<std::size_t>(cmmsg.ncatmsg);
            cmmsg.catnum[k] = number;
            kmmsg.cattext[k].set(text);
            ++cmmsg.ncatmsg;
        },
        lineno);
    if (how == Loaded::full) {
        nerr = kMsgCatalogueFull;
        setmsg("ERROR", nerr);
    } else if (how == Loaded::badline) {
        // Texts of these two come from the entries loaded so far.
        nerr = kMsgCatalogueLine;
        setmsg("ERROR", nerr);
        apimsg(lineno);
        apcmsgnum(kMsgReadFailed);
        apcmsg(where);
    }
}

// Lines of a text held whole, one at a time as the unit layer reads a file: a
// carriage return before a line end belongs to the line end.
auto lines(std::string_view rest) {
    return [rest](std::span<char> line) mutable {
        if (rest.empty()) return ReadStatus::eof;
        const std::size_t end = std::min(rest.find('\n'), rest.size());
        std::string_view l = rest.substr(0, end);
        if (end < rest.size() && l.ends_with('\r')) l.remove_suffix(1);
        fill(line, l);
        rest.remove_prefix(std::min(end + 1, rest.size()));
        return ReadStatus::ok;
    };
}

const std::string_view kBuiltin(detail::kMessages, detail::kMessagesSize);

// The catalogue compiled in, read line by line as the file would be.
void loadbuiltin(std::int32_t& nerr) {
    load(lines(kBuiltin), "(built-in catalogue)", nerr);
}

// The catalogue of the modern face: KIVAUX's entries, then those compiled in,
// so that a lookup finds the file's text first. Never changed once made.
struct Catalogue {
    std::vector<std::pair<std::int32_t, MsgLine>> entries;

    // At most limit entries from text, as the process's catalogue takes them.
    void add(std::string_view text, std::size_t limit) {
        std::int32_t lineno;
        const std::size_t most = entries.size() + limit;
        load(
            lines(text), [&] { return entries.size() < most; },
            [this](std::int32_t number, std::string_view t) {
                entries.emplace_back(number, MsgLine{});
                entries.back().second.set(t);
            },
            lineno);
    }
};

// The file "messages" of the KIVAUX directory whole, or empty: only a plain
// file is read, as kivmsg reads it.
std::string auxfile() {
    const char* value = std::getenv("KIVAUX");
    if (value == nullptr) return {};
    std::string path(value);
    while (!path.empty() && path.back() == ' ') path.pop_back();
    path += "/messages";
    if (path.size() > Text<128>{}.size()) return {}; // too long for kivmsg to build: not read
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return {};
    std::string text;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        std::array<char, 8192> buf{};
        ssize_t got = 0;
        while ((got = ::read(fd, buf.data(), buf.size())) > 0 || (got < 0 && errno == EINTR))
            if (got > 0) text.append(buf.data(), static_cast<std::size_t>(got));
    }
    ::close(fd);
    return text;
}

const Catalogue& modern() {
    static const Catalogue c = [] {
        Catalogue made;
        made.add(auxfile(), kCatMax);
        made.add(kBuiltin, kCatMax);
        return made;
    }();
    return c;
}

} // namespace

void catalogued(std::int32_t number, std::span<char> text) {
    for (const auto& [n, t] : modern().entries) {
        if (n == number) {
            fill(text, t);
            return;
        }
    }
    nocatalogue(number, text);
}

void kivmsg(std::int32_t& nerr) {
    nerr = 0;
    std::int32_t unit;
    zgtfun(unit, nerr);
    if (nerr != 0) return;

    Text<128> path;
    zbasename(path, nerr);
    if (nerr == kMsgNoKivaux) { // no directory named: the texts compiled in
        nerr = 0;
        loadbuiltin(nerr);
        return;
    }
    if (nerr == 0) crname(path, "/", "messages", nerr);
    // Only a regular file is read: a FIFO or a device (say /dev/zero) would
    // hold both programs for ever, so it counts as no catalogue at all.
    Path name{};
    struct stat st {};
    if (nerr == 0 && zpath(path, name) && ::stat(name.data(), &st) == 0 && !S_ISREG(st.st_mode)) {
        nerr = kMsgFileMissing;
        setmsg("ERROR", nerr);
        apcmsg(path);
    }
    if (nerr == 0) {
        zopen(unit, path, "ROTEXT", 0, nerr);
        if (nerr != 0) return;
        load([unit](std::span<char> line) { return uread(unit, line); }, path, nerr);
    }
    std::int32_t err;
    zclose(unit, err);
}

} // namespace kivf
