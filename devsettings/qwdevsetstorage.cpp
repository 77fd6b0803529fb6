#include "devsettings/qwdevsetstorage.h"

#include "app/core/cgiutil.h"
#include "app/widgets/qwtipsdlgex.h"
#include "app/widgets/qwwaittingdlg.h"
#include "devsettings/devsetframe.h"
#include "devsettings/devsetreadstate.h"

#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kDiskId = 153;
constexpr int kSection = DEVSET_STORAGE + 1;
constexpr int kWaitMs = 5000;
constexpr int kFormatWaitMs = 120000;
constexpr int kPieSize = 330;
constexpr qint64 kGiB = 1073741824;
const char *const kNameStyle = "QLabel,QRadioButton,QCheckBox{color:#c2c2c2;}";
// A lighter grey than the other pages' hints: these values are read.
const char *const kValueStyle = "QLabel{color:#a0a0a0}";
const QColor kFreeColour(80, 137, 203);
const QColor kUsedColour(205, 102, 29);

QString pageText(const char *key)
{
    return devset::text(devset::kRemotePage, kSection, key);
}

QLabel *styledLabel(const QString &text, const char *style, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setStyleSheet(QLatin1String(style));
    return label;
}

QWidget *legendRow(const char *colourStyle, QLabel *text, QWidget *parent)
{
    auto *row = new QWidget(parent);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *square = styledLabel(QString(), colourStyle, row);
    square->setFixedSize(14, 14);
    layout->addWidget(square);
    layout->addWidget(text);
    layout->addStretch();
    return row;
}

} // namespace

qwDevsetStorage::qwDevsetStorage(QWidget *parent) : QWidget(parent)
{
    QVBoxLayout *column = devset::preparePage(this, QStringLiteral("widget_Storage"), pageText("storagetitle"));

    auto *grid = new QGridLayout;
    m_status = styledLabel(QString(), kValueStyle, this);
    m_status->setObjectName(QStringLiteral("label_DiskStatus"));
    m_formatted = styledLabel(QString(), kValueStyle, this);
    m_formatted->setObjectName(QStringLiteral("label_DiskFormatted"));
    grid->addWidget(styledLabel(devset::caption(devset::kRemotePage, kSection, "diskstatus"), kNameStyle, this), 0, 0);
    grid->addWidget(m_status, 0, 1);
    grid->addWidget(styledLabel(devset::caption(devset::kRemotePage, kSection, "diskformated"), kNameStyle, this), 1,
                    0);
    grid->addWidget(m_formatted, 1, 1);
    grid->setColumnStretch(2, 1);
    column->addLayout(grid);
    column->addWidget(styledLabel(devset::caption(devset::kRemotePage, kSection, "usagestatus"), kNameStyle, this));

    auto *usage = new QWidget(this);
    usage->setObjectName(QStringLiteral("widget_Usagestatus"));
    usage->setAttribute(Qt::WA_StyledBackground);
    usage->setStyleSheet(QStringLiteral("QWidget#widget_Usagestatus{background:#3d3d3d;}"));
    auto *usageRow = new QHBoxLayout(usage);
    m_pie = new QWidget(usage);
    m_pie->setObjectName(QStringLiteral("widget_Pie"));
    m_pie->setFixedSize(kPieSize, kPieSize);
    m_pie->installEventFilter(this);
    usageRow->addWidget(m_pie);
    auto *legends = new QVBoxLayout;
    m_usedLegend = styledLabel(QStringLiteral("0GB(0%)") + pageText("spused"), "QLabel{color:white;}", usage);
    m_usedLegend->setObjectName(QStringLiteral("label_Used"));
    m_freeLegend = styledLabel(QStringLiteral("0GB(0%)") + pageText("spunused"), "QLabel{color:white;}", usage);
    m_freeLegend->setObjectName(QStringLiteral("label_Free"));
    legends->addStretch();
    legends->addWidget(legendRow("QLabel{background:#cd661d;}", m_usedLegend, usage));
    legends->addWidget(legendRow("QLabel{background:#5089cb;}", m_freeLegend, usage));
    legends->addStretch();
    usageRow->addLayout(legends);
    usageRow->addStretch();
    column->addWidget(usage);
    column->addStretch();

    const QList<QPushButton *> buttons =
        devset::addButtonRow(column, this, {{"refreshpara", "Refresh"}, {"saveopt", "Format"}}, false);
    m_refresh = buttons.at(0);
    m_format = buttons.at(1);
    m_format->setText(pageText("formatopt"));
    connect(m_refresh, &QPushButton::clicked, this, &qwDevsetStorage::OnBtnRefreshClicked);
    connect(m_format, &QPushButton::clicked, this, &qwDevsetStorage::OnBtnFormatClicked);
    m_readState = new DevsetReadState(this);
    m_readState->addControl(m_format);
    m_readState->addShown({m_status, m_formatted, m_usedLegend, m_freeLegend, m_pie});
    m_readState->setReader([this] { readDisk(); });
}

qwDevsetStorage::~qwDevsetStorage()
{
    devset::releaseRequest(m_diskRequest, kWaitMs);
    // A format's result no longer matters once the page is gone; the device
    // has already received it.
    if (m_formatRequest)
        m_formatRequest->abort();
    devset::releaseRequest(m_formatRequest, kWaitMs);
}

