// Tag text as the decoder hands it over: ID3v2 Latin-1 frames arrive as the Latin-1 reading of
// their bytes, ID3v1 fields as the raw bytes. Repair gives UTF-8 and either leaves the text alone
// or gives the UTF-8 or GBK reading of the original bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "text/Legacy.h"

using orvane::fuzz::Check;
using namespace orvane::text;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string latin1;
  for (unsigned char c : bytes) AppendUtf8(latin1, c);
  const std::string repaired = RepairLatin1Misread(latin1);
  Check(IsValidUtf8(repaired), "repair gives UTF-8");
  if (repaired != latin1) {
    std::string gbk;
    DecodeGb18030(bytes, gbk, OnError::Replace);
    Check(repaired == (IsValidUtf8(bytes) ? std::string(bytes) : gbk), "a repair is the UTF-8 or GBK reading of the bytes");
  }
  // Text beyond Latin-1 is never touched.
  const std::string beyond = latin1 + "\xE4\xB8\xAD";
  Check(RepairLatin1Misread(beyond) == beyond, "non-Latin-1 text stays");
  if (IsValidUtf8(bytes)) Check(IsValidUtf8(RepairLatin1Misread(bytes)), "repair of any UTF-8 is UTF-8");
  return 0;
}
