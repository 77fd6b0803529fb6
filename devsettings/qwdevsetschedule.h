#pragma once

#include <QByteArray>
#include <QMutex>
#include <QWidget>

#include <atomic>

class CGIUtil;
class DevsetReadState;
class QComboBox;
class QLineEdit;
class QPushButton;

// The device's own recording, snapshot and FTP tasks: whether each is
// enabled, and the recording and snapshot parameters. Saving sends the two
// parameter sets, then reads the three tasks afresh and sends back, for each
// task whose enabled state differs, the device's own document with only
// `active` changed.
class qwDevsetSchedule : public QWidget
{
    Q_OBJECT
public:
    explicit qwDevsetSchedule(QWidget *parent);
    ~qwDevsetSchedule() override;

    void setDeviceInfo(const QString &devip, const QString &httpport, const QString &username, const QString &password);

public slots:
    void OnInitParameters(int pageid);
    void OnCGIDataCompleted(int nID);
    void OnCGIHeadCompleted(int nID, int code);
    void OnRecordEnableIndexChanged(int index);
    void OnSnapshotEnableIndexChanged(int index);
    void OnFtpuploadEnableIndexChanged(int index);
    void OnBtnRecordScheduleClick();
    void OnBtnSnapshotScheduleClick();
    void OnBtnFtpuploadScheduleClick();
    void OnBtnRestoreClick();
    void OnBtnRefreshClick();
    void OnBtnSaveClick();

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    // One schedule task of the device: type 1 recording, 0 snapshots, 2 FTP.
    struct Task
    {
        Task(int type, int readId, int saveId, const char *name)
            : type(type), readId(readId), saveId(saveId), name(name)
        {}
        int type;
        int readId;
        int saveId;
        const char *name;
        CGIUtil *request = nullptr;
        QComboBox *enable = nullptr;
        QList<QWidget *> fields; // what the enable list switches
        // The save-time read's body, filled on the request thread.
        QMutex mutex;
        QByteArray capture;
        bool overflow = false;
        std::atomic<bool> received{false};
        bool ok = false;
    };

    static void onTaskRawData(int id, const char *data, int length, void *context);

    QWidget *buildRecordGroup();
    QWidget *buildSnapshotGroup();
    QWidget *buildFtpGroup();
    void stopAllRequests();
    Task *taskOf(int id);
    void parseTaskActive(int nID);
    // The task's enable list and fields for the device's `active`.
    void showActive(Task *task, int active);
    void parseRecord();
    void parseSnap();
    bool saveRecord();
    bool saveSnap();
    void readTasksForSave();
    void checkTaskActive(int nID);
    void saveTaskActive(int type);
    void checkSuccess();
    void openSchedule(int kind);
    QString url(const char *literal) const;

    QString devip;
    QString httpport;
    QString username;
    QString password;
    QPushButton *m_restore = nullptr;
    QPushButton *m_refresh = nullptr;
    QPushButton *m_save = nullptr;
    QComboBox *m_preRecord = nullptr;
    QComboBox *m_recordStream = nullptr;
    QComboBox *m_recordPath = nullptr;
    QComboBox *m_overwrite = nullptr;
    QComboBox *m_packSize = nullptr;
    QComboBox *m_quality = nullptr;
    QComboBox *m_frameRate = nullptr;
    QLineEdit *m_interval = nullptr;
    QComboBox *m_snapStream = nullptr;
    QComboBox *m_snapPath = nullptr;
    CGIUtil *recordRequest = nullptr;
    CGIUtil *snapRequest = nullptr;
    DevsetReadState *m_readState = nullptr;
    DevsetReadState *m_saveReads = nullptr;
    Task m_tasks[3] = {{1, 162, 166, "Record"}, {0, 164, 167, "Snap"}, {2, 165, 168, "Ftp"}};
    // The interval the device holds as last read or set; empty when it gave
    // none. The one a save sends, until the device takes it.
    QString heldInterval;
    QString sentInterval;
    bool recordSetOk = false;
    bool snapSetOk = false;
    int saveTimerId = -1;
};
