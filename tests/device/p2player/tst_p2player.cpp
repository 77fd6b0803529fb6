// The P2P layer against the loopback device, without any device code above it.

#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <thread>

#include "devicesim/p2pdevice.h"
#include "platform/p2p/P2pApi.h"

using namespace devicesim;

namespace {

const char *kUid = "ARDOSIM0000000000001";

QVector<P2pUnit> fakeUnits(int count, int size = 100)
{
    QVector<P2pUnit> out;
    for (int i = 0; i < count; ++i) {
        QByteArray b(size, char('a' + i % 26));
        b.prepend(QByteArray("\0\0\0\1", 4));
        b[size - 1 + 4] = char(i);
        out.append({b, i % 5 == 0});
    }
    return out;
}

QByteArray u32pair(quint32 a, quint32 b)
{
    QByteArray p(8, '\0');
    qToLittleEndian(a, p.data());
    qToLittleEndian(b, p.data() + 4);
    return p;
}

int g_authCalls = 0;
QByteArray g_authAccount;
int acceptAll(const char *account, const char *)
{
    ++g_authCalls;
    g_authAccount = account;
    return 1;
}

// Waits until a receive returns something other than "no data yet".
int recvFrame(int av, QByteArray *buf, QByteArray *info, int bufSize = 1 << 20, int *actual = nullptr)
{
    buf->resize(bufSize);
    info->resize(16);
    for (int i = 0; i < 300; ++i) {
        int act = 0, exp = 0, infoLen = 0;
        unsigned num = 0;
        const int r = avRecvFrameData2(av, buf->data(), bufSize, &act, &exp, info->data(), 16, &infoLen, &num);
        if (actual)
            *actual = act;
        if (r != p2p::kErrNoData) {
            if (r > 0)
                buf->resize(r);
            return r;
        }
        QThread::msleep(10);
    }
    return p2p::kErrNoData;
}

} // namespace

class TestP2pLayer : public QObject
{
    Q_OBJECT

    P2pDevice *m_device = nullptr;
    P2pMedia m_media;

    void restartDevice(const P2pFaults &faults = {}, const P2pMedia *media = nullptr)
    {
        delete m_device;
        m_device = new P2pDevice;
        m_device->addIdentity(QString::fromLatin1(kUid), QStringLiteral("admin"), QStringLiteral("1234"),
                              media ? *media : m_media, faults);
        QVERIFY(m_device->start());
        p2p::Registry::add(kUid, m_device->port());
    }

    // A session with channel 0 started; returns its AV index.
    int open(int *sid)
    {
        *sid = IOTC_Get_SessionID();
        if (*sid < 0 || IOTC_Connect_ByUID_Parallel(kUid, *sid) != 0)
            return -1;
        uint32_t service = 0;
        return avClientStart(*sid, "admin", "1234", 3000, &service, 0);
    }

private slots:
    void initTestCase()
    {
        QCOMPARE(IOTC_Initialize2(0), 0);
        QCOMPARE(IOTC_Initialize2(0), p2p::kErrAlreadyInitialised);
        QCOMPARE(avInitialize(64), 32);
        m_media.mainUnits = fakeUnits(50);
        m_media.audio = P2pMedia::MuLaw;
    }

    void cleanup()
    {
        delete m_device;
        m_device = nullptr;
        p2p::Registry::clear();
        const p2p::Stats st = p2p::stats();
        QCOMPARE(st.sessions, 0);
        QCOMPARE(st.channels, 0);
        QCOMPARE(st.talkChannels, 0);
    }

    void registry()
    {
        restartDevice();
        const int sid = IOTC_Get_SessionID();
        QVERIFY(sid >= 0);
        QCOMPARE(IOTC_Connect_ByUID_Parallel("NOSUCHDEVICE00000001", sid), p2p::kErrUnknownIdentifier);

        // Only the file names the identifier now; a non-loopback line is passed over.
        p2p::Registry::clear();
        QTemporaryDir dir;
        const QString path = dir.filePath("registry.txt");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("# devices\n") + kUid + " 10.1.2.3:" + QByteArray::number(m_device->port()) + "\n");
        f.close();
        qputenv("ARDO_P2P_REGISTRY", path.toLocal8Bit());
        QCOMPARE(IOTC_Connect_ByUID_Parallel(kUid, sid), p2p::kErrUnknownIdentifier);
        QCOMPARE(m_device->sessionsOpened(), 0);

