#include "devsettings/qwscheduledialog.h"

#include "app/cgiutil.h"
#include "app/qcxmlhelper.h"
#include "app/qwtipsdlgex.h"
#include "devsettings/devsetframe.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
constexpr int kReadId = 181;
constexpr int kSaveId = 182;
constexpr int kWaitMs = 5000;
} // namespace

qwScheduleDialog::qwScheduleDialog(QWidget *parent, int kind) : BaseWindow(parent, 0, 420, 220), m_kind(kind)
{
    setObjectName(QStringLiteral("qwScheduleDialog"));
    const QString title = kind == SCHEDULE_ALARM ? devset::text(devset::kRemotePage, 122, "scheduletitle")
                                                 : devset::text(devset::kRemotePage, 124, "schedule");
    QWidget *content = devset::prepareDialog(this, title);
    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(20, 26, 20, 8);
    m_mode = new QComboBox(content);
    m_mode->setObjectName(QStringLiteral("comboBox_Mode"));
    // No language keys exist for the two schedule modes.
    m_mode->addItems({devset::text(devset::kCommonPage, devset::kAnySection, "disables"),
                      QStringLiteral("All the time"), QStringLiteral("By schedule")});
    column->addWidget(m_mode);
    column->addStretch();
    auto *buttons = new QHBoxLayout;
    m_save = new QPushButton(devset::text(devset::kCommonPage, devset::kAnySection, "saveopt"), content);
    m_save->setObjectName(QStringLiteral("pushButton_Save"));
    m_save->setEnabled(false);
    auto *cancel = new QPushButton(devset::text(devset::kCommonPage, devset::kAnySection, "cancelopt"), content);
    cancel->setObjectName(QStringLiteral("pushButton_Cancel"));
    buttons->addStretch();
    buttons->addWidget(m_save);
    buttons->addWidget(cancel);
    buttons->addStretch();
    column->addLayout(buttons);
    connect(m_save, &QPushButton::clicked, this, &qwScheduleDialog::onSave);
    connect(cancel, &QPushButton::clicked, this, &QWidget::close);
}

qwScheduleDialog::~qwScheduleDialog()
{
    devset::releaseRequest(m_request, kWaitMs);
}

QString qwScheduleDialog::subject() const
{
    switch (m_kind) {
    case SCHEDULE_ALARM:
        return QStringLiteral("alarm&type=2");
    case SCHEDULE_RECORD:
        return QStringLiteral("schetask&type=1");
    case SCHEDULE_SNAPSHOT:
        return QStringLiteral("schetask&type=0");
    case SCHEDULE_FTPUPLOAD:
        return QStringLiteral("schetask&type=2");
    default:
        return QString();
    }
}

void qwScheduleDialog::setDeviceInfo(const QString &devip, const QString &httpport, const QString &username,
                                     const QString &password)
{
    m_devip = devip;
    m_httpport = httpport;
    m_username = username;
    m_password = password;
    m_ready = true;
}

void qwScheduleDialog::showEvent(QShowEvent *event)
{
    BaseWindow::showEvent(event);
    if (m_placed)
        return;
    m_placed = true;
    devset::centreOnParent(this);
    if (!m_ready || subject().isEmpty())
        return;
    const QString url = devset::devsetUrl("http://%1:%2/action/get?subject=", m_devip, m_httpport) + subject();
    devset::startGet(m_request, kWaitMs, kReadId, url, m_username, m_password, 6, this, &qwScheduleDialog::onReply);
}

void qwScheduleDialog::onReply(int id)
{
    if (id != kReadId || sender() != m_request)
        return;
    m_document = m_request->replyBody();
    int active = -1;
    if (m_request->getXmlInt(QStringLiteral("active"), &active) && active >= 0 && active <= 2)
        m_mode->setCurrentIndex(active);
    m_save->setEnabled(true);
}

void qwScheduleDialog::onSave()
{
    qcXmlHelper doc(m_document);
    if (!doc.setText(QStringLiteral("active"), QString::number(m_mode->currentIndex())))
        return;
    const QString url = devset::devsetUrl("http://%1:%2/action/set?subject=", m_devip, m_httpport) + subject();
    if (devset::startPost(m_request, kWaitMs, kSaveId, url, m_username, m_password, QString::fromUtf8(doc.toText()),
                          3, 5, this, &qwScheduleDialog::onResult))
        m_save->setEnabled(false);
}

void qwScheduleDialog::onResult(int id, int code)
{
    if (id != kSaveId || sender() != m_request)
        return;
    if (code != CGIUtil::ResultOk) {
        m_save->setEnabled(true);
        devset::showTip(this, qwTipsdlgEx::Failure, QStringLiteral("setscheduleerr"));
        return;
    }
    devset::showTip(parentWidget(), qwTipsdlgEx::Success, QStringLiteral("setschedulesuc"));
    close();
}
