#include "media/qcremotecapture.h"

#include "device/deviceaddress.h"
#include "device/httprequest.h"
#include "media/capturefile.h"
#include "media/recordfileguard.h"
#include "media/recordnames.h"
#include "platform/clock.h"

#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTcpSocket>

namespace {

const char kRequest[] = "GET /action/snap?cam=0 HTTP/1.1\r\nAuthorization: Basic %1\r\nConnection: Keep-Alive \r\n"
                        "User-Agent: PRYS/1.0.0\r\nAccpet: text/html, application/xhtml+xml,*/*\r\n"
                        "Accept-Encoding: gzip,deflate\r\nContent-length: 0\r\n\r\n";
const QByteArray kConnectionClose = QByteArrayLiteral("Connection: close");
constexpr int kReadBufferBytes = 0x100000;

// The length the header announces, or -1 without one.
qint64 contentLength(const QByteArray &header)
{
    for (const QByteArray &line : header.split('\n')) {
        const int colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == "content-length") {
            bool ok = false;
            const qint64 n = line.mid(colon + 1).trimmed().toLongLong(&ok);
            return ok && n >= 0 ? n : -1;
        }
    }
    return -1;
}

// The day's folder of a device's pictures; empty when the address is no
// folder name.
QString captureFolder(const QString &root, const QString &ip, const QDate &day)
{
    const QString device = deviceaddress::folderName(ip);
    return device.isEmpty() ? QString()
                            : root + QLatin1Char('/') + recordnames::dayFolder(day) + QLatin1Char('/') + device;
}

} // namespace

qcRemoteCapture::qcRemoteCapture(QObject *parent, const QString &captureRoot) : QThread(parent), m_root(captureRoot) {}

qcRemoteCapture::~qcRemoteCapture()
{
    // A QThread destroyed while it runs takes the process down; the stop
    // checks bound this wait to one slice.
    stop();
    wait();
    std::lock_guard<std::mutex> lock(m_mutex);
    qDeleteAll(m_requests);
    m_requests.clear();
}

bool qcRemoteCapture::isIpv4(const QString &ip)
{
    static const QRegularExpression re(QStringLiteral(
        "^(((25[0-5])|(2[0-4]\\d)|(1\\d\\d|[1-9]\\d)|(\\d))\\.){3}(((25[0-5])|(2[0-4]\\d)|(1\\d\\d|[1-9]\\d)|(\\d)))$"));
    return re.match(ip).hasMatch();
}

bool qcRemoteCapture::isPort(const QString &port)
{
    bool ok = false;
    const int n = port.toInt(&ok, 10);
    return ok && n >= 1 && n <= 65535;
}

bool qcRemoteCapture::addRequest(const QString &ip, const QString &port, const QString &user, const QString &password,
                                 quint32 type)
{
    if (!isIpv4(ip) || !isPort(port) || user.isEmpty() || password.isEmpty() ||
        (type != kTimedCapture && type != kAlarmCapture))
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_requests.size() >= kMaxRequests) {
        qDebug() << "capture queue full, request dropped for" << ip;
        return false;
    }
    auto *r = new CaptureRequest_t;
    r->ip = ip;
    r->port = port;
    r->user = user;
    r->password = password;
    r->type = type;
    m_requests.append(r);
    return true;
}

int qcRemoteCapture::pendingRequests()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests.size();
}

void qcRemoteCapture::setTimeouts(int connectMs, int replyMs)
{
    m_connectMs = connectMs;
    m_replyMs = replyMs;
}

CaptureRequest_t *qcRemoteCapture::takeRequest()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests.isEmpty() ? nullptr : m_requests.takeFirst();
}

void qcRemoteCapture::run()
{
    while (!m_stop) {
        CaptureRequest_t *request = takeRequest();
        if (!request) {
            msleep(10);
            continue;
        }
        // A failed fetch is dropped: the next tick asks again where it matters.
        if (QTcpSocket *socket = connectAndSend(request)) {
            const QByteArray jpeg = pictureOf(readReply(socket));
            if (!jpeg.isEmpty())
                storePicture(m_root, request->ip, request->type, platform::localNow(), jpeg);
            socket->abort();
            delete socket;
        }
        delete request;
        ++m_handled;
    }
}

QByteArray qcRemoteCapture::buildRequest(const QString &user, const QString &password)
{
    const QByteArray credentials = (user + QLatin1Char(':') + password).toLatin1().toBase64();
    QByteArray request = QByteArray(kRequest).replace("%1", credentials);
    return request.size() > kMaxRequestBytes ? QByteArray() : request;
}

QTcpSocket *qcRemoteCapture::connectAndSend(CaptureRequest_t *request)
{
    const QByteArray bytes = buildRequest(request->user, request->password);
    if (bytes.isEmpty()) {
        qDebug() << "capture request too long, dropped for" << request->ip;
        return nullptr;
    }
    auto *socket = new QTcpSocket;
    socket->setReadBufferSize(kReadBufferBytes);
    socket->connectToHost(request->ip, quint16(request->port.toUInt()), QIODevice::ReadWrite,
                          QAbstractSocket::AnyIPProtocol);
    QElapsedTimer clock;
    clock.start();
    while (!m_stop && socket->state() != QAbstractSocket::ConnectedState &&
           socket->state() != QAbstractSocket::UnconnectedState && clock.elapsed() < m_connectMs)
        socket->waitForConnected(int(qBound<qint64>(1, m_connectMs - clock.elapsed(), kSliceMs)));
    if (socket->state() != QAbstractSocket::ConnectedState) {
        socket->abort();
        delete socket;
        qDebug() << "Connect Camera failed;";
        return nullptr;
    }
    request->connected = 1;
    if (socket->write(bytes) <= 0) {
        socket->abort();
        delete socket;
        qDebug() << "Send Get failed;";
        return nullptr;
    }
    return socket;
}

