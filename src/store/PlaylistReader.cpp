#include "store/PlaylistReader.h"

#include <fcntl.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "store/StoredLocation.h"
#include "store/XmlEncoding.h"
#include "text/TextConverter.h"
#include "text/TextUtil.h"

namespace orvane::store {
namespace {

constexpr size_t kChunk = 64 * 1024;

struct FdClose {
  int fd;
  ~FdClose() {
    if (fd >= 0) ::close(fd);
  }
};

// The file's bytes as the parser reads them. Files written on Chinese Windows declare GB2312 and
// hold GBK: they are decoded here as GB18030, piece by piece, and handed over as UTF-8. Strict, as
// the stores are: a byte that starts no character fails the read.
struct Source {
  int fd = -1;
  bool decode = false;
  std::string head;     // bytes read to find the declaration, served first
  size_t headAt = 0;
  std::string carry;    // the start of a character cut by the end of the last piece
  std::string decoded;  // UTF-8 not yet handed over
  size_t decodedAt = 0;
  bool done = false;    // every byte of the file is decoded
  bool failed = false;

  // Raw bytes: the head first, then the file.
  ssize_t ReadRaw(char* buffer, size_t length) {
    if (headAt < head.size()) {
      const size_t n = std::min(length, head.size() - headAt);
      std::memcpy(buffer, head.data() + headAt, n);
      headAt += n;
      return static_cast<ssize_t>(n);
    }
    for (;;) {
      const ssize_t n = ::read(fd, buffer, length);
      if (n >= 0 || errno != EINTR) return n;
    }
  }

  bool DecodeNext() {
    std::string raw = std::move(carry);
    carry.clear();
    const size_t kept = raw.size();
    raw.resize(kept + kChunk);
    const ssize_t n = ReadRaw(raw.data() + kept, kChunk);
    if (n < 0) return false;
    raw.resize(kept + static_cast<size_t>(n));
    decodedAt = 0;
    decoded.clear();
    if (n == 0) {
      done = true;
      return raw.empty();  // a character cut off by the end of the file is damage
    }
    text::GbDecodeStats stats;
    text::DecodeGb18030(raw, decoded, text::OnError::Replace, &stats);
    if (stats.broken > 0) return false;
    if (stats.cutAtEnd) carry = raw.substr(raw.size() - stats.cutBytes);
    return true;
  }

  int Read(char* buffer, int length) {
    if (failed) return -1;
    if (length <= 0) return 0;
    if (!decode) {
      const ssize_t n = ReadRaw(buffer, static_cast<size_t>(length));
      failed = n < 0;
      return failed ? -1 : static_cast<int>(n);
    }
    while (decodedAt == decoded.size()) {
      if (done) return 0;
      if (!DecodeNext()) {
        failed = true;
        return -1;
      }
    }
    const size_t n = std::min(static_cast<size_t>(length), decoded.size() - decodedAt);
    std::memcpy(buffer, decoded.data() + decodedAt, n);
    decodedAt += n;
    return static_cast<int>(n);
  }

  static int ReadCallback(void* context, char* buffer, int length) {
    return static_cast<Source*>(context)->Read(buffer, length);
  }
};

// The parser's callbacks: only the songs' elements are looked at; nothing is built.
struct Collector {
  Collector(const std::vector<std::string>& names, const TSongSink& sink)
      : names(names), sink(sink), seen(names.size(), false) {}

  const std::vector<std::string>& names;
  const TSongSink& sink;
  std::vector<bool> seen;
  xmlParserCtxt* parser = nullptr;  // the document's own parser, not one of an entity's content
  int depth = 0;      // of the element being parsed; the root is 1
  int current = -1;   // the list whose songs are being read, or -1
  bool sawRoot = false;
  TPList song;

  static Collector& Of(void* ctx) { return *static_cast<Collector*>(static_cast<xmlParserCtxt*>(ctx)->_private); }

  static void StartElement(void* ctx, const xmlChar* localname, const xmlChar*, const xmlChar*, int, const xmlChar**,
                           int attributeCount, int, const xmlChar** attributes) {
    Collector& c = Of(ctx);
    // Elements inside an entity's replacement text are no children of the list in the store's
    // document either (they hang below an entity reference).
    if (ctx != c.parser) return;
    ++c.depth;
    if (c.depth == 1) {
      c.sawRoot = true;
    } else if (c.depth == 2) {
      c.current = -1;
      const auto* name = reinterpret_cast<const char*>(localname);
      for (size_t i = 0; i < c.names.size(); ++i) {
        if (c.seen[i] || c.names[i] != name) continue;
        c.seen[i] = true;
        c.current = static_cast<int>(i);
        break;
      }
    } else if (c.depth == 3 && c.current >= 0) {
      c.Song(attributeCount, attributes);
    }
  }

  static void EndElement(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) {
    Collector& c = Of(ctx);
    if (ctx != c.parser) return;
    if (c.depth == 2) c.current = -1;
    --c.depth;
  }

