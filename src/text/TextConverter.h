#pragma once
// The one converter between UTF-8 and the legacy encodings that reach the player (GBK lyrics and
// tags, GB2312-declared XML, whatever encoding a downloaded document declares), with a policy for
// input it cannot convert.
//
// GB2312, GBK, GB18030 and their aliases go through tables of our own (built once from the
// system's converter, so the mappings are the system's); they decode character by character, so
// one broken byte costs one character and not the whole text. Every other encoding goes through
// iconv with the same policy.
//
// Thread-safe: a converter holds only its encoding's name; every call uses its own state.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orvane::text {

// What a conversion does with input it cannot convert.
enum class OnError {
  Fail,     // the conversion fails and the output is empty
  Replace,  // decoding: each byte that starts no character becomes U+FFFD and a character cut
            // off at the end is dropped; encoding: a character the encoding lacks becomes "?"
  CharRef,  // encoding: a character the encoding lacks becomes "&#N;" (decimal); decoding: as Replace
};

// What a GB18030 decoding met, for judging whether bytes are Chinese text at all.
struct GbDecodeStats {
  size_t twoByte = 0;       // double-byte characters
  size_t gb2312Shaped = 0;  // of them, those with both bytes in A1..FE, as GB2312 characters are
  size_t fourByte = 0;      // four-byte characters
  size_t broken = 0;        // bytes that started no character
  bool cutAtEnd = false;    // the text ended inside a character
  size_t cutBytes = 0;      // the bytes of that character (left out of the output)
  bool cjk = false;         // a CJK ideograph, kana or hangul syllable was decoded
};

class TextConverter {
 public:
  // encoding: an encoding name as XML declarations and iconv spell it ("GB2312", "gbk",
  // "ISO-8859-1", …). Names that are not plain (letters, digits, "-", "_", ".", ":") are refused.
  explicit TextConverter(std::string_view encoding);

  // False when the encoding is unknown to the system.
  bool Ok() const { return kind != Kind::Unknown; }
  // True for the GB family (GB2312, GBK, GB18030, CP936 and their aliases).
  bool IsGb() const { return kind == Kind::Gb18030 || kind == Kind::Gb2312; }

  // bytes in the encoding to UTF-8 (appended to utf8 after clearing it). The GB family is read
  // as GB18030, its superset: files written on Chinese Windows declare "GB2312" but hold GBK.
  bool Decode(std::string_view bytes, std::string& utf8, OnError policy) const;

  // Valid UTF-8 to the encoding (appended to bytes after clearing it). "GB2312" writes strict
  // GB2312 (the characters of the 1980 set only); "GBK"/"GB18030" write GB18030, which holds all of
  // Unicode. False for invalid UTF-8 whatever the policy.
  bool Encode(std::string_view utf8, std::string& bytes, OnError policy) const;

  // True when every character of valid UTF-8 text exists in the encoding.
  bool CanEncode(std::string_view utf8) const;

 private:
  enum class Kind { Unknown, Gb18030, Gb2312, Iconv };
  Kind kind = Kind::Unknown;
  std::string name;  // for iconv
};

// GB18030 bytes to UTF-8 with the policy; stats, when given, tells what the decoding met.
bool DecodeGb18030(std::string_view bytes, std::string& utf8, OnError policy = OnError::Fail,
                   GbDecodeStats* stats = nullptr);

// True for the names Windows and editors use for simplified-Chinese text: GB2312, GBK, GB18030,
// CP936 and their aliases, in any letter case.
bool IsGbEncodingName(std::string_view name);

}  // namespace orvane::text
