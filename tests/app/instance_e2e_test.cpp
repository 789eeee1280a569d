// The real program on a virtual display with a private runtime folder: one player per login, later
// starts and orvanectl handing it commands, bad traffic on its socket, its windows' identity, the
// desktop's media controls and a fault that ends it cleanly.
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QRegularExpression>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>

#include "app/mapshare.h"
#include "main_window_fixture.h"
#include "program_fixture.h"
#include "store/UYmPlayerlist.h"
#include "store/UYmXMLCFG.h"

namespace orvane::test {
namespace {

namespace fs = std::filesystem;

// The music list's locations as saved.
std::vector<std::string> SavedLocations() {
  store::TYkPlist plist(DataFolder() + "Default.pls", "DefaultList");
  plist.Load("PlayerList");
  std::vector<std::string> locations;
  for (const store::TPList& item : plist.Items()) locations.push_back(item.Path);
  return locations;
}

// The same once the player's list saver has written count songs (it saves shortly after a change).
std::vector<std::string> SavedLocations(size_t count) {
  std::vector<std::string> saved;
  ProcessEventsUntil([&] { return (saved = SavedLocations()).size() == count; }, 10000);
  return saved;
}

class InstanceEndToEnd : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    if (IsSkipped()) return;
    tone = MakeTone(songs, "tone.mp3", 60);
    ASSERT_FALSE(tone.empty());
  }

  TempDir songs;
  std::string tone;
};

TEST_F(InstanceEndToEnd, LaterStartsHandTheirCommandLineToTheRunningPlayer) {
  const std::string second = MakeTone(songs, "second.mp3", 60);
  WriteFileBytes(songs.File("--version"), "x");
  QProcess& player = StartPlayer({});
  ASSERT_EQ(Ask("count"), 0);
  struct Case {
    QStringList Args;
    std::vector<std::string> Added;  // what the music list gains, in order
    int Index;                       // the current song afterwards
    int ExitCode = 0;
  };
  const Case cases[] = {
      {{"tone.mp3"}, {tone}, 0},  // relative to the later start's folder, not the player's; it plays
      {{"/L", "tone.mp3"}, {"/L", tone}, -1},
      {{"/l"}, {}, -1},           // nothing to add: the player comes forward, no empty row
      {{"/l", "./tone.mp3", "second.mp3"}, {tone, second}, -1},
      {{"second.mp3", "tone.mp3"}, {second, tone}, 5},  // every file, the first plays
      {{"/l", "--", "--version"}, {songs.File("--version")}, 5},  // after "--", a file
      {{}, {}, 5},
      {{""}, {}, 5, 2},           // an empty file name is refused
      {{"--frob"}, {}, 5, 2},
  };
  // A song that cannot be opened ("/L") is skipped a second later: the index is looked at only
  // where a song that plays was asked for.
  std::vector<std::string> expected;
  for (const Case& c : cases) {
    // The later start needs no display, and ends once the player has handled its command.
    const RunResult run = Run(BinFile("orvane"), c.Args, songs.Path().string());
    EXPECT_EQ(run.ExitCode, c.ExitCode) << c.Args.join(' ').toStdString() << run.Err;
    expected.insert(expected.end(), c.Added.begin(), c.Added.end());
    EXPECT_EQ(SavedLocations(expected.size()), expected) << c.Args.join(' ').toStdString();
    EXPECT_EQ(Ask("count"), static_cast<int>(expected.size()));
    if (c.Index >= 0) {
      EXPECT_EQ(Ask("index"), c.Index) << c.Args.join(' ').toStdString();
    }
  }
  EXPECT_EQ(player.state(), QProcess::Running);
  // An option is an option before any file, even with a file of its name in the folder.
  EXPECT_NE(Run(BinFile("orvane"), {"--version"}, songs.Path().string()).Out.find("Orvane "), std::string::npos);
  EXPECT_EQ(Ask("count"), static_cast<int>(expected.size()));
}

