#pragma once

#include <QWidget>

class CGIUtil;
class DevsetReadState;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSlider;

// The device's audio encoding and its input and output volumes. The codec
// and sample-rate lists come from the device's audio ability before the
// current encoding is read into them; one save sends the encoding and the
// volumes, and one tip reports both.
class qwDevsetAudio : public QWidget
{
    Q_OBJECT
public:
    explicit qwDevsetAudio(QWidget *parent);
    ~qwDevsetAudio() override;

    void setDeviceInfo(const QString &devip, const QString &httpport, const QString &username, const QString &password);

public slots:
    void OnInitParameters(int pageid);
    void OnCheckboxEnableChlick();
    void OnSliderInputChange(int value);
    void OnSliderOutputChange(int value);
    void OnBtnRestoreClick();
    void OnBtnRefreshClick();
    void OnBtnSaveClick();
    void OnCGIHeaderCompleted(int nID, int code);
    void OnCGIDateCompleted(int nID);

private:
    void stopAllRequests();
    void read();
    void buildLists(CGIUtil *r);
    void applyEncoding(CGIUtil *r);
    void setEncodingEnabled(bool enabled);

    QString devip;
    QString httpport;
    QString username;
    QString password;
    QCheckBox *m_enable = nullptr;
    QComboBox *m_codec = nullptr;
    QComboBox *m_input = nullptr;
    QComboBox *m_sample = nullptr;
    QSlider *m_inputVolume = nullptr;
    QSlider *m_outputVolume = nullptr;
    QLabel *m_inputValue = nullptr;
    QLabel *m_outputValue = nullptr;
    CGIUtil *m_devAbilityRequest = nullptr;
    CGIUtil *m_audioAbilityRequest = nullptr;
    CGIUtil *m_volumeRequest = nullptr;
    DevsetReadState *m_readState = nullptr;
    CGIUtil *m_encodingRequest = nullptr;
    bool m_encodingSetDone = false;
    bool m_volumeSetDone = false;
    bool m_resultsArmed = true;
    bool m_inputSelectable = false;
    // The codec and sample rate of the last encoding reply, -1 until one
    // gave them: what a save sends when the lists show none.
    int m_readCodec = -1;
    int m_readSample = -1;
};
