#include "platform/p2p/P2pApi.h"
#include "platform/p2p/p2pwire.h"
#include "platform/net/tcpclient.h"

#include <QDebug>
#include <QFile>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace p2p {

void FrameInfo::write(unsigned char *out) const
{
    std::memset(out, 0, kFrameInfoSize);
    wire::put16(out, codec);
    out[2] = flags;
    out[5] = frameRate;
    wire::put32(out + 12, timestampMs);
}

FrameInfo FrameInfo::read(const unsigned char *in)
{
    FrameInfo f;
    f.codec = wire::get16(in);
    f.flags = in[2];
    f.frameRate = in[5];
    f.timestampMs = wire::get32(in + 12);
    return f;
}

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSliceMs = 50;
constexpr int kConnectTimeoutMs = 3000;
constexpr int kWelcomeTimeoutMs = 3000;
// Every queue is held to a message count and to a byte limit: a device may
// send messages of up to the wire's largest payload, far faster than a reader
// takes them.
constexpr size_t kQueueBytes = 8u * 1024 * 1024;
constexpr size_t kVideoQueueFrames = 100;
constexpr size_t kAudioQueueFrames = 256;
constexpr size_t kIoCtrlQueue = 64;

struct Message
{
    std::string payload;
    unsigned char info[kFrameInfoSize] = {};
    uint32_t type = 0;
};

class MessageQueue
{
public:
    explicit MessageQueue(size_t maxCount) : m_maxCount(maxCount) {}

    bool empty() const { return m_items.empty(); }
    size_t bytes() const { return m_bytes; }

    // Appends msg; the oldest give way to keep both limits. True when any did.
    bool push(Message msg)
    {
        m_bytes += msg.payload.size();
        m_items.push_back(std::move(msg));
        bool dropped = false;
        while (m_items.size() > m_maxCount || m_bytes > kQueueBytes) {
            m_bytes -= m_items.front().payload.size();
            m_items.pop_front();
            dropped = true;
        }
        return dropped;
    }

    Message take()
    {
        Message msg = std::move(m_items.front());
        m_items.pop_front();
        m_bytes -= msg.payload.size();
        return msg;
    }

    void clear()
    {
        m_items.clear();
        m_bytes = 0;
    }

private:
    std::deque<Message> m_items;
    size_t m_bytes = 0;
    const size_t m_maxCount;
};

struct Channel
{
    enum Role { None, Client, Talk };
    bool reserved = false;
    Role role = None;
    bool stoppedHere = false;
    bool endedRemote = false;
    int authState = 0; // 0 waiting, 1 accepted, 2 refused
    uint32_t serviceType = 0;
    MessageQueue video{kVideoQueueFrames};
    bool videoLost = false;
    unsigned videoNumber = 0;
    MessageQueue audio{kAudioQueueFrames};
    unsigned audioNumber = 0;
    MessageQueue ioctrl{kIoCtrlQueue};
    bool talkOpenPending = false;
    bool talkRefused = false; // the device ended the channel instead of opening it
    std::string talkAccount, talkPassword;

    // Traffic is kept only for a channel this side started and has not stopped.
    bool open() const { return reserved && !stoppedHere; }

    void resetTraffic()
    {
        video.clear();
        videoLost = false;
        audio.clear();
        ioctrl.clear();
    }

    size_t queuedBytes() const { return video.bytes() + audio.bytes() + ioctrl.bytes(); }
};

struct Session
{
    explicit Session(int sid) : id(sid) {}

    const int id;
    std::mutex m;
    std::condition_variable cv;
    std::mutex writeMutex;
    platform::TcpClient tcp; // its socket lives as long as the session object
    bool connecting = false;
    int fd = -1; // published under m once connected
    std::atomic<bool> closedHere{false};
    std::atomic<bool> lost{false};
    int welcome = 0; // 1 served, 2 unknown identifier
    std::string uid, endpoint;
    Channel ch[kChannelsPerSession];
    std::thread reader;
    bool closing = false; // the reader is being joined
};

struct Layer
{
    std::mutex m;
    bool initialised = false;
    int initCount = 0;
    int deinitCount = 0;
    std::shared_ptr<Session> table[kMaxSessions];
};

