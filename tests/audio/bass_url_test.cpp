// URL streams against the local fixture server: the download tap, sizes, failures and their codes,
// playlists, and freeing a stream while it downloads. Decoding channels, so no device is needed.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

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
  const Case cases[] = {
      {"/sized.mp3", sized, songBytes.size()},
      {"/unsized.mp3", unsized, 0},
      {"/chunked.mp3", chunked, 0},
      {"/trickled.mp3", trickled, songBytes.size()},
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
  struct Case {
    std::string url;
    int error;
  };
  const Case cases[] = {
      {"http://127.0.0.1:" + std::to_string(ClosedPort()) + "/song.mp3", BASS_ERROR_FILEOPEN},
      {server.Url("/missing.mp3"), BASS_ERROR_FILEOPEN},  // 404
      {server.Url("/silent.mp3"), BASS_ERROR_TIMEOUT},
      {server.Url("/garbage.mp3"), BASS_ERROR_FILEFORM},
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

}  // namespace
}  // namespace orvane::test
