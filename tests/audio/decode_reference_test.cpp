// The decoders against a reference nobody here wrote. A corpus of short files is made once per run
// with ffmpeg, mpcenc and a few hand-built containers (joined, damaged, a tracker module), and each
// file is decoded through the library and through ffmpeg's own command-line decoder (32-bit
// float, stereo, 44.1 kHz). For every file the table holds: both decoded lengths, the samples' SNR
// after alignment, the length a stream reports at open and the one the header reader gives the
// list (both held to what plays), and how far from 10.000 s a seek there lands. It is printed, so
// a change can quote it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "audio/bass_fixtures.h"
#include "bass.h"
#include "support/temp_dir.h"
#include "tags.h"

namespace orvane::test {
namespace {

constexpr double kRate = 44100.0;
constexpr double kSeekSeconds = 10.0;

// Two different sweeps with a little noise: no stretch repeats, so an alignment is unambiguous.
// Made once (12 s, 32-bit float) and encoded into each format from there.
constexpr const char* kSignal =
    "aevalsrc=exprs=0.3*sin(2*PI*(200+40*t)*t)+0.1*(random(0)-0.5)|"
    "0.3*sin(2*PI*(300+25*t)*t)+0.1*(random(1)-0.5):s=44100:d=12";

std::string SignalFile(const TempDir& dir) { return dir.File("signal.wav"); }

bool Encode(const std::string& path, const std::vector<std::string>& input, const std::vector<std::string>& args) {
  std::vector<std::string> all = input;
  all.insert(all.end(), args.begin(), args.end());
  all.push_back(path);
  return RunFfmpeg(all);
}

bool EncodeSignal(const TempDir& dir, const std::string& path, const std::vector<std::string>& args) {
  return Encode(path, {"-i", SignalFile(dir)}, args);
}

// Overwrites count bytes at each of the given fractions of the file.
bool Damage(const std::string& path, const std::vector<double>& at, size_t count, bool zeros) {
  std::string bytes = ReadFileBytes(path);
  std::mt19937 random(3);
  for (const double fraction : at) {
    const size_t start = static_cast<size_t>(static_cast<double>(bytes.size()) * fraction);
    if (start + count > bytes.size()) return false;
    for (size_t i = 0; i < count; ++i) bytes[start + i] = zeros ? '\0' : static_cast<char>(random());
  }
  WriteFileBytes(path, bytes);
  return true;
}

// A FLAC file as a stream writer leaves it: no sample count and no MD5 in its STREAMINFO.
bool UnknownFlacLength(const std::string& path) {
  std::string bytes = ReadFileBytes(path);
  if (bytes.size() < 42 || bytes.compare(0, 4, "fLaC") != 0) return false;
  bytes[21] = static_cast<char>(bytes[21] & 0xF0);  // the top 4 bits of the 36-bit count
  std::fill_n(bytes.begin() + 22, 4 + 16, '\0');
  WriteFileBytes(path, bytes);
  return true;
}

std::string Be(uint32_t value, int bytes) {
  std::string out;
  for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>(value >> (8 * i) & 0xFF);
  return out;
}

// GSM 6.10 in an AIFF-C file (sox and ffmpeg write none), counting samples in its COMM chunk.
bool GsmInAiff(const std::string& path, const std::string& raw) {
  const std::string gsm = ReadFileBytes(raw);
  if (gsm.empty() || gsm.size() % 33 != 0) return false;
  const uint32_t samples = static_cast<uint32_t>(gsm.size() / 33 * 160);
  const std::string rate8000("\x40\x0B\xFA\x00\x00\x00\x00\x00\x00\x00", 10);  // 80-bit 8000.0
  const std::string name("\x08GSM 6.10\x00", 10);
  const std::string comm = "COMM" + Be(18 + 4 + static_cast<uint32_t>(name.size()), 4) + Be(1, 2) + Be(samples, 4) +
                           Be(16, 2) + rate8000 + "GSM " + name;
  const std::string fver = "FVER" + Be(4, 4) + Be(0xA2805140u, 4);
  const std::string ssnd = "SSND" + Be(static_cast<uint32_t>(8 + gsm.size()), 4) + Be(0, 4) + Be(0, 4) + gsm;
  const std::string body = "AIFC" + fver + comm + ssnd;
  WriteFileBytes(path, "FORM" + Be(static_cast<uint32_t>(body.size()), 4) + body);
  return true;
}

// A ProTracker module of two 64-row patterns (15.36 s at speed 6, 125 BPM): a looped saw on the
// left whose note changes every row, a looped noise on the right every fifth row.
bool TrackerModule(const std::string& path) {
  static constexpr int kPeriods[] = {856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453,
                                     428, 404, 381, 360, 339, 320, 302, 285, 269, 254, 240, 226};
  constexpr int kSawBytes = 64, kNoiseBytes = 256;
  std::string mod(20, '\0');
  for (int i = 0; i < 31; ++i) {
    std::string header(30, '\0');
    const int words = i == 0 ? kSawBytes / 2 : i == 1 ? kNoiseBytes / 2 : 0;
    header[22] = static_cast<char>(words >> 8);
    header[23] = static_cast<char>(words & 0xFF);
    header[25] = words > 0 ? 48 : 0;         // volume
    header[28] = static_cast<char>(words >> 8);  // loop over the whole sample
    header[29] = static_cast<char>(words & 0xFF);
    mod += header;
  }
  mod += static_cast<char>(2);    // song length: two orders
  mod += static_cast<char>(127);  // no restart
  std::string orders(128, '\0');
  orders[1] = 1;
  mod += orders + "M.K.";
  for (int pattern = 0; pattern < 2; ++pattern) {
    std::string cells(64 * 4 * 4, '\0');
    for (int row = 0; row < 64; ++row) {
      auto note = [&](int channel, int sample, int period) {
        char* cell = cells.data() + (row * 4 + channel) * 4;
        cell[0] = static_cast<char>((sample & 0xF0) | (period >> 8));
        cell[1] = static_cast<char>(period & 0xFF);
        cell[2] = static_cast<char>((sample & 0x0F) << 4);
      };
      const int step = pattern * 64 + row;
      note(0, 1, kPeriods[(step * 7) % 24]);
      if (row % 5 == 0) note(1, 2, kPeriods[(step * 5 + 3) % 24]);
    }
    mod += cells;
  }
  for (int i = 0; i < kSawBytes; ++i) mod += static_cast<char>(i * 4 - 128);
  std::mt19937 random(5);
  for (int i = 0; i < kNoiseBytes; ++i) mod += static_cast<char>(random());
  WriteFileBytes(path, mod);
  return true;
}

struct Case {
  std::string name;
  std::function<bool(const TempDir&, const std::string& path)> make;
  bool mono = false;                     // the reference spreads the one channel on both sides
  std::vector<std::string> readAs = {};  // ffmpeg's input options
  // Where ffmpeg's timeline parts from ours (a damaged spot dropped or filled differently, the
  // join of two files, a decoder delay it keeps): the samples are compared second by second, each
  // second aligned on its own (median SNR), and a seek is measured against the library's own
  // decode from the start.
  bool ownTimeline = false;
  int64_t lengthToleranceFrames = 1;
  double minSnrDb = 90;
  double openToleranceSeconds = -1;  // the length at open and in the list; -1: 1 % or 0.2 s
  std::string reason = {};           // why a bound is not the default one
};

std::vector<Case> Corpus() {
  auto encode = [](std::vector<std::string> args) {
    return [args](const TempDir& dir, const std::string& path) { return EncodeSignal(dir, path, args); };
  };
  auto encodeFrom = [](std::string source, std::vector<std::string> args) {
    return [source, args](const TempDir&, const std::string& path) {
      return Encode(path, {"-f", "lavfi", "-i", source}, args);
    };
  };
  const std::string quietStart =
      "aevalsrc=exprs=if(lt(t\\,2)\\,0\\,0.3*sin(2*PI*(200+40*t)*t)+0.1*(random(0)-0.5)):s=44100:c=stereo:d=18";
  const std::string loudStart =
      "aevalsrc=exprs=if(lt(t\\,2)\\,random(0)-0.5\\,0.01*sin(2*PI*440*t)):s=44100:c=stereo:d=18";
  const std::string loudStart48k =
      "aevalsrc=exprs=if(lt(t\\,2)\\,random(0)-0.5\\,0.01*sin(2*PI*440*t)):s=48000:c=stereo:d=12";
  return {
      {"cbr.mp3", encode({"-c:a", "libmp3lame", "-b:a", "128k"})},
      {"cbr-no-info.mp3", encode({"-c:a", "libmp3lame", "-b:a", "128k", "-write_xing", "0"})},
      {"vbr.mp3", encode({"-c:a", "libmp3lame", "-q:a", "2"})},
      {"vbr-no-xing-quiet-start.mp3", encodeFrom(quietStart, {"-c:a", "libmp3lame", "-q:a", "0", "-write_xing", "0"})},
      {"vbr-no-xing-loud-start.mp3", encodeFrom(loudStart, {"-c:a", "libmp3lame", "-q:a", "0", "-write_xing", "0"})},
      {"joined.mp3",
       [](const TempDir& dir, const std::string& path) {
         const std::string a = dir.File("part-a.mp3"), b = dir.File("part-b.mp3");
         if (!EncodeSignal(dir, a, {"-t", "8", "-c:a", "libmp3lame", "-q:a", "2"}) ||
             !EncodeSignal(dir, b, {"-t", "8", "-c:a", "libmp3lame", "-b:a", "160k"}))
           return false;
         WriteFileBytes(path, ReadFileBytes(a) + ReadFileBytes(b));
         return true;
       },
       false, {}, true, 241, 90, -1,
       "ffmpeg reports 'Header missing' at the second part's ID3v2 tag and loses 241 samples there"},
      {"zeros-20k.mp3",
       [](const TempDir& dir, const std::string& path) {
         return EncodeSignal(dir, path, {"-c:a", "libmp3lame", "-b:a", "128k"}) && Damage(path, {0.5}, 20480, true);
       },
       false, {}, true, 1152, 90, 1.5,
       "damaged: the Info frame counts the 1.3 s the zeros destroyed (the length becomes the decoded one at the "
       "end); a frame is dropped or silenced differently after them"},
      // Through FFmpeg: a seek must start early enough to fill the bit reservoir of small frames.
      {"vbr-48k-low-rate.mp3", encodeFrom(loudStart48k, {"-c:a", "libmp3lame", "-q:a", "9", "-write_xing", "0"})},
      {"layer2-48k.mp2", encode({"-c:a", "mp2", "-ar", "48000", "-b:a", "192k"})},
      {"mpeg2-22k-mono.mp3", encode({"-c:a", "libmp3lame", "-ar", "22050", "-ac", "1", "-q:a", "4"}), true},
      {"song.flac", encode({"-c:a", "flac"})},
      {"s24-96k.flac", encode({"-c:a", "flac", "-ar", "96000", "-sample_fmt", "s32"})},
      {"damaged.flac",
       [](const TempDir& dir, const std::string& path) {
         return EncodeSignal(dir, path, {"-c:a", "flac"}) && Damage(path, {0.25, 0.5, 0.75}, 64, false);
       },
       false, {}, true, 3 * 4608, 90, -1,
       "damaged: a broken block plays as silence of its length (ffmpeg drops it), so the song keeps its length"},
      {"unknown-length.flac",
       [](const TempDir& dir, const std::string& path) {
         return EncodeSignal(dir, path, {"-c:a", "flac"}) && UnknownFlacLength(path);
       }},
      {"adts.aac", encode({"-c:a", "aac", "-b:a", "128k", "-f", "adts"})},
      {"aac.m4a", encode({"-c:a", "aac", "-b:a", "128k"})},
      {"opus.opus", encode({"-c:a", "libopus", "-b:a", "96k"})},
      {"vorbis.ogg", encode({"-c:a", "libvorbis", "-q:a", "4"})},
      {"wma.wma", encode({"-c:a", "wmav2", "-b:a", "128k"})},
      {"pcm16.aif", encode({"-c:a", "pcm_s16be", "-f", "aiff"})},
      {"ima4.aifc", encode({"-c:a", "adpcm_ima_qt", "-f", "aiff"})},
      {"gsm-8k.aifc",
       [](const TempDir& dir, const std::string& path) {
         const std::string raw = dir.File("gsm.raw");
         return EncodeSignal(dir, raw, {"-ar", "8000", "-ac", "1", "-c:a", "libgsm", "-f", "gsm"}) &&
                GsmInAiff(path, raw);
       },
       true},
      {"u8-8k-mono.wav", encode({"-c:a", "pcm_u8", "-ar", "8000", "-ac", "1"}), true},
      {"s16-22k.wav", encode({"-c:a", "pcm_s16le", "-ar", "22050"})},
      {"s16-44k-mono.wav", encode({"-c:a", "pcm_s16le", "-ac", "1"}), true},
      {"s16-44k.wav", encode({"-c:a", "pcm_s16le"})},
      {"s24-48k-mono.wav", encode({"-c:a", "pcm_s24le", "-ar", "48000", "-ac", "1"}), true},
      {"s24-96k.wav", encode({"-c:a", "pcm_s24le", "-ar", "96000"})},
      {"musepack.mpc",
       [](const TempDir& dir, const std::string& path) {
         const std::string wav = dir.File("for-mpc.wav");
         return EncodeSignal(dir, wav, {"-c:a", "pcm_s16le"}) && RunProgram({"mpcenc", "--silent", wav, path});
       },
       false, {}, true, 720, 80, -1,
       "libmpcdec, the format's own decoder: ffmpeg keeps the 481-sample decoder delay and the last frame's "
       "padding; their synthesis filters agree to 85 dB"},
      {"tracker.mod", [](const TempDir&, const std::string& path) { return TrackerModule(path); }, false,
       {"-sample_rate", "44100"}},
  };
}

// Interleaved stereo float of ffmpeg's decode at 44.1 kHz.
std::vector<float> ReferenceDecode(const TempDir& dir, const Case& c, const std::string& path) {
  const std::string out = dir.File(c.name + ".f32");
  std::vector<std::string> args = c.readAs;
  args.insert(args.end(), {"-i", path});
  if (c.mono) args.insert(args.end(), {"-af", "pan=stereo|c0=c0|c1=c0"});  // full level on both sides, as we play it
  args.insert(args.end(), {"-ac", "2", "-ar", "44100", "-f", "f32le", out});
  if (!RunFfmpeg(args)) return {};
  return ReadFloats(out);
}

struct Match {
  int64_t lag = 0;  // ours[i] lines up with reference[i + lag]
  double snrDb = -1000;
};

double SnrDb(const float* ours, const float* reference, size_t samples) {
  double signal = 0, noise = 0;
  for (size_t i = 0; i < samples; ++i) {
    signal += double{reference[i]} * reference[i];
    const double d = double{reference[i]} - ours[i];
    noise += d * d;
  }
  if (noise == 0) return INFINITY;
  return signal == 0 ? -INFINITY : 10 * std::log10(signal / noise);
}

// The squared difference of two stretches, given up once it passes limit (most lags of a search
// are far off, and show it within a few samples).
double Difference(const float* ours, const float* reference, size_t samples, double limit) {
  double noise = 0;
  for (size_t i = 0; i < samples; ++i) {
    const double d = double{reference[i]} - ours[i];
    noise += d * d;
    if ((i & 63) == 63 && noise > limit) return noise;
  }
  return noise;
}

// Where frames [start, start + count) of ours sit in the reference, searched within ±maxLag from
// expected outwards; the first lag that matches to 60 dB ends the search. Lags that match worse
// than 20 dB are not told apart.
Match Align(const std::vector<float>& ours, int64_t start, int64_t count, const std::vector<float>& reference,
            int64_t expected, int64_t maxLag) {
  Match best;
  const auto oursFrames = static_cast<int64_t>(ours.size() / 2), refFrames = static_cast<int64_t>(reference.size() / 2);
  if (start < 0 || start + count > oursFrames) return best;
  const float* window = ours.data() + 2 * start;
  const auto samples = static_cast<size_t>(2 * count);
  double energy = 0;
  for (size_t i = 0; i < samples; ++i) energy += double{window[i]} * window[i];
  double limit = energy / 100;
  for (int64_t step = 0; step <= 2 * maxLag; ++step) {
    const int64_t lag = expected + (step % 2 == 0 ? step / 2 : -(step + 1) / 2);
    if (start + lag < 0 || start + lag + count > refFrames) continue;
    const float* candidate = reference.data() + 2 * (start + lag);
    if (Difference(window, candidate, samples, limit) > limit) continue;
    best = {lag, SnrDb(window, candidate, samples)};
    if (best.snrDb >= 60) break;
    limit = Difference(window, candidate, samples, INFINITY);
  }
  return best;
}

// SNR of the whole overlap at the lag found around two seconds in.
double WholeSnr(const std::vector<float>& ours, const std::vector<float>& reference) {
  const Match match = Align(ours, static_cast<int64_t>(2 * kRate), 8192, reference, 0, 4096);
  const int64_t from = std::max<int64_t>(0, -match.lag);
  const int64_t to = std::min<int64_t>(static_cast<int64_t>(ours.size() / 2),
                                       static_cast<int64_t>(reference.size() / 2) - match.lag);
  if (to <= from) return -INFINITY;
  return SnrDb(ours.data() + 2 * from, reference.data() + 2 * (from + match.lag), static_cast<size_t>(2 * (to - from)));
}

// Median SNR of one-second pieces, each aligned on its own (damage shifts what follows it).
double PiecewiseSnr(const std::vector<float>& ours, const std::vector<float>& reference) {
  std::vector<double> pieces;
  const auto second = static_cast<int64_t>(kRate);
  int64_t lag = 0;
  for (int64_t start = 0; start + second <= static_cast<int64_t>(ours.size() / 2); start += second) {
    const Match match = Align(ours, start, second, reference, lag, second * 3 / 2);
    pieces.push_back(match.snrDb);
    if (match.snrDb >= 60) lag = match.lag;
  }
  if (pieces.empty()) return -INFINITY;
  std::sort(pieces.begin(), pieces.end());
  return pieces[pieces.size() / 2];
}

double Seconds(int64_t frames) { return static_cast<double>(frames) / kRate; }

bool LengthClose(double seconds, double reference) {
  return std::fabs(seconds - reference) <= std::max(0.01 * reference, 0.2);
}

struct Row {
  std::string name;
  double reference = 0, decoded = 0, atOpen = -1, header = -1, snrDb = 0, seekMs = NAN;
  std::string note;
};

std::string FormatSnr(double snr) {
  if (std::isinf(snr) && snr > 0) return "exact";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", snr);
  return text;
}

class DecodeReference : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = new TempDir("decode-reference");
    ASSERT_TRUE(Encode(SignalFile(*dir), {"-f", "lavfi", "-i", kSignal}, {"-c:a", "pcm_f32le"}));
  }
  static void TearDownTestSuite() {
    delete dir;
    dir = nullptr;
  }
  static TempDir* dir;
};

