#include "app/results_window.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

#include "app/dialogs.h"
#include "app/preview_pane.h"
#include "app/qt_text.h"
#include "app/results_model.h"
#include "search/export.h"
#include "text/path_utils.h"
#include "text/text_utils.h"

namespace tarnwick {

namespace {

constexpr std::array<int, 3> kDesignedColumnWidths{136, 261, 120};

}  // namespace

TForm2::TForm2(Dialogs& dialogs, QWidget* parent) : QDialog(parent), dialogs_(dialogs) {
  setObjectName(QStringLiteral("TForm2"));
  setWindowTitle(tr("検索結果"));
  setSizeGripEnabled(false);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  model_ = new ResultsModel(this);
  sorted_ = new ResultsSortModel(this);
  sorted_->setSourceModel(model_);
  SG1 = new QTableView(this);
  SG1->setObjectName(QStringLiteral("SG1"));
  SG1->setModel(sorted_);
  SG1->setSelectionBehavior(QAbstractItemView::SelectRows);
  SG1->setSelectionMode(QAbstractItemView::ExtendedSelection);
  SG1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  SG1->setTabKeyNavigation(false);
  SG1->setWordWrap(false);
  SG1->setShowGrid(true);
  SG1->verticalHeader()->hide();
  // Every row has the same height, so tens of thousands of rows cost nothing
  // to lay out.
  SG1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  SG1->verticalHeader()->setDefaultSectionSize(SG1->fontMetrics().height() + 6);
  SG1->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  SG1->horizontalHeader()->setStretchLastSection(false);
  SG1->horizontalHeader()->setDefaultSectionSize(120);
  SG1->horizontalHeader()->setMinimumSectionSize(8);
  SG1->horizontalHeader()->setHighlightSections(false);
  // A click on a title sorts by that column, a second click reverses.  The
  // rows come in search order until then.
  SG1->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
  SG1->horizontalHeader()->setSortIndicatorShown(true);
  SG1->setSortingEnabled(true);
  setColumnWidths(kDesignedColumnWidths);
  // Rows leave the window as the drawings' file URLs.
  SG1->setDragEnabled(true);
  SG1->setDragDropMode(QAbstractItemView::DragOnly);
  SG1->setContextMenuPolicy(Qt::CustomContextMenu);

  Splitter1 = new QSplitter(Qt::Horizontal, this);
  Splitter1->setObjectName(QStringLiteral("Splitter1"));
  Splitter1->setChildrenCollapsible(false);
  Splitter1->addWidget(SG1);
  preview_ = new PreviewPane(Splitter1);
  Splitter1->addWidget(preview_);
  Splitter1->setStretchFactor(0, 1);
  Splitter1->setStretchFactor(1, 0);
  layout->addWidget(Splitter1, 1);

  auto* panel = new QWidget(this);
  panel->setObjectName(QStringLiteral("Panel1"));
  auto* row = new QHBoxLayout(panel);
  row->setContentsMargins(8, 4, 8, 4);
  auto* label = new QLabel(tr("ブロック名："), panel);
  label->setObjectName(QStringLiteral("Label1"));
  Edit1 = new QLineEdit(panel);
  Edit1->setObjectName(QStringLiteral("Edit1"));
  Edit1->setMinimumWidth(161);
  label->setBuddy(Edit1);
  Button1 = new QPushButton(tr("検索(&F)"), panel);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setDefault(true);
  Button2 = new QPushButton(tr("保存(&S)"), panel);
  Button2->setObjectName(QStringLiteral("Button2"));
  Button2->setAutoDefault(false);
  Button3 = new QPushButton(tr("閉じる(&C)"), panel);
  Button3->setObjectName(QStringLiteral("Button3"));
  Button3->setAutoDefault(false);
  row->addWidget(label);
  row->addWidget(Edit1, 1);
  row->addWidget(Button1);
  row->addWidget(Button2);
  row->addWidget(Button3);
  row->addStretch(0);
  layout->addWidget(panel);

  auto* status = new QStatusBar(this);
  status->setObjectName(QStringLiteral("StatusBar1"));
  status->setSizeGripEnabled(true);
  notice_ = new QLabel(status);
  notice_->setObjectName(QStringLiteral("StatusText"));
  notice_->setTextFormat(Qt::PlainText);
  notice_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  status->addWidget(notice_, 1);
  notice_->hide();
  layout->addWidget(status);

  setTabOrder(Edit1, Button1);
  setTabOrder(Button1, Button2);
  setTabOrder(Button2, Button3);
  setTabOrder(Button3, SG1);

  connect(Button1, &QPushButton::clicked, this, &TForm2::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TForm2::Button2Click);
  connect(Button3, &QPushButton::clicked, this, &TForm2::Button3Click);
  connect(SG1->selectionModel(), &QItemSelectionModel::currentRowChanged, this, &TForm2::currentRowChanged);
  connect(SG1, &QTableView::doubleClicked, this, [this](const QModelIndex& index) { openDrawing(index.row() + 1); });
  connect(SG1, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    const QModelIndex index = SG1->indexAt(at);
    if (!index.isValid()) return;
    if (QMenu* menu = rowMenu(index.row() + 1)) {
      menu->exec(SG1->viewport()->mapToGlobal(at));
      menu->deleteLater();
    }
  });

