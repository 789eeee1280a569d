#include "net/UYmUrl.h"

#include <algorithm>

#include "text/TextUtil.h"

namespace orvane::net {
namespace {

bool IsAsciiAlnum(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The escape after a "%" at value[start - 1]: reads within the (at most two) characters that follow
// and returns the byte they give; *consumed says how many characters were taken.
char DecodeEscape(std::string_view value, std::size_t start, std::size_t* consumed) {
  const std::size_t end = start + std::min<std::size_t>(2, value.size() - start);
  std::size_t i = start;
  while (i < end && value[i] == ' ') ++i;
  unsigned number = 0;
  for (; i < end && HexValue(value[i]) >= 0; ++i) number = number * 16 + static_cast<unsigned>(HexValue(value[i]));
  *consumed = end - start;
  return static_cast<char>(number);
}

constexpr char kHex[] = "0123456789ABCDEF";

void AppendEscape(std::string& out, unsigned char byte) {
  out += '%';
  out += kHex[byte >> 4];
  out += kHex[byte & 0x0F];
}

}  // namespace

std::string EscapeUrl(std::string_view url) {
  try {
    std::string out;
    out.reserve(url.size());
    for (std::size_t i = 0; i < url.size(); ++i) {
      const auto byte = static_cast<unsigned char>(url[i]);
      const bool escapeIntact = byte == '%' && i + 2 < url.size() && HexValue(url[i + 1]) >= 0 &&
                                HexValue(url[i + 2]) >= 0;
      if ((byte > 0x20 && byte < 0x7F && byte != '%') || escapeIntact) {
        out += url[i];
        continue;
      }
      AppendEscape(out, byte);
    }
    return out;
  } catch (...) {
    return {};
  }
}

std::string EncodeUrlValue(std::string_view value) {
  try {
    std::string out;
    out.reserve(value.size() * 3);
    for (const char c : value) {
      const auto byte = static_cast<unsigned char>(c);
      if (IsAsciiAlnum(byte)) {
        out += c;
        continue;
      }
      AppendEscape(out, byte);
    }
    return out;
  } catch (...) {
    return {};
  }
}

std::string DecodeUrlValue(std::string_view value) {
  try {
    std::string out;
    out.reserve(value.size());
    std::size_t i = 0;
    while (i < value.size() && value[i] != '&') {
      const char c = value[i];
      if (c == '%') {
        std::size_t consumed = 0;
        out += DecodeEscape(value, i + 1, &consumed);
        i += 1 + consumed;
        continue;
      }
      out += c == '+' ? ' ' : c;
      ++i;
    }
    return out;
  } catch (...) {
    return {};
  }
}

HostPath SplitHostPath(std::string_view url) {
  try {
    if (text::StartsWithNoCase(url, "http://")) url.remove_prefix(7);
    const std::size_t slash = url.find('/');
    if (slash == std::string_view::npos) return {std::string(), std::string(url)};
    return {std::string(url.substr(0, slash)), std::string(url.substr(slash + 1))};
  } catch (...) {
    return {};
  }
}

}  // namespace orvane::net
