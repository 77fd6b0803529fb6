// Recorder write throughput against dd and a plain sequential write of the
// same records, the CPU the recorders take at a real frame rate, and the
// start-up repair over a large record tree.
//
//   bench_recorder [--dir DIR] [--runs N] [--seconds S] [--skip-repair | --repair-only]
//
// DIR must lie on the disk the client records to (tmpfs measures memory);
// the default is ./bench_recorder.tmp. Medians of N runs (default 5), the
// measured and the reference runs alternating.

#include "media/qcframebuffer.h"
#include "media/qcrecordfile.h"
#include "media/qcvideomuxer.h"
#include "media/recordindex.h"
#include "media/recordnames.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace {

struct Shape
{
    const char *name;
    int keyBytes;
    int otherBytes;
};
constexpr Shape kMain{"main 4 Mbit/s", 100000, 16700};
constexpr Shape kSub{"sub 512 kbit/s", 12000, 2100};
constexpr qint64 kFirstTs = 1000000;

template <typename T>
T median(std::vector<T> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

int frameBytes(const Shape &s, int i)
{
    return i % 25 == 0 ? s.keyBytes : s.otherBytes;
}

// A payload that carries its own timestamp in its last 8 bytes, so the tail
// of a record file tells how far its recorder got.
QByteArray payload(int bytes, qint64 ts)
{
    QByteArray p(bytes, char(ts));
    std::memcpy(p.data() + bytes - 8, &ts, 8);
    return p;
}

QString initialName(const QString &dir, int n)
{
    return dir + '/' + recordnames::initialName(QString("10.0.%1.%2").arg(n / 250).arg(n % 250 + 1), 28);
}

void clearDir(const QString &dir)
{
    QDir(dir).removeRecursively();
    QDir().mkpath(dir);
}

double cpuSeconds(const QString &statPath)
{
    QFile f(statPath);
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray s = f.readAll();
    const QList<QByteArray> fields = s.mid(s.lastIndexOf(')') + 2).split(' ');
    // utime and stime are fields 14 and 15 of the line, 12 and 13 after the name.
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
}

QStringList threadIds()
{
    return QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
}

// The CPU of the listed recorder threads; a thread of another name (one
// that appeared beside a recorder's) does not count.
double recorderThreadsCpu(const QStringList &tids)
{
    double total = 0;
    for (const QString &tid : tids) {
        QFile comm("/proc/self/task/" + tid + "/comm");
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "qcVideoMuxer")
            total += cpuSeconds("/proc/self/task/" + tid + "/stat");
    }
    return total;
}

qint64 rssKb()
{
    QFile f("/proc/self/status");
    f.open(QIODevice::ReadOnly);
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

qint64 writeSyscalls()
{
    QFile f("/proc/self/io");
    f.open(QIODevice::ReadOnly);
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("syscw:"))
            return line.mid(6).trimmed().toLongLong();
    return 0;
}

// ---- throughput

struct Throughput
{
    double recorder = 0, dd = 0, plain = 0;
};

double runRecorder(const QString &dir, qcFrameBuffer &buffer, qint64 fileBytes)
{
    clearDir(dir);
    qcVideoMuxer muxer;
    RecorderTiming timing;
    timing.emptyReadPauseMs = 1;
    muxer.setTiming(timing);
    muxer.setRecordParams(dir, initialName(dir, 0), 28, 0, 1800, 0, 0, 0);
    muxer.setStreamInfo(0, 8000, 1, 28, 1280, 720, 25, false, 0);
    muxer.setFrameBuffer(&buffer);
    const QByteArray path = QFile::encodeName(recordnames::startName(initialName(dir, 0), kFirstTs));
    QElapsedTimer t;
    t.start();
    muxer.start();
    struct stat st
    {};
    while (::stat(path.constData(), &st) != 0 || st.st_size < fileBytes)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    const int fd = ::open(path.constData(), O_RDONLY);
    ::fdatasync(fd);
    ::close(fd);
    const double secs = double(t.nsecsElapsed()) / 1e9;
    muxer.stop();
    muxer.wait();
    return double(fileBytes) / 1e6 / secs;
}

