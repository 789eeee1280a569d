#pragma once
// TNimSlrc: the lyric search dialog, "歌词搜索". The user searches the lyric provider by title and
// singer, sees the results as rows, and downloads the chosen one: it is shown at once and saved in
// the lyric folder under the playing track's name, where the next automatic lookup finds it.
// The scene is LyricSearch.qml; everything it does is here.
//
// Threads: the dialog lives on the main thread. Its search (TLrcListThread) and download
// (TGetLrcTextThread) run on workers of its own host; rows arrive through a TLrcRowRelay. Closing
// the dialog drops whatever the workers deliver later: a closed dialog changes nothing, whether it
// is already freed or not yet. The workers themselves finish on their own and are freed then.

#include <QAbstractListModel>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lyrics/LyricDownloader.h"
#include "lyrics/UntLrcThread.h"

class QQmlEngine;
class QQuickWindow;

namespace orvane::net {
class TWorkerHost;
}

namespace orvane::lyrics {

class TLrcClass;

// The result rows of lv_1: "lno" (row number from 1), "title", "singer", "ss" (the result's extra
// text, its album), and "mark": what sets a record apart from a lyric to follow ("纯音乐" for an
// instrumental, "无时间轴" for words without times; empty otherwise).
class TLrcResultModel : public QAbstractListModel {
  Q_OBJECT
  Q_PROPERTY(int count READ Count NOTIFY countChanged)

 public:
  enum Role { LnoRole = Qt::UserRole + 1, TitleRole, SingerRole, SsRole, MarkRole };

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QHash<int, QByteArray> roleNames() const override;

  void AddRow(const TLrcResultCopy& result);
  void Clear();
  int Count() const { return static_cast<int>(rows.size()); }
  const TLrcResultCopy& Row(int index) const { return rows[static_cast<size_t>(index)]; }

 signals:
  void countChanged();

 private:
  std::vector<TLrcResultCopy> rows;
};

class TNimSlrc : public QObject {
  Q_OBJECT
  Q_PROPERTY(QString edt_Title READ Title WRITE SetTitle NOTIFY titleChanged)
  Q_PROPERTY(QString edt_Singer READ Singer WRITE SetSinger NOTIFY singerChanged)
  Q_PROPERTY(QString searchCaption READ SearchCaption NOTIFY searchCaptionChanged)
  Q_PROPERTY(QString downCaption READ DownCaption NOTIFY downCaptionChanged)
  Q_PROPERTY(QObject* results READ Results CONSTANT)
  Q_PROPERTY(int selectedIndex READ SelectedIndex WRITE SetSelectedIndex NOTIFY selectedIndexChanged)
  Q_PROPERTY(QString statusText READ StatusText NOTIFY statusTextChanged)

 public:
  static constexpr int ClientWidth = 398;
  static constexpr int ClientHeight = 238;

  // What the dialog needs of the player.
  struct TServices {
    std::shared_ptr<const TLyricDownloader> Downloader;  // null: searches fail
    TLrcClass* LrcDoc = nullptr;                         // the lyric document a download is shown in
    std::function<std::optional<TLyricTrack>()> CurrentTrack;  // the playing row, if any
    std::function<std::string()> LyricFolder;
    std::function<QQmlEngine*()> SceneEngine;  // null or returning null: no scene (tests of the logic)
  };

  explicit TNimSlrc(TServices services, QObject* parent = nullptr);
  ~TNimSlrc() override;

  // Creates the window, centred on the screen, and shows it modal to the application.
  void Show();
  // Closes the dialog: the window goes away, running threads are left to finish unheard, and
  // closed() tells the owner it may free the dialog.
  void Close();
  bool IsClosed() const { return closedDown; }

  // ---- Called by the scene.
  Q_INVOKABLE void btn_SClick();    // "搜索" / "停止"
  Q_INVOKABLE void lv_1DblClick();  // a row double-clicked, or "下载歌词" / "停止下载"
  Q_INVOKABLE void CloseButton1Click() { Close(); }

  QString Title() const { return title; }
  void SetTitle(const QString& text);
  QString Singer() const { return singer; }
  void SetSinger(const QString& text);
  QString SearchCaption() const;
  QString DownCaption() const;
  QObject* Results() { return &results; }
  TLrcResultModel& lv_1() { return results; }
  int SelectedIndex() const { return selectedIndex; }
  void SetSelectedIndex(int index);
  QString StatusText() const { return statusText; }

  bool SearchRunning() const { return searchThread != nullptr; }
  bool DownloadRunning() const { return downloadThread != nullptr; }
  QQuickWindow* Window() const { return window.get(); }

 signals:
  void titleChanged();
  void singerChanged();
  void searchCaptionChanged();
  void downCaptionChanged();
  void selectedIndexChanged();
  void statusTextChanged();
  void closed();
  // A download ended (loaded and/or saved, or not); for the owner and for tests.
  void downloadFinished(const lyrics::TSearchDownloadDoneResult& result);

 private:
  void AddRow(int index, const TLrcResultCopy& row);
  void SearchDone(TLrcListThread& thread);
  void DownloadDone(TGetLrcTextThread& thread);
  void SetStatus(const QString& text);

  TServices services;
  TLrcResultModel results;
  QString title;
  QString singer;
  int selectedIndex = -1;
  QString statusText;
  bool closedDown = false;

  std::unique_ptr<net::TWorkerHost> workers;
  // The search's rows reach the dialog through it; a fresh one per search, so rows of a search
  // given up never mix into the next.
  std::unique_ptr<net::TMainThreadRelay> rowRelay;
  std::shared_ptr<net::TWaitToken> searchStop;
  std::shared_ptr<TLrcListThread> searchThread;       // SearchThread
  std::shared_ptr<TGetLrcTextThread> downloadThread;  // DownloadThread
  std::unique_ptr<QQuickWindow> window;
};

}  // namespace orvane::lyrics
