#pragma once
// The library's process-wide state: the handle table, the output device and the configuration.
// Created on first use and never destroyed, so no thread of the library can outlive it at exit.
//
// Threads: initMutex serialises BASS_Init/BASS_Free/BASS_Start/BASS_Stop and plug-in loading;
// the registry has its own lock; configuration values are atomics.

#include <atomic>
#include <cstdint>
#include <mutex>

#include "Device.h"
#include "Registry.h"
#include "UrlSource.h"

namespace orvane::bass {

struct Config {
  // Connection time-out, also for every silence while a URL stream is being opened.
  std::atomic<int> netTimeoutMs{5000};
  // Longest silence of a URL stream that plays, before its download is given up. Not part of the
  // classic interface (which has no such setting); tests shorten it here.
  std::atomic<int> netStallMs{30000};
  // How far a URL download may run ahead of the decoder (UrlSource.h). Tests lower it.
  std::atomic<int64_t> netAheadBytes{UrlSource::kMaxAheadBytes};
  std::atomic<int> netBufferMs{5000};
  std::atomic<int> netPrebufPercent{75};
  std::atomic<int> netPlaylist{0};
};

struct Library {
  std::mutex initMutex;
  Device device;
  Registry registry;
  Config config;
};

Library& Lib();

// Frees a stream and the handles of its syncs and effects. False when handle is no stream.
bool FreeStream(DWORD handle);

}  // namespace orvane::bass
