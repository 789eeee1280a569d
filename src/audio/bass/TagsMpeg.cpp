// Length of MPEG audio (layers I, II, III) and of ADTS AAC from their frame headers, and of
// Musepack from its stream header.

#include "TagsFormats.h"

namespace orvane::bass::tags {
namespace {

// How far past the tags the first frame is looked for (some files carry padding or junk there).
constexpr size_t kSyncWindow = 64 * 1024;
// Frame walks read the file a block at a time: small at first (most files are recognised by a
// few frames at the start), larger as a walk goes on.
constexpr size_t kFirstBlock = 16 * 1024;
constexpr size_t kLargestBlock = 256 * 1024;

// The bytes of [0, end) of a file as a walk moving forward asks for them, a block at a time.
class Walker {
 public:
  Walker(const TagFile& file, int64_t end) : file(file), end(end) {}
  int64_t End() const { return end; }
  // The count bytes at pos (count ≤ 16); empty past the end.
  std::string_view At(int64_t pos, size_t count) {
    if (pos < 0 || pos + static_cast<int64_t>(count) > end) return {};
    if (pos < start || pos + static_cast<int64_t>(count) > start + static_cast<int64_t>(block.size())) {
      start = pos;
      block = file.Read(pos, static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(blockSize), end - pos)));
      blockSize = std::min(blockSize * 2, kLargestBlock);
      if (block.size() < count) return {};
    }
    return std::string_view(block).substr(static_cast<size_t>(pos - start), count);
  }

 private:
  const TagFile& file;
  const int64_t end;
  std::string block;  // bytes [start, start + block.size())
  int64_t start = 0;
  size_t blockSize = kFirstBlock;
};

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

// A frame of the stream at pos: its header, and the next frame's where the data goes on.
bool IsConfirmedFrame(Walker& walk, int64_t pos, const MpegFrame& stream, MpegFrame& frame) {
  const std::string_view head = walk.At(pos, 4);
  if (head.empty() || !ParseMpegHeader(Be32(head, 0), frame) || !SameStream(stream, frame) || frame.length == 0) {
    return false;
  }
  const int64_t next = pos + frame.length;
  if (next == walk.End()) return true;
  MpegFrame after;
  const std::string_view nextHead = walk.At(next, 4);
  return !nextHead.empty() && ParseMpegHeader(Be32(nextHead, 0), after) && SameStream(stream, after);
}

// Walks a stream's frames from pos to end, header by header: frameAt(pos) counts the frame there
// and gives its length (0 when no frame of the stream is there, or one cut off by the end). A
// stretch that is no frame (damage, the tags between the parts of a joined file) is skipped to the
// next place where confirmedAt finds a frame the one after it confirms, as a decoder resyncs.
template <typename FrameAt, typename ConfirmedAt>
void WalkFrames(int64_t pos, int64_t end, FrameAt frameAt, ConfirmedAt confirmedAt) {
  while (pos < end) {
    if (const int64_t length = frameAt(pos); length > 0) {
      pos += length;
      continue;
    }
    do {
      ++pos;
    } while (pos < end && !confirmedAt(pos));
  }
}

int64_t CountFrames(Walker& walk, int64_t pos, const MpegFrame& stream) {
  int64_t frames = 0;
  auto frameAt = [&](int64_t at) -> int64_t {
    MpegFrame frame;
    const std::string_view head = walk.At(at, 4);
    if (head.empty() || !ParseMpegHeader(Be32(head, 0), frame) || !SameStream(stream, frame) || frame.length == 0 ||
        at + frame.length > walk.End()) {
      return 0;
    }
    ++frames;
    return frame.length;
  };
  auto confirmedAt = [&](int64_t at) {
    MpegFrame frame;
    return IsConfirmedFrame(walk, at, stream, frame);
  };
  WalkFrames(pos, walk.End(), frameAt, confirmedAt);
  return frames;
}

// What the first frame says when it is a Xing/Info or VBRI header rather than audio.
struct VbrHeader {
  bool present = false;
  uint32_t frames = 0;   // frames after it; 0 when it does not say
  uint32_t bytes = 0;    // bytes of the stream; 0 when it does not say
  int delay = 0;         // samples the encoder put before the audio (LAME tag)
  int padding = 0;       // …and after it
};

