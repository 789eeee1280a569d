#include "ui/Translation.h"

#include <QCoreApplication>
#include <QTranslator>
#include <cstdlib>
#include <string_view>

namespace orvane::ui {
namespace {

constexpr const char* kEnglishCatalogue = ":/i18n/orvane_en.qm";

std::string_view FirstEntry(std::string_view list) { return list.substr(0, list.find(':')); }

bool IsEnglish(std::string_view locale) {
  if (locale.substr(0, 2) != "en") return false;
  return locale.size() == 2 || locale[2] == '_' || locale[2] == '.' || locale[2] == '@';
}

}  // namespace

bool WantsEnglish(const EnvironmentLookup& lookup) {
  for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = lookup(name);
    if (!value) continue;
    std::string_view locale(value);
    // LANGUAGE is a preference list: its first non-empty entry is the wish.
    if (std::string_view(name) == "LANGUAGE") {
      while (!locale.empty() && FirstEntry(locale).empty()) locale.remove_prefix(1);
      locale = FirstEntry(locale);
    }
    if (!locale.empty()) return IsEnglish(locale);
  }
  return false;
}

bool InstallTranslation(QCoreApplication& app) {
  if (!WantsEnglish([](const char* name) { return std::getenv(name); })) return false;
  auto* translator = new QTranslator(&app);
  if (!translator->load(QString::fromLatin1(kEnglishCatalogue)) || !QCoreApplication::installTranslator(translator)) {
    delete translator;
    return false;
  }
  return true;
}

}  // namespace orvane::ui
