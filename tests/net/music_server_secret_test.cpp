// Where the music server's password is kept: a real keyring (gnome-keyring's Secret Service on a
// private session bus) and, where none answers, the file only the user may read.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QProcess>
#include <QThread>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "net/MusicServerSecret.h"
#include "support/temp_dir.h"

using namespace orvane::net;
using orvane::test::ReadFileBytes;
using orvane::test::TempDir;

namespace {

const TSecretKey kKey{"https://music.example.org", "alice"};
constexpr const char* kPassword = "pass\nword 密码";

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

}  // namespace

// No session bus at all (a desktop without a keyring): the password goes into a file of mode 0600
// whatever the umask, holds no clear text, and comes back for this server and user only.
TEST(MusicServerSecret, WithoutAKeyringThePasswordGoesToAPrivateFile) {
  ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
  ::unsetenv("DISPLAY");
  TempDir data;
  const std::string folder = data.Path().string() + "/";
  const std::string file = folder + kServerSecretFile;
  const auto secrets = MakeSecretStore(folder);
  EXPECT_FALSE(secrets->KeyringAvailable());

  const mode_t oldMask = ::umask(0);
  const TSecretResult stored = secrets->Store(kKey, kPassword);
  ::umask(oldMask);
  EXPECT_EQ(stored.Place, TSecretPlace::File);
  EXPECT_EQ(ModeOf(file), 0600);
  EXPECT_EQ(ReadFileBytes(file).find("pass"), std::string::npos);

  const TSecretResult found = secrets->Lookup(kKey);
  EXPECT_EQ(found.Place, TSecretPlace::File);
  EXPECT_EQ(found.Password, kPassword);
  EXPECT_EQ(secrets->Lookup({kKey.Address, "bob"}).Place, TSecretPlace::Nowhere);
  EXPECT_EQ(secrets->Lookup({"https://other.example.org", kKey.User}).Place, TSecretPlace::Nowhere);

  secrets->Forget(kKey);
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_EQ(secrets->Lookup(kKey).Place, TSecretPlace::Nowhere);
}

// A real Secret Service: the password goes to the keyring and nowhere else.
TEST(MusicServerSecret, TheKeyringKeepsThePassword) {
  int argc = 1;
  char name[] = "secret-test";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  QProcess bus;
  QProcess keyring;
  // Stopped by their own ids however the test ends.
  struct Stop {
    QProcess& process;
    ~Stop() {
      process.kill();
      process.waitForFinished();
    }
  } stopBus{bus}, stopKeyring{keyring};
  bus.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
  if (!bus.waitForStarted(5000)) GTEST_SKIP() << "dbus-daemon is not installed";
  ASSERT_TRUE(bus.waitForReadyRead(5000));
  const QByteArray address = bus.readLine().trimmed();
  ::setenv("DBUS_SESSION_BUS_ADDRESS", address.constData(), 1);
  ::unsetenv("DISPLAY");
  keyring.start("gnome-keyring-daemon", {"--foreground", "--unlock", "--components=secrets"});
  if (!keyring.waitForStarted(5000)) GTEST_SKIP() << "gnome-keyring-daemon is not installed";
  // The login keyring's password on standard input: it is made and unlocked with it.
  keyring.write("test-login");
  keyring.waitForBytesWritten(5000);
  keyring.closeWriteChannel();

  // Ready once the login keyring is written (the service answers a little earlier than that).
  const std::string loginKeyring = std::string(std::getenv("XDG_DATA_HOME")) + "/keyrings/login.keyring";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!std::filesystem::exists(loginKeyring) && std::chrono::steady_clock::now() < deadline) QThread::msleep(20);

  TempDir data;
  const std::string folder = data.Path().string() + "/";
  const auto secrets = MakeSecretStore(folder);
  ASSERT_TRUE(secrets->KeyringAvailable());

  // A copy left in the file from a time without a keyring goes when the keyring takes over.
  orvane::test::WriteFileBytes(folder + kServerSecretFile, "old\nold\n00\n");
  const TSecretResult stored = secrets->Store(kKey, kPassword);
  ASSERT_EQ(stored.Place, TSecretPlace::Keyring) << stored.Error;
  EXPECT_FALSE(std::filesystem::exists(folder + kServerSecretFile));
  const TSecretResult found = secrets->Lookup(kKey);
  EXPECT_EQ(found.Place, TSecretPlace::Keyring);
  EXPECT_EQ(found.Password, kPassword);
  EXPECT_EQ(secrets->Lookup({kKey.Address, "bob"}).Place, TSecretPlace::Nowhere);
  secrets->Forget(kKey);
  EXPECT_EQ(secrets->Lookup(kKey).Place, TSecretPlace::Nowhere);
}
