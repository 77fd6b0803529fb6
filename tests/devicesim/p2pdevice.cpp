#include "devicesim/p2pdevice.h"

#include <QFile>
#include <QMap>
#include <QTextStream>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace devicesim {

namespace {

using SteadyClock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The framing, written here independently of the client's layer.
constexpr quint32 kMagic = 0x50325031;
constexpr quint32 kMaxPayload = 4u << 20;
enum Kind {
    kHello = 1,
    kWelcome,
    kUnknown,
    kAuth,
    kAuthOk,
    kAuthFail,
    kIoCtrl,
    kVideo,
    kAudio,
    kTalkOpen,
    kTalkAccept,
    kTalkRefuse,
    kTalkAudio,
    kCloseChannel,
    kFrameLost
};

void le16(char *p, quint16 v)
{
    p[0] = char(v & 0xFF);
    p[1] = char(v >> 8);
}
void le32(char *p, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = char((v >> (8 * i)) & 0xFF);
}
quint32 rd32(const char *p)
{
    const auto *u = reinterpret_cast<const unsigned char *>(p);
    return u[0] | (u[1] << 8) | (u[2] << 16) | (quint32(u[3]) << 24);
}
quint16 rd16(const char *p)
{
    const auto *u = reinterpret_cast<const unsigned char *>(p);
    return quint16(u[0] | (u[1] << 8));
}

QByteArray frameInfo(int codec, int flags, int rate, quint32 ts)
{
    QByteArray info(16, '\0');
    le16(info.data(), quint16(codec));
    info[2] = char(flags);
    info[5] = char(rate);
    le32(info.data() + 12, ts);
    return info;
}

bool sendAll(int fd, const QByteArray &bytes)
{
    int done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += int(n);
    }
    return true;
}

bool sendMsg(int fd, int kind, int channel, quint32 ioType = 0, const QByteArray &payload = {},
             const QByteArray &info = {})
{
    QByteArray m(32, '\0');
    le32(m.data(), kMagic);
    le16(m.data() + 4, quint16(kind));
    le16(m.data() + 6, quint16(channel));
    le32(m.data() + 8, ioType);
    le32(m.data() + 12, quint32(payload.size()));
    if (!info.isEmpty())
        std::memcpy(m.data() + 16, info.constData(), size_t(qMin(16, info.size())));
    return sendAll(fd, m + payload);
}

bool recvAll(int fd, char *p, int length)
{
    while (length > 0) {
        const ssize_t n = ::recv(fd, p, size_t(length), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        length -= int(n);
    }
    return true;
}

// G.711 encoders of our own, for the tone the device sends.
char muLaw(int sample)
{
    const int bias = 0x84;
    int sign = 0;
    if (sample < 0) {
        sample = -sample;
        sign = 0x80;
    }
    sample = qMin(sample, 32635) + bias;
    int exponent = 7;
    for (int mask = 0x4000; !(sample & mask) && exponent > 0; mask >>= 1)
        --exponent;
    const int mantissa = (sample >> (exponent + 3)) & 0x0F;
    return char(~(sign | (exponent << 4) | mantissa));
}

char aLaw(int sample)
{
    int sign = 0x80;
    if (sample < 0) {
        sample = -sample - 1;
        sign = 0;
    }
    sample = qMin(sample, 32767) >> 3;
    int value;
    if (sample < 32) {
        value = sample >> 1;
    } else {
        int exponent = 1;
        while (sample >= (64 << (exponent - 1)) && exponent < 7)
            ++exponent;
        value = (exponent << 4) | ((sample >> exponent) & 0x0F);
    }
    return char((sign | value) ^ 0x55);
}

QVector<QByteArray> adtsFrames(const QByteArray &a)
{
    QVector<QByteArray> out;
    int i = 0;
    while (i + 7 <= a.size()) {
        const auto *p = reinterpret_cast<const unsigned char *>(a.constData() + i);
        if (p[0] != 0xFF || (p[1] & 0xF0) != 0xF0)
            break;
        const int len = ((p[3] & 0x03) << 11) | (p[4] << 3) | (p[5] >> 5);
        if (len < 7 || i + len > a.size() || len > 1024)
            break;
        out.append(a.mid(i, len));
        i += len;
    }
    return out;
}

struct Identity
{
    QString account, password;
    P2pMedia media;
    P2pFaults faults;
    QVector<QByteArray> aacFrames;
};

} // namespace

