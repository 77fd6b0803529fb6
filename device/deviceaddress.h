#pragma once

#include <QString>

// What a device address may be, wherever a device is added or changed: a
// dotted IPv4 address or a P2P identifier. The address also names the
// device's folders under the record and picture roots.
namespace deviceaddress {

// "192.168.1.20": four parts of one to three decimal digits, each 0-255;
// no sign, no blanks. Leading zeros are taken: stored rows may hold them.
bool isIpv4(const QString &text);
// Letters, digits and dashes, 6 to 64 of them.
bool isIdentifier(const QString &text);
// The minimum every road that adds or changes a device checks.
bool isAcceptable(const QString &text);

// An IPv4 address in the one spelling the address editor gives it, without
// leading zeros ("127.0.0.05" is "127.0.0.5"); any other text as it is.
QString canonical(const QString &text);
// Whether two addresses name one device, however each is spelt.
bool isSameAddress(const QString &a, const QString &b);

// The address as an operator can read it in a log line: control characters
// written as escapes (a line end as the two characters "\n"), at most 64
// characters.
QString printable(const QString &address);

// The address as the name of its folder; empty when it is not one folder
// name (empty, a path separator, or "..").
QString folderName(const QString &address);

} // namespace deviceaddress
