#include "app/SongCover.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <system_error>
#include <vector>

#include "desktop/XdgPaths.h"

namespace orvane::app {
namespace {

namespace fs = std::filesystem;

struct InputCloser {
  void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
using Input = std::unique_ptr<AVFormatContext, InputCloser>;

std::string Album(const AVFormatContext& context) {
  if (const AVDictionaryEntry* entry = av_dict_get(context.metadata, "album", nullptr, 0)) return entry->value;
  // Ogg and a few others keep the tags on the audio stream.
  for (unsigned i = 0; i < context.nb_streams; ++i)
    if (const AVDictionaryEntry* entry = av_dict_get(context.streams[i]->metadata, "album", nullptr, 0))
      return entry->value;
  return {};
}

const AVPacket* Picture(const AVFormatContext& context) {
  for (unsigned i = 0; i < context.nb_streams; ++i) {
    const AVStream& stream = *context.streams[i];
    if (!(stream.disposition & AV_DISPOSITION_ATTACHED_PIC)) continue;
    if (stream.attached_pic.size <= 0 || static_cast<std::size_t>(stream.attached_pic.size) > kMaxCoverBytes) continue;
    return &stream.attached_pic;
  }
  return nullptr;
}

const char* Extension(const uint8_t* bytes, std::size_t size) {
  const auto startsWith = [bytes, size](const char* magic, std::size_t at = 0) {
    const std::size_t length = std::strlen(magic);
    return size >= at + length && std::memcmp(bytes + at, magic, length) == 0;
  };
  if (startsWith("\xFF\xD8\xFF")) return ".jpg";
  if (startsWith("\x89PNG\r\n\x1a\n")) return ".png";
  if (startsWith("GIF87a") || startsWith("GIF89a")) return ".gif";
  if (startsWith("RIFF") && startsWith("WEBP", 8)) return ".webp";
  if (startsWith("BM")) return ".bmp";
  return nullptr;  // not a picture a widget could show
}

// 64-bit FNV-1a: the name only has to tell pictures apart, not resist anyone.
uint64_t Fingerprint(const uint8_t* bytes, std::size_t size) {
  uint64_t hash = 14695981039346656037ull;
  for (std::size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 1099511628211ull;
  return hash ^ size;
}

// Drops the oldest covers beyond the kept number, never keep itself.
void Trim(const fs::path& folder, const fs::path& keep) {
  std::error_code error;
  std::vector<std::pair<fs::file_time_type, fs::path>> covers;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
    if (!entry.is_regular_file(error) || entry.path() == keep) continue;
    if (entry.path().extension().string().starts_with(".part")) continue;  // being written
    covers.emplace_back(entry.last_write_time(error), entry.path());
  }
  if (covers.size() < kKeptCovers) return;
  std::sort(covers.begin(), covers.end());
  for (std::size_t i = 0; i + kKeptCovers <= covers.size(); ++i) fs::remove(covers[i].second, error);
}

// Writes the picture under its own name (a temporary name first, so a reader never sees half a
// file); an existing file with that name already holds it.
std::string WriteCover(const AVPacket& picture, const std::string& folder) {
  const auto* bytes = picture.data;
  const auto size = static_cast<std::size_t>(picture.size);
  const char* extension = Extension(bytes, size);
  if (!extension) return {};
  std::error_code error;
  fs::create_directories(folder, error);
  char name[32];
  std::snprintf(name, sizeof name, "%016llx", static_cast<unsigned long long>(Fingerprint(bytes, size)));
  const fs::path path = fs::path(folder) / (std::string(name) + extension);
  if (fs::exists(path, error) && fs::file_size(path, error) == size) {
    fs::last_write_time(path, fs::file_time_type::clock::now(), error);  // recently used: kept longer
    return path.string();
  }
  // Two songs of one album may be read at once: each writes a name of its own.
  static std::atomic<unsigned> writes{0};
  const fs::path temporary = fs::path(path).concat(".part" + std::to_string(::getpid()) + "-" + std::to_string(++writes));
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(size));
    if (!out.flush()) {
      out.close();
      fs::remove(temporary, error);
      return {};
    }
  }
  fs::rename(temporary, path, error);
  if (error) {
    fs::remove(temporary, error);
    return {};
  }
  Trim(folder, path);
  return path.string();
}

}  // namespace

std::string CoverFolder() {
  const std::string cache = desktop::CacheHome();
  return cache.empty() ? std::string() : cache + "/orvane/covers";
}

TSongCover ReadSongCover(const std::string& location, const std::string& folder) {
  TSongCover cover;
  // The song file alone: a file that is really a play list must not make the reader fetch what it
  // names.
  AVDictionary* options = nullptr;
  av_dict_set(&options, "protocol_whitelist", "file", 0);
  AVFormatContext* opened = nullptr;
  const int result = avformat_open_input(&opened, ("file:" + location).c_str(), nullptr, &options);
  av_dict_free(&options);
  if (result < 0) return cover;
  const Input input(opened);
  cover.Album = Album(*input);
  const AVPacket* picture = Picture(*input);
  if (picture && !folder.empty()) cover.CoverPath = WriteCover(*picture, folder);
  return cover;
}

}  // namespace orvane::app
