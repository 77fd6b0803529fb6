#include "devsettings/qwdevsetimageex.h"

#include "app/core/cgiutil.h"
#include "app/widgets/qwtipsdlgex.h"
#include "devsettings/devicevaluelist.h"
#include "devsettings/devsetframe.h"
#include "devsettings/devsetreadstate.h"
#include "devsettings/devsetpreview.h"
#include "devsettings/qwlabelex.h"
#include "platform/widgets/qrangeslider.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSlider>
#include <QTabWidget>
#include <QVBoxLayout>

#include <limits>

namespace {

using F = ImageScene_t;

constexpr int kGetId = 161;
constexpr int kSetId = 162;
constexpr int kSection = DEVSET_IMAGE + 1;
constexpr int kWaitMs = 5000;
constexpr int kDayMinutes = 1440;
const char *const kNameStyle = "QLabel,QRadioButton,QCheckBox{color:#c2c2c2;}";
const char *const kTabsStyle = "QTabWidget::pane{background:#3d3d3d;border:1px solid #454545;}";
const char *const kRangeStyle =
    "QRangeSlider::groove:horizontal{height:14px;border-width:1px;border-color:#575757;height:8px;background-color:"
    "#575757;}QRangeSlider::add-page:horizontal{background-color:#1baafb;}QRangeSlider::sub-page:horizontal{"
    "background-color:#575757;}QRangeSlider::handle:horizontal{border-color:#2a2a2a;border-width:2px;width:16px;"
    "height:16px;border-radius:8px;background-color:#aaaaaa;}QRangeSlider::handle:hover:horizontal{border-color:"
    "#2a2a2a;background-color:#1baafb;}";
const char *const kOpenArrow = ":/images/srcimages/devsettings/accordionopen.png";
const char *const kClosedArrow = ":/images/srcimages/devsettings/accordionclose.png";

const char *const kSetBody =
    "<request><cameraimage ver=\"2.0\">    <freq>%1</freq>    <rotate>%2</rotate>    <mirror>%3</mirror> "
    "   <mode>%4</mode>    <daysect>%5-%6</daysect>    <imagescene>        <imgstyle>%7</imgstyle>       "
    " <saturation>%8</saturation>        <sharpness>%9</sharpness>        <contrast>%10</contrast>       "
    " <brightness>%11</brightness>        <noise>%12</noise>        <ldc>%13</ldc>        <defog>%14</def"
    "og>        <smartir>%15</smartir>        <dnr2d>%16</dnr2d>        <dnr3d>%17</dnr3d>        <widedy"
    "namic>            <wdr>%18</wdr>            <backlight>%19</backlight>        </widedynamic>        "
    "<autoexposure>            <mode>%20</mode>            <metter>%21</metter>            <shutter>%22</"
    "shutter>            <iris>%23</iris>        </autoexposure>        <whitebalance>            <mode>%"
    "24</mode>            <rgain>%25</rgain>            <ggain>%26</ggain>            <bgain>%27</bgain> "
    "       </whitebalance>    </imagescene>    <imagescene>        <imgstyle>%28</imgstyle>        <satu"
    "ration>%29</saturation>        <sharpness>%30</sharpness>        <contrast>%31</contrast>        <br"
    "ightness>%32</brightness>        <noise>%33</noise>        <ldc>%34</ldc>        <defog>%35</defog> "
    "       <smartir>%36</smartir>        <dnr2d>%37</dnr2d>        <dnr3d>%38</dnr3d>        <widedynami"
    "c>            <wdr>%39</wdr>            <backlight>%40</backlight>        </widedynamic>        <aut"
    "oexposure>            <mode>%41</mode>            <metter>%42</metter>            <shutter>%43</shut"
    "ter>            <iris>%44</iris>        </autoexposure>        <whitebalance>            <mode>%45</"
    "mode>            <rgain>%46</rgain>            <ggain>%47</ggain>            <bgain>%48</bgain>     "
    "   </whitebalance>    </imagescene>    <imagescene>        <imgstyle>%49</imgstyle>        <saturati"
    "on>%50</saturation>        <sharpness>%51</sharpness>        <contrast>%52</contrast>        <bright"
    "ness>%53</brightness>        <noise>%54</noise>        <ldc>%55</ldc>        <defog>%56</defog>     "
    "   <smartir>%57</smartir>        <dnr2d>%58</dnr2d>        <dnr3d>%59</dnr3d>        <widedynamic>  "
    "          <wdr>%60</wdr>            <backlight>%61</backlight>        </widedynamic>        <autoexp"
    "osure>            <mode>%62</mode>            <metter>%63</metter>            <shutter>%64</shutter>"
    "            <iris>%65</iris>        </autoexposure>        <whitebalance>            <mode>%66</mode"
    ">            <rgain>%67</rgain>            <ggain>%68</ggain>            <bgain>%69</bgain>        <"
    "/whitebalance>    </imagescene>    <daynight>        <mode>%70</mode>        <irled>%71</irled>     "
    "   <daysect>%72-%73</daysect>        <color>%74</color>        <grey>%75</grey>    </daynight></came"
    "raimage></request>";

// By field: the element, the group it sits in (none: the scene itself), the
// largest value a read takes, the Restore value (-1: left as it is).
struct FieldSpec
{
    const char *element;
    int max;
    int restore;
};
const FieldSpec kFields[F::FieldCount] = {
    {"imgstyle", 4, 0},    {"saturation", 100, 50}, {"sharpness", 100, 50}, {"brightness", 100, 50},
    {"contrast", 100, 50}, {"noise", 100, 50},      {"ldc", 100, 0},        {"defog", 1, 0},
    {"smartir", 1, 0},     {"wdr", 1, 0},           {"backlight", 1, 0},    {"mode", 1, 0},
    {"metter", 1, 0},      {"shutter", 13, 4},      {"iris", 1, 0},         {"dnr2d", 255, -1},
    {"dnr3d", 255, -1},    {"mode", 4, 0},          {"rgain", 100, 50},     {"ggain", 100, 50},
    {"bgain", 100, 50},    {nullptr, 1, -1}};
// The order of a scene's fields in the set body.
const F::Field kBodyOrder[] = {F::ImgStyle,  F::Saturation,   F::Sharpness, F::Contrast, F::Brightness, F::Noise,
                               F::Ldc,       F::Defog,        F::SmartIr,   F::Dnr2d,    F::Dnr3d,      F::Wdr,
                               F::Backlight, F::ExposureMode, F::Metter,    F::Shutter,  F::Iris,       F::WhiteBalance,
                               F::RedGain,   F::GreenGain,    F::BlueGain};

// "start-end" in seconds as whole minutes of one day, or false.
bool parsePeriod(const QString &text, int *start, int *end)
{
    const QStringList parts = text.split(QLatin1Char('-'));
    if (text.size() <= 3 || parts.size() != 2)
        return false;
    const uint s = parts.at(0).toUInt() / 60;
    const uint e = parts.at(1).toUInt() / 60;
    if (!(s < e && s < uint(kDayMinutes) && e >= 1 && e <= uint(kDayMinutes)))
        return false;
    *start = int(s);
    *end = int(e);
    return true;
}

void showAll(const QList<QWidget *> &widgets, bool shown)
{
    for (QWidget *w : widgets)
        w->setVisible(shown);
}

} // namespace

