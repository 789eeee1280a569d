#include "store/UYmPlayerlist.h"

#include <libxml/tree.h>

#include <charconv>
#include <cmath>

#include "store/StoredLocation.h"
#include "text/TextUtil.h"

namespace orvane::store {
namespace {

std::string FormatNumber(double value) {
  if (!std::isfinite(value)) return "0";
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return ec == std::errc() ? std::string(buffer, end) : std::string("0");
}

}  // namespace

TYkPlist::TYkPlist(const std::string& fileName, const std::string& rootName) : document(fileName, rootName) {}

TYkPlist::TYkPlist(const std::string& fileName, const std::string& rootName, const std::string& rewrittenList)
    : document(fileName, rootName, rewrittenList) {
  document.SetModified();
}

TYkPlist::~TYkPlist() { document.SaveOnClose("playlist"); }

void TYkPlist::Load(const std::string& listName) {
  const xmlNode* list = FirstChildElement(document.Root(), listName);
  if (list == nullptr) return;
  for (const xmlNode* song = list->children; song != nullptr; song = song->next) {
    // Comments and stray text inside a list are not songs.
    if (song->type != XML_ELEMENT_NODE) continue;
    TPList record;
    record.Title = AttributeText(song, "Title");
    record.Artist = AttributeText(song, "Artist");
    record.Url = AttributeText(song, "Url");
    record.Path = LoadedLocation(AttributeText(song, "Path"));
    // A song whose "Ltime" is damaged still loads: it is written as 0 and never used.
    record.Ltime = text::ParseDouble(AttributeText(song, "Ltime")).value_or(0.0);
    items.push_back(std::move(record));
  }
}

const TPList* TYkPlist::Item(int32_t index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return &items[static_cast<size_t>(index)];
}

void TYkPlist::ClearList(const std::string& listName) {
  xmlNode* list = FirstChildElement(document.Root(), listName);
  if (list != nullptr) {
    xmlNode* child = list->children;
    while (child != nullptr) {
      xmlNode* next = child->next;
      xmlUnlinkNode(child);
      xmlFreeNode(child);
      child = next;
    }
  }
  document.SetModified();
}

void TYkPlist::AddItem(const std::string& itemPath, const std::string& title, const std::string& artist,
                       const std::string& url, const std::string& path, double ltime) {
  const std::string_view whole = itemPath;
  const size_t slash = whole.rfind('/');
  const std::string_view songName = slash == std::string_view::npos ? whole : whole.substr(slash + 1);
  if (!IsXmlName(songName)) return;
  xmlNode* parent = slash == std::string_view::npos ? document.Root() : document.FindElement(whole.substr(0, slash), true);
  document.SetModified();
  xmlNode* song = document.AppendElement(parent, songName);
  const bool complete = song != nullptr && AppendAttributeText(song, "Path", StoredLocation(path)) &&
                     AppendAttributeText(song, "Title", title) && AppendAttributeText(song, "Artist", artist) &&
                     AppendAttributeText(song, "Url", url) && AppendAttributeText(song, "Ltime", FormatNumber(ltime));
  if (!complete) document.SetBroken("cannot add a song to the document");
}

void TYkPlist::SetRewrittenSongs(const std::string& songName, size_t count,
                                 std::function<void(size_t, TPList&)> songAt) {
  if (!IsXmlName(songName) || !songAt) return;
  document.SetStreamedChildren(count, [songName, songAt = std::move(songAt), song = TPList()](
                                          size_t index, std::string& line) mutable {
    songAt(index, song);
    line.clear();
    const std::string path = StoredLocation(song.Path);
    AppendEmptyElementText(line, songName,
                           {{"Path", path},
                            {"Title", song.Title},
                            {"Artist", song.Artist},
                            {"Url", song.Url},
                            {"Ltime", FormatNumber(song.Ltime)}});
  });
}

bool TYkPlist::Save(std::string* error) { return document.Save(error); }

}  // namespace orvane::store