namespace {

bool hasSps(const QByteArray &unit, bool h265)
{
    const QByteArray sc("\0\0\0\1", 4);
    for (int i = unit.indexOf(sc); i >= 0 && i + 4 < unit.size(); i = unit.indexOf(sc, i + 4)) {
        const uchar h = uchar(unit[i + 4]);
        if (h265 ? ((h >> 1) & 0x3F) == 33 : (h & 0x1F) == 7)
            return true;
    }
    return false;
}

} // namespace

QVector<P2pUnit> p2pSplitUnits(const QByteArray &a, bool h265)
{
    struct Nal
    {
        int begin, end;
    };
    QVector<Nal> nals;
    const auto *p = reinterpret_cast<const unsigned char *>(a.constData());
    const int n = a.size();
    for (int i = 0; i + 3 <= n; ++i) {
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1) {
            if (!nals.isEmpty())
                nals.last().end = (i > 0 && p[i - 1] == 0) ? i - 1 : i;
            nals.append({i + 3, n});
            i += 2;
        }
    }
    // Trailing zero bytes belong to no NAL unit.
    for (Nal &x : nals)
        while (x.end > x.begin && p[x.end - 1] == 0)
            --x.end;

    QVector<P2pUnit> units;
    P2pUnit cur;
    bool slices = false;
    QByteArray paramSets; // the latest VPS/SPS/PPS, for key units that lack them
    QByteArray lead;      // parameter sets and SEI ahead of the next picture
    bool leadHasSps = false;
    auto flush = [&] {
        if (!slices)
            return;
        // Key units carry their parameter sets up front.
        if (cur.key && !hasSps(cur.bytes, h265))
            cur.bytes.prepend(paramSets);
        units.append(cur);
        cur = P2pUnit();
        slices = false;
    };
    for (const Nal &x : nals) {
        if (x.end <= x.begin)
            continue;
        const QByteArray nal = QByteArray("\0\0\0\1", 4) + a.mid(x.begin, x.end - x.begin);
        const int type = h265 ? (p[x.begin] >> 1) & 0x3F : p[x.begin] & 0x1F;
        const bool slice = h265 ? type < 32 : (type >= 1 && type <= 5);
        const bool paramSet = h265 ? (type >= 32 && type <= 34) : (type == 7 || type == 8);
        const int flagAt = x.begin + (h265 ? 2 : 1);
        const bool firstSlice = slice && flagAt < x.end && (p[flagAt] & 0x80);
        if (!slice) {
            flush();
            if (paramSet) {
                const bool sps = h265 ? type == 32 : type == 7;
                if (sps && !leadHasSps)
                    paramSets.clear();
                leadHasSps = leadHasSps || sps;
                paramSets += nal;
            }
            lead += nal;
            continue;
        }
        if (firstSlice)
            flush();
        if (!slices) {
            cur.bytes = lead;
            lead.clear();
            leadHasSps = false;
        }
        slices = true;
        cur.bytes += nal;
        if (h265 ? (type >= 16 && type <= 21) : type == 5)
            cur.key = true;
    }
    flush();
    return units;
}

QVector<P2pUnit> p2pLoadClip(const QString &path, bool h265)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return p2pSplitUnits(f.readAll(), h265);
}

struct P2pDevice::Private
{
    mutable std::mutex m;
    QMap<QString, Identity> ids;
    int listenFd = -1;
    QString address;
    int port = 0;
    std::atomic<bool> stopping{false};
    std::thread acceptThread;
    std::vector<std::thread> sessions;
    std::vector<int> fds;
    int opened = 0;
    int closed = 0;
    std::atomic<int> videoSent{0};
    QList<P2pEvent> events;
    std::atomic<int> dropGen{0};
    std::atomic<int> endGen{0};
    std::function<void(const QByteArray &)> observer;

    void line(const QByteArray &text)
    {
        std::function<void(const QByteArray &)> o;
        {
            std::lock_guard<std::mutex> lock(m);
            o = observer;
        }
        if (o)
            o(text);
    }
    void record(const P2pEvent &e)
    {
        std::lock_guard<std::mutex> lock(m);
        events.append(e);
    }
    void acceptLoop();
    void serve(int fd, int session);
};

