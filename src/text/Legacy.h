#pragma once
// Conversion of text that arrives from outside (ID3 tags written on Chinese Windows, LRC files,
// GB2312-declared XML, URL-escaped GBK values) into the UTF-8 the program holds everywhere.
// All functions are pure, thread-safe and never throw.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "text/TextConverter.h"

namespace orvane::text {

// True when bytes are well-formed UTF-8 (no overlongs, no surrogates, nothing above U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

// Text of unknown legacy origin to UTF-8:
// - a UTF-8 byte-order mark is stripped; UTF-16 with a byte-order mark is decoded;
// - valid UTF-8 stays as it is;
// - otherwise the bytes are read as GB18030 (a superset of GBK and GB2312) character by
//   character: a stray byte becomes U+FFFD and a character cut off at the end (a 30-byte ID3v1
//   field) is dropped, while every valid character survives. Short Latin-1 text often happens to
//   decode as GBK too, so that reading is kept only when it yields CJK characters, most of its
//   double-byte characters are common Chinese characters or punctuation that two accented Latin-1
//   letters of a word do not form, and it has fewer flaws than those; anything else is read as
//   Windows-1252, which never fails. So "Größe" and "Coração" stay Latin-1.
std::string FromLegacy(std::string_view bytes);

// Texts one program wrote together (the fields of an ID3v1 tag, the items of a RIFF INFO list),
// each read as FromLegacy reads it, except that whether those that are not UTF-8 are GBK or
// Latin-1 is decided once, over all of them: they share one encoding, and a short field alone
// ("Björk", a one-character title) says little about it.
std::vector<std::string> FromLegacyTogether(const std::vector<std::string>& texts);

// UTF-8 that was produced by reading legacy bytes as Latin-1 (e.g. ID3v2 text frames marked
// Latin-1 that really hold GBK or UTF-8) is turned back into its bytes and re-read as FromLegacy
// reads them, but only when every character fits in one byte and the bytes are valid UTF-8 or pass
// FromLegacy's GBK test; "Café" stays "Café".
std::string RepairLatin1Misread(std::string_view utf8);

// UTF-8 to GB18030 bytes (lossless: GB18030 covers all of Unicode). Empty on invalid input.
std::string ToGb18030(std::string_view utf8);

// Appends the UTF-8 form of codePoint (at most U+10FFFF) to out.
void AppendUtf8(std::string& out, uint32_t codePoint);

// True for CJK ideographs (all blocks), kana and hangul syllables.
bool IsCjkCodePoint(char32_t codePoint);

// True when the UTF-8 text holds at least one CJK ideograph, kana or hangul syllable.
bool ContainsCjk(std::string_view utf8);

}  // namespace orvane::text
