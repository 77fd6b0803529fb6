#include "devsettings/qwdevsetvideo.h"

#include "app/core/qcxmlhelper.h"
#include "app/core/cgiutil.h"
#include "app/widgets/qwtipsdlgex.h"
#include "devsettings/devicevaluelist.h"
#include "devsettings/devsetframe.h"
#include "devsettings/devsetreadstate.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace {

constexpr int kMainAbilityId = 121;
constexpr int kSubAbilityId = 122;
constexpr int kMainId = 123;
constexpr int kSubId = 124;
constexpr int kSection = DEVSET_VIDEO + 1;
constexpr int kWaitMs = 5000;
constexpr int kReadTimeoutSec = 3;
const char *const kNameStyle = "QLabel,QRadioButton,QCheckBox{color:#c2c2c2;}";
const char *const kQualityKeys[] = {"thebest", "better", "good", "normal", "worse"};
const char *const kValueNames[] = {"active", "codec",   "resolution", "framerate", "rc",
                                   "keygop", "bitrate", "quality",    "profile"};

const char *const kEncUrls[] = {"http://%1:%2/action/get?subject=videoenc&stream=0",
                                "http://%1:%2/action/get?subject=videoenc&stream=1"};
const char *const kAbilityUrls[] = {"http://%1:%2/action/get?subject=videoencability&stream=0",
                                    "http://%1:%2/action/get?subject=videoencability&stream=1"};
const char *const kSetUrls[] = {"http://%1:%2/action/set?subject=videoenc&stream=0",
                                "http://%1:%2/action/set?subject=videoenc&stream=1"};
const char *const kSetBodies[] = {
    "<request><videoenc ver=\"2.0\"><active>1</active><codec>%1</codec><resolution>%2</resolution>"
    "<framerate>%3</framerate><rc>%4</rc><keygop>%5</keygop><bitrate>%6</bitrate><quality>%7</quality>"
    "<profile>%8</profile></videoenc></request>",
    "<request><videoenc ver=\"2.0\"><active>%1</active><codec>%2</codec><resolution>%3</resolution>"
    "<framerate>%4</framerate><rc>%5</rc><keygop>%6</keygop><bitrate>%7</bitrate><quality>%8</quality>"
    "<profile>%9</profile></videoenc></request>"};

QString pageText(const char *key)
{
    return devset::text(devset::kRemotePage, kSection, key);
}

// "lo-hi" as two parts, empty parts kept.
bool splitRange(const QString &text, QString *lo, QString *hi)
{
    const QStringList parts = text.split(QLatin1Char('-'));
    if (parts.size() != 2)
        return false;
    *lo = parts.at(0);
    *hi = parts.at(1);
    return true;
}

void appendNumbers(QComboBox *list, const QString &rangeText, int *hiOut = nullptr)
{
    QString lo;
    QString hi;
    if (!splitRange(rangeText, &lo, &hi))
        return;
    const int first = lo.toInt();
    const int last = hi.toInt();
    if (hiOut)
        *hiOut = last;
    const QSignalBlocker block(list);
    for (int v = first; v <= last; ++v)
        list->addItem(QString::number(v));
}

// Selects the entry of that text; a text the list lacks becomes an extra
// entry, so that a save sends it back as it came.
void selectText(QComboBox *list, const QString &text)
{
    if (text.isEmpty())
        return;
    const QSignalBlocker block(list);
    devset::useTextsAsValues(list);
    devset::showDeviceValue(list, text);
}

} // namespace

