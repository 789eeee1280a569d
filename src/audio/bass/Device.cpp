#include "Device.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <thread>

#include "Channel.h"
#include "ChannelFormat.h"
#include "bass.h"

namespace orvane::bass {
namespace {

// Whether SDL has the audio back end it is told to use (SDL_AUDIODRIVER, a comma-separated list),
// or any when it is told nothing. Known without starting SDL's audio.
bool BackEndExists() {
  const char* wanted = std::getenv("SDL_AUDIODRIVER");
  const int count = SDL_GetNumAudioDrivers();
  if (wanted == nullptr || *wanted == '\0') return count > 0;
  std::string_view names(wanted);
  while (!names.empty()) {
    const size_t comma = names.find(',');
    const std::string_view name = names.substr(0, comma);
    for (int i = 0; i < count; ++i) {
      const char* driver = SDL_GetAudioDriver(i);
      if (driver != nullptr && name.size() == std::strlen(driver) &&
          SDL_strncasecmp(driver, name.data(), name.size()) == 0) {
        return true;
      }
    }
    names = comma == std::string_view::npos ? std::string_view{} : names.substr(comma + 1);
  }
  return false;
}

}  // namespace

Device::~Device() { Close(); }

int Device::Open(int device) {
  if (IsOpen()) return BASS_ERROR_ALREADY;
  if (device == 0 || device < -1) return BASS_ERROR_DEVICE;
  if (manualWanted.load()) return OpenManual();
  if (!BackEndExists()) return BASS_ERROR_DRIVER;
  // A back end whose server is not there yet fails to start: the keeper starts it later.
  subsystemStarted = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;

  deviceName.clear();
  if (device > 1) {
    if (!subsystemStarted || device - 2 >= SDL_GetNumAudioDevices(0)) {
      Close();
      return BASS_ERROR_DEVICE;
    }
    const char* name = SDL_GetAudioDeviceName(device - 2, 0);
    deviceName = name ? name : "";
  }
  const char* driver = subsystemStarted ? SDL_GetCurrentAudioDriver() : nullptr;
  closeWhenIdle = !(driver && std::strcmp(driver, "disk") == 0);

  // Opened once here, so a driver that cannot open at all (the disk driver without its file) fails
  // BASS_Init; the keeper closes it again as soon as it finds that nothing plays. A default device
  // that does not open now is the keeper's to open once a stream wants it.
  const SDL_AudioDeviceID opened = subsystemStarted ? OpenSdl() : 0;
  if (opened == 0 && (!closeWhenIdle || !deviceName.empty())) {
    Close();
    return BASS_ERROR_DEVICE;
  }
  if (opened == 0) std::fprintf(stderr, "Orvane: no sound output yet: %s\n", SDL_GetError());
  {
    auto output = mixState.Lock();
    output->mix.reserve(kMaxAttached);
    output->owners.reserve(kMaxAttached);
  }
  outputLost.store(opened == 0, std::memory_order_release);
  deviceGone.store(false);
  sdl.store(opened, std::memory_order_release);
  initialised.store(true, std::memory_order_release);
  started.store(true);
  if (opened != 0) SDL_PauseAudioDevice(opened, 0);
  if (closeWhenIdle) {
    keeperQuit.store(false);
    keeper = std::thread([this] { Keep(); });
    Poke();
  }
  return BASS_OK;
}

int Device::OpenManual() {
  latencyFrames.store(0, std::memory_order_relaxed);  // a pulled frame is heard
  closeWhenIdle = false;                               // nothing to close: no keeper
  {
    auto output = mixState.Lock();
    output->mix.reserve(kMaxAttached);
    output->owners.reserve(kMaxAttached);
  }
  manualPaused.store(false);
  manualOpen.store(true, std::memory_order_release);
  initialised.store(true, std::memory_order_release);
  started.store(true);
  return BASS_OK;
}

SDL_AudioDeviceID Device::OpenSdl() {
  SDL_AudioSpec want{};
  want.freq = kSampleRate;
  want.format = AUDIO_F32SYS;
  want.channels = kChannels;
  want.samples = kPeriodFrames;
  want.callback = &Device::Callback;
  want.userdata = this;
  SDL_AudioSpec have{};
  idlePeriods = 0;  // the callback is not running yet
  idleReported = false;
  // No allowed changes: SDL converts to whatever the hardware wants, we always see our format.
  const SDL_AudioDeviceID opened =
      SDL_OpenAudioDevice(deviceName.empty() ? nullptr : deviceName.c_str(), 0, &want, &have, 0);
  if (opened != 0) latencyFrames.store(have.samples > 0 ? have.samples : kPeriodFrames, std::memory_order_relaxed);
  return opened;
}

void Device::CloseSdl() {
  const SDL_AudioDeviceID opened = sdl.exchange(0);
  if (opened != 0) SDL_CloseAudioDevice(opened);  // waits for the callback to finish
  deviceGone.store(false);
}

void Device::Close() {
  if (keeper.joinable()) {
    {
      std::lock_guard lock(retryMutex);
      keeperQuit.store(true);
    }
    retryWake.notify_all();
    Poke();
    keeper.join();
  }
  CloseSdl();
  initialised.store(false, std::memory_order_release);
  started.store(false);
  outputLost.store(false);
  {
    auto output = mixState.Lock();  // a pull in progress has finished
    manualOpen.store(false, std::memory_order_release);
    latencyFrames.store(kPeriodFrames, std::memory_order_relaxed);
    output->mix.clear();
    output->owners.clear();
  }
  if (subsystemStarted) SDL_QuitSubSystem(SDL_INIT_AUDIO);
  subsystemStarted = false;
}

bool Device::SetPaused(bool paused) {
  if (!IsOpen()) return false;
  if (manualOpen.load(std::memory_order_acquire)) {
    manualPaused.store(paused);
    return true;
  }
  started.store(!paused);
  if (closeWhenIdle) {
    Poke();
  } else if (const SDL_AudioDeviceID opened = sdl.load(std::memory_order_acquire); opened != 0) {
    SDL_PauseAudioDevice(opened, paused ? 1 : 0);
  }
  return true;
}

void Device::Activate() {
  // Always: a device that looks open may be closing right now, and the keeper must look again
  // once it is closed. Costs nothing when the keeper is busy, one futex wake when it sleeps.
  if (closeWhenIdle) Poke();
}

void Device::Poke() {
  pokes.fetch_add(1, std::memory_order_release);
  pokes.notify_one();
}

bool Device::AnyPlaying() {
  auto output = mixState.Lock();
  return std::any_of(output->mix.begin(), output->mix.end(), [](const Channel* channel) { return channel->Playing(); });
}

// The keeper: opens the SDL device when something plays and closes it when nothing does, and
// replaces one that went away. Woken by Activate, SetPaused and the callback's reports; otherwise
// asleep.
void Device::Keep() {
  pthread_setname_np(pthread_self(), "orvane-output");
  std::chrono::milliseconds pause = kFirstRetry;
  for (;;) {
    const uint32_t seen = pokes.load(std::memory_order_acquire);
    if (keeperQuit.load()) return;
    if (deviceGone.load()) CloseSdl();
    const bool wanted = started.load() && AnyPlaying();
    const bool running = sdl.load(std::memory_order_acquire) != 0;
    if (wanted && !running) {
      if (!OpenOutput()) {
        WaitToRetry(pause);
        pause = std::min(pause * 2, kLongestRetry);
        continue;
      }
      pause = kFirstRetry;
    } else if (!wanted && running) {
      CloseSdl();
    }
    pokes.wait(seen, std::memory_order_acquire);
  }
}

bool Device::OpenOutput() {
  const bool wasLost = outputLost.load();
  SDL_AudioDeviceID opened = subsystemStarted && !wasLost ? OpenSdl() : 0;
  if (opened == 0) {
    // A back end that lost its server keeps its dead connection: only a fresh start reaches the
    // server again (or one that started meanwhile, or another back end).
    RestartSdlAudio();
    opened = subsystemStarted ? OpenSdl() : 0;
  }
  if (opened == 0) {
    if (!wasLost) std::fprintf(stderr, "Orvane: the sound output does not open: %s\n", SDL_GetError());
    outputLost.store(true, std::memory_order_release);
    return false;
  }
  if (wasLost) std::fprintf(stderr, "Orvane: the sound output is back (%s)\n", SDL_GetCurrentAudioDriver());
  sdl.store(opened, std::memory_order_release);
  outputLost.store(false, std::memory_order_release);
  SDL_PauseAudioDevice(opened, 0);
  return true;
}

void Device::RestartSdlAudio() {
  if (subsystemStarted) SDL_QuitSubSystem(SDL_INIT_AUDIO);
  subsystemStarted = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
}

void Device::WaitToRetry(std::chrono::milliseconds pause) {
  std::unique_lock lock(retryMutex);
  retryWake.wait_for(lock, pause, [this] { return keeperQuit.load(); });
}

bool Device::PullManual(float* out, size_t frames, int waitMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  // In periods, as a sound card asks (volume ramps and the like span one period).
  for (size_t done = 0; done < frames;) {
    const size_t period = std::min<size_t>(kPeriodFrames, frames - done);
    for (;;) {
      if (!manualOpen.load(std::memory_order_acquire)) return false;
      {
        OutputLock output = mixState.Lock();
        if (manualPaused.load() || ReadyToMix(output, period) || std::chrono::steady_clock::now() >= deadline) {
          float* block = out + 2 * done;
          std::memset(block, 0, period * kBytesPerFrame);
          if (!manualPaused.load()) MixLocked(output, block, static_cast<int>(period));
          break;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));  // a decoder is still at work
    }
    done += period;
  }
  return true;
}

bool Device::ReadyToMix(OutputLock& output, size_t frames) {
  for (Channel* channel : output->mix) {
    if (!channel->HasFramesFor(frames)) return false;
  }
  return true;
}

bool Device::Attach(std::shared_ptr<Channel> channel) {
  if (!IsOpen()) return false;
  OutputLock output = mixState.Lock();
  auto& mix = output->mix;
  if (std::find(mix.begin(), mix.end(), channel.get()) != mix.end()) return true;
  if (mix.size() >= kMaxAttached) return false;
  mix.push_back(channel.get());  // capacity reserved at Open: no allocation under the lock
  output->owners.push_back(std::move(channel));
  return true;
}

void Device::Detach(const Channel* channel) {
  std::shared_ptr<Channel> released;  // dropped after the lock
  OutputLock output = mixState.Lock();
  auto& mix = output->mix;
  const auto it = std::find(mix.begin(), mix.end(), channel);
  if (it == mix.end()) return;
  mix.erase(it);
  auto& owners = output->owners;
  const auto owner = std::find_if(owners.begin(), owners.end(), [&](const auto& p) { return p.get() == channel; });
  if (owner != owners.end()) {
    released = std::move(*owner);
    owners.erase(owner);
  }
}

std::vector<std::shared_ptr<Channel>> Device::DetachAll() {
  std::vector<std::shared_ptr<Channel>> released;
  OutputLock output = mixState.Lock();
  output->mix.clear();
  released.swap(output->owners);
  output->owners.reserve(kMaxAttached);
  return released;
}

void SDLCALL Device::Callback(void* user, Uint8* stream, int length) {
  auto* out = reinterpret_cast<float*>(stream);
  const int frames = length / kBytesPerFrame;
  std::memset(stream, 0, static_cast<size_t>(length));
  static_cast<Device*>(user)->Mix(out, frames);
}

bool Device::DeviceGone() {
  if (deviceGone.load(std::memory_order_relaxed)) return true;
  // A device the keeper closes on purpose reads as stopped too, but its id is taken away before
  // SDL marks it so: the id read again after the status tells the two apart.
  const SDL_AudioDeviceID opened = sdl.load(std::memory_order_acquire);
  if (opened == 0 || SDL_GetAudioDeviceStatus(opened) != SDL_AUDIO_STOPPED) return false;
  if (sdl.load(std::memory_order_acquire) != opened) return false;
  outputLost.store(true, std::memory_order_release);
  deviceGone.store(true, std::memory_order_release);
  Poke();
  return true;
}

bool Device::MixLocked(OutputLock& output, float* out, int frames) {
  bool playing = false;
  for (Channel* channel : output->mix) {
    playing |= channel->Playing();
    channel->MixInto(out, static_cast<size_t>(frames));
  }
  return playing;
}

void Device::Mix(float* out, int frames) {
  // Mixed into a device that went away, a song would run on unheard.
  if (DeviceGone()) return;
  bool playing = false;
  {
    OutputLock output = mixState.Lock();
    playing = MixLocked(output, out, frames);
  }
  if (playing || !closeWhenIdle) {
    idlePeriods = 0;
    idleReported = false;
    return;
  }
  if (idleReported || ++idlePeriods < kIdlePeriods) return;
  idleReported = true;
  Poke();
}

}  // namespace orvane::bass
