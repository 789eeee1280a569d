#include "text/TextConverter.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "text/Legacy.h"
#include "text/TextUtil.h"

namespace orvane::text {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// --- GB18030 tables ------------------------------------------------------------------------------
// Two-byte codes: lead 81..FE, trail 40..7E or 80..FE. Four-byte codes b1 b2 b3 b4 (b1, b3 in
// 81..FE; b2, b4 in 30..39) count up linearly; the first 39,420 cover the rest of the BMP in an
// irregular order (hence a table), and from 90 30 81 30 on they cover U+10000..U+10FFFF in order.
constexpr int kTrailSpan = 0xFF - 0x40;  // trail bytes 40..FE, 7F included and never valid
constexpr int kLeadSpan = 0xFF - 0x81;
constexpr uint32_t kFourByteBmpCount = 39420;
constexpr uint32_t kFourByteSupplementaryStart = 189000;  // linear index of 90 30 81 30

struct GbTables {
  std::array<char32_t, kLeadSpan * kTrailSpan> twoByte{};  // 0: no character
  std::array<char16_t, kFourByteBmpCount> fourByteBmp{};   // 0: no character
  std::array<uint16_t, 0x10000> toTwoByte{};               // code point -> lead<<8|trail, 0: none
  std::array<uint16_t, 0x10000> toFourByteBmp{};           // code point -> linear index + 1, 0: none
  std::array<uint16_t, 0x10000> toGb2312{};                // code point -> EUC-CN bytes, 0: none
  // The few two-byte codes the newer GB18030 revisions give characters beyond the BMP.
  std::vector<std::pair<char32_t, uint16_t>> supplementaryTwoByte;  // sorted by code point
};

// One character of from, converted by a descriptor to UTF-32; 0 when it does not convert.
char32_t ConvertOne(iconv_t cd, const unsigned char* from, size_t length) {
  char32_t out[2] = {0, 0};
  char* src = reinterpret_cast<char*>(const_cast<unsigned char*>(from));
  char* dst = reinterpret_cast<char*>(out);
  size_t srcLeft = length;
  size_t dstLeft = sizeof out;
  const size_t rc = ::iconv(cd, &src, &srcLeft, &dst, &dstLeft);
  ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if (rc == static_cast<size_t>(-1) || srcLeft != 0 || dstLeft != sizeof out - sizeof(char32_t)) return 0;
  return out[0];
}

void FourByteCode(uint32_t linear, unsigned char out[4]) {
  out[3] = static_cast<unsigned char>(0x30 + linear % 10);
  linear /= 10;
  out[2] = static_cast<unsigned char>(0x81 + linear % 126);
  linear /= 126;
  out[1] = static_cast<unsigned char>(0x30 + linear % 10);
  out[0] = static_cast<unsigned char>(0x81 + linear / 10);
}

// The tables are read from the system's converter once (a few milliseconds), so the mappings stay
// exactly the system's, including its reading of the GB18030 revisions.
std::unique_ptr<GbTables> BuildTables() {
  auto t = std::make_unique<GbTables>();
  const iconv_t gb18030 = ::iconv_open("UTF-32LE", "GB18030");
  const iconv_t gb2312 = ::iconv_open("UTF-32LE", "GB2312");
  if (gb18030 == reinterpret_cast<iconv_t>(-1) || gb2312 == reinterpret_cast<iconv_t>(-1)) {
    if (gb18030 != reinterpret_cast<iconv_t>(-1)) ::iconv_close(gb18030);
    if (gb2312 != reinterpret_cast<iconv_t>(-1)) ::iconv_close(gb2312);
    return t;  // empty tables: every non-ASCII byte reads as broken, which is safe
  }
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;
      const unsigned char code[2] = {static_cast<unsigned char>(lead), static_cast<unsigned char>(trail)};
      const char32_t cp = ConvertOne(gb18030, code, 2);
      if (cp == 0 || cp > 0x10FFFF) continue;
      t->twoByte[(lead - 0x81) * kTrailSpan + (trail - 0x40)] = cp;
      if (cp > 0xFFFF) {
        t->supplementaryTwoByte.emplace_back(cp, static_cast<uint16_t>(lead << 8 | trail));
        continue;
      }
      if (t->toTwoByte[cp] == 0) t->toTwoByte[cp] = static_cast<uint16_t>(lead << 8 | trail);
      if (lead >= 0xA1 && trail >= 0xA1 && ConvertOne(gb2312, code, 2) == cp && t->toGb2312[cp] == 0)
        t->toGb2312[cp] = static_cast<uint16_t>(lead << 8 | trail);
    }
  }
  for (uint32_t linear = 0; linear < kFourByteBmpCount; ++linear) {
    unsigned char code[4];
    FourByteCode(linear, code);
    const char32_t cp = ConvertOne(gb18030, code, 4);
    if (cp == 0 || cp > 0xFFFF) continue;
    t->fourByteBmp[linear] = static_cast<char16_t>(cp);
    if (t->toTwoByte[cp] == 0 && t->toFourByteBmp[cp] == 0) t->toFourByteBmp[cp] = static_cast<uint16_t>(linear + 1);
  }
  ::iconv_close(gb18030);
  ::iconv_close(gb2312);
  std::stable_sort(t->supplementaryTwoByte.begin(), t->supplementaryTwoByte.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  return t;
}

