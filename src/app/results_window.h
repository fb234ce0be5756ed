// The results window: the grid of rows found, find-next by block name, and
// saving the rows as tab-separated text or CSV.
#pragma once

#include <QDialog>
#include <array>
#include <string>
#include <vector>

#include "search/engine.h"

class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSplitter;
class QTableView;

namespace tarnwick {

class Dialogs;
class PreviewPane;
class ResultsModel;
class ResultsSortModel;

class TForm2 : public QDialog {
  Q_OBJECT

 public:
  explicit TForm2(Dialogs& dialogs, QWidget* parent = nullptr);
  ~TForm2() override;

  // The full path last chosen in the save dialog.
  std::u16string TxtFileName;

  // The rows in search order.
  ResultsModel& model() { return *model_; }
  // The rows in the order the grid shows them.
  std::vector<SearchRow> shownRows() const;
  // Sorts by a column as a click on its title does; -1 goes back to search
  // order.
  void sortByColumn(int column, Qt::SortOrder order = Qt::AscendingOrder);
  // The sorted column, -1 for search order.
  int sortColumn() const;
  Qt::SortOrder sortOrder() const;

  // The grid's current row as shown, counted with the title row as row 0
  // (so the first row shown is row 1); 0 when there is none.
  int currentRow() const;
  void setCurrentRow(int row);

  // A search fills the grid in three steps: beginResults empties it,
  // appendRows adds each batch, endResults puts one blank row into a grid
  // left empty and keeps the current row within the new rows.
  void beginResults();
  void appendRows(const std::vector<SearchRow>& rows);
  void endResults();

  // The text of the status bar: why the rows end where they do (the row
  // cap), or nothing.
  void setNotice(const QString& text);
  QString notice() const;

  std::array<int, 3> columnWidths() const;
  void setColumnWidths(const std::array<int, 3>& widths);

  // The preview pane beside the grid, and its width (the splitter's
  // position); 0 or less leaves the width the window gives it.
  PreviewPane& preview() { return *preview_; }
  int previewWidth() const;
  void setPreviewWidth(int width);
  // The context menu of a grid row (counted as currentRow counts).
  QMenu* rowMenu(int row);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void Button1Click();  // find the next row
  void Button2Click();  // save
  void Button3Click();  // close
  void currentRowChanged();
  void openDrawing(int row);
  const SearchRow* rowAt(int row) const;

  Dialogs& dialogs_;
  const SearchRow& shownRow(int row) const;  // row as shown, from 0

  ResultsModel* model_;
  ResultsSortModel* sorted_;
  QTableView* SG1;
  QSplitter* Splitter1;
  PreviewPane* preview_;
  QLineEdit* Edit1;
  QPushButton* Button1;
  QPushButton* Button2;
  QPushButton* Button3;
  QLabel* notice_;
  int keptRow_ = 1;
};

}  // namespace tarnwick
