// zmfdump: what a record file and a record folder hold, and whether the
// folder's indexes agree with its files.
//
//   zmfdump FILE.zmf                          header, one line per frame, summary
//   zmfdump --index FOLDER [--now DATETIME]   index records and their check;
//                                             DATETIME (ISO, local) stands
//                                             for the present
//   zmfdump --extract FILE.zmf OUT [--audio AUDIO.out]
//                                             the video (and audio) payloads

#include "media/qcrecordfile.h"
#include "media/recordfileguard.h"
#include "media/recordindex.h"
#include "media/recordnames.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QHash>
#include <QScopeGuard>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kExitBad = 2;

QString clockText(qint64 ms)
{
    const qint64 s = ms / 1000;
    return QString("%1:%2:%3.%4")
        .arg(s / 3600, 2, 10, QChar('0'))
        .arg(s / 60 % 60, 2, 10, QChar('0'))
        .arg(s % 60, 2, 10, QChar('0'))
        .arg(ms % 1000, 3, 10, QChar('0'));
}

void out(const QString &line)
{
    std::fputs(qPrintable(line + '\n'), stdout);
}

const char *typeName(int type)
{
    static const char *const kNames[] = {"audio", "key", "video2", "video3"};
    return type >= 0 && type <= 3 ? kNames[type] : "?";
}

int usage()
{
    std::fputs(
        "usage: zmfdump FILE.zmf | --index FOLDER [--now DATETIME] | --extract FILE.zmf OUT [--audio AUDIO.out]\n",
        stderr);
    return kExitBad;
}

// A record file named on the command line, opened as the reader opens it:
// a link given there is followed, but only a regular file is read, never a
// named pipe waited on. False, and what stands there named, otherwise.
bool regularFile(const QString &path, QFile &file)
{
    const QString what = recordfileguard::openToRead(AT_FDCWD, path, file, true);
    if (what.isEmpty())
        return true;
    out(QString("%1: not a regular file (%2)").arg(path, what));
    return false;
}

int dumpFile(const QString &path)
{
    QFile file;
    if (!regularFile(path, file))
        return kExitBad;
    const RecordScan scan = file.isOpen() ? recordio::scan(file) : RecordScan();
    if (!scan.readable) {
        out(path + ": not a record file");
        return kExitBad;
    }
    const _st_recfile_header &h = scan.header;
    out(QString("file %1, %2 bytes").arg(path).arg(scan.fileSize));
    out(QString("kind flag %1 (kind %2), stream %3, flags %4")
            .arg(h.kindFlag)
            .arg(recordnames::kindFromHeaderByte(h.kindFlag))
            .arg(h.stream)
            .arg(h.flags));
    out(QString("video codec %1, %2x%3, %4 fps, decoder %5")
            .arg(h.videoCodec)
            .arg(h.width)
            .arg(h.height)
            .arg(h.frameRate)
            .arg(h.decoder));
    if (h.flags & 2)
        out(QString("audio codec %1, %2 Hz, %3 channels").arg(h.audioCodec).arg(h.sampleRate).arg(h.channels));
    else
        out("no audio");
    for (const RecordScanEntry &e : scan.records)
        out(QString("%1 %2 code %3 length %4 ts %5")
                .arg(e.offset, 12)
                .arg(typeName(e.type), -6)
                .arg(e.type)
                .arg(e.length, 8)
                .arg(clockText(qint64(e.timestamp))));
    const recordindex::Summary s = recordindex::summarise(scan);
    out(QString("frames %1, key frames %2, audio frames %3").arg(s.frames).arg(s.keyFrames).arg(s.audioFrames));
    out(QString("first key frame %1, last video %2, payload bytes %3")
            .arg(s.firstKey < 0 ? QStringLiteral("-") : clockText(s.firstKey))
            .arg(s.lastVideo < 0 ? QStringLiteral("-") : clockText(s.lastVideo))
            .arg(s.payloadBytes));
    if (scan.tornTail)
        out(QString("torn tail after offset %1").arg(scan.wholeEnd));
    if (scan.zeroTail)
        out(QString("zeros after offset %1").arg(scan.wholeEnd));
    if (scan.badRecord)
        out(QString("unreadable record at offset %1").arg(scan.wholeEnd));
    return 0;
}

