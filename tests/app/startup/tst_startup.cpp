#include "app/core/server.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

namespace {

// The machine-wide name, unless a client of a developer already holds it.
QString instanceName()
{
    static const QString name = Server::isServerRunning("qzprys-400")
                                    ? QStringLiteral("qzprys-400-test-%1").arg(QCoreApplication::applicationPid())
                                    : QStringLiteral("qzprys-400");
    return name;
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void secondListenRefused()
    {
        Server first;
        QVERIFY(first.listen(instanceName()));
        QVERIFY(Server::isServerRunning(instanceName()));
        Server second;
        QVERIFY(!second.listen(instanceName()));
        QVERIFY(Server::isServerRunning(instanceName())); // the first still answers
    }

    void staleSocketFromKilledInstance()
    {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), {"--listen", instanceName()});
        QVERIFY(child.waitForStarted(5000));
        QVERIFY(child.waitForReadyRead(10000));
        QCOMPARE(child.readLine().trimmed(), QByteArray("listening"));
        QVERIFY(Server::isServerRunning(instanceName()));
        child.kill(); // SIGKILL: the socket file stays behind
        QVERIFY(child.waitForFinished(5000));

        const QString socketFile = QDir(QDir::tempPath()).filePath(instanceName());
        QVERIFY(QFileInfo::exists(socketFile));
        QVERIFY(!Server::isServerRunning(instanceName()));

        Server next;
        QVERIFY(next.listen(instanceName()));
        QVERIFY(Server::isServerRunning(instanceName()));
    }

    void messagesArrive()
    {
        Server server;
        QVERIFY(server.listen(instanceName()));
        QSignalSpy spy(&server, &Server::newMessage);
        QLocalSocket socket;
        socket.connectToServer(instanceName());
        QVERIFY(socket.waitForConnected(1000));
        socket.write("show yourself");
        socket.flush();
        QTRY_COMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("show yourself"));
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--listen") {
        Server server;
        if (!server.listen(QString::fromLocal8Bit(argv[2])))
            return 1;
        printf("listening\n");
        fflush(stdout);
        return app.exec();
    }
    TestStartup t;
    return QTest::qExec(&t, argc, argv);
}
#include "tst_startup.moc"
