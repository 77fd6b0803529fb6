#include "liveview/qwimagepanel.h"

#include "app/core/cgiutil.h"
#include "app/core/qcxmlhelper.h"
#include "liveview/livetext.h"
#include "liveview/panelreplies.h"
#include "liveview/qwptzpanel.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QSlider>
#include <QVBoxLayout>

using namespace livetext;

namespace {

const char *const *const kElements = panelreplies::kImageElements;
const char *const kIcons[] = {":/images/srcimages/videoimage/saturation.png",
                              ":/images/srcimages/videoimage/brightness.png",
                              ":/images/srcimages/videoimage/sharpness.png",
                              ":/images/srcimages/videoimage/contrast.png", ":/images/srcimages/videoimage/mirror.png"};

} // namespace

qwImagePanel::qwImagePanel(qcLiveDeviceRequests *requests, QWidget *parent) : QWidget(parent), m_requests(requests)
{
    initImagePanel();
    showNoValues();
    connect(m_requests, &qcLiveDeviceRequests::deviceChanged, this, &qwImagePanel::onDeviceChanged);
    connect(m_requests, &qcLiveDeviceRequests::imageInfoReady, this, &qwImagePanel::onImageInfo);
    connect(m_requests, &qcLiveDeviceRequests::infoFailed, this, [this](int id) {
        if (id == qcLiveDeviceRequests::GetImageId)
            onImageInfoFailed();
    });
    connect(m_requests, &qcLiveDeviceRequests::imageSetResult, this,
            [this](const qcLiveDeviceRequests::Ticket &ticket, int code) { onSetResult(ticket.generation, code); });
}

qwImagePanel::~qwImagePanel()
{
    // Controls torn down after this may still report (an editor losing
    // its focus); the panel is no longer there to hear it.
    for (QObject *child : findChildren<QObject *>())
        child->disconnect(this);
}