// Never destroyed: a process may end with sessions open.
Layer &layer()
{
    static Layer *l = new Layer;
    return *l;
}

std::mutex g_registryMutex;
std::map<std::string, std::pair<std::string, int>> &localRegistry()
{
    static auto *m = new std::map<std::string, std::pair<std::string, int>>;
    return *m;
}

bool isLoopbackIpv4(const std::string &host)
{
    in_addr a{};
    if (inet_pton(AF_INET, host.c_str(), &a) != 1)
        return false;
    return (ntohl(a.s_addr) >> 24) == 127;
}

bool parseEndpoint(const std::string &text, std::string *host, int *port)
{
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    const std::string portText = text.substr(colon + 1);
    if (portText.empty() || portText.size() > 5 || !std::all_of(portText.begin(), portText.end(), ::isdigit))
        return false;
    const int p = std::atoi(portText.c_str());
    if (p < 1 || p > 65535)
        return false;
    *host = text.substr(0, colon);
    *port = p;
    return true;
}

bool lookupFile(const std::string &uid, std::string *host, int *port)
{
    const QString path = qEnvironmentVariable("ARDO_P2P_REGISTRY");
    if (path.isEmpty())
        return false;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    while (!f.atEnd()) {
        QByteArray line = f.readLine(4096);
        const int hash = line.indexOf('#');
        if (hash >= 0)
            line.truncate(hash);
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() != 2 || fields[0].toStdString() != uid)
            continue;
        std::string h;
        int p = 0;
        if (!parseEndpoint(fields[1].toStdString(), &h, &p) || !isLoopbackIpv4(h)) {
            qDebug() << "p2p registry: ignoring" << line.simplified() << "(only 127.0.0.0/8 endpoints)";
            continue;
        }
        *host = h;
        *port = p;
        return true;
    }
    return false;
}

// ---- session table ---------------------------------------------------------

int findSession(int sid, std::shared_ptr<Session> *out)
{
    Layer &l = layer();
    std::lock_guard<std::mutex> lock(l.m);
    if (!l.initialised)
        return kErrNotInitialised;
    if (sid < 0 || sid >= kMaxSessions)
        return kErrInvalidArgument;
    if (!l.table[sid])
        return kErrClosedHere;
    *out = l.table[sid];
    return kOk;
}

int findChannel(int avIndex, std::shared_ptr<Session> *out, int *channel)
{
    if (avIndex < 0)
        return kErrInvalidArgument;
    *channel = avIndex % kChannelsPerSession;
    return findSession(avIndex / kChannelsPerSession, out);
}

// Waits on the session's condition in short slices until pred holds, the
// deadline passes, or the session is closed here or lost.
template <typename Pred>
bool waitSession(Session &s, std::unique_lock<std::mutex> &lock, Clock::time_point deadline, Pred pred)
{
    for (;;) {
        if (pred())
            return true;
        if (s.closedHere || s.lost)
            return false;
        const auto now = Clock::now();
        if (now >= deadline)
            return false;
        const auto slice = std::min<Clock::duration>(deadline - now, std::chrono::milliseconds(kSliceMs));
        s.cv.wait_for(lock, slice);
    }
}

void markLost(Session &s)
{
    {
        std::lock_guard<std::mutex> lock(s.m);
        s.lost = true;
    }
    s.cv.notify_all();
}

