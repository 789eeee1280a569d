// WAV (RIFF) and AIFF: their chunks of text, an ID3v2 chunk, and the length from the format chunk.

#include <cmath>

#include "TagsFormats.h"

namespace orvane::bass::tags {
namespace {

constexpr int kMaxChunks = 1024;

struct ChunkKey {
  std::string_view id;
  std::string_view key;
};

std::string_view KeyForChunk(const ChunkKey* keys, size_t count, std::string_view id) {
  for (size_t i = 0; i < count; ++i) {
    if (keys[i].id == id) return keys[i].key;
  }
  return {};
}

// A RIFF LIST/INFO chunk's body after "INFO": its text items, raw bytes in the writer's code page.
void ParseInfo(std::string_view list, TagMap& tags) {
  static constexpr ChunkKey kKeys[] = {
      {"INAM", "title"}, {"IART", "artist"},  {"IPRD", "album"},     {"ICMT", "comment"}, {"ICRD", "date"},
      {"IGNR", "genre"}, {"ITRK", "track"},   {"IPRT", "track"},     {"ICOP", "copyright"},
  };
  RawTexts raw;
  size_t pos = 0;
  while (pos + 8 <= list.size()) {
    const std::string_view id = list.substr(pos, 4);
    const uint32_t size = Le32(list, pos + 4);
    if (size > list.size() - pos - 8) break;
    const std::string_view key = KeyForChunk(kKeys, std::size(kKeys), id);
    if (!key.empty()) raw.emplace_back(key, UpToNul(list.substr(pos + 8, size)));
    pos += 8 + size + (size & 1);
  }
  AddLegacyTags(tags, raw);
}

// An IEEE 754 80-bit extended number (AIFF's sample rate).
double Extended(std::string_view b, size_t at) {
  const int exponent = static_cast<int>(Be16(b, at) & 0x7FFF);
  const uint64_t mantissa = Be64(b, at + 2);
  if (exponent == 0 || exponent == 0x7FFF) return 0;
  return std::ldexp(static_cast<double>(mantissa), exponent - 16383 - 63);
}

}  // namespace

bool ReadWav(const TagFile& file, TagMap& tags, double& seconds) {
  int64_t pos = 12;
  uint32_t formatTag = 0, rate = 0, byteRate = 0;
  int64_t factSamples = -1, dataSize = -1;
  for (int i = 0; i < kMaxChunks && pos + 8 <= file.Size(); ++i) {
    const std::string header = file.Read(pos, 8);
    if (header.size() < 8) break;
    const std::string_view id = std::string_view(header).substr(0, 4);
    const int64_t size = Le32(header, 4);
    const int64_t body = pos + 8;
    if (id == "fmt ") {
      const std::string fmt = file.Read(body, 16);
      if (fmt.size() < 16) return false;
      formatTag = Le16(fmt, 0);
      rate = Le32(fmt, 4);
      byteRate = Le32(fmt, 8);
    } else if (id == "fact") {
      const std::string fact = file.Read(body, 4);
      if (fact.size() == 4) factSamples = Le32(fact, 0);
    } else if (id == "data") {
      dataSize = std::min<int64_t>(size, file.Size() - body);
      if (size == 0xFFFFFFFF || size == 0) {
        // A size never filled in (a recording cut short, a stream) means "to the end of the file".
        dataSize = file.Size() - body;
        break;
      }
    } else if (id == "LIST" && size >= 4 && static_cast<size_t>(size) <= kMaxBlock) {
      const std::string list = file.Read(body, static_cast<size_t>(size));
      if (list.compare(0, 4, "INFO") == 0) ParseInfo(std::string_view(list).substr(4), tags);
    } else if ((id == "id3 " || id == "ID3 ") && static_cast<size_t>(size) <= kMaxBlock) {
      ParseId3v2(file.Read(body, static_cast<size_t>(size)), tags);
    }
    pos = body + size + (size & 1);
  }
  if (byteRate == 0 && rate == 0) return false;  // no format chunk: not a WAV we know
  const bool pcm = formatTag == 1 || formatTag == 3 || formatTag == 0xFFFE;
  if (!pcm && factSamples > 0 && rate > 0) {
    seconds = static_cast<double>(factSamples) / rate;
  } else if (dataSize >= 0 && byteRate > 0) {
    seconds = static_cast<double>(dataSize) / byteRate;
  }
  return true;
}

bool ReadAiff(const TagFile& file, TagMap& tags, double& seconds) {
  static constexpr ChunkKey kKeys[] = {
      {"NAME", "title"}, {"AUTH", "artist"}, {"(c) ", "copyright"}, {"ANNO", "comment"},
  };
  int64_t pos = 12;
  bool sawCommon = false;
  RawTexts raw;  // text chunks: raw bytes in the writer's code page
  for (int i = 0; i < kMaxChunks && pos + 8 <= file.Size(); ++i) {
    const std::string header = file.Read(pos, 8);
    if (header.size() < 8) break;
    const std::string_view id = std::string_view(header).substr(0, 4);
    const int64_t size = Be32(header, 4);
    const int64_t body = pos + 8;
    if (id == "COMM") {
      const std::string common = file.Read(body, 18);
      if (common.size() < 18) return false;
      const double rate = Extended(common, 8);
      // A rate of a fraction of a hertz would make the length endless: such a header says nothing.
      if (rate >= 1 && std::isfinite(rate)) seconds = Be32(common, 2) / rate;
      sawCommon = true;
    } else if (id == "ID3 " || id == "id3 ") {
      if (static_cast<size_t>(size) <= kMaxBlock) ParseId3v2(file.Read(body, static_cast<size_t>(size)), tags);
    } else if (const std::string_view key = KeyForChunk(kKeys, std::size(kKeys), id);
               !key.empty() && static_cast<size_t>(size) <= kMaxTextItem) {
      raw.emplace_back(key, UpToNul(file.Read(body, static_cast<size_t>(size))));
    }
    pos = body + size + (size & 1);
  }
  AddLegacyTags(tags, raw);
  return sawCommon;
}

}  // namespace orvane::bass::tags
