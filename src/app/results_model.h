// The rows of the results grid: a table model over plain rows.  Grid row 0 is
// the title row (the header); model row i is grid row i + 1.
#pragma once

#include <QAbstractTableModel>
#include <QCollator>
#include <QCollatorSortKey>
#include <QSortFilterProxyModel>
#include <array>
#include <optional>
#include <vector>

#include "search/engine.h"

namespace tarnwick {

class ResultsModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit ResultsModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  // Rows are dragged out as the file URLs of their drawings.
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QStringList mimeTypes() const override;
  QMimeData* mimeData(const QModelIndexList& indexes) const override;

  const std::vector<SearchRow>& rows() const { return rows_; }
  void setRows(std::vector<SearchRow> rows);
  // Appends a batch of rows with one insertion.
  void appendRows(const std::vector<SearchRow>& rows);

 private:
  std::vector<SearchRow> rows_;
};

// The order the table shows: search order until a column is sorted.  Names
// compare as a person reads them: letter case and character width ignored,
// numbers by value ("部品2" before "部品10").  Rows that compare equal keep
// their search order, in either direction.
class ResultsSortModel : public QSortFilterProxyModel {
  Q_OBJECT

 public:
  explicit ResultsSortModel(QObject* parent = nullptr);

  void setSourceModel(QAbstractItemModel* source) override;
  // The key a cell sorts by; two cells sort together when their keys do.
  static QString SortText(const std::u16string& cell);

 protected:
  bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

 private:
  const QCollatorSortKey& key(int row, int column) const;
  void forgetKeys();

  QCollator collator_;
  // Sort keys of the source rows, made when a sort first needs them.
  mutable std::array<std::vector<std::optional<QCollatorSortKey>>, 3> keys_;
};

}  // namespace tarnwick