int sendMessage(Session &s, uint16_t kind, int channel, uint32_t ioType, const void *payload, size_t length,
                const unsigned char *info = nullptr)
{
    wire::Header h;
    h.kind = kind;
    h.channel = uint16_t(channel);
    h.ioType = ioType;
    h.length = uint32_t(length);
    if (info)
        std::memcpy(h.info, info, kFrameInfoSize);
    std::string buffer(wire::kHeaderSize + length, '\0');
    wire::encode(h, reinterpret_cast<unsigned char *>(&buffer[0]));
    if (length)
        std::memcpy(&buffer[wire::kHeaderSize], payload, length);

    std::lock_guard<std::mutex> lock(s.writeMutex);
    size_t done = 0;
    while (done < buffer.size()) {
        if (s.closedHere)
            return kErrClosedHere;
        if (s.lost)
            return kErrSessionLost;
        const ssize_t n = ::send(s.fd, buffer.data() + done, buffer.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += size_t(n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            pollfd p{s.fd, POLLOUT, 0};
            ::poll(&p, 1, kSliceMs);
            continue;
        }
        if (s.closedHere)
            return kErrClosedHere;
        markLost(s);
        return kErrSessionLost;
    }
    return kOk;
}

bool recvAll(int fd, void *data, size_t length)
{
    auto *p = static_cast<char *>(data);
    while (length) {
        const ssize_t n = ::recv(fd, p, length, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        length -= size_t(n);
    }
    return true;
}

void dispatch(Session &s, const wire::Header &h, std::string payload)
{
    if (h.channel >= kChannelsPerSession)
        return;
    Channel &c = s.ch[h.channel];
    Message msg;
    std::memcpy(msg.info, h.info, kFrameInfoSize);
    msg.type = h.ioType;
    switch (h.kind) {
    case wire::Welcome:
        s.welcome = 1;
        break;
    case wire::Unknown:
        s.welcome = 2;
        break;
    case wire::AuthOk:
        c.authState = 1;
        c.serviceType = payload.size() >= 4 ? wire::get32(reinterpret_cast<const unsigned char *>(payload.data())) : 0;
        break;
    case wire::AuthFail:
        c.authState = 2;
        break;
    case wire::IoCtrl:
        if (!c.open())
            break;
        msg.payload = std::move(payload);
        c.ioctrl.push(std::move(msg));
        break;
    case wire::Video:
        if (payload.empty() || !c.open())
            break;
        msg.payload = std::move(payload);
        // The reader learns of the gap once.
        if (c.video.push(std::move(msg)))
            c.videoLost = true;
        break;
    case wire::Audio:
        if (payload.empty() || !c.open())
            break;
        msg.payload = std::move(payload);
        c.audio.push(std::move(msg));
        break;
    case wire::TalkOpen: {
        const size_t zero = payload.find('\0');
        c.talkAccount = payload.substr(0, zero);
        c.talkPassword.clear();
        if (zero != std::string::npos) {
            const size_t end = payload.find('\0', zero + 1);
            c.talkPassword = payload.substr(zero + 1, end == std::string::npos ? std::string::npos : end - zero - 1);
        }
        c.talkOpenPending = true;
        break;
    }
    case wire::CloseChannel:
        if (h.channel != 0 && c.role == Channel::None)
            c.talkRefused = true;
        else
            c.endedRemote = true;
        break;
    case wire::FrameLost:
        c.videoLost = true;
        break;
    default:
        break;
    }
}

void readerLoop(Session *s)
{
    unsigned char head[wire::kHeaderSize];
    for (;;) {
        if (!recvAll(s->fd, head, sizeof head))
            break;
        const wire::Header h = wire::decode(head);
        if (h.magic != wire::kMagic || h.length > wire::kMaxPayload)
            break;
        std::string payload(h.length, '\0');
        if (h.length && !recvAll(s->fd, &payload[0], h.length))
            break;
        {
            std::lock_guard<std::mutex> lock(s->m);
            dispatch(*s, h, std::move(payload));
        }
        s->cv.notify_all();
    }
    markLost(*s);
}

// Ends a session taken out of the table: every waiter returns -14 at once.
void closeSession(const std::shared_ptr<Session> &s)
{
    {
        std::lock_guard<std::mutex> lock(s->m);
        if (s->closing)
            return;
        s->closing = true;
        s->closedHere = true;
    }
    s->cv.notify_all();
    int fd;
    {
        std::lock_guard<std::mutex> lock(s->m);
        fd = s->fd;
    }
    if (fd >= 0)
        ::shutdown(fd, SHUT_RDWR);
    if (s->reader.joinable())
        s->reader.join();
}

void closeAllSessions()
{
    std::vector<std::shared_ptr<Session>> all;
    {
        Layer &l = layer();
        std::lock_guard<std::mutex> lock(l.m);
        for (auto &slot : l.table) {
            if (slot)
                all.push_back(std::move(slot));
            slot.reset();
        }
    }
    for (const auto &s : all)
        closeSession(s);
}

// The channel's own state as a result code; kOk when usable. Call with s.m held.
int channelState(const Session &s, const Channel &c, Channel::Role role)
{
    if (s.closedHere || c.stoppedHere || c.role != role)
        return kErrClosedHere;
    if (s.lost)
        return kErrSessionLost;
    if (c.endedRemote)
        return kErrChannelEnded;
    return kOk;
}

// Delivers the front of a frame queue into the caller's buffer.
int takeFrame(MessageQueue &queue, char *buffer, int bufferSize, char *info, int infoSize, int *actual)
{
    const Message msg = queue.take();
    const int length = int(msg.payload.size());
    if (actual)
        *actual = length;
    if (info && infoSize > 0)
        std::memcpy(info, msg.info, size_t(std::min(infoSize, kFrameInfoSize)));
    if (length > bufferSize)
        return kErrFrameTooBig;
    std::memcpy(buffer, msg.payload.data(), size_t(length));
    return length;
}

} // namespace

// ---- registry and statistics -----------------------------------------------

void Registry::add(const std::string &uid, int port, const std::string &host)
{
    std::lock_guard<std::mutex> lock(g_registryMutex);
    localRegistry()[uid] = {host, port};
}

void Registry::remove(const std::string &uid)
{
    std::lock_guard<std::mutex> lock(g_registryMutex);
    localRegistry().erase(uid);
}

void Registry::clear()
{
    std::lock_guard<std::mutex> lock(g_registryMutex);
    localRegistry().clear();
}

bool Registry::lookup(const std::string &uid, std::string *host, int *port)
{
    {
        std::lock_guard<std::mutex> lock(g_registryMutex);
        const auto it = localRegistry().find(uid);
        if (it != localRegistry().end()) {
            if (!isLoopbackIpv4(it->second.first)) {
                qDebug() << "p2p registry: ignoring" << it->second.first.c_str() << "for" << uid.c_str();
                return false;
            }
            *host = it->second.first;
            *port = it->second.second;
            return true;
        }
    }
    return lookupFile(uid, host, port);
}

Stats stats()
{
    Stats st;
    std::vector<std::shared_ptr<Session>> all;
    {
        Layer &l = layer();
        std::lock_guard<std::mutex> lock(l.m);
        st.initialised = l.initialised;
        st.initialiseCount = l.initCount;
        st.deinitialiseCount = l.deinitCount;
        for (const auto &slot : l.table)
            if (slot)
                all.push_back(slot);
    }
    st.sessions = int(all.size());
    for (const auto &s : all) {
        std::lock_guard<std::mutex> lock(s->m);
        for (const Channel &c : s->ch) {
            st.queuedBytes += c.queuedBytes();
            if (c.stoppedHere)
                continue;
            if (c.role == Channel::Client)
                ++st.channels;
            else if (c.role == Channel::Talk)
                ++st.talkChannels;
        }
    }
    return st;
}

} // namespace p2p

