// The desktop app: the main window and, hidden until a search ends, the
// results window.
#include <QApplication>
#include <QIcon>
#include <filesystem>
#include <string>
#include <vector>

#include "app/app_font.h"
#include "app/main_window.h"
#include "app/qt_text.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("tarnwick"));
  QApplication::setApplicationVersion(QStringLiteral("1.10"));
  QGuiApplication::setDesktopFileName(QStringLiteral("tarnwick"));
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("tarnwick")));
  tarnwick::UseJapaneseFallbackFont();

  tarnwick::TForm1 window(QCoreApplication::applicationFilePath());
  window.show();

  // Files named on the command line (the desktop's "open with") join the
  // list like dropped files.  Qt has taken its own options out of argv.
  std::error_code error;
  const std::string here = std::filesystem::current_path(error).native();
  std::vector<std::u16string> paths;
  for (int i = 1; i < argc; ++i) {
    std::string path = argv[i];
    if (path.empty()) continue;
    if (path.front() != '/') {
      if (here.empty()) continue;
      path = here + "/" + path;
    }
    paths.push_back(tarnwick::PathText(path));
  }
  window.AddDroppedPaths(paths);

  return app.exec();
}
