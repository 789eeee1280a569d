#pragma once
// TAudioEngine: the player's one audio engine over the audio library (bass.h). It opens a local
// file or an HTTP URL on a background worker and plays it, pauses, resumes, stops and seeks, reports
// position and length in ms, sets the volume, runs a ten-band peaking equaliser, reads tags, and
// reports to its owner through the five events of IAudioEngine.
//
// Threads: construct, call and destroy the engine on the main thread (the thread running the Qt
// event loop); every event except OnDownloadData is raised there. OnDownloadData runs on the
// library's download thread. See AudioEngine.cpp for how the worker and the library's callbacks
// hand over to the main thread.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/DownloadCounters.h"
#include "audio/IAudioEngine.h"
#include "audio/bass/bass.h"

class QTimer;

namespace orvane::net {
class TMainThreadRelay;
}

namespace orvane::audio {

// The engine's milliseconds of a seconds value: rounded to single precision, then truncated toward
// zero (1.9996 s is 1999 ms); negative or not a number gives 0; beyond 32 bits gives INT32_MAX.
int32_t SecondsToMs(double seconds);

// A file's title, artist, album and length (Duration in days, 0 when unknown), read from its
// headers without a decoder or a sound device; all empty when the file is missing, not a regular
// file (a FIFO fails at once) or not audio. Any thread: what the list reads for songs being added.
TTags ReadFileTags(const std::string& fileName);

struct TEngineLink;
struct TStreamCreateURLThread;

class TAudioEngine final : public IAudioEngine {
 public:
  static constexpr std::array<int32_t, 10> EqCentres = {80, 170, 310, 600, 1000, 3000, 6000, 10000, 12000, 14000};
  static constexpr float EqBandwidth = 5.0f;  // semitones
  // The owner refreshes what it shows twice a second, and nothing else follows the tick: a finer
  // tick would only wake the main thread for nothing.
  static constexpr int32_t TickIntervalMs = 500;
  // The file dialog's filter before plug-ins add their formats.
  static constexpr const char* BaseFileFilter =
      "所有音乐|*.mp1;*.mp2;*.mp3;*.wav;*.ogg;*.mod;*.s3m;*.it;*.umx;*.mo3;*.mtm;*.xm;*.aif";
  // What the decoder module plays beyond that list; the filter lists them right after it, as it
  // lists a format plug-in's formats, so FLAC, AAC, WMA, Musepack, Opus, WavPack, AC-3, Matroska
  // and WebM audio and audiobooks show in the dialog.
  static constexpr const char* DecoderFormats =
      "*.flac;*.m4a;*.aac;*.wma;*.oga;*.mpc;*.mpp;*.opus;*.aiff;*.aifc;*.wv;*.mka;*.webm;*.ac3;*.m4b";

  // window: the main window's id, handed to BASS_Init. pluginFolder: the folder searched for
  // "b_*.so" format plug-ins, ending in "/". counters: the song cache's byte counters, which the
  // open worker resets and fills. Runs the library's start-up. The tick runs only while State
  // is not 1001, where it would do nothing, so a stopped engine never wakes the main thread. Start-up
  // failures are not raised (no event is bound yet); StartupError() tells them.
  TAudioEngine(void* window, std::string pluginFolder, std::shared_ptr<TDownloadCounters> counters);
  // Frees the tick, stops (raising OnStateChange(1001)), unloads the plug-ins and closes the library.
  // A pending worker is told to stop and finishes on its own without touching the engine.
  ~TAudioEngine() override;
  TAudioEngine(const TAudioEngine&) = delete;
  TAudioEngine& operator=(const TAudioEngine&) = delete;

