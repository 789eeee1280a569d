// The remote configuration as the update check reads it after the fetch.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "net/UntCkUpThread.h"

using orvane::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  orvane::net::TCheckUPDate check(std::string{});
  check.ConfigText.assign(reinterpret_cast<const char*>(data), size);
  check.ReadConfig();
  Check(check.ConfigValid == (check.ConfigText.find("Nimcase") != std::string::npos), "valid means marked");
  Check(!check.UpdateAvailable || check.ConfigValid, "no update without a valid document");
  orvane::net::TRemoteSettings settings;
  const auto actions = orvane::net::UpdateChecked(check, settings, "/opt/orvane/", 42, {});
  Check(actions.UpdaterCommandLine.empty() == !check.UpdateAvailable, "an updater only for an update");
  return 0;
}
