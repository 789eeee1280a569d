#pragma once
// The form-value codec and the URL split used by the HTTP form POST. Pure functions: safe on any
// thread, never throw (an allocation failure gives the empty text), accept any bytes.

#include <string>
#include <string_view>

namespace orvane::net {

// Escapes every byte that is not an ASCII letter or digit as "%" and two upper-case hex digits,
// the blank included ("+" is never produced). Works on bytes: a multi-byte character becomes one
// escape per byte.
std::string EncodeUrlValue(std::string_view value);

// Undoes EncodeUrlValue the lenient way the server's values need: stops at the first "&"; "+" is a
// blank; "%" consumes the next two characters whatever they are (fewer at the end of the text),
// skipping leading blanks among them and reading hex digits until a non-digit; the number read
// (0 when none) is one output byte. Every other byte is copied.
std::string DecodeUrlValue(std::string_view value);

struct HostPath {
  std::string Host;
  std::string Path;  // without the leading "/"
};

// Drops a leading "http://" (any letter case), then splits at the first "/": Host before it, Path
// after it. Without a "/" the Host is empty and the Path is all that remains.
HostPath SplitHostPath(std::string_view url);

}  // namespace orvane::net
