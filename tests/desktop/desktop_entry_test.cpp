#include "desktop/DesktopEntry.h"

#include <gtest/gtest.h>

namespace orvane::desktop {
namespace {

TEST(ExecValue, QuotesTheExecutableAsDesktopEntriesRequire) {
  struct Case {
    const char* exe;
    const char* rest;
    const char* value;  // as it stands in the file
  };
  const Case cases[] = {
      {"/usr/bin/orvane", "%F", R"("/usr/bin/orvane" %F)"},
      {"/opt/My Apps/orvane", "/l %f", R"("/opt/My Apps/orvane" /l %f)"},
      {"/opt/100%/orvane", "", R"("/opt/100%%/orvane")"},
      {"/opt/a\"b/orvane", "", R"("/opt/a\\"b/orvane")"},
      {"/opt/$HOME/`x`/orvane", "", R"("/opt/\\$HOME/\\`x\\`/orvane")"},
      {"/opt/back\\slash/orvane", "", R"("/opt/back\\\\slash/orvane")"},
      {"/opt/new\nline/orvane", "", R"("/opt/new\nline/orvane")"},
  };
  for (const auto& c : cases) EXPECT_EQ(ExecValue(c.exe, c.rest), c.value) << c.exe;
}

}  // namespace
}  // namespace orvane::desktop
