/* Deblocking and sample adaptive offset of a finished picture. */
#include <stdlib.h>
#include <string.h>

#include "decoder.h"
#include "slicedata.h"

namespace {

const uint8_t kBeta[52] = { 0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  6,  7,
                            8,  9,  10, 11, 12, 13, 14, 15, 16, 17, 18, 20, 22, 24, 26, 28, 30, 32,
                            34, 36, 38, 40, 42, 44, 46, 48, 50, 52, 54, 56, 58, 60, 62, 64 };
const uint8_t kTc[54] = { 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  0,  1,  1,  1,  1,  1,  1,  1,  1,  1,
                          2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 5, 5, 6, 6, 7, 8, 9, 10, 11, 13, 14, 16, 18, 20, 22, 24 };

inline int clip3(int lo, int hi, int v)
{
    return v < lo ? lo : (v > hi ? hi : v);
}
inline uint8_t clip1(int v)
{
    return (uint8_t)(v < 0 ? 0 : (v > 255 ? 255 : v));
}

int chromaQpMap(int qpi)
{
    static const uint8_t t[14] = { 29, 30, 31, 32, 33, 33, 34, 34, 35, 35, 36, 36, 37, 37 };
    if (qpi < 30)
        return qpi;
    if (qpi > 43)
        return qpi - 6;
    return t[qpi - 30];
}

struct Deblocker {
    H265D_DEC_OBJ *dec;
    H265D_SIDE_BUFFERS *sb;
    H265D_PICTURE *pic;
    int w, h, w4, log2Ctb, pcmNoFilter;

    int ctbOf(int x, int y) const { return (y >> log2Ctb) * dec->geo.PicWidthInCtbsY + (x >> log2Ctb); }
    int qpAt(int x, int y) const
    {
        const int log2 = (int)dec->sps->MinCbLog2SizeY;
        return sb->qpY[(y >> log2) * sb->mapWMinCb + (x >> log2)];
    }
    bool noFilter(int x, int y) const
    {
        const int v = sb->filterBypass[(y >> 3) * sb->mapW8 + (x >> 3)];
        return (v & 1) || ((v & 2) && pcmNoFilter);
    }
    bool intra(int x, int y) const { return sb->intraMode[(y >> 2) * w4 + (x >> 2)] != 255; }

    int motionBs(int xp, int yp, int xq, int yq) const
    {
        const H265D_MV_FIELD *f = (const H265D_MV_FIELD *)sb->mvRecords;
        const H265D_MV_FIELD &p = f[(yp >> 2) * w4 + (xp >> 2)], &q = f[(yq >> 2) * w4 + (xq >> 2)];
        const int np = p.predFlag[0] + p.predFlag[1], nq = q.predFlag[0] + q.predFlag[1];
        if (np != nq)
            return 1;
        auto far = [](const int16_t *a, const int16_t *b) { return abs(a[0] - b[0]) >= 4 || abs(a[1] - b[1]) >= 4; };
        if (np == 1) {
            const int lp = p.predFlag[0] ? 0 : 1, lq = q.predFlag[0] ? 0 : 1;
            if (p.refSlot[lp] != q.refSlot[lq])
                return 1;
            return far(p.mv[lp], q.mv[lq]) ? 1 : 0;
        }
        const int p0 = p.refSlot[0], p1 = p.refSlot[1], q0 = q.refSlot[0], q1 = q.refSlot[1];
        if (!((p0 == q0 && p1 == q1) || (p0 == q1 && p1 == q0)))
            return 1;
        if (p0 != p1) {
            if (p0 == q0)
                return (far(p.mv[0], q.mv[0]) || far(p.mv[1], q.mv[1])) ? 1 : 0;
            return (far(p.mv[0], q.mv[1]) || far(p.mv[1], q.mv[0])) ? 1 : 0;
        }
        return ((far(p.mv[0], q.mv[0]) || far(p.mv[1], q.mv[1])) && (far(p.mv[0], q.mv[1]) || far(p.mv[1], q.mv[0])))
                   ? 1
                   : 0;
    }

