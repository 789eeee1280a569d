#pragma once
// Helpers of the desktop tests: a fresh HOME and XDG folders per test, environment variables set for
// one test only, and waiting for a file that a started program writes.

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

namespace orvane::test {

// Sets a variable (or removes it, for nullopt) and puts the old value back when it goes.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::optional<std::string>& value) : name(name) {
    if (const char* old = std::getenv(name)) previous = old;
    if (value) {
      ::setenv(name, value->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (previous) {
      ::setenv(name.c_str(), previous->c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name;
  std::optional<std::string> previous;
};

// A test's own HOME, XDG_CONFIG_HOME, XDG_DATA_HOME and XDG_CACHE_HOME below one temporary root.
class DesktopHome {
 public:
  DesktopHome()
      : root("orvane-desktop"),
        home("HOME", Make("home")),
        config("XDG_CONFIG_HOME", Make("config")),
        data("XDG_DATA_HOME", Make("data")),
        cache("XDG_CACHE_HOME", Make("cache")) {}

  std::filesystem::path Root() const { return root.Path(); }
  std::string Home() const { return root.File("home"); }
  std::string Config() const { return root.File("config"); }
  std::string Data() const { return root.File("data"); }

 private:
  std::string Make(const char* name) {
    std::filesystem::create_directories(root.Path() / name);
    return root.File(name);
  }

  TempDir root;
  ScopedEnv home, config, data, cache;
};

// Waits up to 20 s for a file written by another process; true when it appeared.
inline bool WaitForFile(const std::filesystem::path& file) {
  for (int i = 0; i < 2000; ++i) {
    if (std::filesystem::exists(file)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// Writes an executable shell script.
inline void WriteScript(const std::filesystem::path& file, const std::string& body) {
  WriteFileBytes(file, "#!/bin/sh\n" + body);
  std::filesystem::permissions(file, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                         std::filesystem::perms::others_read);
}

// Every regular file below folder, as paths relative to it, sorted.
inline std::vector<std::string> FilesBelow(const std::filesystem::path& folder) {
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) files.push_back(std::filesystem::relative(entry.path(), folder).string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace orvane::test
