#include "multipart.h"

namespace devicesim {

static QByteArray parameter(const QByteArray &header, const QByteArray &name)
{
    for (QByteArray part : header.split(';')) {
        part = part.trimmed();
        const int eq = part.indexOf('=');
        if (eq < 0 || part.left(eq).trimmed().toLower() != name)
            continue;
        QByteArray v = part.mid(eq + 1).trimmed();
        if (v.size() >= 2 && v.startsWith('"') && v.endsWith('"'))
            v = v.mid(1, v.size() - 2);
        return v;
    }
    return {};
}

bool parseMultipart(const QByteArray &contentType, const QByteArray &body, QList<FormPart> *parts, QString *error)
{
    if (!contentType.trimmed().toLower().startsWith("multipart/form-data")) {
        *error = QStringLiteral("not multipart/form-data");
        return false;
    }
    const QByteArray boundary = parameter(contentType, "boundary");
    if (boundary.isEmpty()) {
        *error = QStringLiteral("no boundary");
        return false;
    }
    const QByteArray delimiter = "--" + boundary;
    int pos = body.indexOf(delimiter);
    if (pos < 0) {
        *error = QStringLiteral("boundary not found");
        return false;
    }
    QList<FormPart> out;
    for (;;) {
        pos += delimiter.size();
        if (body.mid(pos, 2) == "--") {
            *parts = out;
            return true;
        }
        if (body.mid(pos, 2) != "\r\n") {
            *error = QStringLiteral("bad delimiter line");
            return false;
        }
        pos += 2;
        const int headEnd = body.indexOf("\r\n\r\n", pos);
        if (headEnd < 0) {
            *error = QStringLiteral("part head not ended");
            return false;
        }
        FormPart part;
        for (const QByteArray &line : body.mid(pos, headEnd - pos).split('\n')) {
            const QByteArray l = line.trimmed();
            const int colon = l.indexOf(':');
            if (colon <= 0)
                continue;
            part.headers.append({l.left(colon).trimmed(), l.mid(colon + 1).trimmed()});
            const QByteArray name = l.left(colon).trimmed().toLower();
            const QByteArray value = l.mid(colon + 1).trimmed();
            if (name == "content-disposition") {
                part.name = QString::fromUtf8(parameter(value, "name"));
                part.fileName = QString::fromUtf8(parameter(value, "filename"));
            } else if (name == "content-type") {
                part.contentType = value;
            }
        }
        const int dataStart = headEnd + 4;
        const int next = body.indexOf("\r\n" + delimiter, dataStart);
        if (next < 0) {
            *error = QStringLiteral("closing boundary missing");
            return false;
        }
        part.data = body.mid(dataStart, next - dataStart);
        out.append(part);
        pos = next + 2;
    }
}

} // namespace devicesim
