#include "app/widgets/userrights.h"

#include "app/core/currentuser.h"
#include "app/core/qclanguagexml.h"
#include "app/widgets/qwtipsdlgex.h"

#include <QVariant>

namespace userrights {

bool check(QWidget *parent, quint32 bit)
{
    if (g_curUserRights & bit)
        return true;
    if (parent) {
        auto *tip = new qwTipsdlgEx(parent, qwTipsdlgEx::Failure);
        tip->setProperty(kTipKeyProperty, QStringLiteral("permdenied"));
        const QString text = g_langXml ? g_langXml->getLangText(38, 48, QStringLiteral("permdenied")) : QString();
        tip->setTipText(text.isEmpty() ? QStringLiteral("permdenied") : text);
        tip->show();
    }
    return false;
}

} // namespace userrights
