#include "devsettings/qwdevsetimage.h"

#include "app/core/cgiutil.h"
#include "devsettings/devicevaluelist.h"
#include "devsettings/devsetframe.h"
#include "devsettings/devsetreadstate.h"
#include "devsettings/devsetpreview.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QTimeEdit>
#include <QVBoxLayout>

namespace {

constexpr int kGetId = 121;
constexpr int kSetId = 122;
constexpr int kSection = DEVSET_IMAGE + 1;
constexpr int kWaitMs = 5000;
constexpr int kRecycleWaitMs = 3000;
const char *const kNameStyle = "QLabel,QRadioButton,QCheckBox{color:#c2c2c2;}";

const char *const kSetBody =
    "<request><videoimage ver=\"2.0\"><freq>%1</freq><saturation>%2</saturation><sharpness>%3</sharpness>"
    "<contrast>%4</contrast><brightness>%5</brightness><mirror>%6</mirror><noise>%7</noise><ldc>%8</ldc>"
    "<defog>%9</defog><rotate>%10</rotate><daynight><mode>%11</mode><tsection>%12</tsection><color>%13</color>"
    "<grey>%14</grey></daynight><widedynamic><wdr>%15</wdr><backlight>%16</backlight></widedynamic>"
    "<autoexposure><metter>%17</metter><shutter>%18</shutter><iris>%19</iris></autoexposure><whitebalance>"
    "<mode>%20</mode><rgain>%21</rgain><ggain>%22</ggain><bgain>%23</bgain></whitebalance></videoimage></request>";

QLabel *nameLabel(const char *key, QWidget *parent)
{
    auto *label = new QLabel(devset::imageText(key) + QLatin1Char(':'), parent);
    label->setStyleSheet(QLatin1String(kNameStyle));
    return label;
}

QWidget *group(const QString &name, QWidget *parent)
{
    auto *w = new QWidget(parent);
    w->setObjectName(name);
    return w;
}

} // namespace

