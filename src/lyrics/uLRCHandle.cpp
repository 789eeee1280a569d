#include "lyrics/uLRCHandle.h"

#include <algorithm>
#include <array>
#include <limits>
#include <optional>
#include <stdexcept>
#include <utility>

#include "text/TextUtil.h"

namespace orvane::lyrics {
namespace {

constexpr std::size_t kNone = std::string_view::npos;

enum class ByteClass { Blank, Digit, Letter, Punct, End };

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Bytes of multi-byte characters count as blanks, so CJK text never forms tokens.
ByteClass ClassOf(char c) {
  const auto b = static_cast<unsigned char>(c);
  if (IsDigit(c)) return ByteClass::Digit;
  if (IsLetter(c)) return ByteClass::Letter;
  if ((b >= 0x21 && b <= 0x2F) || (b >= 0x3A && b <= 0x40) || (b >= 0x5B && b <= 0x60) ||
      (b >= 0x7B && b <= 0x7E))
    return ByteClass::Punct;
  return ByteClass::Blank;
}

struct Token {
  ByteClass cls = ByteClass::End;
  std::size_t start = 0;
  std::size_t length = 0;
};

// First position of one byte at or after a start. Searches mostly move forward, so the last answer
// is reused: a text full of unclosed tags stays linear instead of rescanning to its end per tag.
class ForwardFinder {
 public:
  ForwardFinder(std::string_view text, char byte) : text(text), byte(byte) {}

  std::size_t Find(std::size_t from) {
    const bool reusable = searched && from >= lastFrom && (found == kNone || found >= from);
    if (!reusable) {
      found = text.find(byte, from);
      lastFrom = from;
      searched = true;
    }
    return found;
  }

