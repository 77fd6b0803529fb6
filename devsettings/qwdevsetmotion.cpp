#include "devsettings/qwdevsetmotion.h"

#include "app/core/cgiutil.h"
#include "app/widgets/qwtipsdlgex.h"
#include "devsettings/devsetframe.h"
#include "devsettings/devsetreadstate.h"
#include "devsettings/devsetpreview.h"
#include "devsettings/qwactionsdialog.h"
#include "devsettings/qwscheduledialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

namespace {

constexpr int kMotionId = 137;
constexpr int kStatusId = 138;
constexpr int kSection = DEVSET_MOTION + 1;
constexpr int kWaitMs = 5000;
constexpr int kCellWidth = 16;
constexpr int kCellHeight = 15;
constexpr int kMaxLevel = 200;
int g_pollMs = 200;

const char *const kNameStyle = "QLabel,QRadioButton,QCheckBox{color:#c2c2c2;}";

QString pageText(const char *key)
{
    return devset::text(devset::kRemotePage, kSection, key);
}

int ceilDiv(int a, int b)
{
    return (a + b - 1) / b;
}

QRect snapToGrid(const QRect &r)
{
    const int left = r.left() / kCellWidth * kCellWidth;
    const int top = r.top() / kCellHeight * kCellHeight;
    const int right = ceilDiv(r.right() + 1, kCellWidth) * kCellWidth - 1;
    const int bottom = ceilDiv(r.bottom() + 1, kCellHeight) * kCellHeight - 1;
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

// Both corners included.
QRect spanOf(const QPoint &a, const QPoint &b)
{
    return QRect(QPoint(qMin(a.x(), b.x()), qMin(a.y(), b.y())), QPoint(qMax(a.x(), b.x()), qMax(a.y(), b.y())));
}

QLabel *styledLabel(const QString &text, const char *style, QWidget *parent, QSize size)
{
    auto *label = new QLabel(text, parent);
    label->setStyleSheet(QLatin1String(style));
    label->setFixedSize(size);
    return label;
}

} // namespace

qwDevsetMotion::qwDevsetMotion(QWidget *parent) : QWidget(parent)
{
    QVBoxLayout *column = devset::preparePage(this, QStringLiteral("widget_Motiondetection"));
    column->setContentsMargins(26, 16, 26, 8);
    auto *hint = new QLabel(pageText("maxrect"), this);
    hint->setStyleSheet(QStringLiteral("QLabel{color:#1baafb;}"));
    hint->setFixedHeight(28);
    column->addWidget(hint);

    auto *content = new QHBoxLayout;
    auto *left = new QVBoxLayout;
    // One pixel more each way, so that the pointer reaches x 640 and y 360.
    const devset::PreviewStage stage = devset::makePreviewStage(this, QSize(kPreviewWidth, kPreviewHeight),
                                                                QSize(kPreviewWidth + 1, kPreviewHeight + 1));
    m_preview = stage.preview;
    m_overlay = stage.overlay;
    m_live = new DevsetPreview(m_preview, DevsetPreview::Drawing::OpenGL);
    m_overlay->setMouseTracking(true);
    left->addWidget(stage.stage);
    auto *regionButtons = new QHBoxLayout;
    for (auto spec : {std::make_pair("remoteallrect", "ClearAll"), std::make_pair("detectall", "DetectAll")}) {
        auto *button = new QPushButton(pageText(spec.first), this);
        button->setObjectName(QStringLiteral("pushButton_") + QLatin1String(spec.second));
        button->setFixedSize(148, 30);
        regionButtons->addWidget(button);
        m_detectionWidgets << button;
    }
    regionButtons->addStretch();
    left->addLayout(regionButtons);
    content->addLayout(left);
    connect(static_cast<QPushButton *>(m_detectionWidgets.at(0)), &QPushButton::clicked, this,
            &qwDevsetMotion::OnBtnClearAllRects);
    connect(static_cast<QPushButton *>(m_detectionWidgets.at(1)), &QPushButton::clicked, this,
            &qwDevsetMotion::OnBtnFullScreenRect);

    auto *items = new QWidget(this);
    items->setObjectName(QStringLiteral("widget_Motionitems"));
    items->setAttribute(Qt::WA_StyledBackground);
    items->setStyleSheet(QStringLiteral("QWidget#widget_Motionitems{background:#3d3d3d;}"));
    items->setFixedSize(328, 361);
    auto *panel = new QVBoxLayout(items);
    // Caption, slider and value (130 + 150 + 28, the value wider where "100"
    // needs it) fit the 316 pixels of the level graph's width only with
    // narrow margins and spacing; with the style's own the columns overlap
    // and the value is cut off.
    panel->setContentsMargins(6, 6, 6, 6);
    m_enable = new QCheckBox(pageText("enablemotion"), items);
    m_enable->setObjectName(QStringLiteral("checkBox_Enable"));
    m_enable->setStyleSheet(QStringLiteral("QCheckBox{color:white;}"));
    connect(m_enable, &QCheckBox::clicked, this, &qwDevsetMotion::OnChkEableClick);
    panel->addWidget(m_enable);
    auto *sliders = new QGridLayout;
    sliders->setHorizontalSpacing(1);
    const auto sliderRow = [&](int row, const char *key, const char *name, int min, int max) {
        auto *slider = new QSlider(Qt::Horizontal, items);
        slider->setObjectName(QStringLiteral("slider_") + QLatin1String(name));
        slider->setRange(min, max);
        slider->setFixedWidth(150);
        // The captions' grey: the dimmer #868686 reads at only 3:1 on the panel.
        auto *value = styledLabel(QStringLiteral("0"), kNameStyle, items, QSize(28, 24));
        value->setObjectName(QStringLiteral("label_%1Value").arg(QLatin1String(name)));
        value->ensurePolished();
        value->setFixedWidth(qMax(28, value->fontMetrics().horizontalAdvance(QStringLiteral("100")) + 2));
        connect(slider, &QSlider::valueChanged, value, qOverload<int>(&QLabel::setNum));
        sliders->addWidget(styledLabel(pageText(key) + QLatin1Char(':'), kNameStyle, items, QSize(130, 24)), row, 0);
        sliders->addWidget(slider, row, 1);
        sliders->addWidget(value, row, 2);
        m_detectionWidgets << slider;
        return slider;
    };
    m_sensitivity = sliderRow(0, "sensitivityval", "Sensitivity", 1, 10);
    m_thresholdSlider = sliderRow(1, "thresholdval", "Threshold", 0, 100);
    connect(m_thresholdSlider, &QSlider::valueChanged, this, &qwDevsetMotion::OnSliderThresholdValueChange);
    panel->addLayout(sliders);
    m_graph = new QWidget(items);
    m_graph->setObjectName(QStringLiteral("widget_LevelGraph"));
    m_graph->setAttribute(Qt::WA_StyledBackground);
    m_graph->setStyleSheet(QStringLiteral("QWidget{background:gray;}"));
    m_graph->setFixedSize(kHistory, 170);
    m_graph->installEventFilter(this);
    panel->addWidget(m_graph);
    auto *setups = new QGridLayout;
    for (auto spec : {std::make_pair("scheduleset", "Schedule"), std::make_pair("actionset", "Actions")}) {
        const int row = setups->rowCount();
        auto *button = new QPushButton(devset::text(devset::kCommonPage, devset::kAnySection, "setupopt"), items);
        button->setObjectName(QStringLiteral("pushButton_") + QLatin1String(spec.second));
        button->setFixedSize(148, 30);
        setups->addWidget(styledLabel(pageText(spec.first) + QLatin1Char(':'), kNameStyle, items, QSize(130, 24)), row,
                          0);
        setups->addWidget(button, row, 1);
        m_detectionWidgets << button;
    }
    connect(static_cast<QPushButton *>(m_detectionWidgets.at(4)), &QPushButton::clicked, this,
            &qwDevsetMotion::OnBtnSetupSchedule);
    connect(static_cast<QPushButton *>(m_detectionWidgets.at(5)), &QPushButton::clicked, this,
            &qwDevsetMotion::OnBtnSetupActions);
    panel->addLayout(setups);
    content->addWidget(items);
    content->addStretch();
    column->addLayout(content);
    column->addStretch();

    const QList<QPushButton *> buttons =
        devset::addButtonRow(column, this, {{"restoreopt", "Restore"}, {"saveopt", "Save"}}, false);
    for (QPushButton *b : buttons)
        b->setFixedSize(148, 30);
    connect(buttons.at(0), &QPushButton::clicked, this, &qwDevsetMotion::OnBtnRestoreParameters);
    connect(buttons.at(1), &QPushButton::clicked, this, &qwDevsetMotion::OnBtnSaveParameters);
    m_readState = new DevsetReadState(this);
    m_readState->addControl(buttons.at(1));
    m_readState->addShown({m_enable, m_graph});
    for (QSlider *slider : {m_sensitivity, m_thresholdSlider})
        m_readState->addShown(slider, devset::sliderNumber(this, slider));
    m_readState->setReader([this] { OnInitParameters(DEVSET_MOTION); });
}

qwDevsetMotion::~qwDevsetMotion()
{
    devset::releaseRequest(m_motionRequest, kWaitMs);
    devset::releaseRequest(m_statusRequest, kWaitMs);
}

void qwDevsetMotion::setPollIntervalForTests(int ms)
{
    g_pollMs = ms;
}

void qwDevsetMotion::setDeviceInfo(const QString &ip, const QString &port, const QString &user, const QString &pwd)
{
    devip = ip;
    httpport = port;
    username = user;
    password = pwd;
}

QVector<QRect> qwDevsetMotion::regions() const
{
    return QVector<QRect>(m_regions.begin(), m_regions.end());
}

QVector<int> qwDevsetMotion::levelHistory() const
{
    return QVector<int>(m_levelHistory.begin(), m_levelHistory.end());
}

QRect qwDevsetMotion::toPreviewRect(const QRect &r, int resWidth, int resHeight)
{
    if (resWidth == kPreviewWidth && resHeight == kPreviewHeight)
        return r;
    // Rounding up makes this the inverse of toDeviceRect's truncation, so a
    // region read back lands on the grid line it was drawn on.
    const int left = ceilDiv(r.left() * kPreviewWidth, resWidth);
    const int top = ceilDiv(r.top() * kPreviewHeight, resHeight);
    const int right = left - 1 + ceilDiv(r.width() * kPreviewWidth, resWidth);
    const int bottom = top - 1 + ceilDiv(r.height() * kPreviewHeight, resHeight);
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

QRect qwDevsetMotion::toDeviceRect(const QRect &r, int resWidth, int resHeight)
{
    QRect d = r;
    if (resWidth != kPreviewWidth || resHeight != kPreviewHeight) {
        const int left = resWidth * r.left() / kPreviewWidth;
        const int top = resHeight * r.top() / kPreviewHeight;
        d = QRect(QPoint(left, top), QPoint(left - 1 + r.width() * resWidth / kPreviewWidth,
                                            top - 1 + r.height() * resHeight / kPreviewHeight));
    }
    // A region drawn to the overlay's last column or row ends at the
    // frame's, whatever the frame.
    d.setRight(qMin(d.right(), resWidth - 1));
    d.setBottom(qMin(d.bottom(), resHeight - 1));
    return d;
}

QVector<QRect> qwDevsetMotion::motionCells() const
{
    QVector<QRect> cells;
    if (m_mdRow < 1 || m_mdCol < 1)
        return cells;
    const int width = int(double(kPreviewWidth) / m_mdCol);
    const int height = int(double(kPreviewHeight) / m_mdRow);
    for (int i = 0; i < m_mdRow; ++i) {
        for (int j = 0; j < m_mdCol; ++j) {
            const qint64 k = qint64(i) * m_mdCol + j;
            if (k / 32 >= kCellWords)
                return cells;
            if (m_cellBits[size_t(k / 32)] & (quint32(1) << (k % 32)))
                cells << QRect(int(j * double(kPreviewWidth) / m_mdCol), int(i * double(kPreviewHeight) / m_mdRow),
                               width, height);
        }
    }
    return cells;
}

void qwDevsetMotion::OnInitParameters(int pageid)
{
    if (pageid != DEVSET_MOTION)
        return;
    m_readState->startRead(m_motionRequest, kWaitMs, kMotionId,
                           devset::devsetUrl("http://%1:%2/action/get?subject=motion", devip, httpport), username,
                           password, 4, this, &qwDevsetMotion::OnCGIDataCompleted, "motion");
}

// The preview builds its picture widget for each stream description itself.
void qwDevsetMotion::OnInitVideoWidget(int, int) {}

qcStreamPlayer *qwDevsetMotion::streamPlayer() const
{
    return m_live->player();
}

void qwDevsetMotion::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_live->start(devip, httpport, username, password);
    m_overlay->raise();
    // The status is asked for only while the page is shown: a page left
    // with the back arrow lives on until the window closes.
    if (m_pollTimerId == 0)
        m_pollTimerId = startTimer(g_pollMs, Qt::CoarseTimer);
}

void qwDevsetMotion::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_live->stop();
    if (m_pollTimerId != 0) {
        killTimer(m_pollTimerId);
        m_pollTimerId = 0;
    }
}

