// The recording side of diskfull.sh: ROOT (a small file system of its own)
// and the zmfdump program. Fills the file system, records a loopback device
// on a timing schedule until the disk is full, checks what is left, lets
// the full disk cut more recordings short, makes room and sees the next
// recording start and the system log told when the full disk ended. Exit 0
// when everything held.

#include "common.h"

#include "media/qcdiskmanager.h"
#include "media/recordlog.h"
#include "tests/support/systemlog.h"

#include <QCoreApplication>
#include <QTest>
#include <QTimer>

#include <sys/statvfs.h>

#include <atomic>
#include <cstdio>
#include <functional>

using namespace recordinge2e;

namespace {

std::atomic<int> g_checks{0};
// What the disk guard measures: plenty of room, or nothing while the disk
// is full, so that it deletes nothing the checks below look at.
std::atomic<bool> g_room{true};
int g_failures = 0;

void check(bool ok, const QString &what)
{
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", qPrintable(what));
    std::fflush(stdout);
    g_failures += ok ? 0 : 1;
}

// Spins the event loop until the condition holds or the time is up.
bool waitFor(const std::function<bool()> &condition, int ms)
{
    return QTest::qWaitFor(condition, ms);
}

qint64 freeBytes(const QString &path)
{
    struct statvfs st;
    return ::statvfs(QFile::encodeName(path).constData(), &st) == 0 ? qint64(st.f_bavail) * qint64(st.f_frsize) : -1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3)
        return 2;
    const QString root = args[1];
    const QString zmfdump = args[2];
    testsupport::SystemLog log;
    if (!log.run.isValid())
        return 2;
    // The guard's checks are counted; it is told there is room, so the
    // recording it would otherwise free stays for the checks below.
    qcDiskManager::setFreeSpaceFunction([](const QString &) {
        ++g_checks;
        return g_room ? std::optional<qint64>(qint64(1) << 40) : std::nullopt;
    });
    auto device = startDevice("127.0.0.12", "red");
    if (!device)
        return 2;

    ServiceThread service(root);
    service.server->addRecordSchedule(QDate::currentDate().dayOfWeek(), 1, 0, 0, 1440, 1, device->address);
    service.add(*device, 1);
    const QString folder = service.server->buildRecordPath(device->address, 26).section('/', 0, -2);
    check(waitFor([&] { return !unfinished(folder).isEmpty(); }, 20000), "a timing recording runs");
    waitFor([] { return g_checks > 0; }, 5000);

    // Leave about 200 KB.
    g_room = false;
    QFile filler(root + "/filler");
    filler.open(QIODevice::WriteOnly);
    const QByteArray block(16 << 10, 'f');
    while (freeBytes(root) > 200 << 10 && filler.write(block) == block.size())
        filler.flush();
    filler.close();
    const int checksBefore = g_checks;
    check(waitFor([&] { return !finished(folder).isEmpty(); }, 60000), "the recording ended on the full disk");
    check(waitFor([&] { return g_checks > checksBefore; }, 4000), "the disk guard was asked to check at once");
    const QString file = folder + '/' + finished(folder).first();
    const QStringList events = log.abnormal();
    check(events.size() == 1 && events.value(0).startsWith("record ended|" + QFileInfo(folder).fileName() + '|' + file +
                                                           ": the disk is full; the recording ended after "),
          "the system log tells the recording ended on the full disk: " + events.join(" / "));
    const RecordScan scan = recordio::scan(file);
    check(scan.readable && !scan.tornTail && !scan.badRecord && scan.wholeEnd == scan.fileSize,
          "the file ends at its last whole frame: " + QFileInfo(file).fileName());
    check(recordnames::parseName(QFileInfo(file).fileName()).end == int(recordindex::summarise(scan).lastVideo),
          "its name ends with its last video frame");
    bool kfTorn = true, listTorn = true;
    recordindex::readKfindex(folder, &kfTorn);
    recordindex::readReclist(folder, &listTorn);
    check(!kfTorn && !listTorn, "no torn index record");
    // When the full disk took the list record too, the recording stays
    // unlisted until the next start lists it, and that is all the tool may
    // find amiss.
    QByteArray out;
    const int code = run(zmfdump, {"--index", folder}, &out);
    const bool unlisted = out.contains("PROBLEM: not listed: " + QFileInfo(file).fileName().toLatin1());
    check(code == 0 ? out.trimmed().endsWith("consistent") : unlisted && out.count("PROBLEM") == 1,
          "zmfdump --index finds nothing amiss but a recording the full disk left unlisted");

    // The disk stays full over more recordings: each is cut short as the
    // first was, and none of them is told on its own.
    for (int i = 0; i < 2; ++i) {
        const int before = finished(folder).size();
        check(filler.open(QIODevice::ReadWrite) && filler.resize(filler.size() - (100 << 10)), "room for a few frames");
        filler.close();
        check(waitFor([&] { return finished(folder).size() > before; }, 30000),
              QString("another recording ended on the full disk (%1)").arg(i + 1));
    }
    check(log.abnormal().size() == 1, "the system log tells nothing more while the disk stays full");
    // The first one, which told the full disk, is counted too.
    const int cutShort = finished(folder).size();

    QFile::remove(root + "/filler");
    g_room = true;
    recordindex::reportLowSpace();
    check(waitFor([] { return !recordlog::diskFull(); }, 20000), "a guard check finds room again");
    const QStringList told = log.abnormal();
    const QString cut =
        QString("; while it was full, %1 recordings were cut short and 0 recordings deleted").arg(cutShort);
    check(told.size() == 2 &&
              told[1].startsWith("disk full ended||" + root + "/RecordFile: the disk has room again (") &&
              told[1].endsWith(cut),
          "the end of the full disk is told with the recordings it cut: " + told.join(" / "));
    const QStringList done = finished(folder);
    check(waitFor(
              [&] {
                  for (const QString &f : unfinished(folder))
                      if (QFileInfo(folder + '/' + f).size() > 20000)
                          return true;
                  return false;
              },
              20000),
          "with room again the next scheduled recording runs");
    return g_failures ? 1 : 0;
}
