// Playback control: play/pause, next, previous, the play modes, the engine's events, the tick that
// refreshes the seek bar and the desktop lyric, error recovery and remote control.
#include <algorithm>
#include <cmath>

#include "app/unt_main.h"
#include "desktop/Process.h"
#include "lyrics/Unt_Dlrc.h"
#include "plugins/UPluginFramework.h"
#include "text/TextUtil.h"
#include "ui/PlayListModel.h"

namespace orvane::app {

using namespace orvane::audio;

// The playback commands are the user's when they come from a button, the menu, the list or
// another program, and the player's own when the end-of-song or error rule runs them; a worker
// result that would take over playback (the random list) must not override the user.
void TNimMain::NoteUserAction() {
  if (automaticSteps == 0) ++userActionSerial;
}

ui::PlayListModel& TNimMain::ActiveView() { return shell.ActiveList == 1 ? *rndList : *musicList; }

bool TNimMain::IsTrackIndex(int32_t index) const {
  return index >= 0 && index < static_cast<int32_t>(trackList.size());
}

void TNimMain::SetPlayImages(bool playing) {
  const QString glyph = playing ? QStringLiteral("Pause") : QStringLiteral("Play");
  const QString glyph2 = playing ? QStringLiteral("暂停2") : QStringLiteral("播放2");
  if (glyph == playGlyph && glyph2 == play2Glyph) return;
  playGlyph = glyph;
  play2Glyph = glyph2;
  emit playGlyphChanged();
}

void TNimMain::SetTitle(const std::string& caption) {
  const QString text = QString::fromStdString(caption);
  if (text == titleText) return;
  titleText = text;
  emit titleTextChanged();
}

void TNimMain::SetSeekRange(int32_t maximum) {
  seekMaximum = maximum;
  if (seekPosition > seekMaximum) seekPosition = seekMaximum;
  emit seekChanged();
}

void TNimMain::btn_playClick() {
  NoteUserAction();
  if (ActiveView().Count() == 0 || !engine) return;
  if (shell.CurrentIndex < 0) shell.CurrentIndex = 0;
  if (!IsTrackIndex(shell.CurrentIndex)) return;
  switch (engine->State()) {
    case StateStopped:
    case StateEnded:
      ActiveView().SetSelectedIndex(shell.CurrentIndex);
      engine->Open(trackList[static_cast<size_t>(shell.CurrentIndex)].Location);
      break;
    case StatePlaying:
      engine->Pause();
      break;
    case StatePaused:
      engine->Resume();
      break;
    default:  // connecting or failed: wait for the open to finish or the error rule to act
      break;
  }
}

void TNimMain::btn_nextClick() {
  NoteUserAction();
  const int rows = ActiveView().Count();
  if (rows == 0 || !engine) return;
  ++shell.CurrentIndex;
  if (shell.CurrentIndex >= rows) shell.CurrentIndex = 0;
  engine->Stop();
  btn_playClick();
}

void TNimMain::btn_previousClick() {
  NoteUserAction();
  if (ActiveView().Count() == 0 || !engine) return;
  --shell.CurrentIndex;
  // Before the first row nothing happens: the playing song goes on, a later Play starts row 0.
  if (shell.CurrentIndex < 0) return;
  engine->Stop();
  btn_playClick();
}

void TNimMain::tbrmainMouseDown(double x, double barWidth) {
  if (!engine || barWidth <= 0) return;
  // Rounded half to even, as the seek has always landed.
  SeekTo(static_cast<int32_t>(std::nearbyint(seekMaximum * x / barWidth)));
}

void TNimMain::SeekTo(int32_t positionMs) {
  if (!engine) return;
  engine->SetPosition(positionMs);
  emit seeked(positionMs);
}

void TNimMain::StopPlayback() {
  if (engine) engine->Stop();
}

int32_t TNimMain::PlayerState() const { return engine ? engine->State() : StateStopped; }

const TPlayListItem* TNimMain::CurrentTrack() const {
  return IsTrackIndex(shell.CurrentIndex) ? &trackList[static_cast<size_t>(shell.CurrentIndex)] : nullptr;
}

const TPlayListItem* TNimMain::PlayingTrack() const {
  const int32_t state = PlayerState();
  if (state != StatePlaying && state != StatePaused) return nullptr;
  return playingSong.get();
}

int32_t TNimMain::PositionMs() const { return engine ? engine->GetPosition() : 0; }

int32_t TNimMain::LengthMs() const { return engine ? engine->GetLength() : 0; }

void TNimMain::tbrVChange(double value) {
  if (std::isnan(value)) return;
  value = std::clamp(value, 0.0, 100.0);
  if (value == volume) return;
  volume = value;
  emit volumeChanged();
  if (engine) engine->SetVolume(static_cast<float>(value));
  ConfigChanged();
}

void TNimMain::modBoxChange(int item) {
  if (item < 0 || item > 2) return;
  if (item == modBox) return;
  modBox = item;
  shell.PlayMode = PlayModeFromItem(item);
  emit settingsChanged();
  ConfigChanged();
  emit playModeChanged();
}

void TNimMain::EngineTrackEnded(int32_t /*state*/) {
  const TAutomaticStep automatic(*this);
  emit playbackChanged();
  switch (shell.PlayMode) {
    case PlayMode::Normal:
      if (shell.CurrentIndex < ActiveView().Count() - 1) btn_nextClick();
      break;
    case PlayMode::LoopList:
      btn_nextClick();
      break;
    case PlayMode::RepeatOne:
      btn_playClick();
      break;
  }
  AfterTrackStopped();
}

// What follows the end or the failure of a song: only the closing line is left of the lyric, and
// the plug-ins hear of it.
void TNimMain::AfterTrackStopped() {
  lrcDoc.Load("");
  lrcDoc.AddClosingLine(0);
  NotifyPlugins(PLUGIN_TRACKENDED);
}

// The user hears of a song that cannot be played before the error rule moves on. Once per song, and
// one notice for a run of them: a list whose files are all gone is stepped through once a second,
// and a notice per song would flood the window.
void TNimMain::ReportUnplayable() {
  if (!IsTrackIndex(shell.CurrentIndex)) return;
  const TPlayListItem& entry = trackList[static_cast<size_t>(shell.CurrentIndex)];
  if (unplayableSerial != userActionSerial) {
    unplayable.clear();
    unplayableSerial = userActionSerial;
  }
  if (!unplayable.insert(entry.Location).second) return;
  const QString text = unplayable.size() == 1 ? tr("无法播放：%1").arg(QString::fromStdString(entry.Caption))
                                              : tr("无法播放：%1 首歌曲").arg(unplayable.size());
  // The newest count takes the place of the earlier one rather than queueing behind it.
  ReplaceNotice(unplayableNotice, text);
  unplayableNotice = text;
}

void TNimMain::EngineError(int32_t code, int32_t detail) {
  if (code == StateOpenFailed) ReportUnplayable();
  if (detail == 0) return;
  // Switching it on again while it runs must not restart its interval.
  if (!lanErrTimer.isActive()) lanErrTimer.start();
}

void TNimMain::tmr_lanerrTimer() {
  const TAutomaticStep automatic(*this);
  if (shell.PlayMode == PlayMode::RepeatOne) btn_playClick();
  else btn_nextClick();
  AfterTrackStopped();
  lanErrTimer.stop();
}

void TNimMain::EngineStateChanged(int32_t state) {
  // Told once this handler has shown the new state, whichever way it leaves.
  struct Announce {
    TNimMain& window;
    ~Announce() { emit window.playbackChanged(); }
  } announce{*this};
  switch (state) {
    case StateStopped:
      SetPlayImages(false);
      UpdateKaraokeTimer();
      return;
    case StatePaused:
      SetPlayImages(false);
      UpdateKaraokeTimer();
      if (engine && engine->WaitingForOutput()) ShowNotice(tr("没有可用的声音输出，恢复后接着播放").toStdString());
      return;
    case StateConnecting:
      PrepareSongCache();
      // The song before has gone: its lyric must not stand for the one still connecting.
      lrcDoc.Load("");
      if (deskLrc) deskLrc->ShowText("...");
      return;
    case StatePlaying:
      unplayable.clear();  // a run of songs that could not be played has ended
      // A song plays: the skip due for an earlier one that failed would now skip this one.
      lanErrTimer.stop();
      break;
    default:
      return;
  }
  ApplyEffectPreset(shell.EqPresetId);
  if (!IsTrackIndex(shell.CurrentIndex)) return;
  const TPlayListItem& entry = trackList[static_cast<size_t>(shell.CurrentIndex)];
  SetTitle(entry.Caption);
  SetSeekRange(engine ? engine->GetLength() : 0);
  SetPlayImages(true);
  MarkCurrentItem(ActiveView(), shell.CurrentIndex);
  NotifyPlugins(PLUGIN_TRACKSTARTED);
  // A new track (not a resume of the same one) gets a new identity for the desktop's media controls.
  const std::string key = std::to_string(shell.ActiveList) + '/' + std::to_string(shell.CurrentIndex) + '/' + entry.Location;
  if (key != playingKey) {
    playingKey = key;
    ++trackSerial;
  }
  playingSong = trackList.Source()->Songs()[static_cast<size_t>(shell.CurrentIndex)];
  playingRow = shell.CurrentIndex;
  lrcDoc.Load("");
  if (deskLrc) deskLrc->ShowText("...");
  StartLyricLookup();
  UpdateKaraokeTimer();
}

void TNimMain::MarkCurrentItem(ui::PlayListModel& list, int index) { list.MarkRow(index); }

// The engine ticks twice a second: each tick moves the seek bar and refreshes the desktop lyric.
void TNimMain::EngineTick(int32_t /*state*/, int32_t /*lengthMs*/, int32_t positionMs,
                          const TSpectrumData& /*spectrum*/, const TWaveData& /*wave*/) {
  if (seekOpacity == 1.0 && seekPosition != positionMs) {
    seekPosition = positionMs;
    emit seekChanged();
  }
  if (showLrc) RefreshDesktopLyric();
  desktop::TrimWorkingSet();
}

void TNimMain::NotifyPlugins(int32_t event) {
  if (!services.BroadcastToPlugins && !pluginHost) return;
  const ui::PlayListModel& view = ActiveView();
  if (view.Count() == 0 || shell.CurrentIndex < 0 || shell.CurrentIndex >= view.Count()) return;
  const ui::PlayListRow& row = view.Row(shell.CurrentIndex);
  TTrackEvent track;
  track.Location = row.Location.c_str();
  track.LengthDays = (engine ? engine->GetLength() : 0) / 86400000.0;
  track.Title = row.Title.c_str();
  track.TitleLength = static_cast<uint32_t>(row.Title.size());
  track.Singer = row.Songer.c_str();
  track.SingerLength = static_cast<uint32_t>(row.Songer.size());
  if (services.BroadcastToPlugins) {
    services.BroadcastToPlugins(event, track);
    return;
  }
  // The plug-ins' record (UPluginAPI.h), valid for the calls only.
  ::TTrackEvent record{};
  record.Location = track.Location;
  record.LengthDays = track.LengthDays;
  record.Title = track.Title;
  record.TitleLength = track.TitleLength;
  record.Singer = track.Singer;
  record.SingerLength = track.SingerLength;
  pluginHost->BroadcastToPlugins(event, reinterpret_cast<uintptr_t>(&record), 0);
}

int32_t TNimMain::WMCMDPLAY(int32_t wParam, int32_t lParam) {
  if (lParam != 0) return -1;
  switch (wParam) {
    case CMDPLAY_NOP:
      return 1;
    case CMDPLAY_PLAYPAUSE:
      btn_playClick();
      return 1;
    case CMDPLAY_PREVIOUS:
      btn_previousClick();
      return 1;
    case CMDPLAY_NEXT:
      btn_nextClick();
      return 1;
    case CMDPLAY_COUNT:
      return ActiveView().Count();
    case CMDPLAY_INDEX:
      return shell.CurrentIndex;
    default:
      return -1;
  }
}

}  // namespace orvane::app
