#include "app/app_font.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>

namespace tarnwick {

void UseJapaneseFallbackFont() {
  QFont font = QApplication::font();
  QStringList families = font.families();
  if (families.isEmpty()) families.append(font.family());
  // Han characters are shared by several languages; a font made for
  // Japanese draws them in their Japanese forms.
  const QStringList available = QFontDatabase::families();
  for (const char* name :
       {"Noto Sans CJK JP", "Source Han Sans JP", "IPAexGothic", "IPAGothic", "TakaoPGothic", "VL PGothic"}) {
    const QString family = QString::fromLatin1(name);
    if (available.contains(family) && !families.contains(family)) {
      families.append(family);
      break;
    }
  }
  font.setFamilies(families);
  QApplication::setFont(font);
}

}  // namespace tarnwick
