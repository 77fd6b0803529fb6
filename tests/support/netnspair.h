#pragma once

#include <QString>

namespace testsupport {

// Two network namespaces of the test's own joined by a veth pair, 192.0.2.1
// in the first and 192.0.2.2 in the second (a documentation range): real
// addresses and a link the test can drop, with nothing leaving the
// namespaces. Needs root and iproute2; ok() tells, error() says why not.
class NetnsPair
{
public:
    explicit NetnsPair(const QString &tag);
    ~NetnsPair();
    NetnsPair(const NetnsPair &) = delete;
    NetnsPair &operator=(const NetnsPair &) = delete;

    bool ok() const { return m_ok; }
    QString error() const { return m_error; }
    static QString address(int side) { return side == 0 ? QStringLiteral("192.0.2.1") : QStringLiteral("192.0.2.2"); }

    // Moves the calling thread (only it) into the namespace of side 0 or 1.
    bool enter(int side) const;
    // Takes the second side's end of the link down or up again: the first
    // side's packets then go nowhere, and nobody closes anything.
    bool setLinkUp(bool up);

private:
    bool ip(const QStringList &args);

    QString m_names[2];
    QString m_links[2];
    bool m_ok = false;
    QString m_error;
};

} // namespace testsupport
