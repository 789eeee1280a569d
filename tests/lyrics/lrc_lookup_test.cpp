// The automatic lyric lookup: similarity, the beside file, the lyric folder, the download step,
// the upload, and what the main window does with the result.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "lyrics/LrcClass.h"
#include "lyrics/LyricDownloader.h"
#include "lyrics/Similarity.h"
#include "lyrics/UntLrcThread.h"
#include "net/UYmUrl.h"
#include "net/WorkerHost.h"
#include "support/fixture_server.h"
#include "support/temp_dir.h"
#include "text/Legacy.h"

namespace orvane::lyrics {
namespace {

namespace fs = std::filesystem;
using test::FixtureReply;
using test::FixtureServer;
using test::TempDir;

const std::string kLibrary = std::string(ORVANE_BIN_DIR) + "/liblrcdown.so";

FixtureReply Json(const std::string& body) { return FixtureReply::Text(body, "application/json"); }

std::vector<std::string> Lines(const TLrcClass& doc) {
  std::vector<std::string> out;
  for (const TLyricItem& item : doc.Document().Items()) out.push_back(item.Text);
  return out;
}

// A music folder, a lyric folder, a server standing for both the lyric service and the upload
// address, and the provider library pointed at it.
class LookupTest : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(lyricFolder);
    ::setenv("ORVANE_LYRICS_URL", server.BaseUrl().c_str(), 1);
    ::setenv("ORVANE_LYRICS_TIMEOUT_MS", "2000", 1);
    downloader = TLyricDownloader::LoadFile(kLibrary);
    ASSERT_TRUE(downloader);
    server.Serve("/lrc/up.aspx", FixtureReply::Text("ok"));
  }
  void TearDown() override {
    ::setenv("ORVANE_LYRICS_URL", "http://127.0.0.1:9", 1);  // as every test starts
    ::unsetenv("ORVANE_LYRICS_TIMEOUT_MS");
  }

  // online: the provider may be asked and the product server is told.
  TLrcTextThread Lookup(const TLyricTrack& track, bool online, std::shared_ptr<TLyricDownloader> provider,
                        bool productServer, int32_t lengthMs = 0, TLookupStage stage = TLookupStage::Whole) {
    TLrcTextThread lookup(track, lyricFolder, online, productServer, "http://127.0.0.1/lrc/up.aspx",
                          std::move(provider), lengthMs, stage);
    lookup.Http.postPort = server.Port();
    lookup.Execute();
    return lookup;
  }
  TLrcTextThread Lookup(const TLyricTrack& track, bool online, std::shared_ptr<TLyricDownloader> provider) {
    return Lookup(track, online, std::move(provider), online);
  }
  TLrcTextThread Lookup(const TLyricTrack& track, bool online) { return Lookup(track, online, downloader); }

  TLyricTrack Track(const std::string& title, const std::string& singer, const std::string& file = "song.mp3") {
    return {0, music.File(file), title, singer};
  }

  std::vector<std::string> Targets() {
    std::vector<std::string> out;
    for (const auto& request : server.Requests()) out.push_back(request.method + " " + request.target);
    return out;
  }

  std::vector<std::string> Uploads() {
    std::vector<std::string> out;
    for (const auto& request : server.Requests()) {
      if (request.method == "POST") out.push_back(request.body);
    }
    return out;
  }

  TempDir music;
  TempDir lyrics;
  std::string lyricFolder = lyrics.File("lrc");
  FixtureServer server;
  std::shared_ptr<TLyricDownloader> downloader;
};

}  // namespace

TEST(Similarity, MeasuresHowAlikeTwoTextsAre) {
  struct Case {
    std::string a, b;
    bool soundAlike;
    int expected;
  };
  const Case cases[] = {
      {"abc", "abc", true, 100},
      {"abcd", "abc", true, 75},
      {"abc", "abcd", true, 75},
      {"bat", "pad", true, 100},
      {"bat", "pad", false, 33},
      {"ABC", "abc", true, 100},
      {"ABC", "abc", false, 0},
      {"cijy", "ZJYI", true, 100},
      {"s", "z", true, 0},  // S matches only S
      {"", "abc", true, 0},
      {"abc", "", true, 0},
      {"abXc", "abc", true, 75},
      {"xxxxab", "abxxxx", true, 66},  // "ab" is too far from where it would line up
      {std::string(24, 'a') + "x", std::string(24, 'a'), true, 96},
      {std::string(23, 'a') + "x", std::string(23, 'a'), true, 95},
      {"晴天周杰伦", "晴天周杰伦", true, 100},
  };
  for (const Case& c : cases) EXPECT_EQ(Similarity(c.a, c.b, c.soundAlike), c.expected) << c.a << " / " << c.b;
}

