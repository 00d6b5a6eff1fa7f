#include "Wildcard.h"

#include <cstddef>

namespace unzip32 {
namespace {

char Fold(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

// Greedy matching with one backtrack point (the last "*"): linear in practice
// and never worse than pattern length times text length, so a hostile
// pattern cannot make it explode.
bool WildcardMatch(std::string_view pattern, std::string_view text, bool caseSensitive) {
  size_t p = 0;
  size_t t = 0;
  size_t starPattern = std::string_view::npos;
  size_t starText = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starPattern = p++;
      starText = t;
      continue;
    }
    if (p < pattern.size() &&
        (pattern[p] == '?' ||
         (caseSensitive ? pattern[p] == text[t] : Fold(pattern[p]) == Fold(text[t])))) {
      ++p;
      ++t;
      continue;
    }
    if (starPattern == std::string_view::npos) return false;
    p = starPattern + 1;
    t = ++starText;
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace unzip32
