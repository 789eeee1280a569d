#include "desktop/FileTypes.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>

#include "desktop/AutoRun.h"
#include "desktop/Process.h"
#include "desktop_env.h"

namespace orvane::desktop {
namespace {

namespace fs = std::filesystem;
using test::DesktopHome;
using test::ReadFileBytes;
using test::ScopedEnv;
using test::TempDir;
using test::WriteFileBytes;

const std::string kAllTypes =
    "audio/x-mp1;audio/mp2;audio/mpeg;audio/x-wav;audio/ogg;audio/x-vorbis+ogg;audio/x-mod;audio/x-s3m;"
    "audio/x-it;audio/x-umx;audio/x-mo3;audio/x-xm;audio/x-aiff;audio/aac;audio/mp4;audio/x-ms-wma;"
    "application/x-cda;audio/flac;audio/x-musepack;";

// Fake database tools that log how they were called (outside the XDG folders) and leave the cache
// file the real ones write.
class FakeTools {
 public:
  FakeTools() : path("PATH", dir.Path().string() + ":/usr/bin:/bin") {
    test::WriteScript(dir.Path() / "update-desktop-database",
                      "echo \"update-desktop-database $*\" >> '" + Log() + "'\n: > \"$1/mimeinfo.cache\"\n");
    test::WriteScript(dir.Path() / "update-mime-database",
                      "echo \"update-mime-database $*\" >> '" + Log() + "'\n: > \"$1/mime.cache\"\n");
  }
  std::string Log() const { return dir.File("tools.log"); }
  std::string Calls() const { return fs::exists(Log()) ? ReadFileBytes(Log()) : std::string(); }

