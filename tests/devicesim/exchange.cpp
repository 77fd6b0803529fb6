#include "exchange.h"

#include <QTimer>

#include <sys/socket.h>

namespace devicesim {

Exchange::Exchange(QTcpSocket *socket, Device *device, QObject *parent)
    : QObject(parent), m_socket(socket), m_device(device)
{
    socket->setParent(this);
    connect(socket, &QTcpSocket::readyRead, this, &Exchange::onReadyRead);
    connect(socket, &QTcpSocket::disconnected, this, &Exchange::onDisconnected);
    // Bytes may already be waiting.
    QTimer::singleShot(0, this, &Exchange::onReadyRead);
}

Exchange::~Exchange() = default;

void Exchange::onReadyRead()
{
    if (!m_socket || m_phase == TakenOver)
        return;
    const QByteArray bytes = m_socket->readAll();
    if (m_phase != Reading)
        return; // one request per connection; anything after it is ignored
    if (bytes.isEmpty())
        return;
    const auto state = m_reader.feed(bytes);
    if (state == RequestReader::Failed) {
        m_phase = Handling;
        LoggedRequest entry;
        entry.method = m_reader.request().method;
        entry.path = m_reader.request().path;
        entry.query = m_reader.request().query;
        entry.headers = m_reader.request().headers;
        entry.arrival = QDateTime::currentDateTime();
        entry.localAddress = m_socket->localAddress();
        entry.peerPort = m_socket->peerPort();
        m_logIndex = m_device->logArrival(entry);
        respond(m_reader.errorStatus(), {}, "text/plain");
        return;
    }
    if (state == RequestReader::Done) {
        m_phase = Handling;
        dispatch();
    }
}

void Exchange::dispatch()
{
    const Request &req = m_reader.request();
    LoggedRequest entry;
    entry.method = req.method;
    entry.path = req.path;
    entry.query = req.query;
    entry.key = req.subjectKey();
    entry.headers = req.headers;
    entry.body = req.body;
    entry.arrival = QDateTime::currentDateTime();
    entry.localAddress = m_socket->localAddress();
    entry.peerPort = m_socket->peerPort();
    QString pair;
    entry.credentialsSent = req.hasHeader("Authorization") && decodeBasic(req.header("Authorization"), &pair);
    m_credentials = entry.credentialsSent ? m_device->checkCredentials(pair, &entry.user, &entry.password)
                                          : Device::Credentials::Missing;
    entry.authorized = m_credentials == Device::Credentials::Accepted;
    m_logIndex = m_device->logArrival(entry);

    m_hasFault = m_device->takeFault(req, &m_fault);
    if (m_hasFault && m_fault.replacesAnswer()) {
        applyReplacingFault();
        return;
    }
    const auto handler = m_device->handlerFor(req.path);
    if (!handler) {
        respond(404);
        return;
    }
    if (!handler->checksCredentials()) {
        if (m_credentials == Device::Credentials::Forbidden) {
            respond(403);
            return;
        }
        if (m_credentials != Device::Credentials::Accepted) {
            respond(401, {}, "text/xml", {{"WWW-Authenticate", "Basic realm=\"device\""}});
            return;
        }
    }
    handler->handle(*this);
}

void Exchange::applyReplacingFault()
{
    const QString what = m_fault.describe();
    switch (m_fault.kind) {
    case Fault::Status: {
        HeaderList extra;
        if (m_fault.code == 401)
            extra.append(qMakePair(QByteArray("WWW-Authenticate"), QByteArray("Basic realm=\"device\"")));
        if (m_fault.code >= 300 && m_fault.code < 400)
            extra.append(qMakePair(QByteArray("Location"), QByteArray("/")));
        send(formatResponse(m_fault.code, m_fault.body, "text/xml", extra), m_fault.code);
        m_device->logAnswer(m_logIndex, m_fault.code, what);
        break;
    }
    case Fault::LargeBody:
        send(formatResponse(200, Fault::pattern(m_fault.size), "application/octet-stream"), 200);
        m_device->logAnswer(m_logIndex, 200, what);
        break;
    case Fault::Drop:
        m_device->logAnswer(m_logIndex, 0, what);
        closeConnection();
        break;
    case Fault::Reset:
        m_device->logAnswer(m_logIndex, 0, what);
        closeConnection(true);
        break;
    case Fault::Garbage:
        m_device->logAnswer(m_logIndex, 0, what);
        send(Fault::garbageBytes(), 0);
        break;
    case Fault::Silent:
        m_phase = Idle;
        m_device->logAnswer(m_logIndex, 0, what);
        break;
    default:
        break;
    }
}

void Exchange::respond(int status, const QByteArray &body, const QByteArray &contentType, const HeaderList &extra)
{
    if (m_phase != Handling && m_phase != Reading)
        return;
    const bool shaped = m_hasFault && !m_fault.replacesAnswer();
    if (!shaped) {
        m_device->logAnswer(m_logIndex, status);
        send(formatResponse(status, body, contentType, extra), status);
        return;
    }
    const QString what = m_fault.describe();
    switch (m_fault.kind) {
    case Fault::MalformedStatus: {
        QByteArray bytes = formatResponse(status, body, contentType, extra, "HTTP/1.1 ");
        m_device->logAnswer(m_logIndex, status, what);
        send(bytes, status);
        break;
    }
    case Fault::Interim100:
        m_device->logAnswer(m_logIndex, status, what);
        send("HTTP/1.1 100 Continue\r\n\r\n" + formatResponse(status, body, contentType, extra, "HTTP/1.1"), status);
        break;
    case Fault::Delay: {
        m_phase = Idle;
        const QByteArray bytes = formatResponse(status, body, contentType, extra);
        QTimer::singleShot(m_fault.delayMs, this, [this, bytes, status, what] {
            if (m_phase != Idle)
                return;
            m_device->logAnswer(m_logIndex, status, what);
            send(bytes, status);
        });
        break;
    }
    case Fault::Stall:
    case Fault::Cut: {
        // The head and the first half of the body (at least one byte), then
        // nothing (Stall) or the end of the connection (Cut).
        const QByteArray bytes = formatResponse(status, body, contentType, extra);
        const int part = body.isEmpty() ? 0 : qMax(1, body.size() / 2);
        m_device->logAnswer(m_logIndex, status, what);
        send(bytes.left(bytes.size() - body.size() + part), status, m_fault.kind == Fault::Cut);
        break;
    }
    case Fault::Trickle: {
        const QByteArray bytes = formatResponse(status, body, contentType, extra);
        m_device->logAnswer(m_logIndex, status, what);
        send(bytes.left(bytes.size() - body.size()), status, false);
        m_pending = body;
        m_timer = new QTimer(this);
        connect(m_timer, &QTimer::timeout, this, &Exchange::trickleNext);
        m_timer->start(m_fault.everyMs);
        break;
    }
    default:
        break;
    }
}

void Exchange::respondRaw(int status, const QByteArray &bytes)
{
    if (m_phase != Handling)
        return;
    m_device->logAnswer(m_logIndex, status);
    send(bytes, status);
}

void Exchange::trickleNext()
{
    if (!m_socket || m_phase != Answering) {
        m_timer->stop();
        return;
    }
    const QByteArray piece = m_pending.left(m_fault.chunkBytes);
    m_pending.remove(0, piece.size());
    m_socket->write(piece);
    if (m_pending.isEmpty()) {
        m_timer->stop();
        closeConnection();
    }
}

void Exchange::send(const QByteArray &bytes, int status, bool closeAfter)
{
    Q_UNUSED(status);
    m_phase = Answering;
    if (!m_socket)
        return;
    m_socket->write(bytes);
    if (closeAfter)
        closeConnection();
}

void Exchange::closeConnection(bool abortive)
{
    m_phase = Closed;
    if (!m_socket)
        return;
    if (abortive) {
        // SO_LINGER 0 turns the close into a reset.
        struct linger lg;
        lg.l_onoff = 1;
        lg.l_linger = 0;
        ::setsockopt(int(m_socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
        m_socket->abort();
        deleteLater();
        return;
    }
    m_socket->disconnectFromHost();
    if (m_socket->state() == QAbstractSocket::UnconnectedState)
        deleteLater();
}

void Exchange::onDisconnected()
{
    if (m_phase == TakenOver)
        return;
    if (m_phase != Closed && m_logIndex >= 0)
        m_device->logPeerClosed(m_logIndex);
    m_phase = Closed;
    if (m_timer)
        m_timer->stop();
    deleteLater();
}

QTcpSocket *Exchange::takeSocket(QByteArray *rest)
{
    m_phase = TakenOver;
    if (rest)
        *rest = m_reader.takeRest();
    QTcpSocket *socket = m_socket;
    if (socket) {
        disconnect(socket, nullptr, this, nullptr);
        socket->setParent(nullptr);
    }
    m_socket = nullptr;
    deleteLater();
    return socket;
}

} // namespace devicesim
