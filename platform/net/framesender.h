#pragma once

#include <cstddef>
#include <string>

namespace platform {

class TcpClient;

// Sends frames of a byte stream whose receiver finds each frame by the length
// in the one before it, over a socket that must never block. A frame that
// starts on the wire has to end there before any later frame, or every
// frame after it is misread. So a frame the socket takes no byte of is
// dropped, and the rest of a frame the socket took in part is kept and goes
// out first, while the frames that come meanwhile are dropped.
class FrameSender
{
public:
    enum Result { Sent, Dropped, Failed };

    explicit FrameSender(TcpClient &socket) : m_socket(socket) {}

    // Sent once the frame is on its way (whole, or its rest kept to follow);
    // Failed on a connection error such as a reset or a closed peer.
    Result send(const void *frame, size_t length);
    int dropped() const { return m_dropped; }

private:
    // Bytes the socket took now; -1 on a connection error.
    long long write(const char *data, size_t length);

    TcpClient &m_socket;
    std::string m_rest;
    int m_dropped = 0;
};

} // namespace platform