using namespace p2p;

int IOTC_Initialize2(int)
{
    Layer &l = layer();
    std::lock_guard<std::mutex> lock(l.m);
    if (l.initialised)
        return kErrAlreadyInitialised;
    l.initialised = true;
    ++l.initCount;
    return kOk;
}

int IOTC_DeInitialize()
{
    closeAllSessions();
    Layer &l = layer();
    std::lock_guard<std::mutex> lock(l.m);
    if (l.initialised) {
        l.initialised = false;
        ++l.deinitCount;
    }
    return kOk;
}

int avInitialize(int)
{
    Layer &l = layer();
    std::lock_guard<std::mutex> lock(l.m);
    return l.initialised ? kChannelsPerSession : kErrNotInitialised;
}

int avDeInitialize()
{
    closeAllSessions();
    return kOk;
}

int IOTC_Get_SessionID()
{
    Layer &l = layer();
    std::lock_guard<std::mutex> lock(l.m);
    if (!l.initialised)
        return kErrNotInitialised;
    for (int i = 0; i < kMaxSessions; ++i) {
        if (!l.table[i]) {
            l.table[i] = std::make_shared<Session>(i);
            return i;
        }
    }
    return kErrNoFreeSlot;
}

int IOTC_Connect_ByUID_Parallel(const char *uid, int sessionId)
{
    std::shared_ptr<Session> s;
    if (const int r = findSession(sessionId, &s))
        return r;
    if (!uid || !*uid)
        return kErrInvalidArgument;
    std::string host;
    int port = 0;
    if (!Registry::lookup(uid, &host, &port))
        return kErrUnknownIdentifier;

    {
        std::lock_guard<std::mutex> lock(s->m);
        if (s->closedHere)
            return kErrClosedHere;
        if (s->connecting || s->fd >= 0)
            return kErrInvalidArgument;
        s->connecting = true;
        s->uid = uid;
        s->endpoint = host + ':' + std::to_string(port);
    }
    const auto result = s->tcp.connect(host.c_str(), port, kConnectTimeoutMs, [&s] { return s->closedHere.load(); });
    if (result == platform::TcpClient::Stopped || s->closedHere)
        return kErrClosedHere;
    if (result != platform::TcpClient::Connected)
        return kErrUnreachable;
    const int fd = s->tcp.fd();
    // The reader blocks in recv; a local close wakes it with shutdown().
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    {
        std::lock_guard<std::mutex> lock(s->m);
        if (s->closedHere)
            return kErrClosedHere;
        s->fd = fd;
        s->reader = std::thread(readerLoop, s.get());
    }
    if (const int r = sendMessage(*s, wire::Hello, 0, 0, uid, std::strlen(uid)))
        return r;
    std::unique_lock<std::mutex> lock(s->m);
    waitSession(*s, lock, Clock::now() + std::chrono::milliseconds(kWelcomeTimeoutMs), [&] { return s->welcome != 0; });
    if (s->welcome == 1)
        return kOk;
    if (s->welcome == 2)
        return kErrUnknownIdentifier;
    if (s->closedHere)
        return kErrClosedHere;
    return s->lost ? kErrSessionLost : kErrTimeout;
}