    /* bS of the edge between p (left/above) and q at the 4x4 units; 0 when
     * the edge is not filtered at all. */
    int bs(int xq, int yq, int vertical) const
    {
        const int xp = vertical ? xq - 1 : xq, yp = vertical ? yq : yq - 1;
        const uint8_t flags = sb->edgeFlags[(yq >> 2) * w4 + (xq >> 2)];
        const int tuEdge = flags & (vertical ? 1 : 2), puEdge = flags & (vertical ? 4 : 8);
        if (!tuEdge && !puEdge)
            return 0;
        const int ctbQ = ctbOf(xq, yq), ctbP = ctbOf(xp, yp);
        const uint8_t cf = sb->ctbFlags[ctbQ];
        if (cf & H265D_CTB_DEBLOCK_OFF)
            return 0;
        if (ctbQ != ctbP) {
            const H265D_PPS *pps = dec->pps;
            if (sb->sliceAddr[ctbQ] != sb->sliceAddr[ctbP] && !(cf & H265D_CTB_ACROSS_SLICES))
                return 0;
            if (!pps->loop_filter_across_tiles_enabled_flag &&
                pps->tileId[pps->ctbAddrRsToTs[ctbQ]] != pps->tileId[pps->ctbAddrRsToTs[ctbP]])
                return 0;
        }
        if (intra(xp, yp) || intra(xq, yq))
            return 2;
        if (tuEdge && (sb->codedLuma[(yp >> 2) * w4 + (xp >> 2)] || sb->codedLuma[(yq >> 2) * w4 + (xq >> 2)]))
            return 1;
        return motionBs(xp, yp, xq, yq);
    }

    void lumaEdge(uint8_t *q0, ptrdiff_t xs, ptrdiff_t ys, int bS, int xq, int yq, int xp, int yp)
    {
        const int qpL = (qpAt(xq, yq) + qpAt(xp, yp) + 1) >> 1;
        const int8_t *off = &sb->deblockOffsets[2 * ctbOf(xq, yq)];
        const int beta = kBeta[clip3(0, 51, qpL + off[0])];
        const int tc = kTc[clip3(0, 53, qpL + 2 * (bS - 1) + off[1])];
        const bool noP = noFilter(xp, yp), noQ = noFilter(xq, yq);
        /* xs: step across the edge, ys: step along it */
        auto P = [&](int i, int k) -> uint8_t & { return q0[-(i + 1) * xs + k * ys]; };
        auto Q = [&](int i, int k) -> uint8_t & { return q0[i * xs + k * ys]; };
        const int dp0 = abs(P(2, 0) - 2 * P(1, 0) + P(0, 0)), dp3 = abs(P(2, 3) - 2 * P(1, 3) + P(0, 3));
        const int dq0 = abs(Q(2, 0) - 2 * Q(1, 0) + Q(0, 0)), dq3 = abs(Q(2, 3) - 2 * Q(1, 3) + Q(0, 3));
        const int dpq0 = dp0 + dq0, dpq3 = dp3 + dq3, dp = dp0 + dp3, dq = dq0 + dq3;
        const int d = dpq0 + dpq3;
        if (d >= beta)
            return;
        auto strong = [&](int k, int dpq) {
            return 2 * dpq < (beta >> 2) && abs(P(3, k) - P(0, k)) + abs(Q(0, k) - Q(3, k)) < (beta >> 3) &&
                   abs(P(0, k) - Q(0, k)) < ((5 * tc + 1) >> 1);
        };
        const bool dE2 = strong(0, dpq0) && strong(3, dpq3);
        const bool dEp = dp < ((beta + (beta >> 1)) >> 3), dEq = dq < ((beta + (beta >> 1)) >> 3);
        for (int k = 0; k < 4; k++) {
            const int p0 = P(0, k), p1 = P(1, k), p2 = P(2, k), p3 = P(3, k);
            const int qq0 = Q(0, k), q1 = Q(1, k), q2 = Q(2, k), q3 = Q(3, k);
            if (dE2) {
                if (!noP) {
                    P(0, k) = (uint8_t)clip3(p0 - 2 * tc, p0 + 2 * tc, (p2 + 2 * p1 + 2 * p0 + 2 * qq0 + q1 + 4) >> 3);
                    P(1, k) = (uint8_t)clip3(p1 - 2 * tc, p1 + 2 * tc, (p2 + p1 + p0 + qq0 + 2) >> 2);
                    P(2, k) = (uint8_t)clip3(p2 - 2 * tc, p2 + 2 * tc, (2 * p3 + 3 * p2 + p1 + p0 + qq0 + 4) >> 3);
                }
                if (!noQ) {
                    Q(0, k) = (uint8_t)clip3(qq0 - 2 * tc, qq0 + 2 * tc, (p1 + 2 * p0 + 2 * qq0 + 2 * q1 + q2 + 4) >> 3);
                    Q(1, k) = (uint8_t)clip3(q1 - 2 * tc, q1 + 2 * tc, (p0 + qq0 + q1 + q2 + 2) >> 2);
                    Q(2, k) = (uint8_t)clip3(q2 - 2 * tc, q2 + 2 * tc, (p0 + qq0 + q1 + 3 * q2 + 2 * q3 + 4) >> 3);
                }
                continue;
            }
            int delta = (9 * (qq0 - p0) - 3 * (q1 - p1) + 8) >> 4;
            if (abs(delta) >= tc * 10)
                continue;
            delta = clip3(-tc, tc, delta);
            if (!noP) {
                P(0, k) = clip1(p0 + delta);
                if (dEp)
                    P(1, k) = clip1(p1 + clip3(-(tc >> 1), tc >> 1, (((p2 + p0 + 1) >> 1) - p1 + delta) >> 1));
            }
            if (!noQ) {
                Q(0, k) = clip1(qq0 - delta);
                if (dEq)
                    Q(1, k) = clip1(q1 + clip3(-(tc >> 1), tc >> 1, (((q2 + qq0 + 1) >> 1) - q1 - delta) >> 1));
            }
        }
    }

