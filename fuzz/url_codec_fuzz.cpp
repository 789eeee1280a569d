// URL values: decoding any text is safe, and decoding what was encoded gives the value back.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "FuzzSupport.h"
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
  return 0;
}
