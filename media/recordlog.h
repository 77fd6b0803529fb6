#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

// Recording faults an operator must be able to see. A recording that cannot
// start goes into the system log as an abnormal event, once per file name
// until a recording under that name starts again: the stream service tries
// a scheduled recording again on every tick.
namespace recordlog {

// path: the recording's first name; its folder is named after the device.
void cannotStart(const QString &path, const QString &reason);
void started(const QString &path);

// Frames one file of a recording took out of the frame buffer for the next
// (FrameHandOver) that the next never got (`what` says how many and why):
// said on the console each time, and in the system log once per device (its
// folders of every day) until a hand-over there goes through whole
// (handOverWhole). Around midnight every recording of a slow disk would
// otherwise tell its own.
void handOverLost(const QString &path, const QString &what);
void handOverWhole(const QString &path);

// Faults of the recording set-up, of the recorder and of the disk guard,
// each one record of an abnormal event in the system log (and a warning on
// the console). Settings are read again on every save and schedules looked
// at on every tick, so a lasting fault is told once: `key` names what is at
// fault, `detail` its faulty value; the same key and detail add nothing more
// until faultGone(key) says the fault was mended.
void abnormal(const QString &decl, const QString &devAddr, const QString &note);
// True when the record was written now.
bool abnormalOnce(const QString &key, const QString &detail, const QString &decl, const QString &devAddr,
                  const QString &note);
void faultGone(const QString &key);
// A file a recorder, the disk guard or the start-up repair leaves as it is
// for a reason that lasts (`what`), told once per path under `key` while
// the process runs: during a FolderPass of this thread in the pass's one
// record, else in a record of its own (`decl`), as abnormalOnce tells it.
// The console hears of each file. A folder of thousands of links would
// otherwise write a record per link at every start.
void leftAlone(const QString &key, const QString &path, const QString &decl, const QString &what);

// A recording the disk guard could not move (`why`: a full disk, another
// file under its new name, what stands under the copy's temporary name);
// it stays where it is. Told as leftAlone() tells, once per path and reason
// while the process runs: during the guard's FolderPass over its folder in
// that pass's one record.
void notMoved(const QString &path, const QString &why);

// Recordings the disk guard moved from `folder` into `to` because they are
// dated after the computer's clock (`now`), which has gone back: one
// abnormal event per folder and pass with how many, the first and the last;
// the console hears every name. Nothing when `names` is empty.
void movedDatedAhead(const QString &folder, const QString &to, const QStringList &names, const QDateTime &now);
// Recordings taken off `folder`'s list because they end after the time the
// stream went back to (`restart`, ms of the day): told as movedDatedAhead().
void unlistedAfterSetBack(const QString &folder, const QStringList &names, qint64 restart);

// The start-up repair: what a repair did to a folder's index file or to a
// record file (`path`), after it was done, with the bytes it cut off or
// deleted: said on the console, and, when systemLog (the start-up pass), in
// the system log. During a FolderPass it goes into the pass's one record.
void repaired(const QString &path, const QString &what, bool systemLog, qint64 bytes = 0);
// A repair that was tried and failed (`what` says how far it got), told as
// repaired() tells.
void notRepaired(const QString &path, const QString &what, bool systemLog, qint64 bytes = 0);
// A record file the repair leaves as it is because it does not read as a
// recording: said once per path while the process runs, on the console and,
// when systemLog, in the system log. A recorder finds the same file under
// its first name on every try.
void unreadable(const QString &path, qint64 bytes, bool systemLog);

// The start-up pass over one folder (or the disk guard's, `pass` and `decl`
// naming it), told in one system-log record when it ends: how many repairs were done and failed, the bytes they cut off or
// deleted, the first and the last of each, and the files left as they are
// (unreadable() and leftAlone()).
// A day of recordings whose lists were lost would otherwise write a record
// per recording and wipe the log. What this thread tells with systemLog
// while the object lives goes into it; the console still hears each repair.
class FolderPass
{
public:
    explicit FolderPass(const QString &folder, const QString &pass = QStringLiteral("the start-up repair"),
                        const QString &decl = QStringLiteral("record repair"));
    ~FolderPass();
    FolderPass(const FolderPass &) = delete;
    FolderPass &operator=(const FolderPass &) = delete;

    // The pass this thread is in, if any.
    static FolderPass *current();
    void done(const QString &path, const QString &what, qint64 bytes);
    void failed(const QString &path, const QString &what, qint64 bytes);
    void leftAsItIs(const QString &path, const QString &what);

private:
    struct Group
    {
        int count = 0;
        QString first, last; // "name (what)"
    };
    void add(Group *group, const QString &path, const QString &what, qint64 bytes);
    static QString entries(const Group &group);

    QString m_folder;
    QString m_pass, m_decl;
    FolderPass *m_outer = nullptr;
    Group m_done, m_failed, m_leftAlone;
    qint64 m_bytes = 0;
};

// A full disk, told when it begins and when it ends. It begins with the
// first recording it cuts short, or with a disk-guard pass that could not
// free the reserve; while it lasts, the recordings it cuts and those the
// guard deletes are counted and said on the console only, and the end says
// how many: every recording it cut short, the one that began it too, and
// the deletions after the pass that began it (whose record told its own).
// It ends with a guard check or pass that finds the reserve free.
// A guard pass that frees the reserve while the disk is not full is one
// record of its own. A disk that stays full would otherwise write a record
// per recording and per pass.
// A full disk belongs to its record folder (the root the guard and the
// recorders were given), and every note names that folder with its own
// recordings. Once the guard checks another folder (the operator chose
// one), nothing measures the old one any more: its full state ends with a
// record that says so and what it cost, not that it has room.
struct GuardPass
{
    QString root;
    double freeGiB = 0; // measured before the pass
    qint64 reserveGiB = 0;
    int deleted = 0;
    qint64 freedBytes = 0;
    QString oldest, newest;   // relative to the root
    bool reserveFree = false; // measured free space and freed bytes reach the reserve
};
// A recording below `root` the full disk ended (`note` tells it).
void cutByFullDisk(const QString &root, const QString &path, const QString &note);
void guardDeleted(const GuardPass &pass);
void guardFoundRoom(const QString &root, double freeGiB, qint64 reserveGiB);
// Whether the disk of `root` is told full; with no root, whether any is.
bool diskFull(const QString &root = QString());

// Pictures that could not be stored, told when the first one is not and
// when a picture is stored again, with how many were lost meanwhile, the
// first and the last; in between only on the console. A disk that stays
// full, a folder that cannot be written or a camera gone would otherwise
// write a record per picture. `path`: the picture's file, or its folder when
// that could not be made; `error`: the errno of the failed write, or
// capturefile::kNoPicture for a snapshot with no picture to take.
void pictureNotStored(const QString &path, int error);
void pictureStored(const QString &path);

} // namespace recordlog
