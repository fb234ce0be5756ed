// The main window driven by its controls' names: the file list, the folder
// slots and both searches.
#include "app/main_window.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>
#include <memory>

#include "app_fixture.h"

using namespace tarnwick;
using namespace tarnwick::apptest;

namespace {

QString FilePageStatus() { return "[追加]又はドラッグ＆ドロップで JWW/JWSファイルを指示し、[検索]をクリックして下さい"; }
QString FolderPageStatus() { return "検索するフォルダを指定し、□検索にチェックを入れ、[検索]をクリックして下さい"; }

QStringList RowTexts(const std::vector<SearchRow>& rows) {
  QStringList out;
  for (const SearchRow& r : rows) out.append(ToQ(r.fileName) + "|" + ToQ(r.path) + "|" + ToQ(r.block));
  return out;
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> tmp_;
  std::unique_ptr<FakeDialogs> dialogs_;
  std::unique_ptr<TForm1> window_;

  QString path(const QString& relative) const { return tmp_->filePath(relative); }
  TForm1& w() { return *window_; }
  QListWidget* list() { return Find<QListWidget>(w(), "ListBox1"); }
  void click(const QString& button) { Find<QPushButton>(w(), button)->click(); }
  QStringList listed() {
    QStringList out;
    for (int i = 0; i < list()->count(); ++i) out.append(list()->item(i)->text());
    return out;
  }
  void add(const QStringList& files) {
    dialogs_->openAnswer = files;
    click("Button1");
  }

 private slots:
  void init() {
    tmp_ = std::make_unique<QTemporaryDir>();
    QVERIFY(tmp_->isValid());
    QVERIFY(QDir().mkpath(path("bin")) && QDir().mkpath(path("d")));
    dialogs_ = std::make_unique<FakeDialogs>();
    // Each test has an index of its own.
    qputenv("XDG_CACHE_HOME", QFile::encodeName(path("cache")));
    window_ = std::make_unique<TForm1>(path("bin/tarnwick"), dialogs_.get());
    window_->show();
  }
  void cleanup() {
    window_.reset();
    dialogs_.reset();
    tmp_.reset();
  }

  // The rules every added path passes: a .jww or .jws extension in any
  // letter case, not listed yet with letter case ignored, an existing file.
  void addFilesThroughTheDialog() {
    QVERIFY(QDir().mkpath(path("d/f.jww")));
    for (const char* name : {"x.jww", "X.JWW", "a.jww", "c.jwk", "d.jw", "b.JWS", "g.jww"})
      WriteText(path("d/") + name, "x");

    add({path("d/x.jww"), path("d/a.jww")});
    QCOMPARE(listed(), QStringList({path("d/x.jww"), path("d/a.jww")}));
    QCOMPARE(ToQ(w().jwpath), path("d/"));

    QVERIFY(QDir().mkpath(path("e")));
    WriteText(path("e/h.jww"), "x");
    w().jwpath = U(path("e/"));
    add({path("d/X.JWW"), path("d/a.jww"), path("d/c.jwk"), path("d/d.jw"), path("d/missing.jww"), path("d/f.jww"),
         path("d/b.JWS"), path("d/g.jww")});
    QCOMPARE(dialogs_->openFolderAsked, path("e/"));
    QCOMPARE(listed(), QStringList({path("d/x.jww"), path("d/a.jww"), path("d/b.JWS"), path("d/g.jww")}));
    QCOMPARE(ToQ(w().jwpath), path("d/"));

    // Cancelled: nothing changes.
    w().jwpath = U(path("e/"));
    add({});
    QCOMPARE(listed().size(), 4);
    QCOMPARE(ToQ(w().jwpath), path("e/"));
  }

  // Dropped on the folder page, the files still land in the file list, in
  // drop order; folders, other extensions, missing files, duplicates and
  // remote URLs are passed over.
  void dropFilesOnEitherPage() {
    QVERIFY(QDir().mkpath(path("d/sub.jww")));
    for (const char* name : {"a.jww", "A.JWW", "B.JWS", "c.txt"}) WriteText(path("d/") + name, "x");
    WriteText(path("d/図面.jww"), "x");
    add({path("d/a.jww")});
    w().jwpath = U(path("bin/"));

    Find<QTabWidget>(w(), "PageControl1")->setCurrentIndex(1);
    const QList<QUrl> urls{QUrl::fromLocalFile(path("d/sub.jww")), QUrl::fromLocalFile(path("d/図面.jww")),
                           QUrl::fromLocalFile(path("d/c.txt")),   QUrl("https://example.com/x.jww"),
                           QUrl::fromLocalFile(path("d/A.JWW")),   QUrl::fromLocalFile(path("d/missing.jws")),
                           QUrl::fromLocalFile(path("d/B.JWS"))};
    QVERIFY(DropUrls(Find<QWidget>(w(), "Panel5"), urls));
    QCOMPARE(listed(), QStringList({path("d/a.jww"), path("d/図面.jww"), path("d/B.JWS")}));
    QCOMPARE(ToQ(w().jwpath), path("bin/"));
  }

  // Many files at once (a command line, a drop, a dialog): each is checked
  // against a set, not against every entry, and they join the list together.
  // Before, 20,000 files took about 20 s (the square of the count).
  void manyFilesJoinInLinearTime() {
    constexpr int kCount = 20000;
    std::vector<std::u16string> paths, again;
    for (int i = 0; i < kCount; ++i) {
      const QString name = path("d/") + QString("f%1.jww").arg(i);
      WriteText(name, "");
      paths.push_back(U(name));
      if (i % 100 == 0) again.push_back(U(path("d/") + QString("F%1.JWW").arg(i)));
    }
    QElapsedTimer timer;
    timer.start();
    w().AddDroppedPaths(paths);
    w().AddDroppedPaths(again);
    qInfo("%d files added in %lld ms", kCount, static_cast<long long>(timer.elapsed()));
    QCOMPARE(list()->count(), kCount);
    QCOMPARE(list()->item(kCount - 1)->text(), path("d/") + QString("f%1.jww").arg(kCount - 1));
    QVERIFY2(timer.elapsed() < 5000, "adding files costs more than linear time");
  }

  void deleteSelectedAndAll() {
    QStringList files;
    for (const char* name : {"0.jww", "1.jww", "2.jww", "3.jww"}) {
      WriteText(path("d/") + name, "x");
      files.append(path("d/") + name);
    }
    add(files);

    // None selected: nothing goes, even with a current entry.
    list()->setCurrentRow(0, QItemSelectionModel::NoUpdate);
    list()->clearSelection();
    click("Button2");
    QCOMPARE(listed(), files);

    list()->setCurrentRow(1);
    list()->item(3)->setSelected(true);
    click("Button2");
    QCOMPARE(listed(), QStringList({files[0], files[2]}));

    dialogs_->confirmAnswer = false;
    click("Button3");
    QCOMPARE(dialogs_->confirmTextAsked, QString("ファイル一覧を全て削除します。よろしいですか？"));
    QCOMPARE(listed().size(), 2);
    dialogs_->confirmAnswer = true;
    click("Button3");
    QVERIFY(listed().isEmpty());
  }

  // A browse button fills the edit of its own slot, always with a trailing
  // separator; the dialog starts in the folder part of what the edit holds.
  void browseForASlotFolder() {
    QLineEdit* edit3 = Find<QLineEdit>(w(), "Edit3");
    dialogs_->folderAnswer = "/srv/図面";
    click("Button8");
    QCOMPARE(dialogs_->folderStartAsked, QString());
    QCOMPARE(edit3->text(), QString("/srv/図面/"));

    edit3->setText("/data/plans");
    dialogs_->folderAnswer.clear();
    click("Button8");
    QCOMPARE(dialogs_->folderStartAsked, QString("/data/"));
    QCOMPARE(edit3->text(), QString("/data/plans"));
    QCOMPARE(Find<QLineEdit>(w(), "Edit2")->text(), QString());

    auto* pages = Find<QTabWidget>(w(), "PageControl1");
    pages->setCurrentIndex(1);
    QCOMPARE(w().statusText(), FolderPageStatus());
    pages->setCurrentIndex(0);
    QCOMPARE(w().statusText(), FilePageStatus());
  }

  void fileListSearch() {
    // An empty list: nothing happens at all.
    click("Button4");
    QTest::qWait(50);
    QCOMPARE(dialogs_->resultsShown, 0);

    WriteDrawing(path("d/a.jww"), {u"ABC@@SFIGORGFLAG123", u"部品"});
    WriteDrawing(path("d/b.jws"), {u"X"}, true);
    WriteText(path("d/broken.jww"), "JwwData.");
    add({path("d/a.jww"), path("d/broken.jww"), path("d/b.jws")});

    click("Button4");
    QTRY_COMPARE_WITH_TIMEOUT(dialogs_->resultsShown, 1, 30000);
    QCOMPARE(RowTexts(dialogs_->shownRows),
             QStringList({"a.jww|" + path("d/a.jww") + "|ABC", "a.jww|" + path("d/a.jww") + "|部品",
                          "b.jws|" + path("d/b.jws") + "|X"}));
    QCOMPARE(w().statusText(), FilePageStatus());
    QVERIFY(list()->selectedItems().isEmpty());
    for (const char* name : {"Button1", "Button2", "Button3", "Button4", "Button26"})
      QVERIFY(Find<QPushButton>(w(), name)->isEnabled());
  }

  // Slots in order, each folder's own drawings before its subfolders'; a
  // name that is only the flag is cut to nothing in the folder itself and
  // kept whole in a subfolder.
  void folderSearch() {
    QVERIFY(QDir().mkpath(path("f/s")));
    WriteDrawing(path("f/a.jww"), {u"@@SFIGORGFLAG", u"A1"});
    WriteDrawing(path("f/s/b.jww"), {u"@@SFIGORGFLAG"});
    Find<QLineEdit>(w(), "Edit1")->setText(path("f/"));  // slot 1 not ticked
    Find<QCheckBox>(w(), "CheckBox3")->setChecked(true);
    Find<QLineEdit>(w(), "Edit2")->setText(path("f/"));
    Find<QCheckBox>(w(), "CheckBox4")->setChecked(true);
    Find<QCheckBox>(w(), "CheckBox5")->setChecked(true);
    Find<QLineEdit>(w(), "Edit3")->setText(path("missing/"));

    click("Button26");
    QTRY_COMPARE_WITH_TIMEOUT(dialogs_->resultsShown, 1, 30000);
    QCOMPARE(RowTexts(dialogs_->shownRows),
             QStringList({"a.jww|" + path("f/a.jww") + "|", "a.jww|" + path("f/a.jww") + "|A1",
                          "b.jww|" + path("f/s/b.jww") + "|@@SFIGORGFLAG"}));
    QCOMPARE(w().statusText(), FolderPageStatus());

    // No slot ticked: the results window still opens, with one blank row,
    // and the status bar says nothing was found.
    for (const char* name : {"CheckBox3", "CheckBox5"}) Find<QCheckBox>(w(), name)->setChecked(false);
    click("Button26");
    QTRY_COMPARE_WITH_TIMEOUT(dialogs_->resultsShown, 2, 30000);
    QCOMPARE(RowTexts(dialogs_->shownRows), QStringList({"||"}));
    QCOMPARE(w().statusText(), QString("ブロック定義は見つかりませんでした"));
    QCOMPARE(w().resultsWindow().notice(), QString());
  }

  // Escape pressed while a search is under way: the notice comes before the
  // final status text, then the rows found so far (none) are shown.
  void escapeStopsASearch_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("otherPage");
    QTest::addColumn<QString>("finalStatus");
    QTest::newRow("file list") << "Button4" << 1 << FilePageStatus();
    QTest::newRow("folders") << "Button26" << 0 << FolderPageStatus();
  }
  void escapeStopsASearch() {
    QFETCH(QString, button);
    QFETCH(int, otherPage);
    QFETCH(QString, finalStatus);
    WriteDrawing(path("d/a.jww"), {u"A"});
    add({path("d/a.jww")});
    Find<QLineEdit>(w(), "Edit1")->setText(path("d/"));
    Find<QCheckBox>(w(), "CheckBox1")->setChecked(true);
    Find<QTabWidget>(w(), "PageControl1")->setCurrentIndex(otherPage);

    QString statusAtNotice;
    bool controlsLocked = false;
    // A real box runs an event loop of its own while it is open.
    dialogs_->onAbortNotice = [&] {
      QTest::qWait(100);
      statusAtNotice = w().statusText();
    };
    w().onSearchStarting = [&] {
      controlsLocked = true;
      for (const char* name : {"Button1", "Button2", "Button3", "Button4", "Button26"})
        controlsLocked = controlsLocked && !Find<QPushButton>(w(), name)->isEnabled();
      QTest::keyClick(list(), Qt::Key_Escape);
    };
    click(button);
    QTRY_COMPARE_WITH_TIMEOUT(dialogs_->resultsShown, 1, 30000);
    QVERIFY(controlsLocked);
    QCOMPARE(dialogs_->abortNotices, 1);
    QVERIFY2(statusAtNotice != finalStatus, qPrintable(statusAtNotice));
    QCOMPARE(w().statusText(), finalStatus);
    QCOMPARE(RowTexts(dialogs_->shownRows), QStringList({"||"}));
    QVERIFY(Find<QPushButton>(w(), "Button4")->isEnabled());
  }

