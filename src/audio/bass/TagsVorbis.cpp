// Vorbis comments, and the two containers that hold them: FLAC and Ogg (Vorbis, Opus, FLAC, Speex).

#include <algorithm>
#include <cctype>
#include <vector>

#include "TagsFormats.h"

namespace orvane::bass::tags {
namespace {

std::string_view KeyForComment(std::string_view name) {
  struct CommentKey {
    std::string_view name;
    std::string_view key;
  };
  static constexpr CommentKey kKeys[] = {
      {"title", "title"},   {"artist", "artist"},       {"album", "album"},     {"genre", "genre"},
      {"date", "date"},     {"year", "date"},           {"comment", "comment"}, {"description", "comment"},
      {"tracknumber", "track"}, {"composer", "composer"}, {"copyright", "copyright"},
      {"albumartist", "album_artist"}, {"album artist", "album_artist"}, {"album_artist", "album_artist"},
      {"discnumber", "disc"},
  };
  for (const CommentKey& k : kKeys) {
    if (k.name == name) return k.key;
  }
  return {};
}

// What FLAC's STREAMINFO says; samples 0 when it does not count them (a stream writer's file).
struct StreamInfo {
  int rate = 0;
  int channels = 0;
  uint32_t maxBlock = 0;
  uint32_t maxFrameBytes = 0;
  uint64_t samples = 0;
};

bool ParseStreamInfo(std::string_view info, StreamInfo& out) {
  if (info.size() < 18) return false;
  out.maxBlock = Be16(info, 2);
  out.maxFrameBytes = Be32(info, 6) & 0xFFFFFF;
  const uint64_t packed = Be64(info, 10);
  out.rate = static_cast<int>(packed >> 44);
  out.channels = static_cast<int>(packed >> 41 & 7) + 1;
  out.samples = packed & ((uint64_t{1} << 36) - 1);
  return true;
}

// A FLAC frame header at the start of b (sync, fields, CRC-8): its first sample, given the
// stream's nominal block size for streams numbered by frame, and its block size.
struct FlacFrame {
  uint64_t first = 0;
  uint32_t samples = 0;
};

bool ParseFlacFrame(std::string_view b, const StreamInfo& info, FlacFrame& frame) {
  auto byte = [&](size_t i) { return static_cast<uint8_t>(b[i]); };
  if (b.size() < 6 || byte(0) != 0xFF || (byte(1) & 0xFE) != 0xF8 || (byte(3) & 1) != 0) return false;
  const bool bySample = (byte(1) & 1) != 0;
  const int sizeCode = byte(2) >> 4, rateCode = byte(2) & 15, assignment = byte(3) >> 4;
  if (sizeCode == 0 || rateCode == 15 || assignment > 10) return false;
  if ((assignment < 8 ? assignment + 1 : 2) != info.channels) return false;
  // The frame or sample number, coded like UTF-8 (up to 36 bits).
  size_t at = 4;
  uint64_t number = byte(at);
  int more = 0;
  if (number >= 0xFE) {
    more = 6, number = 0;
  } else if (number >= 0xC0) {
    for (uint8_t mask = 0x20; (number & mask) != 0; mask >>= 1) ++more;
    ++more;
    number &= (0x3F >> more);
  } else if (number >= 0x80) {
    return false;
  }
  for (++at; more > 0; --more, ++at) {
    if (at >= b.size() || (byte(at) & 0xC0) != 0x80) return false;
    number = number << 6 | (byte(at) & 0x3F);
  }
  uint32_t samples = 0;
  if (sizeCode == 1) samples = 192;
  if (sizeCode >= 2 && sizeCode <= 5) samples = 576u << (sizeCode - 2);
  if (sizeCode >= 8) samples = 256u << (sizeCode - 8);
  if (sizeCode == 6 && at < b.size()) samples = byte(at++) + 1u;
  if (sizeCode == 7 && at + 1 < b.size()) samples = Be16(b, at) + 1u, at += 2;
  if (rateCode == 12) at += 1;
  if (rateCode == 13 || rateCode == 14) at += 2;
  if (samples == 0 || at >= b.size()) return false;
  uint8_t crc = 0;
  for (size_t i = 0; i < at; ++i) {
    crc ^= byte(i);
    for (int bit = 0; bit < 8; ++bit) crc = static_cast<uint8_t>(crc & 0x80 ? (crc << 1) ^ 0x07 : crc << 1);
  }
  if (crc != byte(at)) return false;
  frame.samples = samples;
  frame.first = bySample ? number : number * info.maxBlock;
  return true;
}

// The sample count of a FLAC stream whose STREAMINFO does not give it: where its last frame ends.
// That frame is the last header in the file's tail that an earlier header there leads up to (a
// lone match inside the audio data could be chance).
uint64_t SamplesUpToLastFrame(const TagFile& file, int64_t audioStart, const StreamInfo& info) {
  const int64_t tailBytes = std::clamp<int64_t>(3 * int64_t{info.maxFrameBytes}, 256 * 1024, kMaxBlock);
  const int64_t from = std::max(audioStart, file.Size() - tailBytes);
  const std::string tail = file.Read(from, static_cast<size_t>(file.Size() - from));
  std::vector<FlacFrame> frames;
  for (size_t at = tail.find('\xFF'); at != std::string::npos; at = tail.find('\xFF', at + 1)) {
    FlacFrame frame;
    if (ParseFlacFrame(std::string_view(tail).substr(at, 16), info, frame)) frames.push_back(frame);
  }
  for (size_t last = frames.size(); last-- > 1;) {
    for (size_t before = last; before-- > 0;) {
      if (frames[before].first + frames[before].samples == frames[last].first) {
        return frames[last].first + frames[last].samples;
      }
    }
  }
  return 0;
}

// The packets at the start of one Ogg logical stream.
class OggReader {
 public:
  OggReader(const TagFile& file, int64_t offset) : file(file), pos(offset) {}

