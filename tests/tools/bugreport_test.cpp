// The crash reporter: its window shows the last record and restarts the player on request; without
// a display it prints the record.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <filesystem>
#include <functional>
#include <map>

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

// Runs the reporter with the given display settings; its output and exit code.
struct ReporterRun {
  bool Finished = false;
  int ExitCode = -1;
  std::string Out;
  std::string Err;
};
ReporterRun RunReporter(const std::map<std::string, std::string>& display) {
  QProcess reporter;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "LC_ALL", "LC_MESSAGES"}) env.remove(name);
  for (const auto& [name, value] : display) env.insert(QString::fromStdString(name), QString::fromStdString(value));
  env.insert("LANGUAGE", "zh_CN");
  env.insert("ASAN_OPTIONS", "detect_leaks=0");
  reporter.setProcessEnvironment(env);
  reporter.start(QString::fromStdString(std::string(ORVANE_BIN_DIR) + "/bugreport"), {"-os"});
  ReporterRun run;
  run.Finished = reporter.waitForFinished(20000);
  if (!run.Finished) {
    reporter.kill();
    reporter.waitForFinished();
  }
  run.ExitCode = reporter.exitStatus() == QProcess::NormalExit ? reporter.exitCode() : -1;
  run.Out = reporter.readAllStandardOutput().toStdString();
  run.Err = reporter.readAllStandardError().toStdString();
  return run;
}

// Only a regular file is read as the record, never through a link, and no more than the bound.
TEST(BugReport, OnlyARegularFileIsReadAsTheRecord) {
  TempDir dir;
  const std::string target = dir.File("elsewhere.txt");
  WriteFileBytes(target, kRecord);
  const std::string big(bugreport::kMostRecordBytes + 100, 'x');
  struct Case {
    const char* Name;
    std::function<void(const std::string&)> Make;
    std::string Expected;
  };
  const Case cases[] = {
      {"a regular file", [](const std::string& file) { WriteFileBytes(file, kRecord); }, kRecord},
      {"a FIFO", [](const std::string& file) { ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0); }, ""},
      {"a link", [&target](const std::string& file) { std::filesystem::create_symlink(target, file); }, ""},
      {"a folder", [](const std::string& file) { std::filesystem::create_directory(file); }, ""},
      {"too long", [&big](const std::string& file) { WriteFileBytes(file, big); }, big.substr(0, bugreport::kMostRecordBytes)},
      {"missing", [](const std::string&) {}, ""},
  };
  for (const Case& c : cases) {
    const std::string file = dir.File(std::string("record ") + c.Name);
    c.Make(file);
    EXPECT_EQ(bugreport::ReadCrashRecord(file), c.Expected) << c.Name;
  }
  // The reporter itself, with a FIFO in the record's place: it ends at once instead of waiting.
  std::filesystem::create_directories(DataFolder());
  std::filesystem::remove(bugreport::CrashRecordFile());
  ASSERT_EQ(::mkfifo(bugreport::CrashRecordFile().c_str(), 0600), 0);
  const ReporterRun run = RunReporter({});
  std::filesystem::remove(bugreport::CrashRecordFile());
  EXPECT_TRUE(run.Finished);
  EXPECT_EQ(run.ExitCode, 0);
  EXPECT_EQ(run.Out, "Orvane 意外退出\n没有找到崩溃记录。\n");
}

// A display that cannot be reached: the record is printed (on standard error) and the reporter
// ends with 0 instead of aborting.
TEST(BugReport, AnUnreachableDisplayGetsThePrintedRecord) {
  std::filesystem::create_directories(DataFolder());
  WriteFileBytes(bugreport::CrashRecordFile(), kRecord);
  for (const auto& display : {std::map<std::string, std::string>{{"DISPLAY", ":4711"}},
                              std::map<std::string, std::string>{{"DISPLAY", ":4711"}, {"QT_QPA_PLATFORM", "xcb"}}}) {
    const ReporterRun run = RunReporter(display);
    EXPECT_TRUE(run.Finished);
    EXPECT_EQ(run.ExitCode, 0);
    EXPECT_NE(run.Err.find("Orvane 意外退出\n" + kRecord), std::string::npos) << run.Err;
  }
}

// The window says the lists and settings are saved only when the record says the crash path saved
// everything.
TEST(BugReport, TheWindowSaysSavedOnlyWhenTheRecordDoes) {
  GuiApp();
  const std::string saved = "Orvane 4.0.1.15\nsignal: 6 SIGABRT (abort)\nsaved: yes\nbacktrace:\n";
  const std::string unsaved = "Orvane 4.0.1.15\nsignal: 6 SIGABRT (abort)\nsaved: no\nbacktrace:\n";
  const std::pair<std::string, bool> cases[] = {{saved, true}, {unsaved, false}, {kRecord, false}, {"", false}};
  for (const auto& [record, claimsSaved] : cases) {
    bugreport::TBugReportDialog dialog(record, {});
    bool found = false;
    for (const QLabel* label : dialog.findChildren<QLabel*>())
      found = found || label->text().contains(QStringLiteral("播放列表和设置都已保存"));
    EXPECT_EQ(found, claimsSaved) << record;
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
