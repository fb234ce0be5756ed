// The language of the windows: Japanese (the texts as written in the code)
// or English (a translation loaded from the app's resources).
#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>
#include <optional>
#include <string>
#include <vector>

class QCoreApplication;

namespace tarnwick {

enum class Language { kJapanese, kEnglish };

// Japanese for a Japanese locale and for C/POSIX, English for any other.
Language LanguageForLocale(const QLocale& locale);

// "ja" or "en" (letter case ignored); nothing for anything else.
std::optional<Language> LanguageNamed(const QString& name);

// Takes "--lang NAME" or "--lang=NAME" out of the command line's arguments
// (without the program name); a "--" and what follows it are left alone.
// Returns the last name given, or nothing when the option is absent; a
// missing name comes back empty.
std::optional<std::string> TakeLanguageOption(std::vector<std::string>& args);

// Installs the translation of the windows' texts, and Qt's own for the
// texts it draws itself where it has one.  Call before the windows are
// made; the translators live as long as the program, or until the next
// call replaces them.
void InstallLanguage(QCoreApplication& app, Language language);

}  // namespace tarnwick