  // The index: a folder search run twice gives the same rows, and the
  // second reads nothing; the status bar says so, and the check box that
  // turns the index off is kept in the settings.
  void secondFolderSearchComesFromTheIndex() {
    QVERIFY(QDir().mkpath(path("f/s")));
    WriteDrawing(path("f/a.jww"), {u"A1", u"ドア"});
    WriteDrawing(path("f/s/b.jww"), {u"B1"});
    // The drawings were written just now; the searches judge their times
    // as if a while later, when a change in the same clock tick is past.
    w().indexClock = [] { return (QDateTime::currentMSecsSinceEpoch() + 10000) * 1000000; };
    Find<QLineEdit>(w(), "Edit1")->setText(path("f/"));
    Find<QCheckBox>(w(), "CheckBox1")->setChecked(true);
    Find<QCheckBox>(w(), "CheckBox2")->setChecked(true);
    QVERIFY(Find<QCheckBox>(w(), "IndexCheckBox")->isChecked());

    click("Button26");
    QTRY_COMPARE_WITH_TIMEOUT(dialogs_->resultsShown, 1, 30000);
    const QStringList first = RowTexts(dialogs_->shownRows);
    QCOMPARE(first.size(), 3);
    QCOMPARE(w().indexStatusText(), QString("索引から0件、読み込み2件"));
    click("Button26");
    QTRY_COMPARE_WITH_TIMEOUT(dialogs_->resultsShown, 2, 30000);
    QCOMPARE(RowTexts(dialogs_->shownRows), first);
    QCOMPARE(w().indexStatusText(), QString("索引から2件、読み込み0件"));
    QCOMPARE(w().statusText(), FolderPageStatus());
    const QString index = path("cache/tarnwick/index.sqlite");
    QCOMPARE(ToQ(TForm1::IndexPath()), index);
    QCOMPARE(QFile::permissions(index) & 0x7777, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser);

    // Off: nothing is said of the index, and the choice outlives the window.
    Find<QCheckBox>(w(), "IndexCheckBox")->setChecked(false);
    click("Button26");
    QTRY_COMPARE_WITH_TIMEOUT(dialogs_->resultsShown, 3, 30000);
    QCOMPARE(RowTexts(dialogs_->shownRows), first);
    QCOMPARE(w().indexStatusText(), QString());
    w().close();
    window_ = std::make_unique<TForm1>(path("bin/tarnwick"), dialogs_.get());
    window_->show();
    QVERIFY(!Find<QCheckBox>(w(), "IndexCheckBox")->isChecked());
  }

