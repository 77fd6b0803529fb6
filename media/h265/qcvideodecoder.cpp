#include "media/h265/qcvideodecoder.h"

#include "hevc/h265d.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

namespace {
constexpr int kInitialRefs = 2;
constexpr int kMaxRecreations = 3;
constexpr int kMaxCallsPerChunk = 16;
constexpr int kMargin = 1024;

std::atomic<int> g_allocationsLeft{-1};
std::atomic<int> g_allocationsHeld{0};

bool mayAllocate()
{
    int left = g_allocationsLeft.load();
    while (left > 0 && !g_allocationsLeft.compare_exchange_weak(left, left - 1)) {
    }
    return left != 0;
}

void *allocate(uint32_t, size_t size)
{
    void *p = mayAllocate() ? std::malloc(size) : nullptr;
    if (p)
        ++g_allocationsHeld;
    return p;
}

void release(uint32_t, void *p)
{
    if (p)
        --g_allocationsHeld;
    std::free(p);
}

uint8_t *newPlane(size_t bytes)
{
    uint8_t *p = mayAllocate() ? new (std::nothrow) uint8_t[bytes] : nullptr;
    if (p)
        ++g_allocationsHeld;
    return p;
}

void silent(uint32_t, int32_t, const char *, ...) {}

// The next reference count to try when a stream needs more than the
// instance was created with.
int nextRefCount(int current)
{
    for (int n : {4, 8, 15})
        if (n > current)
            return n;
    return 0;
}
} // namespace

qcVideoDecoder::~qcVideoDecoder()
{
    close();
}

void qcVideoDecoder::failAllocationsAfter(int count)
{
    g_allocationsLeft = count < 0 ? -1 : count;
}

int qcVideoDecoder::allocationsHeld()
{
    return g_allocationsHeld.load();
}

bool qcVideoDecoder::create(int refNum)
{
    H265D_INIT_PARAM param;
    std::memset(&param, 0, sizeof param);
    param.uiChannelID = 0;
    param.iMaxWidth = int32_t(m_width);
    param.iMaxHeight = int32_t(m_height);
    param.iMaxRefNum = refNum;
    param.eThreadType = 1;
    param.eOutputOrder = IH265D_DECODE_ORDER;
    param.iReserved = 0;
    param.MallocFxn = allocate;
    param.FreeFxn = release;
    param.LogFxn = silent;
    void *handle = nullptr;
    if (H265D_Create(&handle, &param) != H265D_OK || !handle)
        return false;
    m_handle = handle;
    m_refNum = refNum;
    return true;
}

void qcVideoDecoder::destroyHandle()
{
    if (m_handle) {
        H265D_Delete(m_handle);
        m_handle = nullptr;
    }
}

bool qcVideoDecoder::open(int width, int height)
{
    close();
    if (width < 1 || height < 1)
        return false;
    m_width = uint32_t(width);
    m_height = uint32_t(height);
    if (!create(kInitialRefs))
        return false;
    m_recreations = 0;
    // Everything made so far, the decoder instance too, goes again when any
    // allocation fails: the player then has no decoder, not half of one.
    m_picture = mayAllocate() ? av_frame_alloc() : nullptr;
    if (m_picture)
        ++g_allocationsHeld;
    const size_t luma = size_t(width + kMargin) * size_t(height + kMargin);
    m_planeBytes[0] = luma;
    m_planeBytes[1] = m_planeBytes[2] = luma / 4;
    bool ok = m_picture != nullptr;
    for (int i = 0; ok && i < 3; ++i) {
        m_planes[i] = newPlane(m_planeBytes[i]);
        ok = m_planes[i] != nullptr;
    }
    if (!ok) {
        close();
        return false;
    }
    m_picture->format = AV_PIX_FMT_YUV420P;
    for (int i = 0; i < 3; ++i)
        m_picture->data[i] = m_planes[i];
    m_opened = true;
    return true;
}

