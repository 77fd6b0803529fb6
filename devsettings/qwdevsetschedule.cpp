#include "devsettings/qwdevsetschedule.h"

#include "app/core/cgiutil.h"
#include "app/core/qcxmlhelper.h"
#include "app/widgets/qwtipsdlgex.h"
#include "devsettings/devicevaluelist.h"
#include "devsettings/devsetframe.h"
#include "devsettings/devsetreadstate.h"
#include "devsettings/qwscheduledialog.h"

#include <QComboBox>
#include <QGridLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimerEvent>
#include <QVBoxLayout>

namespace {

constexpr int kRecordId = 161;
constexpr int kSnapId = 163;
constexpr int kSection = DEVSET_SCHEDULE + 1;
constexpr int kWaitMs = 5000;
constexpr int kReadTimeoutSec = 6;
constexpr int kGuardMs = 6000;
// The snapshot interval in seconds the device takes: offered, shown and
// checked on save from here alone.
constexpr int kIntervalMin = 1;
constexpr int kIntervalMax = 600;
const char *const kLabelStyle = "QLabel,QRadioButton,QCheckBox{color:#c2c2c2;}";
const char *const kHintStyle = "QLabel{color:#868686;}";
const char *const kRecordBody = "<request><record><stream>%1</stream><packsec>%2</packsec><presec>%3</presec>"
                                "<recycle>%4</recycle><path>%5</path></record></request>";
const char *const kSnapBody = "<request><snap><framerate>%1</framerate><quality>%2</quality>%3"
                              "<stream>%4</stream><path>%5</path></snap></request>";

QString common(const char *key)
{
    return devset::text(devset::kCommonPage, devset::kAnySection, key);
}

QComboBox *combo(QWidget *parent, const QString &name, const QStringList &items)
{
    auto *box = new QComboBox(parent);
    box->setObjectName(QStringLiteral("comboBox_") + name);
    box->addItems(items);
    return box;
}

// A group with a title bar and rows of a caption and a field.
class Group
{
public:
    Group(QWidget *parent, const char *titleKey) : m_box(new QWidget(parent)), m_grid(new QGridLayout)
    {
        auto *column = new QVBoxLayout(m_box);
        column->setContentsMargins(0, 0, 0, 0);
        auto *title = new QLabel(devset::text(devset::kRemotePage, kSection, titleKey), m_box);
        title->setStyleSheet(QStringLiteral("QLabel{background:#454545;color:white;}"));
        title->setFixedHeight(30);
        column->addWidget(title);
        m_grid->setContentsMargins(20, 10, 20, 10);
        column->addLayout(m_grid);
        column->addStretch();
    }
    QWidget *box() const { return m_box; }
    void row(const QString &caption, QWidget *field, QWidget *extra = nullptr)
    {
        auto *label = new QLabel(caption + QLatin1Char(':'), m_box);
        label->setStyleSheet(QLatin1String(kLabelStyle));
        const int r = m_grid->rowCount();
        m_grid->addWidget(label, r, 0);
        m_grid->addWidget(field, r, 1);
        if (extra)
            m_grid->addWidget(extra, r, 2);
    }
    QPushButton *scheduleButton(const QString &name)
    {
        auto *button = new QPushButton(common("setupopt"), m_box);
        button->setObjectName(QStringLiteral("pushButton_") + name + QStringLiteral("Schedule"));
        row(devset::text(devset::kRemotePage, kSection, "schedule"), button);
        return button;
    }

private:
    QWidget *m_box;
    QGridLayout *m_grid;
};

QStringList numbered(int from, int to, const QString &unit = QString())
{
    QStringList items;
    for (int i = from; i <= to; ++i)
        items << QString::number(i) + unit;
    return items;
}

void enableAll(const QList<QWidget *> &widgets, bool enabled)
{
    for (QWidget *w : widgets)
        w->setEnabled(enabled);
}

} // namespace

