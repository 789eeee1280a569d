#include "text/TextUtil.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

namespace orvane::text {
namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 0x20; }
char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

}  // namespace

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view Trim(std::string_view s) { return TrimRight(TrimLeft(s)); }

std::string_view CutUtf8(std::string_view s, std::size_t maxBytes) {
  if (s.size() <= maxBytes) return s;
  std::size_t end = maxBytes;
  // Step back over continuation bytes to the start of the character that would be split.
  while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
  return s.substr(0, end);
}

std::string AsciiLower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

std::optional<int32_t> ParseInt32(std::string_view s) {
  s = TrimLeft(s);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return std::nullopt;
  int32_t value = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return value;
}

std::optional<double> ParseDouble(std::string_view s) {
  s = TrimLeft(s);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return std::nullopt;
  double value = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::string CleanFileName(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    switch (c) {
      case '"': case '*': case '/': case ':': case '<': case '>': case '?': case '\\': case '|':
        continue;
      default:
        out += c;
    }
  }
  out.resize(CutUtf8(out, 259).size());
  return out;
}

}  // namespace orvane::text
