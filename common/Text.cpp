#include "common/Text.h"

#include <algorithm>
#include <cstddef>

namespace qv::text {

std::string TrimSpaces(std::string_view s, std::string_view blanks) {
  size_t begin = s.find_first_not_of(blanks);
  if (begin == std::string_view::npos) return {};
  size_t end = s.find_last_not_of(blanks);
  return std::string(s.substr(begin, end - begin + 1));
}

std::string TrimLeadingSpaces(std::string_view s) {
  size_t begin = s.find_first_not_of(' ');
  if (begin == std::string_view::npos) return {};
  return std::string(s.substr(begin));
}

std::string ReplaceAll(std::string_view s, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(s);
  std::string out;
  out.reserve(s.size());
  size_t pos = 0;
  for (;;) {
    size_t hit = s.find(from, pos);
    if (hit == std::string_view::npos) break;
    out.append(s.substr(pos, hit - pos));
    out.append(to);
    pos = hit + from.size();
  }
  out.append(s.substr(pos));
  return out;
}

char ToLowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string ToLowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = ToLowerAscii(c);
  return out;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return ToLowerAscii(x) == ToLowerAscii(y);
         });
}

bool LessIgnoreCase(std::string_view a, std::string_view b) {
  auto lower = [](char c) { return static_cast<unsigned char>(ToLowerAscii(c)); };
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    if (lower(a[i]) != lower(b[i])) return lower(a[i]) < lower(b[i]);
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;  // names equal but for case: keep a stable, total order
}

bool WildcardMatch(std::string_view pattern, std::string_view name, bool ignoreCase) {
  auto same = [ignoreCase](char p, char c) {
    return ignoreCase ? ToLowerAscii(p) == ToLowerAscii(c) : p == c;
  };
  size_t p = 0, n = 0;
  size_t starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() &&
        (pattern[p] == '?' || (pattern[p] != '*' && same(pattern[p], name[n])))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool HasWildcard(std::string_view s) {
  return s.find_first_of("*?") != std::string_view::npos;
}

}  // namespace qv::text
