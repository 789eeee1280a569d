#include "plugins/UPluginFramework.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <utility>

#include "plugins/FaultGuard.h"

namespace orvane::plugins {
namespace {

struct InfoCall {
  TUSPluginInfoFunction Function = nullptr;
  const TPluginInfo* Info = nullptr;
  uint16_t InfoVersion = 0;
  uint16_t ApiVersion = 0;
  TPluginCallback Callback = nullptr;
};

// "USPluginInfo" and the fields the host uses, read while the call is guarded: the callback read
// here is the one the host keeps and calls, never read again from plug-in memory.
void CallInfo(void* context) {
  auto* call = static_cast<InfoCall*>(context);
  try {
    call->Info = call->Function(PLUGIN_API_VERSION);
    if (!call->Info) return;
    call->InfoVersion = call->Info->InfoVersion;
    call->ApiVersion = call->Info->ApiVersion;
    call->Callback = call->Info->Callback;  // the record's far end: a short record faults here
  } catch (...) {
    call->Info = nullptr;
  }
}

struct CallbackCall {
  TPluginCallback Callback = nullptr;
  int32_t Message = 0;
  uintptr_t Param1 = 0;
  int32_t Param2 = 0;
  int32_t Result = 0;
  bool Returned = false;
};

void CallCallback(void* context) {
  auto* call = static_cast<CallbackCall*>(context);
  try {
    call->Result = call->Callback(call->Message, call->Param1, call->Param2);
    call->Returned = true;
  } catch (...) {
  }
}

// Closes the descriptor on every way out, unless it was kept.
struct Fd {
  int fd;
  explicit Fd(int fd) : fd(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  int Keep() { return std::exchange(fd, -1); }
};

// Whoever owns a folder or file, or may write it, decides what code runs inside the player.
bool Trusted(const struct stat& info) {
  const bool owner = info.st_uid == ::geteuid() || info.st_uid == 0;
  return owner && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::string InFolder(const std::string& folder, const std::string& name) {
  return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

bool EndsWithSo(std::string_view name) { return name.size() > 3 && name.substr(name.size() - 3) == ".so"; }

}  // namespace

TUSGeneralPurpose::TUSGeneralPurpose(uintptr_t /*ownerWindow*/, const std::string& folder) { LoadPluginFolder(folder); }

TUSGeneralPurpose::~TUSGeneralPurpose() { UnloadPlugins(); }

// The folder's descriptor when it is a folder nobody but the user or root may change; -1 otherwise
// (an untrusted one is noted).
int TUSGeneralPurpose::OpenTrustedFolder(const std::string& folder) {
  Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  struct stat info {};
  if (dir.fd < 0 || ::fstat(dir.fd, &info) != 0) return -1;
  if (!Trusted(info)) {
    if (std::find(untrusted.begin(), untrusted.end(), folder) == untrusted.end()) untrusted.push_back(folder);
    return -1;
  }
  return dir.Keep();
}

void TUSGeneralPurpose::LoadPluginFolder(const std::string& folder) {
  if (folder.empty()) return;
  const Fd dir(OpenTrustedFolder(folder));
  if (dir.fd < 0) return;
  // The listing reads a copy of the descriptor: closedir closes it, the checked one stays ours.
  DIR* listing = ::fdopendir(::fcntl(dir.fd, F_DUPFD_CLOEXEC, 0));
  if (!listing) return;
  while (const dirent* entry = ::readdir(listing)) {
    if (EndsWithSo(entry->d_name)) LoadCheckedFile(dir.fd, folder, entry->d_name);
  }
  ::closedir(listing);
}

bool TUSGeneralPurpose::LoadPlugin(const std::string& fileName) {
  if (count >= MaxPlugins || fileName.empty()) return false;
  const size_t slash = fileName.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : fileName.substr(0, slash);
  const std::string name = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
  if (name.empty()) return false;
  const Fd dir(OpenTrustedFolder(folder));
  return dir.fd >= 0 && LoadCheckedFile(dir.fd, folder, name);
}

bool TUSGeneralPurpose::LoadCheckedFile(int folderFd, const std::string& folder, const std::string& name) {
  if (count >= MaxPlugins) return false;
  // O_NOFOLLOW: a link could lead anywhere, whoever owns the link. O_NONBLOCK: opening a FIFO
  // must not wait for a writer.
  Fd file(::openat(folderFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (file.fd < 0) {
    if (errno == ELOOP) untrusted.push_back(InFolder(folder, name));
    return false;
  }
  struct stat info {};
  if (::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
  if (!Trusted(info)) {
    untrusted.push_back(InFolder(folder, name));
    return false;
  }
  // The loader opens the checked file itself, not whatever the name leads to by now.
  const std::string loadName = "/proc/self/fd/" + std::to_string(file.fd);
  void* module = ::dlopen(loadName.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) return false;
  for (uint8_t i = 0; i < count; ++i) {
    if (plugins[i].Module == module) {
      ::dlclose(module);
      return false;
    }
  }
  InfoCall call;
  call.Function = reinterpret_cast<TUSPluginInfoFunction>(::dlsym(module, PLUGIN_INFO_EXPORT));
  if (!call.Function) {
    ::dlclose(module);
    return false;
  }
  if (!CallGuarded(CallInfo, &call)) {
    // After a fault inside the library its state is unknown, and unloading would run more of its
    // code: it stays loaded, unregistered, and its name stays taken for good.
    file.Keep();
    return false;
  }
  if (!call.Info || call.InfoVersion != PLUGIN_INFO_VERSION || call.ApiVersion != PLUGIN_API_VERSION) {
    ::dlclose(module);
    return false;
  }
  Entry& entry = plugins[count++];
  entry = Entry{module, call.Info, call.Callback, false, file.Keep()};
  // Accepted whatever the greeting does; a fault in it ends the plug-in's messages there.
  int32_t ignored = 0;
  Deliver(entry, PLUGIN_LOADED, 0, 0, ignored);
  return true;
}

bool TUSGeneralPurpose::Deliver(Entry& entry, int32_t message, uintptr_t param1, int32_t param2, int32_t& result) {
  if (entry.Faulted || !entry.Callback) return false;
  CallbackCall call;
  call.Callback = entry.Callback;
  call.Message = message;
  call.Param1 = param1;
  call.Param2 = param2;
  if (!CallGuarded(CallCallback, &call)) {
    entry.Faulted = true;
    return false;
  }
  if (!call.Returned) return false;
  result = call.Result;
  return true;
}

void TUSGeneralPurpose::UnloadPlugins() {
  for (uint8_t i = 0; i < count; ++i) {
    Entry& entry = plugins[i];
    int32_t ignored = 0;
    Deliver(entry, PLUGIN_UNLOADING, 0, 0, ignored);
    // A plug-in that faulted (before or just now) stays loaded, and its file open, for good.
    if (!entry.Faulted) {
      ::dlclose(entry.Module);
      ::close(entry.File);
    }
    entry = Entry{};
  }
  count = 0;
}

int32_t TUSGeneralPurpose::BroadcastToPlugins(int32_t message, uintptr_t param1, int32_t param2) {
  int32_t result = 1;
  for (uint8_t i = 0; i < count; ++i) Deliver(plugins[i], message, param1, param2, result);
  return result;
}

}  // namespace orvane::plugins