void qwDevsetMotion::OnCGIDataCompleted(int nID)
{
    if (nID == kMotionId && m_motionRequest && sender() == m_motionRequest)
        parseMotion();
    else if (nID == kStatusId && m_statusRequest && sender() == m_statusRequest)
        parseMdStatus();
}

void qwDevsetMotion::setDetection(bool on)
{
    m_detectEnabled = on;
    m_pollEnabled = on;
    m_enable->setChecked(on);
    for (QWidget *w : qAsConst(m_detectionWidgets))
        w->setEnabled(on);
    m_overlay->update();
}

void qwDevsetMotion::parseMotion()
{
    CGIUtil *r = m_motionRequest;
    int n = 0;
    if (r->getXmlInt(QStringLiteral("active"), &n))
        setDetection(n == 1);
    if (r->getXmlInt(QStringLiteral("sensitivity"), &n))
        m_sensitivity->setValue(n + 1);
    if (r->getXmlInt(QStringLiteral("threshold"), &n)) {
        m_threshold = n;
        m_thresholdSlider->setValue(n);
        m_graph->update();
    }
    QString text;
    if (r->getXmlString(QStringLiteral("resolution"), &text)) {
        const QStringList parts = text.split(QLatin1Char('x'));
        bool okW = false;
        bool okH = false;
        const int w = parts.size() == 2 ? parts.at(0).toInt(&okW) : 0;
        const int h = parts.size() == 2 ? parts.at(1).toInt(&okH) : 0;
        if (okW && okH && w >= 1 && h >= 1) {
            m_resWidth = w;
            m_resHeight = h;
        }
    }
    if (r->enterSection(QStringLiteral("motion"), true)) {
        for (int i = 0; i < 4; ++i) {
            if (!r->getSectionString(QStringLiteral("rect"), &text, i))
                break;
            const QStringList parts = text.split(QLatin1Char(','));
            if (parts.size() != 4)
                continue;
            const int x = parts.at(0).toInt();
            const int y = parts.at(1).toInt();
            const int w = parts.at(2).toInt();
            const int h = parts.at(3).toInt();
            if (x < 0 || x > m_resWidth || y < 0 || y > m_resHeight || w < 1 || w > m_resWidth - x || h < 1 ||
                h > m_resHeight - y)
                continue;
            m_regions[size_t(i)] = snapToGrid(toPreviewRect(QRect(x, y, w, h), m_resWidth, m_resHeight));
        }
    }
    m_overlay->update();
}

