// Tags and lengths of files read from their headers (TAGS_OpenFile): every format the player
// lists, compared with what the decoder makes of the same file; files that are not regular files;
// damaged headers; several threads at once.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "audio/bass_fixtures.h"
#include "bass.h"
#include "support/temp_dir.h"
#include "tags.h"

namespace orvane::test {
namespace {

using namespace std::chrono_literals;

struct FileRead {
  int error = BASS_OK;
  std::string title, artist, album;
  double seconds = -1;
};

FileRead ReadFile(const std::string& path) {
  FileRead read;
  TAGS_FILE* file = TAGS_OpenFile(path.c_str());
  read.error = BASS_ErrorGetCode();
  if (!file) return read;
  read.title = TAGS_FileRead(file, "%TITL");
  read.artist = TAGS_FileRead(file, "%ARTI");
  read.album = TAGS_FileRead(file, "%ALBM");
  read.seconds = TAGS_FileSeconds(file);
  TAGS_CloseFile(file);
  return read;
}

// The same through the decoder: a decoding stream.
FileRead ReadStream(const std::string& path) {
  FileRead read;
  const HSTREAM stream = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, BASS_STREAM_DECODE);
  read.error = BASS_ErrorGetCode();
  if (!stream) return read;
  read.title = TAGS_Read(stream, "%TITL");
  read.artist = TAGS_Read(stream, "%ARTI");
  read.album = TAGS_Read(stream, "%ALBM");
  read.seconds = BASS_ChannelBytes2Seconds(stream, BASS_ChannelGetLength(stream, BASS_POS_BYTE));
  BASS_StreamFree(stream);
  return read;
}

const std::vector<std::string> kMetadata = {"-metadata", "title=春天里 Café", "-metadata", "artist=汪峰",
                                            "-metadata", "album=Été 专辑"};

struct Fixture {
  std::string name;
  std::vector<std::string> args;  // codec and container
  bool tagged;                    // the container holds the three texts
};

// One second of a stereo tone in each format the player lists, most of them tagged.
const std::vector<Fixture>& Fixtures() {
  static const std::vector<Fixture> fixtures = {
      {"id3v23.mp3", {"-c:a", "libmp3lame", "-id3v2_version", "3"}, true},
      {"id3v24-cbr.mp3", {"-c:a", "libmp3lame", "-id3v2_version", "4", "-write_xing", "0"}, true},
      {"vbr.mp3", {"-c:a", "libmp3lame", "-q:a", "4"}, true},
      {"layer2.mp2", {"-c:a", "mp2", "-f", "mp2"}, false},
      {"song.flac", {"-c:a", "flac"}, true},
      {"vorbis.ogg", {"-c:a", "libvorbis"}, true},
      {"opus.ogg", {"-c:a", "libopus"}, true},
      {"flac.oga", {"-c:a", "flac", "-f", "ogg"}, true},
      {"pcm.wav", {"-c:a", "pcm_s16le"}, true},
      {"pcm.aif", {"-c:a", "pcm_s16be", "-write_id3v2", "1"}, true},
      {"aac.m4a", {"-c:a", "aac"}, true},
      {"wma.wma", {"-c:a", "wmav2"}, true},
      {"adts.aac", {"-c:a", "aac", "-f", "adts", "-write_id3v2", "1"}, true},
  };
  return fixtures;
}

class TagsFile : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = new TempDir("tags-file");
    for (const Fixture& f : Fixtures()) {
      std::vector<std::string> args = {"-ac", "2"};
      args.insert(args.end(), f.args.begin(), f.args.end());
      if (f.tagged) args.insert(args.end(), kMetadata.begin(), kMetadata.end());
      ASSERT_FALSE(MakeAudio(*dir, f.name, "sine=frequency=440:sample_rate=44100:duration=1", args).empty())
          << f.name;
    }
  }
  static void TearDownTestSuite() {
    delete dir;
    dir = nullptr;
  }
  static std::string Path(const std::string& name) { return dir->File(name); }

  static TempDir* dir;
};

