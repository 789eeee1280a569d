#pragma once
// LRC text to a list of timed lines plus the identification tags.
// Not thread-safe: the one lyric document lives on the main thread. No function here throws except
// the index checks of Insert, Delete and GetItem (std::out_of_range).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::lyrics {

// Where a word of an enhanced-LRC line starts to be sung: its <mm:ss.xx> stamp, which the line's
// Text no longer holds.
struct TWordStamp {
  uint32_t Offset = 0;  // byte offset in Text where the word starts (Text's size for a closing stamp)
  int32_t Time = 0;     // ms

  bool operator==(const TWordStamp&) const = default;
};

// One timed line.
struct TLyricItem {
  std::string Text;     // UTF-8, trimmed, may be empty
  std::string TagText;  // the time tag as rebuilt, without brackets ("01:23.45"); empty for the closing line
  int32_t Time = 0;     // start of the line in ms; may be negative
  std::vector<TWordStamp> Words;  // the line's word stamps in text order; empty for plain LRC
};

// Identification tags: [ti:], [by:], [la:], [ar:], [al:], [offset:].
struct TLRCInfo {
  std::string Title;
  std::string By;
  std::string Language;
  std::string Artist;
  std::string Album;
  int32_t Offset = 0;  // ms
};

class TLyricHandle {
 public:
  // Deletes every item and resets Info.
  void Clear();
  int Count() const { return static_cast<int>(items.size()); }
  // Stores a copy at index (0 ≤ index ≤ Count); Add appends.
  void Insert(int index, const TLyricItem& item);
  void Add(const TLyricItem& item);
  void Delete(int index);
  // A copy of item index (0 ≤ index < Count).
  TLyricItem GetItem(int index) const;

  // Stable ascending sort by Time.
  void SortByTime();
  // Clear, then fills Items (in text order, unsorted) and Info from UTF-8 LRC text. Never fails:
  // malformed tags are skipped.
  void Parse(std::string_view text);

  // Index of the current line for a play position: with i the number of items before the first one
  // whose Time − offset ≥ position, the line is i − 1, or 0 when i ≤ 1; −1 for an empty list.
  // O(log n) over the part of the list that is in time order, linear over the rest (after a
  // SortByTime that rest is at most the closing line).
  int FindCurrentIndex(int32_t position, int32_t offset) const;

  const TLRCInfo& Info() const { return info; }
  const std::vector<TLyricItem>& Items() const { return items; }

 private:
  void ExtendSortedPrefix();

  TLRCInfo info;
  std::vector<TLyricItem> items;
  // items[0, sortedCount) are in ascending Time.
  std::size_t sortedCount = 0;
};

}  // namespace orvane::lyrics
