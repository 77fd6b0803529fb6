#include "devsettings/qwdevsetaudio.h"

#include "app/core/cgiutil.h"
#include "app/widgets/qwtipsdlgex.h"
#include "devsettings/devicevaluelist.h"
#include "devsettings/devsetframe.h"
#include "devsettings/devsetreadstate.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

namespace {

constexpr int kDevAbilityId = 96;
constexpr int kAudioAbilityId = 97;
constexpr int kVolumeId = 98;
constexpr int kEncodingId = 99;
constexpr int kSection = DEVSET_AUDIO + 1;
constexpr int kWaitMs = 5000;
constexpr int kReadTimeoutSec = 3;
const char *const kNameStyle = "QLabel,QRadioButton,QCheckBox{color:#c2c2c2;}";

// By wire number: the text shown, the ability element, the channel sent.
struct AudioCodec
{
    const char *shown;
    const char *element;
    int channel;
};
const AudioCodec kCodecs[] = {{"G711u", "g711u", 0}, {"G711a", "g711a", 0}, {"AAC", "aac", 1},
                              {"MP2", "mp2", 0},     {"PCM", "pcm", 0},     {"G726", "g726", 0}};
constexpr int kCodecCount = int(sizeof(kCodecs) / sizeof(kCodecs[0]));

int codecOfText(const QString &text)
{
    for (int i = 0; i < kCodecCount; ++i) {
        if (text == QLatin1String(kCodecs[i].shown))
            return i;
    }
    return -1;
}

QLabel *nameLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setStyleSheet(QLatin1String(kNameStyle));
    return label;
}

} // namespace

qwDevsetAudio::qwDevsetAudio(QWidget *parent) : QWidget(parent)
{
    QVBoxLayout *column = devset::preparePage(this, QStringLiteral("widget_Audio"),
                                              devset::text(devset::kRemotePage, devset::kAnySection, "itemaudio"));
    m_enable = new QCheckBox(devset::text(devset::kRemotePage, DEVSET_VIDEO + 1, "enableaudio"), this);
    m_enable->setObjectName(QStringLiteral("checkBox_Enable"));
    m_enable->setStyleSheet(QLatin1String(kNameStyle));
    column->addWidget(m_enable);

    auto *grid = new QGridLayout;
    const auto caption = [](const char *key) { return devset::caption(devset::kRemotePage, kSection, key); };
    m_codec = new QComboBox(this);
    m_codec->setObjectName(QStringLiteral("comboBox_Codec"));
    m_input = new QComboBox(this);
    m_input->setObjectName(QStringLiteral("comboBox_Input"));
    m_input->addItem(devset::text(devset::kRemotePage, kSection, "linein"));
    m_input->addItem(devset::text(devset::kRemotePage, kSection, "macin"));
    m_input->setCurrentIndex(1);
    m_input->setEnabled(false);
    m_sample = new QComboBox(this);
    m_sample->setObjectName(QStringLiteral("comboBox_Sample"));
    grid->addWidget(nameLabel(caption("audiocodec"), this), 0, 0);
    grid->addWidget(m_codec, 0, 1);
    grid->addWidget(nameLabel(caption("audioin"), this), 1, 0);
    grid->addWidget(m_input, 1, 1);
    grid->addWidget(nameLabel(caption("samplingrate"), this), 2, 0);
    grid->addWidget(m_sample, 2, 1);
    const auto volumeRow = [&](int row, const char *key, const char *name, QSlider *&slider, QLabel *&value) {
        slider = new QSlider(Qt::Horizontal, this);
        slider->setObjectName(QStringLiteral("slider_") + QLatin1String(name));
        slider->setRange(0, 100);
        value = nameLabel(QStringLiteral("0"), this);
        value->setObjectName(QStringLiteral("label_%1Value").arg(QLatin1String(name)));
        grid->addWidget(nameLabel(caption(key), this), row, 0);
        grid->addWidget(slider, row, 1);
        grid->addWidget(value, row, 2);
    };
    volumeRow(3, "inputvol", "Input", m_inputVolume, m_inputValue);
    volumeRow(4, "outputvol", "Output", m_outputVolume, m_outputValue);
    grid->setColumnStretch(3, 1);
    column->addLayout(grid);
    column->addStretch();

    const QList<QPushButton *> buttons = devset::addButtonRow(
        column, this, {{"restoreopt", "Restore"}, {"refreshpara", "Refresh"}, {"saveopt", "Save"}}, false);
    connect(m_enable, &QCheckBox::clicked, this, &qwDevsetAudio::OnCheckboxEnableChlick);
    connect(m_inputVolume, &QSlider::valueChanged, this, &qwDevsetAudio::OnSliderInputChange);
    connect(m_outputVolume, &QSlider::valueChanged, this, &qwDevsetAudio::OnSliderOutputChange);
    connect(buttons.at(0), &QPushButton::clicked, this, &qwDevsetAudio::OnBtnRestoreClick);
    connect(buttons.at(1), &QPushButton::clicked, this, &qwDevsetAudio::OnBtnRefreshClick);
    connect(buttons.at(2), &QPushButton::clicked, this, &qwDevsetAudio::OnBtnSaveClick);
    m_readState = new DevsetReadState(this);
    m_readState->addControl(buttons.at(2));
    m_readState->addShown({m_enable, m_codec, m_input, m_sample});
    m_readState->addShown(m_inputVolume, m_inputValue);
    m_readState->addShown(m_outputVolume, m_outputValue);
    m_readState->setReader([this] { read(); });
}