    void run()
    {

        /* bS of every 4-sample segment first: horizontal filtering changes no
         * decision inputs, but keeping them apart follows the standard's order. */
        const int h4 = (h + 3) / 4;
        uint8_t *bsV = sb->bs, *bsH = sb->bs + (size_t)w4 * (dec->h64 / 4);
        for (int y = 0; y < h; y += 4)
            for (int x = 0; x < w; x += 4) {
                bsV[(y >> 2) * w4 + (x >> 2)] = (x > 0 && (x & 7) == 0) ? (uint8_t)bs(x, y, 1) : 0;
                bsH[(y >> 2) * w4 + (x >> 2)] = (y > 0 && (y & 7) == 0) ? (uint8_t)bs(x, y, 0) : 0;
            }
        (void)h4;
        const ptrdiff_t ys = pic->yStride, cs = pic->uvStride;
        for (int pass = 0; pass < 2; pass++) {
            const int vertical = pass == 0;
            const uint8_t *bsMap = vertical ? bsV : bsH;
            for (int y = 0; y < h; y += 4)
                for (int x = 0; x < w; x += 4) {
                    const int b = bsMap[(y >> 2) * w4 + (x >> 2)];
                    if (!b)
                        continue;
                    const int xp = vertical ? x - 1 : x, yp = vertical ? y : y - 1;
                    lumaEdge(pic->origin[0] + y * ys + x, vertical ? 1 : ys, vertical ? ys : 1, b, x, y, xp, yp);
                }
            /* chroma edges on the 8-sample chroma grid, bS 2 only; each four
             * chroma samples take the strength of the luma segment at the
             * even position */
            for (int y = 0; y < h; y += 8)
                for (int x = 0; x < w; x += 8) {
                    if (vertical ? (x & 15) : (y & 15))
                        continue;
                    if (bsMap[(y >> 2) * w4 + (x >> 2)] != 2)
                        continue;
                    const int xp = vertical ? x - 1 : x, yp = vertical ? y : y - 1;
                    for (int c = 1; c <= 2; c++)
                        chromaEdge(pic->origin[c] + (y >> 1) * cs + (x >> 1), vertical ? 1 : cs, vertical ? cs : 1, c,
                                   x, y, xp, yp);
                }
        }
    }

