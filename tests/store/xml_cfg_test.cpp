#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "store/UYmXMLCFG.h"
#include "support/temp_dir.h"

using orvane::store::TYkConfig;
using orvane::test::ReadFileBytes;
using orvane::test::TempDir;
using orvane::test::WriteFileBytes;

namespace {

// Positions of the needles in text, in the order given; -1 for a needle not found.
std::vector<long> PositionsOf(const std::string& text, const std::vector<std::string>& needles) {
  std::vector<long> out;
  for (const auto& n : needles) {
    const auto p = text.find(n);
    out.push_back(p == std::string::npos ? -1 : static_cast<long>(p));
  }
  return out;
}

bool IsAscending(const std::vector<long>& v) {
  for (size_t i = 0; i < v.size(); ++i) {
    if (v[i] < 0 || (i > 0 && v[i] <= v[i - 1])) return false;
  }
  return true;
}

// What the main window writes at close, in its order.
void WriteAtClose(TYkConfig& cfg, int volume) {
  cfg.WriteInteger("Window/Volume", "Value", volume);
  cfg.WriteString("Window/PLIST", "PATH", "/home/u/Orvane/Default.pls");
  cfg.WriteInteger("Window/PLAY", "PATTERN", 2);
  cfg.WriteBool("Window/DESKTOPLRC", "SHOW", false);
  cfg.WriteBool("Window/AUTORUN", "Value", true);
  cfg.WriteBool("Window/RUNTL", "Value", false);
  cfg.WriteInteger("Window/EQ", "ID", 3);
  cfg.WriteString("Window/SKIN", "NAME", "");
}

}  // namespace

TEST(TYkConfig, FreshFolderGivesDefaultsAndNoFileUntilSomethingIsWritten) {
  TempDir dir;
  const std::string file = dir.File("Orvane.xml");
  {
    TYkConfig cfg(file, "MainConfig");
    EXPECT_EQ(cfg.ReadInteger("Window/PLAY", "PATTERN", 0), 0);
    EXPECT_EQ(cfg.ReadString("Window/LRC", "PATH", "/d/lrc"), "/d/lrc");
    EXPECT_EQ(cfg.ReadInteger("Window/EQ", "ID", 0), 0);
    EXPECT_TRUE(cfg.ReadBool("Window/AUTORUN", "Value", true));
    EXPECT_TRUE(cfg.ReadBool("Window/RUNTL", "Value", true));
    EXPECT_TRUE(cfg.ReadBool("Window/DESKTOPLRC", "SHOW", true));
    EXPECT_EQ(cfg.ReadInteger("Window/Volume", "Value", 65), 65);
    EXPECT_FALSE(cfg.Modified());
    EXPECT_FALSE(cfg.MovedAside());
  }
  EXPECT_FALSE(std::filesystem::exists(file));
}

TEST(TYkConfig, CloseWritesRoundTripInFirstWriteOrderAndKeepTheirPlaces) {
  TempDir dir;
  const std::string file = dir.File("Orvane.xml");
  {
    TYkConfig cfg(file, "MainConfig");
    WriteAtClose(cfg, 40);
    EXPECT_TRUE(cfg.Modified());
  }
  const std::string first = ReadFileBytes(file);
  EXPECT_EQ(first.rfind("<?xml version=\"1.0\" encoding=\"GB2312\"?>", 0), 0u) << first;
  EXPECT_TRUE(IsAscending(PositionsOf(first, {"<MainConfig>", "<Window>", "<Volume Value=\"40\"/>",
                                              "<PLIST PATH=", "<PLAY PATTERN=\"2\"/>", "<DESKTOPLRC SHOW=\"0\"/>",
                                              "<AUTORUN Value=\"1\"/>", "<RUNTL Value=\"0\"/>", "<EQ ID=\"3\"/>",
                                              "<SKIN NAME=\"\"/>", "</Window>", "</MainConfig>"})))
      << first;

  {
    // Start-up reads, then writes in another order: existing elements stay where they are, a new
    // one goes last.
    TYkConfig cfg(file, "MainConfig");
    EXPECT_EQ(cfg.ReadInteger("Window/PLAY", "PATTERN", 0), 2);
    EXPECT_EQ(cfg.ReadString("Window/PLIST", "PATH", ""), "/home/u/Orvane/Default.pls");
    EXPECT_EQ(cfg.ReadInteger("Window/EQ", "ID", 0), 3);
    EXPECT_TRUE(cfg.ReadBool("Window/AUTORUN", "Value", false));
    EXPECT_FALSE(cfg.ReadBool("Window/RUNTL", "Value", true));
    EXPECT_FALSE(cfg.ReadBool("Window/DESKTOPLRC", "SHOW", true));
    EXPECT_EQ(cfg.ReadInteger("Window/Volume", "Value", 65), 40);
    EXPECT_EQ(cfg.ReadString("Window/SKIN", "NAME", "dflt"), "dflt");  // an empty value reads as the default
    cfg.WriteString("Window/LRC", "PATH", "/music/lrc");
    cfg.WriteInteger("Window/EQ", "ID", 5);
    cfg.WriteInteger("Window/Volume", "Value", 70);
  }
  const std::string second = ReadFileBytes(file);
  EXPECT_TRUE(IsAscending(PositionsOf(second, {"<Volume Value=\"70\"/>", "<PLIST", "<PLAY", "<DESKTOPLRC",
                                               "<AUTORUN", "<RUNTL", "<EQ ID=\"5\"/>", "<SKIN",
                                               "<LRC PATH=\"/music/lrc\"/>"})))
      << second;
}

