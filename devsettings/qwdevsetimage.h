#pragma once

#include <QHash>
#include <QVector>
#include <QWidget>

class CGIUtil;
class DevsetReadState;
class DevsetPreview;
class qcStreamPlayer;
class QComboBox;
class QGridLayout;
class QLabel;
class QSlider;
class QTimeEdit;

// The device's image settings for devices without the extended image
// model. Every change goes out at once with the whole setting, through a
// pool of set requests of which one is under way at a time; a change that
// comes while one runs goes out once that one has finished.
class qwDevsetImage : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kPoolSize = 16;

    explicit qwDevsetImage(QWidget *parent);
    ~qwDevsetImage() override;

    void setDeviceInfo(const QString &devip, const QString &httpport, const QString &username, const QString &password);

    // The preview's player while the page is shown, else null.
    qcStreamPlayer *streamPlayer() const;

    // The pool slot of the set request handed out last.
    int poolIndex() const { return m_poolIndex; }

public slots:
    void OnInitParameters(int pageid);
    void OnCGIDateCompleted(int nID);
    void OnCGIHeadCompleted(int nID, int code);
    void OnSliderValueChange(int value);
    void OnSliderPressed();
    void OnSliderReleased();
    void OnComboBoxIndexChange(int index);
    void OnTimerEditValueChange();
    void OnBtnRestoreDefault();
    void OnBtnReset();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private slots:
    void onPoolRequestFinished();

private:
    // The values the set body is built from, in the order they are kept.
    enum Value {
        Metering,
        AutoIris,
        Freq,
        Defog,
        Noise,
        Ldc,
        Saturation,
        Brightness,
        Sharpness,
        Contrast,
        Backlight,
        Wdr,
        DaynightMode,
        DaynightStart,
        DaynightEnd,
        WhiteBalance,
        RedGain,
        GreenGain,
        BlueGain,
        Shutter,
        Mirror,
        Rotate,
        Colour,
        Grey,
        ValueCount
    };
    using Values = QVector<int>;

    QSlider *addSlider(QGridLayout *grid, const char *key, Value value);
    QComboBox *addCombo(QGridLayout *grid, const char *key, Value value, const QStringList &items);
    void parseVideoImage();
    CGIUtil *getFreeRequest();
    void sendImageParams(QObject *changed);
    void showValues();
    void setSliderValue(Value value, int n);
    void setComboValue(Value value, int n);
    void setTimeValue(Value value, int seconds);
    void showPeriodRow(bool shown);
    void showGainRows(bool shown);

    QString devip;
    QString httpport;
    QString username;
    QString password;
    CGIUtil *m_getRequest = nullptr;
    DevsetReadState *m_readState = nullptr;
    CGIUtil *m_requestPool[kPoolSize] = {};
    int m_poolIndex = 0;
    bool m_sliderPressed = false;
    // A change the pool could not take yet.
    bool m_sendPending = false;
    // Whether the values are whole: a reply was parsed, or the defaults set.
    bool m_valuesKnown = false;
    Values m_curValues = Values(ValueCount, -1);
    Values m_devValues = Values(ValueCount, -1);
    QWidget *m_controls[ValueCount] = {};
    QLabel *m_valueLabels[ValueCount] = {};
    QHash<QObject *, Value> m_valueOf;
    QList<QWidget *> m_periodRow;
    QList<QWidget *> m_gainRows;
    QWidget *m_videoView = nullptr;
    DevsetPreview *m_live = nullptr;
};