qwDevsetImageEx::qwDevsetImageEx(QWidget *parent) : QWidget(parent)
{
    QVBoxLayout *column = devset::preparePage(this, QStringLiteral("widget_ImageEx"));
    auto *row = new QHBoxLayout;
    auto *left = new QVBoxLayout;
    m_videoView = new QWidget(this);
    m_videoView->setObjectName(QStringLiteral("widget_Videoview"));
    m_videoView->setAttribute(Qt::WA_StyledBackground);
    m_videoView->setStyleSheet(QStringLiteral("QWidget#widget_Videoview{background-color:black;}"));
    m_videoView->setFixedSize(491, 316);
    m_live = new DevsetPreview(m_videoView, DevsetPreview::Drawing::Direct3D);
    left->addWidget(m_videoView);
    left->addStretch();
    row->addLayout(left);
    auto *right = new QVBoxLayout;
    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("tabWidget_Image"));
    // The tabs hold the page's light names and headings: they need the dark
    // ground of the page's other panels, not the platform's light one.
    m_tabs->setStyleSheet(QLatin1String(kTabsStyle));
    m_tabs->addTab(buildImageTab(), devset::imageText("imgbase"));
    m_tabs->addTab(buildScheduleTab(), devset::text(devset::kRemotePage, devset::kAnySection, "itemschedule"));
    m_tabs->addTab(buildDaynightTab(), devset::imageText("daynightmod"));
    right->addWidget(m_tabs);
    const QList<QPushButton *> buttons = devset::addButtonRow(
        right, this, {{"restoreopt", "Restore"}, {"refreshpara", "Refresh"}, {"saveopt", "Save"}}, false);
    for (QPushButton *b : buttons)
        b->setFixedSize(148, 30);
    connect(buttons.at(0), &QPushButton::clicked, this, &qwDevsetImageEx::OnButtonRestore);
    connect(buttons.at(1), &QPushButton::clicked, this, &qwDevsetImageEx::OnButtonRefresh);
    connect(buttons.at(2), &QPushButton::clicked, this, &qwDevsetImageEx::OnButtonSave);
    m_readState = new DevsetReadState(this);
    m_readState->addControl(buttons.at(2));
    m_readState->addShown({m_freqList, m_mirrorList, m_rotateList, m_modeList, m_daynightList, m_irledList});
    for (QWidget *field : m_fieldWidgets) {
        if (qobject_cast<QComboBox *>(field))
            m_readState->addShown({field});
        else if (field)
            m_readState->addShown(field, devset::sliderNumber(this, field));
    }
    for (QSlider *slider : {m_colourSlider, m_greySlider})
        m_readState->addShown(slider, devset::sliderNumber(this, slider));
    m_readState->setReader([this] { OnButtonRefresh(); });
    row->addLayout(right, 1);
    column->addLayout(row);
}

