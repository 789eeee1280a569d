// The lyric provider library liblrcdown.so, loaded as the player loads it, against a local server
// that answers like the lyric service.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <barrier>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "lyrics/LRC_Header.h"
#include "lyrics/LyricDownloader.h"
#include "net/Hosts.h"
#include "orvane_version.h"
#include "support/fixture_server.h"
#include "support/temp_dir.h"
#include "text/Legacy.h"

using orvane::lyrics::TLrcResultCopy;
using orvane::lyrics::TLyricDownloader;
using orvane::test::FixtureReply;
using orvane::test::FixtureServer;

namespace {

const std::string kLibrary = std::string(ORVANE_BIN_DIR) + "/liblrcdown.so";

FixtureReply Json(const std::string& body, int status = 200) {
  FixtureReply reply = FixtureReply::Text(body, "application/json");
  reply.status = status;
  return reply;
}

// A library object talking to the fixture server, with short time-outs.
class LrcDownTest : public testing::Test {
 protected:
  void SetUp() override {
    ::setenv("ORVANE_LYRICS_URL", (server.BaseUrl() + "/").c_str(), 1);
    ::setenv("ORVANE_LYRICS_TIMEOUT_MS", "1000", 1);
    downloader = TLyricDownloader::LoadFile(kLibrary);
    ASSERT_TRUE(downloader);
  }
  void TearDown() override {
    ::unsetenv("ORVANE_LYRICS_URL");
    ::unsetenv("ORVANE_LYRICS_TIMEOUT_MS");
  }

  FixtureServer server;
  std::shared_ptr<TLyricDownloader> downloader;
};

std::vector<std::string> Describe(const std::vector<TLrcResultCopy>& results) {
  std::vector<std::string> out;
  for (const auto& r : results) {
    out.push_back(r.Title + "|" + r.Singer + "|" + r.Extra + "|" + std::to_string(r.Id) + "|" +
                  std::to_string(r.DurationMs) + "|" + std::to_string(r.Flags));
  }
  return out;
}

std::vector<std::string> Targets(FixtureServer& server) {
  std::vector<std::string> out;
  for (const auto& request : server.Requests()) out.push_back(request.target);
  return out;
}

// The table offset, in bytes, that the Itanium ABI encodes in a pointer to a virtual member
// function (offset + 1).
template <class Method>
uintptr_t TableOffset(Method method) {
  uintptr_t raw = 0;
  std::memcpy(&raw, &method, sizeof raw);
  return raw - 1;
}

}  // namespace

TEST(LrcDownInterface, MethodsSitAtTheirTablePositions) {
  const auto at = [](int position) { return static_cast<uintptr_t>(position - 1) * sizeof(void*); };
  EXPECT_EQ(TableOffset(&ILrcDown::QueryInterface), at(1));
  EXPECT_EQ(TableOffset(&ILrcDown::AddRef), at(2));
  EXPECT_EQ(TableOffset(&ILrcDown::Release), at(3));
  EXPECT_EQ(TableOffset(&ILrcDown::Reserved4), at(4));
  EXPECT_EQ(TableOffset(&ILrcDown::ResultAt), at(5));
  EXPECT_EQ(TableOffset(&ILrcDown::Reserved6), at(6));
  EXPECT_EQ(TableOffset(&ILrcDown::ResultCount), at(7));
  EXPECT_EQ(TableOffset(&ILrcDown::ClearResults), at(8));
  EXPECT_EQ(TableOffset(&ILrcDown::DownloadLyric), at(9));
  EXPECT_EQ(TableOffset(&ILrcDown::SearchLyrics), at(10));
}