qwDevsetSchedule::qwDevsetSchedule(QWidget *parent) : QWidget(parent)
{
    QVBoxLayout *column = devset::preparePage(this, QStringLiteral("widget_Schedule"));
    auto *groups = new QGridLayout;
    groups->addWidget(buildRecordGroup(), 0, 0, 2, 1);
    groups->addWidget(buildSnapshotGroup(), 0, 1);
    groups->addWidget(buildFtpGroup(), 1, 1);
    column->addLayout(groups);
    const QList<QPushButton *> buttons = devset::addButtonRow(
        column, this, {{"restoreopt", "Restore"}, {"refreshpara", "Refresh"}, {"saveopt", "Save"}}, false);
    m_restore = buttons.at(0);
    m_refresh = buttons.at(1);
    m_save = buttons.at(2);
    connect(m_restore, &QPushButton::clicked, this, &qwDevsetSchedule::OnBtnRestoreClick);
    connect(m_refresh, &QPushButton::clicked, this, &qwDevsetSchedule::OnBtnRefreshClick);
    connect(m_save, &QPushButton::clicked, this, &qwDevsetSchedule::OnBtnSaveClick);
    m_readState = new DevsetReadState(this);
    m_readState->addControl(m_save);
    // A save's own reads fail without a word: the guard timer gives Save back.
    m_saveReads = new DevsetReadState(this, true);
    for (Task &task : m_tasks)
        enableAll(task.fields, false);
    for (Task &task : m_tasks)
        m_readState->addShown({task.enable});
    m_readState->addShown({m_preRecord, m_recordStream, m_recordPath, m_overwrite, m_packSize, m_quality, m_frameRate,
                           m_interval, m_snapStream, m_snapPath});
    m_readState->setReader([this] { OnInitParameters(DEVSET_SCHEDULE); });
}

QWidget *qwDevsetSchedule::buildRecordGroup()
{
    Group g(this, "recordtitle");
    Task &task = m_tasks[0];
    const QString seconds = QLatin1Char(' ') + common("seconds");
    task.enable = combo(g.box(), QStringLiteral("RecordEnable"), {common("sno"), common("syes")});
    m_preRecord = combo(g.box(), QStringLiteral("PreRecord"), numbered(0, 3, seconds));
    m_recordStream = combo(g.box(), QStringLiteral("RecordStream"), {common("mainstream"), common("substream")});
    m_recordPath = combo(g.box(), QStringLiteral("RecordPath"),
                         {devset::text(devset::kRemotePage, kSection, "sdcard"), QStringLiteral("NFS")});
    m_overwrite = combo(g.box(), QStringLiteral("Overwrite"), {common("disables"), common("enables")});
    const QString minutes = QLatin1Char(' ') + common("minutes");
    m_packSize = combo(g.box(), QStringLiteral("PackSize"), {"3" + minutes, "5" + minutes, "10" + minutes});
    devset::setEntryValues(m_packSize, {"180", "300", "600"});
    g.row(common("enables"), task.enable);
    g.row(devset::text(devset::kRemotePage, kSection, "prerecord"), m_preRecord);
    g.row(devset::text(devset::kRemotePage, kSection, "tagstream"), m_recordStream);
    g.row(devset::text(devset::kRemotePage, kSection, "destination"), m_recordPath);
    g.row(devset::text(devset::kRemotePage, kSection, "overwrite"), m_overwrite);
    g.row(devset::text(devset::kRemotePage, kSection, "packagesize"), m_packSize);
    QPushButton *schedule = g.scheduleButton(QStringLiteral("Record"));
    task.fields = {m_preRecord, m_recordStream, m_recordPath, m_overwrite, m_packSize, schedule};
    connect(task.enable, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &qwDevsetSchedule::OnRecordEnableIndexChanged);
    connect(schedule, &QPushButton::clicked, this, &qwDevsetSchedule::OnBtnRecordScheduleClick);
    return g.box();
}

