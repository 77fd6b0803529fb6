#include "media/qcvideomuxer.h"

#include "media/codecids.h"
#include "media/qcframebuffer.h"
#include "media/qcrecordfile.h"
#include "media/recordfileguard.h"
#include "media/recordindex.h"
#include "media/recordlog.h"
#include "media/recordnames.h"
#include "platform/clock.h"

#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

namespace {

constexpr qint64 kJumpMs = 5000;
constexpr qint64 kMaxSequenceStep = 2000;
// The stream client wraps its timestamps at its own midnight, up to a few
// seconds before the computer's date changes: that step back is a new day,
// not a clock set back.
constexpr qint64 kLateInDay = 86390000;
constexpr qint64 kEarlyInDay = 10000;
constexpr int kRecoveryRetryMs = 300;
// The longest a stream leaves between two pictures (1 fps): sound stamped
// farther before the picture that follows it is not where the file starts.
constexpr qint64 kPictureGapMs = 1000;

bool isVideo(uint32_t type)
{
    return type >= 1 && type <= 3;
}

// A recording that ended because a write failed, a full disk above all, or
// whose listing in reclist failed: the operator sees a file shorter than its
// schedule, or one the playback cannot find. A fault that lasts would end
// every recording of the folder the same way: a full disk is told when it
// begins and ends, any other fault once until a recording of the folder
// ends well again.
void tellEnd(const QString &top, const QString &path, int writeError, qint64 recordedMs, bool listed)
{
    const QString faultKey = QStringLiteral("record ended: ") + recordindex::folderOf(path);
    if (writeError < 0 && listed) {
        recordlog::faultGone(faultKey);
        return;
    }
    QString what;
    if (writeError >= 0)
        what = QStringLiteral("%1; the recording ended after %2 s, the rest of it is not recorded")
                   .arg(writeError == ENOSPC ? QStringLiteral("the disk is full")
                                             : QStringLiteral("a write failed (%1)").arg(qt_error_string(writeError)))
                   .arg(recordedMs / 1000);
    if (!listed)
        what += (what.isEmpty() ? QString() : QStringLiteral("; ")) +
                QStringLiteral("it is not listed in reclist, so the playback does not find it");
    // A list record the full disk took is one more thing it cut.
    if (writeError == ENOSPC || (writeError < 0 && recordlog::diskFull(top))) {
        recordlog::cutByFullDisk(top, path, what);
        return;
    }
    const QString fault = writeError >= 0 ? QString::number(writeError) : QStringLiteral("not listed");
    if (!recordlog::abnormalOnce(faultKey, fault, QStringLiteral("record ended"), QFileInfo(path).dir().dirName(),
                                 path + QStringLiteral(": ") + what))
        qWarning().noquote() << "record ended:" << path + ':' << what;
}

// Whatever stands under the final name stays as it is, a link above all.
void tellNotRenamed(const QString &started, const QString &finalPath, int error)
{
    const QString why = error == EEXIST
                            ? QStringLiteral("%1 is taken").arg(finalPath)
                            : QStringLiteral("it cannot be renamed to %1 (%2)").arg(finalPath, qt_error_string(error));
    recordlog::abnormalOnce(QStringLiteral("record not renamed"), started, QStringLiteral("record file not renamed"),
                            QFileInfo(started).dir().dirName(), started + QStringLiteral(" keeps its name: ") + why);
}

} // namespace

qcVideoMuxer::qcVideoMuxer() : m_work(new char[kWorkBufferSize]) {}

qcVideoMuxer::~qcVideoMuxer()
{
    stop();
    wait();
    // The run held this until it returned: a join that ThreadSanitizer sees,
    // as it does not see QThread::wait, before the work buffer goes.
    std::lock_guard<std::mutex> joined(m_runMutex);
}

bool qcVideoMuxer::setRecordParams(const QString &top, const QString &fileName, int kind, int stream, int lengthSec,
                                   int preSec, int postSec, qint64 readSequence)
{
    if (fileName.size() < kMinNameLength || kind < recordnames::kKindTiming || kind > recordnames::kKindOther ||
        (stream != 0 && stream != 1) || lengthSec < 60 || lengthSec > 1800 || preSec < 0 || preSec > 3 || postSec < 0 ||
        postSec > 3)
        return false;
    {
        std::lock_guard<std::mutex> lock(m_nameMutex);
        m_fileName = fileName;
    }
    m_top = top;
    m_kind = kind;
    m_stream = stream;
    m_length = lengthSec;
    m_pre = preSec;
    m_post = postSec;
    m_readSequence = readSequence;
    updateReady();
    return true;
}

