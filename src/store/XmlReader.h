#pragma once
// TXmlReader: a lenient, forward-only reader for the XML-like files the player only reads (the
// sound-effect presets, the remote configuration, the random-listening list). Those files are not
// always well-formed: several top-level elements, no declaration, GBK bytes, stray "&". The reader
// steps through the start, empty-element and end tags in document order and passes over
// everything else (text, comments, CDATA, declarations, DOCTYPE, processing instructions).
//
// - The whole input is converted to UTF-8 first: in the encoding an XML declaration names
//   (GB2312 and GBK are read as GB18030), otherwise as legacy text (text::FromLegacy).
// - Names are given exactly as written; attributes are looked up by exact, case-sensitive name.
//   Values may be quoted with " or ', or not quoted at all. In values the five predefined entities
//   and character references are replaced; any other "&name;" stays as written.
// - Truncated input: a tag that is cut off before its closing ">" is not reported, and reading
//   ends there. Nothing is ever read past the end of the text, and nothing throws.
//
// One reader belongs to one thread at a time; different readers are independent.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::store {

enum class TXmlTagKind { Start, Empty, End };

class TXmlReader {
 public:
  // Reads text (raw bytes as they came from a file or the network).
  explicit TXmlReader(std::string_view bytes);
  // Reads a whole file; a missing or unreadable file gives an empty document.
  static TXmlReader FromFile(const std::string& path);

  // Moves to the next tag; false at the end of the document (and on every later call).
  bool Next();

  // The current tag; meaningful only after Next() returned true.
  TXmlTagKind Kind() const { return kind; }
  std::string_view Name() const { return View(name); }
  // The value of the first attribute named exactly name, references replaced; empty when absent.
  // End tags have no attributes.
  std::string Attribute(std::string_view attributeName) const;
  bool HasAttribute(std::string_view attributeName) const;
  // After a start tag: the text that follows it up to the next tag (an element's text when it holds
  // no child elements), references replaced. Empty after an empty-element or end tag.
  std::string ContentText() const;

  // The whole document as UTF-8.
  const std::string& Text() const { return text; }

 private:
  // Offsets into text rather than views, so a moved or copied reader stays valid.
  struct Span {
    size_t offset = 0;
    size_t length = 0;
  };
  struct Attr {
    Span name;
    Span value;
  };

  std::string_view View(Span s) const { return std::string_view(text).substr(s.offset, s.length); }
  const Attr* FindAttribute(std::string_view attributeName) const;
  bool ReadStartTag(size_t lt);
  bool ReadEndTag(size_t lt);
  void SkipPast(size_t from, std::string_view terminator);
  void SkipDeclaration(size_t lt);

  std::string text;
  size_t pos = 0;
  TXmlTagKind kind = TXmlTagKind::Start;
  Span name;
  std::vector<Attr> attributes;  // reused from tag to tag
};

// Replaces the five predefined entities and character references in an attribute value; any other
// "&…;" and a lone "&" stay as written.
std::string DecodeXmlReferences(std::string_view raw);

}  // namespace orvane::store
