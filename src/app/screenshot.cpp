// Takes the pictures of the README: both pages of the main window and the
// results window with rows, as PNG files.
//
//   tarnwick-screenshot [--lang ja|en] OUTPUT_FOLDER WORK_FOLDER DRAWINGS_FOLDER [BLOCK]
//
// WORK_FOLDER stands for the executable's folder (settings, scratch folder).
// The drawings are listed on the first page and searched from the second;
// the results window shows the preview of the first block whose name holds
// BLOCK (default 樹木).  The English pictures have "-en" at the end of their
// names.
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/app_font.h"
#include "app/dialogs.h"
#include "app/language.h"
#include "app/main_window.h"
#include "app/preview_pane.h"
#include "app/qt_text.h"
#include "app/results_window.h"

namespace {

void Settle(int ms = 300) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool Save(QWidget& w, const QString& file) {
  const bool ok = w.grab().save(file, "PNG");
  std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(file));
  return ok;
}

class ShotDialogs : public tarnwick::Dialogs {
 public:
  ShotDialogs(QString out, QString suffix) : out_(std::move(out)), suffix_(std::move(suffix)) {}

  void showResults(QDialog& window) override {
    // Wide enough for the whole paths and the preview, as a user would drag it.
    auto* results = qobject_cast<tarnwick::TForm2*>(&window);
    if (results) results->setColumnWidths({150, 330, 110});
    window.resize(1000, 460);
    window.show();
    Settle();
    if (results) results->setPreviewWidth(330);
    // Show the find at work: the first row holding the block named in the
    // script is current, and its preview is drawn.
    window.findChild<QLineEdit*>(QStringLiteral("Edit1"))->setText(block_);
    window.findChild<QPushButton*>(QStringLiteral("Button1"))->click();
    QElapsedTimer waited;
    waited.start();
    while (results && !results->preview().canvas().list() && waited.elapsed() < 10000) Settle(50);
    Settle();
    ok_ = Save(window, out_ + QStringLiteral("/results-window") + suffix_ + QStringLiteral(".png")) && ok_;
    window.hide();
    QApplication::quit();
  }
  QString block_;
  bool ok_ = true;

 private:
  QString out_;
  QString suffix_;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  std::vector<std::string> args(argv + 1, argv + argc);
  const std::optional<std::string> lang = tarnwick::TakeLanguageOption(args);
  const tarnwick::Language language =
      tarnwick::LanguageNamed(QString::fromStdString(lang.value_or("ja"))).value_or(tarnwick::Language::kJapanese);
  if (args.size() != 3 && args.size() != 4) {
    std::fprintf(stderr, "usage: tarnwick-screenshot [--lang ja|en] OUTPUT_FOLDER WORK_FOLDER DRAWINGS_FOLDER [BLOCK]\n");
    return 2;
  }
  const QString out = QString::fromLocal8Bit(args[0]);
  const QString work = QString::fromLocal8Bit(args[1]);
  const QString drawings = QString::fromLocal8Bit(args[2]);
  const QString suffix = language == tarnwick::Language::kEnglish ? QStringLiteral("-en") : QString();
  tarnwick::UseJapaneseFallbackFont();
  tarnwick::InstallLanguage(app, language);

  ShotDialogs dialogs(out, suffix);
  dialogs.block_ = args.size() == 4 ? QString::fromLocal8Bit(args[3]) : QStringLiteral("樹木");
  tarnwick::TForm1 window(work + QStringLiteral("/tarnwick"), &dialogs);
  window.show();
  Settle();

  QStringList files;
  for (QDirIterator it(drawings, {QStringLiteral("*.jww"), QStringLiteral("*.jws")}, QDir::Files,
                       QDirIterator::Subdirectories);
       it.hasNext();)
    files.append(it.next());
  std::sort(files.begin(), files.end());
  std::vector<std::u16string> paths;
  for (const QString& f : files) paths.push_back(tarnwick::PathFromQ(f));
  window.AddDroppedPaths(paths);
  window.findChild<QListWidget*>(QStringLiteral("ListBox1"))->setCurrentRow(1);

  window.findChild<QLineEdit*>(QStringLiteral("Edit1"))->setText(drawings + QStringLiteral("/"));
  window.findChild<QCheckBox*>(QStringLiteral("CheckBox1"))->setChecked(true);
  window.findChild<QCheckBox*>(QStringLiteral("CheckBox2"))->setChecked(true);
  window.findChild<QLineEdit*>(QStringLiteral("Edit2"))->setText(drawings + QStringLiteral("/部品/"));

  Settle();
  bool ok = Save(window, out + QStringLiteral("/main-window-files") + suffix + QStringLiteral(".png"));
  window.findChild<QTabWidget*>(QStringLiteral("PageControl1"))->setCurrentIndex(1);
  Settle();
  ok = Save(window, out + QStringLiteral("/main-window-folders") + suffix + QStringLiteral(".png")) && ok;

  QTimer::singleShot(0, &window, [&window] { window.findChild<QPushButton*>(QStringLiteral("Button26"))->click(); });
  QTimer::singleShot(60000, &app, [] {
    std::fprintf(stderr, "the search did not end\n");
    QApplication::exit(1);
  });
  if (app.exec() != 0) return 1;
  return ok && dialogs.ok_ ? 0 : 1;
}