qwDevsetImageEx::~qwDevsetImageEx()
{
    m_live->stop();
    stopRequest(m_setRequest);
    stopRequest(m_getRequest);
}

QComboBox *qwDevsetImageEx::addList(QGridLayout *grid, const char *key, const QStringList &items)
{
    QWidget *parent = grid->parentWidget();
    const int r = grid->rowCount();
    auto *label = new QLabel(devset::imageText(key) + QLatin1Char(':'), parent);
    label->setStyleSheet(QLatin1String(kNameStyle));
    auto *list = new QComboBox(parent);
    list->setObjectName(QStringLiteral("comboBox_") + QLatin1String(key));
    list->addItems(items);
    grid->addWidget(label, r, 0);
    grid->addWidget(list, r, 1);
    return list;
}

QSlider *qwDevsetImageEx::addSlider(QGridLayout *grid, const char *key, int min, int max, QList<QWidget *> *group)
{
    QWidget *parent = grid->parentWidget();
    const int r = grid->rowCount();
    auto *label = new QLabel(devset::imageText(key) + QLatin1Char(':'), parent);
    label->setStyleSheet(QLatin1String(kNameStyle));
    auto *slider = new QSlider(Qt::Horizontal, parent);
    slider->setObjectName(QStringLiteral("slider_") + QLatin1String(key));
    slider->setRange(min, max);
    auto *value = new QLabel(QStringLiteral("0"), parent);
    value->setObjectName(QStringLiteral("label_%1Value").arg(QLatin1String(key)));
    value->setStyleSheet(QLatin1String(kNameStyle));
    grid->addWidget(label, r, 0);
    grid->addWidget(slider, r, 1);
    grid->addWidget(value, r, 2);
    connect(slider, &QSlider::valueChanged, this, &qwDevsetImageEx::OnSliderChange);
    if (group)
        *group << label << slider << value;
    return slider;
}

QRangeSlider *qwDevsetImageEx::addRangeSlider(QGridLayout *grid, const char *first, const char *second,
                                              QList<QWidget *> *group)
{
    QWidget *parent = grid->parentWidget();
    int r = grid->rowCount();
    auto *caption = new QLabel(devset::imageText("periodset") + QLatin1Char(':'), parent);
    caption->setStyleSheet(QLatin1String(kNameStyle));
    grid->addWidget(caption, r++, 0);
    auto *slider = new QRangeSlider(parent);
    slider->SetOrientation(Qt::Horizontal);
    slider->SetRange(0, kDayMinutes);
    slider->SetValue(300, 700);
    slider->SetShowTooltip(true);
    slider->SetTooltipStyle(QRangeSlider::TimeTooltip);
    slider->setFixedSize(426, 22);
    slider->SetStyleSheet(QLatin1String(kRangeStyle));
    grid->addWidget(slider, r++, 0, 1, 3, Qt::AlignHCenter);
    auto *legend = new QWidget(parent);
    auto *legendRow = new QHBoxLayout(legend);
    for (auto swatch : {std::make_pair(first, "#1baafb"), std::make_pair(second, "#575757")}) {
        auto *square = new QLabel(legend);
        square->setFixedSize(16, 16);
        square->setStyleSheet(QStringLiteral("QLabel{border-width:0px;background-color: %1;}").arg(swatch.second));
        auto *text = new QLabel(devset::imageText(swatch.first), legend);
        text->setStyleSheet(QLatin1String(kNameStyle));
        legendRow->addWidget(square);
        legendRow->addWidget(text);
    }
    legendRow->addStretch();
    grid->addWidget(legend, r, 0, 1, 3);
    *group << caption << slider << legend;
    return slider;
}