QWidget *qwDevsetSchedule::buildSnapshotGroup()
{
    Group g(this, "snapshottitle");
    Task &task = m_tasks[1];
    task.enable = combo(g.box(), QStringLiteral("SnapEnable"), {common("sno"), common("syes")});
    m_quality = combo(g.box(), QStringLiteral("Quality"), numbered(1, 7));
    m_frameRate = combo(g.box(), QStringLiteral("FrameRate"), numbered(1, 5));
    devset::setEntryValues(m_quality, numbered(1, 7));
    devset::setEntryValues(m_frameRate, numbered(1, 5));
    m_interval = new QLineEdit(g.box());
    m_interval->setObjectName(QStringLiteral("lineEdit_Interval"));
    m_interval->setValidator(new QIntValidator(kIntervalMin, kIntervalMax, m_interval));
    m_snapStream = combo(g.box(), QStringLiteral("SnapStream"), {common("mainstream"), common("substream")});
    m_snapPath = combo(g.box(), QStringLiteral("SnapPath"),
                       {devset::text(devset::kRemotePage, kSection, "sdcard"), QStringLiteral("NFS")});
    auto *emptyHint = new QLabel(g.box());
    emptyHint->setStyleSheet(QLatin1String(kHintStyle));
    auto *range =
        new QLabel(common("seconds") + QStringLiteral("(%1~%2)").arg(kIntervalMin).arg(kIntervalMax), g.box());
    range->setStyleSheet(QLatin1String(kHintStyle));
    g.row(common("enables"), task.enable);
    g.row(devset::text(devset::kRemotePage, kSection, "picquality"), m_quality);
    g.row(devset::text(devset::kRemotePage, kSection, "picframerate"), m_frameRate, emptyHint);
    g.row(devset::text(devset::kRemotePage, kSection, "picinterval"), m_interval, range);
    g.row(devset::text(devset::kRemotePage, kSection, "tagstream"), m_snapStream);
    g.row(devset::text(devset::kRemotePage, kSection, "destination"), m_snapPath);
    QPushButton *schedule = g.scheduleButton(QStringLiteral("Snap"));
    task.fields = {m_snapPath, m_frameRate, m_quality, m_snapStream, m_interval, schedule};
    connect(task.enable, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &qwDevsetSchedule::OnSnapshotEnableIndexChanged);
    connect(schedule, &QPushButton::clicked, this, &qwDevsetSchedule::OnBtnSnapshotScheduleClick);
    return g.box();
}

QWidget *qwDevsetSchedule::buildFtpGroup()
{
    Group g(this, "fpttitle");
    Task &task = m_tasks[2];
    task.enable = combo(g.box(), QStringLiteral("FtpEnable"), {common("sno"), common("syes")});
    g.row(common("enables"), task.enable);
    QPushButton *schedule = g.scheduleButton(QStringLiteral("Ftp"));
    task.fields = {schedule};
    connect(task.enable, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &qwDevsetSchedule::OnFtpuploadEnableIndexChanged);
    connect(schedule, &QPushButton::clicked, this, &qwDevsetSchedule::OnBtnFtpuploadScheduleClick);
    return g.box();
}

qwDevsetSchedule::~qwDevsetSchedule()
{
    for (int i : {2, 0, 1})
        devset::releaseRequest(m_tasks[i].request, kWaitMs);
    devset::releaseRequest(recordRequest, kWaitMs);
    devset::releaseRequest(snapRequest, kWaitMs);
    if (saveTimerId != -1)
        killTimer(saveTimerId);
}

void qwDevsetSchedule::setDeviceInfo(const QString &ip, const QString &port, const QString &user, const QString &pwd)
{
    devip = ip;
    httpport = port;
    username = user;
    password = pwd;
}

QString qwDevsetSchedule::url(const char *literal) const
{
    return devset::devsetUrl(literal, devip, httpport);
}

void qwDevsetSchedule::stopAllRequests()
{
    for (int i : {2, 0, 1})
        devset::stopRequest(m_tasks[i].request, kWaitMs);
    devset::stopRequest(recordRequest, kWaitMs);
    devset::stopRequest(snapRequest, kWaitMs);
}

void qwDevsetSchedule::OnInitParameters(int pageid)
{
    if (pageid != DEVSET_SCHEDULE)
        return;
    stopAllRequests();
    const auto read = &qwDevsetSchedule::OnCGIDataCompleted;
    for (Task &task : m_tasks) {
        m_readState->startRead(task.request, kWaitMs, task.readId,
                               url("http://%1:%2/action/get?subject=schetask&type=") + QString::number(task.type),
                               username, password, kReadTimeoutSec, this, read, "schetask");
    }
    m_readState->startRead(recordRequest, kWaitMs, kRecordId, url("http://%1:%2/action/get?subject=record"), username,
                           password, kReadTimeoutSec, this, read, "record");
    m_readState->startRead(snapRequest, kWaitMs, kSnapId, url("http://%1:%2/action/get?subject=snap"), username,
                           password, kReadTimeoutSec, this, read, "snap");
}

