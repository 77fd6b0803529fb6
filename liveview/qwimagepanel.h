#pragma once

#include "liveview/qclivedevicerequests.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QWidget>

class CGIUtil;
class QComboBox;
class QLabel;
class QSlider;

// The image page of the live page's tool box: saturation, brightness,
// sharpness, contrast and mirror of the selected view's address device. It
// reads the device's image document and writes it back whole with the
// panel's five values changed, so the device's other image settings stay.
class qwImagePanel : public QWidget
{
    Q_OBJECT
public:
    // The longest printed image document the panel keeps and sends.
    static constexpr int kMaxDocumentBytes = 2047;

    explicit qwImagePanel(qcLiveDeviceRequests *requests, QWidget *parent = nullptr);
    ~qwImagePanel() override;

    QSlider *slider(int i) const { return m_sliders[i]; }
    QLabel *valueLabel(int i) const { return m_labels[i]; }
    QComboBox *mirrorBox() const { return m_cmbMirror; }
    QByteArray cachedDocument() const { return m_xmlBody; }
    // Shown while the last read of the device failed.
    QLabel *readNote() const { return m_readNote; }

    void requestImageInfo();
    void sendImageSettings(bool force);

public slots:
    void onSaturationValueChange(int value);
    void onBrightnessValueChange(int value);
    void onSharpnessValueChange(int value);
    void onContrastValueChange(int value);
    void onSaturationRelease();
    void onBrightnessRelease();
    void onSharpnessRelease();
    void onContrastRelease();
    void onMirrorIndexChange(int index);

private:
    // Slider order; the mirror comes last in the value arrays.
    enum { Saturation, Brightness, Sharpness, Contrast, Mirror, ValueCount };
    struct Values
    {
        int value[ValueCount] = {0, 0, 0, 0, 0};
        QString label[Mirror] = {"0", "0", "0", "0"};
    };

    void initImagePanel();
    void valueChanged(int slider, int value);
    Values shownValues() const;
    // Puts the controls back without a request.
    void revert(const Values &values);
    void showValues(const Values &values);
    void onDeviceChanged();
    // Blank values and controls that send nothing: what a panel shows for a
    // device it has not read.
    void showNoValues();
    void setControlsEnabled(bool on);
    void onImageInfo(const QByteArray &body);
    void onImageInfoFailed();
    void onSetResult(quint64 generation, int code);

    qcLiveDeviceRequests *m_requests;
    QSlider *m_sliders[Mirror] = {};
    QLabel *m_labels[Mirror] = {};
    QComboBox *m_cmbMirror = nullptr;
    QLabel *m_lblMirror = nullptr;
    QLabel *m_readNote = nullptr;
    // This device's image document, the reply's "response" renamed
    // "request", with the changes it accepted since; empty until its
    // usable reply.
    QByteArray m_xmlBody;
    Values m_device; // last reported or accepted by the device
    Values m_before; // shown before the operator's change
    // What each settings request not yet answered carried, oldest first.
    struct Sent
    {
        quint64 generation;
        Values values;
        QByteArray document;
    };
    QList<Sent> m_sent;
};
