#include "devsettings/qwactionsdialog.h"

#include "devsettings/devsetframe.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QVBoxLayout>

qwActionsDialog::qwActionsDialog(QWidget *parent) : BaseWindow(parent, 0, 420, 300)
{
    setObjectName(QStringLiteral("qwActionsDialog"));
    QWidget *content = devset::prepareDialog(this, devset::text(devset::kRemotePage, 122, "actiontitle"));
    auto *grid = new QGridLayout(content);
    grid->setContentsMargins(20, 26, 20, 8);
    static const char *const actions[] = {"record",   "snapshot",     "ftp",     "sendemail",
                                          "alarmout", "notifyserver", "audioout"};
    int n = 0;
    for (const char *key : actions) {
        auto *box = new QCheckBox(devset::text(devset::kCommonPage, 51, key), content);
        box->setObjectName(QStringLiteral("checkBox_") + QLatin1String(key));
        box->setEnabled(false);
        grid->addWidget(box, n / 2, n % 2);
        ++n;
    }
    auto *row = new QVBoxLayout;
    devset::addButtonRow(row, content, {{"cancelopt", "Cancel"}});
    grid->addLayout(row, 4, 0, 1, 2);
}

void qwActionsDialog::setDeviceInfo(const QString &devip, const QString &httpport, const QString &username,
                                    const QString &password)
{
    m_devip = devip;
    m_httpport = httpport;
    m_username = username;
    m_password = password;
}
