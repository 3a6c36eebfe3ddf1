// SPDX-License-Identifier: Apache-2.0
// The programs' one printer of messages on standard error. The library
// composes; a program says where a message goes, and for a terminal it goes
// here, after anything written to standard output.
#include "msg/msg.h"

#include "bot/bot.h"

#include <cstdio>
#include <string>

namespace kivf {

namespace {

bool progressshown = false; // a progress line stands on the terminal

} // namespace

void printline(std::string_view text, bool mask) {
    std::fflush(stdout);
    std::string line(text);
    if (mask) maskcontrols(line); // a message is one line on a terminal, whatever a file held
    line += '\n';
    if (progressshown) line.insert(0, "\r\033[K"); // never run on from the progress line
    progressshown = false;
    std::fwrite(line.data(), 1, line.size(), stderr);
}

void printprogress(std::string_view text, bool last) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    if (last) std::fputs("\r\033[K", stderr);
    progressshown = !last;
}

std::string oneline(const Failure& failed) {
    std::string s = failed.text;
    for (char& c : s)
        if (c == '\n') c = ' ';
    return s;
}

} // namespace kivf