void qcVideoMuxer::setStreamInfo(int audioCodec, int audioRate, int channels, int videoCodec, int width, int height,
                                 int frameRate, bool hasAudio, int decoderChoice)
{
    m_audioCodec = audioCodec;
    m_audioRate = audioRate;
    m_channels = channels;
    m_videoCodec = videoCodec;
    m_width = width;
    m_height = height;
    m_frameRate = frameRate;
    m_hasAudio = hasAudio;
    m_decoder = decoderChoice;
}

bool qcVideoMuxer::setFrameBuffer(qcFrameBuffer *buffer)
{
    if (!buffer)
        return false;
    m_buffer = buffer;
    updateReady();
    return true;
}

void qcVideoMuxer::updateReady()
{
    std::lock_guard<std::mutex> lock(m_nameMutex);
    m_ready = m_buffer && m_fileName.size() >= kMinNameLength;
}

void qcVideoMuxer::stop()
{
    m_stop.requestStop();
}

QString qcVideoMuxer::fileName() const
{
    std::lock_guard<std::mutex> lock(m_nameMutex);
    return m_fileName;
}

bool qcVideoMuxer::readAfter(int64_t position, Frame *frame, char *dst, int framesBack)
{
    if (const FrameHandOver::Frame *held = m_held ? m_held->after(position) : nullptr) {
        std::memcpy(dst, held->payload.constData(), size_t(held->payload.size()));
        *frame = {uint32_t(held->payload.size()), held->type, held->timestamp, held->sequence};
        return true;
    }
    int64_t seq = position;
    if (!m_buffer->readFrame(dst, kWorkBufferSize, &frame->length, &frame->type, &frame->timestamp, &seq, framesBack,
                             false, -1))
        return false;
    frame->sequence = seq;
    return true;
}

// Whether the frame buffer still holds the last frame handed over, the very
// one (its stamp too), so that this file goes on from it without a hole. One
// that dropped it, or numbers its frames anew (the stream was lost, or its
// format changed), holds another or none: the hand-over is stale.
bool qcVideoMuxer::handOverGoesOn()
{
    const FrameHandOver::Frame *last = m_held->last();
    if (!last)
        return false;
    Frame frame;
    int64_t seq = last->sequence - 1;
    return m_buffer->readFrame(m_work.get(), kWorkBufferSize, &frame.length, &frame.type, &frame.timestamp, &seq, -1,
                               false, -1) &&
           seq == last->sequence && frame.timestamp == last->timestamp;
}

bool qcVideoMuxer::readFirst(Frame *frame, int frameRate)
{
    const int framesBack = m_pre * frameRate;
    if (m_held && handOverGoesOn()) {
        // Frames the bound took from the front are lost: the file starts with
        // the key frame the kept ones start with.
        m_readSequence = std::max<int64_t>(m_readSequence, m_held->first()->sequence - 1);
        if (m_held->dropped() == 0)
            recordlog::handOverWhole(fileName());
    } else if (m_held) {
        // An empty one (the wait's bound took all) was told by the file before.
        if (m_held->count() > 0)
            recordlog::handOverLost(fileName(),
                                    QStringLiteral("%1 frames the file before kept for this one no longer go on in "
                                                   "the stream and were dropped")
                                        .arg(m_held->count()));
        m_held.reset();
    }
    // A stream that has only just started may hold no key frame yet: the
    // first one is awaited as long as a running recording waits for frames.
    // The frames of a day's last seconds are recorded like any others; where
    // the date changes the file ends and the next one goes on.
    for (int empty = 0;;) {
        const bool ok = readAfter(m_readSequence, frame, m_work.get(), framesBack);
        // The resume point of an interrupted recording may be long gone when
        // the next one starts (an alarm an hour later): start fresh instead.
        if (!ok && m_readSequence >= 0 && m_buffer->positionLost(m_readSequence, kWorkBufferSize)) {
            m_readSequence = -1;
            continue;
        }
        if (ok) {
            setReadPosition(frame->sequence);
            return true;
        }
        if (++empty >= kMaxEmptyReads || !m_stop.sleepFor(m_timing.emptyReadPauseMs))
            return false;
    }
}

