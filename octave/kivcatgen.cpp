// SPDX-License-Identifier: Apache-2.0
// Writes kivcat.m, the vocabulary kivread and kivwrite share, from the library's
// own catalogue and header constants, so that the Octave functions never name a
// field the library does not know; and the messages kivread raises, their error
// identifiers from the table of message numbers and their texts from the
// catalogue compiled into the library, so that Octave says what the library
// says. Run at build time:
//   kivcatgen kivcat.m.in private/kivcat.m
// The template's line @CATALOGUE@ becomes the assignments, at its indentation.
#include "bot/numbers.h"
#include "dff/dff.h"
#include "msg/msg.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace kivf;

static_assert(kUndfFlt == kUndfInt && kUndfEnm == kUndfInt,
              "kivread and kivwrite take one undefined value for every numeric group");

template <std::size_t M> std::vector<std::string_view> names(const std::array<Text<8>, M>& a) {
    std::vector<std::string_view> v;
    for (const auto& t : a) v.push_back(t.used());
    return v;
}

std::string quoted(std::string_view s) {
    std::string q = "'";
    for (char ch : s) q += ch == '\'' ? std::string("''") : std::string(1, ch);
    return q + "'";
}

// "cat.X = {'A', 'B', ...};", continued before column 100 under the first name.
void cell(std::ostream& out, const std::string& indent, std::string_view field,
          const std::vector<std::string_view>& v) {
    std::string line = indent + "cat." + std::string(field) + " = {";
    const std::string under(line.size(), ' ');
    for (std::size_t j = 0; j < v.size(); ++j) {
        const std::string item = quoted(v[j]) + (j + 1 < v.size() ? ", " : "};");
        if (line.size() > under.size() && line.size() + item.size() + 3 > 100) {
            out << line << "...\n";
            line = under;
        }
        line += item;
    }
    out << line << '\n';
}

// The catalogue text of a number as loaded, without its trailing blanks; empty when the
// catalogue lacks it (getmsg would make up a text).
std::string_view cattext(std::int32_t number) {
    for (std::int32_t k = 0; k < cmmsg.ncatmsg; ++k)
        if (cmmsg.catnum[static_cast<std::size_t>(k)] == number)
            return kmmsg.cattext[static_cast<std::size_t>(k)].used();
    return {};
}

// "cat.msg.<name>.id = '<identifier>';" and ".text" for every message that has an Octave
// identifier; false, with the number said, for one without a catalogue text.
bool messages(std::ostream& out, const std::string& indent) {
    for (const MsgEntry& e : kMsgTable) {
        if (*e.octave == '\0') continue;
        const std::string_view text = cattext(e.number);
        if (text.empty()) {
            std::cerr << "kivcatgen: message " << e.number << " has no catalogue text\n";
            return false;
        }
        const std::string at = indent + "cat.msg." + e.name;
        out << at << ".id = " << quoted(e.octave) << ";\n"
            << at << ".text = " << quoted(text) << ";\n";
    }
    return true;
}

bool catalogue(std::ostream& out, const std::string& indent) {
    cell(out, indent, "F", names(kmlhf.kfhdr));
    cell(out, indent, "N", names(kmlhf.knhdr));
    cell(out, indent, "I", names(kmlhf.kihdr));
    cell(out, indent, "L", names(kmlhf.klhdr));
    cell(out, indent, "K", names(kmlhf.kkhdr));
    // Ordinals from 1 up to the first unassigned one.
    auto e = names(kmlhf.kienm);
    e.erase(std::find(e.begin(), e.end(), "UNUSED"), e.end());
    cell(out, indent, "enum", e);
    out << indent << "cat.undef = " << kUndfInt << ";\n"
        << indent << "cat.undeftxt = " << quoted(kUndfTxt) << ";\n"
        << indent << "cat.version = " << kCurHver << ";\n";
    return messages(out, indent);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: kivcatgen TEMPLATE OUTPUT\n";
        return 2;
    }
    inilhf();
    ::unsetenv("KIVAUX"); // the texts compiled in, whatever directory the build runs with
    inimsg();
    std::ifstream in(argv[1]);
    std::ostringstream text;
    int markers = 0;
    for (std::string line; std::getline(in, line);) {
        const auto at = line.find("@CATALOGUE@");
        if (at == std::string::npos) {
            text << line << '\n';
        } else {
            ++markers;
            if (!catalogue(text, line.substr(0, at))) return 1;
        }
    }
    if (!in.eof() || markers != 1) {
        std::cerr << "kivcatgen: " << argv[1] << " cannot be read or has no single @CATALOGUE@\n";
        return 1;
    }
    std::ofstream out(argv[2]);
    out << text.str();
    out.close();
    if (!out) {
        std::cerr << "kivcatgen: cannot write " << argv[2] << '\n';
        return 1;
    }
    return 0;
}
