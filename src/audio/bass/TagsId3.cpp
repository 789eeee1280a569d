// ID3v2 (2.2, 2.3, 2.4), ID3v1 and APEv2 tags.

#include <algorithm>
#include <cctype>

#include "TagsFormats.h"

namespace orvane::bass::tags {
namespace {

struct FrameKey {
  std::string_view id;
  std::string_view key;
};

// The frames whose text the player can show, by the keys the decoder uses.
constexpr FrameKey kFrames[] = {
    {"TIT2", "title"},  {"TPE1", "artist"},   {"TALB", "album"},    {"TCON", "genre"},
    {"TYER", "date"},   {"TDRC", "date"},     {"TRCK", "track"},    {"TCOM", "composer"},
    {"TCOP", "copyright"}, {"TPE2", "album_artist"}, {"TPOS", "disc"}, {"COMM", "comment"},
    // ID3v2.2's three-letter names.
    {"TT2", "title"},   {"TP1", "artist"},    {"TAL", "album"},     {"TCO", "genre"},
    {"TYE", "date"},    {"TRK", "track"},     {"TCM", "composer"},  {"TCR", "copyright"},
    {"TP2", "album_artist"}, {"TPA", "disc"}, {"COM", "comment"},
};

std::string_view KeyFor(std::string_view id) {
  for (const FrameKey& frame : kFrames) {
    if (frame.id == id) return frame.key;
  }
  return {};
}

uint32_t SyncSafe(std::string_view b, size_t at) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) value = value << 7 | (static_cast<uint8_t>(b[at + i]) & 0x7F);
  return value;
}

bool IsSyncSafe(std::string_view b, size_t at) {
  for (size_t i = 0; i < 4; ++i) {
    if (static_cast<uint8_t>(b[at + i]) & 0x80) return false;
  }
  return true;
}

bool IsFrameId(std::string_view id) {
  return !id.empty() && std::all_of(id.begin(), id.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
  });
}

// Unsynchronisation put a 0 after every 0xFF; take those out again.
std::string Deunsync(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    out += bytes[i];
    if (static_cast<uint8_t>(bytes[i]) == 0xFF && i + 1 < bytes.size() && bytes[i + 1] == '\0') ++i;
  }
  return out;
}

// Where the text of the given encoding ends: the first NUL (one byte or, for UTF-16, two aligned).
size_t TextEnd(int encoding, std::string_view bytes) {
  if (encoding == 1 || encoding == 2) {
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
      if (bytes[i] == '\0' && bytes[i + 1] == '\0') return i;
    }
    return bytes.size() & ~size_t{1};
  }
  const size_t nul = bytes.find('\0');
  return nul == std::string_view::npos ? bytes.size() : nul;
}

// One text of the given encoding (a byte-order mark first for encoding 1), up to its terminator.
std::string DecodeText(int encoding, std::string_view bytes) {
  bytes = bytes.substr(0, TextEnd(encoding, bytes));
  switch (encoding) {
    case 0:
      return std::string(bytes);  // raw: "Latin-1" frames often hold GBK or UTF-8 (AddLegacyTags)
    case 1: {
      bool bigEndian = false;  // without a byte-order mark, as Windows writes it
      if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFE && static_cast<uint8_t>(bytes[1]) == 0xFF) {
        bigEndian = true;
        bytes.remove_prefix(2);
      } else if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFF &&
                 static_cast<uint8_t>(bytes[1]) == 0xFE) {
        bytes.remove_prefix(2);
      }
      return Utf16ToUtf8(bytes, bigEndian);
    }
    case 2:
      return Utf16ToUtf8(bytes, true);
    case 3:
      return DeclaredUtf8(bytes);
    default:
      return {};
  }
}

struct FrameText {
  bool raw = false;  // encoding 0: bytes whose encoding is left to the guess
  std::string text;
};

// The text of a text frame: its values (NUL-separated in ID3v2.4, and so written into 2.3 tags by
// some taggers) joined. Of a comment frame, only one without a description (comments with one are
// players' private notes, such as loudness data).
FrameText ReadFrameText(std::string_view id, std::string_view data) {
  FrameText result;
  if (data.empty()) return result;
  const int encoding = static_cast<uint8_t>(data[0]);
  const size_t terminator = (encoding == 1 || encoding == 2) ? 2 : 1;
  result.raw = encoding == 0;
  data.remove_prefix(1);
  if (id == "COMM" || id == "COM") {
    if (data.size() < 3) return result;
    data.remove_prefix(3);  // language
    if (TextEnd(encoding, data) != 0) return result;
    data.remove_prefix(std::min(data.size(), terminator));
    result.text = DecodeText(encoding, data);
    return result;
  }
  while (!data.empty()) {
    const size_t end = TextEnd(encoding, data);
    AppendValue(result.text, DecodeText(encoding, data.substr(0, end)));
    data.remove_prefix(std::min(data.size(), end + terminator));
  }
  return result;
}

