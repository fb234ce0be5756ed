#include "app/dialogs.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

#include "app/qt_text.h"
#include "search/engine.h"

namespace tarnwick {

namespace {

// Qt's own dialogs speak English unless its translations are installed, so
// the labels are set in the language of the app.
void SetLabels(QFileDialog& dialog, const QString& accept) {
  dialog.setLabelText(QFileDialog::LookIn, QCoreApplication::translate("Dialogs", "場所:"));
  dialog.setLabelText(QFileDialog::FileName, QCoreApplication::translate("Dialogs", "ファイル名:"));
  dialog.setLabelText(QFileDialog::FileType, QCoreApplication::translate("Dialogs", "ファイルの種類:"));
  dialog.setLabelText(QFileDialog::Accept, accept);
  dialog.setLabelText(QFileDialog::Reject, QCoreApplication::translate("Dialogs", "キャンセル"));
}

bool AskYesNo(QWidget* parent, const QString& title, const QString& text, QMessageBox::Icon icon) {
  QMessageBox box(icon, title, text, QMessageBox::NoButton, parent);
  QPushButton* yes = box.addButton(QCoreApplication::translate("Dialogs", "はい(&Y)"), QMessageBox::YesRole);
  QPushButton* no = box.addButton(QCoreApplication::translate("Dialogs", "いいえ(&N)"), QMessageBox::NoRole);
  box.setDefaultButton(yes);
  box.setEscapeButton(no);
  box.exec();
  return box.clickedButton() == yes;
}

}  // namespace

QStringList Dialogs::openDrawings(QWidget* parent, const QString& folder) {
  QFileDialog dialog(parent, QCoreApplication::translate("Dialogs", "開く"), folder);
  dialog.setFileMode(QFileDialog::ExistingFiles);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  const QStringList filters{QCoreApplication::translate("Dialogs", "JWW Files(*.jww)"),
                            QCoreApplication::translate("Dialogs", "JWS Files(*.jws)"),
                            QCoreApplication::translate("Dialogs", "JW Files(*.jw*)")};
  dialog.setNameFilters(filters);
  dialog.selectNameFilter(filters.first());
  SetLabels(dialog, QCoreApplication::translate("Dialogs", "開く"));
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.selectedFiles();
}

QString Dialogs::chooseFolder(QWidget* parent, const QString& folder) {
  QFileDialog dialog(parent, QCoreApplication::translate("Dialogs", "フォルダの選択"), folder);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  SetLabels(dialog, QCoreApplication::translate("Dialogs", "選択"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

QString Dialogs::saveResults(QWidget* parent, const QString& folder, const QString& name) {
  QFileDialog dialog(parent, QCoreApplication::translate("Dialogs", "名前を付けて保存"), folder);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  const QStringList filters{QCoreApplication::translate("Dialogs", "テキストファイル(*.txt)"),
                            QCoreApplication::translate("Dialogs", "CSVファイル(*.csv)")};
  dialog.setNameFilters(filters);
  dialog.selectNameFilter(filters.first());
  dialog.setDefaultSuffix(QStringLiteral("txt"));
  // A name typed without an extension takes the one of the chosen filter.
  QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, filters](const QString& filter) {
    dialog.setDefaultSuffix(filter == filters[1] ? QStringLiteral("csv") : QStringLiteral("txt"));
  });
  // The replace prompt is asked here, in the app's language, and No goes
  // back to the dialog.
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  SetLabels(dialog, QCoreApplication::translate("Dialogs", "保存"));
  if (!name.isEmpty()) dialog.selectFile(name);
  for (;;) {
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    const QString chosen = dialog.selectedFiles().first();
    if (!QFileInfo::exists(chosen)) return chosen;
    const QString text = QCoreApplication::translate("Dialogs", "%1 は既に存在します。\n上書きしますか？")
                             .arg(QFileInfo(chosen).fileName());
    if (AskYesNo(parent, QCoreApplication::translate("Dialogs", "名前を付けて保存の確認"), text, QMessageBox::Warning))
      return chosen;
  }
}

bool Dialogs::confirm(QWidget* parent, const QString& text) {
  return AskYesNo(parent, QCoreApplication::translate("Dialogs", "確認"), text, QMessageBox::Question);
}

void Dialogs::searchAborted(QWidget* parent) {
  QMessageBox box(QMessageBox::Warning, QCoreApplication::translate("Dialogs", "警告"),
                  QCoreApplication::translate("Dialogs", "[ESC]キーを押しましたので検索を中断します"),
                  QMessageBox::NoButton, parent);
  QPushButton* stop = box.addButton(QCoreApplication::translate("Dialogs", "中止(&A)"), QMessageBox::AcceptRole);
  box.setDefaultButton(stop);
  box.setEscapeButton(stop);
  box.exec();
}

void Dialogs::saveFailed(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Critical, QCoreApplication::translate("Dialogs", "エラー"), text, QMessageBox::NoButton,
                  parent);
  box.setDefaultButton(box.addButton(QCoreApplication::translate("Dialogs", "OK"), QMessageBox::AcceptRole));
  box.exec();
}

void Dialogs::showResults(QDialog& window) { window.exec(); }

Dialogs& Dialogs::standard() {
  static Dialogs dialogs;
  return dialogs;
}

void Dialogs::openExternally(QWidget*, const QUrl& url) { QDesktopServices::openUrl(url); }

}  // namespace tarnwick
