#include "localsettings/localoptions.h"

#include "app/core/autologin.h"
#include "app/core/database.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#include <vector>

namespace {

using V = LocalOptionValues;
using settingranges::Range;

// One option: its column and where it lives in the values, with the
// database's setter of its kind (all are read together, as one settings
// row). Exactly one of the three value pointers is set.
struct Option
{
    const char *column;
    bool V::*flag;
    bool (qcDatabase::*setFlag)(bool, QString *);
    QString V::*text;
    bool (qcDatabase::*setText)(const QString &, QString *);
    bool folder;
    int V::*number;
    bool (qcDatabase::*setNumber)(int, QString *);
    Range range;
};

Option flagOption(const char *column, bool V::*value, bool (qcDatabase::*set)(bool, QString *))
{
    return {column, value, set, nullptr, nullptr, false, nullptr, nullptr, {1, 0}};
}

Option textOption(const char *column, QString V::*value, bool (qcDatabase::*set)(const QString &, QString *),
                  bool folder = false)
{
    return {column, nullptr, nullptr, value, set, folder, nullptr, nullptr, {1, 0}};
}

Option numberOption(const char *column, int V::*value, bool (qcDatabase::*set)(int, QString *), Range range)
{
    return {column, nullptr, nullptr, nullptr, nullptr, false, value, set, range};
}

// In the order the page shows them, which is the order they are checked in.
const std::vector<Option> &options()
{
    using namespace settingranges;
    using D = qcDatabase;
    static const std::vector<Option> list = {
        flagOption("autologin", &V::autoLogin, &D::setAutoLogin),
        flagOption("autoadd", &V::autoAdd, &D::setAutoAdd),
        flagOption("autostream", &V::autoStream, &D::setAutoStream),
        textOption("defuser", &V::defaultUser, &D::setDefaultUser),
        textOption("defpwd", &V::defaultPassword, &D::setDefaultPassword),
        textOption("syslanguage", &V::sysLanguage, nullptr),
        textOption("downloadpath", &V::downloadPath, &D::setDownloadPath, true),
        textOption("recordpath", &V::recordPath, &D::setRecordPath, true),
        textOption("snapshotpath", &V::snapshotPath, &D::setSnapshotPath, true),
        numberOption("reservedsize", &V::reservedSize, &D::setReservedSize, kReservedSize),
        numberOption("keepdays", &V::keepDays, &D::setKeepDays, kKeepDays),
        flagOption("recordskdenable", &V::recordSchedule, &D::setRecordScheduleEnable),
        numberOption("recordstream", &V::recordStream, &D::setRecordStream, kRecordStream),
        numberOption("recordduration", &V::recordDuration, &D::setRecordDuration, kRecordDuration),
        numberOption("prevrecord", &V::prevRecord, &D::setPrevRecord, kPrevRecord),
        numberOption("postrecord", &V::postRecord, &D::setPostRecord, kPostRecord),
        flagOption("captureskdenable", &V::captureSchedule, &D::setCaptureScheduleEnable),
        numberOption("capturecount", &V::captureCount, &D::setCaptureCount, kCaptureCount),
        numberOption("captureinterval", &V::captureInterval, &D::setCaptureInterval, kCaptureInterval),
        numberOption("snapshotformat", &V::snapshotFormat, &D::setSnapshotFormat, kSnapshotFormat),
        numberOption("snapshotquality", &V::snapshotQuality, &D::setSnapshotQuality, kSnapshotQuality),
    };
    return list;
}

const Option *optionOf(const QString &column)
{
    for (const Option &o : options())
        if (column == QLatin1String(o.column))
            return &o;
    return nullptr;
}

bool differs(const Option &o, const V &a, const V &b)
{
    if (o.flag)
        return a.*o.flag != b.*o.flag;
    if (o.text)
        return a.*o.text != b.*o.text;
    return a.*o.number != b.*o.number;
}

// The path itself when it exists, else the nearest folder above it that
// does: where its missing folders would be made. Empty when nothing exists.
QString nearestExisting(const QString &path)
{
    QString p = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    while (!QFileInfo::exists(p)) {
        const QString up = QFileInfo(p).path();
        if (up == p)
            return QString();
        p = up;
    }
    return p;
}

// Makes the missing folders of path one by one, each noted in made as it
// comes, so that a failure part way can be undone.
bool makeFolder(const QString &path, QStringList &made)
{
    const QString target = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    QStringList missing;
    for (QString p = target; !QFileInfo::exists(p) && QFileInfo(p).path() != p; p = QFileInfo(p).path())
        missing.prepend(p);
    for (const QString &folder : missing) {
        if (!QDir().mkdir(folder))
            return false;
        made << folder;
    }
    return QFileInfo(target).isDir();
}

void unmakeFolders(const QStringList &made)
{
    for (auto it = made.crbegin(); it != made.crend(); ++it)
        QDir().rmdir(*it);
}

bool writeOption(qcDatabase &db, const Option &o, const V &values, QString *why)
{
    // Only changed options come here, so this is the switch being turned
    // on: it logs in the operator who turned it, not a name left from before.
    if (o.flag == &V::autoLogin && values.autoLogin)
        return autologin::switchOn(db, values.autoName, why);
    if (o.flag)
        return (db.*o.setFlag)(values.*o.flag, why);
    if (o.text)
        return (db.*o.setText)(values.*o.text, why);
    return (db.*o.setNumber)(values.*o.number, why);
}

} // namespace

