#pragma once
// Reading and replacing small files of the user's desktop configuration. A file is replaced only
// when its content changes, always atomically, and through a symbolic link rather than over it
// (people keep mimeapps.list and similar files in version-controlled folders and link them).
// Never throw.

#include <string>

namespace orvane::desktop {

enum class ReadResult { Read, Missing, Failed };

// Reads path into content. Missing: there is no file (content empty); Failed: there is one that
// cannot be read, so it must not be replaced either.
ReadResult ReadUserFile(const std::string& path, std::string& content);

// Makes path hold content, creating its folder when needed. changed tells whether the file was
// written. False when the folder or the file could not be written.
bool UpdateUserFile(const std::string& path, const std::string& content, bool& changed);

}  // namespace orvane::desktop
