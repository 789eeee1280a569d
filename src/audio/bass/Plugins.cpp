#include "Plugins.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include "text/ProgramFolders.h"

namespace orvane::bass {
namespace {

void* OpenLibrary(const std::string& file, std::string& resolved) {
  if (file.find('/') != std::string::npos) {
    resolved = file;
    return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  // A bare name, as the engine passes it: the program's module folder first, as a Windows
  // program would find a DLL beside it; then the system's library search.
  const std::string folder = ModuleFolder();
  const std::string inModules = folder + file;
  if (!folder.empty() && std::filesystem::exists(inModules)) {
    resolved = inModules;
    return dlopen(inModules.c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  resolved = file;
  return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
}

std::string CanonicalOr(const std::string& path) {
  char buffer[PATH_MAX];
  return realpath(path.c_str(), buffer) != nullptr ? std::string(buffer) : path;
}

}  // namespace

std::string ModuleFolder() { return text::OwnProgramFolders().Modules; }

std::unique_ptr<Plugin> Plugin::Load(const std::string& file, int& error) {
  std::string resolved;
  void* library = OpenLibrary(file, resolved);
  if (library == nullptr) {
    error = BASS_ERROR_FILEOPEN;
    return nullptr;
  }
  auto* entry = reinterpret_cast<BASSPLUGININFOPROC*>(dlsym(library, BASS_PLUGIN_ENTRY_NAME));
  const BASS_PLUGININFO* info = entry != nullptr ? entry() : nullptr;
  if (info == nullptr) {
    dlclose(library);
    error = BASS_ERROR_FILEFORM;
    return nullptr;
  }
  if (HIWORD(info->version) != BASSVERSION || (info->formatc > 0 && info->formats == nullptr)) {
    dlclose(library);
    error = BASS_ERROR_VERSION;
    return nullptr;
  }
  std::unique_ptr<Plugin> plugin(new Plugin());
  plugin->library = library;
  plugin->info = info;
  plugin->path = CanonicalOr(resolved);
  return plugin;
}

Plugin::~Plugin() {
  if (library != nullptr) dlclose(library);
}

}  // namespace orvane::bass
