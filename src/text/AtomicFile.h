#pragma once
// Every file the program saves goes through here: the bytes are written to a temporary file in the
// same folder, flushed to disk and renamed over the target, so a crash or a full disk in the middle
// of a save leaves the old file whole. A path that is a symbolic link is written through: the file
// it leads to is replaced and the link stays.

#include <string>
#include <string_view>

namespace orvane::text {

// Writes bytes to path atomically. On failure returns false, leaves the target as it was, removes
// the temporary file and, when error is given, puts a short reason into it. Never throws.
bool AtomicWriteFile(const std::string& path, std::string_view bytes, std::string* error = nullptr);

// The file a write to path really replaces: path itself, or, when path is a symbolic link (or a
// chain of them), the file at its end, which need not exist yet. Replacing the link would turn a
// user's link into a private copy. Empty for a loop of links or a link that cannot be read.
std::string WriteTarget(std::string path);

// Reads a whole file into bytes; false when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string& bytes);

}  // namespace orvane::text
