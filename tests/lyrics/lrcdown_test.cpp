// The lyric provider library liblrcdown.so, loaded as the player loads it, against a local server
// that answers like the lyric service.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <barrier>
#include <cstdint>
#include <cstdlib>
#include <cstring>
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
  for (const auto& r : results) out.push_back(r.Title + "|" + r.Singer + "|" + r.Extra + "|" + std::to_string(r.Id));
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

TEST_F(LrcDownTest, SearchesByTitleAndSingerAndCopiesTheResults) {
  server.Serve("/api/search", Json(R"json([
    {"id": 101, "trackName": "晴天", "artistName": "周杰伦", "albumName": "叶惠美", "duration": 269,
     "syncedLyrics": "[00:01.00]x", "plainLyrics": "x"},
    {"id": 102, "trackName": "\u6674\u5929 (Live)", "artistName": "Jay", "albumName": null, "duration": 270.5},
    {"trackName": "no id"},
    {"id": 1.5, "trackName": "not a whole id"},
    "not an object",
    {"id": 103}
  ])json"));
  const auto results = downloader->Search("晴天", "周杰伦");
  ASSERT_TRUE(results);
  EXPECT_EQ(Describe(*results), (std::vector<std::string>{"晴天|周杰伦|叶惠美|101", "晴天 (Live)|Jay||102", "|||103"}));

  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].target, "/api/search?track_name=%E6%99%B4%E5%A4%A9&artist_name=%E5%91%A8%E6%9D%B0%E4%BC%A6");
  EXPECT_EQ(requests[0].Header("User-Agent"),
            std::string("Orvane ") + orvane::kVersion + " (http://" + orvane::net::HomeHost() + ")");

  // The raw calls see the same list on this thread.
  ILrcDown* object = downloader->Object();
  EXPECT_EQ(object->ResultCount(), 3);
  EXPECT_STREQ(object->ResultAt(1)->Title, "晴天 (Live)");
  EXPECT_EQ(object->ResultAt(3), nullptr);
  EXPECT_EQ(object->ResultAt(-1), nullptr);
  object->ClearResults();
  EXPECT_EQ(object->ResultCount(), 0);
}

TEST_F(LrcDownTest, NoResultsDiffersFromNoAnswer) {
  FixtureReply stalled = Json(R"([{"id": 1, "trackName": "a"}])");
  stalled.stallAfter = 5;
  struct Case {
    std::string title;
    FixtureReply reply;
    bool answered;
  };
  const Case cases[] = {
      {"empty", Json("[]"), true},
      {"missing", Json(R"({"code":404,"name":"NotFound","message":"Failed to find specified track"})", 404), false},
      {"malformed", Json(R"([{"id": 1, "trackName": "a")"), false},
      {"html", FixtureReply::Status(500, "<html>Internal error</html>"), false},
      {"stalled", stalled, false},
  };
  server.Serve("/api/search?track_name=earlier", Json(R"([{"id": 1, "trackName": "earlier"}])"));
  for (const Case& c : cases) {
    server.Serve("/api/search?track_name=" + c.title, c.reply);
    ASSERT_EQ(downloader->Object()->SearchLyrics("earlier", "", "", 0), 1);
    const auto results = downloader->Search(c.title, "");
    EXPECT_EQ(results.has_value(), c.answered) << c.title;
    if (results) {
      EXPECT_TRUE(results->empty()) << c.title;
    }
    EXPECT_EQ(downloader->Object()->ResultCount(), 0) << c.title;  // the earlier results are gone either way
  }
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
  std::string escaped;
  for (const char c : longLyric) escaped += c == '\n' ? std::string("\\n") : std::string(1, c);
  server.Serve("/api/get/11", Json(R"({"id": 11, "syncedLyrics": ")" + escaped + R"("})"));

  EXPECT_EQ(downloader->Download(7), std::optional<std::string>("[00:01.00]中文\n[00:02.00]b"));
  EXPECT_EQ(downloader->Download(8), std::optional<std::string>(""));
  EXPECT_EQ(downloader->Download(9), std::optional<std::string>(""));  // not found: answered, no lyric
  EXPECT_EQ(downloader->Download(10), std::nullopt);
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
