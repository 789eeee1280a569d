#pragma once
// Finding and applying the encoding an XML text declares. Shared by the two stores and the
// forward-only reader. Pure, thread-safe, never throw.

#include <string>
#include <string_view>

namespace orvane::store {

// The encoding named by an XML declaration at the start of bytes (after an optional UTF-8
// byte-order mark and blanks), exactly as written; empty when there is no declaration or it
// names none.
std::string_view DeclaredEncoding(std::string_view bytes);

// True for the names Windows and editors use for simplified-Chinese text: GB2312, GBK, GB18030,
// CP936 and their aliases, in any letter case. All of them are read as GB18030, the superset:
// files written on Chinese Windows say "GB2312" but hold GBK bytes.
bool IsGbEncoding(std::string_view name);

// True for "UTF-8" and "UTF8" in any letter case.
bool IsUtf8Encoding(std::string_view name);

// Converts bytes in the named encoding to UTF-8, replacing each byte that cannot be decoded with
// U+FFFD and dropping a character cut off at the end. False (and utf8 left empty) when the
// encoding is unknown to the system.
bool DecodeLenient(std::string_view bytes, std::string_view encoding, std::string& utf8);

}  // namespace orvane::store
