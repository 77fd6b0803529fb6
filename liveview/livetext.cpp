#include "liveview/livetext.h"

#include "app/core/qclanguagexml.h"
#include "app/widgets/qwtipsdlg.h"
#include "app/widgets/qwtipsdlgex.h"

#include <QVariant>

QString liveText(int page, int section, const char *key)
{
    const QString k = QString::fromLatin1(key);
    if (!g_langXml)
        return k;
    const QString text = g_langXml->getLangText(page, section, k);
    return text.isEmpty() ? k : text;
}

namespace livetext {

void showFailureTip(QWidget *parent, const char *key)
{
    auto *tip = new qwTipsdlgEx(parent, qwTipsdlgEx::Failure);
    tip->setProperty(kTipKey, QString::fromLatin1(key));
    tip->setTipText(liveText(kTipsPage, kNoSection, key));
    tip->show();
}

void showReminder(QWidget *parent, const char *key)
{
    auto *dialog = new qwTipsDlg(parent, liveText(kTipsPage, kNoSection, "remindtype"), 1);
    dialog->setProperty(kTipKey, QString::fromLatin1(key));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setTipText(liveText(kTipsPage, kNoSection, key));
    dialog->show();
}

} // namespace livetext
