#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>

#include "net/UntPostThread.h"
#include "support/fixture_server.h"
#include "support/temp_dir.h"

using namespace orvane::net;
using orvane::test::FixtureReply;
using orvane::test::FixtureServer;
using orvane::test::TempDir;

namespace {

// One interface folder as /sys/class/net has it; an empty address leaves the file out.
void AddInterface(const TempDir& root, const std::string& name, int index, int type, const std::string& address) {
  const auto folder = root.Path() / name;
  std::filesystem::create_directories(folder);
  orvane::test::WriteFileBytes(folder / "ifindex", std::to_string(index) + "\n");
  orvane::test::WriteFileBytes(folder / "type", std::to_string(type) + "\n");
  if (!address.empty()) orvane::test::WriteFileBytes(folder / "address", address + "\n");
}

}  // namespace

TEST(GetAdapterAddress, FirstRealAdapterByInterfaceIndex) {
  TempDir sys;
  AddInterface(sys, "lo", 1, 772, "00:00:00:00:00:00");
  AddInterface(sys, "wlan0", 3, 1, "aa:bb:cc:dd:ee:0f");
  AddInterface(sys, "eth0", 2, 1, "00:11:22:aa:bb:cc");
  AddInterface(sys, "tun0", 4, 65534, "");                    // no hardware address
  AddInterface(sys, "dummy0", 5, 1, "00:00:00:00:00:00");     // all zeros: none
  AddInterface(sys, "odd0", 6, 1, "00:11:22:33:44");          // not six bytes
  EXPECT_EQ(GetAdapterAddress(0, sys.Path().string()), "001122AABBCC");
  EXPECT_EQ(GetAdapterAddress(1, sys.Path().string()), "AABBCCDDEE0F");
  EXPECT_EQ(GetAdapterAddress(2, sys.Path().string()), "");
  EXPECT_EQ(GetAdapterAddress(-1, sys.Path().string()), "");

  TempDir onlyLoopback;
  AddInterface(onlyLoopback, "lo", 1, 772, "00:00:00:00:00:00");
  EXPECT_EQ(GetAdapterAddress(0, onlyLoopback.Path().string()), "");
  EXPECT_EQ(GetAdapterAddress(0, (sys.Path() / "missing").string()), "");

  // This machine: twelve upper-case hex digits or nothing.
  EXPECT_TRUE(std::regex_match(GetAdapterAddress(0), std::regex("([0-9A-F]{12})?")));
}

TEST(TPostThr, PostsTheReportBodyExactly) {
  FixtureServer server;
  server.Serve("/tj.aspx", FixtureReply::Text("ok"));
  TPostThr report("http://127.0.0.1/tj.aspx", ReportBody("001122AABBCC"), std::make_shared<std::mutex>());
  report.Http.postPort = server.Port();
  report.Execute();
  TPostThr noAdapter("http://127.0.0.1/tj.aspx", ReportBody(""), nullptr);
  noAdapter.Http.postPort = server.Port();
  noAdapter.Execute();

  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].requestLine, "POST /tj.aspx HTTP/1.0");
  EXPECT_EQ(requests[0].Header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(requests[0].body, "uid=1110&mc=001122AABBCC");
  EXPECT_EQ(requests[1].body, "uid=1110&mc=");
}

TEST(TPostThr, PostsOnlyWhileHoldingTheReportLock) {
  FixtureServer server;
  auto lock = std::make_shared<std::mutex>();
  auto report = std::make_shared<TPostThr>("http://127.0.0.1/tj.aspx", ReportBody("0A0B0C0D0E0F"), lock);
  report->Http.postPort = server.Port();
  std::unique_lock held(*lock);
  std::thread thread([report] { report->Execute(); });
  EXPECT_TRUE(server.WaitForRequests(1, 300).empty());
  held.unlock();
  EXPECT_EQ(server.WaitForRequests(1).size(), 1u);
  thread.join();
  EXPECT_TRUE(lock->try_lock());  // released after the post
  lock->unlock();
}