  resize(545 + 260, 406);
  Splitter1->setSizes({545, 260});
  // At start-up the grid shows its titles and one blank row, which is current.
  beginResults();
  endResults();
}

TForm2::~TForm2() = default;

int TForm2::currentRow() const {
  const QModelIndex index = SG1->currentIndex();
  return index.isValid() ? index.row() + 1 : 0;
}

const SearchRow& TForm2::shownRow(int row) const {
  const QModelIndex source = sorted_->mapToSource(sorted_->index(row, 0));
  return model_->rows()[static_cast<size_t>(source.row())];
}

std::vector<SearchRow> TForm2::shownRows() const {
  std::vector<SearchRow> rows;
  const int count = sorted_->rowCount();
  rows.reserve(static_cast<size_t>(count));
  for (int r = 0; r < count; ++r) rows.push_back(shownRow(r));
  return rows;
}

void TForm2::sortByColumn(int column, Qt::SortOrder order) { SG1->sortByColumn(column, order); }

int TForm2::sortColumn() const { return SG1->horizontalHeader()->sortIndicatorSection(); }

Qt::SortOrder TForm2::sortOrder() const { return SG1->horizontalHeader()->sortIndicatorOrder(); }

void TForm2::setCurrentRow(int row) {
  if (row < 1 || row > sorted_->rowCount()) return;
  const QModelIndex index = sorted_->index(row - 1, 0);
  SG1->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  SG1->scrollTo(index);
}

// A new search shows its rows in search order.
void TForm2::beginResults() {
  keptRow_ = std::max(currentRow(), 1);
  model_->setRows({});
  sortByColumn(-1);
}

void TForm2::appendRows(const std::vector<SearchRow>& rows) { model_->appendRows(rows); }

void TForm2::endResults() {
  if (model_->rowCount() == 0) {
    // No results: one blank row, current but not highlighted.
    model_->appendRows({SearchRow{}});
    SG1->selectionModel()->setCurrentIndex(sorted_->index(0, 0), QItemSelectionModel::Clear);
    return;
  }
  setCurrentRow(std::min(keptRow_, sorted_->rowCount()));
}

void TForm2::setNotice(const QString& text) {
  notice_->setText(text);
  notice_->setVisible(!text.isEmpty());
}

QString TForm2::notice() const { return notice_->text(); }

std::array<int, 3> TForm2::columnWidths() const {
  std::array<int, 3> widths{};
  for (int i = 0; i < 3; ++i) widths[static_cast<size_t>(i)] = SG1->horizontalHeader()->sectionSize(i);
  return widths;
}

void TForm2::setColumnWidths(const std::array<int, 3>& widths) {
  for (int i = 0; i < 3; ++i) SG1->horizontalHeader()->resizeSection(i, widths[static_cast<size_t>(i)]);
}

