#include "tools/bugreport/BugReportDialog.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <fstream>

#include "app/SystemFault.h"
#include "desktop/Folders.h"

namespace orvane::bugreport {

std::string CrashRecordFile() {
  return desktop::GetSpecialFolder(133, false) + "Orvane/" + app::kCrashRecordName;
}

std::string ReadCrashRecord(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return {};
  std::string text(64 * 1024, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  return text;
}

TBugReportDialog::TBugReportDialog(const std::string& record, std::function<void()> restart, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(tr("Orvane 意外退出"));
  auto* layout = new QVBoxLayout(this);
  auto* message = new QLabel(tr("Orvane 遇到了问题，已经退出。播放列表和设置都已保存。"), this);
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