void qwDevsetSchedule::OnBtnRefreshClick()
{
    OnInitParameters(DEVSET_SCHEDULE);
}

qwDevsetSchedule::Task *qwDevsetSchedule::taskOf(int id)
{
    for (Task &task : m_tasks) {
        if (task.readId == id || task.saveId == id)
            return &task;
    }
    return nullptr;
}

void qwDevsetSchedule::OnCGIDataCompleted(int nID)
{
    if (nID == kRecordId && recordRequest && sender() == recordRequest)
        parseRecord();
    else if (nID == kSnapId && snapRequest && sender() == snapRequest)
        parseSnap();
    Task *task = taskOf(nID);
    if (!task || !task->request || sender() != task->request)
        return;
    if (nID == task->readId)
        parseTaskActive(nID);
    else
        checkTaskActive(nID);
}

void qwDevsetSchedule::parseTaskActive(int nID)
{
    Task *task = taskOf(nID);
    int active = 0;
    if (task->request->getXmlInt(QStringLiteral("active"), &active))
        showActive(task, active);
}

void qwDevsetSchedule::showActive(Task *task, int active)
{
    task->enable->setCurrentIndex(active == 0 ? 0 : 1);
    enableAll(task->fields, active != 0);
}

void qwDevsetSchedule::parseRecord()
{
    CGIUtil *r = recordRequest;
    int v = 0;
    const auto number = [](int value) { return QString::number(value); };
    if (r->getXmlInt(QStringLiteral("stream"), &v))
        devset::showDeviceValue(m_recordStream, v);
    if (r->getXmlInt(QStringLiteral("presec"), &v))
        devset::showDeviceValue(m_preRecord, v, number(v) + QLatin1Char(' ') + common("seconds"));
    if (r->getXmlInt(QStringLiteral("packsec"), &v)) {
        const bool wholeMinutes = v % 60 == 0;
        devset::showDeviceValue(m_packSize, v,
                                number(wholeMinutes ? v / 60 : v) + QLatin1Char(' ') +
                                    common(wholeMinutes ? "minutes" : "seconds"));
    }
    if (r->getXmlInt(QStringLiteral("recycle"), &v))
        devset::showDeviceValue(m_overwrite, v);
    if (r->getXmlInt(QStringLiteral("path"), &v))
        devset::showDeviceValue(m_recordPath, v);
}

void qwDevsetSchedule::parseSnap()
{
    CGIUtil *r = snapRequest;
    int v = 0;
    if (r->getXmlInt(QStringLiteral("framerate"), &v))
        devset::showDeviceValue(m_frameRate, v);
    if (r->getXmlInt(QStringLiteral("quality"), &v))
        devset::showDeviceValue(m_quality, v);
    // As the device holds it, in range or not: a save with snapshots shown on
    // refuses a value out of range instead of sending another one unasked.
    heldInterval.clear();
    if (r->getXmlInt(QStringLiteral("interval"), &v)) {
        heldInterval = QString::number(v);
        m_interval->setText(heldInterval);
    }
    if (r->getXmlInt(QStringLiteral("stream"), &v))
        devset::showDeviceValue(m_snapStream, v);
    if (r->getXmlInt(QStringLiteral("path"), &v))
        devset::showDeviceValue(m_snapPath, v);
}

void qwDevsetSchedule::OnRecordEnableIndexChanged(int index)
{
    enableAll(m_tasks[0].fields, index != 0);
}

void qwDevsetSchedule::OnSnapshotEnableIndexChanged(int index)
{
    enableAll(m_tasks[1].fields, index != 0);
}

void qwDevsetSchedule::OnFtpuploadEnableIndexChanged(int index)
{
    enableAll(m_tasks[2].fields, index != 0);
}

