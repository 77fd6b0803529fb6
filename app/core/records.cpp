#include "app/core/records.h"

_st_log_item::_st_log_item(const QString &logdate, const QString &curuser, const QString &logdecl,
                           const QString &reldevname, const QString &reldevaddr, const QString &lognote, int logtype)
    : logdate(logdate), curuser(curuser), logdecl(logdecl), reldevname(reldevname), reldevaddr(reldevaddr),
      lognote(lognote), logtype(logtype)
{}

void registerLogItemMetaType()
{
    qRegisterMetaType<_st_log_item>("_st_log_item");
}

bool _st_device_item::operator==(const _st_device_item &o) const
{
    return devname == o.devname && username == o.username && password == o.password && address == o.address &&
           port == o.port && devtype == o.devtype && connecttype == o.connecttype && indexid == o.indexid;
}

bool _st_user_item::operator==(const _st_user_item &o) const
{
    return username == o.username && password == o.password && usergroup == o.usergroup && userdecl == o.userdecl &&
           usertype == o.usertype;
}

_st_alarm_item::_st_alarm_item(const QString &ipaddr, const QString &devname, const QString &file, int type, int action,
                               const QDateTime &time)
    : ipaddr(ipaddr), file(file), devname(devname), type(type), action(action), time(time)
{}
