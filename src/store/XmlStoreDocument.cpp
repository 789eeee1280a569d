#include "store/XmlStoreDocument.h"

#include <fcntl.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <utility>

#include "store/XmlEncoding.h"
#include "text/AtomicFile.h"
#include "text/Legacy.h"
#include "text/TextConverter.h"

namespace orvane::store {
namespace {

// Entities stay as written and nothing is fetched; whitespace between elements is dropped so that
// a loaded file and the elements added to it are indented alike when saved.
constexpr int kParseOptions =
    XML_PARSE_NONET | XML_PARSE_NOBLANKS | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_COMPACT;

// Saved files declare "GB2312" and hold strict GB2312 bytes; what GB2312 cannot hold is written as
// a character reference, so the file stays readable by any XML reader and loses nothing. Where a
// reference cannot stand (see DocumentFitsGb2312) the whole file is written as GB18030 instead.
constexpr const char* kSaveEncoding = "GB2312";

void InitLibxml() {
  static std::once_flag once;
  std::call_once(once, [] { xmlInitParser(); });
}

struct XmlCharFree {
  void operator()(xmlChar* p) const { xmlFree(p); }
};
using XmlCharPtr = std::unique_ptr<xmlChar, XmlCharFree>;

struct ParserCtxtFree {
  void operator()(xmlParserCtxt* p) const { xmlFreeParserCtxt(p); }
};

bool NameEquals(const xmlChar* a, std::string_view b) {
  if (a == nullptr) return false;
  size_t i = 0;
  for (; i < b.size(); ++i) {
    if (a[i] == 0 || a[i] != static_cast<unsigned char>(b[i])) return false;
  }
  return a[i] == 0;
}

bool StartsWithBom(std::string_view bytes) {
  return bytes.substr(0, 3) == "\xEF\xBB\xBF" || bytes.substr(0, 2) == "\xFF\xFE" ||
         bytes.substr(0, 2) == "\xFE\xFF";
}

std::string ParseErrorText(xmlParserCtxt* ctxt) {
  const xmlError* e = xmlCtxtGetLastError(ctxt);
  if (e == nullptr || e->message == nullptr) return "not well-formed XML";
  std::string message = e->message;
  while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
  return "not well-formed XML (line " + std::to_string(e->line) + "): " + message;
}

// Files written on Chinese Windows declare "GB2312" but hold GBK bytes, which strict GB2312 readers
// reject; the text is decoded here as GB18030 (a superset of both) and handed to the parser as
// UTF-8. Everything else (UTF-8, UTF-16 with a byte-order mark, other declared encodings) is left
// to the parser.
xmlDoc* Parse(const std::string& bytes, std::string& why) {
  if (bytes.size() > static_cast<size_t>(INT_MAX)) {
    why = "file too large";
    return nullptr;
  }
  std::string_view data = bytes;
  const char* encoding = nullptr;
  int options = kParseOptions;
  std::string utf8;
  if (!StartsWithBom(bytes) && IsGbEncoding(DeclaredEncoding(bytes))) {
    // Strict: a store file with a broken byte is damaged, and is moved aside whole rather than
    // loaded with a character silently replaced and then saved over.
    if (!text::DecodeGb18030(bytes, utf8, text::OnError::Fail)) {
      why = "bytes that are not valid GBK/GB18030 text";
      return nullptr;
    }
    data = utf8;
    encoding = "UTF-8";
    options |= XML_PARSE_IGNORE_ENC;
  }
  std::unique_ptr<xmlParserCtxt, ParserCtxtFree> ctxt(xmlNewParserCtxt());
  if (!ctxt) {
    why = "out of memory";
    return nullptr;
  }
  xmlDoc* doc = xmlCtxtReadMemory(ctxt.get(), data.data(), static_cast<int>(data.size()), nullptr,
                                  encoding, options);
  if (doc == nullptr) why = ParseErrorText(ctxt.get());
  return doc;
}

std::string LocalTimeStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  return stamp;
}

// Renames from to to unless to exists. 0 on success, else an errno value (EEXIST when taken).
int RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // File systems without RENAME_NOREPLACE: a hard link also refuses to replace.
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return 0;
  }
  if (errno == EEXIST) return EEXIST;
  struct stat st {};
  if (::lstat(to.c_str(), &st) == 0) return EEXIST;
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

