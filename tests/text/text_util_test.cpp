#include <gtest/gtest.h>

#include "text/TextUtil.h"

using namespace orvane::text;

TEST(Trim, RemovesBlanksAndControlBytesOnly) {
  EXPECT_EQ(Trim(std::string_view("\0\t a b \r\n\x1F", 9)), "a b");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(Trim("\xE4\xB8\xAD"), "\xE4\xB8\xAD");  // bytes above 0x20 are never blanks
  EXPECT_EQ(TrimLeft(" x "), "x ");
  EXPECT_EQ(TrimRight(" x "), " x");
}

TEST(CutUtf8, NeverSplitsACharacter) {
  const std::string s = "a中b";  // 1 + 3 + 1 bytes
  EXPECT_EQ(CutUtf8(s, 0), "");
  EXPECT_EQ(CutUtf8(s, 1), "a");
  EXPECT_EQ(CutUtf8(s, 2), "a");
  EXPECT_EQ(CutUtf8(s, 3), "a");
  EXPECT_EQ(CutUtf8(s, 4), "a中");
  EXPECT_EQ(CutUtf8(s, 99), s);
}

TEST(ParseInt32, AcceptsOnlyWholeDecimalIntegersInRange) {
  struct Case {
    const char* text;
    std::optional<int32_t> expected;
  };
  const Case cases[] = {{"0", 0},           {"-12", -12},        {"+7", 7},
                        {"  42", 42},       {"42 ", std::nullopt}, {"", std::nullopt},
                        {"x", std::nullopt}, {"1x", std::nullopt}, {"2147483647", 2147483647},
                        {"2147483648", std::nullopt}, {"-2147483648", INT32_MIN}, {"1.5", std::nullopt}};
  for (const auto& c : cases) EXPECT_EQ(ParseInt32(c.text), c.expected) << '"' << c.text << '"';
}

TEST(ParseDouble, AcceptsDecimalNumbers) {
  EXPECT_EQ(ParseDouble("0"), 0.0);
  EXPECT_EQ(ParseDouble("-1.5"), -1.5);
  EXPECT_EQ(ParseDouble("3e2"), 300.0);
  EXPECT_EQ(ParseDouble("abc"), std::nullopt);
  EXPECT_EQ(ParseDouble(""), std::nullopt);
  EXPECT_EQ(ParseDouble("nan"), std::nullopt);
}

TEST(CleanFileName, RemovesTheNineCharactersAndCutsAt259Bytes) {
  EXPECT_EQ(CleanFileName("a/b:c?.mp3"), "abc.mp3");
  EXPECT_EQ(CleanFileName("\"*/:<>?\\|x"), "x");
  EXPECT_EQ(CleanFileName(std::string(300, 'a')), std::string(259, 'a'));
  std::string han;
  for (int i = 0; i < 100; ++i) han += "中";
  EXPECT_EQ(CleanFileName(han).size(), 258u);  // 86 whole characters, never a split one
}

TEST(CaseHelpers, CompareAsciiWithoutCase) {
  EXPECT_TRUE(EqualsNoCase("TJ", "tj"));
  EXPECT_FALSE(EqualsNoCase("tj", "tjx"));
  EXPECT_TRUE(StartsWithNoCase("HTTP://x", "http://"));
  EXPECT_EQ(AsciiLower("EQ中"), "eq中");
}
