#pragma once

#include <QDateTime>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>

#include "device/qcalarmserver.h"
#include "media/qccaptureserver.h"
#include "media/talklog.h"

#include <array>
#include <atomic>
#include <functional>

class CGIUtil;
class qcAudioCapture;
class qcCaptureServer;
class qcDiskManager;
class qcFrameBuffer;
class qcStreamUtil;
class QThread;

// The one stream service of the program. It lives on a thread of its own and
// keeps both live streams of every listed device open in frame buffers,
// whether or not a window shows them; it probes the devices, sets their
// clocks and hands the microphone to one device at a time.
//
// The owner moves it to its thread, starts the thread, and before quitting
// that thread calls shutdown() there (a blocking queued call): when it
// returns no thread the service started is still running.
class qcStreamServer : public QObject
{
    Q_OBJECT
public:
    static constexpr int kTickMs = 300;
    static constexpr int kClockRunMs = 12 * 3600 * 1000;
    static constexpr int kRequestSlots = 256;
    static constexpr int kFirstContextId = 102;
    static constexpr int kProbeTimeoutSec = 3;
    static constexpr int kClockConnectSec = 3;
    static constexpr int kClockTotalSec = 5;

    struct VideoInfo
    {
        int codec;
        int width;
        int height;
        int frameRate;
    };
    struct AudioInfo
    {
        int codec;
        int sampleRate;
        int channels;
    };

    // One segment of a recording or capture schedule on one day of the week.
    struct ScheduleEntry
    {
        int applyTo = 0;     // 0 every device, 1 the listed ones
        int start = 0;       // minutes of the day
        int end = 0;         // exclusive
        int segmentType = 0; // 0 continuous, 1 on alarm
        int enabled = 0;
        QStringList devices;
        int day = 0; // 1 Monday .. 7 Sunday
    };

    qcStreamServer();
    ~qcStreamServer() override;

    int addDevice(const QString &ip, const QString &port, const QString &name, const QString &user,
                  const QString &password, const QString &type, qint64 index);
    bool removeDevice(const QString &ip);
    bool modifyDevice(qint64 index, const QString &ip, const QString &port, const QString &name, const QString &user,
                      const QString &password);
    bool getStreamInfo(const QString &ip, int stream, VideoInfo *video, AudioInfo *audio, quint8 *decoder);
    qcFrameBuffer *getMainFrameBuffer(const QString &ip);
    qcFrameBuffer *getSubFrameBuffer(const QString &ip);
    bool isRecording();

    // May be called again while the service runs: recordings and snapshots
    // that start afterwards use the new folders and values.
    bool setLocalConfig(const QString &recordPath, const QString &snapshotPath, int recordDuration, int prevRecord,
                        int postRecord, int recordStream, int reservedSize, int keepDays, int captureCount,
                        int captureInterval);
    // The new recording's path under the record root and today's day folder
    // (created); empty without a root or for a kind that is not recorded.
    QString buildRecordPath(const QString &address, int kind);
    // Manual recording: true when a recorder runs for the device afterwards.
    bool startRecord(const QString &ip, int pre);
    bool stopRecord(const QString &ip);
    // The device's recording of that kind (manual or alarm) goes on: a file
    // of it runs, or the next one after a cut (a change of the date, a jump
    // of the stream's time) is about to start.
    bool recordingGoesOn(const QString &ip, int kind);
    bool addRecordSchedule(int day, int applyTo, int segmentType, int start, int end, int enabled,
                           const QString &devices);
    bool addSecondSchedule(int day, int applyTo, int segmentType, int start, int end, int enabled,
                           const QString &devices);
    // Takes the whole new schedule lists at once, in place of what was
    // added before; an entry the add calls would refuse is left out. True
    // when none was left out.
    bool replaceSchedules(const QList<ScheduleEntry> &records, const QList<ScheduleEntry> &captures);
    QList<ScheduleEntry> recordSchedules();
    QList<ScheduleEntry> captureSchedules();
    // Before the first tick: the alarm channel's time limits.
    void setAlarmTiming(const AlarmTiming &timing);
    qcAlarmServer *alarmServer();
    qcDiskManager *diskGuard();
    qcCaptureServer *captureServer();
    // Whether the start-up repair of the record folders has run.
    bool recordingsRepaired() const { return m_repaired.load(); }

    // False, besides for an address not listed, when the microphone cannot
    // be opened (told as a talk that ended). A device that does not take
    // the talk, or drops it later, is told by a later tick.
    bool startIntercom(const QString &ip);
    bool stopIntercom(const QString &ip);

    // One 300 ms tick; the timer calls it, tests may call it on the service
    // thread directly.
    Q_INVOKABLE void tick();
    // Tells the talks whose sender ended by itself; every tick does it.
    void checkTalks();
    // The 12-hour run: sets the clock of every device reached by address.
    Q_INVOKABLE void clockRun();
    // Ends everything the service started; idempotent.
    Q_INVOKABLE void shutdown();

