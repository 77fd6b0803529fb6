#pragma once

// The picture sizes a preview stream player announces, collected on the
// test's thread. The player emits them on its stream client's thread: a
// QSignalSpy appends there, beside the test's reads, and its wait() counts
// only what comes after the wait began. On a loaded machine the first size
// can come while the test thread is still on its way to the wait, which then
// sits out its whole time and fails although the size came.

#include "media/qcstreamplayer.h"

#include <QList>
#include <QObject>
#include <QSize>
#include <QTest>

namespace mediatest {

class AnnouncedSizes
{
public:
    explicit AnnouncedSizes(qcStreamPlayer *player)
    {
        QObject::connect(
            player, &qcStreamPlayer::sigVideoratio, &m_receiver, [this](int w, int h) { sizes.append(QSize(w, h)); },
            Qt::QueuedConnection);
    }
    // Whether `count` sizes are there (those taken off the list not
    // counted) within `ms`.
    bool waitFor(int count, int ms)
    {
        return QTest::qWaitFor([&] { return sizes.size() >= count; }, ms);
    }

    QList<QSize> sizes;

private:
    QObject m_receiver;
};

} // namespace mediatest
