// The rows of the results grid: a table model over plain rows.  Grid row 0 is
// the title row (the header); model row i is grid row i + 1.
#pragma once

#include <QAbstractTableModel>
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

}  // namespace tarnwick
