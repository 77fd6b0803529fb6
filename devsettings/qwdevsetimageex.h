#pragma once

#include <QWidget>

#include <array>

class CGIUtil;
class DevsetReadState;
class DevsetPreview;
class QComboBox;
class QGridLayout;
class QLabel;
class QRangeSlider;
class QSlider;
class QTabWidget;
class qcStreamPlayer;
class qwLabelEx;

// One image scene of the extended image model, field by field.
struct ImageScene_t
{
    enum Field {
        ImgStyle,
        Saturation,
        Sharpness,
        Brightness,
        Contrast,
        Noise,
        Ldc,
        Defog,
        SmartIr,
        Wdr,
        Backlight,
        ExposureMode,
        Metter,
        Shutter,
        Iris,
        Dnr2d,
        Dnr3d,
        WhiteBalance,
        RedGain,
        GreenGain,
        BlueGain,
        Valid,
        FieldCount
    };
    std::array<quint8, FieldCount> f{};
};

// The image settings of devices with the extended image model: three
// scenes (normal, day, night) edited in one set of widgets, the rule that
// picks the active one, and day/night switching. Nothing is sent until
// Save, which sends all three scenes.
class qwDevsetImageEx : public QWidget
{
    Q_OBJECT
public:
    explicit qwDevsetImageEx(QWidget *parent);
    ~qwDevsetImageEx() override;

    void setDeviceInfo(const QString &devip, const QString &httpport, const QString &username, const QString &password);

    ImageScene_t scene(int k) const { return m_scenes[size_t(k)]; }
    qcStreamPlayer *streamPlayer() const;

public slots:
    void OnInitParameters(int pageid);
    void OnAccordionClick();
    void OnSliderChange(int value);
    void OnOutmodeIndexChange(int index);
    void OnWhitebalanceIndexChange(int index);
    void OnWorkModeChange(int index);
    void OnDaynightChange(int index);
    void OnInitVideoWidget(int width, int height);
    void OnCgidataComplated(int nID);
    void OnCgiHeaderComplated(int nID, int nErr);
    void OnCurrentTemplateChage(int index);
    void OnButtonRestore();
    void OnButtonRefresh();
    void OnButtonSave();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QWidget *buildImageTab();
    QWidget *buildScheduleTab();
    QWidget *buildDaynightTab();
    QComboBox *addList(QGridLayout *grid, const char *key, const QStringList &items);
    QSlider *addSlider(QGridLayout *grid, const char *key, int min, int max, QList<QWidget *> *group = nullptr);
    QRangeSlider *addRangeSlider(QGridLayout *grid, const char *first, const char *second, QList<QWidget *> *group);
    void readReply();
    void loadScene(int k);
    void storeScene(int k);
    void openSection(int n);
    void stopRequest(CGIUtil *&r);

    QString devip;
    QString httpport;
    QString username;
    QString password;
    CGIUtil *m_getRequest = nullptr;
    DevsetReadState *m_readState = nullptr;
    CGIUtil *m_setRequest = nullptr;
    DevsetPreview *m_live = nullptr;
    std::array<ImageScene_t, 3> m_scenes{};
    quint8 m_currentScene = 0;
    bool m_parsed = false;
    bool m_restoring = false;
    // The general values.
    int m_freq = 0, m_rotate = 0, m_mirror = 0, m_mode = 0, m_sceneStart = 0, m_sceneEnd = 0;
    int m_daynightMode = 0, m_irled = 0, m_daynightStart = 0, m_daynightEnd = 0, m_colour = 0, m_grey = 0;

    QTabWidget *m_tabs = nullptr;
    QComboBox *m_freqList = nullptr;
    QComboBox *m_mirrorList = nullptr;
    QComboBox *m_rotateList = nullptr;
    QComboBox *m_sceneList = nullptr;
    QComboBox *m_modeList = nullptr;
    QComboBox *m_daynightList = nullptr;
    QComboBox *m_irledList = nullptr;
    QSlider *m_colourSlider = nullptr;
    QSlider *m_greySlider = nullptr;
    QRangeSlider *m_sceneRange = nullptr;
    QRangeSlider *m_daynightRange = nullptr;
    std::array<QWidget *, ImageScene_t::FieldCount> m_fieldWidgets{};
    QList<QWidget *> m_customGroup;
    QList<QWidget *> m_gainGroup;
    QList<QWidget *> m_schedulePeriod;
    QList<QWidget *> m_daynightPeriod;
    QList<QWidget *> m_thresholds;
    std::array<QWidget *, 4> m_sections{};
    std::array<qwLabelEx *, 4> m_sectionIcons{};
    std::array<qwLabelEx *, 4> m_sectionCaptions{};
    QWidget *m_videoView = nullptr;
};
