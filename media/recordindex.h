#pragma once

#include "media/qcrecordfile.h"

#include <QList>
#include <QString>

#include <functional>
#include <mutex>

// The two index files of a record folder: "kfindex" (one record per indexed
// key frame) and "reclist" (one record per finished recording), and every
// rule that reads, appends, cuts or rewrites them.
namespace recordindex {

constexpr qint64 kMaxIndexBytes = 0xA00000;
// A key frame is indexed when it is a recording's first, or more than this
// long after the last indexed one. The times come from files and streams,
// any 64-bit value: the difference is taken only when it cannot overflow.
constexpr qint64 kIndexSpacingMs = 800;
inline bool indexesKeyFrame(bool first, qint64 t, qint64 lastIndexed)
{
    return first || (t > lastIndexed && quint64(t) - quint64(lastIndexed) > quint64(kIndexSpacingMs));
}

QString kfindexPath(const QString &folder);
QString reclistPath(const QString &folder);
QString folderOf(const QString &filePath);

// Whether the folder's index files may be written: each is absent or a
// regular file of its own. One that is a link (or anything else) leaves the
// folder's index alone entirely, and is told once: a link's target lies
// outside the record folders. Every appender, cutter and rewriter asks.
// `top` in this file: the top of the record tree the folder lies under (see
// recordfileguard), which the caller holds.
bool indexWritable(const QString &top, const QString &folder);

// Every append, cut and rewrite of a folder's index files holds its lock; the
// recorders, the disk guard and the start-up repair share one registry.
std::mutex &folderLock(const QString &folder);
class FolderLocker
{
public:
    explicit FolderLocker(const QString &folder) : m_locker(folderLock(folder)) {}

private:
    std::lock_guard<std::mutex> m_locker;
};

struct KfRecord
{
    qint64 position = 0; // byte offset of the record in kfindex
    _st_kfindex_item item;
};
struct ListRecord
{
    qint64 position = 0; // byte offset of the record in reclist
    _st_reclist_item item;
};

// Records found by their markers; bytes that are not a record are skipped one
// at a time. *torn is set when the file ends inside a record (a marker with
// fewer bytes than a record after it). Each index is read through the
// descriptor that judged it a regular file: a link under its name is not
// followed and a named pipe there never waited on (none is read then).
QList<KfRecord> readKfindex(const QString &folder, bool *torn = nullptr);
// reclist holds whole records back to back; *torn is set for a tail shorter
// than a record.
QList<ListRecord> readReclist(const QString &folder, bool *torn = nullptr);
// The same, of bytes already read.
QList<KfRecord> parseKfindex(const QByteArray &bytes, bool *torn = nullptr);
QList<ListRecord> parseReclist(const QByteArray &bytes, bool *torn = nullptr);

// Cuts both index files back to their last whole record. A crash or a full
// disk in the middle of an append leaves a torn record at the end, and every
// record appended after it would be misaligned and unreadable. When kfindex
// lost records, the list is checked as checkList does, so that no listed
// range reaches into what is appended next. Every appender calls this
// first; caller holds the folder lock. Returns the number of list records
// made again.
int cutTornTails(const QString &top, const QString &folder);

// Every reclist record whose fields do not fit the folder (a key-frame range
// beyond kfindex, a name no file has, a record without a name that lists no
// file of the folder, a kind its name does not have, times beyond a day,
// foreign bytes where a record holds zeros) is made again from
// a scan of its file, its key frames indexed anew; a record without a file
// that reads is dropped. Returns the number of records made again. Caller
// holds the folder lock.
int checkList(const QString &top, const QString &folder);

// The end of a list record's key-frame range in a kfindex of kfindexBytes;
// -1 when it has no range or the range runs past the end. A corrupt count
// is compared before anything is multiplied.
qint64 keyRangeEnd(const _st_reclist_item &item, qint64 kfindexBytes);

// Appends bytes to the end of an index file opened for writing; a short
// write is cut back. Caller holds the folder lock.
bool appendBytes(int fd, const QByteArray &bytes, int *error = nullptr);
bool appendToFile(const QString &top, const QString &path, const QByteArray &bytes);

// Whether a reclist record names a file: by name, or, for a name too long
// for the field, by end time and kind.
bool lists(const _st_reclist_item &item, const QString &fileName);
bool listedIn(const QList<ListRecord> &records, const QString &fileName);

// The record a finished recording gets, from a scan of its file.
struct Summary
{
    qint64 firstKey = -1;  // first key frame's timestamp
    qint64 lastVideo = -1; // last video frame's timestamp
    quint64 payloadBytes = 0;
    int frames = 0;
    int keyFrames = 0;
    int audioFrames = 0;
    QList<_st_kfindex_item> indexed; // the key frames the recorder's rule indexes
};
Summary summarise(const RecordScan &scan);
// end is the given end time, or the whole day when it is not after start.
uint32_t listEnd(qint64 start, qint64 end);

// Lists a finished recording (its file at `path`) in the folder's reclist,
// unless the file left the folder meanwhile. `keys` are the key-frame records
// the recorder appended from item.kfindexOffset on; when kfindex no longer
// holds them there (another recorder's recovery cut it, or another recorder's
// records came in between), they are appended again in one piece and the
// record points at them. False when the list record could not be written.
bool listRecording(const QString &top, const QString &folder, const QString &path, _st_reclist_item item,
                   const QByteArray &keys);

// After the stream's time went back to `restart` (the computer's clock was
// set back): cuts both index files at the first record at or after it. The
// just-ended recording (given by its final name) when it began before the
// restart time, and every recording that ends no later than a stream may
// lead the clock after it, get their list records appended again after the
// cut, and their key-frame records too when the cut took them, so they stay
// listed; the others are told as taken off the list.
bool recoverAfterJump(const QString &top, const QString &folder, qint64 restart, const QString &justEnded);

// The deleted record files' records leave reclist (a temporary file, then a
// rename). kfindex stays: the remaining records address it by offset.
bool rewriteReclistWithout(const QString &top, const QString &folder, const QStringList &fileNames);

// Puts list records (made by a repair, or of recordings moved in) into the
// folder's reclist, its bytes as they are now in `current`, where their
// start times put them: appended when none starts before a listed one,
// otherwise reclist is written anew in one step; the records it holds stay.
// kfindex is not touched, so every range stays valid. Caller holds the
// folder lock.
bool insertListRecords(const QString &top, const QString &folder, const QByteArray &current,
                       QList<_st_reclist_item> added);

// A recorder holds its file's first name from creating the file until the
// file has its start time; a file under a held name is no crash's leftover.
// One registry for the process.
class FirstNameClaim
{
public:
    explicit FirstNameClaim(const QString &path);
    ~FirstNameClaim();
    FirstNameClaim(const FirstNameClaim &) = delete;
    FirstNameClaim &operator=(const FirstNameClaim &) = delete;
    // False when another recorder holds the name.
    bool held() const { return m_held; }
    void release();

private:
    QString m_path;
    bool m_held = false;
};
bool firstNameClaimed(const QString &path);

// A file a crash left under a recording's first name, which a recorder can
// only create anew: deleted when it holds no whole video frame, otherwise
// given its times and listed, as the start-up repair does. True when the
// name is free afterwards.
bool clearLeftover(const QString &top, const QString &path);

// The start-up repair of every folder under root (BackupDir's too, except
// the BackupFile folders):
// cuts torn index tails back, makes list records that do not fit their files
// again (checkList), deletes unfinished files and files under a first name
// that hold no whole frame, finalises and lists recordings a crash left
// unfinished, and lists again every finished recording whose list record
// was lost, unless it ends after the present outside BackupDir (the disk
// guard moves those away); a torn last frame, a tail of zeros, or bytes that are no frame
// with no whole frame after them, is cut first. Records it adds go where
// their start times put them. Each of these, and each file it leaves as it
// is (a link, one to a folder too, and what is no regular file under a
// recording's name, never followed nor opened), is told to the operator,
// once done, in one system-log record per folder (recordlog::FolderPass).
// Returns the number of files repaired.
// The root is the top of every folder repaired under it.
int repairTree(const QString &root);
int repairFolder(const QString &top, const QString &folder);

// How the key-frame records of recordings listed from a scan were looked
// for, counted while the process runs: in the table a repair pass keeps of
// its folder's kfindex, or by a search of the whole file (outside a pass).
struct KeyLookups
{
    quint64 inTable = 0;
    quint64 searched = 0;
};
KeyLookups keyLookups();

// A recorder whose disk ran full asks the disk guard to look at once; the
// stream service points this at its guard.
void setLowSpaceHook(std::function<void()> hook);
void reportLowSpace();
// A recorder that ended a file because the time went back asks the disk guard
// for another pass over the recordings that now end in the future.
void setTimeWentBackHook(std::function<void()> hook);

// Test seam, set by tests only: called with the folder once reclist's new
// bytes are written to their temporary file, just before it takes
// reclist's name, so that a test can change the folder in between.
void setBeforeReclistReplacedHook(std::function<void(const QString &folder)> hook);
// Test seam, set by tests only: called with the path of an index file just
// before a pass, a tail cut or a list rewrite opens it to read it, so that a
// test can put something else under its name at that moment.
void setBeforeIndexReadHook(std::function<void(const QString &path)> hook);

} // namespace recordindex
