#pragma once
// What goes to the product's own web server is spelled in GBK: its lists carry GBK-escaped values
// and song paths, and its other clients send GBK. So form values to it (lyric upload, usage report)
// and song locations under its music address are escaped from their GBK bytes; every other host
// (the lyric provider, streams elsewhere) gets the UTF-8 bytes (UYmUrl.h).
//
// Pure functions: safe on any thread, never throw (an allocation failure gives the empty text).
// Characters GBK lacks are sent in their GB18030 form; text that is not UTF-8 is taken as bytes
// already.

#include <string>
#include <string_view>

namespace orvane::net {

// EncodeUrlValue of the value's GBK bytes: "中" gives "%D6%D0".
std::string EncodeUrlValueGbk(std::string_view utf8);

// EscapeUrl with the non-ASCII characters escaped from their GBK bytes.
std::string EscapeUrlGbk(std::string_view utf8Url);

// The request URL of a song location (trimmed): GBK escapes under the product's music base
// address (musicBaseUrl, when known) and on the product's server host (ServerHost, which also
// covers locations saved before the remote configuration of this run arrived), UTF-8 escapes
// elsewhere. A location that is not an http(s) URL comes back as it is.
std::string StreamRequestUrl(std::string_view location, std::string_view musicBaseUrl);

}  // namespace orvane::net
