// The lenient reader over any bytes: it ends, never reads past the text and gives UTF-8.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "FuzzSupport.h"
#include "store/XmlReader.h"
#include "text/Legacy.h"

using orvane::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  orvane::store::TXmlReader reader(bytes);
  Check(orvane::text::IsValidUtf8(reader.Text()), "the document is UTF-8");
  size_t tags = 0;
  while (reader.Next()) {
    Check(++tags <= size, "at most one tag per byte");
    Check(!reader.Name().empty(), "tags have names");
    for (const char* name : {"name", "value", "url", "id", "q1"}) {
      const std::string value = reader.Attribute(name);
      Check(orvane::text::IsValidUtf8(value), "attribute values are UTF-8");
      Check(reader.HasAttribute(name) || value.empty(), "an absent attribute is empty");
    }
  }
  Check(!reader.Next(), "the end stays the end");
  Check(orvane::text::IsValidUtf8(orvane::store::DecodeXmlReferences(bytes)) || !orvane::text::IsValidUtf8(bytes),
        "references decode to UTF-8");
  return 0;
}
