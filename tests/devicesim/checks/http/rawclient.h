#pragma once

#include <QByteArray>

// A blocking client on a plain socket, so that a test sees exactly the bytes
// the device sent and how the connection ended (close or reset).
struct RawReply
{
    enum End { Closed, Reset, TimedOut, ConnectFailed };
    QByteArray bytes;
    End end = Closed;
    int reads = 0;           // recv calls that returned data
    qint64 firstByteMs = -1; // time from the end of sending to the first byte
};

// Sends the request (one byte per send when byteByByte), then reads until the
// device closes or resets the connection or timeoutMs pass without it.
RawReply rawExchange(quint16 port, const QByteArray &request, int timeoutMs = 3000, bool byteByByte = false,
                     const char *address = "127.0.0.1");
