#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <cstdint>
#include <cstring>

// Records of LAN discovery, kept as the raw bytes the device sent. Every
// text is read bounded by its field, so an unterminated name never runs into
// the bytes behind it.
namespace discovery {

constexpr uint32_t kMagic = 0xFABCDEF0;
constexpr uint16_t kSearch = 0xC388;
constexpr uint16_t kSet = 0xC389;
constexpr uint16_t kGet = 0xC38A;
constexpr int kHeaderSize = 8;
constexpr int kSearchReplySize = 480;
constexpr int kGetSize = 636;
constexpr int kSetSize = 872;

// Latin-1 text from a field of at most span bytes, ending at the first NUL.
QString fieldText(const unsigned char *field, int span);
// Writes text cut at span - 1 bytes, always NUL-terminated.
void putFieldText(unsigned char *field, int span, const QString &text);

} // namespace discovery

struct DeviceInfo_t
{
    unsigned char bytes[472];

    uint32_t firmware() const;
    int versionMajor() const { return int(firmware() / 100000000u); }
    int versionMinor() const { return int((firmware() / 1000000u) % 100u); }
    int versionBuild() const { return int(firmware() % 1000000u); }
    // The fourth version part, or -1 when the device gives none.
    int versionExtra() const { return (bytes[9] & 0x80) ? (bytes[9] & 0x7F) : -1; }
    QString name() const { return discovery::fieldText(bytes + 144, 156); }
    QString address() const { return discovery::fieldText(bytes + 300, 144); }
    uint32_t port() const;
    // Model and MAC texts in two of the bytes the search otherwise passes on:
    // the model at 16, the MAC (as wide as the network record's) at 448.
    QString model() const { return discovery::fieldText(bytes + 16, 64); }
    QString mac() const { return discovery::fieldText(bytes + 448, 24); }
};
static_assert(sizeof(DeviceInfo_t) == 472, "search reply record");

struct NetIPCfg_t
{
    unsigned char bytes[628];

    QString mac() const { return discovery::fieldText(bytes, 24); }
    // 1 static address; anything else DHCP.
    uint32_t mode() const;
    bool isStatic() const { return mode() == 1; }
    QString address() const { return discovery::fieldText(bytes + 32, 16); }
    QString mask() const { return discovery::fieldText(bytes + 48, 16); }
    QString gateway() const { return discovery::fieldText(bytes + 196, 16); }
};
static_assert(sizeof(NetIPCfg_t) == 628, "network configuration record");

Q_DECLARE_METATYPE(DeviceInfo_t)
Q_DECLARE_METATYPE(NetIPCfg_t)