  // The next packet of the first stream; false at the end or on a damaged page. Packets longer
  // than kMaxBlock keep their first kMaxBlock bytes.
  bool Next(std::string& packet) {
    packet.clear();
    for (;;) {
      while (segment < segments.size()) {
        const uint8_t lacing = segments[segment++];
        // A page cut short holds fewer bytes than its lacing says.
        const size_t take = bodyPos < body.size() ? std::min<size_t>(lacing, body.size() - bodyPos) : 0;
        if (take > 0 && packet.size() + take <= kMaxBlock) packet.append(body, bodyPos, take);
        bodyPos += lacing;
        if (lacing < 255) return true;
      }
      if (!NextPage()) return false;
    }
  }
  uint32_t Serial() const { return serial; }

 private:
  bool NextPage() {
    // Pages of other streams multiplexed in are passed over; a packet that spans many pages (a
    // cover in the comments) ends somewhere: give up after a while.
    while (++pages <= 4096) {
      const std::string header = file.Read(pos, 27);
      if (header.size() < 27 || header.compare(0, 4, "OggS") != 0 || header[4] != 0) return false;
      const uint32_t pageSerial = Le32(header, 14);
      const size_t count = static_cast<uint8_t>(header[26]);
      const std::string table = file.Read(pos + 27, count);
      if (table.size() < count) return false;
      size_t size = 0;
      for (const char lace : table) size += static_cast<uint8_t>(lace);
      const int64_t bodyAt = pos + 27 + static_cast<int64_t>(count);
      pos = bodyAt + static_cast<int64_t>(size);
      if (first) {
        serial = pageSerial;
        first = false;
      } else if (pageSerial != serial) {
        continue;
      }
      segments.assign(table.begin(), table.end());
      segment = 0;
      body = size > 0 ? file.Read(bodyAt, size) : std::string();
      bodyPos = 0;
      return true;
    }
    return false;
  }

