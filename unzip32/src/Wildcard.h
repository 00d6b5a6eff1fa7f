// Name-list patterns: "*" matches any run of characters (separators too),
// "?" exactly one; everything else matches itself, with or without regard to
// ASCII letter case.
#ifndef UNZIP32_WILDCARD_H
#define UNZIP32_WILDCARD_H

#include <string_view>

namespace unzip32 {

bool WildcardMatch(std::string_view pattern, std::string_view text, bool caseSensitive);

}  // namespace unzip32

#endif  // UNZIP32_WILDCARD_H
