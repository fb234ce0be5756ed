#include "app/results_model.h"

#include <QMimeData>
#include <QUrl>
#include <set>

#include "app/qt_text.h"

namespace tarnwick {

namespace {

const char16_t* const kTitles[3] = {u"ファイル名", u"フルパスファイル名", u"定義ブロック名"};

}  // namespace

ResultsModel::ResultsModel(QObject* parent) : QAbstractTableModel(parent) {}

int ResultsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ResultsModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 3; }

QVariant ResultsModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount() || (role != Qt::DisplayRole && role != Qt::ToolTipRole)) return {};
  const SearchRow& row = rows_[static_cast<size_t>(index.row())];
  switch (index.column()) {
    case 0:
      return ToQ(row.fileName);
    case 1:
      return ToQ(row.path);
    case 2:
      return ToQ(row.block);
    default:
      return {};
  }
}

QVariant ResultsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= 3) return {};
  return QString::fromUtf16(kTitles[section]);
}

Qt::ItemFlags ResultsModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = QAbstractTableModel::flags(index);
  if (index.isValid() && index.row() < rowCount() && !rows_[static_cast<size_t>(index.row())].path.empty())
    f |= Qt::ItemIsDragEnabled;
  return f;
}

QStringList ResultsModel::mimeTypes() const { return {QStringLiteral("text/uri-list")}; }

QMimeData* ResultsModel::mimeData(const QModelIndexList& indexes) const {
  // One URL per drawing, in row order, however many cells of it are marked.
  std::set<int> marked;
  for (const QModelIndex& i : indexes)
    if (i.isValid() && i.row() < rowCount()) marked.insert(i.row());
  QList<QUrl> urls;
  std::set<std::u16string> seen;
  for (int r : marked) {
    const std::u16string& path = rows_[static_cast<size_t>(r)].path;
    if (!path.empty() && seen.insert(path).second) urls.append(QUrl::fromLocalFile(PathToQ(path)));
  }
  if (urls.isEmpty()) return nullptr;
  auto* mime = new QMimeData;
  mime->setUrls(urls);
  return mime;
}

void ResultsModel::setRows(std::vector<SearchRow> rows) {
  beginResetModel();
  rows_ = std::move(rows);
  endResetModel();
}

void ResultsModel::appendRows(const std::vector<SearchRow>& rows) {
  if (rows.empty()) return;
  const int first = rowCount();
  beginInsertRows(QModelIndex(), first, first + static_cast<int>(rows.size()) - 1);
  rows_.insert(rows_.end(), rows.begin(), rows.end());
  endInsertRows();
}

}  // namespace tarnwick
