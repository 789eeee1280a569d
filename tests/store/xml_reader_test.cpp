#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "store/XmlReader.h"
#include "support/temp_dir.h"

using orvane::store::DecodeXmlReferences;
using orvane::store::TXmlReader;
using orvane::store::TXmlTagKind;

namespace {

// Every tag of the document as "<name a=v b=v>", "<name a=v/>" or "</name>", listing the asked
// attributes that are present.
std::vector<std::string> Tags(TXmlReader reader, const std::vector<std::string>& attrs) {
  std::vector<std::string> out;
  while (reader.Next()) {
    std::string tag = reader.Kind() == TXmlTagKind::End ? "</" : "<";
    tag += reader.Name();
    for (const auto& a : attrs) {
      if (reader.HasAttribute(a)) tag += " " + a + "=" + reader.Attribute(a);
    }
    tag += reader.Kind() == TXmlTagKind::Empty ? "/>" : ">";
    out.push_back(tag);
  }
  return out;
}

std::vector<std::string> Tags(const std::string& bytes, const std::vector<std::string>& attrs = {"a", "b"}) {
  return Tags(TXmlReader(bytes), attrs);
}

using V = std::vector<std::string>;

// A realistic preset file, the kind of text the reader meets.
const std::string kPresets =
    "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n"
    "<!DOCTYPE effects [ <!ENTITY x \"<eq>\"> ]>\r\n"
    "<!-- presets: <eq id=\"99\"/> is only a comment -->\r\n"
    "<effects version='2'>\r\n"
    "  <eq id=\"0\" name=\"\xC6\xD5\xCD\xA8\" q1=\"0\" q2=\"0\" q3=\"0\" q4=\"0\" q5=\"0\" q6=\"0\" q7=\"0\" q8=\"0\" q9=\"0\" q10=\"0\"/>\r\n"
    "  <eq id=\"1\" name=\"Rock &amp; Roll\" q1=\"5\" q2=\"3\" q3=\"-1\" q4=\"-2\" q5=\"0\" q6=\"2\" q7=\"4\" q8=\"5\" q9=\"5\" q10=\"6\"/>\r\n"
    "  <![CDATA[ <eq id=\"98\"/> ]]>\r\n"
    "  <EQ id=\"2\" name=\"&#20013;&#x6587; &foo;\" q1=\"-12\"></EQ>\r\n"
    "  <?pi <eq id=\"97\"/> ?>\r\n"
    "</effects>\r\n";

}  // namespace