void qwDevsetMotion::parseMdStatus()
{
    CGIUtil *r = m_statusRequest;
    int n = 0;
    if (!r->getXmlInt(QStringLiteral("row"), &n))
        return;
    m_mdRow = n;
    if (!r->getXmlInt(QStringLiteral("col"), &n))
        return;
    m_mdCol = n;
    if (!r->getXmlInt(QStringLiteral("move"), &n))
        return;
    std::move(m_levelHistory.begin() + 1, m_levelHistory.end(), m_levelHistory.begin());
    m_levelHistory.back() = quint8(qBound(0, n, kMaxLevel));
    m_graph->update();
    // The whole text: a large grid's words run past the accessors' limit.
    QString cells;
    if (!r->enterSection(QStringLiteral("cell"), true) || !r->getSectionText(&cells))
        return;
    m_cellBits.fill(0);
    const QVector<QStringRef> words = cells.splitRef(QLatin1Char(','));
    for (int i = 0; i < words.size() && i < kCellWords; ++i) {
        bool ok = false;
        const uint word = words.at(i).trimmed().toUInt(&ok, 16);
        m_cellBits[size_t(i)] = ok ? word : 0;
    }
    if (!words.isEmpty())
        m_overlay->update();
}

void qwDevsetMotion::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_pollTimerId || !m_pollEnabled)
        return;
    // A status still on its way is never replaced: this tick is skipped.
    if (m_statusRequest && m_statusRequest->isRunning())
        return;
    devset::startGet(m_statusRequest, 0, kStatusId,
                     devset::devsetUrl("http://%1:%2/action/get?subject=mdstatus", devip, httpport), username, password,
                     1, this, &qwDevsetMotion::OnCGIDataCompleted);
}

