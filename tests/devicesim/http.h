#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

namespace devicesim {

using HeaderList = QList<QPair<QByteArray, QByteArray>>;

// The first header of that name (case-insensitive), or an empty array.
QByteArray findHeader(const HeaderList &headers, const QByteArray &name);

// One HTTP request as it came off the wire.
struct Request
{
    QByteArray method;
    QByteArray target; // path and query as sent
    QByteArray path;
    QByteArray query; // without the '?'
    QByteArray version;
    HeaderList headers; // in arrival order, names as sent
    QByteArray body;    // decoded (chunked bodies joined)
    bool chunked = false;

    // First header of that name (case-insensitive), or an empty array.
    QByteArray header(const QByteArray &name) const;
    bool hasHeader(const QByteArray &name) const;
    // Query items decoded from percent-encoding, in their order.
    QList<QPair<QString, QString>> queryItems() const;
    QString queryValue(const QString &name) const;
    // "subject[&k=v...]": the subject first, then the other query items in
    // their order; empty without a subject.
    QString subjectKey() const;
    // "get" for "/action/get"; the last path segment otherwise.
    QString action() const;
};

// Reads one request from bytes arriving in arbitrary pieces: the head up to
// the blank line, then the body by Content-Length or chunked encoding.
// Bytes after the end of the request stay in the reader (see takeRest()).
class RequestReader
{
public:
    enum State { Head, Body, ChunkSize, ChunkData, ChunkEnd, Trailer, Done, Failed };

    static constexpr int MaxHeadBytes = 64 * 1024;
    static constexpr qint64 MaxBodyBytes = 64LL * 1024 * 1024;

    // Returns the state after consuming what it can of the new bytes.
    State feed(const QByteArray &bytes);
    State state() const { return m_state; }
    bool headDone() const { return m_state != Head && m_state != Failed; }
    const Request &request() const { return m_request; }
    // Why the reader failed, and the status that fits (400, 413, 431).
    QString error() const { return m_error; }
    int errorStatus() const { return m_errorStatus; }
    // Bytes received after the request's end (a handler that takes the
    // connection over gets them).
    QByteArray takeRest();

private:
    State fail(int status, const QString &why);
    // Moves up to m_remaining buffered bytes into the body; true when none remain.
    bool takeBodyBytes();
    bool parseHead(const QByteArray &head);

    State m_state = Head;
    QByteArray m_buffer;
    Request m_request;
    qint64 m_remaining = 0;
    QString m_error;
    int m_errorStatus = 0;
};

// Reason phrase for a status code ("OK", "Not Found"...); "Status" when unknown.
QByteArray reasonPhrase(int status);

// A complete answer: status line, Content-Type, Content-Length,
// "Connection: close", the extra headers, a blank line and the body.
QByteArray formatResponse(int status, const QByteArray &body, const QByteArray &contentType = "text/xml",
                          const HeaderList &extra = {}, const QByteArray &version = "HTTP/1.0");

// Decodes "Basic <base64>" into the Latin-1 text "user:password"; false when
// the header is not Basic or the base64 is broken.
bool decodeBasic(const QByteArray &authorization, QString *userColonPassword);

} // namespace devicesim
