#include "plugins/UPluginFramework.h"

#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>

#include <string_view>

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

// "USPluginInfo" and the two fields the host checks, read while the call is guarded.
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

// Calls a plug-in's callback; empty when it threw or faulted.
bool Deliver(TPluginCallback callback, int32_t message, uintptr_t param1, int32_t param2, int32_t& result) {
  CallbackCall call;
  call.Callback = callback;
  call.Message = message;
  call.Param1 = param1;
  call.Param2 = param2;
  if (!CallGuarded(CallCallback, &call) || !call.Returned) return false;
  result = call.Result;
  return true;
}

bool IsRegularFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

TUSGeneralPurpose::TUSGeneralPurpose(uintptr_t /*ownerWindow*/, const std::string& folder) { LoadPluginFolder(folder); }

TUSGeneralPurpose::~TUSGeneralPurpose() { UnloadPlugins(); }

void TUSGeneralPurpose::LoadPluginFolder(const std::string& folder) {
  if (folder.empty()) return;
  const std::string prefix = folder.back() == '/' ? folder : folder + "/";
  DIR* dir = ::opendir(prefix.c_str());
  if (!dir) return;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name.size() > 3 && name.substr(name.size() - 3) == ".so") LoadPlugin(prefix + std::string(name));
  }
  ::closedir(dir);
}

bool TUSGeneralPurpose::LoadPlugin(const std::string& fileName) {
  if (count >= MaxPlugins || fileName.empty() || !IsRegularFile(fileName)) return false;
  void* module = ::dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
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
  // After a fault inside the library its state is unknown, and unloading would run more of its
  // code: it stays loaded, unregistered.
  if (!CallGuarded(CallInfo, &call)) return false;
  if (!call.Info || call.InfoVersion != PLUGIN_INFO_VERSION || call.ApiVersion != PLUGIN_API_VERSION) {
    ::dlclose(module);
    return false;
  }
  if (call.Callback) {
    int32_t ignored = 0;
    Deliver(call.Callback, PLUGIN_LOADED, 0, 0, ignored);
  }
  plugins[count++] = {module, call.Info};
  return true;
}

void TUSGeneralPurpose::UnloadPlugins() {
  for (uint8_t i = 0; i < count; ++i) {
    Entry& entry = plugins[i];
    if (entry.InfoRecord && entry.InfoRecord->Callback) {
      int32_t ignored = 0;
      Deliver(entry.InfoRecord->Callback, PLUGIN_UNLOADING, 0, 0, ignored);
    }
    entry.InfoRecord = nullptr;
    ::dlclose(entry.Module);
    entry.Module = nullptr;
  }
  count = 0;
}

int32_t TUSGeneralPurpose::BroadcastToPlugins(int32_t message, uintptr_t param1, int32_t param2) {
  int32_t result = 1;
  for (uint8_t i = 0; i < count; ++i) {
    const Entry& entry = plugins[i];
    if (!entry.InfoRecord || !entry.InfoRecord->Callback) continue;
    Deliver(entry.InfoRecord->Callback, message, param1, param2, result);
  }
  return result;
}

}  // namespace orvane::plugins
