// The audio library without a sound device: decoding channels (BASS_STREAM_DECODE) for formats,
// bad files, positions, seeking, tags and plug-ins.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "bass.h"
#include "support/temp_dir.h"
#include "tags.h"
#include "audio/bass_fixtures.h"
#include "text/Legacy.h"

namespace orvane::test {
namespace {

constexpr double kRate = 44100.0;

QWORD Frames(double seconds) { return static_cast<QWORD>(std::llround(seconds * kRate)); }

// A tiny ProTracker module: one pattern, one looped square-wave sample on channel 1.
std::string MakeModule(const TempDir& dir) {
  std::string mod(20, '\0');  // title
  for (int i = 0; i < 31; ++i) {
    std::string header(30, '\0');
    if (i == 0) {
      header[22] = 0;
      header[23] = 16;  // length: 16 words = 32 bytes
      header[25] = 64;  // volume
      header[29] = 16;  // repeat length: 16 words
    }
    mod += header;
  }
  mod += static_cast<char>(1);    // song length: one pattern
  mod += static_cast<char>(127);  // restart
  mod += std::string(128, '\0');  // order table: pattern 0
  mod += "M.K.";
  std::string pattern(64 * 4 * 4, '\0');
  pattern[0] = 0x01;                        // sample 1, period 428 (C-2)
  pattern[1] = static_cast<char>(0xAC);
  pattern[2] = 0x10;
  pattern[16 * 16 + 2] = 0x0D;              // row 16: pattern break — the song ends
  mod += pattern;
  for (int i = 0; i < 32; ++i) mod += static_cast<char>(i < 16 ? 100 : -100);
  const std::string path = dir.File("tracker.mod");
  WriteFileBytes(path, mod);
  return path;
}

struct FormatCase {
  std::string name;
  std::string source;  // one second of a 440 Hz sine, amplitude 1/8
  std::vector<std::string> codecArgs;
  bool lossless;
};

TEST(BassDecode, EveryFormatOpensByContentAtFullLevel) {
  TempDir dir("bass-formats");
  // Stereo sources at amplitude 1/8, and one mono source that must come out at full level.
  const std::string stereo = "aevalsrc=0.125*sin(2*PI*440*t):s=44100:c=stereo:d=1";
  const std::string stereo48k = "aevalsrc=0.125*sin(2*PI*440*t):s=48000:c=stereo:d=1";
  const std::string mono = "sine=frequency=440:sample_rate=22050:duration=1";
  const FormatCase cases[] = {
      {"tone.mp3", stereo, {"-c:a", "libmp3lame", "-b:a", "128k"}, false},
      {"tone.mp2", stereo, {"-c:a", "mp2"}, false},
      {"tone.ogg", stereo, {"-c:a", "libvorbis"}, false},
      {"tone.oga", stereo48k, {"-c:a", "libopus"}, false},
      {"tone.flac", stereo48k, {"-c:a", "flac"}, true},
      {"tone.wav", mono, {"-c:a", "pcm_s16le"}, true},
      {"tone.aif", stereo, {"-c:a", "pcm_s16be", "-f", "aiff"}, true},
      {"tone.aac", stereo, {"-c:a", "aac", "-f", "adts"}, false},
      {"tone.m4a", stereo, {"-c:a", "aac"}, false},
      {"tone.wma", stereo, {"-c:a", "wmav2", "-f", "asf"}, false},
      // The further types the add dialog lists.
      {"tone.aiff", stereo, {"-c:a", "pcm_s16be", "-f", "aiff"}, true},
      {"tone.wv", stereo, {"-c:a", "wavpack"}, true},
      {"tone.mka", stereo, {"-c:a", "libvorbis", "-f", "matroska"}, false},
      {"tone.webm", stereo48k, {"-c:a", "libopus", "-f", "webm"}, false},
      {"tone.ac3", stereo48k, {"-c:a", "ac3", "-f", "ac3"}, false},
      {"tone.m4b", stereo, {"-c:a", "aac", "-f", "mp4"}, false},
      {"vorbis-named.mp3", stereo, {"-c:a", "libvorbis", "-f", "ogg"}, false},  // content decides
  };
  for (const FormatCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = MakeAudio(dir, c.name, c.source, c.codecArgs);
    ASSERT_FALSE(path.empty());
    const HSTREAM stream = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, BASS_STREAM_DECODE);
    ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
    const QWORD containerLength = BASS_ChannelGetLength(stream, BASS_POS_BYTE);
    // Raw AAC has no length in it: estimated from the bit rate.
    EXPECT_NEAR(BASS_ChannelBytes2Seconds(stream, containerLength), 1.0, 0.1);

    const auto samples = DecodeAll(stream);
    const size_t frames = samples.size() / 2;
    EXPECT_NEAR(static_cast<double>(frames) / kRate, 1.0, 0.06);
    // Once the end has been decoded the length is the exact count.
    EXPECT_EQ(BASS_ChannelGetLength(stream, BASS_POS_BYTE), frames * 8);
    EXPECT_EQ(BASS_ChannelIsActive(stream), static_cast<DWORD>(BASS_ACTIVE_STOPPED));

    // Both sides carry the tone at its level (mono is not lowered by 3 dB).
    float left = 0, right = 0;
    for (size_t i = frames / 4; i < frames * 3 / 4; ++i) {
      left = std::max(left, std::fabs(samples[2 * i]));
      right = std::max(right, std::fabs(samples[2 * i + 1]));
    }
    EXPECT_NEAR(left, 0.125, c.lossless ? 0.002 : 0.02);
    EXPECT_NEAR(right, left, 0.002);
    EXPECT_TRUE(BASS_StreamFree(stream));
  }

