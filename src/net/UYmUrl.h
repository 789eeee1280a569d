#pragma once
// The form-value codec, the URL split used by the HTTP form POST, and the escaping of URLs before
// they are requested. Pure functions: safe on any thread, never throw (an allocation failure gives
// the empty text), accept any bytes. (The GBK forms for the product's own server: ServerUrl.h.)

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

// A URL as it is requested: blanks, control bytes, DEL, "%" not followed by two hex digits and
// every non-ASCII byte are percent-escaped, so such a location is fetched rather than refused and
// no byte can end the request line early. Escapes already present stay as they are.
std::string EscapeUrl(std::string_view url);

}  // namespace orvane::net