void qwImagePanel::initImagePanel()
{
    setObjectName(QStringLiteral("widget_Sase_Setting"));
    setStyleSheet(QStringLiteral("QWidget#widget_Sase_Setting{background:#2c2c2c;}"));
    // A QWidget subclass paints its style sheet's background only when asked
    // to; without it the white values stand on the tool box's light grey.
    setAttribute(Qt::WA_StyledBackground);
    auto *frame = new QWidget(this);
    frame->setObjectName(QStringLiteral("widget_Image"));
    frame->setStyleSheet(QStringLiteral("QWidget#widget_Image{border:1px solid #828790}"));
    frame->setFixedHeight(172);
    frame->setContentsMargins(6, 12, 6, 2);
    auto *page = new QVBoxLayout(this);
    page->setContentsMargins(2, 2, 2, 2);
    page->addWidget(frame);
    m_readNote = makeReadNote(this);
    page->addWidget(m_readNote);
    page->addStretch();
    auto *grid = new QGridLayout(frame);
    // Icon, slider and value side by side fit the tool box's 260 pixels only
    // without the style's default margins and spacing (here and around the
    // frame): wider, the tool box scrolls sideways and cuts the values off.
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(4);

    const char *const tips[ValueCount] = {"saturation", "brightness", "sharpness", "contrast", "mirroring"};
    for (int i = 0; i < ValueCount; ++i) {
        auto *icon = new QLabel(frame);
        icon->setMaximumSize(26, 26);
        icon->setStyleSheet(QStringLiteral("QLabel{background: #1d1d1d}"));
        icon->setToolTip(liveText(kPreviewPage, kNoSection, tips[i]));
        icon->setPixmap(QPixmap(QLatin1String(kIcons[i])));
        auto *label = new QLabel(i == Mirror ? QString() : QStringLiteral("0"), frame);
        label->setFixedWidth(28);
        label->setAlignment(Qt::AlignCenter);
        grid->addWidget(icon, i, 0);
        grid->addWidget(label, i, 2);
        if (i == Mirror) {
            m_lblMirror = label;
            break;
        }
        label->setStyleSheet(QStringLiteral("QLabel{font-size:14px;font-weight:400;color:white;}"));
        // 28 pixels, unless the widest value does not fit in them.
        label->ensurePolished();
        label->setFixedWidth(qMax(28, label->fontMetrics().horizontalAdvance(QStringLiteral("100")) + 2));
        auto *slider = new QSlider(Qt::Horizontal, frame);
        slider->setObjectName(QStringLiteral("slider_%1").arg(QLatin1String(kElements[i])));
        slider->setRange(0, 100);
        slider->setFixedWidth(176);
        slider->setStyleSheet(qwPtzPanel::sliderStyle());
        grid->addWidget(slider, i, 1);
        m_sliders[i] = slider;
        m_labels[i] = label;
    }
    m_cmbMirror = new QComboBox(frame);
    m_cmbMirror->setObjectName(QStringLiteral("combo_mirror"));
    m_cmbMirror->setFixedWidth(176);
    grid->addWidget(m_cmbMirror, Mirror, 1);
    {
        const QSignalBlocker blocker(m_cmbMirror);
        m_cmbMirror->addItem(liveText(kCommonPage, kNoSection, "sinone"));
        for (const char *key : {"isvertical", "ishorizontal", "isverandhor"})
            m_cmbMirror->addItem(liveText(kPreviewPage, kNoSection, key));
    }

    connect(m_sliders[Saturation], &QSlider::valueChanged, this, &qwImagePanel::onSaturationValueChange);
    connect(m_sliders[Brightness], &QSlider::valueChanged, this, &qwImagePanel::onBrightnessValueChange);
    connect(m_sliders[Sharpness], &QSlider::valueChanged, this, &qwImagePanel::onSharpnessValueChange);
    connect(m_sliders[Contrast], &QSlider::valueChanged, this, &qwImagePanel::onContrastValueChange);
    connect(m_sliders[Saturation], &QSlider::sliderReleased, this, &qwImagePanel::onSaturationRelease);
    connect(m_sliders[Brightness], &QSlider::sliderReleased, this, &qwImagePanel::onBrightnessRelease);
    connect(m_sliders[Sharpness], &QSlider::sliderReleased, this, &qwImagePanel::onSharpnessRelease);
    connect(m_sliders[Contrast], &QSlider::sliderReleased, this, &qwImagePanel::onContrastRelease);
    connect(m_cmbMirror, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &qwImagePanel::onMirrorIndexChange);
}

// ---------------------------------------------------------------- changes

void qwImagePanel::valueChanged(int slider, int value)
{
    m_labels[slider]->setText(QString::number(value));
    sendImageSettings(false);
}

void qwImagePanel::onSaturationValueChange(int value)
{
    valueChanged(Saturation, value);
}
void qwImagePanel::onBrightnessValueChange(int value)
{
    valueChanged(Brightness, value);
}
void qwImagePanel::onSharpnessValueChange(int value)
{
    valueChanged(Sharpness, value);
}
void qwImagePanel::onContrastValueChange(int value)
{
    valueChanged(Contrast, value);
}
void qwImagePanel::onSaturationRelease()
{
    sendImageSettings(true);
}
void qwImagePanel::onBrightnessRelease()
{
    sendImageSettings(true);
}
void qwImagePanel::onSharpnessRelease()
{
    sendImageSettings(true);
}
void qwImagePanel::onContrastRelease()
{
    sendImageSettings(true);
}
void qwImagePanel::onMirrorIndexChange(int)
{
    sendImageSettings(true);
}

qwImagePanel::Values qwImagePanel::shownValues() const
{
    Values v;
    for (int i = 0; i < Mirror; ++i) {
        v.value[i] = m_sliders[i]->value();
        v.label[i] = m_labels[i]->text();
    }
    v.value[Mirror] = m_cmbMirror->currentIndex();
    return v;
}

