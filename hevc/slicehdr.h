/* Slice segment header record and its parser. */
#ifndef H265D_SLICEHDR_H
#define H265D_SLICEHDR_H

#include <stdint.h>

#include "bitreader.h"
#include "dpb.h"
#include "paramsets.h"

namespace h265d {

#define H265D_MAX_LT_SLICE 34

typedef struct H265D_PRED_WEIGHT
{
    uint32_t luma_log2_weight_denom;
    uint32_t ChromaLog2WeightDenom;
    uint8_t luma_weight_flag[2][H265D_MAX_REF_LIST];
    uint8_t chroma_weight_flag[2][H265D_MAX_REF_LIST];
    int16_t LumaWeight[2][H265D_MAX_REF_LIST];
    int16_t luma_offset[2][H265D_MAX_REF_LIST];
    int16_t ChromaWeight[2][H265D_MAX_REF_LIST][2];
    int16_t ChromaOffset[2][H265D_MAX_REF_LIST][2];
} H265D_PRED_WEIGHT;

/* Enough for a row per entry point of 2160p pictures of 64-sample CTBs. */
#define H265D_KEPT_ENTRY_POINTS 34

typedef struct H265D_SLICE_HEADER
{
    uint32_t first_slice_segment_in_pic_flag;
    uint32_t no_output_of_prior_pics_flag;
    uint32_t slice_pic_parameter_set_id;
    uint32_t dependent_slice_segment_flag;
    uint32_t slice_segment_address;
    uint32_t slice_type; /* 0 B, 1 P, 2 I */
    uint32_t pic_output_flag;
    uint32_t colour_plane_id;
    uint32_t slice_pic_order_cnt_lsb;
    uint32_t short_term_ref_pic_set_sps_flag;
    uint32_t short_term_ref_pic_set_idx;
    H265D_ST_RPS st_rps;        /* the slice's own set */
    const H265D_ST_RPS *curRps; /* the set in force (own or SPS) */
    uint32_t num_long_term_sps;
    uint32_t num_long_term_pics;
    uint32_t lt_idx_sps[H265D_MAX_LT_SLICE];
    uint32_t poc_lsb_lt[H265D_MAX_LT_SLICE];
    uint8_t used_by_curr_pic_lt_flag[H265D_MAX_LT_SLICE];
    uint8_t delta_poc_msb_present_flag[H265D_MAX_LT_SLICE];
    uint32_t delta_poc_msb_cycle_lt[H265D_MAX_LT_SLICE];
    int32_t PocLsbLt[H265D_MAX_LT_SLICE];
    uint8_t UsedByCurrPicLt[H265D_MAX_LT_SLICE];
    int32_t PocLt[H265D_MAX_LT_SLICE]; /* full POC, or the LSBs without MSB */
    uint32_t slice_temporal_mvp_enabled_flag;
    uint32_t slice_sao_luma_flag;
    uint32_t slice_sao_chroma_flag;
    uint32_t num_ref_idx_active_override_flag;
    uint32_t num_ref_idx_l0_active;
    uint32_t num_ref_idx_l1_active;
    uint32_t ref_pic_list_modification_flag_l0;
    uint32_t list_entry_l0[H265D_MAX_REF_LIST];
    uint32_t ref_pic_list_modification_flag_l1;
    uint32_t list_entry_l1[H265D_MAX_REF_LIST];
    uint32_t mvd_l1_zero_flag;
    uint32_t cabac_init_flag;
    uint32_t collocated_from_l0_flag;
    uint32_t collocated_ref_idx;
    H265D_PRED_WEIGHT pwt;
    uint32_t MaxNumMergeCand;
    int32_t slice_qp_delta;
    int32_t slice_cb_qp_offset;
    int32_t slice_cr_qp_offset;
    uint32_t deblocking_filter_override_flag;
    uint32_t slice_deblocking_filter_disabled_flag;
    int32_t slice_beta_offset; /* twice the _div2 value */
    int32_t slice_tc_offset;
    uint32_t slice_loop_filter_across_slices_enabled_flag;
    uint32_t num_entry_point_offsets;
    uint32_t offset_len;
    uint32_t entry_point_offset; /* the last one only */
    /* All offsets (minus1 + 1) when there are at most
     * H265D_KEPT_ENTRY_POINTS of them; entryPointsKept 0 otherwise. */
    uint32_t entryPointsKept;
    uint32_t entryPoints[H265D_KEPT_ENTRY_POINTS];
    uint32_t slice_segment_header_extension_length;
    int32_t SliceQpY;
    int32_t NumPicTotalCurr;
    H265D_REF_INFO refInfo;
    H265D_REF_LIST refList[2];
    uint32_t sliceDataByte; /* first byte of slice data in the payload */
} H265D_SLICE_HEADER;

enum {
    H265D_SH_SINGLE = 0,   /* single-threaded NAL handler */
    H265D_SH_THREADED = 1, /* first slice of a gathered picture */
    H265D_SH_IN_JOB = 2    /* inside a slice job */
};

struct H265D_DEC_OBJ;

int32_t parseSliceHeaderMode(struct H265D_DEC_OBJ *dec, H265D_BITREADER *br, H265D_SLICE_HEADER *sh,
                             int32_t nalUnitType, int32_t temporalId, int mode);
int32_t parseSliceHeaderSingle(struct H265D_DEC_OBJ *dec, H265D_BITREADER *br, H265D_SLICE_HEADER *sh);
int32_t parsePredWeightTable(struct H265D_DEC_OBJ *dec, H265D_BITREADER *br, H265D_SLICE_HEADER *sh, uint32_t ch,
                             H265D_LOG_FXN log);
uint32_t ceilLog2(uint32_t n);

} // namespace h265d

#endif