qwDevsetImage::qwDevsetImage(QWidget *parent) : QWidget(parent)
{
    QVBoxLayout *column = devset::preparePage(this, QStringLiteral("widget_Image"));
    auto *columns = new QHBoxLayout;
    auto *left = new QVBoxLayout;
    m_videoView = group(QStringLiteral("widget_Videoview"), this);
    m_videoView->setAttribute(Qt::WA_StyledBackground);
    m_videoView->setStyleSheet(QStringLiteral("QWidget#widget_Videoview{background:black;}"));
    m_videoView->setFixedHeight(282);
    m_live = new DevsetPreview(m_videoView, DevsetPreview::Drawing::Direct3D);
    left->addWidget(m_videoView);
    QWidget *advance = group(QStringLiteral("widget_Advance"), this);
    auto *advanceGrid = new QGridLayout(advance);
    left->addWidget(advance);
    left->addStretch();
    columns->addLayout(left, 1);
    QWidget *base = group(QStringLiteral("widget_Base"), this);
    base->setFixedWidth(468);
    auto *baseGrid = new QGridLayout(base);
    columns->addWidget(base);
    column->addLayout(columns);

    const QStringList offOn = devset::imageTexts({"disables", "enables"});
    addSlider(baseGrid, "saturation", Saturation);
    addSlider(baseGrid, "brightness", Brightness);
    addSlider(baseGrid, "sharpness", Sharpness);
    addSlider(baseGrid, "contrast", Contrast);
    addCombo(baseGrid, "blc", Backlight, offOn);
    addCombo(baseGrid, "wdr", Wdr, offOn);
    addCombo(baseGrid, "daynight", DaynightMode, devset::imageTexts({"automode", "colors", "bw", "timing"}));
    const int periodRow = baseGrid->rowCount();
    QLabel *periodName = nameLabel("period", base);
    baseGrid->addWidget(periodName, periodRow, 0);
    auto *times = new QHBoxLayout;
    m_periodRow << periodName;
    for (Value v : {DaynightStart, DaynightEnd}) {
        auto *edit = new QTimeEdit(base);
        edit->setObjectName(QStringLiteral("timeEdit_period%1").arg(v == DaynightEnd));
        edit->setDisplayFormat(QStringLiteral("HH:mm:ss"));
        edit->setToolTip(devset::imageText("noteswitch"));
        connect(edit, &QTimeEdit::editingFinished, this, &qwDevsetImage::OnTimerEditValueChange);
        times->addWidget(edit);
        m_controls[v] = edit;
        m_valueOf.insert(edit, v);
        m_periodRow << edit;
    }
    baseGrid->addLayout(times, periodRow, 1);
    addCombo(baseGrid, "whitebalance", WhiteBalance,
             devset::imageTexts({"automode", "outdoor", "indoor", "fluorescent", "manual"}));
    for (auto gain : {std::make_pair("redgain", RedGain), std::make_pair("greengain", GreenGain),
                      std::make_pair("bluegain", BlueGain)}) {
        const int row = baseGrid->rowCount();
        addSlider(baseGrid, gain.first, gain.second);
        for (int c = 0; c < 3; ++c)
            m_gainRows << baseGrid->itemAtPosition(row, c)->widget();
    }
    addCombo(baseGrid, "shutter", Shutter,
             {"1/2", "1/4", "1/8", "1/10", "1/12", "1/15", "1/25(50Hz)1/30(60Hz)", "1/50(50Hz)1/60(60Hz)",
              "1/100(50Hz)1/120(60Hz)", "1/125", "1/200", "1/250", "1/500", "1/1000"});
    addCombo(baseGrid, "mirroring", Mirror,
             devset::imageTexts({"sinone", "isvertical", "ishorizontal", "isverandhor"}));
    addCombo(baseGrid, "corridormode", Rotate, offOn);

    addCombo(advanceGrid, "lightmeter", Metering, devset::imageTexts({"globalrec", "middlerec"}));
    addCombo(advanceGrid, "autoiris", AutoIris, offOn);
    addCombo(advanceGrid, "videostd", Freq, {QStringLiteral("50Hz"), QStringLiteral("60Hz")});
    addCombo(advanceGrid, "defog", Defog, offOn);
    addSlider(advanceGrid, "s3dnr", Noise);
    addSlider(advanceGrid, "ldc", Ldc);
    showPeriodRow(false);
    showGainRows(false);

    QWidget *option = group(QStringLiteral("widget_Option"), this);
    option->setFixedHeight(40);
    auto *optionRow = new QVBoxLayout(option);
    optionRow->setContentsMargins(0, 0, 0, 0);
    const QList<QPushButton *> buttons =
        devset::addButtonRow(optionRow, option, {{"restoreopt", "Restore"}, {"resetopt", "Reset"}}, false);
    connect(buttons.at(0), &QPushButton::clicked, this, &qwDevsetImage::OnBtnRestoreDefault);
    connect(buttons.at(1), &QPushButton::clicked, this, &qwDevsetImage::OnBtnReset);
    column->addWidget(option);
    // Every change goes out at once: nothing may change before a read.
    // Restore stays: on a page not read it reads again.
    m_readState = new DevsetReadState(this);
    for (QWidget *w : {advance, base, static_cast<QWidget *>(buttons.at(1))})
        m_readState->addControl(w);
    for (int v = 0; v < ValueCount; ++v) {
        if (qobject_cast<QSlider *>(m_controls[v]))
            m_readState->addShown(m_controls[v], m_valueLabels[v]);
        else if (m_controls[v])
            m_readState->addShown({m_controls[v]});
    }
    m_readState->setReader([this] { OnInitParameters(DEVSET_IMAGE); });
}

qwDevsetImage::~qwDevsetImage()
{
    devset::releaseRequest(m_getRequest, kWaitMs);
    for (CGIUtil *&slot : m_requestPool)
        devset::releaseRequest(slot, kWaitMs);
}

