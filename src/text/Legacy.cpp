#include "text/Legacy.h"

#include <cstdint>

namespace orvane::text {
namespace {

// Decodes one code point of valid UTF-8 at s[i], advancing i.
uint32_t NextCodePoint(std::string_view s, size_t& i) {
  const auto b = static_cast<unsigned char>(s[i]);
  int extra = b < 0x80 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
  uint32_t cp = extra == 0 ? b : extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
  ++i;
  while (extra-- > 0 && i < s.size()) cp = (cp << 6) | (static_cast<unsigned char>(s[i++]) & 0x3F);
  return cp;
}

// Windows-1252 positions 0x80..0x9F; the five unassigned ones map to the C1 control of that value.
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::string FromWindows1252(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    AppendUtf8(out, b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : b);
  }
  return out;
}

bool IsAsciiLetter(uint8_t b) { return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z'); }

// Latin-1 letters: À..ÿ without × and ÷; capitals up to Þ.
bool IsLatin1Letter(uint8_t b) { return b >= 0xC0 && b != 0xD7 && b != 0xF7; }
bool IsLatin1Capital(uint8_t b) { return b >= 0xC0 && b <= 0xDE && b != 0xD7; }

// Two bytes that read as two Latin-1 letters of one word ("åø", "çã", "ÇÃ"), not as a lower-case
// letter followed by a capital, which no word holds.
bool ReadsAsLatin1Word(uint8_t lead, uint8_t trail) {
  return IsLatin1Letter(lead) && IsLatin1Letter(trail) && !(!IsLatin1Capital(lead) && IsLatin1Capital(trail));
}

// Counts, for bytes that are not UTF-8, the double-byte characters of their GBK reading that speak
// for Chinese. Latin-1 text forms GBK pairs too, wherever two accented letters meet ("Größe" holds
// F6 DF, "Coração" E7 E3) or an accented letter meets an ASCII one ("Élan" is C9 6C), but not the
// pairs real Chinese text is made of: the common characters of GB2312's first level (leads B0..D7)
// and its punctuation rows (A1..A9), both bytes in A1..FE. Two accented lower-case letters land in
// the second level or beyond, so a pair there counts only when it cannot be read as two letters of
// a word; a first-level pair counts unless it is a lone pair of letters inside an ASCII word (the
// "ÇÃ" of "CORAÇÃO").
struct GbkEvidence {
  size_t pairs = 0;
  size_t chinese = 0;
};

GbkEvidence WeighGbk(std::string_view s) {
  GbkEvidence evidence;
  const size_t n = s.size();
  auto at = [&](size_t i) { return static_cast<uint8_t>(s[i]); };
  size_t runStart = 0, runEnd = 0;  // the current run of bytes >= 0x80
  for (size_t i = 0; i < n;) {
    const uint8_t lead = at(i);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    if (i >= runEnd) {
      runStart = runEnd = i;
      while (runEnd < n && at(runEnd) >= 0x80) ++runEnd;
    }
    if (lead == 0x80 || lead == 0xFF || i + 1 >= n) {
      ++i;
      continue;
    }
    const uint8_t trail = at(i + 1);
    if (trail >= 0x30 && trail <= 0x39) {  // a four-byte GB18030 character, or a broken byte
      const bool fourByte = i + 3 < n && at(i + 2) >= 0x81 && at(i + 2) <= 0xFE && at(i + 3) >= 0x30 && at(i + 3) <= 0x39;
      i += fourByte ? 4 : 1;
      continue;
    }
    if (trail < 0x40 || trail == 0x7F || trail == 0xFF) {
      ++i;
      continue;
    }
    ++evidence.pairs;
    const bool gb2312Shaped = lead >= 0xA1 && lead <= 0xF7 && trail >= 0xA1;
    const bool common = (lead >= 0xB0 && lead <= 0xD7) || lead <= 0xA9;
    const bool lonePairInWord = runEnd - runStart == 2 && ((runStart > 0 && IsAsciiLetter(at(runStart - 1))) ||
                                                           (runEnd < n && IsAsciiLetter(at(runEnd))));
    const bool latinWord = ReadsAsLatin1Word(lead, trail);
    if (gb2312Shaped && !(latinWord && (lonePairInWord || !common))) ++evidence.chinese;
    i += 2;
  }
  return evidence;
}

// Decides whether non-UTF-8 bytes are really GBK text: the GBK reading must yield CJK characters,
// at least half of its double-byte characters must speak for Chinese (WeighGbk), and it must have
// fewer flaws than those. Latin-1 also leaves bytes that start no GBK character ("é " is E9 20) or
// a lone last byte ("Beyoncé"); real Chinese text has such flaws rarely (a stray byte, a field cut
// in half).
bool LooksLikeGbk(std::string_view bytes, std::string& utf8) {
  GbDecodeStats stats;
  if (!DecodeGb18030(bytes, utf8, OnError::Replace, &stats) || !stats.cjk || stats.twoByte == 0) return false;
  const GbkEvidence evidence = WeighGbk(bytes);
  const size_t flaws = stats.broken + (stats.cutAtEnd ? 1 : 0);
  return evidence.chinese > 0 && evidence.chinese * 2 >= evidence.pairs && flaws < evidence.chinese;
}

// UTF-16 by hand: a surrogate without its partner becomes U+FFFD and a trailing odd byte, which
// cannot be part of a character, is dropped.
std::string FromUtf16(std::string_view bytes, bool bigEndian) {
  std::string out;
  out.reserve(bytes.size() * 3 / 2);
  auto unitAt = [&](size_t i) -> uint32_t {
    const auto a = static_cast<unsigned char>(bytes[i]);
    const auto b = static_cast<unsigned char>(bytes[i + 1]);
    return bigEndian ? (a << 8 | b) : (b << 8 | a);
  };
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    uint32_t unit = unitAt(i);
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < bytes.size()) {
      const uint32_t low = unitAt(i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    if (unit >= 0xD800 && unit <= 0xDFFF) unit = 0xFFFD;
    AppendUtf8(out, unit);
  }
  return out;
}

}  // namespace

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool IsValidUtf8(std::string_view s) {
  size_t i = 0;
  const size_t n = s.size();
  while (i < n) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      ++i;
      continue;
    }
    int extra;
    uint32_t cp;
    if (b >= 0xC2 && b <= 0xDF) {
      extra = 1;
      cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      extra = 2;
      cp = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      extra = 3;
      cp = b & 0x07;
    } else {
      return false;
    }
    if (n - i <= static_cast<size_t>(extra)) return false;
    for (int k = 1; k <= extra; ++k) {
      const auto c = static_cast<unsigned char>(s[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    if ((extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += extra + 1;
  }
  return true;
}

bool IsCjkCodePoint(char32_t cp) {
  return (cp >= 0x3040 && cp <= 0x30FF) ||    // kana
         (cp >= 0x3400 && cp <= 0x4DBF) ||    // ideographs, extension A
         (cp >= 0x4E00 && cp <= 0x9FFF) ||    // unified ideographs
         (cp >= 0xAC00 && cp <= 0xD7AF) ||    // hangul syllables
         (cp >= 0xF900 && cp <= 0xFAFF) ||    // compatibility ideographs
         (cp >= 0x20000 && cp <= 0x3FFFF);    // supplementary ideographs
}

bool ContainsCjk(std::string_view utf8) {
  for (size_t i = 0; i < utf8.size();) {
    if (static_cast<unsigned char>(utf8[i]) < 0x80) {
      ++i;
      continue;
    }
    if (IsCjkCodePoint(NextCodePoint(utf8, i))) return true;
  }
  return false;
}

std::string ToGb18030(std::string_view utf8) {
  std::string out;
  TextConverter("GB18030").Encode(utf8, out, OnError::Fail);
  return out;
}

std::string FromLegacy(std::string_view bytes) {
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  else if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFF\xFE") return FromUtf16(bytes.substr(2), false);
  else if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFE\xFF") return FromUtf16(bytes.substr(2), true);
  if (IsValidUtf8(bytes)) return std::string(bytes);
  std::string gbk;
  if (LooksLikeGbk(bytes, gbk)) return gbk;
  return FromWindows1252(bytes);
}

std::vector<std::string> FromLegacyTogether(const std::vector<std::string>& texts) {
  auto isLegacy = [](std::string_view t) {
    const bool utf16 = t.size() >= 2 && (t.substr(0, 2) == "\xFF\xFE" || t.substr(0, 2) == "\xFE\xFF");
    return !utf16 && !IsValidUtf8(t);
  };
  std::string legacy;
  for (const std::string& t : texts) {
    if (!isLegacy(t)) continue;
    legacy += t;
    legacy += '\n';  // a field cut inside a character counts as one flaw, as at the end of a text
  }
  std::string unused;
  const bool gbk = !legacy.empty() && LooksLikeGbk(legacy, unused);
  std::vector<std::string> out;
  out.reserve(texts.size());
  for (const std::string& t : texts) {
    if (!isLegacy(t)) {
      out.push_back(FromLegacy(t));
    } else if (gbk) {
      std::string utf8;
      DecodeGb18030(t, utf8, OnError::Replace);
      out.push_back(std::move(utf8));
    } else {
      out.push_back(FromWindows1252(t));
    }
  }
  return out;
}

std::string RepairLatin1Misread(std::string_view utf8) {
  std::string bytes;
  bytes.reserve(utf8.size());
  bool high = false;
  for (size_t i = 0; i < utf8.size();) {
    const uint32_t cp = NextCodePoint(utf8, i);
    if (cp > 0xFF) return std::string(utf8);
    high = high || cp >= 0x80;
    bytes += static_cast<char>(cp);
  }
  if (!high) return std::string(utf8);
  // Taggers often put UTF-8 into frames marked Latin-1: bytes that are valid UTF-8 are that.
  if (IsValidUtf8(bytes)) return bytes;
  std::string gbk;
  return LooksLikeGbk(bytes, gbk) ? gbk : std::string(utf8);
}

}  // namespace orvane::text