TEST(LyricLookupPieces, BesideFileLinesFileNameAndUploadForm) {
  const std::pair<std::string, std::string> beside[] = {
      {"/m/Song.mp3", "/m/Song.lrc"},   {"/m/song.flac", "/m/song.lrc"}, {"/m/歌曲.wma", "/m/歌曲.lrc"},
      {"/m/a.b/x歌曲", "/m/a.b/x歌曲.lrc"},  // no extension: the folder's dot does not count
      {"/m/.mp3", "/m/.mp3.lrc"},       {"song.ape", "song.lrc"},
      {"/m/", ""},                      {"", ""},
      {"http://host/a.mp3", ""},  // a stream has no file beside it
  };
  for (const auto& [location, expected] : beside) EXPECT_EQ(BesideFileName(location), expected) << location;

  const std::pair<std::string, std::string> lines[] = {
      {"a\nb", "a\r\nb\r\n"}, {"a\r\nb\r\n", "a\r\nb\r\n"}, {"a\rb\r", "a\r\nb\r\n"}, {"a\n\nb", "a\r\n\r\nb\r\n"},
      {"", ""}, {"\n", "\r\n"}};
  for (const auto& [text, expected] : lines) EXPECT_EQ(LinesWithCrLf(text), expected) << text;

  EXPECT_EQ(LyricFileName("What?", "A/B"), "What AB.lrc");
  std::string chinese;  // 40 × "中" is 120 bytes: cut to 33 whole characters
  for (int i = 0; i < 40; ++i) chinese += "中";
  EXPECT_EQ(LyricFileName(chinese, "s"), chinese.substr(0, 99) + ".lrc");
  EXPECT_EQ(LyricFileName(std::string(99, 'x'), "singer"), std::string(99, 'x') + " .lrc");

  // The product's server reads GBK: Chinese values go as their GBK bytes, not UTF-8.
  EXPECT_EQ(UploadForm("中文", "歌手", "[00:01.00]一二三四五六七"),
            "ltitle=%D6%D0%CE%C4&lsinger=%B8%E8%CA%D6&llrc=%5B00%3A01%2E00%5D%D2%BB%B6%FE%C8%FD%CB%C4%CE%E5%C1%F9%C6%DF");
}

TEST_F(LookupTest, FolderSearchFindsExactNamesAndNearNamesOfLongKeysOnly) {
  // Title + " " + singer of 24 characters: a name one character longer still matches (96)…
  test::WriteFileBytes(fs::path(lyricFolder) / "abcdefghij klmnopqrstuvwx.lrc", "[00:01.00]near\n");
  EXPECT_EQ(FindInLyricFolder(lyricFolder, "abcdefghij", "klmnopqrstuvw"),
            lyricFolder + "/abcdefghij klmnopqrstuvwx.lrc");
  // …with 23 it does not (95).
  test::WriteFileBytes(fs::path(lyricFolder) / "abcdefghij klmnopqrstuvx.lrc", "[00:01.00]too short\n");
  EXPECT_EQ(Similarity("abcdefghij klmnopqrstuvx", "abcdefghij klmnopqrstuv", true), 95);
  EXPECT_EQ(FindInLyricFolder(lyricFolder, "abcdefghij", "klmnopqrstuv"), "");

  // An exact name in any letter case wins at once over near names listed after it.
  test::WriteFileBytes(fs::path(lyricFolder) / "ABCDEFGHIJ KLMNOPQRSTUVW.LRC", "[00:01.00]exact\n");
  EXPECT_EQ(FindInLyricFolder(lyricFolder, "abcdefghij", "klmnopqrstuvw"),
            lyricFolder + "/ABCDEFGHIJ KLMNOPQRSTUVW.LRC");
  // Only regular files count.
  fs::create_directories(fs::path(lyricFolder) / "Folder Name.lrc");
  EXPECT_EQ(FindInLyricFolder(lyricFolder, "Folder", "Name"), "");
  EXPECT_EQ(FindInLyricFolder(lyricFolder + "/missing", "a", "b"), "");
}

