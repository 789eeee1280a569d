// The random-listening list document from the server.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "FuzzSupport.h"
#include "net/RandomList.h"
#include "text/Legacy.h"

using orvane::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view document(reinterpret_cast<const char*>(data), size);
  const std::string_view base = "http://music.example/";
  for (const orvane::net::TRandomListEntry& entry : orvane::net::ReadRandomList(document, base)) {
    Check(entry.Location.compare(0, base.size(), base) == 0, "locations start with the base address");
    Check(orvane::text::IsValidUtf8(entry.Title) && orvane::text::IsValidUtf8(entry.Singer) &&
              orvane::text::IsValidUtf8(entry.Location),
          "texts are UTF-8");
  }
  return 0;
}
