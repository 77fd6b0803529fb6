#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include "http.h"

namespace devicesim {

// One part of a multipart/form-data body.
struct FormPart
{
    QString name;
    QString fileName;
    QByteArray contentType;
    HeaderList headers;
    QByteArray data;
};

// Splits a multipart/form-data body by the boundary of its Content-Type
// header; false when the header has no boundary or the body is not framed by it.
bool parseMultipart(const QByteArray &contentType, const QByteArray &body, QList<FormPart> *parts, QString *error);

} // namespace devicesim