// Moves path to "<path>.bad-<stamp>", or "<path>.bad-<stamp>-N" when that name is taken, so an
// earlier moved copy is never replaced.
bool MoveAside(const std::string& path, std::string& movedTo, std::string& error) {
  const std::string base = path + ".bad-" + LocalTimeStamp();
  for (int n = 1; n < 1000; ++n) {
    const std::string target = n == 1 ? base : base + "-" + std::to_string(n);
    const int rc = RenameNoReplace(path, target);
    if (rc == 0) {
      movedTo = target;
      return true;
    }
    if (rc != EEXIST) {
      error = "cannot move it aside: " + std::string(std::strerror(rc));
      return false;
    }
  }
  error = "cannot move it aside: too many earlier copies";
  return false;
}

bool IsForbiddenAt(std::string_view s, size_t i) {
  const auto b = static_cast<unsigned char>(s[i]);
  if (b < 0x20) return b != '\t' && b != '\n' && b != '\r';
  // U+FFFE and U+FFFF
  return b == 0xEF && i + 2 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0xBF &&
         (static_cast<unsigned char>(s[i + 2]) & 0xFE) == 0xBE;
}

bool FitsGb2312(const text::TextConverter& gb2312, const xmlChar* utf8) {
  if (utf8 == nullptr) return true;
  const std::string_view text(reinterpret_cast<const char*>(utf8));
  for (unsigned char c : text) {
    if (c >= 0x80) return gb2312.CanEncode(text);
  }
  return true;
}

// The DTD as it will be written (declarations, their values, comments inside it).
bool DtdFitsGb2312(const text::TextConverter& gb2312, xmlDoc* doc, xmlNode* dtd) {
  std::unique_ptr<xmlBuffer, decltype(&xmlBufferFree)> buffer(xmlBufferCreate(), &xmlBufferFree);
  if (!buffer) return false;
  if (xmlNodeDump(buffer.get(), doc, dtd, 0, 0) < 0) return false;
  return FitsGb2312(gb2312, xmlBufferContent(buffer.get()));
}

// Whether the document can be written as GB2312 without changing anything: a character GB2312
// lacks may stand as a character reference in text and attribute values, but not in a name, a
// comment, a CDATA section, a processing instruction or the DTD, where "&#N;" would be read as
// those five characters. Those parts belong to whoever wrote the file and stay as they are.
bool DocumentFitsGb2312(const text::TextConverter& gb2312, xmlDoc* doc) {
  xmlNode* node = doc->children;
  while (node != nullptr) {
    bool descend = false;
    switch (node->type) {
      case XML_ELEMENT_NODE:
        if (!FitsGb2312(gb2312, node->name) || (node->ns && !FitsGb2312(gb2312, node->ns->prefix))) return false;
        for (const xmlNs* ns = node->nsDef; ns != nullptr; ns = ns->next) {
          if (!FitsGb2312(gb2312, ns->prefix)) return false;
        }
        for (const xmlAttr* a = node->properties; a != nullptr; a = a->next) {
          if (!FitsGb2312(gb2312, a->name) || (a->ns && !FitsGb2312(gb2312, a->ns->prefix))) return false;
        }
        descend = node->children != nullptr;
        break;
      case XML_COMMENT_NODE:
      case XML_CDATA_SECTION_NODE:
        if (!FitsGb2312(gb2312, node->content)) return false;
        break;
      case XML_PI_NODE:
        if (!FitsGb2312(gb2312, node->name) || !FitsGb2312(gb2312, node->content)) return false;
        break;
      case XML_ENTITY_REF_NODE:
        if (!FitsGb2312(gb2312, node->name)) return false;
        break;
      case XML_DTD_NODE:
        if (!DtdFitsGb2312(gb2312, doc, node)) return false;
        break;
      default:
        break;
    }
    if (descend) {
      node = node->children;
      continue;
    }
    while (node != nullptr && node->next == nullptr) {
      node = node->parent;
      if (node != nullptr && node->type != XML_ELEMENT_NODE) node = nullptr;
    }
    if (node != nullptr) node = node->next;
  }
  return true;
}