int IOTC_Session_Check(int sessionId, P2pSessionInfo *info)
{
    std::shared_ptr<Session> s;
    if (const int r = findSession(sessionId, &s))
        return r;
    std::lock_guard<std::mutex> lock(s->m);
    if (info) {
        info->uid = s->uid;
        info->endpoint = s->endpoint;
    }
    if (s->closedHere)
        return kErrClosedHere;
    if (s->lost)
        return kErrSessionLost;
    return s->welcome == 1 ? kOk : kErrInvalidArgument;
}

int IOTC_Session_Get_Free_Channel(int sessionId)
{
    std::shared_ptr<Session> s;
    if (const int r = findSession(sessionId, &s))
        return r;
    std::lock_guard<std::mutex> lock(s->m);
    for (int c = 1; c < kChannelsPerSession; ++c) {
        if (!s->ch[c].reserved) {
            s->ch[c].reserved = true;
            return c;
        }
    }
    return kErrNoFreeSlot;
}

int IOTC_Session_Close(int sessionId)
{
    std::shared_ptr<Session> s;
    {
        Layer &l = layer();
        std::lock_guard<std::mutex> lock(l.m);
        if (sessionId < 0 || sessionId >= kMaxSessions)
            return kErrInvalidArgument;
        if (!l.table[sessionId])
            return l.initialised ? kErrClosedHere : kErrNotInitialised;
        s = std::move(l.table[sessionId]);
        l.table[sessionId].reset();
    }
    closeSession(s);
    return kOk;
}

int avClientStart(int sessionId, const char *account, const char *password, int timeoutMs, uint32_t *serviceType,
                  int channel)
{
    std::shared_ptr<Session> s;
    if (const int r = findSession(sessionId, &s))
        return r;
    if (channel != 0 || !account || !password)
        return kErrInvalidArgument;
    {
        std::lock_guard<std::mutex> lock(s->m);
        if (s->closedHere)
            return kErrClosedHere;
        if (s->lost)
            return kErrSessionLost;
        if (s->welcome != 1)
            return kErrInvalidArgument;
        Channel &c = s->ch[0];
        c.resetTraffic();
        c.role = Channel::None;
        c.stoppedHere = false;
        c.endedRemote = false;
        c.authState = 0;
        c.reserved = true;
    }
    std::string creds = std::string(account) + '\0' + password + '\0';
    if (const int r = sendMessage(*s, wire::Auth, 0, 0, creds.data(), creds.size()))
        return r;
    std::unique_lock<std::mutex> lock(s->m);
    Channel &c = s->ch[0];
    waitSession(*s, lock, Clock::now() + std::chrono::milliseconds(std::max(0, timeoutMs)),
                [&] { return c.authState != 0; });
    if (c.authState == 1) {
        c.role = Channel::Client;
        if (serviceType)
            *serviceType = c.serviceType;
        return sessionId * kChannelsPerSession;
    }
    if (c.authState == 2)
        return kErrWrongCredentials;
    if (s->closedHere)
        return kErrClosedHere;
    return s->lost ? kErrSessionLost : kErrTimeout;
}

