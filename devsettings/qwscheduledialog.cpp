#include "devsettings/qwscheduledialog.h"

#include "app/widgets/qwtipsdlgex.h"
#include "devsettings/devicedocumentrequest.h"
#include "devsettings/devsetframe.h"
#include "devsettings/devsetreadstate.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimeEdit>
#include <QVBoxLayout>

#include <algorithm>

namespace {
constexpr int kReadId = 181;
constexpr int kSaveId = 182;
constexpr int kWeekdaySection = 49;
constexpr int kLastMinute = 23 * 60 + 59;
const char *const kWeekdays[] = {"sunday", "monday", "tuesday", "wednesday", "thursday", "friday", "saturday"};

QTime timeOf(int minutes)
{
    return QTime(minutes / 60, minutes % 60);
}

int minutesOf(const QTimeEdit *edit)
{
    const QTime t = edit->time();
    return t.hour() * 60 + t.minute();
}

// A new section: up to an hour at the start of the day's first free time,
// so that it does not overlap what is there; an empty one (refused on Save
// until changed) when the day is full.
TimeSection firstFreeHour(QVector<TimeSection> day)
{
    std::sort(day.begin(), day.end(), [](const TimeSection &a, const TimeSection &b) { return a.start < b.start; });
    int free = 0;
    for (const TimeSection &s : day) {
        if (s.start > free)
            break;
        free = qMax(free, s.end);
    }
    int next = kLastMinute;
    for (const TimeSection &s : day) {
        if (s.start > free) {
            next = s.start;
            break;
        }
    }
    if (free >= kLastMinute)
        return {0, 0};
    return {free, qMin(free + 60, next)};
}

QTimeEdit *timeEdit(QWidget *parent, const char *name, int minutes)
{
    auto *edit = new QTimeEdit(timeOf(minutes), parent);
    edit->setObjectName(QLatin1String(name));
    edit->setDisplayFormat(QStringLiteral("HH:mm"));
    edit->setButtonSymbols(QAbstractSpinBox::NoButtons);
    edit->setFixedWidth(52);
    return edit;
}
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

    m_week = new QWidget(content);
    m_week->setObjectName(QStringLiteral("widget_Week"));
    auto *grid = new QGridLayout(m_week);
    grid->setContentsMargins(0, 6, 0, 0);
    grid->setVerticalSpacing(4);
    for (int d = 0; d < ScheduleDocument::kDays; ++d) {
        auto *name = new QLabel(devset::text(devset::kCommonPage, kWeekdaySection, kWeekdays[d]), m_week);
        name->setFixedWidth(90);
        Day &day = m_days[d];
        day.row = new QWidget(m_week);
        day.row->setObjectName(QStringLiteral("widget_Day%1").arg(d));
        day.layout = new QHBoxLayout(day.row);
        day.layout->setContentsMargins(0, 0, 0, 0);
        day.layout->setSpacing(10);
        day.add = new QPushButton(QStringLiteral("+"), day.row);
        day.add->setObjectName(QStringLiteral("pushButton_Add%1").arg(d));
        day.add->setFixedWidth(26);
        day.layout->addWidget(day.add);
        day.layout->addStretch();
        connect(day.add, &QPushButton::clicked, this, [this, d] { addSection(d, firstFreeHour(editedWeek().at(d))); });
        grid->addWidget(name, d, 0);
        grid->addWidget(day.row, d, 1);
    }
    m_week->hide();
    column->addWidget(m_week);
    column->addStretch();
    m_save = devset::addButtonRow(column, content, {{"saveopt", "Save"}, {"cancelopt", "Cancel"}}).at(0);
    m_readState = new DevsetReadState(this);
    m_readState->addControl(m_save);
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
    m_readState->setControlEnabled(m_save, true);
    m_readState->end(kReadId, true);
}

void qwScheduleDialog::buildWeek(const ScheduleDocument &doc)
{
    m_maxSections = doc.maxSections();
    for (int d = 0; d < ScheduleDocument::kDays; ++d) {
        for (const TimeSection &s : doc.week().at(d))
            addSection(d, s);
    }
    updateAddButtons();
    m_week->show();
}

void qwScheduleDialog::addSection(int day, const TimeSection &section)
{
    Day &d = m_days[day];
    if (d.sections.size() >= m_maxSections)
        return;
    auto *box = new QWidget(d.row);
    box->setObjectName(QStringLiteral("widget_Section"));
    auto *row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(2);
    row->addWidget(timeEdit(box, "timeEdit_Start", section.start));
    auto *dash = new QLabel(QStringLiteral("-"), box);
    row->addWidget(dash);
    row->addWidget(timeEdit(box, "timeEdit_End", section.end));
    auto *remove = new QPushButton(QStringLiteral("x"), box);
    remove->setObjectName(QStringLiteral("pushButton_Remove"));
    remove->setToolTip(devset::text(devset::kCommonPage, devset::kAnySection, "deleteopt"));
    remove->setFixedWidth(22);
    row->addWidget(remove);
    connect(remove, &QPushButton::clicked, this, [this, day, box] { removeSection(day, box); });
    // Shown in the order of their starts, before the add button.
    int at = 0;
    while (at < d.sections.size() &&
           minutesOf(d.sections[at]->findChild<QTimeEdit *>(QStringLiteral("timeEdit_Start"))) <= section.start)
        ++at;
    d.layout->insertWidget(at, box);
    d.sections.insert(at, box);
    updateAddButtons();
}

void qwScheduleDialog::removeSection(int day, QWidget *section)
{
    m_days[day].sections.removeOne(section);
    // Its own button is still delivering the click.
    section->hide();
    section->deleteLater();
    updateAddButtons();
}

void qwScheduleDialog::updateAddButtons()
{
    for (Day &d : m_days)
        d.add->setEnabled(d.sections.size() < m_maxSections);
}

WeekSections qwScheduleDialog::editedWeek() const
{
    WeekSections week(ScheduleDocument::kDays);
    for (int d = 0; d < ScheduleDocument::kDays; ++d) {
        for (const QWidget *box : m_days[d].sections)
            week[d].append({minutesOf(box->findChild<QTimeEdit *>(QStringLiteral("timeEdit_Start"))),
                            minutesOf(box->findChild<QTimeEdit *>(QStringLiteral("timeEdit_End")))});
    }
    return week;
}

void qwScheduleDialog::onSave()
{
    const int active = m_mode->currentIndex();
    if (active < 0 || !m_readState->isRead())
        return;
    WeekSections week;
    if (m_weekEditable) {
        week = editedWeek();
        const ScheduleDocument::Refusal refusal = ScheduleDocument::check(&week);
        if (refusal.day >= 0) {
            const bool backwards = refusal.fault == ScheduleDocument::Fault::EndNotAfterStart;
            qwTipsdlgEx *tip = devset::showTip(this, qwTipsdlgEx::Failure,
                                               backwards ? QStringLiteral("starendtime") : QStringLiteral("invperiod"));
            tip->setTipText(
                devset::text(devset::kCommonPage, kWeekdaySection, kWeekdays[refusal.day]) + QStringLiteral(": ") +
                devset::text(devset::kTipsPage, devset::kAnySection, backwards ? "starendtime" : "invperiod"));
            return;
        }
    }
    m_readState->setControlEnabled(m_save, false);
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
    close();
}