// What the folder's check needs of a record file, read through the
// descriptor it was judged by. Of the frames only the key frames are kept: a
// folder holds many long recordings.
struct FileFacts
{
    RecordScan scan;
    recordindex::Summary summary;
    QDateTime written;
};

FileFacts factsOf(int dir, const QString &name, QFile &file)
{
    FileFacts f;
    struct stat st;
    const bool seen = file.isOpen()
                          ? ::fstat(int(file.handle()), &st) == 0
                          : ::fstatat(dir, QFile::encodeName(name).constData(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (seen)
        f.written = QDateTime::fromMSecsSinceEpoch(qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000);
    if (!file.isOpen())
        return f;
    f.scan = recordio::scan(file);
    f.summary = recordindex::summarise(f.scan);
    f.summary.indexed.clear();
    QVector<RecordScanEntry> &records = f.scan.records;
    records.erase(std::remove_if(records.begin(), records.end(), [](const RecordScanEntry &e) { return e.type != 1; }),
                  records.end());
    return f;
}

// Checks a reclist record's key-frame range against kfindex and its file.
QStringList checkKeyRange(const _st_reclist_item &item, const RecordScan &scan, const QByteArray &kfindex)
{
    if (item.kfindexOffset == _st_reclist_item::kNoIndex)
        return item.kfindexCount ? QStringList{"key-frame records counted without a kfindex range"} : QStringList();
    const qint64 end = recordindex::keyRangeEnd(item, kfindex.size());
    if (end < 0)
        return {"its kfindex range runs past the end of kfindex"};
    for (qint64 at = item.kfindexOffset; at < end; at += _st_kfindex_item::kSize) {
        _st_kfindex_item k;
        bool found = false;
        if (_st_kfindex_item::fromBytes(kfindex.constData() + at, &k))
            for (const RecordScanEntry &e : scan.records)
                found = found || (qint64(k.offset) == e.offset && e.type == 1 && e.timestamp == k.timestamp);
        if (!found)
            return {QString("kfindex record at %1 does not lead to a key frame of the file").arg(at)};
    }
    return {};
}

// Checks one reclist record against its file (null: none matches it);
// returns the problems found. Without kfindex (null: it was not read) the
// key-frame range is not checked.
QStringList checkRecord(const _st_reclist_item &item, const FileFacts *file, const QByteArray *kfindex)
{
    QStringList problems;
    if (!file)
        return {"no file in the folder matches it"};
    if (!file->scan.readable)
        return {"its file does not read"};
    const recordindex::Summary &s = file->summary;
    if (kfindex)
        problems << checkKeyRange(item, file->scan, *kfindex);
    const uint32_t start = uint32_t(qMax<qint64>(s.firstKey, 0));
    if (item.start != start)
        problems << QString("start %1, the file's first key frame %2").arg(item.start).arg(start);
    if (item.end != recordindex::listEnd(start, s.lastVideo))
        problems << QString("end %1, the file's last video frame %2").arg(item.end).arg(s.lastVideo);
    if (item.payloadBytes != s.payloadBytes)
        problems << QString("payload bytes %1, the file holds %2").arg(item.payloadBytes).arg(s.payloadBytes);
    return problems;
}

// Longer than any recorder leaves its file untouched while it runs: it ends
// the file after about 7 s without frames.
constexpr qint64 kRecorderIdleSecs = 60;

int dumpIndex(const QString &folder, const QDateTime &now)
{
    const int dir = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        out(folder + ": cannot read the folder");
        return kExitBad;
    }
    const auto closeDir = qScopeGuard([dir] { ::close(dir); });
    // Only regular files are read, each through the descriptor that judged
    // it (a link is not followed, a named pipe not waited on); anything else
    // under an index's or a record file's name is named and makes the folder
    // one that does not read whole.
    int skipped = 0;
    const auto skip = [&](const QString &name, const QString &what) {
        out(QString("PROBLEM: skipped: %1: not a regular file (%2)").arg(name, what));
        ++skipped;
    };
    QFile kf, rl;
    const QString kfOther = recordfileguard::openToRead(dir, "kfindex", kf);
    const QString listOther = recordfileguard::openToRead(dir, "reclist", rl);
    if (!kfOther.isEmpty())
        skip("kfindex", kfOther);
    if (!listOther.isEmpty())
        skip("reclist", listOther);
    QStringList files;
    QHash<QString, FileFacts> facts;
    for (const QString &f : QDir(folder).entryList({"*.zmf"}, QDir::AllEntries | QDir::System, QDir::Name)) {
        QFile file;
        const QString what = recordfileguard::openToRead(dir, f, file);
        if (!what.isEmpty()) {
            skip(f, what);
            continue;
        }
        files << f;
        facts.insert(f, factsOf(dir, f, file));
    }

    QByteArray kfindex;
    bool kfTorn = false, listTorn = false;
    QList<recordindex::KfRecord> keys;
    QList<recordindex::ListRecord> list;
    if (kf.isOpen()) {
        kfindex = kf.read(recordindex::kMaxIndexBytes);
        keys = recordindex::parseKfindex(kfindex, &kfTorn);
    }
    if (rl.isOpen())
        list = recordindex::parseReclist(rl.read(recordindex::kMaxIndexBytes), &listTorn);

    if (kfOther.isEmpty())
        out(QString("kfindex: %1 records").arg(keys.size()));
    else
        out("kfindex: not read");
    for (const recordindex::KfRecord &k : keys)
        out(QString("  @%1 ts %2 offset %3")
                .arg(k.position)
                .arg(clockText(qint64(k.item.timestamp)))
                .arg(k.item.offset));
    if (listOther.isEmpty())
        out(QString("reclist: %1 records").arg(list.size()));
    else
        out("reclist: not read");
    int bad = 0;
    QStringList listedFiles;
    QVector<bool> covered(keys.size(), false);
    for (const recordindex::ListRecord &r : list) {
        const _st_reclist_item &it = r.item;
        // Each file answers to one record: a long name is matched by its
        // times, which another long-named file may share.
        QString file;
        bool twice = false;
        for (const QString &f : files) {
            if (!recordindex::lists(it, f))
                continue;
            if (!listedFiles.contains(f)) {
                file = f;
                break;
            }
            twice = true;
        }
        listedFiles << file;
        out(QString("  @%1 %2 - %3 kind %4 audio %5 fps %6 kfindex %7+%8 payload %9 %10")
                .arg(r.position)
                .arg(clockText(it.start), clockText(it.end))
                .arg(it.kindFlags, 8, 16, QChar('0'))
                .arg(it.hasAudio)
                .arg(it.frameRate)
                .arg(it.kfindexOffset)
                .arg(it.kfindexCount)
                .arg(it.payloadBytes)
                .arg(it.name.isEmpty() ? "(long name) " + file : it.name));
        const QStringList problems =
            file.isEmpty() && twice
                ? QStringList{"its file is listed by an earlier record too"}
                : checkRecord(it, file.isEmpty() ? nullptr : &facts[file], kfOther.isEmpty() ? &kfindex : nullptr);
        for (const QString &p : problems)
            out("    PROBLEM: " + p);
        bad += problems.isEmpty() ? 0 : 1;
        const qint64 end = recordindex::keyRangeEnd(it, kfindex.size());
        for (int i = 0; i < keys.size(); ++i)
            if (end >= 0 && keys[i].position >= qint64(it.kfindexOffset) && keys[i].position < end)
                covered[i] = true;
    }
    for (const QString &f : files) {
        // A list that was not read tells nothing about which files it lists.
        if (listedFiles.contains(f) || !listOther.isEmpty())
            continue;
        const recordnames::NameParts p = recordnames::parseName(f);
        if (!p.finished) {
            // A recorder writes whole frames only: zeros or other bytes after
            // them are a crash's, and the file is no longer written.
            const RecordScan &scan = facts[f].scan;
            if (scan.readable && (scan.badRecord || scan.zeroTail)) {
                out(QString("PROBLEM: not listed, left unfinished by a crash (%1 after its whole frames, at %2): %3")
                        .arg(scan.zeroTail ? "zeros" : "bytes that are no frame")
                        .arg(scan.wholeEnd)
                        .arg(f));
                ++bad;
            } else if (const QDateTime &written = facts[f].written; written.secsTo(now) > kRecorderIdleSecs) {
                // A recorder without frames ends its file within seconds: one
                // untouched for longer is a crash's.
                out(QString("PROBLEM: not listed, left unfinished by a crash (last written %1): %2")
                        .arg(written.toString(Qt::ISODate), f));
                ++bad;
            } else {
                out("not listed (being written, or repaired at the next start): " + f);
            }
        } else if (recordnames::endsAfter(folder, p.end, now)) {
            out("not listed, dated after the present (the disk guard moves it): " + f);
        } else {
            out("PROBLEM: not listed: " + f);
            ++bad;
        }
    }
    int loose = 0;
    for (bool c : covered)
        loose += c ? 0 : 1;
    if (loose)
        out(QString("kfindex records no range covers (a recording being written, or a crashed one's): %1").arg(loose));
    if (kfTorn)
        out("PROBLEM: kfindex ends in a torn record");
    if (listTorn)
        out("PROBLEM: reclist ends in a torn record");
    const bool ok = bad == 0 && skipped == 0 && !kfTorn && !listTorn;
    out(ok ? "consistent" : "inconsistent");
    return ok ? 0 : 1;
}

int extract(const QString &path, const QString &videoOut, const QString &audioOut)
{
    if (QFile file; !regularFile(path, file))
        return kExitBad;
    qcRecordFile reader(qcRecordFile::kReader);
    if (!reader.open(path)) {
        out(path + ": not a record file");
        return kExitBad;
    }
    // Without its index the file is read from its start all the same.
    if (const QString what = reader.indexNotRead(); !what.isEmpty())
        out(QString("PROBLEM: skipped: kfindex: not a regular file (%1)").arg(what));
    QFile video(videoOut);
    QFile audio(audioOut);
    if (!video.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        (!audioOut.isEmpty() && !audio.open(QIODevice::WriteOnly | QIODevice::Truncate))) {
        out("cannot write the output");
        return kExitBad;
    }
    std::unique_ptr<char[]> buffer(new char[_st_recframe_header::kMaxLength]);
    int code = 0, length = 0;
    uint64_t ts = 0;
    bool keySeen = false;
    int frames = 0;
    while (reader.readFrame(buffer.get(), int(_st_recframe_header::kMaxLength), &code, &ts, &length)) {
        keySeen = keySeen || code == qcRecordFile::kCodeKey;
        if (!keySeen)
            continue;
        if (code == qcRecordFile::kCodeAudio) {
            if (audio.isOpen())
                audio.write(buffer.get(), length);
        } else {
            video.write(buffer.get(), length);
            ++frames;
        }
    }
    out(QString("%1 video frames written").arg(frames));
    return keySeen ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.size() == 1 && !args[0].startsWith("--"))
        return dumpFile(args[0]);
    if ((args.size() == 2 || args.size() == 4) && args[0] == "--index") {
        QDateTime now = QDateTime::currentDateTime();
        if (args.size() == 4) {
            now = QDateTime::fromString(args[3], Qt::ISODateWithMs);
            if (args[2] != "--now" || !now.isValid())
                return usage();
        }
        return dumpIndex(QDir::cleanPath(args[1]), now);
    }
    if ((args.size() == 3 || args.size() == 5) && args[0] == "--extract") {
        QString audio;
        if (args.size() == 5) {
            if (args[3] != "--audio")
                return usage();
            audio = args[4];
        }
        return extract(args[1], args[2], audio);
    }
    return usage();
}
