#pragma once
// Format plug-ins ("b_*.so"): shared libraries that announce formats through
// BASS_PLUGIN_ENTRY_NAME (see bass.h). Loading resolves a bare name against the program's
// module folder first, then dlopen's own search.
//
// Threads: a Plugin is immutable once loaded; the library's registry makes handles thread-safe.

#include <memory>
#include <string>

#include "bass.h"

namespace orvane::bass {

class Plugin {
 public:
  // Null + BASS error code (FILEOPEN, FILEFORM, VERSION).
  static std::unique_ptr<Plugin> Load(const std::string& file, int& error);
  ~Plugin();
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  const BASS_PLUGININFO* Info() const { return info; }
  // The file that was loaded (as resolved), to refuse loading one twice.
  const std::string& Path() const { return path; }

 private:
  Plugin() = default;
  void* library = nullptr;
  const BASS_PLUGININFO* info = nullptr;
  std::string path;
};

// The folder of the program's modules (beside the executable in the build tree, lib/orvane/ when
// installed), with a trailing '/'; empty when unknown.
std::string ModuleFolder();

}  // namespace orvane::bass
