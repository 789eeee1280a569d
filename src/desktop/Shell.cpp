#include "desktop/Shell.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QThread>
#include <QUrl>

#include "desktop/Process.h"

namespace orvane::desktop {
namespace {

bool OpenWithQt(const std::string& file) {
  const auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
  if (!app || QThread::currentThread() != app->thread()) return false;
  const QString text = QString::fromStdString(file);
  const QUrl url = text.startsWith('/') ? QUrl::fromLocalFile(text) : QUrl(text);
  return QDesktopServices::openUrl(url);
}

}  // namespace

std::string UrlForOpen(const std::string& Text) {
  // https is accepted too: putting "http://" before "https://…" would only give a broken address.
  if (Text.find("http://") != std::string::npos || Text.find("https://") != std::string::npos) return Text;
  return "http://" + Text;
}

void OpenUrl(const std::string& Text) {
  try {
    ShellOpen(UrlForOpen(Text), nullptr, {});
  } catch (...) {
  }
}

bool ShellOpen(const std::string& File, QWidget* /*Owner*/, const std::string& /*Parameters*/) {
  try {
    if (File.empty()) return false;
    if (!FindProgram("xdg-open").empty()) return StartDetached({"xdg-open", File});
    return OpenWithQt(File);
  } catch (...) {
    return false;
  }
}

}  // namespace orvane::desktop
