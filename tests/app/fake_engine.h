#pragma once
// A scripted stand-in for the audio engine: it records what the main window asks of it, and a test
// decides how each open ends. Opens complete through a queued call, as the real engine's do.

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "audio/IAudioEngine.h"

namespace orvane::test {

class FakeEngine : public audio::IAudioEngine {
 public:
  void Open(const std::string& source) override {
    Opened.push_back(source);
    Resolved.push_back(OnResolveLocation ? OnResolveLocation(source) : std::string());
    if (HoldOpens) {
      // A stream that is still connecting: it opens when the test says so.
      SetState(audio::StateConnecting);
      return;
    }
    QMetaObject::invokeMethod(&context, [this] { CompleteOpen(); }, Qt::QueuedConnection);
  }
  // Ends the open of a held stream.
  void CompleteHeldOpen() {
    HoldOpens = false;
    CompleteOpen();
  }
  void Pause() override { SetState(audio::StatePaused); }
  void Resume() override { SetState(audio::StatePlaying); }
  void Stop() override {
    ++Stops;
    SetState(audio::StateStopped);
  }
  int32_t GetPosition() override { return Position; }
  void SetPosition(int32_t ms) override { Seeks.push_back(ms); }
  int32_t GetLength() override { return Length; }
  void SetVolume(float value) override { Volume = value; }
  void SetEqGains(const audio::TEqGains& gains) override { Gains.push_back(gains); }
  // Called on the adding worker: Tags must not change while songs are being added.
  void ReadTags(const std::string& fileName, audio::TTags& tags) override {
    if (BeforeReadTags) BeforeReadTags(fileName);
    const auto found = Tags.find(fileName);
    tags = found == Tags.end() ? audio::TTags{} : found->second;
  }
  int32_t State() const override { return state; }
  bool WaitingForOutput() const override { return NoOutput && state == audio::StatePaused; }
  const std::string& FileFilter() const override { return filter; }

  // Ends the current song as the library's end callback would.
  void EndTrack() {
    state = audio::StateEnded;
    if (OnTrackEnd) OnTrackEnd(audio::StateEnded);
  }

  std::vector<std::string> Opened;
  std::vector<std::string> Resolved;  // what OnResolveLocation made of each opened location ("" none)
  std::vector<int32_t> Seeks;
  std::vector<audio::TEqGains> Gains;
  std::map<std::string, audio::TTags> Tags;
  std::function<void(const std::string& fileName)> BeforeReadTags;  // runs on the reading thread
  int Stops = 0;
  float Volume = -1;
  int32_t Position = 0;
  int32_t Length = 180000;
  bool FailOpens = false;  // opens end in 1006 with library error 2 (file not opened)
  bool HoldOpens = false;  // opens stay connecting until CompleteHeldOpen
  bool NoOutput = false;   // a pause is for want of a sound output, as the real engine reports it

 private:
  void CompleteOpen() {
    if (FailOpens) {
      state = audio::StateOpenFailed;
      if (OnError) OnError(audio::StateOpenFailed, 2);
      return;
    }
    SetState(audio::StatePlaying);
  }
  void SetState(int32_t newState) {
    state = newState;
    if (OnStateChange) OnStateChange(newState);
  }

  int32_t state = audio::StateStopped;
  std::string filter = "所有音乐|*.mp3;*.ogg;*.flac";
  QObject context;  // queued completions die with the engine
};

}  // namespace orvane::test