QSlider *qwDevsetImage::addSlider(QGridLayout *grid, const char *key, Value value)
{
    QWidget *parent = grid->parentWidget();
    const int row = grid->rowCount();
    auto *slider = new QSlider(Qt::Horizontal, parent);
    slider->setObjectName(QStringLiteral("slider_") + QLatin1String(key));
    slider->setRange(0, 100);
    auto *number = new QLabel(QStringLiteral("0"), parent);
    number->setObjectName(QStringLiteral("label_%1Value").arg(QLatin1String(key)));
    number->setStyleSheet(QLatin1String(kNameStyle));
    grid->addWidget(nameLabel(key, parent), row, 0);
    grid->addWidget(slider, row, 1);
    grid->addWidget(number, row, 2);
    connect(slider, &QSlider::valueChanged, number, qOverload<int>(&QLabel::setNum));
    connect(slider, &QSlider::valueChanged, this, &qwDevsetImage::OnSliderValueChange);
    connect(slider, &QSlider::sliderPressed, this, &qwDevsetImage::OnSliderPressed);
    connect(slider, &QSlider::sliderReleased, this, &qwDevsetImage::OnSliderReleased);
    m_controls[value] = slider;
    m_valueLabels[value] = number;
    m_valueOf.insert(slider, value);
    return slider;
}

QComboBox *qwDevsetImage::addCombo(QGridLayout *grid, const char *key, Value value, const QStringList &items)
{
    QWidget *parent = grid->parentWidget();
    const int row = grid->rowCount();
    auto *combo = new QComboBox(parent);
    combo->setObjectName(QStringLiteral("comboBox_") + QLatin1String(key));
    combo->addItems(items);
    grid->addWidget(nameLabel(key, parent), row, 0);
    grid->addWidget(combo, row, 1);
    connect(combo, qOverload<int>(&QComboBox::currentIndexChanged), this, &qwDevsetImage::OnComboBoxIndexChange);
    m_controls[value] = combo;
    m_valueOf.insert(combo, value);
    return combo;
}

void qwDevsetImage::setDeviceInfo(const QString &ip, const QString &port, const QString &user, const QString &pwd)
{
    devip = ip;
    httpport = port;
    username = user;
    password = pwd;
}

void qwDevsetImage::OnInitParameters(int pageid)
{
    if (pageid != DEVSET_IMAGE)
        return;
    m_readState->startRead(m_getRequest, kWaitMs, kGetId,
                           devset::devsetUrl("http://%1:%2/action/get?subject=videoimage", devip, httpport), username,
                           password, 10, this, &qwDevsetImage::OnCGIDateCompleted, "videoimage");
}

void qwDevsetImage::OnCGIDateCompleted(int nID)
{
    if (nID == kGetId && m_getRequest && sender() == m_getRequest)
        parseVideoImage();
}

void qwDevsetImage::OnCGIHeadCompleted(int, int) {}

qcStreamPlayer *qwDevsetImage::streamPlayer() const
{
    return m_live->player();
}

void qwDevsetImage::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_live->start(devip, httpport, username, password);
}

void qwDevsetImage::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_live->stop();
}

void qwDevsetImage::setSliderValue(Value value, int n)
{
    auto *slider = static_cast<QSlider *>(m_controls[value]);
    {
        const QSignalBlocker block(slider);
        slider->setValue(n);
    }
    // The label and the value keep the number even where the slider clamps.
    m_valueLabels[value]->setNum(n);
    m_curValues[value] = n;
}

void qwDevsetImage::setComboValue(Value value, int n)
{
    auto *combo = static_cast<QComboBox *>(m_controls[value]);
    const QSignalBlocker block(combo);
    // Below 0 the value is not known yet: nothing is shown.
    if (n < 0)
        combo->setCurrentIndex(-1);
    else
        devset::showDeviceValue(combo, n);
    m_curValues[value] = n;
}

void qwDevsetImage::setTimeValue(Value value, int seconds)
{
    auto *edit = static_cast<QTimeEdit *>(m_controls[value]);
    const QSignalBlocker block(edit);
    edit->setTime(QTime(seconds / 3600, seconds % 3600 / 60, seconds % 60));
    m_curValues[value] = seconds;
}

void qwDevsetImage::showPeriodRow(bool shown)
{
    for (QWidget *w : qAsConst(m_periodRow))
        w->setVisible(shown);
}