TEST(LrcDownInterface, CreatesOnlyForItsInterfaceAndCountsReferences) {
  orvane::test::TempDir folder;
  orvane::test::WriteFileBytes(folder.Path() / TLyricDownloader::kLibraryName, "not a library");
  EXPECT_FALSE(TLyricDownloader::Load(folder.Path().string()));       // a file that is no library: none
  EXPECT_FALSE(TLyricDownloader::Load((folder.Path() / "missing").string()));
  EXPECT_FALSE(TLyricDownloader::LoadFile("liblrcdown.so"));           // never searched for by name
  ASSERT_TRUE(TLyricDownloader::Load(ORVANE_BIN_DIR));

  auto holder = TLyricDownloader::LoadFile(kLibrary);
  ASSERT_TRUE(holder);
  void* library = ::dlopen(kLibrary.c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(library, nullptr);
  auto create = reinterpret_cast<LRC_CreateObjProc>(::dlsym(library, "LRC_CreateObj"));
  ASSERT_NE(create, nullptr);
  const LRC_GUID other = {0x14c0620a, 0xe9d5, 0x43e5, {0xa4, 0x09, 0x68, 0xec, 0xfb, 0xdd, 0xd9, 0xd1}};
  EXPECT_EQ(create(&other), nullptr);
  EXPECT_EQ(create(nullptr), nullptr);

  ILrcDown* object = create(&IID_LrcDown);
  ASSERT_NE(object, nullptr);
  void* same = nullptr;
  EXPECT_EQ(object->QueryInterface(&IID_LrcUnknown, &same), LRC_S_OK);
  EXPECT_EQ(same, object);
  void* none = object;
  EXPECT_EQ(object->QueryInterface(&other, &none), LRC_E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(object->AddRef(), 3u);
  EXPECT_EQ(object->Release(), 2u);
  EXPECT_EQ(object->Release(), 1u);
  EXPECT_EQ(object->Reserved4(), 0);
  EXPECT_EQ(object->Reserved6(), 0);
  EXPECT_EQ(object->ResultCount(), 0);
  EXPECT_EQ(object->ResultAt(0), nullptr);
  EXPECT_EQ(object->Release(), 0u);
  ::dlclose(library);
}

// Records as the service documents them: ids beyond 32 bits, lengths in seconds (whole or not),
// the instrumental mark and the two lyric fields, each possibly null.
TEST_F(LrcDownTest, SearchesByTitleAndSingerAndCopiesTheResults) {
  server.Serve("/api/search", Json(R"json([
    {"id": 101, "trackName": "晴天", "artistName": "周杰伦", "albumName": "叶惠美", "duration": 269,
     "instrumental": false, "syncedLyrics": "[00:01.00]x", "plainLyrics": "x"},
    {"id": 3000000000, "trackName": "\u6674\u5929 (Live)", "artistName": "Jay", "albumName": null, "duration": 270.5,
     "instrumental": false, "syncedLyrics": null, "plainLyrics": "x"},
    {"id": 9007199254740993, "trackName": "Intro", "duration": 61.25, "instrumental": true,
     "syncedLyrics": null, "plainLyrics": null},
    {"trackName": "no id"},
    {"id": 1.5, "trackName": "not a whole id"},
    "not an object",
    {"id": 103, "duration": "long"}
  ])json"));
  const auto results = downloader->Search("晴天", "周杰伦");
  ASSERT_TRUE(results);
  EXPECT_EQ(Describe(*results), (std::vector<std::string>{"晴天|周杰伦|叶惠美|101|269000|3",
                                                          "晴天 (Live)|Jay||3000000000|270500|2",
                                                          "Intro|||9007199254740993|61250|4", "|||103|0|0"}));
  EXPECT_FALSE((*results)[0].PlainOnly());
  EXPECT_TRUE((*results)[1].PlainOnly());
  EXPECT_TRUE((*results)[2].Instrumental());
  EXPECT_FALSE((*results)[3].PlainOnly() || (*results)[3].Instrumental());  // told nothing: try it

  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].target, "/api/search?track_name=%E6%99%B4%E5%A4%A9&artist_name=%E5%91%A8%E6%9D%B0%E4%BC%A6");
  EXPECT_THAT(requests[0].Header("User-Agent"), testing::StartsWith(std::string("Orvane ") + orvane::kVersion));

  // The raw calls see the same list on this thread.
  ILrcDown* object = downloader->Object();
  EXPECT_EQ(object->ResultCount(), 4);
  EXPECT_STREQ(object->ResultAt(1)->Title, "晴天 (Live)");
  EXPECT_EQ(object->ResultAt(2)->Id, 9007199254740993);
  EXPECT_EQ(object->ResultAt(4), nullptr);
  EXPECT_EQ(object->ResultAt(-1), nullptr);
  object->ClearResults();
  EXPECT_EQ(object->ResultCount(), 0);
}

// The service asks clients to name themselves: the program and its version, and the home page only
// when the build names a real one (an unconfigured build carries a reserved example name).
TEST_F(LrcDownTest, TheUserAgentNamesAHomePageOnlyWhenTheBuildHasOne) {
  const std::pair<const char*, std::string> homes[] = {
      {"www.orvane.org", " (https://www.orvane.org/)"}, {"home.orvane.example", ""}, {"Player.TEST", ""},
      {"localhost:8080", ""}, {"127.0.0.1:8080", " (https://127.0.0.1:8080/)"}};
  server.Serve("/api/search", Json("[]"));
  for (const auto& [home, page] : homes) {
    ::setenv("ORVANE_HOME_HOST", home, 1);
    server.ClearRequests();
    ASSERT_TRUE(TLyricDownloader::LoadFile(kLibrary)->Search("a", "b"));
    EXPECT_EQ(server.Requests().at(0).Header("User-Agent"), std::string("Orvane ") + orvane::kVersion + page) << home;
  }
  ::unsetenv("ORVANE_HOME_HOST");
}

