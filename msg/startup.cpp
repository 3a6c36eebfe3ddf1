// Start-up of the message system and loading of the message catalogue.
#include "msg/msg.h"

#include "co/co.h"

#include <sys/stat.h>

namespace kivf {

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

void kivmsg(std::int32_t& nerr) {
    nerr = 0;
    std::int32_t unit = 0;
    zgtfun(unit, nerr);
    if (nerr != 0) return;

    Text<128> path;
    zbasename(path, nerr);
    if (nerr == 0) crname(path, "/", "messages", nerr);
    // Only a regular file is read: a FIFO or a device (say /dev/zero) would
    // hold both programs for ever, so it counts as no catalogue at all.
    Path name{};
    struct stat st {};
    if (nerr == 0 && zpath(path, name) && ::stat(name.data(), &st) == 0 && !S_ISREG(st.st_mode)) {
        nerr = 108;
        setmsg("ERROR", nerr);
        apcmsg(path);
    }
    if (nerr == 0) {
        zopen(unit, path, "ROTEXT", 0, nerr);
        if (nerr != 0) return;
        Text<165> line;
        for (std::int32_t lineno = 1;; ++lineno) {
            if (cmmsg.ncatmsg >= kCatMax) {
                nerr = 919;
                setmsg("ERROR", nerr);
                break;
            }
            const ReadStatus rs = uread(unit, line);
            if (rs == ReadStatus::eof) break;
            std::int32_t number = 0;
            if (rs == ReadStatus::fail || !rdint(line.view().substr(0, 4), number)) {
                // Texts of 100 and 114 come from the entries loaded so far.
                nerr = 100;
                setmsg("ERROR", nerr);
                apimsg(lineno);
                apcmsgnum(114);
                apcmsg(path);
                break;
            }
            const auto k = static_cast<std::size_t>(cmmsg.ncatmsg);
            cmmsg.catnum[k] = number;
            kmmsg.cattext[k].set(line.view().substr(5)); // column 5 is skipped
            ++cmmsg.ncatmsg;
        }
    }
    std::int32_t err = 0;
    zclose(unit, err);
}

} // namespace kivf
