#include "text/Legacy.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>

namespace orvane::text {
namespace {

// One conversion descriptor per call: iconv_t is not thread-safe and opening one is cheap once
// glibc has loaded the converter module.
class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd(::iconv_open(to, from)) {}
  ~Iconv() {
    if (cd != reinterpret_cast<iconv_t>(-1)) ::iconv_close(cd);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;

  // Strict conversion: false on any invalid or incomplete input.
  bool Convert(std::string_view in, std::string& out) const {
    out.clear();
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char buffer[4096];
    while (srcLeft > 0) {
      char* dst = buffer;
      size_t dstLeft = sizeof buffer;
      const size_t rc = ::iconv(cd, &src, &srcLeft, &dst, &dstLeft);
      out.append(buffer, static_cast<size_t>(dst - buffer));
      if (rc == static_cast<size_t>(-1) && errno != E2BIG) return false;
    }
    char* dst = buffer;
    size_t dstLeft = sizeof buffer;
    ::iconv(cd, nullptr, nullptr, &dst, &dstLeft);
    out.append(buffer, static_cast<size_t>(dst - buffer));
    return true;
  }

 private:
  iconv_t cd;
};

// Decodes one code point of valid UTF-8 at s[i], advancing i.
uint32_t NextCodePoint(std::string_view s, size_t& i) {
  const auto b = static_cast<unsigned char>(s[i]);
  int extra = b < 0x80 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
  uint32_t cp = extra == 0 ? b : extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
  ++i;
  while (extra-- > 0 && i < s.size()) cp = (cp << 6) | (static_cast<unsigned char>(s[i++]) & 0x3F);
  return cp;
}

bool IsCjkCodePoint(uint32_t cp) {
  return (cp >= 0x3040 && cp <= 0x30FF) ||    // kana
         (cp >= 0x3400 && cp <= 0x4DBF) ||    // ideographs, extension A
         (cp >= 0x4E00 && cp <= 0x9FFF) ||    // unified ideographs
         (cp >= 0xAC00 && cp <= 0xD7AF) ||    // hangul syllables
         (cp >= 0xF900 && cp <= 0xFAFF) ||    // compatibility ideographs
         (cp >= 0x20000 && cp <= 0x3FFFF);    // supplementary ideographs
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

// Decides whether non-UTF-8 bytes are really GBK text. Accented Latin-1 often forms valid GBK
// pairs, but those pairs almost always have an ASCII trail byte ("Élan" is C9 6C), whereas real
// Chinese text is mostly made of GB2312 characters whose both bytes lie in A1..FE. So the GBK
// reading is taken only when it yields CJK characters and at least half of the double-byte
// characters are GB2312-shaped.
bool LooksLikeGbk(std::string_view bytes, std::string& utf8) {
  if (!DecodeGb18030(bytes, utf8) || !ContainsCjk(utf8)) return false;
  int pairs = 0;
  int gb2312Pairs = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x81 || i + 1 >= bytes.size()) continue;
    const auto trail = static_cast<unsigned char>(bytes[i + 1]);
    if (trail >= 0x30 && trail <= 0x39) {  // four-byte GB18030 sequence
      i += 3;
      continue;
    }
    ++pairs;
    if (lead >= 0xA1 && trail >= 0xA1) ++gb2312Pairs;
    ++i;
  }
  return pairs > 0 && gb2312Pairs * 2 >= pairs;
}

std::string FromUtf16(std::string_view bytes, bool bigEndian) {
  std::string out;
  Iconv conv("UTF-8", bigEndian ? "UTF-16BE" : "UTF-16LE");
  // A trailing odd byte cannot be part of a character; drop it instead of failing the whole text.
  std::string_view whole = bytes.substr(0, bytes.size() & ~size_t{1});
  if (conv.Convert(whole, out)) return out;
  // Unpaired surrogates: decode by hand, replacing what cannot be represented.
  out.clear();
  for (size_t i = 0; i + 1 < whole.size(); i += 2) {
    const auto a = static_cast<unsigned char>(whole[i]);
    const auto b = static_cast<unsigned char>(whole[i + 1]);
    uint32_t unit = bigEndian ? (a << 8 | b) : (b << 8 | a);
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

bool DecodeGb18030(std::string_view bytes, std::string& utf8) {
  return Iconv("UTF-8", "GB18030").Convert(bytes, utf8);
}

std::string ToGb18030(std::string_view utf8) {
  std::string out;
  if (!Iconv("GB18030", "UTF-8").Convert(utf8, out)) out.clear();
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
  std::string gbk;
  return LooksLikeGbk(bytes, gbk) ? gbk : std::string(utf8);
}

}  // namespace orvane::text
