#pragma once

#include "app/core/readstatus.h"
#include "app/core/settingranges.h"

#include <QString>
#include <QStringList>
#include <QVariant>

class qcDatabase;

// The system options of the local settings page as the two one-row settings
// tables hold them. Numbers are kept as stored, also when no reader would
// take them: a value the page cannot offer stays in storage until the
// operator picks another one.
struct LocalOptionValues
{
    bool autoAdd = false;
    bool autoLogin = false;
    // Whom automatic login logs in once a save switches it on: the operator
    // saving. Written only with that switch; not read back.
    QString autoName;
    bool autoStream = false;
    QString defaultUser;
    QString defaultPassword;
    QString sysLanguage; // shown only: nothing writes it
    QString downloadPath;
    QString recordPath;
    QString snapshotPath;
    int reservedSize = 0;
    int keepDays = 0;
    bool recordSchedule = false;
    bool captureSchedule = false;
    int recordStream = -1;
    int recordDuration = -1;
    int prevRecord = -1;
    int postRecord = -1;
    int captureCount = -1;
    int captureInterval = -1;
    int snapshotFormat = -1;
    int snapshotQuality = -1;
    // Number options whose typed text reads as no number (left half-typed,
    // or too long for one): changed, and refused by the check.
    QStringList unreadable;
};

// Reads, checks and writes the system options. An option is named by its
// column in the settings tables.
class LocalOptions
{
public:
    enum Problem {
        NoProblem,
        OutOfRange,     // a number no reader takes
        FolderMissing,  // an empty folder text
        FolderUnusable, // a folder that cannot be made or written into
        Unread,         // the stored options could not be read: nothing to compare with
    };
    struct Check
    {
        Problem problem = NoProblem;
        QString column;                   // the first option in the page's order that fails
        settingranges::Range range{0, 0}; // with OutOfRange
        QString folder;                   // with FolderUnusable
        bool ok() const { return problem == NoProblem; }
    };
    struct Result
    {
        Check check;          // why nothing was written
        QStringList written;  // the columns written, in order
        QString failedColumn; // the write that failed; the ones before it hold
        QString failure;      // why, in the database's words where it gave any
        bool ok() const { return check.ok() && failedColumn.isEmpty(); }
    };

    explicit LocalOptions(qcDatabase *db);

    // Reads every option again, in one statement; what the page shows. A
    // read that fails keeps the values of the last one that worked, and
    // until a read works again nothing is checked or saved.
    ReadStatus reload();
    const LocalOptionValues &stored() const { return m_stored; }

    // Checks the options that differ from the stored ones, in the page's
    // order; unchanged ones are kept as they are and not judged. Makes
    // nothing: a changed folder must exist or be makeable, and take a file.
    Check check(const LocalOptionValues &edited) const;
    // The columns whose value differs from the stored one, in page order.
    QStringList changedColumns(const LocalOptionValues &edited) const;
    // Checks, makes the changed folders that are missing (none when the
    // check or the making of one fails), then writes only the changed
    // options; reads everything again after a save that wrote them all.
    // After a refused write stored() holds the options written before it
    // and keeps the others, without asking the database again.
    Result save(const LocalOptionValues &edited);

    // One option by its column: a bool, a QString or an int; invalid for
    // an unknown column, which setValue() ignores.
    static QVariant value(const LocalOptionValues &values, const QString &column);
    static void setValue(LocalOptionValues &values, const QString &column, const QVariant &value);
    // A number option as the operator typed it: set when the text reads as
    // a decimal number, else marked unreadable, never guessed at.
    static void setTyped(LocalOptionValues &values, const QString &column, const QString &typed);
    // The range of a number option; an empty range (min > max) for others.
    static settingranges::Range rangeOf(const QString &column);
    static bool isFolder(const QString &column);
    // Whether the folder takes a new file, or can be made below a folder
    // that does; nothing is left behind.
    static bool folderUsable(const QString &path);

private:
    qcDatabase *m_db;
    LocalOptionValues m_stored;
    bool m_read = false;
};