namespace {

// One connection's media and talk state.
struct Stream
{
    Identity id;
    QString uid;
    bool videoOn = false;
    bool audioOn = false;
    int quality = 2;
    const QVector<P2pUnit> *units = nullptr;
    int codec = 78;
    int cursor = 0;
    int framesSent = 0;
    int keysSent = 0;
    bool switched = false;
    bool stalled = false;
    SteadyClock::time_point videoAt, nextVideo, nextAudio, stallUntil;
    int audioSent = 0;
    double phase = 0;
    // Talk
    int talkChannel = -1;
    int talkFrames = 0;
    int talkSize = 0;
    QByteArray talkInfo;
    SteadyClock::time_point talkFirst, talkLast;
    QByteArray talkPcm;
};

int toneFrequency(const QByteArray &pcm)
{
    const int samples = pcm.size() / 2;
    if (samples < 800)
        return 0;
    int crossings = 0;
    int prev = qint16(rd16(pcm.constData()));
    for (int i = 1; i < samples; ++i) {
        const int s = qint16(rd16(pcm.constData() + 2 * i));
        if ((prev < 0) != (s < 0))
            ++crossings;
        prev = s;
    }
    const double hz = crossings * 8000.0 / (2.0 * samples);
    return int(std::lround(hz / 10.0) * 10);
}

} // namespace