 private:
  std::string_view text;
  char byte;
  bool searched = false;
  std::size_t lastFrom = 0;
  std::size_t found = kNone;
};

struct TimeTag {
  std::string tagText;
  int32_t time = 0;
  std::size_t close = 0;  // position of its ']'
};

// One run of digits of a time tag.
struct Field {
  int64_t whole = 0;        // its value, capped far beyond what 32-bit milliseconds can hold
  int lastTwo = 0;          // its last two digits
  int fractionMs = 0;       // read as a decimal fraction of a second: "5" 500, "50" 500, "311" 311
};

Field ReadField(std::string_view digits) {
  constexpr int64_t kCap = 999'999'999;  // minutes or hours beyond any 32-bit time
  Field f;
  for (const char c : digits) {
    const int d = c - '0';
    f.whole = std::min(f.whole * 10 + d, kCap);
    f.lastTwo = (f.lastTwo * 10 + d) % 100;
  }
  // Tenths, hundredths or thousandths by the number of digits; digits past the third are below a
  // millisecond.
  int scale = 100;
  for (std::size_t k = 0; k < digits.size() && k < 3; ++k, scale /= 10) f.fractionMs += (digits[k] - '0') * scale;
  return f;
}

// Appends v with at least two digits.
void AppendTwoDigits(std::string& out, int64_t v) {
  if (v < 10) out += '0';
  out += std::to_string(v);
}

// Time and rebuilt tag text from the tag's digits and separators. Hours and minutes count whole,
// seconds by their last two digits, and a fraction as decimal: "01:02.5" is 62,500 ms and
// "00:19.311" 19,311 ms. The tag text keeps two digits per field and whole hundredths
// ("00:19.31"), the form the player has always written.
TimeTag TimeFromTagText(std::string_view t) {
  const bool negative = !t.empty() && t.front() == '-';
  if (negative) t.remove_prefix(1);

  std::array<Field, 4> f{};
  int count = 0;
  char lastSeparator = 0;
  std::size_t i = 0;
  while (count < 4 && i < t.size()) {
    const std::size_t start = i;
    while (i < t.size() && IsDigit(t[i])) ++i;
    f[count++] = ReadField(t.substr(start, i - start));
    if (i < t.size()) lastSeparator = t[i++];
  }
  if (count == 0) return {};

  // The fields that make up the time: hours and minutes (whole), seconds, and a fraction.
  const bool fraction = lastSeparator == '.' && count >= 2;
  const int secondsAt = fraction ? count - 2 : std::min(count, 3) - 1;
  int64_t ms = int64_t{f[secondsAt].lastTwo} * 1000;
  if (fraction) ms += f[count - 1].fractionMs;
  if (secondsAt >= 1) ms += f[secondsAt - 1].whole * 60000;
  if (secondsAt >= 2) ms += f[0].whole * 3600000;
  ms = std::min<int64_t>(ms, std::numeric_limits<int32_t>::max());

  TimeTag tag;
  tag.time = static_cast<int32_t>(negative ? -ms : ms);
  if (negative && tag.time != 0) tag.tagText += '-';
  for (int k = 0; k < secondsAt; ++k) {
    AppendTwoDigits(tag.tagText, f[k].whole);
    tag.tagText += ':';
  }
  AppendTwoDigits(tag.tagText, f[secondsAt].lastTwo);
  if (fraction) {
    tag.tagText += '.';
    AppendTwoDigits(tag.tagText, f[count - 1].fractionMs / 10);
  }
  return tag;
}

// Enhanced LRC marks words with <mm:ss.xx> stamps inside a line; the display wants the words only.
// A stamp is '<', digit runs joined by ':' (at least one), an optional '.' fraction, then '>'.
std::size_t WordStampLength(std::string_view s, std::size_t at) {
  std::size_t i = at + 1;
  auto digits = [&] {
    const std::size_t start = i;
    while (i < s.size() && IsDigit(s[i])) ++i;
    return i > start;
  };
  if (!digits()) return 0;
  int colons = 0;
  while (i < s.size() && s[i] == ':' && colons < 2) {
    ++i;
    if (!digits()) return 0;
    ++colons;
  }
  if (colons == 0) return 0;
  if (i < s.size() && s[i] == '.') {
    ++i;
    if (!digits()) return 0;
  }
  if (i >= s.size() || s[i] != '>') return 0;
  return i + 1 - at;
}

bool IsWordBlank(char c) { return c == ' ' || c == '\t'; }

struct StampedText {
  std::string text;
  std::vector<TWordStamp> words;
};

// The line without its word stamps, trimmed; each stamp is kept with the offset of the word it
// stands before.
StampedText WithoutWordStamps(std::string_view s) {
  StampedText out;
  if (s.find('<') == kNone) {
    out.text = std::string(s);
    return out;
  }
  std::string raw;
  raw.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t stamp = s[i] == '<' ? WordStampLength(s, i) : 0;
    if (stamp > 0) {
      // Stamps usually stand between blanks ("When <00:01.50> the"): the words keep one blank
      // between them, and the stamp marks the word after it.
      const int32_t time = TimeFromTagText(s.substr(i + 1, stamp - 2)).time;
      i += stamp;
      const bool blankAfter = i < s.size() && IsWordBlank(s[i]);
      while (i < s.size() && IsWordBlank(s[i])) ++i;
      if (blankAfter && !raw.empty() && !IsWordBlank(raw.back())) raw += ' ';
      out.words.push_back({static_cast<uint32_t>(raw.size()), time});
    } else {
      raw += s[i++];
    }
  }
  const std::string_view trimmed = text::Trim(raw);
  const std::size_t lead = trimmed.empty() ? raw.size() : static_cast<std::size_t>(trimmed.data() - raw.data());
  out.text = std::string(trimmed);
  for (TWordStamp& word : out.words) {
    const std::size_t offset = word.Offset > lead ? word.Offset - lead : 0;
    word.Offset = static_cast<uint32_t>(std::min(offset, out.text.size()));
  }
  return out;
}

// One pass over trimmed LRC text. Positions are 0-based byte offsets.
class LrcScanner {
 public:
  LrcScanner(std::string_view text, TLRCInfo& info, std::vector<TLyricItem>& out)
      : s(text), info(info), out(out), crFinder(text, '\r'), closeFinder(text, ']'),
        valueCrFinder(text, '\r') {}

  void Run() {
    std::vector<TimeTag> pending;
    std::size_t textStart = 0;  // first byte after the ']' of the latest time tag
    for (std::size_t from = 0;;) {
      const std::size_t open = s.find('[', from);
      // A '[' needs more than four bytes after it; the first one that has fewer ends the scan.
      if (open == kNone || s.size() - 1 - open <= 4) break;
      from = open + 1;

      std::optional<TimeTag> timeTag;
      bool identTag = false;
      const char first = s[open + 1];
      if (IsDigit(first) || first == '-') {
        timeTag = ReadTimeTag(open);
      } else if (IsLetter(first)) {
        identTag = ReadIdentTag(open);
      }
      if (!timeTag && !identTag) continue;

      if (!pending.empty()) {
        if (timeTag && open == textStart) {
          pending.push_back(*timeTag);  // [a][b]text: both share the text
        } else {
          Emit(pending, LineText(textStart, open));
          pending.clear();
        }
      }
      if (timeTag) {
        if (pending.empty()) pending.push_back(*timeTag);
        textStart = timeTag->close + 1;
      }
    }
    if (!pending.empty()) Emit(pending, LineText(textStart, s.size()));
  }

