#pragma once

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>

// The names of record files. A recording is born with an initial name
// (RECV1_<KIND>_<device>_.zmf), gets its start time when the first frame is
// written (..._<start>_.zmf) and its end time when it closes
// (..._<start>_<end>.zmf). Times are "HH-MM-SS-mmm" of the frame timestamps.
// Every reader of these names goes through here: the recorder, the disk
// guard, the start-up repair and the record-file tool.
namespace recordnames {

constexpr int kKindTiming = 26;
constexpr int kKindAlarm = 27;
constexpr int kKindManual = 28;
constexpr int kKindOther = 29;
// A reclist name field holds at most 63 Latin-1 bytes and a terminator.
constexpr int kNameFieldSize = 64;

// "08-03-20-123" -> 29,000,123; anything that is not exactly that shape, -1.
int parseTimeOfDay(const QString &text);
// 29,000,123 -> "08-03-20-123".
QString formatTimeOfDay(qint64 msecs);

// The day folder of recordings and pictures: yyyyMMdd.
QString dayFolder(const QDate &date);
// Whether a folder's name starts with a day (eight digits): a day folder, or
// one the disk guard treats as one.
bool startsWithDay(const QString &name);
// The date of the nearest folder, from `folder` up, named like a day; a null
// date when there is none.
QDate folderDay(const QString &folder);
// `path` with the nearest folder named like a day, from its own folder up,
// named for `date` instead; `path` itself when it lies in none.
QString inDayFolder(const QString &path, const QDate &date);
// Whether a finished recording in `folder` ends after `now`: its day folder
// is later than today, or it is today's (or has none) and its end time of
// day is later by more than a stream's stamps may lead the clock (they were
// stamped by a clock that has gone back since). The disk guard moves such
// files out of the way.
bool endsAfter(const QString &folder, int endMsecs, const QDateTime &now);

// The initial file name for a device address and a kind (26, 27, 28); empty
// for any other kind. An address of four dot-separated parts is written with
// hyphens, anything else (a P2P identifier) as it is.
QString initialName(const QString &address, int kind);
// The path with the start time put in front of the extension.
QString startName(const QString &path, qint64 startMsecs);
// The path with the end time appended to the part before the last '.'.
QString finalName(const QString &path, qint64 endMsecs);

// The parsed parts of a record file name (without directory).
struct NameParts
{
    int kind = 0;   // 26, 27, 28; 0 when the kind part is unknown
    int start = -1; // -1 when there is none
    int end = -1;   // -1 when there is none
    bool initial = false;
    bool unfinished = false;
    bool finished = false;
};
NameParts parseName(const QString &fileName);

// A finished recording's name with start <= end; the disk guard deletes only these.
bool isValidRecordName(const QString &fileName);
// A recording with a start time but no end time yet.
bool isUnfinishedRecordName(const QString &fileName);
// A file that never received its first frame.
bool isInitialRecordName(const QString &fileName);

// The name a file is copied under while it moves to another file system
// (".<name>.moving"), renamed to `fileName` only once the copy is whole. It is
// never a record name: nothing lists, plays or deletes it as a recording.
QString movingName(const QString &fileName);
// Whether a name is such a copy's (of any file, index files too).
bool isMovingName(const QString &fileName);
// The name such a copy stands for: "<name>" of ".<name>.moving".
QString movedName(const QString &movingName);

// Kind -> the name part, the header flag byte, the reclist kind flags; 0 or
// empty for a kind that is not a recording kind.
QString kindNamePart(int kind);
quint8 headerKindByte(int kind);
quint32 reclistKindFlags(int kind);
int kindFromHeaderByte(quint8 flag);

// The 64-byte reclist name field: Latin-1, zero-padded; all zero when the
// name needs 64 bytes or more (it could not be terminated).
QByteArray nameField(const QString &fileName);
// The name a field holds; empty for an all-zero field.
QString nameFromField(const char *field);

} // namespace recordnames