TEST_F(LookupTest, TheBesideFileWinsOverTheFolderAndTheNetwork) {
  test::WriteFileBytes(music.Path() / "Song.mp3", "audio");
  test::WriteFileBytes(music.Path() / "Song.lrc", "[00:01.00]beside the song\n");
  test::WriteFileBytes(fs::path(lyricFolder) / "Title Singer.lrc", "[00:01.00]from the folder\n");
  server.Serve("/api/search", Json(R"([{"id": 1, "trackName": "Title", "artistName": "Singer"}])"));

  const TLrcTextThread beside = Lookup(Track("Title", "Singer", "Song.mp3"), true);
  EXPECT_EQ(beside.ResultText, "[00:01.00]beside the song\r\n");
  EXPECT_FALSE(beside.Downloaded);

  const TLrcTextThread folder = Lookup(Track("Title", "Singer", "Other.mp3"), true);
  EXPECT_EQ(folder.ResultText, "[00:01.00]from the folder\r\n");
  EXPECT_FALSE(folder.Downloaded);

  // Neither looked at the network, but both reported what they found.
  EXPECT_THAT(Targets(), testing::Each(testing::StartsWith("POST /lrc/up.aspx")));
  EXPECT_EQ(Uploads(), (std::vector<std::string>{
                           "ltitle=Title&lsinger=Singer&llrc=" + net::EncodeUrlValue("[00:01.00]beside the song\r\n"),
                           "ltitle=Title&lsinger=Singer&llrc=" + net::EncodeUrlValue("[00:01.00]from the folder\r\n")}));
}

TEST_F(LookupTest, OfflineFindsOnlyLocalFilesAndSendsNothing) {
  TLrcTextThread lookup = Lookup(Track("Title", "Singer"), false);
  EXPECT_EQ(lookup.ResultText, "");
  EXPECT_FALSE(lookup.Downloaded);
  EXPECT_TRUE(server.Requests().empty());

  TLrcClass doc;
  const auto done = LyricLookupDone(lookup, TrackOf(lookup), 215000, lyricFolder, doc);
  EXPECT_FALSE(done.Stale);
  EXPECT_EQ(Lines(doc), std::vector<std::string>{std::string(TLrcClass::kClosingLineText)});
  EXPECT_EQ(doc.Document().Items().back().Time, 215000);
  EXPECT_EQ(done.SavedFile, "");
  EXPECT_TRUE(fs::is_empty(lyricFolder));
}

// The provider and the product server are separate switches: the user's "online lyrics" setting
// lets the provider be asked without any product server, and a product server that is online is
// told of lookups whose provider downloads are off.
TEST_F(LookupTest, ProviderDownloadsDoNotWaitForTheProductServer) {
  server.Serve("/api/search", Json(R"([{"id": 7, "trackName": "Title", "artistName": "Singer"}])"));
  server.Serve("/api/get/7", Json(R"({"id": 7, "syncedLyrics": "[00:01.00]from the provider"})"));

  const TLrcTextThread alone = Lookup(Track("Title", "Singer"), true, downloader, false);
  EXPECT_TRUE(alone.Downloaded);
  EXPECT_EQ(alone.ResultText, "[00:01.00]from the provider\r\n");
  EXPECT_THAT(Targets(), testing::ElementsAre(testing::StartsWith("GET /api/search?"), "GET /api/get/7"));

  server.ClearRequests();
  const TLrcTextThread off = Lookup(Track("Title", "Singer"), false, downloader, true);
  EXPECT_FALSE(off.Downloaded);
  EXPECT_EQ(off.ResultText, "");
  EXPECT_THAT(Targets(), testing::ElementsAre("POST /lrc/up.aspx"));
}

TEST_F(LookupTest, UploadsTextsOfMoreThanTwentyBytesAndThePlaceholderOtherwise) {
  // Eighteen bytes and a line break are twenty: the placeholder; one byte more is sent itself.
  test::WriteFileBytes(fs::path(lyricFolder) / "twenty bytes.lrc", "[00:01.00]12345678\n");
  test::WriteFileBytes(fs::path(lyricFolder) / "twentyone bytes.lrc", "[00:01.00]123456789\n");
  EXPECT_EQ(Lookup(Track("twenty", "bytes"), true).ResultText.size(), 20u);
  EXPECT_EQ(Lookup(Track("twentyone", "bytes"), true).ResultText.size(), 21u);
  Lookup(Track("nothing", "here"), true, nullptr);  // no provider: nothing found, still reported
  EXPECT_EQ(Uploads(), (std::vector<std::string>{"ltitle=twenty&lsinger=bytes&llrc=nim%5F12345",
                                                 "ltitle=twentyone&lsinger=bytes&llrc=%5B00%3A01%2E00%5D123456789%0D%0A",
                                                 "ltitle=nothing&lsinger=here&llrc=nim%5F12345"}));
}

