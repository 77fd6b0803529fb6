/* Hand-made H.265 syntax for the decoder's unit tests: a bit writer, NAL
 * framing with emulation prevention, writers for VPS/SPS/PPS/slice headers
 * driven by small parameter records, and a decoder harness that captures the
 * log and the returned pictures. Header-only; corpusStream reads through
 * hevc/tools/annexb.cpp, which the suites calling it compile. */
#ifndef H265_STREAMS_H
#define H265_STREAMS_H

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "hevc/decoder.h"
#include "hevc/h265d.h"
#include "hevc/h265d_test.h"
#include "hevc/tools/annexb.h"
#include "hevc/tools/h265gen_cabac.h"

using namespace h265d;

namespace h265test {

using Bytes = std::vector<uint8_t>;

/* The stream writer's bit writer, with the names of the syntax tables. */
class BitWriter : public h265gen::BitWriter
{
public:
    void u(uint64_t v, int n)
    {
        for (int i = n - 1; i >= 0; i--)
            bit((int)((v >> i) & 1));
    }
    void flag(bool b) { bit(b ? 1 : 0); }
    void zeros(int n) { u(0, n); }
    void bytes(const Bytes &b)
    {
        for (uint8_t x : b)
            u(x, 8);
    }
    const Bytes &data() const { return h265gen::BitWriter::bytes(); }
};

/* Start code, two-byte header, payload with emulation prevention. */
inline Bytes nal(int type, const Bytes &rbsp, int tid = 0, int layer = 0)
{
    Bytes out = {0, 0, 0, 1};
    out.push_back((uint8_t)((type << 1) | (layer >> 5)));
    out.push_back((uint8_t)(((layer & 31) << 3) | (tid + 1)));
    int zeros = 0;
    for (uint8_t b : rbsp) {
        if (zeros >= 2 && b <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        out.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
    return out;
}

inline Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

/* Main profile, level 3.1, no sub-layers. */
inline void writePtl(BitWriter &w)
{
    w.u(0, 2);
    w.flag(false);
    w.u(1, 5);
    for (int j = 0; j < 32; j++)
        w.flag(j == 1 || j == 2);
    w.flag(true);
    w.flag(false);
    w.flag(false);
    w.flag(true);
    w.zeros(44);
    w.u(93, 8);
}

/* hrd_parameters() with the common part and NAL parameters only. */
inline void writeHrd(BitWriter &w, int maxSubLayersMinus1, int cpbCntMinus1 = 0)
{
    w.flag(true);  /* nal_hrd_parameters_present_flag */
    w.flag(false); /* vcl */
    w.flag(false); /* sub_pic_hrd_params_present_flag */
    w.u(0, 4);
    w.u(2, 4);
    w.u(23, 5);
    w.u(23, 5);
    w.u(23, 5);
    for (int i = 0; i <= maxSubLayersMinus1; i++) {
        w.flag(true); /* fixed_pic_rate_general_flag */
        w.ue(0);      /* elemental_duration_in_tc_minus1 */
        w.ue((uint64_t)cpbCntMinus1);
        for (int k = 0; k <= cpbCntMinus1; k++) {
            w.ue((uint64_t)(1000 + 10 * k)); /* bit_rate_value_minus1 increasing */
            w.ue((uint64_t)(2000 - 10 * k)); /* cpb_size_value_minus1 not increasing */
            w.flag(false);
        }
    }
}

struct VpsParams
{
    int id = 0;
    int maxDecPicBufferingMinus1 = 4;
    int numReorder = 2;
    bool timing = false; /* 1/25 s ticks */
    int numHrd = 0;
};

inline Bytes vpsRbsp(const VpsParams &p = VpsParams())
{
    BitWriter w;
    w.u((uint64_t)p.id, 4);
    w.flag(true);
    w.flag(true);
    w.u(0, 6);
    w.u(0, 3);
    w.flag(true);
    w.u(0xFFFF, 16);
    writePtl(w);
    w.flag(true);
    w.ue(p.maxDecPicBufferingMinus1);
    w.ue(p.numReorder);
    w.ue(0);
    w.u(0, 6);
    w.ue(0);
    w.flag(p.timing);
    if (p.timing) {
        w.u(1, 32);
        w.u(25, 32);
        w.flag(false);
        w.ue((uint64_t)p.numHrd);
        for (int i = 0; i < p.numHrd; i++) {
            w.ue(0);
            if (i > 0)
                w.flag(true);
            writeHrd(w, 0);
        }
    }
    w.flag(false);
    w.trailing();
    return w.data();
}

struct SpsParams
{
    int id = 0;
    int chromaFormatIdc = 1;
    int width = 64;
    int height = 64;
    int bitDepthLuma = 8;
    int bitDepthChroma = 8;
    int log2MaxPocLsb = 8;
    int maxDecPicBufferingMinus1 = 4;
    int numReorder = 2;
    int log2MinCb = 3;
    int log2DiffMaxMinCb = 3;
    int log2DiffMaxMinTb = 3;
    bool scalingList = false;
    std::function<void(BitWriter &)> scalingListData; /* null: default lists */
    bool sao = true;
    int numShortTermRps = 0;
    std::function<void(BitWriter &, int)> shortTermRps; /* writes st_ref_pic_set(i) */
    bool longTerm = false;
    std::vector<std::pair<int, bool>> ltSps; /* lt_ref_pic_poc_lsb_sps, used */
    std::function<void(BitWriter &)> vui;    /* null: no VUI */
};

/* st_ref_pic_set coded explicitly: negative deltas (e.g. -1, -2) and
 * positive ones, all used by the current picture. */
inline void writeStRps(BitWriter &w, int idx, const std::vector<int> &neg, const std::vector<int> &pos)
{
    if (idx != 0)
        w.flag(false);
    w.ue(neg.size());
    w.ue(pos.size());
    int prev = 0;
    for (size_t i = 0; i < neg.size(); i++) {
        w.ue((uint64_t)(prev - neg[i] - 1));
        prev = neg[i];
        w.flag(true);
    }
    prev = 0;
    for (size_t i = 0; i < pos.size(); i++) {
        w.ue((uint64_t)(pos[i] - prev - 1));
        prev = pos[i];
        w.flag(true);
    }
}

inline Bytes spsRbsp(const SpsParams &p = SpsParams())
{
    BitWriter w;
    w.u(0, 4);
    w.u(0, 3);
    w.flag(true);
    writePtl(w);
    w.ue((uint64_t)p.id);
    w.ue((uint64_t)p.chromaFormatIdc);
    if (p.chromaFormatIdc == 3)
        w.flag(false);
    w.ue((uint64_t)p.width);
    w.ue((uint64_t)p.height);
    w.flag(false); /* conformance_window_flag */
    w.ue((uint64_t)(p.bitDepthLuma - 8));
    w.ue((uint64_t)(p.bitDepthChroma - 8));
    if (p.log2MaxPocLsb < 4) {
        /* not codable: an over-long Exp-Golomb code instead */
        w.zeros(32);
        w.u(1, 1);
        w.zeros(32);
    } else {
        w.ue((uint64_t)(p.log2MaxPocLsb - 4));
    }
    w.flag(true);
    w.ue((uint64_t)p.maxDecPicBufferingMinus1);
    w.ue((uint64_t)p.numReorder);
    w.ue(0);
    w.ue((uint64_t)(p.log2MinCb - 3));
    w.ue((uint64_t)p.log2DiffMaxMinCb);
    w.ue(0); /* log2_min_luma_transform_block_size_minus2 */
    w.ue((uint64_t)p.log2DiffMaxMinTb);
    w.ue(1);
    w.ue(1);
    w.flag(p.scalingList);
    if (p.scalingList) {
        w.flag((bool)p.scalingListData);
        if (p.scalingListData)
            p.scalingListData(w);
    }
    w.flag(false); /* amp */
    w.flag(p.sao);
    w.flag(false); /* pcm */
    w.ue((uint64_t)p.numShortTermRps);
    for (int i = 0; i < p.numShortTermRps; i++)
        p.shortTermRps(w, i);
    w.flag(p.longTerm);
    if (p.longTerm) {
        w.ue(p.ltSps.size());
        for (auto &e : p.ltSps) {
            w.u((uint64_t)e.first, p.log2MaxPocLsb);
            w.flag(e.second);
        }
    }
    w.flag(true); /* sps_temporal_mvp_enabled_flag */
    w.flag(true);
    w.flag((bool)p.vui);
    if (p.vui)
        p.vui(w);
    w.flag(false);
    w.trailing();
    return w.data();
}

struct PpsParams
{
    int id = 0;
    bool dependentSlices = false;
    int numRefL0 = 1;
    bool cuQpDelta = false;
    bool weightedPred = false;
    bool tiles = false;
    bool wpp = false;
    int tileCols = 1;
    int tileRows = 1;
    bool uniform = true;
    std::vector<uint64_t> colWidthsMinus1;
    std::vector<uint64_t> rowHeightsMinus1;
    bool deblockingControl = false;
    bool deblockingOverride = false;
    int betaDiv2 = 0;
    int tcDiv2 = 0;
};

inline Bytes ppsRbsp(const PpsParams &p = PpsParams())
{
    BitWriter w;
    w.ue((uint64_t)p.id);
    w.ue(0);
    w.flag(p.dependentSlices);
    w.flag(false); /* output_flag_present_flag */
    w.u(0, 3);     /* num_extra_slice_header_bits */
    w.flag(false);
    w.flag(false);
    w.ue((uint64_t)(p.numRefL0 - 1));
    w.ue(0);
    w.se(0);
    w.flag(false);
    w.flag(false);
    w.flag(p.cuQpDelta);
    if (p.cuQpDelta)
        w.ue(0);
    w.se(0);
    w.se(0);
    w.flag(false); /* pps_slice_chroma_qp_offsets_present_flag */
    w.flag(p.weightedPred);
    w.flag(false); /* weighted_bipred_flag */
    w.flag(false);
    w.flag(p.tiles);
    w.flag(p.wpp);
    if (p.tiles) {
        w.ue((uint64_t)(p.tileCols - 1));
        w.ue((uint64_t)(p.tileRows - 1));
        w.flag(p.uniform);
        if (!p.uniform) {
            for (uint64_t v : p.colWidthsMinus1)
                w.ue(v);
            for (uint64_t v : p.rowHeightsMinus1)
                w.ue(v);
        }
        w.flag(true);
    }
    w.flag(false); /* pps_loop_filter_across_slices_enabled_flag */
    w.flag(p.deblockingControl);
    if (p.deblockingControl) {
        w.flag(p.deblockingOverride);
        w.flag(false);
        w.se(p.betaDiv2);
        w.se(p.tcDiv2);
    }
    w.flag(false); /* pps_scaling_list_data_present_flag */
    w.flag(false); /* lists_modification_present_flag */
    w.ue(0);
    w.flag(false); /* slice_segment_header_extension_present_flag */
    w.flag(false);
    w.trailing();
    return w.data();
}

struct SliceParams
{
    int nalType = NAL_IDR_W_RADL;
    bool first = true;
    int ppsId = 0;
    bool depEnabled = false; /* PPS has dependent_slice_segments_enabled_flag */
    bool dependent = false;
    int address = 0;
    int addressBits = 0; /* Ceil(Log2(PicSizeInCtbsY)) for non-first segments */
    int sliceType = 2;
    int pocLsb = 0;
    int log2MaxPocLsb = 8;
    /* short-term set: -1 codes one in the header from neg/pos */
    int stRpsIdx = -1;
    int stRpsIdxBits = 0;
    int numStRpsInSps = 0;
    std::vector<int> neg, pos;
    bool sliceTmvp = false;
    bool sao = true; /* SPS enables SAO */
    bool override = false;
    int numRefL0 = 1;
    int numRefL1 = 1;
    int collocatedRefIdx = -1; /* -1: not coded */
    std::function<void(BitWriter &)> predWeight;
    int fiveMinusMaxMergeCand = 0;
    int qpDelta = 0;
    bool deblockingOverride = false; /* PPS allows it */
    bool overrideFlag = false;
    int betaDiv2 = 0;
    int tcDiv2 = 0;
    bool entryPoints = false; /* PPS has tiles or WPP */
    int numEntryPoints = 0;
    int offsetLenMinus1 = 0;
    std::vector<uint64_t> offsetsMinus1;
    bool ltPresent = false; /* SPS has long_term_ref_pics_present_flag */
    int numLtSpsInSps = 0;
    int numLtSps = 0;
    std::vector<std::pair<int, bool>> ltPics; /* poc_lsb_lt, used */
};

inline Bytes sliceRbsp(const SliceParams &p)
{
    BitWriter w;
    const bool irap = isIrap(p.nalType);
    const bool idr = isIdr(p.nalType);
    w.flag(p.first);
    if (irap)
        w.flag(false); /* no_output_of_prior_pics_flag */
    w.ue((uint64_t)p.ppsId);
    if (!p.first) {
        if (p.depEnabled)
            w.flag(p.dependent);
        w.u((uint64_t)p.address, p.addressBits);
    }
    if (!p.dependent) {
        w.ue((uint64_t)p.sliceType);
        if (!idr) {
            w.u((uint64_t)p.pocLsb, p.log2MaxPocLsb);
            w.flag(p.stRpsIdx >= 0);
            if (p.stRpsIdx < 0)
                writeStRps(w, p.numStRpsInSps, p.neg, p.pos);
            else if (p.stRpsIdxBits > 0)
                w.u((uint64_t)p.stRpsIdx, p.stRpsIdxBits);
            if (p.ltPresent) {
                if (p.numLtSpsInSps > 0)
                    w.ue((uint64_t)p.numLtSps);
                w.ue(p.ltPics.size());
                for (auto &e : p.ltPics) {
                    w.u((uint64_t)e.first, p.log2MaxPocLsb);
                    w.flag(e.second);
                    w.flag(false);
                }
            }
            w.flag(p.sliceTmvp); /* the SPS enables temporal MVP */
        }
        if (p.sao) {
            w.flag(false);
            w.flag(false);
        }
        if (p.sliceType != 2) {
            w.flag(p.override);
            if (p.override) {
                w.ue((uint64_t)(p.numRefL0 - 1));
                if (p.sliceType == 0)
                    w.ue((uint64_t)(p.numRefL1 - 1));
            }
            if (p.sliceType == 0)
                w.flag(false); /* mvd_l1_zero_flag */
            if (p.sliceTmvp) {
                if (p.sliceType == 0)
                    w.flag(true); /* collocated_from_l0_flag */
                if (p.collocatedRefIdx >= 0)
                    w.ue((uint64_t)p.collocatedRefIdx);
            }
            if (p.predWeight)
                p.predWeight(w);
            w.ue((uint64_t)p.fiveMinusMaxMergeCand);
        }
        w.se(p.qpDelta);
        if (p.deblockingOverride) {
            w.flag(p.overrideFlag);
            if (p.overrideFlag) {
                w.flag(false);
                w.se(p.betaDiv2);
                w.se(p.tcDiv2);
            }
        }
    }
    if (p.entryPoints) {
        w.ue((uint64_t)p.numEntryPoints);
        if (p.numEntryPoints > 0) {
            w.ue((uint64_t)p.offsetLenMinus1);
            for (uint64_t v : p.offsetsMinus1)
                w.u(v, p.offsetLenMinus1 + 1);
        }
    }
    w.flag(true);
    w.alignZero();
    w.bytes({0xA5, 0x80}); /* stand-in slice data */
    return w.data();
}

/* ---- decoder harness ---- */

struct LogLine
{
    int level;
    std::string text;
};

inline std::vector<LogLine> &logs()
{
    static std::vector<LogLine> l;
    return l;
}

inline void captureLog(uint32_t, int32_t level, const char *fmt, ...)
{
    char buf[1024];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    logs().push_back({level, buf});
}

inline bool logged(const std::string &fragment, int level = -1)
{
    for (const LogLine &l : logs())
        if (l.text.find(fragment) != std::string::npos && (level < 0 || l.level == level))
            return true;
    return false;
}

inline H265D_INIT_PARAM initParam(int w = 64, int h = 64, int refs = 4, int order = IH265D_DISPLAY_ORDER)
{
    H265D_INIT_PARAM p = {};
    p.iMaxWidth = w;
    p.iMaxHeight = h;
    p.iMaxRefNum = refs;
    p.eThreadType = 0;
    p.eOutputOrder = order;
    p.MallocFxn = [](uint32_t, size_t n) { return malloc(n); };
    p.FreeFxn = [](uint32_t, void *q) { free(q); };
    p.LogFxn = captureLog;
    return p;
}

struct Decoder
{
    void *h = nullptr;
    std::vector<int32_t> errors;
    std::vector<H265D_OUTARGS> pictures;
    std::vector<Bytes> userData; /* copied on return: the slot may be reused */

    explicit Decoder(const H265D_INIT_PARAM &p, bool headersOnly = true)
    {
        logs().clear();
        H265D_TEST_OPTIONS t = {};
        t.iCpuMask = -1;
        t.bHeadersOnly = headersOnly ? 1 : 0;
        H265D_CreateForTest(&h, &p, &t);
    }
    Decoder() : Decoder(initParam()) {}
    ~Decoder()
    {
        if (h)
            H265D_Delete(h);
    }
    H265D_DEC_OBJ *obj() const
    {
        /* Tests that reach into the instance must see the library's layout:
         * a suite compiled against another decoder.h than the library (a
         * header edited while a build ran) would write beside the fields. */
        if (decoderObjectSize() != sizeof(H265D_DEC_OBJ)) {
            fprintf(stderr, "test and decoder library were built from different decoder.h: rebuild both\n");
            abort();
        }
        return (H265D_DEC_OBJ *)h;
    }

    /* Feeds one chunk the way a careful caller does. */
    void feed(const Bytes &b, uint64_t ts = 0)
    {
        size_t pos = 0;
        for (int guard = 0; guard < 100000; guard++) {
            H265D_INARGS in = {};
            H265D_OUTARGS out = {};
            static const uint8_t empty = 0;
            in.pStream = b.empty() ? &empty : b.data() + pos;
            in.uiStreamLen = (uint32_t)(b.size() - pos);
            in.uiTimeStamp = ts;
            const int32_t r = H265D_Decode(h, &in, &out);
            pos += out.uiBytesUsed;
            if (r == 0 && out.eDecodeStatus == 0) {
                take(out);
                continue;
            }
            if (r == 1)
                return;
            errors.push_back(r);
        }
    }
    void finish()
    {
        for (int guard = 0; guard < 1000; guard++) {
            H265D_INARGS in = {};
            H265D_OUTARGS out = {};
            in.eDecodeMode = IH265D_DECODE_END;
            const int32_t r = H265D_Decode(h, &in, &out);
            if (r != 0) {
                errors.push_back(r);
                continue;
            }
            if (out.eDecodeStatus == 2)
                return;
            take(out);
        }
    }
    void take(const H265D_OUTARGS &out)
    {
        pictures.push_back(out);
        userData.push_back(out.pucUserData ? Bytes(out.pucUserData, out.pucUserData + out.uiUserDataLen) : Bytes());
    }
    bool hasError(int32_t code) const { return std::find(errors.begin(), errors.end(), code) != errors.end(); }
};

/* VPS, SPS and PPS units of the default 64x64 stream. */
inline Bytes headers(const SpsParams &sps = SpsParams(), const PpsParams &pps = PpsParams(),
                     const VpsParams &vps = VpsParams())
{
    return cat({nal(NAL_VPS_NUT, vpsRbsp(vps)), nal(NAL_SPS_NUT, spsRbsp(sps)), nal(NAL_PPS_NUT, ppsRbsp(pps))});
}

/* A slice unit for a picture of the default stream. */
inline Bytes slice(const SliceParams &p)
{
    return nal(p.nalType, sliceRbsp(p));
}

inline SliceParams idr()
{
    return SliceParams();
}

/* A trailing P picture referring to the pictures at the given POC deltas. */
inline SliceParams trailP(int poc, std::vector<int> neg = {-1})
{
    SliceParams s;
    s.nalType = NAL_TRAIL_R;
    s.sliceType = 1;
    s.pocLsb = poc & 255;
    s.neg = neg;
    return s;
}

inline SliceParams trailB(int poc, std::vector<int> neg, std::vector<int> pos)
{
    SliceParams s;
    s.nalType = NAL_TRAIL_R;
    s.sliceType = 0;
    s.pocLsb = poc & 255;
    s.neg = neg;
    s.pos = pos;
    return s;
}

/* ---- whole streams ---- */

/* One instance decoding a whole stream: a hash of every picture's samples
 * and its coding unit counts, and every error code, in order. */
struct Decoded
{
    std::vector<uint64_t> pictures;
    std::vector<std::vector<uint32_t>> cuStats;
    std::vector<int32_t> errors;
    H265D_PATH_COUNTS paths = {};
    int32_t threadCount = 0;
};

/* The picture's samples; with `margins` also the borders that motion
 * compensation reads (128 luma columns left and right, 80 rows above and
 * below; half that in chroma), for streams without cropping. */
inline uint64_t pictureHash(const H265D_OUTARGS &out, bool margins = false)
{
    uint64_t h = 1469598103934665603ull;
    for (int c = 0; c < 3; c++) {
        const int sh = c ? 1 : 0;
        const int w = (int)out.uiDecWidth >> sh, rows = (int)out.uiDecHeight >> sh;
        const int mx = margins ? 128 >> sh : 0, my = margins ? 80 >> sh : 0;
        const ptrdiff_t stride = c ? out.uiUVStride : out.uiYStride;
        for (int y = -my; y < rows + my; y++)
            for (int x = -mx; x < w + mx; x++)
                h = (h ^ out.pucOutYUV[c][y * stride + x]) * 1099511628211ull;
    }
    return h;
}

/* Feeds `stream` `times` times over to the instance h in chunks of `chunk`
 * bytes, the way a careful caller does, and drains it; `prepare` sees the
 * instance before every call. */
template <typename Prepare>
Decoded decodeStream(void *h, const Bytes &stream, int times, size_t chunk, Prepare prepare, bool margins = false)
{
    Decoded d;
    auto take = [&](int32_t r, const H265D_OUTARGS &out) {
        if (r == H265D_OK && out.eDecodeStatus == IH265D_STATUS_PICTURE) {
            d.pictures.push_back(pictureHash(out, margins));
            d.cuStats.emplace_back(out.auiCuStats, out.auiCuStats + 18);
        } else if (r != H265D_OK && r != H265D_NEED_MORE_DATA)
            d.errors.push_back(r);
    };
    for (int t = 0; t < times; t++)
        for (size_t pos = 0; pos < stream.size();) {
            const size_t n = std::min(chunk, stream.size() - pos);
            size_t used = 0;
            for (int guard = 0; guard < 100000; guard++) {
                prepare((H265D_DEC_OBJ *)h);
                H265D_INARGS in = {};
                H265D_OUTARGS out = {};
                in.pStream = stream.data() + pos + used;
                in.uiStreamLen = (uint32_t)(n - used);
                const int32_t r = H265D_Decode(h, &in, &out);
                used += out.uiBytesUsed;
                take(r, out);
                if (r == H265D_NEED_MORE_DATA)
                    break;
            }
            pos += n;
        }
    for (int guard = 0; guard < 1000; guard++) {
        H265D_INARGS in = {};
        H265D_OUTARGS out = {};
        in.eDecodeMode = IH265D_DECODE_END;
        const int32_t r = H265D_Decode(h, &in, &out);
        take(r, out);
        if (r == H265D_OK && out.eDecodeStatus == IH265D_STATUS_END)
            break;
    }
    H265D_GetPathCounts(h, &d.paths);
    d.threadCount = ((H265D_DEC_OBJ *)h)->threadCount;
    return d;
}

/* The corpus stream NAME.hevc from $HEVC_CORPUS_DIR; empty when missing. */
inline Bytes corpusStream(const char *name)
{
    const char *dir = getenv("HEVC_CORPUS_DIR");
    Bytes all;
    readFile(std::string(dir ? dir : "") + "/" + name + ".hevc", all);
    return all;
}

} // namespace h265test

#endif
