#pragma once
// The form-value codec, the URL split used by the HTTP form POST, and the escaping of URLs before
// they are requested. Pure functions: safe on any thread, never throw (an allocation failure gives
// the empty text), accept any bytes.
//
// The product's own web server reads GBK: values and song locations sent to it are escaped from
// their GBK bytes, as its other clients send them. Every other host gets the UTF-8 bytes.

#include <string>
#include <string_view>

namespace orvane::net {

// Escapes every byte that is not an ASCII letter or digit as "%" and two upper-case hex digits,
// the blank included ("+" is never produced). Works on bytes: a multi-byte character becomes one
// escape per byte.
std::string EncodeUrlValue(std::string_view value);

// EncodeUrlValue of the value's GBK bytes ("中" gives "%D6%D0"), for form values sent to the
// product's server. Characters GBK lacks are sent in their GB18030 form; text that is not UTF-8 is
// escaped byte for byte.
std::string EncodeUrlValueGbk(std::string_view utf8);

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
// The same with the non-ASCII characters escaped from their GBK bytes.
std::string EscapeUrlGbk(std::string_view utf8Url);

// The request URL of a song location (trimmed): GBK escapes under the product's music base
// address (musicBaseUrl, when known) and on the product's server host, UTF-8 escapes elsewhere. A
// location that is not an http(s) URL comes back as it is.
std::string StreamRequestUrl(std::string_view location, std::string_view musicBaseUrl);

}  // namespace orvane::net
