#include "devsettings/qwactionsdialog.h"

#include "app/widgets/qwtipsdlgex.h"
#include "devsettings/devicedocument.h"
#include "devsettings/devicedocumentrequest.h"
#include "devsettings/devsetframe.h"
#include "devsettings/devsetreadstate.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
constexpr int kReadId = 183;
constexpr int kSaveId = 184;
constexpr int kActionSection = 51;
const char *const kSubject = "alarm&type=2";
} // namespace

qwActionsDialog::qwActionsDialog(QWidget *parent) : BaseWindow(parent, 0, 420, 300)
{
    setObjectName(QStringLiteral("qwActionsDialog"));
    QWidget *content = devset::prepareDialog(this, devset::text(devset::kRemotePage, 122, "actiontitle"));
    auto *grid = new QGridLayout(content);
    grid->setContentsMargins(20, 26, 20, 8);
    int n = 0;
    for (const QString &key : AlarmActionsDocument::keys()) {
        auto *box =
            new QCheckBox(devset::text(devset::kCommonPage, kActionSection, key.toLatin1().constData()), content);
        box->setObjectName(QStringLiteral("checkBox_") + key);
        box->setEnabled(false);
        grid->addWidget(box, n / 2, n % 2);
        m_boxes << box;
        ++n;
    }
    m_noActions = new QLabel(devset::text(devset::kCommonPage, devset::kAnySection, "noactions"), content);
    m_noActions->setObjectName(QStringLiteral("label_NoActions"));
    m_noActions->hide();
    grid->addWidget(m_noActions, 4, 0, 1, 2);
    auto *row = new QVBoxLayout;
    m_save = devset::addButtonRow(row, content, {{"saveopt", "Save"}, {"cancelopt", "Cancel"}}).at(0);
    m_readState = new DevsetReadState(this);
    m_readState->addControl(m_save);
    m_readState->setNoteLayout(row);
    connect(m_save, &QPushButton::clicked, this, &qwActionsDialog::onSave);
    grid->addLayout(row, 5, 0, 1, 2);

    m_request = new DeviceDocumentRequest(this, kReadId, kSaveId);
    connect(m_request, &DeviceDocumentRequest::documentRead, this, &qwActionsDialog::onRead);
    connect(m_request, &DeviceDocumentRequest::readFailed, this, [this] { m_readState->end(kReadId, false); });
    connect(m_request, &DeviceDocumentRequest::saveDone, this, &qwActionsDialog::onSaveDone);
}

qwActionsDialog::~qwActionsDialog()
{
    delete m_request;
}

void qwActionsDialog::setDeviceInfo(const QString &devip, const QString &httpport, const QString &username,
                                    const QString &password)
{
    m_devip = devip;
    m_httpport = httpport;
    m_username = username;
    m_password = password;
}

void qwActionsDialog::showEvent(QShowEvent *event)
{
    BaseWindow::showEvent(event);
    if (m_asked || m_devip.isEmpty())
        return;
    m_asked = true;
    m_request->setDevice(m_devip, m_httpport, m_username, m_password, QLatin1String(kSubject));
    m_readState->begin(kReadId);
    m_request->read();
}

void qwActionsDialog::onRead(const QByteArray &body, qint64 length)
{
    AlarmActionsDocument doc;
    if (!doc.parse(body, length)) {
        m_readState->end(kReadId, false);
        return;
    }
    bool any = false;
    for (int i = 0; i < m_boxes.size(); ++i) {
        const int state = doc.action(AlarmActionsDocument::keys().at(i));
        m_boxes[i]->setChecked(state == 1);
        m_boxes[i]->setEnabled(state >= 0);
        any = any || state >= 0;
    }
    m_noActions->setVisible(!any);
    m_readState->setControlEnabled(m_save, any);
    m_readState->end(kReadId, true);
}

void qwActionsDialog::onSave()
{
    if (!m_readState->isRead())
        return;
    QList<QPair<QString, bool>> actions;
    for (int i = 0; i < m_boxes.size(); ++i) {
        if (m_boxes[i]->isEnabled())
            actions.append({AlarmActionsDocument::keys().at(i), m_boxes[i]->isChecked()});
    }
    if (actions.isEmpty())
        return;
    m_readState->setControlEnabled(m_save, false);
    m_request->save([actions](const QByteArray &body, qint64 length) {
        AlarmActionsDocument fresh;
        if (!fresh.parse(body, length) || !fresh.change(actions))
            return QByteArray();
        return fresh.toText();
    });
}

void qwActionsDialog::onSaveDone(bool ok)
{
    if (!ok) {
        m_readState->setControlEnabled(m_save, true);
        devset::showTip(this, qwTipsdlgEx::Failure, QStringLiteral("setfailed"));
        return;
    }
    devset::showTip(parentWidget(), qwTipsdlgEx::Success, QStringLiteral("setsuccess"));
    close();
}
