// The fuzzer builds the record file code alone, without the system log: the
// repairs it provokes are told to no one.

#include "media/recordlog.h"

namespace recordlog {

void repaired(const QString &, const QString &, bool, qint64) {}
void notRepaired(const QString &, const QString &, bool, qint64) {}
void unreadable(const QString &, qint64, bool) {}
void leftAlone(const QString &, const QString &, const QString &, const QString &) {}
void unlistedAfterSetBack(const QString &, const QStringList &, qint64) {}
bool abnormalOnce(const QString &, const QString &, const QString &, const QString &, const QString &)
{
    return false;
}
FolderPass::FolderPass(const QString &, const QString &, const QString &) {}
FolderPass::~FolderPass() = default;

} // namespace recordlog
