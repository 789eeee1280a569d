// URL streams against the local fixture server: the download tap, sizes, failures and their codes,
// playlists, escaping, freeing a stream while it downloads, where the bytes are kept, and seeking
// played streams past what has arrived (through the manual output device).
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include <filesystem>

#include "Library.h"
#include "ManualOutput.h"
#include "UrlSource.h"
#include "audio/bass_fixtures.h"
#include "bass.h"
#include "support/fixture_server.h"
#include "support/temp_dir.h"

namespace orvane::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// What the DOWNLOADPROC saw.
struct Tap {
  std::mutex mutex;
  std::condition_variable changed;
  std::string bytes;
  int blocks = 0;
  int ends = 0;
  int codeAtEnd = -100;
  int callsAfterEnd = 0;

  bool WaitForEnd(std::chrono::milliseconds limit = 10s) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, limit, [&] { return ends > 0; });
  }
  int Calls() {
    std::lock_guard lock(mutex);
    return blocks + ends;
  }
};

void CALLBACK Collect(const void* buffer, DWORD length, void* user) {
  auto* tap = static_cast<Tap*>(user);
  const int code = BASS_ErrorGetCode();  // read first: it describes how the transfer ended
  std::lock_guard lock(tap->mutex);
  if (tap->ends > 0) ++tap->callsAfterEnd;
  if (buffer == nullptr) {
    ++tap->ends;
    tap->codeAtEnd = code;
  } else {
    ++tap->blocks;
    tap->bytes.append(static_cast<const char*>(buffer), length);
  }
  tap->changed.notify_all();
}

class BassUrl : public ::testing::Test {
 protected:
  void SetUp() override {
    BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, 1);
    BASS_SetConfig(BASS_CONFIG_NET_PREBUF, 0);
    BASS_SetConfig(BASS_CONFIG_NET_TIMEOUT, 800);
    bass::Lib().config.netStallMs = 30000;
    song = MakeAudio(dir, "song.mp3", "sine=frequency=440:duration=1", {"-ac", "2", "-c:a", "libmp3lame"});
    ASSERT_FALSE(song.empty());
    songBytes = ReadFileBytes(song);
  }

  HSTREAM Open(const std::string& path, Tap& tap) {
    return BASS_StreamCreateURL(server.Url(path).c_str(), 0, BASS_STREAM_DECODE, &Collect, &tap);
  }

  TempDir dir{"bass-url"};
  FixtureServer server;
  std::string song;
  std::string songBytes;
};

TEST_F(BassUrl, TheTapGetsExactlyTheServedBytesThenOneEnd) {
  struct Case {
    std::string name;
    FixtureReply reply;
    QWORD expectedEnd;  // BASS_FILEPOS_END: the Content-Length, 0 when not sent
  };
  FixtureReply sized = FixtureReply::File(song);
  FixtureReply unsized = FixtureReply::File(song);
  unsized.contentLength = false;
  FixtureReply chunked = FixtureReply::File(song);
  chunked.chunked = true;
  FixtureReply trickled = FixtureReply::File(song);
  trickled.trickleBytes = 4096;
  trickled.trickleIntervalMs = 5;
  // A radio server of the old kind: its own status line, then headers and the stream.
  FixtureReply icy = FixtureReply::Bytes("ICY 200 OK\r\nicy-name:Test\r\ncontent-type:audio/mpeg\r\n\r\n" + songBytes);
  icy.raw = true;
  const Case cases[] = {
      {"/sized.mp3", sized, songBytes.size()},
      {"/unsized.mp3", unsized, 0},
      {"/chunked.mp3", chunked, 0},
      {"/trickled.mp3", trickled, songBytes.size()},
      {"/icy.mp3", icy, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    server.Serve(c.name, c.reply);
    Tap tap;
    const HSTREAM stream = Open(c.name, tap);
    ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
    EXPECT_EQ(BASS_StreamGetFilePosition(stream, BASS_FILEPOS_END), c.expectedEnd);
    const auto samples = DecodeAll(stream);
    EXPECT_NEAR(static_cast<double>(samples.size() / 2) / 44100.0, 1.0, 0.05);
    ASSERT_TRUE(tap.WaitForEnd());
    EXPECT_TRUE(BASS_StreamFree(stream));
    std::lock_guard lock(tap.mutex);
    EXPECT_TRUE(tap.bytes == songBytes) << tap.bytes.size() << " of " << songBytes.size() << " bytes";
    EXPECT_EQ(tap.ends, 1);
    EXPECT_EQ(tap.codeAtEnd, BASS_OK);
    EXPECT_EQ(tap.callsAfterEnd, 0);
  }
}

TEST_F(BassUrl, SeeksInsideWhatHasArrived) {
  server.Serve("/song.mp3", FixtureReply::File(song));
  Tap tap;
  const HSTREAM stream = Open("/song.mp3", tap);
  ASSERT_NE(stream, 0u);
  ASSERT_TRUE(tap.WaitForEnd());
  const auto whole = DecodeAll(stream);
  ASSERT_TRUE(BASS_ChannelSetPosition(stream, BASS_ChannelSeconds2Bytes(stream, 0.5), BASS_POS_BYTE));
  const auto rest = DecodeAll(stream);
  EXPECT_NEAR(static_cast<double>(rest.size()) / 2 / 44100.0, static_cast<double>(whole.size()) / 2 / 44100.0 - 0.5,
              0.02);
  BASS_StreamFree(stream);
}

int ClosedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t size = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  ::close(fd);  // nothing listens there any more
  return ntohs(address.sin_port);
}