// What the user typed is searched as the service documents: a title by title (and singer), a
// singer or other words alone as free text; a title that finds nothing alone is tried as free text.
TEST_F(LrcDownTest, SearchesFreeTextWithQ) {
  server.Serve("/api/search?q=%E5%91%A8%E6%9D%B0%E4%BC%A6", Json(R"([{"id": 1, "trackName": "晴天"}])"));
  server.Serve("/api/search?q=%E6%99%B4%E5%A4%A9%20%E5%91%A8%E6%9D%B0%E4%BC%A6", Json(R"([{"id": 2, "trackName": "晴天"}])"));
  server.Serve("/api/search?track_name=%E6%99%B4%E5%A4%A9%20%E5%91%A8%E6%9D%B0%E4%BC%A6", Json("[]"));
  server.Serve("/api/search?track_name=x&artist_name=y", Json("[]"));
  struct Case {
    const char* title;
    const char* singer;
    std::vector<std::string> targets;
    std::vector<int64_t> ids;
  };
  const Case cases[] = {
      {"", "周杰伦", {"/api/search?q=%E5%91%A8%E6%9D%B0%E4%BC%A6"}, {1}},
      {" 晴天 周杰伦 ", "",
       {"/api/search?track_name=%E6%99%B4%E5%A4%A9%20%E5%91%A8%E6%9D%B0%E4%BC%A6",
        "/api/search?q=%E6%99%B4%E5%A4%A9%20%E5%91%A8%E6%9D%B0%E4%BC%A6"},
       {2}},
      {"x", "y", {"/api/search?track_name=x&artist_name=y"}, {}},  // a title and a singer: no guessing
      {"", "", {}, {}},                                              // nothing to search for
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.title) + "/" + c.singer);
    server.ClearRequests();
    const auto results = downloader->Search(c.title, c.singer);
    ASSERT_TRUE(results);
    std::vector<int64_t> ids;
    for (const auto& r : *results) ids.push_back(r.Id);
    EXPECT_EQ(ids, c.ids);
    EXPECT_EQ(Targets(server), c.targets);
  }
}

TEST_F(LrcDownTest, NoResultsDiffersFromNoAnswer) {
  FixtureReply stalled = Json(R"([{"id": 1, "trackName": "a"}])");
  stalled.stallAfter = 5;
  using orvane::lyrics::TProviderFailure;
  struct Case {
    std::string title;
    FixtureReply reply;
    std::optional<TProviderFailure> failure;  // nothing: answered
  };
  const Case cases[] = {
      {"empty", Json("[]"), std::nullopt},  // its free-text retry is not served: still no results
      {"missing", Json(R"({"code":404,"name":"NotFound","message":"Failed to find specified track"})", 404),
       TProviderFailure::BadAnswer},
      {"malformed", Json(R"([{"id": 1, "trackName": "a")"), TProviderFailure::BadAnswer},
      {"html", FixtureReply::Status(500, "<html>Internal error</html>"), TProviderFailure::BadAnswer},
      {"jsonerror", Json(R"([])", 503), TProviderFailure::BadAnswer},
      {"stalled", stalled, TProviderFailure::NoConnection},
  };
  server.Serve("/api/search?track_name=earlier", Json(R"([{"id": 1, "trackName": "earlier"}])"));
  for (const Case& c : cases) {
    server.Serve("/api/search?track_name=" + c.title, c.reply);
    ASSERT_EQ(downloader->Object()->SearchLyrics("earlier", "", "", 0), 1);
    TProviderFailure failure{};
    const auto results = downloader->Search(c.title, "", "", &failure);
    EXPECT_EQ(results.has_value(), !c.failure) << c.title;
    if (results) {
      EXPECT_TRUE(results->empty()) << c.title;
    } else {
      EXPECT_EQ(failure, *c.failure) << c.title;
    }
    EXPECT_EQ(downloader->Object()->ResultCount(), 0) << c.title;  // the earlier results are gone either way
  }

  // Nobody listening.
  ::setenv("ORVANE_LYRICS_URL", "http://127.0.0.1:9", 1);
  TProviderFailure failure = TProviderFailure::BadAnswer;
  EXPECT_FALSE(TLyricDownloader::LoadFile(kLibrary)->Search("a", "b", "", &failure));
  EXPECT_EQ(failure, TProviderFailure::NoConnection);
}

