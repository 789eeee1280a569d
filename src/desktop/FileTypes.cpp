#include "desktop/FileTypes.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>

#include "desktop/DesktopEntry.h"
#include "desktop/MimeApps.h"
#include "desktop/Process.h"
#include "desktop/UserFiles.h"
#include "desktop/XdgPaths.h"
#include "text/TextUtil.h"

namespace orvane::desktop {
namespace {

struct FileType {
  std::string_view ext;
  std::string_view mimeTypes;  // ";"-separated, most specific first
};

// Types as the freedesktop shared-mime-info database names them, where it has one. ".ogg" files
// are detected as Vorbis in Ogg more often than as plain Ogg audio, so both are claimed.
constexpr std::array<FileType, 21> kFileTypes{{
    {".mp1", "audio/x-mp1"},
    {".mp2", "audio/mp2"},
    {".mp3", "audio/mpeg"},
    {".wav", "audio/x-wav"},
    {".ogg", "audio/ogg;audio/x-vorbis+ogg"},
    {".mod", "audio/x-mod"},
    {".s3m", "audio/x-s3m"},
    {".it", "audio/x-it"},
    {".umx", "audio/x-umx"},
    {".mo3", "audio/x-mo3"},
    {".mtm", "audio/x-mod"},
    {".xm", "audio/x-xm"},
    {".aif", "audio/x-aiff"},
    {".aac", "audio/aac"},
    {".m4a", "audio/mp4"},
    {".wma", "audio/x-ms-wma"},
    {".oga", "audio/ogg"},
    {".cda", "application/x-cda"},
    {".flac", "audio/flac"},
    {".mpc", "audio/x-musepack"},
    {".mpp", "audio/x-musepack"},
}};

// Extensions the standard database does not know: our package defines a type for each.
struct OwnType {
  std::string_view type;
  std::string_view comment;
  std::string_view subClassOf;
  std::string_view glob;
};

constexpr std::array<OwnType, 3> kOwnTypes{{
    {"audio/x-mp1", "MPEG-1 Layer I audio", "audio/mpeg", "*.mp1"},
    {"audio/x-umx", "Unreal music module", "", "*.umx"},
    {"application/x-cda", "CD audio track", "", "*.cda"},
}};

// The two database tools usually take well under a second; a hung one must not hold up start-up.
constexpr int kToolTimeoutMs = 5000;

void AppendUnique(std::vector<std::string>& list, std::string_view item) {
  if (std::find(list.begin(), list.end(), item) == list.end()) list.emplace_back(item);
}

std::vector<std::string> SplitTypes(std::string_view value) {
  std::vector<std::string> types;
  while (!value.empty()) {
    const auto semicolon = value.find(';');
    const std::string_view type = text::Trim(value.substr(0, semicolon));
    if (!type.empty()) AppendUnique(types, type);
    if (semicolon == std::string_view::npos) break;
    value.remove_prefix(semicolon + 1);
  }
  return types;
}

std::string JoinTypes(const std::vector<std::string>& types) {
  std::string joined;
  for (const auto& type : types) joined += type + ";";
  return joined;
}

// exe is what Exec starts (LaunchPath); icon, the player's icon beside its real executable.
std::string FileTypeEntry(const std::string& exe, const std::string& icon, const std::vector<std::string>& types) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Version=1.4\n"
         "Name=Orvane\n"
         "Exec=" + ExecValue(exe, "%F") + "\n"
         "Icon=" + icon + "\n"
         "Terminal=false\n"
         "StartupWMClass=Orvane\n"
         "Categories=AudioVideo;Audio;Player;\n"
         "MimeType=" + JoinTypes(types) + "\n"
         "Actions=PlayList;\n"
         "\n"
         "[Desktop Action PlayList]\n"
         "Name=Orvane播放列表\n"
         "Exec=" + ExecValue(exe, "/l %F") + "\n";
}

std::string PlayListEntry(const std::string& exe, const std::string& icon, const std::vector<std::string>& types) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Version=1.4\n"
         "Name=Orvane播放列表\n"
         "Exec=" + ExecValue(exe, "/l %F") + "\n"
         "Icon=" + icon + "\n"
         "Terminal=false\n"
         "NoDisplay=true\n"
         "StartupWMClass=Orvane\n"
         "MimeType=" + JoinTypes(types) + "\n";
}

// The package for those of our own types that are registered; empty when none is.
std::string MimePackage(const std::vector<std::string>& types) {
  std::string body;
  for (const auto& own : kOwnTypes) {
    if (std::find(types.begin(), types.end(), own.type) == types.end()) continue;
    body += "  <mime-type type=\"" + std::string(own.type) + "\">\n";
    body += "    <comment>" + std::string(own.comment) + "</comment>\n";
    if (!own.subClassOf.empty()) body += "    <sub-class-of type=\"" + std::string(own.subClassOf) + "\"/>\n";
    body += "    <glob pattern=\"" + std::string(own.glob) + "\"/>\n";
    body += "  </mime-type>\n";
  }
  if (body.empty()) return {};
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n" +
         body + "</mime-info>\n";
}