void qwDevsetSchedule::OnBtnSaveClick()
{
    if (!m_readState->isRead())
        return;
    // A guard timer of an earlier save would otherwise fire for the page's life.
    if (saveTimerId != -1)
        killTimer(saveTimerId);
    saveTimerId = startTimer(kGuardMs, Qt::CoarseTimer);
    m_readState->setControlEnabled(m_save, false);
    recordSetOk = false;
    snapSetOk = false;
    if (!saveRecord() || !saveSnap()) {
        m_readState->setControlEnabled(m_save, true);
        return;
    }
    readTasksForSave();
}

bool qwDevsetSchedule::saveRecord()
{
    const QString body = devset::fillXml(QLatin1String(kRecordBody),
                                         {devset::selectedValue(m_recordStream), devset::selectedValue(m_packSize),
                                          devset::selectedValue(m_preRecord), devset::selectedValue(m_overwrite),
                                          devset::selectedValue(m_recordPath)});
    return devset::startPost(recordRequest, kWaitMs, kRecordId, url("http://%1:%2/action/set?subject=record"), username,
                             password, body, 3, 5, this, &qwDevsetSchedule::OnCGIHeadCompleted);
}

bool qwDevsetSchedule::saveSnap()
{
    // While snapshots are shown off the interval cannot be edited, so it is
    // neither checked nor taken from the field: the device keeps its own,
    // and one it lacks is left out rather than made up.
    QString interval = heldInterval;
    if (m_tasks[1].enable->currentIndex() != 0) {
        // The validator takes a number above the range as not yet finished,
        // so one can be typed and left in the field.
        const int typed = m_interval->text().toInt();
        if (typed < kIntervalMin || typed > kIntervalMax) {
            devset::showTip(this, qwTipsdlgEx::Failure, QStringLiteral("invsnapinterval"));
            return false;
        }
        interval = QString::number(typed);
    }
    sentInterval = interval;
    const QString element = interval.isEmpty() ? QString() : QStringLiteral("<interval>%1</interval>").arg(interval);
    const QString body = devset::fillXml(QLatin1String(kSnapBody),
                                         {devset::selectedValue(m_frameRate), devset::selectedValue(m_quality), element,
                                          devset::selectedValue(m_snapStream), devset::selectedValue(m_snapPath)});
    return devset::startPost(snapRequest, kWaitMs, kSnapId, url("http://%1:%2/action/set?subject=snap"), username,
                             password, body, 3, 5, this, &qwDevsetSchedule::OnCGIHeadCompleted);
}

void qwDevsetSchedule::readTasksForSave()
{
    for (int i : {2, 0, 1})
        devset::stopRequest(m_tasks[i].request, kWaitMs);
    for (Task &task : m_tasks) {
        QMutexLocker lock(&task.mutex);
        task.capture.clear();
        task.overflow = false;
        task.received = false;
        task.ok = false;
    }
    for (Task &task : m_tasks) {
        // Read again to send back the device's own document: it too must
        // come back whole.
        m_saveReads->startRead(task.request, kWaitMs, task.saveId,
                               url("http://%1:%2/action/get?subject=schetask&type=") + QString::number(task.type),
                               username, password, kReadTimeoutSec, this, &qwDevsetSchedule::OnCGIDataCompleted,
                               "schetask", &onTaskRawData, this);
    }
}

void qwDevsetSchedule::onTaskRawData(int id, const char *data, int length, void *context)
{
    auto *page = static_cast<qwDevsetSchedule *>(context);
    Task *task = page ? page->taskOf(id) : nullptr;
    if (!task || id != task->saveId || length < 0)
        return;
    QMutexLocker lock(&task->mutex);
    if (task->overflow)
        return;
    // A capture the request thread could not keep whole is no document to
    // send back.
    if (task->capture.size() + qint64(length) > CGIUtil::kReplyBufferBytes - 1) {
        task->capture.clear();
        task->overflow = true;
        task->received = false;
        return;
    }
    task->capture.append(data, length);
    task->received = true;
}

void qwDevsetSchedule::checkTaskActive(int nID)
{
    Task *task = taskOf(nID);
    if (!task->received)
        return;
    const int enabled = task->enable->currentIndex();
    int active = -1;
    if (task->request->getXmlInt(QStringLiteral("active"), &active)) {
        if ((enabled > 0 && active > 0) || (enabled == 0 && active == 0))
            task->ok = true;
        else
            saveTaskActive(task->type);
    }
    checkSuccess();
}

