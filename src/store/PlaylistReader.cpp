#include "store/PlaylistReader.h"

#include <libxml/xmlreader.h>
#include <sys/stat.h>

#include <climits>
#include <memory>

#include "store/XmlEncoding.h"
#include "text/AtomicFile.h"
#include "text/Legacy.h"
#include "text/TextConverter.h"
#include "text/TextUtil.h"

namespace orvane::store {
namespace {

struct ReaderFree {
  void operator()(xmlTextReader* reader) const { xmlFreeTextReader(reader); }
};

std::string Attribute(xmlTextReader* reader, const char* name) {
  xmlChar* value = xmlTextReaderGetAttribute(reader, BAD_CAST name);
  if (value == nullptr) return {};
  std::string text(reinterpret_cast<const char*>(value));
  xmlFree(value);
  return text;
}

TPList ReadSong(xmlTextReader* reader) {
  TPList song;
  song.Title = Attribute(reader, "Title");
  song.Artist = Attribute(reader, "Artist");
  song.Url = Attribute(reader, "Url");
  song.Path = Attribute(reader, "Path");
  song.Ltime = text::ParseDouble(Attribute(reader, "Ltime")).value_or(0.0);
  return song;
}

}  // namespace

bool ReadPlaylistLists(const std::string& fileName, const std::vector<std::string>& listNames,
                       std::vector<std::vector<TPList>>& lists) {
  lists.assign(listNames.size(), {});
  struct stat st {};
  if (fileName.empty() || ::stat(fileName.c_str(), &st) != 0) return true;
  std::string bytes;
  if (!S_ISREG(st.st_mode) || !text::ReadWholeFile(fileName, bytes) || bytes.size() > INT_MAX) return false;

  // Files written on Chinese Windows declare GB2312 and hold GBK: read them as GB18030, as the
  // stores do.
  std::string utf8;
  const char* encoding = nullptr;
  int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
  std::string_view data = bytes;
  const bool bom = bytes.rfind("\xEF\xBB\xBF", 0) == 0 || bytes.rfind("\xFF\xFE", 0) == 0 || bytes.rfind("\xFE\xFF", 0) == 0;
  if (!bom && IsGbEncoding(DeclaredEncoding(bytes))) {
    if (!text::DecodeGb18030(bytes, utf8, text::OnError::Fail)) return false;  // strict, as the stores
    bytes.clear();
    bytes.shrink_to_fit();
    data = utf8;
    encoding = "UTF-8";
    options |= XML_PARSE_IGNORE_ENC;
  }
  std::unique_ptr<xmlTextReader, ReaderFree> reader(
      xmlReaderForMemory(data.data(), static_cast<int>(data.size()), nullptr, encoding, options));
  if (!reader) return false;

  std::vector<bool> seen(listNames.size(), false);
  int current = -1;  // the list whose songs are being read, or -1
  bool sawRoot = false;
  int rc;
  while ((rc = xmlTextReaderRead(reader.get())) == 1) {
    if (xmlTextReaderNodeType(reader.get()) != XML_READER_TYPE_ELEMENT) continue;
    const int depth = xmlTextReaderDepth(reader.get());
    if (depth == 0) {
      sawRoot = true;
      continue;
    }
    if (depth == 1) {
      current = -1;
      const auto* name = reinterpret_cast<const char*>(xmlTextReaderConstName(reader.get()));
      for (size_t i = 0; i < listNames.size(); ++i) {
        if (seen[i] || listNames[i] != name) continue;
        seen[i] = true;
        current = static_cast<int>(i);
        break;
      }
      continue;
    }
    if (depth == 2 && current >= 0) lists[static_cast<size_t>(current)].push_back(ReadSong(reader.get()));
  }
  if (rc != 0 || !sawRoot) {
    lists.assign(listNames.size(), {});
    return false;
  }
  return true;
}

}  // namespace orvane::store
