// Small text helpers shared by the core and the platform layers. Strings hold
// 8-bit ANSI text; nothing here knows about any code page beyond ASCII.
#pragma once

#include <string>
#include <string_view>

namespace qv::text {

// Removes leading and trailing spaces (code 32) only; tabs and other white
// space stay, as the deleting helpers expect. `blanks` names other
// characters to remove instead.
std::string TrimSpaces(std::string_view s, std::string_view blanks = " ");
std::string TrimLeadingSpaces(std::string_view s);

// Replaces every occurrence of `from` (non-empty), scanning left to right.
std::string ReplaceAll(std::string_view s, std::string_view from, std::string_view to);

char ToLowerAscii(char c);
std::string ToLowerAscii(std::string_view s);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
// Orders names the way a case-insensitive file system lists them.
bool LessIgnoreCase(std::string_view a, std::string_view b);

// "*" matches any run of characters, "?" exactly one. Runs in O(|pattern| * |name|)
// at worst, without recursion, so hostile patterns cannot blow the stack.
bool WildcardMatch(std::string_view pattern, std::string_view name, bool ignoreCase);
bool HasWildcard(std::string_view s);

}  // namespace qv::text