void P2pDevice::Private::acceptLoop()
{
    int session = 0;
    while (!stopping) {
        pollfd p{listenFd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        std::lock_guard<std::mutex> lock(m);
        ++opened;
        fds.push_back(fd);
        sessions.emplace_back(&Private::serve, this, fd, ++session);
    }
}

void P2pDevice::Private::serve(int fd, int session)
{
    Stream st;
    const int dropSeen = dropGen;
    const int endSeen = endGen;
    bool served = false;
    auto ioLine = [&](quint32 type, const QByteArray &payload) {
        if (type == 0x320 && payload.size() >= 5)
            return QByteArray("0x320 quality ") + QByteArray::number(uchar(payload[4]));
        if (type == 0x1001) {
            QByteArray text = "ioctrl 0x1001";
            for (char c : payload)
                text += ' ' + QByteArray::number(uchar(c), 16).rightJustified(2, '0');
            return text;
        }
        return "0x" + QByteArray::number(type, 16).toUpper();
    };

    auto sendVideo = [&]() -> bool {
        const P2pFaults &f = st.id.faults;
        if (!st.units || st.units->isEmpty())
            return true;
        const auto now = SteadyClock::now();
        if (now < st.videoAt || (st.stalled && now < st.stallUntil))
            return true;
        if (f.dropAfterFrames >= 0 && st.framesSent >= f.dropAfterFrames)
            return false;
        if (f.endChannelAfterFrames >= 0 && st.framesSent >= f.endChannelAfterFrames) {
            st.videoOn = st.audioOn = false;
            return sendMsg(fd, kCloseChannel, 0);
        }
        if (f.stallAfterFrames >= 0 && st.framesSent == f.stallAfterFrames && !st.stalled) {
            st.stalled = true;
            st.stallUntil = now + milliseconds(f.stallMs);
            return true;
        }
        const P2pUnit *unit = &(*st.units)[st.cursor % st.units->size()];
        if (f.switchAfterFrames >= 0 && !st.switched && st.framesSent >= f.switchAfterFrames && unit->key &&
            !f.switchUnits.isEmpty()) {
            st.switched = true;
            st.units = &st.id.faults.switchUnits;
            if (f.switchCodec)
                st.codec = f.switchCodec;
            st.cursor = 0;
            unit = &(*st.units)[0];
        }
        ++st.cursor;
        QByteArray bytes = unit->bytes;
        bool key = unit->key;
        if (f.hugeFrameAt == st.framesSent) {
            bytes = QByteArray("\0\0\0\1\x41", 5) + QByteArray(qMax(0, f.hugeFrameSize - 5), '\x5A');
            key = false;
        }
        if (key) {
            if (f.zeroSpsAtKey == st.keysSent) {
                // Zero the whole SPS unit, header included: no size can be read from it.
                const QByteArray sc("\0\0\0\1", 4);
                for (int i = bytes.indexOf(sc); i >= 0; i = bytes.indexOf(sc, i + 4)) {
                    const uchar h = uchar(bytes[i + 4]);
                    const bool sps = st.codec == 80 ? ((h >> 1) & 0x3F) == 33 : (h & 0x1F) == 7;
                    if (!sps)
                        continue;
                    int end = bytes.indexOf(sc, i + 4);
                    if (end < 0)
                        end = bytes.size();
                    for (int k = i + 4; k < end; ++k)
                        bytes[k] = 0;
                }
            }
            ++st.keysSent;
        }
        if (f.frameLostBefore == st.framesSent && !sendMsg(fd, kFrameLost, 0))
            return false;
        const quint32 ts = quint32(1000 + st.framesSent * 40);
        if (!sendMsg(fd, kVideo, 0, 0, bytes, frameInfo(st.codec, key ? 1 : 0, 25, ts)))
            return false;
        ++st.framesSent;
        ++videoSent;
        return true;
    };

    auto sendAudio = [&]() -> bool {
        const P2pFaults &f = st.id.faults;
        const P2pMedia &md = st.id.media;
        const auto now = SteadyClock::now();
        if (f.stallAudio && st.stalled && now < st.stallUntil)
            return true;
        QByteArray frame;
        int codec = 0;
        int flags = 0;
        int rateIndex = 0;
        auto tone = [&](int samples) {
            QVector<int> out(samples);
            for (int i = 0; i < samples; ++i) {
                out[i] = int(std::lround(8000.0 * std::sin(st.phase)));
                st.phase += 2 * M_PI * 1000.0 / 8000.0;
            }
            st.phase = std::fmod(st.phase, 2 * M_PI);
            return out;
        };
        switch (md.audio) {
        case P2pMedia::NoAudio:
            return true;
        case P2pMedia::MuLaw:
        case P2pMedia::ALaw:
            codec = md.audio == P2pMedia::MuLaw ? 137 : 138;
            for (int s : tone(320))
                frame += md.audio == P2pMedia::MuLaw ? muLaw(s) : aLaw(s);
            break;
        case P2pMedia::Pcm:
            codec = 140;
            flags = 2;
            for (int s : tone(320)) {
                char b[2];
                le16(b, quint16(qint16(s)));
                frame.append(b, 2);
            }
            break;
        case P2pMedia::G726:
            codec = 143;
            if (md.g726.size() < 160)
                return true;
            frame = md.g726.mid((st.audioSent * 160) % (md.g726.size() / 160 * 160), 160);
            break;
        case P2pMedia::Aac:
            codec = 136;
            flags = 2;
            rateIndex = 3;
            if (st.id.aacFrames.isEmpty())
                return true;
            frame = st.id.aacFrames[st.audioSent % st.id.aacFrames.size()];
            break;
        }
        if (md.audioRateIndex >= 0)
            rateIndex = md.audioRateIndex;
        flags |= rateIndex << 2;
        if (f.audioChange && st.audioSent > 0)
            flags ^= 1;
        const quint32 ts = quint32(1012 + st.audioSent * 40);
        ++st.audioSent;
        return sendMsg(fd, kAudio, 0, 0, frame, frameInfo(codec, flags, 0, ts));
    };

    auto handle = [&](int kind, int channel, quint32 ioType, const QByteArray &payload,
                      const QByteArray &info) -> bool {
        record({session, kind, channel, ioType, payload, info});
        switch (kind) {
        case kHello: {
            const QString uid = QString::fromLatin1(payload);
            {
                std::lock_guard<std::mutex> lock(m);
                served = ids.contains(uid) && !ids[uid].faults.unknownIdentifier;
                if (served) {
                    st.id = ids[uid];
                    st.uid = uid;
                }
            }
            if (!served) {
                sendMsg(fd, kUnknown, 0);
                return false;
            }
            st.codec = st.id.media.videoCodec;
            return sendMsg(fd, kWelcome, 0);
        }
        case kAuth: {
            if (!served || st.id.faults.neverAnswerAuth)
                return true;
            const QList<QByteArray> parts = payload.split('\0');
            bool ok;
            {
                std::lock_guard<std::mutex> lock(m);
                const Identity &now = ids[st.uid];
                ok = parts.size() >= 2 && QString::fromLatin1(parts[0]) == now.account &&
                     QString::fromLatin1(parts[1]) == now.password;
            }
            if (!ok)
                return sendMsg(fd, kAuthFail, channel);
            QByteArray service(4, '\0');
            le32(service.data(), 0x0C);
            if (!sendMsg(fd, kAuthOk, channel, 0, service))
                return false;
            const P2pFaults &f = st.id.faults;
            for (int round = 0; round < f.floodRounds; ++round) {
                const QByteArray bytes(f.floodSize, char(round));
                for (const auto &[kind, ch] :
                     {std::pair{kAudio, 0}, {kIoCtrl, 0}, {kAudio, 7}, {kIoCtrl, 7}, {kVideo, 7}})
                    if (!sendMsg(fd, kind, ch, quint32(round), bytes))
                        return false;
            }
            if (f.floodRounds > 0)
                return false;
            return !f.endChannelAfterAuth || sendMsg(fd, kCloseChannel, 0);
        }
        case kIoCtrl: {
            line(ioLine(ioType, payload));
            const auto now = SteadyClock::now();
            switch (ioType) {
            case 0x3000000E: {
                if (st.id.faults.neverAnswerInfo)
                    return true;
                QByteArray rec(64, '\0');
                const QByteArray model = "ARDOSIM", firmware = "1.0.0";
                std::memcpy(rec.data(), model.constData(), size_t(model.size()));
                std::memcpy(rec.data() + 32, firmware.constData(), size_t(firmware.size()));
                return sendMsg(fd, kIoCtrl, channel, 0x3000000F, rec);
            }
            case 0x1FF:
                st.videoOn = true;
                if (!st.units)
                    st.units = &st.id.media.mainUnits;
                st.cursor = st.id.faults.startOffset;
                st.videoAt = now + milliseconds(st.id.faults.videoDelayMs);
                st.nextVideo = st.videoAt;
                return true;
            case 0x300:
                st.audioOn = true;
                st.nextAudio = now;
                return true;
            case 0x320: {
                const int q = payload.size() >= 5 ? uchar(payload[4]) : 2;
                const auto *want =
                    (q == 3 && !st.id.media.subUnits.isEmpty()) ? &st.id.media.subUnits : &st.id.media.mainUnits;
                if (want != st.units && !st.switched) {
                    st.units = want;
                    st.cursor = 0;
                }
                st.quality = q;
                return true;
            }
            case 0x2FF:
                st.videoOn = st.audioOn = false;
                return true;
            case 0x350: {
                const int ch = payload.size() >= 4 ? int(rd32(payload.constData())) : -1;
                st.talkChannel = ch;
                st.talkFrames = 0;
                st.talkPcm.clear();
                st.talkInfo.clear();
                if (ch < 1 || ch > 31 || st.id.faults.neverOpenTalk)
                    return true;
                if (st.id.faults.refuseTalk)
                    return sendMsg(fd, kCloseChannel, ch);
                QByteArray creds = st.id.account.toLatin1() + '\0' + st.id.password.toLatin1() + '\0';
                return sendMsg(fd, kTalkOpen, ch, 0, creds);
            }
            case 0x351: {
                QByteArray text = "talk channel " + QByteArray::number(st.talkChannel) + ": 0x350, ";
                if (st.talkFrames) {
                    const double secs = std::chrono::duration<double>(st.talkLast - st.talkFirst).count();
                    const int rate = secs > 0 ? int(std::lround((st.talkFrames - 1) / secs)) : 0;
                    text += QByteArray::number(st.talkSize) + "-byte frames codec " +
                            QByteArray::number(rd16(st.talkInfo.constData())) + " flags " +
                            QByteArray::number(uchar(st.talkInfo[2])) + " at " + QByteArray::number(rate) + "/s, " +
                            QByteArray::number(toneFrequency(st.talkPcm)) + " Hz, ";
                } else {
                    text += "no frames, ";
                }
                line(text + "0x351");
                return true;
            }
            default:
                return true;
            }
        }
        case kTalkAudio:
            if (!st.talkFrames)
                st.talkFirst = SteadyClock::now();
            st.talkLast = SteadyClock::now();
            ++st.talkFrames;
            st.talkSize = payload.size();
            st.talkInfo = info;
            if (st.talkPcm.size() < 8000 * 2 * 10)
                st.talkPcm += payload;
            return true;
        case kCloseChannel:
            if (channel == 0)
                st.videoOn = st.audioOn = false;
            return true;
        default:
            return true;
        }
    };

    for (;;) {
        if (stopping || dropGen != dropSeen)
            break;
        if (endGen != endSeen && served && (st.videoOn || st.audioOn)) {
            st.videoOn = st.audioOn = false;
            if (!sendMsg(fd, kCloseChannel, 0))
                break;
        }
        auto now = SteadyClock::now();
        auto due = now + milliseconds(20);
        if (st.videoOn && st.nextVideo < due)
            due = st.nextVideo;
        if (st.audioOn && st.nextAudio < due)
            due = st.nextAudio;
        const int wait = int(std::max<long long>(0, std::chrono::duration_cast<milliseconds>(due - now).count()));
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, wait) > 0) {
            char head[32];
            if (!recvAll(fd, head, 32))
                break;
            const quint32 len = rd32(head + 12);
            if (rd32(head) != kMagic || len > kMaxPayload)
                break;
            QByteArray payload(int(len), '\0');
            if (len && !recvAll(fd, payload.data(), int(len)))
                break;
            if (!handle(rd16(head + 4), rd16(head + 6), rd32(head + 8), payload, QByteArray(head + 16, 16)))
                break;
        }
        now = SteadyClock::now();
        bool ok = true;
        if (st.videoOn && now >= st.nextVideo) {
            ok = sendVideo();
            st.nextVideo += milliseconds(40);
        }
        if (ok && st.audioOn && now >= st.nextAudio) {
            ok = sendAudio();
            st.nextAudio += milliseconds(40);
        }
        // The client went while the device was sending: what it sent before
        // it went (a talk's end, a stream's stop) still lies to be read, and
        // the reads end the session once they reach its close.
        if (!ok)
            st.videoOn = st.audioOn = false;
    }
    ::shutdown(fd, SHUT_RDWR);
    std::lock_guard<std::mutex> lock(m);
    ++closed;
}

