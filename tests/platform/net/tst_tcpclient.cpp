#include <QtTest>

#include <atomic>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/net/framesender.h"
#include "platform/net/tcpclient.h"
#include "tests/support/loopback.h"

using platform::FrameSender;
using platform::TcpClient;

namespace {

// A client connected to a loopback listener, and the accepted server side.
struct Pair
{
    testsupport::LoopbackListener listener;
    TcpClient client;
    int server = -1;
    std::atomic<bool> stop{false};

    Pair()
    {
        if (client.connect("127.0.0.1", listener.port(), 5000, [this] { return stop.load(); }) == TcpClient::Connected)
            server = ::accept(listener.fd(), nullptr, nullptr);
    }
    ~Pair()
    {
        if (server >= 0)
            ::close(server);
    }
};

} // namespace

class TestTcpClient : public QObject
{
    Q_OBJECT
private slots:
    void recvWaitDeliversThenSeesTheClose()
    {
        Pair p;
        QVERIFY(p.server >= 0);
        std::thread writer([&] {
            QThread::msleep(150);
            ::send(p.server, "frame", 5, MSG_NOSIGNAL);
        });
        char buf[64];
        ssize_t n = -7;
        QCOMPARE(p.client.recvWait(buf, sizeof buf, 10000, &n), int(TcpClient::Ready));
        writer.join();
        QCOMPARE(QByteArray(buf, int(n)), QByteArray("frame"));
        ::close(p.server);
        p.server = -1;
        n = -7;
        QCOMPARE(p.client.recvWait(buf, sizeof buf, 10000, &n), int(TcpClient::Ready));
        QCOMPARE(n, ssize_t(0));
    }

    void recvWaitTimesOutAndKeepsWhatCameLate()
    {
        Pair p;
        QVERIFY(p.server >= 0);
        char buf[64];
        ssize_t n = -7;
        QElapsedTimer t;
        t.start();
        QCOMPARE(p.client.recvWait(buf, sizeof buf, 250, &n), int(TcpClient::Timeout));
        QVERIFY2(t.elapsed() >= 240, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(n, ssize_t(-7));
        // Bytes already there are taken even without any time left to wait.
        ::send(p.server, "late", 4, MSG_NOSIGNAL);
        QVERIFY(QTest::qWaitFor([&] { return p.client.recvWait(buf, sizeof buf, 0, &n) == TcpClient::Ready; }));
        QCOMPARE(QByteArray(buf, int(n)), QByteArray("late"));
    }

    void stopEndsALongWait()
    {
        Pair p;
        QVERIFY(p.server >= 0);
        std::thread stopper([&] {
            QThread::msleep(200);
            p.stop = true;
        });
        char buf[64];
        ssize_t n = -7;
        // The minute asked for would end as a time-out, not as a stop.
        QCOMPARE(p.client.recvWait(buf, sizeof buf, 60000, &n), int(TcpClient::StoppedWait));
        stopper.join();
    }

    void plainSendAndRecvStayNonBlockingAfterAWait()
    {
        Pair p;
        QVERIFY(p.server >= 0);
        char buf[64];
        ssize_t n = -7;
        QCOMPARE(p.client.recvWait(buf, sizeof buf, 50, &n), int(TcpClient::Timeout));
        // Nobody reads the server side: a blocking send would hang here.
        std::vector<char> chunk(1 << 20, 'x');
        ssize_t last = 0;
        for (int i = 0; i < 256 && last >= 0; ++i)
            last = p.client.send(chunk.data(), chunk.size());
        QCOMPARE(last, ssize_t(-1));
        QVERIFY(errno == EAGAIN || errno == EWOULDBLOCK);
        QCOMPARE(p.client.recv(buf, sizeof buf), ssize_t(-1));
    }

    // A peer that stops reading, then reads again: it gets only whole frames
    // in their order (the run takes partial sends), and sending goes on.
    void frameSenderKeepsFramesWhole()
    {
        Pair p;
        QVERIFY(p.server >= 0);
        const int small = 4096;
        QCOMPARE(::setsockopt(p.client.fd(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small), 0);
        constexpr int kFrame = 1000;
        QByteArray expected;
        int next = 0;
        FrameSender sender(p.client);
        auto sendNext = [&] {
            QByteArray f(kFrame, char(next % 251));
            qToLittleEndian<qint32>(next++, f.data());
            const FrameSender::Result r = sender.send(f.constData(), size_t(f.size()));
            if (r == FrameSender::Sent)
                expected += f;
            return r;
        };
        while (sender.dropped() < 5 && next < 100000)
            QVERIFY(sendNext() != FrameSender::Failed);
        QVERIFY(sender.dropped() >= 5);

        QByteArray received;
        const int sentBefore = expected.size() / kFrame;
        auto drain = [&] {
            char buf[65536];
            ssize_t n;
            while ((n = ::recv(p.server, buf, sizeof buf, MSG_DONTWAIT)) > 0)
                received.append(buf, int(n));
        };
        for (int round = 0; round < 5000 && expected.size() / kFrame < sentBefore + 50; ++round) {
            drain();
            QVERIFY(sendNext() != FrameSender::Failed);
            QThread::usleep(200);
        }
        QVERIFY(expected.size() / kFrame >= sentBefore + 50);
        // Every frame but the last sent is whole on the wire; the rest of the
        // last may still wait in the sender.
        QTRY_VERIFY((drain(), received.size() >= expected.size() - kFrame));
        QVERIFY(received == expected.left(received.size()));
    }
};

QTEST_GUILESS_MAIN(TestTcpClient)
#include "tst_tcpclient.moc"
