#pragma once

// A camera whose clock is off the computer's the ways real ones are: it runs
// fast or slow, its stamps jitter, it wavers to and fro, and a time service
// sets it back now and then. Header only; the same model drives the stream
// client alone and the whole recording road.

#include <QMetaType>
#include <QtGlobal>

#include <cmath>
#include <cstdint>

namespace testsupport {

struct DriftingCamera
{
    qint64 first = 20000000; // the camera's stamp of picture 0
    int spacing = 40;        // between pictures, on the computer's clock
    double rate = 1.0;       // the camera's clock against the computer's
    int jitter = 0;          // each stamp off by up to this either way
    int waver = 0;           // the clock off by this, alternately either way,
    int waverEvery = 1;      // for so many pictures at a time
    int setBack = 0;         // and set back by this
    int setBackEvery = 1;    // every so many pictures

    // The stamp of picture i; the same on every run.
    qint64 stamp(int i) { return stampAfter(i, 0); }
    // The camera's clock `after` ms past picture i (on the computer's clock):
    // the stamp of sound sent with that picture.
    qint64 stampAfter(int i, int after)
    {
        const qint64 drifted = first + qint64(std::llround((double(spacing) * i + after) * rate));
        return drifted + noise() + ((i / waverEvery) % 2 ? waver : -waver) - qint64(setBack) * (i / setBackEvery);
    }

private:
    quint32 m_x = 2463534242u;
    int noise()
    {
        m_x ^= m_x << 13;
        m_x ^= m_x >> 17;
        m_x ^= m_x << 5;
        return jitter ? int(m_x % quint32(2 * jitter + 1)) - jitter : 0;
    }
};

} // namespace testsupport

Q_DECLARE_METATYPE(testsupport::DriftingCamera)
