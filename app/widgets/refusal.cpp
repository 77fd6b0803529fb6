#include "app/widgets/refusal.h"

#include "app/core/currentuser.h"
#include "app/core/loghelper.h"
#include "app/core/uitext.h"
#include "app/widgets/qwtipsdlg.h"
#include "app/widgets/qwtipsdlgex.h"

#include <QApplication>
#include <QVariant>

namespace refusal {

namespace {
constexpr int kTipsPage = 38;
constexpr int kPlainSection = 48;
} // namespace

void showReminder(QWidget *parent, const char *key)
{
    showReminder(parent, key, uiTextOrKey(key, kTipsPage, kPlainSection));
}

namespace {

// The reminder to show, or null when one of the key is still open.
qwTipsDlg *makeReminder(QWidget *parent, const char *key, const QString &text)
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (qobject_cast<qwTipsDlg *>(w) && w->isVisible() &&
            w->property(kTipKeyProperty).toString() == QLatin1String(key))
            return nullptr;
    }
    auto *dialog = new qwTipsDlg(parent, uiTextOrKey("remindtype", kTipsPage, kPlainSection), 1);
    dialog->setProperty(kTipKeyProperty, QString::fromLatin1(key));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setTipText(text);
    return dialog;
}

} // namespace

void showReminder(QWidget *parent, const char *key, const QString &text)
{
    if (qwTipsDlg *dialog = makeReminder(parent, key, text))
        dialog->show();
}

void showNotice(QWidget *page, const char *key)
{
    qwTipsDlg *dialog = makeReminder(page, key, uiTextOrKey(key, kTipsPage, kPlainSection));
    if (!dialog)
        return;
    QWidget *owner = qwTipsDlg::modalOwnerFor(page);
    if (dialog->parentWidget() != owner)
        dialog->setParent(owner, dialog->windowFlags());
    dialog->show();
}

void tell(QWidget *parent, const char *decl, const QString &name, const QString &address, const QString &note)
{
    showReminder(parent, "databaseerr");
    writeSystemLog(g_curUserName, QLatin1String(decl), name, address, note, kLogAbnormalEvent);
}

QString note(const QString &what, const QString &why)
{
    return what.isEmpty() ? why : what + QStringLiteral(": ") + why;
}

} // namespace refusal