const GbTables& Tables() {
  static std::once_flag once;
  static std::unique_ptr<GbTables> tables;
  std::call_once(once, [] { tables = BuildTables(); });
  return *tables;
}

// Writes the UTF-8 form of cp at out and returns the position after it.
char* PutUtf8(char* out, char32_t cp) {
  if (cp < 0x80) {
    *out++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out++ = static_cast<char>(0xC0 | (cp >> 6));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (cp >> 12));
    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (cp >> 18));
    *out++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return out;
}

bool InRange(unsigned char b, unsigned char low, unsigned char high) { return b >= low && b <= high; }

// The code point of the four-byte code at p (all four bytes in range); 0 when it names none.
char32_t FourByteCodePoint(const GbTables& t, const unsigned char* p) {
  const uint32_t linear = ((static_cast<uint32_t>(p[0] - 0x81) * 10 + (p[1] - 0x30)) * 126 + (p[2] - 0x81)) * 10 + (p[3] - 0x30);
  if (linear < kFourByteBmpCount) return t.fourByteBmp[linear];
  if (linear < kFourByteSupplementaryStart) return 0;
  const uint32_t cp = 0x10000 + (linear - kFourByteSupplementaryStart);
  return cp <= 0x10FFFF ? cp : 0;
}

// True when the last n bytes of the text, starting at p, are the beginning of a character that the
// text cut off.
bool IsCutCharacter(const unsigned char* p, size_t n) {
  if (n == 0 || n > 3 || !InRange(p[0], 0x81, 0xFE)) return false;
  if (n == 1) return true;
  if (n == 2) return InRange(p[1], 0x30, 0x39);
  return InRange(p[1], 0x30, 0x39) && InRange(p[2], 0x81, 0xFE);
}

// Decodes one UTF-8 character of valid text at s[i], advancing i.
char32_t NextUtf8(std::string_view s, size_t& i) {
  const auto b = static_cast<unsigned char>(s[i]);
  const int extra = b < 0x80 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
  char32_t cp = extra == 0 ? b : extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
  ++i;
  for (int k = 0; k < extra && i < s.size(); ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i++]) & 0x3F);
  return cp;
}

void AppendUnencodable(std::string& out, char32_t cp, OnError policy) {
  if (policy == OnError::CharRef) {
    out += "&#";
    out += std::to_string(static_cast<uint32_t>(cp));
    out += ';';
  } else {
    out += '?';
  }
}

// Valid UTF-8 to GB2312 (strict) or GB18030 by the tables.
bool EncodeGb(std::string_view utf8, std::string& out, OnError policy, bool strictGb2312) {
  const GbTables& t = Tables();
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    const size_t start = i;
    while (i < utf8.size() && static_cast<unsigned char>(utf8[i]) < 0x80) ++i;
    out.append(utf8.data() + start, i - start);
    if (i == utf8.size()) break;
    const char32_t cp = NextUtf8(utf8, i);
    uint16_t two = 0;
    if (cp <= 0xFFFF) {
      two = strictGb2312 ? t.toGb2312[cp] : t.toTwoByte[cp];
    } else if (!strictGb2312) {
      const auto it = std::lower_bound(t.supplementaryTwoByte.begin(), t.supplementaryTwoByte.end(), cp,
                                       [](const auto& entry, char32_t value) { return entry.first < value; });
      if (it != t.supplementaryTwoByte.end() && it->first == cp) two = it->second;
    }
    if (two != 0) {
      out += static_cast<char>(two >> 8);
      out += static_cast<char>(two & 0xFF);
      continue;
    }
    uint32_t linear = 0;
    bool four = false;
    if (!strictGb2312 && cp <= 0xFFFF && t.toFourByteBmp[cp] != 0) {
      linear = t.toFourByteBmp[cp] - 1u;
      four = true;
    } else if (!strictGb2312 && cp >= 0x10000) {
      linear = kFourByteSupplementaryStart + (cp - 0x10000);
      four = true;
    }
    if (four) {
      unsigned char code[4];
      FourByteCode(linear, code);
      out.append(reinterpret_cast<const char*>(code), 4);
      continue;
    }
    if (policy == OnError::Fail) return false;
    AppendUnencodable(out, cp, policy);
  }
  return true;
}

