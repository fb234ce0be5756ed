// The desktop app: the main window and, hidden until a search ends, the
// results window.
//
//   tarnwick [--lang ja|en] [FILE]...
#include <QApplication>
#include <QIcon>
#include <QLocale>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/app_font.h"
#include "app/language.h"
#include "app/main_window.h"
#include "app/qt_text.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("tarnwick"));
  QApplication::setApplicationVersion(QStringLiteral("1.10"));
  QGuiApplication::setDesktopFileName(QStringLiteral("tarnwick"));
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("tarnwick")));
  tarnwick::UseJapaneseFallbackFont();

  // Qt has taken its own options out of argv; --lang is ours.
  std::vector<std::string> args(argv + 1, argv + argc);
  tarnwick::Language language = tarnwick::LanguageForLocale(QLocale::system());
  if (const std::optional<std::string> name = tarnwick::TakeLanguageOption(args)) {
    const std::optional<tarnwick::Language> chosen = tarnwick::LanguageNamed(QString::fromStdString(*name));
    if (!chosen) {
      std::fprintf(stderr, "tarnwick: unknown language '%s' for --lang (ja or en)\n", name->c_str());
      return 2;
    }
    language = *chosen;
  }
  tarnwick::InstallLanguage(app, language);

  tarnwick::TForm1 window(QCoreApplication::applicationFilePath());
  window.show();

  // Files named on the command line (the desktop's "open with") join the
  // list like dropped files.
  std::error_code error;
  const std::string here = std::filesystem::current_path(error).native();
  std::vector<std::u16string> paths;
  bool optionsEnded = false;
  for (std::string& path : args) {
    if (path.empty()) continue;
    if (path == "--" && !optionsEnded) {
      optionsEnded = true;
      continue;
    }
    if (path.front() != '/') {
      if (here.empty()) continue;
      path = here + "/" + path;
    }
    paths.push_back(tarnwick::PathText(path));
  }
  window.AddDroppedPaths(paths);

  return app.exec();
}
