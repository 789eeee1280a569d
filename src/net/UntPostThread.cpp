#include "net/UntPostThread.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <utility>
#include <vector>

#include "net/ServerUrl.h"
#include "text/AtomicFile.h"
#include "text/TextUtil.h"

namespace orvane::net {
namespace {

constexpr int32_t kUserNumber = 1110;
constexpr int kLoopbackType = 772;  // ARPHRD_LOOPBACK

std::string ReadSmallFile(const std::filesystem::path& file) {
  std::string bytes;
  if (!text::ReadWholeFile(file.string(), bytes)) return {};
  return std::string(text::Trim(bytes));
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "00:11:22:aa:bb:cc" → "001122AABBCC"; empty for anything else, and for an all-zero address.
std::string MacDigits(std::string_view address) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  if (address.size() != 17) return {};
  std::string digits;
  bool allZero = true;
  for (size_t i = 0; i < 17; i += 3) {
    if (i + 2 < 17 && address[i + 2] != ':') return {};
    const int high = HexValue(address[i]);
    const int low = HexValue(address[i + 1]);
    if (high < 0 || low < 0) return {};
    if (high || low) allZero = false;
    digits += kHex[high];
    digits += kHex[low];
  }
  return allZero ? std::string() : digits;
}

}  // namespace

TPostThr::TPostThr(std::string PostUrl, std::string PostBody, std::shared_ptr<std::mutex> ReportLock)
    : PostUrl(std::move(PostUrl)), PostBody(std::move(PostBody)), ReportLock(std::move(ReportLock)) {}

void TPostThr::Execute() {
  std::unique_lock<std::mutex> lock;
  if (ReportLock) lock = std::unique_lock(*ReportLock);
  HttpPostForm(PostUrl, PostBody, Http);
}

std::string ReportBody(std::string_view mc) {
  return "uid=" + std::to_string(kUserNumber) + "&mc=" + EncodeUrlValueGbk(mc);
}

std::string GetAdapterAddress(int32_t Index) { return GetAdapterAddress(Index, "/sys/class/net"); }

std::string GetAdapterAddress(int32_t Index, const std::string& interfacesFolder) try {
  if (Index < 0) return {};
  std::vector<std::pair<int, std::string>> adapters;  // interface index, address digits
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(interfacesFolder, ec)) {
    const std::filesystem::path folder = entry.path();
    const std::optional<int32_t> type = text::ParseInt32(ReadSmallFile(folder / "type"));
    if (type && *type == kLoopbackType) continue;
    const std::optional<int32_t> index = text::ParseInt32(ReadSmallFile(folder / "ifindex"));
    if (!index) continue;
    std::string digits = MacDigits(ReadSmallFile(folder / "address"));
    if (digits.empty()) continue;
    adapters.emplace_back(*index, std::move(digits));
  }
  std::sort(adapters.begin(), adapters.end());
  if (static_cast<size_t>(Index) >= adapters.size()) return {};
  return adapters[static_cast<size_t>(Index)].second;
} catch (...) {
  return {};  // a folder that changes while it is listed: no address rather than a failure
}

}  // namespace orvane::net
