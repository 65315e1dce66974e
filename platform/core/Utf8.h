#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace fotolane {

// Reading and writing UTF-8, the one reader and writer of the product: for
// the page writers, the text of a picture's metadata, the window's file
// names and the batch front end's terminal text.

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// The character that starts at `pos` in UTF-8 text; moves `pos` past it.
// A sequence that is not well-formed (a stray continuation byte, an overlong
// form, a surrogate, beyond U+10FFFF, cut short) yields U+FFFD and moves
// past its maximal well-formed beginning, at least one byte.
inline char32_t NextCharacter(std::string_view text, std::size_t& pos) {
    const auto lead = static_cast<unsigned char>(text[pos++]);
    if (lead < 0x80) return lead;
    int more = 0;
    char32_t c = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        more = 1;
        c = static_cast<char32_t>(lead & 0x1F);
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        more = 2;
        c = static_cast<char32_t>(lead & 0x0F);
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        more = 3;
        c = static_cast<char32_t>(lead & 0x07);
        if (lead == 0xF0) low = 0x90;   // no overlong forms
        if (lead == 0xF4) high = 0x8F;  // nothing beyond U+10FFFF
    } else {
        return kReplacementCharacter;
    }
    for (int k = 0; k < more; ++k) {
        if (pos >= text.size()) return kReplacementCharacter;
        const auto next = static_cast<unsigned char>(text[pos]);
        if (next < low || next > high) return kReplacementCharacter;
        c = (c << 6) | static_cast<char32_t>(next & 0x3F);
        ++pos;
        low = 0x80;
        high = 0xBF;
    }
    return c;
}

// Whether a well-formed character starts at `pos`: then it is `c` and `pos`
// moves past it; otherwise neither changes. A U+FFFD spelled out in the text
// is well-formed.
inline bool TakeCharacter(std::string_view text, std::size_t& pos, char32_t& c) {
    std::size_t next = pos;
    const char32_t read = NextCharacter(text, next);
    if (read == kReplacementCharacter &&
        text.substr(pos, next - pos) != std::string_view("\xEF\xBF\xBD")) {
        return false;
    }
    c = read;
    pos = next;
    return true;
}

inline bool IsWellFormedUtf8(std::string_view text) {
    char32_t c = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        if (!TakeCharacter(text, pos, c)) return false;
    }
    return true;
}

template <typename Visit>
inline void ForEachCharacter(std::string_view utf8, Visit&& visit) {
    std::size_t pos = 0;
    while (pos < utf8.size()) visit(NextCharacter(utf8, pos));
}

inline void AppendUtf8(std::string& out, char32_t c) {
    const auto unit = [&out](char32_t bits) { out += static_cast<char>(bits & 0xFF); };
    if (c < 0x80) {
        unit(c);
    } else if (c < 0x800) {
        unit(0xC0 | (c >> 6));
        unit(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        unit(0xE0 | (c >> 12));
        unit(0x80 | ((c >> 6) & 0x3F));
        unit(0x80 | (c & 0x3F));
    } else {
        unit(0xF0 | (c >> 18));
        unit(0x80 | ((c >> 12) & 0x3F));
        unit(0x80 | ((c >> 6) & 0x3F));
        unit(0x80 | (c & 0x3F));
    }
}

// Text as one line fit to show: control characters gone (C0, DEL, C1 and the
// byte order mark; line breaks, tabs, no-break spaces and the Unicode line
// and paragraph separators become blanks), runs of blanks one space, none at
// the ends, cut at a character to at most `most` bytes. A sequence that is
// not well-formed shows as U+FFFD, so the result is valid UTF-8.
inline std::string OneLine(std::string_view text, std::size_t most) {
    std::string line;
    bool blank = false;
    for (std::size_t at = 0; at < text.size();) {
        const char32_t c = NextCharacter(text, at);
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == 0x0B || c == 0x0C ||
            c == 0x85 || c == 0xA0 || c == 0x2028 || c == 0x2029) {
            blank = !line.empty();
            continue;
        }
        if (c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0xFEFF) continue;
        std::string character;
        AppendUtf8(character, c);
        if (line.size() + (blank ? 1 : 0) + character.size() > most) break;
        if (blank) line += ' ';
        blank = false;
        line += character;
    }
    return line;
}

}  // namespace fotolane
