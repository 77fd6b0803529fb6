#include "liveview/qwptzpanel.h"

#include "app/core/cgiutil.h"
#include "app/core/qcxmlhelper.h"
#include "app/widgets/statusbutton.h"
#include "app/widgets/userrights.h"
#include "device/qcp2pstreaminterface.h"
#include "liveview/livetext.h"
#include "liveview/panelreplies.h"
#include "liveview/qcptzstopretry.h"
#include "liveview/qwpresetitem.h"
#include "media/qcstreamutil.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSlider>
#include <QVBoxLayout>

using namespace livetext;

namespace {

const char kPadStyle[] =
    "QPushButton{border:2px solid #757575;border-radius:4px;}QPushButton:hover{border-color:#1baafb;"
    "background-color: rgba(0,0,0,0);}QPushButton:pressed{background:#c1c1c1;}";
const char kPresetButtonStyle[] =
    "QPushButton{border:1px solid #757575;border-radius:2px;}QPushButton:hover{border-"
    "color:#1baafb;background-color: rgba(0,0,0,0);}QPushButton:pressed{background:#c1c1c1;}";
const char kPresetListStyle[] =
    "QListView::item{background:black;color:white;margin-bottom:2px;}QListView::item:selected{background:#2f4f4f;}"
    "QListView::item:hover{background:#2f4f4f;}QListView{background:#2c2c2c;}";

const char kStopBody[] = "<request><ptzcmd><protocol>0</protocol><cmd>0</cmd><addr>1</addr></ptzcmd></request>";

// Direction pad: command (1 horizontal, 2 vertical, 3 both), horizontal
// (0 left, 1 right) and vertical (0 up, 1 down) of masks 6..14.
struct Move
{
    int cmd, hori, vert;
};
const Move kMoves[9] = {{3, 0, 0}, {2, 0, 0}, {3, 1, 0}, {1, 0, 0}, {0, 0, 0},
                        {1, 1, 0}, {3, 0, 1}, {2, 0, 1}, {3, 1, 1}};
// P2P control ids of masks 6..18.
const int kP2PControlIds[13] = {13, 16, 14, 11, 39, 12, 15, 10, 32, 33, 34, 35, 36};

constexpr int kFirstPadMask = 6;
constexpr int kCentreMask = 10;
constexpr int kLastPadMask = 14;
constexpr int kLastLensMask = 18;

bool isDirection(int mask)
{
    return mask >= kFirstPadMask && mask <= kLastPadMask && mask != kCentreMask;
}

bool isZoomOrFocus(int mask)
{
    return mask > kLastPadMask && mask <= kLastLensMask;
}

} // namespace

QString qwPtzPanel::sliderStyle()
{
    return QStringLiteral(
        "QSlider::groove:horizontal{height:7px;border:1px solid #4A708B;border-radius:4px;background:#C0C0C0;}"
        "QSlider::sub-page:horizontal{background:qlineargradient(spread:pad,x1:0,y1:0,x2:1,y2:0,"
        "stop:0 #5DCCFF,stop:1 #1874CD);border:1px solid #4A708B;border-radius:4px;}"
        "QSlider::add-page:horizontal{background:#575757;border-radius:4px;}"
        "QSlider::handle:horizontal{width:12px;height:16px;border-radius:8px;background:#aaaaaa;"
        "margin:-5px -3px;border:2px solid #2a2a2a;}"
        "QSlider::handle:horizontal:hover{background:#1baafb;}");
}

