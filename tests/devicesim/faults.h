#pragma once

#include <QByteArray>
#include <QString>

namespace devicesim {

struct Request;

// A way for the device to misbehave on a request. The kinds that shape the
// answer (MalformedStatus, Delay, Stall, Cut, Trickle, Interim100) apply to
// whatever the handler answers; the others replace the answer.
struct Fault
{
    enum Kind {
        Status,
        MalformedStatus,
        Delay,
        Stall,
        Trickle,
        LargeBody,
        Drop,
        Reset,
        Garbage,
        Interim100,
        Silent,
        Cut
    };

    Kind kind = Status;
    int code = 500;     // Status
    QByteArray body;    // Status: the body sent with it
    int delayMs = 0;    // Delay
    int chunkBytes = 0; // Trickle
    int everyMs = 0;    // Trickle
    qint64 size = 0;    // LargeBody

    static Fault status(int code, const QByteArray &body = {});
    static Fault malformedStatus();
    static Fault delay(int ms);
    static Fault stall();
    static Fault trickle(int bytes, int everyMs);
    static Fault largeBody(qint64 bytes);
    static Fault drop();
    static Fault reset();
    static Fault garbage();
    static Fault interim100();
    static Fault silent();
    // The head and the first half of the body, then the connection closes.
    static Fault cut();

    bool replacesAnswer() const;
    QString describe() const;

    // The bytes LargeBody sends: byte i is i mod 251.
    static QByteArray pattern(qint64 size);
    // What Garbage sends before closing.
    static QByteArray garbageBytes();

    // Parses the command line form MODE[/N]: "500", "status:404",
    // "malformed", "delay:3000", "stall", "trickle:BYTES:MS", "large:BYTES",
    // "drop", "reset", "garbage", "interim100", "silent", "cut"; "/N" limits the
    // fault to the next N requests (always otherwise).
    static bool parse(const QString &text, Fault *fault, int *times, QString *error);
};

// Which requests a fault applies to: "*" (all), a path ("/action/upload"),
// "ACTION:KEY" ("set:sample", "get:*") or a subject key alone ("sample").
// A key matches the whole subject key or the subject without its extra keys.
bool faultMatches(const QString &match, const Request &request);

} // namespace devicesim