VbrHeader ReadVbrHeader(std::string_view frame, const MpegFrame& f) {
  VbrHeader vbr;
  const size_t sideInfo = f.version == 1 ? (f.mono ? 17 : 32) : (f.mono ? 9 : 17);
  const size_t xing = 4 + sideInfo;
  if (frame.size() >= xing + 8 && (frame.substr(xing, 4) == "Xing" || frame.substr(xing, 4) == "Info")) {
    vbr.present = true;
    const uint32_t flags = Be32(frame, xing + 4);
    size_t at = xing + 8;
    if ((flags & 1) != 0 && frame.size() >= at + 4) vbr.frames = Be32(frame, at), at += 4;
    if ((flags & 2) != 0 && frame.size() >= at + 4) vbr.bytes = Be32(frame, at), at += 4;
    if ((flags & 4) != 0) at += 100;  // seek table
    if ((flags & 8) != 0) at += 4;    // quality
    // The LAME tag (also written by FFmpeg's encoders): delay and padding, 12 bits each, at 21.
    if (frame.size() >= at + 24) {
      const std::string_view encoder = frame.substr(at, 4);
      if (encoder == "LAME" || encoder == "Lavf" || encoder == "Lavc") {
        const uint32_t both = Be32(frame, at + 20) & 0xFFFFFF;
        vbr.delay = static_cast<int>(both >> 12);
        vbr.padding = static_cast<int>(both & 0xFFF);
      }
    }
    return vbr;
  }
  constexpr size_t kVbri = 4 + 32;
  if (frame.size() >= kVbri + 18 && frame.substr(kVbri, 4) == "VBRI") {
    vbr.present = true;
    vbr.bytes = Be32(frame, kVbri + 10);
    vbr.frames = Be32(frame, kVbri + 14);
  }
  return vbr;
}

// A header's frame count is believed when its byte count (where it gives one) covers the data: a
// file joined from several, or one cut short, carries the count of something else. Encoders
// differ in whether that count includes the tags in front, so it may exceed the data by those.
bool CountCoversData(const VbrHeader& vbr, int64_t data, int64_t tagsInFront) {
  if (vbr.frames == 0) return false;
  if (vbr.bytes == 0) return true;
  const int64_t slack = std::max<int64_t>(data / 100, 4 * 1024);
  const auto bytes = static_cast<int64_t>(vbr.bytes);
  return bytes >= data - slack && bytes <= data + tagsInFront + slack;
}

}  // namespace

bool ReadMpegAudio(const TagFile& file, int64_t offset, int64_t end, double& seconds) {
  if (offset >= end) return false;
  Walker walk(file, end);
  const int64_t searchEnd = std::min<int64_t>(end, offset + static_cast<int64_t>(kSyncWindow));
  for (int64_t pos = offset; pos + 4 <= searchEnd; ++pos) {
    const std::string_view head = walk.At(pos, 4);
    MpegFrame first, confirmed;
    if (head.empty() || static_cast<uint8_t>(head[0]) != 0xFF || !ParseMpegHeader(Be32(head, 0), first) ||
        !IsConfirmedFrame(walk, pos, first, confirmed)) {
      continue;
    }
    const std::string frame = file.Read(pos, static_cast<size_t>(first.length));
    const VbrHeader vbr = ReadVbrHeader(frame, first);
    int64_t frames = vbr.frames;
    if (!CountCoversData(vbr, end - pos, pos)) {
      frames = CountFrames(walk, vbr.present ? pos + first.length : pos, first);
    }
    // Decoders leave out what the encoder added before and after the audio (gapless playback).
    const int64_t samples = frames * first.samples - vbr.delay - vbr.padding;
    seconds = static_cast<double>(std::max<int64_t>(samples, 0)) / first.rate;
    return true;
  }
  return false;
}