  // Closing the window stops the search first, without the notice and
  // without the results; then the window closes and saves its settings.
  void closeStopsASearch() {
    WriteDrawing(path("d/a.jww"), {u"A"});
    add({path("d/a.jww")});
    w().onSearchStarting = [&] { w().close(); };
    click("Button4");
    QTRY_VERIFY_WITH_TIMEOUT(!w().isVisible(), 30000);
    QVERIFY(!w().searching());
    QCOMPARE(dialogs_->abortNotices, 0);
    QCOMPARE(dialogs_->resultsShown, 0);
    QVERIFY(QFile::exists(ToQ(w().settingFileName())));
  }

  // 32767 definitions: 32766 rows, the entry the cap stopped on stays
  // selected and the next drawing is not read.
  void rowCap() {
    std::vector<std::u16string> names;
    for (int i = 1; i <= 32767; ++i) names.push_back(u"B" + FromQ(QString::number(i)));
    WriteDrawing(path("d/big.jww"), names);
    WriteDrawing(path("d/next.jww"), {u"N"});
    add({path("d/big.jww"), path("d/next.jww")});

    QElapsedTimer timer;
    timer.start();
    click("Button4");
    QTRY_COMPARE_WITH_TIMEOUT(dialogs_->resultsShown, 1, 60000);
    qInfo("32766 rows shown after %lld ms", static_cast<long long>(timer.elapsed()));
    QCOMPARE(static_cast<int>(dialogs_->shownRows.size()), 32766);
    QCOMPARE(ToQ(dialogs_->shownRows.back().block), QString("B32766"));
    QVERIFY(list()->item(0)->isSelected());
    QVERIFY(!list()->item(1)->isSelected());
    // Both windows say the cap ended the search, with the number of rows.
    const QString capped("検索結果が上限の 32766 行に達したため、検索を打ち切りました");
    QCOMPARE(w().statusText(), capped);
    QCOMPARE(w().resultsWindow().notice(), capped);
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