TEST_F(BassUrl, FailuresCarryTheirCodeWithinTheTimeOut) {
  FixtureReply silent = FixtureReply::File(song);
  silent.delayMs = 5000;  // accepts, then says nothing
  server.Serve("/silent.mp3", silent);
  server.Serve("/garbage.mp3", FixtureReply::Bytes(std::string(20000, '\x55')));
  FixtureReply icyMissing = FixtureReply::Bytes("ICY 404 Resource Not Found\r\n\r\n" + songBytes);
  icyMissing.raw = true;
  server.Serve("/icy-missing.mp3", icyMissing);
  struct Case {
    std::string url;
    int error;
  };
  const Case cases[] = {
      {"http://127.0.0.1:" + std::to_string(ClosedPort()) + "/song.mp3", BASS_ERROR_FILEOPEN},
      {server.Url("/missing.mp3"), BASS_ERROR_FILEOPEN},  // 404
      {server.Url("/silent.mp3"), BASS_ERROR_TIMEOUT},
      {server.Url("/garbage.mp3"), BASS_ERROR_FILEFORM},
      {server.Url("/icy-missing.mp3"), BASS_ERROR_FILEOPEN},  // a radio server's "not found"
      {"ftp://127.0.0.1/song.mp3", BASS_ERROR_FILEOPEN},
  };
  for (const Case& c : cases) {
    Tap tap;
    const auto started = Clock::now();
    EXPECT_EQ(BASS_StreamCreateURL(c.url.c_str(), 0, BASS_STREAM_DECODE, &Collect, &tap), 0u) << c.url;
    EXPECT_EQ(BASS_ErrorGetCode(), c.error) << c.url;
    EXPECT_LT(Clock::now() - started, 2500ms) << c.url;  // time-out 800 ms, generous margin
    // Whatever was fetched has had its end mark by the time the call returns.
    std::lock_guard lock(tap.mutex);
    EXPECT_LE(tap.ends, 1);
  }
}

TEST_F(BassUrl, ABrokenDownloadEndsTheStreamAndSaysWhy) {
  FixtureReply stalls = FixtureReply::File(song);
  stalls.stallAfter = songBytes.size() / 2;
  FixtureReply resets = FixtureReply::File(song);
  resets.resetAfter = songBytes.size() / 2;
  struct Case {
    std::string path;
    FixtureReply reply;
    int codeAtEnd;
  };
  const Case cases[] = {{"/stalls.mp3", stalls, BASS_ERROR_TIMEOUT}, {"/resets.mp3", resets, BASS_ERROR_FILEOPEN}};
  bass::Lib().config.netStallMs = 1500;  // the stall limit of a playing stream, shortened for the test
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    server.Serve(c.path, c.reply);
    Tap tap;
    const HSTREAM stream = Open(c.path, tap);
    ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
    const auto samples = DecodeAll(stream);  // ends where the bytes end
    EXPECT_LT(samples.size() / 2, 44100u * 3 / 4);
    ASSERT_TRUE(tap.WaitForEnd());
    BASS_StreamFree(stream);
    std::lock_guard lock(tap.mutex);
    EXPECT_EQ(tap.codeAtEnd, c.codeAtEnd);
    EXPECT_EQ(tap.ends, 1);
    EXPECT_LT(tap.bytes.size(), songBytes.size());
  }
}