P2pDevice::P2pDevice() : d(new Private) {}

P2pDevice::~P2pDevice()
{
    stop();
}

void P2pDevice::addIdentity(const QString &uid, const QString &account, const QString &password, const P2pMedia &media,
                            const P2pFaults &faults)
{
    Identity id{account, password, media, faults, {}};
    if (media.audio == P2pMedia::Aac)
        id.aacFrames = adtsFrames(media.adts);
    std::lock_guard<std::mutex> lock(d->m);
    d->ids[uid] = id;
}

void P2pDevice::setPassword(const QString &uid, const QString &password)
{
    std::lock_guard<std::mutex> lock(d->m);
    if (d->ids.contains(uid))
        d->ids[uid].password = password;
}

void P2pDevice::setFaults(const QString &uid, const P2pFaults &faults)
{
    std::lock_guard<std::mutex> lock(d->m);
    if (d->ids.contains(uid))
        d->ids[uid].faults = faults;
}

bool P2pDevice::start(const QString &address, int port, QString *error)
{
    auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    in_addr a{};
    if (inet_pton(AF_INET, address.toLatin1().constData(), &a) != 1 || (ntohl(a.s_addr) >> 24) != 127)
        return fail(QStringLiteral("%1 is not a loopback address (127.0.0.0/8)").arg(address));
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr = a;
    sa.sin_port = htons(quint16(port));
    if (::bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 || ::listen(fd, 16) != 0) {
        const QString why = QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
        return fail(why);
    }
    socklen_t len = sizeof sa;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &len);
    d->listenFd = fd;
    d->address = address;
    d->port = ntohs(sa.sin_port);
    d->stopping = false;
    d->acceptThread = std::thread(&Private::acceptLoop, d.get());
    return true;
}