QByteArray qcRemoteCapture::readReply(QTcpSocket *socket)
{
    QByteArray reply;
    int headerEnd = -1;
    qint64 length = -1;
    QElapsedTimer clock;
    clock.start();
    while (!m_stop && clock.elapsed() < m_replyMs) {
        if (socket->bytesToWrite() > 0)
            socket->waitForBytesWritten(kSliceMs);
        else if (socket->bytesAvailable() == 0 && socket->state() == QAbstractSocket::ConnectedState)
            socket->waitForReadyRead(int(qBound<qint64>(1, m_replyMs - clock.elapsed(), kSliceMs)));
        const QByteArray chunk = socket->readAll();
        if (reply.size() + qint64(chunk.size()) > kMaxReply)
            return QByteArray();
        reply += chunk;
        noteBuffer(reply.capacity());
        if (headerEnd < 0) {
            headerEnd = reply.indexOf("\r\n\r\n");
            if (headerEnd >= 0)
                length = contentLength(reply.left(headerEnd));
        }
        if (headerEnd >= 0 && length >= 0 && reply.size() - headerEnd - 4 >= length)
            return reply;
        if (socket->state() != QAbstractSocket::ConnectedState && socket->bytesAvailable() == 0)
            // Closed by the peer: whole only when no length was announced.
            return length < 0 ? reply : QByteArray();
    }
    return QByteArray();
}

void qcRemoteCapture::noteBuffer(int bytes)
{
    int seen = m_peakBuffer.load();
    while (bytes > seen && !m_peakBuffer.compare_exchange_weak(seen, bytes)) {
    }
}

QByteArray qcRemoteCapture::pictureOf(const QByteArray &reply)
{
    const httprequest::StatusLine status = httprequest::statusLine(reply);
    if (reply.size() < kMinReply || status.code != 200 || status.minor > 1)
        return QByteArray();
    const int headerEnd = reply.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return QByteArray();
    const QByteArray header = reply.left(headerEnd);
    const qint64 length = contentLength(header);
    if (length >= 0 && reply.size() - headerEnd - 4 < length)
        return QByteArray();
    const QByteArray whole = length >= 0 ? reply.left(int(headerEnd + 4 + length)) : reply;
    // The picture starts at the first 0xFF behind the header.
    const int close = header.indexOf(kConnectionClose);
    const int start = whole.indexOf('\xFF', close >= 0 ? close + kConnectionClose.size() : headerEnd + 4);
    const int end = whole.lastIndexOf("\xFF\xD9");
    if (start < 0 || end < start)
        return QByteArray();
    return whole.mid(start, end + 2 - start);
}

namespace {

// The picture's file under root; empty when the address is no folder name.
QString captureFileName(const QString &root, const QString &ip, quint32 type, const QDateTime &at, int msecsRaise)
{
    const QDate d = at.date();
    const QTime t = at.time();
    const QString folder = captureFolder(root, ip, d);
    if (folder.isEmpty())
        return QString();
    const QStringList parts = ip.split(QLatin1Char('.'));
    const QLatin1Char zero('0');
    const QString name =
        QString(type == qcRemoteCapture::kTimedCapture ? "PICV1_TIMING_%1-%2-%3-%4_%5-%6-%7-%8-%9-%10-%11.jpg"
                                                       : "PICV1_ALARM_%1-%2-%3-%4_%5-%6-%7-%8-%9-%10-%11.jpg")
            .arg(parts.value(0), parts.value(1), parts.value(2), parts.value(3))
            .arg(d.year(), 4, 10, zero)
            .arg(d.month(), 2, 10, zero)
            .arg(d.day(), 2, 10, zero)
            .arg(t.hour(), 2, 10, zero)
            .arg(t.minute(), 2, 10, zero)
            .arg(t.second(), 2, 10, zero)
            .arg(t.msec() + msecsRaise, 4, 10, zero);
    return folder + QLatin1Char('/') + name;
}

} // namespace

QString qcRemoteCapture::makeCaptureFileName(const QString &root, const QString &ip, quint32 type, const QDateTime &at,
                                             int msecsRaise)
{
    const QString path = captureFileName(root, ip, type, at, msecsRaise);
    return path.isEmpty() || !recordfileguard::makeFolder(root, QFileInfo(path).path()) ? QString() : path;
}

QString qcRemoteCapture::storePicture(const QString &root, const QString &ip, quint32 type, const QDateTime &at,
                                      const QByteArray &jpeg)
{
    return capturefile::store(
        root, [&](int raise) { return captureFileName(root, ip, type, at, raise); }, jpeg);
}
