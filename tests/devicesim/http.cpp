#include "http.h"

#include <QUrl>

namespace devicesim {

QByteArray findHeader(const HeaderList &headers, const QByteArray &name)
{
    for (const auto &h : headers)
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    return {};
}

QByteArray Request::header(const QByteArray &name) const
{
    return findHeader(headers, name);
}

bool Request::hasHeader(const QByteArray &name) const
{
    for (const auto &h : headers)
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

QList<QPair<QString, QString>> Request::queryItems() const
{
    QList<QPair<QString, QString>> items;
    if (query.isEmpty())
        return items;
    for (const QByteArray &part : query.split('&')) {
        if (part.isEmpty())
            continue;
        const int eq = part.indexOf('=');
        QByteArray k = eq < 0 ? part : part.left(eq);
        QByteArray v = eq < 0 ? QByteArray() : part.mid(eq + 1);
        k.replace('+', ' ');
        v.replace('+', ' ');
        items.append({QUrl::fromPercentEncoding(k), QUrl::fromPercentEncoding(v)});
    }
    return items;
}

QString Request::queryValue(const QString &name) const
{
    for (const auto &item : queryItems())
        if (item.first == name)
            return item.second;
    return {};
}

QString Request::subjectKey() const
{
    const auto items = queryItems();
    QString key;
    bool found = false;
    for (const auto &item : items) {
        if (item.first == QLatin1String("subject") && !found) {
            key = item.second;
            found = true;
        }
    }
    if (!found)
        return {};
    bool skippedSubject = false;
    for (const auto &item : items) {
        if (item.first == QLatin1String("subject") && !skippedSubject) {
            skippedSubject = true;
            continue;
        }
        key += QLatin1Char('&') + item.first + QLatin1Char('=') + item.second;
    }
    return key;
}

QString Request::action() const
{
    const int slash = path.lastIndexOf('/');
    return QString::fromLatin1(slash < 0 ? path : path.mid(slash + 1));
}

RequestReader::State RequestReader::fail(int status, const QString &why)
{
    m_errorStatus = status;
    m_error = why;
    m_state = Failed;
    return m_state;
}

bool RequestReader::parseHead(const QByteArray &head)
{
    QList<QByteArray> lines = head.split('\n');
    for (QByteArray &l : lines)
        if (l.endsWith('\r'))
            l.chop(1);
    const QList<QByteArray> parts = lines.value(0).split(' ');
    if (parts.size() < 2 || parts[0].isEmpty() || parts[1].isEmpty()) {
        fail(400, QStringLiteral("bad request line"));
        return false;
    }
    m_request.method = parts[0];
    m_request.target = parts[1];
    m_request.version = parts.value(2);
    const int q = m_request.target.indexOf('?');
    m_request.path = q < 0 ? m_request.target : m_request.target.left(q);
    m_request.query = q < 0 ? QByteArray() : m_request.target.mid(q + 1);
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray &l = lines[i];
        if (l.isEmpty())
            continue;
        const int colon = l.indexOf(':');
        if (colon <= 0) {
            fail(400, QStringLiteral("bad header line"));
            return false;
        }
        m_request.headers.append({l.left(colon).trimmed(), l.mid(colon + 1).trimmed()});
    }
    return true;
}

bool RequestReader::takeBodyBytes()
{
    const qint64 take = qMin<qint64>(m_remaining, m_buffer.size());
    m_request.body += m_buffer.left(int(take));
    m_buffer.remove(0, int(take));
    m_remaining -= take;
    return m_remaining == 0;
}

RequestReader::State RequestReader::feed(const QByteArray &bytes)
{
    if (m_state == Failed)
        return m_state;
    m_buffer += bytes;
    for (;;) {
        switch (m_state) {
        case Head: {
            int end = m_buffer.indexOf("\r\n\r\n");
            int sep = 4;
            const int bare = m_buffer.indexOf("\n\n");
            if (bare >= 0 && (end < 0 || bare < end)) {
                end = bare;
                sep = 2;
            }
            if (end < 0) {
                if (m_buffer.size() > MaxHeadBytes)
                    return fail(431, QStringLiteral("request head too large"));
                return m_state;
            }
            if (end > MaxHeadBytes)
                return fail(431, QStringLiteral("request head too large"));
            if (!parseHead(m_buffer.left(end)))
                return m_state;
            m_buffer.remove(0, end + sep);
            if (m_request.header("Transfer-Encoding").toLower().contains("chunked")) {
                m_request.chunked = true;
                m_state = ChunkSize;
                break;
            }
            bool ok = false;
            const qint64 length = m_request.header("Content-Length").toLongLong(&ok);
            // A negative or missing length means no body (the stream requests
            // of the device's own clients send a negative one).
            if (!ok || length <= 0) {
                m_state = Done;
                break;
            }
            if (length > MaxBodyBytes)
                return fail(413, QStringLiteral("body too large"));
            m_remaining = length;
            m_state = Body;
            break;
        }
        case Body:
            if (!takeBodyBytes())
                return m_state;
            m_state = Done;
            break;
        case ChunkSize: {
            const int nl = m_buffer.indexOf('\n');
            if (nl < 0) {
                if (m_buffer.size() > 1024)
                    return fail(400, QStringLiteral("bad chunk size line"));
                return m_state;
            }
            QByteArray line = m_buffer.left(nl).trimmed();
            m_buffer.remove(0, nl + 1);
            const int semi = line.indexOf(';');
            if (semi >= 0)
                line.truncate(semi);
            bool ok = false;
            const qint64 size = line.trimmed().toLongLong(&ok, 16);
            if (!ok || size < 0)
                return fail(400, QStringLiteral("bad chunk size"));
            if (m_request.body.size() + size > MaxBodyBytes)
                return fail(413, QStringLiteral("body too large"));
            m_remaining = size;
            m_state = size == 0 ? Trailer : ChunkData;
            break;
        }
        case ChunkData:
            if (!takeBodyBytes())
                return m_state;
            m_state = ChunkEnd;
            break;
        case ChunkEnd: {
            const int nl = m_buffer.indexOf('\n');
            if (nl < 0) {
                if (m_buffer.size() > 2)
                    return fail(400, QStringLiteral("chunk not followed by a line end"));
                return m_state;
            }
            if (!m_buffer.left(nl).trimmed().isEmpty())
                return fail(400, QStringLiteral("chunk not followed by a line end"));
            m_buffer.remove(0, nl + 1);
            m_state = ChunkSize;
            break;
        }
        case Trailer: {
            const int nl = m_buffer.indexOf('\n');
            if (nl < 0) {
                if (m_buffer.size() > MaxHeadBytes)
                    return fail(431, QStringLiteral("trailer too large"));
                return m_state;
            }
            const bool blank = m_buffer.left(nl).trimmed().isEmpty();
            m_buffer.remove(0, nl + 1);
            if (blank)
                m_state = Done;
            break;
        }
        case Done:
        case Failed:
            return m_state;
        }
    }
}

QByteArray RequestReader::takeRest()
{
    QByteArray rest;
    rest.swap(m_buffer);
    return rest;
}

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 100:
        return "Continue";
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 409:
        return "Conflict";
    case 413:
        return "Payload Too Large";
    case 415:
        return "Unsupported Media Type";
    case 416:
        return "Range Not Satisfiable";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

QByteArray formatResponse(int status, const QByteArray &body, const QByteArray &contentType, const HeaderList &extra,
                          const QByteArray &version)
{
    QByteArray out = version + ' ' + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    out += "Content-Type: " + contentType + "\r\n";
    out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    out += "Connection: close\r\n";
    for (const auto &h : extra)
        out += h.first + ": " + h.second + "\r\n";
    out += "\r\n";
    out += body;
    return out;
}

bool decodeBasic(const QByteArray &authorization, QString *userColonPassword)
{
    const QByteArray value = authorization.trimmed();
    if (!value.startsWith("Basic ") && !value.startsWith("basic "))
        return false;
    const auto decoded =
        QByteArray::fromBase64Encoding(value.mid(6).trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return false;
    *userColonPassword = QString::fromLatin1(*decoded);
    return true;
}

} // namespace devicesim