void P2pDevice::stop()
{
    d->stopping = true;
    if (d->acceptThread.joinable())
        d->acceptThread.join();
    std::vector<std::thread> threads;
    std::vector<int> fds;
    {
        std::lock_guard<std::mutex> lock(d->m);
        threads.swap(d->sessions);
        fds.swap(d->fds);
    }
    for (int fd : fds)
        ::shutdown(fd, SHUT_RDWR);
    for (auto &t : threads)
        t.join();
    for (int fd : fds)
        ::close(fd);
    if (d->listenFd >= 0)
        ::close(d->listenFd);
    d->listenFd = -1;
}

int P2pDevice::port() const
{
    return d->port;
}
QString P2pDevice::address() const
{
    return d->address;
}

bool P2pDevice::writeRegistry(const QString &path, QString *error) const
{
    QStringList uids;
    {
        std::lock_guard<std::mutex> lock(d->m);
        uids = d->ids.keys();
    }
    QList<QByteArray> kept;
    QFile in(path);
    if (in.open(QIODevice::ReadOnly)) {
        for (const QByteArray &l : in.readAll().split('\n')) {
            const QByteArray first = l.simplified().split(' ').value(0);
            if (!l.trimmed().isEmpty() && !uids.contains(QString::fromLatin1(first)))
                kept.append(l);
        }
        in.close();
    }
    for (const QString &uid : uids)
        kept.append(QStringLiteral("%1 %2:%3").arg(uid, d->address).arg(d->port).toLatin1());
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        if (error)
            *error = out.errorString();
        return false;
    }
    for (const QByteArray &l : kept)
        out.write(l + '\n');
    return true;
}

