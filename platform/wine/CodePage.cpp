#include "platform/wine/CodePage.h"

namespace qv::platform::wine {

namespace {

// Code points of the bytes 0x80..0x9F of code page 1252.
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

char AnsiFromCodePoint(uint32_t codePoint) {
  if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF)) {
    return static_cast<char>(static_cast<unsigned char>(codePoint));
  }
  for (unsigned i = 0; i < 32; ++i) {
    if (kCp1252High[i] == codePoint) return static_cast<char>(0x80 + i);
  }
  return '?';
}

uint32_t CodePointFromAnsi(unsigned char byte) {
  return byte >= 0x80 && byte <= 0x9F ? kCp1252High[byte - 0x80] : byte;
}

std::string AnsiToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) AppendUtf8(out, CodePointFromAnsi(static_cast<unsigned char>(c)));
  return out;
}

bool AnsiHolds(std::u16string_view text) {
  for (const char16_t unit : text) {
    if (unit != u'?' && AnsiFromCodePoint(unit) == '?') return false;
  }
  return true;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00u);
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

std::optional<Utf8Lead> ReadUtf8Lead(unsigned char byte) {
  if (byte < 0x80) return Utf8Lead{.continuations = 0, .bits = byte};
  if (byte >= 0xC2 && byte <= 0xDF) return Utf8Lead{.continuations = 1, .bits = byte & 0x1Fu};
  if (byte >= 0xE0 && byte <= 0xEF) return Utf8Lead{.continuations = 2, .bits = byte & 0x0Fu};
  if (byte >= 0xF0 && byte <= 0xF4) return Utf8Lead{.continuations = 3, .bits = byte & 0x07u};
  return std::nullopt;
}

bool IsUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const std::optional<Utf8Lead> lead = ReadUtf8Lead(static_cast<unsigned char>(text[i]));
    if (!lead || i + lead->continuations >= text.size()) return false;
    const size_t extra = lead->continuations;
    uint32_t cp = lead->bits;
    for (size_t k = 1; k <= extra; ++k) {
      if (!IsUtf8Continuation(text[i + k])) return false;
      cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3Fu);
    }
    // Over-long forms, surrogates and code points beyond Unicode are no UTF-8.
    if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    i += extra + 1;
  }
  return true;
}

std::string Utf16ToAnsi(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    // A surrogate pair is one character outside the code page: one '?'.
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      ++i;
    }
    out += AnsiFromCodePoint(unit);
  }
  return out;
}

}  // namespace qv::platform::wine