TEST(TYkConfig, ReadingOnlyNeverRewritesTheFile) {
  TempDir dir;
  const std::string file = dir.File("Orvane.xml");
  const std::string original = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><MainConfig><Window><PLAY PATTERN=\"1\"/></Window></MainConfig>";
  WriteFileBytes(file, original);
  {
    TYkConfig cfg(file, "MainConfig");
    EXPECT_EQ(cfg.ReadInteger("Window/PLAY", "PATTERN", 0), 1);
  }
  EXPECT_EQ(ReadFileBytes(file), original);
}

TEST(TYkConfig, IntegerAndBooleanConversions) {
  struct Case {
    const char* stored;
    int32_t asInteger;  // read with default 7
    bool asBoolTrueDefault;
    bool asBoolFalseDefault;
  };
  const Case cases[] = {
      {"2", 2, true, true},
      {"0", 0, false, false},
      {"1", 1, true, true},
      {"256", 256, false, false},  // only the low eight bits count
      {"257", 257, true, true},
      {"-1", -1, true, true},
      {"-256", -256, false, false},
      {"x", 7, true, false},
      {"", 7, true, false},  // empty: the default
      {"12x", 7, true, false},
      {"2147483647", 2147483647, true, true},
      {"2147483648", 7, true, false},  // beyond 32 bits
      {"0x10", 7, true, false},
  };
  TempDir dir;
  for (const auto& c : cases) {
    TYkConfig cfg(dir.File("c.xml"), "MainConfig");
    cfg.WriteString("Window/PLAY", "PATTERN", c.stored);
    EXPECT_EQ(cfg.ReadInteger("Window/PLAY", "PATTERN", 7), c.asInteger) << c.stored;
    EXPECT_EQ(cfg.ReadBool("Window/PLAY", "PATTERN", true), c.asBoolTrueDefault) << c.stored;
    EXPECT_EQ(cfg.ReadBool("Window/PLAY", "PATTERN", false), c.asBoolFalseDefault) << c.stored;
  }
}

TEST(TYkConfig, DuplicatesUseTheFirstMatchAndOtherContentIsKept) {
  TempDir dir;
  const std::string file = dir.File("Orvane.xml");
  WriteFileBytes(file,
                 "<?xml version=\"1.0\"?>\n"
                 "<!-- kept -->\n"
                 "<Settings>\n"
                 "  <Window>\n"
                 "    <PLAY PATTERN=\"1\" extra=\"e\"/>\n"
                 "    <PLAY PATTERN=\"2\"/>\n"
                 "    <Unknown a=\"1\"><Child>text &amp; more</Child></Unknown>\n"
                 "  </Window>\n"
                 "  <Window><PLAY PATTERN=\"9\"/></Window>\n"
                 "</Settings>\n");
  {
    TYkConfig cfg(file, "MainConfig");
    EXPECT_EQ(cfg.ReadInteger("Window/PLAY", "PATTERN", 0), 1);
    cfg.WriteInteger("Window/PLAY", "PATTERN", 0);
    cfg.WriteInteger("Window/Volume", "Value", 50);
  }
  const std::string saved = ReadFileBytes(file);
  // The file's own root is kept, the first PLAY was changed in place, the rest is untouched.
  EXPECT_EQ(saved.find("MainConfig"), std::string::npos) << saved;
  EXPECT_TRUE(IsAscending(PositionsOf(saved, {"<!-- kept -->", "<Settings>", "<PLAY PATTERN=\"0\" extra=\"e\"/>",
                                              "<PLAY PATTERN=\"2\"/>", "<Unknown a=\"1\">",
                                              "<Child>text &amp; more</Child>", "<Volume Value=\"50\"/>",
                                              "<PLAY PATTERN=\"9\"/>", "</Settings>"})))
      << saved;
  TYkConfig again(file, "MainConfig");
  EXPECT_EQ(again.ReadInteger("Window/Volume", "Value", 65), 50);
}

