#include "device/httprequest.h"

#include <algorithm>
#include <cstring>

namespace httprequest {

QByteArray basicCredentials(const QString &user, const QString &password)
{
    return (user + QLatin1Char(':') + password).toLatin1().toBase64();
}

QByteArray liveStream(int stream, const QString &user, const QString &password)
{
    return QByteArray("GET /action/stream?subject=liveplay&stream=") + QByteArray::number(stream) +
           " HTTP/1.0\r\nAuthorization: Basic " + basicCredentials(user, password) +
           "\r\nConnection: Keep-Alive \r\nContent-length: -497391300\r\n\r\n";
}

QByteArray alarmNotify(const QString &user, const QString &password)
{
    return QByteArray("POST /action/alarm?subject=notify HTTP/1.0\r\nAuthorization: Basic ") +
           basicCredentials(user, password) + "\r\nConnection: Keep-Alive \r\nContent-length: 0\r\n\r\n";
}

QByteArray audioTalk(const QString &user, const QString &password)
{
    return QByteArray("POST /action/stream?subject=audiotalk HTTP/1.0 \r\nAuthorization: Basic ") +
           basicCredentials(user, password) + "\r\nConnection: Keep-Alive \r\nContent-Length: 0\r\n\r\n";
}

bool hasHttpOk(const char *data, qsizetype length)
{
    static const char kOk[] = "HTTP/1.0 200";
    const qsizetype n = sizeof kOk - 1;
    if (!data || length < n)
        return false;
    return std::search(data, data + length, kOk, kOk + n) != data + length;
}

bool isUnauthorized(const char *data, qsizetype length)
{
    // "HTTP/1.x 401", whichever minor version the device answers with.
    static const char kHttp[] = "HTTP/1.";
    const qsizetype n = sizeof kHttp - 1;
    return data && length >= n + 5 && std::memcmp(data, kHttp, size_t(n)) == 0 &&
           std::memcmp(data + n + 1, " 401", 4) == 0;
}

qsizetype headerEnd(const QByteArray &a)
{
    int i = a.indexOf("\r\n\r\n");
    return i < 0 ? -1 : i + 4;
}

} // namespace httprequest