TEST_F(LookupTest, LyricFilesInLegacyEncodingsReadAsText) {
  const std::string text = "[00:01.00]中文歌词\n[00:02.00]第二行\r[00:03.00]end";
  const std::string expected = "[00:01.00]中文歌词\r\n[00:02.00]第二行\r\n[00:03.00]end\r\n";
  std::u16string wide = u"[00:01.00]中文歌词\n[00:02.00]第二行\r[00:03.00]end";
  std::string utf16le = "\xFF\xFE", utf16be = "\xFE\xFF";
  for (const char16_t c : wide) {
    utf16le += static_cast<char>(c & 0xFF);
    utf16le += static_cast<char>(c >> 8);
    utf16be += static_cast<char>(c >> 8);
    utf16be += static_cast<char>(c & 0xFF);
  }
  const std::pair<std::string, std::string> files[] = {{"gbk.lrc", text::ToGb18030(text)},
                                                       {"utf8.lrc", text},
                                                       {"bom.lrc", "\xEF\xBB\xBF" + text},
                                                       {"utf16le.lrc", utf16le},
                                                       {"utf16be.lrc", utf16be}};
  for (const auto& [name, bytes] : files) {
    test::WriteFileBytes(music.Path() / name, bytes);
    EXPECT_EQ(ReadLyricFile(music.File(name)), expected) << name;
  }
  EXPECT_EQ(text::ToGb18030(text).find("\xD6\xD0\xCE\xC4"), 10u);  // the fixture really is GBK
  EXPECT_EQ(ReadLyricFile(music.File("missing.lrc")), "");
}

