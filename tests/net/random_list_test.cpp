#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/RandomList.h"
#include "support/fixture_server.h"

using namespace orvane::net;
using orvane::test::FixtureReply;
using orvane::test::FixtureServer;

namespace {

std::vector<std::string> Describe(const std::vector<TRandomListEntry>& entries) {
  std::vector<std::string> out;
  for (const auto& e : entries) out.push_back(e.Title + "|" + e.Singer + "|" + e.Location);
  return out;
}

}  // namespace

TEST(ReadRandomList, DecodesItemsOfAnyCaseAndSkipsThoseWithoutUrl) {
  const std::string document =
      "<?xml version=\"1.0\" encoding=\"gb2312\"?>\n<music>\n"
      "  <item url=\"%2Fsongs%2Fa.mp3\" title=\"%D6%D0%CE%C4\" singer=\"%E6%AD%8C%E6%89%8B\"/>\n"  // GBK, UTF-8
      "  <ITEM url=\"/b.mp3\" title=\"B+side\" singer=\"\"/>\n"
      "  <Item url=\"%2Fc.mp3\" title=\"C\"></Item>\n"        // the end tag names no song
      "  <item URL=\"%2Fd.mp3\" title=\"upper-case attribute\"/>\n"
      "  <item title=\"no url\"/>\n"
      "  <item url=\"/\" title=\"base\"/>\n"                   // a single character: the base itself
      "  <items url=\"%2Fe.mp3\"/>\n"
      "</music>\n";
  EXPECT_EQ(Describe(ReadRandomList(document, "http://m.example/music/")),
            (std::vector<std::string>{"中文|歌手|http://m.example/music/songs/a.mp3", "B side||http://m.example/music/b.mp3",
                                      "C||http://m.example/music/c.mp3", "base||http://m.example/music/"}));
  EXPECT_TRUE(ReadRandomList("", "http://m.example/").empty());
  EXPECT_TRUE(ReadRandomList("not xml at all", "http://m.example/").empty());
}

TEST(FetchRandomList, ReadsTheFetchedDocumentAndGivesNothingOnFailure) {
  FixtureServer server;
  server.Serve("/rnd.xml", FixtureReply::Text("<list><item url=\"%2Fx.mp3\" title=\"%D6%D0\" singer=\"s\"/></list>"));
  EXPECT_EQ(Describe(FetchRandomList(server.Url("/rnd.xml"), "http://m.example/")),
            (std::vector<std::string>{"中|s|http://m.example/x.mp3"}));
  EXPECT_TRUE(FetchRandomList(server.Url("/missing.xml"), "http://m.example/").empty());
  EXPECT_TRUE(FetchRandomList("", "http://m.example/").empty());
}
