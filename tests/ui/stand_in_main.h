#pragma once
// A stand-in for the main window's logic object: the same properties and handlers the scene binds
// and calls, with canned rows, so the scene can be loaded, looked at and tested without the player
// behind it. Handlers only record that they were called (and flip what a viewer expects to see).
// Main thread only.

#include <QObject>
#include <QString>
#include <QStringList>

#include "ui/PlayListModel.h"

namespace orvane::test {

class StandInMain : public QObject {
  Q_OBJECT
  Q_PROPERTY(QString titleText MEMBER titleText NOTIFY changed)
  Q_PROPERTY(int seekMaximum MEMBER seekMaximum NOTIFY changed)
  Q_PROPERTY(int seekPosition MEMBER seekPosition NOTIFY changed)
  Q_PROPERTY(double seekOpacity MEMBER seekOpacity NOTIFY seekOpacityChanged)
  Q_PROPERTY(double volume MEMBER volume NOTIFY volumeChanged)
  Q_PROPERTY(QString playGlyph MEMBER playGlyph NOTIFY changed)
  Q_PROPERTY(QString play2Glyph MEMBER play2Glyph NOTIFY changed)
  Q_PROPERTY(QObject* musicList READ MusicList CONSTANT)
  Q_PROPERTY(QObject* rndList READ RndList CONSTANT)
  Q_PROPERTY(bool musicListVisible MEMBER musicListVisible NOTIFY changed)
  Q_PROPERTY(bool addMsgVisible MEMBER addMsgVisible NOTIFY changed)
  Q_PROPERTY(bool rndMusicEnabled MEMBER rndMusicEnabled NOTIFY changed)
  Q_PROPERTY(int tabIndex READ TabIndex WRITE SetTabIndex NOTIFY changed)
  Q_PROPERTY(QString msgText MEMBER msgText NOTIFY changed)
  Q_PROPERTY(bool msgVisible MEMBER msgVisible NOTIFY changed)
  Q_PROPERTY(QString noticeText MEMBER noticeText NOTIFY changed)

 public:
  explicit StandInMain(QObject* parent = nullptr);

  // Fills the music list with `rows` songs (the third one playing) and the random list with a few.
  void Fill(int rows);
  // Tells the scene that properties changed after they were set directly.
  void Refresh() { emit changed(); }

  QObject* MusicList() { return &musicList; }
  QObject* RndList() { return &rndList; }
  int TabIndex() const { return tabIndex; }
  void SetTabIndex(int index);

  Q_INVOKABLE void btn_playClick();
  Q_INVOKABLE void btn_nextClick() { Record("btn_nextClick"); }
  Q_INVOKABLE void btn_previousClick() { Record("btn_previousClick"); }
  Q_INVOKABLE void tbrmainMouseDown(double x, double barWidth);
  Q_INVOKABLE void lbl_openClick() { Record("lbl_openClick"); }
  Q_INVOKABLE void pmdel_delselectClick() { Record("pmdel_delselectClick"); }
  Q_INVOKABLE void pmdel_clearlistClick() { Record("pmdel_clearlistClick"); }
  Q_INVOKABLE void showListMenu(double screenX, double screenY);
  Q_INVOKABLE void plst_listItemDblClick() { Record("plst_listItemDblClick"); }
  Q_INVOKABLE void btn_rndlistClick() { Record("btn_rndlistClick"); }
  Q_INVOKABLE void btn_closeClick() { Record("btn_closeClick"); }
  Q_INVOKABLE void btnMenuClick(double screenX, double screenY);
  Q_INVOKABLE void btnAboutClick() { Record("btnAboutClick"); }
  Q_INVOKABLE void btn_minClick() { Record("btn_minClick"); }
  Q_INVOKABLE void MsgPop1Result(int result);
  Q_INVOKABLE void noticeShown();

  QString titleText = QStringLiteral("Orvane 不一样的音乐体验");
  int seekMaximum = 100;
  int seekPosition = 0;
  double seekOpacity = 0;
  double volume = 65;
  QString playGlyph = QStringLiteral("Play");
  QString play2Glyph = QStringLiteral("播放2");
  bool musicListVisible = false;
  bool addMsgVisible = true;
  bool rndMusicEnabled = false;
  QString msgText;
  bool msgVisible = false;
  QString noticeText;

  // "name" or "name(args)" of every handler call, in order.
  QStringList calls;

 signals:
  void changed();
  void seekOpacityChanged();
  void volumeChanged();

 private:
  void Record(const QString& call) { calls << call; }

  ui::PlayListModel musicList;
  ui::PlayListModel rndList;
  int tabIndex = 0;
};

}  // namespace orvane::test
