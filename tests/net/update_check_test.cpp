#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "net/Hosts.h"
#include "net/UntCkUpThread.h"
#include "orvane_version.h"
#include "support/fixture_server.h"

using namespace orvane::net;
using orvane::test::FixtureReply;
using orvane::test::FixtureServer;

namespace {

std::string ConfigWithVersion(const std::string& ver) {
  return "<?xml version=\"1.0\" encoding=\"gb2312\"?>\n<Nimcase>\n  <ver value=\"" + ver +
         "\"/>\n  <file value=\"setup 4.1.exe\"/>\n  <tj value=\"http://stats.example/tj.aspx\"/>\n</Nimcase>\n";
}

// Runs a check against the fixture server's document.
TCheckUPDate CheckOf(FixtureServer& server, const std::string& document, const std::string& localVersion = LocalVersionText()) {
  server.Serve("/soft/cfg.xml", FixtureReply::Text(document, "text/xml"));
  TCheckUPDate check(server.Url("/soft/cfg.xml"));
  check.LocalVersion = localVersion;
  check.Execute();
  return check;
}

std::string Base64Decode(const std::string& text) {
  static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  int bits = 0;
  uint32_t value = 0;
  for (const char c : text) {
    if (c == '=') break;
    value = (value << 6) | static_cast<uint32_t>(alphabet.find(c));
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((value >> bits) & 0xFF);
    }
  }
  return out;
}

}  // namespace

TEST(TCheckUPDate, LocalVersionJoinsTheFourNumbers) {
  std::string digits = orvane::kVersion;
  std::erase(digits, '.');
  EXPECT_EQ(LocalVersionText(), digits);  // 4.0.1.15 → "40115"
}

TEST(TCheckUPDate, UpdateOnlyForALargerDecimalVersion) {
  FixtureServer server;
  const int32_t local = std::stoi(LocalVersionText());
  struct Case {
    std::string ver;
    std::string localVersion;
    bool update;
  };
  const Case cases[] = {
      {std::to_string(local), LocalVersionText(), false},
      {std::to_string(local + 1), LocalVersionText(), true},
      {std::to_string(local - 1), LocalVersionText(), false},
      {"4a116", LocalVersionText(), false},           // not a number
      {"99999999999", LocalVersionText(), false},     // beyond signed 32 bits
      {"", LocalVersionText(), false},                // empty
      {"-1", LocalVersionText(), true},               // compared unsigned: 4294967295
      {"1", "0000", true},                            // no version compiled in counts as 0
      {"1", "12345678901", false},                    // a local number that does not fit ends the run
  };
  for (const Case& c : cases) {
    const TCheckUPDate check = CheckOf(server, ConfigWithVersion(c.ver), c.localVersion);
    EXPECT_TRUE(check.ConfigValid) << c.ver;
    EXPECT_EQ(check.UpdateAvailable, c.update) << "ver " << c.ver << " local " << c.localVersion;
    EXPECT_EQ(check.Tj, "http://stats.example/tj.aspx") << "the settings are taken whatever the version: " << c.ver;
    EXPECT_EQ(check.UpdateFile, "setup 4.1.exe");
  }
}

TEST(TCheckUPDate, WithoutTheMarkerNothingIsRead) {
  FixtureServer server;
  const std::string document = "<cfg><ver value=\"99999\"/><tj value=\"http://stats.example/tj\"/></cfg>";
  for (const std::string& text : {document, std::string("<NIMCASE/>") + document, std::string()}) {
    const TCheckUPDate check = CheckOf(server, text);
    EXPECT_FALSE(check.ConfigValid) << text;
    EXPECT_FALSE(check.UpdateAvailable);
    EXPECT_EQ(check.Tj, "");
  }
  // An unreachable server is the same as a document without the marker.
  TCheckUPDate unreachable("http://127.0.0.1:1/soft/cfg.xml");
  unreachable.Execute();
  EXPECT_FALSE(unreachable.ConfigValid);
}

