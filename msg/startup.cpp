// Start-up of the message system and loading of the message catalogue.
#include "msg/msg.h"

#include "co/co.h"

#include <sys/stat.h>
#include <algorithm>

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
    std::int32_t nerr = 0;
    kivmsg(nerr);
    if (nerr != 0) outmsg();
}

namespace {

// Catalogue lines after the entries already loaded, from next() until it
// reports the end; where names the source in a failure.
template <class Next> void load(Next next, std::string_view where, std::int32_t& nerr) {
    Text<165> line;
    for (std::int32_t lineno = 1;; ++lineno) {
        if (cmmsg.ncatmsg >= kCatMax) {
            nerr = kMsgCatalogueFull;
            setmsg("ERROR", nerr);
            return;
        }
        const ReadStatus rs = next(line);
        if (rs == ReadStatus::eof) return;
        std::int32_t number = 0;
        if (rs == ReadStatus::fail || !rdint(line.view().substr(0, 4), number)) {
            // Texts of 100 and 114 come from the entries loaded so far.
            nerr = kMsgCatalogueLine;
            setmsg("ERROR", nerr);
            apimsg(lineno);
            apcmsgnum(kMsgReadFailed);
            apcmsg(where);
            return;
        }
        const auto k = static_cast<std::size_t>(cmmsg.ncatmsg);
        cmmsg.catnum[k] = number;
        kmmsg.cattext[k].set(line.view().substr(5)); // column 5 is skipped
        ++cmmsg.ncatmsg;
    }
}

// The catalogue compiled in, read line by line as the file would be.
void loadbuiltin(std::int32_t& nerr) {
    std::string_view rest(detail::kMessages, detail::kMessagesSize);
    load(
        [&rest](std::span<char> line) {
            if (rest.empty()) return ReadStatus::eof;
            const std::size_t end = std::min(rest.find('\n'), rest.size());
            fill(line, rest.substr(0, end));
            rest.remove_prefix(std::min(end + 1, rest.size()));
            return ReadStatus::ok;
        },
        "(built-in catalogue)", nerr);
}

} // namespace

void kivmsg(std::int32_t& nerr) {
    nerr = 0;
    std::int32_t unit = 0;
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
    std::int32_t err = 0;
    zclose(unit, err);
}

} // namespace kivf