  const TagFile& file;
  int64_t pos;
  bool first = true;
  uint32_t serial = 0;
  int pages = 0;
  std::vector<uint8_t> segments;
  size_t segment = 0;
  std::string body;
  size_t bodyPos = 0;
};

// The granule position of the stream's last page, searched in the file's last part; -1 if none.
int64_t LastGranule(const TagFile& file, int64_t start, uint32_t serial) {
  constexpr int64_t kTail = 256 * 1024;
  const int64_t from = std::max(start, file.Size() - kTail);
  const std::string tail = file.Read(from, static_cast<size_t>(file.Size() - from));
  size_t at = tail.size();
  while (at > 0) {
    at = tail.rfind("OggS", at - 1);
    if (at == std::string::npos) break;
    if (at + 27 > tail.size() || tail[at + 4] != 0 || Le32(tail, at + 14) != serial) continue;
    const auto granule = static_cast<int64_t>(Le64(tail, at + 6));
    if (granule >= 0) return granule;
  }
  return -1;
}

}  // namespace

void ParseVorbisComment(std::string_view block, TagMap& tags) {
  if (block.size() < 8) return;
  const uint32_t vendor = Le32(block, 0);
  if (vendor > block.size() - 8) return;
  size_t pos = 4 + vendor;
  const uint32_t count = Le32(block, pos);
  pos += 4;
  // A field named more than once (two ARTIST comments) has several values, shown together; of
  // names that mean the same field (DATE, YEAR) the first one wins.
  std::vector<std::pair<std::string, std::string>> fields;  // name, values, in order of appearance
  for (uint32_t i = 0; i < count && pos + 4 <= block.size(); ++i) {
    const uint32_t length = Le32(block, pos);
    pos += 4;
    if (length > block.size() - pos) break;
    const std::string_view entry = block.substr(pos, length);
    pos += length;
    const size_t equals = entry.find('=');
    if (equals == std::string_view::npos) continue;
    std::string name(entry.substr(0, equals));
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (KeyForComment(name).empty()) continue;
    auto field = std::find_if(fields.begin(), fields.end(), [&](const auto& f) { return f.first == name; });
    if (field == fields.end()) field = fields.insert(fields.end(), {std::move(name), std::string()});
    AppendValue(field->second, DeclaredUtf8(entry.substr(equals + 1)));
  }
  for (auto& [name, value] : fields) AddTag(tags, std::string(KeyForComment(name)), std::move(value));
}

bool ReadFlac(const TagFile& file, int64_t offset, TagMap& tags, double& seconds) {
  int64_t pos = offset + 4;
  bool sawInfo = false;
  StreamInfo info;
  for (int block = 0; block < 256; ++block) {
    const std::string header = file.Read(pos, 4);
    if (header.size() < 4) break;
    const int type = static_cast<uint8_t>(header[0]) & 0x7F;
    const uint32_t length = Be32(header, 0) & 0xFFFFFF;
    if (type == 0 || type == 4) {
      const std::string body = length <= kMaxBlock ? file.Read(pos + 4, length) : std::string();
      if (type == 0) {
        sawInfo = ParseStreamInfo(body, info);
      } else {
        ParseVorbisComment(body, tags);
      }
    }
    pos += 4 + static_cast<int64_t>(length);
    if ((static_cast<uint8_t>(header[0]) & 0x80) != 0) break;  // the last metadata block
  }
  if (!sawInfo || info.rate <= 0) return sawInfo;
  const uint64_t samples = info.samples > 0 ? info.samples : SamplesUpToLastFrame(file, pos, info);
  if (samples > 0) seconds = static_cast<double>(samples) / info.rate;
  return true;
}

bool ReadOgg(const TagFile& file, int64_t offset, TagMap& tags, double& seconds) {
  OggReader reader(file, offset);
  std::string id;
  if (!reader.Next(id)) return false;
  int rate = 0;
  int64_t preSkip = 0;
  enum class Codec { Vorbis, Opus, Flac, Speex } codec;
  if (id.size() >= 16 && id.compare(0, 7, "\x01vorbis") == 0) {
    codec = Codec::Vorbis;
    rate = static_cast<int>(Le32(id, 12));
  } else if (id.size() >= 19 && id.compare(0, 8, "OpusHead") == 0) {
    codec = Codec::Opus;
    rate = 48000;  // Opus granules always count 48 kHz samples
    preSkip = Le16(id, 10);
  } else if (id.size() >= 51 && id.compare(0, 5, "\x7F" "FLAC") == 0 && id.compare(9, 4, "fLaC") == 0) {
    codec = Codec::Flac;
    StreamInfo info;
    if (ParseStreamInfo(std::string_view(id).substr(17), info)) rate = info.rate;
  } else if (id.size() >= 40 && id.compare(0, 8, "Speex   ") == 0) {
    codec = Codec::Speex;
    rate = static_cast<int>(Le32(id, 36));
  } else {
    return false;
  }
  std::string comments;
  if (reader.Next(comments)) {
    switch (codec) {
      case Codec::Vorbis:
        if (comments.compare(0, 7, "\x03vorbis") == 0) ParseVorbisComment(std::string_view(comments).substr(7), tags);
        break;
      case Codec::Opus:
        if (comments.compare(0, 8, "OpusTags") == 0) ParseVorbisComment(std::string_view(comments).substr(8), tags);
        break;
      case Codec::Flac:
        // A metadata block: type 4 is the Vorbis comment.
        if (comments.size() >= 4 && (static_cast<uint8_t>(comments[0]) & 0x7F) == 4)
          ParseVorbisComment(std::string_view(comments).substr(4), tags);
        break;
      case Codec::Speex:
        ParseVorbisComment(comments, tags);
        break;
    }
  }
  const int64_t granule = LastGranule(file, offset, reader.Serial());
  if (rate > 0 && granule >= preSkip) seconds = static_cast<double>(granule - preSkip) / rate;
  return true;
}

}  // namespace orvane::bass::tags