TEST_F(BassUrl, PlaylistAnswersAreFollowedToTheirFirstEntry) {
  server.Serve("/song.mp3", FixtureReply::File(song));
  server.Serve("/radio.m3u", FixtureReply::Text("#EXTM3U\n#EXTINF:-1,Radio\nsong.mp3\nother.mp3\n", "audio/x-mpegurl"));
  server.Serve("/radio.pls", FixtureReply::Text("[playlist]\nNumberOfEntries=1\nFile1=" + server.Url("/song.mp3") + "\n",
                                                "audio/x-scpls"));
  server.Serve("/plain", FixtureReply::Text("#EXTM3U\n" + server.Url("/song.mp3") + "\n", "text/plain"));
  for (const std::string path : {"/radio.m3u", "/radio.pls", "/plain"}) {
    Tap tap;
    const HSTREAM stream = Open(path, tap);
    ASSERT_NE(stream, 0u) << path << " " << BASS_ErrorGetCode();
    ASSERT_TRUE(tap.WaitForEnd());
    BASS_StreamFree(stream);
    std::lock_guard lock(tap.mutex);
    EXPECT_TRUE(tap.bytes == songBytes) << path;  // the song's bytes, not the playlist's
  }
  BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, 0);
  Tap tap;
  EXPECT_EQ(Open("/radio.m3u", tap), 0u);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEFORM);
}

TEST_F(BassUrl, FreeingDuringTheDownloadEndsItAndCallsNoMore) {
  FixtureReply slow = FixtureReply::File(song);
  slow.trickleBytes = 512;
  slow.trickleIntervalMs = 50;  // about one and a half seconds for the whole song
  server.Serve("/slow.mp3", slow);
  Tap tap;
  const HSTREAM stream = Open("/slow.mp3", tap);
  ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
  std::this_thread::sleep_for(200ms);
  ASSERT_TRUE(BASS_StreamFree(stream));
  const int callsAtFree = tap.Calls();
  {
    std::lock_guard lock(tap.mutex);
    EXPECT_EQ(tap.ends, 1);  // the end mark came before BASS_StreamFree returned
    EXPECT_EQ(tap.codeAtEnd, BASS_ERROR_ENDED);
    EXPECT_LT(tap.bytes.size(), songBytes.size());
  }
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(tap.Calls(), callsAtFree);
}

// A DOWNLOADPROC may end its own download; no call follows. (Under ThreadSanitizer this also
// checks that the download thread's handle is set before the thread can look at it.)
TEST_F(BassUrl, TheDownloadProcMayEndItsOwnDownload) {
  FixtureReply slow = FixtureReply::File(song);
  slow.trickleBytes = 1024;
  slow.trickleIntervalMs = 10;
  server.Serve("/slow.mp3", slow);
  struct Self {
    std::atomic<bass::UrlSource*> source{nullptr};
    std::atomic<int> calls{0};
  } self;
  bass::UrlSource::Options options;
  options.url = server.Url("/slow.mp3");
  options.user = &self;
  options.proc = [](const void*, DWORD, void* user) {
    auto& me = *static_cast<Self*>(user);
    if (++me.calls > 1) return;
    bass::UrlSource* source = nullptr;
    while ((source = me.source.load()) == nullptr) std::this_thread::yield();
    source->Cancel();
  };
  const auto source = bass::UrlSource::Start(options);
  self.source = source.get();
  const auto limit = Clock::now() + 5s;
  while (source->Connected() && Clock::now() < limit) std::this_thread::sleep_for(5ms);
  ASSERT_FALSE(source->Connected()) << "the download goes on";
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(self.calls.load(), 1);
}

