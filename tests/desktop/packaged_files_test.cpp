// The files an installed player brings (desktop entry, AppStream metainfo, MIME package) claim the
// same file types as the registration the player writes for itself at every start.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "desktop/FileTypes.h"
#include "support/temp_dir.h"

namespace orvane::desktop {
namespace {

using test::ReadFileBytes;

const std::string kPackaging = ORVANE_PACKAGING_DIR;

std::vector<std::string> Split(const std::string& list) {
  std::vector<std::string> items;
  size_t start = 0;
  for (size_t end; (end = list.find(';', start)) != std::string::npos; start = end + 1)
    items.push_back(list.substr(start, end - start));
  if (start < list.size()) items.push_back(list.substr(start));
  return items;
}

std::vector<std::string> Matches(const std::string& text, const std::regex& pattern) {
  std::vector<std::string> found;
  for (std::sregex_iterator it(text.begin(), text.end(), pattern), end; it != end; ++it) found.push_back((*it)[1]);
  return found;
}

TEST(PackagedFiles, ClaimTheTypesThePlayerRegisters) {
  const std::vector<std::string> types = FileTypeMimeTypes();
  ASSERT_EQ(types.size(), 19u);  // 21 extensions; .mod/.mtm and .mpc/.mpp share a type, .ogg has two

  const std::string entry = ReadFileBytes(kPackaging + "/orvane.desktop");
  const auto lines = Matches(entry, std::regex("\nMimeType=([^\n]*)"));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(Split(lines[0]), types);

  const std::string metainfo = ReadFileBytes(kPackaging + "/orvane.metainfo.xml.in");
  EXPECT_EQ(Matches(metainfo, std::regex("<mediatype>([^<]*)</mediatype>")), types);

  EXPECT_EQ(ReadFileBytes(kPackaging + "/orvane-mime.xml"), FileTypeMimePackage());
}

}  // namespace
}  // namespace orvane::desktop