// Lyric files as they are found in the wild, read from disk and loaded as the lookup loads them.
TEST_F(LookupTest, RealLyricFileShapesLoadAsTheirLines) {
  using Lines = std::vector<std::pair<int32_t, std::string>>;
  const auto utf16 = [](const std::u16string& text, bool littleEndian) {
    std::string out = littleEndian ? "\xFF\xFE" : "\xFE\xFF";
    for (const char16_t c : text) {
      const char low = static_cast<char>(c & 0xFF), high = static_cast<char>(c >> 8);
      out += littleEndian ? std::string{low, high} : std::string{high, low};
    }
    return out;
  };
  const struct {
    const char* shape;
    std::string bytes;
    Lines lines;
  } cases[] = {
      {"CRLF with tags and credits", "[ti:晴天]\r\n[ar:周杰伦]\r\n[by:]\r\n作词：周杰伦\r\n[00:00.00]晴天 - 周杰伦\r\n[00:29.34]故事的小黄花\r\n",
       {{0, "晴天 - 周杰伦"}, {29340, "故事的小黄花"}}},
      {"LF only, untagged lines between", "[00:01.00]one\nan untagged line\n[00:02.00]two\n", {{1000, "one"}, {2000, "two"}}},
      {"CR only", "[00:01.00]one\r[00:02.00]two\r", {{1000, "one"}, {2000, "two"}}},
      {"UTF-8 BOM, thousandths", "\xEF\xBB\xBF[00:19.311]一\r\n[00:21.5]二\r\n", {{19311, "一"}, {21500, "二"}}},
      {"UTF-16LE BOM", utf16(u"[00:01.00]中文\r\n[01:02.03]第二行\r\n", true), {{1000, "中文"}, {62030, "第二行"}}},
      {"UTF-16BE BOM", utf16(u"[00:01.00]中文\n", false), {{1000, "中文"}}},
      {"GBK", text::ToGb18030("[00:01.00]后来\r\n[00:03.20]我总算学会了\r\n"), {{1000, "后来"}, {3200, "我总算学会了"}}},
      {"repeated stamps", "[00:01.00][00:09.00]副歌\r\n[00:05.00]主歌\r\n", {{1000, "副歌"}, {5000, "主歌"}, {9000, "副歌"}}},
      {"enhanced", "[00:01.00]<00:01.00> When <00:01.50> the <00:02.00> truth\r\n[00:03.00]end\r\n",
       {{1000, "When the truth"}, {3000, "end"}}},
      {"bilingual", "[00:01.00]Hello\r\n[00:01.00]你好\r\n[00:02.00]Bye\r\n[00:02.00]再见\r\n",
       {{1000, "Hello"}, {1000, "你好"}, {2000, "Bye"}, {2000, "再见"}}},
      {"offset tag and trailing blanks", "[offset:+500]\r\n[00:01.00]  line \t\r\n\r\n", {{1000, "line"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shape);
    test::WriteFileBytes(music.Path() / "shape.lrc", c.bytes);
    TLrcClass doc;
    doc.Load(ReadLyricFile(music.File("shape.lrc")));
    Lines lines;
    for (const TLyricItem& item : doc.Document().Items()) lines.emplace_back(item.Time, item.Text);
    EXPECT_EQ(lines, c.lines);
  }
}

TEST_F(LookupTest, DownloadsTheBestMatchThatHasALyricAndSavesIt) {
  // Similarity with "晴天周杰伦": id 1 none, id 2 80, id 3 100 (but blank), id 4 93 (not better
  // than the best so far, so never tried).
  server.Serve("/api/search", Json(R"([
      {"id": 1, "trackName": "Sunny Day", "artistName": "Someone"},
      {"id": 2, "trackName": "晴天", "artistName": "周杰"},
      {"id": 3, "trackName": "晴天", "artistName": "周杰伦"},
      {"id": 4, "trackName": "晴天", "artistName": "周杰伦x"}])"));
  server.Serve("/api/get/3", Json(R"({"id": 3, "syncedLyrics": " \n \n"})"));
  server.Serve("/api/get/2", Json(R"({"id": 2, "syncedLyrics": "[00:01.00]晴天\n[00:02.00]故事的小黄花"})"));

  const TLrcTextThread lookup = Lookup(Track("晴天", "周杰伦"), true);
  EXPECT_TRUE(lookup.Downloaded);
  EXPECT_EQ(lookup.ResultText, "[00:01.00]晴天\r\n[00:02.00]故事的小黄花\r\n");
  const auto targets = Targets();
  EXPECT_THAT(targets, testing::Contains(testing::StartsWith("GET /api/search?track_name=")));
  EXPECT_THAT(targets, testing::IsSupersetOf({"GET /api/get/3", "GET /api/get/2"}));
  EXPECT_THAT(targets, testing::Not(testing::Contains(testing::AnyOf("GET /api/get/1", "GET /api/get/4"))));

  TLrcClass doc;
  const auto done = LyricLookupDone(lookup, TrackOf(lookup), 269000, lyricFolder, doc);
  EXPECT_EQ(Lines(doc), (std::vector<std::string>{"晴天", "故事的小黄花", std::string(TLrcClass::kClosingLineText)}));
  EXPECT_EQ(done.SavedFile, lyricFolder + "/晴天 周杰伦.lrc");
  EXPECT_EQ(test::ReadFileBytes(done.SavedFile), "[00:01.00]晴天\r\n[00:02.00]故事的小黄花\r\n");

  // The next lookup for the track finds it locally, without the network.
  server.ClearRequests();
  const TLrcTextThread again = Lookup(Track("晴天", "周杰伦"), false);
  EXPECT_EQ(again.ResultText, lookup.ResultText);
  EXPECT_FALSE(again.Downloaded);
}

TEST_F(LookupTest, NothingFoundIsSavedEmptyAndFoundNextTime) {
  server.Serve("/api/search?track_name=Nothing&artist_name=Nobody", Json("[]"));
  server.Serve("/api/search?track_name=Far&artist_name=Away", Json(R"([{"id": 5, "trackName": "完全不同"}])"));

  const TLrcTextThread far = Lookup(Track("Far", "Away"), true);
  EXPECT_TRUE(far.Downloaded);
  EXPECT_EQ(far.ResultText, "");
  EXPECT_THAT(Targets(), testing::Not(testing::Contains("GET /api/get/5")));  // similarity 0: never downloaded

  const TLrcTextThread nothing = Lookup(Track("Nothing", "Nobody"), true);
  EXPECT_TRUE(nothing.Downloaded);
  TLrcClass doc;
  const auto done = LyricLookupDone(nothing, TrackOf(nothing), 1000, lyricFolder, doc);
  ASSERT_EQ(done.SavedFile, lyricFolder + "/Nothing Nobody.lrc");
  EXPECT_EQ(test::ReadFileBytes(done.SavedFile), "");

  server.ClearRequests();
  const TLrcTextThread next = Lookup(Track("Nothing", "Nobody"), true);
  EXPECT_FALSE(next.Downloaded);
  EXPECT_EQ(next.ResultText, "");
  EXPECT_THAT(Targets(), testing::ElementsAre("POST /lrc/up.aspx"));
}

// The service gains lyrics every day: a placeholder older than a week is looked up again, and
// rewritten only when the service answers that it still has none.
TEST_F(LookupTest, AWeekOldPlaceholderIsLookedUpAgain) {
  const std::string placeholder = lyricFolder + "/Late Bloomer.lrc";
  test::WriteFileBytes(placeholder, "");
  const auto age = [&](int days) {
    fs::last_write_time(placeholder, fs::file_time_type::clock::now() - std::chrono::days(days));
  };
  struct Case {
    const char* what;
    int days;
    FixtureReply search;
    bool asked;
    std::string result;
    std::string file;  // the placeholder's text afterwards
    bool rewritten;
  };
  const Case cases[] = {
      {"six days: still nothing to ask for", 6, Json("[]"), false, "", "", false},
      {"the service cannot be asked: kept as it was", 8, FixtureReply::Status(500, "<html>down</html>"), true, "", "", false},
      {"still nothing: written again", 8, Json("[]"), true, "", "", true},
      {"found now", 8, Json(R"([{"id": 4, "trackName": "Late", "artistName": "Bloomer"}])"), true,
       "[00:01.00]at last\r\n", "[00:01.00]at last\r\n", true},
  };
  server.Serve("/api/get/4", Json(R"({"id": 4, "syncedLyrics": "[00:01.00]at last"})"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::WriteFileBytes(placeholder, "");
    age(c.days);
    const auto before = fs::last_write_time(placeholder);
    server.Serve("/api/search", c.search);
    server.ClearRequests();
    const TLrcTextThread lookup = Lookup(Track("Late", "Bloomer"), true, downloader, false);
    EXPECT_EQ(!server.Requests().empty(), c.asked);
    EXPECT_EQ(lookup.ResultText, c.result);
    TLrcClass doc;
    LyricLookupDone(lookup, TrackOf(lookup), 1000, lyricFolder, doc);
    EXPECT_EQ(test::ReadFileBytes(placeholder), c.file);
    EXPECT_EQ(fs::last_write_time(placeholder) != before, c.rewritten);
  }
}

// The files are looked at on their own, so that a lyric on disk never waits behind a download; the
// network stage then finishes the lookup, and only the stage that ends it reports to the server.
TEST_F(LookupTest, TheFilesAndTheNetworkCanRunAsTwoStages) {
  test::WriteFileBytes(fs::path(lyricFolder) / "On Disk.lrc", "[00:01.00]local words\n");
  server.Serve("/api/search", Json(R"([{"id": 6, "trackName": "Not", "artistName": "Here"}])"));
  server.Serve("/api/get/6", Json(R"({"id": 6, "syncedLyrics": "[00:01.00]downloaded"})"));

  const TLrcTextThread disk = Lookup(Track("On", "Disk"), true, downloader, true, 0, TLookupStage::Local);
  EXPECT_FALSE(disk.NeedsNetwork);
  EXPECT_EQ(disk.ResultText, "[00:01.00]local words\r\n");
  EXPECT_THAT(Targets(), testing::ElementsAre("POST /lrc/up.aspx"));

  server.ClearRequests();
  const TLrcTextThread files = Lookup(Track("Not", "Here"), true, downloader, true, 0, TLookupStage::Local);
  EXPECT_TRUE(files.NeedsNetwork);
  EXPECT_TRUE(server.Requests().empty());  // neither asked nor reported yet
  const TLrcTextThread network = Lookup(Track("Not", "Here"), true, downloader, true, 0, TLookupStage::Network);
  EXPECT_TRUE(network.Downloaded);
  EXPECT_EQ(network.ResultText, "[00:01.00]downloaded\r\n");
  EXPECT_THAT(Targets(), testing::ElementsAre(testing::StartsWith("GET /api/search?"), "GET /api/get/6", "POST /lrc/up.aspx"));

  // Without provider downloads the files stage ends the lookup itself.
  EXPECT_FALSE(Lookup(Track("Not", "Here"), false, downloader, false, 0, TLookupStage::Local).NeedsNetwork);
}

// The service keeps several records of one song (the album take, a live take, an edit); the one of
// the playing track's length is the one in time with it. Records with words but no times are passed
// over; an instrumental gives a lyric that says so.
TEST_F(LookupTest, PicksTheRecordOfTheTracksLength) {
  const auto record = [](int id, double seconds, const char* lyric) {
    std::string json = R"({"id": )" + std::to_string(id) + R"(, "trackName": "晴天", "artistName": "周杰伦", "duration": )" +
                       std::to_string(seconds);
    if (std::string(lyric) == "instrumental") return json + R"(, "instrumental": true, "syncedLyrics": null, "plainLyrics": null})";
    if (std::string(lyric) == "plain") return json + R"(, "instrumental": false, "syncedLyrics": null, "plainLyrics": "words"})";
    return json + R"(, "instrumental": false, "syncedLyrics": "[00:01.00]id )" + std::to_string(id) + R"(", "plainLyrics": "x"})";
  };
  struct Case {
    const char* what;
    std::vector<std::string> records;
    int32_t lengthMs;
    std::vector<std::string> downloads;
    std::string result;
  };
  const std::string instrumental = TLrcClass::InstrumentalLyric();
  const Case cases[] = {
      {"a live take listed first", {record(1, 301, "synced"), record(2, 269, "synced")}, 269000, {"/api/get/2"},
       "[00:01.00]id 2\r\n"},
      {"the length unknown: the first best name", {record(1, 301, "synced"), record(2, 269, "synced")}, 0,
       {"/api/get/1"}, "[00:01.00]id 1\r\n"},
      {"within two seconds, the closest", {record(1, 271, "synced"), record(2, 268.5, "synced"), record(3, 300, "synced")},
       269000, {"/api/get/2"}, "[00:01.00]id 2\r\n"},
      {"as close: a lyric before an instrumental", {record(1, 268, "instrumental"), record(2, 270, "synced")}, 269000,
       {"/api/get/2"}, "[00:01.00]id 2\r\n"},
      {"words without times passed over", {record(1, 269, "plain"), record(2, 301, "synced")}, 269000, {"/api/get/2"},
       "[00:01.00]id 2\r\n"},
      {"an instrumental", {record(1, 269, "instrumental"), record(2, 301, "synced")}, 269000, {}, instrumental},
      {"only words without times: none", {record(1, 269, "plain")}, 269000, {}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string json = "[";
    for (const std::string& r : c.records) json += (json.size() > 1 ? "," : "") + r;
    server.Serve("/api/search", Json(json + "]"));
    for (int id = 1; id <= 3; ++id)
      server.Serve("/api/get/" + std::to_string(id), Json(R"({"syncedLyrics": "[00:01.00]id )" + std::to_string(id) + "\"}"));
    server.ClearRequests();
    // A fresh object: the library keeps the last lyric it downloaded.
    const TLrcTextThread lookup =
        Lookup(Track("晴天", "周杰伦"), true, TLyricDownloader::LoadFile(kLibrary), false, c.lengthMs);
    std::vector<std::string> downloads;
    for (const auto& request : server.Requests())
      if (request.Path().starts_with("/api/get/")) downloads.push_back(request.target);
    EXPECT_EQ(downloads, c.downloads);
    EXPECT_TRUE(lookup.Downloaded);
    EXPECT_EQ(lookup.ResultText, c.result);
  }

  // An instrumental is saved as that one line, never as an empty lyric, and shows on load.
  std::string one = record(1, 269, "instrumental");
  one.insert(0, 1, '[');
  server.Serve("/api/search", Json(one + "]"));
  const TLrcTextThread lookup = Lookup(Track("晴天", "周杰伦"), true, downloader, false, 269000);
  TLrcClass doc;
  const auto done = LyricLookupDone(lookup, TrackOf(lookup), 269000, lyricFolder, doc);
  EXPECT_EQ(test::ReadFileBytes(done.SavedFile), instrumental);
  doc.SetPosition(1000);
  EXPECT_EQ(doc.CurrentLine(), TLrcClass::kInstrumentalText);
}

TEST_F(LookupTest, TheBesideFileIsFoundInAnyLetterCase) {
  struct Case {
    std::vector<std::string> files;
    std::string found;  // empty: none
  };
  const Case cases[] = {
      {{"song.LRC"}, "song.LRC"},
      {{"Song.lrc", "song.lrc"}, "Song.lrc"},  // the exact name first
      {{"song.lrc", "SONG.LRC"}, "SONG.LRC"},  // else the first in name order
      {{"Song.lrc.bak", "Songs.lrc", "Song.mp3.lrc"}, ""},
  };
  int n = 0;
  for (const Case& c : cases) {
    const fs::path folder = music.Path() / std::to_string(++n);
    fs::create_directories(folder);
    test::WriteFileBytes(folder / "Song.mp3", "audio");
    for (const std::string& file : c.files) test::WriteFileBytes(folder / file, "[00:01.00]x\n");
    EXPECT_EQ(FindBesideFile((folder / "Song.mp3").string()), c.found.empty() ? "" : (folder / c.found).string())
        << c.files.front();
  }
  fs::create_directories(music.Path() / "dir" / "song.LRC");  // a folder is no lyric
  EXPECT_EQ(FindBesideFile((music.Path() / "dir" / "Song.mp3").string()), "");
}

TEST_F(LookupTest, AProviderThatCannotBeAskedIsNotTakenForNoLyrics) {
  server.Serve("/api/search?track_name=Broken&artist_name=Server", FixtureReply::Status(500, "<html>oops</html>"));
  server.Serve("/api/search?track_name=Lost&artist_name=Lyric", Json(R"([{"id": 9, "trackName": "Lost", "artistName": "Lyric"}])"));
  server.Serve("/api/get/9", Json(R"({"id": 9, "syncedLyrics": )"));
  for (const TLyricTrack& track : {Track("Broken", "Server"), Track("Lost", "Lyric")}) {
    const TLrcTextThread lookup = Lookup(track, true);
    EXPECT_FALSE(lookup.Downloaded) << track.Title;
    TLrcClass doc;
    EXPECT_EQ(LyricLookupDone(lookup, track, 1000, lyricFolder, doc).SavedFile, "") << track.Title;
  }
  const TLrcTextThread none = Lookup(Track("No", "Library"), true, nullptr);
  EXPECT_FALSE(none.Downloaded);
  EXPECT_TRUE(fs::is_empty(lyricFolder));
  EXPECT_EQ(Uploads().size(), 3u);
}

TEST_F(LookupTest, ALateResultForAnotherTrackIsNeitherLoadedNorSaved) {
  server.Serve("/api/search", Json(R"([{"id": 1, "trackName": "Old", "artistName": "Song"}])"));
  server.Serve("/api/get/1", Json(R"({"id": 1, "syncedLyrics": "[00:01.00]old words"})"));
  const TLrcTextThread lookup = Lookup(Track("Old", "Song"), true);
  ASSERT_TRUE(lookup.Downloaded);

  TLrcClass doc;
  doc.Load("");
  // Another song, the same song in the other list, or nothing playing: not the row it was for.
  const std::optional<TLyricTrack> others[] = {TLyricTrack{0, music.File("new.mp3"), "New", "Song"},
                                               TLyricTrack{1, lookup.Location, "Old", "Song"}, std::nullopt};
  for (const auto& now : others) {
    const auto done = LyricLookupDone(lookup, now, 1000, lyricFolder, doc);
    EXPECT_TRUE(done.Stale);
    EXPECT_EQ(doc.Document().Count(), 0);
    EXPECT_TRUE(fs::is_empty(lyricFolder));
  }

  // The same row is current (another row of the same song would do too). Without the lyric folder
  // the result is loaded but not saved.
  const TLyricTrack same{0, lookup.Location, "Old", "Song"};
  const auto unsaved = LyricLookupDone(lookup, same, 1000, lyricFolder + "/gone", doc);
  EXPECT_FALSE(unsaved.Stale);
  EXPECT_EQ(unsaved.SavedFile, "");
  EXPECT_EQ(Lines(doc), (std::vector<std::string>{"old words", std::string(TLrcClass::kClosingLineText)}));
}

TEST_F(LookupTest, RunsOnItsOwnThreadAndCompletesOnTheMainThread) {
  int argc = 1;
  char name[] = "lookup_test";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  test::WriteFileBytes(fs::path(lyricFolder) / "Title Singer.lrc", "[00:01.00]hello\n");

  net::TWorkerHost host;
  std::shared_ptr<TLrcTextThread> LyricThread = std::make_shared<TLrcTextThread>(
      Track("Title", "Singer"), lyricFolder, false, false, "", downloader);
  TLrcClass doc;
  bool done = false;
  const std::thread::id mainThread = std::this_thread::get_id();
  ASSERT_TRUE(host.Start(LyricThread, [&](TLrcTextThread& thread) {
    EXPECT_EQ(std::this_thread::get_id(), mainThread);
    LyricThread.reset();
    LyricLookupDone(thread, TrackOf(thread), 5000, lyricFolder, doc);
    done = true;
  }));
  downloader.reset();  // the lookup keeps the library loaded for itself
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done && std::chrono::steady_clock::now() < deadline) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  ASSERT_TRUE(done);
  EXPECT_EQ(Lines(doc), (std::vector<std::string>{"hello", std::string(TLrcClass::kClosingLineText)}));
}

}  // namespace orvane::lyrics
