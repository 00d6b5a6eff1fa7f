// The library's one letter-case rule, for device names, name lists and
// duplicate names: ASCII letters only. Entry names are bytes in whatever code
// page the archive's writer used, so no byte beyond ASCII has a case the
// library could know.
#ifndef UNZIP32_ASCIICASE_H
#define UNZIP32_ASCIICASE_H

#include <string>
#include <string_view>

namespace unzip32 {

constexpr char FoldCase(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string FoldCase(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = FoldCase(c);
  return result;
}

}  // namespace unzip32

#endif  // UNZIP32_ASCIICASE_H
