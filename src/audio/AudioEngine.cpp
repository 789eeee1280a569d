// Threads:
// - Main thread: every public method, the tick, OpenCompleted, and the raising of OnStateChange,
//   OnError, OnTick and OnTrackEnd. The engine's fields are touched only here.
// - Open workers (detached std::threads): reads only its own TStreamCreateURLThread (Source and
//   RequestUrl in, Stream and ErrorCode out, under its mutex) and the shared byte counters, which
//   it writes only while its open is the current one. For a URL it posts the 1005 notification to
//   the main thread and waits until that handler has returned or the open was given up. It then
//   posts OpenCompleted, which reads its results on the main thread. At most one open is current;
//   Stop and Open give it up at once (its URL request is aborted), and a given-up open that still
//   finishes is thrown away by its completion, so several may be ending at a time.
// - ReadTags / ReadFileTags touch no engine state and may run on any thread.
// - Library threads: the end sync (decoder thread) only posts the ended stream's handle and serial
//   to the main thread; the download procedure (download thread) calls OnDownloadData under
//   TEngineLink::engineMutex, for the current open's download only.
// Every hand-off to the main thread goes through the engine's TMainThreadRelay (its contract is in
// net/MainThreadRelay.h). Lifetime: the worker and the library's callbacks reach the engine only
// through TEngineLink, which they share. The destructor first clears link->engine (no more download
// data), and after the library is closed closes the relay, so calls still pending are dropped and a
// late worker finds nobody to post to. Nothing on the main thread ever waits for the worker, so the
// 1005 wait cannot deadlock at shutdown: Stop (also run by the destructor) releases it.

#include "audio/AudioEngine.h"

#include <dirent.h>
#include <fnmatch.h>

#include <QObject>
#include <QTimer>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <limits>
#include <mutex>
#include <thread>
#include <utility>

#include "audio/bass/UrlOpenAbort.h"
#include "audio/bass/tags.h"
#include "net/MainThreadRelay.h"
#include "net/ServerUrl.h"

namespace orvane::audio {

// What the engine shares with its workers and the library's callbacks.
struct TEngineLink {
  std::mutex engineMutex;
  TAudioEngine* engine = nullptr;  // null once the engine is going; guards OnDownloadData
  // Under engineMutex: the open whose download reaches OnDownloadData. A download given up for a
  // newer open may still deliver a block or its end mark; the song cache must not mix it in.
  uint64_t tapSerial = 0;
  net::TMainThreadRelay::Poster mainThread;
  // Changes whenever the current stream's run ends by the owner's hand (Open, Stop), so an end
  // that was already on its way to the main thread is recognised as stale.
  std::atomic<uint64_t> runSerial{0};

  static void CALLBACK DownloadProc(const void* buffer, DWORD length, void* user);
  static void CALLBACK EndSyncProc(HSYNC sync, DWORD endedChannel, DWORD data, void* user);
  // The open worker's body. Holds the link and its own record, never the engine.
  static void RunOpenWorker(std::shared_ptr<TStreamCreateURLThread> openWorker, std::shared_ptr<TEngineLink> link,
                            std::shared_ptr<TDownloadCounters> counters);

  // Queues f on the main thread; false when the engine is gone (f is then dropped).
  bool Post(std::function<void()> f) const { return mainThread.Post(std::move(f)); }
};

// One open. Freed when neither its worker nor the engine holds it any more; the engine keeps the
// record of the current stream's open until that stream is freed, since the stream's download
// procedure gets the record as its user value.
struct TStreamCreateURLThread {
  const std::string Source;      // the worker's own copy
  const std::string RequestUrl;  // Source escaped for the request, when it is tried as a URL
  const uint64_t Serial;         // tells this open's download from a given-up one's
  const std::shared_ptr<TEngineLink> Link;
  const std::shared_ptr<bass::UrlOpenAbort> Abort = std::make_shared<bass::UrlOpenAbort>();
  std::mutex mutex;
  std::condition_variable wake;
  HSTREAM Stream = 0;             // what the worker obtained; 0 = none
  int ErrorCode = BASS_OK;        // the library's code of the worker's last failed open
  bool terminated = false;        // the open was given up (Stop, a newer Open, the engine going)
  bool connectingHandled = false;  // the 1005 notification has been handled (or dropped)