    void chromaEdge(uint8_t *q0, ptrdiff_t xs, ptrdiff_t ys, int c, int xq, int yq, int xp, int yp)
    {
        const int off = c == 1 ? dec->pps->pps_cb_qp_offset : dec->pps->pps_cr_qp_offset;
        const int qpc = chromaQpMap(((qpAt(xq, yq) + qpAt(xp, yp) + 1) >> 1) + off);
        const int8_t *o = &sb->deblockOffsets[2 * ctbOf(xq, yq)];
        const int tc = kTc[clip3(0, 53, qpc + 2 + o[1])];
        const bool noP = noFilter(xp, yp), noQ = noFilter(xq, yq);
        for (int k = 0; k < 4; k++) {
            uint8_t *s = q0 + k * ys;
            const int p0 = s[-xs], p1 = s[-2 * xs], qq0 = s[0], q1 = s[xs];
            const int delta = clip3(-tc, tc, ((((qq0 - p0) * 4) + p1 - q1 + 4) >> 3));
            if (!noP)
                s[-xs] = clip1(p0 + delta);
            if (!noQ)
                s[0] = clip1(qq0 - delta);
        }
    }
};

} // namespace

namespace {

struct SaoFilter {
    H265D_DEC_OBJ *dec;
    H265D_SIDE_BUFFERS *sb;
    H265D_PICTURE *pic;
    int pcmNoFilter;

    bool keep(int xl, int yl) const
    {
        const int v = sb->filterBypass[(yl >> 3) * sb->mapW8 + (xl >> 3)];
        return (v & 1) || ((v & 2) && pcmNoFilter);
    }

    /* Whether the neighbour sample (luma position) may be used for the
     * sample at (xl, yl): same picture, and the slice and tile rules. */
    bool usable(int xl, int yl, int xn, int yn) const
    {
        const H265D_PIC_GEOMETRY *g = &dec->geo;
        if (xn < 0 || yn < 0 || xn >= g->PicWidthInSamplesY || yn >= g->PicHeightInSamplesY)
            return false;
        const int log2Ctb = (int)dec->sps->CtbLog2SizeY;
        const int c0 = (yl >> log2Ctb) * g->PicWidthInCtbsY + (xl >> log2Ctb);
        const int c1 = (yn >> log2Ctb) * g->PicWidthInCtbsY + (xn >> log2Ctb);
        if (c0 == c1)
            return true;
        const H265D_PPS *pps = dec->pps;
        if (sb->sliceAddr[c0] != sb->sliceAddr[c1]) {
            /* the later slice's flag decides for both sides */
            const int ts0 = pps->ctbAddrRsToTs[c0], ts1 = pps->ctbAddrRsToTs[c1];
            const int later = ts0 > ts1 ? c0 : c1;
            if (!(sb->ctbFlags[later] & H265D_CTB_ACROSS_SLICES))
                return false;
        }
        if (!pps->loop_filter_across_tiles_enabled_flag &&
            pps->tileId[pps->ctbAddrRsToTs[c0]] != pps->tileId[pps->ctbAddrRsToTs[c1]])
            return false;
        return true;
    }

