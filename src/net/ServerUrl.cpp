#include "net/ServerUrl.h"

#include "net/Hosts.h"
#include "net/UYmUrl.h"
#include "text/Legacy.h"
#include "text/TextUtil.h"

namespace orvane::net {
namespace {

// The GBK (GB18030) bytes of UTF-8 text; the text itself when it is not UTF-8.
std::string GbkBytes(std::string_view utf8) {
  if (!text::IsValidUtf8(utf8)) return std::string(utf8);
  std::string bytes = text::ToGb18030(utf8);
  return bytes.empty() && !utf8.empty() ? std::string(utf8) : bytes;
}

// The host of an absolute URL, lower case, without user information or port.
std::string HostOf(std::string_view url) {
  const std::size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return {};
  std::string_view rest = url.substr(scheme + 3);
  rest = rest.substr(0, rest.find_first_of("/?#"));
  if (const std::size_t at = rest.rfind('@'); at != std::string_view::npos) rest.remove_prefix(at + 1);
  if (!rest.empty() && rest.front() != '[') rest = rest.substr(0, rest.find(':'));
  return text::AsciiLower(rest);
}

bool IsHttpUrl(std::string_view text) {
  return text::StartsWithNoCase(text, "http://") || text::StartsWithNoCase(text, "https://");
}

}  // namespace

std::string EncodeUrlValueGbk(std::string_view utf8) {
  try {
    return EncodeUrlValue(GbkBytes(utf8));
  } catch (...) {
    return {};
  }
}

std::string EscapeUrlGbk(std::string_view utf8Url) {
  try {
    return EscapeUrl(GbkBytes(utf8Url));
  } catch (...) {
    return {};
  }
}

std::string StreamRequestUrl(std::string_view location, std::string_view musicBaseUrl) {
  try {
    const std::string_view url = text::Trim(location);
    if (!IsHttpUrl(url)) return std::string(location);  // a path: nothing to escape
    const std::string_view base = text::Trim(musicBaseUrl);
    const bool underMusicBase = !base.empty() && text::StartsWithNoCase(url, base);
    const std::string host = HostOf(url);
    const bool productServer = !host.empty() && host == HostOf("http://" + ServerHost());
    return underMusicBase || productServer ? EscapeUrlGbk(url) : EscapeUrl(url);
  } catch (...) {
    return {};
  }
}

}  // namespace orvane::net
