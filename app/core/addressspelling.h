#pragma once

#include <QString>

// The one spelling of a device address, known below the device layer so
// that the store compares addresses as every road that adds or changes a
// device does: "127.0.0.05" and "127.0.0.5" are one camera.
namespace addressspelling {

// "192.168.1.20": four parts of one to three decimal digits, each 0-255;
// no sign, no blanks. Leading zeros are taken: stored rows may hold them.
bool isIpv4(const QString &text);
// An IPv4 address without leading zeros ("127.0.0.05" is "127.0.0.5"), the
// spelling the address editor gives; any other text as it is.
QString canonical(const QString &text);
// Whether two addresses name one device, however each is spelt.
bool isSame(const QString &a, const QString &b);

} // namespace addressspelling
