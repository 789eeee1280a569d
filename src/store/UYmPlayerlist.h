#pragma once
// TYkPlist: the playlist file ("Default.pls" in the data folder by default). Its root holds one
// element per list ("PlayerList" for the music list, "RndList" for the random list), each holding
// one "LIST" element per song with the attributes "Path", "Title", "Artist", "Url" and "Ltime".
// A store is short-lived: open it, load or rewrite a list, let it go; it writes the file when it
// goes, if anything was changed.
//
// One thread at a time (each store is used within one handler, or by the list saver's worker).
// Texts are UTF-8; a song's Path is the location's bytes, stored as StoredLocation.h describes.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "store/XmlStoreDocument.h"

namespace orvane::store {

// One loaded song.
struct TPList {
  std::string Title;
  std::string Artist;
  std::string Path;
  std::string Url;
  double Ltime = 0;
};

class TYkPlist {
 public:
  // Loads fileName when it exists, whatever its root element is called; otherwise starts an empty
  // document whose root is rootName. A file that cannot be loaded is moved aside (see MovedAside)
  // and the store starts empty; the constructor never fails.
  TYkPlist(const std::string& fileName, const std::string& rootName);
  // For rewriting one list of a big file with little memory: the file is loaded without the songs
  // of rewrittenList, and the songs given by SetRewrittenSongs take their place when the store
  // saves, written straight into the file's text. As elements a song would cost some 1.6 kB.
  // Load does not see them. The store counts as modified from the start.
  TYkPlist(const std::string& fileName, const std::string& rootName, const std::string& rewrittenList);
  // Saves when Modified(); a failure is reported on stderr and otherwise dropped. Never throws.
  ~TYkPlist();
  TYkPlist(const TYkPlist&) = delete;
  TYkPlist& operator=(const TYkPlist&) = delete;

  // Appends to Items() one record per child element of the root's first element named listName,
  // in document order, whatever the child's name. Missing attributes read as empty texts; an
  // "Ltime" that is missing or not a number reads as 0. Items() is not cleared first.
  void Load(const std::string& listName);
  int32_t Count() const { return static_cast<int32_t>(items.size()); }
  // The record at index, or nullptr when index is out of range. Valid until Items() changes.
  const TPList* Item(int32_t index) const;
  // Empties Items(); the document is not touched.
  void Clear() { items.clear(); }
  // The loaded records, in order; the store owns them.
  const std::vector<TPList>& Items() const { return items; }

  // Removes every child of the root's first element named listName (if there is one) and marks the
  // store modified in every case.
  void ClearList(const std::string& listName);
  // itemPath is a list name and the song element's name joined by "/", such as "PlayerList/LIST":
  // the list element is found or created, and a new song element is always appended as its last
  // child, with "Path", "Title", "Artist", "Url" and "Ltime" in that order.
  void AddItem(const std::string& itemPath, const std::string& title, const std::string& artist,
               const std::string& url, const std::string& path, double ltime);

  // The songs of the rewritten list (see the constructor above): at every save, songAt(i, song)
  // fills the i-th of count songs, which is written exactly as AddItem would write an element
  // named songName. songAt is called on the saving thread and must stay valid while the store lives.
  void SetRewrittenSongs(const std::string& songName, size_t count, std::function<void(size_t, TPList&)> songAt);

  // Writes the whole document to FileName() now (atomically). False, with a reason in error, when
  // it could not; Modified() stays set then.
  bool Save(std::string* error = nullptr);

  const std::string& FileName() const { return document.FileName(); }
  bool Modified() const { return document.Modified(); }
  // Set when the document was read from the file (it existed and could be loaded).
  bool LoadedFromFile() const { return document.LoadedFromFile(); }
  // Set when the file could not be loaded and was renamed to MovedAsidePath(); the UI tells the user.
  bool MovedAside() const { return document.MovedAside(); }
  const std::string& MovedAsidePath() const { return document.MovedAsidePath(); }
  const std::string& LoadError() const { return document.LoadError(); }

 private:
  std::vector<TPList> items;
  XmlStoreDocument document;
};

}  // namespace orvane::store
