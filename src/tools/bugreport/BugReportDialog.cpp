#include "tools/bugreport/BugReportDialog.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/SystemFault.h"
#include "desktop/Folders.h"

namespace orvane::bugreport {

std::string CrashRecordFile() {
  return desktop::GetSpecialFolder(133, false) + "Orvane/" + app::kCrashRecordName;
}

// Only a regular file is read, and never through a link: a FIFO or a device put in the record's
// place would otherwise keep the reporter waiting, or feed it without end.
std::string ReadCrashRecord(const std::string& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return {};
  struct stat status {};
  std::string text;
  if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
    text.resize(kMostRecordBytes);
    size_t length = 0;
    while (length < text.size()) {
      const ssize_t n = ::read(fd, text.data() + length, text.size() - length);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      length += static_cast<size_t>(n);
    }
    text.resize(length);
  }
  ::close(fd);
  return text;
}

bool RecordSaysSaved(const std::string& record) {
  return record.find(std::string("\n") + app::kCrashRecordSavedLine + "yes\n") != std::string::npos;
}

QString CrashMessage(const std::string& record) {
  return RecordSaysSaved(record) ? TBugReportDialog::tr("Orvane 遇到了问题，已经退出。播放列表和设置都已保存。")
                                 : TBugReportDialog::tr("Orvane 遇到了问题，已经退出。最近的更改可能没有保存。");
}

TBugReportDialog::TBugReportDialog(const std::string& record, std::function<void()> restart, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(tr("Orvane 意外退出"));
  auto* layout = new QVBoxLayout(this);
  auto* message = new QLabel(CrashMessage(record), this);
  message->setWordWrap(true);
  layout->addWidget(message);
  recordView = new QPlainTextEdit(this);
  recordView->setReadOnly(true);
  recordView->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  recordView->setPlainText(record.empty() ? tr("没有找到崩溃记录。") : QString::fromUtf8(record.data(), static_cast<int>(record.size())));
  layout->addWidget(recordView, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  restartButton = new QPushButton(tr("重新启动 Orvane"), this);
  closeButton = new QPushButton(tr("关闭"), this);
  buttons->addWidget(restartButton);
  buttons->addWidget(closeButton);
  layout->addLayout(buttons);
  restartButton->setDefault(true);
  connect(restartButton, &QPushButton::clicked, this, [this, restart = std::move(restart)] {
    if (restart) restart();
    accept();
  });
  connect(closeButton, &QPushButton::clicked, this, &QDialog::reject);
  resize(560, 380);
}

}  // namespace orvane::bugreport
