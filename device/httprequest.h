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

// An answer's status line: "HTTP/1.<minor> <code>", the code's three digits
// ended by a blank, the line's end or the end of what came. Both -1 when the
// answer does not begin with one. Only this line judges an answer: a header
// line further on may hold any text, a status line of its own included.
struct StatusLine
{
    int minor = -1;
    int code = -1;
};
StatusLine statusLine(const char *data, qsizetype length); // binary-safe
inline StatusLine statusLine(const QByteArray &a)
{
    return statusLine(a.constData(), a.size());
}

// Whether the status line is "HTTP/1.0 200": the device took the request.
bool hasHttpOk(const char *data, qsizetype length);
inline bool hasHttpOk(const QByteArray &a)
{
    return hasHttpOk(a.constData(), a.size());
}

// Whether the status line says 401, whichever minor version the device
// answers with: the device refused the login.
bool isUnauthorized(const char *data, qsizetype length);

// Offset just behind the blank line that ends an answer's header, or -1.
qsizetype headerEnd(const QByteArray &a);

} // namespace httprequest
