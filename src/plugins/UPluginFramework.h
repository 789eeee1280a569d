#pragma once
// TUSGeneralPurpose, the plug-in host: loads the plug-in libraries of a folder, tells each that it
// was loaded, forwards the player's events to all of them and unloads them in load order. The
// binary interface plug-ins implement is UPluginAPI.h.
//
// Threads: main thread only (the callbacks block it while they run). A callback that throws or
// faults is cut short and the host goes on; nothing of it reaches the player. A plug-in that threw
// keeps getting messages; one that faulted is left as it is: never called again, never unloaded
// (its state is unknown, and unloading would run more of its code).
//
// Trust: a library's constructors run as soon as it is loaded, with the user's rights. So a library
// is loaded only when its folder and the file itself belong to the user or root and nobody else may
// write them, and the file is a regular file (not a link). The checks are made on the opened file,
// and the loader is given that very file, so nothing can be swapped in between.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

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
  // a missing folder; nothing either, and the folder is named in Untrusted(), when others may
  // change what it holds.
  void LoadPluginFolder(const std::string& folder);
  // Loads one library and registers it when it is a plug-in; true when registered. Refused: a full
  // table, an empty name, anything but a regular file (a FIFO would hang the loader), a file or
  // folder others may change (named in Untrusted()), a library that does not load, one already
  // registered, no "USPluginInfo", a record with the wrong versions, a fault inside
  // "USPluginInfo" or while reading its record.
  bool LoadPlugin(const std::string& fileName);
  // PLUGIN_UNLOADING to each plug-in, then unload, in load order.
  void UnloadPlugins();
  // Calls every registered callback; the result is the last plug-in's that returned normally, or 1
  // when none did.
  int32_t BroadcastToPlugins(int32_t message, uintptr_t param1, int32_t param2);

  uint8_t PluginCount() const { return count; }
  // The folders and files refused because someone but the user or root owns them, others may
  // write them, or they are links; full paths, in the order they were met.
  const std::vector<std::string>& Untrusted() const { return untrusted; }

 private:
  struct Entry {
    void* Module = nullptr;
    const TPluginInfo* InfoRecord = nullptr;
    // Read from the record once, inside the guard, at load; the record is not read again.
    TPluginCallback Callback = nullptr;
    bool Faulted = false;
    // The checked file, which the loader opened by its /proc/self/fd name: kept open while the
    // library is loaded, so no other library gets that name (the loader would take it for this one).
    int File = -1;
  };
  int OpenTrustedFolder(const std::string& folder);
  bool LoadCheckedFile(int folderFd, const std::string& folder, const std::string& name);
  // Calls one plug-in; a fault marks it, so it is never called again.
  bool Deliver(Entry& entry, int32_t message, uintptr_t param1, int32_t param2, int32_t& result);

  std::array<Entry, MaxPlugins> plugins{};
  uint8_t count = 0;
  std::vector<std::string> untrusted;
};

}  // namespace orvane::plugins
