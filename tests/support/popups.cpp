#include "tests/support/popups.h"

#include "app/widgets/qwtipsdlg.h"
#include "app/widgets/qwtipsdlgex.h"

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

} // namespace testsupport
