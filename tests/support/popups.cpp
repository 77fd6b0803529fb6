#include "tests/support/popups.h"

#include "app/widgets/qwtipsdlg.h"
#include "app/widgets/qclabelex.h"
#include "app/widgets/qwtipsdlgex.h"

#include <QAbstractAnimation>
#include <QFontMetrics>

#include <QPointer>
#include <QPushButton>
#include <QVariant>
#include <QWidget>

namespace testsupport {

QStringList popupKeys(QWidget *parent)
{
    QStringList keys;
    QList<QPointer<QWidget>> popups;
    for (QWidget *w : parent->findChildren<QWidget *>()) {
        if (!qobject_cast<qwTipsDlg *>(w) && !qobject_cast<qwTipsdlgEx *>(w))
            continue;
        const QString key = w->property(kTipKeyProperty).toString();
        if (!key.isEmpty())
            keys << "tip_" + key;
        popups << w;
    }
    for (const QPointer<QWidget> &w : popups)
        delete w.data();
    return keys;
}

QStringList squeezedButtons(QWidget *root)
{
    QStringList squeezed;
    for (QPushButton *button : root->findChildren<QPushButton *>()) {
        if (button->text().isEmpty() || !button->isVisibleTo(root))
            continue;
        const int text = button->fontMetrics().horizontalAdvance(button->text());
        if (button->width() < text + 16)
            squeezed << QStringLiteral("\"%1\": %2 for %3").arg(button->text()).arg(button->width()).arg(text);
    }
    return squeezed;
}

QString unreadablePath(const qwTipsdlgEx *tip)
{
    const QLabel *label = tip->messageLabel();
    if (!tip->rect().contains(label->geometry()))
        return QStringLiteral("the label reaches out of the tip");
    const QFontMetrics metrics = label->fontMetrics();
    const QStringList lines = label->text().split(QLatin1Char('\n'));
    if (lines.size() * metrics.lineSpacing() > label->height())
        return QStringLiteral("%1 lines do not fit %2 pixels").arg(lines.size()).arg(label->height());
    for (const QString &line : lines)
        if (metrics.horizontalAdvance(line) > label->width())
            return QStringLiteral("too wide: ") + line;
    const QString path = tip->tipText();
    if (label->toolTip() != path)
        return QStringLiteral("tool tip: ") + label->toolTip();
    const QString shown = lines.join(QString());
    if (shown == path)
        return QString();
    const int cut = shown.indexOf(QChar(0x2026));
    if (cut < 1 || cut == shown.size() - 1 || !path.startsWith(shown.left(cut)) || !path.endsWith(shown.mid(cut + 1)))
        return QStringLiteral("not the path's ends: ") + shown;
    return QString();
}

bool tipsApart(const QList<qwTipsdlgEx *> &tips)
{
    for (const qwTipsdlgEx *tip : tips)
        if (!tip || !tip->isVisible() || !tip->findChildren<QAbstractAnimation *>().isEmpty())
            return false;
    for (int i = 0; i < tips.size(); ++i)
        for (int j = i + 1; j < tips.size(); ++j)
            if (tips[i]->frameGeometry().intersects(tips[j]->frameGeometry()))
                return false;
    return true;
}

} // namespace testsupport