TempDir* TagsFile::dir = nullptr;

TEST_F(TagsFile, EveryFormatReadsAsTheDecoderReadsIt) {
  for (const Fixture& f : Fixtures()) {
    SCOPED_TRACE(f.name);
    const FileRead file = ReadFile(Path(f.name));
    const FileRead stream = ReadStream(Path(f.name));
    ASSERT_EQ(file.error, BASS_OK);
    ASSERT_EQ(stream.error, BASS_OK);
    EXPECT_EQ(file.title, f.tagged ? "春天里 Café" : "");
    EXPECT_EQ(file.artist, f.tagged ? "汪峰" : "");
    EXPECT_EQ(file.album, f.tagged ? "Été 专辑" : "");
    EXPECT_EQ(file.title, stream.title);
    EXPECT_EQ(file.artist, stream.artist);
    EXPECT_EQ(file.album, stream.album);
    // Containers count their encoder's priming and padding differently; a frame or two apart.
    EXPECT_NEAR(file.seconds, stream.seconds, 0.06);
    EXPECT_NEAR(file.seconds, 1.0, 0.08);
  }
}

TEST_F(TagsFile, WhatIsNotARegularAudioFileFailsAtOnce) {
  TempDir scratch("tags-bad");
  const std::string fifo = scratch.File("pipe.mp3");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  WriteFileBytes(scratch.File("empty.mp3"), "");
  WriteFileBytes(scratch.File("text.mp3"), "This is a text file that someone named .mp3, not audio at all.\n");
  std::filesystem::create_directory(scratch.File("folder.mp3"));
  struct Case {
    std::string path;
    int error;
  };
  const Case cases[] = {
      {scratch.File("missing.mp3"), BASS_ERROR_FILEOPEN}, {fifo, BASS_ERROR_FILEOPEN},
      {scratch.File("folder.mp3"), BASS_ERROR_FILEOPEN},  {"/dev/null", BASS_ERROR_FILEOPEN},
      {scratch.File("empty.mp3"), BASS_ERROR_FILEFORM},   {scratch.File("text.mp3"), BASS_ERROR_FILEFORM},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    // On a thread of its own, so a read that waited for a FIFO's writer shows as a failure here
    // instead of hanging the suite; a writer is then opened to let it go.
    auto read = std::async(std::launch::async, [&] { return ReadFile(c.path); });
    if (read.wait_for(10s) != std::future_status::ready) {
      ADD_FAILURE() << "the read waited";
      ::close(::open(c.path.c_str(), O_WRONLY | O_NONBLOCK));
    }
    const FileRead result = read.get();
    EXPECT_EQ(result.error, c.error);
  }
  EXPECT_EQ(TAGS_OpenFile(nullptr), nullptr);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
  EXPECT_STREQ(TAGS_FileRead(nullptr, "%TITL"), "");
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
}

// Damaged files of every format, cut short or with bytes changed, must not make the reader read
// outside its buffers (the sanitizer build checks) nor invent a length.
TEST_F(TagsFile, DamagedHeadersAreReadSafely) {
  TempDir scratch("tags-damaged");
  std::mt19937 random(20240613);
  for (const Fixture& f : Fixtures()) {
    SCOPED_TRACE(f.name);
    const std::string whole = ReadFileBytes(Path(f.name));
    std::vector<std::string> damaged;
    for (size_t cut : {size_t{3}, size_t{7}, size_t{10}, size_t{27}, size_t{45}, size_t{100}, size_t{500},
                       whole.size() / 2, whole.size() - 200, whole.size() - 1})
      damaged.push_back(whole.substr(0, std::min(cut, whole.size())));
    for (int i = 0; i < 40; ++i) {
      std::string copy = whole;
      // Headers live in the first and last kilobytes; change a few bytes there.
      for (int n = 0; n < 4; ++n) {
        const size_t span = std::min<size_t>(copy.size(), 1024);
        const size_t at = (random() & 1) ? random() % span : copy.size() - 1 - random() % span;
        copy[at] = static_cast<char>(random());
      }
      damaged.push_back(copy);
    }
    for (size_t i = 0; i < damaged.size(); ++i) {
      const std::string path = scratch.File(std::to_string(i) + "-" + f.name);
      WriteFileBytes(path, damaged[i]);
      const FileRead read = ReadFile(path);
      // A reader that went astray would surface as an unknown error (an exception stopped at the
      // interface); no codec holds a second of sound in less than a byte.
      EXPECT_NE(read.error, BASS_ERROR_UNKNOWN) << i;
      EXPECT_LE(read.seconds, static_cast<double>(damaged[i].size())) << i;
      std::filesystem::remove(path);
    }
  }
}

