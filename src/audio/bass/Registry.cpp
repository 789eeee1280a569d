#include "Registry.h"

namespace orvane::bass {

uint32_t Registry::Add(HandleEntry entry) {
  std::lock_guard lock(mutex);
  // After a wrap-around, step over 0 and over values still in use.
  while (next == 0 || entries.count(next) != 0) ++next;
  const uint32_t handle = next++;
  entries.emplace(handle, std::move(entry));
  return handle;
}

std::shared_ptr<Channel> Registry::FindChannel(uint32_t handle, HandleKind kind) const {
  std::lock_guard lock(mutex);
  const auto it = entries.find(handle);
  if (it == entries.end() || it->second.kind != kind) return nullptr;
  return it->second.channel;
}

std::shared_ptr<Plugin> Registry::FindPlugin(uint32_t handle) const {
  std::lock_guard lock(mutex);
  const auto it = entries.find(handle);
  if (it == entries.end() || it->second.kind != HandleKind::Plugin) return nullptr;
  return it->second.plugin;
}

bool Registry::Remove(uint32_t handle) {
  HandleEntry removed;  // released after the lock, so no destructor runs under it
  std::lock_guard lock(mutex);
  const auto it = entries.find(handle);
  if (it == entries.end()) return false;
  removed = std::move(it->second);
  entries.erase(it);
  return true;
}

std::vector<uint32_t> Registry::Handles(HandleKind kind) const {
  std::lock_guard lock(mutex);
  std::vector<uint32_t> result;
  for (const auto& [handle, entry] : entries) {
    if (entry.kind == kind) result.push_back(handle);
  }
  return result;
}

}  // namespace orvane::bass
