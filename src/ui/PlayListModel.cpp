#include "ui/PlayListModel.h"

#include "text/Legacy.h"

namespace orvane::ui {
namespace {

QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// A location is the file name's bytes, which need not be text: shown as the text they read as.
QString ShownLocation(const std::string& location) {
  return text::IsValidUtf8(location) ? Q(location) : Q(text::FromLegacy(location));
}

}  // namespace

PlayListModel::PlayListModel(QObject* parent) : QAbstractListModel(parent) {}

PlayListRow PlayListModel::Row(int index) const {
  const store::TPlayListItem& item = Item(index);
  return {std::to_string(index + 1), item.Caption, item.Title, item.Singer, item.Location, index == markedRow};
}

std::vector<PlayListRow> PlayListModel::Rows() const {
  std::vector<PlayListRow> rows;
  rows.reserve(songs.size());
  for (int i = 0; i < Count(); ++i) rows.push_back(Row(i));
  return rows;
}

void PlayListModel::AddRow(int /*number*/, const std::string& title, const std::string& singer,
                           const std::string& location) {
  AddSongs({store::MakeSong(title, singer, location)});
}

void PlayListModel::AddRows(std::vector<PlayListRow> newRows) {
  store::TSongList added;
  added.reserve(newRows.size());
  for (PlayListRow& row : newRows)
    added.push_back(store::MakeSong(std::move(row.Title), std::move(row.Songer), std::move(row.Location)));
  AddSongs(std::move(added));
}

void PlayListModel::AddSongs(store::TSongList newSongs) {
  if (newSongs.empty()) return;
  // Inserted, not reset: a reset would throw the view back to the top and drop its selection
  // while the user scrolls a list that is still being added to.
  const int at = Count();
  beginInsertRows(QModelIndex(), at, at + static_cast<int>(newSongs.size()) - 1);
  if (songs.empty()) {
    songs = std::move(newSongs);
  } else {
    songs.reserve(songs.size() + newSongs.size());
    for (auto& song : newSongs) songs.push_back(std::move(song));
  }
  endInsertRows();
  emit countChanged();
}

void PlayListModel::RemoveRow(int index) {
  if (index < 0 || index >= Count()) return;
  beginRemoveRows(QModelIndex(), index, index);
  songs.erase(songs.begin() + index);
  if (markedRow == index) markedRow = -1;
  else if (markedRow > index) --markedRow;
  endRemoveRows();
  // The rows below moved up one place, and their numbers with them.
  if (index < Count()) emit dataChanged(createIndex(index, 0), createIndex(Count() - 1, 0), {LnoRole});
  if (selectedIndex >= Count()) SetSelectedIndex(Count() - 1);
  emit countChanged();
}

void PlayListModel::Clear() {
  if (songs.empty()) return;
  beginResetModel();
  songs.clear();
  markedRow = -1;
  endResetModel();
  SetSelectedIndex(-1);
  emit countChanged();
}

void PlayListModel::SetLocation(int index, const std::string& location) {
  if (index < 0 || index >= Count()) return;
  store::TSong& song = songs[static_cast<size_t>(index)];
  song = store::MakeSong(song->Title, song->Singer, location);
  EmitRowChanged(index, {LocationRole});
}

void PlayListModel::MarkRow(int index) {
  const int old = markedRow;
  markedRow = -1;
  if (old >= 0 && old < Count()) EmitRowChanged(old, {MarkRole, HeightRole});
  if (index < 0 || index >= Count()) return;
  markedRow = index;
  EmitRowChanged(index, {MarkRole, HeightRole});
}

void PlayListModel::SetSelectedIndex(int index) {
  if (index < -1 || index >= Count()) index = -1;
  if (index == selectedIndex) return;
  selectedIndex = index;
  emit selectedIndexChanged();
}

int PlayListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : Count(); }

QVariant PlayListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= Count()) return {};
  const store::TPlayListItem& item = Item(index.row());
  switch (role) {
    case LnoRole: return QString::number(index.row() + 1);
    case Qt::DisplayRole:
    case CaptionRole: return Q(item.Caption);
    case TitleRole: return Q(item.Title);
    case SongerRole: return Q(item.Singer);
    case LocationRole: return ShownLocation(item.Location);
    case MarkRole: return index.row() == markedRow;
    case HeightRole: return index.row() == markedRow ? MarkedRowHeight : RowHeight;
    default: return {};
  }
}

QHash<int, QByteArray> PlayListModel::roleNames() const {
  return {{LnoRole, "lno"},           {CaptionRole, "caption"}, {TitleRole, "title"},
          {SongerRole, "songer"},     {LocationRole, "location"}, {MarkRole, "mark"},
          {HeightRole, "rowHeight"}};
}

void PlayListModel::EmitRowChanged(int index, const QList<int>& roles) {
  const QModelIndex at = createIndex(index, 0);
  emit dataChanged(at, at, roles);
}

}  // namespace orvane::ui
