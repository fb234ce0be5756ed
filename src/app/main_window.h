// The main window: the file list, the twenty folder slots and the two
// searches.  It also runs start-up (when first shown) and shutdown (when
// closed): the scratch folder and the settings file.
#pragma once

#include <QMainWindow>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "search/engine.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTabWidget;

namespace tarnwick {

class Dialogs;
class IndexDb;
class SearchRunner;
class TForm2;
struct SettingsData;

class TForm1 : public QMainWindow {
  Q_OBJECT

 public:
  // executablePath decides where the settings file and the scratch folder
  // live.  dialogs answers every modal question (the desktop's by default).
  explicit TForm1(const QString& executablePath, Dialogs* dialogs = nullptr, QWidget* parent = nullptr);
  ~TForm1() override;

  TForm2& resultsWindow() { return *results_; }
  QString statusText() const;
  bool searching() const { return searching_; }

  // Set while the main window is first shown.
  const std::u16string& exeFolder() const { return ExeFolder; }
  const std::u16string& tempFolder() const { return TempFolder; }
  const std::u16string& settingFileName() const { return SettingFileName; }

  // The folder last used in the add dialog, ending with "/".
  std::u16string jwpath;

  // Adds files the way a drop does: files dropped from the desktop and
  // files named on the command line.
  void AddDroppedPaths(const std::vector<std::u16string>& paths);

  // Runs after a search has set itself up (controls disabled, Escape
  // watched) and before its worker starts.  For tests.
  std::function<void()> onSearchStarting;

  // Where the index of earlier reads lives: $XDG_CACHE_HOME/tarnwick/
  // (~/.cache/tarnwick/ when unset) and "index.sqlite".
  static std::u16string IndexPath();
  // For tests: the clock the index judges file times by (nanoseconds since
  // the epoch); the system clock when empty.
  std::function<int64_t()> indexClock;
  // What the status bar says of the index after the last search.
  QString indexStatusText() const;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  class ViewObserver;

  void BuildFilePage(QWidget* page);
  void BuildFolderPage(QWidget* page);

  void FormShow();
  void FormClose();
  void LoadSettingFile(const std::u16string& fn);
  void SaveSettingFile(const std::u16string& fn);
  void ApplySettings(const SettingsData& data);
  SettingsData CollectSettings() const;

  void Button1Click();   // add files
  void Button2Click();   // delete the selected entries
  void Button3Click();   // delete all entries
  void Button4Click();   // search the file list
  void Button5Click();   // close
  void Button6Click();   // browse for a slot's folder (Button6 ... Button25)
  void Button26Click();  // search the folder slots
  void PageControl1Change(int index);

  // Adds the paths that pass the rules; returns how many joined the list.
  int AcceptPaths(const std::vector<std::u16string>& paths);
  QCheckBox* SlotCheckBox(int number) const;
  QLineEdit* SlotEdit(int number) const;
  void SetStatus(const QString& text);
  QString PageStatus(int page) const;
  QString StatusText(StatusKind kind, const std::u16string& path) const;

  using Search = std::function<SearchResult(const SearchOptions&, SearchObserver&)>;
  void StartSearch(Search search, int fileCount);
  void SetSearching(bool on, int fileCount);
  void SearchFinished(const SearchResult& result);

  Dialogs& dialogs_;
  const std::u16string executablePath_;
  std::u16string ExeFolder;
  std::u16string TempFolder;
  std::u16string SettingFileName;
  bool tempFolderUsed_ = false;
  bool shown_ = false;
  bool closed_ = false;
  bool searching_ = false;
  bool closeRequested_ = false;
  int filesDone_ = 0;

  std::unique_ptr<TForm2> results_;
  std::unique_ptr<ViewObserver> observer_;
  std::unique_ptr<SearchRunner> runner_;

  QTabWidget* PageControl1 = nullptr;
  QListWidget* ListBox1 = nullptr;
  QPushButton* Button1 = nullptr;
  QPushButton* Button2 = nullptr;
  QPushButton* Button3 = nullptr;
  QPushButton* Button4 = nullptr;
  QPushButton* Button5 = nullptr;
  QPushButton* Button26 = nullptr;
  QPushButton* Button27 = nullptr;
  QLabel* statusLabel_ = nullptr;
  QLabel* indexLabel_ = nullptr;
  QCheckBox* indexBox_ = nullptr;
  std::unique_ptr<IndexDb> index_;
  bool indexOpened_ = false;
  int fromIndex_ = 0;
  int readFiles_ = 0;
  QProgressBar* progress_ = nullptr;
};

}  // namespace tarnwick
