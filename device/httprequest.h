#pragma once

#include <QByteArray>
#include <QString>

// The three requests the device's own protocols start with, and the check of
// the device's answer. The texts are kept byte for byte as devices expect
// them (the blank before CR LF after Keep-Alive, the negative length).
namespace httprequest {

// Base64 of the Latin-1 bytes of "user:password".
QByteArray basicCredentials(const QString &user, const QString &password);

// stream: 0 main, 1 sub.
QByteArray liveStream(int stream, const QString &user, const QString &password);
QByteArray alarmNotify(const QString &user, const QString &password);
QByteArray audioTalk(const QString &user, const QString &password);

// Whether "HTTP/1.0 200" occurs in the first length bytes (binary-safe).
bool hasHttpOk(const char *data, qsizetype length);
inline bool hasHttpOk(const QByteArray &a)
{
    return hasHttpOk(a.constData(), a.size());
}

// Whether the answer's status line says 401: the device refused the login.
bool isUnauthorized(const char *data, qsizetype length);

// Offset just behind the blank line that ends an answer's header, or -1.
qsizetype headerEnd(const QByteArray &a);

} // namespace httprequest