  // Each attribute is five pointers: local name, prefix, URI, value, end of value. Only attributes
  // without a prefix count, as in the store.
  void Song(int attributeCount, const xmlChar** attributes) {
    song = TPList();
    bool title = false, artist = false, url = false, path = false, ltime = false;
    std::string ltimeText;
    for (int i = 0; i < attributeCount; ++i) {
      const xmlChar** a = attributes + 5 * i;
      if (a[1] != nullptr) continue;
      const auto* name = reinterpret_cast<const char*>(a[0]);
      const std::string_view value(reinterpret_cast<const char*>(a[3]), static_cast<size_t>(a[4] - a[3]));
      auto take = [&](const char* wanted, bool& done, std::string& into) {
        if (done || std::strcmp(name, wanted) != 0) return false;
        done = true;
        into = Decoded(value);
        return true;
      };
      if (take("Title", title, song.Title) || take("Artist", artist, song.Artist) || take("Url", url, song.Url) ||
          take("Path", path, song.Path) || take("Ltime", ltime, ltimeText))
        continue;
    }
    song.Path = LoadedLocation(song.Path);
    song.Ltime = text::ParseDouble(ltimeText).value_or(0.0);
    sink(static_cast<size_t>(current), song);
  }

  // Attribute values come with their references left in ("&#38;" for "&", "&name;" for an entity),
  // for the tree builder to resolve; resolved here as it does.
  std::string Decoded(std::string_view value) const {
    if (value.find('&') == std::string_view::npos) return std::string(value);
    xmlChar* resolved = xmlStringLenDecodeEntities(parser, reinterpret_cast<const xmlChar*>(value.data()),
                                                   static_cast<int>(value.size()), XML_SUBSTITUTE_REF, 0, 0, 0);
    if (resolved == nullptr) return std::string(value);
    std::string text(reinterpret_cast<const char*>(resolved));
    xmlFree(resolved);
    return text;
  }

  static void Ignore(void*, const xmlChar*, int) {}
  static void IgnoreComment(void*, const xmlChar*) {}
  static void IgnoreInstruction(void*, const xmlChar*, const xmlChar*) {}
};

struct CtxtFree {
  void operator()(xmlParserCtxt* ctxt) const {
    if (ctxt->myDoc) xmlFreeDoc(ctxt->myDoc);
    ctxt->myDoc = nullptr;
    xmlFreeParserCtxt(ctxt);
  }
};

}  // namespace

bool ReadPlaylistLists(const std::string& fileName, const std::vector<std::string>& listNames, const TSongSink& sink) {
  if (fileName.empty()) return true;
  const FdClose file{::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
  if (file.fd < 0) return errno == ENOENT || errno == ENOTDIR;
  struct stat st {};
  if (::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;

  Source source;
  source.fd = file.fd;
  std::string head(std::min<size_t>(kChunk, static_cast<size_t>(st.st_size) + 1), '\0');
  const ssize_t headBytes = source.ReadRaw(head.data(), head.size());
  if (headBytes < 0) return false;
  head.resize(static_cast<size_t>(headBytes));
  source.head = std::move(head);

  // The same reading of the declaration as the stores': a GB family name without a byte-order
  // mark means GBK bytes, handed to the parser as UTF-8.
  const std::string_view start = source.head;
  const bool bom = start.rfind("\xEF\xBB\xBF", 0) == 0 || start.rfind("\xFF\xFE", 0) == 0 || start.rfind("\xFE\xFF", 0) == 0;
  int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
  if (!bom && IsGbEncoding(DeclaredEncoding(start))) {
    source.decode = true;
    options |= XML_PARSE_IGNORE_ENC;
  }

  // The default handlers keep what the document declares (its entities); the element, text and
  // comment handlers are replaced so that nothing is built.
  xmlSAXHandler sax;
  xmlSAXVersion(&sax, 2);
  sax.startElementNs = Collector::StartElement;
  sax.endElementNs = Collector::EndElement;
  sax.characters = Collector::Ignore;
  sax.ignorableWhitespace = Collector::Ignore;
  sax.cdataBlock = Collector::Ignore;
  sax.comment = Collector::IgnoreComment;
  sax.processingInstruction = Collector::IgnoreInstruction;
  sax.reference = nullptr;
  Collector collector(listNames, sink);
  std::unique_ptr<xmlParserCtxt, CtxtFree> ctxt(
      xmlCreateIOParserCtxt(&sax, nullptr, &Source::ReadCallback, nullptr, &source, XML_CHAR_ENCODING_NONE));
  if (!ctxt) return false;
  ctxt->_private = &collector;
  collector.parser = ctxt.get();
  xmlCtxtUseOptions(ctxt.get(), options);
  xmlParseDocument(ctxt.get());
  return ctxt->wellFormed && !source.failed && collector.sawRoot;
}

bool ReadPlaylistLists(const std::string& fileName, const std::vector<std::string>& listNames,
                       std::vector<std::vector<TPList>>& lists) {
  lists.assign(listNames.size(), {});
  const bool ok = ReadPlaylistLists(fileName, listNames, [&lists](size_t list, TPList& song) {
    lists[list].push_back(std::move(song));
  });
  if (!ok) lists.assign(listNames.size(), {});
  return ok;
}

}  // namespace orvane::store
