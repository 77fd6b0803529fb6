#include "device.h"

#include <QDir>
#include <QSocketNotifier>
#include <QFile>
#include <QTcpServer>
#include <QThread>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

#include "cgihandler.h"
#include "exchange.h"

namespace devicesim {

QByteArray LoggedRequest::header(const QByteArray &name) const
{
    return findHeader(headers, name);
}

namespace {

// Lives on the device thread and owns the listeners and their connections.
class Core : public QObject
{
public:
    explicit Core(Device *device) : m_device(device) {}

    bool listen(const QHostAddress &address, quint16 port, quint16 *actual, QString *error)
    {
        auto *server = new QTcpServer(this);
        if (!server->listen(address, port)) {
            *error = server->errorString();
            delete server;
            return false;
        }
        QObject::connect(server, &QTcpServer::newConnection, this, [this, server] {
            while (QTcpSocket *socket = server->nextPendingConnection()) {
                logOpenAndClose(socket);
                new Exchange(socket, m_device, this);
            }
        });
        *actual = server->serverPort();
        return true;
    }

    void closeAll()
    {
        // Listeners and open exchanges are children; taken-over sockets
        // belong to their handlers, which shut them down.
        const auto kids = children();
        for (QObject *child : kids)
            delete child;
    }

private:
    // Whoever ends up owning the socket (an exchange or a handler that took
    // it over), its end is logged once.
    void logOpenAndClose(QTcpSocket *socket)
    {
        ConnectionEvent event{true, socket->peerPort(), socket->localAddress(), QDateTime::currentDateTime()};
        m_device->logConnection(event);
        auto logged = std::make_shared<bool>(false);
        const auto closed = [device = m_device, event, logged] {
            if (*logged)
                return;
            *logged = true;
            ConnectionEvent end = event;
            end.open = false;
            end.time = QDateTime::currentDateTime();
            device->logConnection(end);
        };
        QObject::connect(socket, &QTcpSocket::disconnected, this, closed);
        QObject::connect(socket, &QObject::destroyed, this, closed);
    }

    Device *m_device;
};

} // namespace

struct Device::Private
{
    // Standard primitives, whose hand-offs ThreadSanitizer sees (Qt is not
    // built with it).
    mutable std::mutex mutex;
    mutable std::condition_variable logChanged;
    // Calls from other threads reach the device thread through a queue of
    // our own and a wake-up pipe rather than Qt's event queue, whose locks
    // and thread start and join ThreadSanitizer cannot see (Qt is not built
    // with it); the same goes for the thread's own start and end.
    mutable std::mutex handoff;
    mutable std::condition_variable threadChanged;
    mutable std::deque<std::function<void()>> tasks; // under handoff
    int threadStage = 0;                             // under handoff: 1 running (event loop set up), 2 finished
    int wake[2] = {-1, -1};
    QSocketNotifier *wakeNotifier = nullptr; // device thread; not a child of the core, which stop() clears

    // On the device thread: runs what has been handed over.
    void runTasks()
    {
        char drain[64];
        while (::read(wake[0], drain, sizeof drain) > 0) {
        }
        for (;;) {
            std::function<void()> task;
            {
                std::lock_guard<std::mutex> lock(handoff);
                if (tasks.empty())
                    return;
                task = std::move(tasks.front());
                tasks.pop_front();
            }
            task();
        }
    }

    QString user = QStringLiteral("admin");
    QString password = QStringLiteral("1234");
    QStringList forbidden;

    QMap<QString, QByteArray> subjects;
    QMap<QString, std::function<QByteArray()>> sources;
    QMap<QString, QByteArray> setReplies;
    QByteArray blob;
    QList<QByteArray> ptz;
    QMap<QString, FormPart> uploads;

    struct Rule
    {
        QString match;
        Fault fault;
        int remaining; // -1: always
    };
    QList<Rule> faults;

    QList<LoggedRequest> log;
    QList<ConnectionEvent> connections;
    std::function<void(const LoggedRequest &)> observer;

    QList<QPair<QByteArray, std::shared_ptr<Handler>>> handlers;