 private:
  bool IsPunct(const Token& t, char c) const { return t.cls == ByteClass::Punct && s[t.start] == c; }

  // Skips blanks; punctuation is a one-byte token, digits and letters form runs. The last byte of
  // the text never extends a run.
  Token Next(std::size_t& p) const {
    while (p < s.size() && ClassOf(s[p]) == ByteClass::Blank) ++p;
    if (p >= s.size()) return {ByteClass::End, p, 0};
    Token t{ClassOf(s[p]), p, 1};
    ++p;
    if (t.cls == ByteClass::Digit || t.cls == ByteClass::Letter) {
      while (p + 1 < s.size() && ClassOf(s[p]) == t.cls) ++p;
      t.length = p - t.start;
    }
    return t;
  }

  bool AppendDigits(std::size_t& p, std::string& t) const {
    const Token n = Next(p);
    if (n.cls != ByteClass::Digit) return false;
    t.append(s.substr(n.start, n.length));
    return true;
  }

  // [s], [s.f], [m:s], [m:s.f], [h:m:s], [h:m:s.f], each with an optional leading '-'.
  std::optional<TimeTag> ReadTimeTag(std::size_t open) const {
    std::string t;
    std::size_t p = open + 1;
    for (;;) {
      if (s[p] == '-') {
        t += '-';
        ++p;
      }
      if (!AppendDigits(p, t)) return std::nullopt;
      Token sep = Next(p);
      for (int colons = 0; IsPunct(sep, ':') && colons < 2; ++colons) {
        t += ':';
        if (!AppendDigits(p, t)) return std::nullopt;
        sep = Next(p);
      }
      if (IsPunct(sep, ']')) return Accept(t, sep.start);
      if (!IsPunct(sep, '.')) return std::nullopt;

      t += '.';
      if (!AppendDigits(p, t)) return std::nullopt;
      const Token after = Next(p);
      if (IsPunct(after, ']')) return Accept(t, after.start);
      // Anything else after the fraction is dropped; digits or '-' right behind it continue the
      // same tag ([00:01.00.50] reads as 00:01.0050).
      if (p + 1 >= s.size() || !(IsDigit(s[p]) || s[p] == '-')) return std::nullopt;
    }
  }

  static TimeTag Accept(const std::string& t, std::size_t close) {
    TimeTag tag = TimeFromTagText(t);
    tag.close = close;
    return tag;
  }

  bool ReadIdentTag(std::size_t open) {
    struct Name {
      std::string_view name;
      std::string TLRCInfo::*field;
    };
    static constexpr std::array<Name, 5> kNames{{{"ti", &TLRCInfo::Title},
                                                 {"ar", &TLRCInfo::Artist},
                                                 {"al", &TLRCInfo::Album},
                                                 {"by", &TLRCInfo::By},
                                                 {"la", &TLRCInfo::Language}}};
    const std::string_view rest = s.substr(open + 1);
    std::string TLRCInfo::*field = nullptr;
    std::size_t nameLength = 0;
    for (const Name& n : kNames) {
      if (text::StartsWithNoCase(rest, n.name)) {
        field = n.field;
        nameLength = n.name.size();
        break;
      }
    }
    if (!field) {
      if (!text::StartsWithNoCase(rest, "offset")) return false;
      nameLength = 6;
    }

    std::size_t p = open + 1 + nameLength;
    const Token colon = Next(p);
    if (!IsPunct(colon, ':')) return false;  // [artist:…] and [title:…] end up here
    const std::size_t valueStart = colon.start + 1;
    const std::size_t close = closeFinder.Find(valueStart);
    if (close == kNone) return false;
    const std::size_t cr = valueCrFinder.Find(valueStart);
    const std::size_t end = cr != kNone && cr < close ? cr : close;
    const std::string_view value = text::Trim(s.substr(valueStart, end - valueStart));

    if (field) {
      info.*field = std::string(value);
    } else if (const auto ms = text::ParseInt32(value)) {
      info.Offset = *ms;
    }
    return true;
  }

