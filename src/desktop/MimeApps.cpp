#include "desktop/MimeApps.h"

#include <algorithm>

#include "desktop/XdgPaths.h"
#include "text/TextUtil.h"

namespace orvane::desktop {
namespace {

constexpr std::string_view kGroup = "Default Applications";

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    const auto end = text.find('\n');
    lines.emplace_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

// The group a line opens ("[Name]"), or nothing when it is not a group header.
bool GroupHeader(std::string_view line, std::string_view& name) {
  line = text::Trim(line);
  if (line.size() < 2 || line.front() != '[' || line.back() != ']') return false;
  name = line.substr(1, line.size() - 2);
  return true;
}

std::vector<std::string_view> SplitList(std::string_view value) {
  std::vector<std::string_view> items;
  while (!value.empty()) {
    const auto semicolon = value.find(';');
    const std::string_view item = text::Trim(value.substr(0, semicolon));
    if (!item.empty()) items.push_back(item);
    if (semicolon == std::string_view::npos) break;
    value.remove_prefix(semicolon + 1);
  }
  return items;
}

// The line with desktopId first, or the line itself when nothing needs to change.
std::string UpdatedLine(const std::string& line, std::string_view key, std::string_view value,
                        std::string_view desktopId) {
  const auto items = SplitList(value);
  const bool firstAlready = !items.empty() && items.front() == desktopId &&
                            std::count(items.begin(), items.end(), desktopId) == 1;
  if (firstAlready) return line;
  std::string updated = std::string(key) + "=" + std::string(desktopId) + ";";
  for (const auto item : items) {
    if (item != desktopId) updated += std::string(item) + ";";
  }
  if (!line.empty() && line.back() == '\r') updated += '\r';
  return updated;
}

}  // namespace

std::string SetDefaultApplications(std::string_view list, const std::vector<std::string>& wanted,
                                   std::string_view desktopId) {
  std::vector<std::string> types;
  for (const auto& type : wanted) {
    if (std::find(types.begin(), types.end(), type) == types.end()) types.push_back(type);
  }
  std::vector<std::string> lines = SplitLines(list);
  std::vector<bool> found(types.size(), false);
  bool inGroup = false;
  bool inFirstGroup = false;
  bool seenGroup = false;
  std::size_t insertAt = lines.size();  // after the last non-blank line of the first group
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string_view name;
    if (GroupHeader(lines[i], name)) {
      inGroup = name == kGroup;
      inFirstGroup = inGroup && !seenGroup;
      if (inFirstGroup) insertAt = i + 1;
      seenGroup = seenGroup || inGroup;
      continue;
    }
    if (!inGroup) continue;
    const std::string_view line = text::Trim(lines[i]);
    if (line.empty()) continue;
    if (inFirstGroup) insertAt = i + 1;
    if (line[0] == '#') continue;
    const auto eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string_view key = text::Trim(line.substr(0, eq));
    const auto type = std::find(types.begin(), types.end(), key);
    if (type == types.end()) continue;
    found[static_cast<std::size_t>(type - types.begin())] = true;
    lines[i] = UpdatedLine(lines[i], key, line.substr(eq + 1), desktopId);
  }

  std::vector<std::string> added;
  for (std::size_t t = 0; t < types.size(); ++t) {
    if (found[t]) continue;
    added.push_back(types[t] + "=" + std::string(desktopId) + ";");
  }
  if (!seenGroup && !added.empty()) {
    if (!lines.empty() && !text::Trim(lines.back()).empty()) lines.emplace_back();
    lines.emplace_back("[" + std::string(kGroup) + "]");
    insertAt = lines.size();
  }
  lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), added.begin(), added.end());

  std::string result;
  for (const auto& line : lines) result += line + "\n";
  return result;
}

std::string MimeAppsListFile() {
  const std::string config = ConfigHome();
  return config.empty() ? std::string() : config + "/mimeapps.list";
}

}  // namespace orvane::desktop
