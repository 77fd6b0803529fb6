#pragma once

// An INSERT for the client database's schedules table, so suites seed rows
// the way the local settings page stores them. Header only.

#include <QString>
#include <QStringList>

namespace testsupport {

// `days` is Sunday's text first; the same text on every day when only one is
// given.
inline QString scheduleRow(int applytype, const QString &address, QStringList days, int kind, int enable = 1)
{
    while (days.size() < 7)
        days << days.last();
    QStringList quoted;
    for (const QString &d : days)
        quoted << "'" + d + "'";
    return QString("INSERT INTO schedules(applytype,devname,ipaddr,skdsun,skdmon,skdtue,skdwed,skdthu,skdfri,skdsat,"
                   "skdtype,enable) VALUES(%1,'cam','%2',%3,%4,%5)")
        .arg(applytype)
        .arg(address, quoted.join(','))
        .arg(kind)
        .arg(enable);
}

} // namespace testsupport