bool Serialize(xmlDoc* doc, std::string& bytes, std::string& why) {
  xmlChar* raw = nullptr;
  int size = 0;
  xmlDocDumpFormatMemoryEnc(doc, &raw, &size, "UTF-8", 1);
  const XmlCharPtr owner(raw);
  if (raw == nullptr || size <= 0) {
    why = "cannot serialize the document";
    return false;
  }
  const std::string_view utf8(reinterpret_cast<const char*>(raw), static_cast<size_t>(size));
  // libxml2 starts with the declaration it was asked for: <?xml version="…" encoding="UTF-8"?>
  constexpr std::string_view kWritten = "encoding=\"UTF-8\"";
  const size_t at = utf8.substr(0, utf8.find("?>")).find(kWritten);
  const text::TextConverter gb2312(kSaveEncoding);
  if (utf8.rfind("<?xml ", 0) != 0 || at == std::string_view::npos || !gb2312.Ok()) {
    why = "cannot encode the document as GB2312";
    return false;
  }
  std::string body;
  const bool faithful = DocumentFitsGb2312(gb2312, doc);
  // A document GB2312 cannot carry faithfully is declared as its superset, as a whole.
  const text::TextConverter encoder(faithful ? kSaveEncoding : "GB18030");
  if (!encoder.Encode(utf8.substr(at + kWritten.size()), body, text::OnError::CharRef)) {
    why = "cannot encode the document";
    return false;
  }
  bytes.clear();
  bytes.reserve(at + 32 + body.size());
  bytes.append(utf8.substr(0, at));
  bytes += faithful ? "encoding=\"GB2312\"" : "encoding=\"GB18030\"";
  bytes += body;
  return true;
}

}  // namespace

void XmlStoreDocument::DocFree::operator()(_xmlDoc* d) const { xmlFreeDoc(d); }

XmlStoreDocument::XmlStoreDocument(std::string path, const std::string& rootName)
    : fileName(std::move(path)) {
  InitLibxml();
  Load(rootName);
  SetDeclaredEncoding();
}

XmlStoreDocument::~XmlStoreDocument() = default;

void XmlStoreDocument::Load(const std::string& rootName) {
  struct stat st {};
  if (fileName.empty() || ::stat(fileName.c_str(), &st) != 0) {
    StartEmpty(rootName);
    return;
  }
  if (!S_ISREG(st.st_mode)) {
    // A folder or a device is not ours to replace.
    loadError = "not a regular file";
    saveBlocked = true;
    StartEmpty(rootName);
    return;
  }
  std::string bytes;
  std::string why;
  if (!text::ReadWholeFile(fileName, bytes)) {
    why = "cannot read the file: " + std::string(std::strerror(errno));
  } else {
    doc.reset(Parse(bytes, why));
    if (doc && xmlDocGetRootElement(doc.get()) != nullptr) {
      loadedFromFile = true;
      return;
    }
    doc.reset();
    if (why.empty()) why = "no root element";
  }
  loadError = why;
  std::string moveError;
  // Through a symbolic link the damaged file itself is moved, so the link stays and the next save
  // writes through it.
  const std::string damaged = text::WriteTarget(fileName);
  if (damaged.empty() || !MoveAside(damaged, movedAsidePath, moveError)) {
    if (damaged.empty()) moveError = "cannot follow the link";
    loadError += "; " + moveError;
    saveBlocked = true;
  }
  StartEmpty(rootName);
}

void XmlStoreDocument::StartEmpty(const std::string& rootName) {
  doc.reset(xmlNewDoc(BAD_CAST "1.0"));
  if (!doc || !IsXmlName(rootName)) return;
  xmlNode* root = xmlNewDocNode(doc.get(), nullptr, BAD_CAST rootName.c_str(), nullptr);
  if (root != nullptr) xmlDocSetRootElement(doc.get(), root);
}

void XmlStoreDocument::SetDeclaredEncoding() {
  if (!doc) return;
  if (doc->encoding != nullptr) xmlFree(const_cast<xmlChar*>(doc->encoding));
  doc->encoding = xmlStrdup(BAD_CAST kSaveEncoding);
}

_xmlNode* XmlStoreDocument::Root() const { return doc ? xmlDocGetRootElement(doc.get()) : nullptr; }