qwDevsetVideo::qwDevsetVideo(QWidget *parent) : QWidget(parent)
{
    QVBoxLayout *column = devset::preparePage(this, QStringLiteral("widget_Video"));
    auto *panels = new QHBoxLayout;
    panels->addWidget(initStreamWidgets(0));
    panels->addWidget(initStreamWidgets(1));
    column->addLayout(panels);
    column->addStretch();

    const QList<QPushButton *> buttons =
        devset::addButtonRow(column, this, {{"refreshpara", "Refresh"}, {"saveopt", "Save"}}, false);
    m_refresh = buttons.at(0);
    m_save = buttons.at(1);
    connect(m_refresh, &QPushButton::clicked, this, &qwDevsetVideo::OnBtnRefreshClicked);
    connect(m_save, &QPushButton::clicked, this, &qwDevsetVideo::OnBtnSaveClicked);
    m_readState = new DevsetReadState(this);
    m_readState->addControl(m_save);
    for (const Stream &s : m_streams) {
        m_readState->addShown(
            {s.codec, s.resolution, s.profile, s.framerate, s.rc, s.range, s.bitrate, s.quality, s.keygop});
    }
    m_readState->addShown({m_streams[1].enable});
    m_readState->setReader([this] { load(); });

    Stream &main = m_streams[0];
    Stream &sub = m_streams[1];
    connect(main.rc, qOverload<int>(&QComboBox::currentIndexChanged), this, &qwDevsetVideo::OnMainBitrateTypeChange);
    connect(main.codec, qOverload<int>(&QComboBox::currentIndexChanged), this, &qwDevsetVideo::OnMainEncoderTypeChange);
    connect(main.resolution, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &qwDevsetVideo::OnMainSolutionChange);
    connect(sub.rc, qOverload<int>(&QComboBox::currentIndexChanged), this, &qwDevsetVideo::OnSubBitrateTypeChange);
    connect(sub.codec, qOverload<int>(&QComboBox::currentIndexChanged), this, &qwDevsetVideo::OnSubEncoderTypeChange);
    connect(sub.resolution, qOverload<int>(&QComboBox::currentIndexChanged), this, &qwDevsetVideo::OnSubSolutionChange);
    connect(sub.enable, qOverload<int>(&QComboBox::currentIndexChanged), this, &qwDevsetVideo::OnSubstreamEnableChange);
}

qwDevsetVideo::~qwDevsetVideo()
{
    for (Stream &s : m_streams) {
        devset::releaseRequest(s.abilityRequest, kWaitMs);
        devset::releaseRequest(s.request, kWaitMs);
    }
}

QWidget *qwDevsetVideo::initStreamWidgets(int n)
{
    Stream &s = m_streams[n];
    auto *panel = new QWidget(this);
    auto *layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *title =
        new QLabel(devset::text(devset::kCommonPage, devset::kAnySection, n ? "substream" : "mainstream"), panel);
    title->setStyleSheet(QStringLiteral("QLabel{background:#454545;color:white;}"));
    title->setFixedHeight(38);
    layout->addWidget(title);
    auto *grid = new QGridLayout;
    layout->addLayout(grid);
    layout->addStretch();

    const QString suffix = QString::number(n);
    int row = 0;
    const auto addRow = [&](const QString &caption, QWidget *field) {
        auto *label = new QLabel(caption + QLatin1Char(':'), panel);
        label->setStyleSheet(QLatin1String(kNameStyle));
        grid->addWidget(label, row, 0);
        grid->addWidget(field, row, 1);
        ++row;
    };
    const auto list = [&](const char *name) {
        auto *box = new QComboBox(panel);
        box->setObjectName(QStringLiteral("comboBox_") + QLatin1String(name) + suffix);
        return box;
    };
    if (n == 1) {
        s.enable = new QComboBox(panel);
        s.enable->setObjectName(QStringLiteral("comboBox_SubEnable"));
        s.enable->addItem(devset::text(devset::kCommonPage, devset::kAnySection, "sno"));
        s.enable->addItem(devset::text(devset::kCommonPage, devset::kAnySection, "syes"));
        addRow(devset::text(devset::kCommonPage, devset::kAnySection, "enables"), s.enable);
    }
    s.codec = list("Codec");
    addRow(pageText("encodetype"), s.codec);
    s.resolution = list("Resolution");
    addRow(pageText("resolution"), s.resolution);
    s.profile = list("Profile");
    s.profile->addItems({QStringLiteral("Baseline"), QStringLiteral("Main Profile"), QStringLiteral("High Profile")});
    addRow(pageText("profile"), s.profile);
    s.framerate = list("Framerate");
    addRow(pageText("framerate"), s.framerate);
    s.rc = list("BitrateType");
    s.rc->addItems({pageText("bitvbr"), pageText("bitcbr")});
    addRow(pageText("bitratetype"), s.rc);
    s.range = new QLabel(panel);
    s.range->setTextFormat(Qt::PlainText);
    s.range->setObjectName(QStringLiteral("label_BitrateRange") + suffix);
    s.range->setStyleSheet(QStringLiteral("QLabel{color:#868686;}"));
    addRow(pageText("bitrefrence"), s.range);
    s.bitrate = new QLineEdit(panel);
    s.bitrate->setObjectName(QStringLiteral("lineEdit_Bitrate") + suffix);
    addRow(pageText("bitrate"), s.bitrate);
    s.quality = list("Quality");
    addRow(pageText("encodequality"), s.quality);
    s.keygop = list("Keyframe");
    addRow(pageText("keyframe"), s.keygop);
    return panel;
}

