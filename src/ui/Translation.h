#pragma once
// The interface's language. Chinese is the source text and the default; on a desktop whose message
// language is English the English translation (translations/orvane_en.ts, compiled into the
// program's resources) is installed before any window is made. Texts stored in files are never
// translated. Main thread, once at start-up.

#include <functional>

class QCoreApplication;
class QObject;
class QTranslator;

namespace orvane::ui {

// Reads one environment variable; null when it is not set.
using EnvironmentLookup = std::function<const char*(const char*)>;

// Whether the message language is English. As gettext ranks them, the first of LANGUAGE (its first
// entry of the colon-separated list), LC_ALL, LC_MESSAGES and LANG that is set and not empty
// decides; English is "en" or "en" followed by "_", "." or "@" (en_GB.UTF-8, en@shaw).
bool WantsEnglish(const EnvironmentLookup& lookup);

// Qt's own translation (its file dialog, its standard buttons) for the interface's language, from
// Qt's translations folder, owned by parent; null for English (Qt's own language) and when it is
// not installed (Debian: qt6-translations-l10n).
QTranslator* LoadQtTranslation(bool english, QObject* parent);

// Installs the interface's translations into app: Qt's own, and the English translation when the
// process environment asks for English. Returns whether English is on (false also when the English
// translation cannot be loaded).
bool InstallTranslation(QCoreApplication& app);

}  // namespace orvane::ui
