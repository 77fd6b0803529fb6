#pragma once

#include <QAudio>
#include <QByteArray>

#include <functional>

// What the playback loop uses of an audio output in push mode.
class qcAudioSink
{
public:
    virtual ~qcAudioSink() = default;
    virtual bool start(int bufferSize) = 0;
    virtual int bytesFree() = 0;
    virtual qint64 write(const char *data, qint64 length) = 0;
    virtual QAudio::State state() = 0;
    virtual void setVolume(qreal volume) = 0;
    // Drops what the output holds and goes on playing what is written next.
    virtual void clear() = 0;
    virtual void stop() = 0;
};

// Between the decoder and the output: decoded samples (signed 16-bit mono
// at 8 kHz) wait here until the output has room. The output's own buffer is
// the fill the output is kept at, so each pass writes whatever it takes.
// What waits here is bounded: a stream that delivers faster than the output
// plays (a burst after a network stall, a clock that runs fast) loses its
// oldest samples rather than letting the sound trail the picture.
class qcAudioFeed
{
public:
    static constexpr int kBytesPerMs = 16;

    // backlogBytes: what may wait here beyond the output's own buffer.
    explicit qcAudioFeed(int backlogBytes) : m_bound(backlogBytes) {}

    // Appends decoded samples; the oldest beyond the bound are dropped.
    void add(const QByteArray &pcm);
    // One pass: takes every record `decode` still has (false when none is
    // left; a record that gives no sound leaves pcm empty), bounds the
    // backlog and writes what the output takes. Returns the bytes written.
    int pass(const std::function<bool(QByteArray *)> &decode, qcAudioSink &sink);
    // Writes what the output takes now; returns the bytes written.
    int feed(qcAudioSink &sink);
    // Sound off: nothing waiting, nothing in the output.
    void clear(qcAudioSink *sink);

    int backlogBytes() const { return m_backlog.size(); }
    // Samples dropped for the bound since the start, in bytes.
    qint64 droppedBytes() const { return m_dropped; }

private:
    int m_bound;
    QByteArray m_backlog;
    QByteArray m_pcm;
    qint64 m_dropped = 0;
};