TEST(TXmlReader, ReportsTagsInDocumentOrder) {
  struct Case {
    const char* name;
    std::string input;
    V expected;
  };
  const Case cases[] = {
      {"nested", "<r a=\"1\"><x b='2'/>text</r>", {"<r a=1>", "<x b=2/>", "</r>"}},
      {"several top-level elements, no declaration", "<eq a=\"0\"/><eq a=\"1\"/>\n<eq a=\"2\"/>",
       {"<eq a=0/>", "<eq a=1/>", "<eq a=2/>"}},
      {"names exactly as written", "<ITEM/><Item></Item><ns:x/><中文/>",
       {"<ITEM/>", "<Item>", "</Item>", "<ns:x/>", "<中文/>"}},
      {"attribute names are case-sensitive", "<i A=\"up\" a=\"low\"/><i B=\"x\"/>", {"<i a=low/>", "<i/>"}},
      {"unquoted values", "<i a=1 b=two>", {"<i a=1 b=two>"}},
      {"unquoted value before />", "<i a=1/><i a=x/y/>", {"<i a=1/>", "<i a=x/y/>"}},
      {"blanks around =", "<i a = \"1\"\tb\n=\n'2' >", {"<i a=1 b=2>"}},
      {"attribute without value", "<i a b=\"2\"/>", {"<i a= b=2/>"}},
      {"first of duplicates", "<i a=\"1\" a=\"2\"/>", {"<i a=1/>"}},
      {"> and quotes inside values", "<i a=\"x>y'z\" b='say \"hi\"'/>", {"<i a=x>y'z b=say \"hi\"/>"}},
      {"empty value", "<i a=\"\"/>", {"<i a=/>"}},
      {"passes over the rest",
       "<?xml version=\"1.0\"?><!DOCTYPE r [<!ELEMENT r ANY><!-- > -->]><!-- <c/> --><![CDATA[<d/>]]><?p <e/>?><r/>",
       {"<r/>"}},
      {"plain < in text", "a < b <3 <x/> </ y", {"<x/>"}},
      {"end tag with blanks", "<r></r ></r\n>", {"<r>", "</r>", "</r>"}},
      {"tag left open before the next", "<i a=\"1\" <j/>", {"<i a=1>", "<j/>"}},
      {"cut-off start tag", "<r><i a=\"1\"", {"<r>"}},
      {"cut-off quoted value", "<r><i a=\"1", {"<r>"}},
      {"cut-off end tag", "<r></r", {"<r>"}},
      {"cut-off empty tag", "<r><i/", {"<r>"}},
      {"cut-off comment", "<r><!-- <i/>", {"<r>"}},
      {"empty input", "", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(Tags(c.input), c.expected) << c.name;
}

TEST(TXmlReader, ReplacesReferencesInValuesAndKeepsUnknownEntities) {
  struct Case {
    const char* raw;
    const char* expected;
  };
  const Case cases[] = {
      {"&lt;&gt;&amp;&quot;&apos;", "<>&\"'"},
      {"&#20013;&#x6587;&#X4E2D;", "中文中"},
      {"&#x1F3B5;", "\xF0\x9F\x8E\xB5"},
      {"&foo; &AMP; &#;", "&foo; &AMP; &#;"},
      {"a & b && c;", "a & b && c;"},
      {"&amp;lt;", "&lt;"},  // replaced once, not twice
      {"&#0;&#xD800;&#x110000;&#99999999999;", "&#0;&#xD800;&#x110000;&#99999999999;"},
      {"&#65", "&#65"},
      {"tail &", "tail &"},
      {"%D6%D0 stays", "%D6%D0 stays"},
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeXmlReferences(c.raw), c.expected) << c.raw;

  TXmlReader reader("<i t=\"a&amp;b&#33;\"/>");
  ASSERT_TRUE(reader.Next());
  EXPECT_EQ(reader.Attribute("t"), "a&b!");
}

TEST(TXmlReader, ConvertsTheTextByDeclarationOrAsLegacyText) {
  struct Case {
    const char* name;
    std::string bytes;
    const char* expectedName;  // the "name" attribute of the first tag
  };
  const Case cases[] = {
      {"GBK without declaration", "<eq name=\"\xC6\xD5\xCD\xA8\"/>", "普通"},
      {"GBK-only character under GB2312", "<?xml version=\"1.0\" encoding=\"gb2312\"?><eq name=\"\xD6\xEC\xE9\x46\xBB\xF9\"/>",
       "朱镕基"},
      {"declared GBK", "<?xml version='1.0' encoding='GBK'?><eq name=\"\xC6\xD5\xCD\xA8\"/>", "普通"},
      {"UTF-8 stays", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><eq name=\"Café 中\"/>", "Café 中"},
      {"UTF-8 without declaration", "<eq name=\"Café\"/>", "Café"},
      {"UTF-8 with byte-order mark", "\xEF\xBB\xBF<eq name=\"中\"/>", "中"},
      {"UTF-16LE with byte-order mark", std::string("\xFF\xFE<\0e\0q\0 \0n\0a\0m\0e\0=\0\"\0\x2D\x4E\"\0/\0>\0", 30), "中"},
      {"Latin-1 declared", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><eq name=\"Caf\xE9\"/>", "Café"},
      {"bad byte under GB2312", "<?xml version=\"1.0\" encoding=\"GB2312\"?><eq name=\"\xC6\xD5\xFF\xCD\xA8\"/>",
       "普\xEF\xBF\xBD通"},
      {"unknown encoding", "<?xml version=\"1.0\" encoding=\"no-such-charset\"?><eq name=\"\xC6\xD5\xCD\xA8\"/>", "普通"},
      {"declared UTF-8 but GBK", "<?xml version=\"1.0\" encoding=\"utf-8\"?><eq name=\"\xC6\xD5\xCD\xA8\"/>", "普通"},
  };
  for (const auto& c : cases) {
    TXmlReader reader(c.bytes);
    ASSERT_TRUE(reader.Next()) << c.name;
    EXPECT_EQ(reader.Name(), "eq") << c.name;
    EXPECT_EQ(reader.Attribute("name"), c.expectedName) << c.name;
  }
}

TEST(TXmlReader, ReadsARealisticFileAndAMissingOne) {
  orvane::test::TempDir dir;
  orvane::test::WriteFileBytes(dir.Path() / "effect.dat", kPresets);
  const V expected = {"<effects>",
                      "<eq id=0 name=普通 q1=0 q10=0/>",
                      "<eq id=1 name=Rock & Roll q1=5 q10=6/>",
                      "<EQ id=2 name=中文 &foo; q1=-12>",
                      "</EQ>",
                      "</effects>"};
  EXPECT_EQ(Tags(TXmlReader::FromFile(dir.File("effect.dat")), {"id", "name", "q1", "q10"}), expected);

  TXmlReader missing = TXmlReader::FromFile(dir.File("no-such-file"));
  EXPECT_FALSE(missing.Next());
  EXPECT_FALSE(missing.Next());
  TXmlReader folder = TXmlReader::FromFile(dir.Path().string());
  EXPECT_FALSE(folder.Next());
}

TEST(TXmlReader, TruncatedTextsGiveAPrefixOfTheTags) {
  const V attrs = {"id", "name", "q1", "q10", "version"};
  const V full = Tags(TXmlReader(kPresets), attrs);
  size_t previous = 0;
  for (size_t length = 0; length <= kPresets.size(); ++length) {
    // A copy of exactly that length, so the sanitizers see any read past its end.
    const std::string cut = kPresets.substr(0, length);
    const V got = Tags(TXmlReader(cut), attrs);
    ASSERT_LE(got.size(), full.size()) << length;
    ASSERT_GE(got.size(), previous) << length;
    for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], full[i]) << "length " << length << " tag " << i;
    previous = got.size();
  }
  EXPECT_EQ(previous, full.size());
}