  const std::string module = MakeModule(dir);
  const HSTREAM tracker = BASS_StreamCreateFile(FALSE, module.c_str(), 0, 0, BASS_STREAM_DECODE);
  ASSERT_NE(tracker, 0u) << BASS_ErrorGetCode();
  const auto samples = DecodeAll(tracker);
  EXPECT_GT(samples.size(), 2 * kRate / 2);
  EXPECT_GT(PeakLeft(samples, 0, samples.size() / 2), 0.01f);
  BASS_StreamFree(tracker);
}

TEST(BassDecode, BadFilesFailWithTheirCodeAndBadHandlesAreRefused) {
  TempDir dir("bass-bad");
  WriteFileBytes(dir.File("empty.mp3"), "");
  std::string garbage;
  uint32_t seed = 7;
  for (int i = 0; i < 8192; ++i) {
    seed = seed * 1103515245u + 12345u;
    garbage += static_cast<char>(seed >> 16);
  }
  WriteFileBytes(dir.File("garbage.mp3"), garbage);
  WriteFileBytes(dir.File("text.wav"), "These are not the samples you are looking for.\n");
  WriteFileBytes(dir.File("cut.wav"), std::string("RIFF\x24\x00\x00\x00WAVEfmt ", 16));
  std::filesystem::create_directory(dir.File("folder.mp3"));
  // Nothing that is not a regular file is opened: a FIFO would wait for a writer for ever, a device
  // would never end. Each fails at once, also when it is tried as a URL.
  ASSERT_EQ(::mkfifo(dir.File("fifo.mp3").c_str(), 0600), 0);
  std::filesystem::create_symlink(dir.File("fifo.mp3"), dir.File("link-to-fifo.mp3"));
  std::filesystem::create_symlink("/dev/zero", dir.File("zero.mp3"));

  struct Case {
    std::string name;
    int error;
  };
  const Case cases[] = {
      {"missing.mp3", BASS_ERROR_FILEOPEN}, {"folder.mp3", BASS_ERROR_FILEOPEN}, {"empty.mp3", BASS_ERROR_FILEFORM},
      {"garbage.mp3", BASS_ERROR_FILEFORM}, {"text.wav", BASS_ERROR_FILEFORM},   {"cut.wav", BASS_ERROR_FILEFORM},
      {"fifo.mp3", BASS_ERROR_FILEOPEN},    {"link-to-fifo.mp3", BASS_ERROR_FILEOPEN},
      {"zero.mp3", BASS_ERROR_FILEOPEN},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(BASS_StreamCreateFile(FALSE, dir.File(c.name).c_str(), 0, 0, BASS_STREAM_DECODE), 0u) << c.name;
    EXPECT_EQ(BASS_ErrorGetCode(), c.error) << c.name;
    EXPECT_EQ(BASS_StreamCreateURL(dir.File(c.name).c_str(), 0, BASS_STREAM_DECODE, nullptr, nullptr), 0u) << c.name;
    EXPECT_EQ(BASS_ErrorGetCode(), c.error) << c.name << " as a URL";
  }

  // A file cut in the middle of a frame plays what is there and then ends.
  const std::string whole = MakeAudio(dir, "whole.mp3", "sine=frequency=440:duration=1", {"-c:a", "libmp3lame"});
  const std::string bytes = ReadFileBytes(whole);
  WriteFileBytes(dir.File("truncated.mp3"), bytes.substr(0, bytes.size() * 2 / 5 + 77));
  const HSTREAM truncated = BASS_StreamCreateFile(FALSE, dir.File("truncated.mp3").c_str(), 0, 0, BASS_STREAM_DECODE);
  ASSERT_NE(truncated, 0u) << BASS_ErrorGetCode();
  // Its Info frame still counts the whole second; the frames that are there tell the length.
  EXPECT_NEAR(BASS_ChannelBytes2Seconds(truncated, BASS_ChannelGetLength(truncated, BASS_POS_BYTE)), 0.4, 0.1);
  const auto samples = DecodeAll(truncated);
  EXPECT_NEAR(static_cast<double>(samples.size() / 2) / kRate, 0.4, 0.1);
  char block[64];
  EXPECT_EQ(BASS_ChannelGetData(truncated, block, sizeof block), static_cast<DWORD>(-1));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ENDED);

