#pragma once
// The usage report: once per run, a few seconds after a valid remote configuration, a form POST of
// a fixed user number and the machine's first network adapter address to the report address.
//
// Threads: TPostThr runs on a worker thread (TWorkerHost); it holds ReportLock while it posts, so
// only one report posts at a time. The lock is shared: the main window creates it and hands a
// reference to each report, so a report still running when the window goes keeps it alive.
// GetAdapterAddress and ReportBody are callable on any thread.
//
// The main window's part (tmr_chkTimer, main thread, after OnlineFlag was seen true):
//   auto report = std::make_shared<net::TPostThr>(Remote.ReportUrl, net::ReportBody(net::GetAdapterAddress(0)), ReportLock);
//   if (workers.Start(report, [this](net::TPostThr&) { ReportSent(); })) ReportThread = report;
//   tmr_chk.stop();

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "net/HttpClient.h"
#include "net/WorkerHost.h"

namespace orvane::net {

class TPostThr : public TWorker {
 public:
  TPostThr(std::string PostUrl, std::string PostBody, std::shared_ptr<std::mutex> ReportLock);

  // Takes ReportLock, posts PostBody to PostUrl with HttpPostForm, discards the reply.
  void Execute() override;

  std::string PostUrl;
  std::string PostBody;
  std::shared_ptr<std::mutex> ReportLock;  // may be null: then nothing is serialised
  HttpOptions Http;
};

// "uid=1110&mc=" followed by mc escaped for the product's server (hex digits and the empty text
// stay as they are).
std::string ReportBody(std::string_view mc);

// The hardware address of network adapter Index (0 the first) as 12 upper-case hex digits, or the
// empty text when there is no such adapter. Adapters are the interfaces under /sys/class/net in
// order of interface index, leaving out loopback interfaces and those without a 6-byte address or
// whose address is all zeros (tunnels, some virtual interfaces).
std::string GetAdapterAddress(int32_t Index);
// The same over another folder laid out like /sys/class/net (for tests).
std::string GetAdapterAddress(int32_t Index, const std::string& interfacesFolder);

}  // namespace orvane::net
