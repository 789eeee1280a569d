// A corpus of damaged audio files made at test time: cut at many points, empty, random bytes, absurd
// header sizes, zero channels or rate, huge ID3v2 sizes, wrong extensions, tracker modules that
// loop for ever. Each one opens with an error code or plays to an end; nothing crashes, hangs or
// eats memory. Through the engine, each either fails with 1006 (which the player skips by its error
// rule) or plays to its end (and the player moves on).

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ManualOutput.h"
#include "audio/AudioEngine.h"
#include "audio/bass/bass.h"
#include "audio/bass/tags.h"
#include "bass_fixtures.h"
#include "event_loop.h"
#include "support/temp_dir.h"

namespace orvane::test {
namespace {

constexpr double kRate = 44100.0;
// Nothing in the corpus is longer than a few seconds; a decoder still producing after this long is
// looping for ever.
constexpr size_t kEndlessFrames = static_cast<size_t>(120 * kRate);

struct BrokenFile {
  std::string name;
  std::string why;
};

void PutLe32(std::string& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}
void PutLe16(std::string& bytes, size_t at, uint16_t value) {
  bytes[at] = static_cast<char>(value & 0xFF);
  bytes[at + 1] = static_cast<char>(value >> 8);
}
void PutBe32(std::string& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((value >> (8 * (3 - i))) & 0xFF);
}

// A ProTracker module: one pattern of a looped square wave. endless: the last row jumps back to the
// start, so the song never ends by itself.
std::string Module(bool endless) {
  std::string mod(20, '\0');
  for (int i = 0; i < 31; ++i) {
    std::string header(30, '\0');
    if (i == 0) {
      header[23] = 16;  // length: 16 words
      header[25] = 64;  // volume
      header[29] = 16;  // repeat length
    }
    mod += header;
  }
  mod += static_cast<char>(1);
  mod += static_cast<char>(127);
  mod += std::string(128, '\0');
  mod += "M.K.";
  std::string pattern(64 * 4 * 4, '\0');
  pattern[0] = 0x01;
  pattern[1] = static_cast<char>(0xAC);
  pattern[2] = 0x10;
  pattern[16 * 16 + 2] = endless ? 0x0B : 0x0D;  // row 16: jump to order 0 (for ever), or end
  mod += pattern;
  for (int i = 0; i < 32; ++i) mod += static_cast<char>(i < 16 ? 100 : -100);
  return mod;
}

size_t Find(const std::string& bytes, const std::string& what) {
  const size_t at = bytes.find(what);
  EXPECT_NE(at, std::string::npos) << "no " << what;
  return at == std::string::npos ? 0 : at;
}

class BrokenAudio : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    corpusDir = new TempDir("broken-audio");
    corpus = new std::vector<BrokenFile>(MakeCorpus(*corpusDir));
  }
  static void TearDownTestSuite() {
    delete corpus;
    delete corpusDir;
  }

  static void Add(std::vector<BrokenFile>& files, const TempDir& dir, const std::string& name,
                  const std::string& bytes, const std::string& why) {
    WriteFileBytes(dir.File(name), bytes);
    files.push_back({name, why});
  }

