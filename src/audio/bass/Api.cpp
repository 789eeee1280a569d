// The library's C interface (bass.h): argument checks, handle look-ups and error codes; the work
// is done by Channel, Decoder, UrlSource, Device, EqChain and Plugin.

#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <string_view>

#include "Channel.h"
#include "ChannelFormat.h"
#include "Errors.h"
#include "Library.h"
#include "ManualOutput.h"
#include "Plugins.h"
#include "UrlOpenAbort.h"
#include "UrlSource.h"
#include "bass.h"
#include "net/UYmUrl.h"
#include "text/TextUtil.h"

namespace orvane::bass {
namespace {

constexpr DWORD kVersion = 0x02040001;
constexpr QWORD kBadQword = static_cast<QWORD>(-1);
constexpr DWORD kBadDword = static_cast<DWORD>(-1);

std::shared_ptr<Channel> FindStream(DWORD handle) { return Lib().registry.FindChannel(handle, HandleKind::Stream); }

BOOL Result(int code) {
  SetError(code);
  return code == BASS_OK ? TRUE : FALSE;
}

HSTREAM AddStream(std::unique_ptr<Decoder> decoder, std::shared_ptr<UrlSource> url, DWORD flags) {
  Library& lib = Lib();
  auto channel = std::make_shared<Channel>(lib.device, std::move(decoder), std::move(url), flags);
  channel->onAutoFree = [](DWORD handle) { FreeStream(handle); };
  const DWORD handle = lib.registry.Add(HandleEntry{HandleKind::Stream, channel, nullptr});
  channel->SetHandle(handle);
  return Succeed(handle);
}

bool NeedsDevice(DWORD flags) { return (flags & BASS_STREAM_DECODE) == 0; }

bool IsHttpUrl(std::string_view url) {
  auto startsWith = [&](std::string_view prefix) {
    if (url.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
      if (std::tolower(static_cast<unsigned char>(url[i])) != prefix[i]) return false;
    }
    return true;
  };
  return startsWith("http://") || startsWith("https://");
}

bool IsRegularFile(const char* path) {
  struct stat info {};
  return ::stat(path, &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

Library& Lib() {
  static Library* library = new Library();  // never destroyed: threads may still run at exit
  return *library;
}

bool FreeStream(DWORD handle) {
  Library& lib = Lib();
  const auto channel = lib.registry.FindChannel(handle, HandleKind::Stream);
  if (!channel || !lib.registry.Remove(handle)) return false;
  for (HSYNC sync : channel->SyncHandles()) lib.registry.Remove(sync);
  for (HFX fx : channel->FxHandles()) lib.registry.Remove(fx);
  channel->Free();
  return true;
}

}  // namespace orvane::bass

using namespace orvane::bass;

// ---- library ----

extern "C" DWORD BASS_GetVersion(void) { return Succeed(kVersion); }

extern "C" int BASS_ErrorGetCode(void) { return LastError(); }

extern "C" BOOL BASS_SetConfig(DWORD option, DWORD value) {
  Config& config = Lib().config;
  const int number = static_cast<int>(std::min<DWORD>(value, 0x7fffffff));
  switch (option) {
    case BASS_CONFIG_NET_TIMEOUT:
      config.netTimeoutMs = std::max(number, 1);
      break;
    case BASS_CONFIG_NET_BUFFER:
      config.netBufferMs = std::max(number, 1);
      break;
    case BASS_CONFIG_NET_PREBUF:
      config.netPrebufPercent = std::min(number, 100);
      break;
    case BASS_CONFIG_NET_PLAYLIST:
      config.netPlaylist = number;
      break;
    default:
      return Fail(BASS_ERROR_ILLTYPE, FALSE);
  }
  return Succeed(TRUE);
}

extern "C" DWORD BASS_GetConfig(DWORD option) {
  const Config& config = Lib().config;
  switch (option) {
    case BASS_CONFIG_NET_TIMEOUT:
      return Succeed(static_cast<DWORD>(config.netTimeoutMs.load()));
    case BASS_CONFIG_NET_BUFFER:
      return Succeed(static_cast<DWORD>(config.netBufferMs.load()));
    case BASS_CONFIG_NET_PREBUF:
      return Succeed(static_cast<DWORD>(config.netPrebufPercent.load()));
    case BASS_CONFIG_NET_PLAYLIST:
      return Succeed(static_cast<DWORD>(config.netPlaylist.load()));
    default:
      return Fail(BASS_ERROR_ILLTYPE, kBadDword);
  }
}

extern "C" BOOL BASS_Init(int device, DWORD, DWORD, void*, const void*) {
  Library& lib = Lib();
  std::lock_guard lock(lib.initMutex);
  return Result(lib.device.Open(device));
}

extern "C" BOOL BASS_Start(void) {
  Library& lib = Lib();
  std::lock_guard lock(lib.initMutex);
  return Result(lib.device.SetPaused(false) ? BASS_OK : BASS_ERROR_INIT);
}

extern "C" BOOL BASS_Stop(void) {
  Library& lib = Lib();
  std::lock_guard lock(lib.initMutex);
  return Result(lib.device.SetPaused(true) ? BASS_OK : BASS_ERROR_INIT);
}

extern "C" BOOL BASS_Free(void) {
  Library& lib = Lib();
  std::lock_guard lock(lib.initMutex);
  if (!lib.device.IsOpen()) return Fail(BASS_ERROR_INIT, FALSE);
  for (DWORD handle : lib.registry.Handles(HandleKind::Stream)) FreeStream(handle);
  lib.device.DetachAll();
  lib.device.Close();
  return Succeed(TRUE);
}

// ---- streams ----

extern "C" HSTREAM BASS_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length, DWORD flags) {
  if (NeedsDevice(flags) && !Lib().device.IsOpen()) return Fail(BASS_ERROR_INIT, HSTREAM{0});
  if (file == nullptr) return Fail(BASS_ERROR_ILLPARAM, HSTREAM{0});
  int error = BASS_OK;
  std::unique_ptr<ByteSource> source;
  if (mem) {
    if (length == 0) return Fail(BASS_ERROR_ILLPARAM, HSTREAM{0});
    source = OpenMemorySource(static_cast<const uint8_t*>(file) + offset, length);
  } else {
    source = OpenFileSource(static_cast<const char*>(file), offset, length, error);
    if (!source) return Fail(error, HSTREAM{0});
  }
  auto decoder = Decoder::Open(std::move(source), error);
  if (!decoder) return Fail(error, HSTREAM{0});
  return AddStream(std::move(decoder), nullptr, flags);
}

extern "C" HSTREAM BASS_StreamCreateURL(const char* url, DWORD offset, DWORD flags, DOWNLOADPROC* proc, void* user) {
  Library& lib = Lib();
  if (NeedsDevice(flags) && !lib.device.IsOpen()) return Fail(BASS_ERROR_INIT, HSTREAM{0});
  if (url == nullptr) return Fail(BASS_ERROR_ILLPARAM, HSTREAM{0});
  if (!IsHttpUrl(orvane::text::Trim(url))) {
    // Not a URL. A caller that tried it as a file first learns why that failed: an existing file
    // that would not open is not audio we know.
    return Fail(IsRegularFile(url) ? BASS_ERROR_FILEFORM : BASS_ERROR_FILEOPEN, HSTREAM{0});
  }
  UrlSource::Options options;
  // Blanks, non-ASCII bytes and the like escaped as every request is (callers that need another
  // character set for some host escape before, and escapes stay as they are).
  options.url = orvane::net::EscapeUrl(orvane::text::Trim(url));
  options.offset = offset;
  options.connectTimeoutMs = lib.config.netTimeoutMs.load();
  options.stallTimeoutMs = lib.config.netStallMs.load();
  options.aheadBytes = lib.config.netAheadBytes.load();
  options.followPlaylists = lib.config.netPlaylist.load() >= 1;
  options.proc = proc;
  options.user = user;
  auto source = UrlSource::Start(options);
  int error = BASS_OK;
  std::unique_ptr<Decoder> decoder;
  {
    const UrlOpenWatch watch(source);  // another thread may give the open up (UrlOpenAbort.h)
    if (!watch.Aborted()) decoder = Decoder::Open(source, error);
    if (watch.Aborted()) {
      decoder.reset();
      error = BASS_ERROR_ENDED;
    }
  }
  if (!decoder) {
    const int failure = source->Failure();
    source->Cancel();
    // A failed download explains the failure better than what the decoder made of its bytes.
    if (failure != BASS_OK && failure != BASS_ERROR_ENDED) error = failure;
    return Fail(error, HSTREAM{0});
  }
  source->Opened();
  const int prebuf = lib.config.netPrebufPercent.load();
  if (prebuf > 0) {
    const int64_t bytesPerSecond = (decoder->BitRate() > 0 ? decoder->BitRate() : 128000) / 8;
    source->WaitForBytes(bytesPerSecond * lib.config.netBufferMs.load() / 1000 * prebuf / 100);
  }
  return AddStream(std::move(decoder), std::move(source), flags);
}

extern "C" BOOL BASS_StreamFree(HSTREAM handle) {
  return FreeStream(handle) ? Succeed(TRUE) : Fail(BASS_ERROR_HANDLE, FALSE);
}

extern "C" QWORD BASS_StreamGetFilePosition(HSTREAM handle, DWORD mode) {
  const auto channel = FindStream(handle);
  if (!channel) return Fail(BASS_ERROR_HANDLE, kBadQword);
  const int64_t value = channel->FilePosition(mode);
  if (value < 0) return Fail(BASS_ERROR_NOTAVAIL, kBadQword);
  return Succeed(static_cast<QWORD>(value));
}

// ---- channels ----

extern "C" BOOL BASS_ChannelPlay(DWORD handle, BOOL restart) {
  const auto channel = FindStream(handle);
  if (!channel) return Fail(BASS_ERROR_HANDLE, FALSE);
  return Result(channel->Play(restart != FALSE));
}

extern "C" BOOL BASS_ChannelPause(DWORD handle) {
  const auto channel = FindStream(handle);
  if (!channel) return Fail(BASS_ERROR_HANDLE, FALSE);
  return Result(channel->Pause());
}

extern "C" BOOL BASS_ChannelStop(DWORD handle) {
  const auto channel = FindStream(handle);
  if (!channel) return Fail(BASS_ERROR_HANDLE, FALSE);
  const int error = channel->Stop();
  if (error == BASS_OK && (channel->Flags() & BASS_STREAM_AUTOFREE) != 0) FreeStream(handle);
  return Result(error);
}

extern "C" DWORD BASS_ChannelIsActive(DWORD handle) {
  const auto channel = FindStream(handle);
  if (!channel) return Fail(BASS_ERROR_HANDLE, DWORD{BASS_ACTIVE_STOPPED});
  return Succeed(channel->IsActive());
}

extern "C" BOOL BASS_ChannelSetAttribute(DWORD handle, DWORD attrib, float value) {
  const auto channel = FindStream(handle);
  if (!channel) return Fail(BASS_ERROR_HANDLE, FALSE);
  if (attrib != BASS_ATTRIB_VOL) return Fail(BASS_ERROR_ILLTYPE, FALSE);
  return Result(channel->SetVolume(value));
}

extern "C" BOOL BASS_ChannelGetAttribute(DWORD handle, DWORD attrib, float* value) {
  const auto channel = FindStream(handle);
  if (!channel) return Fail(BASS_ERROR_HANDLE, FALSE);
  if (attrib != BASS_ATTRIB_VOL) return Fail(BASS_ERROR_ILLTYPE, FALSE);
  if (value == nullptr) return Fail(BASS_ERROR_ILLPARAM, FALSE);
  *value = channel->Volume();
  return Succeed(TRUE);
}

extern "C" QWORD BASS_ChannelGetLength(DWORD handle, DWORD mode) {
  const auto channel = FindStream(handle);
  if (!channel) return Fail(BASS_ERROR_HANDLE, kBadQword);
  if (mode != BASS_POS_BYTE) return Fail(BASS_ERROR_ILLTYPE, kBadQword);
  const int64_t frames = channel->LengthFrames();
  if (frames < 0) return Fail(BASS_ERROR_NOTAVAIL, kBadQword);
  return Succeed(static_cast<QWORD>(frames) * kBytesPerFrame);
}

extern "C" QWORD BASS_ChannelGetPosition(DWORD handle, DWORD mode) {
  const auto channel = FindStream(handle);
  if (!channel) return Fail(BASS_ERROR_HANDLE, kBadQword);
  if (mode != BASS_POS_BYTE) return Fail(BASS_ERROR_ILLTYPE, kBadQword);
  return Succeed(static_cast<QWORD>(channel->PositionFrames()) * kBytesPerFrame);
}

extern "C" BOOL BASS_ChannelSetPosition(DWORD handle, QWORD pos, DWORD mode) {
  const auto channel = FindStream(handle);
  if (!channel) return Fail(BASS_ERROR_HANDLE, FALSE);
  if (mode != BASS_POS_BYTE) return Fail(BASS_ERROR_ILLTYPE, FALSE);
  if (static_cast<int64_t>(pos) < 0) return Fail(BASS_ERROR_POSITION, FALSE);
  return Result(channel->SetPosition(static_cast<int64_t>(pos / kBytesPerFrame)));
}

extern "C" double BASS_ChannelBytes2Seconds(DWORD handle, QWORD pos) {
  if (!FindStream(handle)) return Fail(BASS_ERROR_HANDLE, -1.0);
  if (static_cast<int64_t>(pos) < 0) return Fail(BASS_ERROR_ILLPARAM, -1.0);
  // 8 * frames / (8 * 44100) rounds exactly like frames / 44100.
  return Succeed(static_cast<double>(pos) / (static_cast<double>(kBytesPerFrame) * kSampleRate));
}

extern "C" QWORD BASS_ChannelSeconds2Bytes(DWORD handle, double pos) {
  if (!FindStream(handle)) return Fail(BASS_ERROR_HANDLE, kBadQword);
  constexpr double kMaxSeconds = 1e12;  // far beyond any stream, far inside 64 bits of bytes
  if (!(pos >= 0.0) || pos > kMaxSeconds) return Fail(BASS_ERROR_ILLPARAM, kBadQword);
  // The first frame at or after the time, so 1.999 s reads back as 1.999 s and not 1.998 s; a
  // time that is a whole frame apart from rounding (one made by BASS_ChannelBytes2Seconds) is that
  // frame exactly.
  const double exact = pos * kSampleRate;
  const double nearest = std::nearbyint(exact);
  const double frames = std::fabs(exact - nearest) <= exact * 1e-15 + 1e-9 ? nearest : std::ceil(exact);
  return Succeed(static_cast<QWORD>(frames) * kBytesPerFrame);
}

extern "C" DWORD BASS_ChannelGetData(DWORD handle, void* buffer, DWORD length) {
  const auto channel = FindStream(handle);
  if (!channel) return Fail(BASS_ERROR_HANDLE, kBadDword);
  int error = BASS_OK;
  const DWORD result = channel->GetData(buffer, length, error);
  SetError(error);
  return result;
}

extern "C" HSYNC BASS_ChannelSetSync(DWORD handle, DWORD type, QWORD, SYNCPROC* proc, void* user) {
  Library& lib = Lib();
  const auto channel = FindStream(handle);
  if (!channel) return Fail(BASS_ERROR_HANDLE, HSYNC{0});
  const HSYNC sync = lib.registry.Add(HandleEntry{HandleKind::Sync, channel, nullptr});
  const int error = channel->AddSync(sync, type, proc, user);
  if (error != BASS_OK || channel->IsFreed()) {
    lib.registry.Remove(sync);
    return Fail(error != BASS_OK ? error : BASS_ERROR_HANDLE, HSYNC{0});
  }
  return Succeed(sync);
}

extern "C" BOOL BASS_ChannelRemoveSync(DWORD handle, HSYNC sync) {
  const auto channel = FindStream(handle);
  if (!channel) return Fail(BASS_ERROR_HANDLE, FALSE);
  if (Lib().registry.FindChannel(sync, HandleKind::Sync) != channel || !channel->RemoveSync(sync)) {
    return Fail(BASS_ERROR_HANDLE, FALSE);
  }
  Lib().registry.Remove(sync);
  return Succeed(TRUE);
}

// ---- effects ----

extern "C" HFX BASS_ChannelSetFX(DWORD handle, DWORD type, int priority) {
  Library& lib = Lib();
  const auto channel = FindStream(handle);
  if (!channel) return Fail(BASS_ERROR_HANDLE, HFX{0});
  if (type != BASS_FX_DX8_PARAMEQ) return Fail(BASS_ERROR_ILLTYPE, HFX{0});
  const HFX fx = lib.registry.Add(HandleEntry{HandleKind::Fx, channel, nullptr});
  const int error = channel->AddFx(fx, priority);
  if (error != BASS_OK) {
    lib.registry.Remove(fx);
    return Fail(error, HFX{0});
  }
  return Succeed(fx);
}

extern "C" BOOL BASS_ChannelRemoveFX(DWORD handle, HFX fx) {
  const auto channel = FindStream(handle);
  if (!channel) return Fail(BASS_ERROR_HANDLE, FALSE);
  if (Lib().registry.FindChannel(fx, HandleKind::Fx) != channel || !channel->RemoveFx(fx)) {
    return Fail(BASS_ERROR_HANDLE, FALSE);
  }
  Lib().registry.Remove(fx);
  return Succeed(TRUE);
}

extern "C" BOOL BASS_FXSetParameters(HFX handle, const void* params) {
  const auto channel = Lib().registry.FindChannel(handle, HandleKind::Fx);
  if (!channel) return Fail(BASS_ERROR_HANDLE, FALSE);
  if (params == nullptr) return Fail(BASS_ERROR_ILLPARAM, FALSE);
  BASS_DX8_PARAMEQ eq;
  std::memcpy(&eq, params, sizeof eq);
  const PeakingParams peaking{eq.fCenter, eq.fBandwidth, eq.fGain};
  return channel->SetFx(handle, peaking) ? Succeed(TRUE) : Fail(BASS_ERROR_HANDLE, FALSE);
}

extern "C" BOOL BASS_FXGetParameters(HFX handle, void* params) {
  const auto channel = Lib().registry.FindChannel(handle, HandleKind::Fx);
  if (!channel) return Fail(BASS_ERROR_HANDLE, FALSE);
  if (params == nullptr) return Fail(BASS_ERROR_ILLPARAM, FALSE);
  PeakingParams peaking;
  if (!channel->GetFx(handle, peaking)) return Fail(BASS_ERROR_HANDLE, FALSE);
  const BASS_DX8_PARAMEQ eq{peaking.centerHz, peaking.bandwidthSemitones, peaking.gainDb};
  std::memcpy(params, &eq, sizeof eq);
  return Succeed(TRUE);
}

// ---- plug-ins ----

extern "C" HPLUGIN BASS_PluginLoad(const char* file, DWORD) {
  Library& lib = Lib();
  if (file == nullptr || file[0] == '\0') return Fail(BASS_ERROR_FILEOPEN, HPLUGIN{0});
  std::lock_guard lock(lib.initMutex);
  int error = BASS_OK;
  std::shared_ptr<Plugin> plugin = Plugin::Load(file, error);
  if (!plugin) return Fail(error, HPLUGIN{0});
  for (DWORD handle : lib.registry.Handles(HandleKind::Plugin)) {
    const auto loaded = lib.registry.FindPlugin(handle);
    if (loaded && loaded->Path() == plugin->Path()) return Fail(BASS_ERROR_ALREADY, HPLUGIN{0});
  }
  return Succeed(lib.registry.Add(HandleEntry{HandleKind::Plugin, nullptr, std::move(plugin)}));
}

extern "C" const BASS_PLUGININFO* BASS_PluginGetInfo(HPLUGIN handle) {
  const auto plugin = Lib().registry.FindPlugin(handle);
  if (!plugin) return Fail(BASS_ERROR_HANDLE, static_cast<const BASS_PLUGININFO*>(nullptr));
  return Succeed(plugin->Info());
}

extern "C" BOOL BASS_PluginFree(HPLUGIN handle) {
  Library& lib = Lib();
  std::lock_guard lock(lib.initMutex);
  if (handle == 0) {
    for (DWORD each : lib.registry.Handles(HandleKind::Plugin)) lib.registry.Remove(each);
    return Succeed(TRUE);
  }
  if (!lib.registry.FindPlugin(handle)) return Fail(BASS_ERROR_HANDLE, FALSE);
  lib.registry.Remove(handle);
  return Succeed(TRUE);
}

// ---- manual output (tests) ----

namespace orvane::bass {

void UseManualOutput(bool on) { Lib().device.UseManual(on); }

bool PullOutput(float* out, size_t frames, int waitMs) { return Lib().device.PullManual(out, frames, waitMs); }

}  // namespace orvane::bass
