#include "desktop/DesktopEntry.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "desktop/XdgPaths.h"

namespace orvane::desktop {

std::string QuoteExecArgument(std::string_view argument) {
  std::string quoted = "\"";
  for (const char c : argument) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    if (c == '%') quoted += '%';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

std::string EscapeEntryValue(std::string_view value) {
  std::string escaped;
  escaped.reserve(value.size());
  for (const char c : value) {
    switch (c) {
      case '\\': escaped += "\\\\"; break;
      case '\n': escaped += "\\n"; break;
      case '\t': escaped += "\\t"; break;
      case '\r': escaped += "\\r"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

bool IsPlainExecArgument(std::string_view argument) {
  if (argument.empty()) return false;
  for (const char c : argument) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7f) return false;
    if (std::string_view("\"'\\><~|&;$*?#()`%=[]{}!").find(c) != std::string_view::npos) return false;
  }
  return true;
}

std::string ExecValue(std::string_view exe, std::string_view rest) {
  std::string value = IsPlainExecArgument(exe) ? std::string(exe) : QuoteExecArgument(exe);
  if (!rest.empty()) {
    value += ' ';
    value += rest;
  }
  return EscapeEntryValue(value);
}

namespace {

std::string LinkTarget(const std::string& link) {
  std::vector<char> buffer(4096);
  const ssize_t length = ::readlink(link.c_str(), buffer.data(), buffer.size());
  return length > 0 && static_cast<size_t>(length) < buffer.size() ? std::string(buffer.data(), static_cast<size_t>(length))
                                                                    : std::string();
}

bool MakeFolder(const std::string& path) { return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST; }

}  // namespace

std::string LaunchPath(const std::string& exe) {
  if (IsPlainExecArgument(exe)) return exe;
  try {
    const std::string data = DataHome();
    if (data.empty()) return exe;
    const std::string folder = data + "/orvane";
    const std::string link = folder + "/bin/orvane";
    if (!IsPlainExecArgument(link)) return exe;
    if (LinkTarget(link) == exe) return link;
    if (!MakeFolder(data) || !MakeFolder(folder) || !MakeFolder(folder + "/bin")) return exe;
    // Made beside the link and renamed over it, so the entry never points at a missing file.
    const std::string temporary = link + ".new";
    ::unlink(temporary.c_str());
    if (::symlink(exe.c_str(), temporary.c_str()) != 0) return exe;
    if (::rename(temporary.c_str(), link.c_str()) != 0) {
      ::unlink(temporary.c_str());
      return exe;
    }
    return link;
  } catch (...) {
    return exe;
  }
}

std::string EntryIcon(const std::string& exe) {
  const auto slash = exe.rfind('/');
  if (slash == std::string::npos) return "orvane";
  for (const char* name : {"orvane.svg", "orvane.png"}) {
    const std::string icon = exe.substr(0, slash + 1) + name;
    struct stat st {};
    if (::stat(icon.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return EscapeEntryValue(icon);
  }
  return "orvane";
}

}  // namespace orvane::desktop
