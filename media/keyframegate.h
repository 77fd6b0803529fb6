#pragma once

#include <QByteArray>

#include <cstdint>
#include <deque>
#include <functional>

// The start of a live stream for a decoder that opens some time after the
// stream: nothing before the first key picture is passed on (a decoder
// given pictures before it has only errors to show until the next key
// picture), and from the first key picture on the pictures are kept, in
// order, until the decoder is ready, then handed over ahead of the next one.
// A picture the receiver refuses leaves a gap that every later picture up to
// the next key picture depends on: those go too. Kept pictures are bounded
// in bytes; beyond the bound the keeping starts again at the next key
// picture. One thread at a time.
class KeyFrameGate
{
public:
    // Takes one picture; false refuses it (full, or not ready after all).
    using Receiver = std::function<bool(const uint8_t *data, int length)>;

    explicit KeyFrameGate(qint64 maxKeptBytes) : m_maxKept(maxKeptBytes) {}

    // One picture of the stream; ready says whether the receiver takes
    // pictures now.
    void push(const uint8_t *data, int length, bool key, bool ready, const Receiver &receiver);
    // A new stream: wait for its first key picture again.
    void reset();

    qint64 keptBytes() const { return m_keptBytes; }
    int keptPictures() const { return int(m_kept.size()); }

private:
    enum class State { WaitingForKey, Keeping, Passing };
    bool hand(const uint8_t *data, int length, const Receiver &receiver);

    const qint64 m_maxKept;
    State m_state = State::WaitingForKey;
    std::deque<QByteArray> m_kept;
    qint64 m_keptBytes = 0;
};