 private:
  TempDir dir;
  ScopedEnv path;
};

std::size_t CountOf(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// The program stands bare in Exec, as every launcher reads it (Debian 12's xdg-open splits Exec
// at blanks and takes a quoted program for a name with quotes in it); a path that would need quotes
// is reached through a link of plain name.
TEST(RegisterFileTypes, WritesBothEntriesWithAProgramEveryLauncherCanRun) {
  DesktopHome home;
  FakeTools tools;
  ASSERT_TRUE(RegisterFileTypes("/opt/orvane/orvane", 1));
  EXPECT_EQ(ReadFileBytes(DesktopEntryFile()),
            "[Desktop Entry]\n"
            "Type=Application\n"
            "Version=1.4\n"
            "Name=Orvane\n"
            "Exec=/opt/orvane/orvane %F\n"
            "Icon=orvane\n"
            "Terminal=false\n"
            "StartupWMClass=Orvane\n"
            "Categories=AudioVideo;Audio;Player;\n"
            "MimeType=" + kAllTypes + "\n"
            "Actions=PlayList;\n"
            "\n"
            "[Desktop Action PlayList]\n"
            "Name=Orvane播放列表\n"
            "Exec=/opt/orvane/orvane /l %F\n");
  EXPECT_EQ(ReadFileBytes(PlayListEntryFile()),
            "[Desktop Entry]\n"
            "Type=Application\n"
            "Version=1.4\n"
            "Name=Orvane播放列表\n"
            "Exec=/opt/orvane/orvane /l %F\n"
            "Icon=orvane\n"
            "Terminal=false\n"
            "NoDisplay=true\n"
            "StartupWMClass=Orvane\n"
            "MimeType=" + kAllTypes + "\n");
  EXPECT_EQ(DesktopEntryFile(), home.Data() + "/applications/orvane.desktop");

  // A path with blanks: the entries start a link to it.
  ASSERT_TRUE(RegisterFileTypes("/opt/My Apps/orvane", 1));
  const std::string link = home.Data() + "/orvane/bin/orvane";
  EXPECT_EQ(fs::read_symlink(link), "/opt/My Apps/orvane");
  EXPECT_NE(ReadFileBytes(DesktopEntryFile()).find("\nExec=" + link + " %F\n"), std::string::npos);
  EXPECT_NE(ReadFileBytes(PlayListEntryFile()).find("\nExec=" + link + " /l %F\n"), std::string::npos);
}

// What the desktop's own checker says of the entries, for a plain path and for one with blanks.
TEST(RegisterFileTypes, EntriesPassTheDesktopsValidator) {
  if (FindProgram("desktop-file-validate").empty()) GTEST_SKIP() << "desktop-file-validate is not installed";
  for (const char* exe : {"/usr/bin/orvane", "/opt/My Apps/100% $pure/orvane"}) {
    DesktopHome home;
    FakeTools tools;
    ASSERT_TRUE(RegisterFileTypes(exe, 1));
    for (const std::string& entry : {DesktopEntryFile(), PlayListEntryFile()}) {
      const std::string out = home.Data() + "/validate.txt";
      const std::string command = "desktop-file-validate '" + entry + "' > '" + out + "' 2>&1";
      EXPECT_EQ(std::system(command.c_str()), 0) << exe << "\n" << ReadFileBytes(out);
    }
  }
}

TEST(RegisterFileTypes, UsesAnIconBesideTheExecutable) {
  DesktopHome home;
  FakeTools tools;
  TempDir app;
  WriteFileBytes(app.Path() / "orvane.png", "png");
  ASSERT_TRUE(RegisterFileTypes(app.File("orvane"), 1));
  EXPECT_NE(ReadFileBytes(DesktopEntryFile()).find("\nIcon=" + app.File("orvane.png") + "\n"), std::string::npos);
}

TEST(RegisterFileTypes, MakesThePlayerTheDefaultOfEachType) {
  DesktopHome home;
  FakeTools tools;
  EXPECT_EQ(MimeTypesOfExtension(".mp3"), std::vector<std::string>{"audio/mpeg"});
  EXPECT_EQ(MimeTypesOfExtension(".MP3"), std::vector<std::string>{"audio/mpeg"});
  EXPECT_TRUE(MimeTypesOfExtension(".txt").empty());
  ASSERT_EQ(FileTypeExtensions().size(), 21u);

  ASSERT_TRUE(RegisterFileTypes("/usr/bin/orvane", 1));
  const std::string list = ReadFileBytes(home.Config() + "/mimeapps.list");
  EXPECT_EQ(list.rfind("[Default Applications]\n", 0), 0u) << list;
  EXPECT_EQ(CountOf(list, "\naudio/mpeg=orvane.desktop;\n"), 1u) << list;
  for (const auto& ext : FileTypeExtensions()) {
    for (const auto& type : MimeTypesOfExtension(ext)) {
      EXPECT_EQ(CountOf(list, "\n" + type + "="), 1u) << type;
      EXPECT_NE(kAllTypes.find(type + ";"), std::string::npos) << type;
    }
  }
}

TEST(RegisterFileTypes, KeepsTheUsersOtherDefaults) {
  DesktopHome home;
  FakeTools tools;
  // The list lives elsewhere and is linked, as dotfile managers do: the link must stay.
  TempDir dotfiles;
  const std::string real = dotfiles.File("mimeapps.list");
  WriteFileBytes(real,
                 "[Added Associations]\n"
                 "image/png=org.gnome.eog.desktop;\n"
                 "\n"
                 "[Default Applications]\n"
                 "text/plain=org.gnome.gedit.desktop;\n"
                 "audio/mpeg=vlc.desktop;\n");
  fs::create_symlink(real, home.Config() + "/mimeapps.list");

  ASSERT_TRUE(RegisterFileTypes("/usr/bin/orvane", 1));
  EXPECT_TRUE(fs::is_symlink(home.Config() + "/mimeapps.list"));
  const std::string list = ReadFileBytes(real);
  EXPECT_EQ(list.rfind("[Added Associations]\nimage/png=org.gnome.eog.desktop;\n\n[Default Applications]\n"
                       "text/plain=org.gnome.gedit.desktop;\naudio/mpeg=orvane.desktop;vlc.desktop;\n",
                       0),
            0u)
      << list;
  EXPECT_EQ(CountOf(list, "audio/mpeg="), 1u) << list;

  ASSERT_TRUE(RegisterFileTypes("/usr/bin/orvane", 1));
  EXPECT_EQ(ReadFileBytes(real), list) << "a second start changes nothing";
}

TEST(RegisterFileType, AddsOneExtensionToWhatIsRegistered) {
  DesktopHome home;
  FakeTools tools;
  ASSERT_TRUE(RegisterFileType(".umx", "/usr/bin/orvane", 1));
  EXPECT_NE(ReadFileBytes(DesktopEntryFile()).find("\nMimeType=audio/x-umx;\n"), std::string::npos);
  EXPECT_NE(ReadFileBytes(MimePackageFile()).find("<glob pattern=\"*.umx\"/>"), std::string::npos);

  ASSERT_TRUE(RegisterFileType(".mp3", "/usr/bin/orvane", 1));
  EXPECT_NE(ReadFileBytes(DesktopEntryFile()).find("\nMimeType=audio/x-umx;audio/mpeg;\n"), std::string::npos);
  EXPECT_NE(ReadFileBytes(PlayListEntryFile()).find("\nMimeType=audio/x-umx;audio/mpeg;\n"), std::string::npos);
  EXPECT_EQ(ReadFileBytes(home.Config() + "/mimeapps.list"),
            "[Default Applications]\naudio/x-umx=orvane.desktop;\naudio/mpeg=orvane.desktop;\n");

  EXPECT_FALSE(RegisterFileType(".txt", "/usr/bin/orvane", 1));
}

TEST(RegisterFileTypes, RunsTheDatabaseToolsOnlyAfterAChange) {
  DesktopHome home;
  FakeTools tools;
  ASSERT_TRUE(RegisterFileTypes("/usr/bin/orvane", 1));
  const std::string first = "update-desktop-database " + home.Data() + "/applications\n" +
                            "update-mime-database " + home.Data() + "/mime\n";
  EXPECT_EQ(tools.Calls(), first);

  ASSERT_TRUE(RegisterFileTypes("/usr/bin/orvane", 1));
  EXPECT_EQ(tools.Calls(), first);

  // Moved executable: the entries change, the type package does not.
  ASSERT_TRUE(RegisterFileTypes("/opt/orvane/orvane", 1));
  EXPECT_EQ(tools.Calls(), first + "update-desktop-database " + home.Data() + "/applications\n");
}

TEST(RegisterFileTypes, WorksWithoutTheDatabaseTools) {
  DesktopHome home;
  TempDir empty;
  ScopedEnv path("PATH", empty.Path().string());
  EXPECT_TRUE(RegisterFileTypes("/usr/bin/orvane", 1));
  EXPECT_TRUE(fs::exists(DesktopEntryFile()));
}

TEST(RegisterFileTypes, OwnTypesReachTheRealMimeDatabase) {
  if (FindProgram("update-mime-database").empty()) GTEST_SKIP() << "update-mime-database is not installed";
  DesktopHome home;
  ASSERT_TRUE(RegisterFileTypes("/usr/bin/orvane", 1));
  const std::string globs = ReadFileBytes(home.Data() + "/mime/globs2");
  for (const char* glob : {":audio/x-mp1:*.mp1", ":audio/x-umx:*.umx", ":application/x-cda:*.cda"}) {
    EXPECT_NE(globs.find(glob), std::string::npos) << glob << " in\n" << globs;
  }
  EXPECT_NE(ReadFileBytes(home.Data() + "/mime/subclasses").find("audio/x-mp1 audio/mpeg"), std::string::npos);
}

// State of a file: missing, or its size and modification time.
std::string FileState(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return "missing";
  return std::to_string(st.st_size) + "@" + std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
}

TEST(DesktopFiles, AreWrittenOnlyBelowTheUsersXdgFolders) {
  // The account's real home, as the password database knows it: it must not be touched.
  const passwd* account = ::getpwuid(::getuid());
  ASSERT_NE(account, nullptr);
  const std::string realHome = account->pw_dir;
  const std::vector<std::string> realFiles = {
      realHome + "/.config/autostart/orvane.desktop", realHome + "/.config/mimeapps.list",
      realHome + "/.local/share/applications/orvane.desktop",
      realHome + "/.local/share/applications/orvane-playlist.desktop",
      realHome + "/.local/share/mime/packages/orvane.xml"};
  std::map<std::string, std::string> before;
  for (const auto& file : realFiles) before[file] = FileState(file);

  DesktopHome home;
  FakeTools tools;
  ASSERT_TRUE(RegisterFileTypes("/usr/bin/orvane", 1));
  ASSERT_TRUE(SetAutoRun(true, "/usr/bin/orvane"));

  EXPECT_EQ(test::FilesBelow(home.Root()), (std::vector<std::string>{
                                               "config/autostart/orvane.desktop",
                                               "config/mimeapps.list",
                                               "data/applications/mimeinfo.cache",
                                               "data/applications/orvane-playlist.desktop",
                                               "data/applications/orvane.desktop",
                                               "data/mime/mime.cache",
                                               "data/mime/packages/orvane.xml",
                                           }));
  for (const auto& file : realFiles) EXPECT_EQ(FileState(file), before[file]) << file;
}

}  // namespace
}  // namespace orvane::desktop