void qcVideoDecoder::close()
{
    destroyHandle();
    if (m_picture) {
        for (int i = 0; i < 3; ++i)
            m_picture->data[i] = nullptr;
        av_frame_free(&m_picture);
        --g_allocationsHeld;
    }
    for (int i = 0; i < 3; ++i) {
        if (m_planes[i])
            --g_allocationsHeld;
        delete[] m_planes[i];
        m_planes[i] = nullptr;
        m_planeBytes[i] = 0;
    }
    m_opened = false;
}

bool qcVideoDecoder::copyPicture(const void *outArgs)
{
    const auto &out = *static_cast<const H265D_OUTARGS *>(outArgs);
    const size_t yBytes = size_t(out.uiDecHeight) * out.uiYStride;
    const size_t uvBytes = size_t(out.uiUVStride) * out.uiDecHeight / 2;
    // The decoder refuses pictures beyond its create limits; still, no copy
    // may run past the planes.
    if (!out.pucOutYUV[0] || !out.pucOutYUV[1] || !out.pucOutYUV[2] || yBytes > m_planeBytes[0] ||
        uvBytes > m_planeBytes[1] || out.uiDecWidth > out.uiYStride)
        return false;
    std::memcpy(m_planes[0], out.pucOutYUV[0], yBytes);
    std::memcpy(m_planes[1], out.pucOutYUV[1], uvBytes);
    std::memcpy(m_planes[2], out.pucOutYUV[2], uvBytes);
    m_picture->width = int(out.uiDecWidth);
    m_picture->height = int(out.uiDecHeight);
    m_picture->linesize[0] = int(out.uiYStride);
    m_picture->linesize[1] = m_picture->linesize[2] = int(out.uiUVStride);
    return true;
}

int qcVideoDecoder::decode(const uint8_t *data, int length, int *gotPicture)
{
    if (!m_opened || !m_handle)
        return 0;
    *gotPicture = 0;
    if (!data || length < 1)
        return 0;
    const uint8_t *rest = data;
    uint32_t left = uint32_t(length);
    bool got = false;
    // The decoder may take less than the whole chunk (its stream buffer was
    // full): the rest goes in again while calls make progress. One call
    // returns at most one picture, and a chunk may complete several: calls
    // go on, with nothing more when the chunk is used up, until none comes
    // out, so that the newest is reported and none is left behind.
    for (int call = 0; call < kMaxCallsPerChunk; ++call) {
        H265D_INARGS in;
        std::memset(&in, 0, sizeof in);
        in.pStream = rest;
        in.uiStreamLen = left;
        in.uiTimeStamp = 0;
        in.eDecodeMode = IH265D_DECODE_NORMAL;
        H265D_OUTARGS out;
        std::memset(&out, 0, sizeof out);
        const int32_t r = H265D_Decode(m_handle, &in, &out);
        if (r == H265D_ERR_REFNUM) {
            // The stream needs more reference pictures than the instance
            // holds: start again with more. The failing chunk is dropped;
            // pictures return with the next key frame and its parameter sets.
            const int next = nextRefCount(m_refNum);
            if (next > 0 && m_recreations < kMaxRecreations) {
                ++m_recreations;
                destroyHandle();
                if (!create(next))
                    m_opened = false;
            }
            break;
        }
        const bool picture = r == H265D_OK && out.eDecodeStatus == IH265D_STATUS_PICTURE;
        // The planes live only until the next call.
        if (picture)
            got = copyPicture(&out) || got;
        if (r != H265D_OK && r != H265D_NEED_MORE_DATA)
            break;
        const uint32_t used = out.uiBytesUsed < left ? out.uiBytesUsed : left;
        rest += used;
        left -= used;
        if (!picture && (left == 0 || used == 0))
            break;
    }
    if (!got)
        return 0;
    *gotPicture = 1;
    return length;
}
