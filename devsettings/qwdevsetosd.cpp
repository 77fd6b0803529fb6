#include "devsettings/qwdevsetosd.h"

#include "app/core/qcxmlhelper.h"
#include "app/core/cgiutil.h"
#include "app/core/pathsetting.h"
#include "app/widgets/qwtipsdlgex.h"
#include "devsettings/devsetframe.h"
#include "devsettings/devsetreadstate.h"
#include "devsettings/devsetpreview.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kGetId = 137;
constexpr int kSetId = 138;
constexpr int kUploadId = 139;
constexpr int kSection = DEVSET_OSD + 1;
constexpr int kWaitMs = 5000;
constexpr int kScale = 1000;

struct OsdItem
{
    const char *element;
    const char *key;
    const char *name;
    const char *style;
    QColor pen;
    QSize size;
};
// In table order: the order of drawing and of the hit test. A check box
// shows its frame's hue lightened where the frame's own colour would not
// stand out from the items panel (at least 4.5:1 on its #3d3d3d as the
// program's thin font draws it).
const OsdItem kItems[] = {
    {"system", "showinfo", "System", "QCheckBox{color:#ff9898;}", QColor(205, 51, 51), QSize(93, 26)},
    {"datetime", "showdatetime", "Datetime", "QCheckBox{color:#d889ff;}", QColor(153, 50, 204), QSize(180, 26)},
    {"custom", "showcontent", "Custom", "QCheckBox{color:#b3ee3a;}", QColor(179, 238, 58), QSize(212, 26)},
    {"picture", "showpicture", "Picture", "QCheckBox{color:#6bbbff;}", QColor(99, 184, 255), QSize(34, 34)}};
enum { System, Datetime, Custom, Picture };
// The reply is read and the body written in this order.
const int kWireOrder[] = {System, Datetime, Picture, Custom};

QString chooseWithDialog(QWidget *parent, const QString &folder)
{
    return QFileDialog::getOpenFileName(parent, QString(), folder, QStringLiteral("Picture file (*.jpg)"));
}

qwDevsetOsd::PictureChooser &chooser()
{
    static qwDevsetOsd::PictureChooser c = chooseWithDialog;
    return c;
}

QString pageText(const char *key)
{
    return devset::text(devset::kRemotePage, kSection, key);
}

QPoint toPreview(const QPoint &device)
{
    return QPoint(qMin(device.x(), 992) * qwDevsetOsd::kPreviewWidth / kScale,
                  device.y() * qwDevsetOsd::kPreviewHeight / kScale);
}

// Whatever the screen position, the device gets a place on its scale.
QPoint toDevice(const QPoint &preview)
{
    return QPoint(qBound(0, preview.x() * kScale / qwDevsetOsd::kPreviewWidth, kScale),
                  qBound(0, preview.y() * kScale / qwDevsetOsd::kPreviewHeight, kScale));
}

} // namespace

