/* VPS, SPS, PPS and SEI parsing with the decoder's limits, and the tables
 * each PPS carries for slice decoding (tile scan, dequantisation factors). */
#include "paramsets.h"

#include <string.h>

#include "decoder.h"

namespace h265d {

#define LOGE(...) log(ch, H265D_LOG_ERROR, __VA_ARGS__)
#define LOGW(...) log(ch, H265D_LOG_WARNING, __VA_ARGS__)

/* A read past the payload or a malformed Exp-Golomb code: fail the set. */
static int truncated(H265D_BITREADER *br, const char *what, uint32_t ch, H265D_LOG_FXN log)
{
    if (!br->overrun)
        return 0;
    LOGE("H265D_Decode : The %s is truncated or has an invalid code!\n", what);
    return 1;
}

/* ---- profile_tier_level ---- */

/* profile_tier_level(), 7.3.3. */
int32_t parsePtl(H265D_PTL *ptl, H265D_BITREADER *br, int profilePresent, uint32_t maxSubLayersMinus1, uint32_t ch,
                 H265D_LOG_FXN log)
{
    memset(ptl, 0, sizeof *ptl);
    if (profilePresent) {
        ptl->general_profile_space = (uint8_t)readBitsT(br, 2, "general_profile_space");
        ptl->general_tier_flag = (uint8_t)readBitT(br, "general_tier_flag");
        ptl->general_profile_idc = (uint8_t)readBitsT(br, 5, "general_profile_idc");
        for (int j = 0; j < 32; j++)
            ptl->general_profile_compatibility_flag[j] =
                (uint8_t)readBitT(br, "general_profile_compatibility_flag[%d]", j);
        ptl->general_progressive_source_flag = (uint8_t)readBitT(br, "general_progressive_source_flag");
        ptl->general_interlaced_source_flag = (uint8_t)readBitT(br, "general_interlaced_source_flag");
        ptl->general_non_packed_constraint_flag = (uint8_t)readBitT(br, "general_non_packed_constraint_flag");
        ptl->general_frame_only_constraint_flag = (uint8_t)readBitT(br, "general_frame_only_constraint_flag");
        skipBits(br, 32); /* the 43 constraint bits and general_inbld_flag / reserved bit */
        skipBits(br, 12);
    }
    ptl->general_level_idc = (uint8_t)readBitsT(br, 8, "general_level_idc");

    if (profilePresent) {
        if (ptl->general_profile_space != 0)
            LOGW("H265D_Decode : The value of general_profile_space is %d, should be equal to 0!\n",
                 ptl->general_profile_space);
        if (ptl->general_profile_idc != 1 || ptl->general_profile_compatibility_flag[1] != 1 ||
            ptl->general_profile_compatibility_flag[2] != 1)
            LOGW("H265D_Decode : The value of general_profile_idc and pstPTL->general_profile_compatibility_flag[1] "
                 "and pstPTL->general_profile_compatibility_flag[2] should all equal to 1, which is %d, %d and %d!\n",
                 ptl->general_profile_idc, ptl->general_profile_compatibility_flag[1],
                 ptl->general_profile_compatibility_flag[2]);
    }
    if (ptl->general_level_idc > 186)
        LOGW("H265D_Decode : The value of general_level_idc is %d, should not be bigger than 186!\n",
             ptl->general_level_idc);

    for (uint32_t i = 0; i < maxSubLayersMinus1; i++) {
        ptl->sub_layer_profile_present_flag[i] = (uint8_t)readBitT(br, "sub_layer_profile_present_flag[%u]", i);
        ptl->sub_layer_level_present_flag[i] = (uint8_t)readBitT(br, "sub_layer_level_present_flag[%u]", i);
    }
    if (maxSubLayersMinus1 > 0)
        for (uint32_t i = maxSubLayersMinus1; i < 8; i++)
            skipBits(br, 2); /* reserved_zero_2bits */
    for (uint32_t i = 0; i < maxSubLayersMinus1; i++) {
        if (ptl->sub_layer_profile_present_flag[i]) {
            readBitsT(br, 2, "sub_layer_profile_space[%u]", i);
            readBitT(br, "sub_layer_tier_flag[%u]", i);
            ptl->sub_layer_profile_idc[i] = (uint8_t)readBitsT(br, 5, "sub_layer_profile_idc[%u]", i);
            skipBits(br, 32); /* compatibility flags */
            skipBits(br, 4);  /* source and constraint flags */
            skipBits(br, 32); /* reserved / constraint bits */
            skipBits(br, 12);
        }
        if (ptl->sub_layer_level_present_flag[i])
            ptl->sub_layer_level_idc[i] = (uint8_t)readBitsT(br, 8, "sub_layer_level_idc[%u]", i);
    }
    return 0;
}

/* ---- hrd_parameters ---- */

/* strict: the VPS's checks fail the set; behind the VUI only limits that
 * bound a loop fail, the value checks only warn (no decoding value depends
 * on them).
 * sub_layer_hrd_parameters(), E.2.3. */
static int32_t parseSubLayerHrd(H265D_BITREADER *br, uint32_t cpbCnt, int subPic, int strict, uint32_t ch,
                                H265D_LOG_FXN log)
{
    uint32_t prevRate = 0, prevSize = 0, prevSizeDu = 0, prevRateDu = 0;
    int bad = 0;
    for (uint32_t i = 0; i < cpbCnt; i++) {
        uint32_t rate = readUeT(br, "bit_rate_value_minus1[%u]", i);
        uint32_t size = readUeT(br, "cpb_size_value_minus1[%u]", i);
        if (rate == H265D_UE_ERROR) {
            LOGE("H265D_Decode : The value of bit_rate_value_minus1 is out of the range of 0~2^32-2!\n");
            return -1;
        }
        if (i > 0 && rate <= prevRate) {
            log(ch, strict ? H265D_LOG_ERROR : H265D_LOG_WARNING,
                "H265D_Decode : The value of bit_rate_value_minus1[i] is less than "
                "bit_rate_value_minus1[i-1]!\n");
            bad = 1;
        }
        if (size == H265D_UE_ERROR) {
            LOGE("H265D_Decode : The value of cpb_size_value_minus1 is out of the range of 0~2^32-2!\n");
            return -1;
        }
        if (i > 0 && size > prevSize) {
            log(ch, strict ? H265D_LOG_ERROR : H265D_LOG_WARNING,
                "H265D_Decode : The value of cpb_size_value_minus1[i] is greater than "
                "cpb_size_value_minus1[i-1]!\n");
            bad = 1;
        }
        prevRate = rate;
        prevSize = size;
        if (subPic) {
            uint32_t sizeDu = readUeT(br, "cpb_size_du_value_minus1[%u]", i);
            uint32_t rateDu = readUeT(br, "bit_rate_du_value_minus1[%u]", i);
            if (sizeDu == H265D_UE_ERROR) {
                LOGE("H265D_Decode : The value of cpb_size_du_value_minus1 is out of the range of 0~2^32-2!\n");
                return -1;
            }
            if (i > 0 && sizeDu > prevSizeDu) {
                log(ch, strict ? H265D_LOG_ERROR : H265D_LOG_WARNING,
                    "H265D_Decode : The value of cpb_size_du_value_minus1[i] is greater than "
                    "cpb_size_du_value_minus1[i-1]!\n");
                bad = 1;
            }
            if (rateDu == H265D_UE_ERROR) {
                LOGE("H265D_Decode : The value of bit_rate_du_value_minus1 is out of the range of 0~2^32-2!\n");
                return -1;
            }
            if (i > 0 && rateDu <= prevRateDu) {
                log(ch, strict ? H265D_LOG_ERROR : H265D_LOG_WARNING,
                    "H265D_Decode : The value of bit_rate_du_value_minus1[i] is not bigger "
                    "than bit_rate_du_value_minus1[i-1]!\n");
                bad = 1;
            }
            prevSizeDu = sizeDu;
            prevRateDu = rateDu;
        }
        readBitT(br, "cbr_flag[%u]", i);
    }
    return (bad && strict) ? -1 : 0;
}

/* hrd_parameters(), E.2.2. */
static int32_t parseHrdMode(H265D_HRD *hrd, H265D_BITREADER *br, int commonInfPresent, uint32_t maxSubLayersMinus1,
                            int strict, uint32_t ch, H265D_LOG_FXN log)
{
    memset(hrd, 0, sizeof *hrd);
    if (commonInfPresent) {
        hrd->nal_hrd_parameters_present_flag = (uint8_t)readBitT(br, "nal_hrd_parameters_present_flag");
        hrd->vcl_hrd_parameters_present_flag = (uint8_t)readBitT(br, "vcl_hrd_parameters_present_flag");
        if (hrd->nal_hrd_parameters_present_flag || hrd->vcl_hrd_parameters_present_flag) {
            hrd->sub_pic_hrd_params_present_flag = (uint8_t)readBitT(br, "sub_pic_hrd_params_present_flag");
            if (hrd->sub_pic_hrd_params_present_flag) {
                hrd->tick_divisor_minus2 = (uint8_t)readBitsT(br, 8, "tick_divisor_minus2");
                hrd->du_cpb_removal_delay_increment_length_minus1 =
                    (uint8_t)readBitsT(br, 5, "du_cpb_removal_delay_increment_length_minus1");
                hrd->sub_pic_cpb_params_in_pic_timing_sei_flag =
                    (uint8_t)readBitT(br, "sub_pic_cpb_params_in_pic_timing_sei_flag");
                hrd->dpb_output_delay_du_length_minus1 = (uint8_t)readBitsT(br, 5, "dpb_output_delay_du_length_minus1");
            }
            hrd->bit_rate_scale = (uint8_t)readBitsT(br, 4, "bit_rate_scale");
            hrd->cpb_size_scale = (uint8_t)readBitsT(br, 4, "cpb_size_scale");
            if (hrd->sub_pic_hrd_params_present_flag)
                hrd->cpb_size_du_scale = (uint8_t)readBitsT(br, 4, "cpb_size_du_scale");
            hrd->initial_cpb_removal_delay_length_minus1 =
                (uint8_t)readBitsT(br, 5, "initial_cpb_removal_delay_length_minus1");
            hrd->au_cpb_removal_delay_length_minus1 = (uint8_t)readBitsT(br, 5, "au_cpb_removal_delay_length_minus1");
            hrd->dpb_output_delay_length_minus1 = (uint8_t)readBitsT(br, 5, "dpb_output_delay_length_minus1");
        }
    }
    for (uint32_t i = 0; i <= maxSubLayersMinus1 && i < H265D_MAX_SUB_LAYERS; i++) {
        hrd->fixed_pic_rate_general_flag[i] = (uint8_t)readBitT(br, "fixed_pic_rate_general_flag[%u]", i);
        if (!hrd->fixed_pic_rate_general_flag[i])
            hrd->fixed_pic_rate_within_cvs_flag[i] = (uint8_t)readBitT(br, "fixed_pic_rate_within_cvs_flag[%u]", i);
        else
            hrd->fixed_pic_rate_within_cvs_flag[i] = 1;
        if (hrd->fixed_pic_rate_within_cvs_flag[i]) {
            uint32_t d = readUeT(br, "elemental_duration_in_tc_minus1[%u]", i);
            if (d > 2047) {
                log(ch, (strict || d == H265D_UE_ERROR) ? H265D_LOG_ERROR : H265D_LOG_WARNING,
                    "H265D_Decode : The value of elemental_duration_in_tc_minus1[%d] is %d, should be less than 2048!\n",
                    (int)i, (int)d);
                if (strict || d == H265D_UE_ERROR)
                    return -1;
            }
            hrd->elemental_duration_in_tc_minus1[i] = (uint16_t)d;
        } else {
            hrd->low_delay_hrd_flag[i] = (uint8_t)readBitT(br, "low_delay_hrd_flag[%u]", i);
        }
        if (!hrd->low_delay_hrd_flag[i]) {
            uint32_t c = readUeT(br, "cpb_cnt_minus1[%u]", i);
            if (c > 31) {
                LOGE("H265D_Decode : The value of cpb_cnt_minus1[%d] is %d, should be less than 32!\n", (int)i, (int)c);
                return -1;
            }
            hrd->cpb_cnt_minus1[i] = (uint8_t)c;
        }
        if (hrd->nal_hrd_parameters_present_flag &&
            parseSubLayerHrd(br, hrd->cpb_cnt_minus1[i] + 1u, hrd->sub_pic_hrd_params_present_flag, strict, ch, log))
            return -1;
        if (hrd->vcl_hrd_parameters_present_flag &&
            parseSubLayerHrd(br, hrd->cpb_cnt_minus1[i] + 1u, hrd->sub_pic_hrd_params_present_flag, strict, ch, log))
            return -1;
    }
    return 0;
}

int32_t parseHrd(H265D_HRD *hrd, H265D_BITREADER *br, int commonInfPresent, uint32_t maxSubLayersMinus1, uint32_t ch,
                 H265D_LOG_FXN log)
{
    return parseHrdMode(hrd, br, commonInfPresent, maxSubLayersMinus1, 1, ch, log);
}

/* ---- VPS ---- */

/* video_parameter_set_rbsp(), 7.3.2.1. */
int32_t parseVps(H265D_DEC_OBJ *dec, H265D_BITREADER *br, uint32_t ch, H265D_LOG_FXN log)
{
    uint32_t id = readBitsT(br, 4, "vps_video_parameter_set_id");
    H265D_VPS *vps = &dec->vpsStore[id];
    memset(vps, 0, sizeof *vps);
    vps->vps_video_parameter_set_id = id;
    vps->vps_num_units_in_tick = 1001;
    vps->vps_time_scale = 60000;
    vps->vps_base_layer_internal_flag = readBitT(br, "vps_base_layer_internal_flag");
    vps->vps_base_layer_available_flag = readBitT(br, "vps_base_layer_available_flag");
    vps->vps_max_layers_minus1 = readBitsT(br, 6, "vps_max_layers_minus1");
    vps->vps_max_sub_layers_minus1 = readBitsT(br, 3, "vps_max_sub_layers_minus1");
    vps->vps_temporal_id_nesting_flag = readBitT(br, "vps_temporal_id_nesting_flag");
    readBitsT(br, 16, "vps_reserved_0xffff_16bits");
    if (vps->vps_max_sub_layers_minus1 > 6) {
        LOGE("H265D_Decode : The value of vps_max_sub_layers_minus1 is %d, which should be in the range of 0~6!\n",
             vps->vps_max_sub_layers_minus1);
        return H265D_ERR_VPS;
    }
    if (vps->vps_max_sub_layers_minus1 == 0 && vps->vps_temporal_id_nesting_flag == 0)
        LOGW("H265D_Decode : when vps_max_sub_layers_minus1 is equal to 0,The value of vps_temporal_id_nesting_flag "
             "should be equal to 1, but now it is %d!\n",
             vps->vps_temporal_id_nesting_flag);
    parsePtl(&vps->ptl, br, 1, vps->vps_max_sub_layers_minus1, ch, log);

    vps->vps_sub_layer_ordering_info_present_flag = readBitT(br, "vps_sub_layer_ordering_info_present_flag");
    const uint32_t maxSub = vps->vps_max_sub_layers_minus1;
    for (uint32_t i = vps->vps_sub_layer_ordering_info_present_flag ? 0 : maxSub; i <= maxSub; i++) {
        uint32_t dpb = readUeT(br, "vps_max_dec_pic_buffering_minus1[%u]", i) + 1u;
        uint32_t reorder = readUeT(br, "vps_max_num_reorder_pics[%u]", i);
        uint32_t latency = readUeT(br, "vps_max_latency_increase_plus1[%u]", i);
        if (dpb < 1 || dpb > 17) {
            LOGE("H265D_Decode : The value of vps_max_dec_pic_buffering[%d] is %d, should be in the range of 1 ~ %d!\n",
                 (int)i, (int)dpb, 18);
            return H265D_ERR_VPS;
        }
        if (reorder > dpb - 1) {
            LOGE(
                "H265D_Decode : The value of vps_num_reorder_pics[%d] is bigger than  vps_max_dec_pic_buffering[%d]-1!\n",
                (int)i, (int)i);
            return H265D_ERR_VPS;
        }
        if (latency == 0xFFFFFFFFu) {
            LOGE("H265D_Decode : The value of vps_max_latency_increase_plus1[%d] is out of the range of 0~2^32-1!\n",
                 (int)i);
            return H265D_ERR_VPS;
        }
        vps->vps_max_dec_pic_buffering[i] = dpb;
        vps->vps_max_num_reorder_pics[i] = reorder;
        vps->vps_max_latency_increase_plus1[i] = latency;
    }
    if (!vps->vps_sub_layer_ordering_info_present_flag)
        for (uint32_t i = 0; i < maxSub; i++) {
            vps->vps_max_dec_pic_buffering[i] = vps->vps_max_dec_pic_buffering[maxSub];
            vps->vps_max_num_reorder_pics[i] = vps->vps_max_num_reorder_pics[maxSub];
            vps->vps_max_latency_increase_plus1[i] = vps->vps_max_latency_increase_plus1[maxSub];
        }

    vps->vps_max_layer_id = readBitsT(br, 6, "vps_max_layer_id");
    vps->vps_num_layer_sets_minus1 = readUeT(br, "vps_num_layer_sets_minus1");
    if (vps->vps_num_layer_sets_minus1 > 1023) {
        LOGE("H265D_Decode : The value of vps_num_layer_sets_minus1 is %d, it should be in the range of 0~1023!\n",
             (int)vps->vps_num_layer_sets_minus1);
        return H265D_ERR_VPS;
    }
    if (vps->vps_num_layer_sets_minus1 != 0)
        LOGW("H265D_Decode : The value of vps_num_layer_sets_minus1 is %d, it should be equal to 0!\n",
             (int)vps->vps_num_layer_sets_minus1);
    for (uint32_t i = 1; i <= vps->vps_num_layer_sets_minus1; i++)
        for (uint32_t j = 0; j <= vps->vps_max_layer_id; j++)
            readBitT(br, "layer_id_included_flag[%u][%u]", i, j);

    vps->vps_timing_info_present_flag = readBitT(br, "vps_timing_info_present_flag");
    if (vps->vps_timing_info_present_flag) {
        vps->vps_num_units_in_tick = readBitsT(br, 32, "vps_num_units_in_tick");
        vps->vps_time_scale = readBitsT(br, 32, "vps_time_scale");
        if (vps->vps_num_units_in_tick == 0)
            LOGW("H265D_Decode : The value of vps_num_units_in_tick is %d, should be bigger than 0!\n", 0);
        if (vps->vps_time_scale == 0)
            LOGW("H265D_Decode : The value of vps_time_scale is %d, should be bigger than 0!\n", 0);
        vps->vps_poc_proportional_to_timing_flag = readBitT(br, "vps_poc_proportional_to_timing_flag");
        if (vps->vps_poc_proportional_to_timing_flag) {
            vps->vps_num_ticks_poc_diff_one_minus1 = readUeT(br, "vps_num_ticks_poc_diff_one_minus1");
            if (vps->vps_num_ticks_poc_diff_one_minus1 == H265D_UE_ERROR) {
                LOGE(
                    "H265D_Decode : The value of vps_num_ticks_poc_diff_one_minus1 is out of the range of 0~2^32-1!\n");
                return H265D_ERR_VPS;
            }
        }
        vps->vps_num_hrd_parameters = readUeT(br, "vps_num_hrd_parameters");
        if (vps->vps_num_hrd_parameters > 1024) {
            LOGE("H265D_Decode : The value of vps_num_hrd_parameters is %d, it should be in the range of 0~1024!\n",
                 (int)vps->vps_num_hrd_parameters);
            return H265D_ERR_VPS;
        }
        if (vps->vps_num_hrd_parameters > 1)
            LOGW("H265D_Decode : The value of vps_num_hrd_parameters is %d, it should not be bigger than 1!\n",
                 (int)vps->vps_num_hrd_parameters);
        /* Every hrd_parameters() is parsed to stay in sync; the first is kept. */
        for (uint32_t i = 0; i < vps->vps_num_hrd_parameters; i++) {
            uint32_t idx = readUeT(br, "hrd_layer_set_idx[%u]", i);
            if (idx > 1023) {
                LOGE("H265D_Decode : The value of hrd_layer_set_idx is %d, it should be in the range of 0~1023!\n",
                     (int)idx);
                return H265D_ERR_VPS;
            }
            if (idx != 0)
                LOGW("H265D_Decode : The value of hrd_layer_set_idx is %d, it should be equal to 0!\n", (int)idx);
            uint32_t cprms = 1;
            if (i > 0)
                cprms = readBitT(br, "cprms_present_flag[%u]", i);
            H265D_HRD scratch;
            if (parseHrd(i == 0 ? &vps->hrd : &scratch, br, (int)cprms, maxSub, ch, log))
                return H265D_ERR_VPS;
        }
    }
    vps->vps_extension_flag = readBitT(br, "vps_extension_flag");
    if (truncated(br, "video parameter set", ch, log))
        return H265D_ERR_VPS;
    vps->valid = 1;
    return 0;
}

/* ---- scaling lists ---- */

static const uint8_t kDefaultIntra8x8[64] = {16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 17, 16, 17, 16, 17, 18,
                                             17, 18, 18, 17, 18, 21, 19, 20, 21, 20, 19, 21, 24, 22, 22, 24,
                                             24, 22, 22, 24, 25, 25, 27, 30, 27, 25, 25, 29, 31, 35, 35, 31,
                                             29, 36, 41, 44, 41, 36, 47, 54, 54, 47, 65, 70, 65, 88, 88, 115};
static const uint8_t kDefaultInter8x8[64] = {16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 17, 17, 17, 17, 17, 18,
                                             18, 18, 18, 18, 18, 20, 20, 20, 20, 20, 20, 20, 24, 24, 24, 24,
                                             24, 24, 24, 24, 25, 25, 25, 25, 25, 25, 25, 28, 28, 28, 28, 28,
                                             28, 33, 33, 33, 33, 33, 41, 41, 41, 41, 54, 54, 54, 71, 71, 91};

static void defaultList(uint8_t *dst, int sizeId, int matrixId)
{
    if (sizeId == 0)
        memset(dst, 16, 16);
    else
        memcpy(dst, matrixId < 3 ? kDefaultIntra8x8 : kDefaultInter8x8, 64);
}

void setDefaultScalingLists(H265D_SCALING_LIST *sl)
{
    for (int s = 0; s < 4; s++)
        for (int m = 0; m < 6; m++) {
            defaultList(sl->list[s][m], s, m);
            sl->dc[s][m] = 16;
        }
}

void setFlatScalingLists(H265D_SCALING_LIST *sl)
{
    memset(sl->list, 16, sizeof sl->list);
    memset(sl->dc, 16, sizeof sl->dc);
}

/* scaling_list_data(), 7.3.4. */
int32_t parseScalingList(H265D_SCALING_LIST *sl, H265D_BITREADER *br, uint32_t ch, H265D_LOG_FXN log)
{
    for (int sizeId = 0; sizeId < 4; sizeId++) {
        const int coefNum = sizeId == 0 ? 16 : 64;
        for (int matrixId = 0; matrixId < 6; matrixId += (sizeId == 3) ? 3 : 1) {
            uint32_t predMode = readBitT(br, "scaling_list_pred_mode_flag[%d][%d]", sizeId, matrixId);
            if (!predMode) {
                uint32_t delta = readUeT(br, "scaling_list_pred_matrix_id_delta[%d][%d]", sizeId, matrixId);
                const uint32_t step = sizeId == 3 ? 3u : 1u;
                if (delta > (uint32_t)matrixId / step) {
                    LOGE("H265D_Decode : the value of scaling_list_pred_matrix_id_delta should be in the range of "
                         "0~iMatrixId !\n");
                    return -1;
                }
                if (delta == 0) {
                    defaultList(sl->list[sizeId][matrixId], sizeId, matrixId);
                    sl->dc[sizeId][matrixId] = 16;
                } else {
                    const int ref = matrixId - (int)(delta * step);
                    memcpy(sl->list[sizeId][matrixId], sl->list[sizeId][ref], 64);
                    sl->dc[sizeId][matrixId] = sl->dc[sizeId][ref];
                }
            } else {
                int nextCoef = 8;
                if (sizeId > 1) {
                    int32_t dc = readSeT(br, "scaling_list_dc_coef_minus8[%d][%d]", sizeId - 2, matrixId);
                    if (dc < -7 || dc > 247) {
                        LOGE("H265D_Decode : the value of scaling_list_dc_coef should be in the range of 1~255 !\n");
                        return -1;
                    }
                    nextCoef = dc + 8;
                    sl->dc[sizeId][matrixId] = (uint8_t)nextCoef;
                } else {
                    sl->dc[sizeId][matrixId] = 16;
                }
                for (int i = 0; i < coefNum; i++) {
                    int32_t d = readSeT(br, "scaling_list_delta_coeff[%d][%d][%d]", sizeId, matrixId, i);
                    if (d < -128 || d > 127) {
                        LOGE(
                            "H265D_Decode : the value of scaling_list_delta_coef should be in the range of -128~127 !\n");
                        return -1;
                    }
                    nextCoef = (nextCoef + d + 256) % 256;
                    if (nextCoef <= 0) {
                        LOGE("H265D_Decode : the value of ScalingList should be bigger than 0 !\n");
                        return -1;
                    }
                    sl->list[sizeId][matrixId][i] = (uint8_t)nextCoef;
                }
            }
        }
    }
    /* 4:2:0 never uses the chroma 32x32 matrices; keep them defined. */
    for (int m = 1; m < 6; m++)
        if (m != 3) {
            memcpy(sl->list[3][m], sl->list[2][m], 64);
            sl->dc[3][m] = sl->dc[2][m];
        }
    return 0;
}

/* Up-right diagonal scan of a blk x blk block: pos[i] = y * blk + x. */
static void diagScan(int blk, uint16_t *pos)
{
    int i = 0, x = 0, y = 0;
    for (;;) {
        while (y >= 0) {
            if (x < blk && y < blk)
                pos[i++] = (uint16_t)(y * blk + x);
            y--;
            x++;
        }
        y = x;
        x = 0;
        if (i >= blk * blk)
            break;
    }
}

void deriveScalingFactors(H265D_PPS *pps, const H265D_SPS *sps)
{
    static const uint16_t levelScale[6] = {40, 45, 51, 57, 64, 72};
    uint16_t scan4[16], scan8[64];
    diagScan(4, scan4);
    diagScan(8, scan8);
    const H265D_SCALING_LIST *sl = pps->pps_scaling_list_data_present_flag ? &pps->scaling_list : &sps->scaling_list;
    uint8_t factor[1024];
    for (int sizeId = 0; sizeId < 4; sizeId++) {
        const int n = 4 << sizeId;
        for (int m = 0; m < 6; m++) {
            if (sizeId == 0) {
                for (int i = 0; i < 16; i++)
                    factor[scan4[i]] = sl->list[0][m][i];
            } else {
                const int rep = n / 8; /* 8x8 lists are up-sampled */
                for (int i = 0; i < 64; i++) {
                    const int x = scan8[i] % 8, y = scan8[i] / 8;
                    for (int dy = 0; dy < rep; dy++)
                        for (int dx = 0; dx < rep; dx++)
                            factor[(y * rep + dy) * n + x * rep + dx] = sl->list[sizeId][m][i];
                }
                if (sizeId >= 2)
                    factor[0] = sl->dc[sizeId][m];
            }
            for (int q = 0; q < 6; q++) {
                uint16_t *t = dequantTable(pps, sizeId, m, q);
                for (int i = 0; i < n * n; i++)
                    t[i] = (uint16_t)(factor[i] * levelScale[q]);
            }
        }
    }
}

/* Column widths and row heights in CTBs for this SPS; 0 when the PPS's
 * explicit spacing does not fit the picture. */
static int tileSizes(const H265D_PPS *pps, const H265D_SPS *sps, uint32_t *colW, uint32_t *rowH)
{
    const uint32_t wc = sps->PicWidthInCtbsY, hc = sps->PicHeightInCtbsY;
    const uint32_t nc = pps->tiles_enabled_flag ? pps->num_tile_columns : 1;
    const uint32_t nr = pps->tiles_enabled_flag ? pps->num_tile_rows : 1;
    if (nc > wc || nr > hc)
        return 0;
    if (!pps->tiles_enabled_flag || pps->uniform_spacing_flag) {
        for (uint32_t i = 0; i < nc; i++)
            colW[i] = ((i + 1) * wc) / nc - (i * wc) / nc;
        for (uint32_t j = 0; j < nr; j++)
            rowH[j] = ((j + 1) * hc) / nr - (j * hc) / nr;
        return 1;
    }
    uint64_t sum = 0;
    for (uint32_t i = 0; i + 1 < nc; i++) {
        colW[i] = pps->column_width[i];
        sum += colW[i];
    }
    if (sum >= wc)
        return 0;
    colW[nc - 1] = wc - (uint32_t)sum;
    sum = 0;
    for (uint32_t j = 0; j + 1 < nr; j++) {
        rowH[j] = pps->row_height[j];
        sum += rowH[j];
    }
    if (sum >= hc)
        return 0;
    rowH[nr - 1] = hc - (uint32_t)sum;
    return 1;
}

void deriveTileMaps(H265D_PPS *pps, const H265D_SPS *sps)
{
    uint32_t cw[H265D_MAX_TILE_COLS], rh[H265D_MAX_TILE_ROWS];
    const uint32_t nc = pps->tiles_enabled_flag ? pps->num_tile_columns : 1;
    const uint32_t nr = pps->tiles_enabled_flag ? pps->num_tile_rows : 1;
    if (!tileSizes(pps, sps, cw, rh))
        return;
    const int32_t wc = (int32_t)sps->PicWidthInCtbsY, hc = (int32_t)sps->PicHeightInCtbsY;
    pps->colBd[0] = 0;
    for (uint32_t i = 0; i < nc; i++)
        pps->colBd[i + 1] = pps->colBd[i] + (int32_t)cw[i];
    pps->rowBd[0] = 0;
    for (uint32_t j = 0; j < nr; j++)
        pps->rowBd[j + 1] = pps->rowBd[j] + (int32_t)rh[j];
    for (int32_t rs = 0; rs < wc * hc; rs++) {
        const int32_t tbX = rs % wc, tbY = rs / wc;
        uint32_t tileX = 0, tileY = 0;
        for (uint32_t i = 0; i < nc; i++)
            if (tbX >= pps->colBd[i])
                tileX = i;
        for (uint32_t j = 0; j < nr; j++)
            if (tbY >= pps->rowBd[j])
                tileY = j;
        int32_t v = 0;
        for (uint32_t i = 0; i < tileX; i++)
            v += (int32_t)(rh[tileY] * cw[i]);
        for (uint32_t j = 0; j < tileY; j++)
            v += wc * (int32_t)rh[j];
        v += (tbY - pps->rowBd[tileY]) * (int32_t)cw[tileX] + tbX - pps->colBd[tileX];
        pps->ctbAddrRsToTs[rs] = v;
        pps->ctbAddrTsToRs[v] = rs;
    }
    int32_t tIdx = 0;
    for (uint32_t j = 0; j < nr; j++)
        for (uint32_t i = 0; i < nc; i++, tIdx++)
            for (int32_t y = pps->rowBd[j]; y < pps->rowBd[j + 1]; y++)
                for (int32_t x = pps->colBd[i]; x < pps->colBd[i + 1]; x++)
                    pps->tileId[pps->ctbAddrRsToTs[y * wc + x]] = tIdx;
}

void derivePpsTables(H265D_PPS *pps, const H265D_SPS *sps)
{
    if (pps->tablesSpsGeneration == sps->generation)
        return;
    deriveTileMaps(pps, sps);
    deriveScalingFactors(pps, sps);
    pps->tablesSpsGeneration = sps->generation;
}

/* ---- short-term reference picture sets ---- */

/* st_ref_pic_set(), 7.3.7. */
int32_t parseShortTermRps(const H265D_SPS *sps, H265D_BITREADER *br, uint32_t idx, uint32_t num,
                          const H265D_ST_RPS *sets, H265D_ST_RPS *out, uint32_t ch, H265D_LOG_FXN log)
{
    const uint32_t maxDec = sps->sps_max_dec_pic_buffering[sps->sps_max_sub_layers_minus1];
    memset(out, 0, sizeof *out);
    uint32_t interPred = 0;
    if (idx != 0)
        interPred = readBitT(br, "inter_ref_pic_set_prediction_flag");
    if (interPred) {
        uint32_t deltaIdxMinus1 = 0;
        if (idx == num) {
            deltaIdxMinus1 = readUeT(br, "delta_idx_minus1");
            if (deltaIdxMinus1 >= idx) {
                LOGE("H265D_Decode : the value of delta_idx_minus1 is %d,it should be less than %d !\n",
                     (int)deltaIdxMinus1, (int)idx);
                return -1;
            }
        }
        const uint32_t refIdx = idx - (deltaIdxMinus1 + 1);
        uint32_t sign = readBitT(br, "delta_rps_sign");
        uint32_t absMinus1 = readUeT(br, "abs_delta_rps_minus1");
        if (absMinus1 > 32767) {
            LOGE("H265D_Decode : the value of abs_delta_rps_minus1 is %d,it should be in the range of 0~32767 !\n",
                 (int)absMinus1);
            return -1;
        }
        const H265D_ST_RPS *ref = &sets[refIdx];
        if (!ref->valid) {
            LOGE("H265D_Decode :  the %d-th candidate short-term RPS is not valid!\n", (int)refIdx);
            return -1;
        }
        const int32_t deltaRps = (1 - 2 * (int32_t)sign) * (int32_t)(absMinus1 + 1);
        const int numDelta = ref->num_negative_pics + ref->num_positive_pics;
        uint8_t usedFlag[2 * H265D_MAX_RPS_ENTRIES + 1], useDelta[2 * H265D_MAX_RPS_ENTRIES + 1];
        for (int j = 0; j <= numDelta; j++) {
            usedFlag[j] = (uint8_t)readBitT(br, "used_by_curr_pic_flag[%d]", j);
            useDelta[j] = 1;
            if (!usedFlag[j])
                useDelta[j] = (uint8_t)readBitT(br, "use_delta_flag[%d]", j);
        }
        int i = 0;
        for (int j = ref->num_positive_pics - 1; j >= 0; j--) {
            int32_t d = ref->delta_poc_s1[j] + deltaRps;
            if (d < 0 && useDelta[ref->num_negative_pics + j] && i < H265D_MAX_RPS_ENTRIES) {
                out->delta_poc_s0[i] = d;
                out->used_by_curr_pic_s0[i++] = usedFlag[ref->num_negative_pics + j];
            }
        }
        if (deltaRps < 0 && useDelta[numDelta] && i < H265D_MAX_RPS_ENTRIES) {
            out->delta_poc_s0[i] = deltaRps;
            out->used_by_curr_pic_s0[i++] = usedFlag[numDelta];
        }
        for (int j = 0; j < ref->num_negative_pics; j++) {
            int32_t d = ref->delta_poc_s0[j] + deltaRps;
            if (d < 0 && useDelta[j] && i < H265D_MAX_RPS_ENTRIES) {
                out->delta_poc_s0[i] = d;
                out->used_by_curr_pic_s0[i++] = usedFlag[j];
            }
        }
        out->num_negative_pics = i;
        i = 0;
        for (int j = ref->num_negative_pics - 1; j >= 0; j--) {
            int32_t d = ref->delta_poc_s0[j] + deltaRps;
            if (d > 0 && useDelta[j] && i < H265D_MAX_RPS_ENTRIES) {
                out->delta_poc_s1[i] = d;
                out->used_by_curr_pic_s1[i++] = usedFlag[j];
            }
        }
        if (deltaRps > 0 && useDelta[numDelta] && i < H265D_MAX_RPS_ENTRIES) {
            out->delta_poc_s1[i] = deltaRps;
            out->used_by_curr_pic_s1[i++] = usedFlag[numDelta];
        }
        for (int j = 0; j < ref->num_positive_pics; j++) {
            int32_t d = ref->delta_poc_s1[j] + deltaRps;
            if (d > 0 && useDelta[ref->num_negative_pics + j] && i < H265D_MAX_RPS_ENTRIES) {
                out->delta_poc_s1[i] = d;
                out->used_by_curr_pic_s1[i++] = usedFlag[ref->num_negative_pics + j];
            }
        }
        out->num_positive_pics = i;
        /* A predicted set obeys the same limits as a coded one. */
        if ((uint32_t)out->num_negative_pics >= maxDec) {
            LOGE("H265D_Decode : the value of num_negative_pics is %d,it should be less than "
                 "sps_max_dec_pic_buffering !\n",
                 out->num_negative_pics);
            return -1;
        }
        if ((uint32_t)out->num_positive_pics > maxDec - 1 - (uint32_t)out->num_negative_pics) {
            LOGE("H265D_Decode : the value of num_positive_pics is out of the range!\n");
            return -1;
        }
    } else {
        uint32_t nNeg = readUeT(br, "num_negative_pics");
        if (nNeg >= maxDec) {
            LOGE("H265D_Decode : the value of num_negative_pics is %d,it should be less than "
                 "sps_max_dec_pic_buffering !\n",
                 (int)nNeg);
            return -1;
        }
        uint32_t nPos = readUeT(br, "num_positive_pics");
        if (nPos > maxDec - 1 - nNeg) {
            LOGE("H265D_Decode : the value of num_positive_pics is out of the range!\n");
            return -1;
        }
        int32_t poc = 0;
        for (uint32_t i = 0; i < nNeg; i++) {
            uint32_t d = readUeT(br, "delta_poc_s0_minus1[%u]", i);
            if (d > 32767) {
                LOGE("H265D_Decode : the value of delta_poc_s0_minus1 is %d,it should be less than 32768 !\n", (int)d);
                return -1;
            }
            poc -= (int32_t)d + 1;
            out->delta_poc_s0[i] = poc;
            out->used_by_curr_pic_s0[i] = (uint8_t)readBitT(br, "used_by_curr_pic_s0_flag[%u]", i);
        }
        poc = 0;
        for (uint32_t i = 0; i < nPos; i++) {
            uint32_t d = readUeT(br, "delta_poc_s1_minus1[%u]", i);
            if (d > 32767) {
                LOGE("H265D_Decode : the value of delta_poc_s1_minus1 is %d,it should be less than 32768 !\n", (int)d);
                return -1;
            }
            poc += (int32_t)d + 1;
            out->delta_poc_s1[i] = poc;
            out->used_by_curr_pic_s1[i] = (uint8_t)readBitT(br, "used_by_curr_pic_s1_flag[%u]", i);
        }
        out->num_negative_pics = (int32_t)nNeg;
        out->num_positive_pics = (int32_t)nPos;
    }
    out->valid = 1;
    return 0;
}

/* ---- VUI ---- */

/* vui_parameters(), E.2.1. */
int32_t parseVui(H265D_DEC_OBJ *dec, H265D_SPS *sps, const H265D_VPS *vps, H265D_BITREADER *br, uint32_t ch,
                 H265D_LOG_FXN log)
{
    (void)dec;
    H265D_VUI *v = &sps->vui;
    memset(v, 0, sizeof *v);
    v->aspect_ratio_info_present_flag = readBitT(br, "aspect_ratio_info_present_flag");
    if (v->aspect_ratio_info_present_flag) {
        v->aspect_ratio_idc = readBitsT(br, 8, "aspect_ratio_idc");
        if (v->aspect_ratio_idc == 255) {
            v->sar_width = readBitsT(br, 16, "sar_width");
            v->sar_height = readBitsT(br, 16, "sar_height");
        }
    }
    v->overscan_info_present_flag = readBitT(br, "overscan_info_present_flag");
    if (v->overscan_info_present_flag)
        v->overscan_appropriate_flag = readBitT(br, "overscan_appropriate_flag");
    v->video_signal_type_present_flag = readBitT(br, "video_signal_type_present_flag");
    v->colour_primaries = 2;
    v->transfer_characteristics = 2;
    v->matrix_coeffs = 2;
    if (v->video_signal_type_present_flag) {
        v->video_format = readBitsT(br, 3, "video_format");
        v->video_full_range_flag = readBitT(br, "video_full_range_flag");
        v->colour_description_present_flag = readBitT(br, "colour_description_present_flag");
        if (v->colour_description_present_flag) {
            v->colour_primaries = readBitsT(br, 8, "colour_primaries");
            v->transfer_characteristics = readBitsT(br, 8, "transfer_characteristics");
            v->matrix_coeffs = readBitsT(br, 8, "matrix_coefficients");
            if (v->colour_primaries == 0 || v->colour_primaries > 9)
                v->colour_primaries = 2;
            if (v->transfer_characteristics == 0 || v->transfer_characteristics > 15)
                v->transfer_characteristics = 2;
            /* RGB matrices need 4:4:4; unknown values are reserved. */
            if ((v->matrix_coeffs == 0 && sps->chroma_format_idc != 3) || v->matrix_coeffs > 14)
                LOGW("H265D_Decode : the value of matrix_coeffs is error !\n");
        }
    }
    v->chroma_loc_info_present_flag = readBitT(br, "chroma_loc_info_present_flag");
    if (v->chroma_loc_info_present_flag) {
        if (sps->chroma_format_idc != 1)
            LOGW("H265D_Decode : the value of chroma_loc_info_present_flag is error !\n");
        v->chroma_sample_loc_type_top_field = readUeT(br, "chroma_sample_loc_type_top_field");
        if (v->chroma_sample_loc_type_top_field > 5)
            LOGW("H265D_Decode : the value of chroma_sample_loc_type_top_field is error !\n");
        v->chroma_sample_loc_type_bottom_field = readUeT(br, "chroma_sample_loc_type_bottom_field");
        if (v->chroma_sample_loc_type_bottom_field > 5)
            LOGW("H265D_Decode : the value of chroma_sample_loc_type_bottom_field is error !\n");
    }
    v->neutral_chroma_indication_flag = readBitT(br, "neutral_chroma_indication_flag");
    /* Field coding is shown frame by frame: worth a warning, not a failure. */
    v->field_seq_flag = readBitT(br, "field_seq_flag");
    if (v->field_seq_flag)
        LOGW("H265D_Decode : the value of field_seq_flag is error !\n");
    v->frame_field_info_present_flag = readBitT(br, "frame_field_info_present_flag");
    if (v->frame_field_info_present_flag)
        LOGW("H265D_Decode : the value of frame_field_info_present_flag is error !\n");
    v->default_display_window_flag = readBitT(br, "default_display_window_flag");
    if (v->default_display_window_flag) {
        v->def_disp_win_left_offset = readUeT(br, "def_disp_win_left_offset");
        v->def_disp_win_right_offset = readUeT(br, "def_disp_win_right_offset");
        v->def_disp_win_top_offset = readUeT(br, "def_disp_win_top_offset");
        v->def_disp_win_bottom_offset = readUeT(br, "def_disp_win_bottom_offset");
        if ((uint64_t)v->def_disp_win_left_offset + v->def_disp_win_right_offset >= sps->pic_width_in_luma_samples / 2)
            LOGW("H265D_Decode : The value of conf_win_left_offset and conf_win_right_offset is error!\n");
        if ((uint64_t)v->def_disp_win_top_offset + v->def_disp_win_bottom_offset >= sps->pic_height_in_luma_samples / 2)
            LOGW("H265D_Decode : The value of conf_win_top_offset and conf_win_bottom_offset is error!\n");
    }
    v->vui_timing_info_present_flag = readBitT(br, "vui_timing_info_present_flag");
    if (v->vui_timing_info_present_flag) {
        v->vui_num_units_in_tick = readBitsT(br, 32, "vui_num_units_in_tick");
        if (v->vui_num_units_in_tick == 0)
            LOGW("H265D_Decode : the value of vui_num_units_in_tick is error !\n");
        v->vui_time_scale = readBitsT(br, 32, "vui_time_scale");
        if (v->vui_time_scale == 0)
            LOGW("H265D_Decode : the value of vui_time_scale is error !\n");
        v->vui_poc_proportional_to_timing_flag = readBitT(br, "vui_poc_proportional_to_timing_flag");
        if (vps && vps->vps_timing_info_present_flag &&
            v->vui_poc_proportional_to_timing_flag != vps->vps_poc_proportional_to_timing_flag)
            LOGW("H265D_Decode : the value of vui_poc_proportional_to_timing_flag should be equal to "
                 "vps_poc_proportional_to_timing_flag!\n");
        if (v->vui_poc_proportional_to_timing_flag) {
            v->vui_num_ticks_poc_diff_one_minus1 = readUeT(br, "vui_num_ticks_poc_diff_one_minus1");
            if (v->vui_num_ticks_poc_diff_one_minus1 == H265D_UE_ERROR)
                LOGW(
                    "H265D_Decode : The value of vui_num_ticks_poc_diff_one_minus1 is out of the range of 0~2^32-2!\n");
            else if (vps && vps->vps_poc_proportional_to_timing_flag &&
                     v->vui_num_ticks_poc_diff_one_minus1 != vps->vps_num_ticks_poc_diff_one_minus1)
                LOGW("H265D_Decode : The value of vui_num_ticks_poc_diff_one_minus1 is not equal to "
                     "vps_num_ticks_poc_diff_one_minus1!\n");
        }
        v->vui_hrd_parameters_present_flag = readBitT(br, "vui_hrd_parameters_present_flag");
        if (v->vui_hrd_parameters_present_flag &&
            parseHrdMode(&v->hrd, br, 1, sps->sps_max_sub_layers_minus1, 0, ch, log)) {
            LOGE("H265D_Decode : DecodeHRD is error !\n");
            return -1;
        }
    }
    v->bitstream_restriction_flag = readBitT(br, "bitstream_restriction_flag");
    if (v->bitstream_restriction_flag) {
        v->tiles_fixed_structure_flag = readBitT(br, "tiles_fixed_structure_flag");
        v->motion_vectors_over_pic_boundaries_flag = readBitT(br, "motion_vectors_over_pic_boundaries_flag");
        v->restricted_ref_pic_lists_flag = readBitT(br, "restricted_ref_pic_lists_flag");
        v->min_spatial_segmentation_idc = readUeT(br, "min_spatial_segmentation_idc");
        if (v->min_spatial_segmentation_idc > 4095)
            LOGW(
                "H265D_Decode : the value of min_spatial_segmentation_idc is %d,it should be in the range of 0~4095!\n",
                (int)v->min_spatial_segmentation_idc);
        v->max_bytes_per_pic_denom = readUeT(br, "max_bytes_per_pic_denom");
        if (v->max_bytes_per_pic_denom > 16)
            LOGW("H265D_Decode : the value of max_bytes_per_pic_denom is %d,it should be less than 17!\n",
                 (int)v->max_bytes_per_pic_denom);
        v->max_bits_per_min_cu_denom = readUeT(br, "max_bits_per_min_cu_denom");
        if (v->max_bits_per_min_cu_denom > 16)
            LOGW("H265D_Decode : the value of max_bits_per_min_cu_denom is %d,it should be less than 17!\n",
                 (int)v->max_bits_per_min_cu_denom);
        v->log2_max_mv_length_horizontal = readUeT(br, "log2_max_mv_length_horizontal");
        if (v->log2_max_mv_length_horizontal > 16)
            LOGW("H265D_Decode : the value of log2_max_mv_length_horizontal is %d,it should be less than 17!\n",
                 (int)v->log2_max_mv_length_horizontal);
        v->log2_max_mv_length_vertical = readUeT(br, "log2_max_mv_length_vertical");
        if (v->log2_max_mv_length_vertical > 15)
            LOGW("H265D_Decode : the value of log2_max_mv_length_vertical is %d,it should be less than 16!\n",
                 (int)v->log2_max_mv_length_vertical);
    }
    return 0;
}

/* ---- SPS ---- */

/* seq_parameter_set_rbsp(), 7.3.2.2. */
static int32_t parseSpsBody(H265D_DEC_OBJ *dec, H265D_SPS *sps, H265D_BITREADER *br, uint32_t ch, H265D_LOG_FXN log)
{
    sps->sps_video_parameter_set_id = readBitsT(br, 4, "sps_video_parameter_set_id");
    const H265D_VPS *vps = &dec->vpsStore[sps->sps_video_parameter_set_id];
    if (!vps->valid) {
        LOGE("H265D_Decode : The ID of VPS that current SPS refered is %d, which is not exist!\n",
             sps->sps_video_parameter_set_id);
        return -1;
    }
    sps->sps_max_sub_layers_minus1 = readBitsT(br, 3, "sps_max_sub_layers_minus1");
    if (sps->sps_max_sub_layers_minus1 > 6) {
        LOGE("H265D_Decode : The value of sps_max_sub_layers_minus1 is %d, should be less than 7 !\n",
             sps->sps_max_sub_layers_minus1);
        return -1;
    }
    sps->sps_temporal_id_nesting_flag = readBitT(br, "sps_temporal_id_nesting_flag");
    if ((sps->sps_max_sub_layers_minus1 == 0 || vps->vps_temporal_id_nesting_flag == 1) &&
        sps->sps_temporal_id_nesting_flag == 0)
        LOGW("H265D_Decode : when sps_max_sub_layers_minus1 is equal to 0 or vps_temporal_id_nesting_flag is equal to "
             "1,The value of sps_temporal_id_nesting_flag should be equal to 1, but now it is %d!\n",
             0);
    parsePtl(&sps->ptl, br, 1, sps->sps_max_sub_layers_minus1, ch, log);
    sps->sps_seq_parameter_set_id = readUeT(br, "sps_seq_parameter_set_id");
    if (sps->sps_seq_parameter_set_id > 15) {
        LOGE("H265D_Decode : The value of sps_seq_parameter_set_id is %d, should be less than 16!\n",
             (int)sps->sps_seq_parameter_set_id);
        return -1;
    }
    sps->valid = -1; /* the id is known: a failure from here on invalidates its slot */
    sps->chroma_format_idc = readUeT(br, "chroma_format_idc");
    if (sps->chroma_format_idc != 1) {
        LOGE("H265D_Decode : The value of chroma_format_idc is %d, should be equal to 1!\n",
             (int)sps->chroma_format_idc);
        return -1;
    }
    sps->pic_width_in_luma_samples = readUeT(br, "pic_width_in_luma_samples");
    sps->pic_height_in_luma_samples = readUeT(br, "pic_height_in_luma_samples");
    sps->conformance_window_flag = readBitT(br, "conformance_window_flag");
    if (sps->conformance_window_flag) {
        sps->conf_win_left_offset = readUeT(br, "conf_win_left_offset");
        sps->conf_win_right_offset = readUeT(br, "conf_win_right_offset");
        sps->conf_win_top_offset = readUeT(br, "conf_win_top_offset");
        sps->conf_win_bottom_offset = readUeT(br, "conf_win_bottom_offset");
    }
    const uint32_t bdl = readUeT(br, "bit_depth_luma_minus8");
    const uint32_t bdc = readUeT(br, "bit_depth_chroma_minus8");
    sps->log2_max_pic_order_cnt_lsb = readUeT(br, "log2_max_pic_order_cnt_lsb_minus4") + 4u;
    sps->sps_sub_layer_ordering_info_present_flag = readBitT(br, "sps_sub_layer_ordering_info_present_flag");
    // Range-checked when read; bounded again here so that the array indexes below are visibly in range.
    const uint32_t maxSub = sps->sps_max_sub_layers_minus1 < H265D_MAX_SUB_LAYERS ? sps->sps_max_sub_layers_minus1 : 0;
    for (uint32_t i = sps->sps_sub_layer_ordering_info_present_flag ? 0 : maxSub; i <= maxSub; i++) {
        sps->sps_max_dec_pic_buffering[i] = readUeT(br, "sps_max_dec_pic_buffering_minus1[%u]", i) + 1u;
        sps->sps_max_num_reorder_pics[i] = readUeT(br, "sps_max_num_reorder_pics[%u]", i);
        sps->sps_max_latency_increase_plus1[i] = readUeT(br, "sps_max_latency_increase_plus1[%u]", i);
    }
    if (!sps->sps_sub_layer_ordering_info_present_flag)
        for (uint32_t i = 0; i < maxSub; i++) {
            sps->sps_max_dec_pic_buffering[i] = sps->sps_max_dec_pic_buffering[maxSub];
            sps->sps_max_num_reorder_pics[i] = sps->sps_max_num_reorder_pics[maxSub];
            sps->sps_max_latency_increase_plus1[i] = sps->sps_max_latency_increase_plus1[maxSub];
        }
    sps->log2_min_luma_coding_block_size = readUeT(br, "log2_min_luma_coding_block_size_minus3") + 3u;
    sps->log2_diff_max_min_luma_coding_block_size = readUeT(br, "log2_diff_max_min_luma_coding_block_size");
    sps->log2_min_luma_transform_block_size = readUeT(br, "log2_min_luma_transform_block_size_minus2") + 2u;
    sps->log2_diff_max_min_luma_transform_block_size = readUeT(br, "log2_diff_max_min_luma_transform_block_size");
    sps->max_transform_hierarchy_depth_inter = readUeT(br, "max_transform_hierarchy_depth_inter");
    sps->max_transform_hierarchy_depth_intra = readUeT(br, "max_transform_hierarchy_depth_intra");

    /* The checks in the order the decoder has always reported them. */
    const uint32_t minCbLog2 = sps->log2_min_luma_coding_block_size;
    if (minCbLog2 < 3 || minCbLog2 > 6) {
        LOGE("H265D_Decode : The value of log2_min_coding_block_size is %d, should be in the range of 3~6!\n",
             (int)minCbLog2);
        return -1;
    }
    const uint32_t minCb = 1u << minCbLog2;
    if (sps->pic_width_in_luma_samples == 0 || sps->pic_width_in_luma_samples == H265D_UE_ERROR ||
        sps->pic_width_in_luma_samples % minCb) {
        LOGE("H265D_Decode : The value of pic_width_in_luma_samples is %d, should be bigger than 0 and shall be an "
             "integer multiple of MinCbSizeY!\n",
             (int)sps->pic_width_in_luma_samples);
        return -1;
    }
    if (sps->pic_height_in_luma_samples == 0 || sps->pic_height_in_luma_samples == H265D_UE_ERROR ||
        sps->pic_height_in_luma_samples % minCb) {
        LOGE("H265D_Decode : The value of pic_height_in_luma_samples is %d, should be bigger than 0 and shall be an "
             "integer multiple of MinCbSizeY!\n",
             (int)sps->pic_height_in_luma_samples);
        return -1;
    }
    const uint32_t w = sps->pic_width_in_luma_samples, h = sps->pic_height_in_luma_samples;
    if (sps->conformance_window_flag) {
        if (sps->conf_win_left_offset >= w / 2 || sps->conf_win_right_offset >= w / 2 ||
            sps->conf_win_top_offset >= h / 2 || sps->conf_win_bottom_offset >= h / 2) {
            LOGE("H265D_Decode : The value of conf_win_left_offset or conf_win_right_offset is error!\n");
            return -1;
        }
        if ((uint64_t)sps->conf_win_left_offset + sps->conf_win_right_offset >= w / 2) {
            LOGE("H265D_Decode : The value of conf_win_left_offset and conf_win_right_offset is error!\n");
            return -1;
        }
        if ((uint64_t)sps->conf_win_top_offset + sps->conf_win_bottom_offset >= h / 2) {
            LOGE("H265D_Decode : The value of conf_win_top_offset and conf_win_bottom_offset is error!\n");
            return -1;
        }
    }
    sps->bit_depth_luma = bdl + 8u;
    sps->bit_depth_chroma = bdc + 8u;
    if (bdl != 0) {
        LOGE("H265D_Decode : The value of bit_depth_luma is %d, should be equal to 8!\n", (int)sps->bit_depth_luma);
        return -1;
    }
    if (bdc != 0) {
        LOGE("H265D_Decode : The value of bit_depth_chroma is %d, should be equal to 8!\n", (int)sps->bit_depth_chroma);
        return -1;
    }
    if (sps->log2_max_pic_order_cnt_lsb < 4 || sps->log2_max_pic_order_cnt_lsb > 16) {
        LOGE("H265D_Decode : The value of log2_max_pic_order_cnt_lsb is %d, should be less than 17!\n",
             (int)sps->log2_max_pic_order_cnt_lsb);
        return -1;
    }
    for (uint32_t i = 0; i <= maxSub; i++) {
        const uint32_t dpb = sps->sps_max_dec_pic_buffering[i];
        if (dpb == 0 || dpb > 17) {
            LOGE("H265D_Decode : The value of pstSPS->temporal_layer[%d].sps_max_dec_pic_buffering is %d, should be "
                 "less than %d!\n",
                 (int)i, (int)dpb, 18);
            return -1;
        }
        if (dpb > vps->vps_max_dec_pic_buffering[i < H265D_MAX_SUB_LAYERS ? i : 0] &&
            i <= vps->vps_max_sub_layers_minus1) {
            LOGE("H265D_Decode : The value of pstSPS->temporal_layer[%d].sps_max_dec_pic_buffering is %d, should not "
                 "be bigger than vps_max_dec_pic_buffering!\n",
                 (int)i, (int)dpb);
            return -1;
        }
        if (i > 0 && dpb < sps->sps_max_dec_pic_buffering[i - 1]) {
            LOGE("H265D_Decode : The value of pstSPS->temporal_layer[%d].sps_max_dec_pic_buffering should not be less "
                 "than The value of pstSPS->temporal_layer[%d].sps_max_dec_pic_buffering!\n",
                 (int)i, (int)i - 1);
            return -1;
        }
        if (sps->sps_max_num_reorder_pics[i] > dpb - 1) {
            LOGE("H265D_Decode : The value of pstSPS->temporal_layer[%d].sps_max_num_reorder_pics is %d, should be "
                 "less than 17!\n",
                 (int)i, (int)sps->sps_max_num_reorder_pics[i]);
            return -1;
        }
        if (i > 0 && sps->sps_max_num_reorder_pics[i] < sps->sps_max_num_reorder_pics[i - 1]) {
            LOGE("H265D_Decode : The value of pstSPS->temporal_layer[%d].sps_max_num_reorder_pics is %d should not "
                 "be less than The value of pstSPS->temporal_layer[%d].sps_max_num_reorder_pics!\n",
                 (int)i, (int)sps->sps_max_num_reorder_pics[i], (int)i - 1);
            return -1;
        }
        if (sps->sps_max_latency_increase_plus1[i] == 0xFFFFFFFFu) {
            LOGE("H265D_Decode : The value of sps_max_latency_increase_plus1 is %d, out of the range of 0~2^32-2!\n",
                 -1);
            return -1;
        }
    }
    /* The CTU records and tile tables are sized for CTBs of 16 to 64. */
    const uint32_t ctbLog2 = minCbLog2 + sps->log2_diff_max_min_luma_coding_block_size;
    if (sps->log2_diff_max_min_luma_coding_block_size > 3 || ctbLog2 < 4 || ctbLog2 > 6) {
        LOGE("H265D_Decode : The value of CtbLog2SizeY is %d, should be in the range of 4~6!\n",
             sps->log2_diff_max_min_luma_coding_block_size > 3 ? -1 : (int)ctbLog2);
        return -1;
    }
    const uint32_t minTb = sps->log2_min_luma_transform_block_size;
    if (minTb < 2 || minTb > 5) {
        LOGE("H265D_Decode : The value of log2_min_transform_block_size is %d, it should be in the range of 2~5!\n",
             (int)minTb);
        return -1;
    }
    if (minTb >= minCbLog2) {
        LOGE(
            "H265D_Decode : the value of log2_min_transform_block_size should less than log2_min_coding_block_size!\n");
        return -1;
    }
    if (sps->log2_diff_max_min_luma_transform_block_size > 3 ||
        minTb + sps->log2_diff_max_min_luma_transform_block_size > (ctbLog2 < 5 ? ctbLog2 : 5)) {
        LOGE("H265D_Decode : the value of iLog2MaxTrafoSize is error!\n");
        return -1;
    }
    if (sps->max_transform_hierarchy_depth_inter > 4) {
        LOGE("H265D_Decode : the value of max_transform_hierarchy_depth_inter is %d,it should be less than 5 !\n",
             (int)sps->max_transform_hierarchy_depth_inter);
        return -1;
    }
    if (sps->max_transform_hierarchy_depth_intra > 4) {
        LOGE("H265D_Decode : the value of max_transform_hierarchy_depth_intra is %d,it should be less than 5 !\n",
             (int)sps->max_transform_hierarchy_depth_intra);
        return -1;
    }

    sps->scaling_list_enabled_flag = readBitT(br, "scaling_list_enabled_flag");
    if (sps->scaling_list_enabled_flag) {
        sps->sps_scaling_list_data_present_flag = readBitT(br, "sps_scaling_list_data_present_flag");
        if (sps->sps_scaling_list_data_present_flag) {
            setDefaultScalingLists(&sps->scaling_list);
            if (parseScalingList(&sps->scaling_list, br, ch, log))
                return -1;
        } else {
            setDefaultScalingLists(&sps->scaling_list);
        }
    } else {
        setFlatScalingLists(&sps->scaling_list);
    }
    sps->amp_enabled_flag = readBitT(br, "amp_enabled_flag");
    sps->sample_adaptive_offset_enabled_flag = readBitT(br, "sample_adaptive_offset_enabled_flag");
    sps->pcm_enabled_flag = readBitT(br, "pcm_enabled_flag");
    if (sps->pcm_enabled_flag) {
        sps->pcm_sample_bit_depth_luma = readBitsT(br, 4, "pcm_sample_bit_depth_luma_minus1") + 1u;
        sps->pcm_sample_bit_depth_chroma = readBitsT(br, 4, "pcm_sample_bit_depth_chroma_minus1") + 1u;
        sps->log2_min_pcm_luma_coding_block_size = readUeT(br, "log2_min_pcm_luma_coding_block_size_minus3") + 3u;
        sps->log2_diff_max_min_pcm_luma_coding_block_size = readUeT(br, "log2_diff_max_min_pcm_luma_coding_block_size");
        sps->pcm_loop_filter_disabled_flag = readBitT(br, "pcm_loop_filter_disabled_flag");
        if (sps->pcm_sample_bit_depth_luma > sps->bit_depth_luma) {
            LOGE("H265D_Decode : the value of pcm_bit_depth_luma is error !\n");
            return -1;
        }
        if (sps->pcm_sample_bit_depth_chroma > sps->bit_depth_chroma) {
            LOGE("H265D_Decode : the value of pcm_sample_bit_depth_chroma is error !\n");
            return -1;
        }
        const uint32_t largest = ctbLog2 < 5 ? ctbLog2 : 5;
        if (sps->log2_min_pcm_luma_coding_block_size < minCbLog2 ||
            sps->log2_min_pcm_luma_coding_block_size > largest) {
            LOGE("H265D_Decode : the value of log2_min_pcm_coding_block_size is error !\n");
            return -1;
        }
        if (sps->log2_diff_max_min_pcm_luma_coding_block_size > 3 ||
            sps->log2_min_pcm_luma_coding_block_size + sps->log2_diff_max_min_pcm_luma_coding_block_size > largest) {
            LOGE("H265D_Decode : the value of log2_diff_max_min_pcm_luma_coding_block_size is error !\n");
            return -1;
        }
    }
    sps->num_short_term_ref_pic_sets = readUeT(br, "num_short_term_ref_pic_sets");
    if (sps->num_short_term_ref_pic_sets > 64) {
        LOGE("H265D_Decode : the value of num_short_term_ref_pic_sets is %d,it should be less than 65 !\n",
             (int)sps->num_short_term_ref_pic_sets);
        return -1;
    }
    for (uint32_t i = 0; i < sps->num_short_term_ref_pic_sets; i++)
        if (parseShortTermRps(sps, br, i, sps->num_short_term_ref_pic_sets, sps->st_rps, &sps->st_rps[i], ch, log))
            return -1;
    sps->long_term_ref_pics_present_flag = readBitT(br, "long_term_ref_pics_present_flag");
    sps->MaxPicOrderCntLsb = 1u << sps->log2_max_pic_order_cnt_lsb;
    if (sps->long_term_ref_pics_present_flag) {
        sps->num_long_term_ref_pics_sps = readUeT(br, "num_long_term_ref_pics_sps");
        if (sps->num_long_term_ref_pics_sps > 32) {
            LOGE("H265D_Decode : the value of num_long_term_ref_pics_sps is %d,it should be in the range of 0~32 !\n",
                 (int)sps->num_long_term_ref_pics_sps);
            return -1;
        }
        for (uint32_t i = 0; i < sps->num_long_term_ref_pics_sps; i++) {
            sps->lt_ref_pic_poc_lsb_sps[i] =
                readBitsT(br, (int)sps->log2_max_pic_order_cnt_lsb, "lt_ref_pic_poc_lsb_sps[%u]", i);
            if (sps->lt_ref_pic_poc_lsb_sps[i] >= sps->MaxPicOrderCntLsb) {
                LOGE("H265D_Decode : the value of lt_ref_pic_poc_lsb_sps[%d] is error !\n", (int)i);
                return -1;
            }
            sps->used_by_curr_pic_lt_sps_flag[i] = (uint8_t)readBitT(br, "used_by_curr_pic_lt_sps_flag[%u]", i);
        }
    }
    sps->sps_temporal_mvp_enabled_flag = readBitT(br, "sps_temporal_mvp_enabled_flag");
    sps->strong_intra_smoothing_enabled_flag = readBitT(br, "strong_intra_smoothing_enabled_flag");
    sps->vui_parameters_present_flag = readBitT(br, "vui_parameters_present_flag");
    if (sps->vui_parameters_present_flag && parseVui(dec, sps, vps, br, ch, log))
        return -1;
    sps->sps_extension_present_flag = readBitT(br, "sps_extension_present_flag");
    /* Extension data is not used by a Main profile decoder. */
    if (truncated(br, "sequence parameter set", ch, log))
        return -1;

    sps->MinCbLog2SizeY = minCbLog2;
    sps->MinCbSizeY = minCb;
    sps->CtbLog2SizeY = ctbLog2;
    sps->CtbSizeY = 1u << ctbLog2;
    sps->PicWidthInMinCbsY = w / minCb;
    sps->PicHeightInMinCbsY = h / minCb;
    sps->PicWidthInCtbsY = (uint32_t)(((uint64_t)w + sps->CtbSizeY - 1) >> ctbLog2);
    sps->PicHeightInCtbsY = (uint32_t)(((uint64_t)h + sps->CtbSizeY - 1) >> ctbLog2);
    const uint64_t size = (uint64_t)sps->PicWidthInCtbsY * sps->PicHeightInCtbsY;
    sps->PicSizeInCtbsY = size > 0xFFFFFFFFu ? 0xFFFFFFFFu : (uint32_t)size;
    sps->Log2MinTrafoSize = minTb;
    sps->Log2MaxTrafoSize = minTb + sps->log2_diff_max_min_luma_transform_block_size;
    return 0;
}

int32_t parseSps(H265D_DEC_OBJ *dec, H265D_BITREADER *br, uint32_t ch, H265D_LOG_FXN log)
{
    /* The id comes after the profile: parse into a scratch record first so
     * that a failure before it does not touch any stored set. */
    H265D_SPS *scratch = &dec->spsStore[H265D_MAX_SPS];
    memset(scratch, 0, sizeof *scratch);
    if (parseSpsBody(dec, scratch, br, ch, log)) {
        if (scratch->valid == -1)
            dec->spsStore[scratch->sps_seq_parameter_set_id].valid = 0;
        return H265D_ERR_SPS;
    }
    H265D_SPS *sps = &dec->spsStore[scratch->sps_seq_parameter_set_id];
    *sps = *scratch;
    sps->generation = ++dec->spsGeneration;
    sps->valid = 1;
    return 0;
}

/* ---- PPS ---- */

/* pic_parameter_set_rbsp(), 7.3.2.3. */
static int32_t parsePpsBody(H265D_DEC_OBJ *dec, H265D_PPS *pps, H265D_BITREADER *br, uint32_t ch, H265D_LOG_FXN log)
{
    pps->pps_seq_parameter_set_id = readUeT(br, "pps_seq_parameter_set_id");
    if (pps->pps_seq_parameter_set_id > 15) {
        LOGE("H265D_Decode : the value of pps_seq_parameter_set_id is %d, it should be less than 16!\n",
             (int)pps->pps_seq_parameter_set_id);
        return -1;
    }
    const H265D_SPS *sps = &dec->spsStore[pps->pps_seq_parameter_set_id];
    if (!sps->valid) {
        LOGE("H265D_Decode : The ID of SPS that current PPS refered is %d, which is not exist!\n",
             (int)pps->pps_seq_parameter_set_id);
        return -1;
    }
    pps->dependent_slice_segments_enabled_flag = readBitT(br, "dependent_slice_segments_enabled_flag");
    pps->output_flag_present_flag = readBitT(br, "output_flag_present_flag");
    pps->num_extra_slice_header_bits = readBitsT(br, 3, "num_extra_slice_header_bits");
    pps->sign_data_hiding_enabled_flag = readBitT(br, "sign_data_hiding_enabled_flag");
    pps->cabac_init_present_flag = readBitT(br, "cabac_init_present_flag");
    uint32_t l0 = readUeT(br, "num_ref_idx_l0_default_active_minus1");
    if (l0 > 14) {
        LOGE("H265D_Decode : the value of num_ref_idx_l0_default_active_minus1 is %d, it should be less than 15!\n",
             (int)l0);
        return -1;
    }
    uint32_t l1 = readUeT(br, "num_ref_idx_l1_default_active_minus1");
    if (l1 > 14) {
        LOGE("H265D_Decode : the value of num_ref_idx_l1_default_active_minus1 is %d, it should be less than 15!\n",
             (int)l1);
        return -1;
    }
    pps->num_ref_idx_l0_default_active = l0 + 1;
    pps->num_ref_idx_l1_default_active = l1 + 1;
    pps->init_qp_minus26 = readSeT(br, "init_qp_minus26");
    if (pps->init_qp_minus26 < -26 || pps->init_qp_minus26 > 25) {
        LOGE("H265D_Decode : the value of init_qp_minus26 is %d, it should be in the range of -26 to 25!\n",
             pps->init_qp_minus26);
        return -1;
    }
    pps->constrained_intra_pred_flag = readBitT(br, "constrained_intra_pred_flag");
    pps->transform_skip_enabled_flag = readBitT(br, "transform_skip_enabled_flag");
    pps->cu_qp_delta_enabled_flag = readBitT(br, "cu_qp_delta_enabled_flag");
    if (pps->cu_qp_delta_enabled_flag) {
        pps->diff_cu_qp_delta_depth = readUeT(br, "diff_cu_qp_delta_depth");
        if (pps->diff_cu_qp_delta_depth > sps->log2_diff_max_min_luma_coding_block_size) {
            LOGE("H265D_Decode : the value of diff_cu_qp_delta_depth is %d, it should be in the range of 0 to %d!\n",
                 (int)pps->diff_cu_qp_delta_depth, (int)sps->log2_diff_max_min_luma_coding_block_size);
            return -1;
        }
    }
    pps->pps_cb_qp_offset = readSeT(br, "pps_cb_qp_offset");
    if (pps->pps_cb_qp_offset < -12 || pps->pps_cb_qp_offset > 12) {
        LOGE("H265D_Decode : the value of pps_cb_qp_offset is %d, it should be in the range of -12 to 12!\n",
             pps->pps_cb_qp_offset);
        return -1;
    }
    pps->pps_cr_qp_offset = readSeT(br, "pps_cr_qp_offset");
    if (pps->pps_cr_qp_offset < -12 || pps->pps_cr_qp_offset > 12) {
        LOGE("H265D_Decode : the value of pps_cr_qp_offset is %d, it should be in the range of -12 to 12!\n",
             pps->pps_cr_qp_offset);
        return -1;
    }
    pps->pps_slice_chroma_qp_offsets_present_flag = readBitT(br, "pps_slice_chroma_qp_offsets_present_flag");
    pps->weighted_pred_flag = readBitT(br, "weighted_pred_flag");
    pps->weighted_bipred_flag = readBitT(br, "weighted_bipred_flag");
    pps->transquant_bypass_enabled_flag = readBitT(br, "transquant_bypass_enabled_flag");
    pps->tiles_enabled_flag = readBitT(br, "tiles_enabled_flag");
    pps->entropy_coding_sync_enabled_flag = readBitT(br, "entropy_coding_sync_enabled_flag");
    pps->num_tile_columns = 1;
    pps->num_tile_rows = 1;
    pps->uniform_spacing_flag = 1;
    pps->loop_filter_across_tiles_enabled_flag = 1;
    if (pps->tiles_enabled_flag && pps->entropy_coding_sync_enabled_flag) {
        LOGE("H265D_Decode : tile and wpp can not be both open!\n");
        return -1;
    }
    if (pps->tiles_enabled_flag) {
        const uint32_t wc = sps->PicWidthInCtbsY, hc = sps->PicHeightInCtbsY, ctb = sps->CtbSizeY;
        pps->num_tile_columns = readUeT(br, "num_tile_columns_minus1") + 1u;
        if (pps->num_tile_columns == 0 || pps->num_tile_columns > wc || pps->num_tile_columns > H265D_MAX_TILE_COLS) {
            LOGE("H265D_Decode : the value of num_tile_columns is %d,it should not be bigger than iPicWidthInCtbsY!\n",
                 (int)pps->num_tile_columns);
            return -1;
        }
        pps->num_tile_rows = readUeT(br, "num_tile_rows_minus1") + 1u;
        if (pps->num_tile_rows == 0 || pps->num_tile_rows > hc || pps->num_tile_rows > H265D_MAX_TILE_ROWS) {
            LOGE("H265D_Decode : the value of num_tile_rows is %d,it should not be bigger than iPicHeightInCtbsY!\n",
                 (int)pps->num_tile_rows);
            return -1;
        }
        if (pps->num_tile_columns == 1 && pps->num_tile_rows == 1) {
            LOGE("H265D_Decode : num_tile_columns and num_tile_rows should not be both equal to 1!\n");
            return -1;
        }
        pps->uniform_spacing_flag = readBitT(br, "uniform_spacing_flag");
        const uint32_t nc = pps->num_tile_columns, nr = pps->num_tile_rows;
        if (!pps->uniform_spacing_flag) {
            /* Running sums, so that huge widths cannot wrap round. */
            uint64_t sum = 0;
            for (uint32_t i = 0; i + 1 < nc; i++) {
                pps->column_width[i] = readUeT(br, "column_width_minus1[%u]", i) + 1u;
                sum += pps->column_width[i] == 0 ? 0x100000000ull : pps->column_width[i];
                if (sum >= wc) {
                    LOGE("H265D_Decode : column_width[%d] of tile is %d, it should be bigger than 0!\n", (int)(nc - 1),
                         (int)(((int64_t)wc - (int64_t)(sum > wc + 1 ? wc + 1 : sum)) * ctb));
                    return -1;
                }
            }
            pps->column_width[nc - 1] = wc - (uint32_t)sum;
            sum = 0;
            for (uint32_t j = 0; j + 1 < nr; j++) {
                pps->row_height[j] = readUeT(br, "row_height_minus1[%u]", j) + 1u;
                sum += pps->row_height[j] == 0 ? 0x100000000ull : pps->row_height[j];
                if (sum >= hc) {
                    LOGE("H265D_Decode : row_height[%d] of tile is %d, it should be bigger than 0!\n", (int)(nr - 1),
                         (int)(((int64_t)hc - (int64_t)(sum > hc + 1 ? hc + 1 : sum)) * ctb));
                    return -1;
                }
            }
            pps->row_height[nr - 1] = hc - (uint32_t)sum;
        } else {
            for (uint32_t i = 0; i < nc; i++)
                pps->column_width[i] = ((i + 1) * wc) / nc - (i * wc) / nc;
            for (uint32_t j = 0; j < nr; j++)
                pps->row_height[j] = ((j + 1) * hc) / nr - (j * hc) / nr;
        }
        for (uint32_t i = 0; i < nc; i++)
            if (pps->column_width[i] * ctb < 256)
                LOGW("H265D_Decode : column_width[%d] of tile is %d, it should be bigger than 256!\n", (int)i,
                     (int)(pps->column_width[i] * ctb));
        for (uint32_t j = 0; j < nr; j++)
            if (pps->row_height[j] * ctb < 64)
                LOGW("H265D_Decode : row_height[%d] of tile is %d, it should be bigger than 64!\n", (int)j,
                     (int)(pps->row_height[j] * ctb));
        pps->loop_filter_across_tiles_enabled_flag = readBitT(br, "loop_filter_across_tiles_enabled_flag");
    }
    pps->pps_loop_filter_across_slices_enabled_flag = readBitT(br, "pps_loop_filter_across_slices_enabled_flag");
    pps->deblocking_filter_control_present_flag = readBitT(br, "deblocking_filter_control_present_flag");
    if (pps->deblocking_filter_control_present_flag) {
        pps->deblocking_filter_override_enabled_flag = readBitT(br, "deblocking_filter_override_enabled_flag");
        pps->pps_deblocking_filter_disabled_flag = readBitT(br, "pps_deblocking_filter_disabled_flag");
        if (!pps->pps_deblocking_filter_disabled_flag) {
            int64_t beta = 2 * (int64_t)readSeT(br, "pps_beta_offset_div2");
            if (beta < -12 || beta > 12) {
                LOGE("H265D_Decode : the value of pps_beta_offset is %d,it should be in the range of -12~12!\n",
                     (int)beta);
                return -1;
            }
            int64_t tc = 2 * (int64_t)readSeT(br, "pps_tc_offset_div2");
            if (tc < -12 || tc > 12) {
                LOGE("H265D_Decode : the value of pps_tc_offset is %d,it should be in the range of -12~12!\n", (int)tc);
                return -1;
            }
            pps->pps_beta_offset = (int32_t)beta;
            pps->pps_tc_offset = (int32_t)tc;
        }
    }
    pps->pps_scaling_list_data_present_flag = readBitT(br, "pps_scaling_list_data_present_flag");
    if (pps->pps_scaling_list_data_present_flag) {
        if (!sps->scaling_list_enabled_flag) {
            LOGE("H265D_Decode : the value of pps_scaling_list_data_present_flag is %d,it should be equal to 0 when "
                 "scaling_list_enabled_flag is equal to 0!\n",
                 1);
            return -1;
        }
        setDefaultScalingLists(&pps->scaling_list);
        if (parseScalingList(&pps->scaling_list, br, ch, log))
            return -1;
    }
    pps->lists_modification_present_flag = readBitT(br, "lists_modification_present_flag");
    pps->log2_parallel_merge_level = readUeT(br, "log2_parallel_merge_level_minus2") + 2u;
    if (pps->log2_parallel_merge_level > sps->CtbLog2SizeY || pps->log2_parallel_merge_level < 2) {
        LOGE("H265D_Decode : the value of log2_parallel_merge_level is %d,it should not be bigger than CtbLog2SizeY!\n",
             (int)pps->log2_parallel_merge_level);
        return -1;
    }
    pps->slice_segment_header_extension_present_flag = readBitT(br, "slice_segment_header_extension_present_flag");
    if (pps->slice_segment_header_extension_present_flag)
        LOGW(
            "H265D_Decode : The value of slice_segment_header_extension_present_flag is %d, it should be equal to 0!\n",
            1);
    pps->pps_extension_present_flag = readBitT(br, "pps_extension_present_flag");
    /* Extension data is skipped to the end of the payload. */
    if (truncated(br, "picture parameter set", ch, log))
        return -1;
    /* The tables are sized for the create limits: an SPS larger than those is
     * refused at its first picture, and the tables wait until then. */
    if (sps->pic_width_in_luma_samples <= dec->w64 && sps->pic_height_in_luma_samples <= dec->h64)
        derivePpsTables(pps, sps);
    return 0;
}

int32_t parsePps(H265D_DEC_OBJ *dec, H265D_BITREADER *br, uint32_t ch, H265D_LOG_FXN log)
{
    uint32_t id = readUeT(br, "pps_pic_parameter_set_id");
    if (id > 63) {
        LOGE("H265D_Decode : the value of pps_pic_parameter_set_id is %d, it should be less than 64 !\n", (int)id);
        return H265D_ERR_PPS;
    }
    H265D_PPS *pps = &dec->ppsStore[id];
    /* Keep the slot's table memory across the reset. */
    int32_t *colBd = pps->colBd, *rowBd = pps->rowBd, *rsToTs = pps->ctbAddrRsToTs, *tsToRs = pps->ctbAddrTsToRs,
            *tileId = pps->tileId;
    uint16_t *dq = pps->dequant;
    memset(pps, 0, sizeof *pps);
    pps->colBd = colBd;
    pps->rowBd = rowBd;
    pps->ctbAddrRsToTs = rsToTs;
    pps->ctbAddrTsToRs = tsToRs;
    pps->tileId = tileId;
    pps->dequant = dq;
    pps->pps_pic_parameter_set_id = id;
    if (parsePpsBody(dec, pps, br, ch, log)) {
        pps->valid = 0;
        pps->tablesSpsGeneration = 0;
        return H265D_ERR_PPS;
    }
    pps->valid = 1;
    return 0;
}

/* ---- SEI ---- */

/* sei_rbsp(), 7.3.2.4, and sei_message(), 7.3.5. */
void parseSei(H265D_DEC_OBJ *dec, H265D_BITREADER *br, uint32_t ch, H265D_LOG_FXN log)
{
    H265D_USER_DATA *ud = dec->userData;
    do {
        uint32_t type = 0, size = 0, b;
        while ((b = readBits(br, 8)) == 0xFF && bitsLeft(br) > 0)
            type += 255;
        type += b;
        traceValue(br, b, "last_payload_type_byte");
        while ((b = readBits(br, 8)) == 0xFF && bitsLeft(br) > 0)
            size += 255;
        size += b;
        traceValue(br, b, "last_payload_size_byte");
        if (br->overrun)
            return;
        /* A size running past the payload is cut to what is there. */
        const uint32_t avail = (uint32_t)(bitsLeft(br) / 8);
        if (size > avail)
            size = avail;
        if (size <= H265D_USER_DATA_SIZE) {
            ud->length = (int32_t)size;
        } else {
            LOGW("H265D_Decode : Lens of user data is bigger than MAX user data lens!\n");
        }
        if (type == 240 && size <= H265D_USER_DATA_SIZE) {
            for (uint32_t i = 0; i < size; i++)
                ud->data[i] = (uint8_t)readBits(br, 8);
        } else {
            for (uint32_t i = 0; i < size; i++)
                skipBits(br, 8);
        }
        /* Payload extension bits of a message end at a byte boundary. */
        while (!byteAligned(br) && bitsLeft(br) > 0)
            skipBits(br, 1);
    } while (moreRbspData(br));
}

} // namespace h265d