// The types the desktop entry lists now (empty when there is none yet).
std::vector<std::string> RegisteredTypes() {
  std::string entry;
  if (ReadUserFile(DesktopEntryFile(), entry) != ReadResult::Read) return {};
  std::string_view rest(entry);
  while (!rest.empty()) {
    const auto end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    if (line.rfind("MimeType=", 0) == 0) return SplitTypes(line.substr(9));
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return {};
}

bool SetDefaults(const std::vector<std::string>& types) {
  const std::string file = MimeAppsListFile();
  if (file.empty()) return false;
  std::string list;
  // A list that exists but cannot be read must not be replaced by one holding only our lines.
  if (ReadUserFile(file, list) == ReadResult::Failed) return false;
  bool changed = false;
  return UpdateUserFile(file, SetDefaultApplications(list, types, kDesktopId), changed);
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// Runs a database tool on folder when it is installed; its failure changes nothing for the player.
void RunTool(const char* tool, const std::string& folder) {
  if (FindProgram(tool).empty()) return;
  RunAndWait({tool, folder}, kToolTimeoutMs);
}

// Writes the entries for entryTypes and makes the player the default of defaultTypes.
bool Register(const std::vector<std::string>& entryTypes, const std::vector<std::string>& defaultTypes,
              const std::string& exe) {
  const std::string data = DataHome();
  if (data.empty() || exe.empty()) return false;
  bool ok = true;
  bool entriesChanged = false;
  bool changed = false;
  const std::string launch = LaunchPath(exe);
  const std::string icon = EntryIcon(exe);
  ok = UpdateUserFile(DesktopEntryFile(), FileTypeEntry(launch, icon, entryTypes), changed) && ok;
  entriesChanged = entriesChanged || changed;
  ok = UpdateUserFile(PlayListEntryFile(), PlayListEntry(launch, icon, entryTypes), changed) && ok;
  entriesChanged = entriesChanged || changed;
  bool packageChanged = false;
  const std::string package = MimePackage(entryTypes);
  if (!package.empty()) ok = UpdateUserFile(MimePackageFile(), package, packageChanged) && ok;
  ok = SetDefaults(defaultTypes) && ok;

  const std::string applications = data + "/applications";
  if (entriesChanged || !Exists(applications + "/mimeinfo.cache")) RunTool("update-desktop-database", applications);
  const std::string mime = data + "/mime";
  if (Exists(MimePackageFile()) && (packageChanged || !Exists(mime + "/mime.cache"))) {
    RunTool("update-mime-database", mime);
  }
  return ok;
}

}  // namespace

const std::vector<std::string>& FileTypeExtensions() {
  static const std::vector<std::string> extensions = [] {
    std::vector<std::string> list;
    for (const auto& type : kFileTypes) list.emplace_back(type.ext);
    return list;
  }();
  return extensions;
}

std::vector<std::string> MimeTypesOfExtension(std::string_view ext) {
  try {
    for (const auto& type : kFileTypes) {
      if (text::EqualsNoCase(type.ext, ext)) return SplitTypes(type.mimeTypes);
    }
  } catch (...) {
  }
  return {};
}

std::vector<std::string> FileTypeMimeTypes() {
  std::vector<std::string> types;
  for (const auto& type : kFileTypes) {
    for (const auto& mimeType : SplitTypes(type.mimeTypes)) AppendUnique(types, mimeType);
  }
  return types;
}

std::string FileTypeMimePackage() { return MimePackage(FileTypeMimeTypes()); }

bool RegisterFileTypes(const std::string& Exe, int32_t /*IconIndex*/) {
  try {
    const std::vector<std::string> types = FileTypeMimeTypes();
    return Register(types, types, Exe);
  } catch (...) {
    return false;
  }
}

bool RegisterFileType(const std::string& Ext, const std::string& Exe, int32_t /*IconIndex*/) {
  try {
    const std::vector<std::string> own = MimeTypesOfExtension(Ext);
    if (own.empty()) return false;
    std::vector<std::string> types = RegisteredTypes();
    for (const auto& type : own) AppendUnique(types, type);
    return Register(types, own, Exe);
  } catch (...) {
    return false;
  }
}

std::string DesktopEntryFile() {
  const std::string data = DataHome();
  return data.empty() ? std::string() : data + "/applications/" + std::string(kDesktopId);
}

std::string PlayListEntryFile() {
  const std::string data = DataHome();
  return data.empty() ? std::string() : data + "/applications/" + std::string(kPlayListDesktopId);
}

std::string MimePackageFile() {
  const std::string data = DataHome();
  return data.empty() ? std::string() : data + "/mime/packages/orvane.xml";
}

}  // namespace orvane::desktop
