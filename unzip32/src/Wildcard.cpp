#include "Wildcard.h"

#include <cstddef>

#include "AsciiCase.h"

namespace unzip32 {

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
         (caseSensitive ? pattern[p] == text[t] : FoldCase(pattern[p]) == FoldCase(text[t])))) {
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
