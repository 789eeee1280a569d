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
#include <random>
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

// Leaves out the children of the root's first element named list: the SAX callbacks that would
// build them into the document are not passed on while the parser is inside them.
struct ListFilter {
  std::string_view list;
  xmlSAXHandler build{};  // libxml2's own callbacks, which build the document
  int depth = 0;          // of the element being parsed; the root is 1
  bool seen = false;      // the list element has been met
  bool inside = false;    // the parser is in its content

  static ListFilter& Of(void* ctx) { return *static_cast<ListFilter*>(static_cast<xmlParserCtxt*>(ctx)->_private); }
  bool Skipping() const { return inside && depth > 2; }

  static void StartElement(void* ctx, const xmlChar* localname, const xmlChar* prefix, const xmlChar* uri,
                           int namespaces, const xmlChar** namespaceList, int attributes, int defaulted,
                           const xmlChar** attributeList) {
    ListFilter& f = Of(ctx);
    ++f.depth;
    if (f.Skipping()) return;
    f.build.startElementNs(ctx, localname, prefix, uri, namespaces, namespaceList, attributes, defaulted,
                           attributeList);
    if (f.depth == 2 && !f.seen && NameEquals(localname, f.list)) f.seen = f.inside = true;
  }
  static void EndElement(void* ctx, const xmlChar* localname, const xmlChar* prefix, const xmlChar* uri) {
    ListFilter& f = Of(ctx);
    const bool skipped = f.Skipping();
    if (f.depth == 2) f.inside = false;
    --f.depth;
    if (!skipped) f.build.endElementNs(ctx, localname, prefix, uri);
  }
  static void Characters(void* ctx, const xmlChar* text, int length) {
    ListFilter& f = Of(ctx);
    if (!f.inside) f.build.characters(ctx, text, length);
  }
  static void Cdata(void* ctx, const xmlChar* text, int length) {
    ListFilter& f = Of(ctx);
    if (!f.inside) f.build.cdataBlock(ctx, text, length);
  }
  static void Comment(void* ctx, const xmlChar* text) {
    ListFilter& f = Of(ctx);
    if (!f.inside) f.build.comment(ctx, text);
  }
  static void Instruction(void* ctx, const xmlChar* target, const xmlChar* data) {
    ListFilter& f = Of(ctx);
    if (!f.inside) f.build.processingInstruction(ctx, target, data);
  }
  static void Reference(void* ctx, const xmlChar* name) {
    ListFilter& f = Of(ctx);
    if (!f.inside) f.build.reference(ctx, name);
  }

  void Install(xmlParserCtxt* ctxt) {
    build = *ctxt->sax;
    ctxt->_private = this;
    ctxt->sax->startElementNs = StartElement;
    ctxt->sax->endElementNs = EndElement;
    ctxt->sax->characters = Characters;
    ctxt->sax->cdataBlock = Cdata;
    ctxt->sax->comment = Comment;
    ctxt->sax->processingInstruction = Instruction;
    ctxt->sax->reference = Reference;
  }
};

// Files written on Chinese Windows declare "GB2312" but hold GBK bytes, which strict GB2312 readers
// reject; the text is decoded here as GB18030 (a superset of both) and handed to the parser as
// UTF-8. Everything else (UTF-8, UTF-16 with a byte-order mark, other declared encodings) is left
// to the parser.
xmlDoc* Parse(std::string& bytes, std::string_view streamedList, std::string& why) {
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
    std::string().swap(bytes);  // the parser reads the text only
    data = utf8;
    encoding = "UTF-8";
    options |= XML_PARSE_IGNORE_ENC;
  }
  std::unique_ptr<xmlParserCtxt, ParserCtxtFree> ctxt(xmlNewParserCtxt());
  if (!ctxt) {
    why = "out of memory";
    return nullptr;
  }
  ListFilter filter{streamedList};
  if (!streamedList.empty()) filter.Install(ctxt.get());
  // Read through a callback rather than from memory, which libxml2 would first copy whole.
  struct Reader {
    std::string_view rest;
    static int Read(void* context, char* buffer, int length) {
      auto& reader = *static_cast<Reader*>(context);
      const size_t n = std::min(reader.rest.size(), static_cast<size_t>(std::max(length, 0)));
      std::memcpy(buffer, reader.rest.data(), n);
      reader.rest.remove_prefix(n);
      return static_cast<int>(n);
    }
  } reader{data};
  xmlDoc* doc = xmlCtxtReadIO(ctxt.get(), &Reader::Read, nullptr, &reader, nullptr, encoding, options);
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