TEST_F(LrcDownTest, DownloadsTheTimeTaggedLyricWhole) {
  // Longer than the callers' 4,096-byte buffer, with a three-byte character across the cut.
  std::string longLyric;
  while (longLyric.size() < 4094) longLyric += "[00:01.00]x\n";
  longLyric.resize(4094);
  longLyric += "中文歌词结束";
  server.Serve("/api/get/7", Json(R"({"id": 7, "syncedLyrics": ")" + std::string("[00:01.00]\\u4e2d\\u6587\\n[00:02.00]b") + R"(", "plainLyrics": "x"})"));
  server.Serve("/api/get/8", Json(R"({"id": 8, "syncedLyrics": null, "plainLyrics": "only plain"})"));
  server.Serve("/api/get/9", Json(R"({"code":404,"name":"TrackNotFound","message":"Failed to find specified track"})", 404));
  server.Serve("/api/get/10", Json(R"({"id": 10, "syncedLyrics": ")"));
  server.Serve("/api/get/12", Json(R"({"code":500,"name":"ServerError","message":"Try again"})", 500));
  server.Serve("/api/get/9007199254740993", Json(R"({"id": 9007199254740993, "syncedLyrics": "[00:01.00]big"})"));
  std::string escaped;
  for (const char c : longLyric) escaped += c == '\n' ? std::string("\\n") : std::string(1, c);
  server.Serve("/api/get/11", Json(R"({"id": 11, "syncedLyrics": ")" + escaped + R"("})"));

  EXPECT_EQ(downloader->Download(7), std::optional<std::string>("[00:01.00]中文\n[00:02.00]b"));
  EXPECT_EQ(downloader->Download(8), std::optional<std::string>(""));
  EXPECT_EQ(downloader->Download(9), std::optional<std::string>(""));  // not found: answered, no lyric
  EXPECT_EQ(downloader->Download(10), std::nullopt);
  EXPECT_EQ(downloader->Download(12), std::nullopt);  // a server error is no "no lyric"
  EXPECT_EQ(downloader->Download(9007199254740993), std::optional<std::string>("[00:01.00]big"));
  server.ClearRequests();
  EXPECT_EQ(downloader->Download(11), std::optional<std::string>(longLyric));
  EXPECT_EQ(server.Requests().size(), 1u);  // the second, larger call is answered from memory

  // The raw call fills what fits with whole characters and reports the whole length.
  std::vector<char> buffer(4096, '\x7f');
  ILrcDown* object = downloader->Object();
  ASSERT_EQ(object->DownloadLyric(11, buffer.data(), 4096), static_cast<int32_t>(longLyric.size()));
  const std::string part(buffer.data());
  EXPECT_EQ(part, longLyric.substr(0, 4094));
  EXPECT_TRUE(orvane::text::IsValidUtf8(part));
  EXPECT_EQ(object->DownloadLyric(11, nullptr, 0), static_cast<int32_t>(longLyric.size()));
}

TEST_F(LrcDownTest, ThreadsKeepTheirOwnResults) {
  FixtureReply a = Json(R"([{"id": 1, "trackName": "A1"}, {"id": 2, "trackName": "A2"}])");
  FixtureReply b = Json(R"([{"id": 3, "trackName": "B1"}])");
  a.delayMs = 100;
  b.delayMs = 100;
  server.Serve("/api/search?track_name=A", a);
  server.Serve("/api/search?track_name=B", b);
  ILrcDown* object = downloader->Object();

  // Both search, then both read after both searches are done: neither list replaced the other.
  std::barrier searched(2);
  std::vector<std::string> seen(2);
  const auto user = [&](int which, const char* title) {
    object->ClearResults();
    object->SearchLyrics(title, "", "", 0);
    searched.arrive_and_wait();
    for (int i = 0; i < object->ResultCount(); ++i) seen[which] += std::string(object->ResultAt(i)->Title) + ";";
  };
  std::thread first(user, 0, "A");
  std::thread second(user, 1, "B");
  first.join();
  second.join();
  EXPECT_EQ(seen[0], "A1;A2;");
  EXPECT_EQ(seen[1], "B1;");
  EXPECT_EQ(object->ResultCount(), 0);  // and this thread searched nothing
}
