#include "liveview/deviceentry.h"

#include "device/deviceaddress.h"

namespace deviceentry {

QString check(int connectType, const QString &address, const QString &port)
{
    // The address editor gives no address while one of its boxes is empty:
    // the operator sees the box and is told what it wants.
    if (connectType == ByAddress && address.isEmpty())
        return QStringLiteral("ipincomplete");
    const bool good = connectType == ByAddress ? deviceaddress::isIpv4(address) : deviceaddress::isIdentifier(address);
    if (!good)
        return QStringLiteral("wrongiporid");
    if (port.isEmpty())
        return QStringLiteral("needport");
    bool ok = false;
    const int p = port.toInt(&ok);
    if (!ok || p < 1 || p > 65535)
        return QStringLiteral("portrange");
    return QString();
}

QString typedName(const QString &raw)
{
    QString name;
    name.reserve(raw.size());
    for (const QChar c : raw) {
        const QChar::Category kind = c.category();
        // A line end or an escape would reach the device list and every log
        // line that names the device.
        if (kind != QChar::Other_Control && kind != QChar::Other_Format)
            name += c;
    }
    return name.trimmed();
}

} // namespace deviceentry

bool qcFoundDevices::add(Device device)
{
    if (device.address.isEmpty())
        return false;
    device.address = deviceaddress::canonical(device.address);
    for (const Device &d : qAsConst(m_devices)) {
        if (d.address == device.address)
            return false;
    }
    device.name = deviceentry::typedName(device.name);
    m_devices.append(device);
    return true;
}

qcFoundDevices::AddAll qcFoundDevices::addAll(const std::function<bool(const QString &)> &isListed) const
{
    AddAll out;
    for (const Device &d : m_devices) {
        if (!deviceentry::check(deviceentry::ByAddress, d.address, d.port).isEmpty())
            ++out.refused;
        else if (isListed && isListed(d.address))
            ++out.listed;
        else
            out.taken.append(d);
    }
    return out;
}
