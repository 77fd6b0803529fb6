// Records one device manually through a real stream service until it is
// killed: ROOT ADDRESS PORT. Prints the recording's path once frames are in it.

#include "common.h"

#include "tests/support/diskroom.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4)
        return 2;
    testsupport::assumePlentyOfRoom();
    recordinge2e::ServiceThread service(args[1]);
    service.server->addDevice(args[2], args[3], "cam", "admin", "1234", "VARAR", 1);
    QTimer poll;
    bool told = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!service.server->startRecord(args[2], 0) || told)
            return;
        const QString folder = service.server->buildRecordPath(args[2], 28).section('/', 0, -2);
        const QStringList files = recordinge2e::unfinished(folder);
        if (!files.isEmpty() && QFileInfo(folder + '/' + files.first()).size() > 20000) {
            std::printf("%s\n", qPrintable(folder + '/' + files.first()));
            std::fflush(stdout);
            told = true;
        }
    });
    poll.start(100);
    return app.exec();
}
