#include "tests/support/tipkeys.h"

#include "app/qwtipsdlg.h"
#include "app/qwtipsdlgex.h"

#include <QPointer>
#include <QWidget>

namespace testsupport {

QStringList tipKeys(QWidget *widget)
{
    QStringList keys;
    QList<QPointer<QWidget>> tips;
    for (QWidget *w : widget->findChildren<QWidget *>()) {
        if (!qobject_cast<qwTipsDlg *>(w) && !qobject_cast<qwTipsdlgEx *>(w))
            continue;
        if (w->objectName().startsWith(QLatin1String("tip_")))
            keys << w->objectName();
        tips << w;
    }
    for (const QPointer<QWidget> &w : tips)
        delete w.data();
    return keys;
}

} // namespace testsupport
