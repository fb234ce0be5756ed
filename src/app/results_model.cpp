#include "app/results_model.h"

#include <QMimeData>
#include <QUrl>
#include <set>

#include "app/qt_text.h"
#include "text/text_utils.h"

namespace tarnwick {

namespace {

const char* const kTitles[3] = {QT_TRANSLATE_NOOP("tarnwick::ResultsModel", "ファイル名"),
                                QT_TRANSLATE_NOOP("tarnwick::ResultsModel", "フルパスファイル名"),
                                QT_TRANSLATE_NOOP("tarnwick::ResultsModel", "定義ブロック名")};

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
  if (orientation != Qt::Horizontal || section < 0 || section >= 3) return {};
  // The first click on a title sorts upwards, the next one reverses.
  if (role == Qt::InitialSortOrderRole) return static_cast<int>(Qt::AscendingOrder);
  if (role != Qt::DisplayRole) return {};
  return tr(kTitles[section]);
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

// Japanese collation whatever the locale: the names are Japanese drawing
// names, and the C locale would compare code units only.
ResultsSortModel::ResultsSortModel(QObject* parent)
    : QSortFilterProxyModel(parent), collator_(QLocale(QLocale::Japanese, QLocale::Japan)) {
  collator_.setNumericMode(true);
  collator_.setCaseSensitivity(Qt::CaseInsensitive);
  collator_.setIgnorePunctuation(false);
  // Sorting happens when asked (a click on a title), not on every batch of
  // rows a search appends.
  setDynamicSortFilter(false);
}

void ResultsSortModel::setSourceModel(QAbstractItemModel* source) {
  if (QAbstractItemModel* old = sourceModel()) disconnect(old, nullptr, this, nullptr);
  QSortFilterProxyModel::setSourceModel(source);
  forgetKeys();
  if (!source) return;
  connect(source, &QAbstractItemModel::modelReset, this, &ResultsSortModel::forgetKeys);
  connect(source, &QAbstractItemModel::rowsInserted, this, &ResultsSortModel::forgetKeys);
  connect(source, &QAbstractItemModel::rowsRemoved, this, &ResultsSortModel::forgetKeys);
  connect(source, &QAbstractItemModel::dataChanged, this, &ResultsSortModel::forgetKeys);
}

// The normalised key folds letter case and character width (and drops
// spaces), so the collator sees "ａｂｃ", "ABC" and "abc" alike.
QString ResultsSortModel::SortText(const std::u16string& cell) { return ToQ(StrNormalizeKey(cell)); }

void ResultsSortModel::forgetKeys() {
  for (auto& column : keys_) column.clear();
}

const QCollatorSortKey& ResultsSortModel::key(int row, int column) const {
  auto& keys = keys_[static_cast<size_t>(column)];
  const auto* model = static_cast<const ResultsModel*>(sourceModel());
  if (keys.size() != model->rows().size()) keys.assign(model->rows().size(), std::nullopt);
  std::optional<QCollatorSortKey>& k = keys[static_cast<size_t>(row)];
  if (!k) {
    const SearchRow& r = model->rows()[static_cast<size_t>(row)];
    const std::u16string& cell = column == 0 ? r.fileName : column == 1 ? r.path : r.block;
    k = collator_.sortKey(SortText(cell));
  }
  return *k;
}

bool ResultsSortModel::lessThan(const QModelIndex& left, const QModelIndex& right) const {
  const int column = left.column();
  if (column < 0 || column >= 3 || !qobject_cast<const ResultsModel*>(sourceModel()))
    return QSortFilterProxyModel::lessThan(left, right);
  return key(left.row(), column).compare(key(right.row(), column)) < 0;
}

}  // namespace tarnwick
