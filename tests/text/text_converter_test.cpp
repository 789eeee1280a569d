#include <gtest/gtest.h>

#include "text/TextConverter.h"

using namespace orvane::text;

namespace {

const std::string kReplacement = "\xEF\xBF\xBD";

std::string Repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

}  // namespace

TEST(DecodeGb18030, KeepsEveryValidCharacterAndMarksOnlyBrokenBytes) {
  struct Case {
    const char* name;
    std::string bytes;
    std::string lenient;  // with OnError::Replace
    bool valid;           // OnError::Fail succeeds
  };
  const Case cases[] = {
      {"gb2312 and ascii", "\xC1\xF5\xB5\xC2\xBB\xAA - a", "刘德华 - a", true},
      {"gbk-only character", "\xD6\xEC\xE9\x46\xBB\xF9", "朱镕基", true},
      {"four-byte bmp", "\x81\x30\x81\x30", "\xC2\x80", true},
      {"four-byte beyond the bmp", "\x95\x32\x82\x36", "\xF0\xA0\x80\x80", true},
      {"two-byte beyond the bmp", "\xFE\x51", "\xF0\xA0\x82\x87", true},
      {"cut final half character is dropped", "\xD6\xD0\xCE\xC4\xD6", "中文", false},
      {"cut four-byte character is dropped", "\xD6\xD0\x81\x30\x81", "中", false},
      {"stray byte", "\xD6\xD0\xFF\xCE\xC4", "中" + kReplacement + "文", false},
      // Code page 936's euro sign, a single byte GBK readers take as U+20AC.
      {"0x80 is the euro sign", "\x80 10 \xD4\xAA", "€ 10 元", true},
      {"0xFF", "\xFF\xD6\xD0", kReplacement + "中", false},
      {"lead before ascii keeps the ascii", "\xD6 a\xCE\xC4", kReplacement + " a文", false},
      {"lead before a control byte", "\xD6\x0A", kReplacement + "\n", false},
      {"unassigned four-byte code", "\x84\x31\xA5\x30\xD6\xD0", kReplacement + "1" + kReplacement + "0中", false},
      {"empty", "", "", true},
      // Text that grows the most on decoding: the output buffer must make room.
      {"a run of two-byte codes beyond the bmp", Repeat("\xFE\x51", 64), Repeat("\xF0\xA0\x82\x87", 64), true},
      {"a run of euro signs", Repeat("\x80", 64), Repeat("€", 64), true},
      {"a run of stray bytes", Repeat("\xFF", 64) + "\xFE\x51", Repeat(kReplacement, 64) + "\xF0\xA0\x82\x87", false},
  };
  for (const auto& c : cases) {
    std::string out;
    EXPECT_TRUE(DecodeGb18030(c.bytes, out, OnError::Replace)) << c.name;
    EXPECT_EQ(out, c.lenient) << c.name;
    std::string strict = "stale";
    EXPECT_EQ(DecodeGb18030(c.bytes, strict, OnError::Fail), c.valid) << c.name;
    EXPECT_EQ(strict, c.valid ? c.lenient : "") << c.name;
  }
}

TEST(DecodeGb18030, CountsWhatItMet) {
  GbDecodeStats stats;
  std::string out;
  DecodeGb18030("\xD6\xD0\xC9\x6C\xFF\x80\x81\x30\x81\x30x\xD6", out, OnError::Replace, &stats);
  EXPECT_EQ(stats.twoByte, 2u);
  EXPECT_EQ(stats.gb2312Shaped, 1u);
  EXPECT_EQ(stats.fourByte, 1u);
  EXPECT_EQ(stats.broken, 1u);
  EXPECT_TRUE(stats.cutAtEnd);
  EXPECT_EQ(stats.cutBytes, 1u);
  EXPECT_TRUE(stats.cjk);
}

TEST(TextConverter, EncodesWithThePolicyForMissingCharacters) {
  struct Case {
    const char* encoding;
    OnError policy;
    std::string utf8;
    bool ok;
    std::string bytes;
  };
  const Case cases[] = {
      {"GB2312", OnError::CharRef, "中a镕🎵", true, "\xD6\xD0" "a&#38229;&#127925;"},
      {"GB2312", OnError::Replace, "中镕", true, "\xD6\xD0?"},
      {"GB2312", OnError::Fail, "中镕", false, ""},
      {"GB2312", OnError::Fail, "中文 abc", true, "\xD6\xD0\xCE\xC4 abc"},
      {"gb18030", OnError::Fail, "朱镕基 é 🎵", true, "\xD6\xEC\xE9\x46\xBB\xF9 \xA8\xA6 \x94\x39\xC1\x39"},
      {"GBK", OnError::Fail, "\xF0\xA0\x82\x87", true, "\xFE\x51"},
      {"ISO-8859-1", OnError::CharRef, "Café 中", true, "Caf\xE9 &#20013;"},
      {"ISO-8859-1", OnError::Replace, "中x", true, "?x"},
      {"ISO-8859-1", OnError::Fail, "中x", false, ""},
      {"GB2312", OnError::CharRef, "\xC3\x28", false, ""},  // not UTF-8
  };
  for (const auto& c : cases) {
    std::string bytes = "stale";
    EXPECT_EQ(TextConverter(c.encoding).Encode(c.utf8, bytes, c.policy), c.ok) << c.encoding << " " << c.utf8;
    EXPECT_EQ(bytes, c.bytes) << c.encoding << " " << c.utf8;
  }
}

TEST(TextConverter, DecodesOtherEncodingsWithTheSamePolicy) {
  std::string out;
  EXPECT_TRUE(TextConverter("ISO-8859-1").Decode("Caf\xE9", out, OnError::Fail));
  EXPECT_EQ(out, "Café");
  // Shift_JIS: a stray byte is replaced, a cut last character dropped.
  const TextConverter sjis("Shift_JIS");
  ASSERT_TRUE(sjis.Ok());
  EXPECT_TRUE(sjis.Decode("\x82\xA0\xFF\x82\xA2\x82", out, OnError::Replace));
  EXPECT_EQ(out, "あ" + kReplacement + "い");
  EXPECT_FALSE(sjis.Decode("\x82\xA0\xFF", out, OnError::Fail));
  EXPECT_EQ(out, "");

  for (const char* bad : {"no-such-charset", "GB2312 ", "../x", ""}) {
    const TextConverter unknown(bad);
    EXPECT_FALSE(unknown.Ok()) << bad;
    EXPECT_FALSE(unknown.Decode("x", out, OnError::Replace)) << bad;
  }
  EXPECT_TRUE(TextConverter("cp936").IsGb());
  EXPECT_TRUE(TextConverter("GB2312").CanEncode("中文"));
  EXPECT_FALSE(TextConverter("GB2312").CanEncode("镕"));
}