// Lines written where a placeholder comment stands, each indented as the placeholder was.
struct Splice {
  std::string placeholder;  // as serialized: "<!--…-->"
  size_t count;             // of lines, at least one
  const std::function<void(size_t index, std::string& line)>& lineAt;
};

bool Serialize(xmlDoc* doc, const Splice* splice, std::string& bytes, std::string& why) {
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
  const bool faithful = DocumentFitsGb2312(gb2312, doc);
  // A document GB2312 cannot carry faithfully is declared as its superset, as a whole.
  const text::TextConverter encoder(faithful ? kSaveEncoding : "GB18030");
  std::string line;
  if (splice) splice->lineAt(0, line);
  bytes.clear();
  // Room for lines twice the first one's length: reserved pages cost no memory until written, and
  // growing a big buffer would hold it twice for a moment.
  bytes.reserve(utf8.size() + 32 + (splice ? 2 * (line.size() + 16) * splice->count : 0));
  bytes.append(utf8.substr(0, at));
  bytes += faithful ? "encoding=\"GB2312\"" : "encoding=\"GB18030\"";
  // Encoded piece by piece, so that a big list is never held twice more.
  std::string piece;
  bool encoded = true;
  auto encode = [&](std::string_view text) {
    encoded = encoded && encoder.Encode(text, piece, text::OnError::CharRef);
    bytes += piece;
  };
  size_t from = at + kWritten.size();
  if (splice) {
    const size_t place = utf8.find(splice->placeholder, from);
    if (place == std::string_view::npos) {
      why = "cannot place the list in the document";
      return false;
    }
    // Indented on lines of their own as the placeholder was, or run together where libxml2 does
    // not indent (inside mixed content).
    const size_t lineStart = utf8.rfind('\n', place) + 1;
    const std::string_view indent = utf8.substr(lineStart, place - lineStart);
    std::string separator;
    if (indent.find_first_not_of(' ') == std::string_view::npos) separator.append(1, '\n').append(indent);
    encode(utf8.substr(from, place - from));
    for (size_t index = 0; index < splice->count; ++index) {
      if (index > 0) {
        splice->lineAt(index, line);
        bytes += separator;
      }
      encode(line);
    }
    from = place + splice->placeholder.size();
  }
  encode(utf8.substr(from));
  if (!encoded) {
    why = "cannot encode the document";
    return false;
  }
  return true;
}

}  // namespace

void XmlStoreDocument::DocFree::operator()(_xmlDoc* d) const { xmlFreeDoc(d); }

XmlStoreDocument::XmlStoreDocument(std::string path, const std::string& rootName, std::string_view streamedList)
    : fileName(std::move(path)), streamedList(streamedList) {
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
    doc.reset(Parse(bytes, streamedList, why));
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
  if (!IsElementPath(path)) return nullptr;
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
  saveTried = true;
  if (fileName.empty()) return fail("no file name");
  if (!broken.empty()) return fail(broken);
  if (saveBlocked) return fail(fileName + " could not be loaded or moved aside; it is not overwritten");
  if (!doc) return fail("no document");
  std::string bytes;
  std::string why;
  if (!SerializeWithStreamedChildren(bytes, why)) return fail(why);
  if (!text::AtomicWriteFile(fileName, bytes, error)) return false;
  modified = false;
  return true;
}