TEST(TXmlReader, SurvivesRandomInput) {
  // Markup characters are over-represented so that the random texts reach every branch.
  const std::string alphabet = "<<<>>>//==\"\"''!!-?-?[[]]&&##;;xXaq1 \t\n\xC6\xD5\xFF\x80";
  uint32_t seed = 20240531;
  auto next = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  auto consume = [](TXmlReader reader) {
    size_t tags = 0;
    while (reader.Next() && tags < 100000) {
      ++tags;
      EXPECT_FALSE(reader.Name().empty());
      EXPECT_GE(reader.Name().data(), reader.Text().data());
      EXPECT_LE(reader.Name().data() + reader.Name().size(), reader.Text().data() + reader.Text().size());
      for (const char* a : {"a", "x", "id", "q1"}) reader.Attribute(a);
    }
    EXPECT_FALSE(reader.Next());
  };
  for (int round = 0; round < 5000; ++round) {
    std::string input(next() % 64, '\0');
    for (char& c : input) c = (next() % 4 == 0) ? static_cast<char>(next()) : alphabet[next() % alphabet.size()];
    consume(TXmlReader(input));
  }
  // Damaged copies of the realistic file: bytes replaced, removed or duplicated.
  for (int round = 0; round < 2000; ++round) {
    std::string input = kPresets;
    for (int edits = 1 + static_cast<int>(next() % 4); edits > 0 && !input.empty(); --edits) {
      const size_t at = next() % input.size();
      switch (next() % 3) {
        case 0: input[at] = alphabet[next() % alphabet.size()]; break;
        case 1: input.erase(at, 1 + next() % 8); break;
        default: input.insert(at, input.substr(at, 1 + next() % 16)); break;
      }
    }
    consume(TXmlReader(input.substr(0, next() % (input.size() + 1))));
  }
}
