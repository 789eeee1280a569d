#include "Plugins.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

namespace orvane::bass {
namespace {

void* OpenLibrary(const std::string& file, std::string& resolved) {
  if (file.find('/') != std::string::npos) {
    resolved = file;
    return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  // A bare name, as the engine passes it: the executable's folder first, as a Windows program
  // would find a DLL beside it; then the system's library search.
  const std::string besideExecutable = ExecutableFolder() + file;
  if (!besideExecutable.empty() && std::filesystem::exists(besideExecutable)) {
    resolved = besideExecutable;
    return dlopen(besideExecutable.c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  resolved = file;
  return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
}

std::string CanonicalOr(const std::string& path) {
  char buffer[PATH_MAX];
  return realpath(path.c_str(), buffer) != nullptr ? std::string(buffer) : path;
}

}  // namespace

std::string ExecutableFolder() {
  std::error_code error;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return {};
  std::string folder = exe.parent_path().string();
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

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
