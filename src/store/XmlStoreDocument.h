#pragma once
// What the configuration store and the playlist store share: one XML document tied to one file.
// It loads the file (or starts an empty document), finds and creates elements by "/"-separated
// paths, and saves the whole document atomically. Main thread only, like the stores.
//
// A file that cannot be loaded is never overwritten: it is renamed to "<name>.bad-<yyyymmdd-hhmmss>"
// and the document starts empty, so the user's only copy survives the next save.

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

struct _xmlDoc;
struct _xmlNode;

namespace orvane::store {

class XmlStoreDocument {
 public:
  // Loads fileName when it exists; otherwise, or when it cannot be loaded, starts an empty document
  // whose root element is rootName. The declaration's encoding is "GB2312" in every case.
  // With streamedList, the children of the root's first element of that name are not loaded: they
  // are to be replaced by SetStreamedChildren, without ever being elements in memory.
  XmlStoreDocument(std::string fileName, const std::string& rootName, std::string_view streamedList = {});
  ~XmlStoreDocument();  // releases the document; never saves (the stores decide that)
  XmlStoreDocument(const XmlStoreDocument&) = delete;
  XmlStoreDocument& operator=(const XmlStoreDocument&) = delete;

  _xmlNode* Root() const;

  // The element at the end of path, walking from the root and taking the first child element of
  // each name. With create, a missing element is appended as the last child of its parent.
  // nullptr when the path has no element (and create is false), or a segment is not an XML name.
  _xmlNode* FindElement(std::string_view path, bool create);

  // Appends a new element named name as the last child of parent; nullptr when name is not an
  // XML name.
  _xmlNode* AppendElement(_xmlNode* parent, std::string_view name);

  // The count children of the root's first element named streamedList (created when missing),
  // written in its place at Save without ever being elements in memory: childAt(i, line) puts the
  // i-th child, serialized without indentation, into line. It is asked again at every Save.
  // Nothing when the document was not opened with a streamedList; the caller marks the document
  // modified.
  void SetStreamedChildren(size_t count, std::function<void(size_t index, std::string& line)> childAt);

  // Serializes the document (declaration encoding="GB2312", indented) and writes it to FileName()
  // atomically. Clears Modified() only on success; on failure puts a reason into error.
  bool Save(std::string* error);

  // The text Save would write, for a caller that keeps it to write later itself: the document is
  // not saved when its store is freed (unless changed again). False, with a reason, when the
  // document cannot be serialized or must not be saved.
  bool TakeText(std::string& bytes, std::string* error);

  // For the stores' destructors: saves when Modified() and FileName() is not empty, unless Save was
  // already tried since the last change (its caller has the result and reported it: a failed save
  // is not run a second time). A failure is written as one line to stderr. Never throws.
  void SaveOnClose(const char* what) noexcept;

  const std::string& FileName() const { return fileName; }
  bool Modified() const { return modified; }
  void SetModified() {
    modified = true;
    saveTried = false;
  }
  // A change could not be made in memory (libxml2 ran out of memory): the document no longer holds
  // what its user wrote, so it is never saved over the file. The first reason is kept.
  void SetBroken(const std::string& why) {
    if (broken.empty()) broken = why;
  }

  // Set when the document was read from the file (it existed and could be loaded).
  bool LoadedFromFile() const { return loadedFromFile; }
  // Set when the file existed but could not be loaded and was renamed to MovedAsidePath().
  bool MovedAside() const { return !movedAsidePath.empty(); }
  const std::string& MovedAsidePath() const { return movedAsidePath; }
  // Why an existing file could not be loaded; empty when it loaded or did not exist.
  const std::string& LoadError() const { return loadError; }

 private:
  struct DocFree {
    void operator()(_xmlDoc* doc) const;
  };

  void Load(const std::string& rootName);
  void StartEmpty(const std::string& rootName);
  void SetDeclaredEncoding();
  bool SerializeWithStreamedChildren(std::string& bytes, std::string& why);

  std::unique_ptr<_xmlDoc, DocFree> doc;
  std::string fileName;
  std::string streamedList;
  size_t streamedCount = 0;
  std::function<void(size_t index, std::string& line)> streamedChildAt;
  bool modified = false;
  bool saveTried = false;
  std::string broken;
  bool loadedFromFile = false;
  std::string movedAsidePath;
  std::string loadError;
  // The file could not be loaded and could not be moved aside either: never write over it.
  bool saveBlocked = false;
};

// Value text as the document may hold it: valid UTF-8 (other bytes are read as legacy text) without
// the control characters XML 1.0 cannot carry even as references, which would make the saved file
// unreadable. Tab, line feed and carriage return stay.
std::string XmlSafeText(std::string_view text);

// True when name can be an element or attribute name.
bool IsXmlName(std::string_view name);

// True when every "/"-separated segment of path is an XML name.
bool IsElementPath(std::string_view path);

// The first child element of parent named name, or nullptr.
_xmlNode* FirstChildElement(const _xmlNode* parent, std::string_view name);

// The text of an element's attribute; present tells whether the attribute exists.
std::string AttributeText(const _xmlNode* element, std::string_view name, bool* present = nullptr);

// Sets (creates or replaces) an attribute; the value is passed through XmlSafeText. False when
// libxml2 could not.
bool SetAttributeText(_xmlNode* element, std::string_view name, std::string_view value);

// Appends an empty element with these attributes to out, exactly as libxml2 writes it; the values
// pass through XmlSafeText.
void AppendEmptyElementText(std::string& out, std::string_view name,
                            std::initializer_list<std::pair<const char*, std::string_view>> attributes);

// Appends an attribute to an element known not to have it yet, under a name known to be valid
// (a constant of the program); faster than SetAttributeText for bulk writes. False when libxml2
// could not.
bool AppendAttributeText(_xmlNode* element, const char* name, std::string_view value);

}  // namespace orvane::store