void qwDevsetVideo::setDeviceInfo(const QString &ip, const QString &port, const QString &user, const QString &pwd)
{
    devip = ip;
    httpport = port;
    username = user;
    password = pwd;
}

void qwDevsetVideo::OnInitParameters(int pageid)
{
    if (pageid == DEVSET_VIDEO)
        load();
}

void qwDevsetVideo::OnBtnRefreshClicked()
{
    load();
}

void qwDevsetVideo::load()
{
    for (Stream &s : m_streams) {
        s.parsed = false;
        s.abilityParsed = false;
    }
    devset::stopRequest(m_streams[0].request, kWaitMs);
    devset::stopRequest(m_streams[1].request, kWaitMs);
    for (Stream &s : m_streams) {
        for (QComboBox *list : {s.quality, s.keygop, s.framerate}) {
            const QSignalBlocker block(list);
            list->clear();
        }
    }
    for (int n = 0; n < 2; ++n) {
        m_readState->startRead(m_streams[n].request, kWaitMs, n ? kSubId : kMainId,
                               devset::devsetUrl(kEncUrls[n], devip, httpport), username, password, kReadTimeoutSec,
                               this, &qwDevsetVideo::OnCGIDateCompleted, "videoenc");
    }
}

void qwDevsetVideo::OnCGIDateCompleted(int nID)
{
    Stream &main = m_streams[0];
    Stream &sub = m_streams[1];
    switch (nID) {
    case kMainAbilityId:
        if (sender() != main.abilityRequest)
            return;
        if (!main.abilityParsed && parseAbility(0))
            main.abilityParsed = true;
        break;
    case kSubAbilityId:
        if (sender() != sub.abilityRequest)
            return;
        if (!sub.abilityParsed && parseAbility(1))
            sub.abilityParsed = true;
        break;
    case kMainId:
        if (sender() != main.request)
            return;
        if (parseVideoenc(0))
            main.parsed = true;
        break;
    case kSubId:
        if (sender() != sub.request)
            return;
        if (parseVideoenc(1))
            sub.parsed = true;
        break;
    default:
        return;
    }
    m_abilityWanted = !sub.abilityParsed;
    if ((nID == kMainId || nID == kSubId) && main.parsed && sub.parsed && m_abilityWanted)
        requestAbilities();
}

