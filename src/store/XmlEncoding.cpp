#include "store/XmlEncoding.h"

#include "text/TextConverter.h"
#include "text/TextUtil.h"

namespace orvane::store {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::string_view DeclaredEncoding(std::string_view bytes) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  size_t i = 0;
  while (i < bytes.size() && IsBlank(bytes[i])) ++i;
  if (bytes.substr(i, 5) != "<?xml" || i + 5 >= bytes.size() || !IsBlank(bytes[i + 5])) return {};
  const size_t end = bytes.find("?>", i);
  const std::string_view decl = bytes.substr(i, end == std::string_view::npos ? 512 : end - i);
  size_t pos = decl.find("encoding");
  if (pos == std::string_view::npos) return {};
  pos += 8;
  while (pos < decl.size() && IsBlank(decl[pos])) ++pos;
  if (pos >= decl.size() || decl[pos] != '=') return {};
  ++pos;
  while (pos < decl.size() && IsBlank(decl[pos])) ++pos;
  if (pos >= decl.size() || (decl[pos] != '"' && decl[pos] != '\'')) return {};
  const char quote = decl[pos++];
  const size_t close = decl.find(quote, pos);
  if (close == std::string_view::npos) return {};
  return decl.substr(pos, close - pos);
}

bool IsGbEncoding(std::string_view name) { return text::IsGbEncodingName(name); }

bool IsUtf8Encoding(std::string_view name) {
  return text::EqualsNoCase(name, "UTF-8") || text::EqualsNoCase(name, "UTF8");
}

bool DecodeLenient(std::string_view bytes, std::string_view encoding, std::string& utf8) {
  return text::TextConverter(encoding).Decode(bytes, utf8, text::OnError::Replace);
}

}  // namespace orvane::store
