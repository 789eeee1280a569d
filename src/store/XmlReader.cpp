#include "store/XmlReader.h"

#include <cstdint>

#include "store/XmlEncoding.h"
#include "text/AtomicFile.h"
#include "text/Legacy.h"
#include "text/TextUtil.h"

namespace orvane::store {
namespace {

constexpr size_t npos = std::string_view::npos;

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 0x20; }

// A tag name starts with a letter, "_", ":" or any non-ASCII byte; "<" followed by anything else
// ("a < b", "<3") is plain text.
bool IsNameStart(char c) {
  const auto b = static_cast<unsigned char>(c);
  return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || b == '_' || b == ':' || b >= 0x80;
}

bool EndsName(char c) { return IsBlank(c) || c == '/' || c == '>' || c == '<' || c == '=' || c == '"' || c == '\''; }

bool IsWideEncoding(std::string_view name) {
  return text::StartsWithNoCase(name, "UTF-16") || text::StartsWithNoCase(name, "UTF-32") ||
         text::StartsWithNoCase(name, "UCS-") || text::StartsWithNoCase(name, "UTF16") ||
         text::StartsWithNoCase(name, "UTF32");
}

std::string ToUtf8(std::string_view bytes) {
  const bool bom = bytes.substr(0, 3) == "\xEF\xBB\xBF" || bytes.substr(0, 2) == "\xFF\xFE" ||
                   bytes.substr(0, 2) == "\xFE\xFF";
  const std::string_view declared = bom ? std::string_view() : DeclaredEncoding(bytes);
  // A declaration readable as ASCII cannot really be in a two- or four-byte encoding.
  if (declared.empty() || IsWideEncoding(declared)) return text::FromLegacy(bytes);
  if (IsUtf8Encoding(declared)) return text::IsValidUtf8(bytes) ? std::string(bytes) : text::FromLegacy(bytes);
  std::string utf8;
  if (DecodeLenient(bytes, declared, utf8)) return utf8;
  return text::FromLegacy(bytes);
}

// "#20013" or "#x4E2D" (the text between "&" and ";"). False when it is not a reference to a
// character that can be written as UTF-8.
bool DecodeCharRef(std::string_view ref, uint32_t& cp) {
  if (ref.size() < 2 || ref[0] != '#') return false;
  const bool hex = ref[1] == 'x' || ref[1] == 'X';
  const std::string_view digits = ref.substr(hex ? 2 : 1);
  if (digits.empty()) return false;
  uint32_t value = 0;
  for (char c : digits) {
    uint32_t d;
    if (c >= '0' && c <= '9') {
      d = static_cast<uint32_t>(c - '0');
    } else if (hex && c >= 'a' && c <= 'f') {
      d = static_cast<uint32_t>(c - 'a' + 10);
    } else if (hex && c >= 'A' && c <= 'F') {
      d = static_cast<uint32_t>(c - 'A' + 10);
    } else {
      return false;
    }
    value = value * (hex ? 16 : 10) + d;
    if (value > 0x10FFFF) return false;
  }
  if (value == 0 || (value >= 0xD800 && value <= 0xDFFF)) return false;
  cp = value;
  return true;
}

const char* PredefinedEntity(std::string_view entity) {
  if (entity == "lt") return "<";
  if (entity == "gt") return ">";
  if (entity == "amp") return "&";
  if (entity == "quot") return "\"";
  if (entity == "apos") return "'";
  return nullptr;
}

}  // namespace

std::string DecodeXmlReferences(std::string_view raw) {
  size_t amp = raw.find('&');
  if (amp == npos) return std::string(raw);
  std::string out(raw.substr(0, amp));
  out.reserve(raw.size());
  size_t i = amp;
  while (i < raw.size()) {
    if (raw[i] != '&') {
      out += raw[i++];
      continue;
    }
    // No reference is longer than "&#x10FFFF;" or "&quot;"; looking further would be pointless.
    const size_t semi = raw.substr(i + 1, 12).find(';');
    if (semi != npos) {
      const std::string_view entity = raw.substr(i + 1, semi);
      uint32_t cp = 0;
      if (const char* replacement = PredefinedEntity(entity)) {
        out += replacement;
        i += semi + 2;
        continue;
      }
      if (DecodeCharRef(entity, cp)) {
        text::AppendUtf8(out, cp);
        i += semi + 2;
        continue;
      }
    }
    out += '&';
    ++i;
  }
  return out;
}

TXmlReader::TXmlReader(std::string_view bytes) : text(ToUtf8(bytes)) {}

TXmlReader TXmlReader::FromFile(const std::string& path) {
  std::string bytes;
  if (!text::ReadWholeFile(path, bytes)) bytes.clear();
  return TXmlReader(bytes);
}

bool TXmlReader::Next() {
  const std::string_view t = text;
  while (pos < t.size()) {
    const size_t lt = t.find('<', pos);
    if (lt == npos) break;
    const std::string_view rest = t.substr(lt);
    if (rest.substr(0, 4) == "<!--") {
      SkipPast(lt + 4, "-->");
    } else if (rest.substr(0, 9) == "<![CDATA[") {
      SkipPast(lt + 9, "]]>");
    } else if (rest.substr(0, 2) == "<!") {
      SkipDeclaration(lt);
    } else if (rest.substr(0, 2) == "<?") {
      SkipPast(lt + 2, "?>");
    } else if (rest.substr(0, 2) == "</") {
      if (ReadEndTag(lt)) return true;
    } else if (rest.size() > 1 && IsNameStart(rest[1])) {
      if (ReadStartTag(lt)) return true;
    } else {
      pos = lt + 1;  // a "<" in text
    }
  }
  pos = t.size();
  return false;
}

