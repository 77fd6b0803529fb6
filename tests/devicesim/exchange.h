#pragma once

#include <QObject>
#include <QPointer>
#include <QTcpSocket>

#include "device.h"
#include "faults.h"
#include "http.h"

class QTimer;

namespace devicesim {

// One connection: reads one request, routes it, sends the answer the
// handler gives, shaped by a fault when one applies, and closes.
class Exchange : public QObject
{
    Q_OBJECT
public:
    Exchange(QTcpSocket *socket, Device *device, QObject *parent);
    ~Exchange() override;

    const Request &request() const { return m_reader.request(); }
    Device &device() { return *m_device; }
    int logIndex() const { return m_logIndex; }
    Device::Credentials credentials() const { return m_credentials; }

    // Answers with the default framing (see formatResponse()) and closes.
    void respond(int status, const QByteArray &body = {}, const QByteArray &contentType = "text/xml",
                 const HeaderList &extra = {});
    // Sends exactly these bytes as the answer (status for the log) and closes.
    void respondRaw(int status, const QByteArray &bytes);
    // The handler takes the connection over: the socket is no longer read or
    // closed by the exchange and belongs to the caller (re-parent it); rest
    // receives the bytes read after the request. The exchange deletes itself.
    QTcpSocket *takeSocket(QByteArray *rest);

private slots:
    void onReadyRead();
    void onDisconnected();

private:
    void dispatch();
    void applyReplacingFault();
    void send(const QByteArray &bytes, int status, bool closeAfter = true);
    void trickleNext();
    void closeConnection(bool abortive = false);

    enum Phase { Reading, Handling, Answering, Idle, Closed, TakenOver };

    QPointer<QTcpSocket> m_socket;
    Device *m_device;
    RequestReader m_reader;
    Phase m_phase = Reading;
    int m_logIndex = -1;
    Device::Credentials m_credentials = Device::Credentials::Missing;
    bool m_hasFault = false;
    Fault m_fault;
    QByteArray m_pending; // trickled bytes not yet written
    QTimer *m_timer = nullptr;
};

} // namespace devicesim