TEST_F(InstanceEndToEnd, AKilledPlayerDoesNotBlockTheNextStart) {
  QProcess& first = StartPlayer({});
  first.kill();
  ASSERT_TRUE(first.waitForFinished(10000));
  ASSERT_TRUE(fs::exists(runtime / app::kWindowSocketName));  // left behind
  // The next start is the first instance again, and its own song is added after its lists load.
  QProcess& next = StartPlayer({"/l", QString::fromStdString(tone)});
  ASSERT_TRUE(ProcessEventsUntil([this] { return Ask("count") == 1; }, 10000));
  EXPECT_EQ(SavedLocations(1), std::vector<std::string>{tone});
  next.terminate();
  ASSERT_TRUE(next.waitForFinished(10000));
  EXPECT_EQ(next.exitCode(), 0);
  EXPECT_EQ(Run(BinFile("orvanectl"), {"count"}).ExitCode, 1);
}

TEST_F(InstanceEndToEnd, OrvanectlDrivesThePlayerAndSaysWhenNoneRuns) {
  struct Usage {
    QStringList Args;
    int ExitCode;
  };
  const Usage usages[] = {{{"--help"}, 0},         {{}, 2},         {{"play"}, 2},  {{"play", ""}, 2},
                          {{"add", "a.mp3", ""}, 2}, {{"count", "extra"}, 2}, {{"frob"}, 2}, {{"count"}, 1}};
  for (const Usage& usage : usages) {
    const RunResult run = Run(BinFile("orvanectl"), usage.Args);
    EXPECT_EQ(run.ExitCode, usage.ExitCode) << usage.Args.join(' ').toStdString();
    if (usage.ExitCode == 1) {
      EXPECT_EQ(std::count(run.Err.begin(), run.Err.end(), '\n'), 1) << run.Err;
    }
  }
  EXPECT_NE(Run(BinFile("orvanectl"), {"--help"}).Out.find("play-online TEXT"), std::string::npos);

  const std::string second = MakeTone(songs, "second.mp3", 60);
  WriteSavedLists({{"a", "", tone}, {"b", "", second}});
  // The bus only tells the test when a song plays: an open asked for while another is still
  // under way is refused, and the error rule would then move on a second later.
  StartSessionBus();
  StartPlayer({});
  const auto playing = [this] {
    return Run("dbus-send", {"--session", "--print-reply", "--dest=org.mpris.MediaPlayer2.orvane",
                             "/org/mpris/MediaPlayer2", "org.freedesktop.DBus.Properties.Get",
                             "string:org.mpris.MediaPlayer2.Player", "string:PlaybackStatus"})
               .Out.find("\"Playing\"") != std::string::npos;
  };
  struct Step {
    QStringList Args;
    int Count;
    int Index;
  };
  const Step steps[] = {
      {{"count"}, 2, 0},
      {{"play-pause"}, 2, 0},
      {{"next"}, 2, 1},
      {{"previous"}, 2, 0},
      {{"add", "tone.mp3"}, 3, 0},
      {{"play", "second.mp3"}, 4, 3},
      {{"add-online", "\"a.mp3|标题-歌手|1\",\"b.mp3|Two|2\","}, 6, 3},
      {{"play-online", QString::fromStdString("\"" + tone + "|Three|3\",")}, 7, 6},
  };
  for (const Step& step : steps) {
    const RunResult run = Run(BinFile("orvanectl"), step.Args, songs.Path().string());
    EXPECT_EQ(run.ExitCode, 0) << step.Args.join(' ').toStdString() << run.Err;
    EXPECT_EQ(Ask("count"), step.Count) << step.Args.join(' ').toStdString();
    EXPECT_EQ(Ask("index"), step.Index) << step.Args.join(' ').toStdString();
    if (step.Args.first().startsWith("play") || step.Args.first() == "next" || step.Args.first() == "previous") {
      EXPECT_TRUE(ProcessEventsUntil(playing, 10000)) << step.Args.join(' ').toStdString();
    }
  }
  const std::vector<std::string> saved = SavedLocations(7);
  ASSERT_EQ(saved.size(), 7u);
  EXPECT_EQ(saved[2], tone);
  EXPECT_EQ(saved[4], "a.mp3");  // no music address from the server here: the bare path
}

