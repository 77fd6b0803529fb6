// The start-up repair over a full day of recordings: one folder of 1,440
// one-minute recordings (copies of one recording, renamed a minute apart).
// Timed: the pass with every recording listed and nothing to repair, and
// the pass relisting recordings whose list records were lost, every other
// one (each goes back into the middle of the list) or the later half (each
// is appended); and the pass with the day moved into BackupDir.
//
//   bench_recordrepair [--dir DIR] [--runs N]
//
// DIR must lie on the disk the client records to (tmpfs measures memory);
// the default is ./bench_recordrepair.tmp (about 500 MB while it runs).
// Medians of N runs (default 3); the files are in the page cache, as they
// are after a short restart.

#include "benchsupport.h"

#include "media/qcrecordfile.h"
#include "media/recordindex.h"
#include "media/recordnames.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>

#include <cstdio>
#include <vector>

namespace {

constexpr int kRecordings = 1440;
constexpr int kFrames = 1500; // 60 s at 25 frames/s, a key frame every second
constexpr qint64 kMinute = 60000;

// One minute of a sub stream from `start` (ms of the day): small frames, an
// audio frame after each video frame, as a camera sends them. Each
// recording's key frames have times of their own, as a day's have, so
// kfindex grows to a day's size.
bool writeRecording(const QString &path, qint64 start)
{
    qcRecordFile w(qcRecordFile::kWriter);
    if (!w.create(QFileInfo(path).path(), path) || !w.setAudioParams(0x10006, 8000, 1) ||
        !w.setVideoParams(28, 640, 360, 1, 26, 25, 0))
        return false;
    const QByteArray key(1000, 'k'), other(100, 'p'), audio(32, 'a');
    for (int i = 0; i < kFrames; ++i) {
        const bool isKey = i % 25 == 0;
        const QByteArray &v = isKey ? key : other;
        if (!w.writeVideoFrame(v.constData(), v.size(), isKey ? qcRecordFile::kCodeKey : qcRecordFile::kCodeType2,
                               uint64_t(start + 40 * i)) ||
            !w.writeAudioFrame(audio.constData(), audio.size(), uint64_t(start + 40 * i + 5)))
            return false;
    }
    return w.flush();
}

QString nameAt(int minute)
{
    return QString("RECV1_TIMING_10-0-0-1_%1_%2.zmf")
        .arg(recordnames::formatTimeOfDay(minute * kMinute),
             recordnames::formatTimeOfDay(minute * kMinute + (kFrames - 1) * 40));
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// Every recording listed once, in start-time order.
bool listedInOrder(const QString &folder)
{
    const auto list = recordindex::readReclist(folder);
    if (list.size() != kRecordings)
        return false;
    for (int i = 0; i < kRecordings; ++i)
        if (list.at(i).item.name != nameAt(i))
            return false;
    return true;
}

// The pass over root in ms.
double timedPass(const QString &root)
{
    QElapsedTimer t;
    t.start();
    recordindex::repairTree(root);
    return double(t.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    QString dir = QDir::currentPath() + "/bench_recordrepair.tmp";
    int runs = 3;
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--dir" && i + 1 < args.size())
            dir = args[++i];
        else if (args[i] == "--runs" && i + 1 < args.size())
            runs = qMax(1, args[++i].toInt());
    }
    // The pass says each relisted recording on the console; the figures
    // are what is wanted here.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &m) {
        if (type != QtDebugMsg)
            std::fprintf(stderr, "%s\n", qPrintable(m));
    });
    QDir(dir).removeRecursively();
    const QString root = dir + "/RecordFile";
    const QString folder = root + "/20240101/10.0.0.1";
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "cannot make %s\n", qPrintable(folder));
        return 1;
    }
    QElapsedTimer make;
    make.start();
    for (int m = 0; m < kRecordings; ++m)
        if (!writeRecording(folder + '/' + nameAt(m), m * kMinute)) {
            std::fprintf(stderr, "cannot write into %s\n", qPrintable(folder));
            return 1;
        }
    ::sync();
    std::printf("bench_recordrepair in %s, %d runs\n", qPrintable(dir), runs);
    std::printf("  %d recordings of %lld bytes, %d frames each (made in %.1f s)\n", kRecordings,
                QFileInfo(folder + '/' + nameAt(0)).size(), 2 * kFrames, double(make.elapsed()) / 1000.0);

    const double fromNothing = timedPass(root);
    if (!listedInOrder(folder)) {
        std::fprintf(stderr, "the pass did not list every recording in order\n");
        return 1;
    }
    const QByteArray list = readAll(recordindex::reclistPath(folder));
    const QByteArray keys = readAll(recordindex::kfindexPath(folder));

    std::vector<double> listed;
    for (int r = 0; r < runs; ++r)
        listed.push_back(timedPass(root));

    // Half the list records lost; kfindex as it was, so each run relists the same.
    auto relist = [&](bool everyOther) {
        QByteArray damaged;
        for (int i = 0; i < kRecordings; ++i)
            if (everyOther ? i % 2 == 0 : i < kRecordings / 2)
                damaged += list.mid(i * _st_reclist_item::kSize, _st_reclist_item::kSize);
        std::vector<double> ms;
        for (int r = 0; r < runs; ++r) {
            if (!writeAll(recordindex::reclistPath(folder), damaged) ||
                !writeAll(recordindex::kfindexPath(folder), keys))
                return -1.0;
            ms.push_back(timedPass(root));
            if (!listedInOrder(folder))
                return -1.0;
        }
        return benchsupport::median(ms);
    };
    const double everyOther = relist(true);
    const double laterHalf = relist(false);
    // The same day moved into BackupDir (a clock set back), all listed: the
    // pass goes through it as through a day folder.
    std::vector<double> backup;
    const QString moved = root + "/BackupDir/20240101/10.0.0.1";
    if (QDir().mkpath(root + "/BackupDir") && QDir().rename(root + "/20240101", root + "/BackupDir/20240101"))
        for (int r = 0; r < runs; ++r)
            backup.push_back(timedPass(root));
    const bool backupListed = !backup.empty() && recordindex::readReclist(moved).size() == kRecordings;
    QDir(dir).removeRecursively();
    if (everyOther < 0 || laterHalf < 0 || !backupListed) {
        std::fprintf(stderr, "relisting lost list records, or the pass over BackupDir, failed\n");
        return 1;
    }

    std::printf("\nStart-up repair of one folder of %d one-minute recordings (ms, medians)\n", kRecordings);
    std::printf("  %-52s %9.1f  (target under 2000)\n", "all listed, nothing to repair", benchsupport::median(listed));
    std::printf("  %-52s %9.1f\n", "no list at all: every recording listed", fromNothing);
    std::printf("  %-52s %9.1f\n", "every other list record lost: 720 relisted, in place", everyOther);
    std::printf("  %-52s %9.1f\n", "the later half lost: 720 relisted, appended", laterHalf);
    std::printf("  %-52s %9.1f\n", "the day in BackupDir, all listed", benchsupport::median(backup));
    // Every pass looks the relisted recordings' key-frame records up in its
    // table of kfindex; a search of the whole file reads it once for each.
    const recordindex::KeyLookups lookups = recordindex::keyLookups();
    std::printf("  key-frame records looked up: %llu in the pass's table, %llu by a search of kfindex\n",
                static_cast<unsigned long long>(lookups.inTable), static_cast<unsigned long long>(lookups.searched));
    return 0;
}