void TXmlReader::SkipPast(size_t from, std::string_view terminator) {
  const size_t end = std::string_view(text).find(terminator, from);
  pos = end == npos ? text.size() : end + terminator.size();
}

// "<!DOCTYPE …>" may hold an internal subset in brackets, with quoted texts and comments that
// contain ">".
void TXmlReader::SkipDeclaration(size_t lt) {
  const std::string_view t = text;
  int depth = 0;
  for (size_t i = lt + 2; i < t.size(); ++i) {
    const char c = t[i];
    if (c == '"' || c == '\'') {
      const size_t close = t.find(c, i + 1);
      if (close == npos) break;
      i = close;
    } else if (c == '<' && t.substr(i, 4) == "<!--") {
      const size_t close = t.find("-->", i + 4);
      if (close == npos) break;
      i = close + 2;
    } else if (c == '[') {
      ++depth;
    } else if (c == ']') {
      if (depth > 0) --depth;
    } else if (c == '>' && depth == 0) {
      pos = i + 1;
      return;
    }
  }
  pos = t.size();
}

bool TXmlReader::ReadEndTag(size_t lt) {
  const std::string_view t = text;
  size_t i = lt + 2;
  const size_t nameStart = i;
  while (i < t.size() && !EndsName(t[i])) ++i;
  if (i == nameStart) {  // "</" without a name: text
    pos = lt + 2;
    return false;
  }
  const size_t close = t.find_first_of("<>", i);
  if (close == npos) {  // cut off
    pos = t.size();
    return false;
  }
  // "</a <b>": the unclosed end tag stops where the next tag begins.
  pos = t[close] == '>' ? close + 1 : close;
  kind = TXmlTagKind::End;
  name = {nameStart, i - nameStart};
  attributes.clear();
  return true;
}

bool TXmlReader::ReadStartTag(size_t lt) {
  const std::string_view t = text;
  const size_t n = t.size();
  size_t i = lt + 1;
  const size_t nameStart = i;
  while (i < n && !EndsName(t[i])) ++i;
  name = {nameStart, i - nameStart};
  attributes.clear();
  for (;;) {
    while (i < n && IsBlank(t[i])) ++i;
    if (i >= n) break;
    const char c = t[i];
    if (c == '>') {
      kind = TXmlTagKind::Start;
      pos = i + 1;
      return true;
    }
    if (c == '/') {
      if (i + 1 >= n) break;
      if (t[i + 1] == '>') {
        kind = TXmlTagKind::Empty;
        pos = i + 2;
        return true;
      }
      ++i;  // a stray "/"
      continue;
    }
    if (c == '<') {
      // The tag was never closed; it ends where the next one begins.
      kind = TXmlTagKind::Start;
      pos = i;
      return true;
    }
    if (c == '"' || c == '\'') {  // a quoted text without a name
      const size_t close = t.find(c, i + 1);
      if (close == npos) break;
      i = close + 1;
      continue;
    }
    const size_t attrStart = i;
    while (i < n && !EndsName(t[i])) ++i;
    Attr attr;
    attr.name = {attrStart, i - attrStart};
    if (attr.name.length == 0) {  // "=" without a name
      ++i;
      continue;
    }
    while (i < n && IsBlank(t[i])) ++i;
    if (i < n && t[i] == '=') {
      ++i;
      while (i < n && IsBlank(t[i])) ++i;
      if (i >= n) break;
      if (t[i] == '"' || t[i] == '\'') {
        const size_t close = t.find(t[i], i + 1);
        if (close == npos) break;
        attr.value = {i + 1, close - i - 1};
        i = close + 1;
      } else {
        const size_t valueStart = i;
        while (i < n && !IsBlank(t[i]) && t[i] != '>' && t[i] != '<') ++i;
        // x=1/> is an empty-element tag whose x is "1".
        if (i < n && t[i] == '>' && i > valueStart && t[i - 1] == '/') --i;
        attr.value = {valueStart, i - valueStart};
      }
    }
    attributes.push_back(attr);
  }
  // Cut off before its ">": not reported, and nothing after it can follow.
  pos = n;
  return false;
}

const TXmlReader::Attr* TXmlReader::FindAttribute(std::string_view attributeName) const {
  for (const Attr& a : attributes) {
    if (View(a.name) == attributeName) return &a;
  }
  return nullptr;
}

std::string TXmlReader::Attribute(std::string_view attributeName) const {
  const Attr* a = FindAttribute(attributeName);
  return a ? DecodeXmlReferences(View(a->value)) : std::string();
}

std::string TXmlReader::ContentText() const {
  if (kind != TXmlTagKind::Start) return {};
  const std::string_view t = text;
  const size_t end = t.find('<', pos);
  return DecodeXmlReferences(t.substr(pos, end == npos ? npos : end - pos));
}

bool TXmlReader::HasAttribute(std::string_view attributeName) const { return FindAttribute(attributeName) != nullptr; }

}  // namespace orvane::store
