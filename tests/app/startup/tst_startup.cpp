#include "app/core/server.h"

#include <QLocalSocket>
#include <QSignalSpy>
#include <QtTest>

// A second instance and the socket a killed one leaves behind are tested end
// to end in app.process; here what a second start sends reaches the first.
class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void messagesArrive()
    {
        // The machine-wide name, unless a client of a developer already holds it.
        const QString name = Server::isServerRunning("qzprys-400")
                                 ? QStringLiteral("qzprys-400-test-%1").arg(QCoreApplication::applicationPid())
                                 : QStringLiteral("qzprys-400");
        Server server;
        QVERIFY(server.listen(name));
        QVERIFY(Server::isServerRunning(name));
        QSignalSpy spy(&server, &Server::newMessage);
        QLocalSocket socket;
        socket.connectToServer(name);
        QVERIFY(socket.waitForConnected(1000));
        socket.write("show yourself");
        socket.flush();
        QTRY_COMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("show yourself"));
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
