#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The replies of the live page's PTZ and image panels read as the values
// the panels show and send back. A reply that does not give every value a
// panel shows is not read at all: a panel shows none of it and sends nothing
// on its strength. The body has passed xmlreply::usableBody.
namespace panelreplies {

// Saturation, brightness, sharpness, contrast and mirror, in this order.
constexpr int kImageValues = 5;
constexpr int kMirror = 4;
extern const char *const kImageElements[kImageValues];

struct ImageReading
{
    int value[kImageValues] = {};
    // The texts as the device sent them, which the panel shows.
    QString text[kImageValues];
    // The reply with its root "response" renamed "request", printed as the
    // panel sends it back.
    QByteArray document;
};

// Each of the five a decimal number the panel can show: 0 to 100, the mirror
// 0 to 3.
bool readImage(const QByteArray &body, ImageReading *out);

struct PtzReading
{
    int speed = 0;
    // Address, baud rate, data bits, stop bits, parity and flow control,
    // which a speed change sends back; valid only when all six were numbers.
    int serial[6] = {};
    bool serialRead = false;
    // The names of the rows from the first, empty for an unset preset; none
    // when the reply has no preset list.
    QStringList presets;
};

// The speed a decimal number; the serial settings and presets as far as
// the reply has them.
bool readPtz(const QByteArray &body, int maxPresets, PtzReading *out);

} // namespace panelreplies