  // Handles: a decoding channel does not play; freed and made-up handles are refused.
  EXPECT_FALSE(BASS_ChannelPlay(truncated, FALSE));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_DECODE);
  EXPECT_TRUE(BASS_StreamFree(truncated));
  for (const DWORD handle : {truncated, DWORD{0}, DWORD{0xDEADBEEF}}) {
    EXPECT_FALSE(BASS_StreamFree(handle));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
    EXPECT_EQ(BASS_ChannelGetLength(handle, BASS_POS_BYTE), static_cast<QWORD>(-1));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
    EXPECT_EQ(BASS_ChannelGetData(handle, block, sizeof block), static_cast<DWORD>(-1));
    EXPECT_STREQ(TAGS_Read(handle, "%TITL"), "");
    EXPECT_EQ(BASS_ChannelSetFX(handle, BASS_FX_DX8_PARAMEQ, 1), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
  }
  // A stream for the output needs BASS_Init first.
  EXPECT_EQ(BASS_StreamCreateFile(FALSE, whole.c_str(), 0, 0, 0), 0u);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
}

TEST(BassDecode, BytesAndSecondsAreExactInversesIn64Bits) {
  TempDir dir("bass-positions");
  // A FLAC file whose stream info announces 4.5 hours (its frames hold one second): the length must
  // not wrap at 32 bits (4.5 hours of the channel format are about 5.7 GB).
  const std::string flac = MakeAudio(dir, "long.flac", "sine=frequency=440:duration=1", {"-c:a", "flac"});
  std::string bytes = ReadFileBytes(flac);
  ASSERT_EQ(bytes.substr(0, 4), "fLaC");
  // STREAMINFO's 64 bits at offset 18: rate (20), channels - 1 (3), bits - 1 (5), total samples (36).
  uint64_t packed = 0;
  for (int i = 0; i < 8; ++i) packed = packed << 8 | static_cast<uint8_t>(bytes[18 + i]);
  packed = (packed & ~((uint64_t{1} << 36) - 1)) | Frames(4.5 * 3600);
  for (int i = 7; i >= 0; --i, packed >>= 8) bytes[18 + i] = static_cast<char>(packed & 0xFF);
  WriteFileBytes(flac, bytes);
  const HSTREAM stream = BASS_StreamCreateFile(FALSE, flac.c_str(), 0, 0, BASS_STREAM_DECODE);
  ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
  EXPECT_EQ(BASS_ChannelGetLength(stream, BASS_POS_BYTE), Frames(4.5 * 3600) * 8);
  EXPECT_DOUBLE_EQ(BASS_ChannelBytes2Seconds(stream, BASS_ChannelGetLength(stream, BASS_POS_BYTE)), 4.5 * 3600);

  for (const QWORD frames : {QWORD{0}, QWORD{1}, QWORD{44099}, QWORD{44100}, QWORD{123456789}, Frames(4 * 3600) + 1,
                             QWORD{1} << 40}) {
    const double seconds = BASS_ChannelBytes2Seconds(stream, frames * 8);
    EXPECT_EQ(BASS_ChannelSeconds2Bytes(stream, seconds), frames * 8) << frames;
  }
  // A time in milliseconds goes to the first frame at or after it (44.1 frames per ms), so the
  // position read back is never a millisecond short.
  for (QWORD ms = 0; ms <= 20000; ++ms) {
    ASSERT_EQ(BASS_ChannelSeconds2Bytes(stream, static_cast<double>(ms) / 1000.0), (ms * 441 + 9) / 10 * 8) << ms;
  }
  // Failed calls' (QWORD)-1 and negative times are refused, not turned into huge values.
  EXPECT_LT(BASS_ChannelBytes2Seconds(stream, static_cast<QWORD>(-1)), 0.0);
  EXPECT_EQ(BASS_ChannelSeconds2Bytes(stream, -1.0), static_cast<QWORD>(-1));
  BASS_StreamFree(stream);
}