  TStreamCreateURLThread(std::string source, std::string requestUrl, uint64_t serial, std::shared_ptr<TEngineLink> link)
      : Source(std::move(source)), RequestUrl(std::move(requestUrl)), Serial(serial), Link(std::move(link)) {}

  bool Terminated() {
    std::lock_guard lock(mutex);
    return terminated;
  }
  // Gives the open up: a URL request in progress is aborted, and a worker waiting for its 1005
  // hand-off goes on at once.
  void Terminate() {
    {
      std::lock_guard lock(mutex);
      terminated = true;
      wake.notify_all();
    }
    Abort->Abort();
  }
  // Runs f under the record's lock unless the open has been given up. What the worker writes to
  // the shared counters goes through here: once Terminate has returned, a newer open owns them.
  template <class F>
  void IfCurrent(F f) {
    std::lock_guard lock(mutex);
    if (!terminated) f();
  }
  void ConnectingHandled() {
    std::lock_guard lock(mutex);
    connectingHandled = true;
    wake.notify_all();
  }
  // Waits for the 1005 handler; true when the URL attempt should go ahead.
  bool WaitForConnectingHandled() {
    std::unique_lock lock(mutex);
    wake.wait(lock, [this] { return connectingHandled || terminated; });
    return !terminated;
  }
};

namespace {

constexpr QWORD kBadPosition = static_cast<QWORD>(-1);

}  // namespace

void CALLBACK TEngineLink::DownloadProc(const void* buffer, DWORD length, void* user) {
  // Nothing may call the library on this thread before the handler: during the end mark the
  // handler reads BASS_ErrorGetCode to learn how the download ended.
  const auto* open = static_cast<const TStreamCreateURLThread*>(user);
  TEngineLink* link = open->Link.get();
  try {
    std::lock_guard lock(link->engineMutex);
    if (open->Serial != link->tapSerial) return;
    if (link->engine && link->engine->OnDownloadData) link->engine->OnDownloadData(buffer, length, nullptr);
  } catch (...) {
    // The handler writes the cache file; its failures must not reach the library's thread.
  }
}

void CALLBACK TEngineLink::EndSyncProc(HSYNC, DWORD endedChannel, DWORD, void* user) {
  auto* link = static_cast<TEngineLink*>(user);
  const uint64_t serial = link->runSerial.load();
  try {
    link->Post([link, endedChannel, serial] {
      // Runs on the main thread while the relay, and so the engine, exists.
      if (link->engine) link->engine->TrackEnded(endedChannel, serial);
    });
  } catch (...) {
    // Out of memory while making the call: the end is lost rather than the library's thread.
  }
}

void TEngineLink::RunOpenWorker(std::shared_ptr<TStreamCreateURLThread> openWorker,
                                std::shared_ptr<TEngineLink> link, std::shared_ptr<TDownloadCounters> counters) {
  openWorker->IfCurrent([&] {
    counters->DownloadReceived = 0;
    counters->DownloadTotal = 0;
  });
  const char* source = openWorker->Source.c_str();
  HSTREAM stream = BASS_StreamCreateFile(FALSE, source, 0, 0, 0);
  int errorCode = stream ? BASS_OK : BASS_ErrorGetCode();
  if (!stream && !openWorker->Terminated()) {
    // The owner prepares its cache names in the 1005 handler, so no download block may arrive
    // before it has returned: the worker waits.
    bool posted = false;
    try {
      posted = link->Post([link, openWorker] {
        if (link->engine) link->engine->AnnounceConnecting(openWorker);
        else openWorker->ConnectingHandled();
      });
    } catch (...) {
    }
    if (posted && openWorker->WaitForConnectingHandled()) {
      {
        const bass::UrlOpenAbortScope abortable(openWorker->Abort);
        stream = BASS_StreamCreateURL(openWorker->RequestUrl.c_str(), 0, 0, DownloadProc, openWorker.get());
      }
      if (stream) {
        const QWORD total = BASS_StreamGetFilePosition(stream, BASS_FILEPOS_END);
        openWorker->IfCurrent([&] { counters->DownloadTotal = total == kBadPosition ? 0 : total; });
      } else {
        errorCode = BASS_ErrorGetCode();
      }
    }
  }
  {
    std::lock_guard lock(openWorker->mutex);
    if (openWorker->terminated && stream) {
      BASS_StreamFree(stream);
      stream = 0;
    }
    openWorker->Stream = stream;
    openWorker->ErrorCode = errorCode;
  }
  bool posted = false;
  try {
    posted = link->Post([link, openWorker] {
      if (link->engine) link->engine->OpenCompleted(openWorker);
    });
  } catch (...) {
  }
  // Nobody will take the stream over: the engine is gone (or the hand-off failed).
  if (!posted && stream) BASS_StreamFree(stream);
}

int32_t SecondsToMs(double seconds) {
  const float single = static_cast<float>(seconds);
  if (!(single >= 0)) return 0;
  const double ms = static_cast<double>(single) * 1000.0;
  if (ms >= static_cast<double>(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(ms);
}

TAudioEngine::TAudioEngine(void* window, std::string pluginFolder, std::shared_ptr<TDownloadCounters> counters)
    : link(std::make_shared<TEngineLink>()),
      counters(counters ? std::move(counters) : std::make_shared<TDownloadCounters>()),
      mainThread(std::make_unique<net::TMainThreadRelay>()),
      pluginFolder(std::move(pluginFolder)),
      window(window) {
  link->engine = this;
  link->mainThread = mainThread->MakePoster();
  StartLibrary();
  // The tick runs only while the state is not 1001 (see SetState): stopped, it would do nothing,
  // and an idle player should not wake for it at all.
  timer = std::make_unique<QTimer>();
  timer->setInterval(TickIntervalMs);
  QObject::connect(timer.get(), &QTimer::timeout, timer.get(), [this] { Tick(); });
}

TAudioEngine::~TAudioEngine() {
  timer.reset();
  {
    // From here on download data reaches nobody, and queued hand-offs find no engine.
    std::lock_guard lock(link->engineMutex);
    link->engine = nullptr;
  }
  Stop();
  // Every plug-in loaded, not only the last one, so a later engine in the same process can load
  // them again.
  for (HPLUGIN plugin : loadedPlugins) BASS_PluginFree(plugin);
  BASS_Stop();
  BASS_Free();
  mainThread->Close();
}

void TAudioEngine::StartLibrary() {
  if (HIWORD(BASS_GetVersion()) != BASSVERSION) {
    startupError = ErrVersion;
    RaiseError(StateEnded, ErrVersion);
    return;
  }
  if (!BASS_Init(-1, 44100, 0, window, nullptr)) {
    startupError = ErrInit;
    RaiseError(state, ErrInit);
    return;
  }
  fileFilter = std::string(BaseFileFilter) + ";" + DecoderFormats;
  LoadPlugins();
  BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, 1);
  BASS_SetConfig(BASS_CONFIG_NET_PREBUF, 0);
  BASS_SetConfig(BASS_CONFIG_NET_TIMEOUT, 2000);
  BASS_Start();
}

void TAudioEngine::LoadPlugins() {
  DIR* dir = ::opendir(pluginFolder.c_str());
  if (!dir) return;
  std::unique_ptr<DIR, int (*)(DIR*)> closer(dir, ::closedir);
  // In the order the folder listing gives, as the file dialog's filter lists them.
  while (const dirent* entry = ::readdir(dir)) {
    if (::fnmatch("b_*.so", entry->d_name, 0) != 0) continue;
    // The full path, so the plug-in folder need not be the executable's.
    const std::string path = pluginFolder + entry->d_name;
    lastPlugin = BASS_PluginLoad(path.c_str(), 0);
    if (!lastPlugin) continue;
    loadedPlugins.push_back(lastPlugin);
    const BASS_PLUGININFO* info = BASS_PluginGetInfo(lastPlugin);
    if (!info) continue;
    for (DWORD i = 0; i < info->formatc; ++i) {
      if (info->formats[i].exts) fileFilter += std::string(";") + info->formats[i].exts;
    }
  }
}

void TAudioEngine::Open(const std::string& newSource) {
  // The song asked for now is the one that plays: an open still in progress is given up.
  GiveUpOpen();
  source = newSource;
  ReleaseChannel();
  ++link->runSerial;
  std::string opened = OnResolveLocation ? OnResolveLocation(newSource) : std::string();
  if (opened.empty()) opened = newSource;
  auto openWorker = std::make_shared<TStreamCreateURLThread>(opened, net::StreamRequestUrl(opened, musicBaseUrl),
                                                             ++openSerial, link);
  {
    // Not before the old stream is freed: its download's end mark still belongs to the cache.
    std::lock_guard lock(link->engineMutex);
    link->tapSerial = openWorker->Serial;
  }
  std::thread(TEngineLink::RunOpenWorker, openWorker, link, counters).detach();
  worker = std::move(openWorker);
}

void TAudioEngine::GiveUpOpen() {
  if (!worker) return;
  worker->Terminate();
  worker.reset();  // its completion, if it still comes, finds itself replaced and frees its stream
}

void TAudioEngine::ReleaseChannel() {
  // The ended song's length stays readable until the next stream opens: the owner reports it to
  // the plug-ins after it has asked for the next song.
  releasedLengthMs = GetLength();
  BASS_StreamFree(channel);  // the handle stays in Channel until the completion replaces it
  channelReleased = true;
  channelOpen.reset();
  waitingForOutput = false;
}

void TAudioEngine::SetMusicBaseUrl(const std::string& url) { musicBaseUrl = url; }

void TAudioEngine::AnnounceConnecting(const std::shared_ptr<TStreamCreateURLThread>& openWorker) {
  // Released however the handler leaves, so the worker never waits for ever.
  struct Release {
    TStreamCreateURLThread& w;
    ~Release() { w.ConnectingHandled(); }
  } release{*openWorker};
  // An open already stopped does not go back to "connecting".
  if (openWorker->Terminated()) return;
  RaiseStateChange(StateConnecting);
}

void TAudioEngine::OpenCompleted(const std::shared_ptr<TStreamCreateURLThread>& openWorker) {
  HSTREAM stream;
  int errorCode;
  {
    std::lock_guard lock(openWorker->mutex);
    stream = openWorker->Stream;
    errorCode = openWorker->ErrorCode;
  }
  if (openWorker != worker) {
    // Given up (Stop, a newer Open) after the worker had finished: nothing of it plays, and the
    // player stays where the user put it.
    if (stream) BASS_StreamFree(stream);
    return;
  }
  worker.reset();  // before the events, so a handler may open the next song
  channel = stream;
  channelReleased = false;
  if (channel) {
    channelOpen = openWorker;
    StartStream();
    return;
  }
  lengthBytes = 0;
  SetState(StateOpenFailed);
  // The library keeps its error codes per thread: the worker's code is the one that explains the
  // failure.
  RaiseError(StateOpenFailed, errorCode);
}

void TAudioEngine::StartStream() {
  const QWORD length = BASS_ChannelGetLength(channel, BASS_POS_BYTE);
  lengthBytes = length == kBadPosition ? -1 : static_cast<int64_t>(length);
  CreateEqFilters();
  SetEqGains(eqGains);
  BASS_ChannelSetAttribute(channel, BASS_ATTRIB_VOL, volume / 100);
  // The end sync goes on before playback starts, so even a stream shorter than the gap between the
  // two calls reports its end.
  BASS_ChannelSetSync(channel, BASS_SYNC_END, 0, TEngineLink::EndSyncProc, link.get());
  BASS_ChannelPlay(channel, FALSE);
  RaisePlayingOrWaiting();
}

bool TAudioEngine::OutputMissing() const { return BASS_ChannelIsActive(channel) == BASS_ACTIVE_PAUSED_DEVICE; }

void TAudioEngine::RaisePlayingOrWaiting() {
  waitingForOutput = OutputMissing();
  RaiseStateChange(waitingForOutput ? StatePaused : StatePlaying);
}

void TAudioEngine::FollowOutput() {
  if (state == StatePlaying && OutputMissing()) {
    waitingForOutput = true;
    RaiseStateChange(StatePaused);
    return;
  }
  if (state != StatePaused || !waitingForOutput) return;
  const DWORD active = BASS_ChannelIsActive(channel);
  if (active != BASS_ACTIVE_PLAYING && active != BASS_ACTIVE_STALLED) return;
  waitingForOutput = false;
  RaiseStateChange(StatePlaying);
}

void TAudioEngine::CreateEqFilters() {
  for (size_t i = 0; i < eqFilters.size(); ++i) {
    eqFilters[i] = BASS_ChannelSetFX(channel, BASS_FX_DX8_PARAMEQ, 1);
    const BASS_DX8_PARAMEQ params{static_cast<float>(EqCentres[i]), EqBandwidth, 0.0f};
    BASS_FXSetParameters(eqFilters[i], &params);
  }
}

void TAudioEngine::Pause() {
  waitingForOutput = false;  // paused by the user: it stays paused when the output comes back
  BASS_ChannelPause(channel);
  RaiseStateChange(StatePaused);
}

void TAudioEngine::Resume() {
  BASS_ChannelPlay(channel, FALSE);
  RaisePlayingOrWaiting();
}

void TAudioEngine::Stop() {
  GiveUpOpen();
  waitingForOutput = false;
  BASS_ChannelStop(channel);
  ++link->runSerial;
  RaiseStateChange(StateStopped);
}

int32_t TAudioEngine::GetPosition() {
  const QWORD bytes = BASS_ChannelGetPosition(channel, BASS_POS_BYTE);
  return SecondsToMs(BASS_ChannelBytes2Seconds(channel, bytes));
}

int32_t TAudioEngine::GetLength() {
  if (channelReleased) return releasedLengthMs;
  return SecondsToMs(BASS_ChannelBytes2Seconds(channel, static_cast<QWORD>(lengthBytes)));
}

void TAudioEngine::SetPosition(int32_t ms) {
  const QWORD bytes = BASS_ChannelSeconds2Bytes(channel, ms / 1000.0);
  BASS_ChannelSetPosition(channel, bytes, BASS_POS_BYTE);
}

void TAudioEngine::SetVolume(float value) {
  volume = value;
  BASS_ChannelSetAttribute(channel, BASS_ATTRIB_VOL, value / 100);
}

void TAudioEngine::SetEqGains(const TEqGains& gains) {
  eqGains = gains;
  for (size_t i = 0; i < eqFilters.size(); ++i) {
    BASS_DX8_PARAMEQ params{};
    BASS_FXGetParameters(eqFilters[i], &params);
    params.fGain = static_cast<float>(gains[i]);
    BASS_FXSetParameters(eqFilters[i], &params);
  }
}

void TAudioEngine::ReadTags(const std::string& fileName, TTags& tags) { tags = ReadFileTags(fileName); }

TTags ReadFileTags(const std::string& fileName) {
  TTags tags;
  // The file's headers, not a stream: no decoder, no sound device needed, nothing waits on a FIFO.
  TAGS_FILE* file = TAGS_OpenFile(fileName.c_str());
  if (!file) return tags;
  const double days = static_cast<float>(TAGS_FileSeconds(file) / 86400);
  tags.Duration = days >= 0 ? days : 0;
  tags.Title = TAGS_FileRead(file, "%TITL");
  tags.Artist = TAGS_FileRead(file, "%ARTI");
  tags.Album = TAGS_FileRead(file, "%ALBM");
  TAGS_CloseFile(file);
  return tags;
}

void TAudioEngine::Tick() {
  if (state == StateStopped) return;
  FollowOutput();
  if (!OnTick) return;
  const int32_t positionMs = GetPosition();
  const TWaveData* waveBlock = &idleWave;
  if (state == StatePlaying) {
    BASS_ChannelGetData(channel, wave.data(), 2048);
    waveBlock = &wave;
  }
  const int32_t lengthMs = GetLength();
  OnTick(state, lengthMs, positionMs, idleSpectrum, *waveBlock);
}

void TAudioEngine::TrackEnded(HSTREAM endedChannel, uint64_t serial) {
  // The end of a stream that is no longer current, or of a run the owner has since stopped or
  // replaced, must not move the player on.
  if (worker || endedChannel != channel || serial != link->runSerial.load()) return;
  SetState(StateEnded);
  if (OnTrackEnd) OnTrackEnd(StateEnded);
}

void TAudioEngine::SetState(int32_t newState) {
  state = newState;
  if (!timer) return;  // being destroyed
  if (state == StateStopped) {
    timer->stop();
  } else if (!timer->isActive()) {
    timer->start();
  }
}

void TAudioEngine::RaiseStateChange(int32_t newState) {
  SetState(newState);
  if (OnStateChange) OnStateChange(newState);
}

void TAudioEngine::RaiseError(int32_t code, int32_t detail) {
  if (OnError) OnError(code, detail);
}

}  // namespace orvane::audio
