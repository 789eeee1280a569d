#include "app/OnlineSongList.h"

#include "net/UYmUrl.h"
#include "text/Legacy.h"
#include "text/TextUtil.h"

namespace orvane::app {
namespace {

// Bytes of the first UTF-8 character of s (0 for an empty text).
size_t FirstCharacterLength(const std::string& s) {
  if (s.empty()) return 0;
  size_t length = 1;
  while (length < s.size() && (static_cast<unsigned char>(s[length]) & 0xC0) == 0x80) ++length;
  return length;
}

// Where the last UTF-8 character of s[0, end) starts (end - 1 for bytes that are not UTF-8).
size_t LastCharacterStart(const std::string& s, size_t end) {
  size_t start = end - 1;
  while (start > 0 && end - start < 4 && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80) --start;
  return (static_cast<unsigned char>(s[start]) & 0xC0) == 0xC0 ? start : end - 1;
}

}  // namespace

std::string GetField(const std::string& text, int n, char separator) {
  if (text.empty() || n <= 0) return {};
  size_t start = 0;
  for (int field = 1; field < n; ++field) {
    const size_t next = text.find(separator, start);
    if (next == std::string::npos) return {};
    start = next + 1;
  }
  const size_t end = text.find(separator, start);
  return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::vector<TOnlineSong> ParseOnlineSongList(const std::string& text, const std::string& musicBaseUrl) {
  std::string list = text;
  // The next-to-last character goes (a character, not a byte: the text is UTF-8).
  if (!list.empty()) {
    const size_t last = LastCharacterStart(list, list.size());
    if (last > 0) {
      const size_t previous = LastCharacterStart(list, last);
      list.erase(previous, last - previous);
    }
  }
  std::vector<TOnlineSong> songs;
  size_t start = 0;
  while (start < list.size()) {
    const size_t comma = list.find(',', start);
    const std::string raw = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    start = comma == std::string::npos ? list.size() : comma + 1;
    std::string item = text::FromLegacy(net::DecodeUrlValue(raw));
    item.erase(0, FirstCharacterLength(item));
    const std::string f2 = GetField(item, 2, '|');
    songs.push_back({std::string(text::Trim(GetField(f2, 1, '-'))), std::string(text::Trim(GetField(f2, 2, '-'))),
                     musicBaseUrl + GetField(item, 1, '|')});
  }
  return songs;
}

}  // namespace orvane::app