TEST_F(BassUrl, AServerThatPausesAndResumesLosesNothing) {
  // Longer than the connect time-out (800 ms here), shorter than a playing stream's stall limit.
  FixtureReply pauses = FixtureReply::File(song);
  pauses.pauseAfter = songBytes.size() / 2;
  pauses.pauseMs = 2500;
  server.Serve("/pauses.mp3", pauses);
  Tap tap;
  const HSTREAM stream = Open("/pauses.mp3", tap);
  ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
  const auto samples = DecodeAll(stream);
  EXPECT_NEAR(static_cast<double>(samples.size() / 2) / 44100.0, 1.0, 0.05) << "the song plays to its end";
  ASSERT_TRUE(tap.WaitForEnd());
  BASS_StreamFree(stream);
  std::lock_guard lock(tap.mutex);
  EXPECT_TRUE(tap.bytes == songBytes);
  EXPECT_EQ(tap.codeAtEnd, BASS_OK) << "a complete download, ready for the song cache";
}

TEST_F(BassUrl, LocationsAreEscapedBeforeTheyAreRequested) {
  // Escapes already in the location stay as they are; blanks and Chinese are escaped (UTF-8 here:
  // GBK is for the product's own server, which the engine chooses).
  server.Serve("/a%20b%2Bc%E6%AD%8C.mp3", FixtureReply::File(song));
  for (const std::string path : {"/a b%2Bc歌.mp3", "  /a%20b%2Bc歌.mp3"}) {
    Tap tap;
    const std::string url = path.front() == ' ' ? "  " + server.Url(path.substr(2)) + "\n" : server.Url(path);
    const HSTREAM stream = BASS_StreamCreateURL(url.c_str(), 0, BASS_STREAM_DECODE, &Collect, &tap);
    EXPECT_NE(stream, 0u) << url << " " << BASS_ErrorGetCode();
    BASS_StreamFree(stream);
  }
  for (const RecordedRequest& request : server.Requests()) EXPECT_EQ(request.target, "/a%20b%2Bc%E6%AD%8C.mp3");
}

TEST_F(BassUrl, AServerThatDripsCannotHoldTheOpenForever) {
  FixtureReply drip = FixtureReply::File(song);
  drip.trickleBytes = 8;
  drip.trickleIntervalMs = 100;  // far too slow to ever play, yet never silent long enough to time out
  server.Serve("/drip.mp3", drip);
  Tap tap;
  EXPECT_EQ(Open("/drip.mp3", tap), 0u);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_TIMEOUT);
}

// The pattern the fixture server sends for a pattern body: bytes 0..255 repeated.
std::string PatternBytes(int64_t at, size_t count) {
  std::string bytes(count, '\0');
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>((at + static_cast<int64_t>(i)) % 256);
  return bytes;
}

