// The loopback test device as a program: answers the camera's HTTP API on a
// loopback address and prints one line per request.

#include <QCoreApplication>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>
#include <sys/socket.h>
#include <unistd.h>

#include "devicesim/device.h"
#include "devicesim/motionstatus.h"
#include "devicesim/multipart.h"
#include "devicesim/protocols.h"
#include "devicesim/settingsets.h"
#include "devicesim/p2pdevice.h"

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    // Nothing to do when the pipe is full: a stop is already pending.
    [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &c, 1);
}

void usage(FILE *to)
{
    std::fprintf(
        to, "usage: devicesim --http PORT [--address 127.0.0.X] [--user U] [--password W]\n"
            "                 [--device ADDRESS:PORT,USER,PASSWORD[,COLOUR]]...\n"
            "                 [--subjects DIR] [--fault WHAT=MODE]...\n"
            "                 [--clips DIR] [--alarm-every MS:TOPIC] [--udp ADDRESS:PORT] [--netns-ok] [--max-rate]\n"
            "                 [--bodies] [--imgstyle N]\n"
            "  WHAT: * | /path | ACTION:KEY | KEY      (e.g. set:sample, get:*)\n"
            "  MODE: CODE | malformed | delay:MS | stall | trickle:BYTES:MS | large:BYTES\n"
            "        | drop | reset | garbage | interim100 | silent | cut, optionally /N for the next N requests\n"
            "  a later --fault wins over an earlier one that matches the same request\n"
            "  each --device is one more device on its own loopback address (--http may then be left out);\n"
            "  faults, subjects, clips and alarms apply to every device, discovery answers for the first\n"
            "  --bodies prints the body of every POST to /action/ptz and /action/set under its request line,\n"
            "           and each uploaded part's name, file name and size\n"
            "  --imgstyle N sets the image style every device's devability reports\n");
}

// One device of the program: its address, port and credentials.
struct DeviceOption
{
    QString address;
    int port = 0;
    QString user;
    QString password;
    QString colour;
};

bool parseDevice(const QString &text, DeviceOption *out)
{
    const QStringList parts = text.split(QLatin1Char(','));
    const int colon = parts.value(0).lastIndexOf(QLatin1Char(':'));
    if (parts.size() < 3 || parts.size() > 4 || colon <= 0)
        return false;
    bool ok = false;
    out->address = parts[0].left(colon);
    out->port = parts[0].mid(colon + 1).toInt(&ok);
    out->user = parts[1];
    out->password = parts[2];
    out->colour = parts.value(3);
    return ok && out->port >= 0 && out->port <= 65535 && !out->user.isEmpty() && !out->password.isEmpty();
}

struct FaultOption
{
    QString match;
    devicesim::Fault fault;
    int times;
};

std::mutex g_printLock;

