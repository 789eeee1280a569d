// TAGS_Read: the container's tags through a small format language, as readable UTF-8.

#include "tags.h"

#include <string>
#include <string_view>

#include "Channel.h"
#include "Errors.h"
#include "Library.h"
#include "text/Legacy.h"

namespace orvane::bass {
namespace {

struct Field {
  std::string_view code;
  std::string_view keys[2];  // FFmpeg's metadata keys, in order of preference
};

constexpr Field kFields[] = {
    {"TITL", {"title", ""}},       {"ARTI", {"artist", ""}},      {"ALBM", {"album", ""}},
    {"GNRE", {"genre", ""}},       {"YEAR", {"date", "year"}},    {"CMNT", {"comment", ""}},
    {"TRCK", {"track", ""}},       {"COMP", {"composer", ""}},    {"COPY", {"copyright", ""}},
    {"AART", {"album_artist", ""}}, {"DISC", {"disc", ""}},
};

// FFmpeg hands ID3v1 text over as the raw bytes (GBK from Chinese Windows is not UTF-8), and
// ID3v2 frames marked Latin-1 converted from Latin-1 (GBK bytes then read as accented letters).
// Both are turned into the text they really are; genuine Latin-1 accents stay.
std::string Readable(const std::string& raw) {
  if (orvane::text::IsValidUtf8(raw)) return orvane::text::RepairLatin1Misread(raw);
  return orvane::text::FromLegacy(raw);
}

std::string Lookup(const std::map<std::string, std::string>& tags, const Field& field) {
  for (std::string_view key : field.keys) {
    if (key.empty()) continue;
    const auto it = tags.find(std::string(key));
    if (it != tags.end()) return Readable(it->second);
  }
  return {};
}

std::string Format(const std::map<std::string, std::string>& tags, std::string_view format) {
  std::string result;
  for (size_t i = 0; i < format.size();) {
    if (format[i] != '%') {
      result += format[i++];
      continue;
    }
    if (format.substr(i, 2) == "%%") {
      result += '%';
      i += 2;
      continue;
    }
    const std::string_view code = format.substr(i + 1, 4);
    const Field* match = nullptr;
    for (const Field& field : kFields) {
      if (field.code == code) match = &field;
    }
    if (match == nullptr) {
      result += format[i++];  // not a field: kept as written
      continue;
    }
    result += Lookup(tags, *match);
    i += 5;
  }
  return result;
}

}  // namespace
}  // namespace orvane::bass

extern "C" const char* TAGS_Read(DWORD handle, const char* fmt) {
  using namespace orvane::bass;
  thread_local std::string result;
  result.clear();
  const auto channel = Lib().registry.FindChannel(handle, HandleKind::Stream);
  if (!channel) return Fail(BASS_ERROR_HANDLE, result.c_str());
  result = Format(channel->Tags(), fmt != nullptr ? fmt : "");
  return Succeed(result.c_str());
}
