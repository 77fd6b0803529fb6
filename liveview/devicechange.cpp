#include "liveview/devicechange.h"

#include "device/deviceaddress.h"

namespace devicechange {

Check check(const QList<_st_device_item *> &devices, qint64 indexid, const QString &address)
{
    Check out;
    const _st_device_item *holder = nullptr;
    for (int i = 0; i < devices.size(); ++i) {
        if (devices[i]->indexid == indexid)
            out.row = i;
        else if (!holder && deviceaddress::isSameAddress(devices[i]->address, address))
            holder = devices[i];
    }
    // A device that shares its address already (rows an older version left)
    // may still change what else it has.
    const bool stays = out.row >= 0 && deviceaddress::isSameAddress(devices[out.row]->address, address);
    if (holder && !stays) {
        out.key = "devexist";
        out.why = QStringLiteral("the address is that of the listed device %1").arg(holder->devname);
    } else if (out.row < 0) {
        out.key = "devremoved";
        out.why = QStringLiteral("the device was removed while its dialog or window was open");
    }
    return out;
}

Fields Fields::of(const _st_device_item &device)
{
    return {device.devname, device.address, device.connecttype, device.port, device.username, device.password};
}

Check checkEdits(const QList<_st_device_item *> &devices, qint64 indexid, const Fields *shownPtr, const Fields &typed,
                 _st_device_item &changed)
{
    const _st_device_item *now = nullptr;
    for (const _st_device_item *d : devices) {
        if (d->indexid == indexid)
            now = d;
    }
    if (!now)
        return check(devices, indexid, typed.address);
    changed = *now;
    const Fields shown = shownPtr ? *shownPtr : Fields::of(*now);
    const auto take = [](auto &field, const auto &was, const auto &is) {
        if (is != was)
            field = is;
    };
    take(changed.devname, shown.devname, typed.devname);
    // Another spelling of the address shown is no new address: a stored
    // row keeps its own.
    if (!deviceaddress::isSameAddress(typed.address, shown.address))
        changed.address = deviceaddress::canonical(typed.address);
    take(changed.connecttype, shown.connecttype, typed.connecttype);
    take(changed.port, shown.port, typed.port);
    take(changed.username, shown.username, typed.username);
    take(changed.password, shown.password, typed.password);
    return check(devices, indexid, changed.address);
}

bool movesAway(const _st_device_item &before, const _st_device_item &after)
{
    return before.address != after.address || before.port != after.port;
}

bool leavesWindowBehind(const _st_device_item &before, const _st_device_item &after)
{
    return movesAway(before, after) || before.username != after.username || before.password != after.password;
}

} // namespace devicechange
