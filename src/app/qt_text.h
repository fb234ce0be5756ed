// Texts and file names between the engine (UTF-16 texts, byte-string file
// names) and Qt.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <string>

#include "text/utf.h"

namespace tarnwick {

// A text of the engine for a widget, and back.  Both keep every code unit,
// lone surrogates included, so a file name that is not UTF-8 survives a
// round trip through a list or an edit.
inline QString ToQ(const std::u16string& s) { return QString::fromStdU16String(s); }
inline std::u16string FromQ(const QString& s) { return s.toStdU16String(); }

// A file name that Qt hands over (a dialog's answer) as a path text, and a
// path text for Qt's own file dialogs.
inline std::u16string PathFromQ(const QString& s) { return PathText(QFile::encodeName(s).toStdString()); }
inline QString PathToQ(const std::u16string& s) { return QFile::decodeName(QByteArray::fromStdString(NativePath(s))); }

}  // namespace tarnwick