TEST(TYkConfig, ElementTextIsReadAndWrittenWhenNoAttributeIsNamed) {
  TempDir dir;
  const std::string file = dir.File("Orvane.xml");
  WriteFileBytes(file, "<MainConfig><A>hello</A><B></B><C>  </C><D><E>in</E>side</D></MainConfig>");
  {
    TYkConfig cfg(file, "MainConfig");
    EXPECT_EQ(cfg.ReadString("A", "", "dflt"), "hello");
    EXPECT_EQ(cfg.ReadString("B", "", "dflt"), "");  // the element exists: never the default
    EXPECT_EQ(cfg.ReadString("C", "", "dflt"), "  ");
    EXPECT_EQ(cfg.ReadString("D", "", "dflt"), "inside");
    EXPECT_EQ(cfg.ReadString("Z", "", "dflt"), "dflt");
    cfg.WriteString("A", "", "a < b & \"c\"");
    cfg.WriteString("D", "", "replaced");
  }
  TYkConfig cfg(file, "MainConfig");
  EXPECT_EQ(cfg.ReadString("A", "", ""), "a < b & \"c\"");
  EXPECT_EQ(cfg.ReadString("D", "", ""), "replaced");
  EXPECT_EQ(cfg.ReadString("D/E", "", "gone"), "gone");
}

TEST(TYkConfig, TextsRoundTripIncludingWhatGb2312CannotHold) {
  TempDir dir;
  const std::string file = dir.File("Orvane.xml");
  const std::string values[] = {
      "/home/用户/音乐/lrc",
      "Café ß naïve",
      "朱镕基 \xF0\x9F\x8E\xB5 𠀀",  // GBK-only character, emoji, a CJK extension-B character
      "tab\there\nline\r\nend & <x> \"q\" 'a'",
      "  leading and trailing  ",
  };
  {
    TYkConfig cfg(file, "MainConfig");
    for (size_t i = 0; i < std::size(values); ++i) cfg.WriteString("Window/K" + std::to_string(i), "V", values[i]);
  }
  TYkConfig cfg(file, "MainConfig");
  for (size_t i = 0; i < std::size(values); ++i)
    EXPECT_EQ(cfg.ReadString("Window/K" + std::to_string(i), "V", "?"), values[i]) << i;
}

TEST(TYkConfig, UnsafeTextsAndNamesNeverBreakTheFile) {
  TempDir dir;
  const std::string file = dir.File("Orvane.xml");
  {
    TYkConfig cfg(file, "MainConfig");
    cfg.WriteString("Window/A", "V", std::string("ctrl\x01\x1F" "char\0nul", 14));  // not allowed in XML 1.0
    cfg.WriteString("Window/B", "V", "\xD6\xD0\xCE\xC4");                        // GBK bytes, not UTF-8
    cfg.WriteString("Window//C", "V", "x");                                      // not element names
    cfg.WriteString("Window/1st", "V", "x");
    cfg.WriteString("Window/D", "bad name", "x");
    EXPECT_EQ(cfg.ReadString("Window//C", "V", "dflt"), "dflt");
  }
  TYkConfig cfg(file, "MainConfig");
  EXPECT_FALSE(cfg.MovedAside()) << cfg.LoadError();
  EXPECT_EQ(cfg.ReadString("Window/A", "V", ""), "ctrlcharnul");
  EXPECT_EQ(cfg.ReadString("Window/B", "V", ""), "中文");
  EXPECT_EQ(cfg.ReadString("Window/D", "V", "none"), "none");
  EXPECT_EQ(ReadFileBytes(file).find("1st"), std::string::npos);
}

