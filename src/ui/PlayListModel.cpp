#include "ui/PlayListModel.h"

namespace orvane::ui {
namespace {

QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

}  // namespace

PlayListModel::PlayListModel(QObject* parent) : QAbstractListModel(parent) {}

std::string PlayListModel::MakeCaption(const std::string& title, const std::string& singer) {
  return singer.empty() ? title : title + " - " + singer;
}

void PlayListModel::AddRow(int number, const std::string& title, const std::string& singer,
                           const std::string& location) {
  const int at = Count();
  beginInsertRows(QModelIndex(), at, at);
  rows.push_back({std::to_string(number), MakeCaption(title, singer), title, singer, location, false});
  endInsertRows();
  emit countChanged();
}

void PlayListModel::AddRows(std::vector<PlayListRow> newRows) {
  if (newRows.empty()) return;
  // Inserted, not reset: a reset would throw the view back to the top and drop its selection
  // while the user scrolls a list that is still being added to.
  const int at = Count();
  beginInsertRows(QModelIndex(), at, at + static_cast<int>(newRows.size()) - 1);
  rows.reserve(rows.size() + newRows.size());
  for (auto& row : newRows) rows.push_back(std::move(row));
  endInsertRows();
  emit countChanged();
}

void PlayListModel::RemoveRow(int index) {
  if (index < 0 || index >= Count()) return;
  beginRemoveRows(QModelIndex(), index, index);
  rows.erase(rows.begin() + index);
  endRemoveRows();
  if (selectedIndex >= Count()) SetSelectedIndex(Count() - 1);
  emit countChanged();
}

void PlayListModel::Clear() {
  if (rows.empty()) return;
  beginResetModel();
  rows.clear();
  endResetModel();
  SetSelectedIndex(-1);
  emit countChanged();
}

void PlayListModel::SetLno(int index, const std::string& lno) {
  if (index < 0 || index >= Count() || rows[static_cast<size_t>(index)].Lno == lno) return;
  rows[static_cast<size_t>(index)].Lno = lno;
  EmitRowChanged(index, {LnoRole});
}

void PlayListModel::SetLocation(int index, const std::string& location) {
  if (index < 0 || index >= Count()) return;
  rows[static_cast<size_t>(index)].Location = location;
  EmitRowChanged(index, {LocationRole});
}

void PlayListModel::MarkRow(int index) {
  for (int i = 0; i < Count(); ++i) {
    if (!rows[static_cast<size_t>(i)].Marked) continue;
    rows[static_cast<size_t>(i)].Marked = false;
    EmitRowChanged(i, {MarkRole, HeightRole});
    break;
  }
  if (index < 0 || index >= Count()) return;
  rows[static_cast<size_t>(index)].Marked = true;
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
  const PlayListRow& row = rows[static_cast<size_t>(index.row())];
  switch (role) {
    case LnoRole: return Q(row.Lno);
    case Qt::DisplayRole:
    case CaptionRole: return Q(row.Caption);
    case TitleRole: return Q(row.Title);
    case SongerRole: return Q(row.Songer);
    case LocationRole: return Q(row.Location);
    case MarkRole: return row.Marked;
    case HeightRole: return row.Marked ? MarkedRowHeight : RowHeight;
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
