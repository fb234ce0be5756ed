#include "app/language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace tarnwick {

Language LanguageForLocale(const QLocale& locale) {
  const QLocale::Language l = locale.language();
  return l == QLocale::Japanese || l == QLocale::C ? Language::kJapanese : Language::kEnglish;
}

std::optional<Language> LanguageNamed(const QString& name) {
  if (name.compare(QLatin1String("ja"), Qt::CaseInsensitive) == 0) return Language::kJapanese;
  if (name.compare(QLatin1String("en"), Qt::CaseInsensitive) == 0) return Language::kEnglish;
  return std::nullopt;
}

std::optional<std::string> TakeLanguageOption(std::vector<std::string>& args) {
  static const std::string kOption = "--lang";
  std::optional<std::string> name;
  for (size_t i = 0; i < args.size();) {
    const std::string& a = args[i];
    if (a == "--") break;  // the rest are file names
    if (a == kOption) {
      const bool hasName = i + 1 < args.size();
      name = hasName ? args[i + 1] : std::string();
      args.erase(args.begin() + static_cast<std::ptrdiff_t>(i),
                 args.begin() + static_cast<std::ptrdiff_t>(i + (hasName ? 2 : 1)));
    } else if (a.rfind(kOption + "=", 0) == 0) {
      name = a.substr(kOption.size() + 1);
      args.erase(args.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      ++i;
    }
  }
  return name;
}

void InstallLanguage(QCoreApplication& app, Language language) {
  static const QString kName = QStringLiteral("tarnwick-translator");
  // A language installed before gives way (a translator leaves the
  // application when it is destroyed).
  for (QTranslator* old : app.findChildren<QTranslator*>(kName, Qt::FindDirectChildrenOnly)) delete old;
  const QString code = language == Language::kEnglish ? QStringLiteral("en") : QStringLiteral("ja");
  // The app's texts: written in Japanese, so Japanese needs no translation;
  // its table is loaded all the same and stands in for texts it covers.
  auto* own = new QTranslator(&app);
  own->setObjectName(kName);
  if (own->load(QStringLiteral(":/i18n/tarnwick_") + code + QStringLiteral(".qm")))
    QCoreApplication::installTranslator(own);
  else
    delete own;
  // Qt's own texts (the edit boxes' context menus, the file dialogs' inner
  // labels), when the system has them in this language.
  auto* qt = new QTranslator(&app);
  qt->setObjectName(kName);
  if (qt->load(QStringLiteral("qtbase_") + code, QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QCoreApplication::installTranslator(qt);
  else
    delete qt;
}

}  // namespace tarnwick
