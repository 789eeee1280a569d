#pragma once
// The crash reporter's window "Orvane 意外退出": it says the player has ended, shows the last crash
// record and offers to start the player again or to close. Main thread of a QApplication.

#include <QDialog>
#include <functional>
#include <string>

class QPlainTextEdit;
class QPushButton;

namespace orvane::bugreport {

// The crash record's path: the player's data folder + its record name.
std::string CrashRecordFile();
// The record's text, or empty when there is none. At most 64 KiB are read: the record is short,
// and the file could have been replaced by anything.
std::string ReadCrashRecord(const std::string& file);

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
