// The crash reporter: its window shows the last record and restarts the player on request; without
// a display it prints the record.
#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <filesystem>

#include "app/main_window_fixture.h"
#include "support/temp_dir.h"
#include "tools/bugreport/BugReportDialog.h"

namespace orvane::test {
namespace {

const std::string kRecord = "Orvane 4.0.1.15\nsignal: 11 SIGSEGV (invalid memory access)\nbacktrace:\n";

TEST(BugReport, WithoutADisplayThePrintedRecordIsAllThereIs) {
  const std::string record = bugreport::CrashRecordFile();
  ASSERT_EQ(record, DataFolder() + "LastCrash.txt");
  std::filesystem::create_directories(DataFolder());
  struct Case {
    bool WithRecord;
    const char* Language;
    std::string Expected;
  };
  const Case cases[] = {{true, "zh_CN", "Orvane 意外退出\n" + kRecord},
                        {false, "zh_CN", "Orvane 意外退出\n没有找到崩溃记录。\n"},
                        {false, "en_GB", "Orvane quit unexpectedly\nNo crash record was found.\n"}};
  for (const Case& c : cases) {
    if (c.WithRecord) WriteFileBytes(record, kRecord);
    else std::filesystem::remove(record);
    QProcess reporter;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "LC_ALL", "LC_MESSAGES"}) env.remove(name);
    env.insert("LANGUAGE", c.Language);
    env.insert("ASAN_OPTIONS", "detect_leaks=0");
    reporter.setProcessEnvironment(env);
    reporter.start(QString::fromStdString(std::string(ORVANE_BIN_DIR) + "/bugreport"), {"-os"});
    ASSERT_TRUE(reporter.waitForFinished(20000));
    EXPECT_EQ(reporter.exitCode(), 0);
    EXPECT_EQ(reporter.readAllStandardOutput().toStdString(), c.Expected);
  }
}

TEST(BugReport, TheWindowShowsTheRecordAndRestartsThePlayer) {
  GuiApp();
  int restarts = 0;
  bugreport::TBugReportDialog dialog(kRecord, [&restarts] { ++restarts; });
  EXPECT_EQ(dialog.windowTitle(), "Orvane 意外退出");
  EXPECT_EQ(dialog.RecordView()->toPlainText().toStdString(), kRecord);
  EXPECT_TRUE(dialog.RecordView()->isReadOnly());
  dialog.show();
  dialog.CloseButton()->click();
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  EXPECT_EQ(restarts, 0);
  dialog.show();
  dialog.RestartButton()->click();
  EXPECT_EQ(restarts, 1);
  EXPECT_FALSE(dialog.isVisible());
}

}  // namespace
}  // namespace orvane::test