qwDevsetOsd::qwDevsetOsd(QWidget *parent) : QWidget(parent)
{
    QVBoxLayout *column = devset::preparePage(this, QStringLiteral("widget_VideoOSD"));
    column->setContentsMargins(26, 16, 26, 8);
    const devset::PreviewStage stage =
        devset::makePreviewStage(this, QSize(kPreviewWidth, kPreviewHeight), QSize(kPreviewWidth, kPreviewHeight));
    m_preview = stage.preview;
    m_overlay = stage.overlay;
    m_live = new DevsetPreview(m_preview, DevsetPreview::Drawing::OpenGL);
    column->addWidget(stage.stage);
    for (size_t i = 0; i < m_itemRect.size(); ++i)
        m_itemRect[i] = QRect(QPoint(0, 0), kItems[i].size);

    auto *items = new QWidget(this);
    items->setObjectName(QStringLiteral("widget_VideoOSD_Items"));
    items->setAttribute(Qt::WA_StyledBackground);
    items->setStyleSheet(QStringLiteral("QWidget#widget_VideoOSD_Items{background:#3d3d3d;}"));
    items->setFixedHeight(168);
    auto *grid = new QGridLayout(items);
    for (size_t i = 0; i < m_checks.size(); ++i) {
        m_checks[i] = new QCheckBox(pageText(kItems[i].key), items);
        m_checks[i]->setObjectName(QStringLiteral("checkBox_") + QLatin1String(kItems[i].name));
        m_checks[i]->setStyleSheet(QLatin1String(kItems[i].style));
        grid->addWidget(m_checks[i], int(i), 0);
        connect(m_checks[i], &QCheckBox::clicked, this, &qwDevsetOsd::OnCheckBoxClick);
    }
    m_customText = new QLineEdit(items);
    m_customText->setObjectName(QStringLiteral("lineEdit_Custom"));
    m_customText->setMaxLength(10);
    grid->addWidget(m_customText, Custom, 1);
    m_picturePath = new QLineEdit(items);
    m_picturePath->setObjectName(QStringLiteral("lineEdit_Picture"));
    m_picturePath->setReadOnly(true);
    grid->addWidget(m_picturePath, Picture, 1);
    m_browse = new QPushButton(devset::text(devset::kCommonPage, devset::kAnySection, "browsepath"), items);
    m_browse->setObjectName(QStringLiteral("pushButton_Browse"));
    grid->addWidget(m_browse, Picture, 2);
    m_upload = new QPushButton(pageText("uploadopt"), items);
    m_upload->setObjectName(QStringLiteral("pushButton_Upload"));
    m_upload->setEnabled(false);
    grid->addWidget(m_upload, Picture, 3);
    auto *note = new QLabel(pageText("notepicture"), items);
    note->setStyleSheet(QStringLiteral("QLabel{background:#FF8247;}"));
    grid->addWidget(note, 4, 0, 1, 4);
    column->addWidget(items);
    column->addStretch();

    const QList<QPushButton *> buttons =
        devset::addButtonRow(column, this, {{"restoreopt", "Restore"}, {"saveopt", "Save"}}, false);
    m_restore = buttons.at(0);
    m_save = buttons.at(1);
    for (QPushButton *b : {m_browse, m_upload, m_restore, m_save})
        connect(b, &QPushButton::clicked, this, &qwDevsetOsd::OnButtonClick);
    m_restore->setFixedSize(148, 30);
    m_save->setFixedSize(148, 30);
    m_readState = new DevsetReadState(this);
    m_readState->addControl(m_save);
    for (QCheckBox *check : m_checks)
        m_readState->addShown({check});
    m_readState->addShown({m_customText, m_overlay});
    m_readState->setReader([this] { OnInitParameters(DEVSET_OSD); });
}

qwDevsetOsd::~qwDevsetOsd()
{
    devset::releaseRequest(m_getRequest, kWaitMs);
    devset::releaseRequest(m_setRequest, kWaitMs);
    devset::releaseRequest(m_uploadRequest, kWaitMs);
}

void qwDevsetOsd::setPictureChooser(PictureChooser c)
{
    chooser() = c ? std::move(c) : chooseWithDialog;
}

void qwDevsetOsd::setDeviceInfo(const QString &ip, const QString &port, const QString &user, const QString &pwd)
{
    devip = ip;
    httpport = port;
    username = user;
    password = pwd;
}

void qwDevsetOsd::OnInitParameters(int pageid)
{
    if (pageid != DEVSET_OSD)
        return;
    m_readState->startRead(m_getRequest, kWaitMs, kGetId,
                           devset::devsetUrl("http://%1:%2/action/get?subject=osd", devip, httpport), username,
                           password, 10, this, &qwDevsetOsd::OnCGIDataCompleted, "osd");
}

// The preview builds its picture widget for each stream description itself.
void qwDevsetOsd::OnInitVideoWidget(int, int) {}

qcStreamPlayer *qwDevsetOsd::streamPlayer() const
{
    return m_live->player();
}

void qwDevsetOsd::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_live->start(devip, httpport, username, password);
    m_overlay->raise();
}

void qwDevsetOsd::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_live->stop();
}

void qwDevsetOsd::OnCGIDataCompleted(int nID)
{
    if (nID == kGetId && m_getRequest && sender() == m_getRequest)
        parseOsd();
}

