#pragma once
// Small text helpers shared by every subsystem. Pure, thread-safe, never throw.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orvane::text {

// Removes leading and trailing bytes 0x00..0x20 (blanks and control characters).
std::string_view Trim(std::string_view s);
std::string_view TrimLeft(std::string_view s);
std::string_view TrimRight(std::string_view s);

// The longest prefix of s of at most maxBytes bytes that does not split a UTF-8 character.
std::string_view CutUtf8(std::string_view s, std::size_t maxBytes);

// ASCII-only case mapping (non-ASCII bytes unchanged) and case-insensitive ASCII comparison.
std::string AsciiLower(std::string_view s);
bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view s, std::string_view prefix);

// Decimal integer as the stores and readers accept it: optional leading blanks, an optional sign,
// one or more decimal digits, nothing after them, and a value within signed 32 bits.
std::optional<int32_t> ParseInt32(std::string_view s);
// Same rules, any finite decimal number ("12", "-1.5", "3e2").
std::optional<double> ParseDouble(std::string_view s);

// Removes the nine characters " * / : < > ? \ | and keeps at most the first 259 bytes,
// never splitting a UTF-8 character. The result is safe as one path component, except that it
// may be empty, "." or "..": callers that build a path from it add an extension.
std::string CleanFileName(std::string_view s);

}  // namespace orvane::text
