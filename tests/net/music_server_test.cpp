// The music-server client against a local stand-in that answers as the Subsonic API documents it:
// how it logs in (token or enc:), how it falls back, what it reads of the answers and how it
// tells failures apart. (The client against a real server is tests/app/music_server_e2e_test.cpp.)
#include <gtest/gtest.h>

#include <QByteArray>
#include <QCryptographicHash>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "net/MusicServer.h"
#include "net/UYmUrl.h"
#include "support/fixture_server.h"

using namespace orvane::net;
using orvane::test::FixtureReply;
using orvane::test::FixtureServer;
using orvane::test::RecordedRequest;

namespace {

constexpr const char* kPassword = "s3cret 密码";

FixtureReply Answer(const std::string& inner, const std::string& version = "1.16.1", const std::string& root = "") {
  return FixtureReply::Text("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<subsonic-response "
                            "xmlns=\"http://subsonic.org/restapi\" status=\"ok\" version=\"" +
                                version + "\"" + root + ">" + inner + "</subsonic-response>",
                            "text/xml; charset=utf-8");
}

FixtureReply Failed(int code, const std::string& message, const std::string& version = "1.16.1") {
  return FixtureReply::Text("<subsonic-response xmlns=\"http://subsonic.org/restapi\" status=\"failed\" version=\"" +
                                version + "\"><error code=\"" + std::to_string(code) + "\" message=\"" + message +
                                "\"/></subsonic-response>",
                            "text/xml");
}

// The request's query values, decoded.
std::map<std::string, std::string> Query(const std::string& target) {
  std::map<std::string, std::string> values;
  const size_t q = target.find('?');
  if (q == std::string::npos) return values;
  std::string rest = target.substr(q + 1);
  size_t start = 0;
  while (start <= rest.size()) {
    const size_t end = std::min(rest.find('&', start), rest.size());
    const std::string pair = rest.substr(start, end - start);
    const size_t eq = pair.find('=');
    if (eq != std::string::npos) values[pair.substr(0, eq)] = DecodeUrlValue(pair.substr(eq + 1));
    start = end + 1;
  }
  return values;
}

std::string Md5(const std::string& text) {
  return QCryptographicHash::hash(QByteArray::fromStdString(text), QCryptographicHash::Md5).toHex().toStdString();
}

TMusicServerSession Login(const FixtureServer& server, const std::string& prefix = "") {
  TMusicServerSession session;
  session.Address = server.BaseUrl() + prefix;
  session.User = "alice";
  session.Password = kPassword;
  return session;
}

// Method name, "token" / "enc" / "none" for how the request logged in.
std::vector<std::string> Sequence(const std::vector<RecordedRequest>& requests) {
  std::vector<std::string> out;
  for (const RecordedRequest& request : requests) {
    const auto q = Query(request.target);
    const std::string path = request.Path();
    const std::string method = path.substr(path.rfind('/') + 1);
    out.push_back(method + (q.count("t") ? " token" : q.count("p") ? " enc" : " none"));
  }
  return out;
}

}  // namespace

