#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVector>

#include <functional>
#include <memory>

// The loopback test device reached by identifier: a listener on a loopback
// address that serves one or more identifiers over the P2P layer's framing.
// Its framing code is its own, so a layout mistake cannot hide in both ends.
namespace devicesim {

struct P2pUnit
{
    QByteArray bytes; // one access unit, 4-byte start codes
    bool key = false;
};

// Access units of an Annex-B clip; parameter sets open each key unit.
QVector<P2pUnit> p2pSplitUnits(const QByteArray &annexB, bool h265);
QVector<P2pUnit> p2pLoadClip(const QString &path, bool h265);

struct P2pMedia
{
    enum Audio { NoAudio, MuLaw, ALaw, Pcm, G726, Aac };

    int videoCodec = 78;        // 78 H.264, 80 H.265
    QVector<P2pUnit> mainUnits; // quality 2
    QVector<P2pUnit> subUnits;  // quality 3; empty: the main units
    Audio audio = MuLaw;
    QByteArray g726;         // 32 kbit/s G.726 (4 bits a sample) for G726
    QByteArray adts;         // ADTS stream for Aac
    int audioRateIndex = -1; // -1: the codec's own (0, AAC 3)
};

struct P2pFaults
{
    int startOffset = 0;            // first unit sent after 0x1FF (mid-GOP when not a key unit)
    int videoDelayMs = 0;           // video starts this long after 0x1FF (audio does not wait)
    int dropAfterFrames = -1;       // close the connection after N video frames
    int endChannelAfterFrames = -1; // end channel 0 after N video frames
    int stallAfterFrames = -1;      // then send no video for stallMs
    int stallMs = 0;
    bool stallAudio = false;  // audio pauses with the video
    int frameLostBefore = -1; // FRAME_LOST ahead of video frame N
    int hugeFrameAt = -1;     // video frame N is a non-key unit of hugeFrameSize bytes
    int hugeFrameSize = 0;
    int zeroSpsAtKey = -1;      // the Nth key frame (0 = first) carries a zeroed SPS
    int switchAfterFrames = -1; // at the next key frame after N frames switch to switchUnits
    QVector<P2pUnit> switchUnits;
    int switchCodec = 0;            // 0 keeps the codec
    bool audioChange = false;       // the audio flags change after the first audio frame
    bool unknownIdentifier = false; // answer UNKNOWN to HELLO
    bool neverAnswerAuth = false;
    bool neverAnswerInfo = false; // no reply to 0x3000000E
    bool neverOpenTalk = false;
    bool refuseTalk = false; // answer 0x350 by ending the talk channel
    bool endChannelAfterAuth = false;
    // After the sign-in, floodRounds rounds of audio and IO-control messages
    // of floodSize bytes on channel 0 and on channel 7 (never opened), and
    // video on channel 7, each filled with its round number; then it closes.
    int floodRounds = 0;
    int floodSize = 0;
};

struct P2pEvent
{
    int session = 0;
    int kind = 0; // wire kind
    int channel = 0;
    quint32 ioType = 0;
    QByteArray payload;
    QByteArray info; // 16 bytes for talk audio
};

class P2pDevice
{
public:
    P2pDevice();
    ~P2pDevice();
    P2pDevice(const P2pDevice &) = delete;
    P2pDevice &operator=(const P2pDevice &) = delete;

    void addIdentity(const QString &uid, const QString &account, const QString &password, const P2pMedia &media = {},
                     const P2pFaults &faults = {});
    void setPassword(const QString &uid, const QString &password);
    void setFaults(const QString &uid, const P2pFaults &faults);

    // Loopback addresses only; port 0 picks a free one.
    bool start(const QString &address = QStringLiteral("127.0.0.1"), int port = 0, QString *error = nullptr);
    void stop();
    int port() const;
    QString address() const;

    // Appends or replaces "UID ADDRESS:PORT" lines for every identity.
    bool writeRegistry(const QString &path, QString *error = nullptr) const;

    // On command, for every open session.
    void dropSessions();
    void endChannels();

    int sessionsOpened() const;
    int sessionsClosed() const;
    int videoFramesSent() const;
    QList<P2pEvent> events() const;
    // Index in events() of the first event of that kind, on that channel and
    // of that IO-control type where given; -1 when there is none.
    int eventIndex(int kind, int channel = -1, qint64 ioType = -1) const;
    QList<quint32> ioTypes(int session = -1) const; // IO-control types received, in order
    QList<QByteArray> ioPayloads(quint32 type) const;
    QList<P2pEvent> talkFrames() const;
    // The dominant frequency of the talk audio received so far (16-bit PCM).
    int talkFrequency() const;
    bool waitFor(const std::function<bool()> &predicate, int timeoutMs) const;
    // The units the device sends for a quality, as sent (for comparisons).
    QVector<P2pUnit> units(const QString &uid, int quality = 2) const;

    // Lines describing what the device received (the program prints them).
    void setLineObserver(std::function<void(const QByteArray &)> observer);

    struct Private;

private:
    std::unique_ptr<Private> d;
};

// The program's P2P mode: true when args ask for it; *rc is its exit code.
bool runP2pProgram(const QStringList &args, int *rc);

} // namespace devicesim
