#pragma once
// A stand-in for the main window's logic object: the same properties and handlers the scene binds
// and calls, with canned rows, so the scene can be loaded, looked at and tested without the player
// behind it. Handlers only record that they were called (and flip what a viewer expects to see).
// Main thread only.

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include "ui/PlayListModel.h"

namespace orvane::test {

class StandInMain : public QObject {
  Q_OBJECT
  Q_PROPERTY(QString titleText MEMBER titleText NOTIFY changed)
  Q_PROPERTY(int seekMaximum MEMBER seekMaximum NOTIFY changed)
  Q_PROPERTY(int seekPosition MEMBER seekPosition NOTIFY changed)
  Q_PROPERTY(int songLength MEMBER songLength NOTIFY changed)
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
  Q_PROPERTY(QString addProgressText MEMBER addProgressText NOTIFY changed)
  Q_PROPERTY(QString rndMsgText MEMBER rndMsgText NOTIFY changed)
  Q_PROPERTY(bool rndMsgOffersServer MEMBER rndMsgOffersServer NOTIFY changed)
  Q_PROPERTY(int face MEMBER face NOTIFY faceChanged)
  Q_PROPERTY(bool compositing MEMBER compositing NOTIFY changed)
  Q_PROPERTY(int modBox READ ModBox WRITE SetModBox NOTIFY changed)
  Q_PROPERTY(QStringList effBoxItems MEMBER effBoxItems NOTIFY changed)
  Q_PROPERTY(int effBox READ EffBox WRITE SetEffBox NOTIFY changed)
  Q_PROPERTY(QString txtlrcPath MEMBER txtlrcPath NOTIFY changed)
  Q_PROPERTY(QString txtmsPath MEMBER txtmsPath NOTIFY changed)
  Q_PROPERTY(bool chkShowLrc MEMBER chkShowLrc NOTIFY changed)
  Q_PROPERTY(bool chkAutoRun MEMBER chkAutoRun NOTIFY changed)
  Q_PROPERTY(bool chkTallo MEMBER chkTallo NOTIFY changed)
  Q_PROPERTY(bool chkOnlineLrc MEMBER chkOnlineLrc NOTIFY changed)

 public:
  explicit StandInMain(QObject* parent = nullptr);

  // Fills the music list with `rows` songs (the third one playing) and the random list with a few.
  void Fill(int rows);
  // Tells the scene that properties changed after they were set directly.
  void Refresh() { emit changed(); }
  void EmptyRandomList() { rndList.Clear(); }

  QObject* MusicList() { return &musicList; }
  QObject* RndList() { return &rndList; }
  int TabIndex() const { return tabIndex; }
  void SetTabIndex(int index);

  Q_INVOKABLE void btn_playClick();
  Q_INVOKABLE void btn_nextClick() { Record("btn_nextClick"); }
  Q_INVOKABLE void btn_previousClick() { Record("btn_previousClick"); }
  Q_INVOKABLE void tbrmainMouseDown(double x, double barWidth);
  Q_INVOKABLE void lbl_openClick() { Record("lbl_openClick"); }
  Q_INVOKABLE void pmf_openfolderClick() { Record("pmf_openfolderClick"); }
  Q_INVOKABLE void pmdel_delselectClick() { Record("pmdel_delselectClick"); }
  Q_INVOKABLE void pmdel_clearlistClick() { Record("pmdel_clearlistClick"); }
  Q_INVOKABLE void showListMenu(double screenX, double screenY);
  Q_INVOKABLE void plst_listItemDblClick() { Record("plst_listItemDblClick"); }
  Q_INVOKABLE void btn_rndlistClick() { Record("btn_rndlistClick"); }
  Q_INVOKABLE void pmm_serverClick() { Record("pmm_serverClick"); }
  Q_INVOKABLE void rndMsgShown() { Record("rndMsgShown"); }
  Q_INVOKABLE void btn_closeClick() { Record("btn_closeClick"); }
  Q_INVOKABLE void btnMenuClick(double screenX, double screenY);
  // The face handlers switch the face as the player does, so the scene's sequences run.
  Q_INVOKABLE void btnAboutClick() { SetFace("btnAboutClick", 0, 1); }
  Q_INVOKABLE void btnAboutBackClick() { SetFace("btnAboutBackClick", 1, 0); }
  Q_INVOKABLE void HudButton3Click() { SetFace("HudButton3Click", 1, 0); }
  Q_INVOKABLE void btn_minClick() { SetFace("btn_minClick", 0, 2); }
  Q_INVOKABLE void transformation2Click() { SetFace("transformation2Click", 2, 0); }
  Q_INVOKABLE void pmm_setdownClick() { Record("pmm_setdownClick"); }
  Q_INVOKABLE void pmm_sdownClick() { Record("pmm_sdownClick"); }
  Q_INVOKABLE void btn_lrcClick() { Flip("btn_lrcClick", chkShowLrc); }
  Q_INVOKABLE void chkAutoRunClick() { Flip("chkAutoRunClick", chkAutoRun); }
  Q_INVOKABLE void chkTalloClick() { Flip("chkTalloClick", chkTallo); }
  Q_INVOKABLE void chkOnlineLrcClick() { Flip("chkOnlineLrcClick", chkOnlineLrc); }
  Q_INVOKABLE void lstDefaultDragDrop(const QList<QUrl>& urls);
  int ModBox() const { return modBox; }
  void SetModBox(int item);
  int EffBox() const { return effBox; }
  void SetEffBox(int item);
  Q_INVOKABLE void MsgPop1Result(int result);
  // Records "KeyPressed(key,modifiers)"; takes the key when takeKeys is set.
  Q_INVOKABLE bool KeyPressed(int key, int modifiers);
  Q_INVOKABLE void noticeShown();

  QString titleText = QStringLiteral("Orvane 不一样的音乐体验");
  int seekMaximum = 100;
  int seekPosition = 0;
  int songLength = 0;
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
  QString addProgressText;
  QString rndMsgText;
  bool rndMsgOffersServer = false;
  int face = 0;
  bool compositing = true;
  int modBox = 0;
  QStringList effBoxItems{QStringLiteral("默认"), QStringLiteral("流行"), QStringLiteral("摇滚")};
  int effBox = 0;
  QString txtlrcPath = QStringLiteral("/home/user/Documents/Orvane/lrc/");
  QString txtmsPath = QStringLiteral("/home/user/Documents/Orvane/music/");
  bool chkShowLrc = true;
  bool chkAutoRun = true;
  bool chkTallo = true;
  bool chkOnlineLrc = true;

  // The face handlers switch faces (false: they only record the call).
  bool switchFaces = true;
  bool takeKeys = true;

  // "name" or "name(args)" of every handler call, in order.
  QStringList calls;

 signals:
  void changed();
  void faceChanged();
  void seekOpacityChanged();
  void volumeChanged();

 private:
  void Record(const QString& call) { calls << call; }
  void SetFace(const char* call, int from, int to);
  void Flip(const char* call, bool& value);

  ui::PlayListModel musicList;
  ui::PlayListModel rndList;
  int tabIndex = 0;
};

}  // namespace orvane::test