        // Read again at the next connect.
        QVERIFY(m_device->writeRegistry(path));
        QCOMPARE(IOTC_Connect_ByUID_Parallel(kUid, sid), 0);
        p2p::P2pSessionInfo info;
        QCOMPARE(IOTC_Session_Check(sid, &info), 0);
        QCOMPARE(QString::fromStdString(info.uid), QString::fromLatin1(kUid));
        QCOMPARE(IOTC_Session_Close(sid), 0);
        qunsetenv("ARDO_P2P_REGISTRY");

        // An identifier the endpoint does not serve.
        P2pFaults unknown;
        unknown.unknownIdentifier = true;
        restartDevice(unknown);
        const int sid2 = IOTC_Get_SessionID();
        QCOMPARE(IOTC_Connect_ByUID_Parallel(kUid, sid2), p2p::kErrUnknownIdentifier);
        QCOMPARE(IOTC_Session_Close(sid2), 0);
    }

    void authAndChannels()
    {
        restartDevice();
        const int sid = IOTC_Get_SessionID();
        QCOMPARE(IOTC_Connect_ByUID_Parallel(kUid, sid), 0);
        uint32_t service = 0;
        QCOMPARE(avClientStart(sid, "admin", "wrong", 3000, &service, 0), p2p::kErrWrongCredentials);
        QCOMPARE(avClientStart(sid, "admin", "1234", 3000, &service, 0), sid * 32);
        QCOMPARE(service, 0x0Cu);
        QCOMPARE(IOTC_Session_Get_Free_Channel(sid), 1);
        QCOMPARE(IOTC_Session_Get_Free_Channel(sid), 2);
        QCOMPARE(IOTC_Session_Get_Free_Channel(sid), 3);
        QCOMPARE(p2p::stats().channels, 1);

        // IO-control both ways, bytes unchanged.
        const QByteArray start = u32pair(0, 0);
        QCOMPARE(avSendIOCtrl(sid * 32, 0x1FF, start.constData(), 8), 0);
        const QByteArray info(4, '\0');
        QCOMPARE(avSendIOCtrl(sid * 32, 0x3000000E, info.constData(), 4), 0);
        QVERIFY(m_device->waitFor([&] { return m_device->ioTypes().size() == 2; }, 2000));
        QCOMPARE(m_device->ioPayloads(0x1FF).value(0), start);
        unsigned type = 0;
        char buf[1024];
        const int n = avRecvIOCtrl(sid * 32, &type, buf, sizeof buf, 2000);
        QCOMPARE(n, 64);
        QCOMPARE(type, 0x3000000Fu);
        QCOMPARE(QByteArray(buf, 7), QByteArray("ARDOSIM"));
        QCOMPARE(avRecvIOCtrl(sid * 32, &type, buf, sizeof buf, 300), p2p::kErrTimeout);

        QCOMPARE(IOTC_Session_Close(sid), 0);
        QCOMPARE(avSendIOCtrl(sid * 32, 0xFF, buf, 2), p2p::kErrClosedHere);
    }

    void framesInOrder()
    {
        restartDevice();
        int sid = -1;
        const int av = open(&sid);
        QCOMPARE(av, sid * 32);
        QByteArray buf, info;
        buf.resize(1024);
        info.resize(16);
        int a = 0, e = 0, il = 0;
        unsigned num = 0;
        QCOMPARE(avRecvFrameData2(av, buf.data(), 1024, &a, &e, info.data(), 16, &il, &num), p2p::kErrNoData);
        QCOMPARE(avRecvAudioData(av, buf.data(), 1024, info.data(), 16, &num), p2p::kErrNoData);

        const QByteArray start = u32pair(0, 0);
        QCOMPARE(avSendIOCtrl(av, 0x1FF, start.constData(), 8), 0);
        QCOMPARE(avSendIOCtrl(av, 0x300, start.constData(), 8), 0);
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(recvFrame(av, &buf, &info), m_media.mainUnits[i].bytes.size());
            QCOMPARE(buf, m_media.mainUnits[i].bytes);
            const p2p::FrameInfo fi = p2p::FrameInfo::read(reinterpret_cast<const uchar *>(info.constData()));
            QCOMPARE((QList<int>{fi.codec, fi.flags, fi.frameRate}), (QList<int>{78, i % 5 == 0, 25}));
            QCOMPARE(fi.timestampMs, quint32(1000 + 40 * i));
            QCOMPARE(info.mid(6, 6), QByteArray(6, '\0'));
        }
        // Audio: 320 mu-law bytes, codec 137, flags 0.
        int r = p2p::kErrNoData;
        for (int i = 0; i < 100 && r == p2p::kErrNoData; ++i) {
            r = avRecvAudioData(av, buf.data(), 1024, info.data(), 16, &num);
            if (r == p2p::kErrNoData)
                QThread::msleep(10);
        }
        QCOMPARE(r, 320);
        QCOMPARE(int(p2p::FrameInfo::read(reinterpret_cast<const uchar *>(info.constData())).codec), 137);
        QCOMPARE(avClientStop(av), 0);
        QVERIFY(m_device->waitFor([&] { return m_device->eventIndex(14, 0) >= 0; }, 2000)); // channel 0 ended
        QCOMPARE(avRecvFrameData2(av, buf.data(), 1024, &a, &e, info.data(), 16, &il, &num), p2p::kErrClosedHere);
        QCOMPARE(avClientStop(av), p2p::kErrClosedHere);
        QCOMPARE(IOTC_Session_Close(sid), 0);
    }

    void lostAndTooBig()
    {
        P2pFaults f;
        f.frameLostBefore = 2;
        f.hugeFrameAt = 4;
        f.hugeFrameSize = 3000;
        restartDevice(f);
        int sid = -1;
        const int av = open(&sid);
        const QByteArray start = u32pair(0, 0);
        QCOMPARE(avSendIOCtrl(av, 0x1FF, start.constData(), 8), 0);
        QByteArray buf, info;
        QCOMPARE(recvFrame(av, &buf, &info, 2048), m_media.mainUnits[0].bytes.size());
        QCOMPARE(recvFrame(av, &buf, &info, 2048), m_media.mainUnits[1].bytes.size());
        QCOMPARE(recvFrame(av, &buf, &info, 2048), p2p::kErrFrameLost);
        QCOMPARE(recvFrame(av, &buf, &info, 2048), m_media.mainUnits[2].bytes.size());
        QCOMPARE(recvFrame(av, &buf, &info, 2048), m_media.mainUnits[3].bytes.size());
        int actual = 0;
        QCOMPARE(recvFrame(av, &buf, &info, 2048, &actual), p2p::kErrFrameTooBig);
        QCOMPARE(actual, 3000);
        QCOMPARE(recvFrame(av, &buf, &info, 2048), m_media.mainUnits[5].bytes.size());
        QCOMPARE(buf, m_media.mainUnits[5].bytes);
        QCOMPARE(IOTC_Session_Close(sid), 0);

        // A reader that falls behind: the oldest frames give way, the gap is told once.
        P2pMedia big = m_media;
        big.mainUnits = fakeUnits(12, 1 << 20);
        restartDevice({}, &big);
        const int av2 = open(&sid);
        QCOMPARE(avSendIOCtrl(av2, 0x1FF, start.constData(), 8), 0);
        QVERIFY(m_device->waitFor([&] { return m_device->videoFramesSent() >= 11; }, 3000));
        QThread::msleep(100);
        QCOMPARE(recvFrame(av2, &buf, &info, 2 << 20), p2p::kErrFrameLost);
        QVERIFY(recvFrame(av2, &buf, &info, 2 << 20) > 0);
        QVERIFY(buf != big.mainUnits[0].bytes);
        QCOMPARE(IOTC_Session_Close(sid), 0);
    }

    void peerEndsSessionOrChannel()
    {
        restartDevice();
        int sid = -1;
        int av = open(&sid);
        QVERIFY(av >= 0);
        m_device->endChannels();
        const QByteArray start = u32pair(0, 0);
        avSendIOCtrl(av, 0x1FF, start.constData(), 8);
        QByteArray buf, info;
        int r = 0;
        do {
            r = recvFrame(av, &buf, &info);
        } while (r > 0);
        QCOMPARE(r, p2p::kErrChannelEnded);
        QCOMPARE(avSendIOCtrl(av, 0xFF, "\0\0", 2), p2p::kErrChannelEnded);
        QCOMPARE(IOTC_Session_Close(sid), 0);

        av = open(&sid);
        QVERIFY(av >= 0);
        m_device->dropSessions();
        unsigned type = 0;
        char io[1024];
        QCOMPARE(avRecvIOCtrl(av, &type, io, sizeof io, 3000), p2p::kErrSessionLost);
        QCOMPARE(recvFrame(av, &buf, &info), p2p::kErrSessionLost);
        QCOMPARE(IOTC_Session_Check(sid, nullptr), p2p::kErrSessionLost);
        QCOMPARE(IOTC_Session_Close(sid), 0);
    }

    void localCloseWakesWaiters()
    {
        P2pFaults f;
        f.neverAnswerAuth = true;
        restartDevice(f);
        const int sid = IOTC_Get_SessionID();
        QCOMPARE(IOTC_Connect_ByUID_Parallel(kUid, sid), 0);
        std::atomic<int> result{1};
        std::thread waiter([&] {
            uint32_t service = 0;
            result = avClientStart(sid, "admin", "1234", 10000, &service, 0);
        });
        QThread::msleep(200);
        QCOMPARE(IOTC_Session_Close(sid), 0);
        waiter.join();
        QCOMPARE(result.load(), p2p::kErrClosedHere);

        restartDevice();
        int sid2 = -1;
        const int av = open(&sid2);
        QVERIFY(av >= 0);
        std::thread reader([&] {
            unsigned type = 0;
            char io[1024];
            result = avRecvIOCtrl(av, &type, io, sizeof io, 10000);
        });
        QThread::msleep(200);
        QCOMPARE(IOTC_Session_Close(sid2), 0);
        reader.join();
        QCOMPARE(result.load(), p2p::kErrClosedHere);
    }

    void talkChannel()
    {
        restartDevice();
        int sid = -1;
        const int av = open(&sid);
        const int ch = IOTC_Session_Get_Free_Channel(sid);
        QCOMPARE(ch, 1);
        const QByteArray open = u32pair(quint32(ch), 0);
        QCOMPARE(avSendIOCtrl(av, 0x350, open.constData(), 8), 0);
        int resend = -1;
        g_authCalls = 0;
        const int talk = avServStart3(sid, acceptAll, 10, 0, ch, &resend);
        QCOMPARE(talk, sid * 32 + ch);
        QCOMPARE(resend, 0);
        QCOMPARE(g_authCalls, 1);
        QCOMPARE(g_authAccount, QByteArray("admin"));
        QCOMPARE(p2p::stats().talkChannels, 1);

        QByteArray pcm(640, '\0');
        for (int i = 0; i < 320; ++i)
            qToLittleEndian<qint16>(qint16(8000 * std::sin(2 * M_PI * 1000 * i / 8000.0)), pcm.data() + 2 * i);
        p2p::FrameInfo fi;
        fi.codec = p2p::kCodecPcm;
        fi.flags = 2;
        unsigned char raw[16];
        fi.write(raw);
        for (int i = 0; i < 5; ++i)
            QCOMPARE(avSendAudioData(talk, pcm.constData(), 640, reinterpret_cast<char *>(raw), 16), 0);
        QVERIFY(m_device->waitFor([&] { return m_device->talkFrames().size() == 5; }, 2000));
        const P2pEvent frame = m_device->talkFrames().first();
        QCOMPARE(frame.channel, ch);
        QCOMPARE(frame.payload, pcm);
        QCOMPARE(frame.info, QByteArray(reinterpret_cast<char *>(raw), 16));
        QCOMPARE(m_device->talkFrequency(), 1000);

        QCOMPARE(avServStop(talk), 0);
        QCOMPARE(avSendAudioData(talk, pcm.constData(), 640, reinterpret_cast<char *>(raw), 16), p2p::kErrClosedHere);
        QVERIFY(m_device->waitFor([&] { return m_device->eventIndex(14, ch) >= 0; }, 2000)); // the talk channel ended

        // A device that ends the channel instead of opening it: the wait ends at once.
        P2pFaults refuse;
        refuse.refuseTalk = true;
        m_device->setFaults(QString::fromLatin1(kUid), refuse);
        QCOMPARE(IOTC_Session_Close(sid), 0);
        int sid2 = -1;
        const int av2 = this->open(&sid2);
        QCOMPARE(avSendIOCtrl(av2, 0x350, open.constData(), 8), 0);
        QCOMPARE(avServStart3(sid2, acceptAll, 10, 0, ch, &resend), p2p::kErrChannelEnded);
        QCOMPARE(IOTC_Session_Close(sid2), 0);
    }

    // Audio and IO-control messages of a megabyte each, also for a channel
    // this side never opened: the client keeps at most the byte limit of each
    // of its own queues, and the newest messages.
    void floodIsBounded()
    {
        constexpr int kMiB = 1024 * 1024;
        P2pFaults flood;
        flood.floodRounds = 24;
        flood.floodSize = kMiB;
        restartDevice(flood);
        int sid = -1;
        const int av = open(&sid);
        QVERIFY(av >= 0);
        // The device closes once all is sent; the loss is seen after the last message.
        QVERIFY(QTest::qWaitFor([&] { return IOTC_Session_Check(sid, nullptr) == p2p::kErrSessionLost; }, 30000));
        const size_t held = p2p::stats().queuedBytes;
        qInfo("held %zu bytes of %d MiB sent", held, flood.floodRounds * 5);
        QVERIFY(held <= 2 * 8 * size_t(kMiB));

        QByteArray buf(kMiB, '\0');
        char info[16];
        QCOMPARE(avRecvAudioData(av, buf.data(), kMiB, info, 16, nullptr), kMiB);
        QCOMPARE(int(buf.at(0)), flood.floodRounds - 8);
        unsigned type = 0;
        QCOMPARE(avRecvIOCtrl(av, &type, buf.data(), kMiB, 0), kMiB);
        QCOMPARE(type, unsigned(flood.floodRounds - 8));
        QCOMPARE(IOTC_Session_Close(sid), 0);
    }

    void sessionSlots()
    {
        QList<int> ids;
        for (int i = 0; i < p2p::kMaxSessions; ++i)
            ids.append(IOTC_Get_SessionID());
        QCOMPARE(ids.first(), 0);
        QCOMPARE(ids.last(), p2p::kMaxSessions - 1);
        QCOMPARE(IOTC_Get_SessionID(), p2p::kErrNoFreeSlot);
        for (int id : ids)
            QCOMPARE(IOTC_Session_Close(id), 0);
        QCOMPARE(IOTC_Session_Close(5), p2p::kErrClosedHere);
    }

    void deinitialise()
    {
        restartDevice();
        int sid = -1;
        QVERIFY(open(&sid) >= 0);
        QCOMPARE(p2p::stats().sessions, 1);
        const int before = p2p::stats().deinitialiseCount;
        QCOMPARE(avDeInitialize(), 0);
        QCOMPARE(IOTC_DeInitialize(), 0);
        p2p::Stats st = p2p::stats();
        QVERIFY(!st.initialised);
        QCOMPARE(st.sessions, 0);
        QCOMPARE(st.deinitialiseCount, before + 1);
        QCOMPARE(IOTC_Get_SessionID(), p2p::kErrNotInitialised);
        QVERIFY(m_device->waitFor([&] { return m_device->sessionsClosed() == 1; }, 2000));
        QCOMPARE(IOTC_Initialize2(0), 0);
        QCOMPARE(p2p::stats().initialiseCount, st.initialiseCount + 1);
    }
};

QTEST_GUILESS_MAIN(TestP2pLayer)
#include "tst_p2player.moc"
