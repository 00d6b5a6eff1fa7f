#include "platform/wine/WineHive.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "common/Text.h"
#include "platform/Registry.h"
#include "platform/posix/PosixSupport.h"
#include "platform/wine/CodePage.h"

namespace qv::platform::wine {

namespace {

// A line longer than this is no line Wine writes (it wraps hex data at 80
// columns and keeps strings to what the registry holds); it is dropped
// rather than gathered, so a hive without line ends cannot fill the memory.
constexpr size_t kLongestLine = size_t{1} << 20;

bool IsHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

unsigned HexDigit(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
  return static_cast<unsigned>(c - 'A' + 10);
}

// Reads one UTF-8 sequence at `pos`. Wine escapes everything above 127 when it
// writes a hive, but a hand-edited file may hold UTF-8; a byte that starts no
// valid sequence is taken as it is.
uint32_t ReadRawChar(std::string_view s, size_t& pos) {
  const auto byte = static_cast<unsigned char>(s[pos]);
  const std::optional<Utf8Lead> lead = ReadUtf8Lead(byte);
  const size_t extra = lead ? lead->continuations : 0;
  if (extra > 0 && pos + extra < s.size()) {
    uint32_t cp = lead->bits;
    size_t i = 1;
    for (; i <= extra && IsUtf8Continuation(s[pos + i]); ++i) {
      cp = (cp << 6) | (static_cast<unsigned char>(s[pos + i]) & 0x3Fu);
    }
    if (i > extra) {
      pos += extra + 1;
      return cp;
    }
  }
  ++pos;
  return byte;
}

// Appends one code point as UTF-16. Sequences that name no character (a
// surrogate, or beyond Unicode: only a hand-edited file holds them) become
// U+FFFD, which no ANSI code page holds either.
void AppendUtf16(std::u16string& out, uint32_t cp) {
  if (cp >= 0x10000 && cp <= 0x10FFFF) {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FFu));
  } else if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    out += u'\xFFFD';
  } else {
    out += static_cast<char16_t>(cp);
  }
}

// The control character of a one-letter escape (\a \b \e \f \n \r \t \v);
// nothing for any other letter.
std::optional<char16_t> ControlEscape(char letter) {
  switch (letter) {
    case 'a':
      return u'\a';
    case 'b':
      return u'\b';
    case 'e':
      return u'\x1b';
    case 'f':
      return u'\f';
    case 'n':
      return u'\n';
    case 'r':
      return u'\r';
    case 't':
      return u'\t';
    case 'v':
      return u'\v';
    default:
      return std::nullopt;
  }
}

// The digits of "\x" at `pos`: up to four hex digits, one UTF-16 unit (a
// character beyond the first plane comes as two escapes, its surrogates);
// an "x" without digits stands for itself.
char16_t HexEscape(std::string_view s, size_t& pos) {
  uint32_t unit = 0;
  int digits = 0;
  while (digits < 4 && pos < s.size() && IsHex(s[pos])) {
    unit = unit * 16 + HexDigit(s[pos++]);
    ++digits;
  }
  return digits ? static_cast<char16_t>(unit) : u'x';
}

// An octal escape at `pos`, up to three digits: Wine writes control
// characters so.
char16_t OctalEscape(std::string_view s, size_t& pos) {
  uint32_t cp = 0;
  for (int digits = 0; digits < 3 && pos < s.size() && s[pos] >= '0' && s[pos] <= '7'; ++digits) {
    cp = cp * 8 + static_cast<uint32_t>(s[pos++] - '0');
  }
  return static_cast<char16_t>(cp);
}

// Appends what the escape at `pos` (just after its backslash) stands for.
void AppendEscape(std::string_view s, size_t& pos, std::u16string& out) {
  const char e = s[pos];
  if (const std::optional<char16_t> control = ControlEscape(e)) {
    ++pos;
    out += *control;
  } else if (e == 'x') {
    ++pos;
    out += HexEscape(s, pos);
  } else if (e >= '0' && e <= '7') {
    out += OctalEscape(s, pos);
  } else {
    // \\, \", \[, \] and anything else stand for themselves, a character
    // beyond ASCII too.
    AppendUtf16(out, ReadRawChar(s, pos));
  }
}