// The frames of a tag body; get(offset, count) gives bytes of the body.
template <typename Get>
void ParseFrames(int version, int flags, int64_t limit, Get get, TagMap& tags, RawTexts& raw) {
  int64_t pos = 0;
  if (version >= 3 && (flags & 0x40) != 0) {
    const std::string extended = get(0, 4);
    if (extended.size() < 4) return;
    pos = version == 3 ? 4 + int64_t{Be32(extended, 0)} : int64_t{SyncSafe(extended, 0)};
  }
  const int64_t headerSize = version == 2 ? 6 : 10;
  const size_t idSize = version == 2 ? 3 : 4;
  while (pos >= 0 && pos + headerSize <= limit) {
    const std::string header = get(pos, static_cast<size_t>(headerSize));
    if (header.size() < static_cast<size_t>(headerSize) || header[0] == '\0') return;  // padding
    const std::string id = header.substr(0, idSize);
    if (!IsFrameId(id)) return;
    int64_t size;
    if (version == 2) {
      size = int64_t{Be32(header, 2) & 0xFFFFFF};  // three bytes after the three-letter name
    } else if (version == 3 || !IsSyncSafe(header, 4)) {
      size = Be32(header, 4);
    } else {
      size = SyncSafe(header, 4);
      // Some taggers wrote 2.4 sizes as plain numbers: believe that only when the syncsafe reading
      // lands on no frame and the plain one does.
      const int64_t plain = Be32(header, 4);
      if (plain != size && pos + headerSize + plain <= limit) {
        auto looksLikeFrame = [&](int64_t at) {
          if (at + 4 > limit) return at <= limit;
          const std::string next = get(at, 4);
          return next.size() == 4 && (next[0] == '\0' || IsFrameId(next));
        };
        if (!looksLikeFrame(pos + headerSize + size) && looksLikeFrame(pos + headerSize + plain)) size = plain;
      }
    }
    const int64_t next = pos + headerSize + size;
    if (next > limit) return;
    const std::string_view key = KeyFor(id);
    if (!key.empty() && size > 0 && static_cast<size_t>(size) <= kMaxTextItem + 16) {
      std::string data = get(pos + headerSize, static_cast<size_t>(size));
      const uint32_t frameFlags = version == 2 ? 0 : Be16(header, 8);
      bool readable = data.size() == static_cast<size_t>(size);
      if (version == 3) {
        readable &= (frameFlags & 0x00C0) == 0;  // compressed or encrypted
        if (readable && (frameFlags & 0x0020) != 0) data.erase(0, 1);  // group id
      } else if (version == 4) {
        readable &= (frameFlags & 0x000C) == 0;
        if (readable && (frameFlags & 0x0040) != 0) data.erase(0, 1);
        if (readable && (frameFlags & 0x0002) != 0) data = Deunsync(data);
        if (readable && (frameFlags & 0x0001) != 0) data.erase(0, std::min<size_t>(4, data.size()));
      }
      if (readable) {
        FrameText text = ReadFrameText(id, data);
        if (text.raw) {
          raw.emplace_back(key, std::move(text.text));
        } else {
          AddTag(tags, std::string(key), std::move(text.text));
        }
      }
    }
    pos = next;
  }
}

// The body of a tag whose header is header (10 bytes); get reads the body.
template <typename Get>
void ParseTagFrames(std::string_view header, int64_t available, Get get, TagMap& tags, RawTexts& raw) {
  const int version = static_cast<uint8_t>(header[3]);
  const int flags = static_cast<uint8_t>(header[5]);
  const int64_t size = std::min<int64_t>(SyncSafe(header, 6), available);
  if (version == 2 && (flags & 0x40) != 0) return;  // 2.2 compression: no known way to read it
  if ((flags & 0x80) != 0 && version < 4) {
    // The whole tag is unsynchronised: only its de-unsynchronised bytes show the frames.
    if (size > static_cast<int64_t>(kMaxBlock)) return;
    const std::string body = Deunsync(get(0, static_cast<size_t>(size)));
    auto fromBody = [&body](int64_t at, size_t count) {
      return at < static_cast<int64_t>(body.size()) ? body.substr(static_cast<size_t>(at), count) : std::string();
    };
    ParseFrames(version, flags, static_cast<int64_t>(body.size()), fromBody, tags, raw);
    return;
  }
  ParseFrames(version, flags, size, get, tags, raw);
}

// The frames of a tag's body into tags; those marked Latin-1 are decoded together at the end.
template <typename Get>
void ParseTagBody(std::string_view header, int64_t available, Get get, TagMap& tags) {
  TagMap own;
  RawTexts raw;
  ParseTagFrames(header, available, get, own, raw);
  AddLegacyTags(own, raw);
  for (auto& [key, value] : own) AddTag(tags, key, std::move(value));
}

