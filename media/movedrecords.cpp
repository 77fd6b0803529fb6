#include "media/movedrecords.h"

#include "media/qcrecordfile.h"
#include "media/recordfileguard.h"
#include "media/recordindex.h"
#include "media/recordlog.h"

#include <QFile>
#include <QList>
#include <QSet>

namespace movedrecords {

namespace {

// The list records of recordings that moved, each with the key-frame
// records its range held and the name of the file it lists.
struct Carried
{
    QList<_st_reclist_item> items;
    QList<QByteArray> keys;
    QStringList names;
};

// As the readers see it: never through a link, nothing when it is missing.
QByteArray readIndex(const QString &top, const QString &path)
{
    QFile f;
    return recordfileguard::open(top, f, path, QIODevice::ReadOnly) ? f.read(recordindex::kMaxIndexBytes)
                                                                    : QByteArray();
}

// The moved file a list record names; empty for none. A name too long for
// the record's field is found by its end time and kind.
QString movedFileOf(const _st_reclist_item &item, const QSet<QString> &moved)
{
    if (!item.name.isEmpty())
        return moved.contains(item.name) ? item.name : QString();
    for (const QString &name : moved)
        if (recordindex::lists(item, name))
            return name;
    return QString();
}

Carried take(const QString &top, const QString &from, const QSet<QString> &moved)
{
    Carried out;
    recordindex::FolderLocker lock(from);
    const QByteArray keys = readIndex(top, recordindex::kfindexPath(from));
    const QByteArray list = readIndex(top, recordindex::reclistPath(from));
    for (const recordindex::ListRecord &r : recordindex::parseReclist(list)) {
        const QString name = movedFileOf(r.item, moved);
        if (name.isEmpty())
            continue;
        // A range that does not lie within kfindex carries nothing.
        const qint64 end = recordindex::keyRangeEnd(r.item, keys.size());
        out.keys.append(end >= 0 ? keys.mid(int(r.item.kfindexOffset), int(end - r.item.kfindexOffset)) : QByteArray());
        out.items.append(r.item);
        out.names.append(name);
    }
    return out;
}

// Appends the carried key-frame records to the folder's kfindex in a single
// write and points each record at its own; a record whose keys could not be
// written there has none. Caller holds the folder lock.
void placeKeys(const QString &top, const QString &folder, Carried *carried)
{
    QByteArray all;
    for (const QByteArray &keys : qAsConst(carried->keys))
        all += keys;
    QFile kf;
    qint64 at = 0;
    bool placed = false;
    if (!all.isEmpty() && recordfileguard::open(top, kf, recordindex::kfindexPath(folder),
                                                QIODevice::ReadWrite | QIODevice::Unbuffered)) {
        at = kf.size();
        // Beyond what the readers look at, no range would be found.
        placed = at + all.size() <= recordindex::kMaxIndexBytes && recordindex::appendBytes(kf.handle(), all);
    }
    for (int i = 0; i < carried->items.size(); ++i) {
        _st_reclist_item &item = carried->items[i];
        const QByteArray &keys = carried->keys.at(i);
        if (placed && !keys.isEmpty()) {
            item.kfindexOffset = uint32_t(at);
            item.kfindexCount = uint64_t(keys.size() / _st_kfindex_item::kSize);
            at += keys.size();
        } else {
            item.kfindexOffset = _st_reclist_item::kNoIndex;
            item.kfindexCount = 0;
        }
    }
}

// Leaves out what the folder lists already: a pass cut short between a
// copy's rename into place and the deletion of its original left the
// recording in both folders, and the start-up repair listed the copy.
void dropListed(const QList<recordindex::ListRecord> &listed, Carried *carried)
{
    for (int i = carried->items.size() - 1; i >= 0; --i) {
        if (!recordindex::listedIn(listed, carried->names.at(i)))
            continue;
        carried->items.removeAt(i);
        carried->keys.removeAt(i);
        carried->names.removeAt(i);
    }
}

bool give(const QString &top, const QString &to, Carried *carried)
{
    recordindex::FolderLocker lock(to);
    if (!recordindex::indexWritable(top, to))
        return false;
    recordindex::cutTornTails(top, to);
    const QByteArray list = readIndex(top, recordindex::reclistPath(to));
    dropListed(recordindex::parseReclist(list), carried);
    if (carried->items.isEmpty())
        return true;
    // The key-frame records first: no list record points at what is not
    // written yet.
    placeKeys(top, to, carried);
    return recordindex::insertListRecords(top, to, list, carried->items);
}

} // namespace

void follow(const QString &top, const QString &from, const QString &to, const QStringList &moved)
{
    if (moved.isEmpty())
        return;
    Carried carried = take(top, from, QSet<QString>(moved.cbegin(), moved.cend()));
    if (!carried.items.isEmpty() && !give(top, to, &carried)) {
        for (const QString &name : qAsConst(carried.names))
            recordlog::leftAlone(QStringLiteral("movedrecords: not listed"), to + '/' + name,
                                 QStringLiteral("record move"),
                                 QStringLiteral("moved there, but not listed: the folder's list cannot be written"));
    }
    // Neither list names a file that is not in its folder.
    recordindex::rewriteReclistWithout(top, from, moved);
}

} // namespace movedrecords