    void ctb(int rs, int c, const uint8_t *src, int srcStride)
    {
        const H265D_SAO_PARAMS *sao = &sb->sao[rs];
        const int type = sao->SaoTypeIdx[c];
        if (!type)
            return;
        const int sh = c ? 1 : 0;
        const int log2Ctb = (int)dec->sps->CtbLog2SizeY;
        const int W = dec->geo.PicWidthInCtbsY;
        const int x0 = ((rs % W) << log2Ctb) >> sh, y0 = ((rs / W) << log2Ctb) >> sh;
        const int pw = dec->geo.PicWidthInSamplesY >> sh, ph = dec->geo.PicHeightInSamplesY >> sh;
        const int size = (1 << log2Ctb) >> sh;
        const int x1 = x0 + size < pw ? x0 + size : pw, y1 = y0 + size < ph ? y0 + size : ph;
        const int stride = c ? (int)pic->uvStride : (int)pic->yStride;
        uint8_t *dst = pic->origin[c];
        const int8_t *off = sao->SaoOffsetVal[c];
        if (type == 1) {
            int table[32] = { 0 };
            for (int k = 0; k < 4; k++)
                table[(k + sao->sao_band_position[c]) & 31] = k + 1;
            for (int y = y0; y < y1; y++)
                for (int x = x0; x < x1; x++) {
                    if (keep(x << sh, y << sh))
                        continue;
                    const int v = src[y * srcStride + x];
                    dst[y * stride + x] = clip1(v + off[table[v >> 3]]);
                }
            return;
        }
        static const int kDx[4][2] = { { -1, 1 }, { 0, 0 }, { -1, 1 }, { 1, -1 } };
        static const int kDy[4][2] = { { 0, 0 }, { -1, 1 }, { -1, 1 }, { -1, 1 } };
        const int cls = sao->SaoEoClass[c];
        for (int y = y0; y < y1; y++)
            for (int x = x0; x < x1; x++) {
                const int xa = x + kDx[cls][0], ya = y + kDy[cls][0], xb = x + kDx[cls][1], yb = y + kDy[cls][1];
                /* neighbours outside the picture leave the sample as it is */
                if (xa < 0 || ya < 0 || xb < 0 || yb < 0 || xa >= pw || xb >= pw || ya >= ph || yb >= ph)
                    continue;
                const int xl = x << sh, yl = y << sh;
                if (!usable(xl, yl, xa << sh, ya << sh) || !usable(xl, yl, xb << sh, yb << sh) || keep(xl, yl))
                    continue;
                const int v = src[y * srcStride + x];
                const int a = src[ya * srcStride + xa], b = src[yb * srcStride + xb];
                int e = 2 + (v > a) - (v < a) + (v > b) - (v < b);
                if (e <= 2)
                    e = e == 2 ? 0 : e + 1;
                dst[y * stride + x] = clip1(v + off[e]);
            }
    }

    void run()
    {
        /* Every CTB reads the deblocked picture: work from a copy. */
        const int w = dec->geo.PicWidthInSamplesY, h = dec->geo.PicHeightInSamplesY;
        uint8_t *work = sb->saoWork;
        const uint8_t *planes[3];
        int strides[3];
        size_t at = 0;
        for (int c = 0; c < 3; c++) {
            const int sh = c ? 1 : 0, pw = w >> sh, ph = h >> sh;
            const int stride = c ? (int)pic->uvStride : (int)pic->yStride;
            for (int y = 0; y < ph; y++)
                memcpy(work + at + (size_t)y * pw, pic->origin[c] + (ptrdiff_t)y * stride, (size_t)pw);
            planes[c] = work + at;
            strides[c] = pw;
            at += (size_t)pw * ph;
        }
        for (int rs = 0; rs < dec->geo.PicSizeInCtbsY; rs++)
            for (int c = 0; c < 3; c++)
                ctb(rs, c, planes[c], strides[c]);
    }
};

} // namespace

extern "C" void filterPicture(H265D_DEC_OBJ *dec)
{
    H265D_SIDE_BUFFERS *sb = &dec->side;
    H265D_PICTURE *pic = &dec->dpb.pic[dec->dpb.curPic];
    const int pcmNoFilter = dec->sps->pcm_enabled_flag && dec->sps->pcm_loop_filter_disabled_flag;
    Deblocker d{ dec, sb, pic, dec->geo.PicWidthInSamplesY, dec->geo.PicHeightInSamplesY, sb->mapW4,
                 (int)dec->sps->CtbLog2SizeY, pcmNoFilter };
    d.run();
    if (!dec->sps->sample_adaptive_offset_enabled_flag)
        return;
    SaoFilter s{ dec, sb, pic, pcmNoFilter };
    s.run();
}
