#pragma once

// What the suites of the recording road share: the stream service with a
// record root of its own and devices behind fake P2P front ends, the record
// files it leaves, and a device's stream fed through the real stream client
// on the fake clock. Header only, for the suites that link media.

#include "device/streamparser.h"
#include "media/qcrecordfile.h"
#include "media/qcstreamserver.h"
#include "media/recordindex.h"
#include "platform/clock.h"
#include "streamfakes.h"
#include "tests/device/common/frames.h"

#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>

namespace recordingsuite {

using namespace streamfakes;

const QString kP2P = QStringLiteral("LOOPP2P");

struct Service
{
    QTemporaryDir dir;
    P2PFactoryScope p2p;
    RecorderFactoryScope recorders;
    qcStreamServer server;
    explicit Service(bool root = true, int captureCount = 1)
    {
        // Units whose address names them offline never connect.
        p2p.configure = [](FakeP2PStream *s) { s->connected = !s->address.contains("99"); };
        if (root)
            server.setLocalConfig(dir.path(), dir.path(), 60, 1, 2, 1, 5, 30, captureCount, 1);
    }
    void add(const QStringList &addresses)
    {
        int i = 1;
        for (const QString &a : addresses)
            server.addDevice(a, "0", "cam" + a, "u", "p", kP2P, i++);
    }
    QStringList recording(int kind) const
    {
        QStringList out;
        for (ScriptedRecorder *r : recorders.made)
            if (r->kind == kind)
                out << r->fileName.section('/', -2, -2);
        return out;
    }
};

// The record files below root, in name order (day folders first).
inline QStringList recordFiles(const QString &root)
{
    QStringList out;
    for (QDirIterator it(root, {"*.zmf"}, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
        out << it.next();
    out.sort();
    return out;
}

// Whether a record file below root ends with the picture stamped `stamp`.
inline bool recordedUpTo(const QString &root, qint64 stamp)
{
    const QStringList files = recordFiles(root);
    return std::any_of(files.cbegin(), files.cend(),
                       [&](const QString &f) { return recordindex::summarise(recordio::scan(f)).lastVideo == stamp; });
}

// A picture's payload: its number, padded to 200 bytes.
inline QByteArray numbered(int n)
{
    return QByteArray::number(n).leftJustified(200, '.');
}

// The numbered pictures of a record file, in file order.
inline QList<int> picturesIn(const QString &path)
{
    QList<int> out;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return out;
    for (const RecordScanEntry &e : recordio::scan(path).records) {
        if (e.type == 0)
            continue;
        file.seek(e.offset + _st_recframe_header::kSize);
        out << file.read(200).split('.').first().toInt();
    }
    return out;
}

// A device's main stream as the stream client receives it: each picture and
// sound frame goes through the real client onto the unit; the stamps the
// client gave the pictures are kept, with the clock when it did.
struct ClientFeed
{
    FakeP2PStream *device;
    platform::FakeClock *clock;
    QList<qint64> stamps;
    QList<qint64> clocks;
    int keyEvery = 25; // pictures from one key frame to the next
    int stream = 0;    // the device's main stream (0) or its sub stream (1)
    StreamFrameParser client{&ClientFeed::take, this, [this] { return int64_t(clock->msecsOfDay()); }};

    ClientFeed(FakeP2PStream *device, platform::FakeClock *clock) : device(device), clock(clock) {}
    ClientFeed(const ClientFeed &) = delete;
    ClientFeed &operator=(const ClientFeed &) = delete;
    // Picture n, stamped t by the camera (a key frame every keyEvery); false
    // when the client did not take it whole.
    bool picture(int n, qint64 t) { return scan(frames::frame(n % keyEvery ? 2 : 1, numbered(n), uint64_t(t))); }
    // Sound frame n, stamped t by the camera.
    bool sound(int n, qint64 t) { return scan(frames::frame(3, numbered(n), uint64_t(t))); }

private:
    bool scan(const QByteArray &bytes)
    {
        return client.scan(reinterpret_cast<const unsigned char *>(bytes.constData()), bytes.size()) == bytes.size();
    }
    static void take(const unsigned char *data, int length, int kind, int subkind, qint64 ts, void *user)
    {
        auto *feed = static_cast<ClientFeed *>(user);
        if (kind == KindVideo) {
            feed->stamps << ts;
            feed->clocks << feed->clock->msecsOfDay();
        }
        feed->device->deliver(feed->stream, QByteArray(reinterpret_cast<const char *>(data), length), kind, subkind,
                              ts);
    }
};

} // namespace recordingsuite
