#pragma once

#include <QString>
#include <QtGlobal>

#include <cstdint>

// The type text of a device reached by P2P identifier, as the device list
// stores it. Every place that picks the P2P path compares with this.
constexpr const char kP2pProtocolName[] = "TUTK";

// What a P2P device knows about its stream; eight signed 32-bit values.
struct P2pMediaInfo
{
    int32_t videoCodec = 0; // 17 H.264, 18 H.265, 16 other
    int32_t width = 0;
    int32_t height = 0;
    int32_t frameRate = 0;  // 6..59, else -1
    int32_t audioCodec = 0; // 19..24; 16 none or unsupported; 0 before the first audio frame
    int32_t sampleRate = 0;
    int32_t bitsPerSample = 0;
    int32_t channels = 0;
};
static_assert(sizeof(P2pMediaInfo) == 32, "media information is 32 bytes");

// Device status codes given to the status callback.
enum P2pDeviceStatus {
    P2pConnectFailed = 6,
    P2pConnected = 7,
    P2pLost = 8,
    P2pSendFailed = 10,
    P2pStreamStarted = 11,
    P2pFormatChanged = 13,
};

// Frame types of the video callback.
constexpr int kP2pKeyFrame = 0x20;
constexpr int kP2pOtherFrame = 0x22;

typedef int (*P2pVideoCallback)(int frameType, const uchar *data, int length, quint64 timestamp, void *user);
typedef int (*P2pAudioCallback)(const uchar *data, int length, quint64 timestamp, void *user);
typedef int (*P2pStatusCallback)(int status, int unused, void *user);

// A camera reached through the P2P layer. Streams are 8 (main) and 9 (sub).
class CameraDevice
{
public:
    virtual ~CameraDevice() = default;

    virtual bool setConnectParams(const QString &uid, const QString &port, const QString &account,
                                  const QString &password) = 0;
    virtual bool getMediaInfo(int stream, P2pMediaInfo *info) = 0;
    virtual bool connectDevice() = 0;
    virtual bool openStream(int stream, int flag) = 0;
    virtual bool switchStream(int stream) = 0;
    virtual bool closeStream() = 0;
    virtual bool setVideoCallback(P2pVideoCallback fn, void *user) = 0;
    virtual bool setAudioCallback(P2pAudioCallback fn, void *user) = 0;
    virtual bool setStatusCallback(P2pStatusCallback fn, void *user) = 0;
    virtual bool cancelOpen() = 0;
    virtual void disconnectDevice() = 0;
    virtual bool isConnected() = 0;
    virtual bool ptzControl(int command, int param) = 0;
    virtual bool ptzControlText(int command, int value, const QString &text) = 0;
    virtual bool setOption(int option, int value, const QString &text) = 0;
    virtual QString protocolName() = 0;
    virtual bool startTalk() = 0;
    virtual bool stopTalk() = 0;
    virtual bool writeTalkData(const uchar *data, int length) = 0;
};
