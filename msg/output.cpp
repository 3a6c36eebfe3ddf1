// SPDX-License-Identifier: Apache-2.0
#include "msg/msg.h"
#include "msg/msg_internal.h"

#include "co/co.h"

#include <algorithm>
#include <cstring>

namespace kivf {

namespace {

// Longest record: an 8-character prefix, a 4-column number, ": ", a line.
using Record = std::array<char, 8 + 4 + 2 + kMsgLineLen>;

struct Builder {
    Record buf{};
    std::size_t n = 0;
    void add(std::string_view s) {
        const std::size_t k = std::min(s.size(), buf.size() - n);
        std::memcpy(buf.data() + n, s.data(), k);
        n += k;
    }
    // A message line: its texts may come from input, so control characters
    // are shown as '?' and never reach a terminal.
    void text(std::string_view s) {
        const std::size_t from = n;
        add(s);
        maskcontrols(std::span<char>(buf.data() + from, n - from));
    }
    std::string_view view() const { return {buf.data(), n}; }
};

std::string_view line(const MsgLine& l, std::int32_t minlen) {
    const std::int32_t u = std::max(indexb(l), minlen);
    return l.view().substr(0, static_cast<std::size_t>(u));
}

std::string_view line(std::int32_t i, std::int32_t minlen) {
    return line(kmmsg.msgline[static_cast<std::size_t>(i)], minlen);
}

std::int32_t lines(std::int32_t nlines) {
    return std::clamp(nlines, 1, kMsgLines);
}

std::int32_t lines() {
    return lines(cmmsg.nmsgline);
}

bool typeok(std::int32_t type) {
    return type >= 1 && type <= kMsgTypes;
}

// Off: messages are only kept for lastmsg.
bool printing = true;

// First record of outmsg for the current type; without the leading blank and
// bell when the message is taken rather than printed.
std::string_view outfirst(Builder& b, std::int32_t type, std::int32_t number, const MsgLine& first,
                          bool terminal) {
    const std::string_view text = line(first, 1);
    if (terminal) b.add(type == 1 ? " \a" : " ");
    switch (type) {
    case 1: {
        b.add("ERROR ");
        Text<4> num;
        if (number >= 1000) {
            wrint(number, num);
        } else {
            num[0] = ' ';
            wrint(number, std::span<char>(num.data() + 1, 3));
        }
        b.add(num);
        b.add(": ");
        break;
    }
    case 2:
        b.add("WARNING: ");
        break;
    case 6:
        b.add("==> ");
        break;
    default:
        break;
    }
    b.text(text);
    return b.view();
}

std::string_view outfirst(Builder& b, bool terminal = true) {
    return outfirst(b, cmmsg.msgtype, cmmsg.msgnum, kmmsg.msgline[0], terminal);
}

// Room of lastmsg's text: every line and the prefix.
constexpr std::size_t kTextRoom = (kMsgLineLen + 1) * kMsgLines + 32;

// The text of a message into text, cut where it ends; the length put.
std::size_t puttext(std::int32_t type, std::int32_t number, std::span<const MsgLine> l,
                    std::int32_t nlines, std::span<char> text) {
    std::size_t n = 0;
    const auto put = [&](std::string_view s) {
        const std::size_t k = std::min(s.size(), text.size() - n);
        std::memcpy(text.data() + n, s.data(), k);
        n += k;
    };
    if (typeok(type)) {
        Builder first;
        put(outfirst(first, type, number, l[0], false));
        for (std::int32_t i = 1; i < lines(nlines); ++i) {
            put("\n");
            put(line(l[static_cast<std::size_t>(i)], 0));
        }
    }
    return n;
}

std::string trimmed(std::string_view t) {
    while (!t.empty() && (t.back() == ' ' || t.back() == '\0')) t.remove_suffix(1);
    return std::string(t);
}

} // namespace

void outmsg() {
    if (!printing || !typeok(cmmsg.msgtype)) return;
    const auto type = static_cast<std::size_t>(cmmsg.msgtype - 1);
    const std::int32_t ndest = std::clamp(cmmsg.ndest, 0, kMsgDests);
    Builder first;
    outfirst(first);
    for (std::int32_t d = 0; d < ndest; ++d)
        if (cmmsg.destact[static_cast<std::size_t>(d)][type])
            uwrite(cmmsg.destunit[static_cast<std::size_t>(d)], first.view());
    for (std::int32_t i = 1; i < lines(); ++i) {
        Builder rec;
        rec.add(" ");
        rec.text(line(i, 1));
        for (std::int32_t d = 0; d < ndest; ++d)
            if (cmmsg.destact[static_cast<std::size_t>(d)][type])
                uwrite(cmmsg.destunit[static_cast<std::size_t>(d)], rec.view());
    }
}

void wrtmsg(std::int32_t unit) {
    if (!printing) return;
    Builder first;
    if (cmmsg.msgtype == 1) first.add("\aERROR: ");
    if (cmmsg.msgtype == 2) first.add("WARNING: ");
    first.text(line(0, 0));
    uwrite(unit, first.view());
    for (std::int32_t i = 1; i < lines(); ++i) {
        Builder rec;
        rec.text(line(i, 0));
        uwrite(unit, rec.view());
    }
}

void msgprint(bool on) {
    printing = on;
}

void lastmsg(std::int32_t& number, std::span<char> text) {
    number = cmmsg.msgnum;
    const std::size_t n = puttext(cmmsg.msgtype, cmmsg.msgnum, kmmsg.msgline, cmmsg.nmsgline, text);
    std::fill(text.begin() + static_cast<std::ptrdiff_t>(n), text.end(), ' ');
}

std::string lastmsg() {
    std::array<char, kTextRoom> text{};
    const std::size_t n = puttext(cmmsg.msgtype, cmmsg.msgnum, kmmsg.msgline, cmmsg.nmsgline, text);
    return trimmed(std::string_view(text.data(), n));
}

std::string msgtext(std::int32_t type, std::int32_t number, std::span<const MsgLine> lines,
                    std::int32_t nlines) {
    std::array<char, kTextRoom> text{};
    return trimmed(std::string_view(text.data(), puttext(type, number, lines, nlines, text)));
}

void sendmsg(std::int32_t unit, bool send, const std::array<bool, kMsgTypes>& types) {
    const std::int32_t ndest = std::clamp(cmmsg.ndest, 0, kMsgDests);
    for (std::int32_t d = 0; d < ndest; ++d) {
        const auto i = static_cast<std::size_t>(d);
        if (cmmsg.destunit[i] != unit) continue;
        if (send) {
            cmmsg.destact[i] = types;
        } else {
            for (std::size_t j = i; j + 1 < static_cast<std::size_t>(ndest); ++j) {
                cmmsg.destunit[j] = cmmsg.destunit[j + 1];
                cmmsg.destact[j] = cmmsg.destact[j + 1];
            }
            cmmsg.ndest = ndest - 1;
        }
        return;
    }
    if (send && ndest < kMsgDests) {
        cmmsg.destunit[static_cast<std::size_t>(ndest)] = unit;
        cmmsg.destact[static_cast<std::size_t>(ndest)] = types;
        cmmsg.ndest = ndest + 1;
    }
}

} // namespace kivf
