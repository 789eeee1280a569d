#include "net/RandomList.h"

#include <algorithm>

#include "net/UYmUrl.h"
#include "store/XmlReader.h"
#include "text/Legacy.h"
#include "text/TextUtil.h"

namespace orvane::net {
namespace {

std::string DecodedText(const store::TXmlReader& reader, std::string_view attribute) {
  return text::FromLegacy(DecodeUrlValue(reader.Attribute(attribute)));
}

// The text without its first character (normally the "/" that starts a server path).
std::string_view WithoutFirstCharacter(std::string_view s) {
  if (s.empty()) return s;
  size_t length = 1;
  const auto lead = static_cast<unsigned char>(s[0]);
  if (lead >= 0xF0) length = 4;
  else if (lead >= 0xE0) length = 3;
  else if (lead >= 0xC0) length = 2;
  return s.substr(std::min(length, s.size()));
}

}  // namespace

std::vector<TRandomListEntry> ReadRandomList(std::string_view document, std::string_view musicBaseUrl) {
  std::vector<TRandomListEntry> entries;
  try {
    store::TXmlReader reader(document);
    while (reader.Next()) {
      if (!text::EqualsNoCase(reader.Name(), "item")) continue;
      const std::string url = DecodedText(reader, "url");
      if (url.empty()) continue;
      TRandomListEntry entry;
      entry.Title = DecodedText(reader, "title");
      entry.Singer = DecodedText(reader, "singer");
      entry.Location = std::string(musicBaseUrl) + std::string(WithoutFirstCharacter(url));
      entries.push_back(std::move(entry));
    }
  } catch (...) {
    // Out of memory: the entries read so far.
  }
  return entries;
}

std::vector<TRandomListEntry> FetchRandomList(const std::string& randomListUrl, const std::string& musicBaseUrl,
                                              const HttpOptions& options) {
  return ReadRandomList(HttpGetText(randomListUrl, options), musicBaseUrl);
}

}  // namespace orvane::net
