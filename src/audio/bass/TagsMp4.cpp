// MP4/M4A: the iTunes-style item list (moov/udta/meta/ilst) and the length of the sound track.
// Only box headers and the few small boxes needed are read: the media data and the sample tables
// are stepped over by their sizes.

#include "TagsFormats.h"

namespace orvane::bass::tags {
namespace {

struct Box {
  std::string type;
  int64_t body = 0;  // where the content starts
  int64_t end = 0;   // where the box ends
};

// The box at pos inside a parent ending at parentEnd; false when there is none or it is damaged.
bool ReadBox(const TagFile& file, int64_t pos, int64_t parentEnd, Box& box) {
  if (pos + 8 > parentEnd) return false;
  const std::string header = file.Read(pos, 16);
  if (header.size() < 8) return false;
  uint64_t size = Be32(header, 0);
  box.type = header.substr(4, 4);
  box.body = pos + 8;
  if (size == 1) {  // 64-bit size follows
    if (header.size() < 16) return false;
    size = Be64(header, 8);
    box.body = pos + 16;
  } else if (size == 0) {  // to the end of the parent
    size = static_cast<uint64_t>(parentEnd - pos);
  }
  if (size < static_cast<uint64_t>(box.body - pos) || size > static_cast<uint64_t>(parentEnd - pos)) return false;
  box.end = pos + static_cast<int64_t>(size);
  return true;
}

// Calls visit(box) for every box in [start, end), at most a few thousand.
template <typename Visit>
void ForEachBox(const TagFile& file, int64_t start, int64_t end, Visit visit) {
  Box box;
  for (int i = 0; i < 4096 && ReadBox(file, start, end, box); ++i) {
    visit(box);
    start = box.end;
  }
}

// Duration over time scale of an mvhd or mdhd box (the two share this layout); -1 when unreadable.
double HeaderSeconds(const TagFile& file, const Box& box) {
  const std::string b = file.Read(box.body, 32);
  if (b.empty()) return -1;
  uint64_t scale = 0, duration = 0;
  if (b[0] == 1 && b.size() >= 32) {
    scale = Be32(b, 20);
    duration = Be64(b, 24);
  } else if (b[0] == 0 && b.size() >= 20) {
    scale = Be32(b, 12);
    duration = Be32(b, 16);
  }
  if (scale == 0 || duration == 0 || duration == UINT64_MAX || duration == 0xFFFFFFFF) return -1;
  return static_cast<double>(duration) / static_cast<double>(scale);
}

void ReadItem(const TagFile& file, const Box& item, TagMap& tags) {
  struct ItemKey {
    std::string_view type;
    std::string_view key;
  };
  static constexpr ItemKey kKeys[] = {
      {"\xA9nam", "title"},   {"\xA9" "ART", "artist"},  {"\xA9" "alb", "album"}, {"\xA9gen", "genre"},
      {"\xA9" "day", "date"}, {"\xA9" "cmt", "comment"}, {"\xA9wrt", "composer"}, {"cprt", "copyright"},
      {"aART", "album_artist"}, {"trkn", "track"},       {"disk", "disc"},
  };
  std::string_view key;
  for (const ItemKey& k : kKeys) {
    if (k.type == item.type) key = k.key;
  }
  if (key.empty()) return;
  std::string text;  // several data boxes are several values
  ForEachBox(file, item.body, item.end, [&](const Box& data) {
    const int64_t size = data.end - data.body;
    if (data.type != "data" || size < 8 || static_cast<size_t>(size) > kMaxTextItem) return;
    const std::string body = file.Read(data.body, static_cast<size_t>(size));
    if (body.size() < 8) return;
    const uint32_t kind = Be32(body, 0) & 0xFFFFFF;
    const std::string_view value = std::string_view(body).substr(8);
    if (key == "track" || key == "disc") {
      // Binary: two reserved bytes, the number, the total.
      if (value.size() < 4 || Be16(value, 2) == 0) return;
      std::string number = std::to_string(Be16(value, 2));
      if (value.size() >= 6 && Be16(value, 4) != 0) {
        number += '/';
        number += std::to_string(Be16(value, 4));
      }
      AddTag(tags, std::string(key), number);
    } else if (kind == 1) {
      AppendValue(text, DeclaredUtf8(value));
    } else if (kind == 2) {
      AppendValue(text, Utf16ToUtf8(value, true));
    }
  });
  AddTag(tags, std::string(key), std::move(text));
}

// A meta box: a full box (four bytes of version and flags before its children) in the ISO layout,
// a plain container in the QuickTime one.
void ReadMeta(const TagFile& file, const Box& meta, TagMap& tags) {
  const std::string first = file.Read(meta.body, 8);
  const int64_t children = first.size() >= 8 && first.compare(4, 4, "hdlr") == 0 ? meta.body : meta.body + 4;
  ForEachBox(file, children, meta.end, [&](const Box& box) {
    if (box.type == "ilst") ForEachBox(file, box.body, box.end, [&](const Box& item) { ReadItem(file, item, tags); });
  });
}

// The length of a trak when it is a sound track; -1 otherwise.
double SoundTrackSeconds(const TagFile& file, const Box& trak) {
  double seconds = -1;
  ForEachBox(file, trak.body, trak.end, [&](const Box& mdia) {
    if (mdia.type != "mdia") return;
    double mediaSeconds = -1;
    bool sound = false;
    ForEachBox(file, mdia.body, mdia.end, [&](const Box& box) {
      if (box.type == "mdhd") mediaSeconds = HeaderSeconds(file, box);
      if (box.type == "hdlr") sound = file.Read(box.body + 8, 4) == "soun";
    });
    if (sound) seconds = mediaSeconds;
  });
  return seconds;
}

}  // namespace

bool ReadMp4(const TagFile& file, TagMap& tags, double& seconds) {
  bool sawMoov = false;
  double movieSeconds = -1, soundSeconds = -1;
  ForEachBox(file, 0, file.Size(), [&](const Box& top) {
    if (top.type != "moov") return;
    sawMoov = true;
    ForEachBox(file, top.body, top.end, [&](const Box& box) {
      if (box.type == "mvhd") {
        movieSeconds = HeaderSeconds(file, box);
      } else if (box.type == "trak" && soundSeconds < 0) {
        soundSeconds = SoundTrackSeconds(file, box);
      } else if (box.type == "udta") {
        ForEachBox(file, box.body, box.end, [&](const Box& meta) {
          if (meta.type == "meta") ReadMeta(file, meta, tags);
        });
      } else if (box.type == "meta") {
        ReadMeta(file, box, tags);
      }
    });
  });
  seconds = soundSeconds >= 0 ? soundSeconds : movieSeconds;
  return sawMoov;
}

}  // namespace orvane::bass::tags
