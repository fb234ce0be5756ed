// What the window tests share: dialogs that answer in the user's place,
// drawings written into a temporary folder, and lookups by control name.
#pragma once

#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "app/dialogs.h"
#include "app/qt_text.h"
#include "app/results_model.h"
#include "app/results_window.h"
#include "support/drawing_writer.h"

namespace tarnwick::apptest {

// Answers every question with what the test put in, and writes down what
// was asked.
class FakeDialogs : public Dialogs {
 public:
  QStringList openAnswer;
  QString openFolderAsked;
  int openCalls = 0;

  QString folderAnswer;
  QString folderStartAsked;
  int folderCalls = 0;

  QString saveAnswer;
  QString saveFolderAsked;
  QString saveNameAsked;

  bool confirmAnswer = false;
  QString confirmTextAsked;

  int abortNotices = 0;
  std::function<void()> onAbortNotice;

  QStringList saveFailures;

  int resultsShown = 0;
  std::vector<SearchRow> shownRows;

  QStringList openDrawings(QWidget*, const QString& folder) override {
    ++openCalls;
    openFolderAsked = folder;
    return openAnswer;
  }
  QString chooseFolder(QWidget*, const QString& folder) override {
    ++folderCalls;
    folderStartAsked = folder;
    return folderAnswer;
  }
  QString saveResults(QWidget*, const QString& folder, const QString& name) override {
    saveFolderAsked = folder;
    saveNameAsked = name;
    return saveAnswer;
  }
  bool confirm(QWidget*, const QString& text) override {
    confirmTextAsked = text;
    return confirmAnswer;
  }
  void searchAborted(QWidget*) override {
    ++abortNotices;
    if (onAbortNotice) onAbortNotice();
  }
  void saveFailed(QWidget*, const QString& text) override { saveFailures.append(text); }
  QList<QUrl> opened;
  void openExternally(QWidget*, const QUrl& url) override { opened.append(url); }
  void showResults(QDialog& window) override {
    ++resultsShown;
    if (auto* results = qobject_cast<TForm2*>(&window)) shownRows = results->model().rows();
  }
};

template <class T>
T* Find(const QWidget& window, const QString& name) {
  T* control = window.findChild<T*>(name);
  if (!control) qFatal("no control named %s", qPrintable(name));
  return control;
}

// A drawing holding block definitions of these names.
inline void WriteDrawing(const QString& path, const std::vector<std::u16string>& names, bool jws = false) {
  testing::Drawing d;
  d.jws = jws;
  uint32_t number = 1;
  for (const std::u16string& name : names) {
    testing::Definition def;
    def.number = number++;
    def.name = testing::Cp932(name);
    d.definitions.push_back(def);
  }
  const testing::Bytes bytes = testing::Write(d);
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) ||
      file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size())) !=
          static_cast<qint64>(bytes.size()))
    qFatal("cannot write %s", qPrintable(path));
}

inline void WriteText(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
    qFatal("cannot write %s", qPrintable(path));
}

inline QByteArray ReadBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Files dragged from a file manager and dropped on target.
inline bool DropUrls(QWidget* target, const QList<QUrl>& urls) {
  QMimeData mime;
  mime.setUrls(urls);
  const QPoint at = target->rect().center();
  QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &enter);
  QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &drop);
  return drop.isAccepted();
}

inline std::u16string U(const QString& s) { return PathFromQ(s); }

}  // namespace tarnwick::apptest
