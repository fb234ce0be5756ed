// The windows in each language: every text shown is there, and none is the
// other language's.  The English table covers every text of the app.
#include "app/language.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QXmlStreamReader>
#include <QtTest>
#include <memory>

#include "app/drawing_cache.h"
#include "app/main_window.h"
#include "app/preview_pane.h"
#include "app_fixture.h"

using namespace tarnwick;
using namespace tarnwick::apptest;

namespace {

// Kana, kanji, CJK punctuation and the full-width forms.
bool HasJapanese(const QString& s) {
  static const QRegularExpression re(QStringLiteral("[\\x{3000}-\\x{30FF}\\x{3400}-\\x{9FFF}\\x{FF00}-\\x{FFEF}]"));
  return re.match(s).hasMatch();
}

struct Message {
  QString context, source, translation;
  bool finished = true;
};

std::vector<Message> ReadTs(const QString& path) {
  std::vector<Message> out;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) qFatal("cannot read %s", qPrintable(path));
  QXmlStreamReader xml(&file);
  QString context;
  Message m;
  while (!xml.atEnd()) {
    xml.readNext();
    if (!xml.isStartElement()) continue;
    if (xml.name() == QLatin1String("name")) {
      context = xml.readElementText();
    } else if (xml.name() == QLatin1String("message")) {
      m = Message{context, {}, {}, true};
    } else if (xml.name() == QLatin1String("source")) {
      m.source = xml.readElementText();
    } else if (xml.name() == QLatin1String("translation")) {
      const QString type = xml.attributes().value(QLatin1String("type")).toString();
      m.finished = type.isEmpty();
      m.translation = xml.readElementText();
      out.push_back(m);
    }
  }
  if (xml.hasError()) qFatal("%s: %s", qPrintable(path), qPrintable(xml.errorString()));
  return out;
}

QString TsPath(const char* lang) {
  return QStringLiteral(TARNWICK_SOURCE_DIR "/src/app/translations/tarnwick_%1.ts").arg(QLatin1String(lang));
}

// The texts a user sees in a window now: its caption, every shown label,
// button, check box, tab and column title, and the status bars.
QStringList ShownTexts(QWidget& window) {
  QStringList texts{window.windowTitle()};
  for (QWidget* w : window.findChildren<QWidget*>()) {
    if (!w->isVisibleTo(&window)) continue;
    if (auto* label = qobject_cast<QLabel*>(w)) texts.append(label->text());
    if (auto* button = qobject_cast<QAbstractButton*>(w)) texts.append(button->text());
    if (auto* tabs = qobject_cast<QTabWidget*>(w))
      for (int i = 0; i < tabs->count(); ++i) texts.append(tabs->tabText(i));
    if (auto* table = qobject_cast<QTableView*>(w))
      for (int c = 0; c < table->model()->columnCount(); ++c)
        texts.append(table->model()->headerData(c, Qt::Horizontal).toString());
  }
  return texts;
}

// Runs a dialog of the desktop's and reads what the box or file dialog that
// it opens shows, then closes that.
QStringList ModalTexts(const std::function<void()>& open) {
  QStringList texts;
  QTimer::singleShot(0, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) return;
    texts.append(modal->windowTitle());
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      texts.append(box->text());
      for (QAbstractButton* b : box->buttons()) texts.append(b->text());
    }
    if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
      texts.append(dialog->nameFilters());
      for (auto l : {QFileDialog::LookIn, QFileDialog::FileName, QFileDialog::FileType, QFileDialog::Accept,
                     QFileDialog::Reject})
        texts.append(dialog->labelText(l));
    }
    modal->close();
  });
  open();
  return texts;
}

// The string literals of C++ source, comments left out, escapes resolved
// and literals that follow one another joined as the compiler joins them.
QStringList StringLiterals(const QString& code) {
  QStringList out;
  bool joining = false;  // only white space since the last literal
  for (qsizetype i = 0; i < code.size(); ++i) {
    const QChar c = code[i];
    if (c == u'/' && code.mid(i, 2) == QLatin1String("//")) {
      i = code.indexOf(u'\n', i);
      if (i < 0) break;
      continue;
    }
    if (c == u'/' && code.mid(i, 2) == QLatin1String("/*")) {
      i = code.indexOf(QLatin1String("*/"), i + 2);
      if (i < 0) break;
      ++i;
      continue;
    }
    if (c == u'"' || c == u'\'') {
      QString text;
      for (++i; i < code.size() && code[i] != c; ++i) {
        if (code[i] == u'\\' && i + 1 < code.size()) {
          ++i;
          text += code[i] == u'n' ? QChar(u'\n') : code[i] == u't' ? QChar(u'\t') : code[i];
        } else {
          text += code[i];
        }
      }
      if (c == u'"') {
        if (joining) out.last() += text;
        else out.append(text);
      }
      joining = c == u'"';
      continue;
    }
    if (!c.isSpace()) joining = false;
  }
  return out;
}

}  // namespace

class LanguageTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanup() { InstallLanguage(*QCoreApplication::instance(), Language::kJapanese); }

  void languageOfTheLocaleAndTheOption() {
    QCOMPARE(LanguageForLocale(QLocale(QLocale::Japanese, QLocale::Japan)), Language::kJapanese);
    QCOMPARE(LanguageForLocale(QLocale::c()), Language::kJapanese);
    QCOMPARE(LanguageForLocale(QLocale(QLocale::English, QLocale::UnitedStates)), Language::kEnglish);
    QCOMPARE(LanguageForLocale(QLocale(QLocale::German, QLocale::Germany)), Language::kEnglish);
    QCOMPARE(LanguageNamed("EN"), std::optional<Language>(Language::kEnglish));
    QCOMPARE(LanguageNamed("ja"), std::optional<Language>(Language::kJapanese));
    QVERIFY(!LanguageNamed("fr"));

    std::vector<std::string> args{"a.jww", "--lang", "en", "--lang=ja", "b.jww", "--", "--lang", "c"};
    QCOMPARE(TakeLanguageOption(args), std::optional<std::string>("ja"));
    QCOMPARE(args, (std::vector<std::string>{"a.jww", "b.jww", "--", "--lang", "c"}));
    args = {"--lang"};
    QCOMPARE(TakeLanguageOption(args), std::optional<std::string>(""));
    QVERIFY(args.empty());
    args = {"x.jww"};
    QVERIFY(!TakeLanguageOption(args));
  }

  // Both windows and the boxes and dialogs, in each language.
  void windowsInEachLanguage_data() {
    QTest::addColumn<bool>("english");
    QTest::newRow("ja") << false;
    QTest::newRow("en") << true;
  }
  void windowsInEachLanguage() {
    QFETCH(bool, english);
    InstallLanguage(*QCoreApplication::instance(), english ? Language::kEnglish : Language::kJapanese);
    // What the other language would show where it differs.
    QSet<QString> english_only;
    for (const Message& m : ReadTs(TsPath("en")))
      if (m.translation != m.source) english_only.insert(m.translation);

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    FakeDialogs fake;
    TForm1 main(tmp.filePath("tarnwick"), &fake);
    main.show();
    TForm2& results = main.resultsWindow();
    results.beginResults();
    results.appendRows({{u"a.jww", u"/d/a.jww", u"A"}});
    results.endResults();
    results.show();

    QStringList texts;
    auto* pages = Find<QTabWidget>(main, "PageControl1");
    for (int page = 0; page < pages->count(); ++page) {
      pages->setCurrentIndex(page);
      texts += ShownTexts(main);
    }
    texts += ShownTexts(results);

    // The engine's status event at the end of a search, worded by the
    // window.
    WriteDrawing(tmp.filePath("a.jww"), {u"A"});
    main.AddDroppedPaths({U(tmp.filePath("a.jww"))});
    pages->setCurrentIndex(0);
    Find<QPushButton>(main, "Button4")->click();
    QTRY_COMPARE_WITH_TIMEOUT(fake.resultsShown, 1, 30000);
    texts.append(main.statusText());

    // The preview of the row found, its row menu, and what the preview says
    // while a drawing is read and when it cannot be read.
    PreviewPane& preview = results.preview();
    QTRY_VERIFY(!preview.cache().busy() && preview.infoText().contains("A"));
    texts += ShownTexts(results);
    texts.append(preview.canvas().message());
    std::unique_ptr<QMenu> menu(results.rowMenu(1));
    QVERIFY(menu);
    for (QAction* action : menu->actions())
      if (!action->isSeparator()) texts.append(action->text());
    WriteText(tmp.filePath("junk.jww"), "JwwData. and nothing else");
    preview.showRow({u"junk.jww", U(tmp.filePath("junk.jww")), u"J", 0});
    texts.append(preview.canvas().message());
    QTRY_VERIFY(!preview.cache().busy());
    texts.append(preview.canvas().message());

    QCOMPARE(main.statusText(),
             english ? QString("Add JWW/JWS files with [Add] or by drag and drop, then click [Search]")
                     : QString("[追加]又はドラッグ＆ドロップで JWW/JWSファイルを指示し、[検索]をクリックして下さい"));
    QCOMPARE(main.windowTitle(), QString("Tarnwick Ver.1.10"));
    QCOMPARE(results.windowTitle(), english ? QString("Search results") : QString("検索結果"));

    Dialogs& desktop = Dialogs::standard();
    texts += ModalTexts([&] { desktop.confirm(&main, "?"); });
    texts += ModalTexts([&] { desktop.searchAborted(&main); });
    texts += ModalTexts([&] { desktop.saveFailed(&main, "?"); });
    texts += ModalTexts([&] { desktop.openDrawings(&main, tmp.path()); });
    texts += ModalTexts([&] { desktop.chooseFolder(&main, tmp.path()); });
    texts += ModalTexts([&] { desktop.saveResults(&main, tmp.path(), "out"); });
    QVERIFY(texts.size() > 40);

    for (const QString& text : texts) {
      QVERIFY2(!text.trimmed().isEmpty(), qPrintable(texts.join(" | ")));
      if (english)
        QVERIFY2(!HasJapanese(text), qPrintable(text));
      else
        QVERIFY2(!english_only.contains(text), qPrintable(text));
    }
    // Each kind of window was looked at.
    const QStringList seen =
        english ? QStringList{"&Search", "&Find next", "Look in:", "&Abort", "Text files (*.txt)", "&No", "Loading…",
                              "The drawing could not be read.", "Nothing to show.", "Copy &block name"}
                : QStringList{"検索(&S)", "検索(&F)", "場所:", "中止(&A)", "テキストファイル(*.txt)", "いいえ(&N)",
                              "読み込み中…", "図面を読み取れませんでした。", "表示できる図形がありません。",
                              "ブロック名をコピー(&B)"};
    for (const QString& shown : seen) QVERIFY2(texts.contains(shown), qPrintable(shown));
  }

  // Every text of the app is in both tables: the Japanese one as written,
  // the English one translated, with its placeholders and mnemonics.
  void tablesAreComplete() {
    const std::vector<Message> ja = ReadTs(TsPath("ja"));
    const std::vector<Message> en = ReadTs(TsPath("en"));
    QVERIFY(!en.empty());
    QCOMPARE(ja.size(), en.size());
    for (const Message& m : ja) {
      QVERIFY2(m.finished && m.translation == m.source, qPrintable(m.source));
    }
    static const QRegularExpression args(QStringLiteral("%\\d"));
    for (const Message& m : en) {
      QVERIFY2(m.finished && !m.translation.isEmpty() && !HasJapanese(m.translation), qPrintable(m.source));
      QCOMPARE(m.translation.count(args), m.source.count(args));
      QCOMPARE(m.translation.count('&') > 0, m.source.count('&') > 0);
    }
  }

  // The tables hold every text the code asks for: lupdate over the sources
  // finds nothing new.
  void tablesMatchTheCode() {
    const QString lupdate = QStringLiteral(TARNWICK_LUPDATE);
    if (!QFile::exists(lupdate)) QSKIP("lupdate is not installed");
    QTemporaryDir tmp;
    const QString ts = tmp.filePath("check.ts");
    QVERIFY(QFile::copy(TsPath("en"), ts));
    QDir src(QStringLiteral(TARNWICK_SOURCE_DIR "/src/app"));
    QStringList arguments{"-I",
                          QStringLiteral(TARNWICK_SOURCE_DIR "/src"),
                          "-locations",
                          "none",
                          "-source-language",
                          "ja",
                          "-no-obsolete",
                          "-silent"};
    for (const QString& f : src.entryList({"*.cpp", "*.h"}, QDir::Files)) arguments.append(src.filePath(f));
    arguments << "-ts" << ts;
    QProcess p;
    p.start(lupdate, arguments);
    QVERIFY(p.waitForFinished(60000));
    QCOMPARE(p.exitCode(), 0);
    QStringList missing;
    for (const Message& m : ReadTs(ts))
      if (!m.finished) missing.append(m.context + ": " + m.source);
    QVERIFY2(missing.isEmpty(), qPrintable("not translated: " + missing.join(" | ")));
    QCOMPARE(ReadTs(ts).size(), ReadTs(TsPath("en")).size());
  }

  // No Japanese text of the windows bypasses the tables: one written as a
  // plain literal would stay Japanese in the English windows, unseen by
  // lupdate.  The screenshot tool's literals are names of drawings and
  // blocks, not texts of the windows.
  void everyJapaneseLiteralIsInTheTables() {
    QSet<QString> sources;
    for (const Message& m : ReadTs(TsPath("ja"))) sources.insert(m.source);
    QDir src(QStringLiteral(TARNWICK_SOURCE_DIR "/src/app"));
    QStringList bypassing;
    for (const QString& f : src.entryList({"*.cpp", "*.h"}, QDir::Files)) {
      if (f == QLatin1String("screenshot.cpp")) continue;
      QFile file(src.filePath(f));
      QVERIFY(file.open(QIODevice::ReadOnly));
      for (const QString& literal : StringLiterals(QString::fromUtf8(file.readAll())))
        if (HasJapanese(literal) && !sources.contains(literal)) bypassing.append(f + ": " + literal);
    }
    QVERIFY2(bypassing.isEmpty(), qPrintable("not in the tables: " + bypassing.join(" | ")));
    // The reading of the sources itself.
    QCOMPARE(StringLiterals(QStringLiteral("a(\"x\" /* \"c\" */ \"y\\n\\\"\"); // \"d\"\nb('\"', \"z\")")),
             (QStringList{"xy\n\"", "z"}));
  }
};

QTEST_MAIN(LanguageTest)
#include "language_test.moc"