namespace {

int stopChannel(int avIndex, Channel::Role role)
{
    std::shared_ptr<Session> s;
    int ch = 0;
    if (const int r = findChannel(avIndex, &s, &ch))
        return r;
    {
        std::lock_guard<std::mutex> lock(s->m);
        Channel &c = s->ch[ch];
        if (s->closedHere || c.role != role || c.stoppedHere)
            return kErrClosedHere;
        c.stoppedHere = true;
        c.resetTraffic();
        c.talkOpenPending = false;
        c.talkRefused = false;
    }
    s->cv.notify_all();
    if (!s->lost)
        sendMessage(*s, wire::CloseChannel, ch, 0, nullptr, 0);
    return kOk;
}

} // namespace

int avClientStop(int avIndex)
{
    return stopChannel(avIndex, Channel::Client);
}

int avServStop(int avIndex)
{
    return stopChannel(avIndex, Channel::Talk);
}

int avRecvIOCtrl(int avIndex, unsigned int *type, char *buffer, int bufferSize, int timeoutMs)
{
    std::shared_ptr<Session> s;
    int ch = 0;
    if (const int r = findChannel(avIndex, &s, &ch))
        return r;
    if (!buffer || bufferSize < 0)
        return kErrInvalidArgument;
    std::unique_lock<std::mutex> lock(s->m);
    Channel &c = s->ch[ch];
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(0, timeoutMs));
    for (;;) {
        if (s->closedHere || c.stoppedHere || c.role == Channel::None)
            return kErrClosedHere;
        if (!c.ioctrl.empty()) {
            const Message msg = c.ioctrl.take();
            if (type)
                *type = msg.type;
            if (int(msg.payload.size()) > bufferSize)
                return kErrFrameTooBig;
            std::memcpy(buffer, msg.payload.data(), msg.payload.size());
            return int(msg.payload.size());
        }
        if (s->lost)
            return kErrSessionLost;
        if (c.endedRemote)
            return kErrChannelEnded;
        if (!waitSession(*s, lock, deadline, [&] { return !c.ioctrl.empty() || c.stoppedHere || c.endedRemote; }) &&
            !s->closedHere && !s->lost)
            return kErrTimeout;
    }
}

int avSendIOCtrl(int avIndex, unsigned int type, const char *payload, int size)
{
    std::shared_ptr<Session> s;
    int ch = 0;
    if (const int r = findChannel(avIndex, &s, &ch))
        return r;
    if (size < 0 || size > kMaxIoCtrlSize || (size > 0 && !payload))
        return kErrInvalidArgument;
    {
        std::lock_guard<std::mutex> lock(s->m);
        const Channel &c = s->ch[ch];
        if (s->closedHere || c.stoppedHere || c.role == Channel::None)
            return kErrClosedHere;
        if (s->lost)
            return kErrSessionLost;
        if (c.endedRemote)
            return kErrChannelEnded;
    }
    return sendMessage(*s, wire::IoCtrl, ch, type, payload, size_t(size));
}

int avRecvFrameData2(int avIndex, char *buffer, int bufferSize, int *actualSize, int *expectedSize, char *frameInfo,
                     int frameInfoSize, int *frameInfoActual, unsigned int *frameNumber)
{
    std::shared_ptr<Session> s;
    int ch = 0;
    if (const int r = findChannel(avIndex, &s, &ch))
        return r;
    if (!buffer || bufferSize < 0)
        return kErrInvalidArgument;
    std::lock_guard<std::mutex> lock(s->m);
    Channel &c = s->ch[ch];
    if (s->closedHere || c.stoppedHere || c.role != Channel::Client)
        return kErrClosedHere;
    if (c.videoLost) {
        c.videoLost = false;
        return kErrFrameLost;
    }
    if (c.video.empty()) {
        if (s->lost)
            return kErrSessionLost;
        return c.endedRemote ? kErrChannelEnded : kErrNoData;
    }
    int actual = 0;
    const int r = takeFrame(c.video, buffer, bufferSize, frameInfo, frameInfoSize, &actual);
    if (actualSize)
        *actualSize = actual;
    if (expectedSize)
        *expectedSize = actual;
    if (frameInfoActual)
        *frameInfoActual = kFrameInfoSize;
    if (frameNumber)
        *frameNumber = c.videoNumber;
    ++c.videoNumber;
    return r;
}