// Hostile sizes in front of real audio: the reader neither allocates them nor reads past them.
TEST_F(TagsFile, HostileSizesAreCapped) {
  TempDir scratch("tags-hostile");
  const std::string audio = ReadFileBytes(Path("id3v24-cbr.mp3"));
  const size_t tagSize = 10 + ((audio[6] & 0x7F) << 21 | (audio[7] & 0x7F) << 14 | (audio[8] & 0x7F) << 7 | (audio[9] & 0x7F));
  const std::string frames = audio.substr(tagSize);
  // An ID3v2 tag that claims 256 MB, holding a title frame that claims 2 GB.
  std::string id3 = std::string("ID3\x03\x00\x00\x7F\x7F\x7F\x7F", 10) + "TIT2" + std::string("\x7F\xFF\xFF\xFF\x00\x00", 6) +
                    std::string("\x00" "Title", 6);
  WriteFileBytes(scratch.File("id3.mp3"), id3 + frames);
  // An APE footer that claims more items than the file holds.
  std::string ape = std::string("APETAGEX") + std::string("\xD0\x07\x00\x00", 4) + std::string("\xFF\xFF\xFF\x0F", 4) +
                    std::string("\xFF\xFF\x00\x00", 4) + std::string(12, '\0');
  WriteFileBytes(scratch.File("ape.mp3"), frames + ape);
  // An MP4 whose moov claims to be larger than the file, and an Ogg page pointing past the end.
  WriteFileBytes(scratch.File("box.m4a"), std::string("\x00\x00\x00\x10" "ftypM4A \x00\x00\x00\x00", 16) +
                                              std::string("\x7F\xFF\xFF\xFF" "moov", 8) + std::string(64, '\0'));
  WriteFileBytes(scratch.File("page.ogg"), std::string("OggS\x00\x02", 6) + std::string(20, '\0') + "\xFF" +
                                               std::string(255, '\xFF') + "\x01vorbis");
  for (const char* name : {"id3.mp3", "ape.mp3", "box.m4a", "page.ogg"}) {
    SCOPED_TRACE(name);
    const FileRead read = ReadFile(scratch.File(name));
    EXPECT_EQ(read.artist, "");
    EXPECT_LT(read.seconds, 10.0);
  }
}

// The list reads tags of songs being added on a worker: readers on several threads at once see
// what one thread sees.
TEST_F(TagsFile, ThreadsReadAtTheSameTime) {
  std::vector<FileRead> expected;
  for (const Fixture& f : Fixtures()) expected.push_back(ReadFile(Path(f.name)));
  std::vector<std::thread> threads;
  std::atomic<int> mismatches{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 5; ++round) {
        for (size_t i = 0; i < Fixtures().size(); ++i) {
          const size_t k = (i + static_cast<size_t>(t)) % Fixtures().size();
          const FileRead read = ReadFile(Path(Fixtures()[k].name));
          if (read.title != expected[k].title || read.artist != expected[k].artist ||
              read.seconds != expected[k].seconds)
            ++mismatches;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(mismatches, 0);
}

}  // namespace
}  // namespace orvane::test
