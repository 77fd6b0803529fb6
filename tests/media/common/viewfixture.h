#pragma once

#include <QtTest>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "media/qccamerautil.h"
#include "media/qcframebuffer.h"
#include "media/qcstreamutil.h"
#include "platform/d3d9/d3d9diag.h"
#include "tests/device/common/clips.h"

// What the layer's present hook saw, per window: how many pictures, the
// last one's size, and the last picture itself when it came as 32-bit pixels.
struct Presented
{
    std::mutex mutex;
    std::map<HWND, int> count;
    std::map<HWND, QSize> size;
    std::map<HWND, QImage> last;
};
inline Presented g_presented;

inline void onPresent(HWND window, const platform::d3d9::PresentedImage &image, int64_t)
{
    std::lock_guard<std::mutex> lock(g_presented.mutex);
    ++g_presented.count[window];
    g_presented.size[window] = QSize(image.width, image.height);
    if (image.format == platform::d3d9::PresentedFormat::Bgrx32)
        g_presented.last[window] =
            QImage(image.pixels, image.width, image.height, image.stride, QImage::Format_RGB32).copy();
}

inline int presentedOn(HWND w)
{
    std::lock_guard<std::mutex> lock(g_presented.mutex);
    return g_presented.count[w];
}

inline QImage lastPresented(HWND w)
{
    std::lock_guard<std::mutex> lock(g_presented.mutex);
    return g_presented.last[w];
}

// A device's two streams: the 640x360 clip pushed into both buffers at 25 fps.
struct FakeDevice
{
    FakeDevice()
    {
        mainBuffer.allocate(921600);
        subBuffer.allocate(921600);
        units = clips::units(clips::read(QStringLiteral("h264-360p25.h264")), false);
        info.decoder = 0;
        info.videoCodec = 28;
        info.width = 640;
        info.height = 360;
        info.frameRate = 25;
        info.audioCodec = 0;
        info.audioRate = 8000;
        info.channels = 0;
    }
    ~FakeDevice() { stop(); }
    void start()
    {
        thread = std::thread([this] {
            const auto start = std::chrono::steady_clock::now();
            for (int i = 0; !stopping; ++i) {
                const clips::Unit &u = units[i % units.size()];
                mainBuffer.pushFrame(u.bytes.constData(), u.bytes.size(), u.key ? 1 : 2, uint64_t(i) * 40);
                subBuffer.pushFrame(u.bytes.constData(), u.bytes.size(), u.key ? 1 : 2, uint64_t(i) * 40);
                std::this_thread::sleep_until(start + std::chrono::milliseconds(40) * (i + 1));
            }
        });
    }
    void stop()
    {
        stopping = true;
        if (thread.joinable())
            thread.join();
    }
    qcFrameBuffer mainBuffer;
    qcFrameBuffer subBuffer;
    QVector<clips::Unit> units;
    MediaInfo_t info{};
    std::thread thread;
    std::atomic<bool> stopping{false};
};

// Hands a glue the device's two buffers and formats and the widget to show them in.
inline void attach(qcCameraUtil &glue, FakeDevice &device, QWidget *widget)
{
    glue.setMainSubBuffers(&device.mainBuffer, &device.subBuffer);
    glue.setVideoWidget(widget);
    glue.setStreamInfo(device.info, device.info);
}
