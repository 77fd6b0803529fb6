#include "liveview/livetext.h"

#include "app/core/currentuser.h"
#include "app/core/loghelper.h"
#include "app/core/uitext.h"
#include "app/widgets/qwtipsdlg.h"
#include "app/widgets/qwtipsdlgex.h"

#include <QApplication>
#include <QVariant>

QString liveText(int page, int section, const char *key)
{
    return uiTextOrKey(key, page, section);
}

namespace livetext {

void showFailureTip(QWidget *parent, const char *key)
{
    showKeyedTip(parent, qwTipsdlgEx::Failure, QString::fromLatin1(key), liveText(kTipsPage, kNoSection, key));
}

void showReminder(QWidget *parent, const char *key)
{
    // An add-all whose every device fails asks once, not once per device.
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (qobject_cast<qwTipsDlg *>(w) && w->isVisible() && w->property(kTipKey).toString() == QLatin1String(key))
            return;
    }
    auto *dialog = new qwTipsDlg(parent, liveText(kTipsPage, kNoSection, "remindtype"), 1);
    dialog->setProperty(kTipKey, QString::fromLatin1(key));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setTipText(liveText(kTipsPage, kNoSection, key));
    dialog->show();
}

void logDeviceChange(const char *decl, const QString &name, const QString &address, bool succeeded, const QString &note)
{
    writeSystemLog(g_curUserName, QLatin1String(decl), name, address, note,
                   succeeded ? kLogOperation : kLogAbnormalEvent);
}

void refuseDeviceChange(QWidget *parent, const char *decl, const QString &name, const QString &address,
                        const QString &why)
{
    showReminder(parent, "databaseerr");
    logDeviceChange(decl, name, address, false, why);
}

void tellUnread(QWidget *parent, ReadStatus status, const QString &note)
{
    showFailureTip(parent, status.busy() ? "databasebusy" : "databaseerr");
    writeSystemLog(g_curUserName, status.busy() ? QStringLiteral("database busy") : QStringLiteral("database error"),
                   QString(), QString(), note, kLogAbnormalEvent);
}

} // namespace livetext
