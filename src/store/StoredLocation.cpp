#include "store/StoredLocation.h"

#include "store/XmlStoreDocument.h"
#include "text/TextUtil.h"

namespace orvane::store {
namespace {

constexpr std::string_view kScheme = "file://";

bool StartsWithScheme(std::string_view text) {
  return text.size() >= kScheme.size() && text::EqualsNoCase(text.substr(0, kScheme.size()), kScheme);
}

bool IsKept(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~' || c == '/';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string StoredLocation(std::string_view location) {
  // XmlSafeText changes exactly what the file could not hold as it is: bytes that are not UTF-8 and
  // characters XML cannot carry.
  if (!StartsWithScheme(location) && XmlSafeText(location) == location) return std::string(location);
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out(kScheme);
  out.reserve(kScheme.size() + location.size() * 3);
  for (const char ch : location) {
    const auto c = static_cast<unsigned char>(ch);
    if (IsKept(c)) {
      out += ch;
      continue;
    }
    out += '%';
    out += kHex[c >> 4];
    out += kHex[c & 0x0F];
  }
  return out;
}

std::string LoadedLocation(std::string_view text) {
  if (!StartsWithScheme(text)) return std::string(text);
  const std::string_view escaped = text.substr(kScheme.size());
  std::string bytes;
  bytes.reserve(escaped.size());
  for (size_t i = 0; i < escaped.size(); ++i) {
    if (escaped[i] != '%') {
      bytes += escaped[i];
      continue;
    }
    const bool complete = i + 2 < escaped.size();
    const int high = complete ? HexValue(escaped[i + 1]) : -1;
    const int low = complete ? HexValue(escaped[i + 2]) : -1;
    // No file name holds a NUL byte.
    if (high < 0 || low < 0 || (high == 0 && low == 0)) return std::string(text);
    bytes += static_cast<char>(high << 4 | low);
    i += 2;
  }
  return bytes;
}

}  // namespace orvane::store
