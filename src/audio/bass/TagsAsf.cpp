// ASF/WMA: the content description objects of the header and the file properties' play duration.

#include "TagsFormats.h"

namespace orvane::bass::tags {
namespace {

// Object GUIDs as they lie in the file.
constexpr std::string_view kFileProperties{"\xA1\xDC\xAB\x8C\x47\xA9\xCF\x11\x8E\xE4\x00\xC0\x0C\x20\x53\x65", 16};
constexpr std::string_view kContentDescription{"\x33\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C", 16};
constexpr std::string_view kExtendedContent{"\x40\xA4\xD0\xD2\x07\xE3\xD2\x11\x97\xF0\x00\xA0\xC9\x5E\xA8\x50", 16};

void ParseContentDescription(std::string_view body, TagMap& tags) {
  if (body.size() < 10) return;
  static constexpr std::string_view kKeys[] = {"title", "artist", "copyright", "comment"};
  size_t pos = 10;
  for (size_t i = 0; i < std::size(kKeys); ++i) {
    const size_t length = Le16(body, 2 * i);
    if (length > body.size() - pos) return;
    AddTag(tags, std::string(kKeys[i]), Utf16ToUtf8(body.substr(pos, length), false));
    pos += length;
  }
}

void ParseExtendedContent(std::string_view body, TagMap& tags) {
  struct AttributeKey {
    std::string_view name;
    std::string_view key;
  };
  static constexpr AttributeKey kKeys[] = {
      {"WM/AlbumTitle", "album"},  {"WM/Genre", "genre"},       {"WM/Year", "date"},
      {"WM/TrackNumber", "track"}, {"WM/Composer", "composer"}, {"WM/AlbumArtist", "album_artist"},
      {"WM/PartOfSet", "disc"},
  };
  if (body.size() < 2) return;
  const uint32_t count = Le16(body, 0);
  size_t pos = 2;
  for (uint32_t i = 0; i < count && pos + 2 <= body.size(); ++i) {
    const size_t nameLength = Le16(body, pos);
    pos += 2;
    if (nameLength + 4 > body.size() - pos) return;
    const std::string name = Utf16ToUtf8(body.substr(pos, nameLength), false);
    pos += nameLength;
    const uint32_t type = Le16(body, pos);
    const size_t valueLength = Le16(body, pos + 2);
    pos += 4;
    if (valueLength > body.size() - pos) return;
    const std::string_view value = body.substr(pos, valueLength);
    pos += valueLength;
    for (const AttributeKey& k : kKeys) {
      if (k.name != name) continue;
      if (type == 0) AddTag(tags, std::string(k.key), Utf16ToUtf8(value, false));
      if (type == 3 && value.size() >= 4) AddTag(tags, std::string(k.key), std::to_string(Le32(value, 0)));
      if (type == 5 && value.size() >= 2) AddTag(tags, std::string(k.key), std::to_string(Le16(value, 0)));
    }
  }
}

}  // namespace

bool ReadAsf(const TagFile& file, TagMap& tags, double& seconds) {
  const std::string header = file.Read(0, 30);
  if (header.size() < 30) return false;
  const uint64_t headerSize = Le64(header, 16);
  const uint32_t objects = Le32(header, 24);
  const int64_t end = static_cast<int64_t>(std::min<uint64_t>(headerSize, static_cast<uint64_t>(file.Size())));
  int64_t pos = 30;
  bool sawProperties = false;
  for (uint32_t i = 0; i < objects && i < 1024 && pos + 24 <= end; ++i) {
    const std::string object = file.Read(pos, 24);
    if (object.size() < 24) break;
    const std::string_view guid = std::string_view(object).substr(0, 16);
    const uint64_t size = Le64(object, 16);
    if (size < 24 || size > static_cast<uint64_t>(end - pos)) break;
    const size_t bodySize = static_cast<size_t>(size - 24);
    if (guid == kFileProperties) {
      const std::string body = file.Read(pos + 24, 64);
      if (body.size() >= 64) {
        sawProperties = true;
        const double play = static_cast<double>(Le64(body, 40)) / 1e7;  // 100 ns units
        const double preroll = static_cast<double>(Le64(body, 56)) / 1e3;  // ms, counted in play
        if (play > preroll) seconds = play - preroll;
      }
    } else if (guid == kContentDescription && bodySize <= kMaxBlock) {
      ParseContentDescription(file.Read(pos + 24, bodySize), tags);
    } else if (guid == kExtendedContent && bodySize <= kMaxBlock) {
      ParseExtendedContent(file.Read(pos + 24, bodySize), tags);
    }
    pos += static_cast<int64_t>(size);
  }
  return sawProperties;
}

}  // namespace orvane::bass::tags