QWidget *qwDevsetImageEx::buildImageTab()
{
    auto *scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("tabWidget_Imagebase"));
    scroll->setWidgetResizable(true);
    auto *content = new QWidget(scroll);
    content->setObjectName(QStringLiteral("widget_Imagebase"));
    auto *column = new QVBoxLayout(content);
    auto *top = new QGridLayout;
    column->addLayout(top);
    auto *topHolder = new QWidget(content);
    top->addWidget(topHolder);
    auto *general = new QGridLayout(topHolder);
    const QStringList offOn = devset::imageTexts({"disables", "enables"});
    m_freqList = addList(general, "videostd", {QStringLiteral("50Hz"), QStringLiteral("60Hz")});
    m_mirrorList =
        addList(general, "mirroring", devset::imageTexts({"sinone", "isvertical", "ishorizontal", "isverandhor"}));
    m_rotateList = addList(general, "corridormode", offOn);
    auto *model = new QLabel(devset::imageText("imgmodel"), topHolder);
    model->setStyleSheet(QStringLiteral("QLabel{color:white;}"));
    general->addWidget(model, general->rowCount(), 0, 1, 3);
    m_sceneList = addList(general, "imgtemplate", devset::imageTexts({"imgnormal", "daymode", "nightmode"}));
    connect(m_sceneList, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &qwDevsetImageEx::OnCurrentTemplateChage);

    const char *const headers[] = {"imgadjust", "expsettings", "imgenhancement", "imgadvance"};
    std::array<QGridLayout *, 4> grids{};
    for (int n = 0; n < 4; ++n) {
        auto *header = new QHBoxLayout;
        m_sectionIcons[size_t(n)] = new qwLabelEx(content);
        m_sectionIcons[size_t(n)]->setObjectName(QStringLiteral("label_%1Icon").arg(QLatin1String(headers[n])));
        m_sectionIcons[size_t(n)]->setFixedSize(20, 20);
        m_sectionCaptions[size_t(n)] = new qwLabelEx(content);
        m_sectionCaptions[size_t(n)]->setObjectName(QStringLiteral("label_") + QLatin1String(headers[n]));
        m_sectionCaptions[size_t(n)]->setText(devset::imageText(headers[n]));
        m_sectionCaptions[size_t(n)]->setFixedHeight(22);
        m_sectionCaptions[size_t(n)]->setStyleSheet(QStringLiteral("QLabel{color:white;}"));
        for (qwLabelEx *l : {m_sectionIcons[size_t(n)], m_sectionCaptions[size_t(n)]})
            connect(l, &qwLabelEx::sigClick, this, &qwDevsetImageEx::OnAccordionClick);
        header->addWidget(m_sectionIcons[size_t(n)]);
        header->addWidget(m_sectionCaptions[size_t(n)]);
        header->addStretch();
        column->addLayout(header);
        m_sections[size_t(n)] = new QWidget(content);
        m_sections[size_t(n)]->setObjectName(QStringLiteral("widget_") + QLatin1String(headers[n]));
        grids[size_t(n)] = new QGridLayout(m_sections[size_t(n)]);
        column->addWidget(m_sections[size_t(n)]);
    }
    column->addStretch();
    auto &w = m_fieldWidgets;
    QComboBox *profile =
        addList(grids[0], "imgprofile", devset::imageTexts({"normal", "bright", "colorfull", "pastel", "custom"}));
    w[F::ImgStyle] = profile;
    connect(profile, qOverload<int>(&QComboBox::currentIndexChanged), this, &qwDevsetImageEx::OnOutmodeIndexChange);
    w[F::Saturation] = addSlider(grids[0], "saturation", 0, 100, &m_customGroup);
    w[F::Brightness] = addSlider(grids[0], "brightness", 0, 100, &m_customGroup);
    w[F::Sharpness] = addSlider(grids[0], "sharpness", 0, 100, &m_customGroup);
    w[F::Contrast] = addSlider(grids[0], "contrast", 0, 100, &m_customGroup);
    w[F::Backlight] = addList(grids[0], "blc", offOn);
    w[F::Wdr] = addList(grids[0], "wdr", offOn);
    QComboBox *balance = addList(grids[0], "whitebalance",
                                 devset::imageTexts({"automode", "outdoor", "indoor", "fluorescent", "manual"}));
    w[F::WhiteBalance] = balance;
    connect(balance, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &qwDevsetImageEx::OnWhitebalanceIndexChange);
    w[F::RedGain] = addSlider(grids[0], "redgain", 0, 100, &m_gainGroup);
    w[F::GreenGain] = addSlider(grids[0], "greengain", 0, 100, &m_gainGroup);
    w[F::BlueGain] = addSlider(grids[0], "bluegain", 0, 100, &m_gainGroup);
    w[F::ExposureMode] = addList(grids[1], "expmode", devset::imageTexts({"automode", "imgfixed"}));
    w[F::Shutter] =
        addList(grids[1], "shutter",
                {"1/2", "1/4", "1/8", "1/10", "1/12", "1/15", "1/25(50Hz)1/30(60Hz)", "1/50(50Hz)1/60(60Hz)",
                 "1/100(50Hz)1/120(60Hz)", "1/125", "1/200", "1/250", "1/500", "1/1000"});
    w[F::Metter] = addList(grids[2], "lightmeter", devset::imageTexts({"globalrec", "middlerec"}));
    w[F::Iris] = addList(grids[2], "autoiris", offOn);
    w[F::Defog] = addList(grids[2], "defog", offOn);
    w[F::Noise] = addSlider(grids[2], "s3dnr", 0, 100);
    w[F::Ldc] = addSlider(grids[3], "ldc", 0, 100);
    w[F::SmartIr] = addList(grids[3], "smartir", offOn);
    showAll(m_customGroup, false);
    showAll(m_gainGroup, false);
    openSection(0);
    scroll->setWidget(content);
    // The tab's dark ground shows through; the scroll area would fill both
    // with the platform's light one.
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);
    return scroll;
}