void qwDevsetStorage::setDeviceInfo(const QString &ip, const QString &port, const QString &user, const QString &pwd)
{
    devip = ip;
    httpport = port;
    username = user;
    password = pwd;
}

void qwDevsetStorage::OnInitParameters(int pageid)
{
    if (pageid == DEVSET_STORAGE)
        readDisk();
}

void qwDevsetStorage::OnBtnRefreshClicked()
{
    readDisk();
}

void qwDevsetStorage::readDisk()
{
    m_readState->startRead(m_diskRequest, kWaitMs, kDiskId,
                           devset::devsetUrl("http://%1:%2/action/get?subject=diskinfo&id=0", devip, httpport),
                           username, password, 3, this, &qwDevsetStorage::OnCGIDataCompleted, "diskinfo");
}

void qwDevsetStorage::OnCGIDataCompleted(int nID)
{
    if (nID != kDiskId || !m_diskRequest || sender() != m_diskRequest)
        return;
    CGIUtil *r = m_diskRequest;
    int status = 0;
    if (r->getXmlInt(QStringLiteral("status"), &status)) {
        const char *state = "snotinstall";
        bool usable = false;
        if (status & 0x1) {
            if (!(status & 0x2))
                state = "snotinstall";
            else if (status & 0x4)
                state = "sfull";
            else if (status & 0x8)
                state = "sabnormal";
            else
                state = "snormal";
            usable = status & 0x2;
            m_diskReady = usable;
        }
        m_status->setText(pageText(state));
        m_formatted->setText(devset::text(devset::kCommonPage, devset::kAnySection, usable ? "syes" : "sno"));
        m_refresh->setEnabled(usable);
        m_readState->setControlEnabled(m_format, usable);
    }
    QString sizeText;
    const qint64 total = r->getXmlString(QStringLiteral("size"), &sizeText) ? sizeText.toLongLong() : 0;
    QString freeText;
    m_total = total;
    m_used = 0;
    if (r->getXmlString(QStringLiteral("free"), &freeText))
        showUsage(total, freeText.toLongLong());
    m_pie->update();
}

void qwDevsetStorage::showUsage(qint64 total, qint64 free)
{
    if (total <= 0) {
        m_total = 0;
        m_usedLegend->setText(QStringLiteral("0GB(0%)") + pageText("spused"));
        m_freeLegend->setText(QStringLiteral("0GB(0%)") + pageText("spunused"));
        return;
    }
    // A free amount outside 0..total would give a negative share or one
    // above the whole disk.
    m_used = qBound<qint64>(0, total - free, total);
    const qint64 percent = m_used * 100 / total;
    const auto legend = [](qint64 bytes, qint64 pct, const QString &what) {
        return QStringLiteral("%1GB(%2%)").arg(double(float(bytes) / float(kGiB)), 0, 'f', 3).arg(pct) + what;
    };
    m_usedLegend->setText(legend(m_used, percent, pageText("spused")));
    m_freeLegend->setText(legend(total - m_used, 100 - percent, pageText("spunused")));
}

int qwDevsetStorage::pieAngle() const
{
    return m_total > 0 && m_used > 0 ? int(m_used * 360 / m_total) : 0;
}

bool qwDevsetStorage::eventFilter(QObject *watched, QEvent *event)
{
    // No disk is drawn full or empty that was not read.
    if (watched == m_pie && event->type() == QEvent::Paint && !m_readState->isBlank()) {
        QPainter painter(m_pie);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(kFreeColour);
        painter.drawEllipse(QRect(0, 0, kPieSize, kPieSize));
        painter.setBrush(kUsedColour);
        painter.drawPie(QRectF(0, 0, kPieSize, kPieSize), 2880, -16 * pieAngle());
    }
    return false;
}

void qwDevsetStorage::OnBtnFormatClicked()
{
    if (!m_diskReady || !m_readState->isRead())
        return;
    // Aborting ends the running POST at once; the device already has it.
    if (m_formatRequest)
        m_formatRequest->abort();
    if (!devset::startPost(m_formatRequest, kFormatWaitMs, kDiskId,
                           devset::devsetUrl("http://%1:%2/action/set?subject=diskfmt", devip, httpport), username,
                           password, QStringLiteral("<request><diskfmt><disk>0</disk><fmt>0</fmt></diskfmt></request>"),
                           5, 120, this, &qwDevsetStorage::OnCGIHeadCompleted))
        return;
    auto *waiting = new qwWaittingDlg(this);
    connect(this, &qwDevsetStorage::sigCloseWaittingDlg, waiting, &qwWaittingDlg::OnClose);
    waiting->show();
}

void qwDevsetStorage::OnCGIHeadCompleted(int nID, int code)
{
    if (nID != kDiskId || !m_formatRequest || sender() != m_formatRequest)
        return;
    emit sigCloseWaittingDlg();
    if (code != CGIUtil::ResultOk) {
        devset::showTip(this, qwTipsdlgEx::Failure, QStringLiteral("fmterr"));
        return;
    }
    devset::showTip(this, qwTipsdlgEx::Success, QStringLiteral("fmtsecc"));
    readDisk();
}