bool qwDevsetMotion::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_overlay) {
        if (event->type() == QEvent::Paint)
            paintOverlay();
        else if (m_detectEnabled)
            overlayMouse(event);
    } else if (watched == m_graph && event->type() == QEvent::Paint) {
        paintLevelGraph();
    }
    return false;
}

void qwDevsetMotion::overlayMouse(QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove && type != QEvent::MouseButtonRelease)
        return;
    auto *mouse = static_cast<QMouseEvent *>(event);
    const QPoint p = mouse->pos();
    if (type == QEvent::MouseButtonPress && mouse->button() == Qt::LeftButton) {
        for (int i = 0; i < 4; ++i) {
            if (!m_regions[size_t(i)].isEmpty() && m_regions[size_t(i)].contains(p)) {
                m_regions[size_t(i)] = QRect();
                m_drawSlot = i + 1;
                m_overlay->update();
                return;
            }
        }
        m_drawSlot = 4;
        for (int i = 0; i < 3; ++i) {
            if (m_regions[size_t(i)].isEmpty()) {
                m_drawSlot = i + 1;
                break;
            }
        }
        m_regions[size_t(m_drawSlot - 1)] = QRect();
        m_drawStart = m_drawCurrent = p;
        m_drawnRect = QRect();
        m_drawing = true;
    } else if (type == QEvent::MouseMove && m_drawing) {
        m_drawCurrent = p;
        m_drawnRect = p == m_drawStart ? QRect() : spanOf(m_drawStart, p).adjusted(0, 0, -1, -1);
    } else if (type == QEvent::MouseButtonRelease && mouse->button() == Qt::LeftButton && m_drawing) {
        m_drawCurrent = p;
        m_regions[size_t(m_drawSlot - 1)] = snapToGrid(spanOf(m_drawStart, p));
        m_drawing = false;
    } else {
        return;
    }
    m_overlay->update();
}