bool XmlStoreDocument::TakeText(std::string& bytes, std::string* error) {
  saveTried = true;
  std::string why = broken;
  if (why.empty() && saveBlocked) why = fileName + " could not be loaded or moved aside; it is not overwritten";
  if (why.empty() && !doc) why = "no document";
  if (why.empty() && SerializeWithStreamedChildren(bytes, why)) return true;
  if (error) *error = why;
  return false;
}

void XmlStoreDocument::SetStreamedChildren(size_t count, std::function<void(size_t index, std::string& line)> childAt) {
  if (streamedList.empty()) return;
  streamedCount = childAt ? count : 0;
  streamedChildAt = std::move(childAt);
}

// The streamed children are written where a placeholder comment stands as the list's last child;
// the comment's text is random, so nothing the file holds can be taken for it.
bool XmlStoreDocument::SerializeWithStreamedChildren(std::string& bytes, std::string& why) {
  if (streamedCount == 0) return Serialize(doc.get(), nullptr, bytes, why);
  xmlNode* list = FindElement(streamedList, true);
  std::random_device random;
  const std::string token = "orvane-list-" + std::to_string(random()) + "-" + std::to_string(random());
  xmlNode* placeholder = list ? xmlNewDocComment(doc.get(), BAD_CAST token.c_str()) : nullptr;
  if (placeholder == nullptr || xmlAddChild(list, placeholder) == nullptr) {
    if (placeholder) xmlFreeNode(placeholder);
    why = "cannot place the list in the document";
    return false;
  }
  const Splice splice{"<!--" + token + "-->", streamedCount, streamedChildAt};
  const bool ok = Serialize(doc.get(), &splice, bytes, why);
  xmlUnlinkNode(placeholder);
  xmlFreeNode(placeholder);
  return ok;
}

void XmlStoreDocument::SaveOnClose(const char* what) noexcept {
  try {
    if (!modified || fileName.empty() || saveTried) return;
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

bool IsElementPath(std::string_view path) {
  for (size_t start = 0;;) {
    const size_t slash = path.find('/', start);
    if (!IsXmlName(path.substr(start, slash == std::string_view::npos ? slash : slash - start))) return false;
    if (slash == std::string_view::npos) return true;
    start = slash + 1;
  }
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

namespace {

// libxml2 returns the attribute even when it could not allocate its value's text, which would be
// saved as an empty value: check that the text is there.
bool HoldsValue(const xmlAttr* attribute, const std::string& value) {
  if (attribute == nullptr) return false;
  if (value.empty()) return true;
  const xmlNode* text = attribute->children;
  return text != nullptr && text->content != nullptr && text->content[0] != 0;
}

}  // namespace

bool SetAttributeText(_xmlNode* element, std::string_view name, std::string_view value) {
  if (element == nullptr || !IsXmlName(name)) return false;
  const std::string nameText(name);
  const std::string valueText = XmlSafeText(value);
  return HoldsValue(xmlSetProp(element, BAD_CAST nameText.c_str(), BAD_CAST valueText.c_str()), valueText);
}

void AppendEmptyElementText(std::string& out, std::string_view name,
                            std::initializer_list<std::pair<const char*, std::string_view>> attributes) {
  out.append("<").append(name);
  for (const auto& [attribute, value] : attributes) {
    out.append(" ").append(attribute).append("=\"");
    for (const char c : XmlSafeText(value)) {
      switch (c) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '&': out += "&amp;"; break;
        case '"': out += "&quot;"; break;
        case '\n': out += "&#10;"; break;
        case '\r': out += "&#13;"; break;
        case '\t': out += "&#9;"; break;
        default: out += c;
      }
    }
    out += '"';
  }
  out += "/>";
}

bool AppendAttributeText(_xmlNode* element, const char* name, std::string_view value) {
  if (element == nullptr) return false;
  const std::string valueText = XmlSafeText(value);
  return HoldsValue(xmlNewProp(element, BAD_CAST name, BAD_CAST valueText.c_str()), valueText);
}

}  // namespace orvane::store
