#pragma once
// Handle table of the library: maps the 32-bit handles the interface hands out to the objects
// behind them. Thread-safe; its mutex is held only for a lookup or an insertion, never while an
// object is being used.
//
// Handle values come from one counter, so a freed handle is not handed out again until 2^32 more
// have been created; a stale handle then finds nothing (BASS_ERROR_HANDLE) instead of another object.

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace orvane::bass {

class Channel;
class Plugin;

enum class HandleKind { Stream, Sync, Fx, Plugin };

struct HandleEntry {
  HandleKind kind = HandleKind::Stream;
  std::shared_ptr<Channel> channel;  // Stream, Sync, Fx: the channel the handle belongs to
  std::shared_ptr<Plugin> plugin;    // Plugin
};

class Registry {
 public:
  uint32_t Add(HandleEntry entry);
  // The entry when handle exists and is of that kind.
  std::shared_ptr<Channel> FindChannel(uint32_t handle, HandleKind kind) const;
  std::shared_ptr<Plugin> FindPlugin(uint32_t handle) const;
  bool Remove(uint32_t handle);
  // Handles of one kind, in no particular order.
  std::vector<uint32_t> Handles(HandleKind kind) const;

 private:
  mutable std::mutex mutex;
  std::unordered_map<uint32_t, HandleEntry> entries;
  uint32_t next = 1;
};

}  // namespace orvane::bass
