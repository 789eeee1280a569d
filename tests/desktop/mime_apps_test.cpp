#include "desktop/MimeApps.h"

#include <gtest/gtest.h>

namespace orvane::desktop {
namespace {

const std::vector<std::string> kTypes = {"audio/mpeg", "audio/flac", "audio/ogg"};

TEST(SetDefaultApplications, KeepsEveryOtherLineAndPutsUsFirst) {
  const std::string before =
      "# my defaults\n"
      "[Added Associations]\n"
      "audio/mpeg=vlc.desktop;\n"
      "\n"
      "[Default Applications]\n"
      "text/plain=org.gnome.gedit.desktop;\n"
      "audio/mpeg = vlc.desktop;orvane.desktop;mpv.desktop\n"
      "# a comment inside\n"
      "audio/flac=orvane.desktop;\n"
      "\n"
      "[Removed Associations]\n"
      "audio/ogg=totem.desktop;\n";
  const std::string after =
      "# my defaults\n"
      "[Added Associations]\n"
      "audio/mpeg=vlc.desktop;\n"
      "\n"
      "[Default Applications]\n"
      "text/plain=org.gnome.gedit.desktop;\n"
      "audio/mpeg=orvane.desktop;vlc.desktop;mpv.desktop;\n"
      "# a comment inside\n"
      "audio/flac=orvane.desktop;\n"
      "audio/ogg=orvane.desktop;\n"
      "\n"
      "[Removed Associations]\n"
      "audio/ogg=totem.desktop;\n";
  EXPECT_EQ(SetDefaultApplications(before, kTypes, "orvane.desktop"), after);
  EXPECT_EQ(SetDefaultApplications(after, kTypes, "orvane.desktop"), after) << "a second edit changes nothing";
}

TEST(SetDefaultApplications, AddsTheGroupWhenMissing) {
  struct Case {
    std::string before;
    std::string after;
  };
  const std::string ours = "[Default Applications]\naudio/mpeg=orvane.desktop;\naudio/flac=orvane.desktop;\n"
                           "audio/ogg=orvane.desktop;\n";
  const Case cases[] = {
      {"", ours},
      {"[Added Associations]\nimage/png=eog.desktop;", "[Added Associations]\nimage/png=eog.desktop;\n\n" + ours},
      {"[Added Associations]\n\n", "[Added Associations]\n\n" + ours},
      // Each type once, even when listed twice.
      {"[Default Applications]\n", ours},
  };
  for (const auto& c : cases) {
    std::vector<std::string> types = kTypes;
    types.push_back("audio/mpeg");
    EXPECT_EQ(SetDefaultApplications(c.before, types, "orvane.desktop"), c.after) << c.before;
  }
}

}  // namespace
}  // namespace orvane::desktop
