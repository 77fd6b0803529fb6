#include "media/recordindex.h"

#include "device/streamclock.h"

#include "media/recordfileguard.h"
#include "media/recordlog.h"
#include "media/recordnames.h"
#include "platform/clock.h"

#include <QDebug>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace recordindex {

namespace {

std::mutex g_registryMutex;
std::map<QString, std::unique_ptr<std::mutex>> g_locks;
// A call-out set from another thread than the one that calls it.
template <typename... Args>
class Hook
{
public:
    void set(std::function<void(Args...)> hook)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_hook = std::move(hook);
    }
    void call(const Args &...args)
    {
        std::function<void(Args...)> hook;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            hook = m_hook;
        }
        if (hook)
            hook(args...);
    }

private:
    std::mutex m_mutex;
    std::function<void(Args...)> m_hook;
};

// The stream service points these at its disk guard.
Hook<> g_lowSpaceHook;
Hook<> g_timeWentBackHook;
Hook<const QString &> g_beforeReclistReplaced;
Hook<const QString &> g_beforeIndexRead;
std::mutex g_claimMutex;
QSet<QString> g_claimedNames;

QString pathKey(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

// The first bytes of an index file, as the readers look at them, read
// through the descriptor that judged it a regular file of its own folder:
// never a named pipe waited on, never a link followed (one below the top is
// told). *size: the whole file's, 0 when none was read.
QByteArray readHead(const QString &top, const QString &path, qint64 *size = nullptr)
{
    g_beforeIndexRead.call(path);
    QFile f;
    const bool open = recordfileguard::open(top, f, path, QIODevice::ReadOnly);
    if (size)
        *size = open ? f.size() : 0;
    return open ? f.read(kMaxIndexBytes) : QByteArray();
}

// The size of an index file, of the descriptor that judged it; 0 for none.
qint64 sizeOf(const QString &top, const QString &path)
{
    QFile f;
    return recordfileguard::open(top, f, path, QIODevice::ReadOnly) ? f.size() : 0;
}

// The same, of a folder outside a pass: only the index's own name is not
// followed.
QByteArray readHead(const QString &path)
{
    QFile f;
    recordfileguard::openToRead(AT_FDCWD, path, f);
    return f.isOpen() ? f.read(kMaxIndexBytes) : QByteArray();
}

bool isBackupName(const QString &name)
{
    return name == QLatin1String("BackupDir") || name == QLatin1String("BackupFile");
}

// Whether `folder` lies in the tree the disk guard moves future days into,
// directly under the record root `top`: what lies there stays there.
bool inBackupDir(const QString &top, const QString &folder)
{
    const QString backupDir = QDir::cleanPath(top) + QStringLiteral("/BackupDir");
    const QString clean = QDir::cleanPath(folder);
    return clean == backupDir || clean.startsWith(backupDir + '/');
}

} // namespace

QString kfindexPath(const QString &folder)
{
    return folder + QStringLiteral("/kfindex");
}

QString reclistPath(const QString &folder)
{
    return folder + QStringLiteral("/reclist");
}

QString folderOf(const QString &filePath)
{
    const int slash = filePath.lastIndexOf('/');
    return slash < 0 ? QString() : filePath.left(slash);
}

bool indexWritable(const QString &top, const QString &folder)
{
    bool writable = true;
    for (const QString &path : {kfindexPath(folder), reclistPath(folder)}) {
        if (recordfileguard::kindOf(top, path) != recordfileguard::Kind::Other)
            continue;
        recordfileguard::tell(path);
        writable = false;
    }
    return writable;
}

std::mutex &folderLock(const QString &folder)
{
    const QString key = pathKey(folder);
    std::lock_guard<std::mutex> lock(g_registryMutex);
    auto &slot = g_locks[key];
    if (!slot)
        slot = std::make_unique<std::mutex>();
    return *slot;
}

QList<KfRecord> readKfindex(const QString &folder, bool *torn)
{
    return parseKfindex(readHead(kfindexPath(folder)), torn);
}

QList<KfRecord> parseKfindex(const QByteArray &bytes, bool *torn)
{
    QList<KfRecord> out;
    if (torn)
        *torn = false;
    for (int i = 0; i + 4 <= bytes.size();) {
        if (recbytes::get32(bytes.constData() + i) != _st_kfindex_item::kMarker) {
            ++i;
            continue;
        }
        if (i + _st_kfindex_item::kSize > bytes.size()) {
            if (torn)
                *torn = true;
            break;
        }
        KfRecord r;
        r.position = i;
        _st_kfindex_item::fromBytes(bytes.constData() + i, &r.item);
        out.append(r);
        i += _st_kfindex_item::kSize;
    }
    return out;
}

QList<ListRecord> parseReclist(const QByteArray &bytes, bool *torn)
{
    QList<ListRecord> out;
    int i = 0;
    for (; i + _st_reclist_item::kSize <= bytes.size(); i += _st_reclist_item::kSize) {
        ListRecord r;
        r.position = i;
        if (_st_reclist_item::fromBytes(bytes.constData() + i, &r.item))
            out.append(r);
    }
    if (torn)
        *torn = i != bytes.size();
    return out;
}

QList<ListRecord> readReclist(const QString &folder, bool *torn)
{
    return parseReclist(readHead(reclistPath(folder)), torn);
}

