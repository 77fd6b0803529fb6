/* h265gen: writes H.265 Main-profile streams of shapes no encoder on hand
 * makes (tiles, dependent slice segments, slices starting inside a CTB row,
 * loop filtering across slices, PCM, ...). It writes syntax only: every
 * choice (splits, modes, merge indexes, SAO parameters, PCM samples, DC
 * levels) comes from the seed, and it never reconstructs a picture, because
 * the streams are checked by decoding them with FFmpeg and with our decoder.
 * It shares no code with the decoder.
 *   h265gen --preset NAME [--seed S] [--frames N] [--size WxH] OUT.hevc
 *   h265gen --list */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "h265gen_cabac.h"

using namespace h265gen;

namespace {

/* splitmix64: the same numbers on every platform and library. */
class Rng
{
public:
    explicit Rng(uint64_t seed) : s_(seed * 0x9E3779B97F4A7C15ull + 0x1234567ull) {}
    uint32_t next()
    {
        uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return (uint32_t)((z ^ (z >> 31)) >> 16);
    }
    /* lo..hi inclusive */
    int range(int lo, int hi) { return hi <= lo ? lo : lo + (int)(next() % (uint32_t)(hi - lo + 1)); }
    bool chance(int percent) { return (int)(next() % 100) < percent; }

private:
    uint64_t s_;
};

enum SegMode { SEG_ONE, SEG_RANDOM, SEG_WPP_ROWS, SEG_TILES, SEG_ROWS, SEG_ROW_STARTS };

struct Preset
{
    const char *name;
    const char *what;
    int ctbLog2 = 5;
    int w = 256, h = 192, frames = 3;
    bool tiles = false, uniform = true, lfAcrossTiles = true;
    int tileCols = 1, tileRows = 1;
    bool wpp = false;
    SegMode seg = SEG_ONE;
    bool depSlices = false;
    int depPercent = 0;
    bool lfAcrossSlices = false;
    bool sliceLfFlagRandom = false; /* per-slice slice_loop_filter_across_slices_enabled_flag */
    bool deblockOverride = false;   /* per-slice deblocking override, sometimes off */
    bool sao = true;
    bool pcm = false, pcmLfDisabled = false;
    int pcmPercent = 0;
    bool inter = false;
    int numRefs = 2;
    bool qpDelta = false;
    bool listMod = false;
    bool amp = false;
    bool residual = true;
    bool deblock = true;
    bool bSlices = false;  /* inter pictures of B slices now and then */
    bool cip = false;      /* constrained_intra_pred_flag */
    bool longTerm = false; /* the IDR picture stays as a long-term reference */
};

/* --set NAME=VALUE: one preset field changed, to narrow down a difference. */
bool setField(Preset &p, const std::string &kv)
{
    const size_t eq = kv.find('=');
    if (eq == std::string::npos)
        return false;
    const std::string k = kv.substr(0, eq);
    const int v = atoi(kv.c_str() + eq + 1);
    struct F
    {
        const char *name;
        bool *b;
        int *i;
    } fields[] = {
        {"tiles", &p.tiles, nullptr},
        {"uniform", &p.uniform, nullptr},
        {"lfAcrossTiles", &p.lfAcrossTiles, nullptr},
        {"wpp", &p.wpp, nullptr},
        {"depSlices", &p.depSlices, nullptr},
        {"lfAcrossSlices", &p.lfAcrossSlices, nullptr},
        {"sliceLfFlagRandom", &p.sliceLfFlagRandom, nullptr},
        {"deblockOverride", &p.deblockOverride, nullptr},
        {"sao", &p.sao, nullptr},
        {"pcm", &p.pcm, nullptr},
        {"pcmLfDisabled", &p.pcmLfDisabled, nullptr},
        {"inter", &p.inter, nullptr},
        {"qpDelta", &p.qpDelta, nullptr},
        {"listMod", &p.listMod, nullptr},
        {"amp", &p.amp, nullptr},
        {"residual", &p.residual, nullptr},
        {"deblock", &p.deblock, nullptr},
        {"ctbLog2", nullptr, &p.ctbLog2},
        {"tileCols", nullptr, &p.tileCols},
        {"tileRows", nullptr, &p.tileRows},
        {"depPercent", nullptr, &p.depPercent},
        {"pcmPercent", nullptr, &p.pcmPercent},
        {"numRefs", nullptr, &p.numRefs},
        {"seg", nullptr, (int *)&p.seg},
        {"bSlices", &p.bSlices, nullptr},
        {"longTerm", &p.longTerm, nullptr},
        {"cip", &p.cip, nullptr},
    };
    for (const F &f : fields) {
        if (k != f.name)
            continue;
        if (f.b)
            *f.b = v != 0;
        else
            *f.i = v;
        return true;
    }
    return false;
}

std::vector<Preset> presets()
{
    std::vector<Preset> v;
    Preset p;
    p = Preset();
    p.name = "tiles_uniform";
    p.what = "3x2 uniform tiles, one slice, loop filters across tiles";
    p.tiles = true, p.tileCols = 3, p.tileRows = 2;
    v.push_back(p);
    p = Preset();
    p.name = "tiles_explicit";
    p.what = "4x3 tiles of seeded column widths and row heights, CU QP deltas";
    p.tiles = true, p.tileCols = 4, p.tileRows = 3, p.uniform = false, p.qpDelta = true;
    v.push_back(p);
    p = Preset();
    p.name = "tiles_nolf";
    p.what = "3x3 explicit tiles, no loop filtering across tiles";
    p.tiles = true, p.tileCols = 3, p.tileRows = 3, p.uniform = false, p.lfAcrossTiles = false;
    v.push_back(p);
    p = Preset();
    p.name = "tiles_slices";
    p.what = "3x2 tiles: several slices in a tile and several tiles in a slice, dependent segments";
    p.tiles = true, p.tileCols = 3, p.tileRows = 2, p.seg = SEG_TILES, p.depSlices = true, p.depPercent = 40;
    p.lfAcrossSlices = true, p.sliceLfFlagRandom = true, p.qpDelta = true;
    v.push_back(p);
    p = Preset();
    p.name = "tiles_64";
    p.what = "64-pixel CTBs, 2x2 tiles over 6x4 CTBs";
    p.ctbLog2 = 6, p.w = 384, p.h = 256, p.tiles = true, p.tileCols = 2, p.tileRows = 2;
    v.push_back(p);
    p = Preset();
    p.name = "dep_slices";
    p.what = "slice segments, most of them dependent, starting anywhere";
    p.seg = SEG_RANDOM, p.depSlices = true, p.depPercent = 70, p.qpDelta = true;
    v.push_back(p);
    p = Preset();
    p.name = "dep_slices_wpp";
    p.what = "wavefronts with dependent segments, some starting at a row start";
    p.wpp = true, p.seg = SEG_WPP_ROWS, p.depSlices = true, p.depPercent = 70, p.qpDelta = true;
    v.push_back(p);
    p = Preset();
    p.name = "slices_nowpp";
    p.what = "independent slices of whole CTB rows, no wavefronts, each of several dependent segments";
    p.seg = SEG_ROWS, p.depSlices = true, p.depPercent = 60;
    v.push_back(p);
    p = Preset();
    p.name = "slices_midrow";
    p.what = "independent slices starting inside CTB rows";
    p.seg = SEG_RANDOM;
    v.push_back(p);
    p = Preset();
    p.name = "slices_lf";
    p.what = "slices with loop filtering across slices on and off per slice, deblocking overrides";
    p.seg = SEG_RANDOM, p.lfAcrossSlices = true, p.sliceLfFlagRandom = true, p.deblockOverride = true;
    v.push_back(p);
    p.name = "slices_lfmix";
    p.what = "slices without SAO, loop filtering across slices on and off slice by slice";
    p.sao = false;
    v.push_back(p);
    p = Preset();
    p.name = "pcm_lf";
    p.what = "PCM CUs filtered like the others";
    p.pcm = true, p.pcmPercent = 40;
    v.push_back(p);
    p = Preset();
    p.name = "pcm_nolf";
    /* No SAO: FFmpeg (5.1) offsets the chroma of such CUs outside the
     * top-left quarter of their CTB. */
    p.what = "PCM CUs kept out of deblocking, across tiles";
    p.pcm = true, p.pcmPercent = 40, p.pcmLfDisabled = true, p.tiles = true, p.tileCols = 2, p.tileRows = 2;
    p.sao = false;
    v.push_back(p);
    p = Preset();
    p.name = "p_merge";
    p.what = "P pictures of skip, merge and AMVP CUs with intra and PCM ones, TMVP, three references";
    p.inter = true, p.numRefs = 3, p.pcm = true, p.pcmPercent = 20, p.frames = 6, p.amp = true;
    v.push_back(p);
    p = Preset();
    p.name = "p_merge_tiles";
    p.what = "P pictures over 3x2 tiles, several slices, list modification";
    p.inter = true, p.numRefs = 2, p.pcm = true, p.pcmPercent = 10, p.frames = 5;
    p.tiles = true, p.tileCols = 3, p.tileRows = 2, p.uniform = false, p.seg = SEG_TILES, p.depSlices = true;
    p.depPercent = 40, p.listMod = true, p.qpDelta = true;
    v.push_back(p);
    p = Preset();
    p.name = "p_dep_wpp";
    p.what = "P pictures with wavefronts and dependent segments";
    p.inter = true, p.frames = 5, p.wpp = true, p.seg = SEG_WPP_ROWS, p.depSlices = true, p.depPercent = 60;
    p.lfAcrossSlices = true, p.sliceLfFlagRandom = true, p.qpDelta = true;
    v.push_back(p);
    p = Preset();
    p.name = "p_64";
    p.what = "P pictures of 64-pixel CTBs, 6x4 CTBs, one slice";
    p.ctbLog2 = 6, p.w = 384, p.h = 256, p.inter = true, p.frames = 4, p.pcm = true, p.pcmPercent = 10;
    v.push_back(p);
    p = Preset();
    p.name = "wpp";
    p.what = "one slice of wavefronts, 64-pixel CTBs: row jobs start at its entry points";
    p.ctbLog2 = 6, p.w = 384, p.h = 320, p.wpp = true, p.pcm = true, p.pcmPercent = 10, p.qpDelta = true;
    v.push_back(p);
    p.name = "p_wpp";
    p.what = "P pictures of one slice of wavefronts, 64-pixel CTBs";
    p.inter = true, p.frames = 4;
    v.push_back(p);
    p = Preset();
    p.name = "b_lowdelay";
    p.what = "B pictures predicting from earlier ones only, bi-prediction, list modification of both lists";
    p.inter = true, p.bSlices = true, p.numRefs = 3, p.frames = 6, p.listMod = true, p.amp = true;
    p.pcm = true, p.pcmPercent = 10;
    v.push_back(p);
    p = Preset();
    p.name = "p_longterm";
    p.what = "P and B pictures keeping the IDR picture as a long-term reference, over tiles";
    p.inter = true, p.bSlices = true, p.longTerm = true, p.numRefs = 3, p.frames = 7;
    p.tiles = true, p.tileCols = 2, p.tileRows = 2, p.seg = SEG_TILES, p.depSlices = true, p.depPercent = 40;
    v.push_back(p);
    p = Preset();
    p.name = "rows_dep";
    p.what = "segments of whole CTB rows, most of them dependent, loop filters across slices";
    p.seg = SEG_ROW_STARTS, p.depSlices = true, p.depPercent = 60, p.lfAcrossSlices = true, p.qpDelta = true;
    v.push_back(p);
    p.name = "rows_dep_wpp";
    p.what = "wavefronts with segments of whole CTB rows, most of them dependent";
    p.wpp = true;
    v.push_back(p);
    p = Preset();
    p.name = "p_rows_dep";
    p.what = "P pictures with segments of whole CTB rows, most of them dependent";
    p.inter = true, p.frames = 5, p.seg = SEG_ROW_STARTS, p.depSlices = true, p.depPercent = 60;
    v.push_back(p);
    p = Preset();
    p.name = "p_tiles";
    p.what = "P pictures over 3x3 tiles of seeded sizes, one slice";
    p.inter = true, p.frames = 5, p.tiles = true, p.tileCols = 3, p.tileRows = 3, p.uniform = false;
    v.push_back(p);
    p = Preset();
    p.name = "p_cip";
    p.what = "P pictures with constrained intra prediction: intra CUs among inter ones";
    p.inter = true, p.frames = 5, p.cip = true, p.pcm = true, p.pcmPercent = 20;
    v.push_back(p);
    p = Preset();
    p.name = "p_rows_lf";
    p.what = "P pictures of slices of whole CTB rows filtered across slices, deblocking offsets slice by slice";
    p.inter = true, p.frames = 5, p.seg = SEG_ROW_STARTS, p.depSlices = true, p.depPercent = 50;
    p.lfAcrossSlices = true, p.sliceLfFlagRandom = true, p.deblockOverride = true, p.pcm = true, p.pcmPercent = 10;
    p.qpDelta = true;
    v.push_back(p);
    p = Preset();
    p.name = "plain";
    p.what = "one slice, no tiles: the base the other shapes are told apart from";
    v.push_back(p);
    return v;
}

enum { SLICE_B = 0, SLICE_P = 1, SLICE_I = 2 };
enum PartMode { PART_2Nx2N, PART_2NxN, PART_Nx2N, PART_NxN, PART_2NxnU, PART_2NxnD, PART_nLx2N, PART_nRx2N };

struct Segment
{
    int start; /* CtbAddrInTs */
    int end;
    bool dependent;
};

/* What every segment of one slice shares. */
struct SliceParams
{
    int type = SLICE_I;
    int sliceAddrRs = 0;
    int qpDelta = 0;
    int qp = 26;
    bool saoLuma = false, saoChroma = false;
    bool cabacInitFlag = false;
    bool mvdL1Zero = false;
    int maxMergeCand = 5;
    bool lfAcross = false;
    bool deblockOverride = false, deblockDisabled = false;
    int betaDiv2 = 0, tcDiv2 = 0;
    int cbQpOffset = 0, crQpOffset = 0;
    int initType() const
    {
        if (type == SLICE_I)
            return 0;
        if (type == SLICE_P)
            return cabacInitFlag ? 2 : 1;
        return cabacInitFlag ? 1 : 2;
    }
};

/* Stream-wide choices that land in the parameter sets. */
struct StreamParams
{
    int w, h, ctbLog2, ctb, wCtb, hCtb, nCtb;
    int maxTbLog2 = 5;
    int maxTrDepthIntra = 1, maxTrDepthInter = 1;
    int pcmBitsY = 8, pcmBitsC = 8, pcmMinLog2 = 3, pcmMaxLog2 = 5;
    int initQp = 30;
    int betaDiv2 = 0, tcDiv2 = 0;
    int cbQpOffset = 0, crQpOffset = 0;
    int diffCuQpDeltaDepth = 0;
    int parMrgLevel = 2;
    bool tmvp = true;
    bool strongIntra = true;
    int ltSps = 0;               /* num_long_term_ref_pics_sps */
    std::vector<int> colW, rowH; /* in CTBs */
    std::vector<int> rsToTs, tsToRs, tileIdTs, colOfCtb;
};

std::vector<uint8_t> escape(const std::vector<uint8_t> &in)
{
    std::vector<uint8_t> out;
    int zeros = 0;
    for (uint8_t b : in) {
        if (zeros >= 2 && b <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        out.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
    return out;
}

class Writer
{
public:
    Writer(const Preset &p, uint64_t seed, int frames, int w, int h) : p_(p), rng_(seed), frames_(frames)
    {
        s_.w = w;
        s_.h = h;
        s_.ctbLog2 = p.ctbLog2;
        s_.ctb = 1 << p.ctbLog2;
        s_.wCtb = (w + s_.ctb - 1) >> p.ctbLog2;
        s_.hCtb = (h + s_.ctb - 1) >> p.ctbLog2;
        s_.nCtb = s_.wCtb * s_.hCtb;
        s_.maxTbLog2 = p.ctbLog2 < 5 ? p.ctbLog2 : 5;
        s_.maxTrDepthIntra = rng_.range(0, 2);
        s_.maxTrDepthInter = rng_.range(0, 2);
        s_.pcmBitsY = rng_.range(5, 8);
        s_.pcmBitsC = rng_.range(5, 8);
        s_.pcmMaxLog2 = s_.maxTbLog2;
        s_.pcmMinLog2 = rng_.range(3, s_.pcmMaxLog2);
        s_.initQp = rng_.range(22, 36);
        s_.betaDiv2 = rng_.range(-6, 6);
        s_.tcDiv2 = rng_.range(-6, 6);
        s_.cbQpOffset = rng_.range(-6, 6);
        s_.crQpOffset = rng_.range(-6, 6);
        s_.diffCuQpDeltaDepth = rng_.range(0, p.ctbLog2 - 3);
        s_.parMrgLevel = p.inter ? rng_.range(2, p.ctbLog2) : 2;
        s_.strongIntra = rng_.chance(50);
        s_.ltSps = rng_.range(0, 1);
        tileGeometry();
        minCbW_ = (w + 7) / 8;
        minCbH_ = (h + 7) / 8;
    }

    std::vector<uint8_t> stream()
    {
        std::vector<uint8_t> out;
        putNal(out, vps(), true);
        putNal(out, sps(), true);
        putNal(out, pps(), true);
        for (int f = 0; f < frames_; f++)
            picture(out, f);
        return out;
    }
    std::string summary() const { return summary_; }

private:
    /* ---- parameter sets ---- */
    void nalHeader(BitWriter &b, int type)
    {
        b.bit(0);
        b.bits(type, 6);
        b.bits(0, 6);
        b.bits(1, 3);
    }
    void profileTierLevel(BitWriter &b)
    {
        b.bits(0, 2); /* general_profile_space */
        b.bit(0);     /* general_tier_flag */
        b.bits(1, 5); /* Main */
        for (int j = 0; j < 32; j++)
            b.bit(j == 1 || j == 2);
        b.bit(1); /* progressive */
        b.bit(0);
        b.bit(0);
        b.bit(1); /* frame only */
        b.bits(0, 22);
        b.bits(0, 22);
        b.bits(186, 8); /* level 6.2: no tile or slice count limit applies */
    }
    std::vector<uint8_t> vps()
    {
        BitWriter b;
        nalHeader(b, 32);
        b.bits(0, 4);
        b.bit(1);
        b.bit(1);
        b.bits(0, 6);
        b.bits(0, 3);
        b.bit(1);
        b.bits(0xFFFF, 16);
        profileTierLevel(b);
        b.bit(1);
        b.ue(dpbSize() - 1);
        b.ue(0);
        b.ue(0);
        b.bits(0, 6);
        b.ue(0);
        b.bit(0);
        b.bit(0);
        b.trailing();
        return b.bytes();
    }
    int dpbSize() const { return p_.inter ? p_.numRefs + 1 : 1; }
    std::vector<uint8_t> sps()
    {
        BitWriter b;
        nalHeader(b, 33);
        b.bits(0, 4);
        b.bits(0, 3);
        b.bit(1);
        profileTierLevel(b);
        b.ue(0); /* sps_seq_parameter_set_id */
        b.ue(1); /* 4:2:0 */
        b.ue(s_.w);
        b.ue(s_.h);
        b.bit(0); /* conformance_window_flag */
        b.ue(0);
        b.ue(0);
        b.ue(4); /* log2_max_pic_order_cnt_lsb_minus4 */
        b.bit(1);
        b.ue(dpbSize() - 1);
        b.ue(0);
        b.ue(0);
        b.ue(0); /* MinCb 8 */
        b.ue(s_.ctbLog2 - 3);
        b.ue(0); /* MinTb 4 */
        b.ue(s_.maxTbLog2 - 2);
        b.ue(s_.maxTrDepthInter);
        b.ue(s_.maxTrDepthIntra);
        b.bit(0); /* scaling_list_enabled_flag */
        b.bit(p_.amp);
        b.bit(p_.sao);
        b.bit(p_.pcm);
        if (p_.pcm) {
            b.bits(s_.pcmBitsY - 1, 4);
            b.bits(s_.pcmBitsC - 1, 4);
            b.ue(s_.pcmMinLog2 - 3);
            b.ue(s_.pcmMaxLog2 - s_.pcmMinLog2);
            b.bit(p_.pcmLfDisabled);
        }
        b.ue(0); /* num_short_term_ref_pic_sets */
        b.bit(p_.longTerm);
        if (p_.longTerm) {
            /* POC 0, the IDR picture, also listed in the SPS */
            b.ue(s_.ltSps);
            for (int i = 0; i < s_.ltSps; i++) {
                b.bits(0, 8);
                b.bit(1);
            }
        }
        b.bit(s_.tmvp);
        b.bit(s_.strongIntra);
        b.bit(0); /* vui */
        b.bit(0);
        b.trailing();
        return b.bytes();
    }
    std::vector<uint8_t> pps()
    {
        BitWriter b;
        nalHeader(b, 34);
        b.ue(0);
        b.ue(0);
        b.bit(p_.depSlices);
        b.bit(0); /* output_flag_present_flag */
        b.bits(0, 3);
        b.bit(0); /* sign_data_hiding_enabled_flag */
        b.bit(1); /* cabac_init_present_flag */
        b.ue(0);
        b.ue(0);
        b.se(s_.initQp - 26);
        b.bit(p_.cip);
        b.bit(0); /* transform_skip_enabled_flag */
        b.bit(p_.qpDelta);
        if (p_.qpDelta)
            b.ue(s_.diffCuQpDeltaDepth);
        b.se(s_.cbQpOffset);
        b.se(s_.crQpOffset);
        b.bit(1); /* pps_slice_chroma_qp_offsets_present_flag */
        b.bit(0);
        b.bit(0);
        b.bit(0); /* transquant_bypass_enabled_flag */
        b.bit(p_.tiles);
        b.bit(p_.wpp);
        if (p_.tiles) {
            b.ue(p_.tileCols - 1);
            b.ue(p_.tileRows - 1);
            b.bit(p_.uniform);
            if (!p_.uniform) {
                for (int i = 0; i < p_.tileCols - 1; i++)
                    b.ue(s_.colW[i] - 1);
                for (int i = 0; i < p_.tileRows - 1; i++)
                    b.ue(s_.rowH[i] - 1);
            }
            b.bit(p_.lfAcrossTiles);
        }
        b.bit(p_.lfAcrossSlices);
        b.bit(1);           /* deblocking_filter_control_present_flag */
        b.bit(1);           /* deblocking_filter_override_enabled_flag */
        b.bit(!p_.deblock); /* pps_deblocking_filter_disabled_flag */
        if (p_.deblock) {
            b.se(s_.betaDiv2);
            b.se(s_.tcDiv2);
        }
        b.bit(0); /* pps_scaling_list_data_present_flag */
        b.bit(p_.listMod);
        b.ue(s_.parMrgLevel - 2);
        b.bit(0);
        b.bit(0);
        b.trailing();
        return b.bytes();
    }

    void tileGeometry()
    {
        const int nc = p_.tiles ? p_.tileCols : 1, nr = p_.tiles ? p_.tileRows : 1;
        auto split = [&](int total, int n, bool uniform) {
            std::vector<int> v(n);
            if (uniform) {
                for (int i = 0; i < n; i++)
                    v[i] = ((i + 1) * total) / n - (i * total) / n;
            } else {
                /* seeded sizes of at least one CTB each */
                std::fill(v.begin(), v.end(), 1);
                for (int left = total - n; left > 0; left--)
                    v[rng_.range(0, n - 1)]++;
            }
            return v;
        };
        s_.colW = split(s_.wCtb, nc, !p_.tiles || p_.uniform);
        s_.rowH = split(s_.hCtb, nr, !p_.tiles || p_.uniform);
        std::vector<int> colBd(nc + 1, 0), rowBd(nr + 1, 0);
        for (int i = 0; i < nc; i++)
            colBd[i + 1] = colBd[i] + s_.colW[i];
        for (int j = 0; j < nr; j++)
            rowBd[j + 1] = rowBd[j] + s_.rowH[j];
        s_.rsToTs.assign(s_.nCtb, 0);
        s_.tsToRs.assign(s_.nCtb, 0);
        s_.tileIdTs.assign(s_.nCtb, 0);
        int ts = 0, tile = 0;
        for (int j = 0; j < nr; j++) {
            for (int i = 0; i < nc; i++, tile++) {
                for (int y = rowBd[j]; y < rowBd[j + 1]; y++) {
                    for (int x = colBd[i]; x < colBd[i + 1]; x++) {
                        const int rs = y * s_.wCtb + x;
                        s_.rsToTs[rs] = ts;
                        s_.tsToRs[ts] = rs;
                        s_.tileIdTs[ts] = tile;
                        ts++;
                    }
                }
            }
        }
    }
    int tileOfRs(int rs) const { return s_.tileIdTs[s_.rsToTs[rs]]; }
    bool firstInTile(int ts) const { return ts == 0 || s_.tileIdTs[ts] != s_.tileIdTs[ts - 1]; }

    /* ---- slice segment layout of one picture ---- */
    std::vector<Segment> segments()
    {
        std::vector<int> starts; /* CtbAddrInTs where a segment starts */
        std::vector<bool> dep;
        auto add = [&](int ts, bool dependent) {
            starts.push_back(ts);
            dep.push_back(dependent && p_.depSlices && ts > 0);
        };
        const int n = s_.nCtb;
        switch (p_.seg) {
        case SEG_ONE:
            add(0, false);
            break;
        case SEG_RANDOM: {
            /* cuts anywhere, slices starting inside CTB rows */
            std::vector<bool> cut(n, false);
            const int k = rng_.range(2, 6);
            for (int i = 0; i < k; i++)
                cut[rng_.range(1, n - 1)] = true;
            add(0, false);
            for (int ts = 1; ts < n; ts++)
                if (cut[ts])
                    add(ts, rng_.chance(p_.depPercent));
            break;
        }
        case SEG_ROWS: {
            /* slices of whole CTB rows, each of several segments */
            int row = 0;
            while (row < s_.hCtb) {
                const int rows = rng_.range(1, 2);
                const int a = row * s_.wCtb, b = std::min(s_.hCtb, row + rows) * s_.wCtb;
                add(a, false);
                const int k = rng_.range(0, 2);
                std::vector<int> cuts;
                for (int i = 0; i < k; i++)
                    cuts.push_back(rng_.range(a + 1, b - 1));
                std::sort(cuts.begin(), cuts.end());
                cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
                for (int c : cuts)
                    add(c, true);
                row += rows;
            }
            break;
        }
        case SEG_ROW_STARTS:
            /* every segment starts a CTB row and runs over one to three */
            for (int row = 0; row < s_.hCtb; row += rng_.range(1, 3))
                add(row * s_.wCtb, rng_.chance(p_.depPercent));
            break;
        case SEG_WPP_ROWS: {
            /* With wavefronts a segment (and a slice) that starts inside a row
             * ends in it; one that starts a row may run over several. */
            bool sliceOpenedMidRow = false;
            for (int row = 0; row < s_.hCtb;) {
                const int a = row * s_.wCtb;
                if (rng_.chance(50) || s_.wCtb < 3) {
                    const int rows = rng_.range(1, 3);
                    add(a, sliceOpenedMidRow ? false : rng_.chance(p_.depPercent));
                    sliceOpenedMidRow = false;
                    row += rows;
                } else {
                    add(a, sliceOpenedMidRow ? false : rng_.chance(p_.depPercent));
                    sliceOpenedMidRow = false;
                    int x = 0;
                    const int pieces = rng_.range(1, 2);
                    for (int i = 0; i < pieces && x < s_.wCtb - 1; i++) {
                        x = rng_.range(x + 1, s_.wCtb - 1);
                        const bool d = rng_.chance(p_.depPercent);
                        add(a + x, d);
                        if (!d || !p_.depSlices)
                            sliceOpenedMidRow = true;
                    }
                    row += 1;
                }
            }
            break;
        }
        case SEG_TILES: {
            /* Per run of tiles: either one slice over 1..3 whole tiles, its
             * segments made of whole tiles or lying inside one, or one tile
             * cut into several slices and segments. */
            const int nt = p_.tileCols * p_.tileRows;
            std::vector<int> tileStart(nt + 1, n);
            for (int ts = n - 1; ts >= 0; ts--)
                tileStart[s_.tileIdTs[ts]] = ts;
            int t = 0;
            while (t < nt) {
                const int a = tileStart[t];
                if (rng_.chance(50)) {
                    const int m = std::min(nt - t, rng_.range(1, 3));
                    add(a, false);
                    const bool inside = rng_.chance(50);
                    for (int u = t; u < t + m; u++) {
                        if (u > t && (inside || rng_.chance(50)))
                            add(tileStart[u], true);
                        if (inside && tileStart[u + 1] - tileStart[u] > 1 && rng_.chance(60))
                            add(rng_.range(tileStart[u] + 1, tileStart[u + 1] - 1), true);
                    }
                    t += m;
                } else {
                    add(a, false);
                    const int size = tileStart[t + 1] - a;
                    std::vector<int> cuts;
                    for (int i = rng_.range(1, 3); i > 0 && size > 1; i--)
                        cuts.push_back(rng_.range(a + 1, a + size - 1));
                    std::sort(cuts.begin(), cuts.end());
                    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
                    for (int c : cuts)
                        add(c, rng_.chance(p_.depPercent));
                    t++;
                }
            }
            break;
        }
        }
        std::vector<Segment> out;
        for (size_t i = 0; i < starts.size(); i++) {
            Segment s;
            s.start = starts[i];
            s.end = i + 1 < starts.size() ? starts[i + 1] : n;
            s.dependent = dep[i];
            out.push_back(s);
        }
        return out;
    }

    /* ---- one picture ---- */
    void picture(std::vector<uint8_t> &out, int f)
    {
        const bool idr = f == 0;
        poc_ = f;
        /* The short-term references are the pictures just before; with a
         * long-term one (POC 0) they leave it a place in the DPB. */
        useLt_ = p_.longTerm && f > 0;
        numSt_ = p_.inter ? std::min(f, p_.numRefs) : 0;
        if (useLt_)
            numSt_ = std::min(f - 1, p_.numRefs - 1);
        numRefs_ = numSt_ + (useLt_ ? 1 : 0); /* NumPicTotalCurr */
        ltFromSps_ = useLt_ && s_.ltSps > 0 && rng_.chance(50);
        ltMsbPresent_ = useLt_ && rng_.chance(30);
        /* P pictures now and then carry an I slice; intra-only pictures
         * appear among them too. */
        picInter_ = numRefs_ > 0 && !rng_.chance(15);
        /* Always on: a picture without it would bar later ones from the
         * motion of the pictures before it. */
        picTmvp_ = s_.tmvp;
        picB_ = p_.bSlices && rng_.chance(60);
        for (int l = 0; l < 2; l++) {
            numRefIdx_[l] = numRefs_ > 0 ? rng_.range(1, std::min(15, numRefs_ + 1)) : 0;
            listModFlag_[l] = p_.listMod && numRefs_ > 1 && rng_.chance(70);
            listEntries_[l].clear();
            for (int i = 0; i < numRefIdx_[l]; i++)
                listEntries_[l].push_back(rng_.range(0, numRefs_ - 1));
        }
        /* one collocated picture for all slices: a P picture's slices take
         * it from list 0 */
        colFromL0_ = !picB_ || rng_.chance(50);
        colRefIdx_ = numRefIdx_[colFromL0_ ? 0 : 1] > 0 ? rng_.range(0, numRefIdx_[colFromL0_ ? 0 : 1] - 1) : 0;
        picBetaDiv2_ = rng_.range(-6, 6);
        picTcDiv2_ = rng_.range(-6, 6);
        picLfAcross_ = rng_.chance(60);

        ctbSliceAddr_.assign(s_.nCtb, -1);
        ctDepth_.assign(minCbW_ * minCbH_, 0);
        skip_.assign(minCbW_ * minCbH_, 0);
        std::vector<Segment> segs = segments();
        SliceParams sl;
        bool first = true;
        int count = 0, dependents = 0;
        std::string segLines;
        for (const Segment &seg : segs) {
            if (!seg.dependent)
                sl = sliceParams(seg);
            std::vector<std::vector<uint8_t>> subs = segmentData(seg, sl);
            putNal(out, sliceNal(idr, first, seg, sl, subs), first);
            first = false;
            count++;
            dependents += seg.dependent;
            char one[96];
            snprintf(one, sizeof one, "  segment ts %d..%d rs %d tile %d%s%s\n", seg.start, seg.end - 1,
                     s_.tsToRs[seg.start], s_.tileIdTs[seg.start], seg.dependent ? " dependent" : "",
                     sl.type == SLICE_P   ? " P"
                     : sl.type == SLICE_B ? " B"
                                          : " I");
            segLines += one;
        }
        char line[160];
        snprintf(line, sizeof line, "picture %d: %d segments (%d dependent)%s\n", f, count, dependents,
                 picInter_ ? (picB_ ? " B" : " P") : "");
        summary_ += line + segLines;
    }

    SliceParams sliceParams(const Segment &seg)
    {
        SliceParams sl;
        sl.sliceAddrRs = s_.tsToRs[seg.start];
        sl.type = picInter_ && !rng_.chance(10) ? (picB_ ? SLICE_B : SLICE_P) : SLICE_I;
        sl.mvdL1Zero = rng_.chance(30);
        sl.qpDelta = rng_.range(-4, 4);
        sl.qp = s_.initQp + sl.qpDelta;
        sl.saoLuma = p_.sao && rng_.chance(85);
        sl.saoChroma = p_.sao && rng_.chance(85);
        sl.cabacInitFlag = rng_.chance(50);
        sl.maxMergeCand = rng_.range(1, 5);
        sl.cbQpOffset = rng_.range(-4, 4);
        sl.crQpOffset = rng_.range(-4, 4);
        /* FFmpeg (5.1) takes the offsets of a chroma edge piece that
         * straddles a CTB's left side from the CTB on the left, and a slice
         * with deblocking off keeps the offsets of the slice parsed before
         * it: the offsets change per picture only and the first slice of a
         * picture keeps deblocking on. */
        if (p_.deblockOverride) {
            /* Slices of whole CTB rows have no such piece: their offsets
             * change slice by slice. */
            const bool rows = p_.seg == SEG_ROW_STARTS;
            sl.deblockOverride = true;
            sl.deblockDisabled = (seg.start > 0 || rows) && rng_.chance(30);
            sl.betaDiv2 = rows ? rng_.range(-6, 6) : picBetaDiv2_;
            sl.tcDiv2 = rows ? rng_.range(-6, 6) : picTcDiv2_;
        }
        /* With SAO the flag is the same for all slices of a picture: FFmpeg
         * (5.1) offsets a CTB's samples next to a later slice by the CTB's
         * own flag where the later slice's one governs. */
        sl.lfAcross = p_.lfAcrossSlices && (!p_.sliceLfFlagRandom || rng_.chance(60));
        if (p_.sao && p_.sliceLfFlagRandom) {
            sl.lfAcross = p_.lfAcrossSlices && picLfAcross_;
            /* The flag is written, not inferred from the PPS's. */
            const bool deblockOff = sl.deblockOverride ? sl.deblockDisabled : !p_.deblock;
            if (!sl.saoLuma && !sl.saoChroma && deblockOff)
                sl.saoLuma = true;
        }
        return sl;
    }

    std::vector<uint8_t> sliceNal(bool idr, bool first, const Segment &seg, const SliceParams &sl,
                                  const std::vector<std::vector<uint8_t>> &subs)
    {
        BitWriter b;
        nalHeader(b, idr ? 19 : 1);
        b.bit(first);
        if (idr)
            b.bit(0); /* no_output_of_prior_pics_flag */
        b.ue(0);
        if (!first) {
            if (p_.depSlices)
                b.bit(seg.dependent);
            int bits = 0;
            while ((1 << bits) < s_.nCtb)
                bits++;
            b.bits(s_.tsToRs[seg.start], bits);
        }
        if (!seg.dependent) {
            b.ue(sl.type);
            if (!idr) {
                b.bits(poc_ & 255, 8);
                b.bit(0); /* short_term_ref_pic_set_sps_flag */
                /* st_ref_pic_set(0): the previous numSt_ pictures */
                b.ue(numSt_);
                b.ue(0);
                for (int i = 0; i < numSt_; i++) {
                    b.ue(0);
                    b.bit(1);
                }
                if (p_.longTerm) {
                    if (s_.ltSps > 0)
                        b.ue(ltFromSps_ ? 1 : 0); /* num_long_term_sps */
                    b.ue(useLt_ && !ltFromSps_ ? 1 : 0);
                    if (useLt_) {
                        if (!ltFromSps_) {
                            b.bits(0, 8); /* poc_lsb_lt */
                            b.bit(1);
                        }
                        b.bit(ltMsbPresent_);
                        if (ltMsbPresent_)
                            b.ue(0); /* delta_poc_msb_cycle_lt: both in the first POC cycle */
                    }
                }
                if (s_.tmvp)
                    b.bit(picTmvp_);
            }
            if (p_.sao) {
                b.bit(sl.saoLuma);
                b.bit(sl.saoChroma);
            }
            if (sl.type != SLICE_I) {
                const int lists = sl.type == SLICE_B ? 2 : 1;
                b.bit(1); /* num_ref_idx_active_override_flag */
                for (int l = 0; l < lists; l++)
                    b.ue(numRefIdx_[l] - 1);
                if (p_.listMod && numRefs_ > 1) {
                    int bits = 0;
                    while ((1 << bits) < numRefs_)
                        bits++;
                    for (int l = 0; l < lists; l++) {
                        b.bit(listModFlag_[l]);
                        if (listModFlag_[l])
                            for (int i = 0; i < numRefIdx_[l]; i++)
                                b.bits(listEntries_[l][i], bits);
                    }
                }
                if (sl.type == SLICE_B)
                    b.bit(sl.mvdL1Zero);
                b.bit(sl.cabacInitFlag);
                if (picTmvp_) {
                    if (sl.type == SLICE_B)
                        b.bit(colFromL0_);
                    if (numRefIdx_[colFromL0_ ? 0 : 1] > 1)
                        b.ue(colRefIdx_);
                }
                b.ue(5 - sl.maxMergeCand);
            }
            b.se(sl.qpDelta);
            b.se(sl.cbQpOffset);
            b.se(sl.crQpOffset);
            b.bit(sl.deblockOverride);
            if (sl.deblockOverride) {
                b.bit(sl.deblockDisabled);
                if (!sl.deblockDisabled) {
                    b.se(sl.betaDiv2);
                    b.se(sl.tcDiv2);
                }
            }
            const bool deblockOff = sl.deblockOverride ? sl.deblockDisabled : !p_.deblock;
            if (p_.lfAcrossSlices && (sl.saoLuma || sl.saoChroma || !deblockOff))
                b.bit(sl.lfAcross);
        }
        if (p_.tiles || p_.wpp) {
            /* Entry points count the emulation prevention bytes. Each
             * substream ends in a byte holding its final one bit, so the
             * bytes each needs do not depend on what comes before it. */
            b.ue((uint32_t)subs.size() - 1);
            if (subs.size() > 1) {
                std::vector<uint32_t> sizes;
                uint32_t maxOff = 1;
                for (size_t i = 0; i + 1 < subs.size(); i++) {
                    sizes.push_back((uint32_t)escape(subs[i]).size());
                    maxOff = std::max(maxOff, sizes.back() - 1);
                }
                int bits = 1;
                while (bits < 32 && (maxOff >> bits))
                    bits++;
                b.ue(bits - 1);
                for (uint32_t s : sizes)
                    b.bits(s - 1, bits);
            }
        }
        b.trailing();
        std::vector<uint8_t> nal = b.bytes();
        size_t escaped = escape(nal).size();
        for (const auto &s : subs) {
            nal.insert(nal.end(), s.begin(), s.end());
            escaped += escape(s).size();
        }
        if (escape(nal).size() != escaped) {
            /* the entry points would be wrong */
            fprintf(stderr, "h265gen: a substream's escaping depends on the bytes before it\n");
            exit(1);
        }
        return nal;
    }

    void putNal(std::vector<uint8_t> &out, const std::vector<uint8_t> &rbsp, bool longStart)
    {
        if (longStart)
            out.push_back(0);
        out.push_back(0);
        out.push_back(0);
        out.push_back(1);
        const std::vector<uint8_t> e = escape(rbsp);
        out.insert(out.end(), e.begin(), e.end());
    }

    /* ---- slice segment data ---- */
    bool ctbAvailable(int rs, int curRs) const
    {
        return rs >= 0 && rs < s_.nCtb && ctbSliceAddr_[rs] == sl_->sliceAddrRs && tileOfRs(rs) == tileOfRs(curRs);
    }
    /* Availability in z-scan order of a left or above neighbour. */
    bool available(int xC, int yC, int xN, int yN) const
    {
        if (xN < 0 || yN < 0 || xN >= s_.w || yN >= s_.h)
            return false;
        const int rsN = (yN >> s_.ctbLog2) * s_.wCtb + (xN >> s_.ctbLog2);
        const int rsC = (yC >> s_.ctbLog2) * s_.wCtb + (xC >> s_.ctbLog2);
        return ctbAvailable(rsN, rsC);
    }

    std::vector<std::vector<uint8_t>> segmentData(const Segment &seg, const SliceParams &sl)
    {
        sl_ = &sl;
        std::vector<std::vector<uint8_t>> subs;
        std::unique_ptr<BitWriter> bw(new BitWriter);
        std::unique_ptr<CabacEncoder> enc(new CabacEncoder(*bw));
        enc_ = enc.get();
        curBits_ = bw.get();
        for (int ts = seg.start; ts < seg.end; ts++) {
            const int rs = s_.tsToRs[ts];
            const int x = rs % s_.wCtb;
            const bool newSub = ts == seg.start || firstInTile(ts) || (p_.wpp && x == 0);
            if (newSub) {
                if (ts != seg.start) {
                    subs.push_back(bw->bytes());
                    bw.reset(new BitWriter);
                    enc.reset(new CabacEncoder(*bw));
                    enc_ = enc.get();
                    curBits_ = bw.get();
                }
                enc_->start();
                ctbSliceAddr_[rs] = sl.sliceAddrRs;
                if (firstInTile(ts)) {
                    ctx_.init(sl.initType(), sl.qp);
                } else if (p_.wpp && x == 0) {
                    if (s_.wCtb > 1 && ctbAvailable(rs - s_.wCtb + 1, rs))
                        ctx_ = wppStore_;
                    else
                        ctx_.init(sl.initType(), sl.qp);
                } else if (seg.dependent) {
                    ctx_ = dsStore_;
                } else {
                    ctx_.init(sl.initType(), sl.qp);
                }
            }
            /* The first quantization group of a slice, a tile or (with
             * wavefronts) a CTB row predicts from SliceQpY; the writer need
             * not know, it only writes deltas. */
            ctu(rs);
            if (p_.wpp && x == 1)
                wppStore_ = ctx_;
            const bool last = ts == seg.end - 1;
            enc_->terminateBin(last);
            if (last) {
                dsStore_ = ctx_;
            } else if (firstInTile(ts + 1) || (p_.wpp && s_.tsToRs[ts + 1] % s_.wCtb == 0)) {
                enc_->terminateBin(1); /* end_of_subset_one_bit and byte_alignment() */
            }
        }
        subs.push_back(bw->bytes());
        return subs;
    }

    void ctu(int rs)
    {
        ctbSliceAddr_[rs] = sl_->sliceAddrRs;
        const int rx = rs % s_.wCtb, ry = rs / s_.wCtb;
        if (sl_->saoLuma || sl_->saoChroma)
            sao(rs, rx, ry);
        quadtree(rx << s_.ctbLog2, ry << s_.ctbLog2, s_.ctbLog2, 0);
    }

    void sao(int rs, int rx, int ry)
    {
        bool mergeLeft = false, mergeUp = false;
        if (rx > 0 && rs > sl_->sliceAddrRs && tileOfRs(rs) == tileOfRs(rs - 1)) {
            mergeLeft = rng_.chance(30);
            enc_->decision(ctx_[C_SAO_MERGE], mergeLeft);
        }
        if (ry > 0 && !mergeLeft && rs - s_.wCtb >= sl_->sliceAddrRs && tileOfRs(rs) == tileOfRs(rs - s_.wCtb)) {
            mergeUp = rng_.chance(30);
            enc_->decision(ctx_[C_SAO_MERGE], mergeUp);
        }
        if (mergeLeft || mergeUp)
            return;
        int type = 0;
        for (int c = 0; c < 3; c++) {
            if (!((sl_->saoLuma && c == 0) || (sl_->saoChroma && c > 0)))
                continue;
            if (c < 2) {
                type = rng_.range(0, 2);
                enc_->decision(ctx_[C_SAO_TYPE], type != 0);
                if (type)
                    enc_->bypass(type == 2);
            }
            if (!type)
                continue;
            int abs[4];
            for (int i = 0; i < 4; i++) {
                abs[i] = rng_.chance(30) ? 0 : rng_.range(1, 7);
                for (int k = 0; k < abs[i]; k++)
                    enc_->bypass(1);
                if (abs[i] < 7)
                    enc_->bypass(0);
            }
            if (type == 1) {
                for (int i = 0; i < 4; i++)
                    if (abs[i])
                        enc_->bypass(rng_.chance(50));
                enc_->bypassBits(rng_.range(0, 31), 5);
            } else if (c < 2) {
                enc_->bypassBits(rng_.range(0, 3), 2);
            }
        }
    }

    int gridIdx(int x, int y) const { return (y >> 3) * minCbW_ + (x >> 3); }

    void quadtree(int x0, int y0, int log2, int depth)
    {
        const int size = 1 << log2;
        bool split;
        if (x0 + size <= s_.w && y0 + size <= s_.h && log2 > 3) {
            split = rng_.chance(depth == 0 ? 70 : 45);
            int inc = 0;
            if (available(x0, y0, x0 - 1, y0) && ctDepth_[gridIdx(x0 - 1, y0)] > depth)
                inc++;
            if (available(x0, y0, x0, y0 - 1) && ctDepth_[gridIdx(x0, y0 - 1)] > depth)
                inc++;
            enc_->decision(ctx_[C_SPLIT_CU + inc], split);
        } else {
            split = log2 > 3;
        }
        if (p_.qpDelta && log2 >= s_.ctbLog2 - s_.diffCuQpDeltaDepth)
            qpDeltaCoded_ = false;
        if (split) {
            const int h = size / 2;
            for (int k = 0; k < 4; k++) {
                const int x1 = x0 + (k & 1) * h, y1 = y0 + (k >> 1) * h;
                if (x1 < s_.w && y1 < s_.h)
                    quadtree(x1, y1, log2 - 1, depth + 1);
            }
            return;
        }
        codingUnit(x0, y0, log2, depth);
    }

    void markCu(int x0, int y0, int log2, int depth, bool skip)
    {
        const int size = 1 << log2;
        for (int y = y0; y < y0 + size && y < s_.h; y += 8)
            for (int x = x0; x < x0 + size && x < s_.w; x += 8) {
                ctDepth_[gridIdx(x, y)] = (uint8_t)depth;
                skip_[gridIdx(x, y)] = skip;
            }
    }

    void truncatedRice(int ctxFirst, int v, int cMax)
    {
        /* merge_idx: first bin in a context, the rest bypass */
        for (int i = 0; i < cMax; i++) {
            const int bin = i < v;
            if (i == 0)
                enc_->decision(ctx_[ctxFirst], bin);
            else
                enc_->bypass(bin);
            if (!bin)
                break;
        }
    }

    void codingUnit(int x0, int y0, int log2, int depth)
    {
        const bool pSlice = sl_->type != SLICE_I;
        enum { K_SKIP, K_INTER, K_INTRA, K_PCM } kind = K_INTRA;
        const bool pcmOk = p_.pcm && log2 >= s_.pcmMinLog2 && log2 <= s_.pcmMaxLog2;
        const int r = rng_.range(0, 99);
        if (pSlice)
            kind = r < 45 ? K_SKIP : r < 75 ? K_INTER : K_INTRA;
        if (kind == K_INTRA && pcmOk && rng_.chance(p_.pcmPercent))
            kind = K_PCM;
        if (pSlice) {
            int inc = 0;
            if (available(x0, y0, x0 - 1, y0) && skip_[gridIdx(x0 - 1, y0)])
                inc++;
            if (available(x0, y0, x0, y0 - 1) && skip_[gridIdx(x0, y0 - 1)])
                inc++;
            enc_->decision(ctx_[C_CU_SKIP + inc], kind == K_SKIP);
        }
        if (kind == K_SKIP) {
            truncatedRice(C_MERGE_IDX, rng_.range(0, sl_->maxMergeCand - 1), sl_->maxMergeCand - 1);
            markCu(x0, y0, log2, depth, true);
            return;
        }
        if (pSlice)
            enc_->decision(ctx_[C_PRED_MODE], kind != K_INTER);
        markCu(x0, y0, log2, depth, false);
        if (kind == K_INTER) {
            interCu(x0, y0, log2, depth);
            return;
        }
        bool nxn = false;
        if (log2 == 3) {
            nxn = kind == K_INTRA && rng_.chance(40);
            enc_->decision(ctx_[C_PART_MODE], !nxn);
        }
        if (p_.pcm && !nxn && log2 >= s_.pcmMinLog2 && log2 <= s_.pcmMaxLog2) {
            enc_->terminateBin(kind == K_PCM);
            if (kind == K_PCM) {
                pcmSamples(log2);
                enc_->start();
                return;
            }
        }
        const int parts = nxn ? 4 : 1;
        bool prev[4];
        for (int i = 0; i < parts; i++) {
            prev[i] = rng_.chance(50);
            enc_->decision(ctx_[C_PREV_INTRA], prev[i]);
        }
        for (int i = 0; i < parts; i++) {
            if (prev[i]) {
                const int idx = rng_.range(0, 2);
                enc_->bypass(idx > 0);
                if (idx > 0)
                    enc_->bypass(idx > 1);
            } else {
                enc_->bypassBits(rng_.range(0, 31), 5);
            }
        }
        const int chroma = rng_.range(0, 4);
        enc_->decision(ctx_[C_CHROMA_MODE], chroma != 4);
        if (chroma != 4)
            enc_->bypassBits(chroma, 2);
        intraSplit_ = nxn;
        cuIntra_ = true;
        cuPart_ = nxn ? PART_NxN : PART_2Nx2N;
        transformTree(x0, y0, log2, 0, false, false);
    }

    void pcmSamples(int log2)
    {
        /* A seeded gradient with a little noise per CU, at the PCM depths. */
        BitWriter &b = pcmOut();
        const int n = 1 << log2;
        for (int c = 0; c < 3; c++) {
            const int bits = c == 0 ? s_.pcmBitsY : s_.pcmBitsC;
            const int size = c == 0 ? n : n / 2;
            const int max = (1 << bits) - 1;
            const int base = rng_.range(0, max), gx = rng_.range(-3, 3), gy = rng_.range(-3, 3);
            for (int y = 0; y < size; y++)
                for (int x = 0; x < size; x++) {
                    int v = base + (gx * x + gy * y) * (1 << bits) / 32 + rng_.range(-1, 1);
                    v = v < 0 ? 0 : (v > max ? max : v);
                    b.bits(v, bits);
                }
        }
    }
    BitWriter &pcmOut() { return *curBits_; }

    void mvd()
    {
        int v[2];
        for (int i = 0; i < 2; i++)
            v[i] = rng_.chance(25) ? 0 : rng_.range(-40, 40);
        for (int i = 0; i < 2; i++)
            enc_->decision(ctx_[C_MVD_G0], v[i] != 0);
        for (int i = 0; i < 2; i++)
            if (v[i])
                enc_->decision(ctx_[C_MVD_G1], abs(v[i]) > 1);
        for (int i = 0; i < 2; i++) {
            if (!v[i])
                continue;
            if (abs(v[i]) > 1)
                expGolomb(abs(v[i]) - 2, 1);
            enc_->bypass(v[i] < 0);
        }
    }
    void expGolomb(int v, int k)
    {
        while (v >= (1 << k)) {
            enc_->bypass(1);
            v -= 1 << k;
            k++;
        }
        enc_->bypass(0);
        enc_->bypassBits(v, k);
    }

    void refIdx(int list)
    {
        if (numRefIdx_[list] <= 1)
            return;
        const int ref = rng_.range(0, numRefIdx_[list] - 1);
        const int cMax = numRefIdx_[list] - 1;
        for (int k = 0; k < cMax; k++) {
            const int bin = k < ref;
            if (k < 2)
                enc_->decision(ctx_[C_REF_IDX + k], bin);
            else
                enc_->bypass(bin);
            if (!bin)
                break;
        }
    }

    void interCu(int x0, int y0, int log2, int depth)
    {
        const int n = 1 << log2;
        std::vector<PartMode> modes = {PART_2Nx2N, PART_2NxN, PART_Nx2N};
        if (p_.amp && log2 > 3)
            modes.insert(modes.end(), {PART_2NxnU, PART_2NxnD, PART_nLx2N, PART_nRx2N});
        const PartMode part = modes[rng_.range(0, (int)modes.size() - 1)];
        /* part_mode: bins 0 and 1 in contexts 0 and 1; the AMP bin in context 3, then bypass */
        enc_->decision(ctx_[C_PART_MODE], part == PART_2Nx2N);
        if (part != PART_2Nx2N) {
            const bool horizontal = part == PART_2NxN || part == PART_2NxnU || part == PART_2NxnD;
            enc_->decision(ctx_[C_PART_MODE + 1], horizontal);
            if (p_.amp && log2 > 3) {
                const bool symmetric = part == PART_2NxN || part == PART_Nx2N;
                enc_->decision(ctx_[C_PART_MODE + 3], symmetric);
                if (!symmetric)
                    enc_->bypass(part == PART_2NxnD || part == PART_nRx2N);
            }
        }
        const int pus = part == PART_2Nx2N ? 1 : 2;
        /* width + height of each PU: 12 only for the 8x4 and 4x8 ones */
        int sum[2] = {2 * n, 2 * n};
        if (part == PART_2NxN || part == PART_Nx2N)
            sum[0] = sum[1] = n + n / 2;
        else if (part != PART_2Nx2N)
            sum[0] = n + n / 4, sum[1] = n + 3 * n / 4;
        bool merge2Nx2N = false;
        for (int i = 0; i < pus; i++) {
            /* A merged 2Nx2N CU would carry a residual: that is a skipped CU
             * now and then with one. */
            const bool merge = rng_.chance(part == PART_2Nx2N ? (p_.residual ? 20 : 0) : 50);
            enc_->decision(ctx_[C_MERGE_FLAG], merge);
            if (merge) {
                merge2Nx2N = part == PART_2Nx2N;
                if (sl_->maxMergeCand > 1)
                    truncatedRice(C_MERGE_IDX, rng_.range(0, sl_->maxMergeCand - 1), sl_->maxMergeCand - 1);
                continue;
            }
            enum { PRED_L0, PRED_L1, PRED_BI } dir = PRED_L0;
            if (sl_->type == SLICE_B) {
                /* inter_pred_idc: bi-prediction first (not for 8x4 and 4x8),
                 * in the context of the CU's depth; then L0 or L1 */
                dir = (sum[i] != 12 && rng_.chance(40)) ? PRED_BI : (rng_.chance(50) ? PRED_L1 : PRED_L0);
                if (sum[i] != 12)
                    enc_->decision(ctx_[C_INTER_PRED + depth], dir == PRED_BI);
                if (dir != PRED_BI)
                    enc_->decision(ctx_[C_INTER_PRED + 4], dir == PRED_L1);
            }
            if (dir != PRED_L1) {
                refIdx(0);
                mvd();
                enc_->decision(ctx_[C_MVP_FLAG], rng_.chance(50));
            }
            if (dir != PRED_L0) {
                refIdx(1);
                if (!(sl_->mvdL1Zero && dir == PRED_BI))
                    mvd();
                enc_->decision(ctx_[C_MVP_FLAG], rng_.chance(50));
            }
        }
        bool rootCbf = true;
        if (!merge2Nx2N) {
            rootCbf = p_.residual && rng_.chance(40);
            enc_->decision(ctx_[C_RQT_ROOT_CBF], rootCbf);
        }
        if (rootCbf) {
            intraSplit_ = false;
            cuIntra_ = false;
            cuPart_ = part;
            transformTree(x0, y0, log2, 0, false, false);
        }
    }

    void transformTree(int x0, int y0, int log2, int depth, bool parentCb, bool parentCr)
    {
        const int maxDepth = cuIntra_ ? s_.maxTrDepthIntra + (intraSplit_ ? 1 : 0) : s_.maxTrDepthInter;
        const bool interSplit = s_.maxTrDepthInter == 0 && !cuIntra_ && cuPart_ != PART_2Nx2N && depth == 0;
        bool split;
        if (log2 <= s_.maxTbLog2 && log2 > 2 && depth < maxDepth && !(intraSplit_ && depth == 0)) {
            split = rng_.chance(40);
            enc_->decision(ctx_[C_SPLIT_TF + 5 - log2], split);
        } else {
            split = log2 > s_.maxTbLog2 || (intraSplit_ && depth == 0) || interSplit;
        }
        bool cb = false, cr = false;
        if (log2 > 2) {
            /* No chroma residual in the 4x4 chroma block of an 8x8 split. */
            const bool chromaOk = !(split && log2 == 3);
            if (depth == 0 || parentCb) {
                cb = p_.residual && chromaOk && rng_.chance(split ? 50 : 25);
                enc_->decision(ctx_[C_CBF_CHROMA + depth], cb);
            }
            if (depth == 0 || parentCr) {
                cr = p_.residual && chromaOk && rng_.chance(split ? 50 : 25);
                enc_->decision(ctx_[C_CBF_CHROMA + depth], cr);
            }
        }
        if (split) {
            const int h = 1 << (log2 - 1);
            for (int k = 0; k < 4; k++)
                transformTree(x0 + (k & 1) * h, y0 + (k >> 1) * h, log2 - 1, depth + 1, cb, cr);
            return;
        }
        bool luma = true;
        if (cuIntra_ || depth != 0 || cb || cr) {
            luma = p_.residual && rng_.chance(30);
            enc_->decision(ctx_[C_CBF_LUMA + (depth == 0 ? 1 : 0)], luma);
        }
        if (!(luma || cb || cr))
            return;
        if (p_.qpDelta && !qpDeltaCoded_) {
            const int d = rng_.chance(30) ? 0 : rng_.range(-8, 8);
            const int a = abs(d);
            for (int i = 0; i < 5 && i <= a; i++) {
                if (i == a) {
                    enc_->decision(ctx_[C_CU_QP_DELTA + (i ? 1 : 0)], 0);
                    break;
                }
                enc_->decision(ctx_[C_CU_QP_DELTA + (i ? 1 : 0)], 1);
            }
            if (a >= 5)
                expGolomb(a - 5, 0);
            if (a)
                enc_->bypass(d < 0);
            qpDeltaCoded_ = true;
        }
        if (luma)
            dcResidual(0, log2);
        if (cb)
            dcResidual(1, log2 - 1);
        if (cr)
            dcResidual(2, log2 - 1);
    }

    /* residual_coding() of a block whose only coefficient is DC. */
    void dcResidual(int cIdx, int log2)
    {
        const int offset = cIdx == 0 ? 3 * (log2 - 2) + ((log2 - 1) >> 2) : 15;
        enc_->decision(ctx_[C_LAST_X + offset], 0);
        enc_->decision(ctx_[C_LAST_Y + offset], 0);
        const int level = rng_.range(1, 3);
        enc_->decision(ctx_[C_GT1 + (cIdx ? 17 : 1)], level > 1);
        if (level > 1)
            enc_->decision(ctx_[C_GT2 + (cIdx ? 4 : 0)], level > 2);
        enc_->bypass(rng_.chance(50)); /* coeff_sign_flag */
        if (level > 2)
            enc_->bypass(0); /* coeff_abs_level_remaining 0 */
    }

    const Preset &p_;
    Rng rng_;
    int frames_;
    StreamParams s_;
    int minCbW_, minCbH_;
    std::string summary_;
    /* picture */
    int poc_ = 0, numRefs_ = 0, numSt_ = 0, numRefIdx_[2] = {0, 0}, colRefIdx_ = 0;
    bool useLt_ = false, ltFromSps_ = false, ltMsbPresent_ = false, picB_ = false, colFromL0_ = true;
    bool picInter_ = false, picTmvp_ = false, listModFlag_[2] = {false, false}, picLfAcross_ = false;
    int picBetaDiv2_ = 0, picTcDiv2_ = 0;
    std::vector<int> listEntries_[2];
    std::vector<int> ctbSliceAddr_;
    std::vector<uint8_t> ctDepth_, skip_;
    /* slice data */
    const SliceParams *sl_ = nullptr;
    CabacEncoder *enc_ = nullptr;
    BitWriter *curBits_ = nullptr;
    Contexts ctx_, wppStore_, dsStore_;
    bool qpDeltaCoded_ = false;
    bool intraSplit_ = false, cuIntra_ = false;
    PartMode cuPart_ = PART_2Nx2N;
};

int usage()
{
    fprintf(stderr, "usage: h265gen --preset NAME [--seed S] [--frames N] [--size WxH] [--verbose] OUT.hevc\n"
                    "       h265gen --list\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    std::string presetName, out;
    std::vector<std::string> sets;
    uint64_t seed = 1;
    int frames = 0, w = 0, h = 0;
    bool verbose = false;
    const std::vector<Preset> all = presets();
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        if (a == "--list") {
            for (const Preset &p : all)
                printf("%-16s %s\n", p.name, p.what);
            return 0;
        } else if (a == "--preset" && i + 1 < argc) {
            presetName = argv[++i];
        } else if (a == "--seed" && i + 1 < argc) {
            seed = strtoull(argv[++i], nullptr, 0);
        } else if (a == "--frames" && i + 1 < argc) {
            frames = atoi(argv[++i]);
        } else if (a == "--size" && i + 1 < argc) {
            if (sscanf(argv[++i], "%dx%d", &w, &h) != 2)
                return usage();
        } else if (a == "--set" && i + 1 < argc) {
            sets.push_back(argv[++i]);
        } else if (a == "--verbose") {
            verbose = true;
        } else if (a[0] != '-' && out.empty()) {
            out = a;
        } else {
            return usage();
        }
    }
    Preset chosen;
    const Preset *p = nullptr;
    for (const Preset &q : all)
        if (presetName == q.name)
            chosen = q, p = &chosen;
    if (!p || out.empty()) {
        if (!presetName.empty() && !p)
            fprintf(stderr, "h265gen: no preset %s (see --list)\n", presetName.c_str());
        return usage();
    }
    for (const std::string &kv : sets) {
        if (!setField(chosen, kv)) {
            fprintf(stderr, "h265gen: cannot set %s\n", kv.c_str());
            return 2;
        }
    }
    w = w ? w : p->w;
    h = h ? h : p->h;
    frames = frames ? frames : p->frames;
    if (w < 16 || h < 16 || w % 8 || h % 8 || w > 4096 || h > 2304 || frames < 1 || frames > 200) {
        fprintf(stderr, "h265gen: sizes are multiples of 8 from 16x16 to 4096x2304, 1..200 frames\n");
        return 2;
    }
    const int ctb = 1 << p->ctbLog2;
    const int wCtb = (w + ctb - 1) / ctb, hCtb = (h + ctb - 1) / ctb;
    if (p->tiles && (p->tileCols > wCtb || p->tileRows > hCtb)) {
        fprintf(stderr, "h265gen: %s needs at least %dx%d CTBs\n", p->name, p->tileCols, p->tileRows);
        return 2;
    }
    Writer wr(*p, seed, frames, w, h);
    const std::vector<uint8_t> bytes = wr.stream();
    FILE *f = fopen(out.c_str(), "wb");
    if (!f || fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || fclose(f) != 0) {
        fprintf(stderr, "h265gen: cannot write %s\n", out.c_str());
        return 1;
    }
    if (verbose)
        fputs(wr.summary().c_str(), stderr);
    return 0;
}
