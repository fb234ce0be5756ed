// Every modal question the windows ask: the file dialogs, the message boxes
// and the modal run of the results window.  The windows only talk to this
// interface, so the tests can answer in the user's place.
#pragma once

#include <QString>
#include <QStringList>

class QDialog;
class QUrl;
class QWidget;

namespace tarnwick {

class Dialogs {
 public:
  virtual ~Dialogs() = default;

  // The add dialog: the chosen drawings, none when cancelled.  folder is
  // where it opens; empty leaves that to the platform.
  virtual QStringList openDrawings(QWidget* parent, const QString& folder);
  // The browse dialog of a folder slot: the chosen folder, empty when
  // cancelled.
  virtual QString chooseFolder(QWidget* parent, const QString& folder);
  // The save dialog of the results: the chosen file, empty when cancelled.
  // It has asked before replacing an existing file.
  virtual QString saveResults(QWidget* parent, const QString& folder, const QString& name);
  // A Yes/No question; true for Yes.
  virtual bool confirm(QWidget* parent, const QString& text);
  // The notice that Escape stopped a search.
  virtual void searchAborted(QWidget* parent);
  // A save that did not happen, with the reason.
  virtual void saveFailed(QWidget* parent, const QString& text);
  // Runs the results window modally; returns when it is closed.
  virtual void showResults(QDialog& window);
  // Opens a file or folder in the desktop's default application for it.
  virtual void openExternally(QWidget* parent, const QUrl& url);

  // The dialogs of the desktop.
  static Dialogs& standard();
};

}  // namespace tarnwick