bool qwDevsetVideo::parseVideoenc(int n)
{
    Stream &s = m_streams[n];
    if (!s.request)
        return false;
    bool activeFound = false;
    for (int v = 0; v < ValueCount; ++v) {
        QString text;
        if (s.request->getXmlString(QLatin1String(kValueNames[v]), &text)) {
            s.values[v] = text;
            activeFound |= v == Active;
        }
    }
    if (n == 1 && activeFound) {
        {
            const QSignalBlocker block(s.enable);
            s.enable->setCurrentIndex(s.values[Active] == QLatin1String("0") ? 0 : 1);
        }
        applySubEnabled(s.values[Active] != QLatin1String("0"));
    }
    return true;
}

void qwDevsetVideo::applySubEnabled(bool enabled)
{
    Stream &s = m_streams[1];
    for (QWidget *w :
         std::initializer_list<QWidget *>{s.rc, s.codec, s.framerate, s.keygop, s.profile, s.resolution, s.bitrate})
        w->setEnabled(enabled);
    s.quality->setEnabled(enabled && s.values[Rc] == QLatin1String("0"));
}

void qwDevsetVideo::stopAllRequests()
{
    devset::stopRequest(m_streams[0].abilityRequest, kWaitMs);
    devset::stopRequest(m_streams[0].request, kWaitMs);
    devset::stopRequest(m_streams[1].abilityRequest, kWaitMs);
    devset::stopRequest(m_streams[1].request, kWaitMs);
}

bool qwDevsetVideo::requestAbilities()
{
    if (m_streams[0].abilityRequest || m_streams[1].abilityRequest)
        stopAllRequests();
    for (int n = 0; n < 2; ++n) {
        m_readState->startRead(m_streams[n].abilityRequest, kWaitMs, n ? kSubAbilityId : kMainAbilityId,
                               devset::devsetUrl(kAbilityUrls[n], devip, httpport), username, password, kReadTimeoutSec,
                               this, &qwDevsetVideo::OnCGIDateCompleted, "videoencability");
    }
    m_abilityWanted = false;
    return true;
}

CGIUtil *qwDevsetVideo::abilityReply(int n) const
{
    CGIUtil *r = m_streams[n].abilityRequest;
    return r && !r->isRunning() ? r : nullptr;
}

void qwDevsetVideo::applyBitrateRange(int n, const QString &rangeText, bool capEdit)
{
    Stream &s = m_streams[n];
    QString lo;
    QString hi;
    if (splitRange(rangeText, &lo, &hi)) {
        s.bitrateMin = lo;
        s.bitrateMax = hi;
        if (capEdit && s.values[Bitrate].toInt() > hi.toInt())
            s.bitrate->setText(hi);
        delete s.validator;
        s.validator = new QIntValidator(lo.toInt(), hi.toInt(), this);
        s.bitrate->setValidator(s.validator);
    }
    s.range->setText(QStringLiteral("[") + rangeText + QStringLiteral("] kbps"));
}

bool qwDevsetVideo::parseAbility(int n)
{
    Stream &s = m_streams[n];
    CGIUtil *r = abilityReply(n);
    if (!r)
        return false;
    const QSignalBlocker blockCodec(s.codec);
    const QSignalBlocker blockResolution(s.resolution);
    s.codec->clear();
    s.resolution->clear();
    const QString chosen = s.values[Codec] == QLatin1String("1") ? QStringLiteral("h265") : QStringLiteral("h264");

    // Only the codecs the device names, each with the number it is sent as.
    if (r->enterSection(QStringLiteral("h264"), true))
        s.codec->addItem(QStringLiteral("H264"), 0);
    if (r->enterSection(QStringLiteral("h265"), true))
        s.codec->addItem(QStringLiteral("H265"), 1);
    if (s.codec->count() == 0)
        s.codec->addItem(QStringLiteral("H264"), 0);
    selectCodec(n);

    if (!r->enterSection(chosen, true))
        return false;
    if (r->enterChildSection(QStringLiteral("option"))) {
        bool listsFilled = false;
        do {
            QString resolution;
            if (!r->getSectionString(QStringLiteral("resolution"), &resolution, 0))
                continue;
            s.resolution->addItem(resolution);
            if (resolution != s.values[Resolution])
                continue;
            QString text;
            if (r->getSectionString(QStringLiteral("bitrate"), &text, 0))
                applyBitrateRange(n, text, false);
            if (listsFilled)
                continue;
            listsFilled = true;
            if (r->getSectionString(QStringLiteral("framerate"), &text, 0))
                appendNumbers(s.framerate, text);
            if (r->getSectionString(QStringLiteral("quality"), &text, 0) && text == QLatin1String("0-5")) {
                const QSignalBlocker block(s.quality);
                for (const char *key : kQualityKeys)
                    s.quality->addItem(pageText(key));
                devset::setEntryValues(s.quality, {"5", "4", "3", "2", "1"});
            }
            if (r->getSectionString(QStringLiteral("keygop"), &text, 0))
                appendNumbers(s.keygop, text);
        } while (r->nextSection());
    }
    selectCurrentValues(n);
    return true;
}

