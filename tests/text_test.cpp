#include "common/Text.h"

#include <gtest/gtest.h>

namespace qv::text {
namespace {

TEST(Text, WildcardMatch) {
  const struct {
    const char* pattern;
    const char* name;
    bool ignoreCase;
    bool matches;
  } cases[] = {
      {"*.txt", "b.txt", true, true},
      {"*.txt", "A.TXT", true, true},
      {"*.txt", "A.TXT", false, false},
      {"*.txt", "c.package", true, false},
      {"*.package", "c.package", true, true},
      {"*.package", "c.package.txt", true, false},
      {"?.txt", "ab.txt", true, false},
      {"a?c", "abc", false, true},
      {"*", "", true, true},
      {"", "", true, true},
      {"", "a", true, false},
      {"a*b*c", "aXXbYYc", false, true},
      {"a*b*c", "aXXbYY", false, false},
      {"**a", "bba", false, true},
      {"*.*", "noext", true, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WildcardMatch(c.pattern, c.name, c.ignoreCase), c.matches)
        << c.pattern << " vs " << c.name;
  }
}

TEST(Text, WildcardMatchStaysLinearOnHostilePatterns) {
  std::string pattern(2000, '*');
  pattern += "b";
  std::string name(20000, 'a');
  EXPECT_FALSE(WildcardMatch(pattern, name, false));
}

TEST(Text, TrimReplaceAndCompare) {
  EXPECT_EQ(TrimSpaces("  a b  "), "a b");
  EXPECT_EQ(TrimSpaces("   "), "");
  EXPECT_EQ(TrimSpaces("\ta\t"), "\ta\t");  // tabs are no spaces
  EXPECT_EQ(TrimLeadingSpaces("  a  "), "a  ");
  EXPECT_EQ(ReplaceAll("pavix:pavix://x", "pavix:", "http:"), "http:http://x");
  EXPECT_EQ(ReplaceAll("\"a\"\"", "\"", ""), "a");
  EXPECT_EQ(ReplaceAll("PAVIX://x", "pavix:", "http:"), "PAVIX://x");
  EXPECT_TRUE(LessIgnoreCase("a.txt", "B.txt"));
  EXPECT_FALSE(LessIgnoreCase("B.txt", "a.txt"));
  EXPECT_NE(LessIgnoreCase("A", "a"), LessIgnoreCase("a", "A"));  // a total order
  EXPECT_TRUE(EqualsIgnoreCase("EA Games", "ea GAMES"));
}

}  // namespace
}  // namespace qv::text
