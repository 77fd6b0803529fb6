#include "device/httprequest.h"

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

StatusLine statusLine(const char *data, qsizetype length)
{
    static const char kHttp[] = "HTTP/1.";
    const qsizetype n = sizeof kHttp - 1;
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    StatusLine line;
    if (!data || length < n + 5 || std::memcmp(data, kHttp, size_t(n)) != 0 || !digit(data[n]) || data[n + 1] != ' ')
        return line;
    const char *code = data + n + 2;
    if (!digit(code[0]) || !digit(code[1]) || !digit(code[2]))
        return line;
    if (length > n + 5 && code[3] != ' ' && code[3] != '\r' && code[3] != '\n')
        return line;
    line.minor = data[n] - '0';
    line.code = (code[0] - '0') * 100 + (code[1] - '0') * 10 + (code[2] - '0');
    return line;
}

bool hasHttpOk(const char *data, qsizetype length)
{
    const StatusLine line = statusLine(data, length);
    return line.minor == 0 && line.code == 200;
}

bool isUnauthorized(const char *data, qsizetype length)
{
    return statusLine(data, length).code == 401;
}

qsizetype headerEnd(const QByteArray &a)
{
    int i = a.indexOf("\r\n\r\n");
    return i < 0 ? -1 : i + 4;
}

} // namespace httprequest
