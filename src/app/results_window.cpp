#include "app/results_window.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

#include "app/dialogs.h"
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
  setWindowTitle(QStringLiteral("検索結果"));
  setSizeGripEnabled(false);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  model_ = new ResultsModel(this);
  SG1 = new QTableView(this);
  SG1->setObjectName(QStringLiteral("SG1"));
  SG1->setModel(model_);
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
  setColumnWidths(kDesignedColumnWidths);
  layout->addWidget(SG1, 1);

  auto* panel = new QWidget(this);
  panel->setObjectName(QStringLiteral("Panel1"));
  auto* row = new QHBoxLayout(panel);
  row->setContentsMargins(8, 4, 8, 4);
  auto* label = new QLabel(QStringLiteral("ブロック名："), panel);
  label->setObjectName(QStringLiteral("Label1"));
  Edit1 = new QLineEdit(panel);
  Edit1->setObjectName(QStringLiteral("Edit1"));
  Edit1->setMinimumWidth(161);
  label->setBuddy(Edit1);
  Button1 = new QPushButton(QStringLiteral("検索(&F)"), panel);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setDefault(true);
  Button2 = new QPushButton(QStringLiteral("保存(&S)"), panel);
  Button2->setObjectName(QStringLiteral("Button2"));
  Button2->setAutoDefault(false);
  Button3 = new QPushButton(QStringLiteral("閉じる(&C)"), panel);
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
  layout->addWidget(status);

  setTabOrder(Edit1, Button1);
  setTabOrder(Button1, Button2);
  setTabOrder(Button2, Button3);
  setTabOrder(Button3, SG1);

  connect(Button1, &QPushButton::clicked, this, &TForm2::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TForm2::Button2Click);
  connect(Button3, &QPushButton::clicked, this, &TForm2::Button3Click);

  resize(545, 406);
  // At start-up the grid shows its titles and one blank row, which is current.
  beginResults();
  endResults();
}

TForm2::~TForm2() = default;

int TForm2::currentRow() const {
  const QModelIndex index = SG1->currentIndex();
  return index.isValid() ? index.row() + 1 : 0;
}

void TForm2::setCurrentRow(int row) {
  if (row < 1 || row > model_->rowCount()) return;
  const QModelIndex index = model_->index(row - 1, 0);
  SG1->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  SG1->scrollTo(index);
}

void TForm2::beginResults() {
  keptRow_ = std::max(currentRow(), 1);
  model_->setRows({});
}

void TForm2::appendRows(const std::vector<SearchRow>& rows) { model_->appendRows(rows); }

void TForm2::endResults() {
  if (model_->rowCount() == 0) {
    // No results: one blank row, current but not highlighted.
    model_->appendRows({SearchRow{}});
    SG1->selectionModel()->setCurrentIndex(model_->index(0, 0), QItemSelectionModel::Clear);
    return;
  }
  setCurrentRow(std::min(keptRow_, model_->rowCount()));
}

std::array<int, 3> TForm2::columnWidths() const {
  std::array<int, 3> widths{};
  for (int i = 0; i < 3; ++i) widths[static_cast<size_t>(i)] = SG1->horizontalHeader()->sectionSize(i);
  return widths;
}

void TForm2::setColumnWidths(const std::array<int, 3>& widths) {
  for (int i = 0; i < 3; ++i) SG1->horizontalHeader()->resizeSection(i, widths[static_cast<size_t>(i)]);
}

void TForm2::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  Edit1->setFocus();
}

// The next row below the current one whose block name holds the typed text,
// letter case, character width and spaces ignored.  No wrap-around.
void TForm2::Button1Click() {
  const std::u16string key = StrNormalizeKey(FromQ(Edit1->text()));
  if (key.empty()) return;
  const std::vector<SearchRow>& rows = model_->rows();
  for (size_t r = static_cast<size_t>(currentRow()); r < rows.size(); ++r) {
    if (StrIndexOf(key, StrNormalizeKey(rows[r].block)) >= 0) {
      setCurrentRow(static_cast<int>(r) + 1);
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
  const bool saved =
      *format == ExportFormat::kTxt ? SaveTxtFile(fn, model_->rows(), &error) : SaveCsvFile(fn, model_->rows(), &error);
  // The next save proposes this name again, saved or not.
  TxtFileName = fn;
  if (!saved) {
    dialogs_.saveFailed(
        this, QStringLiteral("ファイル【%1】を保存できませんでした。\n%2").arg(ToQ(fn), QString::fromLocal8Bit(error)));
  }
}

void TForm2::Button3Click() { reject(); }

}  // namespace tarnwick
