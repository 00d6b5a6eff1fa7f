#include "common/Text.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace qv::text;

TEST(Text, WildcardMatch) {
  // Pattern, name, whether case is ignored, whether it matches.
  // clang-format off
  const std::tuple<const char*, const char*, bool, bool> rows[] = {
      {"*.txt", "A.TXT", true, true}, {"*.txt", "A.TXT", false, false},
      {"*.txt", "a.txt.x", true, false}, {"?.txt", "ab.txt", true, false},
      {"a?c", "abc", false, true}, {"*", "", true, true}, {"", "a", true, false},
      {"a*b*c", "aXbYbc", false, true}, {"a*b*c", "aXXbYY", false, false},
      {"**a", "bba", false, true}, {"*.*", "noext", true, false}, {"*?", "", true, false}};
  // clang-format on
  for (const auto& [pattern, name, ignoreCase, matches] : rows)
    EXPECT_EQ(WildcardMatch(pattern, name, ignoreCase), matches) << pattern << " vs " << name;
  // Linear, without recursion, on hostile patterns.
  EXPECT_FALSE(WildcardMatch(std::string(2000, '*') + "b", std::string(20000, 'a'), false));
  EXPECT_TRUE(HasWildcard("a?") && HasWildcard("*") && !HasWildcard("a.txt"));
}

TEST(Text, TrimReplaceAndCompare) {
  EXPECT_EQ(TrimSpaces("  a b  ") + "|" + TrimSpaces("   ") + "|" + TrimSpaces("\ta\t"),
            "a b||\ta\t");
  EXPECT_EQ(TrimLeadingSpaces("  a  ") + "|" + TrimLeadingSpaces("  "), "a  |");
  EXPECT_EQ(ReplaceAll("pavix:pavix://x", "pavix:", "http:"), "http:http://x");
  EXPECT_EQ(ReplaceAll("\"a\"\"", "\"", "") + ReplaceAll("PAVIX:", "pavix:", "") +
                ReplaceAll("a", "", "b"),
            "aPAVIX:a");
  // Names in the order of a case-insensitive file system, and total.
  EXPECT_TRUE(LessIgnoreCase("a.txt", "B.txt") && LessIgnoreCase("b", "B.txt"));
  EXPECT_TRUE(!LessIgnoreCase("B.txt", "a.txt") && !LessIgnoreCase("a", "a"));
  EXPECT_NE(LessIgnoreCase("A", "a"), LessIgnoreCase("a", "A"));
  EXPECT_TRUE(EqualsIgnoreCase("EA Games", "ea GAMES") && !EqualsIgnoreCase("EA", "EA "));
}