double runPlain(const QString &dir, const std::vector<QByteArray> &frames)
{
    clearDir(dir);
    const QByteArray path = QFile::encodeName(dir + "/plain");
    QElapsedTimer t;
    t.start();
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    char head[64] = {};
    ::write(fd, head, 64);
    qint64 bytes = 64;
    for (const QByteArray &f : frames) {
        iovec iov[2] = {{head, 24}, {const_cast<char *>(f.constData()), size_t(f.size())}};
        bytes += ::writev(fd, iov, 2);
    }
    ::fdatasync(fd);
    ::close(fd);
    return double(bytes) / 1e6 / (double(t.nsecsElapsed()) / 1e9);
}

double runDd(const QString &dir, int megabytes)
{
    clearDir(dir);
    QElapsedTimer t;
    t.start();
    QProcess dd;
    dd.start("dd",
             {"if=/dev/zero", "of=" + dir + "/ref", "bs=1M", QString("count=%1").arg(megabytes), "conv=fdatasync"});
    dd.waitForFinished(-1);
    return double(megabytes) * 1048576.0 / 1e6 / (double(t.nsecsElapsed()) / 1e9);
}

Throughput throughput(const QString &dir, const Shape &shape, int runs)
{
    std::vector<QByteArray> frames;
    qint64 fileBytes = 64, total = 0;
    for (int i = 0; total < 100000000; ++i) {
        frames.push_back(payload(frameBytes(shape, i), kFirstTs + 40 * i));
        total += frames.back().size();
        fileBytes += 24 + frames.back().size();
    }
    qcFrameBuffer buffer;
    buffer.allocate(qcFrameBuffer::kMaxStorage - 1);
    buffer.setFrameRate(25);
    for (size_t i = 0; i < frames.size(); ++i)
        buffer.pushFrame(frames[i].constData(), frames[i].size(), i % 25 == 0 ? 1 : 2, uint64_t(kFirstTs + 40 * i));
    std::vector<double> rec, dd, plain;
    for (int r = 0; r < runs; ++r) {
        rec.push_back(runRecorder(dir, buffer, fileBytes));
        dd.push_back(runDd(dir, int(total / 1048576)));
        plain.push_back(runPlain(dir, frames));
    }
    clearDir(dir);
    return {median(rec), median(dd), median(plain)};
}

// ---- CPU at a real rate