qwDevsetAudio::~qwDevsetAudio()
{
    devset::releaseRequest(m_audioAbilityRequest, kWaitMs);
    devset::releaseRequest(m_volumeRequest, kWaitMs);
    devset::releaseRequest(m_devAbilityRequest, kWaitMs);
    devset::releaseRequest(m_encodingRequest, kWaitMs);
}

void qwDevsetAudio::setDeviceInfo(const QString &ip, const QString &port, const QString &user, const QString &pwd)
{
    devip = ip;
    httpport = port;
    username = user;
    password = pwd;
}

void qwDevsetAudio::stopAllRequests()
{
    devset::stopRequest(m_audioAbilityRequest, kWaitMs);
    devset::stopRequest(m_volumeRequest, kWaitMs);
    devset::stopRequest(m_devAbilityRequest, kWaitMs);
    devset::stopRequest(m_encodingRequest, kWaitMs);
}

void qwDevsetAudio::OnInitParameters(int pageid)
{
    if (pageid == DEVSET_AUDIO)
        read();
}

void qwDevsetAudio::OnBtnRefreshClick()
{
    read();
}

void qwDevsetAudio::read()
{
    stopAllRequests();
    // The encoding follows the audio ability's reply, so that the lists it
    // selects from already hold the device's choices.
    m_readState->startRead(m_devAbilityRequest, kWaitMs, kDevAbilityId,
                           devset::devsetUrl("http://%1:%2/action/get?subject=devability", devip, httpport), username,
                           password, kReadTimeoutSec, this, &qwDevsetAudio::OnCGIDateCompleted, "devability");
    m_readState->startRead(m_audioAbilityRequest, kWaitMs, kAudioAbilityId,
                           devset::devsetUrl("http://%1:%2/action/get?subject=audioencability", devip, httpport),
                           username, password, kReadTimeoutSec, this, &qwDevsetAudio::OnCGIDateCompleted,
                           "audioencability");
    m_readState->startRead(m_volumeRequest, kWaitMs, kVolumeId,
                           devset::devsetUrl("http://%1:%2/action/get?subject=audiovolume", devip, httpport), username,
                           password, kReadTimeoutSec, this, &qwDevsetAudio::OnCGIDateCompleted, "audiovolume");
}

void qwDevsetAudio::OnCGIDateCompleted(int nID)
{
    int value = 0;
    switch (nID) {
    case kDevAbilityId:
        if (sender() != m_devAbilityRequest)
            return;
        if (!m_devAbilityRequest->getXmlInt(QStringLiteral("aimode"), &value))
            value = 0;
        if (value == 2)
            m_inputSelectable = true;
        m_input->setEnabled(value == 2);
        break;
    case kAudioAbilityId:
        if (sender() != m_audioAbilityRequest)
            return;
        buildLists(m_audioAbilityRequest);
        m_readState->startRead(m_encodingRequest, kWaitMs, kEncodingId,
                               devset::devsetUrl("http://%1:%2/action/get?subject=audioenc", devip, httpport), username,
                               password, kReadTimeoutSec, this, &qwDevsetAudio::OnCGIDateCompleted, "audioenc");
        break;
    case kVolumeId:
        if (sender() != m_volumeRequest)
            return;
        if (m_volumeRequest->getXmlInt(QStringLiteral("input"), &value) && value >= 0 && value <= 100)
            m_inputVolume->setValue(value);
        if (m_volumeRequest->getXmlInt(QStringLiteral("output"), &value) && value >= 0 && value <= 100)
            m_outputVolume->setValue(value);
        break;
    case kEncodingId:
        if (sender() == m_encodingRequest)
            applyEncoding(m_encodingRequest);
        break;
    default:
        break;
    }
}

void qwDevsetAudio::buildLists(CGIUtil *r)
{
    m_codec->clear();
    if (r->enterSection(QStringLiteral("g711u"), true)) {
        m_codec->addItem(QLatin1String(kCodecs[0].shown));
        const bool haveOption = r->enterChildSection(QStringLiteral("option"));
        m_sample->clear();
        if (haveOption) {
            do {
                int sample = 0;
                if (r->getSectionInt(QStringLiteral("sample"), &sample, 0))
                    m_sample->addItem(QString::number(sample));
            } while (r->nextSection());
        }
    }
    for (int i = 1; i < kCodecCount; ++i) {
        if (r->enterSection(QLatin1String(kCodecs[i].element), true))
            m_codec->addItem(QLatin1String(kCodecs[i].shown));
    }
}