void qwDevsetSchedule::saveTaskActive(int type)
{
    Task *task = nullptr;
    for (Task &t : m_tasks) {
        if (t.type == type)
            task = &t;
    }
    if (!task || !task->received)
        return;
    devset::stopRequest(task->request, kWaitMs);
    QByteArray capture;
    {
        QMutexLocker lock(&task->mutex);
        capture = task->capture;
    }
    qcXmlHelper doc(capture);
    if (!doc.setText(QStringLiteral("active"), QString::number(task->enable->currentIndex())))
        return;
    devset::startPost(task->request, kWaitMs, task->saveId,
                      url("http://%1:%2/action/set?subject=schetask&type=") + QString::number(type), username, password,
                      QString::fromUtf8(doc.toText()), 3, 5, this, &qwDevsetSchedule::OnCGIHeadCompleted);
}

void qwDevsetSchedule::OnCGIHeadCompleted(int nID, int code)
{
    bool *flag = nullptr;
    CGIUtil *request = nullptr;
    if (nID == kRecordId) {
        flag = &recordSetOk;
        request = recordRequest;
    } else if (nID == kSnapId) {
        flag = &snapSetOk;
        request = snapRequest;
    } else if (Task *task = taskOf(nID)) {
        flag = &task->ok;
        request = task->request;
    }
    if (!flag || !request || sender() != request)
        return;
    if (code != CGIUtil::ResultOk) {
        m_readState->setControlEnabled(m_save, true);
        devset::showTip(this, qwTipsdlgEx::Failure, QStringLiteral("setfailed"));
        return;
    }
    *flag = true;
    // What the device now holds, for a later save with snapshots shown off.
    if (nID == kSnapId && !sentInterval.isEmpty())
        heldInterval = sentInterval;
    checkSuccess();
}

void qwDevsetSchedule::checkSuccess()
{
    if (!recordSetOk || !snapSetOk)
        return;
    for (const Task &task : m_tasks) {
        if (!task.ok)
            return;
    }
    m_readState->setControlEnabled(m_save, true);
    devset::showTip(this, qwTipsdlgEx::Success, QStringLiteral("setsuccess"));
}

void qwDevsetSchedule::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != saveTimerId)
        return;
    m_readState->setControlEnabled(m_save, true);
    killTimer(saveTimerId);
    saveTimerId = -1;
}

void qwDevsetSchedule::OnBtnRestoreClick()
{
    if (m_readState->readAgainIfUnread())
        return;
    for (Task &task : m_tasks)
        task.enable->setCurrentIndex(0);
    m_preRecord->setCurrentIndex(0);
    m_recordStream->setCurrentIndex(0);
    m_recordPath->setCurrentIndex(0);
    m_overwrite->setCurrentIndex(0);
    m_packSize->setCurrentIndex(1);
    m_quality->setCurrentIndex(3);
    m_frameRate->setCurrentIndex(0);
    m_interval->setText(QStringLiteral("1"));
    m_snapStream->setCurrentIndex(0);
    m_snapPath->setCurrentIndex(0);
    for (Task &task : m_tasks)
        enableAll(task.fields, false);
}

void qwDevsetSchedule::openSchedule(int kind)
{
    auto *dialog = new qwScheduleDialog(this, kind);
    dialog->setDeviceInfo(devip, httpport, username, password);
    // The page shows what the device now holds, or its next Save would
    // write back the mode it showed before.
    Task *task = kind == SCHEDULE_RECORD ? &m_tasks[0] : kind == SCHEDULE_SNAPSHOT ? &m_tasks[1] : &m_tasks[2];
    connect(dialog, &qwScheduleDialog::sigModeStored, this, [this, task](int active) { showActive(task, active); });
    dialog->show();
}

void qwDevsetSchedule::OnBtnRecordScheduleClick()
{
    openSchedule(SCHEDULE_RECORD);
}

void qwDevsetSchedule::OnBtnSnapshotScheduleClick()
{
    openSchedule(SCHEDULE_SNAPSHOT);
}

void qwDevsetSchedule::OnBtnFtpuploadScheduleClick()
{
    openSchedule(SCHEDULE_FTPUPLOAD);
}