// iconv with the policy, for every encoding outside the GB family.
class Iconv {
 public:
  Iconv(const std::string& to, const std::string& from) : cd(::iconv_open(to.c_str(), from.c_str())) {}
  ~Iconv() {
    if (Ok()) ::iconv_close(cd);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool Ok() const { return cd != reinterpret_cast<iconv_t>(-1); }

  // Converts in to out. onBad is called with the unconverted rest when the input cannot be
  // converted there (errno EILSEQ, or EINVAL for a cut-off end); it appends what stands in and
  // returns how many bytes to skip, or 0 to fail.
  template <typename OnBad>
  bool Run(std::string_view in, std::string& out, OnBad onBad) {
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char buffer[8192];
    for (;;) {
      char* dst = buffer;
      size_t dstLeft = sizeof buffer;
      const size_t rc = srcLeft > 0 ? ::iconv(cd, &src, &srcLeft, &dst, &dstLeft) : ::iconv(cd, nullptr, nullptr, &dst, &dstLeft);
      const int error = rc == static_cast<size_t>(-1) ? errno : 0;
      out.append(buffer, static_cast<size_t>(dst - buffer));
      if (error == E2BIG) continue;
      if (error == 0 && srcLeft == 0) {
        if (dst == buffer) return true;  // flushed
        continue;
      }
      if (error != EILSEQ && error != EINVAL) return false;
      const size_t skip = onBad(std::string_view(src, srcLeft), error);
      if (skip == 0 || skip > srcLeft) return false;
      src += skip;
      srcLeft -= skip;
      ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }

 private:
  iconv_t cd;
};

bool IsPlainName(std::string_view name) {
  if (name.empty() || name.size() > 40) return false;
  for (char c : name) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                    c == '_' || c == '.' || c == ':';
    if (!ok) return false;
  }
  return true;
}

size_t Utf8Length(unsigned char lead) { return lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4; }

}  // namespace

bool IsGbEncodingName(std::string_view name) {
  for (const char* alias : {"GB2312", "GBK", "GB18030", "CP936", "MS936", "windows-936", "EUC-CN", "x-gbk", "csGB2312",
                            "CN-GB", "x-euc-cn"}) {
    if (EqualsNoCase(name, alias)) return true;
  }
  return false;
}