void qwImagePanel::sendImageSettings(bool force)
{
    if (!force && m_requests->imageSettingsRunning())
        return; // the release sends the final values
    const Values now = shownValues();
    // Only this device's own document is ever sent back to it, with the
    // device's own text wherever the operator changed nothing.
    qcXmlHelper xml(m_xmlBody);
    for (int i = 0; i < ValueCount; ++i) {
        if (now.value[i] != m_device.value[i])
            xml.setText(QLatin1String(kElements[i]), QString::number(now.value[i]));
    }
    const QByteArray printed = m_xmlBody.isEmpty() ? QByteArray() : xml.toText();
    if (printed.isEmpty() || printed.size() > kMaxDocumentBytes || !m_requests->isAddressDevice() ||
        !m_requests->postImageSettings(printed, force)) {
        revert(m_before);
        return;
    }
    m_sent.append({m_requests->generation(qcLiveDeviceRequests::SetImageId), now, printed});
    m_before = now;
}

void qwImagePanel::onSetResult(quint64 generation, int code)
{
    // An earlier request may still report after a later one went out: each
    // result counts for what that request carried.
    int i = 0;
    while (i < m_sent.size() && m_sent[i].generation != generation)
        ++i;
    if (i == m_sent.size())
        return;
    const bool latest = i == m_sent.size() - 1;
    if (code == CGIUtil::ResultOk) {
        m_device = m_sent[i].values;
        m_xmlBody = m_sent[i].document;
    }
    // Those before it were superseded on their way.
    m_sent.erase(m_sent.begin(), m_sent.begin() + i + 1);
    if (code != CGIUtil::ResultOk && latest)
        revert(m_device);
}

void qwImagePanel::revert(const Values &values)
{
    // A held slider is left to its release, which sends (or goes back) anew.
    for (QSlider *s : m_sliders) {
        if (s->isSliderDown())
            return;
    }
    showValues(values);
}

void qwImagePanel::showValues(const Values &values)
{
    for (int i = 0; i < Mirror; ++i) {
        const QSignalBlocker blocker(m_sliders[i]);
        m_sliders[i]->setValue(values.value[i]);
        m_labels[i]->setText(values.label[i]);
    }
    {
        const QSignalBlocker blocker(m_cmbMirror);
        m_cmbMirror->setCurrentIndex(values.value[Mirror]);
    }
    m_before = shownValues();
}

// ---------------------------------------------------------------- information

void qwImagePanel::requestImageInfo()
{
    m_requests->requestImageInfo();
}

void qwImagePanel::onDeviceChanged()
{
    m_readNote->hide();
    showNoValues();
}

void qwImagePanel::showNoValues()
{
    m_xmlBody.clear();
    m_sent.clear();
    setControlsEnabled(false);
    Values none;
    for (QString &label : none.label)
        label.clear();
    none.value[Mirror] = -1;
    m_device = none;
    showValues(none);
}

void qwImagePanel::setControlsEnabled(bool on)
{
    for (QSlider *s : m_sliders)
        s->setEnabled(on);
    m_cmbMirror->setEnabled(on);
}

void qwImagePanel::onImageInfoFailed()
{
    m_readNote->show();
    showNoValues();
}

void qwImagePanel::onImageInfo(const QByteArray &body)
{
    panelreplies::ImageReading read;
    if (!panelreplies::readImage(body, &read)) {
        onImageInfoFailed();
        return;
    }
    m_readNote->hide();
    // A document that would not fit is not kept: the values are shown, but
    // nothing can be sent.
    m_xmlBody = read.document.size() <= kMaxDocumentBytes ? read.document : QByteArray();
    Values v;
    for (int i = 0; i < ValueCount; ++i) {
        v.value[i] = read.value[i];
        if (i != Mirror)
            v.label[i] = read.text[i];
    }
    m_device = v;
    setControlsEnabled(!m_xmlBody.isEmpty());
    revert(v);
}
