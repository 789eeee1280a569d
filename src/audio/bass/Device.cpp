#include "Device.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "Channel.h"
#include "ChannelFormat.h"
#include "bass.h"

namespace orvane::bass {

int Device::Open(int device) {
  if (IsOpen()) return BASS_ERROR_ALREADY;
  if (device == 0 || device < -1) return BASS_ERROR_DEVICE;
  if (manualWanted.load()) {
    latencyFrames = 0;  // a pulled frame is heard
    mix.reserve(kMaxAttached);
    owners.reserve(kMaxAttached);
    manualPaused.store(false);
    manualOpen.store(true, std::memory_order_release);
    return BASS_OK;
  }
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return BASS_ERROR_DRIVER;
  subsystemStarted = true;

  const char* name = nullptr;
  if (device > 1) {
    if (device - 2 >= SDL_GetNumAudioDevices(0)) {
      Close();
      return BASS_ERROR_DEVICE;
    }
    name = SDL_GetAudioDeviceName(device - 2, 0);
  }
  SDL_AudioSpec want{};
  want.freq = kSampleRate;
  want.format = AUDIO_F32SYS;
  want.channels = kChannels;
  want.samples = kPeriodFrames;
  want.callback = &Device::Callback;
  want.userdata = this;
  SDL_AudioSpec have{};
  // No allowed changes: SDL converts to whatever the hardware wants, we always see our format.
  const SDL_AudioDeviceID opened = SDL_OpenAudioDevice(name, 0, &want, &have, 0);
  if (opened == 0) {
    Close();
    return BASS_ERROR_DEVICE;
  }
  latencyFrames = have.samples > 0 ? have.samples : kPeriodFrames;
  mix.reserve(kMaxAttached);
  owners.reserve(kMaxAttached);
  id.store(opened, std::memory_order_release);
  SDL_PauseAudioDevice(opened, 0);
  return BASS_OK;
}

void Device::Close() {
  const SDL_AudioDeviceID opened = id.exchange(0);
  if (opened != 0) SDL_CloseAudioDevice(opened);  // waits for the callback to finish
  if (manualOpen.load()) {
    std::lock_guard lock(manualLock);  // a pull in progress has finished
    manualOpen.store(false);
  }
  latencyFrames = kPeriodFrames;
  mix.clear();
  owners.clear();
  if (subsystemStarted) SDL_QuitSubSystem(SDL_INIT_AUDIO);
  subsystemStarted = false;
}

bool Device::SetPaused(bool paused) {
  if (manualOpen.load(std::memory_order_acquire)) {
    manualPaused.store(paused);
    return true;
  }
  const SDL_AudioDeviceID opened = id.load(std::memory_order_acquire);
  if (opened == 0) return false;
  SDL_PauseAudioDevice(opened, paused ? 1 : 0);
  return true;
}

void Device::Lock() {
  if (manualOpen.load(std::memory_order_acquire)) {
    manualLock.lock();
    return;
  }
  const SDL_AudioDeviceID opened = id.load(std::memory_order_acquire);
  if (opened != 0) SDL_LockAudioDevice(opened);
}

void Device::Unlock() {
  if (manualOpen.load(std::memory_order_acquire)) {
    manualLock.unlock();
    return;
  }
  const SDL_AudioDeviceID opened = id.load(std::memory_order_acquire);
  if (opened != 0) SDL_UnlockAudioDevice(opened);
}

bool Device::PullManual(float* out, size_t frames, int waitMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  // In periods, as a sound card asks (volume ramps and the like span one period).
  for (size_t done = 0; done < frames;) {
    const size_t period = std::min<size_t>(kPeriodFrames, frames - done);
    for (;;) {
      if (!manualOpen.load(std::memory_order_acquire)) return false;
      {
        std::lock_guard lock(manualLock);
        if (manualPaused.load() || ReadyToMix(period) || std::chrono::steady_clock::now() >= deadline) {
          float* block = out + 2 * done;
          std::memset(block, 0, period * kBytesPerFrame);
          if (!manualPaused.load()) Mix(block, static_cast<int>(period));
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

void Device::Mix(float* out, int frames) {
  for (Channel* channel : mix) channel->MixInto(out, static_cast<size_t>(frames));
}

}  // namespace orvane::bass
