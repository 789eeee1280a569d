#include <QApplication>
#include <QFileDialog>
#include <QString>
#include <QThread>

#include "desktop/Folders.h"

namespace orvane::desktop {

bool BrowseForFolder(const std::string& Title, std::string& Folder, bool /*NewStyle*/) {
  try {
    // A dialog needs a running widget application; a call without one (a test, a tool) cancels.
    const auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app || QThread::currentThread() != app->thread()) return false;
    const QString chosen = QFileDialog::getExistingDirectory(QApplication::activeWindow(), QString::fromStdString(Title),
                                                             QString::fromStdString(Folder), QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty()) return false;
    Folder = chosen.toStdString();
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace orvane::desktop
