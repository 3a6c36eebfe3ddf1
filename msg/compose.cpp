// SPDX-License-Identifier: Apache-2.0
#include "msg/msg.h"
#include "msg/msg_internal.h"

#include "co/co.h"

#include <algorithm>
#include <charconv>

namespace kivf {

CmMsg cmmsg;
KmMsg kmmsg;

namespace {

// Where a message is composed: the process's buffer, or a caller's record.
// full prints a message that has run out of lines and clears it (the buffer
// with autoprint on), or is null: the last line is then overwritten.
struct Lines {
    std::int32_t& nlines;
    std::int32_t& col;
    std::array<MsgLine, kMsgLines>& line;
    void (*full)();
};

// The line being filled; the count is kept in range so that no write can
// land outside the five lines, whatever the state was left as.
MsgLine& currentline(Lines s) {
    s.nlines = std::clamp(s.nlines, 1, kMsgLines);
    return s.line[static_cast<std::size_t>(s.nlines - 1)];
}

void piece(Lines s, std::string_view text) {
    const std::int64_t n = indexb(text);
    currentline(s);
    const std::int64_t room = s.nlines == 1 ? kMsgFirstLineRoom : kMsgLineLen;
    if (s.col + n + 1 > room) {
        if (s.nlines < kMsgLines) {
            ++s.nlines;
        } else if (s.full != nullptr) {
            s.full();
        } else {
            blank(s.line[kMsgLines - 1]);
        }
        s.col = 0;
    }
    MsgLine& line = currentline(s);
    const std::int64_t col = std::max(s.col, 0);
    if (n > 0 && col < kMsgLineLen) {
        const std::int64_t len = std::min<std::int64_t>(n, kMsgLineLen - col);
        std::copy_n(text.data(), len, line.data() + col);
    }
    s.col = static_cast<std::int32_t>(std::min<std::int64_t>(col + n + 1, 1 << 30));
}

void newline(Lines s, std::string_view text) {
    currentline(s);
    if (s.nlines == kMsgLines && s.full != nullptr) {
        s.full();
    } else if (s.nlines < kMsgLines) {
        ++s.nlines;
    }
    const std::int32_t n = indexb(text);
    fill(currentline(s), text.substr(0, static_cast<std::size_t>(std::max(n, 1))));
    s.col = std::min(n, 1 << 30) + 1;
}

// Print what is composed and go on with a cleared message of the same type.
void flushfull() {
    outmsg();
    const std::int32_t type = cmmsg.msgtype;
    clrmsg();
    cmmsg.msgtype = type;
}

Lines buffer() {
    return {cmmsg.nmsgline, cmmsg.msgcol, kmmsg.msgline, cmmsg.autoprint ? flushfull : nullptr};
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
    piece(buffer(), text);
}

void apimsg(std::int32_t value) {
    Text<8> t;
    cnvita(value, t);
    ljust(t);
    apcmsg(t);
}

void aplmsg(std::string_view text) {
    newline(buffer(), text);
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
    nocatalogue(number, text);
}

void nocatalogue(std::int32_t number, std::span<char> text) {
    Text<11> fallback;
    fill(fallback, "Number");
    wrint(number, std::span<char>(fallback.data() + 6, 5));
    fill(text, fallback);
}

// -------------------------------------------------------------- drafts ----

Draft::Draft(std::int32_t number, int err) : number_(number), err_(err) {}

Draft& Draft::operator<<(std::string_view text) {
    pieces_.emplace_back(false, std::string(text));
    return *this;
}

Draft& Draft::operator<<(std::int64_t value) {
    std::array<char, 24> buf{};
    const auto r = std::to_chars(buf.data(), buf.data() + buf.size(), value);
    return *this << std::string_view(buf.data(), static_cast<std::size_t>(r.ptr - buf.data()));
}

Draft& Draft::line(std::string_view text) {
    pieces_.emplace_back(true, std::string(text));
    return *this;
}

void Draft::post() const {
    setmsg("ERROR", number_);
    for (const auto& [onnewline, text] : pieces_) onnewline ? aplmsg(text) : apcmsg(text);
}

Failure Draft::failure() const {
    if (number_ == 0) return {};
    MsgRecord r;
    r.number = number_;
    r.type = 1;
    const Lines s{r.nlines, r.col, r.lines, nullptr};
    if (number_ >= kFirstCatalogued) {
        MsgLine text;
        catalogued(number_, text);
        piece(s, text);
    }
    for (const auto& [onnewline, text] : pieces_) onnewline ? newline(s, text) : piece(s, text);
    return {number_, msgtext(r.type, r.number, r.lines, r.nlines), err_};
}

} // namespace kivf