_xmlNode* XmlStoreDocument::FindElement(std::string_view path, bool create) {
  xmlNode* current = Root();
  if (current == nullptr) return nullptr;
  // Check every segment first, so a bad path creates nothing.
  for (size_t start = 0;;) {
    const size_t slash = path.find('/', start);
    if (!IsXmlName(path.substr(start, slash == std::string_view::npos ? slash : slash - start))) return nullptr;
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
  for (size_t start = 0;;) {
    const size_t slash = path.find('/', start);
    const std::string_view name = path.substr(start, slash == std::string_view::npos ? slash : slash - start);
    xmlNode* child = FirstChildElement(current, name);
    if (child == nullptr) {
      if (!create) return nullptr;
      child = AppendElement(current, name);
      if (child == nullptr) return nullptr;
    }
    current = child;
    if (slash == std::string_view::npos) return current;
    start = slash + 1;
  }
}

_xmlNode* XmlStoreDocument::AppendElement(_xmlNode* parent, std::string_view name) {
  if (parent == nullptr || !IsXmlName(name)) return nullptr;
  const std::string nameText(name);
  xmlNode* node = xmlNewDocNode(doc.get(), nullptr, BAD_CAST nameText.c_str(), nullptr);
  if (node == nullptr) return nullptr;
  if (xmlAddChild(parent, node) == nullptr) {
    xmlFreeNode(node);
    return nullptr;
  }
  return node;
}

bool XmlStoreDocument::Save(std::string* error) {
  auto fail = [error](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  if (fileName.empty()) return fail("no file name");
  if (saveBlocked) return fail(fileName + " could not be loaded or moved aside; it is not overwritten");
  if (!doc) return fail("no document");
  std::string bytes;
  std::string why;
  if (!Serialize(doc.get(), bytes, why)) return fail(why);
  if (!text::AtomicWriteFile(fileName, bytes, error)) return false;
  modified = false;
  return true;
}

void XmlStoreDocument::SaveOnClose(const char* what) noexcept {
  try {
    if (!modified || fileName.empty()) return;
    std::string error;
    if (!Save(&error)) std::fprintf(stderr, "orvane: cannot save the %s: %s\n", what, error.c_str());
  } catch (...) {
    std::fprintf(stderr, "orvane: cannot save the %s\n", what);
  }
}

std::string XmlSafeText(std::string_view text) {
  std::string out = text::IsValidUtf8(text) ? std::string(text) : text::FromLegacy(text);
  size_t i = 0;
  while (i < out.size() && !IsForbiddenAt(out, i)) ++i;
  if (i == out.size()) return out;
  std::string clean;
  clean.reserve(out.size());
  for (i = 0; i < out.size(); ++i) {
    if (!IsForbiddenAt(out, i)) {
      clean += out[i];
    } else if (static_cast<unsigned char>(out[i]) == 0xEF) {
      i += 2;
    }
  }
  return clean;
}

bool IsXmlName(std::string_view name) {
  // A prefix would need a namespace declaration; the stores' names never have one.
  if (name.empty() || name.find('\0') != std::string_view::npos || name.find(':') != std::string_view::npos)
    return false;
  const std::string text(name);
  return xmlValidateName(BAD_CAST text.c_str(), 0) == 0;
}

_xmlNode* FirstChildElement(const _xmlNode* parent, std::string_view name) {
  if (parent == nullptr) return nullptr;
  for (xmlNode* c = parent->children; c != nullptr; c = c->next) {
    if (c->type == XML_ELEMENT_NODE && NameEquals(c->name, name)) return c;
  }
  return nullptr;
}

std::string AttributeText(const _xmlNode* element, std::string_view name, bool* present) {
  if (present) *present = false;
  if (element == nullptr) return {};
  for (const xmlAttr* a = element->properties; a != nullptr; a = a->next) {
    if (a->ns != nullptr || !NameEquals(a->name, name)) continue;
    if (present) *present = true;
    const xmlNode* c = a->children;
    if (c == nullptr) return {};
    if (c->next == nullptr && c->type == XML_TEXT_NODE && c->content != nullptr)
      return reinterpret_cast<const char*>(c->content);
    const XmlCharPtr value(xmlNodeListGetString(element->doc, c, 1));
    return value ? reinterpret_cast<const char*>(value.get()) : std::string();
  }
  return {};
}

void SetAttributeText(_xmlNode* element, std::string_view name, std::string_view value) {
  if (element == nullptr || !IsXmlName(name)) return;
  const std::string nameText(name);
  const std::string valueText = XmlSafeText(value);
  xmlSetProp(element, BAD_CAST nameText.c_str(), BAD_CAST valueText.c_str());
}

void AppendAttributeText(_xmlNode* element, const char* name, std::string_view value) {
  if (element == nullptr) return;
  const std::string valueText = XmlSafeText(value);
  xmlNewProp(element, BAD_CAST name, BAD_CAST valueText.c_str());
}

}  // namespace orvane::store
