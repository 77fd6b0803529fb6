#include "app/widgets/userrights.h"

#include "app/core/currentuser.h"
#include "app/core/uitext.h"
#include "app/widgets/qwtipsdlgex.h"

namespace userrights {

bool check(QWidget *parent, quint32 bit)
{
    if (g_curUserRights & bit)
        return true;
    if (parent)
        showKeyedTip(parent, qwTipsdlgEx::Failure, QStringLiteral("permdenied"), uiTextOrKey("permdenied", 38));
    return false;
}

} // namespace userrights
