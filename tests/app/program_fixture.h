#pragma once
// The real program end to end: a virtual display of its own, a private runtime folder, a private
// session bus when a test asks for one, short tones made with ffmpeg, and helpers to run the
// player, later starts of it and orvanectl.

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QProcess>
#include <QThread>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace orvane::test {

inline std::string BinFile(const std::string& name) { return std::string(ORVANE_BIN_DIR) + "/" + name; }

// A short tone as mp3, made with the ffmpeg command-line tool; empty when that fails.
inline std::string MakeTone(const TempDir& dir, const std::string& name, double seconds) {
  const std::string path = dir.File(name);
  QProcess ffmpeg;
  ffmpeg.start("ffmpeg", {"-loglevel", "error", "-y", "-f", "lavfi", "-i",
                          QString("sine=frequency=440:duration=%1").arg(seconds), "-metadata", "title=标题",
                          "-metadata", "artist=歌手", QString::fromStdString(path)});
  return ffmpeg.waitForFinished(30000) && ffmpeg.exitCode() == 0 ? path : std::string();
}

struct RunResult {
  int ExitCode = -1;
  std::string Out;
  std::string Err;
};

// A helper process started by a test (Xvfb, dbus-daemon) that prints one line when it is ready.
class ReadyProcess {
 public:
  ReadyProcess(const QString& program, const QStringList& arguments) {
    process.start(program, arguments);
    QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired() && !process.canReadLine() && process.state() != QProcess::NotRunning)
      process.waitForReadyRead(100);
    line = QString::fromUtf8(process.readLine()).trimmed().toStdString();
  }
  ~ReadyProcess() {
    process.terminate();
    if (!process.waitForFinished(5000)) process.kill();
    process.waitForFinished(5000);
  }
  const std::string& Line() const { return line; }

 private:
  QProcess process;
  std::string line;
};

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (QProcess::execute("sh", {"-c", "command -v Xvfb >/dev/null"}) != 0) GTEST_SKIP() << "no Xvfb";
    std::filesystem::create_directories(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all, std::filesystem::perm_options::replace);
    xvfb = std::make_unique<ReadyProcess>("Xvfb", QStringList{"-displayfd", "1", "-screen", "0", "1280x1024x24",
                                                              "-nolisten", "tcp"});
    ASSERT_FALSE(xvfb->Line().empty()) << "Xvfb did not start";
    display = ":" + xvfb->Line();
  }
  void TearDown() override {
    for (auto& player : players) {
      if (player->state() != QProcess::NotRunning) {
        player->kill();
        player->waitForFinished(5000);
      }
    }
    players.clear();
    bus.reset();
    xvfb.reset();
  }

  // The environment of the player and the programs around it. withDisplay: the virtual display.
  QProcessEnvironment Environment(bool withDisplay) const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime.string()));
    env.insert("SDL_AUDIODRIVER", "dummy");
    // Leak checks of the whole program would report Qt's own caches; its parts are checked in
    // process by the other tests.
    env.insert("ASAN_OPTIONS", "detect_leaks=0");
    env.remove("QT_QPA_PLATFORM");
    env.remove("DBUS_SESSION_BUS_ADDRESS");
    env.remove("WAYLAND_DISPLAY");
    if (withDisplay) env.insert("DISPLAY", QString::fromStdString(display));
    else env.remove("DISPLAY");
    if (bus) env.insert("DBUS_SESSION_BUS_ADDRESS", QString::fromStdString(bus->Line()));
    return env;
  }

  // A private session bus for the programs started from now on.
  void StartSessionBus() {
    bus = std::make_unique<ReadyProcess>("dbus-daemon", QStringList{"--session", "--nofork", "--print-address=1"});
    ASSERT_FALSE(bus->Line().empty()) << "dbus-daemon did not start";
  }

  // Starts the player (program: its path) and waits until it answers on its socket.
  QProcess& StartPlayer(const QStringList& arguments, const std::string& program = BinFile("orvane"),
                        const QProcessEnvironment* extra = nullptr) {
    auto player = std::make_unique<QProcess>();
    QProcessEnvironment env = Environment(true);
    if (extra) env.insert(*extra);
    player->setProcessEnvironment(env);
    player->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    player->setStandardOutputFile(QProcess::nullDevice());
    player->start(QString::fromStdString(program), arguments);
    EXPECT_TRUE(player->waitForStarted(10000));
    QDeadlineTimer deadline(30000);
    while (!deadline.hasExpired() && Run(BinFile("orvanectl"), {"count"}).ExitCode != 0) QThread::msleep(50);
    players.push_back(std::move(player));
    return *players.back();
  }

  // Runs a program to its end (at most 20 s) without the display, in folder (when given).
  RunResult Run(const std::string& program, const QStringList& arguments, const std::string& folder = {}) const {
    QProcess process;
    process.setProcessEnvironment(Environment(false));
    if (!folder.empty()) process.setWorkingDirectory(QString::fromStdString(folder));
    process.start(QString::fromStdString(program), arguments);
    RunResult result;
    if (!process.waitForFinished(20000)) {
      process.kill();
      process.waitForFinished();
      return result;
    }
    result.ExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.Out = process.readAllStandardOutput().toStdString();
    result.Err = process.readAllStandardError().toStdString();
    return result;
  }

  // orvanectl's answer to count or index, or -1000 when it failed.
  int Ask(const QString& command) const {
    const RunResult result = Run(BinFile("orvanectl"), {command});
    return result.ExitCode == 0 ? std::stoi(result.Out) : -1000;
  }

  TempDir dir;
  const std::filesystem::path runtime = dir.Path() / "runtime";
  std::string display;
  std::unique_ptr<ReadyProcess> xvfb;
  std::unique_ptr<ReadyProcess> bus;
  std::vector<std::unique_ptr<QProcess>> players;
};

}  // namespace orvane::test
