#pragma once

#include "device/framehead.h"

#include <QObject>
#include <QString>

#include <functional>

class qcAudioCapture;

// What a device stream unit needs of the front end of one device reached by
// P2P identifier: one object that delivers both streams of the device to the
// registered frame callbacks (the first registered gets the main stream, the
// second the sub stream), reports its connection in the stream clients'
// status codes (129 connect failed and 131 connection lost are the ones the
// unit acts on) and carries the device's talk and pan-tilt-zoom.
class qcP2PStreamInterface : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~qcP2PStreamInterface() override = default;

    // False when either argument is null.
    virtual bool addDataCallback(StreamDataCallback callback, void *user) = 0;
    // The unit passes device kind 3.
    virtual bool openDevice(int deviceKind) = 0;
    // Installs the front end's own callbacks on the device and opens the stream.
    virtual bool setCallbacks() = 0;
    virtual void setConnectInfo(const QString &address, const QString &port, const QString &user,
                                const QString &password, const QString &protocol) = 0;
    virtual void closeStream() = 0;
    virtual bool cancelOpen() = 0;
    virtual bool isConnected() = 0;
    // The P2P identifier while the device is open, "" otherwise.
    virtual QString getDeviceId() = 0;
    virtual bool startTalk(qcAudioCapture *microphone) = 0;
    virtual bool stopTalk() = 0;
    virtual bool ptzControl(int controlId) = 0;
    virtual bool stopPtz() = 0;

signals:
    void sigConnectStatus(int status);
};

// Makes the front end for one device: the protocol is the device's type text.
// Returns null for a protocol no front end serves; the caller then retries later.
using qcP2PStreamFactory =
    std::function<qcP2PStreamInterface *(const QString &address, const QString &port, const QString &user,
                                         const QString &password, const QString &protocol)>;

qcP2PStreamInterface *createP2PStream(const QString &address, const QString &port, const QString &user,
                                      const QString &password, const QString &protocol);
// Installs the factory createP2PStream uses; an empty one restores the
// default. Not for use while streams are being started.
void setP2PStreamFactory(qcP2PStreamFactory factory);