TempDir* DecodeReference::dir = nullptr;

TEST_F(DecodeReference, EveryFileDecodesLikeFfmpegAndSeeksWithin5Ms) {
  std::vector<Row> table;
  // ORVANE_REFERENCE_ONLY=<part of a name> runs the cases whose name holds it (looking into one row).
  const char* only = std::getenv("ORVANE_REFERENCE_ONLY");
  for (const Case& c : Corpus()) {
    if (only != nullptr && c.name.find(only) == std::string::npos) continue;
    SCOPED_TRACE(c.name);
    const std::string path = dir->File(c.name);
    ASSERT_TRUE(c.make(*dir, path)) << "could not make the file";
    const std::vector<float> reference = ReferenceDecode(*dir, c, path);
    ASSERT_FALSE(reference.empty()) << "ffmpeg could not decode it";
    Row row;
    row.name = c.name;
    row.note = c.reason;
    const auto referenceFrames = static_cast<int64_t>(reference.size() / 2);
    row.reference = Seconds(referenceFrames);

    const HSTREAM stream = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, BASS_STREAM_DECODE);
    ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
    row.atOpen = BASS_ChannelBytes2Seconds(stream, BASS_ChannelGetLength(stream, BASS_POS_BYTE));
    const std::vector<float> ours = DecodeAll(stream);
    BASS_StreamFree(stream);
    const auto oursFrames = static_cast<int64_t>(ours.size() / 2);
    row.decoded = Seconds(oursFrames);
    if (TAGS_FILE* file = TAGS_OpenFile(path.c_str())) {
      row.header = TAGS_FileSeconds(file);
      TAGS_CloseFile(file);
    }
    row.snrDb = c.ownTimeline ? PiecewiseSnr(ours, reference) : WholeSnr(ours, reference);

    // Where a seek to 10.000 s lands: the next frames found in a decode from the start.
    const std::vector<float>& timeline = c.ownTimeline ? ours : reference;
    const HSTREAM seeker = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, BASS_STREAM_DECODE);
    ASSERT_NE(seeker, 0u);
    const QWORD target = BASS_ChannelSeconds2Bytes(seeker, kSeekSeconds);
    const bool sought = BASS_ChannelSetPosition(seeker, target, BASS_POS_BYTE);
    EXPECT_TRUE(sought) << BASS_ErrorGetCode();
    if (sought) {
      EXPECT_EQ(BASS_ChannelGetPosition(seeker, BASS_POS_BYTE), target);
      std::vector<float> block(2 * 8192);
      const DWORD got = BASS_ChannelGetData(seeker, block.data(), static_cast<DWORD>(block.size() * sizeof(float)));
      if (got == block.size() * sizeof(float)) {
        const auto at = static_cast<int64_t>(kSeekSeconds * kRate);
        std::vector<float> padded(static_cast<size_t>(2 * at), 0.0f);
        padded.insert(padded.end(), block.begin(), block.end());
        const Match landed = Align(padded, at, 8192, timeline, 0, static_cast<int64_t>(0.25 * kRate));
        if (landed.snrDb >= 20) row.seekMs = static_cast<double>(landed.lag) / kRate * 1000;
      }
    }
    BASS_StreamFree(seeker);

    EXPECT_LE(std::abs(oursFrames - referenceFrames), c.lengthToleranceFrames)
        << "decoded " << row.decoded << " s, ffmpeg " << row.reference << " s";
    EXPECT_GE(row.snrDb, c.minSnrDb);
    // The announced lengths against what plays (itself held to ffmpeg's above): the seek bar must
    // reach its end when the song does.
    auto lengthClose = [&](double seconds) {
      return c.openToleranceSeconds < 0 ? LengthClose(seconds, row.decoded)
                                        : std::fabs(seconds - row.decoded) <= c.openToleranceSeconds;
    };
    EXPECT_TRUE(lengthClose(row.atOpen)) << "length at open " << row.atOpen << " s";
    EXPECT_TRUE(lengthClose(row.header)) << "length in the list " << row.header << " s";
    EXPECT_TRUE(std::fabs(row.seekMs) <= 5.0) << "seek to 10 s landed " << row.seekMs << " ms off";
    table.push_back(row);
  }

  std::printf("\n%-28s %9s %9s %8s %8s %8s %8s %8s  %s\n", "file", "ffmpeg s", "ours s", "diff", "open s", "list s",
              "SNR dB", "seek ms", "note");
  for (const Row& r : table) {
    std::printf("%-28s %9.4f %9.4f %8lld %8.3f %8.3f %8s %8.2f  %s\n", r.name.c_str(), r.reference, r.decoded,
                static_cast<long long>(std::llround((r.decoded - r.reference) * kRate)), r.atOpen, r.header,
                FormatSnr(r.snrDb).c_str(), r.seekMs, r.note.c_str());
  }
}

}  // namespace
}  // namespace orvane::test
