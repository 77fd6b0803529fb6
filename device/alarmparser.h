#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Cuts the XML messages a device pushes on its alarm connection out of the
// bytes as they arrive and turns them into alarm codes. Each call scans on
// from where the last one stopped, so a device that trickles its messages a
// byte at a time costs what the same bytes cost at once. A message that never
// closes is given up at the next message start (an XML declaration, or a
// start tag named like its own root element); bytes that form no message
// within the capacity are dropped. A comment or CDATA section that never
// closes is given up the same way: at a declaration inside it, or at a whole
// element named like the root (its start tag is then where the next message
// begins).
class AlarmParser
{
public:
    // Most bytes held of a message that is not complete yet.
    static constexpr int kCapacity = 10240;

    // Topic text to alarm code (64 for anything not listed).
    static int topicCode(const QString &topic);
    // The code of one message: status "1" and a topic; -1 otherwise.
    static int alarmCode(const QByteArray &message);

    // The complete messages the new bytes finish, in order.
    QList<QByteArray> takeMessages(const char *data, int size);
    QList<QByteArray> takeMessages(const QByteArray &bytes) { return takeMessages(bytes.constData(), bytes.size()); }
    // The codes of the alarms among them.
    QList<int> feed(const char *data, int size);
    QList<int> feed(const QByteArray &bytes) { return feed(bytes.constData(), bytes.size()); }

    // Bytes held of a message not complete yet.
    QByteArray pending() const { return m_buffer; }
    // How many times bytes were dropped for want of a complete message.
    int dropped() const { return m_dropped; }
    // Work done so far: bytes looked at, moved and handed to the XML parser.
    qint64 steps() const { return m_steps; }

private:
    void scan(QList<QByteArray> *out);
    void closeTag(int end, QList<QByteArray> *out);
    void openMessage(int start, int nameEnd, int end, bool empty, QList<QByteArray> *out);
    void compact();
    void reset();
    void skipped(int i);
    bool nameAt(int at, int end) const;

    enum class Skip { None, Comment, CData };

    QByteArray m_buffer;
    int m_pos = 0;  // next byte to look at
    int m_tag = -1; // the '<' of a tag not closed yet
    Skip m_skip = Skip::None;
    int m_skipTag = -1;   // the last '<' inside the skipped section
    int m_restart = -1;   // the first start tag named like the root inside it
    int m_rescanned = -1; // the end of the bytes last scanned a second time
    int m_message = -1;   // the '<' of the open message's root element
    int m_rootName = 0;   // offset and length of that element's name
    int m_rootNameSize = 0;
    int m_depth = 0;
    int m_dropped = 0;
    qint64 m_steps = 0;
};