TEST(TYkConfig, LoadedEncodingAndVersionDeclarations) {
  struct Case {
    const char* name;
    std::string bytes;
    const char* expectedStart;
  };
  const Case cases[] = {
      {"utf-8 declared", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Cfg><W V=\"é中\"/></Cfg>",
       "<?xml version=\"1.0\" encoding=\"GB2312\"?>"},
      {"latin-1 declared", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><Cfg><W V=\"\xE9\xDF\"/></Cfg>",
       "<?xml version=\"1.0\" encoding=\"GB2312\"?>"},
      {"no declaration", "<Cfg><W V=\"x\"/></Cfg>", "<?xml version=\"1.0\" encoding=\"GB2312\"?>"},
      {"utf-8 bom", "\xEF\xBB\xBF<Cfg><W V=\"x\"/></Cfg>", "<?xml version=\"1.0\" encoding=\"GB2312\"?>"},
      {"version kept", "<?xml version=\"1.1\" encoding=\"gbk\"?><Cfg><W V=\"x\"/></Cfg>",
       "<?xml version=\"1.1\" encoding=\"GB2312\"?>"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    const std::string file = dir.File("Orvane.xml");
    WriteFileBytes(file, c.bytes);
    {
      TYkConfig cfg(file, "MainConfig");
      EXPECT_FALSE(cfg.MovedAside()) << c.name << ": " << cfg.LoadError();
      cfg.WriteString("W", "N", "1");
    }
    const std::string saved = ReadFileBytes(file);
    EXPECT_EQ(saved.rfind(c.expectedStart, 0), 0u) << c.name << "\n" << saved;
    EXPECT_NE(saved.find("<Cfg>"), std::string::npos) << c.name;
  }
  // The Latin-1 values survived the change of encoding.
  WriteFileBytes(dir.File("l.xml"), cases[1].bytes);
  {
    TYkConfig cfg(dir.File("l.xml"), "MainConfig");
    cfg.WriteString("W", "N", "1");
  }
  EXPECT_EQ(TYkConfig(dir.File("l.xml"), "MainConfig").ReadString("W", "V", ""), "éß");
}

TEST(TYkConfig, FailedSaveIsReportedAndKeepsModified) {
  TempDir dir;
  const std::string file = dir.File("no-such-folder/Orvane.xml");
  TYkConfig cfg(file, "MainConfig");
  cfg.WriteInteger("Window/PLAY", "PATTERN", 1);
  std::string error;
  EXPECT_FALSE(cfg.Save(&error));
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(cfg.Modified());

  std::filesystem::create_directory(dir.File("no-such-folder"));
  EXPECT_TRUE(cfg.Save(&error)) << error;
  EXPECT_FALSE(cfg.Modified());
  EXPECT_TRUE(std::filesystem::exists(file));
  // The destructor of a store whose save fails only reports it.
  { TYkConfig lost(dir.File("missing/x.xml"), "MainConfig"); lost.WriteBool("A", "B", true); }
}

TEST(TYkConfig, ANameGb2312CannotHoldStillGivesAReadableFile) {
  // Character references cannot stand in a name: such a document is saved as GB18030 instead.
  TempDir dir;
  const std::string file = dir.File("Orvane.xml");
  WriteFileBytes(file, "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Cfg><Straße größe=\"1\"/><配置 值=\"中\"/></Cfg>");
  {
    TYkConfig cfg(file, "MainConfig");
    cfg.WriteString("Window/PLAY", "PATTERN", "\xF0\x9F\x8E\xB5");
  }
  TYkConfig cfg(file, "MainConfig");
  EXPECT_FALSE(cfg.MovedAside()) << cfg.LoadError();
  EXPECT_EQ(cfg.ReadString("Straße", "größe", ""), "1");
  EXPECT_EQ(cfg.ReadString("配置", "值", ""), "中");
  EXPECT_EQ(cfg.ReadString("Window/PLAY", "PATTERN", ""), "\xF0\x9F\x8E\xB5");
}

// The text kept for a later write is what a save writes, and taking it stops the store from
// saving when freed (the caller writes it itself, later or never).
TEST(TYkConfig, TakenTextIsWhatASaveWritesAndIsNotWrittenMeanwhile) {
  TempDir dir;
  const std::string file = dir.File("Orvane.xml");
  std::string taken;
  {
    TYkConfig cfg(file, "MainConfig");
    WriteAtClose(cfg, 30);
    ASSERT_TRUE(cfg.TakeText(taken));
  }
  EXPECT_FALSE(std::filesystem::exists(file));
  {
    TYkConfig cfg(file, "MainConfig");
    WriteAtClose(cfg, 30);
    ASSERT_TRUE(cfg.Save());
  }
  EXPECT_EQ(ReadFileBytes(file), taken);
}