void cpuAtRealRate(const QString &dir, int seconds)
{
    clearDir(dir);
    constexpr int kStreams = 68;
    std::vector<std::unique_ptr<qcFrameBuffer>> buffers;
    for (int i = 0; i < kStreams; ++i) {
        buffers.push_back(std::make_unique<qcFrameBuffer>());
        buffers.back()->allocate(i < 4 ? 8u << 20 : 2u << 20);
        buffers.back()->setFrameRate(25);
    }
    std::atomic<bool> feeding{true};
    std::atomic<qint64> newest{0};
    std::thread feeder([&] {
        auto next = std::chrono::steady_clock::now();
        for (int i = 0; feeding; ++i) {
            const qint64 ts = kFirstTs + 40 * i;
            for (int s = 0; s < kStreams; ++s) {
                const QByteArray p = payload(frameBytes(s < 4 ? kMain : kSub, i), ts);
                buffers[size_t(s)]->pushFrame(p.constData(), p.size(), i % 25 == 0 ? 1 : 2, uint64_t(ts));
            }
            newest = ts;
            next += std::chrono::milliseconds(40);
            std::this_thread::sleep_until(next);
        }
    });
    const double procStart = cpuSeconds("/proc/self/stat");
    std::this_thread::sleep_for(std::chrono::seconds(5));
    const double feedersOnly = (cpuSeconds("/proc/self/stat") - procStart) / 5.0;

    const qint64 rssBefore = rssKb();
    std::vector<std::unique_ptr<qcVideoMuxer>> muxers;
    // Recorder threads of the main and of the sub streams: the threads that
    // appear when each recorder starts.
    QStringList mainTids, subTids;
    for (int s = 0; s < kStreams; ++s) {
        const QString folder = dir + QString("/d%1").arg(s);
        QDir().mkpath(folder);
        auto m = std::make_unique<qcVideoMuxer>();
        m->setRecordParams(dir, initialName(folder, s), 28, s < 4 ? 0 : 1, 1800, 0, 0, -1);
        m->setStreamInfo(0, 8000, 1, 28, 1280, 720, 25, false, 0);
        m->setFrameBuffer(buffers[size_t(s)].get());
        const QStringList before = threadIds();
        m->start();
        for (const QString &tid : threadIds())
            if (!before.contains(tid))
                (s < 4 ? mainTids : subTids) << tid;
        muxers.push_back(std::move(m));
    }
    std::this_thread::sleep_for(std::chrono::seconds(5));
    const double main0 = recorderThreadsCpu(mainTids), sub0 = recorderThreadsCpu(subTids);
    const qint64 writes0 = writeSyscalls();
    std::vector<qint64> lags;
    QElapsedTimer t;
    t.start();
    std::vector<int> fds(kStreams, -1);
    while (t.elapsed() < seconds * 1000LL) {
        for (int s = 0; s < kStreams; ++s) {
            if (fds[size_t(s)] < 0)
                fds[size_t(s)] = ::open(QFile::encodeName(muxers[size_t(s)]->fileName()).constData(), O_RDONLY);
            struct stat st
            {};
            qint64 ts = 0;
            if (fds[size_t(s)] >= 0 && ::fstat(fds[size_t(s)], &st) == 0 && st.st_size > 72 &&
                ::pread(fds[size_t(s)], &ts, 8, st.st_size - 8) == 8 && ts >= kFirstTs)
                lags.push_back(newest - ts);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    const double elapsed = double(t.elapsed()) / 1000.0;
    const double mainCpu = recorderThreadsCpu(mainTids) - main0, subCpu = recorderThreadsCpu(subTids) - sub0;
    const double cpu = mainCpu + subCpu;
    const qint64 writes = writeSyscalls() - writes0;
    const qint64 rssAfter = rssKb();
    for (int fd : fds)
        if (fd >= 0)
            ::close(fd);
    for (auto &m : muxers)
        m->stop();
    std::vector<QString> files;
    for (auto &m : muxers) {
        m->wait();
        files.push_back(m->fileName());
    }
    feeding = false;
    feeder.join();

    // Every frame from each recording's first key frame on must be there.
    int complete = 0;
    for (const QString &f : files) {
        const RecordScan scan = recordio::scan(f);
        bool ok = scan.readable && !scan.records.isEmpty() && scan.records.first().type == 1;
        for (int i = 1; ok && i < scan.records.size(); ++i)
            ok = scan.records[i].timestamp == scan.records[i - 1].timestamp + 40;
        complete += ok ? 1 : 0;
    }
    std::sort(lags.begin(), lags.end());
    auto pct = [&](double p) { return lags.empty() ? -1 : lags[size_t(p * double(lags.size() - 1))]; };
    std::printf("\nCPU at 25 frames/s, 4 main + 64 sub streams, %d s after 5 s of warm-up\n", seconds);
    std::printf("  %-44s %10s\n", "", "value");
    std::printf("  %-44s %9.4f\n", "process, feeder only (cores)", feedersOnly);
    std::printf("  %-44s %9.4f\n", "68 recorder threads together (cores)", cpu / elapsed);
    std::printf("  %-44s %9.5f\n", "per recorded stream (cores)", cpu / elapsed / kStreams);
    std::printf("  %-44s %9.5f\n", "per main stream, 4 Mbit/s (cores)", mainCpu / elapsed / 4);
    std::printf("  %-44s %9.5f\n", "per sub stream, 512 kbit/s (cores)", subCpu / elapsed / (kStreams - 4));
    std::printf("  %-44s %9.0f\n", "write system calls per second", double(writes) / elapsed);
    std::printf("  %-44s %9lld\n", "recording lag p50 (ms)", pct(0.5));
    std::printf("  %-44s %9lld\n", "recording lag p99 (ms)", pct(0.99));
    std::printf("  %-44s %9lld\n", "RSS growth (KiB)", rssAfter - rssBefore);
    std::printf("  %-44s %6d/%d\n", "files with every frame from their key frame", complete, kStreams);
    std::printf("  targets: recorder threads <= 0.10 core, lag p99 <= 250 ms\n");
    clearDir(dir);
}

// ---- start-up repair

void repairTree(const QString &dir)
{
    clearDir(dir);
    const QString root = dir + "/RecordFile";
    QElapsedTimer make;
    make.start();
    for (int day = 0; day < 30; ++day) {
        for (int dev = 0; dev < 64; ++dev) {
            const QString folder = root + QString("/202401%1/10.0.0.%2").arg(day + 1, 2, 10, QChar('0')).arg(dev + 1);
            QDir().mkpath(folder);
            QByteArray list;
            for (int f = 0; f < 48; ++f) {
                _st_reclist_item item;
                item.start = uint32_t(f * 1800000);
                item.end = uint32_t(f * 1800000 + 1799000);
                item.kindFlags = recordnames::reclistKindFlags(recordnames::kKindTiming);
                item.name = QString("RECV1_TIMING_10-0-0-%1_%2_%3.zmf")
                                .arg(dev + 1)
                                .arg(recordnames::formatTimeOfDay(item.start), recordnames::formatTimeOfDay(item.end));
                QFile(folder + '/' + item.name).open(QIODevice::WriteOnly);
                list += item.toBytes();
            }
            recordindex::appendToFile(root, recordindex::reclistPath(folder), list);
        }
    }
    // One unfinished 60 s file, as a crash leaves it.
    const QString crashed = root + "/20240130/10.0.0.1/RECV1_TIMING_10-0-0-1_23-59-00-000_.zmf";
    {
        qcRecordFile w(qcRecordFile::kWriter);
        w.create(root, crashed);
        w.setVideoParams(28, 1280, 720, 0, 26, 25, 0);
        for (int i = 0; i < 1500; ++i) {
            const QByteArray p = payload(frameBytes(kMain, i), 86340000 + 40 * i);
            w.writeVideoFrame(p.constData(), p.size(), i % 25 ? 61 : 59, uint64_t(86340000 + 40 * i));
        }
    }
    ::sync();
    QElapsedTimer t;
    t.start();
    const int repaired = recordindex::repairTree(root);
    const double ms = double(t.nsecsElapsed()) / 1e6;
    std::printf("\nStart-up repair over 30 days x 64 devices x 48 files + 1 unfinished (tree made in %.1f s)\n",
                double(make.elapsed()) / 1000.0);
    std::printf("  repaired %d file(s) in %.0f ms (target under 2000 ms)\n", repaired, ms);
    clearDir(dir);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    QString dir = QDir::currentPath() + "/bench_recorder.tmp";
    int runs = 5, seconds = 30;
    bool repair = true, onlyRepair = false;
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--dir" && i + 1 < args.size())
            dir = args[++i];
        else if (args[i] == "--runs" && i + 1 < args.size())
            runs = args[++i].toInt();
        else if (args[i] == "--seconds" && i + 1 < args.size())
            seconds = args[++i].toInt();
        else if (args[i] == "--skip-repair")
            repair = false;
        else if (args[i] == "--repair-only")
            onlyRepair = true;
    }
    qSetMessagePattern("%{if-warning}%{message}%{endif}");
    std::printf("bench_recorder in %s, %d runs; load average at start: %s\n", qPrintable(dir), runs,
                [] {
                    QFile f("/proc/loadavg");
                    f.open(QIODevice::ReadOnly);
                    return f.readAll().trimmed();
                }()
                    .constData());
    if (onlyRepair) {
        repairTree(dir);
        QDir(dir).removeRecursively();
        return 0;
    }
    std::printf("\nWrite throughput of 100 MB of frame records (MB/s, medians)\n");
    std::printf("  %-16s %9s %9s %9s %12s %12s\n", "frames", "recorder", "dd", "plain", "rec/dd", "rec/plain");
    for (const Shape &s : {kMain, kSub}) {
        const Throughput r = throughput(dir, s, runs);
        std::printf("  %-16s %9.1f %9.1f %9.1f %12.2f %12.2f\n", s.name, r.recorder, r.dd, r.plain, r.recorder / r.dd,
                    r.recorder / r.plain);
        std::fflush(stdout);
    }
    std::printf("  target: recorder/plain >= 0.80 for both shapes\n");
    cpuAtRealRate(dir, seconds);
    if (repair)
        repairTree(dir);
    QDir(dir).removeRecursively();
    return 0;
}
