/*
 * Pixel kernels of the H.265 decoder.
 *
 * Every pixel operation of the decoder goes through one table of kernel
 * entries. Callers index it arithmetically (the slot bases below plus log2 of
 * the block size or the motion vector's fractional part), so the slot layout is
 * part of this interface and never changes. Kernels check nothing and clip
 * every output sample to 0..255.
 *
 * Like every internal header of the decoder it lives in namespace h265d.
 */
#ifndef H265D_DSP_H
#define H265D_DSP_H

#include <stddef.h>
#include <stdint.h>

namespace h265d {

/* ---- Slots. A base plus log2 N (N = 4..32) or plus xFrac * 4 + yFrac. ---- */
#define H265D_DSP_SLOT_COUNT 131

#define H265D_SLOT_SAO_BAND                 0
#define H265D_SLOT_SAO_EDGE                 1
#define H265D_SLOT_DEQUANT_SCALED           0 /* + log2 N: 2..5 */
#define H265D_SLOT_DEQUANT_FLAT             4 /* + log2 N: 6..9 */
#define H265D_SLOT_IDST4                    10
#define H265D_SLOT_IDCT                     9 /* + log2 N: 11..14 */
#define H265D_SLOT_TRANSFORM_SKIP           15
#define H265D_SLOT_INTRA_PLANAR             14  /* + log2 N: 16..19 */
#define H265D_SLOT_INTRA_ANGULAR            18  /* + log2 N: 20..23 */
#define H265D_SLOT_INTRA_DC                 22  /* + log2 N: 24..27 */
#define H265D_SLOT_INTRA_VERTICAL           26  /* mode 26, + log2 N: 28..31 */
#define H265D_SLOT_INTRA_HORIZONTAL         30  /* mode 10, + log2 N: 32..35 */
#define H265D_SLOT_INTRA_DIAG_UP            34  /* mode 34, + log2 N: 36..39 */
#define H265D_SLOT_INTRA_DIAG_DOWN          38  /* mode 2,  + log2 N: 40..43 */
#define H265D_SLOT_INTRA_DIAG_MID           42  /* mode 18, + log2 N: 44..47 */
#define H265D_SLOT_INTRA_SMOOTH             45  /* + log2 N (8..32): 48..50 */
#define H265D_SLOT_PCM_COPY                 49  /* + log2 N: 51..54 */
#define H265D_SLOT_LUMA_UNI                 55  /* + xFrac * 4 + yFrac: 55..70 */
#define H265D_SLOT_CHROMA_UNI               71  /* copy, H, V, HV: 71..74 */
#define H265D_SLOT_LUMA_BI_FIRST            75  /* + xFrac * 4 + yFrac: 75..90 */
#define H265D_SLOT_LUMA_BI_SECOND           91  /* + xFrac * 4 + yFrac: 91..106 */
#define H265D_SLOT_CHROMA_BI_FIRST          107 /* copy, H, V, HV: 107..110 */
#define H265D_SLOT_CHROMA_BI_SECOND         111 /* copy, H, V, HV: 111..114 */
#define H265D_SLOT_WP_UNI_LUMA              115
#define H265D_SLOT_WP_BI_LUMA               116
#define H265D_SLOT_WP_UNI_CHROMA            117
#define H265D_SLOT_WP_BI_CHROMA             118
#define H265D_SLOT_DEBLOCK_LUMA_V           119
#define H265D_SLOT_DEBLOCK_LUMA_H           120
#define H265D_SLOT_DEBLOCK_LUMA_V_FLAGGED   121
#define H265D_SLOT_DEBLOCK_LUMA_H_FLAGGED   122
#define H265D_SLOT_DEBLOCK_CHROMA_V         123
#define H265D_SLOT_DEBLOCK_CHROMA_H         124
#define H265D_SLOT_DEBLOCK_CHROMA_V_FLAGGED 125
#define H265D_SLOT_DEBLOCK_CHROMA_H_FLAGGED 126
#define H265D_SLOT_BS_MOTION                127
#define H265D_SLOT_COPY_ROWS_ALIGNED        128
#define H265D_SLOT_COPY_ROWS                129
#define H265D_SLOT_EXTEND_BORDER            130

/* Chroma slots of one family: offset from the family's base. */
#define H265D_CHROMA_COPY 0
#define H265D_CHROMA_H    1
#define H265D_CHROMA_V    2
#define H265D_CHROMA_HV   3

/*
 * Intra reference arrays: `top` and `left` point at sample 0 of their row or
 * column; index -1 of both holds the corner. Mode 18 and the negative angles
 * project the other array in front of the corner (down to index -(N + 1)), and
 * vector kernels may read a little past sample 2N - 1, so every array handed to
 * the kernels must have at least these guards around the 2N + 1 samples.
 */
#define H265D_INTRA_REF_FRONT_GUARD 33 /* bytes before the corner */
#define H265D_INTRA_REF_BACK_GUARD  16 /* bytes after sample 2N - 1 */

/* Intermediate prediction rows (`tmp`) are always 64 samples apart. */
#define H265D_TMP_STRIDE 64
/* Luma two-dimensional first predictions are stored less this value. */
#define H265D_TMP_OFFSET 8192

/*
 * Sample adaptive offset parameters of one CTB. SaoTypeIdx: 0 off, 1 band,
 * 2 edge; the SAO driver marks a component done with 3 (band) or 4 (edge).
 * SaoEoClass: 0 horizontal, 1 vertical, 2 135 degrees, 3 45 degrees.
 * SaoOffsetVal[c][0] is always 0.
 */
typedef struct H265D_SAO_PARAMS
{
    uint8_t SaoTypeIdx[3];
    uint8_t SaoEoClass[3];
    uint8_t sao_band_position[3];
    int8_t SaoOffsetVal[3][5];
} H265D_SAO_PARAMS;

/* Motion of one 4x4 unit, per list: vector (x, y), prediction flag, decoded
 * picture buffer slot of the reference and its index (-1 for an unused list). */
typedef struct H265D_MV_FIELD
{
    int16_t mv[2][2];
    uint8_t predFlag[2];
    uint8_t refSlot[2];
    int8_t refIdx[2];
} H265D_MV_FIELD;

/* Neighbours an SAO edge-offset block may read across (slot 1's `avail`). */
#define H265D_SAO_AVAIL_LEFT  0x1u
#define H265D_SAO_AVAIL_RIGHT 0x2u
#define H265D_SAO_AVAIL_ABOVE 0x4u
#define H265D_SAO_AVAIL_BELOW 0x8u

/* ---- Kernel signatures (argument orders are fixed). ---- */
/* Band offset in place on a w x h block of component cIdx. */
typedef void (*H265D_SAO_BAND_FN)(uint8_t *dst, int stride, const H265D_SAO_PARAMS *sao, int w, int h, int cIdx);
/*
 * Edge offset: reads the deblocked samples in src (with one sample around the
 * block) and writes dst, both with one stride. A sample whose neighbour lies
 * across a side missing from avail is left as it is in dst.
 */
typedef void (*H265D_SAO_EDGE_FN)(uint8_t *dst, const uint8_t *src, int stride, const H265D_SAO_PARAMS *sao,
                                  unsigned avail, int w, int h, int cIdx);
/*
 * Deblocking of one 8-sample edge piece as two 4-line halves; pix is the
 * first sample of the Q side. noP/noQ (nonzero) keep that side's samples;
 * the kernels of the first slot of each pair may ignore them.
 */
typedef void (*H265D_DEBLOCK_LUMA_FN)(uint8_t *pix, int stride, const int32_t *beta, const int32_t *tc,
                                      const uint8_t *noP, const uint8_t *noQ);
typedef void (*H265D_DEBLOCK_CHROMA_FN)(uint8_t *pix, int stride, const int32_t *tc, const uint8_t *noP,
                                        const uint8_t *noQ);
/* Nonzero when the two units' motion makes their edge's strength 1. */
typedef int (*H265D_BS_MOTION_FN)(const H265D_MV_FIELD *p, const H265D_MV_FIELD *q);
typedef void (*H265D_DEQUANT_SCALED_FN)(int count, const uint16_t *factors, int qP6, int16_t *coeffs);
typedef void (*H265D_DEQUANT_FLAT_FN)(int count, int scale, int16_t *coeffs);
/* Inverse transforms (and transform skip) adding the residual to the prediction at dst. */
typedef void (*H265D_TRANSFORM_ADD_FN)(int stride, int16_t *coeffs, uint8_t *dst, int columns);
typedef void (*H265D_INTRA_PLANAR_FN)(const uint8_t *top, const uint8_t *left, int stride, uint8_t *dst);
/* DC, vertical, horizontal and the modes 34, 2 and 18. */
typedef void (*H265D_INTRA_FN)(int cIdx, uint8_t *top, uint8_t *left, int stride, uint8_t *dst);
typedef void (*H265D_INTRA_ANGULAR_FN)(int cIdx, int mode, uint8_t *top, uint8_t *left, int stride, uint8_t *dst);
/* Reference smoothing in place; the kernel decides from the mode whether to filter. */
typedef void (*H265D_INTRA_SMOOTH_FN)(int strongEnabled, int mode, uint8_t *left, uint8_t *top);
/* Copy of N x N PCM samples held in the low byte of 16-bit values, N per row. */
typedef void (*H265D_PCM_COPY_FN)(int stride, const int16_t *samples, uint8_t *dst);

typedef void (*H265D_UNI_PRED_FN)(uint8_t *dst, int dstStride, const uint8_t *src, int srcStride, int w, int h);
typedef void (*H265D_CHROMA_UNI_PRED_FN)(uint8_t *dst, int dstStride, const uint8_t *src, int srcStride, int w, int h,
                                         int frac);
typedef void (*H265D_CHROMA_UNI_PRED_HV_FN)(uint8_t *dst, int dstStride, const uint8_t *src, int srcStride, int w,
                                            int h, int xFrac, int yFrac);
typedef void (*H265D_BI_FIRST_FN)(int16_t *tmp, int tmpStride, const uint8_t *src, int srcStride, int w, int h);
typedef void (*H265D_CHROMA_BI_FIRST_FN)(int16_t *tmp, int tmpStride, const uint8_t *src, int srcStride, int w, int h,
                                         int frac);
typedef void (*H265D_CHROMA_BI_FIRST_HV_FN)(int16_t *tmp, int tmpStride, const uint8_t *src, int srcStride, int w,
                                            int h, int xFrac, int yFrac);
/* firstOffset: 1 when the first prediction came from a luma two-dimensional first kernel. */
typedef void (*H265D_LUMA_BI_SECOND_FN)(uint8_t *dst, int dstStride, const uint8_t *src, int srcStride,
                                        const int16_t *tmp, int w, int h, int firstOffset);
typedef void (*H265D_CHROMA_BI_SECOND_COPY_FN)(uint8_t *dst, int dstStride, const uint8_t *src, int srcStride,
                                               const int16_t *tmp, int w, int h);
typedef void (*H265D_CHROMA_BI_SECOND_FN)(uint8_t *dst, int dstStride, const uint8_t *src, int srcStride,
                                          const int16_t *tmp, int w, int h, int frac);
typedef void (*H265D_CHROMA_BI_SECOND_HV_FN)(uint8_t *dst, int dstStride, const uint8_t *src, int srcStride,
                                             const int16_t *tmp, int w, int h, int xFrac, int yFrac);
/* log2Denom is the weight denominator of the slice header (the kernel adds the 6 of the intermediate). */
typedef void (*H265D_WEIGHTED_UNI_FN)(int log2Denom, int weight, int offset, uint8_t *dst, int dstStride,
                                      const int16_t *src, int srcStride, int w, int h, int offsetFlag);
typedef void (*H265D_WEIGHTED_BI_FN)(int log2Denom, int w0, int w1, int o0, int o1, uint8_t *dst, int dstStride,
                                     const int16_t *src0, const int16_t *src1, int srcStride, int w, int h,
                                     int offsetFlag0, int offsetFlag1);
/* Source and destination rows share one stride. */
typedef void (*H265D_COPY_ROWS_FN)(const uint8_t *src, uint8_t *dst, int width, int rows, int stride);
/* Replicates the plane's edge samples into its margins; nothing when threadType is 1. */
typedef void (*H265D_EXTEND_BORDER_FN)(int threadType, uint8_t *plane, int w, int h, int stride, int padX, int padY);

/*
 * One table entry. Each slot is written and read through the member of its
 * kind; `raw` only serves to test whether a slot is filled.
 */
typedef union H265D_DSP_ENTRY {
    void (*raw)(void);
    H265D_SAO_BAND_FN saoBand;
    H265D_SAO_EDGE_FN saoEdge;
    H265D_DEBLOCK_LUMA_FN deblockLuma;
    H265D_DEBLOCK_CHROMA_FN deblockChroma;
    H265D_BS_MOTION_FN bsMotion;
    H265D_DEQUANT_SCALED_FN dequantScaled;
    H265D_DEQUANT_FLAT_FN dequantFlat;
    H265D_TRANSFORM_ADD_FN transformAdd;
    H265D_INTRA_PLANAR_FN intraPlanar;
    H265D_INTRA_FN intra;
    H265D_INTRA_ANGULAR_FN intraAngular;
    H265D_INTRA_SMOOTH_FN intraSmooth;
    H265D_PCM_COPY_FN pcmCopy;
    H265D_UNI_PRED_FN uniPred;
    H265D_CHROMA_UNI_PRED_FN chromaUniPred;
    H265D_CHROMA_UNI_PRED_HV_FN chromaUniPredHv;
    H265D_BI_FIRST_FN biFirst;
    H265D_CHROMA_BI_FIRST_FN chromaBiFirst;
    H265D_CHROMA_BI_FIRST_HV_FN chromaBiFirstHv;
    H265D_LUMA_BI_SECOND_FN lumaBiSecond;
    H265D_CHROMA_BI_SECOND_COPY_FN chromaBiSecondCopy;
    H265D_CHROMA_BI_SECOND_FN chromaBiSecond;
    H265D_CHROMA_BI_SECOND_HV_FN chromaBiSecondHv;
    H265D_WEIGHTED_UNI_FN weightedUni;
    H265D_WEIGHTED_BI_FN weightedBi;
    H265D_COPY_ROWS_FN copyRows;
    H265D_EXTEND_BORDER_FN extendBorder;
} H265D_DSP_ENTRY;

typedef struct H265D_DSP_TABLE
{
    H265D_DSP_ENTRY slot[H265D_DSP_SLOT_COUNT];
} H265D_DSP_TABLE;

/* ---- Processor features. Only SSE2, SSE41 and AVX select kernels. ---- */
#define H265D_CPU_CMOV         0x1u
#define H265D_CPU_MMX          0x2u
#define H265D_CPU_MMX2         0x4u
#define H265D_CPU_SSE          0x8u
#define H265D_CPU_SSE2         0x10u
#define H265D_CPU_SSE3         0x20u
#define H265D_CPU_SSSE3        0x40u
#define H265D_CPU_SSE41        0x80u
#define H265D_CPU_SSE42        0x100u
#define H265D_CPU_LZCNT        0x200u
#define H265D_CPU_AVX          0x400u
#define H265D_CPU_XOP          0x800u
#define H265D_CPU_FMA4         0x1000u
#define H265D_CPU_AVX2         0x2000u
#define H265D_CPU_FMA3         0x4000u
#define H265D_CPU_BMI1         0x8000u
#define H265D_CPU_BMI2         0x10000u
#define H265D_CPU_CACHE32      0x20000u
#define H265D_CPU_CACHE64      0x40000u
#define H265D_CPU_SSE2_SLOW    0x80000u
#define H265D_CPU_SSE2_FAST    0x100000u
#define H265D_CPU_SHUFFLE_SLOW 0x200000u
#define H265D_CPU_SLOW_ATOM    0x800000u
#define H265D_CPU_ATOM         0x1000000u
#define H265D_CPU_PSHUFB_SLOW  0x2000000u
#define H265D_CPU_PALIGNR_SLOW 0x4000000u

/* The three processor queries detection is built on; tests pass made-up ones. */
typedef struct H265D_CPU_PROBE
{
    /* Nonzero when the identification instruction exists. */
    int (*cpuidSupported)(void);
    /* Identification leaf with sub-leaf 0. */
    void (*cpuidQuery)(uint32_t leaf, uint32_t *eax, uint32_t *ebx, uint32_t *ecx, uint32_t *edx);
    /* Extended control register. */
    void (*xgetbvQuery)(uint32_t reg, uint32_t *eax, uint32_t *edx);
} H265D_CPU_PROBE;

/* The feature word of this processor (0 on a processor that is not x86). */
uint32_t detectCpuFeatures(void);
/* The same computed from the given queries. */
uint32_t detectCpuFeaturesWith(const H265D_CPU_PROBE *probe);

/*
 * Fills the table with the portable kernels, in slot-family order. With
 * detect nonzero *cpuFlags becomes the processor's feature word and the
 * vector kernels it allows replace portable ones; otherwise *cpuFlags is 0.
 */
void initDspFunctionTable(H265D_DSP_TABLE *table, uint32_t *cpuFlags, int detect);
/* As initDspFunctionTable with detection, keeping only the features in mask. */
void initDspFunctionTableMasked(H265D_DSP_TABLE *table, uint32_t *cpuFlags, uint32_t mask);
/* Replaces the slots the feature word allows by vector kernels. */
void installSimdKernels(H265D_DSP_TABLE *table, uint32_t cpuFlags);

/* ---- Loop-filter tables, padded so that no lookup needs a clip. ---- */

/* beta' for Q = -12..63: index Q + 12. */
extern const int32_t h265dBetaTable[76];
/* tC' for luma, Q = -12..66: index Q + 12. */
extern const int32_t h265dTcTableLuma[79];
/* tC' for Q = 0..53 (chroma clips its index itself). */
extern const int32_t h265dTcTable[54];
/* QpC for qPi = -12..63: index qPi + 12. */
extern const int8_t h265dChromaQpTable[76];

/* Border extension of one plane (the portable kernel of slot 130). */
void padPlane(int threadType, uint8_t *plane, int w, int h, int stride, int padX, int padY);

/* ---- Residual of one transform block. ---- */

/* Filled by the caller for each transform block, fields in this order. */
typedef struct H265D_TU_DESC
{
    int32_t iTransquantBypass; /* cu_transquant_bypass_flag */
    uint8_t ucTransformSkip;   /* transform_skip_flag of the component */
    int32_t iPredMode;         /* 1 for intra */
    int32_t iCompIdx;          /* 0 luma, nonzero chroma */
    int32_t iQp;               /* 0..51 */
    int32_t iLog2Size;         /* 2..5 */
    int32_t iMatrixId;         /* 0..5 */
    int32_t iCoeffCount;       /* 1 + largest raster index of a nonzero coefficient */
    int32_t iColumnCount;      /* (largest column of a nonzero coefficient + 4) & ~3 */
} H265D_TU_DESC;

/*
 * Dequantisation factors of the scaling lists: ScalingFactor * levelScale[qP % 6]
 * per coefficient position (raster order), indexed [matrixId][qP % 6][position].
 * 32x32 blocks have two matrices (intra, inter).
 */
typedef struct H265D_DEQUANT_FACTORS
{
    uint16_t f4[6][6][16];
    uint16_t f8[6][6][64];
    uint16_t f16[6][6][256];
    uint16_t f32[2][6][1024];
} H265D_DEQUANT_FACTORS;

/* What the residual path reads of the decoder: its table and the active parameter sets' switches. */
typedef struct H265D_RESIDUAL_CTX
{
    const H265D_DSP_TABLE *pDsp;
    const H265D_DEQUANT_FACTORS *pFactors; /* read only with iScalingListEnabled */
    int32_t iTransquantBypassEnabled;
    int32_t iTransformSkipEnabled;
    int32_t iScalingListEnabled;
} H265D_RESIDUAL_CTX;

/* Adds the residual of the block to the prediction already at dst. coeffs is scratch afterwards. */
void reconstructResidual(const H265D_RESIDUAL_CTX *ctx, const H265D_TU_DESC *desc, int stride, int16_t *coeffs,
                         uint8_t *dst);
/* Scales the block's first iCoeffCount coefficients in place. */
void dequantiseBlock(const H265D_TU_DESC *desc, const H265D_RESIDUAL_CTX *ctx, int16_t *coeffs);
/* Adds raw residuals (rows x width, `width` values per row) with clipping. */
void addResidualBypass(int rows, int width, uint8_t *dst, int stride, const int16_t *coeffs);

} // namespace h265d

#endif