    QThread thread;
    Core *core = nullptr;
    bool listening = false;
    QHostAddress address;
    quint16 port = 0;
};

Device::Device() : d(new Private)
{
    d->thread.setObjectName(QStringLiteral("devicesim"));
    d->core = new Core(this);
    d->core->moveToThread(&d->thread);
    if (::pipe2(d->wake, O_CLOEXEC | O_NONBLOCK) != 0)
        qFatal("devicesim: no wake-up pipe");
    const auto stage = [p = d.get()](int s) {
        std::lock_guard<std::mutex> lock(p->handoff);
        p->threadStage = s;
        p->threadChanged.notify_all();
    };
    QObject::connect(&d->thread, &QThread::started, [p = d.get(), stage] {
        p->wakeNotifier = new QSocketNotifier(p->wake[0], QSocketNotifier::Read);
        QObject::connect(p->wakeNotifier, &QSocketNotifier::activated, p->wakeNotifier, [p] { p->runTasks(); });
        stage(1);
    });
    // The core goes on its own thread once the loop has ended.
    QObject::connect(&d->thread, &QThread::finished, [p = d.get(), stage] {
        delete p->wakeNotifier;
        p->wakeNotifier = nullptr;
        delete p->core;
        p->core = nullptr;
        stage(2);
    });
    d->thread.start();
    std::unique_lock<std::mutex> lock(d->handoff);
    d->threadChanged.wait(lock, [this] { return d->threadStage >= 1; });
    registerHandler("/action/", std::make_shared<CgiHandler>());
}

Device::~Device()
{
    stop();
    runOnDeviceThread([this] { d->thread.quit(); });
    d->thread.wait();
    std::unique_lock<std::mutex> lock(d->handoff);
    d->threadChanged.wait(lock, [this] { return d->threadStage == 2; });
    ::close(d->wake[0]);
    ::close(d->wake[1]);
}

void Device::runOnDeviceThread(const std::function<void()> &fn) const
{
    if (QThread::currentThread() == &d->thread) {
        fn();
        return;
    }
    // Queued under the hand-off mutex, the device thread woken through the
    // pipe, and the end awaited on a condition of the same mutex: the order
    // of a blocking queued call, in primitives ThreadSanitizer follows.
    std::unique_lock<std::mutex> lock(d->handoff);
    bool done = false;
    d->tasks.push_back([&] {
        fn();
        std::lock_guard<std::mutex> end(d->handoff);
        done = true;
        d->threadChanged.notify_all();
    });
    const char one = 1;
    if (::write(d->wake[1], &one, 1) < 0 && errno != EAGAIN)
        qFatal("devicesim: cannot wake the device thread");
    d->threadChanged.wait(lock, [&] { return done; });
}

QObject *Device::threadObject() const
{
    return d->core;
}

bool Device::isLoopback(const QHostAddress &address)
{
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    return ok && (v4 >> 24) == 127;
}

bool Device::start(const QHostAddress &address, quint16 port, QString *error)
{
    QString why;
    if (!isLoopback(address)) {
        why = QStringLiteral("%1 is not a loopback address (127.0.0.0/8)").arg(address.toString());
    } else if (isListening()) {
        why = QStringLiteral("already listening");
    } else {
        quint16 actual = 0;
        bool ok = false;
        runOnDeviceThread([&] { ok = d->core->listen(address, port, &actual, &why); });
        if (ok) {
            std::lock_guard<std::mutex> lock(d->mutex);
            d->listening = true;
            d->address = address;
            d->port = actual;
            return true;
        }
    }
    if (error)
        *error = why;
    return false;
}

void Device::stop()
{
    QList<std::shared_ptr<Handler>> handlers;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        if (!d->listening)
            return;
        d->listening = false;
        for (const auto &h : d->handlers)
            handlers.append(h.second);
    }
    runOnDeviceThread([&] {
        d->core->closeAll();
        for (const auto &h : handlers)
            h->shutdown();
    });
}

bool Device::isListening() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->listening;
}

QHostAddress Device::address() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->address;
}

quint16 Device::port() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->port;
}

QString Device::baseUrl() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return QStringLiteral("http://%1:%2").arg(d->address.toString()).arg(d->port);
}

void Device::setCredentials(const QString &user, const QString &password)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->user = user;
    d->password = password;
}

QString Device::user() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->user;
}

QString Device::password() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->password;
}

void Device::setForbiddenUser(const QString &user)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->forbidden.append(user);
}

Device::Credentials Device::checkCredentials(const QString &pair, QString *user, QString *password) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    // A ':' inside the user name makes the split ambiguous; the configured
    // pair is recognised whole first.
    if (pair == d->user + QLatin1Char(':') + d->password) {
        *user = d->user;
        *password = d->password;
    } else {
        const int colon = pair.indexOf(QLatin1Char(':'));
        *user = colon < 0 ? pair : pair.left(colon);
        *password = colon < 0 ? QString() : pair.mid(colon + 1);
    }
    if (d->forbidden.contains(*user))
        return Credentials::Forbidden;
    if (*user == d->user && *password == d->password)
        return Credentials::Accepted;
    return Credentials::Wrong;
}

void Device::setSubject(const QString &key, const QByteArray &xml)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->subjects[key] = xml;
}

QByteArray Device::subject(const QString &key) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->subjects.value(key);
}

bool Device::hasSubject(const QString &key) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->subjects.contains(key);
}

void Device::setSubjectSource(const QString &key, std::function<QByteArray()> source)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    if (source)
        d->sources[key] = std::move(source);
    else
        d->sources.remove(key);
}

bool Device::generateSubject(const QString &key, QByteArray *xml) const
{
    std::function<QByteArray()> source;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        source = d->sources.value(key);
    }
    // Outside the lock: a source may read the device.
    if (!source)
        return false;
    *xml = source();
    return true;
}