void qwDevsetOsd::parseOsd()
{
    CGIUtil *r = m_getRequest;
    for (int i : kWireOrder) {
        if (!r->enterSection(QLatin1String(kItems[i].element), true))
            continue;
        QString text;
        if (i == Custom && r->getSectionString(QStringLiteral("ctext"), &text, 0))
            m_customText->setText(text);
        // Only the item's own position: a lookup that went on into the next
        // item would take that one's.
        if (!r->enterChildSection(QStringLiteral("osditem")))
            continue;
        int n = 0;
        if (r->getSectionInt(QStringLiteral("active"), &n, 0)) {
            m_checks[size_t(i)]->setChecked(n == 1);
            if (i == Custom)
                m_customText->setEnabled(n == 1);
            else if (i == Picture)
                updatePictureButtons();
        }
        int x = 0;
        int y = 0;
        if (r->getSectionInt(QStringLiteral("xpos"), &x, 0) && r->getSectionInt(QStringLiteral("ypos"), &y, 0)) {
            m_devicePos[size_t(i)] = QPoint(x, y);
            m_moved[size_t(i)] = false;
            m_itemRect[size_t(i)].moveTopLeft(toPreview(QPoint(x, y)));
        }
    }
    m_overlay->update();
}

void qwDevsetOsd::updatePictureButtons()
{
    const bool on = m_checks[Picture]->isChecked();
    m_browse->setEnabled(on);
    m_upload->setEnabled(on && !m_picturePath->text().isEmpty());
}

bool qwDevsetOsd::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_overlay)
        return false;
    switch (event->type()) {
    case QEvent::Paint: {
        // Where the items stand is the device's to say.
        if (m_readState->isBlank())
            break;
        QPainter painter(m_overlay);
        for (size_t i = 0; i < m_itemRect.size(); ++i) {
            painter.setPen(QPen(kItems[i].pen, 2, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
            painter.drawRect(m_itemRect[i]);
        }
        break;
    }
    case QEvent::MouseButtonPress: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() != Qt::LeftButton)
            break;
        m_lastPoint = mouse->pos();
        m_dragIndex = -1;
        for (int i = 0; i < int(m_itemRect.size()) && m_dragIndex < 0; ++i) {
            if (m_itemRect[size_t(i)].contains(m_lastPoint))
                m_dragIndex = i;
        }
        m_dragging = m_dragIndex >= 0;
        break;
    }
    case QEvent::MouseMove: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        const QPoint p = mouse->pos();
        if (m_dragIndex >= 0 && m_dragging) {
            const QPoint delta = p - m_lastPoint;
            if (!delta.isNull()) {
                m_itemRect[size_t(m_dragIndex)].translate(delta);
                m_moved[size_t(m_dragIndex)] = true;
                m_overlay->update();
            }
            const bool inBand =
                p.x() >= 3 && p.y() >= 3 && p.x() < m_overlay->width() - 4 && p.y() < m_overlay->height() - 4;
            if (!inBand)
                endDrag();
        }
        m_lastPoint = p;
        break;
    }
    case QEvent::MouseButtonRelease:
        if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton && m_dragging)
            endDrag();
        break;
    default:
        break;
    }
    return false;
}

void qwDevsetOsd::endDrag()
{
    m_showTips = false;
    sendOsd(false);
    m_dragging = false;
}

