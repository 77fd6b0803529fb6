#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The session and audio/video channel calls through which the P2P device
// reaches a camera by its identifier. Linux has no P2P service, so this layer
// carries every session over a TCP connection to a loopback endpoint that an
// identifier registry names; only the loopback test device answers. Every
// call may be made from any thread.
//
// An AV index is session id * 32 + channel.

namespace p2p {

// Results the P2P device tells apart.
constexpr int kOk = 0;
constexpr int kErrNoData = -20012;       // no frame queued yet
constexpr int kErrFrameLost = -20013;    // a frame was lost before this one; nothing delivered
constexpr int kErrFrameTooBig = -20014;  // the frame did not fit the buffer and was dropped
constexpr int kErrSessionLost = -20015;  // the peer closed the connection, or the transport failed
constexpr int kErrChannelEnded = -20016; // the peer ended this AV channel
constexpr int kErrClosedHere = -14;      // closed by this process

// Results of our own; the device treats them as "any other negative".
constexpr int kErrNotInitialised = -30001;
constexpr int kErrAlreadyInitialised = -30002;
constexpr int kErrInvalidArgument = -30003;
constexpr int kErrUnknownIdentifier = -30004;
constexpr int kErrUnreachable = -30005;
constexpr int kErrWrongCredentials = -30006;
constexpr int kErrNoFreeSlot = -30007;
constexpr int kErrTimeout = -30008;

constexpr int kMaxSessions = 128;
constexpr int kChannelsPerSession = 32;
constexpr int kFrameInfoSize = 16;
constexpr int kMaxIoCtrlSize = 1024;
constexpr int kMaxAudioFrame = 1024;

// Codec ids carried in the frame information.
constexpr int kCodecH264 = 78;
constexpr int kCodecH265 = 80;
constexpr int kCodecAac = 136;
constexpr int kCodecMuLaw = 137;
constexpr int kCodecALaw = 138;
constexpr int kCodecPcm = 140;
constexpr int kCodecMp2 = 142;
constexpr int kCodecG726 = 143;

// Frame information flags.
constexpr int kVideoKeyFrame = 0x01;
constexpr int kAudioStereo = 0x01;
constexpr int kAudio16Bit = 0x02;

// 16-byte frame information, little-endian, as it travels with every frame.
struct FrameInfo
{
    uint16_t codec = 0;
    uint8_t flags = 0;
    uint8_t frameRate = 0;
    uint32_t timestampMs = 0;

    void write(unsigned char *out16) const;
    static FrameInfo read(const unsigned char *in16);
};

// What IOTC_Session_Check reports about a session.
struct P2pSessionInfo
{
    std::string uid;
    std::string endpoint; // "127.0.0.1:PORT"
};

// Judges the account and password the device presents when it opens a talk
// channel; non-zero accepts.
typedef int (*P2pAuthFn)(const char *account, const char *password);

// Test hooks: the shared initialisation and anything left open.
struct Stats
{
    bool initialised = false;
    int initialiseCount = 0;
    int deinitialiseCount = 0;
    int sessions = 0;       // session slots taken
    int channels = 0;       // client channels started and not stopped
    int talkChannels = 0;   // talk channels accepted and not stopped
    size_t queuedBytes = 0; // received payload waiting in every channel's queues
};
Stats stats();

// Identifiers the layer can reach: in-process entries first, then the file
// named by ARDO_P2P_REGISTRY ("UID 127.0.0.1:PORT" per line, '#' comments),
// read again at every connect. Only 127.0.0.0/8 endpoints are accepted.
class Registry
{
public:
    static void add(const std::string &uid, int port, const std::string &host = "127.0.0.1");
    static void remove(const std::string &uid);
    static void clear();
    // Endpoint of a uid; false when no entry names it.
    static bool lookup(const std::string &uid, std::string *host, int *port);
};

} // namespace p2p

int IOTC_Initialize2(int udpPort);
int IOTC_DeInitialize();
int avInitialize(int maxChannels);
int avDeInitialize();

int IOTC_Get_SessionID();
int IOTC_Connect_ByUID_Parallel(const char *uid, int sessionId);
int IOTC_Session_Check(int sessionId, p2p::P2pSessionInfo *info);
int IOTC_Session_Get_Free_Channel(int sessionId);
int IOTC_Session_Close(int sessionId);

int avClientStart(int sessionId, const char *account, const char *password, int timeoutMs, uint32_t *serviceType,
                  int channel);
int avClientStop(int avIndex);
int avRecvIOCtrl(int avIndex, unsigned int *type, char *buffer, int bufferSize, int timeoutMs);
int avSendIOCtrl(int avIndex, unsigned int type, const char *payload, int size);
int avRecvFrameData2(int avIndex, char *buffer, int bufferSize, int *actualSize, int *expectedSize, char *frameInfo,
                     int frameInfoSize, int *frameInfoActual, unsigned int *frameNumber);
int avRecvAudioData(int avIndex, char *buffer, int bufferSize, char *frameInfo, int frameInfoSize,
                    unsigned int *frameNumber);

int avServStart3(int sessionId, p2p::P2pAuthFn auth, int timeoutSec, uint32_t serviceType, int channel, int *resend);
int avServStop(int avIndex);
int avSendAudioData(int avIndex, const char *data, int size, const char *frameInfo, int frameInfoSize);
