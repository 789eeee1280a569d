// Text of unknown origin: FromLegacy always gives UTF-8; the table decoder agrees with the system's
// converter on every text both accept; what the decoder gives re-encodes and decodes to itself.
#include <iconv.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "text/Legacy.h"
#include "text/TextConverter.h"

using orvane::fuzz::Check;
using namespace orvane::text;

namespace {

// The system's strict GB18030 reading, as the reference.
bool SystemDecode(std::string_view bytes, std::string& utf8) {
  static const iconv_t cd = ::iconv_open("UTF-8", "GB18030");
  utf8.assign(bytes.size() * 4 + 4, '\0');
  char* src = const_cast<char*>(bytes.data());
  size_t srcLeft = bytes.size();
  char* dst = utf8.data();
  size_t dstLeft = utf8.size();
  ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
  const size_t rc = ::iconv(cd, &src, &srcLeft, &dst, &dstLeft);
  utf8.resize(utf8.size() - dstLeft);
  return rc != static_cast<size_t>(-1) && srcLeft == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string legacy = FromLegacy(bytes);
  Check(IsValidUtf8(legacy), "FromLegacy gives UTF-8");
  for (const std::string& text : FromLegacyTogether({std::string(bytes.substr(0, size / 2)), std::string(bytes.substr(size / 2))}))
    Check(IsValidUtf8(text), "FromLegacyTogether gives UTF-8");

  std::string strict;
  const bool strictOk = DecodeGb18030(bytes, strict, OnError::Fail);
  std::string reference;
  if (SystemDecode(bytes, reference)) Check(strictOk && strict == reference, "tables agree with the system");
  if (!strictOk) Check(strict.empty(), "a failed decoding gives nothing");

  GbDecodeStats stats;
  std::string lenient;
  Check(DecodeGb18030(bytes, lenient, OnError::Replace, &stats), "the lenient decoding never fails");
  Check(IsValidUtf8(lenient), "the lenient decoding gives UTF-8");
  Check(strictOk == (stats.broken == 0 && !stats.cutAtEnd), "strict fails exactly on flaws");
  if (strictOk) Check(lenient == strict, "without flaws both policies agree");

  std::string gb18030;
  Check(TextConverter("GB18030").Encode(lenient, gb18030, OnError::Fail), "GB18030 holds every character");
  std::string back;
  Check(DecodeGb18030(gb18030, back, OnError::Fail) && back == lenient, "GB18030 round trip");

  std::string gb2312;
  Check(TextConverter("GB2312").Encode(lenient, gb2312, OnError::CharRef), "GB2312 with references never fails");
  std::string again;
  Check(DecodeGb18030(gb2312, again, OnError::Fail), "GB2312 output is valid GB18030");
  for (unsigned char c : gb2312) Check(c != 0x80 && c != 0xFF, "GB2312 output has no stray bytes");
  return 0;
}
