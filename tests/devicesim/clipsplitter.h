#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

namespace devicesim {

// One access unit of an Annex-B clip, as the device sends it in one frame.
struct AccessUnit
{
    QByteArray bytes;
    bool key = false;
};

// Cuts an Annex-B clip into access units: a unit begins at a parameter set,
// access unit delimiter or prefix SEI that follows a picture's slices, or at
// a slice whose first-slice flag is set. Units with an IDR (H.264) or IRAP
// (H.265) picture are key units.
QVector<AccessUnit> splitAccessUnits(const QByteArray &clip, bool h265);

// ADTS frames of an AAC stream, cut at each frame's own length.
QVector<QByteArray> splitAdts(const QByteArray &stream);

} // namespace devicesim