namespace {

// The length of kfindex, of `bytes`, up to the end of its last whole record,
// as the readers find the records.
qint64 wholeLength(const QByteArray &bytes)
{
    const QList<KfRecord> records = parseKfindex(bytes);
    return records.isEmpty() ? 0 : records.last().position + _st_kfindex_item::kSize;
}

// Both index files cut back to their last whole record, each read and cut
// through the one descriptor that judged it; true when kfindex lost bytes.
// systemLog: the start-up pass, which tells the operator.
bool cutTails(const QString &top, const QString &folder, bool systemLog = false)
{
    bool keysCut = false;
    if (!indexWritable(top, folder))
        return false;
    for (const bool kfindex : {true, false}) {
        const QString path = kfindex ? kfindexPath(folder) : reclistPath(folder);
        g_beforeIndexRead.call(path);
        QFile f;
        if (!recordfileguard::open(top, f, path, QIODevice::ReadWrite | QIODevice::ExistingOnly))
            continue;
        const qint64 size = f.size();
        // Beyond what the readers look at, nothing can be told.
        if (size <= 0 || size > kMaxIndexBytes)
            continue;
        const qint64 whole = kfindex ? wholeLength(f.read(kMaxIndexBytes)) : size - size % _st_reclist_item::kSize;
        if (whole < size && f.resize(whole)) {
            recordlog::repaired(path, QStringLiteral("a torn last record cut off, %1 bytes").arg(size - whole),
                                systemLog, size - whole);
            keysCut = keysCut || kfindex;
        }
    }
    return keysCut;
}

} // namespace

int cutTornTails(const QString &top, const QString &folder)
{
    // A listed range that reached into the cut part would take in the key
    // frames of whatever recording is indexed next.
    return cutTails(top, folder) ? checkList(top, folder) : 0;
}

qint64 keyRangeEnd(const _st_reclist_item &item, qint64 kfindexBytes)
{
    if (item.kfindexOffset == _st_reclist_item::kNoIndex || qint64(item.kfindexOffset) > kfindexBytes)
        return -1;
    const qint64 room = (kfindexBytes - qint64(item.kfindexOffset)) / _st_kfindex_item::kSize;
    if (item.kfindexCount > uint64_t(room))
        return -1;
    return qint64(item.kfindexOffset) + qint64(item.kfindexCount) * _st_kfindex_item::kSize;
}

bool appendBytes(int fd, const QByteArray &bytes, int *error)
{
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0)
        return false;
    return recordio::writeAllAt(fd, st.st_size, bytes.constData(), size_t(bytes.size()), nullptr, 0, error);
}