  // The text of a line runs from start to the first CR or to limit, whichever comes first. A tag
  // found inside the previous tag can put limit before start: then the text is empty.
  StampedText LineText(std::size_t start, std::size_t limit) {
    if (limit <= start) return {};
    const std::size_t cr = crFinder.Find(start);
    const std::size_t end = cr != kNone && cr < limit ? cr : limit;
    return WithoutWordStamps(text::Trim(s.substr(start, end - start)));
  }

  void Emit(const std::vector<TimeTag>& tags, StampedText line) {
    for (std::size_t k = 0; k + 1 < tags.size(); ++k)
      out.push_back(TLyricItem{line.text, tags[k].tagText, tags[k].time, line.words});
    out.push_back(TLyricItem{std::move(line.text), tags.back().tagText, tags.back().time, std::move(line.words)});
  }

  std::string_view s;
  TLRCInfo& info;
  std::vector<TLyricItem>& out;
  ForwardFinder crFinder;
  ForwardFinder closeFinder;
  ForwardFinder valueCrFinder;
};

std::size_t CheckedIndex(int index, std::size_t limit, const char* what) {
  if (index < 0 || static_cast<std::size_t>(index) > limit) throw std::out_of_range(what);
  return static_cast<std::size_t>(index);
}

}  // namespace

void TLyricHandle::Clear() {
  items.clear();
  info = TLRCInfo{};
  sortedCount = 0;
}

void TLyricHandle::Insert(int index, const TLyricItem& item) {
  const std::size_t at = CheckedIndex(index, items.size(), "TLyricHandle::Insert: index out of range");
  items.insert(items.begin() + static_cast<std::ptrdiff_t>(at), item);
  sortedCount = std::min(sortedCount, at);
  ExtendSortedPrefix();
}

void TLyricHandle::Add(const TLyricItem& item) { Insert(Count(), item); }

void TLyricHandle::Delete(int index) {
  if (items.empty()) throw std::out_of_range("TLyricHandle::Delete: index out of range");
  const std::size_t at = CheckedIndex(index, items.size() - 1, "TLyricHandle::Delete: index out of range");
  items.erase(items.begin() + static_cast<std::ptrdiff_t>(at));
  // Removing from an ordered run keeps it ordered.
  if (at < sortedCount) --sortedCount;
  ExtendSortedPrefix();
}

TLyricItem TLyricHandle::GetItem(int index) const {
  if (items.empty()) throw std::out_of_range("TLyricHandle::GetItem: index out of range");
  return items[CheckedIndex(index, items.size() - 1, "TLyricHandle::GetItem: index out of range")];
}

void TLyricHandle::SortByTime() {
  if (items.size() < 2) return;
  // Sort small (time, position) keys, then move every item once: far cheaper than moving the
  // items themselves around during the sort. The position keeps equal times in list order.
  std::vector<std::pair<int32_t, std::size_t>> keys(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) keys[i] = {items[i].Time, i};
  std::sort(keys.begin(), keys.end());
  std::vector<TLyricItem> sorted;
  sorted.reserve(items.size());
  for (const auto& key : keys) sorted.push_back(std::move(items[key.second]));
  items = std::move(sorted);
  sortedCount = items.size();
}

void TLyricHandle::Parse(std::string_view text) {
  Clear();
  const std::string_view s = text::Trim(text);
  if (s.size() <= 3) return;
  LrcScanner(s, info, items).Run();
  ExtendSortedPrefix();
}

void TLyricHandle::ExtendSortedPrefix() {
  if (sortedCount == 0 && !items.empty()) sortedCount = 1;
  while (sortedCount < items.size() && items[sortedCount - 1].Time <= items[sortedCount].Time) ++sortedCount;
}

int TLyricHandle::FindCurrentIndex(int32_t position, int32_t offset) const {
  if (items.empty()) return -1;
  // 64-bit so that an extreme offset cannot wrap Time − offset around.
  auto reached = [&](const TLyricItem& item) {
    return int64_t{item.Time} - offset >= int64_t{position};
  };
  const auto sortedEnd = items.begin() + static_cast<std::ptrdiff_t>(sortedCount);
  auto first = std::partition_point(items.begin(), sortedEnd, [&](const TLyricItem& item) { return !reached(item); });
  if (first == sortedEnd) first = std::find_if(sortedEnd, items.end(), reached);
  const auto before = first - items.begin();
  return before <= 1 ? 0 : static_cast<int>(before - 1);
}

}  // namespace orvane::lyrics