// Decodes an escaped, quoted text that starts after its opening quote into
// the UTF-16 that Wine holds; stops after the closing `quote`. nullopt when
// the closing quote is missing.
std::optional<std::u16string> ParseQuoted(std::string_view s, size_t& pos, char quote) {
  std::u16string out;
  while (pos < s.size()) {
    const char c = s[pos];
    if (c == quote) {
      ++pos;
      return out;
    }
    if (c != '\\') {
      AppendUtf16(out, ReadRawChar(s, pos));
      continue;
    }
    if (++pos >= s.size()) return std::nullopt;
    AppendEscape(s, pos, out);
  }
  return std::nullopt;
}

// A quoted text as the ANSI calls give it.
std::optional<std::string> ParseQuotedAnsi(std::string_view s, size_t& pos, char quote) {
  std::optional<std::u16string> text = ParseQuoted(s, pos, quote);
  if (!text) return std::nullopt;
  return Utf16ToAnsi(*text);
}

// "a,b,0c" as bytes; nullopt when malformed.
std::optional<std::string> ParseHexBytes(std::string_view s) {
  std::string out;
  size_t pos = 0;
  while (pos < s.size()) {
    while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t')) ++pos;
    if (pos >= s.size()) break;
    unsigned byte = 0;
    int digits = 0;
    while (pos < s.size() && IsHex(s[pos])) {
      if (++digits > 2) return std::nullopt;
      byte = byte * 16 + HexDigit(s[pos++]);
    }
    if (digits == 0) return std::nullopt;
    out += static_cast<char>(byte);
    while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t')) ++pos;
    if (pos < s.size()) {
      if (s[pos] != ',') return std::nullopt;
      ++pos;
    }
  }
  return out;
}

// UTF-16LE string data as its units; an odd last byte is no character.
std::u16string Utf16FromBytes(std::string_view bytes) {
  std::u16string out;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    out += static_cast<char16_t>(
        static_cast<unsigned char>(bytes[i]) |
        (static_cast<unsigned>(static_cast<unsigned char>(bytes[i + 1])) << 8));
  }
  return out;
}

// A string ends at its first NUL for the wide call, stored or not.
std::u16string UpToNul(std::u16string text) {
  const size_t end = text.find(u'\0');
  if (end != std::u16string::npos) text.resize(end);
  return text;
}