bool appendToFile(const QString &top, const QString &path, const QByteArray &bytes)
{
    QFile f;
    if (!recordfileguard::open(top, f, path, QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return false;
    return appendBytes(f.handle(), bytes);
}

uint32_t listEnd(qint64 start, qint64 end)
{
    return end > start ? uint32_t(end) : _st_reclist_item::kWholeDay;
}

bool lists(const _st_reclist_item &item, const QString &fileName)
{
    if (!item.name.isEmpty())
        return item.name == fileName;
    if (recordnames::nameField(fileName).count('\0') != recordnames::kNameFieldSize)
        return false;
    const recordnames::NameParts p = recordnames::parseName(fileName);
    return p.finished && item.kindFlags == recordnames::reclistKindFlags(p.kind) &&
           (item.end == uint32_t(p.end) || item.end == listEnd(p.start, p.end));
}

bool listedIn(const QList<ListRecord> &records, const QString &fileName)
{
    for (const ListRecord &r : records)
        if (lists(r.item, fileName))
            return true;
    return false;
}

Summary summarise(const RecordScan &scan)
{
    Summary s;
    qint64 lastIndexed = 0;
    for (const RecordScanEntry &e : scan.records) {
        ++s.frames;
        s.payloadBytes += e.length;
        if (e.type == 0) {
            ++s.audioFrames;
            continue;
        }
        s.lastVideo = qint64(e.timestamp);
        if (e.type != 1)
            continue;
        ++s.keyFrames;
        const bool first = s.firstKey < 0;
        if (first)
            s.firstKey = qint64(e.timestamp);
        if (indexesKeyFrame(first, qint64(e.timestamp), lastIndexed)) {
            _st_kfindex_item item;
            item.timestamp = e.timestamp;
            item.offset = uint64_t(e.offset);
            s.indexed.append(item);
            lastIndexed = qint64(e.timestamp);
        }
    }
    return s;
}

namespace {

std::atomic<quint64> g_lookedUp{0};
std::atomic<quint64> g_searched{0};

// The key-frame records of the folder a repair pass holds locked, read
// once and looked up by their bytes: a day's kfindex holds megabytes of
// them, and a pass may list thousands of recordings again. Only the pass
// changes kfindex while it holds the lock, and it tells every append here.
class KeyRecordLookup
{
public:
    explicit KeyRecordLookup(const QString &folder) : m_folder(pathKey(folder)), m_outer(s_current)
    {
        s_current = this;
    }
    ~KeyRecordLookup() { s_current = m_outer; }
    KeyRecordLookup(const KeyRecordLookup &) = delete;
    KeyRecordLookup &operator=(const KeyRecordLookup &) = delete;

    // By the folder's name: a file opened from a descriptor, as the record
    // folder's files are, has none of its own.
    static KeyRecordLookup *of(const QString &folder)
    {
        return s_current && s_current->m_folder == pathKey(folder) ? s_current : nullptr;
    }
    qint64 find(QFile &kf, const QByteArray &keys)
    {
        if (!m_read) {
            m_read = true;
            if (kf.seek(0))
                add(0, kf.read(kMaxIndexBytes));
        }
        for (const qint64 at : m_first.values(recordHash(keys.constData())))
            if (at + keys.size() <= m_bytes.size() &&
                std::memcmp(m_bytes.constData() + at, keys.constData(), size_t(keys.size())) == 0)
                return at;
        return -1;
    }
    // What the pass did to kfindex's end: `keys` appended at `at`, or, when
    // !ok, something that leaves it unknown.
    void appended(qint64 at, const QByteArray &keys, bool ok)
    {
        if (ok && m_read && at == m_bytes.size())
            add(at, keys);
        else
            m_read = false; // read again when next looked at
    }

private:
    void add(qint64 at, const QByteArray &bytes)
    {
        if (at == 0) {
            m_bytes.clear();
            m_first.clear();
        }
        m_bytes += bytes;
        // Records are found by their markers, as the readers find them.
        for (int i = int(at); i + _st_kfindex_item::kSize <= m_bytes.size();) {
            if (recbytes::get32(m_bytes.constData() + i) != _st_kfindex_item::kMarker) {
                ++i;
                continue;
            }
            m_first.insert(recordHash(m_bytes.constData() + i), i);
            i += _st_kfindex_item::kSize;
        }
    }

    static uint recordHash(const char *record) { return qHashBits(record, _st_kfindex_item::kSize); }

    static thread_local KeyRecordLookup *s_current;
    QString m_folder;
    KeyRecordLookup *m_outer;
    bool m_read = false;
    QByteArray m_bytes;
    QMultiHash<uint, qint64> m_first; // a record's hash -> where it lies
};
thread_local KeyRecordLookup *KeyRecordLookup::s_current = nullptr;

// Where the folder's kfindex (open as `kf`) holds `keys` already, or -1.
qint64 findKeyRecords(const QString &folder, QFile &kf, const QByteArray &keys)
{
    if (keys.isEmpty())
        return -1;
    if (KeyRecordLookup *lookup = KeyRecordLookup::of(folder)) {
        ++g_lookedUp;
        return lookup->find(kf, keys);
    }
    ++g_searched;
    if (!kf.seek(0))
        return -1;
    const QByteArray bytes = kf.read(kMaxIndexBytes);
    const void *at = ::memmem(bytes.constData(), size_t(bytes.size()), keys.constData(), size_t(keys.size()));
    return at ? static_cast<const char *>(at) - bytes.constData() : -1;
}

// Points the record at `keys` in kfindex: where they already lie, or appended
// at its end. A record made from a scan has no place yet: its key-frame
// records are looked for first, as an earlier pass whose list write failed
// appended them already, and every start would append them again. Caller
// holds the folder lock; `kf` is the folder's kfindex.
void placeKeyRecords(const QString &folder, QFile &kf, _st_reclist_item *item, const QByteArray &keys)
{
    const qint64 size = kf.size();
    const qint64 at = item->kfindexOffset;
    item->kfindexCount = uint64_t(keys.size() / _st_kfindex_item::kSize);
    if (at + keys.size() <= size && kf.seek(at) && kf.read(keys.size()) == keys)
        return;
    const qint64 found = at == _st_reclist_item::kNoIndex ? findKeyRecords(folder, kf, keys) : -1;
    if (found >= 0) {
        item->kfindexOffset = uint32_t(found);
        return;
    }
    item->kfindexOffset = uint32_t(size);
    const bool appended = keys.isEmpty() || appendBytes(kf.handle(), keys);
    if (KeyRecordLookup *lookup = KeyRecordLookup::of(folder))
        lookup->appended(size, keys, appended);
    if (!appended) {
        item->kfindexOffset = _st_reclist_item::kNoIndex;
        item->kfindexCount = 0;
    }
}

} // namespace

bool listRecording(const QString &top, const QString &folder, const QString &path, _st_reclist_item item,
                   const QByteArray &keys)
{
    FolderLocker lock(folder);
    if (!QFileInfo::exists(path))
        return true;
    if (!indexWritable(top, folder))
        return false;
    cutTornTails(top, folder);
    if (item.kfindexOffset != _st_reclist_item::kNoIndex) {
        QFile kf;
        if (recordfileguard::open(top, kf, kfindexPath(folder), QIODevice::ReadWrite | QIODevice::Unbuffered)) {
            placeKeyRecords(folder, kf, &item, keys);
        } else {
            item.kfindexOffset = _st_reclist_item::kNoIndex;
            item.kfindexCount = 0;
        }
    }
    return appendToFile(top, reclistPath(folder), item.toBytes());
}

bool recoverAfterJump(const QString &top, const QString &folder, qint64 restart, const QString &justEnded)
{
    // The guard's own look at the clock may have come before this recording
    // got its end in its name; a file ending in the new future would then
    // stay in the folder, unlisted, until the next day.
    g_timeWentBackHook.call();
    FolderLocker lock(folder);
    if (!indexWritable(top, folder))
        return false;
    cutTornTails(top, folder);
    QFile kf;
    QFile rl;
    if (!recordfileguard::open(top, kf, kfindexPath(folder), QIODevice::ReadWrite | QIODevice::Unbuffered) ||
        !recordfileguard::open(top, rl, reclistPath(folder), QIODevice::ReadWrite | QIODevice::Unbuffered))
        return false;
    const QByteArray kbytes = kf.read(kMaxIndexBytes);
    const QByteArray rbytes = rl.read(kMaxIndexBytes);

    qint64 kcut = -1;
    for (int i = 0; i + _st_kfindex_item::kSize <= kbytes.size(); i += _st_kfindex_item::kSize) {
        if (qint64(recbytes::get64(kbytes.constData() + i + 8)) >= restart) {
            kcut = i;
            break;
        }
    }
    QList<_st_reclist_item> dropped;
    qint64 rcut = -1;
    for (int i = 0; i + _st_reclist_item::kSize <= rbytes.size(); i += _st_reclist_item::kSize) {
        _st_reclist_item item;
        const bool whole = _st_reclist_item::fromBytes(rbytes.constData() + i, &item);
        if (rcut < 0 && whole && qint64(item.end) >= restart)
            rcut = i;
        if (rcut >= 0 && whole)
            dropped.append(item);
    }

    // What stays listed: the recording that just ended when it began before
    // the restart time (everything recorded next starts after it; its list
    // start is 0 when it indexed no key frame, its name tells when it
    // began), and any that ends no later than a stream may lead the clock
    // after that time, which the disk guard leaves where it is too. Not one
    // the guard moved away meanwhile.
    const qint64 aheadAllowed = restart + StreamClock::kMaxLeadMs;
    QList<QPair<_st_reclist_item, QByteArray>> kept; // with their key-frame records
    QStringList gone;
    for (const _st_reclist_item &d : qAsConst(dropped)) {
        bool stays = qint64(d.end) <= aheadAllowed;
        QString name = d.name;
        if (lists(d, justEnded)) {
            const int named = recordnames::parseName(justEnded).start;
            stays = stays || (named >= 0 ? named : qint64(d.start)) < restart;
            name = justEnded;
        }
        if (stays && !name.isEmpty() && !QFileInfo::exists(folder + '/' + name))
            stays = false;
        if (!stays) {
            gone << (name.isEmpty() ? QStringLiteral("(long name)") : name);
            continue;
        }
        // Only a range that lies within kfindex carries its key frames.
        const qint64 keyEnd = keyRangeEnd(d, kbytes.size());
        kept.append({d, keyEnd >= 0 ? kbytes.mid(int(d.kfindexOffset), int(keyEnd - d.kfindexOffset)) : QByteArray()});
    }

    if (kcut >= 0) {
        if (!kf.resize(kcut))
            return false;
        qDebug().noquote() << "------Recocery Frame Index TS:" << restart << "------";
    }
    if (rcut >= 0) {
        if (!rl.resize(rcut))
            return false;
        qDebug().noquote() << "------Recocery File Index TS:" << restart << "------";
    }
    recordlog::unlistedAfterSetBack(folder, gone, restart);
    bool ok = true;
    for (auto &k : kept) {
        if (k.first.kfindexOffset != _st_reclist_item::kNoIndex)
            placeKeyRecords(folder, kf, &k.first, k.second);
        ok = appendBytes(rl.handle(), k.first.toBytes()) && ok;
    }
    return ok;
}

namespace {

// reclist replaced in one step: a reader sees the old list or the new one.
bool replaceReclist(const QString &top, const QString &folder, const QByteArray &bytes)
{
    const QString tmp = reclistPath(folder) + QStringLiteral(".tmp");
    // The rename would put a file of its own where a link stands.
    if (!indexWritable(top, folder))
        return false;
    recordfileguard::remove(top, tmp);
    {
        QFile out;
        if (!recordfileguard::open(top, out, tmp, QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
            return false;
        if (!recordio::writeAllAt(out.handle(), 0, bytes.constData(), size_t(bytes.size()), nullptr, 0)) {
            recordfileguard::remove(top, tmp);
            return false;
        }
    }
    g_beforeReclistReplaced.call(folder);
    // The folder may have turned into a link, or reclist into one, since the
    // check above: the rename is refused then, and nothing outside replaced.
    if (!recordfileguard::replace(top, tmp, reclistPath(folder))) {
        recordfileguard::remove(top, tmp);
        return false;
    }
    return true;
}

} // namespace

bool rewriteReclistWithout(const QString &top, const QString &folder, const QStringList &fileNames)
{
    FolderLocker lock(folder);
    if (!indexWritable(top, folder))
        return false;
    bool torn = false;
    const QList<ListRecord> records = parseReclist(readHead(top, reclistPath(folder)), &torn);
    QByteArray kept;
    bool removed = false;
    for (const ListRecord &r : records) {
        bool drop = false;
        for (const QString &name : fileNames)
            drop = drop || lists(r.item, name);
        removed = removed || drop;
        if (!drop)
            kept += r.item.toBytes();
    }
    return !removed || replaceReclist(top, folder, kept);
}

namespace {

// The list record of the recording `name` from a scan of its file; its key
// frames are appended to kfindex in one piece and the record points at them.
_st_reclist_item listRecordFromScan(const QString &top, const QString &folder, const QString &name,
                                    const RecordScan &scan, const Summary &s)
{
    _st_reclist_item item;
    item.kfindexOffset = _st_reclist_item::kNoIndex;
    {
        QFile kf;
        if (recordfileguard::open(top, kf, kfindexPath(folder), QIODevice::ReadWrite | QIODevice::Unbuffered)) {
            QByteArray keys;
            for (const _st_kfindex_item &k : s.indexed)
                keys += k.toBytes();
            // From no offset the records are looked for, else appended.
            placeKeyRecords(folder, kf, &item, keys);
        }
    }
    int kind = recordnames::parseName(name).kind;
    if (kind == 0)
        kind = recordnames::kindFromHeaderByte(scan.header.kindFlag);
    item.start = uint32_t(qMax<qint64>(s.firstKey, 0));
    item.end = listEnd(item.start, s.lastVideo);
    item.name = name;
    item.kindFlags = recordnames::reclistKindFlags(kind);
    item.hasAudio = (scan.header.flags & 2) ? 1 : 0;
    item.frameRate = scan.header.frameRate;
    item.payloadBytes = s.payloadBytes;
    return item;
}

// The key a list record sorts by: the start time its file's name holds, or
// its first key frame's when the name holds none.
qint64 startKey(const _st_reclist_item &item)
{
    const int named = item.name.isEmpty() ? -1 : recordnames::parseName(item.name).start;
    return named >= 0 ? named : qint64(item.start);
}

} // namespace

bool insertListRecords(const QString &top, const QString &folder, const QByteArray &current,
                       QList<_st_reclist_item> added)
{
    if (added.isEmpty())
        return true;
    std::stable_sort(added.begin(), added.end(),
                     [](const _st_reclist_item &a, const _st_reclist_item &b) { return startKey(a) < startKey(b); });
    const QList<ListRecord> records = parseReclist(current);
    qint64 lastListed = -1;
    for (const ListRecord &r : records)
        lastListed = qMax(lastListed, startKey(r.item));
    QByteArray appended;
    for (const _st_reclist_item &item : added)
        appended += item.toBytes();
    const bool inOrder = lastListed <= startKey(added.first());
    // A list longer than the readers look at cannot be written anew whole.
    if (!inOrder && current.size() < kMaxIndexBytes && records.size() * _st_reclist_item::kSize == current.size()) {
        QByteArray merged;
        int next = 0;
        for (const ListRecord &r : records) {
            // Before the first listed record that starts later.
            for (; next < added.size() && startKey(added.at(next)) < startKey(r.item); ++next)
                merged += added.at(next).toBytes();
            merged += current.mid(int(r.position), _st_reclist_item::kSize);
        }
        for (; next < added.size(); ++next)
            merged += added.at(next).toBytes();
        if (replaceReclist(top, folder, merged))
            return true;
    }
    // Out of order is better than unlisted.
    return appendToFile(top, reclistPath(folder), appended);
}

namespace {

struct FileRepair
{
    bool repaired = false; // deleted, or finished and given a list record
    bool listed = false;   // `item` is to be listed
    _st_reclist_item item;
    // For one to be listed: what was done to it so far, told once the list
    // write has answered.
    QString path;
    QString done;
    bool again = false; // its list record was lost
    qint64 bytesCut = 0;
};

// What the repairs of `listed` did, now that their list records were
// written (`ok`) or not.
void tellListed(const QList<FileRepair> &listed, bool ok, bool systemLog)
{
    for (const FileRepair &r : listed) {
        if (ok)
            recordlog::repaired(r.path,
                                r.done + QStringLiteral("; listed%1, %2 key frames indexed")
                                             .arg(r.again ? QStringLiteral(" again") : QString())
                                             .arg(r.item.kfindexCount),
                                systemLog, r.bytesCut);
        else
            recordlog::notRepaired(r.path, r.done + QStringLiteral("; it could not be listed, reclist is not writable"),
                                   systemLog, r.bytesCut);
    }
}

// Gives a file a crash left behind (or whose list record was lost) its list
// record and key-frame records, and its times when its name lacks them; a
// torn last frame, a tail of zeros, or bytes that are no frame and no whole
// frame after them, is cut first. The
// list record is made, not yet written to reclist. systemLog: the start-up
// pass.
FileRepair repairFile(const QString &top, const QString &folder, const QString &fileName, bool systemLog)
{
    FileRepair out;
    const QString path = folder + '/' + fileName;
    const recordnames::NameParts parts = recordnames::parseName(fileName);
    const bool unnamed = parts.initial || parts.unfinished;
    RecordScan scan;
    QString cut;
    qint64 size = 0;
    {
        QFile f;
        if (!recordfileguard::open(top, f, path, QIODevice::ReadWrite | QIODevice::ExistingOnly))
            return out;
        size = f.size();
        // A crash before the first frame: too short for the header, no
        // frame to keep, and without an end time in its name the disk guard
        // would never delete it.
        if (size < _st_recfile_header::kSize && unnamed) {
            f.close();
            out.repaired = recordfileguard::remove(top, path);
            if (out.repaired)
                recordlog::repaired(path,
                                    QStringLiteral("deleted, %1 bytes: shorter than a record file header").arg(size),
                                    systemLog, size);
            return out;
        }
        scan = recordio::scan(f);
        if (!scan.readable) {
            recordlog::unreadable(path, size, systemLog);
            return out;
        }
        // A crash leaves whatever the disk held where the next frames were
        // to go; a finished name's tail is no different, and left as it is
        // it would hide every frame before it. Bytes that are no frame lie
        // inside the recording only when a whole frame follows them: then
        // nothing is cut.
        const qint64 frameAfter = scan.badRecord ? recordio::wholeFrameAfter(f, scan.wholeEnd + 1) : -1;
        if (frameAfter >= 0) {
            recordlog::leftAlone(QStringLiteral("recordindex: frames after foreign bytes"), path,
                                 QStringLiteral("record repair"),
                                 QStringLiteral("left as it is, %1 bytes: %2 bytes at %3 are no frame, a whole frame "
                                                "follows them at %4")
                                     .arg(size)
                                     .arg(frameAfter - scan.wholeEnd)
                                     .arg(scan.wholeEnd)
                                     .arg(frameAfter));
            return out;
        }
        // A power loss may leave zeros where the last frames were to go:
        // nothing of them can be read, as of a torn frame.
        if (scan.tornTail || scan.zeroTail || scan.badRecord) {
            if (!f.resize(scan.wholeEnd))
                return out;
            out.bytesCut = size - scan.wholeEnd;
            cut = QStringLiteral("; %1 bytes after its last whole frame cut (%2)")
                      .arg(size - scan.wholeEnd)
                      .arg(scan.zeroTail   ? QStringLiteral("zeros")
                           : scan.tornTail ? QStringLiteral("a torn frame")
                                           : QStringLiteral("bytes that are no frame"));
        }
    }
    const Summary s = summarise(scan);
    if (s.lastVideo < 0) {
        out.repaired = recordfileguard::remove(top, path);
        if (out.repaired)
            recordlog::repaired(path, QStringLiteral("deleted, %1 bytes: it holds no whole video frame").arg(size),
                                systemLog, size);
        return out;
    }
    QString name = fileName;
    if (unnamed) {
        const QString started =
            parts.initial ? recordnames::startName(path, qint64(scan.records.first().timestamp)) : path;
        const QString finalPath = recordnames::finalName(started, s.lastVideo);
        if (!recordfileguard::rename(top, path, finalPath)) {
            recordlog::notRepaired(path, QStringLiteral("not listed: it cannot be given its end time") + cut, systemLog,
                                   out.bytesCut);
            return out;
        }
        name = QFileInfo(finalPath).fileName();
    }
    out.item = listRecordFromScan(top, folder, name, scan, s);
    out.repaired = out.listed = true;
    out.path = folder + '/' + name;
    out.again = !unnamed;
    out.done = (unnamed ? QStringLiteral("finished after an unclean end (was %1): given its end time").arg(fileName)
                        : QStringLiteral("its list record was lost")) +
               cut;
    return out;
}

bool zeros(const char *p, int from, int to)
{
    for (int i = from; i < to; ++i)
        if (p[i])
            return false;
    return true;
}

bool knownKindFlags(uint32_t flags)
{
    for (const int kind : {recordnames::kKindTiming, recordnames::kKindAlarm, recordnames::kKindManual})
        if (flags == recordnames::reclistKindFlags(kind))
            return true;
    return false;
}

// The folder's record files as a list record names them: by name, or, for a
// name too long for the name field, by kind and end (as lists() finds them).
struct FolderFiles
{
    static quint64 key(uint32_t kindFlags, uint32_t end) { return quint64(kindFlags) << 32 | end; }
    explicit FolderFiles(const QStringList &files) : names(files.cbegin(), files.cend())
    {
        for (const QString &name : files) {
            if (name.size() < recordnames::kNameFieldSize ||
                recordnames::nameField(name).count('\0') != recordnames::kNameFieldSize)
                continue;
            const recordnames::NameParts p = recordnames::parseName(name);
            if (!p.finished)
                continue;
            const uint32_t flags = recordnames::reclistKindFlags(p.kind);
            longNamed.insert(key(flags, uint32_t(p.end)));
            longNamed.insert(key(flags, listEnd(p.start, p.end)));
        }
    }
    QSet<QString> names;
    QSet<quint64> longNamed;
};

// Whether a list record's fields fit the folder; `raw` is its 136 bytes.
// Only names and sizes are looked at: no file is read.
bool fits(const char *raw, const _st_reclist_item &item, qint64 kfindexBytes, const FolderFiles &files)
{
    // Bytes every writer leaves zero: anything else there is foreign.
    if (!zeros(raw, 81, 84) || !zeros(raw, 90, 96) || !zeros(raw, 112, _st_reclist_item::kSize))
        return false;
    if (item.start > _st_reclist_item::kWholeDay || item.end > _st_reclist_item::kWholeDay || item.hasAudio > 1)
        return false;
    if (item.kfindexOffset == _st_reclist_item::kNoIndex ? item.kfindexCount != 0 : keyRangeEnd(item, kfindexBytes) < 0)
        return false;
    // A record of a long name whose file left (a move cut short before the
    // list was rewritten) would list a recording that is not here.
    if (item.name.isEmpty())
        return knownKindFlags(item.kindFlags) && files.longNamed.contains(FolderFiles::key(item.kindFlags, item.end));
    if (!files.names.contains(item.name))
        return false;
    const int kind = recordnames::parseName(item.name).kind;
    return kind ? item.kindFlags == recordnames::reclistKindFlags(kind) : knownKindFlags(item.kindFlags);
}

// The list record of a file made again from a scan of it; false when the
// file does not read or holds no video frame.
bool remakeListRecord(const QString &top, const QString &folder, const QString &fileName, _st_reclist_item *out)
{
    QFile f;
    if (!recordfileguard::open(top, f, folder + '/' + fileName, QIODevice::ReadOnly))
        return false;
    const RecordScan scan = recordio::scan(f);
    if (!scan.readable || scan.badRecord)
        return false;
    const Summary s = summarise(scan);
    if (s.lastVideo < 0)
        return false;
    *out = listRecordFromScan(top, folder, fileName, scan, s);
    return true;
}

struct ListCheck
{
    int remade = 0;
    bool changed = false; // a record was dropped or made again
    QByteArray list;      // reclist's bytes after the check
};

// checkList with the folder's *.zmf names as the caller listed them.
ListCheck checkListOf(const QString &top, const QString &folder, const QStringList &files, bool systemLog = false)
{
    ListCheck out;
    const QString path = reclistPath(folder);
    qint64 listBytes = 0;
    out.list = readHead(top, path, &listBytes);
    const QByteArray &bytes = out.list;
    // Beyond what the readers look at, nothing can be told.
    if (bytes.isEmpty() || listBytes > kMaxIndexBytes || !indexWritable(top, folder))
        return out;
    const qint64 kfindexBytes = sizeOf(top, kfindexPath(folder));
    const FolderFiles fileSet(files);
    QSet<QString> seen;
    QByteArray kept;
    // Told once the new list is written: until then nothing was dropped.
    QList<QPair<QString, QString>> told;
    auto tell = [&told](const QString &path, const QString &what) { told.append({path, what}); };
    for (int i = 0; i + _st_reclist_item::kSize <= bytes.size(); i += _st_reclist_item::kSize) {
        const char *raw = bytes.constData() + i;
        _st_reclist_item item;
        if (!_st_reclist_item::fromBytes(raw, &item)) {
            out.changed = true;
            tell(path,
                 QStringLiteral("%1 bytes at %2 that are no list record dropped").arg(_st_reclist_item::kSize).arg(i));
            continue;
        }
        // One record per recording: a second one would show it twice.
        if (!item.name.isEmpty() && seen.contains(item.name)) {
            out.changed = true;
            tell(folder + '/' + item.name, QStringLiteral("a second list record of it dropped"));
            continue;
        }
        if (fits(raw, item, kfindexBytes, fileSet)) {
            seen.insert(item.name);
            kept.append(raw, _st_reclist_item::kSize);
            continue;
        }
        out.changed = true;
        QString file;
        for (const QString &f : files)
            if (file.isEmpty() && !seen.contains(f) && lists(item, f))
                file = f;
        _st_reclist_item again;
        if (!file.isEmpty() && remakeListRecord(top, folder, file, &again)) {
            tell(folder + '/' + file, QStringLiteral("its list record did not fit the folder: made again, %1 key "
                                                     "frames indexed anew")
                                          .arg(again.kfindexCount));
            seen.insert(file);
            kept += again.toBytes();
            ++out.remade;
        } else {
            tell(path, QStringLiteral("the list record at %1 (%2) fits no file that reads: dropped")
                           .arg(i)
                           .arg(item.name.isEmpty() ? QStringLiteral("a long name") : item.name));
        }
    }
    if (!out.changed)
        return out;
    if (replaceReclist(top, folder, kept)) {
        out.list = kept;
        for (const auto &t : told)
            recordlog::repaired(t.first, t.second, systemLog);
    } else {
        out.remade = 0;
        recordlog::notRepaired(path,
                               QStringLiteral("could not be written anew: %1 records that do not fit the folder "
                                              "stay in it")
                                   .arg(told.size()),
                               systemLog);
    }
    return out;
}

QStringList recordFiles(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral("*.zmf")}, QDir::Files);
}

// Tells what in `folder` the pass leaves as it stands because it is neither
// a regular file nor a real folder: every link, one to a day or device
// folder too (the walk never enters it, and the backup trees are the disk
// guard's), and a named pipe, a socket or the like under a recording's
// name. Looked at by its own entry only: never followed, never opened, as
// a pipe would hold the pass. In the order of the names, as the pass meets
// its files.
void tellNotRegular(const QString &folder)
{
    DIR *dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return;
    QStringList names;
    while (const dirent *entry = ::readdir(dir)) {
        unsigned char type = entry->d_type;
        struct stat st;
        // Not every file system gives the type with the name.
        if (type == DT_UNKNOWN && ::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
            type = S_ISREG(st.st_mode) ? DT_REG : S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_FIFO;
        if (type == DT_REG || type == DT_DIR || type == DT_UNKNOWN)
            continue;
        const QString name = QFile::decodeName(entry->d_name);
        if (type == DT_LNK ? !isBackupName(name) : name.endsWith(QLatin1String(".zmf"), Qt::CaseInsensitive))
            names.append(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    for (const QString &name : qAsConst(names))
        recordfileguard::tell(folder + '/' + name);
}

} // namespace

int checkList(const QString &top, const QString &folder)
{
    return checkListOf(top, folder, recordFiles(folder)).remade;
}

FirstNameClaim::FirstNameClaim(const QString &path) : m_path(pathKey(path))
{
    std::lock_guard<std::mutex> lock(g_claimMutex);
    m_held = !g_claimedNames.contains(m_path);
    if (m_held)
        g_claimedNames.insert(m_path);
}

FirstNameClaim::~FirstNameClaim()
{
    release();
}

void FirstNameClaim::release()
{
    std::lock_guard<std::mutex> lock(g_claimMutex);
    if (m_held)
        g_claimedNames.remove(m_path);
    m_held = false;
}

bool firstNameClaimed(const QString &path)
{
    std::lock_guard<std::mutex> lock(g_claimMutex);
    return g_claimedNames.contains(pathKey(path));
}

bool clearLeftover(const QString &top, const QString &path)
{
    const QString folder = folderOf(path);
    const QString name = QFileInfo(path).fileName();
    if (folder.isEmpty() || !recordnames::parseName(name).initial)
        return false;
    FolderLocker lock(folder);
    if (!QFileInfo::exists(path))
        return true;
    // Whatever it holds could not be listed.
    if (!indexWritable(top, folder))
        return false;
    cutTornTails(top, folder);
    const FileRepair r = repairFile(top, folder, name, false);
    if (r.listed)
        tellListed({r}, insertListRecords(top, folder, readHead(top, reclistPath(folder)), {r.item}), false);
    return !QFileInfo::exists(path);
}

int repairFolder(const QString &top, const QString &folder)
{
    FolderLocker lock(folder);
    // An index that is a link is told in a record of its own, before the
    // pass's.
    const bool writable = indexWritable(top, folder);
    const recordlog::FolderPass pass(folder);
    tellNotRegular(folder);
    // A recording finished here could not be listed: the folder is left
    // as it is, its files too.
    if (!writable)
        return 0;
    recordfileguard::remove(top, reclistPath(folder) + QStringLiteral(".tmp"));
    // Names only: a folder of finished, listed recordings needs no stat and
    // no scan.
    const QStringList files = recordFiles(folder);
    const bool keysCut = cutTails(top, folder, true);
    const KeyRecordLookup keyRecords(folder);
    // Records that do not fit are looked for even when no tail was torn: a
    // power loss may have taken whole records of kfindex.
    ListCheck check = checkListOf(top, folder, files, true);
    int repaired = check.remade;
    // After a cut of kfindex a rewritten list is looked at once more: a
    // record made again from a file whose times or kind do not fit a list
    // record does not fit either, and a rewrite that failed is tried again.
    if (keysCut && check.changed) {
        check = checkListOf(top, folder, files, true);
        repaired += check.remade;
    }
    if (files.isEmpty())
        return repaired;
    const QList<ListRecord> records = parseReclist(check.list);
    QSet<QString> listedNames;
    bool longNames = false;
    for (const ListRecord &r : records) {
        listedNames.insert(r.item.name);
        longNames = longNames || r.item.name.isEmpty();
    }
    // Only a name too long for the name field is looked for by its times.
    auto listed = [&](const QString &name) {
        return listedNames.contains(name) ||
               (longNames && name.size() >= recordnames::kNameFieldSize && listedIn(records, name));
    };
    const QDateTime now = platform::localNow();
    // The guard moves nothing out of BackupDir again.
    const bool stays = inBackupDir(top, folder);
    QStringList toRepair;
    QList<QPair<int, QString>> unfinished;
    QStringList initial;
    for (const QString &name : files) {
        const recordnames::NameParts p = recordnames::parseName(name);
        if (p.initial) {
            // A recorder of this process may be about to write it.
            if (!firstNameClaimed(folder + '/' + name))
                initial.append(name);
        } else if (p.unfinished && !listed(name)) {
            unfinished.append({p.start, name});
        } else if (p.finished && !listed(name) && (stays || !recordnames::endsAfter(folder, p.end, now))) {
            // One that ends after the present stays for the disk guard,
            // which moves it out of the way (the clock was set back).
            toRepair.append(name);
        }
    }
    std::sort(unfinished.begin(), unfinished.end());
    for (const auto &u : unfinished)
        toRepair.append(u.second);
    QList<FileRepair> toList;
    QList<_st_reclist_item> added;
    for (const QString &name : toRepair + initial) {
        const FileRepair r = repairFile(top, folder, name, true);
        repaired += r.repaired ? 1 : 0;
        if (r.listed) {
            toList.append(r);
            added.append(r.item);
        }
    }
    tellListed(toList, insertListRecords(top, folder, check.list, added), true);
    return repaired;
}

KeyLookups keyLookups()
{
    return {g_lookedUp.load(), g_searched.load()};
}

void setLowSpaceHook(std::function<void()> hook)
{
    g_lowSpaceHook.set(std::move(hook));
}

void reportLowSpace()
{
    g_lowSpaceHook.call();
}

void setTimeWentBackHook(std::function<void()> hook)
{
    g_timeWentBackHook.set(std::move(hook));
}

void setBeforeReclistReplacedHook(std::function<void(const QString &folder)> hook)
{
    g_beforeReclistReplaced.set(std::move(hook));
}

void setBeforeIndexReadHook(std::function<void(const QString &path)> hook)
{
    g_beforeIndexRead.set(std::move(hook));
}

int repairTree(const QString &root)
{
    if (root.isEmpty() || !QFileInfo(root).isDir())
        return 0;
    int repaired = 0;
    QStringList pending{root};
    while (!pending.isEmpty()) {
        const QString folder = pending.takeFirst();
        repaired += repairFolder(root, folder);
        // BackupDir too: a move pass cut short leaves recordings there
        // whose list records did not follow them yet. A BackupFile's
        // recordings are not listed.
        for (const QString &sub : QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks))
            if (!isBackupName(sub) || (folder == root && sub == QLatin1String("BackupDir")))
                pending.append(folder + '/' + sub);
    }
    return repaired;
}

} // namespace recordindex