QWidget *qwDevsetImageEx::buildScheduleTab()
{
    auto *tab = new QWidget(this);
    auto *grid = new QGridLayout(tab);
    m_modeList = addList(grid, "imgconf", devset::imageTexts({"imgnormal", "daymode", "nightmode", "timing"}));
    connect(m_modeList, qOverload<int>(&QComboBox::currentIndexChanged), this, &qwDevsetImageEx::OnWorkModeChange);
    m_sceneRange = addRangeSlider(grid, "daymode", "nightmode", &m_schedulePeriod);
    m_sceneRange->setObjectName(QStringLiteral("rangeSlider_Scene"));
    grid->setRowStretch(grid->rowCount(), 1);
    showAll(m_schedulePeriod, false);
    return tab;
}

QWidget *qwDevsetImageEx::buildDaynightTab()
{
    auto *tab = new QWidget(this);
    auto *grid = new QGridLayout(tab);
    m_daynightList =
        addList(grid, "daynightmod", devset::imageTexts({"automode", "colors", "bw", "timing", "intersync"}));
    connect(m_daynightList, qOverload<int>(&QComboBox::currentIndexChanged), this, &qwDevsetImageEx::OnDaynightChange);
    m_daynightRange = addRangeSlider(grid, "colors", "bw", &m_daynightPeriod);
    m_daynightRange->setObjectName(QStringLiteral("rangeSlider_Daynight"));
    m_colourSlider = addSlider(grid, "bwtocolor", 1, 100, &m_thresholds);
    m_greySlider = addSlider(grid, "colortobw", 0, 99, &m_thresholds);
    m_irledList = addList(grid, "supplementled", devset::imageTexts({"automode", "opens", "closes"}));
    grid->setRowStretch(grid->rowCount(), 1);
    showAll(m_daynightPeriod, false);
    showAll(m_thresholds, false);
    return tab;
}

void qwDevsetImageEx::setDeviceInfo(const QString &ip, const QString &port, const QString &user, const QString &pwd)
{
    devip = ip;
    httpport = port;
    username = user;
    password = pwd;
}

qcStreamPlayer *qwDevsetImageEx::streamPlayer() const
{
    return m_live->player();
}