bool IsStringType(uint32_t type) {
  return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

// Hex digits as a number; nothing when there are none or one is no hex digit.
// Callers bound the count where it matters (a dword has eight at most).
std::optional<uint32_t> HexNumber(std::string_view digits) {
  if (digits.empty()) return std::nullopt;
  uint32_t number = 0;
  for (const char c : digits) {
    if (!IsHex(c)) return std::nullopt;
    number = number * 16 + HexDigit(c);
  }
  return number;
}

// The quoted text at `pos` (after its opening quote) as a value of `type`,
// stored with its terminating NUL as the ANSI call hands it out.
std::optional<HiveValue> QuotedValue(uint32_t type, std::string_view valueText, size_t pos) {
  std::optional<std::u16string> text = ParseQuoted(valueText, pos, '"');
  if (!text) return std::nullopt;
  HiveValue value;
  value.type = type;
  value.data = Utf16ToAnsi(*text) + '\0';
  if (IsStringType(type)) value.text = UpToNul(std::move(*text));
  return value;
}

// str(N):"text": a quoted text of type N.
std::optional<HiveValue> TypedStringValue(std::string_view valueText) {
  const size_t close = valueText.find("):\"");
  if (close == std::string_view::npos) return std::nullopt;
  const std::optional<uint32_t> type = HexNumber(valueText.substr(4, close - 4));
  if (!type) return std::nullopt;
  return QuotedValue(*type, valueText, close + 3);
}

// dword:0000000a
std::optional<HiveValue> DwordValue(std::string_view digits) {
  const std::optional<uint32_t> number = digits.size() <= 8 ? HexNumber(digits) : std::nullopt;
  if (!number) return std::nullopt;
  HiveValue value;
  value.type = kRegDword;
  for (int i = 0; i < 4; ++i) value.data += static_cast<char>((*number >> (8 * i)) & 0xFFu);
  return value;
}

// The list of a hex value, with the lines that a trailing backslash
// continues it on (`more` fetches the next one).
template <typename More>
std::string ContinuedHexList(std::string_view first, More&& more) {
  std::string hex(first);
  while (!hex.empty() && hex.back() == '\\') {
    hex.pop_back();
    std::optional<std::string> next = more();
    if (!next) break;
    hex += *next;
  }
  return hex;
}

// hex:01,02 (REG_BINARY) or hex(N):01,02 (type N).
template <typename More>
std::optional<HiveValue> HexValue(std::string_view valueText, More&& more) {
  std::optional<uint32_t> type;
  size_t listStart = 0;
  if (valueText.starts_with("hex:")) {
    type = kRegBinary;
    listStart = 4;
  } else if (const size_t close = valueText.find("):");
             valueText.starts_with("hex(") && close != std::string_view::npos) {
    type = HexNumber(valueText.substr(4, close - 4));
    listStart = close + 2;
  }
  if (!type) return std::nullopt;
  std::optional<std::string> bytes =
      ParseHexBytes(ContinuedHexList(valueText.substr(listStart), more));
  if (!bytes) return std::nullopt;
  HiveValue value;
  value.type = *type;
  // Wine writes string types as hex when their data is not a clean string;
  // the data is UTF-16 then and the ANSI call converts it.
  if (IsStringType(value.type)) {
    std::u16string text = Utf16FromBytes(*bytes);
    value.data = Utf16ToAnsi(text);
    value.text = UpToNul(std::move(text));
  } else {
    value.data = std::move(*bytes);
  }
  return value;
}

// The part of a value line after "=". `more` fetches the next line for a hex
// value continued with a trailing backslash.
template <typename More>
std::optional<HiveValue> ParseValueData(std::string_view valueText, More&& more) {
  if (valueText.starts_with('"')) return QuotedValue(kRegSz, valueText, 1);
  if (valueText.starts_with("str(")) return TypedStringValue(valueText);
  if (valueText.starts_with("dword:")) return DwordValue(valueText.substr(6));
  return HexValue(valueText, more);
}

// The names of a key path; a doubled or trailing backslash names the same
// key.
std::vector<std::string> SplitKeyPath(std::string_view path) {
  return posix::SplitPath(path, '\\');
}

// A 32-bit program on 64-bit Windows reads HKLM\Software\X from
// HKLM\Software\Wow6432Node\X; Software\Classes has its own redirection that
// this installer never needs, and a path that already names the node stays.
std::vector<std::string> ThirtyTwoBitView(std::vector<std::string> parts) {
  if (parts.size() >= 2 && text::EqualsIgnoreCase(parts[0], "Software") &&
      !text::EqualsIgnoreCase(parts[1], "Wow6432Node") &&
      !text::EqualsIgnoreCase(parts[1], "Classes")) {
    parts.insert(parts.begin() + 1, "Wow6432Node");
  }
  return parts;
}

// Whether `header` (as split parts) is the key itself or one below it. Wine
// writes no header for a key that holds only sub-keys, so such a key exists
// when any key below it does.
enum class Match { kNone, kKey, kDescendant };

template <typename Part>
Match Compare(const std::vector<Part>& header, const std::vector<std::string>& wanted) {
  if (header.size() < wanted.size()) return Match::kNone;
  // From the deepest part up: the parts near the root ("Software") are the
  // ones that most headers share.
  for (size_t i = wanted.size(); i-- > 0;) {
    if (!text::EqualsIgnoreCase(header[i], wanted[i])) return Match::kNone;
  }
  return header.size() == wanted.size() ? Match::kKey : Match::kDescendant;
}

enum class Header { kPlain, kEscaped, kMalformed };

// The parts of a key header ("[A\\B] 1") as views into the line, for the
// common header of plain ASCII whose only escapes are the separators; a
// system.reg has tens of thousands of them, and this reads them without a
// copy. kEscaped: the header needs the full decoding.
Header PlainHeaderParts(std::string_view line, std::vector<std::string_view>& parts) {
  parts.clear();
  size_t start = 1;
  for (size_t i = 1; i < line.size(); ++i) {
    const char c = line[i];
    if (c == ']' || (c == '\\' && i + 1 < line.size() && line[i + 1] == '\\')) {
      if (i > start) parts.push_back(line.substr(start, i - start));
      if (c == ']') return Header::kPlain;
      start = ++i + 1;
    } else if (c == '\\' || static_cast<unsigned char>(c) >= 0x80) {
      return Header::kEscaped;
    }
  }
  return Header::kMalformed;  // no closing bracket
}

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

// The lines of a hive file, read in large blocks.
class FileLines {
 public:
  explicit FileLines(const std::string& path) : file_(std::fopen(path.c_str(), "rb")) {}

  bool IsOpen() const { return file_.Valid(); }

  // The next line without its line end into `line`; an over-long line comes
  // back empty. False at the end of the file.
  bool Next(std::string& line) {
    line.clear();
    bool any = false;
    bool tooLong = false;
    for (;;) {
      if (pos_ == size_ && !Fill()) break;
      any = true;
      const char* start = buffer_ + pos_;
      const auto* end = static_cast<const char*>(std::memchr(start, '\n', size_ - pos_));
      const size_t length = end ? static_cast<size_t>(end - start) : size_ - pos_;
      if (!tooLong && line.size() + length <= kLongestLine) {
        line.append(start, length);
      } else {
        tooLong = true;
        line.clear();
      }
      pos_ += length;
      if (end) {
        ++pos_;
        break;
      }
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return any;
  }

 private:
  bool Fill() {
    if (!file_.Valid()) return false;
    size_ = std::fread(buffer_, 1, sizeof buffer_, file_.Get());
    pos_ = 0;
    return size_ > 0;
  }

  posix::UniqueStream file_;
  char buffer_[1 << 16];
  size_t pos_ = 0;
  size_t size_ = 0;
};

// The lines of a hive held in memory.
class TextLines {
 public:
  explicit TextLines(std::string_view text) : text_(text) {}

  bool Next(std::string& line) {
    line.clear();
    if (pos_ >= text_.size()) return false;
    size_t end = text_.find('\n', pos_);
    if (end == std::string_view::npos) end = text_.size();
    std::string_view view = text_.substr(pos_, end - pos_);
    pos_ = end + 1;
    if (view.size() > kLongestLine) return true;
    if (!view.empty() && view.back() == '\r') view.remove_suffix(1);
    line.assign(view);
    return true;
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

// The longest key name the registry holds.
constexpr size_t kLongestKeyName = 255;

// One key asked for, in one view, while the hive is read.
struct Sought {
  std::vector<std::string> parts;
  HiveKey* key = nullptr;
  // Wine writes a key's section and then those of the keys below it, one
  // after the other: once a header is neither, the key is read in full.
  enum class State { kBefore, kInside, kAfter } state = State::kBefore;
  bool sectionRead = false;                         // a repeated section adds nothing
  std::map<std::string, std::string> subKeys = {};  // by lower-case name
};

template <typename Part>
void MatchHeader(const std::vector<Part>& header, std::vector<Sought>& sought,
                 std::vector<HiveKey*>& current) {
  for (Sought& one : sought) {
    if (one.state == Sought::State::kAfter) continue;
    const Match match = Compare(header, one.parts);
    if (match == Match::kNone) {
      if (one.state == Sought::State::kInside) one.state = Sought::State::kAfter;
      continue;
    }
    one.state = Sought::State::kInside;
    one.key->found = true;
    if (match == Match::kKey) {
      if (!one.sectionRead) current.push_back(one.key);
      one.sectionRead = true;
    } else if (const std::string_view name = header[one.parts.size()];
               name.size() <= kLongestKeyName) {
      one.subKeys.try_emplace(text::ToLowerAscii(name), name);
    }
  }
}

// The keys asked for, each in the view that a 32-bit program sees and, in a
// 64-bit machine hive (`redirected`) where the views differ, also as asked,
// the other view. The root is no key to look up.
std::vector<Sought> SoughtKeys(const std::vector<std::string>& keyPaths, bool redirected,
                               std::vector<HiveLookup>& result) {
  std::vector<Sought> sought;
  for (size_t i = 0; i < keyPaths.size(); ++i) {
    const std::vector<std::string> asked = SplitKeyPath(keyPaths[i]);
    if (asked.empty()) continue;
    std::vector<std::string> wanted = redirected ? ThirtyTwoBitView(asked) : asked;
    if (wanted.size() != asked.size()) {
      sought.push_back({.parts = asked, .key = &result[i].sixtyFourBit});
    }
    sought.push_back({.parts = std::move(wanted), .key = &result[i].thirtyTwoBit});
  }
  return sought;
}

// What one pass over a hive keeps from line to line.
struct Pass {
  bool seenHeader = false;
  bool win64 = false;
  // Filled at the first header, when the hive's architecture is known.
  std::vector<Sought> sought;
  std::vector<HiveKey*> current;             // the keys whose section is being read
  std::vector<std::string_view> plainParts;  // the parts of a header, reused
};

// A key header: the keys whose section it starts become the current ones.
// True once every key asked for is read in full.
bool ReadHeader(std::string_view header, Pass& pass) {
  pass.current.clear();
  if (PlainHeaderParts(header, pass.plainParts) == Header::kPlain) {
    MatchHeader(pass.plainParts, pass.sought, pass.current);
  } else {
    size_t pos = 1;
    const std::optional<std::string> name = ParseQuotedAnsi(header, pos, ']');
    if (!name) return false;
    MatchHeader(SplitKeyPath(*name), pass.sought, pass.current);
  }
  return std::all_of(pass.sought.begin(), pass.sought.end(),
                     [](const Sought& one) { return one.state == Sought::State::kAfter; });
}

// A value line ("name"=data or @=data for the default value) of the current
// keys; `lines` gives the lines that a hex list continues on. Other lines
// (#time=, #class=, comments) and malformed ones are passed over.
template <typename Lines>
void ReadValue(std::string_view line, Lines& lines, const std::vector<HiveKey*>& current) {
  if (line.empty() || (line.front() != '"' && line.front() != '@')) return;
  size_t pos = 1;
  std::optional<std::string> name = std::string();
  if (line.front() == '"') name = ParseQuotedAnsi(line, pos, '"');
  if (!name || pos >= line.size() || line[pos] != '=') return;
  auto more = [&lines]() -> std::optional<std::string> {
    std::string next;
    if (!lines.Next(next)) return std::nullopt;
    return std::string(TrimLeft(next));
  };
  const std::optional<HiveValue> value = ParseValueData(line.substr(pos + 1), more);
  if (!value) return;
  const std::string lowerName = text::ToLowerAscii(*name);
  for (HiveKey* key : current) key->values[lowerName] = *value;
}

template <typename Lines>
std::vector<HiveLookup> ReadHive(Lines& lines, const std::vector<std::string>& keyPaths,
                                 bool machineHive) {
  std::vector<HiveLookup> result(keyPaths.size());
  Pass pass;
  std::string line;
  while (lines.Next(line)) {
    const std::string_view view = line;
    if (!pass.seenHeader && view.starts_with("#arch=")) {
      pass.win64 = view.substr(6) == "win64";
    } else if (view.starts_with('[')) {
      if (!pass.seenHeader) {
        pass.seenHeader = true;
        pass.sought = SoughtKeys(keyPaths, machineHive && pass.win64, result);
      }
      if (ReadHeader(view, pass)) break;
    } else if (!pass.current.empty()) {
      ReadValue(view, lines, pass.current);
    }
  }
  for (HiveLookup& lookup : result) {
    lookup.readable = true;
    lookup.win64 = pass.win64;
  }
  for (Sought& one : pass.sought) {
    // Lower-case names in byte order: the order without regard to case.
    for (auto& [lower, name] : one.subKeys) one.key->subKeys.push_back(std::move(name));
  }
  return result;
}

}  // namespace

HiveLookup ReadHiveFile(const std::string& file, const std::string& keyPath, bool machineHive) {
  return std::move(ReadHiveFileKeys(file, {keyPath}, machineHive).front());
}

HiveLookup ReadHiveText(std::string_view text, const std::string& keyPath, bool machineHive) {
  return std::move(ReadHiveTextKeys(text, {keyPath}, machineHive).front());
}

std::vector<HiveLookup> ReadHiveFileKeys(const std::string& file,
                                         const std::vector<std::string>& keyPaths,
                                         bool machineHive) {
  FileLines lines(file);
  if (!lines.IsOpen()) return std::vector<HiveLookup>(keyPaths.size());
  return ReadHive(lines, keyPaths, machineHive);
}

std::vector<HiveLookup> ReadHiveTextKeys(std::string_view text,
                                         const std::vector<std::string>& keyPaths,
                                         bool machineHive) {
  TextLines lines(text);
  return ReadHive(lines, keyPaths, machineHive);
}

}  // namespace qv::platform::wine