void qwDevsetVideo::selectCodec(int n)
{
    // A codec the list lacks is shown as an extra entry rather than another
    // codec that a save would then switch the device to.
    Stream &s = m_streams[n];
    const QString &codec = s.values[Codec];
    if (codec.isEmpty())
        return;
    const QSignalBlocker block(s.codec);
    devset::showDeviceValue(s.codec, codec,
                            codec == QLatin1String("0")   ? QStringLiteral("H264")
                            : codec == QLatin1String("1") ? QStringLiteral("H265")
                                                          : codec);
}

void qwDevsetVideo::selectCurrentValues(int n)
{
    Stream &s = m_streams[n];
    const QStringList &v = s.values;
    // Values the lists lack are shown as extra entries and sent back as they came.
    selectText(s.resolution, v[Resolution]);
    devset::showDeviceValue(s.profile, v[Profile].toInt());
    selectText(s.framerate, v[Framerate]);
    const int rc = v[Rc].toInt();
    {
        const QSignalBlocker block(s.rc);
        devset::showDeviceValue(s.rc, rc);
    }
    const bool streamOn = n == 0 || v[Active] == QLatin1String("1");
    s.quality->setEnabled(rc == 0 && streamOn);
    if (!v[Bitrate].isEmpty())
        s.bitrate->setText(v[Bitrate]);
    if (s.quality->count() > 0) {
        const QSignalBlocker block(s.quality);
        devset::showDeviceValue(s.quality, v[Quality].toInt());
    }
    selectText(s.keygop, v[Keygop]);
}

void qwDevsetVideo::solutionChange(int n)
{
    Stream &s = m_streams[n];
    s.values[Resolution] = s.resolution->currentText();
    CGIUtil *r = abilityReply(n);
    if (!r)
        return;
    int cap = 5;
    const QString codec = s.values[Codec] == QLatin1String("0") ? QStringLiteral("h264") : QStringLiteral("h265");
    if (r->enterSection(codec, true) && r->enterChildSection(QStringLiteral("option"))) {
        do {
            QString resolution;
            if (!r->getSectionString(QStringLiteral("resolution"), &resolution, 0) ||
                resolution != s.values[Resolution])
                continue;
            QString text;
            if (r->getSectionString(QStringLiteral("bitrate"), &text, 0))
                applyBitrateRange(n, text, true);
            if (r->getSectionString(QStringLiteral("framerate"), &text, 0)) {
                {
                    const QSignalBlocker block(s.framerate);
                    s.framerate->clear();
                }
                appendNumbers(s.framerate, text, &cap);
            }
            break;
        } while (r->nextSection());
    }
    if (s.values[Framerate].toInt() > cap)
        selectText(s.framerate, QString::number(cap));
    else
        selectText(s.framerate, s.values[Framerate]);
}

void qwDevsetVideo::OnMainSolutionChange(int)
{
    solutionChange(0);
}