LocalOptions::LocalOptions(qcDatabase *db) : m_db(db) {}

ReadStatus LocalOptions::reload()
{
    const SettingsRow row = m_db ? m_db->readSettings() : SettingsRow();
    const ReadStatus status = row.status();
    m_read = status.ok();
    if (!m_read)
        return status;
    m_stored = LocalOptionValues();
    for (const Option &o : options())
        setValue(m_stored, QLatin1String(o.column), row.value(QLatin1String(o.column)));
    return status;
}

QStringList LocalOptions::changedColumns(const LocalOptionValues &edited) const
{
    QStringList columns;
    for (const Option &o : options()) {
        // A text without a setter cannot be changed here, whatever was passed.
        const QString column = QLatin1String(o.column);
        if ((o.flag || o.setText) && differs(o, m_stored, edited))
            columns << column;
        else if (o.number && (differs(o, m_stored, edited) || edited.unreadable.contains(column)))
            columns << column;
    }
    return columns;
}

LocalOptions::Check LocalOptions::check(const LocalOptionValues &edited) const
{
    if (!m_read) {
        Check unread;
        unread.problem = Unread;
        return unread;
    }
    for (const QString &column : changedColumns(edited)) {
        const Option &o = *optionOf(column);
        Check c;
        c.column = column;
        if (o.number && (edited.unreadable.contains(column) || !o.range.contains(edited.*o.number))) {
            c.problem = OutOfRange;
            c.range = o.range;
            return c;
        }
        if (o.folder) {
            const QString path = edited.*o.text;
            if (path.trimmed().isEmpty())
                c.problem = FolderMissing;
            else if (!folderUsable(path))
                c.problem = FolderUnusable;
            c.folder = path;
            if (!c.ok())
                return c;
        }
    }
    return Check();
}

LocalOptions::Result LocalOptions::save(const LocalOptionValues &edited)
{
    Result r;
    r.check = check(edited);
    if (!r.check.ok())
        return r;
    const QStringList columns = changedColumns(edited);
    QStringList made;
    for (const QString &column : columns) {
        const QString folder = isFolder(column) ? value(edited, column).toString() : QString();
        // Checked usable, but the disk may have changed since, or a name
        // may be one the file system refuses.
        if (!folder.isEmpty() && (!makeFolder(folder, made) || !folderUsable(folder))) {
            unmakeFolders(made);
            r.check.problem = FolderUnusable;
            r.check.column = column;
            r.check.folder = folder;
            return r;
        }
    }
    for (const QString &column : columns) {
        if (!m_db || !writeOption(*m_db, *optionOf(column), edited, &r.failure)) {
            r.failedColumn = column;
            if (!m_db)
                r.failure = QStringLiteral("no database");
            break;
        }
        r.written << column;
    }
    if (r.failedColumn.isEmpty()) {
        reload();
        return r;
    }
    // A database that refused a write may not answer a read either: what
    // is known to hold is what was written, and the rest as it was.
    for (const QString &column : qAsConst(r.written))
        setValue(m_stored, column, value(edited, column));
    return r;
}

QVariant LocalOptions::value(const LocalOptionValues &values, const QString &column)
{
    const Option *o = optionOf(column);
    if (!o)
        return QVariant();
    if (o->flag)
        return values.*o->flag;
    if (o->text)
        return values.*o->text;
    return values.*o->number;
}

void LocalOptions::setTyped(LocalOptionValues &values, const QString &column, const QString &typed)
{
    const Option *o = optionOf(column);
    if (!o || !o->number)
        return;
    bool ok = false;
    const int number = typed.trimmed().toInt(&ok, 10);
    values.unreadable.removeAll(column);
    if (ok)
        values.*o->number = number;
    else
        values.unreadable << column;
}

void LocalOptions::setValue(LocalOptionValues &values, const QString &column, const QVariant &value)
{
    const Option *o = optionOf(column);
    if (!o)
        return;
    if (o->flag)
        values.*o->flag = value.toBool();
    else if (o->text)
        values.*o->text = value.toString();
    else
        values.*o->number = value.toInt();
}

settingranges::Range LocalOptions::rangeOf(const QString &column)
{
    const Option *o = optionOf(column);
    return o && o->number ? o->range : Range{1, 0};
}

bool LocalOptions::isFolder(const QString &column)
{
    const Option *o = optionOf(column);
    return o && o->folder;
}

bool LocalOptions::folderUsable(const QString &path)
{
    if (path.trimmed().isEmpty())
        return false;
    const QString existing = nearestExisting(path);
    if (existing.isEmpty() || !QFileInfo(existing).isDir())
        return false;
    // Permission bits do not tell everything (read-only mounts, root), so
    // the folder, or the one the missing ones go into, has to take a file.
    QTemporaryFile probe(QDir(existing).filePath(QStringLiteral(".write-probe-XXXXXX")));
    return probe.open();
}
