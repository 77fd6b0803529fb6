#include "device/discoveryrecords.h"

#include <QtEndian>

namespace discovery {

QString fieldText(const unsigned char *field, int span)
{
    const void *nul = std::memchr(field, 0, size_t(span));
    const int length = nul ? int(static_cast<const unsigned char *>(nul) - field) : span;
    return QString::fromLatin1(reinterpret_cast<const char *>(field), length);
}

void putFieldText(unsigned char *field, int span, const QString &text)
{
    const QByteArray bytes = text.toLatin1().left(span - 1);
    std::memset(field, 0, size_t(span));
    std::memcpy(field, bytes.constData(), size_t(bytes.size()));
}

} // namespace discovery

uint32_t DeviceInfo_t::firmware() const
{
    return qFromLittleEndian<quint32>(bytes);
}

uint32_t DeviceInfo_t::port() const
{
    return qFromLittleEndian<quint32>(bytes + 444);
}

uint32_t NetIPCfg_t::mode() const
{
    return qFromLittleEndian<quint32>(bytes + 28);
}
