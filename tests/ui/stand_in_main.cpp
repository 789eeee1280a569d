#include "stand_in_main.h"

#include <array>
#include <string>
#include <vector>

namespace orvane::test {
namespace {

struct Song {
  const char* title;
  const char* singer;
};

constexpr std::array<Song, 8> kSongs{{
    {"晴天", "周杰伦"},
    {"Moon River", "Audrey Hepburn"},
    {"夜空中最亮的星", "逃跑计划"},
    {"平凡之路", "朴树"},
    {"Clair de Lune", ""},
    {"后来", "刘若英"},
    {"River Flows in You", "Yiruma"},
    {"一生所爱 (电影《大话西游》主题曲，现场版)", "卢冠杰"},
}};

std::vector<ui::PlayListRow> MakeRows(int count, const char* folder) {
  std::vector<ui::PlayListRow> rows;
  rows.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    const Song& song = kSongs[static_cast<size_t>(i) % kSongs.size()];
    rows.push_back({std::to_string(i + 1), ui::PlayListModel::MakeCaption(song.title, song.singer), song.title,
                    song.singer, std::string(folder) + std::to_string(i + 1) + ".mp3", false});
  }
  return rows;
}

}  // namespace

StandInMain::StandInMain(QObject* parent) : QObject(parent) {}

void StandInMain::Fill(int rows) {
  musicList.Clear();
  rndList.Clear();
  musicList.AddRows(MakeRows(rows, "/music/"));
  rndList.AddRows(MakeRows(5, "http://music.orvane.example/songs/"));
  if (rows > 2) {
    musicList.MarkRow(2);
    titleText = QString::fromStdString(musicList.Row(2).Caption);
    playGlyph = QStringLiteral("Pause");
    seekMaximum = 240000;
    seekPosition = 90000;
  }
  musicListVisible = rows > 0;
  addMsgVisible = rows == 0;
  emit changed();
}

void StandInMain::SetTabIndex(int index) {
  Record(QStringLiteral("tabIndex(%1)").arg(index));
  if (index == tabIndex) return;
  tabIndex = index;
  rndMusicEnabled = index == 1;
  emit changed();
}

void StandInMain::btn_playClick() {
  Record(QStringLiteral("btn_playClick"));
  playGlyph = playGlyph == QLatin1String("Play") ? QStringLiteral("Pause") : QStringLiteral("Play");
  emit changed();
}

void StandInMain::tbrmainMouseDown(double x, double barWidth) {
  Record(QStringLiteral("tbrmainMouseDown(%1,%2)").arg(x).arg(barWidth));
}

void StandInMain::showListMenu(double screenX, double screenY) {
  Record(QStringLiteral("showListMenu(%1,%2)").arg(screenX).arg(screenY));
}

void StandInMain::btnMenuClick(double screenX, double screenY) {
  Record(QStringLiteral("btnMenuClick(%1,%2)").arg(screenX).arg(screenY));
}

void StandInMain::MsgPop1Result(int result) {
  Record(QStringLiteral("MsgPop1Result(%1)").arg(result));
  msgVisible = false;
  emit changed();
}

bool StandInMain::KeyPressed(int key, int modifiers) {
  Record(QStringLiteral("KeyPressed(%1,%2)").arg(key).arg(modifiers));
  return takeKeys;
}

void StandInMain::SetFace(const char* call, int from, int to) {
  Record(QString::fromLatin1(call));
  if (!switchFaces || face != from) return;
  face = to;
  emit faceChanged();
}

void StandInMain::Flip(const char* call, bool& value) {
  Record(QString::fromLatin1(call));
  value = !value;
  emit changed();
}

void StandInMain::SetModBox(int item) {
  Record(QStringLiteral("modBox(%1)").arg(item));
  modBox = item;
  emit changed();
}

void StandInMain::SetEffBox(int item) {
  Record(QStringLiteral("effBox(%1)").arg(item));
  effBox = item;
  emit changed();
}

void StandInMain::lstDefaultDragDrop(const QList<QUrl>& urls) {
  QStringList paths;
  for (const QUrl& url : urls) paths << url.toLocalFile();
  Record(QStringLiteral("lstDefaultDragDrop(%1)").arg(paths.join(QLatin1Char(','))));
}

void StandInMain::noticeShown() {
  Record(QStringLiteral("noticeShown"));
  noticeText.clear();
  emit changed();
}

}  // namespace orvane::test