bool qcVideoMuxer::readNext(Frame *frame, bool *endNow)
{
    int empty = 0;
    // The frames handed over are done with once read.
    if (m_held && frame->sequence >= m_held->last()->sequence)
        m_held.reset();
    for (;;) {
        Frame next;
        if (readAfter(frame->sequence, &next, m_work.get())) {
            const int64_t seq = next.sequence;
            if (seq == frame->sequence)
                continue;
            if (seq < frame->sequence || seq - frame->sequence > kMaxSequenceStep || m_stop.stopRequested())
                return false;
            *frame = next;
            setReadPosition(next.sequence);
            return true;
        }
        // The stream was lost and its frame buffer emptied before this
        // recorder read all it held: those pictures are this file's still.
        if (std::unique_ptr<FrameHandOver> tail = takeTail()) {
            if (tail->after(frame->sequence)) {
                m_held = std::move(tail);
                continue;
            }
        }
        // The frame after ours was evicted: the recording has a hole there,
        // so this file ends.
        if (m_buffer->positionLost(frame->sequence, kWorkBufferSize))
            return false;
        if (!m_stop.sleepFor(m_timing.emptyReadPauseMs))
            return false;
        if (++empty >= kMaxEmptyReads) {
            *endNow = true;
            return false;
        }
    }
}

struct qcVideoMuxer::Written
{
    QString folder;
    QFile kfindex;
    // This recording's key-frame records, to check them against kfindex
    // when the recording is listed.
    QByteArray keys;
    _st_reclist_item item;
    qint64 lastVideo = 0;
    qint64 lastIndexed = 0;
    bool video = false;
    bool firstKey = true;
};

bool qcVideoMuxer::writeVideo(qcRecordFile *file, Written *w, const char *data, const Frame &frame, qint64 stamp)
{
    static const int kCodes[] = {0, qcRecordFile::kCodeKey, qcRecordFile::kCodeType2, qcRecordFile::kCodeType3};
    const qint64 offset = file->writeOffset();
    if (!file->writeVideoFrame(data, int(frame.length), kCodes[frame.type], uint64_t(stamp)))
        return false;
    // Indexed only once it is in the file whole, so the index never
    // points at a frame that is not there.
    if (frame.type == 1 && recordindex::indexesKeyFrame(w->firstKey, stamp, w->lastIndexed)) {
        if (w->kfindex.isOpen()) {
            _st_kfindex_item k;
            k.timestamp = uint64_t(stamp);
            k.offset = uint64_t(offset);
            const QByteArray bytes = k.toBytes();
            recordindex::FolderLocker lock(w->folder);
            if (recordindex::appendBytes(w->kfindex.handle(), bytes)) {
                ++w->item.kfindexCount;
                w->keys += bytes;
            }
        }
        w->lastIndexed = stamp;
        if (w->firstKey)
            w->item.start = uint32_t(stamp);
        w->firstKey = false;
    }
    w->item.payloadBytes += frame.length;
    w->lastVideo = stamp;
    w->video = true;
    m_day.written(stamp);
    return true;
}

bool qcVideoMuxer::writeSound(qcRecordFile *file, Written *w, const char *data, const Frame &frame)
{
    if (!file->writeAudioFrame(data, int(frame.length), frame.timestamp))
        return false;
    w->item.payloadBytes += frame.length;
    return true;
}

// The pictures from the last key frame up to the file's first record, which
// the previous file holds already, go first with the file's start stamp: a
// decoder needs them, and the file keeps to the day of its own frames. Their
// sound is not repeated. The sound received after them, up to `frame`, the
// file's first picture, follows them: a player starts at that key frame.
void qcVideoMuxer::writeLeadIn(qcRecordFile *file, Written *w, int64_t firstRecord, const Frame &frame, qint64 start)
{
    // Frames handed over start with these pictures when there are any.
    const int64_t key = m_held ? m_held->first()->sequence : m_buffer->keyBefore(firstRecord);
    // The work buffer holds the frame that waits to be written.
    std::unique_ptr<char[]> record(new (std::nothrow) char[kWorkBufferSize]);
    if (!record)
        return;
    for (int64_t seq = (key >= 0 && key < firstRecord ? key : firstRecord) - 1; seq + 1 < frame.sequence;) {
        Frame r;
        if (!readAfter(seq, &r, record.get()) || r.sequence != seq + 1) {
            // Pictures the decoder would need are gone: the sound still goes.
            if (seq + 1 >= firstRecord)
                return;
            seq = firstRecord - 1;
            continue;
        }
        seq = r.sequence;
        const bool ok = seq < firstRecord ? !isVideo(r.type) || writeVideo(file, w, record.get(), r, start)
                                          : r.type != 4 || writeSound(file, w, record.get(), r);
        if (!ok)
            return;
    }
}

