#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QThread>

#include <atomic>
#include <mutex>

class QTcpSocket;

// One picture to fetch from a device.
struct CaptureRequest_t
{
    QString ip;
    QString port;
    QString user;
    QString password;
    QTcpSocket *socket = nullptr;
    quint8 connected = 0;
    quint32 type = 0; // qcRemoteCapture::kTimedCapture or kAlarmCapture
};

// Fetches the devices' own JPEG snapshots, one request after the other, and
// stores each under the capture root. It runs without an event loop: the
// sockets are driven by their blocking waits, cut into short slices so that
// stop() takes effect within one slice even during a request.
class qcRemoteCapture : public QThread
{
    Q_OBJECT
public:
    static constexpr quint32 kTimedCapture = 225;
    static constexpr quint32 kAlarmCapture = 226;
    static constexpr int kMaxRequests = 256;
    static constexpr int kMaxReply = 0x1400000;
    static constexpr int kMinReply = 1024;
    static constexpr int kMaxRequestBytes = 4047;
    static constexpr int kSliceMs = 50;
    static constexpr int kConnectMs = 500;
    static constexpr int kReplyMs = 5000;

    qcRemoteCapture(QObject *parent, const QString &captureRoot);
    // Stops and waits for the loop; requests still queued are dropped.
    ~qcRemoteCapture() override;

    bool addRequest(const QString &ip, const QString &port, const QString &user, const QString &password, quint32 type);
    void stop() { m_stop = true; }
    int pendingRequests();
    // Tests shorten the waits.
    void setTimeouts(int connectMs, int replyMs);
    // Requests taken off the queue and finished, stored or not.
    int handledRequests() const { return m_handled.load(); }
    // The largest receive buffer held so far, in bytes.
    int peakBufferBytes() const { return m_peakBuffer.load(); }

    // Checks shared with the scheduler.
    static bool isIpv4(const QString &ip);
    static bool isPort(const QString &port);
    // The request as it goes on the wire; empty when it would not fit.
    static QByteArray buildRequest(const QString &user, const QString &password);
    // The JPEG inside a whole reply; empty when the reply holds no picture.
    static QByteArray pictureOf(const QByteArray &reply);
    // The picture's file under root for a capture at `at` (folder created);
    // empty when the folder cannot be made or the address is no folder name.
    static QString makeCaptureFileName(const QString &root, const QString &ip, quint32 type, const QDateTime &at,
                                       int msecsRaise = 0);
    // Writes the picture into a new file; a name already taken (a second
    // picture in the same millisecond) gets the next millisecond. Returns the
    // file, or an empty string when nothing was stored (told, capturefile).
    static QString storePicture(const QString &root, const QString &ip, quint32 type, const QDateTime &at,
                                const QByteArray &jpeg);

protected:
    void run() override;

private:
    CaptureRequest_t *takeRequest();
    QTcpSocket *connectAndSend(CaptureRequest_t *request);
    // The whole reply, or empty when it did not complete in time or grew too large.
    QByteArray readReply(QTcpSocket *socket);
    void noteBuffer(int bytes);

    // A standard mutex, so that the thread checker sees the hand-over.
    std::mutex m_mutex;
    QList<CaptureRequest_t *> m_requests;
    QString m_root;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connectMs{kConnectMs};
    std::atomic<int> m_replyMs{kReplyMs};
    std::atomic<int> m_peakBuffer{0};
    std::atomic<int> m_handled{0};
};
