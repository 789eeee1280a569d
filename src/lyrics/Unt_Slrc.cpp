#include "lyrics/Unt_Slrc.h"

#include <QGuiApplication>
#include <QQuickWindow>
#include <QScreen>

#include "lyrics/LrcClass.h"
#include "lyrics/SceneWindow.h"
#include "net/WorkerHost.h"
#include "text/TextUtil.h"

namespace orvane::lyrics {

// ---- TLrcResultModel

int TLrcResultModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows.size());
}

QVariant TLrcResultModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() < 0 || index.row() >= Count()) return {};
  const TLrcResultCopy& row = rows[static_cast<size_t>(index.row())];
  switch (role) {
    case LnoRole:
      return QString::number(index.row() + 1);
    case TitleRole:
      return QString::fromStdString(row.Title);
    case SingerRole:
      return QString::fromStdString(row.Singer);
    case SsRole:
      return QString::fromStdString(row.Extra);
    case MarkRole:
      if (row.Instrumental()) return tr("纯音乐");
      return row.PlainOnly() ? tr("无时间轴") : QString();
    default:
      return {};
  }
}

QHash<int, QByteArray> TLrcResultModel::roleNames() const {
  return {{LnoRole, "lno"}, {TitleRole, "title"}, {SingerRole, "singer"}, {SsRole, "ss"}, {MarkRole, "mark"}};
}

void TLrcResultModel::AddRow(const TLrcResultCopy& result) {
  const int at = Count();
  beginInsertRows(QModelIndex(), at, at);
  rows.push_back(result);
  endInsertRows();
  emit countChanged();
}

void TLrcResultModel::Clear() {
  if (rows.empty()) return;
  beginResetModel();
  rows.clear();
  endResetModel();
  emit countChanged();
}

// ---- TNimSlrc

TNimSlrc::TNimSlrc(TServices services, QObject* parent)
    : QObject(parent),
      services(std::move(services)),
      workers(std::make_unique<net::TWorkerHost>()),
      rowRelay(std::make_unique<net::TMainThreadRelay>()),
      searchStop(std::make_shared<net::TWaitToken>()) {}

// Freed without a close (its owner going): nobody is told, the window simply goes.
TNimSlrc::~TNimSlrc() {
  closedDown = true;
  rowRelay->Close();
  window.reset();
}

void TNimSlrc::Show() {
  if (closedDown) return;
  if (!window) {
    QQmlEngine* engine = services.SceneEngine ? services.SceneEngine() : nullptr;
    window = engine ? CreateSceneWindow(*engine, QStringLiteral("LyricSearch.qml"), this)
                    : std::make_unique<QQuickWindow>();
    window->setFlags(Qt::Dialog | Qt::FramelessWindowHint);
    window->setModality(Qt::ApplicationModal);
    window->setTitle(tr("歌词搜索"));
    window->resize(ClientWidth, ClientHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      const QRect desk = screen->availableGeometry();
      window->setPosition(desk.center() - QPoint(ClientWidth / 2, ClientHeight / 2));
    }
    // The window manager's close (Alt+F4) closes the dialog as its own button does.
    connect(window.get(), &QWindow::visibleChanged, this, [this](bool shown) {
      if (!shown && !closedDown) Close();
    });
  }
  window->show();
  window->requestActivate();
}

void TNimSlrc::Close() {
  if (closedDown) return;
  closedDown = true;
  // From here on nothing a worker delivers changes anything: the relay hands over no more rows and
  // the completions see the dialog closed. The host itself goes with the dialog, never from inside
  // one of its own completions.
  rowRelay->Close();
  if (window) window->hide();
  emit closed();
}

void TNimSlrc::SetTitle(const QString& text) {
  if (text == title) return;
  title = text;
  emit titleChanged();
}

void TNimSlrc::SetSinger(const QString& text) {
  if (text == singer) return;
  singer = text;
  emit singerChanged();
}

