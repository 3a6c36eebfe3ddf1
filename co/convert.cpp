// SPDX-License-Identifier: Apache-2.0
// Every field conversion of the unit layer, used on records and on texts.
#include "co/co.h"

#include "ucf/ucf.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace kivf {

namespace {

bool isdigit(char c) {
    return c >= '0' && c <= '9';
}

std::string_view trimblanks(std::string_view t) {
    const auto b = t.find_first_not_of(' ');
    if (b == std::string_view::npos) return {};
    return t.substr(b, t.find_last_not_of(' ') - b + 1);
}

// Accumulate decimal digits with a sign into a 32-bit value; false on overflow.
bool accumulate(std::string_view digits, bool negative, std::int32_t& value) {
    std::int64_t v = 0;
    constexpr std::int64_t limit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    for (char c : digits) {
        v = v * 10 + (c - '0');
        if (v > limit) return false;
    }
    if (negative) v = -v;
    if (v > std::numeric_limits<std::int32_t>::max()) return false;
    value = static_cast<std::int32_t>(v);
    return true;
}

// No field this system reads as a free-form number is this long.
constexpr std::size_t kFreeMax = 512;

// Checks ordinary decimal notation and copies it, NUL-terminated, with a D
// exponent letter turned into E for the C library. False when the text is not
// such a number or does not fit the buffer.
template <std::size_t N> bool decimal(std::string_view t, std::array<char, N>& buf) {
    t = trimblanks(t);
    if (t.empty() || t.size() >= N) return false;
    std::size_t i = 0;
    if (t[i] == '+' || t[i] == '-') ++i;
    std::size_t mant = 0;
    while (i < t.size() && isdigit(t[i])) ++i, ++mant;
    if (i < t.size() && t[i] == '.') {
        ++i;
        while (i < t.size() && isdigit(t[i])) ++i, ++mant;
    }
    if (mant == 0) return false;
    std::size_t epos = std::string_view::npos;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E' || t[i] == 'd' || t[i] == 'D')) {
        epos = i++;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
        std::size_t edigits = 0;
        while (i < t.size() && isdigit(t[i])) ++i, ++edigits;
        if (edigits == 0) return false;
    }
    if (i != t.size()) return false;
    std::memcpy(buf.data(), t.data(), t.size());
    buf[t.size()] = '\0';
    if (epos != std::string_view::npos) buf[epos] = 'e';
    return true;
}

} // namespace

bool rdint(std::string_view field, std::int32_t& value) {
    std::array<char, 16> digits{};
    std::size_t nd = 0;
    bool negative = false, sign = false, any = false;
    for (char c : field) {
        if (c == ' ') continue;
        if ((c == '+' || c == '-') && !sign && !any) {
            sign = true;
            negative = c == '-';
        } else if (isdigit(c)) {
            any = true;
            if (nd == 0 && c == '0') continue; // leading zeros carry nothing
            if (nd == digits.size()) return false;
            digits[nd++] = c;
        } else {
            return false;
        }
    }
    if (sign && !any) return false; // a lone sign is not a number
    return accumulate(std::string_view(digits.data(), nd), negative, value);
}

void wrint(std::int32_t value, std::span<char> field) {
    formatinteger(value, field);
}

bool rdfree(std::string_view text, float& value) {
    std::array<char, kFreeMax> buf{};
    if (!decimal(text, buf)) return false;
    errno = 0;
    const float v = std::strtof(buf.data(), nullptr);
    if (std::isinf(v)) return false; // beyond the largest float
    value = v;
    return true;
}

bool rdfree(std::string_view text, double& value) {
    std::array<char, kFreeMax> buf{};
    if (!decimal(text, buf)) return false;
    const double v = std::strtod(buf.data(), nullptr);
    if (std::isinf(v)) return false;
    value = v;
    return true;
}

bool rdfree(std::string_view text, std::int32_t& value) {
    std::string_view t = trimblanks(text);
    if (t.size() >= kFreeMax) return false; // the same length limit as the other targets
    bool negative = false;
    if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
        negative = t[0] == '-';
        t.remove_prefix(1);
    }
    if (t.empty() || !std::all_of(t.begin(), t.end(), isdigit)) return false;
    const auto nz = t.find_first_not_of('0');
    t = nz == std::string_view::npos ? std::string_view("0") : t.substr(nz);
    if (t.size() > 10) return false;
    return accumulate(t, negative, value);
}

} // namespace kivf
