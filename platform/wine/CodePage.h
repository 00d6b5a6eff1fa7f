// Code page 1252, the ANSI code page that Wine gives the game on Western
// systems: the POSIX layer's ANSI text is in it, while file names on the host
// are UTF-8, as Wine writes them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qv::platform::wine {

// One Unicode code point as a byte of code page 1252; '?' where it has none.
char AnsiFromCodePoint(uint32_t codePoint);

// The Unicode code point of one byte of code page 1252 (the five bytes that
// it leaves undefined stand for the control characters of the same number,
// as Windows maps them).
uint32_t CodePointFromAnsi(unsigned char byte);

// Code page 1252 text as UTF-8.
std::string AnsiToUtf8(std::string_view text);

// UTF-16 text in code page 1252, as the system's conversion gives it: a
// character the code page has none for, a surrogate pair included, becomes
// one '?'.
std::string Utf16ToAnsi(std::u16string_view text);

// Whether code page 1252 holds every character of `text`.
bool AnsiHolds(std::u16string_view text);

// UTF-16 text as UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

// Whether `text` is well-formed UTF-8 (pure ASCII included).
bool IsUtf8(std::string_view text);

}  // namespace qv::platform::wine
