#pragma once

#include "liveview/qclivedevicerequests.h"

#include <QModelIndex>
#include <QString>
#include <QWidget>

class CGIUtil;
class QLabel;
class QListWidget;
class QSlider;
class StatusButton;
class qwPresetItem;

// The PTZ page of the live page's tool box: direction pad, zoom, focus and
// iris buttons, the speed slider and the 128 presets of the selected view's
// device. Address devices are steered over HTTP through the page's request
// object, P2P devices through their P2P front end (moves, zoom, focus and
// the centre command only).
class qwPtzPanel : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kPresetCount = 128;

    explicit qwPtzPanel(qcLiveDeviceRequests *requests, QWidget *parent = nullptr);
    ~qwPtzPanel() override;

    QListWidget *presetList() const { return m_presetList; }
    QSlider *speedSlider() const { return m_ptzSpeedSlider; }
    QLabel *speedLabel() const { return m_ptzSpeedLabel; }
    // Shown while the last read of the device failed.
    QLabel *readNote() const { return m_readNote; }
    qwPresetItem *presetRow(int row) const;
    int selectedPreset() const { return m_selectedPreset; }

    void initPresetRows();
    void resetPresetRows();
    void setPresetRow(int row, const QString &name, const QString &state);
    void requestPtzInfo();

    void callPreset(int row);
    void clearPreset(int row);
    void setPreset(int row, const QString &name);
    void sendPtzMove(int cmd, int hori, int vert);
    void sendPtzCentre();
    void sendPtzStop();
    void sendZoom1();
    void sendZoom0();
    void sendFocus1();
    void sendFocus0();
    void setPtzSpeed(int speed);

    // The name as a preset set carries it: markup characters escaped, the
    // characters XML cannot carry left out.
    static QString escapedName(const QString &name);
    // The slider look the speed slider shares with the image sliders.
    static QString sliderStyle();

public slots:
    void onPtzbuttonPress(int mask);
    void onPtzbuttonRelease(int mask);
    void onPtzbuttonClick(int mask);
    void onPtzspeedChange(int value);
    void onPresetControl(int mask);
    void onPresetListClick(const QModelIndex &index);
    void onPresetListDBClick(const QModelIndex &index);
    void onPresetNameChange(int mask, const QString &name);

private:
    void initPtzPanel();
    StatusButton *makeButton(QWidget *parent, const QImage &normal, const QImage &hover, const QRect &cell, int mask,
                             const QString &tip, const char *style, bool pressAndRelease);
    QString defaultName(int row) const;
    // The row as the device last reported it.
    void showReportedRow(int row);
    bool checkRight();
    bool p2pControl(int controlId);
    void onDeviceChanged();
    void onPtzInfo(CGIUtil *reply);
    void onPtzInfoFailed();
    void showUnknownSpeed();
    void onPtzResult(const qcLiveDeviceRequests::Ticket &ticket, int code);
    // Puts the slider and its label back without a request; a slider the
    // operator holds goes back at its release.
    void revertSpeed(int value, const QString &label);
    void showSpeed(int value, const QString &label);

    qcLiveDeviceRequests *m_requests;
    // The language table is read once: 128 rows ask for these on every reset.
    const QString m_presetNameText;
    const QString m_unsetText;
    const QString m_setText;
    QListWidget *m_presetList = nullptr;
    QSlider *m_ptzSpeedSlider = nullptr;
    QLabel *m_ptzSpeedLabel = nullptr;
    QLabel *m_readNote = nullptr;
    int m_selectedPreset = -1;
    bool m_ptzAllowed = false;
    // The device's serial settings, sent back with every speed change; only
    // valid once this device's reply carried all of them.
    int m_ptzAddr = 0;
    int m_ptzBaudrate = 0;
    int m_ptzDatabit = 0;
    int m_ptzStopbit = 0;
    int m_ptzParity = 0;
    int m_ptzFlowctrl = 0;
    bool m_ptzInfoRead = false;
    // What the device last reported or accepted, to go back to.
    int m_deviceSpeedValue = 1;
    QString m_deviceSpeedLabel = QStringLiteral("1");
    // What the slider showed before the operator's change.
    int m_shownSpeedValue = 1;
    QString m_shownSpeedLabel = QStringLiteral("1");
    int m_pendingSpeedValue = -1;
    QString m_pendingSpeedLabel;
    QString m_reportedNames[kPresetCount];
    // The device has told what the row holds.
    bool m_rowKnown[kPresetCount] = {};
    QString m_sentNames[kPresetCount];
};
