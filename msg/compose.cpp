#include "msg/msg.h"

#include "co/co.h"

#include <algorithm>

namespace kivf {

CmMsg cmmsg;
KmMsg kmmsg;

namespace {

// The line being filled; the count is kept in range so that no write can
// land outside the five lines, whatever the state was left as.
MsgLine& currentline() {
    cmmsg.nmsgline = std::clamp(cmmsg.nmsgline, 1, kMsgLines);
    return kmmsg.msgline[static_cast<std::size_t>(cmmsg.nmsgline - 1)];
}

// Print what is composed and go on with a cleared message of the same type.
void flushfull() {
    outmsg();
    const std::int32_t type = cmmsg.msgtype;
    clrmsg();
    cmmsg.msgtype = type;
}

} // namespace

void clrmsg() {
    cmmsg.msgnum = 0;
    cmmsg.msgtype = 0;
    // Every line, not only those in use: lines past the count are blank
    // anyway, and zero-filled lines of a fresh process must become blank
    // before pieces are placed after a blank column.
    for (MsgLine& line : kmmsg.msgline) blank(line);
    cmmsg.nmsgline = 1;
    cmmsg.msgcol = 0;
}

void typmsg(std::string_view ktype) {
    Text<8> up;
    blank(up);
    const auto n = static_cast<std::int32_t>(std::min<std::size_t>(ktype.size(), 8));
    modcase(true, ktype, n, up);
    cmmsg.msgtype = 3;
    if (n == 0) return;
    for (std::int32_t t = 0; t < kMsgTypes; ++t) {
        if (kmmsg.typname[static_cast<std::size_t>(t)][0] == up[0]) {
            cmmsg.msgtype = t + 1;
            return;
        }
    }
}

void setmsg(std::string_view ktype, std::int32_t number) {
    clrmsg();
    typmsg(ktype);
    if (number >= kFirstCatalogued) {
        MsgLine text;
        getmsg(number, text);
        apcmsg(text);
    }
    cmmsg.msgnum = number;
}

void apcmsg(std::string_view text) {
    const std::int64_t n = indexb(text);
    currentline();
    const std::int64_t room = cmmsg.nmsgline == 1 ? kMsgFirstLineRoom : kMsgLineLen;
    if (cmmsg.msgcol + n + 1 > room) {
        if (cmmsg.nmsgline < kMsgLines) {
            ++cmmsg.nmsgline;
        } else if (cmmsg.autoprint) {
            flushfull();
        } else {
            blank(kmmsg.msgline[kMsgLines - 1]);
        }
        cmmsg.msgcol = 0;
    }
    MsgLine& line = currentline();
    const std::int64_t col = std::max(cmmsg.msgcol, 0);
    if (n > 0 && col < kMsgLineLen) {
        const std::int64_t len = std::min<std::int64_t>(n, kMsgLineLen - col);
        std::copy_n(text.data(), len, line.data() + col);
    }
    cmmsg.msgcol = static_cast<std::int32_t>(std::min<std::int64_t>(col + n + 1, 1 << 30));
}

void apimsg(std::int32_t value) {
    Text<8> t;
    cnvita(value, t);
    ljust(t);
    apcmsg(t);
}

void aplmsg(std::string_view text) {
    currentline();
    if (cmmsg.nmsgline == kMsgLines && cmmsg.autoprint) {
        flushfull();
    } else if (cmmsg.nmsgline < kMsgLines) {
        ++cmmsg.nmsgline;
    }
    const std::int32_t n = indexb(text);
    fill(currentline(), text.substr(0, static_cast<std::size_t>(std::max(n, 1))));
    cmmsg.msgcol = std::min(n, 1 << 30) + 1;
}

void apcmsgnum(std::int32_t number) {
    MsgLine text;
    getmsg(number, text);
    apcmsg(text);
}

void getmsg(std::int32_t number, std::span<char> text) {
    const std::int32_t n = std::clamp(cmmsg.ncatmsg, 0, kCatMax);
    for (std::int32_t k = 0; k < n; ++k) {
        if (cmmsg.catnum[static_cast<std::size_t>(k)] == number) {
            fill(text, kmmsg.cattext[static_cast<std::size_t>(k)]);
            return;
        }
    }
    Text<11> fallback;
    fill(fallback, "Number");
    wrint(number, std::span<char>(fallback.data() + 6, 5));
    fill(text, fallback);
}

} // namespace kivf
