#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QString>

#include <functional>
#include <memory>

#include "faults.h"
#include "http.h"
#include "multipart.h"

namespace devicesim {

class Exchange;

// One request as the device saw it.
struct LoggedRequest
{
    int index = 0; // position in the log
    QByteArray method;
    QByteArray path;
    QByteArray query;
    QString key; // subject key, empty without a subject
    HeaderList headers;
    bool credentialsSent = false;
    QString user; // decoded from Basic authorization
    QString password;
    bool authorized = false; // the credentials matched
    QByteArray body;
    QDateTime arrival;
    QHostAddress localAddress; // which of the device's addresses it came to
    quint16 peerPort = 0;      // the client's end of the connection
    int status = 0;            // status sent; 0 while none was sent (or never)
    QString fault;             // the fault applied, if any
    bool answered = false;     // the answer (or the fault's bytes) was decided
    bool peerClosed = false;   // the client closed before the device finished

    QByteArray header(const QByteArray &name) const;
};

// A connection of a client to the device opened or closed (by either end).
struct ConnectionEvent
{
    bool open = true;
    quint16 peerPort = 0;
    QHostAddress localAddress;
    QDateTime time;
};

// Something that answers the requests under a path prefix. Handlers run on
// the device thread; they may answer at once, later (timers) or take the
// connection over (streams, pushed messages).
class Handler
{
public:
    virtual ~Handler() = default;
    // Called once the request has been read whole (head and body).
    virtual void handle(Exchange &exchange) = 0;
    // True when the handler judges the credentials itself; otherwise the
    // device answers 401/403 before the handler is called.
    virtual bool checksCredentials() const { return false; }
    // Called on the device thread when the device stops: close taken-over
    // connections and timers here.
    virtual void shutdown() {}
};

// A device of our own answering the camera's HTTP API on a loopback address.
// It runs on its own thread with its own event loop; every public call is
// thread-safe.
class Device
{
public:
    enum class Credentials { Missing, Wrong, Forbidden, Accepted };

    Device();
    ~Device();
    Device(const Device &) = delete;
    Device &operator=(const Device &) = delete;

    // Listens on a loopback address (127.0.0.0/8 only); port 0 picks a free one.
    bool start(const QHostAddress &address = QHostAddress(QHostAddress::LocalHost), quint16 port = 0,
               QString *error = nullptr);
    // Closes the listener and every connection; start() may be called again.
    void stop();
    bool isListening() const;
    QHostAddress address() const;
    quint16 port() const;
    // "http://127.0.0.1:PORT"
    QString baseUrl() const;

    static bool isLoopback(const QHostAddress &address);

    // Credentials and users refused with 403.
    void setCredentials(const QString &user, const QString &password);
    QString user() const;
    QString password() const;
    void setForbiddenUser(const QString &user);
    // Judges decoded "user:password" text; fills user and password (split at
    // the first ':' unless the whole text is the configured pair).
    Credentials checkCredentials(const QString &userColonPassword, QString *user, QString *password) const;

    // Stored documents by subject key ("sample", "network&adapter=1").
    void setSubject(const QString &key, const QByteArray &xml);
    QByteArray subject(const QString &key) const;
    bool hasSubject(const QString &key) const;
    // Every GET of key is answered with what source computes, on the device
    // thread; a stored document of that key is ignored meanwhile. An empty
    // function removes the source.
    void setSubjectSource(const QString &key, std::function<QByteArray()> source);
    bool generateSubject(const QString &key, QByteArray *xml) const;
    QStringList subjectKeys() const;
    // Loads every DIR/<key>.xml.
    bool loadSubjects(const QString &dir, QString *error = nullptr);
    // The answer to a set of that key in place of <response><status>0</status></response>.
    void setSetReply(const QString &key, const QByteArray &body);
    QByteArray setReply(const QString &key) const;

    // The blob of import and export, the recorded PTZ commands, uploaded parts.
    void setBlob(const QByteArray &blob);
    QByteArray blob() const;
    void recordPtz(const QByteArray &body);
    QList<QByteArray> ptzCommands() const;
    void storeUpload(const FormPart &part);
    bool upload(const QString &partName, FormPart *part) const;

    // Faults: see faultMatches() for the match; times -1 means always.
    void addFault(const QString &match, const Fault &fault, int times = -1);
    void clearFaults();
    // The fault for this request, if any; counts one use of it.
    bool takeFault(const Request &request, Fault *fault);

    // Request log.
    QList<LoggedRequest> requests() const;
    bool waitForRequests(int count, int timeoutMs) const;
    // Waits until the predicate holds for the log.
    bool waitFor(const std::function<bool(const QList<LoggedRequest> &)> &predicate, int timeoutMs) const;
    void clearLog();
    // Opens and closes of connections, oldest first; clearLog() empties it too.
    QList<ConnectionEvent> connectionLog() const;
    // How many connections that carried a request the predicate picks are
    // still open.
    int openConnections(const std::function<bool(const LoggedRequest &)> &which) const;
    void logConnection(const ConnectionEvent &event);
    // Called on the device thread once per request when its answer (or the
    // lack of one) is decided.
    void setRequestObserver(const std::function<void(const LoggedRequest &)> &observer);

    // Used by exchanges and handlers.
    int logArrival(LoggedRequest entry);
    void logAnswer(int index, int status, const QString &fault = {});
    void logPeerClosed(int index);

    // Routing by path prefix; the longest registered prefix wins.
    void registerHandler(const QByteArray &prefix, std::shared_ptr<Handler> handler);
    std::shared_ptr<Handler> handlerFor(const QByteArray &path) const;

    // An object living on the device thread (parent for timers and sockets of handlers).
    QObject *threadObject() const;
    // Runs fn on the device thread and waits for it.
    void runOnDeviceThread(const std::function<void()> &fn) const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace devicesim
