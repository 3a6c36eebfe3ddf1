// SPDX-License-Identifier: Apache-2.0
// Helpers shared by the fuzz targets: reading typed values out of the fuzz
// input, an invariant check that stops the run loudly, and independent
// readings of numbers and texts that the targets compare the library with.
#pragma once

#include "msg/msg.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace kivf::fuzz {

// A broken invariant is a finding: say which and abort so libFuzzer keeps the input.
[[noreturn]] inline void broken(const char* what, const char* file, int line) {
    std::fprintf(stderr, "invariant broken at %s:%d: %s\n", file, line, what);
    std::abort();
}
#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond)) ::kivf::fuzz::broken(#cond, __FILE__, __LINE__);                              \
    } while (0)

// Consumes the fuzz input front to back; past its end every value reads 0.
class Input {
  public:
    Input(const std::uint8_t* data, std::size_t size)
        : p_(reinterpret_cast<const char*>(data)), n_(size) {}
    bool empty() const { return n_ == 0; }
    std::uint8_t u8() {
        if (n_ == 0) return 0;
        --n_;
        return static_cast<std::uint8_t>(*p_++);
    }
    std::uint16_t u16() { return static_cast<std::uint16_t>(u8() | (u8() << 8)); }
    std::int32_t i32() {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= std::uint32_t{u8()} << (8 * i);
        return static_cast<std::int32_t>(v);
    }
    // Up to len bytes of the input (fewer when it runs out).
    std::string_view bytes(std::size_t len) {
        const std::size_t k = std::min(len, n_);
        const std::string_view s(p_, k);
        p_ += k;
        n_ -= k;
        return s;
    }
    std::string_view rest() { return bytes(n_); }

  private:
    const char* p_;
    std::size_t n_;
};

// Used length of a text, counted here without the library: the position of
// the last non-blank character (a NUL is not a blank), but never past the
// character before the first NUL; so "ab \0" has used length 3.
inline std::size_t usedlen(std::string_view s) {
    const std::size_t last = s.find_last_not_of(' ');
    const std::size_t a = last == std::string_view::npos ? 0 : last + 1;
    return std::min(a, s.find('\0'));
}

// s cut to w characters or padded with blanks.
inline std::string padded(std::string_view s, std::size_t w) {
    std::string r(s.substr(0, std::min(s.size(), w)));
    r.resize(w, ' ');
    return r;
}

// Decimal text of v right-justified in w columns, or w asterisks.
inline std::string field(long long v, std::size_t w) {
    char buf[32];
    const int k = std::snprintf(buf, sizeof buf, "%lld", v);
    const auto n = static_cast<std::size_t>(k);
    if (n > w) return std::string(w, '*');
    return std::string(w - n, ' ') + buf;
}

// A free-form decimal number: blanks around it passed over, optional sign,
// digits with at most one decimal point (at least one digit), optional
// exponent letter E or D with optional sign and at least one digit. Returns
// the text normalised for the C library (D turned into E), or nothing.
inline std::optional<std::string> freeform(std::string_view t) {
    const std::size_t b = t.find_first_not_of(' ');
    if (b == std::string_view::npos) return std::nullopt;
    t = t.substr(b, t.find_last_not_of(' ') - b + 1);
    std::string out(t);
    std::size_t i = 0, digits = 0;
    auto dig = [&](std::size_t k) { return k < out.size() && out[k] >= '0' && out[k] <= '9'; };
    if (i < out.size() && (out[i] == '+' || out[i] == '-')) ++i;
    while (dig(i)) ++i, ++digits;
    if (i < out.size() && out[i] == '.') {
        ++i;
        while (dig(i)) ++i, ++digits;
    }
    if (digits == 0) return std::nullopt;
    if (i < out.size() && std::strchr("eEdD", out[i]) != nullptr && out[i] != '\0') {
        out[i++] = 'e';
        if (i < out.size() && (out[i] == '+' || out[i] == '-')) ++i;
        std::size_t ed = 0;
        while (dig(i)) ++i, ++ed;
        if (ed == 0) return std::nullopt;
    }
    if (i != out.size()) return std::nullopt;
    return out;
}

// An optionally signed decimal integer within 32 bits; blanks are allowed
// around it only when around is true, and anywhere when anywhere is true.
inline std::optional<std::int32_t> integer(std::string_view t, bool anywhere) {
    std::string s;
    for (char c : t)
        if (!(anywhere && c == ' ')) s += c;
    if (!anywhere) {
        const std::size_t b = s.find_first_not_of(' ');
        s = b == std::string::npos ? "" : s.substr(b, s.find_last_not_of(' ') - b + 1);
    } else if (s.empty()) {
        return 0; // an all-blank integer field reads 0
    }
    std::size_t i = 0;
    bool neg = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
    if (i == s.size()) return std::nullopt;
    long long v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return std::nullopt;
        v = v * 10 + (s[i] - '0');
        if (v > 2147483648LL) return std::nullopt;
    }
    if (neg) v = -v;
    if (v > 2147483647LL) return std::nullopt;
    return static_cast<std::int32_t>(v);
}

// Message state as at program start, with the type names in place (the
// part of the start-up the targets need without a catalogue file).
inline void freshmessages() {
    cmmsg = CmMsg{};
    kmmsg = KmMsg{};
    constexpr std::string_view names[] = {"ERRORS",   "WARNINGS", "OUTPUT",
                                          "COMMANDS", "MACROS",   "PROCESSED"};
    for (std::size_t t = 0; t < std::size(names); ++t) kmmsg.typname[t].set(names[t]);
    clrmsg();
}

} // namespace kivf::fuzz
