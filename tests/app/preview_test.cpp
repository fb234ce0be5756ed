// The preview pane of the results window: it follows the current row, reads
// each drawing once, shows what a damaged drawing holds, and the row's
// context menu, double-click and drag.
#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QSplitter>
#include <QTableView>
#include <QtTest>
#include <memory>

#include "app/drawing_cache.h"
#include "app/preview_pane.h"
#include "app/results_window.h"
#include "app_fixture.h"

using namespace tarnwick;
using namespace tarnwick::apptest;

namespace {

testing::Line Line(double x1, double y1, double x2, double y2) {
  testing::Line l;
  l.x1 = x1, l.y1 = y1, l.x2 = x2, l.y2 = y2;
  return l;
}

testing::Definition Def(uint32_t number, const std::u16string& name, std::vector<testing::Entity> entities) {
  testing::Definition d;
  d.number = number;
  d.name = testing::Cp932(name);
  d.entities = std::move(entities);
  return d;
}

void WriteBytes(const QString& path, const testing::Bytes& bytes, size_t size) {
  WriteText(path, QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(size)));
}

}  // namespace

class PreviewTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> tmp_;
  std::unique_ptr<FakeDialogs> dialogs_;
  std::unique_ptr<TForm2> window_;
  QString a_, b_, damaged_, junk_;

  TForm2& w() { return *window_; }
  PreviewPane& pane() { return w().preview(); }
  const draw::DisplayList* shown() { return pane().canvas().list(); }
  SearchRow Row(const QString& path, const std::u16string& block, int32_t definition) {
    return SearchRow{U(QFileInfo(path).fileName()), U(path), block, definition};
  }
  void setRows(const std::vector<SearchRow>& rows) {
    w().beginResults();
    w().appendRows(rows);
    w().endResults();
  }
  // Waits until no read is under way.
  void settle() { QTRY_VERIFY(!pane().cache().busy()); }

 private slots:
  void initTestCase() {
    tmp_ = std::make_unique<QTemporaryDir>();
    QVERIFY(tmp_->isValid());
    a_ = tmp_->filePath(QStringLiteral("door.jww"));
    b_ = tmp_->filePath(QStringLiteral("box.jws"));
    damaged_ = tmp_->filePath(QStringLiteral("cut.jww"));
    junk_ = tmp_->filePath(QStringLiteral("junk.jww"));

    testing::Drawing a;
    testing::Arc circle;
    circle.r = 5;
    a.definitions = {Def(1, u"ドア1", {Line(0, 0, 10, 0)}), Def(7, u"ドア2", {circle})};
    const testing::Bytes ab = testing::Write(a);
    WriteBytes(a_, ab, ab.size());

    testing::Drawing b;
    b.jws = true;
    b.definitions = {Def(3, u"箱", {Line(0, 0, 4, 0), Line(0, 0, 0, 3)})};
    const testing::Bytes bb = testing::Write(b);
    WriteBytes(b_, bb, bb.size());

    // The second definition's last line is cut short.
    testing::Drawing c;
    c.version = 600;  // no image section: the file ends with the last line
    c.definitions = {Def(1, u"全部", {Line(0, 0, 1, 1)}),
                     Def(2, u"途中", {Line(0, 0, 2, 0), Line(0, 0, 0, 2), Line(0, 0, 3, 3)})};
    const testing::Bytes cb = testing::Write(c);
    WriteBytes(damaged_, cb, cb.size() - 47);  // its tag stays, its body is gone

    WriteText(junk_, QByteArray("JwwData. but nothing after it"));
  }
  void init() {
    dialogs_ = std::make_unique<FakeDialogs>();
    window_ = std::make_unique<TForm2>(*dialogs_);
    window_->show();
  }
  void cleanup() {
    window_.reset();
    dialogs_.reset();
  }

  void followsTheCurrentRowAndReadsEachDrawingOnce() {
    setRows({Row(a_, u"ドア1", 0), Row(a_, u"ドア2", 1), Row(b_, u"箱", 0)});
    // The first row is current: its drawing is being read.
    QCOMPARE(pane().canvas().message(), QStringLiteral("読み込み中…"));
    QTRY_VERIFY(shown() != nullptr);
    QCOMPARE(shown()->lines.size(), size_t{1});
    QVERIFY(pane().infoText().contains(QStringLiteral("ドア1")));
    QVERIFY(pane().infoText().contains(QStringLiteral("ブロック番号 1")));
    QVERIFY(pane().infoText().contains(QStringLiteral("線 1")));
    QVERIFY(pane().infoText().contains(QStringLiteral("大きさ 10 × 0")));
    QCOMPARE(pane().cache().reads(), 1);

    // Another block of the same drawing: shown at once, nothing read again.
    w().setCurrentRow(2);
    QVERIFY(shown() != nullptr);
    QCOMPARE(shown()->arcs.size(), size_t{1});
    QVERIFY(pane().infoText().contains(QStringLiteral("ブロック番号 7")));
    QVERIFY(pane().infoText().contains(QStringLiteral("大きさ 10 × 10")));
    QCOMPARE(pane().cache().reads(), 1);

    w().setCurrentRow(3);
    QCOMPARE(pane().canvas().message(), QStringLiteral("読み込み中…"));
    QTRY_VERIFY(shown() != nullptr);
    QCOMPARE(shown()->lines.size(), size_t{2});
    QCOMPARE(pane().cache().reads(), 2);

    w().setCurrentRow(1);
    QCOMPARE(shown()->lines.size(), size_t{1});
    w().setCurrentRow(3);
    QCOMPARE(pane().cache().reads(), 2);
    QVERIFY(!pane().canvas().grab().isNull());
  }

  void aDamagedDrawingShowsWhatCouldBeRead() {
    setRows({Row(damaged_, u"全部", 0), Row(damaged_, u"途中", 1), Row(damaged_, u"無い", 5), Row(junk_, u"x", 0),
             Row(a_, u"ドア1", 0)});
    QTRY_VERIFY(shown() != nullptr);
    QCOMPARE(shown()->lines.size(), size_t{1});
    QVERIFY(pane().infoText().contains(QStringLiteral("途中までしか")));
    // A definition cut short keeps its name but none of its entities.
    w().setCurrentRow(2);
    QVERIFY(shown() == nullptr);
    QCOMPARE(pane().canvas().message(), QStringLiteral("表示できる図形がありません。"));
    QVERIFY(pane().infoText().contains(QStringLiteral("途中")));
    QVERIFY(pane().infoText().contains(QStringLiteral("ブロック番号 2")));
    w().setCurrentRow(3);
    QVERIFY(shown() == nullptr);
    QCOMPARE(pane().canvas().message(), QStringLiteral("このブロックは読み取れませんでした。"));
    w().setCurrentRow(4);
    QTRY_COMPARE(pane().canvas().message(), QStringLiteral("図面を読み取れませんでした。"));
    QVERIFY(shown() == nullptr);
    // The window goes on as before.
    w().setCurrentRow(5);
    QTRY_VERIFY(shown() != nullptr);
    QVERIFY(!w().grab().isNull());
  }

  // Rows of many drawings passed over quickly: only what is still wanted is
  // read, and the row the user stops on is shown.
  void quickMovesReadOnlyWhatIsStillWanted() {
    std::vector<SearchRow> rows;
    for (int i = 0; i < 8; ++i) {
      const QString path = tmp_->filePath(QStringLiteral("many%1.jww").arg(i));
      testing::Drawing d;
      d.definitions = {Def(1, u"b", {Line(0, 0, i + 1, 0)})};
      const testing::Bytes bytes = testing::Write(d);
      WriteBytes(path, bytes, bytes.size());
      rows.push_back(Row(path, u"b", 0));
    }
    setRows(rows);
    for (int r = 2; r <= 8; ++r) w().setCurrentRow(r);
    QTRY_VERIFY(shown() != nullptr && shown()->lines.size() == 1 && shown()->lines[0].x2 == 8);
    // The first two were under way at once; of the rest only the last was read.
    QCOMPARE(pane().cache().reads(), 3);
    settle();
  }

  // A name holding "%1" or markup is shown as it stands.
  void blockNamesAreShownAsTheyAre() {
    setRows({Row(a_, u"%1%2", 0), Row(a_, u"<b>ドア</b>", 1)});
    QTRY_VERIFY(shown() != nullptr);
    QVERIFY(pane().infoText().startsWith(QStringLiteral("%1%2　（ブロック番号 1）\n")));
    w().setCurrentRow(2);
    QVERIFY(pane().infoText().startsWith(QStringLiteral("<b>ドア</b>　（ブロック番号 7）\n")));
    auto* info = Find<QLabel>(w(), "PreviewInfo");
    QCOMPARE(info->textFormat(), Qt::PlainText);
  }

  void aBlankRowShowsNothing() {
    setRows({});
    QVERIFY(shown() == nullptr);
    QCOMPARE(pane().cache().reads(), 0);
    QVERIFY(w().rowMenu(1) == nullptr);
    QVERIFY(!Find<QLabel>(w(), "PreviewInfo")->isVisibleTo(&w()));
  }

  void wheelZoomsAndDoubleClickFits() {
    setRows({Row(a_, u"ドア1", 0)});
    QTRY_VERIFY(shown() != nullptr);
    PreviewCanvas& canvas = pane().canvas();
    const QPointF at = QRectF(canvas.rect()).center();
    QWheelEvent wheel(at, canvas.mapToGlobal(at), QPoint(), QPoint(0, 240), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(&canvas, &wheel);
    QVERIFY(canvas.zoom() > 1.5);
    QTest::mouseDClick(&canvas, Qt::LeftButton);
    QCOMPARE(canvas.zoom(), 1.0);
  }

  void contextMenuDoubleClickAndDrag() {
    setRows({Row(a_, u"ドア1", 0), Row(a_, u"ドア2", 1), Row(b_, u"箱", 0)});
    std::unique_ptr<QMenu> menu(w().rowMenu(3));
    QVERIFY(menu);
    menu->findChild<QAction*>(QStringLiteral("CopyPath"))->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), b_);
    menu->findChild<QAction*>(QStringLiteral("CopyBlockName"))->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("箱"));
    menu->findChild<QAction*>(QStringLiteral("OpenDrawing"))->trigger();
    menu->findChild<QAction*>(QStringLiteral("OpenFolder"))->trigger();
    QCOMPARE(dialogs_->opened, (QList<QUrl>{QUrl::fromLocalFile(b_), QUrl::fromLocalFile(tmp_->path() + "/")}));

    auto* grid = Find<QTableView>(w(), "SG1");
    emit grid->doubleClicked(w().model().index(1, 0));
    QCOMPARE(dialogs_->opened.size(), 3);
    QCOMPARE(dialogs_->opened.last(), QUrl::fromLocalFile(a_));

    // Rows leave as one file URL per drawing.
    QModelIndexList marked;
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) marked << w().model().index(r, c);
    std::unique_ptr<QMimeData> mime(w().model().mimeData(marked));
    QVERIFY(mime);
    QCOMPARE(mime->urls(), (QList<QUrl>{QUrl::fromLocalFile(a_), QUrl::fromLocalFile(b_)}));
    QVERIFY(w().model().flags(w().model().index(0, 0)) & Qt::ItemIsDragEnabled);
    settle();
  }

  void previewWidthIsKept() {
    w().resize(900, 400);
    QCoreApplication::processEvents();
    w().setPreviewWidth(300);
    QCOMPARE(w().previewWidth(), 300);
  }
};

QTEST_MAIN(PreviewTest)
#include "preview_test.moc"
