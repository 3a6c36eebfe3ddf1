// SPDX-License-Identifier: Apache-2.0
// Fixed-length text and the text utilities every module uses.
//
// A text has a declared length and is padded on the right with blanks. Its used
// length is the position of its last non-blank character, but a NUL character
// ends the used part wherever it stands, so zero-filled storage reads as empty.
// Read-only text travels as std::string_view, text a routine writes as
// std::span<char>; neither routine ever touches a byte outside the view it got.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace kivf {

// Fixed-length text storage of N characters. Zero-filled when static, which
// counts as empty; converts to the read-only and the writable text views.
template <std::size_t N> struct Text {
    std::array<char, N> c{};

    static constexpr std::size_t size() { return N; }
    constexpr operator std::string_view() const { return {c.data(), N}; }
    constexpr operator std::span<char>() { return c; }
    constexpr std::string_view view() const { return *this; }
    constexpr char& operator[](std::size_t i) { return c[i]; }
    constexpr char operator[](std::size_t i) const { return c[i]; }
    constexpr char* data() { return c.data(); }
    constexpr const char* data() const { return c.data(); }
    // The used part (indexb characters).
    std::string_view used() const;
    // Replace the contents: cut or blank-padded.
    void set(std::string_view s);
    bool operator==(const Text&) const = default;
};
static_assert(sizeof(Text<8>) == 8, "texts of a list must lie back to back");

// Position (1-based) of the first character scanned that equals c (match) or
// differs from c (!match), scanning forwards or backwards; 0 when none.
std::int32_t indexa(std::string_view text, char c, bool forward, bool match);

// Used length: last non-blank position, never past the character before the
// first NUL.
std::int32_t indexb(std::string_view text);

// The used part of a text.
inline std::string_view used(std::string_view text) {
    return text.substr(0, static_cast<std::size_t>(indexb(text)));
}

// Show control characters (below 0x20, and DEL) as '?', in place: input
// shown in a message or listing never reaches a terminal as a control.
void maskcontrols(std::span<char> text);

// Copy src into dst, cut to dst or padded with blanks.
void fill(std::span<char> dst, std::string_view src);
// Make every position of dst a blank.
void blank(std::span<char> dst);

// Shift the text left over its leading blanks, blank-filling the end.
void ljust(std::span<char> text);

// Upper-case (upper) or lower-case the first count characters of in into out,
// leaving quoted passages ("..." or '...', either quote toggles) untouched.
// in and out may be the same storage. count is limited to both texts.
void modcase(bool upper, std::string_view in, std::int32_t count, std::span<char> out);

// Index (1-based) of the first of count names, each elemlen characters, stored
// back to back in list, that equals name as blank-padded text; 0 when none.
std::int32_t nequal(std::string_view name, std::string_view list, std::size_t elemlen,
                    std::int32_t count);

template <std::size_t N, std::size_t M>
std::int32_t nequal(std::string_view name, const std::array<Text<N>, M>& list,
                    std::int32_t count = static_cast<std::int32_t>(M)) {
    return nequal(name, std::string_view(list[0].data(), N * M), N, count);
}

// Write value in decimal, right-justified over the whole text; asterisks when
// it does not fit.
void cnvita(std::int32_t value, std::span<char> out);

// Append the first character of delim and the used part of name to the used
// part of path; 916 (path unchanged) when the result does not fit.
void crname(std::span<char> path, std::string_view delim, std::string_view name,
            std::int32_t& nerr);

template <std::size_t N> std::string_view Text<N>::used() const {
    return kivf::used(view());
}
template <std::size_t N> void Text<N>::set(std::string_view s) {
    fill(c, s);
}

} // namespace kivf