    QString recordRoot();
    QString captureRoot();
    int pollCounter();
    int recordDuration();
    // The unit of a listed address (owned by the service), for diagnostics.
    qcStreamUtil *unitFor(const QString &ip);
    qcAudioCapture *microphone() const { return m_capture; }
    // Makes the shared microphone at the first talk; tests give it a tone.
    using MicrophoneFactory = std::function<qcAudioCapture *()>;
    void setMicrophoneFactory(MicrophoneFactory factory);
    // Requests that have not been emptied from their slots yet.
    int requestCount();

signals:
    void sigDeviceStatus(QString ip, int result);
    void sigDeviceMetainfoChange(QString ip, int stream);
    void sigRecordResult(QString ipaddr, QString file, int type);
    void sigScheduleRecord(QString ipaddr);
    void sigAlarmArrival(QString ipaddr, QString devname, int type, int action, QDateTime datetime);
    void sigAlarmRemoveDevice(QString ipaddr);
    void sigAlarmModifyDevice(QString ipaddr, QString port, QString username, QString password, qlonglong devindex);
    // A talk asked for that cannot go on (`end`: a talklog::End), told once
    // and in the system log.
    void sigTalkEnded(QString ipaddr, int end);

public slots:
    void onCgicompleted(int ctxid, int error);
    void onDeviceMetaInfoChange(int ctxid, int stream);
    void onAlarmStatus(QString ipaddr, int status);

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    struct TalkEnd
    {
        QString address, name;
        talklog::End end;
        int lostMs;
    };
    // Into the system log, and to the live page those it switches back.
    void tellTalkEnds(const QList<TalkEnd> &ends);
    // Whether the add calls would take the entry into the record or capture
    // list.
    static bool isValidEntry(const ScheduleEntry &entry, bool capture);
    qcStreamUtil *findLocked(const QString &ip) const;
    // The owned services of the first tick; none exist yet.
    void createOwnedServices();
    void repairRecordings();
    void checkSchedules();
    // The units the schedule holds no window for now end their scheduled
    // run: their next scheduled file starts afresh.
    void lapseScheduledRunsLocked(const QStringList &running);
    // Starts the next file of every manual recording that was cut.
    void continueRecordings();
    void startScheduledRecord(const QString &address);
    QString recordPathLocked(const QString &address, int kind);
    bool addSchedule(QList<ScheduleEntry> *list, bool capture, int day, int applyTo, int segmentType, int start,
                     int end, int enabled, const QString &devices);
    // The named pass over the entries and, when no enabled entry names the
    // address, the pass for all devices; act runs under the device-list mutex
    // for each entry that applies. True when any act did.
    bool runAlarmPasses(const QList<ScheduleEntry> &entries, const QString &address, int today, int minute,
                        bool capture, const std::function<bool(bool general)> &act);
    // Hands an alarm capture task for every unit with that address to the
    // scheduler; true when one was taken.
    bool addAlarmCaptureLocked(const QString &address, QString *name);
    static CaptureTask_t captureTaskOf(const qcStreamUtil *unit);
    // The scheduler's timed tasks made to match the capture entries of
    // segment type 0 whose window holds now: every other timed task goes,
    // and an online device in such a window gets its task.
    void matchTimedCapturesLocked(const QList<ScheduleEntry> &entries, int today, int minute);
    // The same for the lists and the clock as they are now; after every
    // change of the lists, the devices or the capture values.
    void matchTimedCapturesNowLocked();
    // Takes a removed device's address out of the entries that name it.
    static void dropScheduledAddressLocked(QList<ScheduleEntry> *list, const QString &ip);
    // Starts an alarm recording of an online unit; true when one was asked.
    bool startAlarmRecordLocked(const QString &address, QString *name);
    void pollDevices();
    // Takes every request out of its slot; the caller stops them with
    // stopRequests() once the device-list mutex is released.
    QList<CGIUtil *> takeRequestsLocked();
    static void stopRequests(const QList<CGIUtil *> &requests);
    bool sendProbeLocked(qcStreamUtil *unit);
    void sendClockLocked(qcStreamUtil *unit);
    int freeSlotLocked() const;
    // Deletes an owned service on its thread, then ends the thread.
    static void endOnThread(QObject *object, QThread *thread);
    static void deleteUnits(const QList<qcStreamUtil *> &units);

    QList<qcStreamUtil *> m_units;
    // Guards the device list, the request slots and the configuration.
    QMutex m_mutex;
    int m_tickTimer = 0;
    int m_clockTimer = 0;
    int m_nextContextId = kFirstContextId;
    int m_pollCounter = 3;
    int m_recordDuration = 0;
    int m_prevRecord = 0;
    int m_postRecord = 0;
    int m_recordStream = 0;
    QString m_recordRoot;
    int m_captureCount = 0;
    int m_captureInterval = 1;
    int m_reservedSize = 5;
    int m_keepDays = 30;
    std::array<CGIUtil *, kRequestSlots> m_requests{};
    QString m_captureRoot;
    qcAudioCapture *m_capture = nullptr;
    MicrophoneFactory m_microphoneFactory;
    QList<ScheduleEntry> m_recordSchedules;
    QList<ScheduleEntry> m_captureSchedules;
    qcAlarmServer *m_alarmServer = nullptr;
    QThread *m_alarmThread = nullptr;
    AlarmTiming m_alarmTiming;
    qcDiskManager *m_diskGuard = nullptr;
    qcCaptureServer *m_captureServer = nullptr;
    QThread *m_captureThread = nullptr;
    std::atomic<bool> m_repaired{false};
    std::atomic<bool> m_shutDown{false};
};