TEST(BassDecode, SeeksLandOnTheTargetFrame) {
  TempDir dir("bass-seek");
  // Silence with a 1 kHz burst from 1.0 s: after seeking to t, the burst starts 1.0 - t later.
  const std::string burst = "aevalsrc=if(between(t\\,1\\,1.1)\\,0.5*sin(2*PI*1000*t)\\,0):s=44100:c=stereo:d=2";
  struct Case {
    std::string name;
    std::vector<std::string> codecArgs;
    int64_t toleranceFrames;
  };
  const Case cases[] = {
      {"burst.wav", {"-c:a", "pcm_f32le"}, 1},
      {"burst.flac", {"-c:a", "flac"}, 1},
      {"burst.mp3", {"-c:a", "libmp3lame", "-b:a", "192k"}, 882},  // 20 ms
      {"burst.ogg", {"-c:a", "libvorbis"}, 882},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = MakeAudio(dir, c.name, burst, c.codecArgs);
    ASSERT_FALSE(path.empty());
    const HSTREAM stream = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, BASS_STREAM_DECODE);
    ASSERT_NE(stream, 0u);
    for (const double target : {0.6, 0.25, 0.9, 0.0}) {
      const QWORD bytes = BASS_ChannelSeconds2Bytes(stream, target);
      ASSERT_TRUE(BASS_ChannelSetPosition(stream, bytes, BASS_POS_BYTE)) << target;
      EXPECT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), bytes);
      const auto samples = DecodeAll(stream);  // to the end, so the next seek starts from there
      const int64_t onset = FirstLoudFrame(samples, 0.05f);
      EXPECT_NEAR(static_cast<double>(onset), static_cast<double>(Frames(1.0 - target)),
                  static_cast<double>(c.toleranceFrames))
          << target;
    }
    EXPECT_FALSE(BASS_ChannelSetPosition(stream, BASS_ChannelSeconds2Bytes(stream, 30.0), BASS_POS_BYTE));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_POSITION);
    BASS_StreamFree(stream);
  }
}