TEST(MusicServerAddress, TakesWhatPeopleType) {
  struct Case {
    const char* typed;
    const char* address;  // "" when refused
  } const cases[] = {
      {"192.168.1.2:4533", "http://192.168.1.2:4533"},
      {"  https://music.example.org/navidrome/ ", "https://music.example.org/navidrome"},
      {"HTTP://Host:8080/rest", "http://Host:8080"},
      {"http://host/prefix/rest/", "http://host/prefix"},
      {"http://host", "http://host"},
      {"http://alice:pw@host", ""},  // would put a password into the settings
      {"ftp://host", ""},
      {"http://", ""},
      {"http://host/?u=alice", ""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(NormaliseServerAddress(c.typed), c.address) << c.typed;
}

TEST(MusicServerApi, VersionsCompareAsNumbers) {
  const std::pair<const char*, bool> cases[] = {{"1.13.0", true}, {"1.13", true},   {"1.16.1", true}, {"2.0.0", true},
                                                {"1.12.0", false}, {"1.9.0", false}, {"", false},      {"x", false}};
  for (const auto& [version, token] : cases) EXPECT_EQ(ApiVersionAtLeast(version, 1, 13), token) << version;
}

TEST(MusicServerLocation, HoldsTheSongIdAndNoCredential) {
  EXPECT_EQ(ServerSongLocation("d113c37f-a8ef"), "subsonic:d113c37f-a8ef");
  EXPECT_EQ(ServerSongId("subsonic:d113c37f-a8ef"), "d113c37f-a8ef");
  EXPECT_EQ(ServerSongId("/music/subsonic:x.mp3"), "");
  EXPECT_EQ(ServerSongId("subsonic:"), "");
}

// From API 1.13.0 on the password never travels: every request carries md5(password + salt) with
// a salt of its own. The version is learned first by a ping that carries no login at all.
TEST(SubsonicClient, LogsInWithAFreshTokenFromApi113) {
  FixtureServer server;
  server.Serve("/music/rest/ping.view", Answer(""));
  server.Serve("/music/rest/getRandomSongs.view",
               Answer("<randomSongs>"
                      "<song id=\"a1\" parent=\"1\" title=\"Tom &amp; Jerry\" artist=\"&#27468;&#25163;\" duration=\"146\"/>"
                      "<song id=\"v1\" title=\"A clip\" isVideo=\"true\" duration=\"30\"/>"
                      "<song title=\"no id\"/>"
                      "<song id=\"b 2\" title=\"无时长\" artist=\"\"></song>"
                      "</randomSongs>"));
  server.Serve("/music/rest/scrobble.view", Answer(""));
  TSubsonicClient client(Login(server, "/music"));
  ASSERT_TRUE(client.Connect().Ok());
  std::vector<TServerSong> songs;
  ASSERT_TRUE(client.RandomSongs(20, songs).Ok());
  ASSERT_TRUE(client.Scrobble("a1", false, 1700000000123).Ok());

  ASSERT_EQ(songs.size(), 2u);
  EXPECT_EQ(songs[0].Id, "a1");
  EXPECT_EQ(songs[0].Title, "Tom & Jerry");
  EXPECT_EQ(songs[0].Artist, "歌手");
  EXPECT_EQ(songs[0].DurationSeconds, 146);
  EXPECT_EQ(songs[1].Id, "b 2");
  EXPECT_EQ(songs[1].DurationSeconds, 0);

  const auto requests = server.Requests();
  EXPECT_EQ(Sequence(requests), (std::vector<std::string>{"ping.view none", "ping.view token",
                                                          "getRandomSongs.view token", "scrobble.view token"}));
  std::set<std::string> salts;
  for (const RecordedRequest& request : requests) {
    const auto q = Query(request.target);
    EXPECT_EQ(q.at("v"), "1.16.1");
    EXPECT_EQ(q.at("c"), "orvane");
    if (!q.count("t")) continue;
    EXPECT_EQ(q.at("u"), "alice");
    EXPECT_EQ(q.at("t"), Md5(kPassword + q.at("s")));
    EXPECT_GE(q.at("s").size(), 6u);
    salts.insert(q.at("s"));
    EXPECT_EQ(request.target.find("s3cret"), std::string::npos);
  }
  EXPECT_EQ(salts.size(), 3u);  // a new salt for every request
  EXPECT_EQ(Query(requests[2].target).at("size"), "20");
  const auto scrobble = Query(requests[3].target);
  EXPECT_EQ(scrobble.at("id"), "a1");
  EXPECT_EQ(scrobble.at("submission"), "false");
  EXPECT_EQ(scrobble.at("time"), "1700000000123");

  // A stream address: a token of its own each time, the id escaped.
  const std::string first = StreamUrl(client.Session(), "b 2");
  const std::string second = StreamUrl(client.Session(), "b 2");
  EXPECT_NE(first, second);
  EXPECT_EQ(first.rfind(server.BaseUrl() + "/music/rest/stream.view?", 0), 0u) << first;
  const auto stream = Query(first);
  EXPECT_EQ(stream.at("id"), "b 2");
  EXPECT_EQ(stream.at("t"), Md5(kPassword + stream.at("s")));
  EXPECT_EQ(stream.count("p"), 0u);
}

// Before API 1.13.0 there are no tokens: the password goes hex-encoded as "enc:", and the
// requests name the server's own version.
TEST(SubsonicClient, OlderServersGetThePasswordAsEnc) {
  FixtureServer server;
  server.Serve("/rest/ping.view", Answer("", "1.10.2"));
  server.Serve("/rest/getRandomSongs.view", Answer("<randomSongs/>", "1.10.2"));
  TSubsonicClient client(Login(server));
  std::vector<TServerSong> songs;
  ASSERT_TRUE(client.RandomSongs(20, songs).Ok());  // learns the version on its own
  EXPECT_TRUE(songs.empty());
  const auto requests = server.Requests();
  EXPECT_EQ(Sequence(requests), (std::vector<std::string>{"ping.view none", "getRandomSongs.view enc"}));
  const auto q = Query(requests[1].target);
  EXPECT_EQ(q.at("p"), "enc:" + QByteArray(kPassword).toHex().toStdString());
  EXPECT_EQ(q.at("v"), "1.10.2");
  EXPECT_EQ(Query(StreamUrl(client.Session(), "x")).at("p"), q.at("p"));
}

// A server that refuses tokens (error 41, e.g. for LDAP users) gets enc: from then on, without the
// user noticing.
TEST(SubsonicClient, FallsBackToEncWhenATokenIsRefused) {
  FixtureServer server;
  for (const char* method : {"ping", "getRandomSongs"})
    server.ServeByQuery(std::string("/rest/") + method + ".view",
                        {{"t=", Failed(41, "Token authentication not supported for LDAP users.")}},
                        Answer("<randomSongs><song id=\"1\" title=\"x\"/></randomSongs>"));
  TSubsonicClient client(Login(server));
  ASSERT_TRUE(client.Connect().Ok());
  std::vector<TServerSong> songs;
  ASSERT_TRUE(client.RandomSongs(20, songs).Ok());
  EXPECT_EQ(songs.size(), 1u);
  EXPECT_EQ(Sequence(server.Requests()),
            (std::vector<std::string>{"ping.view none", "ping.view token", "ping.view enc", "getRandomSongs.view enc"}));
  EXPECT_TRUE(client.Session().TokenRefused);
  EXPECT_EQ(Query(StreamUrl(client.Session(), "1")).count("t"), 0u);
}

TEST(SubsonicClient, TellsFailuresApart) {
  FixtureServer server;
  server.Serve("/wrong/rest/ping.view", Failed(40, "Wrong username or password."));
  server.Serve("/html/rest/ping.view", FixtureReply::Status(404, "<html><body>Not Found</body></html>"));
  server.Serve("/garbage/rest/ping.view", FixtureReply::Text("{\"subsonic-response\":{}}"));
  // A "version" that would add parameters to every later request is no version.
  server.Serve("/inject/rest/ping.view", Answer("", "1.16.1&amp;u=admin"));
  struct Case {
    std::string address;
    TServerFailure kind;
    int code;
    long httpCode;
    HttpFailure http;
  } const cases[] = {
      {server.BaseUrl() + "/wrong", TServerFailure::Api, 40, 200, HttpFailure::None},
      {server.BaseUrl() + "/html", TServerFailure::NotAServer, 0, 404, HttpFailure::None},
      {server.BaseUrl() + "/garbage", TServerFailure::NotAServer, 0, 200, HttpFailure::None},
      {server.BaseUrl() + "/inject", TServerFailure::NotAServer, 0, 200, HttpFailure::None},
      {"http://127.0.0.1:1", TServerFailure::NoAnswer, 0, 0, HttpFailure::Connect},
      {"", TServerFailure::NotConfigured, 0, 0, HttpFailure::None},
  };
  for (const Case& c : cases) {
    TMusicServerSession session = Login(server);
    session.Address = c.address;
    const TServerError error = TSubsonicClient(session).Connect();
    EXPECT_EQ(error.Kind, c.kind) << c.address;
    EXPECT_EQ(error.Code, c.code) << c.address;
    EXPECT_EQ(error.HttpCode, c.httpCode) << c.address;
    EXPECT_EQ(error.Http, c.http) << c.address;
  }
}

// An OpenSubsonic server that offers "songLyrics" gives synced lyrics by song id; the first synced
// set becomes LRC text with the server's offset applied (positive: the lines come sooner).
TEST(SubsonicClient, SyncedLyricsFromAnOpenSubsonicServer) {
  FixtureServer server;
  const std::string root = " type=\"navidrome\" serverVersion=\"0.53.3\" openSubsonic=\"true\"";
  server.Serve("/rest/ping.view", Answer("", "1.16.1", root));
  server.Serve("/rest/getOpenSubsonicExtensions.view",
               Answer("<openSubsonicExtensions name=\"transcodeOffset\"><versions>1</versions></openSubsonicExtensions>"
                      "<openSubsonicExtensions name=\"songLyrics\"><versions>1</versions></openSubsonicExtensions>",
                      "1.16.1", root));
  server.Serve("/rest/getLyricsBySongId.view",
               Answer("<lyricsList>"
                      "<structuredLyrics lang=\"xxx\" synced=\"false\"><line>plain only</line></structuredLyrics>"
                      "<structuredLyrics displayArtist=\"A\" lang=\"chi\" offset=\"100\" synced=\"true\">"
                      "<line start=\"0\">第一行</line><line start=\"2050\">Rock &amp; roll</line>"
                      "<line start=\"61999\">line\nbreak</line></structuredLyrics>"
                      "<structuredLyrics synced=\"true\"><line start=\"5\">second set</line></structuredLyrics>"
                      "</lyricsList>",
                      "1.16.1", root));
  TSubsonicClient client(Login(server));
  ASSERT_TRUE(client.Connect().Ok());
  EXPECT_TRUE(client.Session().SongLyrics);
  EXPECT_EQ(client.Session().ServerType, "navidrome");
  EXPECT_EQ(client.Session().ServerVersion, "0.53.3");
  std::string lrc;
  ASSERT_TRUE(client.SyncedLyrics("s1", lrc).Ok());
  EXPECT_EQ(lrc, "[00:00.00]第一行\r\n[00:01.95]Rock & roll\r\n[01:01.89]line break\r\n");

  // A server without lyrics, or without the extension, gives none.
  server.Serve("/rest/getLyricsBySongId.view", Answer("<lyricsList/>"));
  ASSERT_TRUE(client.SyncedLyrics("s1", lrc).Ok());
  EXPECT_EQ(lrc, "");
}
