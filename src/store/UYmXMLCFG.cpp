#include "store/UYmXMLCFG.h"

#include <libxml/tree.h>

#include <memory>

#include "text/TextUtil.h"

namespace orvane::store {
namespace {

struct XmlCharFree {
  void operator()(xmlChar* p) const { xmlFree(p); }
};

bool ReplaceText(xmlNode* element, const std::string& value) {
  xmlNode* child = element->children;
  while (child != nullptr) {
    xmlNode* next = child->next;
    xmlUnlinkNode(child);
    xmlFreeNode(child);
    child = next;
  }
  if (value.empty()) return true;
  // A text node, not xmlNodeSetContent: the value is plain text, "&" included.
  const std::string safe = XmlSafeText(value);
  xmlNode* text = xmlNewDocTextLen(element->doc, BAD_CAST safe.data(), static_cast<int>(safe.size()));
  if (text == nullptr) return false;
  if (xmlAddChild(element, text) != nullptr) return true;
  xmlFreeNode(text);
  return false;
}

}  // namespace

TYkConfig::TYkConfig(const std::string& fileName, const std::string& rootName) : document(fileName, rootName) {}

TYkConfig::~TYkConfig() { document.SaveOnClose("configuration"); }

std::string TYkConfig::ReadString(const std::string& path, const std::string& attr, const std::string& defaultValue) {
  const xmlNode* element = document.FindElement(path, false);
  if (element == nullptr) return defaultValue;
  if (attr.empty()) {
    const std::unique_ptr<xmlChar, XmlCharFree> content(xmlNodeGetContent(element));
    return content ? reinterpret_cast<const char*>(content.get()) : std::string();
  }
  std::string value = AttributeText(element, attr);
  return value.empty() ? defaultValue : value;
}

void TYkConfig::WriteString(const std::string& path, const std::string& attr, const std::string& value) {
  if (!attr.empty() && !IsXmlName(attr)) return;
  if (!IsElementPath(path)) return;
  document.SetModified();
  xmlNode* element = document.FindElement(path, true);
  const bool written = element != nullptr && (attr.empty() ? ReplaceText(element, value) : SetAttributeText(element, attr, value));
  if (!written) document.SetBroken("cannot write " + path + " in the document");
}

int32_t TYkConfig::ReadInteger(const std::string& path, const std::string& attr, int32_t defaultValue) {
  return text::ParseInt32(ReadString(path, attr, std::to_string(defaultValue))).value_or(defaultValue);
}

void TYkConfig::WriteInteger(const std::string& path, const std::string& attr, int32_t value) {
  WriteString(path, attr, std::to_string(value));
}

bool TYkConfig::ReadBool(const std::string& path, const std::string& attr, bool defaultValue) {
  // Only the low byte counts, as it did for the program's boolean type: 256 reads as false.
  return (ReadInteger(path, attr, defaultValue ? 1 : 0) & 0xFF) != 0;
}

void TYkConfig::WriteBool(const std::string& path, const std::string& attr, bool value) {
  WriteInteger(path, attr, value ? 1 : 0);
}

bool TYkConfig::Save(std::string* error) { return document.Save(error); }

bool TYkConfig::TakeText(std::string& bytes, std::string* error) { return document.TakeText(bytes, error); }

}  // namespace orvane::store