  // Releases the current stream and opens source on a worker (a file first, then as a URL), then
  // plays it. An open still in progress is given up for it (see Stop).
  void Open(const std::string& source) override;
  void Pause() override;
  // Plays on; without a sound output the engine stays paused and plays on once the output is back.
  void Resume() override;
  // Gives up an open in progress (its URL request is aborted; whatever it still brings is freed
  // unheard, and no event comes of it) and stops the current stream: State 1001 at once.
  void Stop() override;
  int32_t GetPosition() override;
  void SetPosition(int32_t ms) override;
  // The current stream's length; after Open has released a stream, still that stream's until the
  // new one is open.
  int32_t GetLength() override;
  void SetVolume(float value) override;
  void SetEqGains(const TEqGains& gains) override;
  // ReadFileTags: synchronous, independent of the current stream, and safe on any thread. Texts
  // are UTF-8; Duration in days.
  void ReadTags(const std::string& fileName, TTags& tags) override;
  int32_t State() const override { return state; }
  const std::string& FileFilter() const override { return fileFilter; }
  // Songs under this address (the product's music base) are requested with GBK escapes.
  void SetMusicBaseUrl(const std::string& url) override;

  // The current stream; 0 before the first open and after a failed one.
  HSTREAM Channel() const { return channel; }
  // What the last plug-in load attempt returned (0 when it failed or none was found).
  HPLUGIN LastPlugin() const { return lastPlugin; }
  // Length of the current stream in bytes of the library's channel format; 64-bit, so a
  // four-hour mix has its whole length.
  int64_t LengthBytes() const { return lengthBytes; }
  const std::string& Source() const { return source; }
  float Volume() const { return volume; }
  const TEqGains& EqGains() const { return eqGains; }
  // The current stream's ten equaliser filters, 80 Hz first.
  const std::array<HFX, 10>& EqFilters() const { return eqFilters; }
  bool OpenPending() const { return worker != nullptr; }
  // The song is paused because no sound output is there (the sound server went away, or has not
  // started yet); it plays on by itself once the output is back.
  bool WaitingForOutput() const override { return waitingForOutput; }
  // 0 when the library started; ErrVersion or ErrInit when start-up failed (the player then runs
  // without sound and every open fails).
  int32_t StartupError() const { return startupError; }

 private:
  friend struct TEngineLink;

  void StartLibrary();
  void LoadPlugins();
  void Tick();
  void AnnounceConnecting(const std::shared_ptr<TStreamCreateURLThread>& openWorker);
  void OpenCompleted(const std::shared_ptr<TStreamCreateURLThread>& openWorker);
  void StartStream();
  void GiveUpOpen();
  void ReleaseChannel();
  // The stream plays, but no sound output hears it.
  bool OutputMissing() const;
  // After the stream was told to play: 1002, or 1003 while it waits for a sound output, which
  // then plays it on by itself.
  void RaisePlayingOrWaiting();
  // Run by the tick: a playing song that lost its output becomes paused, and one that waited for
  // the output plays on once it is back.
  void FollowOutput();
  void CreateEqFilters();
  void TrackEnded(HSTREAM endedChannel, uint64_t serial);
  // Every change of State goes through here: it runs the tick in every state but 1001.
  void SetState(int32_t newState);
  void RaiseStateChange(int32_t newState);
  void RaiseError(int32_t code, int32_t detail);

  std::shared_ptr<TEngineLink> link;
  std::shared_ptr<TDownloadCounters> counters;
  std::unique_ptr<net::TMainThreadRelay> mainThread;  // the hand-offs to the main thread
  std::unique_ptr<QTimer> timer;
  std::string pluginFolder;
  void* window = nullptr;

  HSTREAM channel = 0;
  std::shared_ptr<TStreamCreateURLThread> channelOpen;  // the open that made channel
  bool channelReleased = false;  // channel has been freed for the next open
  int32_t releasedLengthMs = 0;  // its length, reported until the next stream is open
  bool waitingForOutput = false;
  uint64_t openSerial = 0;
  HPLUGIN lastPlugin = 0;
  std::vector<HPLUGIN> loadedPlugins;
  int64_t lengthBytes = 0;
  std::array<HFX, 10> eqFilters{};
  TEqGains eqGains{};
  TWaveData idleWave{};
  TSpectrumData idleSpectrum{};
  TWaveData wave{};  // the tick's wave block while playing; kept here so the tick allocates nothing
  int32_t state = StateStopped;
  int32_t startupError = 0;
  std::string source;
  float volume = 0;
  std::string fileFilter;
  std::string musicBaseUrl;
  std::shared_ptr<TStreamCreateURLThread> worker;
};

}  // namespace orvane::audio
