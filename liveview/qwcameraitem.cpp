#include "liveview/qwcameraitem.h"

#include "app/widgets/qclabelex.h"
#include "liveview/livetext.h"
#include "liveview/qwcstmvideoview.h"

#include <QDrag>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QPixmap>
#include <QVBoxLayout>

using namespace livetext;

namespace {
const char kButtonStyle[] = "QLabel{border:1px solid transparent;border-radius:2px;background:transparent;}"
                            "QLabel:hover{border:1px solid white;background:transparent;}";
const int kCell = 48;
const int kOptionCell = 26;
const int kDevicePictureX = 192;

struct StateLook
{
    int iconX;
    const char *key;
};
const StateLook kStates[] = {
    {0, "isoffline"}, {48, "isconnecting"}, {96, "islogined"}, {144, "isplaying"}, {0, "isloginerr"}};

int spriteX(int mask)
{
    switch (mask) {
    case qwCameraItem::Play:
        return 26;
    case qwCameraItem::Face:
        return 52;
    case qwCameraItem::Settings:
        return 78;
    case qwCameraItem::Modify:
        return 104;
    case qwCameraItem::Delete:
        return 130;
    default:
        return 0;
    }
}

void runDrag(qwCameraItem *source, QMimeData *data, const QPixmap &picture)
{
    auto *drag = new QDrag(source);
    drag->setMimeData(data);
    drag->setPixmap(picture);
    drag->setHotSpot(QPoint(24, 24));
    QObject::connect(drag, &QDrag::targetChanged, source, &qwCameraItem::OnDragResult);
    drag->exec(Qt::MoveAction);
}

qwCameraItem::DragRunner g_dragRunner = runDrag;
} // namespace

void qwCameraItem::setDragRunner(DragRunner runner)
{
    g_dragRunner = runner ? runner : runDrag;
}

qwCameraItem::qwCameraItem(QWidget *parent, const QString &name, int index, bool showOptions)
    : QWidget(parent), m_index(index)
{
    m_statusSprite = new QPixmap(QStringLiteral(":/images/srcimages/status.png"));
    m_optionSprite = new QPixmap(QStringLiteral(":/images/srcimages/devlistcntl.png"));
    setStyleSheet(QStringLiteral("QLabel{color:white;}"));

    auto *main = new QVBoxLayout(this);
    main->setContentsMargins(0, 2, 0, 3);
    main->setSpacing(0);
    auto *line1 = new QWidget(this);
    auto *line2 = new QWidget(this);
    line2->setMaximumHeight(30);
    main->addWidget(line1);
    main->addWidget(line2);

    auto *l1 = new QHBoxLayout(line1);
    l1->setContentsMargins(0, 0, 0, 0);
    l1->setSpacing(0);
    m_icon = new QLabel(line1);
    m_icon->setMaximumSize(38, 38);
    m_icon->setScaledContents(true);
    l1->addWidget(m_icon);
    auto *texts = new QWidget(line1);
    auto *tl = new QVBoxLayout(texts);
    m_name = new QLabel(texts);
    m_name->setMinimumHeight(18);
    m_state = new QLabel(texts);
    m_state->setMinimumHeight(16);
    tl->addWidget(m_name);
    tl->addWidget(m_state);
    tl->addStretch();
    l1->addWidget(texts);

    auto *l2 = new QHBoxLayout(line2);
    l2->setContentsMargins(5, 0, 0, 0);
    l2->setSpacing(4);
    m_info = new QLabel(line2);
    m_info->setFixedSize(108, 22);
    // Names and addresses are shown as they were typed.
    for (QLabel *label : {m_name, m_state, m_info})
        label->setTextFormat(Qt::PlainText);
    l2->addWidget(m_info);
    l2->addStretch();
    m_refresh = makeButton(line2, Refresh, 0, liveText(kCommonPage, kNoSection, "refreshpara"));
    m_face = makeButton(line2, Face, 52, QStringLiteral("Face detection"));
    m_settings = makeButton(line2, Settings, 78, liveText(kPreviewPage, kNoSection, "devsettings"));
    m_modify = makeButton(line2, Modify, 104, liveText(kPreviewPage, kNoSection, "modifydevice"));
    m_delete = makeButton(line2, Delete, 130, liveText(kPreviewPage, kNoSection, "deletedevice"));
    for (qcLabelEx *b : {m_refresh, m_face, m_settings, m_modify, m_delete})
        l2->addWidget(b);
    m_play = makeButton(line2, Play, 26, liveText(kPreviewPage, kNoSection, "playctrl"));
    m_play->hide();
    m_face->hide();

    m_icon->setPixmap(statusCell(0));
    m_name->setText(name);
    m_state->setText(liveText(kPreviewPage, kNoSection, "isoffline"));
    if (!showOptions)
        line2->hide();
}

