#include "liveview/qwvideoshowtoolbar.h"

#include "liveview/livetext.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QToolButton>

namespace {
const char kNormalLook[] = "QToolButton{border:0px;background:transparent;}"
                           "QToolButton:hover{background:#666666;}";
const char kActiveLook[] = "QToolButton{border:0px;background:#1874cd;}"
                           "QToolButton:hover{background:#1baafb;}";
} // namespace

qwVideoshowToolbar::qwVideoshowToolbar(QWidget *parent, int index) : QWidget(parent), m_index(index)
{
    setAttribute(Qt::WA_StyledBackground, true);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 0, 4, 0);
    layout->setSpacing(2);

    m_recording = new QLabel(QStringLiteral("Recording"), this);
    m_recording->setStyleSheet(QStringLiteral("QLabel{color:#ff3030;}"));
    m_recording->hide();
    layout->addWidget(m_recording);
    layout->addStretch();

    using namespace livetext;
    m_zoom = makeButton(Zoom, QStringLiteral(":/images/srcimages/viewbar/zoom.png"), QStringLiteral("Zoom"));
    m_snapshot = makeButton(Snapshot, QStringLiteral(":/images/srcimages/viewbar/snapshot.png"),
                            liveText(kCommonPage, kAlarmActions, "snapshot"));
    m_record = makeButton(Record, QStringLiteral(":/images/srcimages/viewbar/record.png"),
                          liveText(kPreviewPage, kNoSection, "record"));
    m_stop = makeButton(Stop, QStringLiteral(":/images/srcimages/viewbar/stop.png"),
                        liveText(kPreviewPage, kNoSection, "stopall"));
    m_play = makeButton(Play, QStringLiteral(":/images/srcimages/viewbar/play.png"),
                        liveText(kPreviewPage, kNoSection, "playctrl"));
    for (QToolButton *b : {m_zoom, m_snapshot, m_record, m_stop, m_play})
        layout->addWidget(b);
    // A view that gets a bar shows its device, so stop is the button offered.
    m_play->hide();
}

QToolButton *qwVideoshowToolbar::makeButton(int id, const QString &icon, const QString &tip)
{
    auto *button = new QToolButton(this);
    button->setObjectName(QStringLiteral("toolbar_%1").arg(id));
    button->setIcon(QIcon(icon));
    button->setIconSize(QSize(16, 16));
    button->setFixedSize(20, 20);
    button->setToolTip(tip);
    button->setStyleSheet(QLatin1String(kNormalLook));
    connect(button, &QToolButton::clicked, this, [this, id] { onButton(id); });
    return button;
}

QToolButton *qwVideoshowToolbar::button(int id) const
{
    switch (id) {
    case Zoom:
        return m_zoom;
    case Snapshot:
        return m_snapshot;
    case Record:
        return m_record;
    case Stop:
        return m_stop;
    case Play:
        return m_play;
    default:
        return nullptr;
    }
}

void qwVideoshowToolbar::applyLook(QToolButton *button, bool active)
{
    button->setStyleSheet(QLatin1String(active ? kActiveLook : kNormalLook));
}

void qwVideoshowToolbar::onButton(int id)
{
    int status = 0;
    if (id == Zoom) {
        // Status 0 switches on, 1 switches off.
        status = m_zoomOn ? 1 : 0;
        m_zoomOn = !m_zoomOn;
        applyLook(m_zoom, m_zoomOn);
    } else if (id == Record) {
        status = m_recordOn ? 1 : 0;
        m_recordOn = !m_recordOn;
        applyLook(m_record, m_recordOn);
    }
    emit sigToolbarButtonClick(m_index, id, status);
}

void qwVideoshowToolbar::setButtonState(int mask, bool active)
{
    if (mask & Zoom) {
        m_zoomOn = active;
        applyLook(m_zoom, active);
    }
    if (mask & Record) {
        m_recordOn = active;
        applyLook(m_record, active);
    }
    if (mask & Play) {
        m_play->show();
        m_stop->hide();
    }
    if (mask & Stop) {
        m_stop->show();
        m_play->hide();
    }
}

void qwVideoshowToolbar::showRecording(bool on)
{
    m_recording->setVisible(on && width() >= kRecordingMinWidth);
}
