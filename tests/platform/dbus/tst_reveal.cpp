#include "fakebus.h"
#include "platform/desktop/reveal.h"

#include <QDesktopServices>
#include <QDir>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include <cerrno>
#include <sys/wait.h>

class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};

class TestReveal : public QObject
{
    Q_OBJECT

    static void noChildProcess()
    {
        errno = 0;
        QCOMPARE(int(waitpid(-1, nullptr, WNOHANG)), -1);
        QCOMPARE(errno, ECHILD);
    }

private slots:
    void pathTravelsAsOneArgument()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QString::fromUtf8("clip \"one\"; $(touch x) ä ö.mp4"));
        FakeBus bus;
        QVERIFY(bus.up());
        QVERIFY(platform::revealInFileManager(path));
        const QList<QStringList> calls = fakeLog().take("FileManager1.ShowItems");
        QCOMPARE(calls.size(), 1);
        QCOMPARE(calls[0].size(), 2); // startup id, one URI
        QCOMPARE(calls[0][0], QString());
        const QString uri = calls[0][1];
        QVERIFY(uri.startsWith("file:///"));
        QVERIFY(!uri.contains(' '));
        QVERIFY(!uri.contains('"'));
        QCOMPARE(QUrl(uri).toLocalFile(), path);
        noChildProcess();
    }

    void withoutFileManagerTheFolderOpens()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("sub dir/snap 1.jpg");
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler("file", &catcher, "open");
        QVERIFY(platform::revealInFileManager(path));
        QDesktopServices::unsetUrlHandler("file");
        QCOMPARE(catcher.urls.size(), 1);
        QCOMPARE(catcher.urls[0], QUrl::fromLocalFile(dir.filePath("sub dir")));
        QCOMPARE(fakeLog().take("FileManager1.ShowItems").size(), 0);
        noChildProcess();
    }
};

FAKEBUS_TEST_MAIN(TestReveal, QGuiApplication)
#include "tst_reveal.moc"