bool DecodeGb18030(std::string_view bytes, std::string& utf8, OnError policy, GbDecodeStats* stats) {
  const GbTables& t = Tables();
  GbDecodeStats local;
  GbDecodeStats& st = stats ? *stats : local;
  st = {};
  // Valid text needs at most two bytes out per byte in (a two-byte code of a character beyond the
  // BMP gives four), and the buffer always has that much room for the input left. Only a single
  // byte that becomes three (a broken byte's U+FFFD, 0x80's euro sign) needs more, and the buffer
  // grows for it. Sized for those up front, a big file's text would take three times its size in
  // memory.
  auto validRoom = [](size_t in) { return 2 * in + 4; };
  utf8.assign(validRoom(bytes.size()), '\0');
  char* out = utf8.data();
  auto roomForThreeBytes = [&](size_t restAfter) {
    const size_t at = static_cast<size_t>(out - utf8.data());
    const size_t need = at + 3 + validRoom(restAfter);
    if (need <= utf8.size()) return;
    utf8.resize(std::max(need, utf8.size() * 2));
    out = utf8.data() + at;
  };
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t n = bytes.size();
  size_t i = 0;
  bool failed = false;
  while (i < n) {
    const unsigned char b = p[i];
    if (b < 0x80) {
      *out++ = static_cast<char>(b);
      ++i;
      continue;
    }
    char32_t cp = 0;
    size_t length = 1;
    // Code page 936 gave the single byte 0x80 the euro sign, and files written on Chinese Windows
    // hold it; GBK readers everywhere take it so.
    if (b == 0x80) cp = 0x20AC;
    if (InRange(b, 0x81, 0xFE) && i + 1 < n) {
      const unsigned char trail = p[i + 1];
      if (InRange(trail, 0x40, 0xFE) && trail != 0x7F) {
        cp = t.twoByte[(b - 0x81) * kTrailSpan + (trail - 0x40)];
        length = 2;
      } else if (InRange(trail, 0x30, 0x39) && i + 3 < n && InRange(p[i + 2], 0x81, 0xFE) && InRange(p[i + 3], 0x30, 0x39)) {
        cp = FourByteCodePoint(t, p + i);
        length = 4;
      }
    }
    if (cp == 0 && IsCutCharacter(p + i, n - i)) {
      st.cutAtEnd = true;
      st.cutBytes = n - i;
      if (policy == OnError::Fail) failed = true;
      break;
    }
    if (cp == 0) {
      // Only the first byte is bad: the next one may start a character of its own.
      ++st.broken;
      if (policy == OnError::Fail) {
        failed = true;
        break;
      }
      roomForThreeBytes(n - i - 1);
      out = PutUtf8(out, kReplacement);
      ++i;
      continue;
    }
    if (length == 2) {
      ++st.twoByte;
      if (b >= 0xA1 && p[i + 1] >= 0xA1) ++st.gb2312Shaped;
    } else if (length == 4) {
      ++st.fourByte;
    }
    st.cjk = st.cjk || IsCjkCodePoint(cp);
    if (length == 1) roomForThreeBytes(n - i - 1);
    out = PutUtf8(out, cp);
    i += length;
  }
  if (failed) {
    utf8.clear();
    return false;
  }
  utf8.resize(static_cast<size_t>(out - utf8.data()));
  return true;
}

TextConverter::TextConverter(std::string_view encoding) {
  if (!IsPlainName(encoding)) return;
  if (IsGbEncodingName(encoding)) {
    kind = EqualsNoCase(encoding, "GB2312") || EqualsNoCase(encoding, "EUC-CN") || EqualsNoCase(encoding, "csGB2312") ||
                   EqualsNoCase(encoding, "x-euc-cn") || EqualsNoCase(encoding, "CN-GB")
               ? Kind::Gb2312
               : Kind::Gb18030;
    return;
  }
  name = std::string(encoding);
  if (Iconv("UTF-8", name).Ok()) kind = Kind::Iconv;
}

bool TextConverter::Decode(std::string_view bytes, std::string& utf8, OnError policy) const {
  utf8.clear();
  if (kind == Kind::Unknown) return false;
  if (IsGb()) return DecodeGb18030(bytes, utf8, policy);
  Iconv conv("UTF-8", name);
  utf8.reserve(bytes.size() + bytes.size() / 2);
  const bool ok = conv.Ok() && conv.Run(bytes, utf8, [&](std::string_view rest, int error) -> size_t {
    if (policy == OnError::Fail) return 0;
    if (error == EINVAL) return rest.size();  // a character cut off at the end: dropped
    utf8 += "\xEF\xBF\xBD";
    return 1;
  });
  if (!ok) utf8.clear();
  return ok;
}

bool TextConverter::Encode(std::string_view utf8, std::string& bytes, OnError policy) const {
  bytes.clear();
  if (kind == Kind::Unknown || !IsValidUtf8(utf8)) return false;
  bool ok;
  if (IsGb()) {
    ok = EncodeGb(utf8, bytes, policy, kind == Kind::Gb2312);
  } else {
    Iconv conv(name, "UTF-8");
    ok = conv.Ok() && conv.Run(utf8, bytes, [&](std::string_view rest, int) -> size_t {
      if (policy == OnError::Fail) return 0;
      size_t at = 0;
      AppendUnencodable(bytes, NextUtf8(rest, at), policy);
      return std::min(Utf8Length(static_cast<unsigned char>(rest[0])), rest.size());
    });
  }
  if (!ok) bytes.clear();
  return ok;
}

bool TextConverter::CanEncode(std::string_view utf8) const {
  std::string bytes;
  return Encode(utf8, bytes, OnError::Fail);
}

}  // namespace orvane::text
