// Code page 1252, the ANSI code page that Wine gives the game on Western
// systems: the POSIX layer's ANSI text is in it, while file names on the host
// are UTF-8, as Wine writes them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
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

// What the first byte of a UTF-8 sequence says: how many continuation bytes
// follow it (0 for ASCII) and the bits of the code point it carries.
struct Utf8Lead {
  size_t continuations;
  uint32_t bits;
};

// Nothing for a byte that starts no sequence: a continuation byte, or one
// of C0, C1 and F5 to FF, which only over-long or out-of-range forms use.
std::optional<Utf8Lead> ReadUtf8Lead(unsigned char byte);

inline bool IsUtf8Continuation(char byte) {
  return (static_cast<unsigned char>(byte) & 0xC0u) == 0x80u;
}

// UTF-16 text as UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

// Whether `text` is well-formed UTF-8 (pure ASCII included).
bool IsUtf8(std::string_view text);

}  // namespace qv::platform::wine
