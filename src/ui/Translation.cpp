#include "ui/Translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
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

QTranslator* LoadQtTranslation(bool english, QObject* parent) {
  if (english) return nullptr;  // Qt speaks English of its own
  auto* translator = new QTranslator(parent);
  if (!translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return nullptr;
  }
  return translator;
}

bool InstallTranslation(QCoreApplication& app) {
  const bool english = WantsEnglish([](const char* name) { return std::getenv(name); });
  // Qt's own dialogs (the file dialog, the standard buttons) speak the interface's language too.
  if (QTranslator* qt = LoadQtTranslation(english, &app); qt && !QCoreApplication::installTranslator(qt)) delete qt;
  if (!english) return false;
  auto* translator = new QTranslator(&app);
  if (!translator->load(QString::fromLatin1(kEnglishCatalogue)) || !QCoreApplication::installTranslator(translator)) {
    delete translator;
    return false;
  }
  return true;
}

}  // namespace orvane::ui