  static std::vector<BrokenFile> MakeCorpus(const TempDir& dir) {
    std::vector<BrokenFile> files;
    const std::string tone = "aevalsrc=0.3*sin(2*PI*440*t):s=44100:c=stereo:d=1";
    struct Base {
      std::string name;
      std::vector<std::string> args;
    };
    const Base bases[] = {
        {"base.mp3", {"-c:a", "libmp3lame", "-id3v2_version", "3", "-metadata", "title=Tone"}},
        {"base.wav", {"-c:a", "pcm_s16le", "-fflags", "+bitexact"}},
        {"base.ogg", {"-c:a", "libvorbis"}},
        {"base.flac", {"-c:a", "flac"}},
        {"base.m4a", {"-c:a", "aac"}},
    };
    std::map<std::string, std::string> base;
    for (const Base& b : bases) {
      const std::string path = MakeAudio(dir, b.name, tone, b.args);
      EXPECT_FALSE(path.empty()) << b.name;
      base[b.name] = ReadFileBytes(path);
      std::remove(path.c_str());
    }
    base["base.mod"] = Module(false);

    // Cut at many points: inside the first header, after it, in the middle of frames, one byte short.
    for (const auto& [name, bytes] : base) {
      const std::string ext = name.substr(name.find('.'));
      for (const size_t cut : {size_t{0}, size_t{1}, size_t{4}, size_t{12}, size_t{45}, size_t{300}, bytes.size() / 10,
                               bytes.size() / 2, bytes.size() - 1}) {
        if (cut >= bytes.size()) continue;
        Add(files, dir, "cut" + std::to_string(cut) + ext, bytes.substr(0, cut), "cut at " + std::to_string(cut));
      }
    }

    // Random bytes under audio names.
    std::mt19937 random(20240611);
    for (const auto& [size, ext] : std::vector<std::pair<size_t, std::string>>{
             {1, ".mp3"}, {100, ".wav"}, {4096, ".ogg"}, {65536, ".flac"}, {200000, ".mp3"}, {3000, ".mod"}}) {
      std::string noise(size, '\0');
      for (char& c : noise) c = static_cast<char>(random());
      Add(files, dir, "noise" + std::to_string(size) + ext, noise, "random bytes");
    }
    // A valid header followed by random bytes.
    {
      std::string bytes = base["base.wav"].substr(0, Find(base["base.wav"], "data") + 8);
      for (int i = 0; i < 50000; ++i) bytes += static_cast<char>(random());
      Add(files, dir, "wav-header-then-noise.wav", bytes, "noise after a good header");
      std::string mp3 = base["base.mp3"];
      for (size_t i = mp3.size() / 3; i < mp3.size() * 2 / 3; ++i) mp3[i] = static_cast<char>(random());
      Add(files, dir, "mp3-noise-in-the-middle.mp3", mp3, "noise in the middle of the frames");
    }

    // WAV header fields: absurd sizes, zero channels, zero rate, zero bits, zero block align.
    {
      const std::string& wav = base["base.wav"];
      const size_t fmt = Find(wav, "fmt ");
      const size_t data = Find(wav, "data");
      const struct {
        const char* name;
        size_t at;
        uint32_t value;
        int width;
      } edits[] = {
          {"wav-riff-size-huge.wav", 4, 0xFFFFFFFFu, 4},  {"wav-data-size-huge.wav", data + 4, 0xFFFFFFF0u, 4},
          {"wav-fmt-size-huge.wav", fmt + 4, 0x7FFFFFFFu, 4}, {"wav-zero-channels.wav", fmt + 10, 0, 2},
          {"wav-many-channels.wav", fmt + 10, 0xFFFF, 2},   {"wav-zero-rate.wav", fmt + 12, 0, 4},
          {"wav-huge-rate.wav", fmt + 12, 0xFFFFFFFFu, 4},  {"wav-zero-bits.wav", fmt + 22, 0, 2},
          {"wav-zero-align.wav", fmt + 20, 0, 2},           {"wav-odd-format.wav", fmt + 8, 0x1234, 2},
      };
      for (const auto& e : edits) {
        std::string bytes = wav;
        if (e.width == 4) PutLe32(bytes, e.at, e.value);
        else PutLe16(bytes, e.at, static_cast<uint16_t>(e.value));
        Add(files, dir, e.name, bytes, e.name);
      }
    }

    // FLAC stream info: zero rate, a huge metadata block, an absurd total.
    {
      const std::string& flac = base["base.flac"];
      std::string zeroRate = flac;
      zeroRate[18] = 0;
      zeroRate[19] = 0;
      zeroRate[20] = static_cast<char>(zeroRate[20] & 0x0F);
      Add(files, dir, "flac-zero-rate.flac", zeroRate, "rate 0");
      std::string hugeBlock = flac;
      hugeBlock[5] = hugeBlock[6] = hugeBlock[7] = static_cast<char>(0xFF);
      Add(files, dir, "flac-huge-block.flac", hugeBlock, "metadata block of 16 MB");
      std::string hugeTotal = flac;
      for (int i = 21; i < 26; ++i) hugeTotal[i] = static_cast<char>(0xFF);
      Add(files, dir, "flac-huge-total.flac", hugeTotal, "2^36 samples announced");
    }

    // MP4 boxes with absurd sizes and counts.
    {
      const std::string& m4a = base["base.m4a"];
      std::string ftyp = m4a;
      PutBe32(ftyp, 0, 0x7FFFFFFFu);
      Add(files, dir, "m4a-ftyp-huge.m4a", ftyp, "first box of 2 GB");
      std::string moov = m4a;
      PutBe32(moov, Find(moov, "moov") - 4, 0xFFFFFFF0u);
      Add(files, dir, "m4a-moov-huge.m4a", moov, "movie box of 4 GB");
      std::string stsz = m4a;
      PutBe32(stsz, Find(stsz, "stsz") + 12, 0x7FFFFFFFu);
      Add(files, dir, "m4a-stsz-count-huge.m4a", stsz, "two billion sample sizes announced");
      std::string stco = m4a;
      PutBe32(stco, Find(stco, "stco") + 8, 0x7FFFFFFFu);
      Add(files, dir, "m4a-stco-count-huge.m4a", stco, "two billion chunk offsets announced");
    }

    // ID3v2 tags whose size is huge or beyond the file, and a file that is only a tag.
    {
      const std::string& mp3 = base["base.mp3"];
      const size_t audio = 10 + ((mp3[6] & 0x7F) << 21 | (mp3[7] & 0x7F) << 14 | (mp3[8] & 0x7F) << 7 | (mp3[9] & 0x7F));
      const std::string frames = mp3.substr(audio);
      const std::string hugeTag = std::string("ID3\x04\x00\x00\x7F\x7F\x7F\x7F", 10);
      Add(files, dir, "id3-huge.mp3", hugeTag + frames, "ID3v2 of 256 MB before the frames");
      Add(files, dir, "id3-only.mp3", hugeTag, "an ID3v2 header and nothing else");
      std::string beyond = mp3;
      beyond[9] = static_cast<char>(0x7F);
      beyond[8] = static_cast<char>(0x7F);
      Add(files, dir, "id3-beyond-the-end.mp3", beyond, "ID3v2 longer than the file");
      std::string nested = std::string("ID3\x03\x00\x00\x00\x00\x00\x0A", 10) + hugeTag + frames;
      Add(files, dir, "id3-nested.mp3", nested, "a tag inside a tag");
    }

    // Wrong extensions: content decides.
    Add(files, dir, "wav-named.mp3", base["base.wav"], "WAV named .mp3");
    Add(files, dir, "mp3-named.flac", base["base.mp3"], "MP3 named .flac");
    Add(files, dir, "ogg-named.wav", base["base.ogg"], "Ogg named .wav");
    Add(files, dir, "mod-named.mp3", base["base.mod"], "module named .mp3");
    Add(files, dir, "text-named.m4a", "#EXTM3U\nhttp://example.invalid/x.mp3\n", "a playlist named .m4a");

    // Tracker modules that loop for ever.
    Add(files, dir, "endless.mod", Module(true), "position jump back to the start");
    std::string loop = Module(false);
    const size_t pattern = 20 + 31 * 30 + 2 + 128 + 4;
    loop[pattern + 2] = 0x0E;  // row 0: E60, loop start
    loop[pattern + 3] = 0x60;
    loop[pattern + 16 * 16 + 2] = 0x0E;  // row 16: E6F, loop fifteen times…
    loop[pattern + 16 * 16 + 3] = 0x6F;
    loop[pattern + 17 * 16 + 2] = 0x0B;  // …then jump back to the start
    Add(files, dir, "pattern-loop.mod", loop, "pattern loop inside a song loop");
    return files;
  }

