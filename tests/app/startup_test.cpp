// Start-up and shutdown: the settings file and the scratch folder beside the
// executable, or in the user's configuration when that folder is read-only.
#include <unistd.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QGuiApplication>
#include <QtTest>
#include <memory>

#include "app/main_window.h"
#include "app_fixture.h"

using namespace tarnwick;
using namespace tarnwick::apptest;

class StartupTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> tmp_;
  FakeDialogs dialogs_;

  QString path(const QString& relative) const { return tmp_->filePath(relative); }
  std::unique_ptr<TForm1> start(const QString& executable) {
    auto window = std::make_unique<TForm1>(executable, &dialogs_);
    window->show();
    return window;
  }
  static QStringList listed(TForm1& w) {
    QStringList out;
    auto* list = Find<QListWidget>(w, "ListBox1");
    for (int i = 0; i < list->count(); ++i) out.append(list->item(i)->text());
    return out;
  }

 private slots:
  void init() {
    tmp_ = std::make_unique<QTemporaryDir>();
    QVERIFY(tmp_->isValid());
    dialogs_ = FakeDialogs();
  }
  void cleanup() { tmp_.reset(); }

  // No settings file: designed column widths, both dialogs start beside the
  // executable; TEMP exists while the program runs; at exit the settings
  // file is written (74 lines for an empty list) and TEMP is gone.
  void firstRun() {
    QVERIFY(QDir().mkpath(path("bin")));
    auto w = start(path("bin/tarnwick"));
    QVERIFY(QFileInfo(path("bin/TEMP")).isDir());
    QVERIFY(listed(*w).isEmpty());
    QCOMPARE(w->resultsWindow().columnWidths(), (std::array<int, 3>{136, 261, 120}));
    QCOMPARE(w->statusText(), ToQ(kStatusFilePage));

    Find<QPushButton>(*w, "Button1")->click();
    QCOMPARE(dialogs_.openFolderAsked, path("bin/"));
    Find<QPushButton>(w->resultsWindow(), "Button2")->click();
    QCOMPARE(dialogs_.saveFolderAsked, path("bin/"));
    QCOMPARE(dialogs_.saveNameAsked, QString());

    w->close();
    QVERIFY(!QFileInfo::exists(path("bin/TEMP")));
    const QByteArray saved = ReadBytes(path("bin/tarnwick.dat"));
    QCOMPARE(saved.count("\r\n"), 74);
    QVERIFY(saved.endsWith("\r\n0\r\n"));
  }

  // A scratch folder that holds a file is left alone.
  void scratchFolderWithAFileStays() {
    QVERIFY(QDir().mkpath(path("bin/TEMP")));
    WriteText(path("bin/TEMP/keep.txt"), "x");
    start(path("bin/tarnwick"))->close();
    QVERIFY(QFileInfo::exists(path("bin/TEMP/keep.txt")));
  }

  // Everything the settings keep comes back, Japanese paths included; a
  // restored entry is not tested again, so a file deleted meanwhile stays.
  void settingsRoundTrip() {
    const QString exe = path("アプリ/tarnwick");
    QVERIFY(QDir().mkpath(path("アプリ")) && QDir().mkpath(path("図面")));
    WriteText(path("図面/平面図.jww"), "x");
    {
      auto w = start(exe);
      dialogs_.openAnswer = {path("図面/平面図.jww")};
      Find<QPushButton>(*w, "Button1")->click();
      Find<QCheckBox>(*w, "CheckBox2")->setChecked(true);
      Find<QCheckBox>(*w, "CheckBox39")->setChecked(true);
      Find<QCheckBox>(*w, "CheckBox40")->setChecked(true);
      Find<QLineEdit>(*w, "Edit20")->setText("/データ/フォルダ/");
      w->resultsWindow().TxtFileName = U(path("出力/一覧.csv"));
      w->resultsWindow().setColumnWidths({50, 300, 90});
      w->move(30, 40);
      w->resize(700, 500);
      w->resultsWindow().move(60, 70);
      w->resultsWindow().resize(600, 420);
      w->close();
    }
    QVERIFY(QFile::exists(path("アプリ/tarnwick.dat")));
    QVERIFY(QFile::remove(path("図面/平面図.jww")));

    auto w = start(exe);
    QCOMPARE(listed(*w), QStringList({path("図面/平面図.jww")}));
    QCOMPARE(ToQ(w->jwpath), path("図面/"));
    QCOMPARE(ToQ(w->resultsWindow().TxtFileName), path("出力/一覧.csv"));
    QCOMPARE(w->resultsWindow().columnWidths(), (std::array<int, 3>{50, 300, 90}));
    for (int i = 1; i <= 40; ++i) {
      const bool ticked = i == 2 || i == 39 || i == 40;
      QVERIFY2(Find<QCheckBox>(*w, QString("CheckBox%1").arg(i))->isChecked() == ticked,
               qPrintable(QString::number(i)));
    }
    QCOMPARE(Find<QLineEdit>(*w, "Edit20")->text(), QString("/データ/フォルダ/"));
    QCOMPARE(Find<QLineEdit>(*w, "Edit1")->text(), QString());
    QCOMPARE(w->pos(), QPoint(30, 40));
    QCOMPARE(w->size(), QSize(700, 500));
    QCOMPARE(w->resultsWindow().pos(), QPoint(60, 70));
    QCOMPARE(w->resultsWindow().size(), QSize(600, 420));
  }

  // Stored sizes beyond the screen (a damaged or hostile settings file) are
  // fitted to the room on the screen; a position off every screen is not taken.
  void hugeStoredGeometryFitsTheScreen() {
    QVERIFY(QDir().mkpath(path("bin")));
    start(path("bin/tarnwick"))->close();
    QList<QByteArray> lines = ReadBytes(path("bin/tarnwick.dat")).split('\n');
    const char* values[8] = {"0", "0", "2147483647", "2147483647", "2147483647", "2147483647", "2147483647",
                             "2147483647"};
    for (int i = 0; i < 8; ++i) lines[i] = QByteArray(values[i]) + "\r";
    QFile file(path("bin/tarnwick.dat"));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(lines.join('\n'));
    file.close();

    auto w = start(path("bin/tarnwick"));
    const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
    QVERIFY2(w->width() <= room.width() && w->height() <= room.height(),
             qPrintable(QString("%1x%2").arg(w->width()).arg(w->height())));
    QVERIFY(w->resultsWindow().width() <= room.width() && w->resultsWindow().height() <= room.height());
    QVERIFY(w->resultsWindow().x() < room.right());
  }

  // An executable folder that cannot be written: no scratch folder, and the
  // settings live in $XDG_CONFIG_HOME/tarnwick/.
  void readOnlyExecutableFolder() {
    QString folder = path("ro");
    QVERIFY(QDir().mkpath(folder));
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup);
    if (access(QFile::encodeName(folder).constData(), W_OK) == 0) {
      // The superuser writes anywhere; a folder below a file cannot be
      // written by anyone.
      WriteText(path("file"), "x");
      folder = path("file/bin");
    }
    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(path("config")));
    {
      auto w = start(folder + "/tarnwick");
      QVERIFY(!QFileInfo::exists(folder + "/TEMP"));
      QCOMPARE(ToQ(w->settingFileName()), path("config/tarnwick/tarnwick.dat"));
      Find<QPushButton>(*w, "Button1")->click();
      QCOMPARE(dialogs_.openFolderAsked, QDir::homePath() + "/");
      Find<QLineEdit>(*w, "Edit5")->setText("/srv/");
      w->close();
    }
    QVERIFY(QFile::exists(path("config/tarnwick/tarnwick.dat")));
    QVERIFY(!QFileInfo::exists(folder + "/tarnwick.dat"));
    auto w = start(folder + "/tarnwick");
    QCOMPARE(Find<QLineEdit>(*w, "Edit5")->text(), QString("/srv/"));
    if (oldConfig.isNull())
      qunsetenv("XDG_CONFIG_HOME");
    else
      qputenv("XDG_CONFIG_HOME", oldConfig);
    QFile::setPermissions(path("ro"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
};

QTEST_MAIN(StartupTest)
#include "startup_test.moc"