bool IsId3v2Header(std::string_view header) {
  return header.size() >= 10 && header.substr(0, 3) == "ID3" && header[3] >= 2 && header[3] <= 4 &&
         static_cast<uint8_t>(header[4]) != 0xFF && IsSyncSafe(header, 6);
}

void ReadApe(std::string_view items, uint32_t count, TagMap& tags) {
  struct ApeKey {
    std::string_view name;
    std::string_view key;
  };
  static constexpr ApeKey kKeys[] = {
      {"title", "title"},         {"artist", "artist"},     {"album", "album"},   {"year", "date"},
      {"genre", "genre"},         {"comment", "comment"},   {"track", "track"},   {"composer", "composer"},
      {"copyright", "copyright"}, {"album artist", "album_artist"}, {"disc", "disc"},
  };
  size_t pos = 0;
  for (uint32_t i = 0; i < count && pos + 8 < items.size(); ++i) {
    const uint32_t size = Le32(items, pos);
    const uint32_t flags = Le32(items, pos + 4);
    const size_t keyEnd = items.find('\0', pos + 8);
    if (keyEnd == std::string_view::npos || size > items.size() - keyEnd - 1) return;
    std::string name(items.substr(pos + 8, keyEnd - pos - 8));
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string_view value = items.substr(keyEnd + 1, size);
    pos = keyEnd + 1 + size;
    if ((flags & 0x06) != 0) continue;  // binary or a link, not text
    for (const ApeKey& k : kKeys) {
      if (k.name != name) continue;
      // UTF-8; several values of one item are separated by NULs.
      std::string text;
      for (std::string_view rest = value; !rest.empty();) {
        const size_t end = std::min(rest.find('\0'), rest.size());
        AppendValue(text, DeclaredUtf8(rest.substr(0, end)));
        rest.remove_prefix(std::min(rest.size(), end + 1));
      }
      AddTag(tags, std::string(k.key), std::move(text));
    }
  }
}

}  // namespace

int64_t ReadId3v2(const TagFile& file, int64_t offset, TagMap& tags) {
  const std::string header = file.Read(offset, 10);
  if (!IsId3v2Header(header)) return 0;
  const int64_t size = SyncSafe(header, 6);
  const bool footer = header[3] == 4 && (static_cast<uint8_t>(header[5]) & 0x10) != 0;
  const int64_t body = offset + 10;
  auto fromFile = [&file, body](int64_t at, size_t count) { return file.Read(body + at, count); };
  ParseTagBody(header, std::max<int64_t>(0, file.Size() - body), fromFile, tags);
  return 10 + size + (footer ? 10 : 0);
}

void ParseId3v2(std::string_view tag, TagMap& tags) {
  if (!IsId3v2Header(tag)) return;
  const std::string_view body = tag.substr(10);
  auto fromBody = [body](int64_t at, size_t count) {
    return at < static_cast<int64_t>(body.size()) ? std::string(body.substr(static_cast<size_t>(at), count))
                                                  : std::string();
  };
  ParseTagBody(tag, static_cast<int64_t>(body.size()), fromBody, tags);
}

void ReadTrailingTags(const TagFile& file, int64_t& end, TagMap& tags) {
  RawTexts v1;
  if (end >= 128) {
    const std::string tag = file.Read(end - 128, 128);
    if (tag.size() == 128 && tag.compare(0, 3, "TAG") == 0) {
      // Raw bytes in whatever the writer's code page was (GBK on Chinese Windows). Fields are
      // padded with NULs or, by many writers, with blanks: neither belongs to the text.
      const std::string_view t(tag);
      auto field = [&t](size_t at, size_t size) {
        std::string text = UpToNul(t.substr(at, size));
        while (!text.empty() && text.back() == ' ') text.pop_back();
        return text;
      };
      v1 = {{"title", field(3, 30)}, {"artist", field(33, 30)}, {"album", field(63, 30)}, {"date", field(93, 4)}};
      if (t[125] == '\0' && t[126] != '\0') {  // ID3v1.1: the last comment byte is the track
        v1.emplace_back("comment", field(97, 28));
        v1.emplace_back("track", std::to_string(static_cast<uint8_t>(t[126])));
      } else {
        v1.emplace_back("comment", field(97, 30));
      }
      end -= 128;
    }
  }
  if (end >= 32) {
    const std::string footer = file.Read(end - 32, 32);
    if (footer.size() == 32 && footer.compare(0, 8, "APETAGEX") == 0) {
      const uint32_t size = Le32(footer, 12);  // items and footer
      const uint32_t count = Le32(footer, 16);
      const bool hasHeader = (Le32(footer, 20) & 0x80000000u) != 0;
      if (size >= 32 && size <= end && size - 32 <= kMaxBlock) {
        const int64_t itemsStart = end - size;
        ReadApe(file.Read(itemsStart, size - 32), count, tags);
        end = itemsStart - (hasHeader && itemsStart >= 32 ? 32 : 0);
      }
    }
  }
  AddLegacyTags(tags, v1);
}

}  // namespace orvane::bass::tags
