#include "media/keyframegate.h"

void KeyFrameGate::reset()
{
    m_kept.clear();
    m_keptBytes = 0;
    m_state = State::WaitingForKey;
}

bool KeyFrameGate::hand(const uint8_t *data, int length, const Receiver &receiver)
{
    if (receiver(data, length))
        return true;
    reset();
    return false;
}

void KeyFrameGate::push(const uint8_t *data, int length, bool key, bool ready, const Receiver &receiver)
{
    if (!data || length < 1)
        return;
    if (m_state == State::WaitingForKey) {
        if (!key)
            return;
        m_state = State::Keeping;
    }
    if (m_state == State::Keeping) {
        if (!ready) {
            if (m_keptBytes + length > m_maxKept) {
                // Start again from this picture when it is a key picture
                // that fits on its own.
                reset();
                if (!key || length > m_maxKept)
                    return;
                m_state = State::Keeping;
            }
            m_kept.emplace_back(reinterpret_cast<const char *>(data), length);
            m_keptBytes += length;
            return;
        }
        while (!m_kept.empty()) {
            const QByteArray picture = std::move(m_kept.front());
            m_kept.pop_front();
            m_keptBytes -= picture.size();
            if (!hand(reinterpret_cast<const uint8_t *>(picture.constData()), int(picture.size()), receiver)) {
                // The refused picture's followers cannot be decoded; this
                // one can only when it starts afresh.
                if (key)
                    push(data, length, key, ready, receiver);
                return;
            }
        }
        m_state = State::Passing;
    }
    hand(data, length, receiver);
}
