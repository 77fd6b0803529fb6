// devprobe: talks to one device with the client's own device code and prints
// what comes back, one line per event.

#include <QCoreApplication>
#include <QTimer>

#include <csignal>
#include <cstdio>

#include "devprobe.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void onStopSignal(int)
{
    g_stop = 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
    QTimer stopWatch;
    QObject::connect(&stopWatch, &QTimer::timeout, &app, [&app] {
        if (g_stop)
            app.quit();
    });
    stopWatch.start(100);
    const QStringList args = app.arguments().mid(1);
    const QString mode = args.value(0);
    if (mode == QLatin1String("p2p"))
        return devprobeP2p(app, args.mid(1));
    std::fprintf(stderr, "usage: devprobe p2p ...\n");
    return 2;
}