void qwDevsetImageEx::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_live->start(devip, httpport, username, password);
}

void qwDevsetImageEx::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_live->stop();
}

// The preview builds its picture widget for each stream description itself.
void qwDevsetImageEx::OnInitVideoWidget(int, int) {}

void qwDevsetImageEx::stopRequest(CGIUtil *&r)
{
    // A read or set of this page is not worth waiting for once replaced.
    if (r)
        r->abort();
    devset::stopRequest(r, kWaitMs);
}

void qwDevsetImageEx::OnInitParameters(int pageid)
{
    if (pageid == DEVSET_IMAGE)
        OnButtonRefresh();
}

void qwDevsetImageEx::OnButtonRefresh()
{
    stopRequest(m_getRequest);
    m_readState->startRead(m_getRequest, kWaitMs, kGetId,
                           devset::devsetUrl("http://%1:%2/action/get?subject=cameraimage", devip, httpport), username,
                           password, 10, this, &qwDevsetImageEx::OnCgidataComplated, "cameraimage");
}

void qwDevsetImageEx::OnCgidataComplated(int nID)
{
    if (nID == kGetId && m_getRequest && sender() == m_getRequest)
        readReply();
}

void qwDevsetImageEx::readReply()
{
    CGIUtil *r = m_getRequest;
    m_freq = m_rotate = m_mirror = m_mode = m_sceneStart = m_sceneEnd = 0;
    m_daynightMode = m_irled = m_daynightStart = m_daynightEnd = m_colour = m_grey = 0;
    int n = 0;
    // A value a list lacks is shown as an extra entry and kept.
    const auto takeList = [&](const char *name, QComboBox *list, int *value) {
        if (r->getXmlInt(QLatin1String(name), &n)) {
            devset::showDeviceValue(list, n);
            *value = n;
        }
    };
    takeList("freq", m_freqList, &m_freq);
    takeList("rotate", m_rotateList, &m_rotate);
    takeList("mirror", m_mirrorList, &m_mirror);
    takeList("mode", m_modeList, &m_mode);
    QString text;
    if (r->getXmlString(QStringLiteral("daysect"), &text) && parsePeriod(text, &m_sceneStart, &m_sceneEnd))
        m_sceneRange->SetValue(ulong(m_sceneStart), ulong(m_sceneEnd));
    if (r->enterSection(QStringLiteral("daynight"), true)) {
        const auto child = [&](const char *name, int min, int max) {
            return r->getSectionInt(QLatin1String(name), &n, 0) && n >= min && n <= max;
        };
        if (child("mode", std::numeric_limits<int>::min(), std::numeric_limits<int>::max())) {
            devset::showDeviceValue(m_daynightList, n);
            m_daynightMode = n;
        }
        if (child("irled", std::numeric_limits<int>::min(), std::numeric_limits<int>::max())) {
            devset::showDeviceValue(m_irledList, n);
            m_irled = n;
        }
        if (r->getSectionString(QStringLiteral("daysect"), &text, 0) &&
            parsePeriod(text, &m_daynightStart, &m_daynightEnd))
            m_daynightRange->SetValue(ulong(m_daynightStart), ulong(m_daynightEnd));
        if (child("color", 0, 100)) {
            m_colourSlider->setValue(n);
            m_colour = n;
        }
        if (child("grey", 0, 100)) {
            m_greySlider->setValue(n);
            m_grey = n;
        }
    }
    for (ImageScene_t &s : m_scenes)
        s.f[F::Valid] = 0;
    const auto isList = [this](int field) {
        return qobject_cast<QComboBox *>(m_fieldWidgets[size_t(field)]) != nullptr;
    };
    const auto readField = [&](ImageScene_t &s, int field) {
        if (r->getSectionInt(QLatin1String(kFields[field].element), &n, 0)) {
            if (field == F::Dnr2d || field == F::Dnr3d)
                s.f[size_t(field)] = quint8(n);
            else if (n >= 0 && (n <= kFields[field].max || (isList(field) && n <= UINT8_MAX)))
                s.f[size_t(field)] = quint8(n);
        } else if (field == F::Dnr2d || field == F::Dnr3d) {
            s.f[size_t(field)] = 1;
        }
    };
    for (int k = 0; k < 3; ++k) {
        bool at = r->enterSection(QStringLiteral("imagescene"), true);
        for (int i = 0; i < k && at; ++i)
            at = r->nextSection();
        // Only a scene is read as one: with two scenes the element after the
        // second is the day/night group, whose values are no scene's.
        if (!at || !r->enterSection(QStringLiteral("imagescene"), false))
            break;
        ImageScene_t &s = m_scenes[size_t(k)];
        for (int field : {F::ImgStyle, F::Saturation, F::Sharpness, F::Contrast, F::Brightness, F::Noise, F::Ldc,
                          F::Defog, F::SmartIr, F::Dnr2d, F::Dnr3d})
            readField(s, field);
        // The scene's own group only: a lookup that went on would take the
        // next scene's groups and mark this one valid.
        if (!r->enterChildSection(QStringLiteral("widedynamic")))
            continue;
        readField(s, F::Wdr);
        readField(s, F::Backlight);
        if (!r->nextSection())
            continue;
        for (int field : {F::ExposureMode, F::Metter, F::Shutter, F::Iris})
            readField(s, field);
        if (!r->nextSection())
            continue;
        for (int field : {F::WhiteBalance, F::RedGain, F::GreenGain, F::BlueGain})
            readField(s, field);
        s.f[F::Valid] = 1;
    }
    if (m_currentScene < 3 && m_scenes[m_currentScene].f[F::Valid])
        loadScene(m_currentScene);
    m_parsed = true;
}

