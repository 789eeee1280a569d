// Shared main of every test executable: each test process runs with its own temporary HOME and
// XDG folders, so nothing a test does can touch the real user's settings, lists or desktop files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "support/temp_dir.h"

// fontconfig keeps its configuration for the life of the process and never frees it; that is not a
// leak of ours, and the sanitizer build would otherwise fail every test that draws text on it.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

constexpr const char* kNoLyricService = "http://127.0.0.1:9";

void SetHomeEnvironment(const std::filesystem::path& root) {
  namespace fs = std::filesystem;
  const fs::path runtime = root / "runtime";
  for (const char* sub : {"home", "runtime", "cache", "config", "data"}) fs::create_directories(root / sub);
  fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
  ::setenv("HOME", (root / "home").c_str(), 1);
  ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  ::setenv("XDG_CACHE_HOME", (root / "cache").c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
  ::setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
  ::unsetenv("XDG_DOCUMENTS_DIR");
  // The modules the program loads at run time (the decoder) live beside the program, not the tests.
  ::setenv("ORVANE_MODULE_DIR", ORVANE_BIN_DIR, 1);
  ::unsetenv("XDG_MUSIC_DIR");
  ::unsetenv("XDG_DESKTOP_DIR");
  // The player asks the public lyric service for lyrics it does not have; no test may reach it.
  // A closed local port answers at once. Tests that want lyrics serve them themselves.
  ::setenv("ORVANE_LYRICS_URL", kNoLyricService, 1);
}

}  // namespace

int main(int argc, char** argv) {
  auto home = std::make_unique<orvane::test::TempDir>("orvane-home");
  SetHomeEnvironment(home->Path());
  ::testing::InitGoogleMock(&argc, argv);
  const int result = RUN_ALL_TESTS();
  home.reset();
  return result;
}