qwPtzPanel::qwPtzPanel(qcLiveDeviceRequests *requests, QWidget *parent)
    : QWidget(parent), m_requests(requests), m_presetNameText(liveText(kPreviewPage, kNoSection, "presetname")),
      m_unsetText(liveText(kPreviewPage, kNoSection, "isunset")),
      m_setText(liveText(kPreviewPage, kNoSection, "issetted"))
{
    setObjectName(QStringLiteral("widget_PtzPage"));
    // The dark of the pad and the preset list under the whole page, so that
    // the white speed value stands out from it (a QWidget subclass paints
    // its style sheet's background only when asked to).
    setStyleSheet(QStringLiteral("QWidget#widget_PtzPage{background:#2c2c2c;}"));
    setAttribute(Qt::WA_StyledBackground);
    initPtzPanel();
    connect(m_requests, &qcLiveDeviceRequests::deviceChanged, this, &qwPtzPanel::onDeviceChanged);
    connect(m_requests, &qcLiveDeviceRequests::ptzInfoReady, this, &qwPtzPanel::onPtzInfo);
    connect(m_requests, &qcLiveDeviceRequests::ptzResult, this, &qwPtzPanel::onPtzResult);
    connect(m_requests, &qcLiveDeviceRequests::infoFailed, this, [this](int id) {
        if (id == qcLiveDeviceRequests::GetPtzId)
            onPtzInfoFailed();
    });
    auto *stops = new qcPtzStopRetry(m_requests, this);
    connect(stops, &qcPtzStopRetry::stopNotSent, this, [this] { livetext::showFailureTip(this, "ptzstopnotsent"); });
    showUnknownSpeed();
}

qwPtzPanel::~qwPtzPanel()
{
    // Controls torn down after this may still report (an editor losing
    // its focus); the panel is no longer there to hear it.
    for (QObject *child : findChildren<QObject *>())
        child->disconnect(this);
}

StatusButton *qwPtzPanel::makeButton(QWidget *parent, const QImage &normal, const QImage &hover, const QRect &cell,
                                     int mask, const QString &tip, const char *style, bool pressAndRelease)
{
    const QImage a = normal.copy(cell);
    const QImage b = hover.copy(cell);
    auto *button = new StatusButton(parent, tip, a, b, nullptr, nullptr, mask);
    button->setObjectName(QStringLiteral("ptzButton_%1").arg(mask));
    button->setSelected(false);
    button->setStyleSheet(QLatin1String(style));
    if (pressAndRelease) {
        connect(button, &StatusButton::sigLeftbuttonDown, this, &qwPtzPanel::onPtzbuttonPress);
        connect(button, &StatusButton::sigLeftbuttonUp, this, &qwPtzPanel::onPtzbuttonRelease);
    }
    return button;
}