void qwDevsetMotion::paintOverlay()
{
    if (!m_detectEnabled)
        return;
    QPainter painter(m_overlay);
    painter.setPen(QColor(255, 255, 255, 90));
    for (int x = 0; x <= kPreviewWidth; x += kCellWidth)
        painter.drawLine(x, 0, x, kPreviewHeight);
    for (int y = 0; y <= kPreviewHeight; y += kCellHeight)
        painter.drawLine(0, y, kPreviewWidth, y);
    const auto drawCells = [&painter](const QRect &r, int firstX, int firstY) {
        painter.drawRect(r);
        for (int x = firstX; x < r.right(); x += kCellWidth)
            painter.drawLine(x, r.top(), x, r.bottom());
        for (int y = firstY; y < r.bottom(); y += kCellHeight)
            painter.drawLine(r.left(), y, r.right(), y);
    };
    painter.setPen(QColor(255, 0, 0));
    for (QRect &region : m_regions) {
        if (region.isEmpty())
            continue;
        region = snapToGrid(region);
        drawCells(region, region.left(), region.top());
    }
    if (m_drawing && !m_drawnRect.isEmpty())
        drawCells(m_drawnRect, ceilDiv(m_drawnRect.left(), kCellWidth) * kCellWidth,
                  ceilDiv(m_drawnRect.top(), kCellHeight) * kCellHeight);
    for (const QRect &cell : motionCells())
        painter.fillRect(cell, QColor(238, 201, 0, 104));
}