void printLine(const QByteArray &line)
{
    std::lock_guard<std::mutex> lock(g_printLock);
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

QByteArray describe(const devicesim::LoggedRequest &r)
{
    QByteArray line = r.method + ' ' + r.path;
    if (!r.query.isEmpty())
        line += '?' + r.query;
    if (!r.credentialsSent)
        line += " credentials missing";
    else
        line += " user \"" + r.user.toUtf8() + "\" " + (r.authorized ? "accepted" : "refused");
    if (r.status)
        line += " status " + QByteArray::number(r.status);
    else
        line += " no answer";
    if (!r.fault.isEmpty())
        line += " (fault: " + r.fault.toUtf8() + ')';
    return line;
}

// The body of a PTZ command or a setting, on one line under its request.
bool bodyShown(const devicesim::LoggedRequest &r)
{
    return r.method == "POST" && (r.path == "/action/ptz" || r.path == "/action/set");
}

QByteArray oneLine(QByteArray body)
{
    body.replace("\r\n", " ");
    body.replace('\n', ' ');
    body.replace('\r', ' ');
    return "  " + body;
}

// Each uploaded part as its name, file name and size, one line each.
QList<QByteArray> uploadedParts(const devicesim::LoggedRequest &r)
{
    QList<QByteArray> lines;
    if (r.method != "POST" || r.path != "/action/upload")
        return lines;
    QList<devicesim::FormPart> parts;
    QString error;
    if (!devicesim::parseMultipart(devicesim::findHeader(r.headers, "Content-Type"), r.body, &parts, &error))
        return {"  (not a multipart form: " + error.toUtf8() + ')'};
    for (const devicesim::FormPart &p : parts)
        lines << "  part \"" + p.name.toUtf8() + "\" file \"" + p.fileName.toUtf8() + "\" " +
                     QByteArray::number(p.data.size()) + " bytes";
    return lines;
}

// Without --clips a device started by hand streams the clips of the build
// it belongs to, as the test runs leave them, so that it sends pictures as a
// camera does. False, and nothing chosen, when they are not there.
bool defaultClips(QString *clips)
{
    const QString dir = QStringLiteral(DEVICESIM_CLIPS_DIR);
    if (!QFileInfo(dir + QStringLiteral("/h264-1080p25.h264")).isFile())
        return false;
    *clips = dir;
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    int p2pRc = 0;
    if (devicesim::runP2pProgram(args, &p2pRc))
        return p2pRc;

    int port = -1;
    QString address = QStringLiteral("127.0.0.1");
    QString user = QStringLiteral("admin");
    QString password = QStringLiteral("1234");
    QString subjects = QStringLiteral(DEVICESIM_SUBJECTS_DIR);
    QList<FaultOption> faults;
    QString clips;
    int alarmEvery = 0;
    QString alarmTopic;
    QString udp;
    bool netnsOk = false;
    bool maxRate = false;
    bool bodies = false;
    int imgstyle = -1;
    QList<DeviceOption> devices;

    for (int i = 0; i < args.size(); ++i) {
        const QString opt = args[i];
        if (opt == QLatin1String("--help") || opt == QLatin1String("-h")) {
            usage(stdout);
            return 0;
        }
        if (opt == QLatin1String("--netns-ok")) {
            netnsOk = true;
            continue;
        }
        if (opt == QLatin1String("--bodies")) {
            bodies = true;
            continue;
        }
        if (opt == QLatin1String("--max-rate")) {
            maxRate = true;
            continue;
        }
        if (i + 1 >= args.size()) {
            std::fprintf(stderr, "devicesim: %s needs a value\n", qPrintable(opt));
            usage(stderr);
            return 2;
        }
        const QString value = args[++i];
        if (opt == QLatin1String("--imgstyle")) {
            bool ok = false;
            imgstyle = value.toInt(&ok);
            if (!ok || imgstyle < 0) {
                std::fprintf(stderr, "devicesim: bad image style %s\n", qPrintable(value));
                return 2;
            }
            continue;
        }
        if (opt == QLatin1String("--http")) {
            bool ok = false;
            port = value.toInt(&ok);
            if (!ok || port < 0 || port > 65535) {
                std::fprintf(stderr, "devicesim: bad port %s\n", qPrintable(value));
                return 2;
            }
        } else if (opt == QLatin1String("--address")) {
            address = value;
        } else if (opt == QLatin1String("--user")) {
            user = value;
        } else if (opt == QLatin1String("--password")) {
            password = value;
        } else if (opt == QLatin1String("--clips")) {
            clips = value;
        } else if (opt == QLatin1String("--alarm-every")) {
            const int colon = value.indexOf(QLatin1Char(':'));
            bool ok = false;
            alarmEvery = value.left(colon).toInt(&ok);
            alarmTopic = value.mid(colon + 1);
            if (colon <= 0 || !ok || alarmEvery <= 0 || alarmTopic.isEmpty()) {
                std::fprintf(stderr, "devicesim: --alarm-every wants MS:TOPIC, got %s\n", qPrintable(value));
                return 2;
            }
        } else if (opt == QLatin1String("--device")) {
            DeviceOption d;
            if (!parseDevice(value, &d)) {
                std::fprintf(stderr, "devicesim: --device wants ADDRESS:PORT,USER,PASSWORD[,COLOUR], got %s\n",
                             qPrintable(value));
                return 2;
            }
            devices.append(d);
        } else if (opt == QLatin1String("--udp")) {
            udp = value;
        } else if (opt == QLatin1String("--subjects")) {
            subjects = value;
        } else if (opt == QLatin1String("--fault")) {
            const int eq = value.lastIndexOf(QLatin1Char('=')); // a subject key may hold "="
            FaultOption f;
            QString error;
            if (eq <= 0) {
                std::fprintf(stderr, "devicesim: --fault wants WHAT=MODE, got %s\n", qPrintable(value));
                return 2;
            }
            f.match = value.left(eq);
            if (!devicesim::Fault::parse(value.mid(eq + 1), &f.fault, &f.times, &error)) {
                std::fprintf(stderr, "devicesim: %s\n", qPrintable(error));
                return 2;
            }
            faults.append(f);
        } else {
            std::fprintf(stderr, "devicesim: unknown option %s\n", qPrintable(opt));
            usage(stderr);
            return 2;
        }
    }
    if (port >= 0)
        devices.prepend(DeviceOption{address, port, user, password, QString()});
    if (devices.isEmpty()) {
        usage(stderr);
        return 2;
    }
    if (clips.isEmpty() && !defaultClips(&clips))
        std::fprintf(stderr,
                     "devicesim: no clips in %s (tests/devicesim/make-clips.sh DIR makes them; --clips DIR names "
                     "them): the live streams carry no video\n",
                     DEVICESIM_CLIPS_DIR);
    for (const DeviceOption &d : devices) {
        const QHostAddress host(d.address);
        if (host.isNull() || !devicesim::Device::isLoopback(host)) {
            std::fprintf(stderr, "devicesim: %s is not a loopback address (127.0.0.0/8)\n", qPrintable(d.address));
            return 2;
        }
    }

    // Before anything is printed: whoever reads "listening on" may stop us at once.
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return 1;
    QSocketNotifier notifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGPIPE, SIG_IGN);

    std::vector<std::unique_ptr<devicesim::Device>> running;
    std::vector<devicesim::Protocols> protocolSets;
    QString error;
    for (const DeviceOption &d : devices) {
        auto device = std::make_unique<devicesim::Device>();
        device->setCredentials(d.user, d.password);
        if (!device->loadSubjects(subjects, &error)) {
            std::fprintf(stderr, "devicesim: %s\n", qPrintable(error));
            return 1;
        }
        if (imgstyle >= 0 && !devicesim::setImageStyle(*device, imgstyle)) {
            std::fprintf(stderr, "devicesim: no devability document to take --imgstyle\n");
            return 1;
        }
        device->setSubjectSource(QStringLiteral("mdstatus"), devicesim::motionStatusSource());
        for (const FaultOption &f : faults)
            device->addFault(f.match, f.fault, f.times);
        // With several devices each line says which one saw the request.
        const QByteArray prefix = devices.size() > 1 ? d.address.toUtf8() + ": " : QByteArray();
        device->setRequestObserver([prefix, bodies](const devicesim::LoggedRequest &r) {
            printLine(prefix + describe(r));
            if (bodies && bodyShown(r))
                printLine(prefix + oneLine(r.body));
            if (bodies) {
                for (const QByteArray &part : uploadedParts(r))
                    printLine(prefix + part);
            }
        });
        const devicesim::Protocols protocols = devicesim::installProtocols(*device, clips);
        if (!d.colour.isEmpty()) {
            if (!devicesim::LiveStream::knownColour(d.colour)) {
                std::fprintf(stderr,
                             "devicesim: unknown colour %s (red, green, lime, blue, yellow, cyan, magenta or white)\n",
                             qPrintable(d.colour));
                return 2;
            }
            devicesim::LiveStream::Options o = protocols.live->options();
            o.colour = d.colour;
            protocols.live->setOptions(o);
        }
        // One line per talk: the next talk is counted afresh, from its own
        // opening frame.
        devicesim::TalkSink *talk = protocols.talk.get();
        protocols.talk->setEndObserver([prefix, talk](const devicesim::TalkSink::Record &r) {
            printLine(prefix + devicesim::describeTalk(r));
            talk->reset();
        });
        if (alarmEvery > 0)
            protocols.alarm->setEvery(alarmEvery, alarmTopic);
        if (maxRate) {
            devicesim::LiveStream::Options o = protocols.live->options();
            o.pacing = devicesim::LiveStream::Pacing::MaxRate;
            protocols.live->setOptions(o);
        }
        if (!device->start(QHostAddress(d.address), quint16(d.port), &error)) {
            std::fprintf(stderr, "devicesim: cannot listen on %s:%d: %s\n", qPrintable(d.address), d.port,
                         qPrintable(error));
            return 1;
        }
        QString line = QStringLiteral("listening on %1:%2: cgi, stream (%3), alarm, talk")
                           .arg(d.address)
                           .arg(device->port())
                           .arg(protocols.live->describe());
        if (!d.colour.isEmpty())
            line += QStringLiteral(", colour %1").arg(d.colour);
        printLine(line.toUtf8());
        running.push_back(std::move(device));
        protocolSets.push_back(protocols);
    }
    devicesim::Device &device = *running.front();
    address = devices.front().address;
    devicesim::DiscoveryResponder discovery;
    if (!udp.isEmpty()) {
        const int colon = udp.lastIndexOf(QLatin1Char(':'));
        const QHostAddress udpHost(udp.left(colon));
        bool ok = false;
        const int udpPort = udp.mid(colon + 1).toInt(&ok);
        devicesim::DiscoveryResponder::Record rec;
        rec.address = address;
        rec.port = device.port();
        discovery.setRecord(rec);
        if (colon <= 0 || !ok || udpPort < 0 || udpPort > 65535 ||
            !discovery.start({udpHost}, quint16(udpPort), netnsOk, &error)) {
            std::fprintf(stderr, "devicesim: cannot answer discovery on %s: %s\n", qPrintable(udp), qPrintable(error));
            return 1;
        }
        if (netnsOk) {
            devicesim::DiscoveryResponder::Faults f;
            f.broadcastReplies = qEnvironmentVariableIsSet("DEVICESIM_BROADCAST_REPLIES");
            discovery.setFaults(f);
        }
        discovery.setObserver([](const devicesim::DiscoveryResponder::Received &r) {
            printLine(QStringLiteral("discovery: %1 bytes from %2:%3")
                          .arg(r.datagram.size())
                          .arg(r.from.toString())
                          .arg(r.fromPort)
                          .toUtf8());
        });
        printLine(QStringLiteral("discovery udp %1:%2 name \"%3\" mac %4")
                      .arg(udpHost.toString())
                      .arg(discovery.port())
                      .arg(rec.name, rec.mac)
                      .toUtf8());
    }

    const int rc = app.exec();
    discovery.stop();
    for (auto &d : running)
        d->stop();
    return rc;
}
