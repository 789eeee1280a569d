#include <gtest/gtest.h>

#include "text/Legacy.h"

using namespace orvane::text;

TEST(FromLegacy, DecodesEachKindOfInput) {
  struct Case {
    const char* name;
    std::string bytes;
    std::string expected;
  };
  const Case cases[] = {
      {"ascii", "Hello", "Hello"},
      {"utf8 stays", "\xE4\xB8\xAD\xE6\x96\x87 Caf\xC3\xA9", "中文 Café"},
      {"utf8 bom stripped", "\xEF\xBB\xBF\xE4\xB8\xAD", "中"},
      {"gbk", "\xD6\xD0\xCE\xC4", "中文"},
      {"gbk mixed with ascii", "\xC1\xF5\xB5\xC2\xBB\xAA - \xCD\xFC\xC7\xE9\xCB\xAE", "刘德华 - 忘情水"},
      {"gbk-only character", "\xD6\xEC\xE9\x46\xBB\xF9", "朱镕基"},
      {"gb18030 four-byte", "\x81\x30\x81\x30\xD6\xD0", "\xC2\x80中"},
      {"latin1 at end", "Beyonc\xE9", "Beyoncé"},
      {"latin1 before blank", "Caf\xE9 au lait", "Café au lait"},
      {"latin1 before letter", "\xC9lan", "Élan"},
      {"latin1 pair", "Cr\xE8me br\xFBl\xE9" "e", "Crème brûlée"},
      {"cp1252 quotes", "\x93hi\x94", "\xE2\x80\x9Chi\xE2\x80\x9D"},
      // A 30-byte ID3v1 field that cut the last Chinese character in half, and a stray byte: the
      // valid characters survive instead of the whole text turning into Latin-1.
      {"gbk cut at the end", "\xD6\xDC\xBD\xDC\xC2\xD7 \xC6\xDF\xC0\xEF\xCF\xE3 (Live) \xCA\xAE\xC4\xEA\xD6",
       "周杰伦 七里香 (Live) 十年"},
      {"gbk with a stray byte", "\xD6\xD0\x80\xCE\xC4\xB8\xE8", "中\xEF\xBF\xBD文歌"},
      {"gbk with a lone lead byte", "\xD6\xD0\xCE\xC4\xB8 \xB8\xE8", "中文\xEF\xBF\xBD 歌"},
      // Latin-1 with flaws under a GBK reading stays Latin-1.
      {"latin1 accent pair then cut", "\xE0\xE9 \xFC", "àé ü"},
      {"latin1 accents and blanks", "D\xE9j\xE0 vu \xE0 Z\xFCrich", "Déjà vu à Zürich"},
      // Two accented letters side by side form pairs of GB2312's second level ("Bl屮jet Gr鲞e"),
      // capitals inside a word one of its first level ("CORA敲O"): still Latin-1.
      {"latin1 letter pairs", "Bl\xE5\xF8jet Gr\xF6\xDF" "e", "Blåøjet Größe"},
      {"latin1 c cedilla and a tilde", "Cora\xE7\xE3o", "Coração"},
      {"latin1 capitals inside a word", "CORA\xC7\xC3O", "CORAÇÃO"},
      {"latin1 pair before sharp s", "M\xFC\xDFiggang \xC6r\xF8sk\xF8" "bing", "Müßiggang Ærøskøbing"},
      // Chinese that is not made of first-level characters, or sits right after a word.
      {"gbk second level", "\xF7\xD2\xF7\xD1", "饕餮"},
      {"gbk after a word", "Live\xB0\xE6", "Live版"},
      {"gbk in book-title marks", "\xA1\xB6\xC6\xDF\xC0\xEF\xCF\xE3\xA1\xB7", "《七里香》"},
      {"utf16le bom", std::string("\xFF\xFE\x2D\x4E\x41\x00", 6), "中A"},
      {"utf16be bom", std::string("\xFE\xFF\x4E\x2D\x00\x41", 6), "中A"},
      {"utf16 odd tail", std::string("\xFF\xFE\x41\x00\x42", 5), "A"},
      {"empty", "", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(FromLegacy(c.bytes), c.expected) << c.name;
}

TEST(FromLegacyTogether, DecidesTheEncodingOverAllTexts) {
  // A lone character right after a word says little ("HiÖÐ" is as likely); the tag's other
  // fields say it is GBK. UTF-8 and UTF-16 fields stay as they are.
  EXPECT_EQ(FromLegacyTogether({"Hi\xD6\xD0", "\xD6\xDC\xBD\xDC\xC2\xD7", "Caf\xC3\xA9", "", "2004"}),
            (std::vector<std::string>{"Hi中", "周杰伦", "Café", "", "2004"}));
  EXPECT_EQ(FromLegacy("Hi\xD6\xD0"), "HiÖÐ");
  // And Latin-1 the other way: one field alone reads as a Chinese character, the others do not.
  EXPECT_EQ(FromLegacyTogether({"\xC0\xC9", "Caf\xE9 Tacuba", std::string("\xFF\xFE\x41\x00", 4)}),
            (std::vector<std::string>{"ÀÉ", "Café Tacuba", "A"}));
}

TEST(FromLegacy, AlwaysReturnsValidUtf8ForRandomBytes) {
  uint32_t seed = 12345;
  for (int round = 0; round < 2000; ++round) {
    std::string bytes(static_cast<size_t>(round % 40), '\0');
    for (char& c : bytes) {
      seed = seed * 1103515245 + 12345;
      c = static_cast<char>(seed >> 16);
    }
    EXPECT_TRUE(IsValidUtf8(FromLegacy(bytes)));
  }
}

TEST(IsValidUtf8, RejectsMalformedSequences) {
  for (const char* bad : {"\xC0\x80", "\xE0\x80\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE4\xB8", "\x80", "\xFF"})
    EXPECT_FALSE(IsValidUtf8(bad)) << bad;
  EXPECT_TRUE(IsValidUtf8("\xF0\x9F\x8E\xB5 \xC3\xA9"));
}

TEST(RepairLatin1Misread, RestoresGbkButKeepsGenuineAccents) {
  // "中文" as GBK bytes D6 D0 CE C4 read as Latin-1.
  EXPECT_EQ(RepairLatin1Misread("\xC3\x96\xC3\x90\xC3\x8E\xC3\x84"), "中文");
  EXPECT_EQ(RepairLatin1Misread("Café"), "Café");
  EXPECT_EQ(RepairLatin1Misread("Élan"), "Élan");
  EXPECT_EQ(RepairLatin1Misread("中文"), "中文");  // beyond Latin-1: never touched
  EXPECT_EQ(RepairLatin1Misread("plain"), "plain");
  // A frame cut inside its last character keeps the characters before the cut.
  EXPECT_EQ(RepairLatin1Misread("\xC3\x96\xC3\x90\xC3\x8E\xC3\x84\xC3\x96"), "中文");
  // UTF-8 written into a frame marked Latin-1 ("中文" read as Latin-1) is UTF-8, not GBK.
  EXPECT_EQ(RepairLatin1Misread("\xC3\xA4\xC2\xB8\xC2\xAD\xC3\xA6\xC2\x96\xC2\x87"), "中文");
}

TEST(Gb18030, RoundTripsAllOfUnicode) {
  const std::string text = "中文 é ß 🎵 镕 𠀀";
  std::string back;
  ASSERT_TRUE(DecodeGb18030(ToGb18030(text), back));
  EXPECT_EQ(back, text);
  EXPECT_EQ(ToGb18030("\xFF"), "");
}
