/* Parameter-set records, their parsers and the tables derived per PPS. */
#ifndef H265D_PARAMSETS_H
#define H265D_PARAMSETS_H

#include <stdint.h>

#include "bitreader.h"
#include "h265d.h"

namespace h265d {

#define H265D_MAX_VPS         16
#define H265D_MAX_SPS         16
#define H265D_MAX_PPS         64
#define H265D_MAX_SUB_LAYERS  7
#define H265D_MAX_ST_RPS      64 /* candidates in an SPS */
#define H265D_MAX_RPS_ENTRIES 32 /* delta POCs per direction of one set */
#define H265D_MAX_LT_SPS      32
#define H265D_MAX_TILE_COLS   512 /* 8192 / 16 */
#define H265D_MAX_TILE_ROWS   512
#define H265D_USER_DATA_SIZE  2048

struct H265D_DEC_OBJ;

typedef struct H265D_PTL
{
    uint8_t general_profile_space;
    uint8_t general_tier_flag;
    uint8_t general_profile_idc;
    uint8_t general_progressive_source_flag;
    uint8_t general_interlaced_source_flag;
    uint8_t general_non_packed_constraint_flag;
    uint8_t general_frame_only_constraint_flag;
    uint8_t general_level_idc;
    uint8_t general_profile_compatibility_flag[32];
    uint8_t sub_layer_profile_present_flag[H265D_MAX_SUB_LAYERS];
    uint8_t sub_layer_level_present_flag[H265D_MAX_SUB_LAYERS];
    uint8_t sub_layer_profile_idc[H265D_MAX_SUB_LAYERS];
    uint8_t sub_layer_level_idc[H265D_MAX_SUB_LAYERS];
} H265D_PTL;

/* hrd_parameters(): the scalars that later stages may want; the per-CPB bit
 * rates are only validated. */
typedef struct H265D_HRD
{
    uint8_t nal_hrd_parameters_present_flag;
    uint8_t vcl_hrd_parameters_present_flag;
    uint8_t sub_pic_hrd_params_present_flag;
    uint8_t tick_divisor_minus2;
    uint8_t du_cpb_removal_delay_increment_length_minus1;
    uint8_t sub_pic_cpb_params_in_pic_timing_sei_flag;
    uint8_t dpb_output_delay_du_length_minus1;
    uint8_t bit_rate_scale;
    uint8_t cpb_size_scale;
    uint8_t cpb_size_du_scale;
    uint8_t initial_cpb_removal_delay_length_minus1;
    uint8_t au_cpb_removal_delay_length_minus1;
    uint8_t dpb_output_delay_length_minus1;
    uint8_t fixed_pic_rate_general_flag[H265D_MAX_SUB_LAYERS];
    uint8_t fixed_pic_rate_within_cvs_flag[H265D_MAX_SUB_LAYERS];
    uint8_t low_delay_hrd_flag[H265D_MAX_SUB_LAYERS];
    uint16_t elemental_duration_in_tc_minus1[H265D_MAX_SUB_LAYERS];
    uint8_t cpb_cnt_minus1[H265D_MAX_SUB_LAYERS];
} H265D_HRD;

typedef struct H265D_VPS
{
    int32_t valid;
    uint32_t vps_video_parameter_set_id;
    uint32_t vps_base_layer_internal_flag;
    uint32_t vps_base_layer_available_flag;
    uint32_t vps_max_layers_minus1;
    uint32_t vps_max_sub_layers_minus1;
    uint32_t vps_temporal_id_nesting_flag;
    H265D_PTL ptl;
    uint32_t vps_sub_layer_ordering_info_present_flag;
    uint32_t vps_max_dec_pic_buffering[H265D_MAX_SUB_LAYERS];
    uint32_t vps_max_num_reorder_pics[H265D_MAX_SUB_LAYERS];
    uint32_t vps_max_latency_increase_plus1[H265D_MAX_SUB_LAYERS];
    uint32_t vps_max_layer_id;
    uint32_t vps_num_layer_sets_minus1;
    uint32_t vps_timing_info_present_flag;
    uint32_t vps_num_units_in_tick; /* 1001 unless the VPS carries timing */
    uint32_t vps_time_scale;        /* 60000 unless the VPS carries timing */
    uint32_t vps_poc_proportional_to_timing_flag;
    uint32_t vps_num_ticks_poc_diff_one_minus1;
    uint32_t vps_num_hrd_parameters;
    H265D_HRD hrd; /* the first hrd_parameters() only */
    uint32_t vps_extension_flag;
} H265D_VPS;

/* One short-term reference picture set, in derived form (7.4.8). */
typedef struct H265D_ST_RPS
{
    int32_t valid;
    int32_t num_negative_pics;
    int32_t num_positive_pics;
    int32_t delta_poc_s0[H265D_MAX_RPS_ENTRIES];
    int32_t delta_poc_s1[H265D_MAX_RPS_ENTRIES];
    uint8_t used_by_curr_pic_s0[H265D_MAX_RPS_ENTRIES];
    uint8_t used_by_curr_pic_s1[H265D_MAX_RPS_ENTRIES];
} H265D_ST_RPS;

/* Lists by sizeId (4x4 .. 32x32) and matrixId; 32x32 uses matrixId 0 and 3. */
typedef struct H265D_SCALING_LIST
{
    uint8_t list[4][6][64];
    uint8_t dc[4][6];
} H265D_SCALING_LIST;

typedef struct H265D_VUI
{
    uint32_t aspect_ratio_info_present_flag;
    uint32_t aspect_ratio_idc;
    uint32_t sar_width;
    uint32_t sar_height;
    uint32_t overscan_info_present_flag;
    uint32_t overscan_appropriate_flag;
    uint32_t video_signal_type_present_flag;
    uint32_t video_format;
    uint32_t video_full_range_flag;
    uint32_t colour_description_present_flag;
    uint32_t colour_primaries;
    uint32_t transfer_characteristics;
    uint32_t matrix_coeffs;
    uint32_t chroma_loc_info_present_flag;
    uint32_t chroma_sample_loc_type_top_field;
    uint32_t chroma_sample_loc_type_bottom_field;
    uint32_t neutral_chroma_indication_flag;
    uint32_t field_seq_flag;
    uint32_t frame_field_info_present_flag;
    uint32_t default_display_window_flag;
    uint32_t def_disp_win_left_offset;
    uint32_t def_disp_win_right_offset;
    uint32_t def_disp_win_top_offset;
    uint32_t def_disp_win_bottom_offset;
    uint32_t vui_timing_info_present_flag;
    uint32_t vui_num_units_in_tick;
    uint32_t vui_time_scale;
    uint32_t vui_poc_proportional_to_timing_flag;
    uint32_t vui_num_ticks_poc_diff_one_minus1;
    uint32_t vui_hrd_parameters_present_flag;
    H265D_HRD hrd;
    uint32_t bitstream_restriction_flag;
    uint32_t tiles_fixed_structure_flag;
    uint32_t motion_vectors_over_pic_boundaries_flag;
    uint32_t restricted_ref_pic_lists_flag;
    uint32_t min_spatial_segmentation_idc;
    uint32_t max_bytes_per_pic_denom;
    uint32_t max_bits_per_min_cu_denom;
    uint32_t log2_max_mv_length_horizontal;
    uint32_t log2_max_mv_length_vertical;
} H265D_VUI;

typedef struct H265D_SPS
{
    int32_t valid;
    uint32_t generation; /* changes with every successful parse */
    uint32_t sps_video_parameter_set_id;
    uint32_t sps_max_sub_layers_minus1;
    uint32_t sps_temporal_id_nesting_flag;
    H265D_PTL ptl;
    uint32_t sps_seq_parameter_set_id;
    uint32_t chroma_format_idc;
    uint32_t separate_colour_plane_flag;
    uint32_t pic_width_in_luma_samples;
    uint32_t pic_height_in_luma_samples;
    uint32_t conformance_window_flag;
    uint32_t conf_win_left_offset;
    uint32_t conf_win_right_offset;
    uint32_t conf_win_top_offset;
    uint32_t conf_win_bottom_offset;
    uint32_t bit_depth_luma;
    uint32_t bit_depth_chroma;
    uint32_t log2_max_pic_order_cnt_lsb;
    uint32_t sps_sub_layer_ordering_info_present_flag;
    uint32_t sps_max_dec_pic_buffering[H265D_MAX_SUB_LAYERS];
    uint32_t sps_max_num_reorder_pics[H265D_MAX_SUB_LAYERS];
    uint32_t sps_max_latency_increase_plus1[H265D_MAX_SUB_LAYERS];
    uint32_t log2_min_luma_coding_block_size;
    uint32_t log2_diff_max_min_luma_coding_block_size;
    uint32_t log2_min_luma_transform_block_size;
    uint32_t log2_diff_max_min_luma_transform_block_size;
    uint32_t max_transform_hierarchy_depth_inter;
    uint32_t max_transform_hierarchy_depth_intra;
    uint32_t scaling_list_enabled_flag;
    uint32_t sps_scaling_list_data_present_flag;
    H265D_SCALING_LIST scaling_list;
    uint32_t amp_enabled_flag;
    uint32_t sample_adaptive_offset_enabled_flag;
    uint32_t pcm_enabled_flag;
    uint32_t pcm_sample_bit_depth_luma;
    uint32_t pcm_sample_bit_depth_chroma;
    uint32_t log2_min_pcm_luma_coding_block_size;
    uint32_t log2_diff_max_min_pcm_luma_coding_block_size;
    uint32_t pcm_loop_filter_disabled_flag;
    uint32_t num_short_term_ref_pic_sets;
    H265D_ST_RPS st_rps[H265D_MAX_ST_RPS];
    uint32_t long_term_ref_pics_present_flag;
    uint32_t num_long_term_ref_pics_sps;
    uint32_t lt_ref_pic_poc_lsb_sps[H265D_MAX_LT_SPS];
    uint8_t used_by_curr_pic_lt_sps_flag[H265D_MAX_LT_SPS];
    uint32_t sps_temporal_mvp_enabled_flag;
    uint32_t strong_intra_smoothing_enabled_flag;
    uint32_t vui_parameters_present_flag;
    H265D_VUI vui;
    uint32_t sps_extension_present_flag;

    /* Derived. */
    uint32_t MinCbLog2SizeY;
    uint32_t MinCbSizeY;
    uint32_t CtbLog2SizeY;
    uint32_t CtbSizeY;
    uint32_t PicWidthInMinCbsY;
    uint32_t PicHeightInMinCbsY;
    uint32_t PicWidthInCtbsY;
    uint32_t PicHeightInCtbsY;
    uint32_t PicSizeInCtbsY;
    uint32_t Log2MinTrafoSize;
    uint32_t Log2MaxTrafoSize;
    uint32_t MaxPicOrderCntLsb;
} H265D_SPS;

typedef struct H265D_PPS
{
    int32_t valid;
    uint32_t pps_pic_parameter_set_id;
    uint32_t pps_seq_parameter_set_id;
    uint32_t dependent_slice_segments_enabled_flag;
    uint32_t output_flag_present_flag;
    uint32_t num_extra_slice_header_bits;
    uint32_t sign_data_hiding_enabled_flag;
    uint32_t cabac_init_present_flag;
    uint32_t num_ref_idx_l0_default_active;
    uint32_t num_ref_idx_l1_default_active;
    int32_t init_qp_minus26;
    uint32_t constrained_intra_pred_flag;
    uint32_t transform_skip_enabled_flag;
    uint32_t cu_qp_delta_enabled_flag;
    uint32_t diff_cu_qp_delta_depth;
    int32_t pps_cb_qp_offset;
    int32_t pps_cr_qp_offset;
    uint32_t pps_slice_chroma_qp_offsets_present_flag;
    uint32_t weighted_pred_flag;
    uint32_t weighted_bipred_flag;
    uint32_t transquant_bypass_enabled_flag;
    uint32_t tiles_enabled_flag;
    uint32_t entropy_coding_sync_enabled_flag;
    uint32_t num_tile_columns;
    uint32_t num_tile_rows;
    uint32_t uniform_spacing_flag;
    uint32_t column_width[H265D_MAX_TILE_COLS]; /* in CTBs, explicit spacing */
    uint32_t row_height[H265D_MAX_TILE_ROWS];
    uint32_t loop_filter_across_tiles_enabled_flag;
    uint32_t pps_loop_filter_across_slices_enabled_flag;
    uint32_t deblocking_filter_control_present_flag;
    uint32_t deblocking_filter_override_enabled_flag;
    uint32_t pps_deblocking_filter_disabled_flag;
    int32_t pps_beta_offset; /* twice the _div2 value */
    int32_t pps_tc_offset;
    uint32_t pps_scaling_list_data_present_flag;
    H265D_SCALING_LIST scaling_list;
    uint32_t lists_modification_present_flag;
    uint32_t log2_parallel_merge_level;
    uint32_t slice_segment_header_extension_present_flag;
    uint32_t pps_extension_present_flag;

    /* Tables made from an SPS that fits the create limits. */
    uint32_t tablesSpsGeneration; /* 0: not made */
    int32_t *colBd;               /* H265D_MAX_TILE_COLS + 1 entries */
    int32_t *rowBd;               /* H265D_MAX_TILE_ROWS + 1 entries */
    int32_t *ctbAddrRsToTs;       /* one per CTB of 16 over W64 x H64 */
    int32_t *ctbAddrTsToRs;
    int32_t *tileId;
    uint16_t *dequant; /* see dequantTable() */
} H265D_PPS;

/* Offset of the ScalingFactor x levelScale table of one transform size,
 * matrixId (0..5; 32x32 only 0 and 3 are meaningful) and qP % 6. */
static inline uint16_t *dequantTable(const H265D_PPS *pps, int sizeId, int matrixId, int qpRem)
{
    static const int base[4] = {0, 16 * 36, 16 * 36 + 64 * 36, 16 * 36 + 64 * 36 + 256 * 36};
    const int n = 16 << (2 * sizeId);
    return pps->dequant + base[sizeId] + (matrixId * 6 + qpRem) * n;
}
#define H265D_DEQUANT_ENTRIES (16 * 36 + 64 * 36 + 256 * 36 + 1024 * 36)

typedef struct H265D_USER_DATA
{
    uint8_t data[H265D_USER_DATA_SIZE];
    int32_t length;
} H265D_USER_DATA;

int32_t parseVps(struct H265D_DEC_OBJ *dec, H265D_BITREADER *br, uint32_t ch, H265D_LOG_FXN log);
int32_t parseSps(struct H265D_DEC_OBJ *dec, H265D_BITREADER *br, uint32_t ch, H265D_LOG_FXN log);
int32_t parsePps(struct H265D_DEC_OBJ *dec, H265D_BITREADER *br, uint32_t ch, H265D_LOG_FXN log);
void parseSei(struct H265D_DEC_OBJ *dec, H265D_BITREADER *br, uint32_t ch, H265D_LOG_FXN log);

int32_t parsePtl(H265D_PTL *ptl, H265D_BITREADER *br, int profilePresent, uint32_t maxSubLayersMinus1, uint32_t ch,
                 H265D_LOG_FXN log);
int32_t parseHrd(H265D_HRD *hrd, H265D_BITREADER *br, int commonInfPresent, uint32_t maxSubLayersMinus1, uint32_t ch,
                 H265D_LOG_FXN log);
int32_t parseScalingList(H265D_SCALING_LIST *sl, H265D_BITREADER *br, uint32_t ch, H265D_LOG_FXN log);
/* st_ref_pic_set(idx): idx == num (the slice's own set) allows prediction
 * from any SPS candidate. sets[] holds the SPS candidates. */
int32_t parseShortTermRps(const H265D_SPS *sps, H265D_BITREADER *br, uint32_t idx, uint32_t num,
                          const H265D_ST_RPS *sets, H265D_ST_RPS *out, uint32_t ch, H265D_LOG_FXN log);
int32_t parseVui(struct H265D_DEC_OBJ *dec, H265D_SPS *sps, const H265D_VPS *vps, H265D_BITREADER *br, uint32_t ch,
                 H265D_LOG_FXN log);
void setDefaultScalingLists(H265D_SCALING_LIST *sl);
void setFlatScalingLists(H265D_SCALING_LIST *sl);
void deriveScalingFactors(H265D_PPS *pps, const H265D_SPS *sps);
void deriveTileMaps(H265D_PPS *pps, const H265D_SPS *sps);
/* Makes the PPS's tables for this SPS unless they are current already;
 * the caller has checked that the SPS fits the create limits. */
void derivePpsTables(H265D_PPS *pps, const H265D_SPS *sps);

} // namespace h265d

#endif
