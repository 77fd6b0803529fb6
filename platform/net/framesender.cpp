#include "platform/net/framesender.h"

#include "platform/net/tcpclient.h"

#include <cerrno>

namespace platform {

long long FrameSender::write(const char *data, size_t length)
{
    const ssize_t n = m_socket.send(data, length);
    if (n >= 0)
        return n;
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS ? 0 : -1;
}

FrameSender::Result FrameSender::send(const void *frame, size_t length)
{
    if (!m_rest.empty()) {
        const long long n = write(m_rest.data(), m_rest.size());
        if (n < 0)
            return Failed;
        m_rest.erase(0, size_t(n));
        if (!m_rest.empty()) {
            ++m_dropped;
            return Dropped;
        }
    }
    const auto *bytes = static_cast<const char *>(frame);
    const long long n = write(bytes, length);
    if (n < 0)
        return Failed;
    if (n == 0 && length > 0) {
        ++m_dropped;
        return Dropped;
    }
    m_rest.assign(bytes + n, length - size_t(n));
    return Sent;
}

} // namespace platform
