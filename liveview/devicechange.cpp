#include "liveview/devicechange.h"

namespace devicechange {

Check check(const QList<_st_device_item *> &devices, qint64 indexid, const QString &address)
{
    Check out;
    const _st_device_item *holder = nullptr;
    for (int i = 0; i < devices.size(); ++i) {
        if (devices[i]->indexid == indexid)
            out.row = i;
        else if (devices[i]->address == address && !holder)
            holder = devices[i];
    }
    if (holder) {
        out.key = "devexist";
        out.why = QStringLiteral("the address is that of the listed device %1").arg(holder->devname);
    } else if (out.row < 0) {
        out.key = "devremoved";
        out.why = QStringLiteral("the device was removed while its dialog or window was open");
    }
    return out;
}

bool movesAway(const _st_device_item &before, const _st_device_item &after)
{
    return before.address != after.address || before.port != after.port;
}

} // namespace devicechange