bool ReadAdts(const TagFile& file, int64_t offset, int64_t end, double& seconds) {
  static constexpr int kRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                     22050, 16000, 12000, 11025, 8000,  7350};
  if (offset >= end) return false;
  Walker walk(file, end);
  // A frame: its header (sync, rate, length) and the next one's, or the end of the data.
  auto header = [&](int64_t pos, int& rate, int64_t& length, int& blocks) {
    const std::string_view b = walk.At(pos, 7);
    if (b.empty() || static_cast<uint8_t>(b[0]) != 0xFF || (static_cast<uint8_t>(b[1]) & 0xF6) != 0xF0) return false;
    const int rateIndex = static_cast<uint8_t>(b[2]) >> 2 & 15;
    length = (static_cast<uint8_t>(b[3]) & 3) << 11 | static_cast<uint8_t>(b[4]) << 3 | static_cast<uint8_t>(b[5]) >> 5;
    blocks = (static_cast<uint8_t>(b[6]) & 3) + 1;
    if (rateIndex >= 13 || length < 7) return false;
    rate = kRates[rateIndex];
    return pos + length <= walk.End();
  };
  auto confirmed = [&](int64_t pos, int wantRate) {
    int rate = 0, nextRate = 0, blocks = 0;
    int64_t length = 0, nextLength = 0;
    if (!header(pos, rate, length, blocks) || (wantRate != 0 && rate != wantRate)) return false;
    return pos + length == walk.End() || (header(pos + length, nextRate, nextLength, blocks) && nextRate == rate);
  };
  int64_t pos = offset;
  const int64_t searchEnd = std::min<int64_t>(end, offset + static_cast<int64_t>(kSyncWindow));
  while (pos < searchEnd && !confirmed(pos, 0)) ++pos;
  if (pos >= searchEnd) return false;
  int rate = 0, blocks = 0;
  int64_t length = 0;
  header(pos, rate, length, blocks);
  const int streamRate = rate;
  uint64_t samples = 0;
  auto frameAt = [&](int64_t at) -> int64_t {
    if (!header(at, rate, length, blocks) || rate != streamRate) return 0;
    samples += 1024u * static_cast<unsigned>(blocks);
    return length;
  };
  WalkFrames(pos, end, frameAt, [&](int64_t at) { return confirmed(at, streamRate); });
  seconds = static_cast<double>(samples) / streamRate;
  return true;
}

namespace {

// SV8's variable-length numbers: seven bits a byte, the high bit set on all but the last.
bool ReadVarint(std::string_view b, size_t& at, uint64_t& value) {
  value = 0;
  for (int i = 0; i < 9 && at < b.size(); ++i) {
    const auto byte = static_cast<uint8_t>(b[at++]);
    value = value << 7 | (byte & 0x7F);
    if ((byte & 0x80) == 0) return true;
  }
  return false;
}

}  // namespace

bool ReadMusepack(const TagFile& file, int64_t offset, int64_t end, double& seconds) {
  static constexpr int kRates[4] = {44100, 48000, 37800, 32000};
  const std::string head = file.Read(offset, 64);
  if (head.compare(0, 4, "MPCK") == 0) {
    // Packets of a two-letter key and a size; the stream header "SH" gives the sample count and
    // the silence the encoder put in front.
    int64_t pos = offset + 4;
    for (int i = 0; i < 64 && pos < end; ++i) {
      const std::string packet = file.Read(pos, 64);
      size_t at = 2;
      uint64_t size = 0;
      if (packet.size() < 3 || !ReadVarint(packet, at, size) || size < at || size > static_cast<uint64_t>(end - pos)) {
        return false;
      }
      if (packet.compare(0, 2, "SH") == 0) {
        uint64_t count = 0, silence = 0;
        at += 4 + 1;  // CRC, stream version
        if (!ReadVarint(packet, at, count) || !ReadVarint(packet, at, silence) || at >= packet.size()) return false;
        const int rateIndex = static_cast<uint8_t>(packet[at]) >> 5;
        if (rateIndex >= 4) return false;
        const int rate = kRates[rateIndex];
        if (count > silence) seconds = static_cast<double>(count - silence) / rate;
        return true;
      }
      if (packet.compare(0, 2, "AP") == 0 || packet.compare(0, 2, "SE") == 0) return false;  // audio before a header
      pos += static_cast<int64_t>(size);
    }
    return false;
  }
  // SV7: "MP+", the version in the low nibble, the frame count, the rate in the next word.
  if (head.size() < 12 || head.compare(0, 3, "MP+") != 0 || (static_cast<uint8_t>(head[3]) & 0x0F) != 7) return false;
  const uint32_t frames = Le32(head, 4);
  const int rate = kRates[Le32(head, 8) >> 16 & 3];
  seconds = static_cast<double>(frames) * 1152 / rate;
  return true;
}

}  // namespace orvane::bass::tags
