#pragma once
#include <filesystem>
#include <string>

namespace orvane::test {

// A fresh folder under the system's temporary folder, removed with everything in it when the
// object goes. Keep it by setting ORVANE_KEEP_TEST_FILES=1 (handy when a test fails).
class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "orvane-test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path; }
  // Path of a name inside the folder, as UTF-8 text.
  std::string File(const std::string& name) const { return (path / name).string(); }

 private:
  std::filesystem::path path;
};

// Whole-file helpers for fixtures.
std::string ReadFileBytes(const std::filesystem::path& file);
void WriteFileBytes(const std::filesystem::path& file, const std::string& bytes);

}  // namespace orvane::test