int avRecvAudioData(int avIndex, char *buffer, int bufferSize, char *frameInfo, int frameInfoSize,
                    unsigned int *frameNumber)
{
    std::shared_ptr<Session> s;
    int ch = 0;
    if (const int r = findChannel(avIndex, &s, &ch))
        return r;
    if (!buffer || bufferSize < 0)
        return kErrInvalidArgument;
    std::lock_guard<std::mutex> lock(s->m);
    Channel &c = s->ch[ch];
    if (s->closedHere || c.stoppedHere || c.role != Channel::Client)
        return kErrClosedHere;
    if (c.audio.empty()) {
        if (s->lost)
            return kErrSessionLost;
        return c.endedRemote ? kErrChannelEnded : kErrNoData;
    }
    if (frameNumber)
        *frameNumber = c.audioNumber;
    ++c.audioNumber;
    return takeFrame(c.audio, buffer, bufferSize, frameInfo, frameInfoSize, nullptr);
}

int avServStart3(int sessionId, P2pAuthFn auth, int timeoutSec, uint32_t, int channel, int *resend)
{
    if (resend)
        *resend = 0;
    std::shared_ptr<Session> s;
    if (const int r = findSession(sessionId, &s))
        return r;
    if (channel < 1 || channel >= kChannelsPerSession || !auth)
        return kErrInvalidArgument;
    std::string account, password;
    {
        std::unique_lock<std::mutex> lock(s->m);
        Channel &c = s->ch[channel];
        if (s->closedHere)
            return kErrClosedHere;
        c.reserved = true;
        c.role = Channel::None;
        c.stoppedHere = false;
        c.endedRemote = false;
        c.resetTraffic();
        const auto deadline = Clock::now() + std::chrono::seconds(std::max(0, timeoutSec));
        if (!waitSession(*s, lock, deadline, [&] { return c.talkOpenPending || c.talkRefused; })) {
            if (s->closedHere)
                return kErrClosedHere;
            return s->lost ? kErrSessionLost : kErrTimeout;
        }
        if (c.talkRefused) {
            c.talkRefused = false;
            c.talkOpenPending = false;
            return kErrChannelEnded;
        }
        c.talkOpenPending = false;
        account = c.talkAccount;
        password = c.talkPassword;
    }
    if (!auth(account.c_str(), password.c_str())) {
        sendMessage(*s, wire::TalkRefuse, channel, 0, nullptr, 0);
        return kErrWrongCredentials;
    }
    {
        std::lock_guard<std::mutex> lock(s->m);
        if (s->closedHere)
            return kErrClosedHere;
        s->ch[channel].role = Channel::Talk;
    }
    if (const int r = sendMessage(*s, wire::TalkAccept, channel, 0, nullptr, 0))
        return r;
    return sessionId * kChannelsPerSession + channel;
}

int avSendAudioData(int avIndex, const char *data, int size, const char *frameInfo, int frameInfoSize)
{
    std::shared_ptr<Session> s;
    int ch = 0;
    if (const int r = findChannel(avIndex, &s, &ch))
        return r;
    if (!data || size <= 0 || size > kMaxAudioFrame)
        return kErrInvalidArgument;
    unsigned char info[kFrameInfoSize] = {};
    if (frameInfo && frameInfoSize > 0)
        std::memcpy(info, frameInfo, size_t(std::min(frameInfoSize, kFrameInfoSize)));
    {
        std::lock_guard<std::mutex> lock(s->m);
        if (const int r = channelState(*s, s->ch[ch], Channel::Talk))
            return r;
    }
    return sendMessage(*s, wire::TalkAudio, ch, 0, data, size_t(size), info);
}
