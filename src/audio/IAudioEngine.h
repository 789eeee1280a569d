#pragma once
// The audio engine as its owner (the main window) sees it. The real engine is TAudioEngine; tests of
// the playback rules drive the main window with a scripted stand-in.
//
// Threads: every method is called on the main thread, and every event is raised on the main thread,
// except OnDownloadData, which runs on the audio library's download thread. ReadTags is the one
// method that may also run on a worker (the adding of songs reads tags there), while the main
// thread uses the engine: it reads only the named file, never the engine's state.

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace orvane::audio {

// Engine state codes; the owner compares State() against them and OnError uses 1004 and 1006 as codes.
enum : int32_t {
  StateStopped = 1001,
  StatePlaying = 1002,
  StatePaused = 1003,
  StateEnded = 1004,
  StateConnecting = 1005,
  StateOpenFailed = 1006,
};

// OnError details raised by the engine itself; an open failure carries the library's error code.
// (-3 once refused an open while another was pending; a new open now replaces the pending one.)
enum : int32_t { ErrVersion = -1, ErrInit = -2 };

using TWaveData = std::array<int32_t, 2049>;
using TSpectrumData = std::array<int32_t, 1025>;
using TEqGains = std::array<int32_t, 10>;  // dB per band, 80 Hz first

struct TTags {
  std::string Title;   // UTF-8
  std::string Artist;  // UTF-8
  std::string Album;   // UTF-8
  double Duration = 0;  // length in seconds / 86400
};

class IAudioEngine {
 public:
  virtual ~IAudioEngine() = default;

  virtual void Open(const std::string& source) = 0;  // returns at once; the open runs on a worker
  virtual void Pause() = 0;
  virtual void Resume() = 0;
  virtual void Stop() = 0;
  virtual int32_t GetPosition() = 0;  // ms, truncated, never negative
  virtual void SetPosition(int32_t ms) = 0;
  virtual int32_t GetLength() = 0;  // ms, truncated, never negative
  virtual void SetVolume(float value) = 0;  // 0..100
  virtual void SetEqGains(const TEqGains& gains) = 0;
  virtual void ReadTags(const std::string& fileName, TTags& tags) = 0;
  virtual int32_t State() const = 0;
  virtual const std::string& FileFilter() const = 0;
  // The product's music base address (from the remote configuration): song locations under it are
  // requested with GBK escapes, as the server's own lists spell them.
  virtual void SetMusicBaseUrl(const std::string& /*url*/) {}
  // True while the song is paused only because no sound output is there (the sound server went
  // away or has not started yet); it plays on by itself, with OnStateChange(1002), once it is back.
  virtual bool WaitingForOutput() const { return false; }

  // Events, bound by the owner; an event that is not set is not raised.
  std::function<void(int32_t state, int32_t lengthMs, int32_t positionMs, const TSpectrumData& spectrum,
                     const TWaveData& wave)>
      OnTick;
  std::function<void(int32_t code, int32_t detail)> OnError;
  std::function<void(int32_t state)> OnStateChange;
  std::function<void(int32_t state)> OnTrackEnd;
  // Buffer is null once the download has ended. Runs on the download thread; must not throw.
  std::function<void(const void* buffer, uint32_t length, void* user)> OnDownloadData;
  // What a location is opened as, when the owner knows better than the location itself: a
  // music-server song is stored without credentials and opened through a stream address made
  // with fresh ones. Called inside Open on the main thread; unset or an empty answer opens the
  // location as it is. The answer is neither kept as the source nor reported anywhere.
  std::function<std::string(const std::string& location)> OnResolveLocation;
};

}  // namespace orvane::audio