TEST_F(InstanceEndToEnd, BadTrafficOnTheSocketLeavesThePlayerResponsive) {
  StartPlayer({});
  const std::string socketPath = (runtime / app::kWindowSocketName).string();
  auto connectRaw = [&] {
    app::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, socketPath.c_str());
    return ::connect(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ? std::move(fd) : app::UniqueFd();
  };
  auto bytesOf = [](const app::TMessage& message) {
    unsigned char bytes[app::kMessageBytes];
    app::EncodeMessage(message, bytes);
    return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
  };
  std::vector<app::UniqueFd> idle;
  for (int i = 0; i < 100; ++i) idle.push_back(connectRaw());  // connect and never send
  for (const std::string& bytes : {std::string("\x01\x02\x03", 3), bytesOf({99, 1, 2}) + std::string(7, '\xff')}) {
    app::UniqueFd fd = connectRaw();
    ASSERT_TRUE(fd.Valid());
    ASSERT_EQ(::send(fd.Get(), bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
  }
  auto folder = app::TRuntimeFolder::OpenWith(runtime.c_str(), dir.Path().string(), nullptr);
  ASSERT_TRUE(folder);
  auto block = app::TCommandBlock::Open(*folder, false);
  ASSERT_TRUE(block);
  // The hand-off message with lParam 0 only clears the block.
  block->Write(11, tone);
  {
    app::UniqueFd window = app::ConnectWindowSocket(*folder, 1000);
    EXPECT_EQ(app::SendWindowMessage(window.Get(), {app::WM_SHAREDCOMMAND, 1, 0}, 5000), 0);
    EXPECT_EQ(block->Code(), 0);
    EXPECT_EQ(Ask("count"), 0);
  }
  // A block whose text has no zero byte: 65,535 bytes are taken, and the player goes on.
  {
    app::UniqueFd window = app::ConnectWindowSocket(*folder, 1000);
    ASSERT_TRUE(block->LockForWriting(5000));
    std::memset(block->Bytes(), 'a', app::kCommandBlockSize);
    block->Bytes()[0] = 11;
    EXPECT_EQ(app::SendWindowMessage(window.Get(), {app::WM_SHAREDCOMMAND, 1, 1}, 5000), 0);
    block->UnlockForWriting();
    EXPECT_EQ(block->Code(), 0);  // cleared once handled
  }
  EXPECT_EQ(Ask("count"), 1);
  const std::vector<std::string> saved = SavedLocations(1);
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_EQ(saved[0], std::string(app::kCommandTextMax, 'a'));
}

// The class X11 reports for each of the program's top-level windows.
std::set<std::string> WindowClasses(const std::string& display) {
  QProcess list;
  list.start("xwininfo", {"-display", QString::fromStdString(display), "-root", "-children"});
  list.waitForFinished(10000);
  std::set<std::string> classes;
  const QRegularExpression id("^\\s+(0x[0-9a-f]+)\\s", QRegularExpression::MultilineOption);
  for (auto it = id.globalMatch(QString::fromUtf8(list.readAllStandardOutput())); it.hasNext();) {
    QProcess prop;
    prop.start("xprop", {"-display", QString::fromStdString(display), "-id", it.next().captured(1), "WM_CLASS"});
    prop.waitForFinished(10000);
    // WM_CLASS(STRING) = "instance", "class", with bytes above 127 written as \ooo.
    const std::string line = prop.readAllStandardOutput().toStdString();
    const auto comma = line.find("\", \"");
    if (comma == std::string::npos) continue;
    std::string value;
    for (size_t i = comma + 4; i < line.size() && line[i] != '"'; ++i) {
      if (line[i] == '\\' && i + 3 < line.size()) {
        value += static_cast<char>(std::stoi(line.substr(i + 1, 3), nullptr, 8));
        i += 3;
      } else {
        value += line[i];
      }
    }
    classes.insert(value);
  }
  return classes;
}

TEST_F(InstanceEndToEnd, EachWindowHasItsOwnClass) {
  StartPlayer({});
  std::set<std::string> classes;
  ProcessEventsUntil([&] {
    classes = WindowClasses(display);
    return classes.count("Orvane") && classes.count("Orvane 桌面歌词");
  }, 10000);
  EXPECT_TRUE(classes.count("Orvane")) << ::testing::PrintToString(classes);
  EXPECT_TRUE(classes.count("Orvane 桌面歌词")) << ::testing::PrintToString(classes);
}

TEST_F(InstanceEndToEnd, TheDesktopsMediaControlsReachThePlayer) {
  StartSessionBus();
  WriteSavedLists({{"a", "", tone}});
  StartPlayer({});
  auto send = [this](const QStringList& call) {
    QStringList arguments{"--session", "--print-reply", "--dest=org.mpris.MediaPlayer2.orvane", "/org/mpris/MediaPlayer2"};
    arguments << call;
    return Run("dbus-send", arguments).Out;
  };
  const QStringList status{"org.freedesktop.DBus.Properties.Get", "string:org.mpris.MediaPlayer2.Player",
                           "string:PlaybackStatus"};
  EXPECT_NE(send({"org.freedesktop.DBus.Properties.Get", "string:org.mpris.MediaPlayer2", "string:Identity"})
                .find("\"Orvane\""),
            std::string::npos);
  EXPECT_NE(send(status).find("\"Stopped\""), std::string::npos);
  send({"org.mpris.MediaPlayer2.Player.PlayPause"});
  EXPECT_TRUE(ProcessEventsUntil([&] { return send(status).find("\"Playing\"") != std::string::npos; }, 10000));
  send({"org.mpris.MediaPlayer2.Quit"});
  ASSERT_TRUE(players.back()->waitForFinished(10000));
  EXPECT_EQ(players.back()->exitCode(), 0);
}

// A copy of the program in a folder of its own, with a stand-in for the crash reporter that
// writes down how it was started.
std::string StageProgram(const fs::path& folder) {
  fs::create_directories(folder);
  for (const char* name : {"orvane", "liborvane_player.so", "effect.dat"})
    fs::copy_file(BinFile(name), folder / name);
  WriteFileBytes(folder / "bugreport", "#!/bin/sh\necho \"$@\" > \"$ORVANE_TEST_REPORTER_LOG\"\n");
  fs::permissions(folder / "bugreport", fs::perms::owner_all);
  return (folder / "orvane").string();
}

TEST_F(InstanceEndToEnd, AFaultOnAWorkerThreadEndsThePlayerCleanly) {
  StartSessionBus();
  const std::string program = StageProgram(dir.Path() / "program");
  const std::string reporterLog = dir.File("reporter.log");
  QProcessEnvironment extra;
  extra.insert("ORVANE_TEST_REPORTER_LOG", QString::fromStdString(reporterLog));
  QProcess& player = StartPlayer({}, program, &extra);

  // A song and a setting changed a moment before the fault.
  ASSERT_EQ(Run(BinFile("orvanectl"), {"add", QString::fromStdString(tone)}).ExitCode, 0);
  Run("dbus-send", {"--session", "--print-reply", "--dest=org.mpris.MediaPlayer2.orvane", "/org/mpris/MediaPlayer2",
                    "org.freedesktop.DBus.Properties.Set", "string:org.mpris.MediaPlayer2.Player", "string:Volume",
                    "variant:double:0.3"});
  QThread::msleep(1000);

  const pid_t pid = static_cast<pid_t>(player.processId());
  pid_t worker = 0;
  for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
    const pid_t tid = std::stoi(task.path().filename().string());
    if (tid != pid) worker = tid;
  }
  ASSERT_NE(worker, 0);
  ASSERT_EQ(::syscall(SYS_tgkill, pid, worker, SIGSEGV), 0);
  ASSERT_TRUE(player.waitForFinished(10000));
  EXPECT_EQ(player.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(player.exitCode(), 0);

  // The stand-in makes its log before it writes to it.
  EXPECT_TRUE(ProcessEventsUntil([&] { return fs::exists(reporterLog) && ReadFileBytes(reporterLog) == "-os\n"; }, 5000));
  const std::string record = ReadFileBytes(DataFolder() + "LastCrash.txt");
  EXPECT_NE(record.find("SIGSEGV"), std::string::npos) << record;
  EXPECT_NE(record.find("thread: " + std::to_string(worker)), std::string::npos) << record;
  EXPECT_NE(record.find("(worker thread)"), std::string::npos) << record;
  EXPECT_NE(record.find("backtrace:\n"), std::string::npos) << record;
  store::TYkConfig config(DataFolder() + "Orvane.xml", "MainConfig");
  EXPECT_EQ(config.ReadInteger("Window/Volume", "Value", -1), 30);
  EXPECT_EQ(SavedLocations(1), std::vector<std::string>{tone});
  // The lock went with the player: the next start is the first instance.
  EXPECT_EQ(Run(BinFile("orvanectl"), {"count"}).ExitCode, 1);
}

}  // namespace
}  // namespace orvane::test
