// The results window: find next by block name and saving the rows.
#include "app/results_window.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QtTest>
#include <memory>

#include "app_fixture.h"

using namespace tarnwick;
using namespace tarnwick::apptest;

class ResultsWindowTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> tmp_;
  std::unique_ptr<FakeDialogs> dialogs_;
  std::unique_ptr<TForm2> window_;

  QString path(const QString& relative) const { return tmp_->filePath(relative); }
  TForm2& w() { return *window_; }
  void setRows(std::vector<SearchRow> rows) {
    w().beginResults();
    w().appendRows(rows);
    w().endResults();
  }
  void find(const QString& text) {
    Find<QLineEdit>(w(), "Edit1")->setText(text);
    Find<QPushButton>(w(), "Button1")->click();
  }
  void save(const QString& answer) {
    dialogs_->saveAnswer = answer;
    Find<QPushButton>(w(), "Button2")->click();
  }

 private slots:
  void init() {
    tmp_ = std::make_unique<QTemporaryDir>();
    QVERIFY(tmp_->isValid());
    dialogs_ = std::make_unique<FakeDialogs>();
    window_ = std::make_unique<TForm2>(*dialogs_);
    window_->show();
  }
  void cleanup() {
    window_.reset();
    dialogs_.reset();
    tmp_.reset();
  }

  // Letter case, character width and spaces are ignored; the search starts
  // below the current row and does not wrap around.
  void findNextBlockName() {
    setRows({{u"a.jww", u"/d/a.jww", u"ABC"}, {u"a.jww", u"/d/a.jww", u"xabc"}, {u"b.jww", u"/d/b.jww", u"ＡＢＣ"}});
    QCOMPARE(w().currentRow(), 1);
    find("abc");
    QCOMPARE(w().currentRow(), 2);
    find("abc");
    QCOMPARE(w().currentRow(), 3);
    find("abc");
    QCOMPARE(w().currentRow(), 3);

    w().setCurrentRow(1);
    find("   ");
    QCOMPARE(w().currentRow(), 1);
    find("ａ b");
    QCOMPARE(w().currentRow(), 2);
  }

  // A new search keeps the current row, within the new rows.
  void currentRowSurvivesANewSearch() {
    setRows({{u"a", u"/a", u"1"}, {u"a", u"/a", u"2"}, {u"a", u"/a", u"3"}});
    w().setCurrentRow(3);
    setRows({{u"a", u"/a", u"1"}, {u"a", u"/a", u"2"}});
    QCOMPARE(w().currentRow(), 2);
    setRows({});
    QCOMPARE(w().model().rowCount(), 1);
    QCOMPARE(w().currentRow(), 1);
  }

  // With no results the one blank row is current but not highlighted.
  void blankRowIsNotHighlighted() {
    setRows({});
    QCOMPARE(w().model().rowCount(), 1);
    QVERIFY(Find<QTableView>(w(), "SG1")->selectionModel()->selectedIndexes().isEmpty());
    setRows({{u"a", u"/a", u"1"}});
    QCOMPARE(Find<QTableView>(w(), "SG1")->selectionModel()->selectedRows().size(), 1);
    setRows({});
    QVERIFY(Find<QTableView>(w(), "SG1")->selectionModel()->selectedIndexes().isEmpty());
  }

  // The extension of the chosen name picks the format, in any letter case;
  // the next dialog proposes the same folder and name.
  void saveTxtAndCsv() {
    // No results: one line of empty fields.
    save(path("empty.txt"));
    QCOMPARE(ReadBytes(path("empty.txt")), QByteArray("\xEF\xBB\xBF\t\t\r\n"));

    setRows({{u"A", u"B", u"C"}, {u"図.jws", u"/d/図.jws", u"部品"}});
    save(path("list.txt"));
    QCOMPARE(ReadBytes(path("list.txt")), QByteArray("\xEF\xBB\xBF"
                                                     "A\tB\tC\r\n") +
                                              QString("図.jws\t/d/図.jws\t部品\r\n").toUtf8());
    QCOMPARE(ToQ(w().TxtFileName), path("list.txt"));

    save(path("list.CSV"));
    QCOMPARE(dialogs_->saveFolderAsked, tmp_->path() + "/");
    QCOMPARE(dialogs_->saveNameAsked, QString("list"));
    QCOMPARE(ReadBytes(path("list.CSV")), QByteArray("\xEF\xBB\xBF\"A\",\"B\",\"C\"\r\n") +
                                              QString("\"図.jws\",\"/d/図.jws\",\"部品\"\r\n").toUtf8());

    // Another extension writes nothing and changes nothing.
    save(path("list.dat"));
    QVERIFY(!QFile::exists(path("list.dat")));
    QCOMPARE(ToQ(w().TxtFileName), path("list.CSV"));

    // Cancelled.
    save(QString());
    QCOMPARE(ToQ(w().TxtFileName), path("list.CSV"));
    QVERIFY(dialogs_->saveFailures.isEmpty());
  }

  // A save that cannot happen is told to the user with the reason, and the
  // next dialog proposes the same path.
  void failedSaveIsReported() {
    setRows({{u"A", u"B", u"C"}});
    const QString target = path("missing/out.txt");
    save(target);
    QCOMPARE(dialogs_->saveFailures.size(), 1);
    QVERIFY2(dialogs_->saveFailures[0].contains(target), qPrintable(dialogs_->saveFailures[0]));
    const QStringList lines = dialogs_->saveFailures[0].split('\n');
    QVERIFY2(lines.size() == 2 && !lines[1].isEmpty(), qPrintable(dialogs_->saveFailures[0]));
    QVERIFY(!QFile::exists(target));
    QCOMPARE(ToQ(w().TxtFileName), target);

    // A folder in the way of the name.
    QVERIFY(QDir().mkpath(path("taken.csv")));
    save(path("taken.csv"));
    QCOMPARE(dialogs_->saveFailures.size(), 2);
  }
};

QTEST_MAIN(ResultsWindowTest)
#include "results_window_test.moc"
