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

// FLAC's STREAMINFO: the length in seconds, or -1 when it does not say (0 samples, bad rate).
double StreamInfoSeconds(std::string_view info, int& rate) {
  if (info.size() < 18) return -1;
  const uint64_t packed = Be64(info, 10);
  rate = static_cast<int>(packed >> 44);
  const uint64_t samples = packed & ((uint64_t{1} << 36) - 1);
  if (rate <= 0 || samples == 0) return -1;
  return static_cast<double>(samples) / rate;
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
  for (int block = 0; block < 256; ++block) {
    const std::string header = file.Read(pos, 4);
    if (header.size() < 4) break;
    const int type = static_cast<uint8_t>(header[0]) & 0x7F;
    const uint32_t length = Be32(header, 0) & 0xFFFFFF;
    if (type == 0 || type == 4) {
      const std::string body = length <= kMaxBlock ? file.Read(pos + 4, length) : std::string();
      if (type == 0) {
        int rate = 0;
        seconds = StreamInfoSeconds(body, rate);
        sawInfo = body.size() >= 18;
      } else {
        ParseVorbisComment(body, tags);
      }
    }
    if ((static_cast<uint8_t>(header[0]) & 0x80) != 0) break;  // the last metadata block
    pos += 4 + static_cast<int64_t>(length);
  }
  return sawInfo;
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
    StreamInfoSeconds(std::string_view(id).substr(17), rate);
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
