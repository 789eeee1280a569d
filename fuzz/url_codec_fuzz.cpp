// URL values: decoding any text is safe, and decoding what was encoded gives the value back.
// Escaping a location for its request leaves nothing a request line cannot carry.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "net/ServerUrl.h"
#include "net/UYmUrl.h"

using orvane::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string decoded = orvane::net::DecodeUrlValue(bytes);
  Check(decoded.size() <= bytes.size(), "decoding never grows the text");
  const std::string encoded = orvane::net::EncodeUrlValue(bytes);
  Check(encoded.find_first_not_of("%0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") ==
            std::string::npos,
        "encoded text is letters, digits and escapes");
  Check(orvane::net::DecodeUrlValue(encoded) == bytes, "decode(encode(x)) == x");
  const orvane::net::HostPath split = orvane::net::SplitHostPath(bytes);
  Check(split.Host.size() + split.Path.size() <= bytes.size(), "split parts come from the text");
  const auto requestable = [](const std::string& url) {
    for (const char c : url) {
      const auto byte = static_cast<unsigned char>(c);
      if (byte <= 0x20 || byte >= 0x7F) return false;
    }
    return true;
  };
  Check(requestable(orvane::net::EscapeUrl(bytes)), "an escaped URL is printable ASCII");
  Check(requestable(orvane::net::EscapeUrlGbk(bytes)), "a GBK-escaped URL is printable ASCII");
  Check(orvane::net::EscapeUrl(orvane::net::EscapeUrl(bytes)) == orvane::net::EscapeUrl(bytes),
        "escaping twice changes nothing more");
  const std::string gbk = orvane::net::EncodeUrlValueGbk(bytes);
  Check(gbk.find_first_not_of("%0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") == std::string::npos,
        "a GBK form value is letters, digits and escapes");
  const std::string location = "http://m.example/" + std::string(bytes);
  Check(requestable(orvane::net::StreamRequestUrl(location, "http://m.example/")), "a song's request is printable ASCII");
  return 0;
}