QString TNimSlrc::SearchCaption() const { return searchThread ? tr("停止") : tr("搜索"); }
QString TNimSlrc::DownCaption() const { return downloadThread ? tr("停止下载") : tr("下载歌词"); }

void TNimSlrc::SetSelectedIndex(int index) {
  if (index < -1 || index >= results.Count()) index = -1;
  if (index == selectedIndex) return;
  selectedIndex = index;
  emit selectedIndexChanged();
}

void TNimSlrc::SetStatus(const QString& text) {
  if (text == statusText) return;
  statusText = text;
  emit statusTextChanged();
}

void TNimSlrc::btn_SClick() {
  if (closedDown) return;
  if (searchThread) {
    searchStop->Cancel();  // ends after the row being added
    return;
  }
  SetSelectedIndex(-1);
  results.Clear();
  SetStatus(QString());
  // A fresh relay and stop per search: a stop asked of the last one must not end this one.
  rowRelay->Close();
  rowRelay = std::make_unique<net::TMainThreadRelay>();
  searchStop = std::make_shared<net::TWaitToken>();
  TLrcRowHandOff rows;
  rows.MainThread = rowRelay->MakePoster();
  rows.Sink = [this](int index, const TLrcResultCopy& row) { AddRow(index, row); };
  rows.Stop = searchStop;
  auto search =
      std::make_shared<TLrcListThread>(title.toStdString(), singer.toStdString(), services.Downloader, std::move(rows));
  if (!workers->Start(search, [this](TLrcListThread& done) { SearchDone(done); })) return;
  searchThread = search;
  emit searchCaptionChanged();
}

// Row k stands for result k of the search.
void TNimSlrc::AddRow(int /*index*/, const TLrcResultCopy& row) {
  if (!closedDown) results.AddRow(row);
}

void TNimSlrc::SearchDone(TLrcListThread& thread) {
  if (closedDown) return;
  searchThread.reset();
  emit searchCaptionChanged();
  if (!thread.Failed) {
    if (thread.Found == 0) SetStatus(tr("没有找到歌词"));
  } else if (!services.Downloader) {
    SetStatus(tr("歌词下载组件不可用"));
  } else if (thread.Failure == TProviderFailure::BadAnswer) {
    SetStatus(tr("歌词服务器出错，请稍后再试"));
  } else {
    SetStatus(tr("无法连接歌词服务器"));
  }
}

void TNimSlrc::lv_1DblClick() {
  if (closedDown) return;
  // The download cannot be cut short; asking it to stop changes nothing, as it always has.
  if (downloadThread) return;
  if (selectedIndex < 0 || selectedIndex >= results.Count()) return;
  std::optional<TLyricTrack> track = services.CurrentTrack ? services.CurrentTrack() : std::nullopt;
  auto download = std::make_shared<TGetLrcTextThread>(selectedIndex, results.Row(selectedIndex), std::move(track),
                                                      services.Downloader);
  if (!workers->Start(download, [this](TGetLrcTextThread& done) { DownloadDone(done); })) return;
  downloadThread = download;
  SetStatus(QString());
  emit downCaptionChanged();
}

void TNimSlrc::DownloadDone(TGetLrcTextThread& thread) {
  if (closedDown) return;
  downloadThread.reset();
  TSearchDownloadDoneResult done;
  if (services.LrcDoc) {
    const std::optional<TLyricTrack> current = services.CurrentTrack ? services.CurrentTrack() : std::nullopt;
    done = SearchDownloadDone(thread, current, services.LyricFolder ? services.LyricFolder() : std::string(),
                              *services.LrcDoc);
  }
  if (thread.Failed) SetStatus(tr("歌词下载失败，请稍后再试"));
  else if (thread.Result.PlainOnly()) SetStatus(tr("这一项只有歌词文本，没有时间轴"));
  else if (text::Trim(thread.LyricText).empty()) SetStatus(tr("这一项没有可用的歌词"));
  else SetStatus(tr("歌词已下载"));
  emit downCaptionChanged();
  emit downloadFinished(done);
}

}  // namespace orvane::lyrics
