#include "devsettings/qwscheduledialog.h"

#include "app/widgets/qwtipsdlgex.h"
#include "app/widgets/qwweekeditor.h"
#include "devsettings/devicedocumentrequest.h"
#include "devsettings/devsetframe.h"
#include "devsettings/devsetreadstate.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
constexpr int kReadId = 181;
constexpr int kSaveId = 182;
} // namespace

qwScheduleDialog::qwScheduleDialog(QWidget *parent, int kind) : BaseWindow(parent, 0, 780, 440), m_kind(kind)
{
    setObjectName(QStringLiteral("qwScheduleDialog"));
    const QString title = kind == SCHEDULE_ALARM ? devset::text(devset::kRemotePage, 122, "scheduletitle")
                                                 : devset::text(devset::kRemotePage, 124, "schedule");
    QWidget *content = devset::prepareDialog(this, title);
    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(20, 14, 20, 8);
    m_mode = new QComboBox(content);
    m_mode->setObjectName(QStringLiteral("comboBox_Mode"));
    // No language keys exist for the two schedule modes.
    m_mode->addItems({devset::text(devset::kCommonPage, devset::kAnySection, "disables"),
                      QStringLiteral("All the time"), QStringLiteral("By schedule")});
    m_mode->setEnabled(false);
    column->addWidget(m_mode, 0, Qt::AlignLeft);

    m_notEditable = new QLabel(devset::text(devset::kCommonPage, devset::kAnySection, "noteditable"), content);
    m_notEditable->setObjectName(QStringLiteral("label_NotEditable"));
    m_notEditable->hide();
    column->addWidget(m_notEditable);

    QStringList days;
    for (int d = 0; d < weeksections::kDays; ++d)
        days << weeksections::dayName(d);
    qwWeekEditor::Options options;
    options.removeTip = devset::text(devset::kCommonPage, devset::kAnySection, "deleteopt");
    m_week = new qwWeekEditor(days, options, content);
    m_week->setObjectName(QStringLiteral("widget_Week"));
    m_week->hide();
    column->addWidget(m_week);
    column->addStretch();
    m_save = devset::addButtonRow(column, content, {{"saveopt", "Save"}, {"cancelopt", "Cancel"}}).at(0);
    m_readState = new DevsetReadState(this);
    m_readState->addControl(m_save);
    m_readState->setNoteLayout(column);
    connect(m_save, &QPushButton::clicked, this, &qwScheduleDialog::onSave);

    m_request = new DeviceDocumentRequest(this, kReadId, kSaveId);
    connect(m_request, &DeviceDocumentRequest::documentRead, this, &qwScheduleDialog::onRead);
    connect(m_request, &DeviceDocumentRequest::readFailed, this, [this] { m_readState->end(kReadId, false); });
    connect(m_request, &DeviceDocumentRequest::saveDone, this, &qwScheduleDialog::onSaveDone);
}

qwScheduleDialog::~qwScheduleDialog()
{
    // The request goes first: a save still running gets its few seconds.
    delete m_request;
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
    if (m_asked || !m_ready || subject().isEmpty())
        return;
    m_asked = true;
    m_request->setDevice(m_devip, m_httpport, m_username, m_password, subject());
    m_readState->begin(kReadId);
    m_request->read();
}

void qwScheduleDialog::onRead(const QByteArray &body, qint64 length)
{
    ScheduleDocument doc;
    // Without its mode the document is no schedule this dialog can save.
    if (!doc.parse(body, length) || !doc.hasActive()) {
        m_readState->end(kReadId, false);
        return;
    }
    m_mode->setCurrentIndex(doc.active()); // an unknown mode selects nothing
    m_mode->setEnabled(true);
    m_weekEditable = doc.weekReadable();
    m_notEditable->setVisible(!m_weekEditable);
    if (m_weekEditable)
        buildWeek(doc);
    m_readState->end(kReadId, true);
}

void qwScheduleDialog::buildWeek(const ScheduleDocument &doc)
{
    m_week->setWeek(doc.week());
    m_week->show();
}

WeekSections qwScheduleDialog::editedWeek() const
{
    return m_week->week();
}

void qwScheduleDialog::onSave()
{
    const int active = m_mode->currentIndex();
    if (active < 0 || !m_readState->isRead())
        return;
    WeekSections week;
    if (m_weekEditable) {
        week = editedWeek();
        const weeksections::Refusal refusal = weeksections::check(&week);
        if (refusal.day >= 0) {
            qwTipsdlgEx *tip =
                devset::showTip(this, qwTipsdlgEx::Failure, QLatin1String(weeksections::refusalKey(refusal)));
            tip->setTipText(weeksections::refusalText(refusal));
            return;
        }
    }
    m_readState->setControlEnabled(m_save, false);
    m_sentMode = active;
    const bool withWeek = m_weekEditable;
    m_request->save([this, active, week, withWeek](const QByteArray &body, qint64 length) {
        ScheduleDocument fresh;
        if (!fresh.parse(body, length) || !fresh.change(active, withWeek ? &week : nullptr))
            return QByteArray();
        return fresh.toText();
    });
}

void qwScheduleDialog::onSaveDone(bool ok)
{
    if (!ok) {
        m_readState->setControlEnabled(m_save, true);
        devset::showTip(this, qwTipsdlgEx::Failure, QStringLiteral("setscheduleerr"));
        return;
    }
    devset::showTip(parentWidget(), qwTipsdlgEx::Success, QStringLiteral("setschedulesuc"));
    emit sigModeStored(m_sentMode);
    close();
}
