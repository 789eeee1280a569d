#pragma once
// The rows of one list view (the music list or the random list) as a Qt list model the scene
// renders. Main thread only.
//
// A row holds the texts the list binds by name: "lno" (row number), "caption" (title, or
// title + " - " + singer), "title" and "songer" (hidden), the location as the row's tag, the mark of
// the playing row and the row height (25, or 35 while marked). Each row is a shared song
// (store::TSong); the row number is its place, so a deletion renumbers the rows below it without
// touching them.

#include <QAbstractListModel>
#include <string>
#include <vector>

#include "store/PlayListItem.h"

namespace orvane::ui {

// A row's texts, as the scene and the tests see them.
struct PlayListRow {
  std::string Lno;
  std::string Caption;
  std::string Title;
  std::string Songer;
  std::string Location;  // the row's tag text
  bool Marked = false;
};

class PlayListModel : public QAbstractListModel {
  Q_OBJECT
  Q_PROPERTY(int count READ Count NOTIFY countChanged)
  Q_PROPERTY(int selectedIndex READ SelectedIndex WRITE SetSelectedIndex NOTIFY selectedIndexChanged)

 public:
  enum Role { LnoRole = Qt::UserRole + 1, CaptionRole, TitleRole, SongerRole, LocationRole, MarkRole, HeightRole };

  explicit PlayListModel(QObject* parent = nullptr);

  static constexpr int RowHeight = 25;
  static constexpr int MarkedRowHeight = 35;

  // The caption rule: title + " - " + singer, or the title alone when the singer is empty.
  static std::string MakeCaption(const std::string& title, const std::string& singer) {
    return store::MakeCaption(title, singer);
  }

  int Count() const { return static_cast<int>(songs.size()); }
  // The song of row index (which must be a row); valid while the row holds it.
  const store::TPlayListItem& Item(int index) const { return *songs.at(static_cast<size_t>(index)); }
  // Every row's song, in order: a copy of this is a snapshot of the list.
  const store::TSongList& Songs() const { return songs; }
  // Row index's texts (copies).
  PlayListRow Row(int index) const;
  // Every row's texts (copies; for tests and small lists).
  std::vector<PlayListRow> Rows() const;

  void AddRow(int number, const std::string& title, const std::string& singer, const std::string& location);
  // Appends many rows in one insertion (start-up, a fetched random list, songs being added). The
  // rows' numbers and captions follow from their places and texts.
  void AddRows(std::vector<PlayListRow> newRows);
  void AddSongs(store::TSongList newSongs);
  void RemoveRow(int index);
  void Clear();
  void SetLocation(int index, const std::string& location);
  // Unmarks the marked row, then marks index. index must be a row.
  void MarkRow(int index);
  // The marked row, or -1.
  int MarkedRow() const { return markedRow; }

  // The selected row (ItemIndex of the view); -1 when none.
  int SelectedIndex() const { return selectedIndex; }
  void SetSelectedIndex(int index);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QHash<int, QByteArray> roleNames() const override;

 signals:
  void countChanged();
  void selectedIndexChanged();

 private:
  void EmitRowChanged(int index, const QList<int>& roles);

  store::TSongList songs;
  int markedRow = -1;
  int selectedIndex = -1;
};

}  // namespace orvane::ui