void qwDevsetAudio::applyEncoding(CGIUtil *r)
{
    int value = 0;
    if (r->getXmlInt(QStringLiteral("codec"), &value) && value >= 0 && value < kCodecCount) {
        m_readCodec = value;
        // A codec or rate the lists lack is shown as it came, and kept.
        devset::useTextsAsValues(m_codec);
        devset::showDeviceValue(m_codec, QLatin1String(kCodecs[value].shown));
    }
    if (r->getXmlInt(QStringLiteral("input"), &value))
        devset::showDeviceValue(m_input, value);
    if (r->getXmlInt(QStringLiteral("sample"), &value)) {
        m_readSample = value;
        devset::useTextsAsValues(m_sample);
        devset::showDeviceValue(m_sample, value);
    }
    if (r->getXmlInt(QStringLiteral("active"), &value)) {
        m_enable->setChecked(value == 1);
        setEncodingEnabled(value == 1);
    }
}

void qwDevsetAudio::setEncodingEnabled(bool enabled)
{
    m_codec->setEnabled(enabled);
    m_sample->setEnabled(enabled);
    m_inputVolume->setEnabled(enabled);
    m_outputVolume->setEnabled(enabled);
}

void qwDevsetAudio::OnCheckboxEnableChlick()
{
    const bool on = m_enable->isChecked();
    setEncodingEnabled(on);
    m_input->setEnabled(on && m_inputSelectable);
}

void qwDevsetAudio::OnSliderInputChange(int value)
{
    m_inputValue->setText(QString::number(value));
}

void qwDevsetAudio::OnSliderOutputChange(int value)
{
    m_outputValue->setText(QString::number(value));
}

void qwDevsetAudio::OnBtnRestoreClick()
{
    if (m_readState->readAgainIfUnread())
        return;
    m_input->setCurrentIndex(1);
    m_codec->setCurrentIndex(0);
    m_sample->setCurrentIndex(0);
    m_inputVolume->setValue(80);
    m_outputVolume->setValue(80);
}

void qwDevsetAudio::OnBtnSaveClick()
{
    if (!m_readState->isRead())
        return;
    // With nothing shown the values of the last encoding reply go back;
    // without one there is nothing the device offered to send.
    int codec = codecOfText(m_codec->currentText());
    if (codec < 0)
        codec = m_readCodec;
    const int sample = m_sample->currentIndex() >= 0 ? m_sample->currentText().toInt() : m_readSample;
    if (codec < 0 || sample < 0) {
        devset::showTip(this, qwTipsdlgEx::Failure, QStringLiteral("setfailed"));
        return;
    }
    const int active = m_enable->isChecked() ? 1 : 0;
    const int input = devset::selectedInt(m_input, 0);
    devset::stopRequest(m_encodingRequest, kWaitMs);
    devset::stopRequest(m_volumeRequest, kWaitMs);
    const QString encoding =
        QStringLiteral("<request><audioenc><active>%1</active><codec>%2</codec><sample>%3</sample>"
                       "<bitwidth>16</bitwidth><bitrate>16000</bitrate><channel>%4</channel><input>%5</input>"
                       "</audioenc></request>")
            .arg(active)
            .arg(codec)
            .arg(sample)
            .arg(kCodecs[codec].channel)
            .arg(input);
    const QString volume =
        QStringLiteral("<request><audiovolume><input>%1</input><output>%2</output></audiovolume></request>")
            .arg(m_inputVolume->value())
            .arg(m_outputVolume->value());
    m_encodingSetDone = false;
    m_volumeSetDone = false;
    m_resultsArmed = true;
    devset::startPost(m_encodingRequest, kWaitMs, kEncodingId,
                      devset::devsetUrl("http://%1:%2/action/set?subject=audioenc", devip, httpport), username,
                      password, encoding, 3, 5, this, &qwDevsetAudio::OnCGIHeaderCompleted);
    devset::startPost(m_volumeRequest, kWaitMs, kVolumeId,
                      devset::devsetUrl("http://%1:%2/action/set?subject=audiovolume", devip, httpport), username,
                      password, volume, 3, 5, this, &qwDevsetAudio::OnCGIHeaderCompleted);
}

void qwDevsetAudio::OnCGIHeaderCompleted(int nID, int code)
{
    if (!m_resultsArmed)
        return;
    bool *done = nullptr;
    if (nID == kEncodingId && sender() == m_encodingRequest)
        done = &m_encodingSetDone;
    else if (nID == kVolumeId && sender() == m_volumeRequest)
        done = &m_volumeSetDone;
    if (!done)
        return;
    if (code != CGIUtil::ResultOk) {
        devset::showTip(this, qwTipsdlgEx::Failure, QStringLiteral("setfailed"));
        m_resultsArmed = false;
        return;
    }
    *done = true;
    if (m_encodingSetDone && m_volumeSetDone)
        devset::showTip(this, qwTipsdlgEx::Success, QStringLiteral("setsuccess"));
}