void qwDevsetImageEx::loadScene(int k)
{
    const ImageScene_t &s = m_scenes[size_t(k)];
    for (int field = 0; field < F::FieldCount; ++field) {
        if (auto *list = qobject_cast<QComboBox *>(m_fieldWidgets[size_t(field)]))
            devset::showDeviceValue(list, s.f[size_t(field)]);
        else if (auto *slider = qobject_cast<QSlider *>(m_fieldWidgets[size_t(field)]))
            slider->setValue(s.f[size_t(field)]);
    }
    showAll(m_customGroup, s.f[F::ImgStyle] == 4);
    showAll(m_gainGroup, s.f[F::WhiteBalance] == 4);
}

void qwDevsetImageEx::storeScene(int k)
{
    ImageScene_t &s = m_scenes[size_t(k)];
    for (int field = 0; field < F::FieldCount; ++field) {
        if (auto *list = qobject_cast<QComboBox *>(m_fieldWidgets[size_t(field)]))
            s.f[size_t(field)] = quint8(qBound(0, devset::selectedInt(list, 0), int(UINT8_MAX)));
        else if (auto *slider = qobject_cast<QSlider *>(m_fieldWidgets[size_t(field)]))
            s.f[size_t(field)] = quint8(slider->value());
    }
}

void qwDevsetImageEx::OnCurrentTemplateChage(int index)
{
    // During Restore every record already holds its Restore values.
    if (m_currentScene < 3 && !m_restoring)
        storeScene(m_currentScene);
    if (index >= 0 && index < 3)
        loadScene(index);
    m_currentScene = quint8(index);
}

void qwDevsetImageEx::openSection(int n)
{
    for (int i = 0; i < 4; ++i) {
        m_sections[size_t(i)]->setVisible(i == n);
        m_sectionIcons[size_t(i)]->setPixmap(QPixmap(QLatin1String(i == n ? kOpenArrow : kClosedArrow)));
    }
}

void qwDevsetImageEx::OnAccordionClick()
{
    for (int i = 0; i < 4; ++i) {
        if (sender() == m_sectionIcons[size_t(i)] || sender() == m_sectionCaptions[size_t(i)])
            openSection(i);
    }
}

void qwDevsetImageEx::OnSliderChange(int value)
{
    auto *slider = qobject_cast<QSlider *>(sender());
    if (!slider)
        return;
    if (QLabel *label = devset::sliderNumber(this, slider))
        label->setNum(value);
    // The black-and-white threshold stays below the colour one.
    if (slider == m_colourSlider && m_greySlider->value() >= value)
        m_greySlider->setValue(value - 1);
    else if (slider == m_greySlider && m_colourSlider->value() <= value)
        m_colourSlider->setValue(value + 1);
}

void qwDevsetImageEx::OnOutmodeIndexChange(int index)
{
    showAll(m_customGroup, index == 4);
}

void qwDevsetImageEx::OnWhitebalanceIndexChange(int index)
{
    showAll(m_gainGroup, index == 4);
}

void qwDevsetImageEx::OnWorkModeChange(int index)
{
    showAll(m_schedulePeriod, index == 3);
}