void P2pDevice::dropSessions()
{
    ++d->dropGen;
}
void P2pDevice::endChannels()
{
    ++d->endGen;
}

int P2pDevice::sessionsOpened() const
{
    std::lock_guard<std::mutex> lock(d->m);
    return d->opened;
}

int P2pDevice::sessionsClosed() const
{
    std::lock_guard<std::mutex> lock(d->m);
    return d->closed;
}

int P2pDevice::videoFramesSent() const
{
    return d->videoSent;
}

QList<P2pEvent> P2pDevice::events() const
{
    std::lock_guard<std::mutex> lock(d->m);
    return d->events;
}

int P2pDevice::eventIndex(int kind, int channel, qint64 ioType) const
{
    std::lock_guard<std::mutex> lock(d->m);
    for (int i = 0; i < d->events.size(); ++i) {
        const P2pEvent &e = d->events.at(i);
        if (e.kind == kind && (channel < 0 || e.channel == channel) && (ioType < 0 || e.ioType == ioType))
            return i;
    }
    return -1;
}

QList<quint32> P2pDevice::ioTypes(int session) const
{
    QList<quint32> out;
    for (const P2pEvent &e : events())
        if (e.kind == kIoCtrl && (session < 0 || e.session == session))
            out.append(e.ioType);
    return out;
}

QList<QByteArray> P2pDevice::ioPayloads(quint32 type) const
{
    QList<QByteArray> out;
    for (const P2pEvent &e : events())
        if (e.kind == kIoCtrl && e.ioType == type)
            out.append(e.payload);
    return out;
}

QList<P2pEvent> P2pDevice::talkFrames() const
{
    QList<P2pEvent> out;
    for (const P2pEvent &e : events())
        if (e.kind == kTalkAudio)
            out.append(e);
    return out;
}

int P2pDevice::talkFrequency() const
{
    QByteArray pcm;
    for (const P2pEvent &e : talkFrames())
        pcm += e.payload;
    return toneFrequency(pcm);
}

bool P2pDevice::waitFor(const std::function<bool()> &predicate, int timeoutMs) const
{
    const auto deadline = SteadyClock::now() + milliseconds(timeoutMs);
    for (;;) {
        if (predicate())
            return true;
        if (SteadyClock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(milliseconds(10));
    }
}

QVector<P2pUnit> P2pDevice::units(const QString &uid, int quality) const
{
    std::lock_guard<std::mutex> lock(d->m);
    const Identity id = d->ids.value(uid);
    return quality == 3 && !id.media.subUnits.isEmpty() ? id.media.subUnits : id.media.mainUnits;
}

void P2pDevice::setLineObserver(std::function<void(const QByteArray &)> observer)
{
    std::lock_guard<std::mutex> lock(d->m);
    d->observer = std::move(observer);
}

} // namespace devicesim
