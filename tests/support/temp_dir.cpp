#include "support/temp_dir.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace orvane::test {

TempDir::TempDir(const std::string& prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed for " + pattern);
  path = pattern;
}

TempDir::~TempDir() {
  const char* keep = std::getenv("ORVANE_KEEP_TEST_FILES");
  if (keep && *keep == '1') return;
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

std::string ReadFileBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFileBytes(const std::filesystem::path& file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

}  // namespace orvane::test