TEST(TCheckUPDate, KeysIgnoreCaseLaterTagsWinAndEndTagsCountAsEmpty) {
  FixtureServer server;
  const TCheckUPDate check = CheckOf(server,
                                     "<!-- Nimcase -->\n"  // the marker counts anywhere, a comment too
                                     "<config>\n"
                                     "  <TJ value=\"http://a.example/first\"/>\n"
                                     "  <Tj value=\"http://a.example/tj\"/>\n"
                                     "  <poslrc Value=\"http://a.example/lrc\"/>\n"
                                     "  <MusicPath value=\"http://a.example/music/\"></MusicPath>\n"
                                     "  <RNDMUSIC value=\"http://a.example/list.xml\"/>\n"
                                     "  <minbox value=\"1\"/>\n"
                                     "</config>\n");
  EXPECT_TRUE(check.ConfigValid);
  EXPECT_EQ(check.Tj, "http://a.example/tj");
  EXPECT_EQ(check.PosLrc, "");     // 'Value' is not "value"
  EXPECT_EQ(check.MusicPath, "");  // the end tag comes last and has no value
  EXPECT_EQ(check.RndMusic, "http://a.example/list.xml");
  EXPECT_FALSE(check.UpdateAvailable);  // no "ver"
}

TEST(TCheckUPDate, FetchesFromTheServerHostOfTheEnvironment) {
  FixtureServer server;
  server.Serve("/soft/cfg.xml", FixtureReply::Text(ConfigWithVersion("1")));
  const std::string host = "127.0.0.1:" + std::to_string(server.Port());
  ::setenv("ORVANE_SERVER_HOST", host.c_str(), 1);
  TCheckUPDate check;
  ::unsetenv("ORVANE_SERVER_HOST");
  EXPECT_EQ(check.ConfigUrl, "http://" + host + "/soft/cfg.xml");
  check.Execute();
  EXPECT_TRUE(check.ConfigValid);
  EXPECT_EQ(server.Requests().at(0).target, "/soft/cfg.xml");
  EXPECT_EQ(ServerHost(), orvane::kDefaultServerHost);
}

TEST(UpdateChecked, PublishesTheSettingsAndStartsTheUpdaterOnce) {
  TCheckUPDate check("unused");
  check.ConfigValid = true;
  check.UpdateAvailable = true;
  check.UpdateFile = "setup 4.1.exe";
  check.MusicPath = "http://m.example/";
  check.RndMusic = "http://m.example/rnd.xml";
  check.PosLrc = "http://m.example/lrc.aspx";
  check.Tj = "http://m.example/tj.aspx";
  TRemoteSettings settings;
  std::vector<std::string> started;
  const auto actions = UpdateChecked(check, settings, "/opt/orvane/", 77594625, [&](const std::string& commandLine) {
    started.push_back(commandLine);
    return true;
  });
  EXPECT_TRUE(settings.OnlineFlag);
  EXPECT_EQ(settings.MusicBaseUrl, "http://m.example/");
  EXPECT_EQ(settings.RandomListUrl, "http://m.example/rnd.xml");
  EXPECT_EQ(settings.LyricUploadUrl, "http://m.example/lrc.aspx");
  EXPECT_EQ(settings.ReportUrl, "http://m.example/tj.aspx");
  EXPECT_TRUE(actions.StartReportTimer);
  EXPECT_GE(actions.ReportTimerIntervalMs, 5000);
  EXPECT_LE(actions.ReportTimerIntervalMs, 9999);
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0], actions.UpdaterCommandLine);
  EXPECT_TRUE(actions.UpdaterStarted);
  ASSERT_THAT(started[0], testing::StartsWith("/opt/orvane/update "));
  EXPECT_EQ(Base64Decode(started[0].substr(std::string("/opt/orvane/update ").size())), "77594625|setup 4.1.exe");
}

TEST(UpdateChecked, AnInvalidDocumentLeavesEverythingOff) {
  TCheckUPDate check("unused");
  check.Tj = "http://never.example/";  // what a run might have collected is not published
  TRemoteSettings settings;
  bool started = false;
  const auto actions = UpdateChecked(check, settings, "/opt/orvane/", 1, [&](const std::string&) { return started = true; });
  EXPECT_FALSE(settings.OnlineFlag);
  EXPECT_EQ(settings.ReportUrl, "");
  EXPECT_FALSE(actions.StartReportTimer);
  EXPECT_FALSE(started);
  EXPECT_EQ(actions.UpdaterCommandLine, "");
}

TEST(UpdateChecked, CommandLineAndBase64) {
  const std::pair<std::string, std::string> vectors[] = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"\xD6\xD0\xFF", "1tD/"}};
  for (const auto& [plain, encoded] : vectors) EXPECT_EQ(Base64(plain), encoded) << plain;
  EXPECT_EQ(UpdaterCommandLine("/opt/orvane/", 5, "a"), "/opt/orvane/update " + Base64("5|a"));
  // A folder with a blank is quoted, so the program is still the first token.
  EXPECT_EQ(UpdaterCommandLine("/home/u/My Apps/", 5, "a"), "\"/home/u/My Apps/update\" " + Base64("5|a"));
}