void qwDevsetImage::showGainRows(bool shown)
{
    for (QWidget *w : qAsConst(m_gainRows))
        w->setVisible(shown);
}

void qwDevsetImage::parseVideoImage()
{
    CGIUtil *r = m_getRequest;
    int n = 0;
    const auto top = [&](const char *element) { return r->getXmlInt(QLatin1String(element), &n); };
    const auto child = [&](const char *element) { return r->getSectionInt(QLatin1String(element), &n, 0); };
    for (auto slider : {std::make_pair("saturation", Saturation), std::make_pair("brightness", Brightness),
                        std::make_pair("sharpness", Sharpness), std::make_pair("contrast", Contrast)}) {
        if (top(slider.first))
            setSliderValue(slider.second, n);
    }
    if (top("freq"))
        setComboValue(Freq, n);
    if (top("mirror"))
        setComboValue(Mirror, n);
    if (top("noise"))
        setSliderValue(Noise, n);
    if (top("ldc"))
        setSliderValue(Ldc, n);
    if (!top("rotate"))
        m_controls[Rotate]->setEnabled(false);
    else
        setComboValue(Rotate, n);
    if (top("defog"))
        setComboValue(Defog, n);
    if (r->enterSection(QStringLiteral("daynight"), true)) {
        if (child("mode")) {
            setComboValue(DaynightMode, n);
            showPeriodRow(m_curValues[DaynightMode] == 3);
        }
        QString section;
        if (r->getSectionString(QStringLiteral("tsection"), &section, 0)) {
            const QStringList parts = section.split(QLatin1Char('-'));
            if (parts.size() == 2) {
                setTimeValue(DaynightStart, parts.at(0).toInt());
                setTimeValue(DaynightEnd, parts.at(1).toInt());
            }
        }
        if (child("color"))
            m_curValues[Colour] = n;
        if (child("grey"))
            m_curValues[Grey] = n;
    }
    if (r->enterSection(QStringLiteral("widedynamic"), true)) {
        if (child("wdr"))
            setComboValue(Wdr, n);
        if (child("backlight"))
            setComboValue(Backlight, n);
    }
    if (r->enterSection(QStringLiteral("autoexposure"), true)) {
        if (child("metter"))
            setComboValue(Metering, n);
        if (child("shutter"))
            setComboValue(Shutter, n);
        if (child("iris"))
            setComboValue(AutoIris, n);
    }
    if (r->enterSection(QStringLiteral("whitebalance"), true)) {
        if (child("mode")) {
            setComboValue(WhiteBalance, n);
            showGainRows(n == 4);
        }
        for (auto gain : {std::make_pair("rgain", RedGain), std::make_pair("ggain", GreenGain),
                          std::make_pair("bgain", BlueGain)}) {
            if (child(gain.first))
                setSliderValue(gain.second, n);
        }
    }
    m_devValues = m_curValues;
    m_valuesKnown = true;
}

void qwDevsetImage::OnSliderValueChange(int)
{
    if (!m_sliderPressed && sender())
        sendImageParams(sender());
}

void qwDevsetImage::OnSliderPressed()
{
    m_sliderPressed = true;
}

void qwDevsetImage::OnSliderReleased()
{
    m_sliderPressed = false;
    if (sender())
        sendImageParams(sender());
}

void qwDevsetImage::OnComboBoxIndexChange(int index)
{
    QObject *combo = sender();
    if (!combo)
        return;
    if (combo == m_controls[DaynightMode])
        showPeriodRow(index == 3);
    else if (combo == m_controls[WhiteBalance])
        showGainRows(index == 4);
    sendImageParams(combo);
}

void qwDevsetImage::OnTimerEditValueChange()
{
    if (sender())
        sendImageParams(sender());
}