// Takes the frames after *position out of the frame buffer into `held`, as
// many as there are. False when the buffer does not go on from *position: its
// next frame was dropped, or it numbers its frames anew.
bool qcVideoMuxer::collect(FrameHandOver *held, int64_t *position)
{
    for (;;) {
        Frame frame;
        if (!readAfter(*position, &frame, m_work.get()))
            return !m_buffer->positionLost(*position, kWorkBufferSize);
        if (frame.sequence != *position + 1)
            return false;
        held->hold(m_work.get(), frame.length, frame.type, frame.timestamp, frame.sequence);
        *position = frame.sequence;
    }
}

// The stream passed midnight a little ahead of the computer's clock: the
// next file is made once the date has turned, in the new day's folder, so
// no file of the old day holds pictures of the new one. The stream client
// keeps within a second of the clock (StreamClock); a clock that does not
// move is not waited for longer. Meanwhile the frame buffer goes on dropping its oldest
// frames, and may hold fewer seconds than the wait lasts: the frames from
// the first of the new day (`cut`) on, and the pictures since the key frame
// before it that the next file starts with, are taken out of it for that
// file. A stop drops them.
std::unique_ptr<FrameHandOver> qcVideoMuxer::awaitTheDate(int64_t cut)
{
    auto held = std::make_unique<FrameHandOver>(kHandOverBytes);
    const int64_t key = m_buffer->decodeStart(cut);
    int64_t position = (key >= 0 && key < cut ? key : cut) - 1;
    QElapsedTimer waited;
    waited.start();
    bool follows = true;
    do {
        follows = follows && collect(held.get(), &position);
    } while (!m_day.leftTheDay() && waited.elapsed() < kEarlyInDay && m_stop.sleepFor(m_timing.emptyReadPauseMs));
    if (m_stop.stopRequested())
        return nullptr;
    if (held->dropped() > 0)
        recordlog::handOverLost(fileName(),
                                QStringLiteral("waiting for the date, %1 frames (%2 bytes) of the next file "
                                               "beyond the %3 MiB kept for it were dropped")
                                    .arg(held->dropped())
                                    .arg(held->droppedBytes())
                                    .arg(kHandOverBytes >> 20));
    return held;
}

// A file made on the new date whose first frame is of the old day's last
// seconds goes into the old day's folder: listed with that day's recordings,
// where the playback looks for those seconds, and never taken for one dated
// ahead of the clock. Where it cannot go there it stays where it was made.
QString qcVideoMuxer::nameStart(qcRecordFile *file, qint64 stamp)
{
    const QDate day = m_day.firstFrame(stamp);
    if (recordnames::folderDay(recordindex::folderOf(m_fileName)) == day.addDays(1)) {
        const QString filed = recordnames::startName(recordnames::inDayFolder(m_fileName, day), stamp);
        if (recordfileguard::makeFolder(m_top, recordindex::folderOf(filed)) && file->renameTo(filed))
            return filed;
    }
    const QString started = recordnames::startName(m_fileName, stamp);
    return file->renameTo(started) ? started : QString();
}

