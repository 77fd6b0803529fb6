#include "rawclient.h"

#include <QElapsedTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

RawReply rawExchange(quint16 port, const QByteArray &request, int timeoutMs, bool byteByByte, const char *address)
{
    RawReply reply;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    ::inet_pton(AF_INET, address, &sa.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
        ::close(fd);
        reply.end = RawReply::ConnectFailed;
        return reply;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (byteByByte) {
        for (char c : request) {
            ::send(fd, &c, 1, MSG_NOSIGNAL);
            ::usleep(200);
        }
    } else {
        ::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL);
    }
    QElapsedTimer clock;
    clock.start();
    char buf[65536];
    for (;;) {
        const qint64 left = timeoutMs - clock.elapsed();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, int(left)) == 0) {
            reply.end = RawReply::TimedOut;
            break;
        }
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n > 0) {
            if (reply.firstByteMs < 0)
                reply.firstByteMs = clock.elapsed();
            reply.bytes.append(buf, int(n));
            ++reply.reads;
            continue;
        }
        reply.end = (n < 0 && errno == ECONNRESET) ? RawReply::Reset : RawReply::Closed;
        break;
    }
    ::close(fd);
    return reply;
}
