#include "store/XmlEncoding.h"

#include <iconv.h>

#include <cerrno>
#include <cstddef>

#include "text/TextUtil.h"

namespace orvane::store {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Only plain encoding names reach iconv_open: the name comes from a file.
bool IsPlainName(std::string_view name) {
  if (name.empty() || name.size() > 40) return false;
  for (char c : name) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '_' || c == '.' || c == ':';
    if (!ok) return false;
  }
  return true;
}

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

bool IsGbEncoding(std::string_view name) {
  for (const char* alias : {"GB2312", "GBK", "GB18030", "CP936", "MS936", "windows-936", "EUC-CN",
                            "x-gbk", "csGB2312", "CN-GB", "x-euc-cn"}) {
    if (text::EqualsNoCase(name, alias)) return true;
  }
  return false;
}

bool IsUtf8Encoding(std::string_view name) {
  return text::EqualsNoCase(name, "UTF-8") || text::EqualsNoCase(name, "UTF8");
}

bool DecodeLenient(std::string_view bytes, std::string_view encoding, std::string& utf8) {
  utf8.clear();
  if (!IsPlainName(encoding)) return false;
  const std::string from = IsGbEncoding(encoding) ? std::string("GB18030") : std::string(encoding);
  const iconv_t cd = ::iconv_open("UTF-8", from.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  utf8.reserve(bytes.size() + bytes.size() / 2);
  char* src = const_cast<char*>(bytes.data());
  size_t srcLeft = bytes.size();
  char buffer[8192];
  while (srcLeft > 0) {
    char* dst = buffer;
    size_t dstLeft = sizeof buffer;
    const size_t rc = ::iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    utf8.append(buffer, static_cast<size_t>(dst - buffer));
    if (rc != static_cast<size_t>(-1) || errno == E2BIG) continue;
    // An undecodable byte (EILSEQ) or a sequence cut off at the end (EINVAL): mark it and go on.
    utf8 += "\xEF\xBF\xBD";
    ++src;
    --srcLeft;
    ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  ::iconv_close(cd);
  return true;
}

}  // namespace orvane::store