// Shows every value of m_curValues in its widget, without sending.
void qwDevsetImage::showValues()
{
    const Values values = m_curValues;
    for (int v = 0; v < ValueCount; ++v) {
        QWidget *w = m_controls[v];
        if (qobject_cast<QSlider *>(w))
            setSliderValue(Value(v), values[v]);
        else if (qobject_cast<QComboBox *>(w))
            setComboValue(Value(v), values[v]);
        else if (qobject_cast<QTimeEdit *>(w))
            setTimeValue(Value(v), qMax(0, values[v]));
    }
    m_curValues = values;
    showGainRows(values[WhiteBalance] == 4);
    showPeriodRow(values[DaynightMode] == 3);
}

void qwDevsetImage::OnBtnReset()
{
    m_curValues = m_devValues;
    showValues();
    sendImageParams(nullptr);
}

void qwDevsetImage::OnBtnRestoreDefault()
{
    if (m_readState->readAgainIfUnread())
        return;
    Values defaults(ValueCount, 0);
    for (Value v : {Saturation, Brightness, Sharpness, Contrast, Noise, RedGain, GreenGain, BlueGain})
        defaults[v] = 50;
    defaults[Colour] = 10;
    defaults[Shutter] = 6;
    m_curValues = defaults;
    m_valuesKnown = true;
    showValues();
    sendImageParams(nullptr);
}

CGIUtil *qwDevsetImage::getFreeRequest()
{
    CGIUtil *last = m_requestPool[m_poolIndex];
    if (last && !last->isFinished())
        return nullptr;
    int slot = -1;
    for (int i = 0; i < kPoolSize && slot < 0; ++i) {
        if (!m_requestPool[i])
            slot = i;
    }
    if (slot < 0) {
        slot = (m_poolIndex + 1) % kPoolSize;
        devset::stopRequest(m_requestPool[slot], kRecycleWaitMs);
    }
    m_requestPool[slot] = new CGIUtil(kSetId);
    m_poolIndex = slot;
    return m_requestPool[slot];
}

void qwDevsetImage::sendImageParams(QObject *changed)
{
    // The change is kept whether or not it can go now: a later send carries
    // it, instead of the value the widget no longer shows.
    if (changed) {
        const Value v = m_valueOf.value(changed, ValueCount);
        if (v == ValueCount)
            return;
        if (auto *slider = qobject_cast<QSlider *>(changed))
            m_curValues[v] = slider->value();
        else if (auto *combo = qobject_cast<QComboBox *>(changed))
            m_curValues[v] = devset::selectedInt(combo);
        else if (auto *edit = qobject_cast<QTimeEdit *>(changed))
            m_curValues[v] = QTime(0, 0).secsTo(edit->time());
    }
    // Before a reply the other values are unknown; sending them would set
    // the device to -1 everywhere.
    if (!m_valuesKnown || !m_readState->isRead())
        return;
    CGIUtil *r = getFreeRequest();
    if (!r) {
        m_sendPending = true;
        return;
    }
    m_sendPending = false;
    const Values &c = m_curValues;
    QString body = QLatin1String(kSetBody);
    for (int v : {Freq, Saturation, Sharpness, Contrast, Brightness, Mirror, Noise, Ldc, Defog, Rotate, DaynightMode})
        body = body.arg(c[v]);
    body = body.arg(QStringLiteral("%1-%2").arg(c[DaynightStart]).arg(c[DaynightEnd]));
    for (int v :
         {Colour, Grey, Wdr, Backlight, Metering, Shutter, AutoIris, WhiteBalance, RedGain, GreenGain, BlueGain})
        body = body.arg(c[v]);
    const QString url = devset::devsetUrl("http://%1:%2/action/set?subject=videoimage", devip, httpport);
    if (!r->setPostRequest(url, username, password, body, nullptr, nullptr, 3, 5)) {
        // An unstarted request would never finish and block the pool.
        delete r;
        m_requestPool[m_poolIndex] = nullptr;
        return;
    }
    connect(r, &QThread::finished, this, &qwDevsetImage::onPoolRequestFinished);
    r->start(QThread::InheritPriority);
}

void qwDevsetImage::onPoolRequestFinished()
{
    auto *r = static_cast<CGIUtil *>(sender());
    if (!r || r != m_requestPool[m_poolIndex] || !m_sendPending)
        return;
    r->wait();
    sendImageParams(nullptr);
}
