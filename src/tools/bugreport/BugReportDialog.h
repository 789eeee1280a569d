#pragma once
// The crash reporter's window "Orvane 意外退出": it says the player has ended (and that the lists
// and settings are saved, when the record says so), shows the last crash record and offers to start
// the player again or to close. Main thread of a QApplication.

#include <QDialog>
#include <QString>
#include <cstddef>
#include <functional>
#include <string>

class QPlainTextEdit;
class QPushButton;

namespace orvane::bugreport {

// The crash record's path: the player's data folder + its record name.
std::string CrashRecordFile();
// The record's text, or empty when there is none or it is not a regular file. At most
// kMostRecordBytes are read: the record is short, and the file could have been replaced by anything.
inline constexpr size_t kMostRecordBytes = 64 * 1024;
std::string ReadCrashRecord(const std::string& file);
// The record says the lists and settings were all on disk when the player ended.
bool RecordSaysSaved(const std::string& record);
// What the window says happened: that everything is saved only when the record says so.
QString CrashMessage(const std::string& record);

class TBugReportDialog : public QDialog {
  Q_OBJECT
 public:
  // restart starts the player; called by "重新启动 Orvane" before the window closes.
  TBugReportDialog(const std::string& record, std::function<void()> restart, QWidget* parent = nullptr);

  QPlainTextEdit* RecordView() const { return recordView; }
  QPushButton* RestartButton() const { return restartButton; }
  QPushButton* CloseButton() const { return closeButton; }

 private:
  QPlainTextEdit* recordView;
  QPushButton* restartButton;
  QPushButton* closeButton;
};

}  // namespace orvane::bugreport