  static TempDir* corpusDir;
  static std::vector<BrokenFile>* corpus;
};

TempDir* BrokenAudio::corpusDir = nullptr;
std::vector<BrokenFile>* BrokenAudio::corpus = nullptr;

// Resident and peak memory of this process, in kB (Linux /proc).
std::pair<long, long> MemoryKb() {
  std::ifstream status("/proc/self/status");
  long rss = 0;
  long peak = 0;
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) rss = std::stol(line.substr(6));
    if (line.rfind("VmHWM:", 0) == 0) peak = std::stol(line.substr(6));
  }
  return {rss, peak};
}

// Opens and decodes every file; returns how many played.
int DecodeCorpus(const TempDir& dir, const std::vector<BrokenFile>& files) {
  int played = 0;
  std::vector<float> block(16384);
  for (const BrokenFile& f : files) {
    SCOPED_TRACE(f.name + " (" + f.why + ")");
    const HSTREAM stream = BASS_StreamCreateFile(FALSE, dir.File(f.name).c_str(), 0, 0, BASS_STREAM_DECODE);
    if (stream == 0) {
      const int error = BASS_ErrorGetCode();
      EXPECT_TRUE(error == BASS_ERROR_FILEFORM || error == BASS_ERROR_CODEC || error == BASS_ERROR_FILEOPEN)
          << "error " << error;
      continue;
    }
    ++played;
    TAGS_Read(stream, "%TITL%ARTI%ALBM");
    size_t frames = 0;
    for (;;) {
      const DWORD got = BASS_ChannelGetData(stream, block.data(), static_cast<DWORD>(block.size() * sizeof(float)));
      if (got == static_cast<DWORD>(-1)) break;
      frames += got / 8;
      if (frames > kEndlessFrames) break;
    }
    EXPECT_LE(frames, kEndlessFrames) << "still playing after two minutes";
    EXPECT_EQ(BASS_ErrorGetCode(), frames > kEndlessFrames ? BASS_OK : BASS_ERROR_ENDED);
    // Seeking about in what was damaged is no crash either.
    BASS_ChannelSetPosition(stream, BASS_ChannelSeconds2Bytes(stream, 0.5), BASS_POS_BYTE);
    BASS_ChannelGetData(stream, block.data(), static_cast<DWORD>(block.size() * sizeof(float)));
    EXPECT_TRUE(BASS_StreamFree(stream));
  }
  return played;
}