void qwDevsetMotion::paintLevelGraph()
{
    QPainter painter(m_graph);
    const int w = m_graph->width();
    const int h = m_graph->height();
    QPainterPath path(QPointF(0, h));
    for (int i = 0; i < kHistory; ++i)
        path.lineTo(i, h - 1 - m_levelHistory[size_t(i)] * (h - 2) / kMaxLevel);
    painter.setPen(QColor(255, 0, 0));
    painter.drawPath(path);
    painter.setPen(QColor(255, 255, 255, 200));
    for (int k = 0; k <= 10; ++k) {
        const int y = int(k * h / 10.0);
        painter.drawLine(0, y, w, y);
    }
    // The threshold line is the device's value.
    if (m_readState->isBlank())
        return;
    painter.setPen(QPen(QColor(0, 0, 255), 2, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    const int y = h - m_threshold * (h - 2) / 100;
    painter.drawLine(0, y, w, y);
}

void qwDevsetMotion::OnCGIHeadCompleted(int nID, int code)
{
    if (nID != kMotionId || !m_motionRequest || sender() != m_motionRequest)
        return;
    if (code == CGIUtil::ResultOk)
        devset::showTip(this, qwTipsdlgEx::Success, QStringLiteral("setsuccess"));
    else
        devset::showTip(this, qwTipsdlgEx::Failure, QStringLiteral("setfailed"));
}

void qwDevsetMotion::OnChkEableClick()
{
    setDetection(m_enable->isChecked());
}

void qwDevsetMotion::OnSliderThresholdValueChange(int value)
{
    m_threshold = value;
    m_graph->update();
}

void qwDevsetMotion::OnBtnClearAllRects()
{
    m_regions.fill(QRect());
    m_overlay->update();
}

void qwDevsetMotion::OnBtnFullScreenRect()
{
    m_regions.fill(QRect());
    m_regions[0] = toPreviewRect(QRect(0, 0, m_resWidth, m_resHeight), m_resWidth, m_resHeight);
    m_overlay->update();
}

void qwDevsetMotion::OnBtnSetupSchedule()
{
    auto *dialog = new qwScheduleDialog(this, SCHEDULE_ALARM);
    dialog->setDeviceInfo(devip, httpport, username, password);
    dialog->show();
}

void qwDevsetMotion::OnBtnSetupActions()
{
    auto *dialog = new qwActionsDialog(this);
    dialog->setDeviceInfo(devip, httpport, username, password);
    dialog->show();
}

void qwDevsetMotion::OnBtnRestoreParameters()
{
    if (m_readState->readAgainIfUnread())
        return;
    m_regions.fill(QRect());
    setDetection(false);
    m_sensitivity->setValue(6);
    m_thresholdSlider->setValue(20);
}

void qwDevsetMotion::OnBtnSaveParameters()
{
    if (!m_readState->isRead())
        return;
    QStringList values{QString::number(m_enable->isChecked() ? 1 : 0), QString::number(m_resWidth),
                       QString::number(m_resHeight), QString::number(m_sensitivity->value() - 1),
                       QString::number(m_thresholdSlider->value())};
    for (const QRect &region : m_regions) {
        const QRect d = region.isEmpty() ? QRect() : toDeviceRect(region, m_resWidth, m_resHeight);
        values << (d.isEmpty()
                       ? QStringLiteral("0,0,0,0")
                       : QStringLiteral("%1,%2,%3,%4").arg(d.left()).arg(d.top()).arg(d.width()).arg(d.height()));
    }
    const QString body = devset::fillXml(
        QStringLiteral("<request><motion ver=\"2.0\"><active>%1</active><resolution>%2x%3</resolution>"
                       "<sensitivity>%4</sensitivity><threshold>%5</threshold><rect>%6</rect><rect>%7</rect>"
                       "<rect>%8</rect><rect>%9</rect></motion></request>"),
        values);
    if (!devset::startPost(m_motionRequest, kWaitMs, kMotionId,
                           devset::devsetUrl("http://%1:%2/action/set?subject=motion", devip, httpport), username,
                           password, body, 2, 3, this, &qwDevsetMotion::OnCGIHeadCompleted))
        devset::showTip(this, qwTipsdlgEx::Failure, QStringLiteral("setfailed"));
}