void qwPtzPanel::initPtzPanel()
{
    auto text = [](const char *key) { return liveText(kPreviewPage, kNoSection, key); };

    // 1. The four rows.
    auto *ptz = new QWidget(this);
    ptz->setObjectName(QStringLiteral("widget_PTZ"));
    ptz->setStyleSheet(QStringLiteral("QWidget#widget_PTZ{background:#2c2c2c;}"));
    ptz->setMaximumHeight(138);
    auto *speedRow = new QWidget(this);
    speedRow->setMaximumHeight(28);
    auto *listRow = new QWidget(this);
    m_readNote = makeReadNote(this);
    auto *presetRow = new QWidget(this);
    presetRow->setFixedHeight(28);
    auto *page = new QVBoxLayout(this);
    page->setContentsMargins(2, 2, 2, 2);
    page->setSpacing(1);
    for (QWidget *w : {ptz, speedRow, static_cast<QWidget *>(m_readNote), listRow, presetRow})
        page->addWidget(w);
    setContentsMargins(12, 6, 12, 2);

    // 2. Pad and lens containers.
    auto *ptzLayout = new QHBoxLayout(ptz);
    ptzLayout->setSpacing(10);
    ptzLayout->setContentsMargins(0, 0, 0, 0);
    auto *pad = new QWidget(ptz);
    pad->setMinimumWidth(116);
    auto *lens = new QWidget(ptz);
    ptzLayout->addWidget(pad);
    ptzLayout->addWidget(lens);
    auto *padGrid = new QGridLayout(pad);
    auto *lensGrid = new QGridLayout(lens);
    for (QGridLayout *g : {padGrid, lensGrid}) {
        g->setSpacing(1);
        g->setContentsMargins(1, 1, 1, 1);
    }

    // 3. The direction pad; the centre button acts on a click.
    {
        const QImage a(QStringLiteral(":/images/srcimages/ptz/ptzallbtns.png"));
        const QImage b(QStringLiteral(":/images/srcimages/ptz/ptzallbtns1.png"));
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) {
                const int mask = kFirstPadMask + 3 * r + c;
                StatusButton *button = makeButton(pad, a, b, QRect(30 * c, 30 * r, 30, 30), mask, QString(), kPadStyle,
                                                  mask != kCentreMask);
                if (mask == kCentreMask)
                    connect(button, &StatusButton::sigClick, this, &qwPtzPanel::onPtzbuttonClick);
                button->setFixedSize(42, 42);
                padGrid->addWidget(button, r, c);
            }
        }
    }

    // 4. Zoom, focus and iris.
    {
        const QImage a(QStringLiteral(":/images/srcimages/ptz/ptzbtnextend.png"));
        const QImage b(QStringLiteral(":/images/srcimages/ptz/ptzbtnextend1.png"));
        const char *const tips[6] = {"zoomsub", "zoomadd", "focussub", "focusadd", "irissub", "irisadd"};
        for (int i = 0; i < 6; ++i) {
            const int r = i / 2, c = i % 2;
            StatusButton *button =
                makeButton(lens, a, b, QRect(30 * c, 30 * r, 30, 30), 15 + i, text(tips[i]), kPadStyle, true);
            button->setFixedSize(42, 42);
            lensGrid->addWidget(button, r, c);
        }
    }

    // 5. Speed.
    auto *speedLayout = new QHBoxLayout(speedRow);
    speedLayout->setSpacing(2);
    speedLayout->setContentsMargins(1, 1, 1, 1);
    speedRow->setContentsMargins(4, 0, 6, 0);
    auto *icon = new QLabel(speedRow);
    icon->setMaximumSize(26, 26);
    icon->setContentsMargins(2, 2, 2, 2);
    icon->setStyleSheet(QStringLiteral("QLabel{background: #1d1d1d;}"));
    icon->setToolTip(text("ptzspeed"));
    icon->setPixmap(QPixmap(QStringLiteral(":/images/srcimages/ptz/speed.png"))
                        .scaled(22, 22, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    m_ptzSpeedSlider = new QSlider(Qt::Horizontal, speedRow);
    m_ptzSpeedSlider->setObjectName(QStringLiteral("slider_ptzspeed"));
    m_ptzSpeedSlider->setRange(1, 6);
    m_ptzSpeedSlider->setStyleSheet(sliderStyle());
    m_ptzSpeedLabel = new QLabel(QStringLiteral("1"), speedRow);
    m_ptzSpeedLabel->setFixedSize(26, 22);
    m_ptzSpeedLabel->setAlignment(Qt::AlignCenter);
    m_ptzSpeedLabel->setStyleSheet(QStringLiteral("QLabel{font-size:16px;font-weight:400;color:white;}"));
    speedLayout->addWidget(icon);
    speedLayout->addWidget(m_ptzSpeedSlider);
    speedLayout->addWidget(m_ptzSpeedLabel);
    connect(m_ptzSpeedSlider, &QSlider::valueChanged, this, &qwPtzPanel::onPtzspeedChange);
    connect(m_ptzSpeedSlider, &QSlider::sliderReleased, this, [this] {
        if (m_pendingSpeedValue >= 0)
            showSpeed(m_pendingSpeedValue, m_pendingSpeedLabel);
    });

    // 6. Presets.
    auto *listLayout = new QGridLayout(listRow);
    listLayout->setContentsMargins(1, 1, 1, 1);
    listRow->setContentsMargins(1, 6, 1, 0);
    m_presetList = new QListWidget(listRow);
    m_presetList->setStyleSheet(QLatin1String(kPresetListStyle));
    listLayout->addWidget(m_presetList);
    initPresetRows();
    connect(m_presetList, &QListWidget::doubleClicked, this, &qwPtzPanel::onPresetListDBClick);
    connect(m_presetList, &QListWidget::clicked, this, &qwPtzPanel::onPresetListClick);

    // 7. Preset buttons.
    auto *presetLayout = new QHBoxLayout(presetRow);
    presetLayout->setSpacing(2);
    presetLayout->setContentsMargins(0, 0, 0, 0);
    presetRow->setContentsMargins(4, 0, 2, 0);
    {
        const QImage a(QStringLiteral(":/images/srcimages/ptz/presetctrl.png"));
        const QImage b(QStringLiteral(":/images/srcimages/ptz/presetctrl1.png"));
        const char *const tips[3] = {"callpreset", "setpreset", "deletepreset"};
        for (int i = 0; i < 3; ++i) {
            StatusButton *button =
                makeButton(presetRow, a, b, QRect(16 * i, 0, 16, 16), 21 + i, text(tips[i]), kPresetButtonStyle, false);
            button->setObjectName(QStringLiteral("presetButton_%1").arg(21 + i));
            button->setMaximumSize(24, 24);
            connect(button, &StatusButton::sigClick, this, &qwPtzPanel::onPresetControl);
            presetLayout->addWidget(button);
        }
    }
    presetLayout->addStretch();
    // 8. The sheets went with their scopes.
}

// ---------------------------------------------------------------- presets

QString qwPtzPanel::defaultName(int row) const
{
    return m_presetNameText + QString::number(row + 1);
}

qwPresetItem *qwPtzPanel::presetRow(int row) const
{
    QListWidgetItem *item = m_presetList->item(row);
    return item ? qobject_cast<qwPresetItem *>(m_presetList->itemWidget(item)) : nullptr;
}

void qwPtzPanel::initPresetRows()
{
    for (int i = 1; i <= kPresetCount; ++i) {
        auto *row = new qwPresetItem(m_presetList, i, defaultName(i - 1), m_unsetText);
        auto *item = new QListWidgetItem(m_presetList);
        item->setSizeHint(QSize(0, 32));
        m_presetList->setItemWidget(item, row);
        connect(row, &qwPresetItem::sigNameChange, this, &qwPtzPanel::onPresetNameChange);
    }
}

void qwPtzPanel::resetPresetRows()
{
    for (int r = 0; r < kPresetCount; ++r) {
        m_reportedNames[r].clear();
        m_rowKnown[r] = false;
        showReportedRow(r);
    }
}

void qwPtzPanel::setPresetRow(int row, const QString &name, const QString &state)
{
    qwPresetItem *item = presetRow(row);
    if (!item)
        return;
    // A rename left open would otherwise commit this text as a new name.
    item->cancelRename();
    item->setName(name);
    item->setStateText(state);
}

void qwPtzPanel::showReportedRow(int row)
{
    if (row < 0 || row >= kPresetCount)
        return;
    const QString &name = m_reportedNames[row];
    // A row the device has not told of is neither set nor unset.
    const QString state = !m_rowKnown[row] ? QString() : name.isEmpty() ? m_unsetText : m_setText;
    setPresetRow(row, name.isEmpty() ? defaultName(row) : name, state);
}

bool qwPtzPanel::checkRight()
{
    m_ptzAllowed = userrights::check(this, userrights::PtzControl);
    return m_ptzAllowed;
}

void qwPtzPanel::onPresetControl(int mask)
{
    if (!checkRight())
        return;
    const int row = m_presetList->currentRow();
    if (row < 0)
        return;
    if (mask == 21) {
        callPreset(row);
    } else if (mask == 22) {
        if (qwPresetItem *item = presetRow(row))
            item->beginRename();
    } else if (mask == 23) {
        clearPreset(row);
    }
}

void qwPtzPanel::onPresetListClick(const QModelIndex &index)
{
    m_selectedPreset = index.row();
    const bool keepClicked = !m_requests->address().isEmpty();
    for (int r = 0; r < kPresetCount; ++r) {
        if (r != index.row() || !keepClicked) {
            if (qwPresetItem *item = presetRow(r))
                item->endRename();
        }
    }
}

void qwPtzPanel::onPresetListDBClick(const QModelIndex &index)
{
    if (checkRight())
        onPresetListClick(index);
}

void qwPtzPanel::onPresetNameChange(int mask, const QString &name)
{
    const int row = mask - 1;
    if (row < 0 || row >= kPresetCount)
        return;
    if (!userrights::check(this, userrights::PtzControl)) {
        showReportedRow(row);
        return;
    }
    setPreset(row, name);
}

QString qwPtzPanel::escapedName(const QString &name)
{
    QString kept;
    for (const QChar c : name) {
        const ushort u = c.unicode();
        if ((u < 0x20 && u != '\t' && u != '\n' && u != '\r') || u == 0xfffe || u == 0xffff)
            continue;
        kept += c;
    }
    return xmlEscape(kept);
}

void qwPtzPanel::callPreset(int row)
{
    if (m_requests->isP2PDevice()) {
        livetext::showFailureTip(this, "p2pdevnotsupport");
        return;
    }
    m_requests->postPtzControl(
        QStringLiteral("<request><ptzcmd><cmd>4097</cmd><preset><index>%1</index></preset></ptzcmd></request>")
            .arg(row + 1),
        qcLiveDeviceRequests::OpCall);
}

void qwPtzPanel::clearPreset(int row)
{
    if (m_requests->isP2PDevice()) {
        livetext::showFailureTip(this, "p2pdevnotsupport");
        return;
    }
    m_requests->postPtzControl(
        QStringLiteral("<request><ptzcmd><cmd>4099</cmd><preset><index>%1</index></preset></ptzcmd></request>")
            .arg(row + 1),
        qcLiveDeviceRequests::OpClear, row);
}

void qwPtzPanel::setPreset(int row, const QString &name)
{
    if (m_requests->isP2PDevice())
        livetext::showFailureTip(this, "p2pdevnotsupport");
    const QString body =
        QStringLiteral("<request><ptzcmd><cmd>4098</cmd><preset><index>%1</index><name>%2</name></preset></ptzcmd>"
                       "</request>")
            .arg(row + 1)
            .arg(escapedName(name));
    if (row < 0 || row >= kPresetCount || m_requests->isP2PDevice() || !m_requests->postPresetSet(row, body.toUtf8())) {
        // Never show a name as set that the device was not even sent.
        showReportedRow(row);
        return;
    }
    m_sentNames[row] = name;
}

void qwPtzPanel::onPtzResult(const qcLiveDeviceRequests::Ticket &ticket, int code)
{
    const int row = ticket.row;
    if (ticket.op == qcLiveDeviceRequests::OpSpeed) {
        if (code == CGIUtil::ResultOk) {
            m_deviceSpeedValue = ticket.value + 1;
            m_deviceSpeedLabel = QString::number(ticket.value + 1);
        } else {
            revertSpeed(m_deviceSpeedValue, m_deviceSpeedLabel);
        }
        return;
    }
    if (row < 0 || row >= kPresetCount)
        return;
    if (ticket.op == qcLiveDeviceRequests::OpSet) {
        if (code == CGIUtil::ResultOk) {
            m_reportedNames[row] = m_sentNames[row];
            m_rowKnown[row] = true;
            if (qwPresetItem *item = presetRow(row))
                item->setStateText(m_setText);
        } else {
            showReportedRow(row);
        }
    } else if (ticket.op == qcLiveDeviceRequests::OpClear && code == CGIUtil::ResultOk) {
        m_reportedNames[row].clear();
        m_rowKnown[row] = true;
        showReportedRow(row);
    }
}

// ---------------------------------------------------------------- PTZ

bool qwPtzPanel::p2pControl(int controlId)
{
    return withP2PStream(m_requests->address(), [controlId](qcP2PStreamInterface *s) {
        if (controlId < 0)
            s->stopPtz();
        else
            s->ptzControl(controlId);
    });
}

void qwPtzPanel::onPtzbuttonPress(int mask)
{
    if (!checkRight())
        return;
    if (m_requests->isP2PDevice()) {
        if (mask >= kFirstPadMask && mask <= kLastLensMask)
            p2pControl(kP2PControlIds[mask - kFirstPadMask]);
        return;
    }
    if (isDirection(mask)) {
        const Move &m = kMoves[mask - kFirstPadMask];
        sendPtzMove(m.cmd, m.hori, m.vert);
    } else if (mask == 15) {
        sendZoom0();
    } else if (mask == 16) {
        sendZoom1();
    } else if (mask == 17) {
        sendFocus1();
    } else if (mask == 18) {
        sendFocus0();
    }
}

void qwPtzPanel::onPtzbuttonRelease(int mask)
{
    if (!m_ptzAllowed || !(isDirection(mask) || isZoomOrFocus(mask)))
        return;
    if (m_requests->isP2PDevice())
        p2pControl(-1);
    else if (isDirection(mask))
        sendPtzMove(0, 0, 0);
    else
        sendPtzStop();
}

void qwPtzPanel::onPtzbuttonClick(int mask)
{
    if (!checkRight() || mask != kCentreMask)
        return;
    if (m_requests->isP2PDevice())
        p2pControl(kP2PControlIds[kCentreMask - kFirstPadMask]);
    else
        sendPtzCentre();
}

void qwPtzPanel::sendPtzMove(int cmd, int hori, int vert)
{
    // Command 0 is the direction's stop.
    m_requests->postPtzControl(
        QStringLiteral("<request><ptzcmd><cmd>%1</cmd><move><hori>%2</hori><vert>%3</vert></move></ptzcmd></request>")
            .arg(cmd)
            .arg(hori)
            .arg(vert),
        cmd == 0 ? qcLiveDeviceRequests::OpStop : qcLiveDeviceRequests::OpMove);
}

void qwPtzPanel::sendPtzCentre()
{
    m_requests->postPtzControl(
        QStringLiteral("<request><ptzcmd><protocol>0</protocol><cmd>20000001</cmd><addr>1</addr></ptzcmd></request>"));
}

void qwPtzPanel::sendPtzStop()
{
    m_requests->postPtzControl(QLatin1String(kStopBody), qcLiveDeviceRequests::OpStop);
}

void qwPtzPanel::sendZoom1()
{
    m_requests->postPtzControl(
        QStringLiteral("<request><ptzcmd><cmd>8</cmd><addr>1</addr><zoom>1</zoom></ptzcmd></request>"),
        qcLiveDeviceRequests::OpLens);
}

void qwPtzPanel::sendZoom0()
{
    m_requests->postPtzControl(
        QStringLiteral("<request><ptzcmd><cmd>8</cmd><addr>1</addr><zoom>0</zoom></ptzcmd></request>"),
        qcLiveDeviceRequests::OpLens);
}

void qwPtzPanel::sendFocus1()
{
    m_requests->postPtzControl(
        QStringLiteral("<request><ptzcmd><cmd>4</cmd><addr>1</addr><focus>1</focus></ptzcmd></request>"),
        qcLiveDeviceRequests::OpLens);
}

void qwPtzPanel::sendFocus0()
{
    m_requests->postPtzControl(
        QStringLiteral("<request><ptzcmd><cmd>4</cmd><addr>1</addr><focus>0</focus></ptzcmd></request>"),
        qcLiveDeviceRequests::OpLens);
}

// ---------------------------------------------------------------- speed

void qwPtzPanel::onPtzspeedChange(int value)
{
    m_ptzSpeedLabel->setText(QString::number(value));
    setPtzSpeed(value - 1);
}

void qwPtzPanel::setPtzSpeed(int speed)
{
    // Without this device's serial settings a speed change would rewrite its
    // PTZ line with another device's values.
    const QString body = QStringLiteral("<request><ptz ver=\"2.0\"><speed>%1</speed><addr>%2</addr><serial><baudrate>%3"
                                        "</baudrate><databit>%4</databit><stopbit>%5</stopbit><parity>%6</parity>"
                                        "<flowctrl>%7</flowctrl></serial></ptz></request>")
                             .arg(speed)
                             .arg(m_ptzAddr)
                             .arg(m_ptzBaudrate)
                             .arg(m_ptzDatabit)
                             .arg(m_ptzStopbit)
                             .arg(m_ptzParity)
                             .arg(m_ptzFlowctrl);
    if (!m_ptzInfoRead || !m_requests->isAddressDevice() || !m_requests->postPtzSpeed(body, speed)) {
        revertSpeed(m_shownSpeedValue, m_shownSpeedLabel);
        return;
    }
    m_shownSpeedValue = m_ptzSpeedSlider->value();
    m_shownSpeedLabel = m_ptzSpeedLabel->text();
}

void qwPtzPanel::revertSpeed(int value, const QString &label)
{
    m_pendingSpeedValue = value;
    m_pendingSpeedLabel = label;
    if (!m_ptzSpeedSlider->isSliderDown())
        showSpeed(value, label);
}

void qwPtzPanel::showSpeed(int value, const QString &label)
{
    const bool blocked = m_ptzSpeedSlider->blockSignals(true);
    m_ptzSpeedSlider->setValue(value);
    m_ptzSpeedSlider->blockSignals(blocked);
    m_ptzSpeedLabel->setText(label);
    m_shownSpeedValue = m_ptzSpeedSlider->value();
    m_shownSpeedLabel = label;
    m_pendingSpeedValue = -1;
}

// ---------------------------------------------------------------- information

void qwPtzPanel::requestPtzInfo()
{
    m_requests->requestPtzInfo();
}

void qwPtzPanel::onDeviceChanged()
{
    m_ptzAddr = m_ptzBaudrate = m_ptzDatabit = m_ptzStopbit = m_ptzParity = m_ptzFlowctrl = 0;
    m_ptzInfoRead = false;
    m_pendingSpeedValue = -1;
    m_readNote->hide();
    // Nothing shown belongs to this device until its reply is read.
    showUnknownSpeed();
    resetPresetRows();
}

void qwPtzPanel::showUnknownSpeed()
{
    m_deviceSpeedValue = m_ptzSpeedSlider->minimum();
    m_deviceSpeedLabel.clear();
    showSpeed(m_deviceSpeedValue, m_deviceSpeedLabel);
}

void qwPtzPanel::onPtzInfoFailed()
{
    m_ptzInfoRead = false;
    m_readNote->show();
    showUnknownSpeed();
    resetPresetRows();
}

void qwPtzPanel::onPtzInfo(CGIUtil *reply)
{
    panelreplies::PtzReading read;
    if (!panelreplies::readPtz(reply->replyBody(), kPresetCount, &read)) {
        onPtzInfoFailed();
        return;
    }
    m_readNote->hide();
    int *const fields[6] = {&m_ptzAddr, &m_ptzBaudrate, &m_ptzDatabit, &m_ptzStopbit, &m_ptzParity, &m_ptzFlowctrl};
    // Without all six a speed change would rewrite the PTZ line with values
    // the device never sent.
    m_ptzInfoRead = read.serialRead;
    for (int i = 0; i < 6; ++i)
        *fields[i] = read.serialRead ? read.serial[i] : 0;
    m_deviceSpeedValue = read.speed + 1;
    m_deviceSpeedLabel = QString::number(read.speed + 1);
    revertSpeed(m_deviceSpeedValue, m_deviceSpeedLabel);

    for (int row = 0; row < read.presets.size(); ++row) {
        m_reportedNames[row] = read.presets[row];
        m_rowKnown[row] = true;
        showReportedRow(row);
    }
}