void qcVideoMuxer::run()
{
    std::lock_guard<std::mutex> running(m_runMutex);
    if (!m_ready)
        return;
    // A recording that cannot start still ends: whoever asked for it (an
    // operator's record button above all) hears that nothing was recorded.
    const auto notStarted = [this] {
        m_held.reset();
        emit sigCompleted(QString());
    };
    // The recording belongs to the day its file is made on: a day that turns
    // while the first frames are awaited already ends it.
    m_day.start();
    m_held = takeHandOver();
    auto file = std::make_unique<qcRecordFile>(qcRecordFile::kWriter);
    // The file is created only anew: one a crash left under this name is
    // finalised or deleted first, as the start-up repair does.
    recordindex::FirstNameClaim claim(m_fileName);
    if (!claim.held()) {
        recordlog::cannotStart(m_fileName, QStringLiteral("another recording is starting under this name"));
        notStarted();
        return;
    }
    if (!file->create(m_top, m_fileName) &&
        !(recordindex::clearLeftover(m_top, m_fileName) && file->create(m_top, m_fileName))) {
        recordlog::cannotStart(m_fileName, QFileInfo::exists(m_fileName)
                                               ? QStringLiteral("a file that is not a recording holds its name")
                                               : QStringLiteral("the file cannot be created"));
        notStarted();
        return;
    }

    const int legacyAudio = m_hasAudio ? media::codecids::legacyIdFromAudio(m_audioCodec) : 0;
    const bool hasAudio = legacyAudio != 0;

    int fps = int(m_buffer->frameRate());
    QElapsedTimer waited;
    waited.start();
    while (fps < 1) {
        if (m_stop.stopRequested() || waited.elapsed() >= m_timing.frameRateGiveUpMs) {
            file->remove();
            if (!m_stop.stopRequested())
                recordlog::cannotStart(m_fileName, QStringLiteral("the stream tells no frame rate"));
            notStarted();
            return;
        }
        m_stop.sleepFor(m_timing.frameRatePollMs);
        fps = int(m_buffer->frameRate());
    }
    if ((hasAudio && !file->setAudioParams(legacyAudio, m_audioRate, m_channels)) ||
        !file->setVideoParams(m_videoCodec, m_width, m_height, m_stream, m_kind, fps, m_decoder)) {
        file->remove();
        recordlog::cannotStart(m_fileName, QStringLiteral("the stream's codecs cannot be recorded"));
        notStarted();
        return;
    }
    Frame frame;
    bool read = readFirst(&frame, fps);
    const int64_t firstRecord = frame.sequence;
    bool leadIn = read && continuesAfterCut() && m_readSequence >= 0 && firstRecord == m_readSequence + 1;
    // A file that goes on from another may begin with the sound that came
    // after the other's last picture: it is written after the lead-in, and
    // the file starts where that sound does, so that it plays.
    qint64 firstTs = qint64(frame.timestamp);
    for (bool emptied = false; read && leadIn && !isVideo(frame.type);)
        read = readNext(&frame, &emptied);
    if (!read) {
        file->remove();
        if (!m_stop.stopRequested())
            recordlog::cannotStart(m_fileName, QStringLiteral("no picture came from the device"));
        notStarted();
        return;
    }
    if (frame.sequence > firstRecord)
        firstTs = qBound(qMax<qint64>(0, qint64(frame.timestamp) - kPictureGapMs), firstTs, qint64(frame.timestamp));
    qDebug().noquote() << "Start Record TS:" << platform::localNow().toString("hh:mm:ss") << "  Target TS:" << firstTs
                       << "   Sequence Number:" << firstRecord;
    const QString started = nameStart(file.get(), firstTs);
    if (started.isEmpty()) {
        file->remove();
        recordlog::cannotStart(m_fileName, QStringLiteral("the file cannot be given its start time"));
        notStarted();
        return;
    }
    claim.release();
    recordlog::started(m_fileName);
    {
        std::lock_guard<std::mutex> lock(m_nameMutex);
        m_fileName = started;
    }

    Written w;
    w.folder = recordindex::folderOf(started);
    const QString &folder = w.folder;
    QFile &kfindex = w.kfindex;
    _st_reclist_item &item = w.item;
    item.hasAudio = hasAudio ? 1 : 0;
    item.frameRate = uint8_t(m_frameRate);
    item.kindFlags = recordnames::reclistKindFlags(m_kind);
    if (!folder.isEmpty()) {
        recordindex::FolderLocker lock(folder);
        // The offset is where this recording's first record goes.
        recordindex::cutTornTails(m_top, folder);
        if (recordindex::indexWritable(m_top, folder) &&
            recordfileguard::open(m_top, kfindex, recordindex::kfindexPath(folder),
                                  QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
            item.kfindexOffset = uint32_t(kfindex.size());
    }

    // The files before this one of the same recording took their share.
    const qint64 limit = qint64(m_length + m_pre + m_post) * 1000 - recordedBefore();
    qint64 T = 0;
    const qint64 &lastWritten = w.lastVideo;
    const bool &wroteVideo = w.video;
    bool first = true;
    bool recover = false;
    qint64 restart = 0;
    int writeError = -1; // none failed
    for (;;) {
        if (m_stop.stopRequested())
            break;
        // The next recording starts with this frame, the first of the new
        // date; none is lost or filed twice.
        if (!m_day.holds(qint64(frame.timestamp))) {
            emit sigDateChange(frame.sequence - 1);
            break;
        }
        const bool video = isVideo(frame.type);
        if (video)
            T = qint64(frame.timestamp);
        if (video && wroteVideo && lastWritten > T) {
            if (lastWritten >= kLateInDay && T < kEarlyInDay) {
                setHandOver(awaitTheDate(frame.sequence));
                emit sigDateChange(frame.sequence - 1);
                break;
            }
            restart = T;
            recover = true;
            // The frame that shows the jump starts the next file.
            emit sigInterruptSeq(frame.sequence - 1);
            break;
        }
        if (video && wroteVideo && !first && qAbs(T - lastWritten) > kJumpMs) {
            emit sigInterruptSeq(frame.sequence - 1);
            break;
        }
        bool ok = true;
        if (frame.type == 4) {
            ok = writeSound(file.get(), &w, m_work.get(), frame);
        } else if (video) {
            if (leadIn && (frame.type != 1 || frame.sequence > firstRecord))
                writeLeadIn(file.get(), &w, firstRecord, frame, firstTs);
            leadIn = false;
            ok = writeVideo(file.get(), &w, m_work.get(), frame, T);
        }
        if (!ok) {
            writeError = file->lastWriteError();
            if (writeError == ENOSPC)
                recordindex::reportLowSpace();
            break;
        }
        if (first && m_afterFirst)
            m_afterFirst(file.get());
        first = false;
        if (wroteVideo && T - firstTs > limit) {
            emit sigLengthUsed(frame.sequence);
            break;
        }
        bool emptied = false;
        if (!readNext(&frame, &emptied))
            break;
    }
    m_held.reset();
    file->flush();
    file.reset();
    if (wroteVideo)
        setRecordedMs(recordedBefore() + qMax<qint64>(0, lastWritten - firstTs));

    // The end is always the last video frame that is in the file.
    if (!wroteVideo || lastWritten == 0) {
        // Nothing to play back: leave no file and no index record behind.
        recordfileguard::remove(m_top, started);
        if (kfindex.isOpen() && item.kfindexCount) {
            recordindex::FolderLocker lock(folder);
            if (kfindex.size() == qint64(item.kfindexOffset + item.kfindexCount * _st_kfindex_item::kSize))
                kfindex.resize(item.kfindexOffset);
        }
        kfindex.close();
        emit sigCompleted(QString());
        return;
    }
    const QString finalPath = recordnames::finalName(started, lastWritten);
    const bool renamed = recordfileguard::rename(m_top, started, finalPath);
    if (!renamed)
        tellNotRenamed(started, finalPath, errno);
    const QString path = renamed ? finalPath : started;
    {
        std::lock_guard<std::mutex> lock(m_nameMutex);
        m_fileName = path;
    }
    item.end = recordindex::listEnd(item.start, lastWritten);
    item.name = QFileInfo(path).fileName();
    if (!kfindex.isOpen())
        item.kfindexOffset = _st_reclist_item::kNoIndex;
    qDebug().noquote() << "========End ts:" << lastWritten << "=========";
    // reclist is opened only now: the disk guard replaces it when it rewrites
    // it. A file it moved away meanwhile is not listed.
    const bool listed = folder.isEmpty() || recordindex::listRecording(m_top, folder, path, item, w.keys);
    if (!listed)
        recordindex::reportLowSpace();
    tellEnd(m_top, path, writeError, lastWritten - firstTs, listed);
    kfindex.close();
    if (recover && !folder.isEmpty() && !recordindex::recoverAfterJump(m_top, folder, restart, item.name)) {
        m_stop.sleepFor(kRecoveryRetryMs);
        recordindex::recoverAfterJump(m_top, folder, restart, item.name);
    }
    emit sigCompleted(renamed ? finalPath : started);
}
