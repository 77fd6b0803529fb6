#pragma once

#include <cstddef>
#include <cstdint>

struct AVFrame;

// Adapter that lets the live player decode H.265 with the program's own
// decoder and read its pictures as FFmpeg frames, like FFmpeg's own.
class qcVideoDecoder
{
public:
    qcVideoDecoder() = default;
    ~qcVideoDecoder();
    qcVideoDecoder(const qcVideoDecoder &) = delete;
    qcVideoDecoder &operator=(const qcVideoDecoder &) = delete;

    bool open(int width, int height);
    // One chunk of the Annex B stream (the player passes one access unit).
    // Returns the length and sets *gotPicture to 1 when a picture came out,
    // else returns 0 and sets it to 0; before open, returns 0 and leaves
    // *gotPicture alone.
    int decode(const uint8_t *data, int length, int *gotPicture);
    void close();

    // The newest picture; valid until the next decode() or close().
    AVFrame *picture() const { return m_picture; }
    bool isOpen() const { return m_opened; }
    int referenceCount() const { return m_refNum; }

    // Test reach, process-wide: every allocation the wrapper makes (the
    // decoder instance's through its callbacks, the frame, the planes) fails
    // once `count` more have succeeded (-1: none fails); and how many of them
    // are held now.
    static void failAllocationsAfter(int count);
    static int allocationsHeld();

private:
    bool create(int refNum);
    void destroyHandle();
    bool copyPicture(const void *outArgs);

    void *m_handle = nullptr;
    uint32_t m_width = 0;
    uint32_t m_height = 0;
    AVFrame *m_picture = nullptr;
    uint8_t *m_planes[3] = {nullptr, nullptr, nullptr};
    size_t m_planeBytes[3] = {0, 0, 0};
    bool m_opened = false;
    int m_refNum = 2;
    int m_recreations = 0;
};
