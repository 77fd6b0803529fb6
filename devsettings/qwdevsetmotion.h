#pragma once

#include <QPoint>
#include <QRect>
#include <QVector>
#include <QWidget>

#include <array>

class CGIUtil;
class DevsetPreview;
class DevsetReadState;
class qcStreamPlayer;
class QCheckBox;
class QLabel;
class QPushButton;
class QSlider;

// Motion detection: on and off, sensitivity and threshold, up to four
// regions drawn on a grid over the preview, the device's live motion cells
// and a running graph of its motion level. Regions are held in preview
// pixels (640 x 360) and go to and from the device's frame size.
class qwDevsetMotion : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kPreviewWidth = 640;
    static constexpr int kPreviewHeight = 360;
    static constexpr int kCellWords = 512;
    static constexpr int kHistory = 316;

    explicit qwDevsetMotion(QWidget *parent);
    ~qwDevsetMotion() override;

    void setDeviceInfo(const QString &devip, const QString &httpport, const QString &username, const QString &password);

    // The preview's player while the page is shown, else null.
    qcStreamPlayer *streamPlayer() const;

    // Read-only views of what otherwise shows only as pixels.
    QVector<QRect> regions() const;
    QVector<int> levelHistory() const;
    // The preview rectangles of the cells the last status marked.
    QVector<QRect> motionCells() const;

    // The status poll's interval for pages created afterwards.
    static void setPollIntervalForTests(int ms);

    // Between the device's frame and the preview; each undoes the other for
    // every frame of at least 640 x 360.
    static QRect toPreviewRect(const QRect &r, int resWidth, int resHeight);
    static QRect toDeviceRect(const QRect &r, int resWidth, int resHeight);

public slots:
    void OnInitParameters(int pageid);
    void OnInitVideoWidget(int width, int height);
    void OnCGIDataCompleted(int nID);
    void OnCGIHeadCompleted(int nID, int code);
    void OnChkEableClick();
    void OnSliderThresholdValueChange(int value);
    void OnBtnClearAllRects();
    void OnBtnFullScreenRect();
    void OnBtnSetupSchedule();
    void OnBtnSetupActions();
    void OnBtnRestoreParameters();
    void OnBtnSaveParameters();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void timerEvent(QTimerEvent *event) override;

private:
    void parseMotion();
    void parseMdStatus();
    void setDetection(bool on);
    void paintOverlay();
    void paintLevelGraph();
    void overlayMouse(QEvent *event);

    QString devip;
    QString httpport;
    QString username;
    QString password;
    std::array<QRect, 4> m_regions;
    QRect m_drawnRect;
    QPoint m_drawStart;
    QPoint m_drawCurrent;
    int m_drawSlot = 1;
    bool m_drawing = false;
    bool m_detectEnabled = false;
    bool m_pollEnabled = false;
    int m_resWidth = kPreviewWidth;
    int m_resHeight = kPreviewHeight;
    int m_threshold = 0;
    int m_mdRow = 0;
    int m_mdCol = 0;
    std::array<quint32, kCellWords> m_cellBits{};
    std::array<quint8, kHistory> m_levelHistory{};
    int m_pollTimerId = 0;
    CGIUtil *m_motionRequest = nullptr;
    CGIUtil *m_statusRequest = nullptr;
    QWidget *m_preview = nullptr;
    QWidget *m_overlay = nullptr;
    DevsetPreview *m_live = nullptr;
    DevsetReadState *m_readState = nullptr;
    QWidget *m_graph = nullptr;
    QCheckBox *m_enable = nullptr;
    QSlider *m_sensitivity = nullptr;
    QSlider *m_thresholdSlider = nullptr;
    QList<QWidget *> m_detectionWidgets;
};
