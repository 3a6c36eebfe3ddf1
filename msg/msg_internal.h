// SPDX-License-Identifier: Apache-2.0
// Pieces of the message system shared among its own files. Not installed.
#pragma once

#include "msg/msg.h"

#include <cstdint>
#include <span>
#include <string>

namespace kivf {

// A message's lines as composing leaves them: the process's buffer or a
// record of one caller's own.
struct MsgRecord {
    std::int32_t number = 0;
    std::int32_t type = 0;
    std::int32_t nlines = 1;
    std::int32_t col = 0;
    std::array<MsgLine, kMsgLines> lines = blanklines();

    static std::array<MsgLine, kMsgLines> blanklines() {
        std::array<MsgLine, kMsgLines> l;
        for (MsgLine& x : l) blank(x);
        return l;
    }
};

// The text lastmsg gives for a message of this type, number and lines: the
// first line with its prefix, the others after '\n', without padding.
std::string msgtext(std::int32_t type, std::int32_t number, std::span<const MsgLine> lines,
                    std::int32_t nlines);

// getmsg from the catalogue of the modern face: loaded once, on first use, from
// the file "messages" of KIVAUX, a text it lacks taken from those compiled in.
void catalogued(std::int32_t number, std::span<char> text);

} // namespace kivf
