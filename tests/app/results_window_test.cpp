// The results window: find next by block name and saving the rows.
#include "app/results_window.h"

#include <QElapsedTimer>
#include <QHeaderView>
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
  // A row for each block name, the search order numbered in the file name.
  void setBlocks(const std::vector<std::u16string>& blocks) {
    std::vector<SearchRow> rows;
    for (size_t i = 0; i < blocks.size(); ++i) {
      const std::u16string file = u"f" + std::u16string(1, static_cast<char16_t>(u'a' + i)) + u".jww";
      rows.push_back({file, u"/d/" + file, blocks[i]});
    }
    setRows(rows);
  }
  QStringList shownBlocks() const {
    QStringList blocks;
    for (const SearchRow& row : window_->shownRows()) blocks.append(ToQ(row.block));
    return blocks;
  }
  QStringList shownFiles() const {
    QStringList files;
    for (const SearchRow& row : window_->shownRows()) files.append(ToQ(row.fileName));
    return files;
  }
  void clickTitle(int column) {
    QHeaderView* header = Find<QTableView>(w(), "SG1")->horizontalHeader();
    const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, at);
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

  // Names sort as a person reads them: letter case, character width and
  // hiragana or katakana ignored, numbers by value, Latin before kana before
  // kanji, kanji by reading (窓 "sou" before 扉 "hi"); names that compare
  // equal keep their search order, upwards and downwards.
  void sortOrderOfNames_data() {
    QTest::addColumn<QStringList>("blocks");
    QTest::addColumn<QStringList>("upwards");
    QTest::addColumn<QStringList>("downwards");
    QTest::newRow("letter case") << QStringList{"beta", "Alpha", "BETA", "alpha"}
                                 << QStringList{"Alpha", "alpha", "beta", "BETA"}
                                 << QStringList{"beta", "BETA", "Alpha", "alpha"};
    QTest::newRow("character width") << QStringList{"ｂｅｔａ", "alpha", "ＡＬＰＨＡ", "ｶﾞﾗｽ", "ガラス2"}
                                     << QStringList{"alpha", "ＡＬＰＨＡ", "ｂｅｔａ", "ｶﾞﾗｽ", "ガラス2"}
                                     << QStringList{"ガラス2", "ｶﾞﾗｽ", "ｂｅｔａ", "alpha", "ＡＬＰＨＡ"};
    QTest::newRow("numbers") << QStringList{"部品10", "部品2", "部品1", "部品２０", "部品02a"}
                             << QStringList{"部品1", "部品2", "部品02a", "部品10", "部品２０"}
                             << QStringList{"部品２０", "部品10", "部品02a", "部品2", "部品1"};
    QTest::newRow("Japanese") << QStringList{"扉", "とびら", "Door", "トビラ", "窓"}
                              << QStringList{"Door", "とびら", "トビラ", "窓", "扉"}
                              << QStringList{"扉", "窓", "とびら", "トビラ", "Door"};
    QTest::newRow("blank name") << QStringList{"b", "", "a"} << QStringList{"", "a", "b"}
                                << QStringList{"b", "a", ""};
  }
  void sortOrderOfNames() {
    QFETCH(QStringList, blocks);
    QFETCH(QStringList, upwards);
    QFETCH(QStringList, downwards);
    std::vector<std::u16string> names;
    for (const QString& b : blocks) names.push_back(U(b));
    setBlocks(names);
    w().sortByColumn(2, Qt::AscendingOrder);
    QCOMPARE(shownBlocks(), upwards);
    w().sortByColumn(2, Qt::DescendingOrder);
    QCOMPARE(shownBlocks(), downwards);
  }

  // A click on a title sorts by its column, the second click reverses, and
  // a new search comes in search order again.
  void titleClicksSort() {
    setRows({{u"b.jww", u"/d/b.jww", u"x"}, {u"a.jww", u"/d/a.jww", u"y"}, {u"c.jww", u"/d/c.jww", u"x"}});
    QCOMPARE(w().sortColumn(), -1);
    clickTitle(0);
    QCOMPARE(w().sortColumn(), 0);
    QCOMPARE(shownFiles(), (QStringList{"a.jww", "b.jww", "c.jww"}));
    clickTitle(0);
    QCOMPARE(w().sortOrder(), Qt::DescendingOrder);
    QCOMPARE(shownFiles(), (QStringList{"c.jww", "b.jww", "a.jww"}));
    clickTitle(2);
    QCOMPARE(w().sortColumn(), 2);
    QCOMPARE(w().sortOrder(), Qt::AscendingOrder);
    QCOMPARE(shownBlocks(), (QStringList{"x", "x", "y"}));

    setRows({{u"b.jww", u"/d/b.jww", u"2"}, {u"a.jww", u"/d/a.jww", u"1"}});
    QCOMPARE(w().sortColumn(), -1);
    QCOMPARE(shownFiles(), (QStringList{"b.jww", "a.jww"}));
  }

  // A full table (the row cap) sorts by number, appended in batches as a
  // search delivers them.
  void sortAFullTable() {
    w().beginResults();
    for (int batch = 0; batch < 2; ++batch) {
      std::vector<SearchRow> rows;
      for (int i = 32766 - batch * 16383; i > 32766 - (batch + 1) * 16383; --i)
        rows.push_back({u"a.jww", u"/d/a.jww", u"部品" + U(QString::number(i))});
      w().appendRows(rows);
    }
    w().endResults();
    QElapsedTimer timer;
    timer.start();
    w().sortByColumn(2, Qt::AscendingOrder);
    qInfo("32766 rows sorted in %lld ms", static_cast<long long>(timer.elapsed()));
    const std::vector<SearchRow> shown = w().shownRows();
    QCOMPARE(static_cast<int>(shown.size()), 32766);
    for (int i = 0; i < 32766; i += 997) QCOMPARE(ToQ(shown[static_cast<size_t>(i)].block), "部品" + QString::number(i + 1));
    QCOMPARE(ToQ(shown.back().block), QString("部品32766"));
    timer.restart();
    w().sortByColumn(2, Qt::DescendingOrder);
    qInfo("and reversed in %lld ms", static_cast<long long>(timer.elapsed()));
    QCOMPARE(ToQ(w().shownRows().front().block), QString("部品32766"));
  }

  // Find next walks down the rows as shown, and saving writes them so.
  void findAndSaveFollowTheShownOrder() {
    setBlocks({u"扉3", u"窓", u"扉10", u"扉1", u"ドア"});
    w().sortByColumn(2, Qt::AscendingOrder);
    QCOMPARE(shownBlocks(), (QStringList{"ドア", "窓", "扉1", "扉3", "扉10"}));
    w().setCurrentRow(1);
    QStringList found;
    for (int i = 0; i < 4; ++i) {
      find("扉");
      found.append(shownBlocks()[w().currentRow() - 1]);
    }
    QCOMPARE(found, (QStringList{"扉1", "扉3", "扉10", "扉10"}));

    w().sortByColumn(2, Qt::DescendingOrder);
    save(path("sorted.txt"));
    QCOMPARE(QString::fromUtf8(ReadBytes(path("sorted.txt"))),
             QString("\uFEFF"
                     "fc.jww\t/d/fc.jww\t扉10\r\n"
                     "fa.jww\t/d/fa.jww\t扉3\r\n"
                     "fd.jww\t/d/fd.jww\t扉1\r\n"
                     "fb.jww\t/d/fb.jww\t窓\r\n"
                     "fe.jww\t/d/fe.jww\tドア\r\n"));
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