TEST_F(BrokenAudio, EachOpensWithAnErrorCodeOrPlaysToAnEndWithoutGrowingMemory) {
  ASSERT_GE(corpus->size(), 50u);
  [[maybe_unused]] const auto [rss0, peak0] = MemoryKb();  // unused where a sanitizer runs
  const int played = DecodeCorpus(*corpusDir, *corpus);
  EXPECT_GT(played, 0);
  EXPECT_LT(played, static_cast<int>(corpus->size()));
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  // No header made the decoder take a big block: the first pass (which also loads the decoder
  // module) peaks below 64 MB more. A sanitizer's allocator would blur these figures; its leak
  // check covers that build instead.
  const auto [rss1, peak1] = MemoryKb();
  EXPECT_LT(peak1 - peak0, 64 * 1024) << "kB";
  // Going through the corpus again costs nothing more once the allocator has settled: nothing leaks.
  DecodeCorpus(*corpusDir, *corpus);
  const auto [rss2, peak2] = MemoryKb();
  DecodeCorpus(*corpusDir, *corpus);
  const auto [rss3, peak3] = MemoryKb();
  EXPECT_LT(rss3 - rss2, 4 * 1024) << "kB";
  std::printf("broken-audio corpus: %zu files, %d play; peak %+ld kB on the first pass; RSS %+ld kB, %+ld kB on the "
              "next two\n",
              corpus->size(), played, peak1 - peak0, rss2 - rss1, rss3 - rss2);
#endif
}

TEST_F(BrokenAudio, ThePlayerEitherSkipsEachByItsErrorRuleOrPlaysItToItsEnd) {
  ::setenv("SDL_AUDIODRIVER", "dummy", 1);
  QtApp();
  bass::UseManualOutput(true);
  auto engine = std::make_unique<audio::TAudioEngine>(nullptr, corpusDir->File("no-plugins/"), nullptr);
  ASSERT_EQ(engine->StartupError(), 0);
  std::vector<std::pair<int32_t, int32_t>> errors;
  int trackEnds = 0;
  engine->OnError = [&](int32_t code, int32_t detail) { errors.emplace_back(code, detail); };
  engine->OnTrackEnd = [&](int32_t) { ++trackEnds; };
  std::vector<float> block(2 * 4096);
  for (const BrokenFile& f : *corpus) {
    SCOPED_TRACE(f.name + " (" + f.why + ")");
    errors.clear();
    trackEnds = 0;
    audio::TTags tags;
    engine->ReadTags(corpusDir->File(f.name), tags);
    engine->Open(corpusDir->File(f.name));
    ASSERT_TRUE(ProcessEventsUntil([&] { return !engine->OpenPending(); }, 20000));
    if (engine->State() == audio::StateOpenFailed) {
      // What the player's error timer acts on (it skips to the next song one second later).
      ASSERT_EQ(errors.size(), 1u);
      EXPECT_EQ(errors[0].first, audio::StateOpenFailed);
      EXPECT_NE(errors[0].second, 0);
      continue;
    }
    ASSERT_EQ(engine->State(), audio::StatePlaying);
    // Played to its end (the player then moves on), however long it claimed to be.
    for (size_t pulled = 0; trackEnds == 0; pulled += 4096) {
      ASSERT_LT(pulled, kEndlessFrames) << "no end after two minutes " << BASS_ChannelIsActive(engine->Channel()) << " pos " << engine->GetPosition() << " len " << engine->GetLength() << " state " << engine->State();
      ASSERT_TRUE(bass::PullOutput(block.data(), 4096));
      QCoreApplication::processEvents();
    }
    EXPECT_EQ(engine->State(), audio::StateEnded);
  }
  engine.reset();
  bass::UseManualOutput(false);
}

}  // namespace
}  // namespace orvane::test