qwCameraItem::~qwCameraItem()
{
    delete m_statusSprite;
    delete m_optionSprite;
}

QPixmap qwCameraItem::statusCell(int x) const
{
    return m_statusSprite->copy(x, 0, kCell, kCell);
}

qcLabelEx *qwCameraItem::makeButton(QWidget *parent, int mask, int x, const QString &tip)
{
    auto *button = new qcLabelEx(parent);
    button->setObjectName(QStringLiteral("option_%1").arg(mask));
    button->setScaledContents(true);
    button->setMaximumSize(20, 20);
    button->setStyleSheet(QLatin1String(kButtonStyle));
    button->setCursor(Qt::PointingHandCursor);
    button->setToolTip(tip);
    setButtonLook(button, x, true);
    connect(button, &qcLabelEx::sigClick, this, [this, mask] {
        // Refresh has no bit of its own and cannot be disabled.
        if (mask != Refresh && !(m_enabled & mask))
            return;
        emit sigOptionBtnClick(m_index, mask);
    });
    return button;
}

void qwCameraItem::setButtonLook(qcLabelEx *button, int x, bool enabled)
{
    button->setPixmap(m_optionSprite->copy(x, enabled ? 0 : kOptionCell, kOptionCell, kOptionCell));
}

qcLabelEx *qwCameraItem::optionButton(int mask) const
{
    switch (mask) {
    case Refresh:
        return m_refresh;
    case Play:
        return m_play;
    case Face:
        return m_face;
    case Settings:
        return m_settings;
    case Modify:
        return m_modify;
    case Delete:
        return m_delete;
    default:
        return nullptr;
    }
}

void qwCameraItem::setStatus(int state)
{
    if (state < Offline || state > LoginError)
        return;
    m_status = state;
    m_icon->setPixmap(statusCell(kStates[state].iconX));
    m_state->setText(liveText(kPreviewPage, kNoSection, "devstatus") + QStringLiteral(": ") +
                     liveText(kPreviewPage, kNoSection, kStates[state].key));
}

void qwCameraItem::setName(const QString &name)
{
    m_name->setText(name);
}

void qwCameraItem::setInfoText(const QString &text)
{
    if (m_info)
        m_info->setText(text);
}

void qwCameraItem::setDeviceLabel(const QString &text)
{
    m_icon->setPixmap(statusCell(kDevicePictureX));
    m_state->setText(text);
}

void qwCameraItem::disableOptions(int mask)
{
    for (int bit : {Play, Face, Settings, Modify, Delete}) {
        if (mask & bit) {
            m_enabled &= ~bit;
            setButtonLook(optionButton(bit), spriteX(bit), false);
        }
    }
}

void qwCameraItem::enableOptions(int mask)
{
    for (int bit : {Play, Face, Settings, Modify, Delete}) {
        if (mask & bit) {
            m_enabled |= bit;
            setButtonLook(optionButton(bit), spriteX(bit), true);
        }
    }
}

bool qwCameraItem::isOptionEnabled(int mask) const
{
    return mask == Refresh || (m_enabled & mask) == mask;
}

QMimeData *qwCameraItem::createDragData()
{
    auto *data = new QMimeData;
    data->setData(QLatin1String(qwCstmVideoview::kDragFormat), QByteArrayLiteral("0x117101"));
    return data;
}

void qwCameraItem::OnDragResult(QObject *target)
{
    Q_UNUSED(target)
}

void qwCameraItem::mouseMoveEvent(QMouseEvent *event)
{
    if (event->buttons() != Qt::LeftButton || !m_dragEnabled)
        return;
    g_dragRunner(this, createDragData(), statusCell(kDevicePictureX));
}
