#include "Device.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "Channel.h"
#include "ChannelFormat.h"
#include "bass.h"

namespace orvane::bass {

Device::~Device() { Close(); }

int Device::Open(int device) {
  if (IsOpen()) return BASS_ERROR_ALREADY;
  if (device == 0 || device < -1) return BASS_ERROR_DEVICE;
  if (manualWanted.load()) return OpenManual();
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return BASS_ERROR_DRIVER;
  subsystemStarted = true;

  deviceName.clear();
  if (device > 1) {
    if (device - 2 >= SDL_GetNumAudioDevices(0)) {
      Close();
      return BASS_ERROR_DEVICE;
    }
    const char* name = SDL_GetAudioDeviceName(device - 2, 0);
    deviceName = name ? name : "";
  }
  const char* driver = SDL_GetCurrentAudioDriver();
  closeWhenIdle = !(driver && std::strcmp(driver, "disk") == 0);

  // Opened once here, so a device that does not open fails BASS_Init; the keeper closes it again
  // as soon as it finds that nothing plays.
  const SDL_AudioDeviceID opened = OpenSdl();
  if (opened == 0) {
    Close();
    return BASS_ERROR_DEVICE;
  }
  mix.reserve(kMaxAttached);
  owners.reserve(kMaxAttached);
  sdl.store(opened, std::memory_order_release);
  initialised.store(true, std::memory_order_release);
  started.store(true);
  SDL_PauseAudioDevice(opened, 0);
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
  mix.reserve(kMaxAttached);
  owners.reserve(kMaxAttached);
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
}

void Device::Close() {
  if (keeper.joinable()) {
    keeperQuit.store(true);
    Poke();
    keeper.join();
  }
  CloseSdl();
  initialised.store(false, std::memory_order_release);
  started.store(false);
  {
    std::lock_guard lock(mixMutex);  // a pull in progress has finished
    manualOpen.store(false, std::memory_order_release);
    latencyFrames.store(kPeriodFrames, std::memory_order_relaxed);
    mix.clear();
    owners.clear();
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
  std::lock_guard lock(mixMutex);
  return std::any_of(mix.begin(), mix.end(), [](const Channel* channel) {
    const DWORD active = channel->IsActive();
    return active == BASS_ACTIVE_PLAYING || active == BASS_ACTIVE_STALLED;
  });
}

// The keeper: opens the SDL device when something plays and closes it when nothing does. Woken
// by Activate, SetPaused and the callback's "idle" report; otherwise asleep.
void Device::Keep() {
  pthread_setname_np(pthread_self(), "orvane-output");
  for (;;) {
    const uint32_t seen = pokes.load(std::memory_order_acquire);
    if (keeperQuit.load()) return;
    const bool wanted = started.load() && AnyPlaying();
    const bool running = sdl.load(std::memory_order_acquire) != 0;
    if (wanted && !running) {
      const SDL_AudioDeviceID opened = OpenSdl();
      if (opened != 0) {
        sdl.store(opened, std::memory_order_release);
        SDL_PauseAudioDevice(opened, 0);
      } else {
        // The server went away or the device was unplugged: the next Play tries again.
        std::fprintf(stderr, "Orvane: the sound output does not open again: %s\n", SDL_GetError());
      }
    } else if (!wanted && running) {
      CloseSdl();
    }
    pokes.wait(seen, std::memory_order_acquire);
  }
}

bool Device::PullManual(float* out, size_t frames, int waitMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  // In periods, as a sound card asks (volume ramps and the like span one period).
  for (size_t done = 0; done < frames;) {
    const size_t period = std::min<size_t>(kPeriodFrames, frames - done);
    for (;;) {
      if (!manualOpen.load(std::memory_order_acquire)) return false;
      {
        std::lock_guard lock(mixMutex);
        if (manualPaused.load() || ReadyToMix(period) || std::chrono::steady_clock::now() >= deadline) {
          float* block = out + 2 * done;
          std::memset(block, 0, period * kBytesPerFrame);
          if (!manualPaused.load()) MixLocked(block, static_cast<int>(period));
          break;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));  // a decoder is still at work
    }
    done += period;
  }
  return true;
}

bool Device::ReadyToMix(size_t frames) {
  for (Channel* channel : mix) {
    if (!channel->HasFramesFor(frames)) return false;
  }
  return true;
}

bool Device::Attach(std::shared_ptr<Channel> channel) {
  if (!IsOpen()) return false;
  OutputLock lock(*this);
  if (std::find(mix.begin(), mix.end(), channel.get()) != mix.end()) return true;
  if (mix.size() >= kMaxAttached) return false;
  mix.push_back(channel.get());  // capacity reserved at Open: no allocation under the lock
  owners.push_back(std::move(channel));
  return true;
}

void Device::Detach(const Channel* channel) {
  std::shared_ptr<Channel> released;  // dropped after the lock
  OutputLock lock(*this);
  const auto it = std::find(mix.begin(), mix.end(), channel);
  if (it == mix.end()) return;
  mix.erase(it);
  const auto owner = std::find_if(owners.begin(), owners.end(), [&](const auto& p) { return p.get() == channel; });
  if (owner != owners.end()) {
    released = std::move(*owner);
    owners.erase(owner);
  }
}

std::vector<std::shared_ptr<Channel>> Device::DetachAll() {
  std::vector<std::shared_ptr<Channel>> released;
  OutputLock lock(*this);
  mix.clear();
  released.swap(owners);
  owners.reserve(kMaxAttached);
  return released;
}

void SDLCALL Device::Callback(void* user, Uint8* stream, int length) {
  auto* out = reinterpret_cast<float*>(stream);
  const int frames = length / kBytesPerFrame;
  std::memset(stream, 0, static_cast<size_t>(length));
  static_cast<Device*>(user)->Mix(out, frames);
}

bool Device::MixLocked(float* out, int frames) {
  bool playing = false;
  for (Channel* channel : mix) {
    const DWORD active = channel->IsActive();
    playing |= active == BASS_ACTIVE_PLAYING || active == BASS_ACTIVE_STALLED;
    channel->MixInto(out, static_cast<size_t>(frames));
  }
  return playing;
}

void Device::Mix(float* out, int frames) {
  bool playing = false;
  {
    OutputLock lock(*this);
    playing = MixLocked(out, frames);
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