int TForm2::previewWidth() const { return Splitter1->sizes().value(1); }

void TForm2::setPreviewWidth(int width) {
  if (width <= 0) return;
  const QList<int> sizes = Splitter1->sizes();
  const int total = sizes.value(0) + sizes.value(1);
  Splitter1->setSizes({std::max(total - width, 1), width});
}

const SearchRow* TForm2::rowAt(int row) const {
  const std::vector<SearchRow>& rows = model_->rows();
  if (row < 1 || row > static_cast<int>(rows.size())) return nullptr;
  const SearchRow& r = rows[static_cast<size_t>(row - 1)];
  return r.path.empty() ? nullptr : &r;
}

void TForm2::currentRowChanged() {
  const SearchRow* row = rowAt(currentRow());
  preview_->showRow(row ? *row : SearchRow{});
}

void TForm2::openDrawing(int row) {
  if (const SearchRow* r = rowAt(row)) dialogs_.openExternally(this, QUrl::fromLocalFile(PathToQ(r->path)));
}

QMenu* TForm2::rowMenu(int row) {
  const SearchRow* r = rowAt(row);
  if (!r) return nullptr;
  auto* menu = new QMenu(this);
  menu->setObjectName(QStringLiteral("RowMenu"));
  const QString path = PathToQ(r->path);
  const QString block = ToQ(r->block);
  auto add = [&](const char* name, const QString& text, auto&& action) {
    QAction* a = menu->addAction(text);
    a->setObjectName(QString::fromLatin1(name));
    connect(a, &QAction::triggered, this, action);
  };
  add("OpenDrawing", tr("図面を開く(&O)"), [this, row] { openDrawing(row); });
  add("OpenFolder", tr("フォルダーを開く(&F)"), [this, folder = PathToQ(FolderOfPath(r->path))] {
    dialogs_.openExternally(this, QUrl::fromLocalFile(folder));
  });
  menu->addSeparator();
  add("CopyPath", tr("パスをコピー(&P)"), [path] { QGuiApplication::clipboard()->setText(path); });
  add("CopyBlockName", tr("ブロック名をコピー(&B)"),
      [block] { QGuiApplication::clipboard()->setText(block); });
  return menu;
}

void TForm2::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  Edit1->setFocus();
}

// The next row shown below the current one whose block name holds the typed
// text, letter case, character width and spaces ignored.  No wrap-around.
void TForm2::Button1Click() {
  const std::u16string key = StrNormalizeKey(FromQ(Edit1->text()));
  if (key.empty()) return;
  const int count = sorted_->rowCount();
  for (int r = currentRow(); r < count; ++r) {
    if (StrIndexOf(key, StrNormalizeKey(shownRow(r).block)) >= 0) {
      setCurrentRow(r + 1);
      return;
    }
  }
}

void TForm2::Button2Click() {
  const QString folder = PathToQ(FolderOfPath(TxtFileName));
  const QString name = PathToQ(ChangeExt(FileNameOfPath(TxtFileName), u""));
  const QString chosen = dialogs_.saveResults(this, folder, name);
  if (chosen.isEmpty()) return;
  const std::u16string fn = PathFromQ(chosen);
  const std::optional<ExportFormat> format = ExportFormatFor(fn);
  // Only a .txt or .csv name says what to write.
  if (!format) return;
  std::string error;
  // The rows go in the order shown.
  const std::vector<SearchRow> rows = shownRows();
  const bool saved = *format == ExportFormat::kTxt ? SaveTxtFile(fn, rows, &error) : SaveCsvFile(fn, rows, &error);
  // The next save proposes this name again, saved or not.
  TxtFileName = fn;
  if (!saved) {
    dialogs_.saveFailed(this,
                        tr("ファイル【%1】を保存できませんでした。\n%2").arg(ToQ(fn), QString::fromLocal8Bit(error)));
  }
}

void TForm2::Button3Click() { reject(); }

}  // namespace tarnwick