std::string ReadAt(bass::UrlSource& source, int64_t at, size_t count) {
  std::string bytes(count, '\0');
  if (!source.Seek(at)) return "cannot seek";
  size_t got = 0;
  while (got < count) {
    const int n = source.Read(reinterpret_cast<uint8_t*>(bytes.data()) + got, static_cast<int>(count - got));
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  bytes.resize(got);
  return bytes;
}

TEST_F(BassUrl, DownloadedBytesLiveOnDiskNotInMemory) {
  constexpr int64_t kTotal = 48LL << 20;
  FixtureReply big;
  big.patternSize = kTotal;
  server.Serve("/big", big);
  TempDir spoolDir("bass-spool");
  bass::UrlSource::Options options;
  options.url = server.Url("/big");
  options.spoolFolder = spoolDir.Path().string();
  const auto source = bass::UrlSource::Start(options);
  ASSERT_TRUE(source->SpooledToFile());
  EXPECT_EQ(ReadAt(*source, 0, 4096), PatternBytes(0, 4096));
  source->WaitForBytes(kTotal);
  EXPECT_EQ(source->Downloaded(), kTotal);
  EXPECT_EQ(source->MemoryHeld(), 0);
  EXPECT_TRUE(std::filesystem::is_empty(spoolDir.Path())) << "the spool file has no name";
  // Seeking back and forth works across everything that arrived.
  for (const int64_t at : {kTotal - 4096, int64_t{12345}, kTotal / 2 + 7, int64_t{0}}) {
    EXPECT_EQ(ReadAt(*source, at, 4096), PatternBytes(at, 4096)) << at;
  }
  source->Cancel();
}

TEST_F(BassUrl, TheDownloadWaitsForTheReaderSoWhatIsHeldStaysBounded) {
  constexpr int64_t kTotal = 40LL << 20;
  constexpr int64_t kAhead = 4LL << 20;
  FixtureReply big;
  big.patternSize = kTotal;
  server.Serve("/big", big);
  struct Case {
    const char* name;
    bool inMemory;
    int64_t ahead;  // how far the download may run ahead
    int64_t held;   // the most the process may hold in memory
  };
  const Case cases[] = {
      {"spool file", false, kAhead, 0},
      // Ahead of the reader and behind it, plus the window's whole chunks.
      {"memory window", true, bass::UrlSource::kMemoryAheadBytes,
       bass::UrlSource::kMemoryAheadBytes + bass::UrlSource::kMemoryBehindBytes + (1 << 20)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bass::UrlSource::Options options;
    options.url = server.Url("/big");
    options.spoolInMemory = c.inMemory;
    options.aheadBytes = kAhead;
    const auto source = bass::UrlSource::Start(options);
    // Read the whole body in pieces; after each, the download has not run far ahead.
    std::vector<uint8_t> piece(1 << 20);
    int64_t at = 0;
    bool bytesRight = true;
    int64_t mostAhead = 0;
    int64_t mostHeld = 0;
    while (at < kTotal) {
      int n = source->Read(piece.data(), static_cast<int>(piece.size()));
      ASSERT_GT(n, 0) << "at " << at;
      const std::string expected = PatternBytes(at, static_cast<size_t>(n));
      bytesRight &= std::memcmp(piece.data(), expected.data(), static_cast<size_t>(n)) == 0;
      at += n;
      mostAhead = std::max(mostAhead, source->Downloaded() - at);
      mostHeld = std::max(mostHeld, source->MemoryHeld());
    }
    EXPECT_TRUE(bytesRight);
    // curl hands over at most a few hundred kilobytes past the point where it is told to wait.
    EXPECT_LE(mostAhead, c.ahead + (1 << 20));
    EXPECT_LE(mostHeld, c.held);
    if (c.inMemory) {
      EXPECT_FALSE(source->Seek(0)) << "the memory window has given the start back";
    }
    source->Cancel();
  }
}

class BassUrlPlayed : public BassUrl {
 protected:
  void SetUp() override {
    BassUrl::SetUp();
    bass::UseManualOutput(true);
    ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr, nullptr));
  }
  void TearDown() override {
    BASS_Free();
    bass::UseManualOutput(false);
  }
};

TEST_F(BassUrlPlayed, ASeekPastWhatHasArrivedReturnsAtOnceAndLandsExactly) {
  // The sample value tells the frame: value = frame / 132300.
  const std::string ramp = MakeAudio(dir, "ramp.wav", "aevalsrc=t/3:s=44100:c=stereo:d=3", {"-c:a", "pcm_f32le"});
  const std::string bytes = ReadFileBytes(ramp);
  FixtureReply paused = FixtureReply::File(ramp);
  paused.pauseAfter = bytes.size() / 3;  // the first second, then a long silence
  paused.pauseMs = 4000;
  server.Serve("/ramp.wav", paused);
  Tap tap;
  const HSTREAM stream = BASS_StreamCreateURL(server.Url("/ramp.wav").c_str(), 0, 0, &Collect, &tap);
  ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
  ASSERT_TRUE(BASS_ChannelPlay(stream, FALSE));
  std::vector<float> block(2 * 4410);
  ASSERT_TRUE(bass::PullOutput(block.data(), 4410));

  const QWORD target = BASS_ChannelSeconds2Bytes(stream, 2.0);
  ASSERT_TRUE(BASS_ChannelSetPosition(stream, target, BASS_POS_BYTE));
  // The call came back while the bytes of the target were still on their way.
  EXPECT_LT(BASS_StreamGetFilePosition(stream, BASS_FILEPOS_DOWNLOAD), bytes.size() * 2 / 3);
  EXPECT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), target);
  // Once the server goes on, playback goes on exactly there.
  ASSERT_TRUE(bass::PullOutput(block.data(), 1024));
  EXPECT_NEAR(block[0] * 132300.0, 88200.0, 0.05);
  EXPECT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), target + 1024 * 8);
  BASS_StreamFree(stream);
}

}  // namespace
}  // namespace orvane::test
