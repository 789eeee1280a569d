// Length of MPEG audio (layers I, II, III) and of ADTS AAC from their frame headers.

#include "TagsFormats.h"

namespace orvane::bass::tags {
namespace {

// How far past the tags the first frame is looked for (some files carry padding or junk there).
constexpr size_t kSyncWindow = 64 * 1024;

struct MpegFrame {
  int version = 0;  // 1: MPEG-1, 2: MPEG-2, 25: MPEG-2.5
  int layer = 0;
  int bitrate = 0;  // bits per second; 0 for free format
  int rate = 0;
  bool mono = false;
  int samples = 0;  // per frame
  int length = 0;   // bytes; 0 when free format
};

bool ParseMpegHeader(uint32_t h, MpegFrame& f) {
  if ((h & 0xFFE00000u) != 0xFFE00000u) return false;
  const int versionBits = static_cast<int>(h >> 19 & 3);
  const int layerBits = static_cast<int>(h >> 17 & 3);
  const int bitrateIndex = static_cast<int>(h >> 12 & 15);
  const int rateIndex = static_cast<int>(h >> 10 & 3);
  if (versionBits == 1 || layerBits == 0 || bitrateIndex == 15 || rateIndex == 3) return false;
  static constexpr int kBitrates[5][15] = {
      {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},  // MPEG-1 layer I
      {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},     // MPEG-1 layer II
      {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},      // MPEG-1 layer III
      {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},     // MPEG-2 layer I
      {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},          // MPEG-2 layers II, III
  };
  static constexpr int kRates[3] = {44100, 48000, 32000};
  f.version = versionBits == 3 ? 1 : versionBits == 2 ? 2 : 25;
  f.layer = 4 - layerBits;
  const int table = f.version == 1 ? f.layer - 1 : (f.layer == 1 ? 3 : 4);
  f.bitrate = kBitrates[table][bitrateIndex] * 1000;
  f.rate = kRates[rateIndex] / (f.version == 1 ? 1 : f.version == 2 ? 2 : 4);
  f.mono = (h >> 6 & 3) == 3;
  const int padding = static_cast<int>(h >> 9 & 1);
  f.samples = f.layer == 1 ? 384 : (f.layer == 3 && f.version != 1) ? 576 : 1152;
  if (f.bitrate == 0) {
    f.length = 0;
  } else if (f.layer == 1) {
    f.length = (12 * f.bitrate / f.rate + padding) * 4;
  } else {
    f.length = f.samples / 8 * f.bitrate / f.rate + padding;
  }
  return true;
}

bool SameStream(const MpegFrame& a, const MpegFrame& b) {
  return a.version == b.version && a.layer == b.layer && a.rate == b.rate;
}

// The frame count of a Xing/Info or VBRI header in the first frame; 0 when there is none.
uint32_t VbrFrames(std::string_view frame, const MpegFrame& f) {
  const size_t sideInfo = f.version == 1 ? (f.mono ? 17 : 32) : (f.mono ? 9 : 17);
  const size_t xing = 4 + sideInfo;
  if (frame.size() >= xing + 12 && (frame.substr(xing, 4) == "Xing" || frame.substr(xing, 4) == "Info")) {
    if ((Be32(frame, xing + 4) & 1) != 0) return Be32(frame, xing + 8);
  }
  constexpr size_t kVbri = 4 + 32;
  if (frame.size() >= kVbri + 18 && frame.substr(kVbri, 4) == "VBRI") return Be32(frame, kVbri + 14);
  return 0;
}

}  // namespace

bool ReadMpegAudio(const TagFile& file, int64_t offset, int64_t end, double& seconds) {
  if (offset >= end) return false;
  const std::string window = file.Read(offset, static_cast<size_t>(std::min<int64_t>(end - offset, kSyncWindow + 4096)));
  const size_t searchEnd = std::min(window.size(), kSyncWindow);
  for (size_t at = 0; at + 4 <= searchEnd; ++at) {
    if (static_cast<uint8_t>(window[at]) != 0xFF) continue;
    MpegFrame first;
    if (!ParseMpegHeader(Be32(window, at), first) || first.length == 0) continue;
    // A frame counts only when the next one follows where its length says (or the data ends there).
    const int64_t next = offset + static_cast<int64_t>(at) + first.length;
    if (next < end) {
      const std::string after = next + 4 <= offset + static_cast<int64_t>(window.size())
                                    ? window.substr(static_cast<size_t>(next - offset), 4)
                                    : file.Read(next, 4);
      MpegFrame second;
      if (after.size() < 4 || !ParseMpegHeader(Be32(after, 0), second) || !SameStream(first, second)) continue;
    } else if (next > end) {
      continue;
    }
    const uint32_t frames = VbrFrames(std::string_view(window).substr(at, static_cast<size_t>(first.length)), first);
    if (frames > 0) {
      seconds = static_cast<double>(frames) * first.samples / first.rate;
    } else {
      // Constant bit rate: the data's size tells the length.
      seconds = static_cast<double>(end - offset - static_cast<int64_t>(at)) * 8 / first.bitrate;
    }
    return true;
  }
  return false;
}

bool ReadAdts(const TagFile& file, int64_t offset, int64_t end, double& seconds) {
  static constexpr int kRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                     22050, 16000, 12000, 11025, 8000,  7350};
  // Frames are walked through the first part of the stream; a longer stream is measured by the
  // average frame of that part.
  constexpr size_t kWalk = 256 * 1024;
  if (offset >= end) return false;
  const std::string data = file.Read(offset, static_cast<size_t>(std::min<int64_t>(end - offset, kWalk)));
  size_t at = 0;
  while (at + 7 <= data.size() && at < kSyncWindow &&
         !(static_cast<uint8_t>(data[at]) == 0xFF && (static_cast<uint8_t>(data[at + 1]) & 0xF6) == 0xF0))
    ++at;
  const size_t first = at;
  int rate = 0;
  uint64_t samples = 0;
  int frames = 0;
  while (at + 7 <= data.size()) {
    const uint8_t* b = reinterpret_cast<const uint8_t*>(data.data()) + at;
    if (b[0] != 0xFF || (b[1] & 0xF6) != 0xF0) break;
    const int rateIndex = b[2] >> 2 & 15;
    const size_t length = static_cast<size_t>((b[3] & 3) << 11 | b[4] << 3 | b[5] >> 5);
    if (rateIndex >= 13 || length < 7 || (rate != 0 && kRates[rateIndex] != rate)) break;
    rate = kRates[rateIndex];
    samples += 1024u * ((b[6] & 3) + 1u);
    ++frames;
    at += length;
  }
  // Two frames in a row, or one that fills the file: anything less may be chance.
  if (frames < 2 && !(frames == 1 && offset + static_cast<int64_t>(at) == end)) return false;
  const int64_t walked = static_cast<int64_t>(std::min(at, data.size()) - first);
  const int64_t total = end - offset - static_cast<int64_t>(first);
  seconds = static_cast<double>(samples) / rate;
  if (at < data.size() || walked <= 0 || walked >= total) return true;
  seconds *= static_cast<double>(total) / static_cast<double>(walked);
  return true;
}

}  // namespace orvane::bass::tags
