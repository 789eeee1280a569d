#pragma once
// One song of a list as the program holds it: the caption its row shows, its title, its singer and
// its location (a local file's path, as the name's bytes, or an HTTP URL). Title, singer and caption
// are UTF-8 text.
//
// A song is shared, never changed: the list view's row, the playback mirror of the active list and
// a save in progress on the list saver's worker all hold the same one, so handing a list of a
// hundred thousand songs to the worker copies pointers, not texts. A changed song is a new one.

#include <memory>
#include <string>
#include <vector>

namespace orvane::store {

struct TPlayListItem {
  std::string Caption;
  std::string Title;
  std::string Singer;
  std::string Location;
};

using TSong = std::shared_ptr<const TPlayListItem>;
using TSongList = std::vector<TSong>;

// The caption rule: title + " - " + singer, or the title alone when the singer is empty.
inline std::string MakeCaption(const std::string& title, const std::string& singer) {
  return singer.empty() ? title : title + " - " + singer;
}

inline TSong MakeSong(std::string title, std::string singer, std::string location) {
  auto song = std::make_shared<TPlayListItem>();
  song->Caption = MakeCaption(title, singer);
  song->Title = std::move(title);
  song->Singer = std::move(singer);
  song->Location = std::move(location);
  return song;
}

}  // namespace orvane::store
