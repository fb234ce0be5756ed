#include "app/main_window.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QScrollArea>
#include <QStatusBar>
#include <QTabWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>
#include <cstdint>
#include <limits>

#include "app/dialogs.h"
#include "app/qt_text.h"
#include "app/results_window.h"
#include "app/search_runner.h"
#include "app/settings_file.h"
#include "index/index_db.h"
#include "text/path_utils.h"
#include "text/text_utils.h"

namespace tarnwick {

namespace {

bool FolderWritable(const std::u16string& folder) {
  return !folder.empty() && access(NativePath(folder).c_str(), W_OK) == 0;
}

QPushButton* MakeButton(const QString& name, const QString& caption, QWidget* parent) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(name);
  button->setAutoDefault(false);
  return button;
}

WindowBounds BoundsOf(const QWidget& w) { return {w.x(), w.y(), w.width(), w.height()}; }

// A stored size is taken when it is a size at all, and no larger than the
// room on the screen it lands on; a stored position only when the window's
// title bar would land on a screen, so a window closed on a monitor that has
// gone does not come back out of reach.
void ApplyBounds(QWidget& w, const WindowBounds& b) {
  // Stored numbers may be anything: the sums are made wide.
  auto narrow = [](int64_t v) {
    return static_cast<int>(std::clamp<int64_t>(v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
  };
  const QPoint title(narrow(int64_t(b.left) + std::clamp(b.width, 0, 200) / 2), narrow(int64_t(b.top) + 10));
  QScreen* screen = QGuiApplication::screenAt(title);
  const bool onScreen = screen != nullptr;
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (b.width > 0 && b.height > 0) {
    int width = b.width, height = b.height;
    if (screen) {
      const QRect room = screen->availableGeometry();
      width = std::min(width, room.width());
      height = std::min(height, room.height());
    }
    w.resize(width, height);
  }
  if (onScreen) w.move(b.left, b.top);
}

// The local files among dropped URLs, each with the bytes of its name.
std::vector<std::u16string> DroppedPaths(const QMimeData& mime) {
  std::vector<std::u16string> paths;
  for (const QUrl& url : mime.urls()) {
    if (!url.isLocalFile()) continue;
    const QByteArray bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    paths.push_back(PathText(bytes.toStdString()));
  }
  return paths;
}

}  // namespace

// What a running search reports, on the window's thread.
class TForm1::ViewObserver : public SearchObserver {
 public:
  explicit ViewObserver(TForm1& w) : w_(w) {}

  void status(StatusKind kind, const std::u16string& path) override { w_.SetStatus(w_.StatusText(kind, path)); }
  void clearSelection() override { w_.ListBox1->clearSelection(); }
  void selectItem(int32_t index, bool selected) override {
    QListWidgetItem* item = w_.ListBox1->item(index);
    if (!item) return;
    item->setSelected(selected);
    if (selected) w_.ListBox1->scrollToItem(item);
  }
  void rows(const std::vector<SearchRow>& rows) override { w_.results_->appendRows(rows); }
  void file(const FileReport& report) override {
    ++w_.filesDone_;
    if (report.fromCache) {
      ++w_.fromIndex_;
    } else if (report.outcome == FileOutcome::kRead || report.outcome == FileOutcome::kNotOfFormat ||
               report.outcome == FileOutcome::kDamaged) {
      ++w_.readFiles_;
    }
    if (w_.progress_->maximum() > 0) w_.progress_->setValue(std::min(w_.filesDone_, w_.progress_->maximum()));
  }
  void aborted() override { w_.dialogs_.searchAborted(&w_); }

 private:
  TForm1& w_;
};

TForm1::TForm1(const QString& executablePath, Dialogs* dialogs, QWidget* parent)
    : QMainWindow(parent),
      dialogs_(dialogs ? *dialogs : Dialogs::standard()),
      executablePath_(PathFromQ(executablePath)) {
  setObjectName(QStringLiteral("TForm1"));
  setWindowTitle(QStringLiteral("Tarnwick Ver.1.10"));

  auto* panel2 = new QWidget(this);
  panel2->setObjectName(QStringLiteral("Panel2"));
  auto* panel2Layout = new QVBoxLayout(panel2);
  panel2Layout->setContentsMargins(0, 0, 0, 0);
  PageControl1 = new QTabWidget(panel2);
  PageControl1->setObjectName(QStringLiteral("PageControl1"));
  PageControl1->setTabPosition(QTabWidget::South);
  panel2Layout->addWidget(PageControl1);
  setCentralWidget(panel2);

  auto* tab1 = new QWidget;
  tab1->setObjectName(QStringLiteral("TabSheet1"));
  BuildFilePage(tab1);
  PageControl1->addTab(tab1, tr("ファイル指定(&1)"));
  auto* tab2 = new QWidget;
  tab2->setObjectName(QStringLiteral("TabSheet2"));
  BuildFolderPage(tab2);
  PageControl1->addTab(tab2, tr("フォルダ指定(&2)"));
  PageControl1->setCurrentIndex(0);

  QStatusBar* bar = statusBar();
  bar->setObjectName(QStringLiteral("StatusBar1"));
  bar->setSizeGripEnabled(true);
  statusLabel_ = new QLabel(bar);
  statusLabel_->setObjectName(QStringLiteral("StatusText"));
  // A long path in the text is cut at the window's edge instead of widening
  // the window.
  statusLabel_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  statusLabel_->setTextFormat(Qt::PlainText);
  bar->addWidget(statusLabel_, 1);
  indexLabel_ = new QLabel(bar);
  indexLabel_->setObjectName(QStringLiteral("IndexStatus"));
  indexLabel_->setTextFormat(Qt::PlainText);
  bar->addPermanentWidget(indexLabel_);
  indexLabel_->hide();  // shown when a search through the index ends
  progress_ = new QProgressBar(bar);
  progress_->setObjectName(QStringLiteral("ProgressBar1"));
  progress_->setMaximumWidth(140);
  progress_->setMaximumHeight(statusLabel_->sizeHint().height());
  progress_->setTextVisible(false);
  progress_->hide();
  bar->addPermanentWidget(progress_);
  SetStatus(PageStatus(0));

  connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
  connect(Button3, &QPushButton::clicked, this, &TForm1::Button3Click);
  connect(Button4, &QPushButton::clicked, this, &TForm1::Button4Click);
  connect(Button5, &QPushButton::clicked, this, &TForm1::Button5Click);
  connect(Button26, &QPushButton::clicked, this, &TForm1::Button26Click);
  connect(Button27, &QPushButton::clicked, this, &TForm1::Button5Click);
  connect(PageControl1, &QTabWidget::currentChanged, this, &TForm1::PageControl1Change);

  // The results window is a window of its own, so its controls' names do
  // not meet the main window's in a lookup by name.
  results_ = std::make_unique<TForm2>(dialogs_);
  observer_ = std::make_unique<ViewObserver>(*this);
  runner_ = std::make_unique<SearchRunner>(*observer_);

  // The designed size and position: the top-left corner of the screen.
  resize(627, 451);
  if (QScreen* screen = QGuiApplication::primaryScreen()) move(screen->availableGeometry().topLeft());
}

TForm1::~TForm1() {
  // A search still running stops before the window it reports to goes.
  runner_.reset();
  if (searching_) qApp->removeEventFilter(this);
}

void TForm1::BuildFilePage(QWidget* page) {
  auto* layout = new QHBoxLayout(page);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  auto* left = new QVBoxLayout;
  left->setSpacing(0);
  auto* panel3 = new QWidget(page);
  panel3->setObjectName(QStringLiteral("Panel3"));
  auto* panel3Layout = new QHBoxLayout(panel3);
  panel3Layout->setContentsMargins(6, 2, 6, 2);
  auto* label1 = new QLabel(tr("検索するJWファイル名"), panel3);
  label1->setObjectName(QStringLiteral("Label1"));
  panel3Layout->addWidget(label1);
  panel3->setMinimumHeight(20);
  left->addWidget(panel3);

  ListBox1 = new QListWidget(page);
  ListBox1->setObjectName(QStringLiteral("ListBox1"));
  ListBox1->setSelectionMode(QAbstractItemView::ExtendedSelection);
  ListBox1->setUniformItemSizes(true);
  ListBox1->setSortingEnabled(false);
  left->addWidget(ListBox1, 1);
  layout->addLayout(left, 1);

  auto* panel1 = new QWidget(page);
  panel1->setObjectName(QStringLiteral("Panel1"));
  panel1->setMinimumWidth(105);
  auto* buttons = new QVBoxLayout(panel1);
  buttons->setContentsMargins(8, 8, 8, 8);
  Button1 = MakeButton(QStringLiteral("Button1"), tr("追加(&A)"), panel1);
  Button2 = MakeButton(QStringLiteral("Button2"), tr("削除(&D)"), panel1);
  Button3 = MakeButton(QStringLiteral("Button3"), tr("全削除(&E)"), panel1);
  Button4 = MakeButton(QStringLiteral("Button4"), tr("検索(&S)"), panel1);
  Button5 = MakeButton(QStringLiteral("Button5"), tr("終了(&X)"), panel1);
  for (QPushButton* b : {Button1, Button2, Button3, Button5}) b->setMinimumHeight(30);
  Button4->setMinimumHeight(49);
  buttons->addWidget(Button1);
  buttons->addWidget(Button2);
  buttons->addWidget(Button3);
  buttons->addSpacing(16);
  buttons->addWidget(Button4);
  buttons->addStretch(1);
  buttons->addWidget(Button5);
  layout->addWidget(panel1);
}

void TForm1::BuildFolderPage(QWidget* page) {
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  auto* scroll = new QScrollArea(page);
  scroll->setObjectName(QStringLiteral("ScrollBox1"));
  scroll->setWidgetResizable(true);
  auto* panel5 = new QWidget;
  panel5->setObjectName(QStringLiteral("Panel5"));
  auto* grid = new QGridLayout(panel5);
  grid->setContentsMargins(8, 6, 8, 6);
  grid->setVerticalSpacing(2);
  // Row n: CheckBox(2n-1) "検索", Edit n, Button(n+5) "参照" with Tag n,
  // CheckBox(2n) "サブフォルダも検索".  Created row by row, so the tab order
  // runs across each row, then down.
  for (int n = 1; n <= kSlotCount; ++n) {
    auto* search = new QCheckBox(tr("検索"), panel5);
    search->setObjectName(QStringLiteral("CheckBox%1").arg(2 * n - 1));
    auto* edit = new QLineEdit(panel5);
    edit->setObjectName(QStringLiteral("Edit%1").arg(n));
    edit->setMinimumWidth(321);
    // Files dropped on the page go to the file list, not into an edit.
    edit->setAcceptDrops(false);
    auto* browse = MakeButton(QStringLiteral("Button%1").arg(n + 5), tr("参照"), panel5);
    browse->setProperty("Tag", n);
    browse->setMinimumWidth(41);
    browse->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(browse, &QPushButton::clicked, this, &TForm1::Button6Click);
    auto* subfolders = new QCheckBox(tr("サブフォルダも検索"), panel5);
    subfolders->setObjectName(QStringLiteral("CheckBox%1").arg(2 * n));
    grid->addWidget(search, n - 1, 0);
    grid->addWidget(edit, n - 1, 1);
    grid->addWidget(browse, n - 1, 2);
    grid->addWidget(subfolders, n - 1, 3);
  }
  grid->setColumnStretch(1, 1);
  grid->setRowStretch(kSlotCount, 1);
  scroll->setWidget(panel5);
  layout->addWidget(scroll, 1);

  auto* panel4 = new QWidget(page);
  panel4->setObjectName(QStringLiteral("Panel4"));
  panel4->setMinimumHeight(34);
  auto* row = new QHBoxLayout(panel4);
  row->setContentsMargins(8, 4, 8, 4);
  Button26 = MakeButton(QStringLiteral("Button26"), tr("検索(&S)"), panel4);
  Button27 = MakeButton(QStringLiteral("Button27"), tr("終了(&X)"), panel4);
  indexBox_ = new QCheckBox(tr("索引を使って検索を速くする"), panel4);
  indexBox_->setObjectName(QStringLiteral("IndexCheckBox"));
  indexBox_->setToolTip(tr("前回の検索から変わっていない図面は読み込まず、索引に記録した内容を使います"));
  indexBox_->setChecked(true);
  row->addWidget(indexBox_);
  row->addStretch(1);
  row->addWidget(Button26);
  row->addWidget(Button27);
  layout->addWidget(panel4);
}

QString TForm1::statusText() const { return statusLabel_->text(); }

QString TForm1::indexStatusText() const { return indexLabel_->text(); }

std::u16string TForm1::IndexPath() {
  const QByteArray xdg = qgetenv("XDG_CACHE_HOME");
  // A relative value is to be ignored, as the base directory rules say.
  std::u16string folder = !xdg.isEmpty() && xdg.startsWith('/') ? PathFromQ(QString::fromLocal8Bit(xdg))
                                                                  : PathFromQ(QDir::homePath() + QStringLiteral("/.cache"));
  return IncludeTrailingDelim(folder) + u"tarnwick/index.sqlite";
}

void TForm1::SetStatus(const QString& text) { statusLabel_->setText(text); }

QCheckBox* TForm1::SlotCheckBox(int number) const {
  return findChild<QCheckBox*>(QStringLiteral("CheckBox") + ToQ(IntToText(number)));
}

QLineEdit* TForm1::SlotEdit(int number) const {
  return findChild<QLineEdit*>(QStringLiteral("Edit") + ToQ(IntToText(number)));
}

// ---- start-up and shutdown ----

void TForm1::showEvent(QShowEvent* event) {
  if (!shown_) {
    shown_ = true;
    FormShow();
  }
  QMainWindow::showEvent(event);
}

void TForm1::FormShow() {
  ExeFolder = FolderOfPath(executablePath_);
  TempFolder = ExeFolder + u"TEMP" + PathDelimChar();
  // An executable in a folder we may not write to (an installed one) has no
  // scratch folder.
  tempFolderUsed_ = FolderWritable(ExeFolder);
  if (tempFolderUsed_) CreateFolder(TempFolder);
  SettingFileName = SettingsPathFor(executablePath_);
  LoadSettingFile(SettingFileName);
  setAcceptDrops(true);
}

void TForm1::closeEvent(QCloseEvent* event) {
  // A running search stops first; the window closes when it has ended.
  if (searching_) {
    closeRequested_ = true;
    runner_->cancelQuietly();
    event->ignore();
    return;
  }
  if (shown_ && !closed_) {
    closed_ = true;
    FormClose();
  }
  results_->hide();
  event->accept();
}

void TForm1::FormClose() {
  if (tempFolderUsed_) DeleteFolder(TempFolder);
  SaveSettingFile(SettingFileName);
}

void TForm1::LoadSettingFile(const std::u16string& fn) {
  SettingsData data;
  // The dialogs start beside the executable, or in the home folder when the
  // executable is installed where the user does not write.
  const std::u16string start =
      FolderWritable(ExeFolder) ? ExeFolder : IncludeTrailingDelim(PathFromQ(QDir::homePath()));
  data.jwpath = start;
  data.TxtFileName = start;
  jwpath = data.jwpath;
  results_->TxtFileName = data.TxtFileName;
  ListBox1->clear();
  if (!tarnwick::LoadSettingFile(fn, data)) return;
  ApplySettings(data);
}

void TForm1::SaveSettingFile(const std::u16string& fn) {
  std::string error;
  // Shutdown goes on whatever happens; a settings file that cannot be
  // written only costs the next start its settings.
  if (!tarnwick::SaveSettingFile(fn, CollectSettings(), &error))
    qWarning("tarnwick: settings not saved to %s: %s", NativePath(fn).c_str(), error.c_str());
}

void TForm1::ApplySettings(const SettingsData& d) {
  ApplyBounds(*this, d.mainWindow);
  ApplyBounds(*results_, d.resultsWindow);
  results_->setColumnWidths({d.columnWidths[0], d.columnWidths[1], d.columnWidths[2]});
  results_->setPreviewWidth(d.previewWidth);
  jwpath = d.jwpath;
  results_->TxtFileName = d.TxtFileName;
  for (int i = 1; i <= 2 * kSlotCount; ++i)
    if (QCheckBox* box = SlotCheckBox(i)) box->setChecked(d.checks[static_cast<size_t>(i - 1)]);
  for (int i = 1; i <= kSlotCount; ++i)
    if (QLineEdit* edit = SlotEdit(i)) edit->setText(ToQ(d.edits[static_cast<size_t>(i - 1)]));
  // Restored entries are taken as they were saved.
  QStringList files;
  files.reserve(static_cast<qsizetype>(d.files.size()));
  for (const std::u16string& f : d.files) files.append(ToQ(f));
  ListBox1->addItems(files);
  indexBox_->setChecked(d.useIndex);
}

SettingsData TForm1::CollectSettings() const {
  SettingsData d;
  d.mainWindow = BoundsOf(*this);
  d.resultsWindow = BoundsOf(*results_);
  const std::array<int, 3> widths = results_->columnWidths();
  for (size_t i = 0; i < 3; ++i) d.columnWidths[i] = widths[i];
  d.previewWidth = results_->previewWidth();
  d.jwpath = jwpath;
  d.TxtFileName = results_->TxtFileName;
  for (int i = 1; i <= 2 * kSlotCount; ++i)
    if (QCheckBox* box = SlotCheckBox(i)) d.checks[static_cast<size_t>(i - 1)] = box->isChecked();
  for (int i = 1; i <= kSlotCount; ++i)
    if (QLineEdit* edit = SlotEdit(i)) d.edits[static_cast<size_t>(i - 1)] = FromQ(edit->text());
  for (int i = 0; i < ListBox1->count(); ++i) d.files.push_back(FromQ(ListBox1->item(i)->text()));
  d.useIndex = indexBox_->isChecked();
  return d;
}

// ---- the file list ----

// A path joins the list when it names an existing .jww or .jws file that is
// not listed yet, letter case ignored.  Anything else is passed over.  The
// listed names are looked up in a set made once per call and the new entries
// join the list together, so adding n files costs time in proportion to n
// and the list's length, not their product.
int TForm1::AcceptPaths(const std::vector<std::u16string>& paths) {
  QSet<QString> listed;
  listed.reserve(ListBox1->count() + static_cast<qsizetype>(paths.size()));
  for (int i = 0; i < ListBox1->count(); ++i) listed.insert(ListBox1->item(i)->text().toCaseFolded());
  QStringList added;
  for (const std::u16string& path : paths) {
    if (path.empty() || DrawingKindOf(path) == DrawingKind::kNone) continue;
    const QString text = ToQ(path);
    const QString key = text.toCaseFolded();
    if (listed.contains(key)) continue;
    if (!FileExistsSafe(path)) continue;
    listed.insert(key);
    added.append(text);
  }
  ListBox1->addItems(added);
  return static_cast<int>(added.size());
}

void TForm1::Button1Click() {
  QString folder;
  if (!StrRemoveSpaces(jwpath).empty()) folder = PathToQ(jwpath);
  const QStringList files = dialogs_.openDrawings(this, folder);
  if (files.isEmpty()) return;
  jwpath = FolderOfPath(PathFromQ(files.first()));
  std::vector<std::u16string> paths;
  paths.reserve(static_cast<size_t>(files.size()));
  for (const QString& f : files) paths.push_back(PathFromQ(f));
  AcceptPaths(paths);
}

void TForm1::AddDroppedPaths(const std::vector<std::u16string>& paths) {
  if (searching_) return;
  AcceptPaths(paths);
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
  if (!searching_ && event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TForm1::dragMoveEvent(QDragMoveEvent* event) {
  if (!searching_ && event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
  if (searching_ || !event->mimeData()->hasUrls()) return;
  AddDroppedPaths(DroppedPaths(*event->mimeData()));
  event->acceptProposedAction();
}

void TForm1::Button2Click() {
  if (ListBox1->count() == 0 || ListBox1->currentRow() < 0) return;
  for (int i = ListBox1->count() - 1; i >= 0; --i)
    if (ListBox1->item(i)->isSelected()) delete ListBox1->takeItem(i);
}

void TForm1::Button3Click() {
  if (dialogs_.confirm(this, tr("ファイル一覧を全て削除します。よろしいですか？"))) ListBox1->clear();
}

void TForm1::Button5Click() { close(); }

// ---- the folder slots ----

void TForm1::Button6Click() {
  const QObject* button = sender();
  if (!button) return;
  QLineEdit* edit = SlotEdit(button->property("Tag").toInt());
  if (!edit) return;
  QString start;
  const std::u16string s = FromQ(edit->text());
  if (!StrRemoveSpaces(s).empty()) start = PathToQ(FolderOfPath(s));
  const QString chosen = dialogs_.chooseFolder(this, start);
  if (chosen.isEmpty()) return;
  edit->setText(ToQ(IncludeTrailingDelim(PathFromQ(chosen))));
}

void TForm1::PageControl1Change(int index) { SetStatus(PageStatus(index)); }

// The engine's status events in words.
QString TForm1::StatusText(StatusKind kind, const std::u16string& path) const {
  switch (kind) {
    case StatusKind::kFilePage: return PageStatus(0);
    case StatusKind::kFolderPage: return PageStatus(1);
    case StatusKind::kSearching: return tr("検索中");
    case StatusKind::kFile: return tr("ファイル【%1】検索中").arg(ToQ(path));
    case StatusKind::kFolder: return tr("フォルダ【%1】検索中").arg(ToQ(path));
    case StatusKind::kNone: break;
  }
  return QString();
}

// What to do on a page, shown while no search runs.
QString TForm1::PageStatus(int page) const {
  return page == 0 ? tr("[追加]又はドラッグ＆ドロップで JWW/JWSファイルを指示し、[検索]をクリックして下さい")
                   : tr("検索するフォルダを指定し、□検索にチェックを入れ、[検索]をクリックして下さい");
}

// ---- the searches ----

void TForm1::Button4Click() {
  if (searching_ || ListBox1->count() == 0) return;
  std::vector<std::u16string> items;
  items.reserve(static_cast<size_t>(ListBox1->count()));
  for (int i = 0; i < ListBox1->count(); ++i) items.push_back(FromQ(ListBox1->item(i)->text()));
  const int count = static_cast<int>(items.size());
  StartSearch([items = std::move(items)](const SearchOptions& options,
                                         SearchObserver& observer) { return SearchFileList(items, options, observer); },
              count);
}

void TForm1::Button26Click() {
  if (searching_) return;
  std::vector<FolderSlot> folderSlots;
  for (int n = 1; n <= kSlotCount; ++n) {
    FolderSlot slot;
    QCheckBox* search = SlotCheckBox(2 * n - 1);
    QLineEdit* edit = SlotEdit(n);
    QCheckBox* subfolders = SlotCheckBox(2 * n);
    slot.search = search && search->isChecked();
    if (edit) slot.folder = FromQ(edit->text());
    slot.subfolders = subfolders && subfolders->isChecked();
    folderSlots.push_back(std::move(slot));
  }
  StartSearch(
      [folderSlots = std::move(folderSlots)](const SearchOptions& options, SearchObserver& observer) {
        return SearchFolders(folderSlots, options, observer);
      },
      0);
}

void TForm1::StartSearch(Search search, int fileCount) {
  SetSearching(true, fileCount);
  results_->beginResults();
  IndexDb* index = nullptr;
  indexLabel_->clear();
  indexLabel_->hide();
  if (indexBox_->isChecked()) {
    if (!indexOpened_) {
      // Opened once, at the first search that uses it.  The file is ours:
      // one that cannot be used is replaced by a new index.
      indexOpened_ = true;
      const std::u16string path = IndexPath();
      if (CreateFolder(FolderOfPath(path))) ::chmod(NativePath(FolderOfPath(path)).c_str(), 0700);
      IndexOptions o;
      o.replaceUnusable = true;
      o.clock = indexClock;
      index_ = IndexDb::Open(NativePath(path), o);
    }
    if (index_ && index_->usable()) index = index_.get();
  }
  fromIndex_ = readFiles_ = 0;
  if (onSearchStarting) onSearchStarting();
  runner_->start(std::move(search), [this](const SearchResult& result) { SearchFinished(result); }, index);
}

// While a search runs nothing may change the file list or start another
// search; Escape anywhere in the program stops it.
void TForm1::SetSearching(bool on, int fileCount) {
  searching_ = on;
  for (QPushButton* b : {Button1, Button2, Button3, Button4, Button26}) b->setEnabled(!on);
  filesDone_ = 0;
  if (on) {
    progress_->setRange(0, fileCount);  // 0 .. 0: no total known, the bar just moves
    progress_->setValue(0);
    progress_->show();
    qApp->installEventFilter(this);
  } else {
    progress_->hide();
    qApp->removeEventFilter(this);
  }
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (searching_ && event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape &&
      !QApplication::activeModalWidget()) {
    runner_->cancel();
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

void TForm1::SearchFinished(const SearchResult& result) {
  SetSearching(false, 0);
  if (indexBox_->isChecked() && index_) {
    if (index_->usable()) {
      indexLabel_->setText(tr("索引から%1件、読み込み%2件").arg(fromIndex_).arg(readFiles_));
    } else {
      // Said once per search; the search ran as without it.
      indexLabel_->setText(tr("索引を使えないため、すべての図面を読み込みました"));
      indexLabel_->setToolTip(QString::fromStdString(index_->problem()));
    }
    indexLabel_->show();
  }
  if (closeRequested_) {
    close();
    return;
  }
  if (!result.started) return;
  results_->endResults();
  // The row cap ended the search: both windows say so.  A search that found
  // nothing says so beside the one blank row of the table.
  QString notice;
  if (result.capReached) {
    notice = tr("検索結果が上限の %1 行に達したため、検索を打ち切りました").arg(result.rowCount);
    SetStatus(notice);
  } else if (result.rowCount == 0 && !result.aborted) {
    SetStatus(tr("ブロック定義は見つかりませんでした"));
  }
  results_->setNotice(notice);
  if (QWindow* mine = windowHandle()) {
    results_->winId();
    if (QWindow* theirs = results_->windowHandle()) theirs->setTransientParent(mine);
  }
  dialogs_.showResults(*results_);
}

}  // namespace tarnwick
