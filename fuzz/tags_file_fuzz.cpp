// Tags and lengths read from a file's headers (every container the header reader knows), through
// a memory source: whatever the bytes, the reader keeps to them (an exception is a finding too),
// and what it reports is sane: every value readable UTF-8.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "ByteSource.h"
#include "FuzzSupport.h"
#include "TagsFormats.h"
#include "text/Legacy.h"

using orvane::fuzz::Check;
namespace tags = orvane::bass::tags;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto source = orvane::bass::OpenMemorySource(data, size);
  const tags::TagFile file(*source);
  tags::TagMap found;
  double seconds = -1;
  if (!tags::ReadKnownFormat(file, found, seconds)) return 0;
  Check(seconds == -1 || (std::isfinite(seconds) && seconds >= 0), "a length is -1 or a real length");
  for (const auto& [key, value] : found) {
    Check(!value.empty() && value.size() <= tags::kMaxTextItem, "tag values are bounded");
    Check(orvane::text::IsValidUtf8(value), "tag values are UTF-8");
  }
  return 0;
}