void qwDevsetVideo::OnSubSolutionChange(int)
{
    solutionChange(1);
}

void qwDevsetVideo::OnMainEncoderTypeChange(int)
{
    // The lists of another codec come with the next load after a save.
}

void qwDevsetVideo::OnSubEncoderTypeChange(int) {}

void qwDevsetVideo::OnMainBitrateTypeChange(int index)
{
    m_streams[0].quality->setEnabled(index == 0);
}

void qwDevsetVideo::OnSubBitrateTypeChange(int index)
{
    Stream &s = m_streams[1];
    s.quality->setEnabled(index == 0);
    s.values[Rc] = devset::selectedValue(s.rc);
}

void qwDevsetVideo::OnSubstreamEnableChange(int index)
{
    applySubEnabled(index != 0);
}

void qwDevsetVideo::OnBtnSaveClicked()
{
    if (!m_readState->isRead())
        return;
    if (!saveStream(0))
        devset::showTip(this, qwTipsdlgEx::Failure, QStringLiteral("unknowerror"));
}

bool qwDevsetVideo::saveStream(int n)
{
    Stream &s = m_streams[n];
    QStringList &v = s.values;
    // A list without a current item keeps the value last read or sent, so
    // that nothing the device never offered goes out.
    if (n == 1)
        v[Active] = QString::number(s.enable->currentIndex());
    if (s.codec->currentIndex() >= 0)
        v[Codec] = devset::selectedValue(s.codec);
    if (s.resolution->currentIndex() >= 0)
        v[Resolution] = s.resolution->currentText();
    if (s.profile->currentIndex() >= 0)
        v[Profile] = devset::selectedValue(s.profile);
    if (s.framerate->currentIndex() >= 0)
        v[Framerate] = s.framerate->currentText();
    if (s.rc->currentIndex() >= 0)
        v[Rc] = devset::selectedValue(s.rc);
    v[Bitrate] = s.bitrate->text();
    if (s.quality->currentIndex() >= 0)
        v[Quality] = devset::selectedValue(s.quality);
    if (s.keygop->currentIndex() >= 0)
        v[Keygop] = s.keygop->currentText();

    const int bitrate = v[Bitrate].toInt();
    if (bitrate < s.bitrateMin.toInt() || bitrate > s.bitrateMax.toInt()) {
        devset::showTip(this, qwTipsdlgEx::Failure, QStringLiteral("invbitrate"));
        return true;
    }
    QStringList fields;
    if (n == 1)
        fields << v[Active];
    for (int i : {Codec, Resolution, Framerate, Rc, Keygop, Bitrate, Quality, Profile})
        fields << xmlEscape(v[i]);
    const QString body = devset::fillXml(QLatin1String(kSetBodies[n]), fields);

    if (n == 0)
        m_streams[1].setOk = false;
    s.setOk = false;
    m_resultArmed = true;
    return devset::startPost(s.request, kWaitMs, n ? kSubId : kMainId, devset::devsetUrl(kSetUrls[n], devip, httpport),
                             username, password, body, 3, 5, this, &qwDevsetVideo::OnCGIHeadCompleted);
}

void qwDevsetVideo::OnCGIHeadCompleted(int nID, int code)
{
    if (nID != kMainId && nID != kSubId)
        return;
    Stream &s = m_streams[nID == kSubId];
    if (sender() != s.request || !m_resultArmed)
        return;
    if (code != CGIUtil::ResultOk) {
        devset::showTip(this, qwTipsdlgEx::Failure, QStringLiteral("setfailed"));
        m_resultArmed = false;
        return;
    }
    s.setOk = true;
    if (nID == kMainId && !saveStream(1))
        devset::showTip(this, qwTipsdlgEx::Failure, QStringLiteral("unknowerror"));
    if (m_streams[0].setOk && m_streams[1].setOk)
        devset::showTip(this, qwTipsdlgEx::Success, QStringLiteral("setsuccess"));
}
