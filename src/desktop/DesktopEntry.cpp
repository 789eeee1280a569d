#include "desktop/DesktopEntry.h"

#include <sys/stat.h>

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

std::string ExecValue(std::string_view exe, std::string_view rest) {
  std::string value = QuoteExecArgument(exe);
  if (!rest.empty()) {
    value += ' ';
    value += rest;
  }
  return EscapeEntryValue(value);
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