void qwDevsetImageEx::OnDaynightChange(int index)
{
    showAll(m_daynightPeriod, index == 3);
    showAll(m_thresholds, index == 4);
}

void qwDevsetImageEx::OnButtonRestore()
{
    if (m_readState->readAgainIfUnread())
        return;
    const int tab = m_tabs->currentIndex();
    if (tab == 0) {
        m_freq = m_mirror = m_rotate = 0;
        for (ImageScene_t &s : m_scenes) {
            for (int field = 0; field < F::FieldCount; ++field) {
                if (kFields[field].restore >= 0)
                    s.f[size_t(field)] = quint8(kFields[field].restore);
            }
        }
        m_restoring = true;
        for (QComboBox *list : {m_freqList, m_mirrorList, m_rotateList, m_sceneList})
            list->setCurrentIndex(0);
        m_restoring = false;
        loadScene(0);
        showAll(m_customGroup, false);
        showAll(m_gainGroup, false);
    } else if (tab == 1) {
        m_mode = 0;
        m_sceneStart = 360;
        m_sceneEnd = 1080;
        m_modeList->setCurrentIndex(0);
        m_sceneRange->SetValue(360, 1080);
        showAll(m_schedulePeriod, false);
    } else {
        m_daynightMode = m_irled = 0;
        m_colour = 10;
        m_grey = 5;
        m_daynightStart = 360;
        m_daynightEnd = 1080;
        m_daynightList->setCurrentIndex(0);
        m_irledList->setCurrentIndex(0);
        m_colourSlider->setValue(10);
        m_greySlider->setValue(5);
        m_daynightRange->SetValue(360, 1080);
        showAll(m_daynightPeriod, false);
        showAll(m_thresholds, false);
    }
}

void qwDevsetImageEx::OnButtonSave()
{
    // Before a read the records are all zero: that would set every scene
    // of the device to nothing.
    if (!m_parsed || !m_readState->isRead()) {
        devset::showTip(this, qwTipsdlgEx::Failure, QStringLiteral("setfailed"));
        return;
    }
    const int t = m_sceneList->currentIndex();
    m_freq = devset::selectedInt(m_freqList);
    m_mirror = devset::selectedInt(m_mirrorList);
    m_rotate = devset::selectedInt(m_rotateList);
    m_mode = devset::selectedInt(m_modeList);
    m_daynightMode = devset::selectedInt(m_daynightList);
    m_irled = devset::selectedInt(m_irledList);
    m_colour = m_colourSlider->value();
    m_grey = m_greySlider->value();
    const quint64 scene = m_sceneRange->GetValue();
    const quint64 daynight = m_daynightRange->GetValue();
    m_sceneStart = int(scene >> 32);
    m_sceneEnd = int(scene & 0xffffffffu);
    m_daynightStart = int(daynight >> 32);
    m_daynightEnd = int(daynight & 0xffffffffu);
    if (t >= 0 && t < 3)
        storeScene(t);

    const auto number = [](int v) { return QString::number(uint(v)); };
    QStringList values{number(m_freq), number(m_rotate),          number(m_mirror),
                       number(m_mode), number(m_sceneStart * 60), number(m_sceneEnd * 60)};
    for (const ImageScene_t &s : m_scenes) {
        for (F::Field field : kBodyOrder)
            values << QString::number(s.f[size_t(field)]);
    }
    values << number(m_daynightMode) << number(m_irled) << number(m_daynightStart * 60) << number(m_daynightEnd * 60)
           << number(m_colour) << number(m_grey);
    const QString body = devset::fillXml(QLatin1String(kSetBody), values);
    stopRequest(m_setRequest);
    devset::startPostEx(m_setRequest, kWaitMs, kSetId,
                        devset::devsetUrl("http://%1:%2/action/set?subject=cameraimage", devip, httpport), username,
                        password, body.toLatin1(), this, &qwDevsetImageEx::OnCgiHeaderComplated);
}

void qwDevsetImageEx::OnCgiHeaderComplated(int nID, int nErr)
{
    if (nID != kSetId || !m_setRequest || sender() != m_setRequest)
        return;
    if (nErr == CGIUtil::ResultOk)
        devset::showTip(this, qwTipsdlgEx::Success, QStringLiteral("setsuccess"));
    else
        devset::showTip(this, qwTipsdlgEx::Failure, QStringLiteral("setfailed"));
}