QStringList Device::subjectKeys() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->subjects.keys();
}

bool Device::loadSubjects(const QString &dir, QString *error)
{
    const QDir folder(dir);
    if (!folder.exists()) {
        if (error)
            *error = QStringLiteral("no folder %1").arg(dir);
        return false;
    }
    const auto files = folder.entryInfoList({QStringLiteral("*.xml")}, QDir::Files, QDir::Name);
    for (const QFileInfo &info : files) {
        QFile f(info.filePath());
        if (!f.open(QIODevice::ReadOnly)) {
            if (error)
                *error = QStringLiteral("cannot read %1").arg(info.filePath());
            return false;
        }
        setSubject(info.completeBaseName(), f.readAll());
    }
    return true;
}

void Device::setSetReply(const QString &key, const QByteArray &body)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->setReplies[key] = body;
}

QByteArray Device::setReply(const QString &key) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->setReplies.value(key, QByteArrayLiteral("<response><status>0</status></response>"));
}

void Device::setBlob(const QByteArray &blob)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->blob = blob;
}

QByteArray Device::blob() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->blob;
}

void Device::recordPtz(const QByteArray &body)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->ptz.append(body);
}

QList<QByteArray> Device::ptzCommands() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->ptz;
}

void Device::storeUpload(const FormPart &part)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->uploads[part.name] = part;
}

bool Device::upload(const QString &partName, FormPart *part) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    if (!d->uploads.contains(partName))
        return false;
    *part = d->uploads.value(partName);
    return true;
}

void Device::addFault(const QString &match, const Fault &fault, int times)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->faults.append({match, fault, times});
}

void Device::clearFaults()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->faults.clear();
}

bool Device::takeFault(const Request &request, Fault *fault)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    // The latest rule wins, so a test can override a standing one.
    for (int i = d->faults.size() - 1; i >= 0; --i) {
        auto &rule = d->faults[i];
        if (!faultMatches(rule.match, request))
            continue;
        *fault = rule.fault;
        if (rule.remaining > 0 && --rule.remaining == 0)
            d->faults.removeAt(i);
        return true;
    }
    return false;
}

QList<LoggedRequest> Device::requests() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->log;
}

bool Device::waitFor(const std::function<bool(const QList<LoggedRequest> &)> &predicate, int timeoutMs) const
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> lock(d->mutex);
    return d->logChanged.wait_until(lock, deadline, [&] { return predicate(d->log); });
}

bool Device::waitForRequests(int count, int timeoutMs) const
{
    return waitFor([count](const QList<LoggedRequest> &log) { return log.size() >= count; }, timeoutMs);
}

void Device::clearLog()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->log.clear();
    d->connections.clear();
}

QList<ConnectionEvent> Device::connectionLog() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->connections;
}

int Device::openConnections(const std::function<bool(const LoggedRequest &)> &which) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    int open = 0;
    for (const LoggedRequest &r : d->log) {
        if (!which(r))
            continue;
        // Peer ports are reused over time: the latest open of that port is the one.
        int state = 0;
        for (const ConnectionEvent &e : d->connections)
            if (e.peerPort == r.peerPort && e.localAddress == r.localAddress)
                state = e.open ? 1 : 0;
        open += state;
    }
    return open;
}

void Device::logConnection(const ConnectionEvent &event)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->connections.append(event);
    d->logChanged.notify_all();
}

void Device::setRequestObserver(const std::function<void(const LoggedRequest &)> &observer)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->observer = observer;
}

int Device::logArrival(LoggedRequest entry)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    entry.index = d->log.size();
    d->log.append(entry);
    d->logChanged.notify_all();
    return entry.index;
}

void Device::logAnswer(int index, int status, const QString &fault)
{
    std::function<void(const LoggedRequest &)> observer;
    LoggedRequest copy;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        // clearLog() may have emptied the log under a request in flight.
        if (index < 0 || index >= d->log.size() || d->log[index].answered)
            return;
        LoggedRequest &e = d->log[index];
        e.status = status;
        e.fault = fault;
        e.answered = true;
        d->logChanged.notify_all();
        observer = d->observer;
        copy = e;
    }
    if (observer)
        observer(copy);
}

void Device::logPeerClosed(int index)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    if (index < 0 || index >= d->log.size())
        return;
    d->log[index].peerClosed = true;
    d->logChanged.notify_all();
}

void Device::registerHandler(const QByteArray &prefix, std::shared_ptr<Handler> handler)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    for (auto &h : d->handlers) {
        if (h.first == prefix) {
            h.second = std::move(handler);
            return;
        }
    }
    d->handlers.append({prefix, std::move(handler)});
}

std::shared_ptr<Handler> Device::handlerFor(const QByteArray &path) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    std::shared_ptr<Handler> best;
    int bestLength = -1;
    for (const auto &h : d->handlers) {
        if (path.startsWith(h.first) && h.first.size() > bestLength) {
            best = h.second;
            bestLength = h.first.size();
        }
    }
    return best;
}

} // namespace devicesim
