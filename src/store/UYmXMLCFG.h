#pragma once
// TYkConfig: the XML configuration file ("Orvane.xml" in the data folder), read and written by
// key paths such as "Window/PLAY" and an attribute name. A store is short-lived: open it, read or
// write, let it go; it writes the file when it goes, if anything was written.
//
// Main thread only (each store is used within one handler). Texts are UTF-8.

#include <cstdint>
#include <string>

#include "store/XmlStoreDocument.h"

namespace orvane::store {

class TYkConfig {
 public:
  // Loads fileName when it exists, whatever its root element is called; otherwise starts an empty
  // document whose root is rootName. A file that cannot be loaded is moved aside (see MovedAside)
  // and the store starts empty; the constructor never fails.
  TYkConfig(const std::string& fileName, const std::string& rootName);
  // Saves when Modified(); a failure is reported on stderr and otherwise dropped. Never throws.
  ~TYkConfig();
  TYkConfig(const TYkConfig&) = delete;
  TYkConfig& operator=(const TYkConfig&) = delete;

  // path: element names joined by "/", first match at each level. attr: attribute name; empty
  // means the element's own text. Default when the element or attribute is missing, or the
  // attribute's text is empty. An element's text is returned as it is, even when empty.
  std::string ReadString(const std::string& path, const std::string& attr, const std::string& defaultValue);
  // Creates the missing elements of path (appended last) and sets the attribute, or the element's
  // text when attr is empty. Only in memory until saved.
  void WriteString(const std::string& path, const std::string& attr, const std::string& value);

  // A decimal signed 32-bit integer; anything else reads as defaultValue.
  int32_t ReadInteger(const std::string& path, const std::string& attr, int32_t defaultValue);
  void WriteInteger(const std::string& path, const std::string& attr, int32_t value);

  // Stored as 1 or 0. True when the low eight bits of the stored integer are not all zero, so 256
  // reads as false; a value that is not an integer reads as defaultValue.
  bool ReadBool(const std::string& path, const std::string& attr, bool defaultValue);
  void WriteBool(const std::string& path, const std::string& attr, bool value);

  // Writes the whole document to FileName() now (atomically). False, with a reason in error, when
  // it could not; Modified() stays set then.
  bool Save(std::string* error = nullptr);
  // The text Save would write, kept by a caller that writes it later; the store then does not
  // save when freed. False, with a reason in error, when there is nothing that may be written.
  bool TakeText(std::string& bytes, std::string* error = nullptr);

  const std::string& FileName() const { return document.FileName(); }
  bool Modified() const { return document.Modified(); }
  // Set when the file could not be loaded and was renamed to MovedAsidePath(); the UI tells the user.
  bool MovedAside() const { return document.MovedAside(); }
  const std::string& MovedAsidePath() const { return document.MovedAsidePath(); }
  const std::string& LoadError() const { return document.LoadError(); }

 private:
  XmlStoreDocument document;
};

}  // namespace orvane::store
