#pragma once

#include <QStringList>
#include <QWidget>

class CGIUtil;
class DevsetReadState;
class QComboBox;
class QGridLayout;
class QIntValidator;
class QLabel;
class QLineEdit;
class QPushButton;

// How the device encodes its main stream (0) and sub stream (1). A load
// reads the current values of both streams first and the abilities only
// once both are in, because which options apply depends on the current
// codec and resolution. A save sends stream 0, and stream 1 only after
// stream 0 succeeded.
class qwDevsetVideo : public QWidget
{
    Q_OBJECT
public:
    explicit qwDevsetVideo(QWidget *parent);
    ~qwDevsetVideo() override;

    void setDeviceInfo(const QString &devip, const QString &httpport, const QString &username, const QString &password);

public slots:
    void OnInitParameters(int pageid);
    void OnCGIDateCompleted(int nID);
    void OnCGIHeadCompleted(int nID, int code);
    void OnSubstreamEnableChange(int index);
    void OnMainEncoderTypeChange(int index);
    void OnSubEncoderTypeChange(int index);
    void OnMainSolutionChange(int index);
    void OnSubSolutionChange(int index);
    void OnMainBitrateTypeChange(int index);
    void OnSubBitrateTypeChange(int index);
    void OnBtnRefreshClicked();
    void OnBtnSaveClicked();

private:
    // The element names of "videoenc", in the order the values are kept.
    enum Value { Active, Codec, Resolution, Framerate, Rc, Keygop, Bitrate, Quality, Profile, ValueCount };

    struct Stream
    {
        QComboBox *enable = nullptr; // stream 1 only
        QComboBox *codec = nullptr;
        QComboBox *resolution = nullptr;
        QComboBox *profile = nullptr;
        QComboBox *framerate = nullptr;
        QComboBox *rc = nullptr;
        QLabel *range = nullptr;
        QLineEdit *bitrate = nullptr;
        QComboBox *quality = nullptr;
        QComboBox *keygop = nullptr;
        QIntValidator *validator = nullptr;
        // The texts last read from the device or last taken by a save.
        QStringList values = QStringList{QString(), QString(), QString(), QString(), QString(),
                                         QString(), QString(), QString(), QString()};
        QString bitrateMin;
        QString bitrateMax;
        CGIUtil *request = nullptr; // the read and the set of "videoenc"
        CGIUtil *abilityRequest = nullptr;
        bool parsed = false;
        bool abilityParsed = false;
        bool setOk = false;
    };

    QWidget *initStreamWidgets(int n);
    void initOptionWidgets(QGridLayout *grid);
    void load();
    bool parseVideoenc(int n);
    bool requestAbilities();
    bool parseAbility(int n);
    void selectCodec(int n);
    void selectCurrentValues(int n);
    void applyBitrateRange(int n, const QString &rangeText, bool capEdit);
    void applySubEnabled(bool enabled);
    void solutionChange(int n);
    bool saveStream(int n);
    void stopAllRequests();
    // The usable ability reply of stream n, or null.
    CGIUtil *abilityReply(int n) const;

    QString devip;
    QString httpport;
    QString username;
    QString password;
    Stream m_streams[2];
    bool m_abilityWanted = true;
    bool m_resultArmed = true;
    QPushButton *m_refresh = nullptr;
    QPushButton *m_save = nullptr;
    DevsetReadState *m_readState = nullptr;
};
