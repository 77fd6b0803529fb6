/* Slice segment header: syntax, checks, and the picture start it triggers. */
#include "slicehdr.h"

#include <string.h>

#include "decoder.h"
#include "nal.h"

namespace h265d {

#define LOGE(...) H265D_LOG(dec, H265D_LOG_ERROR, __VA_ARGS__)
#define LOGW(...) H265D_LOG(dec, H265D_LOG_WARNING, __VA_ARGS__)

uint32_t ceilLog2(uint32_t n)
{
    if (n <= 1)
        return 0;
    return 32u - (uint32_t)__builtin_clz(n - 1);
}

/* pred_weight_table(), 7.3.6.3. */
int32_t parsePredWeightTable(H265D_DEC_OBJ *dec, H265D_BITREADER *br, H265D_SLICE_HEADER *sh, uint32_t ch,
                             H265D_LOG_FXN log)
{
    (void)ch;
    (void)log;
    H265D_PRED_WEIGHT *w = &sh->pwt;
    memset(w, 0, sizeof *w);
    w->luma_log2_weight_denom = readUeT(br, "luma_log2_weight_denom");
    if (w->luma_log2_weight_denom > 7) {
        LOGE("H265D_Decode : the value of luma_log2_weight_denom is %d, it should be in the range of 0~7!\n",
             (int)w->luma_log2_weight_denom);
        return -1;
    }
    const int32_t dd = readSeT(br, "delta_chroma_log2_weight_denom");
    const int64_t cd = (int64_t)w->luma_log2_weight_denom + dd;
    if (dd == H265D_SE_ERROR || cd < 0 || cd > 7) {
        LOGE("H265D_Decode : the value of chroma_log2_weight_denom is %d, it should be in the range of 0~7!\n",
             (int)cd);
        return -1;
    }
    w->ChromaLog2WeightDenom = (uint32_t)cd;
    const int lists = sh->slice_type == 0 ? 2 : 1;
    for (int l = 0; l < lists; l++) {
        const uint32_t n = l == 0 ? sh->num_ref_idx_l0_active : sh->num_ref_idx_l1_active;
        for (uint32_t i = 0; i < n; i++)
            w->luma_weight_flag[l][i] = (uint8_t)readBitT(br, "luma_weight_l%d_flag[%u]", l, i);
        for (uint32_t i = 0; i < n; i++)
            w->chroma_weight_flag[l][i] = (uint8_t)readBitT(br, "chroma_weight_l%d_flag[%u]", l, i);
        for (uint32_t i = 0; i < n; i++) {
            w->LumaWeight[l][i] = (int16_t)(1 << w->luma_log2_weight_denom);
            w->luma_offset[l][i] = 0;
            if (w->luma_weight_flag[l][i]) {
                int32_t dw = readSeT(br, "delta_luma_weight_l%d[%u]", l, i);
                if (dw < -128 || dw > 127) {
                    if (l == 0)
                        LOGE("H265D_Decode : the value of delta_luma_weight_l0 is %d, when luma_weight_l0_flag is 1, "
                             "delta_luma_weight_l0 should be in the range of -128~127!\n",
                             dw);
                    else
                        LOGE("H265D_Decode : the value of delta_luma_weight_l1 is %d, when luma_weight_l1_flag is 1, "
                             "delta_luma_weight_l1 should be in the range of -128~127!\n",
                             dw);
                    return -1;
                }
                int32_t off = readSeT(br, "luma_offset_l%d[%u]", l, i);
                if (off < -128 || off > 127) {
                    if (l == 0)
                        LOGE("H265D_Decode : the value of asLumaOffsetL0 is %d, when luma_weight_l0_flag is 1, "
                             "asLumaOffsetL0 should be in the range of -128~127!\n",
                             off);
                    else
                        LOGE("H265D_Decode : the value of asLumaOffsetL1 is %d, when luma_weight_l1_flag is 1, "
                             "asLumaOffsetL1 should be in the range of -128~127!\n",
                             off);
                    return -1;
                }
                w->LumaWeight[l][i] = (int16_t)((1 << w->luma_log2_weight_denom) + dw);
                w->luma_offset[l][i] = (int16_t)off;
            }
            for (int j = 0; j < 2; j++) {
                w->ChromaWeight[l][i][j] = (int16_t)(1 << w->ChromaLog2WeightDenom);
                w->ChromaOffset[l][i][j] = 0;
            }
            if (w->chroma_weight_flag[l][i]) {
                for (int j = 0; j < 2; j++) {
                    int32_t dw = readSeT(br, "delta_chroma_weight_l%d[%u][%d]", l, i, j);
                    if (dw < -128 || dw > 127) {
                        if (l == 0)
                            LOGE("H265D_Decode : the value of delta_chroma_weight_l0 is %d, when chroma_weight_l0_flag "
                                 "is 1, delta_chroma_weight_l0 should be in the range of -128~127!\n",
                                 dw);
                        else
                            LOGE("H265D_Decode : the value of delta_chroma_weight_l1 is %d, when chroma_weight_l0_flag "
                                 "is 1, delta_chroma_weight_l1 should be in the range of -128~127!\n",
                                 dw);
                        return -1;
                    }
                    int32_t doff = readSeT(br, "chroma_offset_l%d[%u][%d]", l, i, j);
                    if (doff < -512 || doff > 511) {
                        if (l == 0)
                            LOGE("H265D_Decode : the value of delta_chroma_offset_l0 is %d, delta_chroma_offset_l0 "
                                 "should be in the range of -512~511!\n",
                                 doff);
                        else
                            LOGE("H265D_Decode : the value of delta_chroma_offset_l1 is %d, delta_chroma_offset_l1 "
                                 "should be in the range of -512~511!\n",
                                 doff);
                        return -1;
                    }
                    const int32_t cw = (1 << w->ChromaLog2WeightDenom) + dw;
                    int32_t co = doff - ((128 * cw) >> w->ChromaLog2WeightDenom) + 128;
                    co = co < -128 ? -128 : (co > 127 ? 127 : co);
                    w->ChromaWeight[l][i][j] = (int16_t)cw;
                    w->ChromaOffset[l][i][j] = (int16_t)co;
                }
            }
        }
    }
    return 0;
}

/* Size check, geometry and the active PPS's tables for a new picture. */
static int32_t startPicture(H265D_DEC_OBJ *dec)
{
    int32_t r = derivePictureGeometry(dec, &dec->geo);
    if (r)
        return r;
    activatePpsTables(dec);
    return 0;
}

/* slice_segment_header(), 7.3.6.1. */
int32_t parseSliceHeaderMode(H265D_DEC_OBJ *dec, H265D_BITREADER *br, H265D_SLICE_HEADER *sh, int32_t nalUnitType,
                             int32_t temporalId, int mode)
{
    (void)mode; /* every form applies every check */
    const int irap = isIrap(nalUnitType);
    H265D_DPB *dpb = &dec->dpb;

    /* first_slice_segment_in_pic_flag */
    sh->first_slice_segment_in_pic_flag = readBitT(br, "first_slice_segment_in_pic_flag");
    const int first = (int)sh->first_slice_segment_in_pic_flag;
    if (first) {
        dec->firstSliceAccepted = 0;
        dec->picErrorFlag = 0;
    } else if (dec->firstSliceAccepted && temporalId != dec->firstSliceTemporalId) {
        LOGE(
            "H265D_Decode : the value of nuh_temporal_id is %d, it is not equal to firstSliceSegment nuh_temporal_id!\n",
            temporalId);
        return H265D_ERR_SLICE_HEADER;
    }
    /* no_output_of_prior_pics_flag */
    if (irap)
        sh->no_output_of_prior_pics_flag = readBitT(br, "no_output_of_prior_pics_flag");
    else
        sh->no_output_of_prior_pics_flag = 0;
    sh->slice_pic_parameter_set_id = readUeT(br, "slice_pic_parameter_set_id");
    if (sh->slice_pic_parameter_set_id > 63) {
        LOGE("H265D_Decode : the value of slice_pic_parameter_set_id is %d, it should be in the range of 0~63!\n",
             (int)sh->slice_pic_parameter_set_id);
        return H265D_ERR_SLICE_HEADER;
    }
    /* slice_pic_parameter_set_id and the sets it activates */
    H265D_PPS *pps = &dec->ppsStore[sh->slice_pic_parameter_set_id];
    if (!pps->valid) {
        LOGE("H265D_Decode : The ID of PPS that current SliceHeader refered is %d, which is not exist!\n",
             (int)sh->slice_pic_parameter_set_id);
        return H265D_ERR_SLICE_HEADER;
    }
    H265D_SPS *sps = &dec->spsStore[pps->pps_seq_parameter_set_id];
    if (!sps->valid) {
        LOGE("H265D_Decode : The ID of SPS that current Slice refered is %d, which is not exist!\n",
             (int)pps->pps_seq_parameter_set_id);
        return H265D_ERR_SLICE_HEADER;
    }
    H265D_VPS *vps = &dec->vpsStore[sps->sps_video_parameter_set_id];
    if (!vps->valid) {
        LOGE("H265D_Decode : The ID of VPS that current Slice refered is %d, which is not exist!\n",
             (int)sps->sps_video_parameter_set_id);
        return H265D_ERR_SLICE_HEADER;
    }
    dec->pps = pps;
    dec->sps = sps;
    dec->vps = vps;
    dec->highestTid = (int32_t)sps->sps_max_sub_layers_minus1;
    /* A picture is checked against the create limits before anything of it
     * is stored, so an oversized stream never takes a slot. */
    if (first) {
        int32_t r = startPicture(dec);
        if (r)
            return r;
    }
    /* dependent_slice_segment_flag, slice_segment_address */
    if (!first) {
        sh->dependent_slice_segment_flag = 0;
        if (pps->dependent_slice_segments_enabled_flag)
            sh->dependent_slice_segment_flag = readBitT(br, "dependent_slice_segment_flag");
        sh->slice_segment_address = readBitsT(br, (int)ceilLog2(sps->PicSizeInCtbsY), "slice_segment_address");
        if (sh->slice_segment_address >= sps->PicSizeInCtbsY) {
            LOGE("H265D_Decode : the value of slice_segment_address is %d, it should be less than PicSizeInCtbsY,whose "
                 "value is %d !\n",
                 (int)sh->slice_segment_address, (int)sps->PicSizeInCtbsY);
            return H265D_ERR_SLICE_HEADER;
        }
    } else {
        sh->dependent_slice_segment_flag = 0;
        sh->slice_segment_address = 0;
    }
    /* an independent segment: its address and the checks of its picture */
    if (!sh->dependent_slice_segment_flag) {
        dec->lastIndependentAddress = sh->slice_segment_address;
        dec->independentSliceAccepted = 0;
    } else if (!dec->independentSliceAccepted) {
        LOGE("H265D_Decode : the independent slice segment header is invalid !\n");
        return H265D_ERR_SLICE_HEADER;
    }

    if (!sh->dependent_slice_segment_flag) {
        /* slice_reserved_flag[], slice_type */
        const int32_t tidIdx = temporalId > (int32_t)sps->sps_max_sub_layers_minus1
                                   ? (int32_t)sps->sps_max_sub_layers_minus1
                                   : (temporalId < 0 ? 0 : temporalId);
        sh->pic_output_flag = 1;
        sh->num_long_term_sps = 0;
        sh->num_long_term_pics = 0;
        sh->num_ref_idx_l0_active = pps->num_ref_idx_l0_default_active;
        sh->num_ref_idx_l1_active = pps->num_ref_idx_l1_default_active;
        sh->ref_pic_list_modification_flag_l0 = 0;
        sh->ref_pic_list_modification_flag_l1 = 0;
        sh->slice_deblocking_filter_disabled_flag = pps->pps_deblocking_filter_disabled_flag;
        sh->slice_beta_offset = pps->pps_beta_offset;
        sh->slice_tc_offset = pps->pps_tc_offset;
        sh->slice_loop_filter_across_slices_enabled_flag = pps->pps_loop_filter_across_slices_enabled_flag;
        sh->num_entry_point_offsets = 0;
        sh->slice_temporal_mvp_enabled_flag = 0;
        sh->slice_sao_luma_flag = 0;
        sh->slice_sao_chroma_flag = 0;
        sh->mvd_l1_zero_flag = 0;
        sh->cabac_init_flag = 0;
        sh->collocated_from_l0_flag = 1;
        sh->collocated_ref_idx = 0;
        sh->slice_cb_qp_offset = 0;
        sh->slice_cr_qp_offset = 0;
        sh->deblocking_filter_override_flag = 0;
        sh->slice_pic_order_cnt_lsb = 0;
        sh->short_term_ref_pic_set_sps_flag = 0;
        sh->short_term_ref_pic_set_idx = 0;
        sh->curRps = nullptr;
        sh->NumPicTotalCurr = 0;
        memset(&sh->refInfo, 0, sizeof sh->refInfo);
        memset(sh->refList, 0, sizeof sh->refList);
        for (uint32_t i = 0; i < pps->num_extra_slice_header_bits; i++)
            readBitT(br, "slice_reserved_flag[%u]", i);
        sh->slice_type = readUeT(br, "slice_type");
        if (sh->slice_type > 2) {
            LOGE("H265D_Decode : the value of slice_type is %d, it should be in the range of 0~2!\n",
                 (int)sh->slice_type);
            return H265D_ERR_SLICE_HEADER;
        }
        if ((irap || sps->sps_max_dec_pic_buffering[tidIdx] == 1) && sh->slice_type != 2) {
            LOGE("H265D_Decode : the value of slice_type is %d, it should be equal to 2!\n", (int)sh->slice_type);
            return H265D_ERR_SLICE_HEADER;
        }
        /* pic_output_flag, colour_plane_id */
        if (pps->output_flag_present_flag)
            sh->pic_output_flag = readBitT(br, "pic_output_flag");
        if (sps->separate_colour_plane_flag) {
            sh->colour_plane_id = readBitsT(br, 2, "colour_plane_id");
            if (sh->colour_plane_id >= 3) {
                LOGE("H265D_Decode : the value of colour_plane_id is %d, it should be less than 3!\n",
                     (int)sh->colour_plane_id);
                return H265D_ERR_SLICE_HEADER;
            }
        }
        /* slice_pic_order_cnt_lsb and the picture order count */
        const int idr = isIdr(nalUnitType);
        if (!first && !dec->firstSliceAccepted) {
            LOGE("H265D_Decode : the first slice segment in pic is not valid, can't get the poc!\n");
            return H265D_ERR_SLICE_HEADER;
        }
        dpb->missingRef = 0;
        if (idr) {
            decodePoc(dec, sh, nalUnitType, temporalId);
        } else {
            sh->slice_pic_order_cnt_lsb =
                readBitsT(br, (int)sps->log2_max_pic_order_cnt_lsb, "slice_pic_order_cnt_lsb");
            decodePoc(dec, sh, nalUnitType, temporalId);
            /* short_term_ref_pic_set_sps_flag, st_ref_pic_set(num_short_term_ref_pic_sets) or its index */
            sh->short_term_ref_pic_set_sps_flag = readBitT(br, "short_term_ref_pic_set_sps_flag");
            if (sps->num_short_term_ref_pic_sets == 0 && sh->short_term_ref_pic_set_sps_flag) {
                LOGE("H265D_Decode : the value of colour_plane_id is %d, it should be equal to 0 when "
                     "num_short_term_ref_pic_sets is equal to 0!\n",
                     (int)sh->short_term_ref_pic_set_sps_flag);
                return H265D_ERR_SLICE_HEADER;
            }
            if (!sh->short_term_ref_pic_set_sps_flag) {
                if (parseShortTermRps(sps, br, sps->num_short_term_ref_pic_sets, sps->num_short_term_ref_pic_sets,
                                      sps->st_rps, &sh->st_rps, dec->uiChannelID, dec->LogFxn))
                    return H265D_ERR_SLICE_HEADER;
                sh->curRps = &sh->st_rps;
            } else {
                if (sps->num_short_term_ref_pic_sets > 1)
                    sh->short_term_ref_pic_set_idx =
                        readBitsT(br, (int)ceilLog2(sps->num_short_term_ref_pic_sets), "short_term_ref_pic_set_idx");
                if (sh->short_term_ref_pic_set_idx >= sps->num_short_term_ref_pic_sets) {
                    LOGE("H265D_Decode : the value of short_term_ref_pic_set_idx is %d, it should be less than "
                         "num_short_term_ref_pic_sets!\n",
                         (int)sh->short_term_ref_pic_set_idx);
                    return H265D_ERR_SLICE_HEADER;
                }
                sh->curRps = &sps->st_rps[sh->short_term_ref_pic_set_idx];
            }
            /* long-term pictures (num_long_term_sps ... delta_poc_msb_cycle_lt), slice_temporal_mvp_enabled_flag */
            if (sps->long_term_ref_pics_present_flag) {
                const uint32_t maxDecMinus1 = sps->sps_max_dec_pic_buffering[sps->sps_max_sub_layers_minus1] - 1;
                if (sps->num_long_term_ref_pics_sps > 0) {
                    sh->num_long_term_sps = readUeT(br, "num_long_term_sps");
                    if (sh->num_long_term_sps > sps->num_long_term_ref_pics_sps) {
                        LOGE("H265D_Decode : the value of num_long_term_sps is %d, it should be in the range of "
                             "0~num_long_term_ref_pics_sps!\n",
                             (int)sh->num_long_term_sps);
                        return H265D_ERR_SLICE_HEADER;
                    }
                }
                sh->num_long_term_pics = readUeT(br, "num_long_term_pics");
                if (sh->num_long_term_pics > maxDecMinus1) {
                    LOGE("H265D_Decode : the value of num_long_term_pics is %d, it should not be bigger than "
                         "sps_max_dec_pic_buffering_minus1[sps_max_sub_layers_minus1]!\n",
                         (int)sh->num_long_term_pics);
                    return H265D_ERR_SLICE_HEADER;
                }
                /* Applies to every form of the parser: the lists hold 34 entries. */
                const uint32_t total = sh->num_long_term_sps + sh->num_long_term_pics;
                if (total > maxDecMinus1) {
                    LOGE("H265D_Decode : the value of uiNumLtRps is %d, it should not be bigger than "
                         "sps_max_dec_pic_buffering_minus1[sps_max_sub_layers_minus1]!\n",
                         (int)total);
                    return H265D_ERR_SLICE_HEADER;
                }
                for (uint32_t i = 0; i < total; i++) {
                    if (i < sh->num_long_term_sps) {
                        sh->lt_idx_sps[i] = 0;
                        if (sps->num_long_term_ref_pics_sps > 1)
                            sh->lt_idx_sps[i] =
                                readBitsT(br, (int)ceilLog2(sps->num_long_term_ref_pics_sps), "lt_idx_sps[%u]", i);
                        if (sh->lt_idx_sps[i] > sps->num_long_term_ref_pics_sps - 1) {
                            LOGE("H265D_Decode : the value of lt_idx_sps is %d, it should be in the range of "
                                 "0~num_long_term_ref_pics_sps-1!\n",
                                 (int)sh->lt_idx_sps[i]);
                            return H265D_ERR_SLICE_HEADER;
                        }
                    } else {
                        sh->poc_lsb_lt[i] = readBitsT(br, (int)sps->log2_max_pic_order_cnt_lsb, "poc_lsb_lt[%u]", i);
                        sh->used_by_curr_pic_lt_flag[i] = (uint8_t)readBitT(br, "used_by_curr_pic_lt_flag[%u]", i);
                    }
                    sh->delta_poc_msb_present_flag[i] = (uint8_t)readBitT(br, "delta_poc_msb_present_flag[%u]", i);
                    sh->delta_poc_msb_cycle_lt[i] = 0;
                    if (sh->delta_poc_msb_present_flag[i]) {
                        sh->delta_poc_msb_cycle_lt[i] = readUeT(br, "delta_poc_msb_cycle_lt[%u]", i);
                        if (sh->delta_poc_msb_cycle_lt[i] == H265D_UE_ERROR) {
                            LOGE("H265D_Decode : the value of delta_poc_msb_cycle_lt is error!\n");
                            return H265D_ERR_SLICE_HEADER;
                        }
                    }
                }
                deriveLongTermPocs(dec, sh);
            }
            if (sps->sps_temporal_mvp_enabled_flag)
                sh->slice_temporal_mvp_enabled_flag = readBitT(br, "slice_temporal_mvp_enabled_flag");
        }
        deriveRps(dec, sh, &sh->refInfo);
        /* slice_sao_luma_flag, slice_sao_chroma_flag */
        if (sps->sample_adaptive_offset_enabled_flag) {
            sh->slice_sao_luma_flag = readBitT(br, "slice_sao_luma_flag");
            sh->slice_sao_chroma_flag = readBitT(br, "slice_sao_chroma_flag");
        }
        /* num_ref_idx_active_override_flag, ref_pic_lists_modification(), mvd_l1_zero_flag, cabac_init_flag, collocated_from_l0_flag, collocated_ref_idx, pred_weight_table(), five_minus_max_num_merge_cand */
        if (sh->slice_type != 2) {
            int32_t r = checkNumPocTotalCurr(dec, &sh->refInfo, nalUnitType, &sh->NumPicTotalCurr);
            if (r)
                return r;
            if (sh->NumPicTotalCurr < 1) {
                LOGE("H265D_Decode : the value of NumPocTotalCurr is %d, it should be greater than or equal to 1!\n",
                     sh->NumPicTotalCurr);
                return H265D_ERR_SLICE_HEADER;
            }
            sh->num_ref_idx_active_override_flag = readBitT(br, "num_ref_idx_active_override_flag");
            if (sh->num_ref_idx_active_override_flag) {
                sh->num_ref_idx_l0_active = readUeT(br, "num_ref_idx_l0_active_minus1") + 1u;
                if (sh->num_ref_idx_l0_active < 1 || sh->num_ref_idx_l0_active > 15) {
                    LOGE(
                        "H265D_Decode : the value of num_ref_idx_l0_active is %d, it should be in the range of 1~15!\n",
                        (int)sh->num_ref_idx_l0_active);
                    return H265D_ERR_SLICE_HEADER;
                }
                if (sh->slice_type == 0) {
                    sh->num_ref_idx_l1_active = readUeT(br, "num_ref_idx_l1_active_minus1") + 1u;
                    if (sh->num_ref_idx_l1_active < 1 || sh->num_ref_idx_l1_active > 15) {
                        LOGE("H265D_Decode : the value of num_ref_idx_l1_active is %d, it should be in the range of "
                             "1~15!\n",
                             (int)sh->num_ref_idx_l1_active);
                        return H265D_ERR_SLICE_HEADER;
                    }
                }
            }
            if (sh->slice_type != 0)
                sh->num_ref_idx_l1_active = 0;
            if (pps->lists_modification_present_flag && sh->NumPicTotalCurr > 1) {
                const int bits = (int)ceilLog2((uint32_t)sh->NumPicTotalCurr);
                sh->ref_pic_list_modification_flag_l0 = readBitT(br, "ref_pic_list_modification_flag_l0");
                if (sh->ref_pic_list_modification_flag_l0)
                    for (uint32_t i = 0; i < sh->num_ref_idx_l0_active; i++) {
                        sh->list_entry_l0[i] = readBitsT(br, bits, "list_entry_l0[%u]", i);
                        if (sh->list_entry_l0[i] > (uint32_t)sh->NumPicTotalCurr - 1) {
                            LOGE("H265D_Decode : the value of pstSliceHeader->list_entry_l0[i] is %d, it should be in "
                                 "the range of 0~iNumPocTotalCurr -1!\n",
                                 (int)sh->list_entry_l0[i]);
                            return H265D_ERR_SLICE_HEADER;
                        }
                    }
                if (sh->slice_type == 0) {
                    sh->ref_pic_list_modification_flag_l1 = readBitT(br, "ref_pic_list_modification_flag_l1");
                    if (sh->ref_pic_list_modification_flag_l1)
                        for (uint32_t i = 0; i < sh->num_ref_idx_l1_active; i++) {
                            sh->list_entry_l1[i] = readBitsT(br, bits, "list_entry_l1[%u]", i);
                            if (sh->list_entry_l1[i] > (uint32_t)sh->NumPicTotalCurr - 1) {
                                LOGE("H265D_Decode : the value of pstSliceHeader->list_entry_l1[i] is %d, it should be "
                                     "in the range of 0~iNumPocTotalCurr -1!\n",
                                     (int)sh->list_entry_l1[i]);
                                return H265D_ERR_SLICE_HEADER;
                            }
                        }
                }
            }
            r = buildRefPicLists(dec, sh);
            if (r)
                return r;
            if (dpb->missingRef && !(isRasl(nalUnitType) && dec->noRaslOutputFlag)) {
                LOGW("H265D_Decode : some of the refrence frames is not exist!\n");
                dec->picErrorFlag = 1;
            }
            if (sh->slice_type == 0)
                sh->mvd_l1_zero_flag = readBitT(br, "mvd_l1_zero_flag");
            if (pps->cabac_init_present_flag)
                sh->cabac_init_flag = readBitT(br, "cabac_init_flag");
            if (sh->slice_temporal_mvp_enabled_flag) {
                if (sh->slice_type == 0)
                    sh->collocated_from_l0_flag = readBitT(br, "collocated_from_l0_flag");
                const uint32_t active =
                    sh->collocated_from_l0_flag ? sh->num_ref_idx_l0_active : sh->num_ref_idx_l1_active;
                if (active > 1) {
                    sh->collocated_ref_idx = readUeT(br, "collocated_ref_idx");
                    if (sh->collocated_ref_idx > 14) {
                        LOGE(
                            "H265D_Decode : the value of collocated_ref_idx is %d, it should be in the range of 0~14!\n",
                            (int)sh->collocated_ref_idx);
                        return H265D_ERR_SLICE_HEADER;
                    }
                    if (sh->collocated_ref_idx >= active) {
                        LOGE(
                            "H265D_Decode : the value of collocated_ref_idx is %d, it should be less than the number of "
                            "active reference pictures %d!\n",
                            (int)sh->collocated_ref_idx, (int)active);
                        return H265D_ERR_SLICE_HEADER;
                    }
                }
            }
            if ((pps->weighted_pred_flag && sh->slice_type == 1) || (pps->weighted_bipred_flag && sh->slice_type == 0))
                if (parsePredWeightTable(dec, br, sh, dec->uiChannelID, dec->LogFxn))
                    return H265D_ERR_SLICE_HEADER;
            const uint32_t five = readUeT(br, "five_minus_max_num_merge_cand");
            if (five > 4) {
                LOGE("H265D_Decode : the value of max_num_merge_cand is %d, it should be in the range of 1~5!\n",
                     (int)(5 - (int64_t)five));
                return H265D_ERR_SLICE_HEADER;
            }
            sh->MaxNumMergeCand = 5 - five;
        }
        /* slice_qp_delta, slice_cb/cr_qp_offset, deblocking_filter_override_flag and the filter controls, slice_loop_filter_across_slices_enabled_flag */
        sh->slice_qp_delta = readSeT(br, "slice_qp_delta");
        const int64_t qp = 26 + (int64_t)pps->init_qp_minus26 + sh->slice_qp_delta;
        if (sh->slice_qp_delta == H265D_SE_ERROR || qp < 0 || qp > 51) {
            LOGE("H265D_Decode : the value of SliceQpY is %d, it should be in the range of 0~51!\n",
                 sh->slice_qp_delta == H265D_SE_ERROR ? -1 : (int)qp);
            return H265D_ERR_SLICE_HEADER;
        }
        if (pps->pps_slice_chroma_qp_offsets_present_flag) {
            sh->slice_cb_qp_offset = readSeT(br, "slice_cb_qp_offset");
            if (sh->slice_cb_qp_offset < -12 || sh->slice_cb_qp_offset > 12) {
                LOGE("H265D_Decode : the value of slice_cb_qp_offset is %d, it should be in the range of -12~12!\n",
                     sh->slice_cb_qp_offset);
                return H265D_ERR_SLICE_HEADER;
            }
            sh->slice_cr_qp_offset = readSeT(br, "slice_cr_qp_offset");
            if (sh->slice_cr_qp_offset < -12 || sh->slice_cr_qp_offset > 12) {
                LOGE("H265D_Decode : the value of slice_cr_qp_offset is %d, it should be in the range of -12~12!\n",
                     sh->slice_cr_qp_offset);
                return H265D_ERR_SLICE_HEADER;
            }
        }
        if (pps->deblocking_filter_override_enabled_flag)
            sh->deblocking_filter_override_flag = readBitT(br, "deblocking_filter_override_flag");
        if (sh->deblocking_filter_override_flag) {
            sh->slice_deblocking_filter_disabled_flag = readBitT(br, "slice_deblocking_filter_disabled_flag");
            if (!sh->slice_deblocking_filter_disabled_flag) {
                const int64_t beta = 2 * (int64_t)readSeT(br, "slice_beta_offset_div2");
                if (beta < -12 || beta > 12) {
                    LOGE("H265D_Decode : the value of slice_beta_offset is %d, it should be in the range of -12~12!\n",
                         (int)beta);
                    return H265D_ERR_SLICE_HEADER;
                }
                const int64_t tc = 2 * (int64_t)readSeT(br, "slice_tc_offset_div2");
                if (tc < -12 || tc > 12) {
                    LOGE("H265D_Decode : the value of slice_tc_offset is %d, it should be in the range of -12~12!\n",
                         (int)tc);
                    return H265D_ERR_SLICE_HEADER;
                }
                sh->slice_beta_offset = (int32_t)beta;
                sh->slice_tc_offset = (int32_t)tc;
            }
        }
        if (pps->pps_loop_filter_across_slices_enabled_flag &&
            (sh->slice_sao_luma_flag || sh->slice_sao_chroma_flag || !sh->slice_deblocking_filter_disabled_flag))
            sh->slice_loop_filter_across_slices_enabled_flag =
                readBitT(br, "slice_loop_filter_across_slices_enabled_flag");
        sh->SliceQpY = (int32_t)qp;
    }

    /* the picture the first segment opens (8.1.3) */
    if (first) {
        setupPicture(dec, sh, nalUnitType, temporalId);
        if (dec->picErrorFlag)
            dpb->pic[dpb->curPic].errorFlag[0] = 1;
    } else if (dec->picErrorFlag && dpb->curPic >= 0) {
        dpb->pic[dpb->curPic].errorFlag[0] = 1;
    }
    dec->independentSliceAccepted = 1;

    /* num_entry_point_offsets, offset_len_minus1, entry_point_offset_minus1[] */
    sh->num_entry_point_offsets = 0;
    sh->entryPointsKept = 0;
    if (pps->tiles_enabled_flag || pps->entropy_coding_sync_enabled_flag) {
        sh->num_entry_point_offsets = readUeT(br, "num_entry_point_offsets");
        if (pps->tiles_enabled_flag && sh->num_entry_point_offsets > pps->num_tile_columns * pps->num_tile_rows - 1) {
            LOGE("H265D_Decode : the value of num_entry_point_offsets is error,it is bigger than "
                 "pstCurPPS->num_tile_columns * pstCurPPS->num_tile_rows-1\n");
            return H265D_ERR_SLICE_HEADER;
        }
        if (pps->entropy_coding_sync_enabled_flag && sh->num_entry_point_offsets > sps->PicHeightInCtbsY - 1) {
            LOGE("H265D_Decode : the value of num_entry_point_offsets is error,it is bigger than "
                 "pstCurSPS->pic_height_in_ctbs-1\n");
            return H265D_ERR_SLICE_HEADER;
        }
        if (sh->num_entry_point_offsets > 0) {
            sh->offset_len = readUeT(br, "offset_len_minus1") + 1u;
            if (sh->offset_len < 1 || sh->offset_len > 32) {
                LOGE("H265D_Decode : the value of offset_len is %d, it should be in the range of 1~32!\n",
                     (int)sh->offset_len);
                return H265D_ERR_SLICE_HEADER;
            }
            for (uint32_t i = 0; i < sh->num_entry_point_offsets; i++) {
                uint32_t v = 0;
                int left = (int)sh->offset_len;
                while (left >= 16) {
                    v = (v << 15 << 1) | readBits(br, 16);
                    left -= 16;
                }
                if (left)
                    v = (v << left) | readBits(br, left);
                traceValue(br, v, "entry_point_offset_minus1[%u]", i);
                sh->entry_point_offset = v + 1u;
                if (i < H265D_KEPT_ENTRY_POINTS)
                    sh->entryPoints[i] = v + 1u;
            }
            if (sh->num_entry_point_offsets <= H265D_KEPT_ENTRY_POINTS)
                sh->entryPointsKept = sh->num_entry_point_offsets;
        }
    }
    /* slice_segment_header_extension_length and its bytes, byte_alignment() */
    sh->slice_segment_header_extension_length = 0;
    if (pps->slice_segment_header_extension_present_flag) {
        sh->slice_segment_header_extension_length = readUeT(br, "slice_segment_header_extension_length");
        if (sh->slice_segment_header_extension_length > 256) {
            LOGE(
                "H265D_Decode : the value of slice_segment_header_extension_length is %d, it should be in the range of "
                "0~256!\n",
                (int)sh->slice_segment_header_extension_length);
            return H265D_ERR_SLICE_HEADER;
        }
        for (uint32_t i = 0; i < sh->slice_segment_header_extension_length; i++)
            readBitsT(br, 8, "slice_segment_header_extension_data_byte[%u]", i);
    }
    /* byte_alignment() */
    readBit(br);
    while (!byteAligned(br) && bitsLeft(br) > 0)
        readBit(br);
    sh->sliceDataByte = br->bitsRead / 8;

    /* the header accepted */
    if (first) {
        dec->firstSliceAccepted = 1;
        dec->firstSliceTemporalId = temporalId;
    }
    if (dpb->curPic >= 0 && (int32_t)sh->slice_type < dpb->pic[dpb->curPic].lowestSliceType)
        dpb->pic[dpb->curPic].lowestSliceType = (int32_t)sh->slice_type;
    return 0;
}

int32_t parseSliceHeaderSingle(H265D_DEC_OBJ *dec, H265D_BITREADER *br, H265D_SLICE_HEADER *sh)
{
    return parseSliceHeaderMode(dec, br, sh, dec->nal.nal_unit_type, dec->nal.TemporalId, H265D_SH_SINGLE);
}

} // namespace h265d
