// Sample adaptive offset of one CTB, in place, one CTB behind deblocking.
//
// The edge offset of a CTB reads its neighbours' deblocked samples. A
// neighbour offset earlier has lost them in the picture. On the serial path
// every CTB's deblocked samples are copied into the work planes before it
// is offset, and the kernel reads the block and its one-sample ring from
// there. Inside worker jobs each context builds the block and its ring in a
// copy of its own, taking the samples of neighbours already offset from the
// lines saved before they were.
#include "decoder.h"
#include "loopfilter.h"
#include "slicedata.h"
#include "sao.h"

#include <string.h>

#include <algorithm>

namespace h265d {

namespace {

struct SaoCtb
{
    H265D_DEC_OBJ *dec;
    int log2; // CtbLog2SizeY
    int wCtb, hCtb;
    int rs; // this CTB
    int picW, picH;

    // The CTB at CTB coordinates (cx, cy), or -1 outside the picture.
    int ctbAt(int cx, int cy) const
    {
        if (cx < 0 || cy < 0 || cx >= wCtb || cy >= hCtb)
            return -1;
        return cy * wCtb + cx;
    }

    // Whether this CTB's offset may use samples of CTB n (standard rules
    // for slices and tiles; n earlier in decoding order is governed by this
    // CTB's slice flag, n later by its own).
    bool mayRead(int n) const
    {
        if (n < 0)
            return false;
        if (n == rs)
            return true;
        const H265D_SIDE_BUFFERS *sb = &dec->side;
        const H265D_PPS *pps = dec->pps;
        const uint8_t *flags = sb->ctbFlags;
        if (sb->sliceAddr[n] < 0) // not decoded
            return false;
        if (sb->sliceAddr[n] != sb->sliceAddr[rs]) {
            const bool earlier = pps->ctbAddrRsToTs[n] < pps->ctbAddrRsToTs[rs];
            if (!(flags[earlier ? rs : n] & H265D_CTB_ACROSS_SLICES))
                return false;
        }
        if (pps->tiles_enabled_flag && !pps->loop_filter_across_tiles_enabled_flag &&
            pps->tileId[pps->ctbAddrRsToTs[n]] != pps->tileId[pps->ctbAddrRsToTs[rs]])
            return false;
        return true;
    }
};

// Copies the ring samples (x, y) .. (x + n - 1, y) or downwards of plane c
// into the block copy wk, whose first sample is picture sample (bx, by).
// Samples of CTBs already offset in that plane are the deblocked ones: on
// the serial path (job null) they are in the work plane already; in a job
// they come from the lines the CTB saved before it was offset.
void refreshRun(const SaoCtb &s, const uint8_t *pic, uint8_t *wk, int bx, int by, int stride, int c, int x, int y,
                int n, bool down, const H265D_SAO_JOB *job)
{
    const int shift = c ? 1 : 0;
    const int ctbLog2 = s.log2 - shift; // CTB size in this plane's samples
    // A run crosses at most three CTBs: take each stretch of one CTB at once.
    for (int k = 0; k < n;) {
        const int xs = down ? x : x + k, ys = down ? y + k : y;
        const int cx = xs >> ctbLog2, cy = ys >> ctbLog2;
        const int next = down ? (((cy + 1) << ctbLog2) - y) : (((cx + 1) << ctbLog2) - x);
        const int len = (next < n ? next : n) - k;
        const int n2 = s.ctbAt(cx, cy);
        k += len;
        if (n2 < 0)
            continue;
        const uint8_t *src = pic + (ptrdiff_t)ys * stride + xs;
        ptrdiff_t step = down ? stride : 1;
        if ((s.dec->side.ctbFlags[n2] & H265D_CTB_SAO_DONE) && s.dec->side.sao[n2].SaoTypeIdx[c] != 0) {
            if (!job)
                continue;
            // Within the wavefront and tile order only CTBs above, the one
            // to the left and the corner of the one below left are offset
            // before this one: their bottom line or right column.
            const int bottom = std::min((cy + 1) << ctbLog2, (s.picH >> shift)) - 1;
            if (!down && ys == bottom) {
                src = saoSavedLine(s.dec, job, c, cy) + xs;
            } else {
                src = saoSavedColumn(s.dec, job, c, cx, cy) + (ys - (cy << ctbLog2));
                step = 1;
            }
        }
        uint8_t *dst = wk + (ptrdiff_t)(ys - by) * stride + (xs - bx);
        if (!down) {
            memcpy(dst, src, (size_t)len);
            continue;
        }
        for (int j = 0; j < len; ++j)
            dst[(ptrdiff_t)j * stride] = src[j * step];
    }
}

void copyBlock(const uint8_t *src, uint8_t *dst, int stride, int w, int h)
{
    for (int y = 0; y < h; ++y)
        memcpy(dst + (ptrdiff_t)y * stride, src + (ptrdiff_t)y * stride, (size_t)w);
}

// The block's outer ring only: all that the neighbours' edge offsets read.
void copyRing(const uint8_t *src, uint8_t *dst, int stride, int w, int h)
{
    memcpy(dst, src, (size_t)w);
    memcpy(dst + (ptrdiff_t)(h - 1) * stride, src + (ptrdiff_t)(h - 1) * stride, (size_t)w);
    for (int y = 1; y < h - 1; ++y) {
        dst[(ptrdiff_t)y * stride] = src[(ptrdiff_t)y * stride];
        dst[(ptrdiff_t)y * stride + w - 1] = src[(ptrdiff_t)y * stride + w - 1];
    }
}

// job null: the serial path through the work picture.
void offsetCtb(H265D_DEC_OBJ *dec, int x, int y, const H265D_SAO_JOB *job)
{
    if (!dec->sps->sample_adaptive_offset_enabled_flag)
        return;
    const H265D_PICTURE *pic = &dec->dpb.pic[dec->dpb.curPic];
    SaoCtb s{dec, (int)dec->sps->CtbLog2SizeY, dec->geo.PicWidthInCtbsY,    dec->geo.PicHeightInCtbsY,
             0,   dec->geo.PicWidthInSamplesY, dec->geo.PicHeightInSamplesY};
    const int cx = x >> s.log2, cy = y >> s.log2;
    s.rs = cy * s.wCtb + cx;
    const H265D_SAO_PARAMS *sao = &dec->side.sao[s.rs];
    const bool keepSome = (dec->sps->pcm_enabled_flag && dec->sps->pcm_loop_filter_disabled_flag) ||
                          dec->pps->transquant_bypass_enabled_flag;
    const bool left = s.mayRead(s.ctbAt(cx - 1, cy)), right = s.mayRead(s.ctbAt(cx + 1, cy));
    const bool above = s.mayRead(s.ctbAt(cx, cy - 1)), below = s.mayRead(s.ctbAt(cx, cy + 1));
    const unsigned avail = (left ? H265D_SAO_AVAIL_LEFT : 0u) | (right ? H265D_SAO_AVAIL_RIGHT : 0u) |
                           (above ? H265D_SAO_AVAIL_ABOVE : 0u) | (below ? H265D_SAO_AVAIL_BELOW : 0u);
    if (job)
        saveFilterBorders(dec, job, x, y);
    for (int c = 0; c < 3; ++c) {
        const int shift = c ? 1 : 0;
        const int stride = c ? (int)pic->uvStride : (int)pic->yStride;
        uint8_t *plane = pic->origin[c];
        const int size = (1 << s.log2) >> shift;
        const int bx = x >> shift, by = y >> shift;
        const int pw = s.picW >> shift, ph = s.picH >> shift;
        const int bw = bx + size < pw ? size : pw - bx, bh = by + size < ph ? size : ph - by;
        const ptrdiff_t at = (ptrdiff_t)by * stride + bx;
        const int type = sao->SaoTypeIdx[c];
        // A block without offset keeps its deblocked samples in the picture,
        // where its neighbours' rings read them.
        if (type == 0)
            continue;
        // The block's deblocked copy, at picture sample (bx, by).
        uint8_t *wk = job ? saoBlockPlane(dec, job, c) + bx : saoWorkPlane(dec, c) + at;
        // A band offset reads nothing around it: its own samples are kept
        // only where a neighbour's ring may read them (on the serial path;
        // a job's copy is its own), unless some units must get theirs back
        // below.
        if (type == 2 || keepSome)
            copyBlock(plane + at, wk, stride, bw, bh);
        else if (!job)
            copyRing(plane + at, wk, stride, bw, bh);
        if (type == 1) {
            dec->dsp.slot[H265D_SLOT_SAO_BAND].saoBand(plane + at, stride, sao, bw, bh, c);
        } else if (type == 2) {
            // The ring the kernel reads, where it lies in the picture.
            const int x0 = bx > 0 ? bx - 1 : bx, x1 = bx + bw < pw ? bx + bw + 1 : bx + bw;
            if (by > 0)
                refreshRun(s, plane, wk, bx, by, stride, c, x0, by - 1, x1 - x0, false, job);
            if (by + bh < ph)
                refreshRun(s, plane, wk, bx, by, stride, c, x0, by + bh, x1 - x0, false, job);
            if (bx > 0)
                refreshRun(s, plane, wk, bx, by, stride, c, bx - 1, by, bh, true, job);
            if (bx + bw < pw)
                refreshRun(s, plane, wk, bx, by, stride, c, bx + bw, by, bh, true, job);
            dec->dsp.slot[H265D_SLOT_SAO_EDGE].saoEdge(plane + at, wk, stride, sao, avail, bw, bh, c);
            // A diagonal class reads a corner sample's outer neighbour from
            // the CTB across that corner alone: the kernel went by the two
            // sides, so the corner is redone where the corner CTB says
            // otherwise (kept while it may not be read, offset when it may
            // although a side may not).
            const int cls = sao->SaoEoClass[c];
            auto corner = [&](int px, int py, int dx, int dy, bool sides) {
                const bool diagonal = s.mayRead(s.ctbAt(cx + dx, cy + dy));
                if (diagonal == sides)
                    return;
                const ptrdiff_t o = (ptrdiff_t)py * stride + px;
                if (!diagonal) {
                    plane[at + o] = wk[o];
                    return;
                }
                const ptrdiff_t d = (ptrdiff_t)dy * stride + dx;
                const int v = wk[o];
                const int idx = 2 + (v > wk[o + d]) - (v < wk[o + d]) + (v > wk[o - d]) - (v < wk[o - d]);
                static const uint8_t kRemap[5] = {1, 2, 0, 3, 4};
                const int r = v + sao->SaoOffsetVal[c][kRemap[idx]];
                plane[at + o] = (uint8_t)(r < 0 ? 0 : (r > 255 ? 255 : r));
            };
            if (cls == 2) {
                corner(0, 0, -1, -1, left && above);
                corner(bw - 1, bh - 1, 1, 1, right && below);
            } else if (cls == 3) {
                corner(bw - 1, 0, 1, -1, right && above);
                corner(0, bh - 1, -1, 1, left && below);
            }
        }
        if (keepSome) {
            // Lossless units and PCM units without the loop filter keep their
            // samples, chroma included: the units are looked up over the
            // CTB's whole luma area.
            const H265D_SIDE_BUFFERS *sb = &dec->side;
            const int unit = 4 >> shift;
            for (int ly = y; ly < y + (bh << shift); ly += 4)
                for (int lx = x; lx < x + (bw << shift); lx += 4) {
                    const uint8_t b = sb->filterBypass[(ly >> 3) * sb->mapW8 + (lx >> 3)];
                    if (!((b & 1) || ((b & 2) && dec->sps->pcm_loop_filter_disabled_flag)))
                        continue;
                    const ptrdiff_t o = (ptrdiff_t)((ly - y) >> shift) * stride + ((lx - x) >> shift);
                    copyBlock(wk + o, plane + at + o, stride, unit, unit);
                }
        }
    }
    dec->side.ctbFlags[s.rs] |= H265D_CTB_SAO_DONE;
}

} // namespace

void applySaoCtu(H265D_DEC_OBJ *dec, int x, int y)
{
    offsetCtb(dec, x, y, nullptr);
}

void applySaoCtuInJob(H265D_DEC_OBJ *dec, int x, int y, const H265D_SAO_JOB *job)
{
    offsetCtb(dec, x, y, job);
}

} // namespace h265d
