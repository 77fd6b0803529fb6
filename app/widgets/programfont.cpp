#include "app/widgets/programfont.h"

#include <QApplication>
#include <QDebug>
#include <QFont>
#include <QFontDatabase>

namespace programfont {

bool apply()
{
    const int fontId = QFontDatabase::addApplicationFont(QStringLiteral(":/Others/fonts/Roboto-Regular.ttf"));
    const QStringList families = QFontDatabase::applicationFontFamilies(fontId);
    qDebug() << "font families" << families;
    if (families.isEmpty())
        return false;
    QApplication::setFont(QFont(families.first(), 8, QFont::Light, false));
    return true;
}

} // namespace programfont
