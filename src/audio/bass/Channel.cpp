#include "Channel.h"

#include <pthread.h>

#include <algorithm>
#include <cstring>
#include <system_error>

#include "ChannelFormat.h"
#include "Device.h"
#include "UrlSource.h"

namespace orvane::bass {

Channel::Channel(Device& device, std::unique_ptr<Decoder> openedDecoder, std::shared_ptr<UrlSource> urlSource,
                 DWORD flags)
    : device(device), flags(flags), tags(openedDecoder->Tags()), url(std::move(urlSource)) {
  lengthFrames.store(openedDecoder->LengthFrames());
  decoding.Lock()->decoder = std::move(openedDecoder);
}

Channel::~Channel() {
  // Reached on the decoder thread itself when a stream freed from its own callback lets go last.
  if (thread.joinable()) thread.detach();
}

// ---- control ----

int Channel::Play(bool restart) {
  ControlLock c = control.Lock();
  if (c->freed) return BASS_ERROR_HANDLE;
  if (IsDecodeOnly()) return BASS_ERROR_DECODE;
  if (!device.IsOpen()) return BASS_ERROR_INIT;
  if (!ring) ring = std::make_unique<FrameRing>(kRingFrames);
  if (!c->attached) {
    if (!device.Attach(shared_from_this())) return BASS_ERROR_NOCHAN;
    c->attached = true;
  }
  if (restart || c->endedRun) {
    const int error = Seek(c, 0);
    if (error != BASS_OK) return error;
  }
  if (!EnsureThread()) return BASS_ERROR_MEM;
  state.store(BASS_ACTIVE_PLAYING, std::memory_order_release);
  Wake();
  device.Activate();  // after the state: the output sleeps while no stream plays
  return BASS_OK;
}

int Channel::Pause() {
  ControlLock c = control.Lock();
  if (c->freed) return BASS_ERROR_HANDLE;
  if (IsDecodeOnly()) return BASS_ERROR_DECODE;
  const int current = state.load();
  if (current == BASS_ACTIVE_PAUSED) return BASS_ERROR_ALREADY;
  if (current != BASS_ACTIVE_PLAYING) return BASS_ERROR_NOPLAY;
  state.store(BASS_ACTIVE_PAUSED, std::memory_order_release);
  return BASS_OK;
}

int Channel::Stop() {
  ControlLock c = control.Lock();
  if (c->freed) return BASS_ERROR_HANDLE;
  state.store(BASS_ACTIVE_STOPPED, std::memory_order_release);
  return BASS_OK;
}

DWORD Channel::IsActive() const {
  if (IsDecodeOnly()) return decodeEnded.load() ? BASS_ACTIVE_STOPPED : BASS_ACTIVE_PLAYING;
  const int current = state.load(std::memory_order_acquire);
  if (current == BASS_ACTIVE_PLAYING && device.OutputLost()) return BASS_ACTIVE_PAUSED_DEVICE;
  if (current == BASS_ACTIVE_PLAYING && starved.load() && !decodeEnded.load()) return BASS_ACTIVE_STALLED;
  return static_cast<DWORD>(current);
}

int Channel::SetVolume(float value) {
  if (!(value >= 0.0f)) return BASS_ERROR_ILLPARAM;  // also refuses NaN
  ControlLock c = control.Lock();
  if (c->freed) return BASS_ERROR_HANDLE;
  volume.store(value, std::memory_order_relaxed);
  return BASS_OK;
}

int Channel::SetPosition(int64_t frame) {
  ControlLock c = control.Lock();
  if (c->freed) return BASS_ERROR_HANDLE;
  return Seek(c, frame);
}

int Channel::Seek(ControlLock& c, int64_t frame) {
  const int64_t length = lengthFrames.load();
  if (frame < 0 || (length >= 0 && frame > length)) return BASS_ERROR_POSITION;
  const int64_t heard = HeardFrames(c);
  // Tell the decoder thread to step aside: it stops between portions, and a URL read that is
  // waiting for the network gives up at once.
  controlWaiting.fetch_add(1);
  if (url) url->SetInterrupt(true);
  int result = BASS_OK;
  {
    DecodeLock d = decoding.Lock();
    if (url) url->SetInterrupt(false);
    if (SeeksOnDecoderThread()) {
      // Finding the frame may wait for bytes still to come: the decoder thread does it.
      d->seekFallback = d->seekTarget >= 0 ? d->seekFallback : heard;
      d->seekTarget = frame;
      seekWanted.store(true);
      RestartRingAt(c, d, frame);
    } else {
      const int64_t resume = d->decoder->NextFrame();
      if (!d->decoder->Seek(frame)) {
        // Come back to where decoding was, so playback goes on as if nothing happened.
        d->decoder->Seek(resume);
        result = BASS_ERROR_POSITION;
      } else {
        const int64_t actual = d->decoder->NextFrame();
        d->decodePosition = actual;
        d->decodeEndFired = false;
        RestartRingAt(c, d, actual);
      }
    }
  }
  controlWaiting.fetch_sub(1);
  Wake();
  return result;
}

void Channel::RestartRingAt(ControlLock& c, DecodeLock&, int64_t frame) {
  const Device::OutputLock output = device.LockOutput();  // the output must not read the ring while it is emptied
  if (ring) ring->Reset();
  ringStartFrame.store(frame);
  heardFloor.store(frame);
  tailFrames.store(0);
  heardEnd.store(false);
  endUnreported.store(false);
  starved.store(false);
  decodeEnded.store(false);
  c->endedRun = false;
}

int64_t Channel::PositionFrames() {
  ControlLock c = control.Lock();
  if (IsDecodeOnly()) return decoding.Lock()->decodePosition;
  return HeardFrames(c);
}

int64_t Channel::HeardFrames(ControlLock&) {
  if (IsDecodeOnly()) return 0;
  if (!ring) return heardFloor.load();
  // Consumed by the output, minus what the device still holds, unless silence already followed
  // the last frame.
  const int64_t latency = device.LatencyFrames();
  const int64_t tail = std::min<int64_t>(tailFrames.load(), latency);
  int64_t heard = ringStartFrame.load() + static_cast<int64_t>(ring->ReadCount()) - latency + tail;
  heard = std::max(heard, heardFloor.load());
  const int64_t length = lengthFrames.load();
  if (decodeEnded.load() && length >= 0) heard = std::min(heard, length);
  return heard;
}

DWORD Channel::GetData(void* buffer, DWORD length, int& error) {
  constexpr DWORD kFftFlag = 0x80000000u;
  error = BASS_OK;
  if ((length & kFftFlag) != 0) {
    error = BASS_ERROR_NOTAVAIL;
    return static_cast<DWORD>(-1);
  }
  const DWORD bytes = length & ~static_cast<DWORD>(BASS_DATA_FLOAT);
  if (buffer == nullptr && bytes != BASS_DATA_AVAILABLE) {
    error = BASS_ERROR_ILLPARAM;
    return static_cast<DWORD>(-1);
  }

  if (!IsDecodeOnly()) {
    ControlLock c = control.Lock();
    if (c->freed) {
      error = BASS_ERROR_HANDLE;
      return static_cast<DWORD>(-1);
    }
    if (bytes == BASS_DATA_AVAILABLE) return ring ? static_cast<DWORD>(ring->Available() * kBytesPerFrame) : 0;
    const size_t frames = std::min<size_t>(bytes / kBytesPerFrame, kHistoryFrames);
    auto* out = static_cast<float*>(buffer);
    std::lock_guard historyLock(historyMutex);
    const size_t start = (historyWrite + kHistoryFrames - frames) % kHistoryFrames;
    for (size_t i = 0; i < frames; ++i) {
      const size_t slot = (start + i) % kHistoryFrames;
      out[2 * i] = history[2 * slot];
      out[2 * i + 1] = history[2 * slot + 1];
    }
    return static_cast<DWORD>(frames * kBytesPerFrame);
  }

  if (bytes == BASS_DATA_AVAILABLE) return 0;  // nothing is decoded ahead
  const size_t frames = bytes / kBytesPerFrame;
  size_t got = 0;
  bool fire = false;
  {
    ControlLock c = control.Lock();
    if (c->freed) {
      error = BASS_ERROR_HANDLE;
      return static_cast<DWORD>(-1);
    }
    DecodeLock d = decoding.Lock();
    auto* out = static_cast<float*>(buffer);
    Decoder::Status status = Decoder::Status::Ok;
    got = d->decoder->Read(out, frames, status);
    if (got > 0) {
      eq.Process(out, got);
      const float to = volume.load(std::memory_order_relaxed);
      const float from = d->volumeApplied ? d->appliedVolume : to;  // the first block starts at its volume
      d->volumeApplied = true;
      if (from != 1.0f || to != 1.0f) {
        for (size_t i = 0; i < got; ++i) {
          const float gain = from + (to - from) * static_cast<float>(i + 1) / static_cast<float>(got);
          out[2 * i] *= gain;
          out[2 * i + 1] *= gain;
        }
      }
      d->appliedVolume = to;
    }
    d->decodePosition += static_cast<int64_t>(got);
    if (status == Decoder::Status::End) {
      lengthFrames.store(d->decodePosition);
      decodeEnded.store(true);
      fire = !d->decodeEndFired;
      d->decodeEndFired = true;
    }
  }
  if (fire) FireEndSyncs();
  if (got == 0) {
    error = BASS_ERROR_ENDED;
    return static_cast<DWORD>(-1);
  }
  return static_cast<DWORD>(got * kBytesPerFrame);
}

// ---- syncs and effects ----

int Channel::AddSync(HSYNC sync, DWORD type, SYNCPROC* proc, void* user) {
  if ((type & 0x00FFFFFF) != BASS_SYNC_END) return BASS_ERROR_ILLTYPE;
  if (proc == nullptr) return BASS_ERROR_ILLPARAM;
  std::lock_guard lock(syncMutex);
  syncs.push_back(Sync{sync, type, proc, user});
  return BASS_OK;
}

bool Channel::RemoveSync(HSYNC sync) {
  std::lock_guard lock(syncMutex);
  const auto it = std::find_if(syncs.begin(), syncs.end(), [sync](const Sync& s) { return s.handle == sync; });
  if (it == syncs.end()) return false;
  syncs.erase(it);
  return true;
}

std::vector<HSYNC> Channel::SyncHandles() {
  std::lock_guard lock(syncMutex);
  std::vector<HSYNC> result;
  for (const Sync& s : syncs) result.push_back(s.handle);
  return result;
}

void Channel::FireEndSyncs() {
  std::vector<Sync> due;
  {
    std::lock_guard lock(syncMutex);
    for (const Sync& s : syncs) {
      if ((s.type & 0x00FFFFFF) == BASS_SYNC_END) due.push_back(s);
    }
    std::erase_if(syncs, [](const Sync& s) {
      return (s.type & 0x00FFFFFF) == BASS_SYNC_END && (s.type & BASS_SYNC_ONETIME) != 0;
    });
  }
  for (const Sync& s : due) s.proc(s.handle, handle, 0, s.user);
}

// The equaliser's control side is serialised by the control lock (see ParamEq.h).
int Channel::AddFx(HFX fx, int priority) {
  ControlLock c = control.Lock();
  if (c->freed) return BASS_ERROR_HANDLE;
  if (!eq.Add(fx, priority)) return BASS_ERROR_NOFX;
  c->fxHandles.push_back(fx);
  return BASS_OK;
}

bool Channel::RemoveFx(HFX fx) {
  ControlLock c = control.Lock();
  std::erase(c->fxHandles, fx);
  return eq.Remove(fx);
}

bool Channel::SetFx(HFX fx, const PeakingParams& params) {
  ControlLock c = control.Lock();
  return !c->freed && eq.Set(fx, params);
}

bool Channel::GetFx(HFX fx, PeakingParams& params) {
  ControlLock c = control.Lock();
  return !c->freed && eq.Get(fx, params);
}

std::vector<HFX> Channel::FxHandles() {
  return control.Lock()->fxHandles;
}

int64_t Channel::FilePosition(DWORD mode) {
  if (url) {
    switch (mode) {
      case BASS_FILEPOS_CURRENT:
        return url->Tell();
      case BASS_FILEPOS_DOWNLOAD:
        return url->Downloaded();
      case BASS_FILEPOS_END:
        return url->ContentLength();
      case BASS_FILEPOS_START:
        return url->HeldStart();
      case BASS_FILEPOS_CONNECTED:
        return url->Connected() ? 1 : 0;
      case BASS_FILEPOS_BUFFER:
        return url->ReadAhead();
      default:
        return -1;
    }
  }
  DecodeLock d = decoding.Lock();
  switch (mode) {
    case BASS_FILEPOS_CURRENT:
      return d->decoder->Source().Tell();
    case BASS_FILEPOS_DOWNLOAD:
    case BASS_FILEPOS_END:
      return d->decoder->Source().Size();
    case BASS_FILEPOS_START:
      return 0;
    default:
      return -1;
  }
}

// ---- lifetime ----

bool Channel::EnsureThread() {
  if (thread.joinable()) return true;
  try {
    // The thread owns a reference: it may outlive every other owner when the stream is freed from
    // its own SYNCPROC.
    thread = std::thread([self = shared_from_this()] { self->DecoderThread(); });
    threadId = thread.get_id();
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void Channel::Free() {
  {
    ControlLock c = control.Lock();
    if (c->freed) return;
    c->freed = true;
    state.store(BASS_ACTIVE_STOPPED);
  }
  // A decoder waiting for network bytes is released first, then the thread is told to go.
  if (url) url->Cancel();
  quit.store(true, std::memory_order_release);
  Wake();
  if (thread.joinable()) {
    if (std::this_thread::get_id() == threadId) {
      thread.detach();
    } else {
      thread.join();
    }
  }
  { decoding.Lock(); }  // a decoding channel's GetData in flight has finished
  device.Detach(this);
  std::lock_guard lock(syncMutex);
  syncs.clear();
}

bool Channel::IsFreed() { return control.Lock()->freed; }

void Channel::Wake() {
  wake.fetch_add(1, std::memory_order_release);
  wake.notify_one();
}

// ---- decoder thread ----

void Channel::DecoderThread() {
  pthread_setname_np(pthread_self(), "orvane-decode");
  for (;;) {
    const uint32_t seen = wake.load(std::memory_order_acquire);
    if (quit.load(std::memory_order_acquire)) return;
    if (heardEnd.load(std::memory_order_acquire)) {
      HandleHeardEnd();
      continue;
    }
    if (controlWaiting.load() == 0 && seekWanted.load()) {
      RunPendingSeek();
      continue;
    }
    if (controlWaiting.load() == 0 && !decodeEnded.load() && ring->Free() >= ring->Capacity() / 2) {
      FillRing();
      continue;
    }
    wake.wait(seen, std::memory_order_acquire);
  }
}

void Channel::FillRing() {
  while (!quit.load(std::memory_order_relaxed) && controlWaiting.load() == 0) {
    DecodeLock d = decoding.Lock();
    // A seek that came in meanwhile reset the ring: nothing from before it may go in.
    if (decodeEnded.load() || d->seekTarget >= 0) return;
    size_t room = 0;
    float* target = ring->WriteRegion(kPortionFrames, room);
    if (room == 0) return;
    Decoder::Status status = Decoder::Status::Ok;
    const size_t got = d->decoder->Read(target, room, status);
    ring->CommitWrite(got);
    if (status == Decoder::Status::End) {
      lengthFrames.store(d->decoder->NextFrame());  // the exact count, now that it is known
      decodeEnded.store(true, std::memory_order_release);
      return;
    }
    if (status == Decoder::Status::Interrupted) return;
  }
}

void Channel::RunPendingSeek() {
  DecodeLock d = decoding.Lock();
  if (d->seekTarget < 0) {
    seekWanted.store(false);
    return;
  }
  bool found = d->decoder->Seek(d->seekTarget);
  // Interrupted by a newer seek or by Free, which is waiting for this lock: it decides what next.
  if (!found && controlWaiting.load() > 0) return;
  if (!found) found = d->decoder->Seek(d->seekFallback);
  if (!found && controlWaiting.load() > 0) return;
  d->seekTarget = -1;
  seekWanted.store(false);
  if (!found) {
    // Neither the target nor the old place can be reached (the download broke off before them):
    // the stream ends here rather than playing from a wrong place.
    decodeEnded.store(true, std::memory_order_release);
    return;
  }
  // The ring has stayed empty since the seek reset it, so its start can move to where the decoder
  // really landed.
  const int64_t actual = d->decoder->NextFrame();
  ringStartFrame.store(actual);
  heardFloor.store(actual);
}

void Channel::HandleHeardEnd() {
  // However this goes, the end has been dealt with when it returns.
  struct Reported {
    std::atomic<bool>& flag;
    ~Reported() { flag.store(false, std::memory_order_release); }
  } reported{endUnreported};
  {
    ControlLock c = control.Lock();
    if (!heardEnd.exchange(false)) return;
    if (c->freed || state.load() != BASS_ACTIVE_PLAYING) return;
    state.store(BASS_ACTIVE_STOPPED, std::memory_order_release);
    c->endedRun = true;
  }
  FireEndSyncs();
  if ((flags & BASS_STREAM_AUTOFREE) != 0 && onAutoFree) onAutoFree(handle);
}

// ---- output callback ----

void Channel::MixInto(float* out, size_t frames) {
  if (state.load(std::memory_order_acquire) != BASS_ACTIVE_PLAYING) {
    sounding = false;
    return;
  }
  const size_t half = ring->Capacity() / 2;
  const size_t freeBefore = ring->Free();
  const float to = volume.load(std::memory_order_relaxed);
  // A glide smooths a change in what is already sounding; a run that starts from silence starts
  // at its volume, or a quiet song would open with a burst at full gain.
  const float from = sounding ? appliedVolume : to;
  sounding = true;
  const float slope = (to - from) / static_cast<float>(frames);
  size_t done = 0;
  while (done < frames) {
    size_t count = 0;
    float* source = ring->ReadRegion(frames - done, count);
    if (count == 0) break;
    eq.Process(source, count);
    float* target = out + 2 * done;
    if (from != to) {
      for (size_t i = 0; i < count; ++i) {
        const float gain = from + slope * static_cast<float>(done + i + 1);
        source[2 * i] *= gain;
        source[2 * i + 1] *= gain;
      }
    } else if (to != 1.0f) {
      for (size_t i = 0; i < 2 * count; ++i) source[i] *= to;
    }
    for (size_t i = 0; i < 2 * count; ++i) target[i] += source[i];
    WriteHistory(source, count);
    ring->CommitRead(count);
    done += count;
  }
  appliedVolume = to;

  if (done < frames) {
    if (decodeEnded.load(std::memory_order_acquire) && ring->Available() == 0) {
      // The last frame has been handed over; once the device has played what it holds, it was heard.
      const int64_t silence = static_cast<int64_t>(frames - done);
      const int64_t tail = tailFrames.fetch_add(silence) + silence;
      if (tail >= device.LatencyFrames() && !heardEnd.load()) {
        endUnreported.store(true, std::memory_order_release);
        heardEnd.store(true, std::memory_order_release);
        Wake();
      }
    } else {
      starved.store(true, std::memory_order_relaxed);
    }
  } else {
    starved.store(false, std::memory_order_relaxed);
  }
  if (freeBefore < half && ring->Free() >= half) Wake();
}

bool Channel::HasFramesFor(size_t frames) const {
  // An end that was heard is reported (state, END syncs) before anything more is played.
  if (endUnreported.load(std::memory_order_acquire)) return false;
  if (state.load(std::memory_order_acquire) != BASS_ACTIVE_PLAYING || !ring) return true;
  return decodeEnded.load(std::memory_order_acquire) || ring->Available() >= frames;
}

void Channel::WriteHistory(const float* frames, size_t count) {
  if (!historyMutex.try_lock()) return;  // a reader is copying: skip one update rather than wait
  if (count > kHistoryFrames) {
    frames += (count - kHistoryFrames) * 2;
    count = kHistoryFrames;
  }
  for (size_t i = 0; i < count; ++i) {
    history[2 * historyWrite] = frames[2 * i];
    history[2 * historyWrite + 1] = frames[2 * i + 1];
    historyWrite = (historyWrite + 1) % kHistoryFrames;
  }
  historyMutex.unlock();
}

}  // namespace orvane::bass
