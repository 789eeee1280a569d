#pragma once
// TUSGeneralPurpose, the plug-in host: loads the plug-in libraries of a folder, tells each that it
// was loaded, forwards the player's events to all of them and unloads them in load order. The
// binary interface plug-ins implement is UPluginAPI.h.
//
// Threads: main thread only (the callbacks block it while they run). A callback that throws or
// faults is cut short and the host goes on; nothing of it reaches the player.

#include <array>
#include <cstdint>
#include <string>

#include "plugins/UPluginAPI.h"

namespace orvane::plugins {

class TUSGeneralPurpose {
 public:
  static constexpr int MaxPlugins = PLUGIN_MAX_PLUGINS;

  // ownerWindow is not used (plug-ins get no window). Loads the folder's plug-ins.
  TUSGeneralPurpose(uintptr_t ownerWindow, const std::string& folder);
  ~TUSGeneralPurpose();  // UnloadPlugins
  TUSGeneralPurpose(const TUSGeneralPurpose&) = delete;
  TUSGeneralPurpose& operator=(const TUSGeneralPurpose&) = delete;

  // Loads every "*.so" of folder, in the order the folder lists them. Nothing for an empty name or
  // a missing folder.
  void LoadPluginFolder(const std::string& folder);
  // Loads one library and registers it when it is a plug-in; true when registered. Refused: a full
  // table, an empty name, anything but a regular file (a FIFO would hang the loader), a library
  // that does not load, one already registered, no "USPluginInfo", a record with the wrong
  // versions, a fault inside "USPluginInfo" or while reading its record.
  bool LoadPlugin(const std::string& fileName);
  // PLUGIN_UNLOADING to each plug-in, then unload, in load order.
  void UnloadPlugins();
  // Calls every registered callback; the result is the last plug-in's that returned normally, or 1
  // when none did.
  int32_t BroadcastToPlugins(int32_t message, uintptr_t param1, int32_t param2);

  uint8_t PluginCount() const { return count; }

 private:
  struct Entry {
    void* Module = nullptr;
    const TPluginInfo* InfoRecord = nullptr;
  };
  std::array<Entry, MaxPlugins> plugins{};
  uint8_t count = 0;
};

}  // namespace orvane::plugins