void qwDevsetOsd::sendOsd(bool wait)
{
    // Save and a drag of an item alike: only what the device's own settings
    // were read into goes back.
    if (!m_readState->isRead())
        return;
    if (m_setRequest && m_setRequest->isRunning() && !wait)
        return;
    QStringList values;
    for (int i : kWireOrder) {
        const size_t k = size_t(i);
        // An item not moved since it was read goes back as read: converting
        // to the preview and back would move it a little with every save.
        if (m_moved[k]) {
            m_devicePos[k] = toDevice(m_itemRect[k].topLeft());
            m_moved[k] = false;
        }
        values << QString::number(m_checks[k]->isChecked() ? 1 : 0) << QString::number(m_devicePos[k].x())
               << QString::number(m_devicePos[k].y());
    }
    values << xmlEscape(m_customText->text());
    const QString body = devset::fillXml(
        QStringLiteral("<request><osd ver=\"2.0\"><system><osditem><active>%1</active><xpos>%2</xpos><ypos>%3</ypos>"
                       "</osditem></system><datetime><osditem><active>%4</active><xpos>%5</xpos><ypos>%6</ypos>"
                       "</osditem></datetime><picture><osditem><active>%7</active><xpos>%8</xpos><ypos>%9</ypos>"
                       "</osditem></picture><custom><osditem><active>%10</active><xpos>%11</xpos><ypos>%12</ypos>"
                       "</osditem><ctext>%13</ctext></custom></osd></request>"),
        values);
    if (!devset::startPostEx(m_setRequest, kWaitMs, kSetId,
                             devset::devsetUrl("http://%1:%2/action/set?subject=osd", devip, httpport), username,
                             password, body.toUtf8(), this, &qwDevsetOsd::OnCGIHeadCompleted) &&
        m_showTips)
        devset::showTip(this, qwTipsdlgEx::Failure, QStringLiteral("setfailed"));
}

void qwDevsetOsd::OnCGIHeadCompleted(int nID, int code)
{
    if (nID == kSetId && m_setRequest && sender() == m_setRequest) {
        if (!m_showTips)
            return;
        if (code == CGIUtil::ResultOk)
            devset::showTip(this, qwTipsdlgEx::Success, QStringLiteral("setsuccess"));
        else
            devset::showTip(this, qwTipsdlgEx::Failure, QStringLiteral("setfailed"));
    } else if (nID == kUploadId && m_uploadRequest && sender() == m_uploadRequest) {
        if (code == CGIUtil::ResultOk)
            devset::showTip(this, qwTipsdlgEx::Success, QStringLiteral("uploadsecc"));
        else
            devset::showTip(this, qwTipsdlgEx::Failure, QStringLiteral("uploaderr"));
    }
}

void qwDevsetOsd::OnCheckBoxClick()
{
    if (sender() == m_checks[Custom])
        m_customText->setEnabled(m_checks[Custom]->isChecked());
    else if (sender() == m_checks[Picture])
        updatePictureButtons();
}

void qwDevsetOsd::OnButtonClick()
{
    QObject *button = sender();
    if (button == m_browse) {
        onBrowsePicture();
    } else if (button == m_upload) {
        uploadLogo();
    } else if (button == m_restore) {
        restoreDefaults();
    } else if (button == m_save) {
        m_showTips = true;
        sendOsd(true);
    }
}

void qwDevsetOsd::onBrowsePicture()
{
    const QString file = chooser()(this, getPathSetting(PATH_NORMAL));
    if (file.isEmpty())
        return;
    m_logoPath = file;
    m_picturePath->setText(file);
    setPathSetting(PATH_NORMAL, getParentDir(file));
    m_upload->setEnabled(true);
}

void qwDevsetOsd::uploadLogo()
{
    if (m_logoPath.isEmpty())
        return;
    // A file gone since it was chosen would go as an empty or failed part.
    const QFileInfo file(m_logoPath);
    if (!file.isFile() || !file.isReadable() ||
        !devset::startUpload(m_uploadRequest, kWaitMs, kUploadId,
                             devset::devsetUrl("http://%1:%2/action/upload?file=logo", devip, httpport), username,
                             password, m_logoPath, this, &qwDevsetOsd::OnCGIHeadCompleted))
        devset::showTip(this, qwTipsdlgEx::Failure, QStringLiteral("uploaderr"));
}

void qwDevsetOsd::restoreDefaults()
{
    if (m_readState->readAgainIfUnread())
        return;
    m_checks[System]->setChecked(true);
    m_checks[Datetime]->setChecked(true);
    m_checks[Custom]->setChecked(false);
    m_checks[Picture]->setChecked(false);
    m_customText->setEnabled(false);
    m_browse->setEnabled(false);
    m_upload->setEnabled(false);
}
