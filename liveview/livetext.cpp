#include "liveview/livetext.h"

#include "app/core/currentuser.h"
#include "app/core/loghelper.h"
#include "app/core/uitext.h"
#include "app/widgets/qwtipsdlgex.h"

#include <QLabel>

QString liveText(int page, int section, const char *key)
{
    return uiTextOrKey(key, page, section);
}

namespace livetext {

void showFailureTip(QWidget *parent, const char *key)
{
    showKeyedTip(parent, qwTipsdlgEx::Failure, QString::fromLatin1(key), liveText(kTipsPage, kNoSection, key));
}

QLabel *makeReadNote(QWidget *parent)
{
    auto *note = new QLabel(liveText(kTipsPage, kNoSection, "readfailed"), parent);
    note->setObjectName(QStringLiteral("label_readFailed"));
    note->setWordWrap(true);
    note->setStyleSheet(QStringLiteral("QLabel{color:#ff6060;}"));
    note->hide();
    return note;
}

void logDeviceChange(const char *decl, const QString &name, const QString &address, bool succeeded, const QString &note)
{
    writeSystemLog(g_curUserName, QLatin1String(decl), name, address, note,
                   succeeded ? kLogOperation : kLogAbnormalEvent);
}

void tellUnread(QWidget *parent, ReadStatus status, const QString &note)
{
    showFailureTip(parent, status.textKey());
    writeUnreadLog(g_curUserName, status, note);
}

} // namespace livetext
