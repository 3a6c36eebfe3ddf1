// SPDX-License-Identifier: Apache-2.0
#include "bot/bot.h"

#include "bot/numbers.h"
#include "bot/report_internal.h"
#include "ucf/ucf.h"

#include <algorithm>
#include <cstring>

namespace kivf {

std::int32_t indexa(std::string_view text, char c, bool forward, bool match) {
    const auto n = static_cast<std::int32_t>(text.size());
    for (std::int32_t k = 0; k < n; ++k) {
        const std::int32_t pos = forward ? k : n - 1 - k;
        if ((text[static_cast<std::size_t>(pos)] == c) == match) return pos + 1;
    }
    return 0;
}

std::int32_t indexb(std::string_view text) {
    const std::int32_t a = indexa(text, ' ', false, false);
    const std::int32_t z = indexa(text, '\0', true, true);
    return z > 0 ? std::min(a, z - 1) : a;
}

void maskcontrols(std::span<char> text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
}

void fill(std::span<char> dst, std::string_view src) {
    const std::size_t n = std::min(dst.size(), src.size());
    std::copy_n(src.data(), n, dst.data());
    std::fill(dst.begin() + static_cast<std::ptrdiff_t>(n), dst.end(), ' ');
}

void blank(std::span<char> dst) {
    std::fill(dst.begin(), dst.end(), ' ');
}

void ljust(std::span<char> text) {
    const std::int32_t j = indexa(std::string_view(text.data(), text.size()), ' ', true, false);
    if (j <= 1) return; // all blank, or nothing to move
    const std::size_t from = static_cast<std::size_t>(j - 1);
    const std::size_t len = text.size() - from;
    for (std::size_t i = 0; i < len; ++i) text[i] = text[from + i]; // front to back: overlap safe
    std::fill(text.begin() + static_cast<std::ptrdiff_t>(len), text.end(), ' ');
}

void modcase(bool upper, std::string_view in, std::int32_t count, std::span<char> out) {
    const std::size_t n =
        std::min({static_cast<std::size_t>(std::max(count, 0)), in.size(), out.size()});
    bool quoted = false;
    for (std::size_t i = 0; i < n; ++i) {
        char ch = in[i];
        if (ch == '"' || ch == '\'') {
            quoted = !quoted;
        } else if (!quoted) {
            if (upper && ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 32);
            if (!upper && ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch + 32);
        }
        out[i] = ch;
    }
}

namespace {
// Equality of blank-padded texts: the shorter counts as extended with blanks.
bool padded_equal(std::string_view a, std::string_view b) {
    if (a.size() < b.size()) std::swap(a, b);
    if (a.substr(0, b.size()) != b) return false;
    return a.find_first_not_of(' ', b.size()) == std::string_view::npos;
}
} // namespace

std::int32_t nequal(std::string_view name, std::string_view list, std::size_t elemlen,
                    std::int32_t count) {
    if (count <= 0) return 0;
    // Never look past the storage we were given, whatever count says.
    const std::size_t avail =
        elemlen == 0 ? static_cast<std::size_t>(count) : list.size() / elemlen;
    const std::size_t n = std::min(static_cast<std::size_t>(count), avail);
    for (std::size_t j = 0; j < n; ++j) {
        if (padded_equal(name, list.substr(j * elemlen, elemlen)))
            return static_cast<std::int32_t>(j + 1);
    }
    return 0;
}

void cnvita(std::int32_t value, std::span<char> out) {
    formatinteger(value, out);
}

void crname(std::span<char> path, std::string_view delim, std::string_view name,
            std::int32_t& nerr) {
    nerr = 0;
    const std::string_view view(path.data(), path.size());
    const auto a = static_cast<std::size_t>(indexb(view));
    const auto b = static_cast<std::size_t>(indexb(name));
    const char d = delim.empty() ? ' ' : delim[0];
    if (path.size() >= a + b + 1) {
        path[a] = d;
        std::copy_n(name.data(), b, path.data() + a + 1);
        std::fill(path.begin() + static_cast<std::ptrdiff_t>(a + 1 + b), path.end(), ' ');
        return;
    }
    nerr = kMsgPathTooLong;
    reporterror(nerr);
    reportpiece(view.substr(0, a));
    reportpiece(std::string_view(&d, 1));
    reportpiece(name.substr(0, b));
}

} // namespace kivf