std::string Latin1AsUtf8(const std::string& bytes) {
  std::string text;
  for (unsigned char c : bytes) {
    if (c < 0x80) {
      text += static_cast<char>(c);
    } else {
      text += static_cast<char>(0xC0 | (c >> 6));
      text += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return text;
}

std::string Id3v1(const std::string& title, const std::string& artist, const std::string& album) {
  auto field = [](std::string text, size_t size) {
    text.resize(size, '\0');
    return text;
  };
  return "TAG" + field(title, 30) + field(artist, 30) + field(album, 30) + "2004" + field("", 30) + '\xFF';
}

TEST(BassDecode, TagsComeOutAsTheTextTheyAre) {
  using orvane::text::ToGb18030;
  TempDir dir("bass-tags");
  const std::string sine = "sine=frequency=440:duration=0.5";

  // ID3v1 written on Chinese Windows: GBK bytes.
  const std::string plain = MakeAudio(dir, "v1.mp3", sine, {"-c:a", "libmp3lame", "-id3v2_version", "0"});
  WriteFileBytes(plain, ReadFileBytes(plain) + Id3v1(ToGb18030("中文歌名"), ToGb18030("歌手"), ToGb18030("专辑")));
  // ID3v2 frames with accents, which ffmpeg writes as UTF-16: declared text, shown as it is even
  // where its letters, taken as bytes, would read as GBK. (GBK bytes in frames marked Latin-1, as
  // Chinese taggers wrote them, are in tag_reference_test's table.)
  const std::string accents = MakeAudio(dir, "accents.mp3", sine,
                                        {"-c:a", "libmp3lame", "-id3v2_version", "3", "-metadata", "title=Café",
                                         "-metadata", "artist=Zoë", "-metadata", "album=Été"});
  const std::string gbkLookAlike =
      MakeAudio(dir, "gbk-look-alike.mp3", sine,
                {"-c:a", "libmp3lame", "-id3v2_version", "3", "-metadata", "title=" + Latin1AsUtf8(ToGb18030("你好")),
                 "-metadata", "artist=" + Latin1AsUtf8(ToGb18030("王菲"))});
  // Vorbis comments are UTF-8.
  const std::string vorbis = MakeAudio(dir, "comments.ogg", sine,
                                       {"-c:a", "libvorbis", "-metadata", "title=春天里", "-metadata", "ARTIST=歌手"});
  const std::string bare = MakeAudio(dir, "bare.wav", sine, {"-c:a", "pcm_s16le"});

  struct Case {
    std::string path;
    std::string format;
    std::string expected;
  };
  const Case cases[] = {
      {plain, "%TITL", "中文歌名"},      {plain, "%ARTI", "歌手"},      {plain, "%ALBM", "专辑"},
      {plain, "%ARTI - %TITL", "歌手 - 中文歌名"},
      {accents, "%TITL", "Café"},        {accents, "%ARTI", "Zoë"},     {accents, "%ALBM", "Été"},
      {gbkLookAlike, "%TITL", "ÄãºÃ"}, {gbkLookAlike, "%ARTI", "Íõ·Æ"},
      {vorbis, "%TITL", "春天里"},       {vorbis, "%ARTI", "歌手"},     {vorbis, "%ALBM", ""},
      {bare, "%TITL", ""},               {bare, "100%% %ARTI", "100% "},
  };
  for (const Case& c : cases) {
    const HSTREAM stream = BASS_StreamCreateFile(FALSE, c.path.c_str(), 0, 0, BASS_STREAM_DECODE);
    ASSERT_NE(stream, 0u) << c.path;
    EXPECT_EQ(std::string(TAGS_Read(stream, c.format.c_str())), c.expected) << c.path << " " << c.format;
    BASS_StreamFree(stream);
    // The same text when the file's headers are read without a decoder.
    TAGS_FILE* file = TAGS_OpenFile(c.path.c_str());
    ASSERT_NE(file, nullptr) << c.path;
    EXPECT_EQ(std::string(TAGS_FileRead(file, c.format.c_str())), c.expected) << c.path << " " << c.format;
    TAGS_CloseFile(file);
  }
}

TEST(BassDecode, PluginsAnnounceTheirFormats) {
  // A bare name is found beside the executable, where the build put the test plug-in.
  const HPLUGIN plugin = BASS_PluginLoad("b_testformat.so", 0);
  ASSERT_NE(plugin, 0u) << BASS_ErrorGetCode();
  const BASS_PLUGININFO* info = BASS_PluginGetInfo(plugin);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(HIWORD(info->version), BASSVERSION);
  ASSERT_EQ(info->formatc, 2u);
  EXPECT_STREQ(info->formats[0].exts, "*.tst1;*.tst2");
  EXPECT_STREQ(info->formats[1].exts, "*.tst3");

  EXPECT_EQ(BASS_PluginLoad("b_testformat.so", 0), 0u);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ALREADY);
  EXPECT_EQ(BASS_PluginLoad("b_nonexistent.so", 0), 0u);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEOPEN);
  EXPECT_EQ(BASS_PluginLoad("libm.so.6", 0), 0u);  // a library, but no plug-in
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEFORM);

  EXPECT_TRUE(BASS_PluginFree(plugin));
  EXPECT_EQ(BASS_PluginGetInfo(plugin), nullptr);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
  EXPECT_FALSE(BASS_PluginFree(plugin));
}

}  // namespace
}  // namespace orvane::test
