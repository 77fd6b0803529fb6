/* Picture slots, picture order count, reference picture sets and lists,
 * slot set-up and the choice of the picture to return. */
#include "dpb.h"

#include <string.h>

#include "decoder.h"
#include "nal.h"

namespace h265d {

/* Bytes of the collocated motion store per 16x16 block of a picture. */
#define H265D_COL_MV_BYTES 24

size_t pictureBlockSize(uint32_t w64, uint32_t h64)
{
    const size_t luma = ((size_t)w64 + 256) * ((size_t)h64 + 160);
    return (luma * 3 / 2 + 63) & ~(size_t)63;
}

void allocPictureBuffer(H265D_DEC_OBJ *dec)
{
    H265D_DPB *dpb = &dec->dpb;
    const size_t lumaArea = ((size_t)dec->w64 + 256) * ((size_t)dec->h64 + 160);
    const size_t block = pictureBlockSize(dec->w64, dec->h64);
    const size_t mvPart = ((size_t)dec->w64 / 16) * ((size_t)dec->h64 / 16) * H265D_COL_MV_BYTES;
    dpb->numSlots = dec->iMaxRefNum + 2;
    dpb->curPic = -1;
    uint8_t *mv = (uint8_t *)poolAlloc(&dec->pool, mvPart * (size_t)dpb->numSlots, H265D_POOL_ALIGN);
    for (int i = 0; i < dpb->numSlots; i++) {
        H265D_PICTURE *p = &dpb->pic[i];
        uint8_t *planes = (uint8_t *)poolAlloc(&dec->pool, block, H265D_POOL_ALIGN);
        p->cuStats = (uint32_t *)poolAlloc(&dec->pool, H265D_CU_STATS * sizeof(uint32_t), H265D_POOL_ALIGN);
        p->userData = (uint8_t *)poolAlloc(&dec->pool, H265D_USER_DATA_SIZE, H265D_POOL_ALIGN);
        if (planes) {
            p->base[0] = planes;
            p->base[1] = planes + lumaArea;
            p->base[2] = planes + lumaArea + lumaArea / 4;
        }
        p->mvStore = mv ? mv + mvPart * (size_t)i : nullptr;
        p->lowestSliceType = 2;
    }
}

/* NoRaslOutputFlag of an IRAP picture (or of any picture after an end of
 * sequence). */
static int32_t noRaslFor(const H265D_DEC_OBJ *dec, int32_t nalUnitType)
{
    return (dec->endOfSequence || isBla(nalUnitType) || isIdr(nalUnitType)) ? 1 : 0;
}

void updatePrevTid0(H265D_DEC_OBJ *dec, int32_t nalUnitType)
{
    H265D_DPB *dpb = &dec->dpb;
    if (isIdr(nalUnitType) || !dpb->havePrevPic) {
        dpb->prevTid0Poc = 0;
        dpb->prevPocCount = 0;
        dpb->havePrevPic = 1;
        dpb->prevNalUnitType = nalUnitType;
        return;
    }
    const int32_t t = dpb->prevNalUnitType;
    const int subLayerNonRefOrLeading = t == NAL_TRAIL_N || (t >= NAL_RADL_N && t <= NAL_RSV_VCL_N14);
    if (dpb->prevTemporalId == 0 && !subLayerNonRefOrLeading) {
        dpb->prevTid0Poc = dpb->prevPoc;
        dpb->prevPocCount = 0;
        const H265D_RPS_LIST *lists[5] = {&dpb->prevRefInfo.stCurrBefore, &dpb->prevRefInfo.stCurrAfter,
                                          &dpb->prevRefInfo.stFoll, &dpb->prevRefInfo.ltCurr, &dpb->prevRefInfo.ltFoll};
        for (int l = 0; l < 5; l++)
            for (int i = 0; i < lists[l]->num && dpb->prevPocCount < H265D_PREV_POC_LIST; i++)
                dpb->prevPocs[dpb->prevPocCount++] = lists[l]->poc[i];
    } else if (dpb->prevPocCount < H265D_PREV_POC_LIST) {
        dpb->prevPocs[dpb->prevPocCount++] = dpb->prevPoc;
    }
}

int32_t decodePoc(H265D_DEC_OBJ *dec, const H265D_SLICE_HEADER *sh, int32_t nalUnitType, int32_t temporalId)
{
    (void)temporalId;
    H265D_DPB *dpb = &dec->dpb;
    if (!sh->first_slice_segment_in_pic_flag)
        return dpb->curPoc;
    updatePrevTid0(dec, nalUnitType);
    const int32_t maxLsb = (int32_t)dec->sps->MaxPicOrderCntLsb;
    const int32_t lsb = (int32_t)sh->slice_pic_order_cnt_lsb;
    int32_t msb;
    if (isIrap(nalUnitType) || dec->endOfSequence)
        dec->noRaslOutputFlag = noRaslFor(dec, nalUnitType);
    if (isIrap(nalUnitType) && dec->noRaslOutputFlag) {
        msb = 0;
    } else {
        const int32_t prevLsb = dpb->prevTid0Poc & (maxLsb - 1);
        const int32_t prevMsb = dpb->prevTid0Poc - prevLsb;
        if (lsb < prevLsb && prevLsb - lsb >= maxLsb / 2)
            msb = prevMsb + maxLsb;
        else if (lsb > prevLsb && lsb - prevLsb > maxLsb / 2)
            msb = prevMsb - maxLsb;
        else
            msb = prevMsb;
    }
    dpb->curPoc = msb + lsb;
    return dpb->curPoc;
}

void deriveLongTermPocs(H265D_DEC_OBJ *dec, H265D_SLICE_HEADER *sh)
{
    const H265D_SPS *sps = dec->sps;
    const uint32_t n = sh->num_long_term_sps + sh->num_long_term_pics;
    int64_t cycle = 0;
    for (uint32_t i = 0; i < n && i < H265D_MAX_LT_SLICE; i++) {
        if (i < sh->num_long_term_sps) {
            sh->PocLsbLt[i] = (int32_t)sps->lt_ref_pic_poc_lsb_sps[sh->lt_idx_sps[i]];
            sh->UsedByCurrPicLt[i] = sps->used_by_curr_pic_lt_sps_flag[sh->lt_idx_sps[i]];
        } else {
            sh->PocLsbLt[i] = (int32_t)sh->poc_lsb_lt[i];
            sh->UsedByCurrPicLt[i] = sh->used_by_curr_pic_lt_flag[i];
        }
        if (i == 0 || i == sh->num_long_term_sps)
            cycle = sh->delta_poc_msb_cycle_lt[i];
        else
            cycle += sh->delta_poc_msb_cycle_lt[i];
        if (sh->delta_poc_msb_present_flag[i])
            sh->PocLt[i] = (int32_t)(sh->PocLsbLt[i] - cycle * (int64_t)sps->MaxPicOrderCntLsb +
                                     ((int64_t)dec->dpb.curPoc - (int64_t)sh->slice_pic_order_cnt_lsb));
        else
            sh->PocLt[i] = sh->PocLsbLt[i];
    }
}

static int findShortTerm(H265D_DEC_OBJ *dec, int32_t poc)
{
    H265D_DPB *dpb = &dec->dpb;
    for (int i = 0; i < dpb->numSlots; i++) {
        const H265D_PICTURE *p = &dpb->pic[i];
        if (p->cvsId == dec->cvsCounter && (p->flags & H265D_PIC_REFERENCE) && p->poc == poc)
            return i;
    }
    return -1;
}

int32_t findRefByPoc(H265D_DEC_OBJ *dec, int32_t poc, int32_t withoutMsb)
{
    H265D_DPB *dpb = &dec->dpb;
    const int32_t mask = (int32_t)dec->sps->MaxPicOrderCntLsb - 1;
    for (int i = 0; i < dpb->numSlots; i++) {
        const H265D_PICTURE *p = &dpb->pic[i];
        if (p->cvsId != dec->cvsCounter || !(p->flags & H265D_PIC_REFERENCE))
            continue;
        if (withoutMsb ? ((p->poc & mask) == poc) : (p->poc == poc))
            return i;
    }
    dpb->missingRef = 1;
    return 0;
}

static void addEntry(H265D_RPS_LIST *l, int32_t poc, int slot, int lt, int msb)
{
    if (l->num >= H265D_RPS_LIST_SIZE)
        return;
    l->poc[l->num] = poc;
    l->slot[l->num] = (uint8_t)slot;
    l->longTerm[l->num] = (uint8_t)lt;
    l->msbPresent[l->num] = (uint8_t)msb;
    l->num++;
}

void deriveRps(H265D_DEC_OBJ *dec, H265D_SLICE_HEADER *sh, H265D_REF_INFO *ri)
{
    memset(ri, 0, sizeof *ri);
    H265D_DPB *dpb = &dec->dpb;
    const int32_t poc = dpb->curPoc;
    const H265D_ST_RPS *rps = sh->curRps;
    /* Only the entries the picture itself uses must exist: a missing
     * "follow" entry is allowed (it may have been dropped earlier). */
    if (rps) {
        for (int i = 0; i < rps->num_negative_pics; i++) {
            const int32_t p = poc + rps->delta_poc_s0[i];
            const int s = findShortTerm(dec, p);
            if (rps->used_by_curr_pic_s0[i]) {
                if (s < 0)
                    dpb->missingRef = 1;
                addEntry(&ri->stCurrBefore, p, s < 0 ? 0 : s, 0, 0);
            } else if (s >= 0) {
                addEntry(&ri->stFoll, p, s, 0, 0);
            }
        }
        for (int i = 0; i < rps->num_positive_pics; i++) {
            const int32_t p = poc + rps->delta_poc_s1[i];
            const int s = findShortTerm(dec, p);
            if (rps->used_by_curr_pic_s1[i]) {
                if (s < 0)
                    dpb->missingRef = 1;
                addEntry(&ri->stCurrAfter, p, s < 0 ? 0 : s, 0, 0);
            } else if (s >= 0) {
                addEntry(&ri->stFoll, p, s, 0, 0);
            }
        }
    }
    const uint32_t n = sh->num_long_term_sps + sh->num_long_term_pics;
    for (uint32_t i = 0; i < n && i < H265D_MAX_LT_SLICE; i++) {
        const int msb = sh->delta_poc_msb_present_flag[i];
        const int missingBefore = dpb->missingRef;
        const int s = findRefByPoc(dec, sh->PocLt[i], !msb);
        if (sh->UsedByCurrPicLt[i]) {
            addEntry(&ri->ltCurr, sh->PocLt[i], s, 1, msb);
        } else {
            dpb->missingRef = missingBefore;
            addEntry(&ri->ltFoll, sh->PocLt[i], s, 1, msb);
        }
    }
}

int32_t checkNumPocTotalCurr(H265D_DEC_OBJ *dec, const H265D_REF_INFO *ri, int32_t nalUnitType, int32_t *pNum)
{
    const int32_t n = ri->stCurrBefore.num + ri->stCurrAfter.num + ri->ltCurr.num;
    *pNum = n;
    if (nalUnitType >= NAL_BLA_W_LP && nalUnitType <= NAL_CRA_NUT && n >= 1)
        H265D_LOG(dec, H265D_LOG_WARNING,
                  "H265D_Decode : The NALU Type is %d, the variable NumPocTotalCurr should be equal to 0!\n",
                  nalUnitType);
    if (n > dec->iMaxRefNum) {
        H265D_LOG(dec, H265D_LOG_ERROR,
                  "H265D_Decode : The value of RefPic is %d, should be less than or equal to %d!\n", n,
                  dec->iMaxRefNum);
        return H265D_ERR_REFNUM;
    }
    return 0;
}

static int32_t buildList(H265D_DEC_OBJ *dec, H265D_SLICE_HEADER *sh, int l)
{
    const H265D_REF_INFO *ri = &sh->refInfo;
    const H265D_RPS_LIST *order[3] = {l == 0 ? &ri->stCurrBefore : &ri->stCurrAfter,
                                      l == 0 ? &ri->stCurrAfter : &ri->stCurrBefore, &ri->ltCurr};
    const uint32_t active = l == 0 ? sh->num_ref_idx_l0_active : sh->num_ref_idx_l1_active;
    const uint32_t numTemp = active > (uint32_t)sh->NumPicTotalCurr ? active : (uint32_t)sh->NumPicTotalCurr;
    int32_t tPoc[H265D_MAX_REF_LIST];
    uint8_t tSlot[H265D_MAX_REF_LIST], tLt[H265D_MAX_REF_LIST];
    uint32_t r = 0;
    if (sh->NumPicTotalCurr <= 0)
        return H265D_ERR_SLICE_HEADER;
    while (r < numTemp && r < H265D_MAX_REF_LIST)
        for (int k = 0; k < 3; k++)
            for (int i = 0; i < order[k]->num && r < numTemp && r < H265D_MAX_REF_LIST; i++, r++) {
                tPoc[r] = order[k]->poc[i];
                tSlot[r] = order[k]->slot[i];
                tLt[r] = order[k]->longTerm[i];
            }
    H265D_REF_LIST *out = &sh->refList[l];
    const uint32_t mod = l == 0 ? sh->ref_pic_list_modification_flag_l0 : sh->ref_pic_list_modification_flag_l1;
    const uint32_t *entry = l == 0 ? sh->list_entry_l0 : sh->list_entry_l1;
    out->num = (int32_t)active;
    for (uint32_t i = 0; i < active && i < H265D_MAX_REF_LIST; i++) {
        uint32_t k = mod ? entry[i] : i;
        if (k >= r)
            k = 0;
        out->poc[i] = tPoc[k];
        out->slot[i] = tSlot[k];
        out->longTerm[i] = tLt[k];
        const H265D_PICTURE *p = &dec->dpb.pic[tSlot[k]];
        if (tPoc[k] == dec->dpb.curPoc || p->state != 1) {
            H265D_LOG(dec, H265D_LOG_ERROR,
                      "H265D_Decode : the reference picture of RefPicList%d[%d] is not a decoded picture!\n", l,
                      (int)i);
            return H265D_ERR_SLICE_HEADER;
        }
    }
    return 0;
}

int32_t buildRefPicLists(H265D_DEC_OBJ *dec, H265D_SLICE_HEADER *sh)
{
    memset(sh->refList, 0, sizeof sh->refList);
    if (sh->slice_type == 2)
        return 0;
    int32_t r = buildList(dec, sh, 0);
    if (r == 0 && sh->slice_type == 0)
        r = buildList(dec, sh, 1);
    return r;
}

static int inRps(const H265D_REF_INFO *ri, int slot)
{
    const H265D_RPS_LIST *lists[5] = {&ri->stCurrBefore, &ri->stCurrAfter, &ri->stFoll, &ri->ltCurr, &ri->ltFoll};
    for (int l = 0; l < 5; l++)
        for (int i = 0; i < lists[l]->num; i++)
            if (lists[l]->slot[i] == slot)
                return 1;
    return 0;
}

int32_t setupPicture(H265D_DEC_OBJ *dec, const H265D_SLICE_HEADER *sh, int32_t nalUnitType, int32_t temporalId)
{
    H265D_DPB *dpb = &dec->dpb;
    const H265D_SPS *sps = dec->sps;

    if (isIrap(nalUnitType) || dec->endOfSequence) {
        dec->noRaslOutputFlag = noRaslFor(dec, nalUnitType);
        dec->endOfSequence = 0;
        if (isIrap(nalUnitType) && dec->noRaslOutputFlag) {
            dec->cvsCounter++;
            const int drop = sh->no_output_of_prior_pics_flag || nalUnitType == NAL_CRA_NUT;
            for (int i = 0; i < dpb->numSlots; i++) {
                if (drop)
                    dpb->pic[i].flags = 0;
                else
                    dpb->pic[i].flags &= ~H265D_PIC_REFERENCE;
            }
        }
    }

    uint32_t flags;
    if (isRasl(nalUnitType) && dec->noRaslOutputFlag)
        flags = 0;
    else if (sh->pic_output_flag && temporalId <= dec->highestTid)
        flags = H265D_PIC_OUTPUT | H265D_PIC_REFERENCE;
    else
        flags = H265D_PIC_REFERENCE;

    const H265D_REF_INFO *ri = &sh->refInfo;
    int anyFree = 0;
    for (int i = 0; i < dpb->numSlots; i++) {
        H265D_PICTURE *p = &dpb->pic[i];
        if (!inRps(ri, i))
            p->flags &= ~H265D_PIC_REFERENCE;
        if (p->state != 1)
            p->flags = 0;
        if (p->flags == 0)
            anyFree = 1;
    }
    /* A full buffer never blocks: the first slot is taken back. */
    if (!anyFree)
        dpb->pic[0].flags = 0;
    int slot = 0;
    for (int i = 0; i < dpb->numSlots; i++)
        if (dpb->pic[i].flags == 0) {
            slot = i;
            break;
        }

    H265D_PICTURE *p = &dpb->pic[slot];
    p->state = 0;
    p->timeStamp = dec->picTimeStamp;
    p->cvsId = dec->cvsCounter;
    p->temporalId = temporalId;
    p->poc = dpb->curPoc;
    p->flags = flags;
    p->nalUnitType = nalUnitType;
    p->width = (int32_t)(sps->pic_width_in_luma_samples - 2 * (sps->conf_win_left_offset + sps->conf_win_right_offset));
    p->height =
        (int32_t)(sps->pic_height_in_luma_samples - 2 * (sps->conf_win_top_offset + sps->conf_win_bottom_offset));
    p->yStride = (sps->pic_width_in_luma_samples + sps->CtbSizeY + 255) & ~(sps->CtbSizeY - 1);
    p->uvStride = p->yStride / 2;
    if (p->base[0]) {
        p->origin[0] = p->base[0] + (size_t)80 * p->yStride + 128;
        p->origin[1] = p->base[1] + (size_t)40 * p->uvStride + 64;
        p->origin[2] = p->base[2] + (size_t)40 * p->uvStride + 64;
        p->display[0] =
            p->origin[0] + (size_t)2 * sps->conf_win_top_offset * p->yStride + 2 * sps->conf_win_left_offset;
        p->display[1] = p->origin[1] + (size_t)sps->conf_win_top_offset * p->uvStride + sps->conf_win_left_offset;
        p->display[2] = p->origin[2] + (size_t)sps->conf_win_top_offset * p->uvStride + sps->conf_win_left_offset;
    }
    p->refInfo = *ri;
    p->refList[0] = sh->refList[0];
    p->refList[1] = sh->refList[1];
    p->codedBytes = dec->vclBytes;
    p->errorFlag[0] = dec->errorFlag[0];
    p->errorFlag[1] = dec->errorFlag[1];
    dec->vclBytes = 0;
    dec->errorFlag[0] = dec->errorFlag[1] = 0;
    if (p->cuStats)
        memset(p->cuStats, 0, H265D_CU_STATS * sizeof(uint32_t));
    p->lowestSliceType = 2;
    const H265D_USER_DATA *ud = dec->userData;
    p->userDataLen = (uint32_t)ud->length;
    if (p->userData) {
        const size_t n = ud->length > 0 ? (size_t)ud->length : 0;
        memcpy(p->userData, ud->data, n);
        memset(dec->userData->data, 0, n);
    }
    p->aspectRatioIdc = sps->vui.aspect_ratio_idc;
    p->sarWidth = sps->vui.sar_width;
    p->sarHeight = sps->vui.sar_height;
    p->numUnitsInTick = dec->vps->vps_num_units_in_tick;
    p->timeScale = dec->vps->vps_time_scale;

    dpb->curPic = slot;
    dpb->prevPoc = p->poc;
    dpb->prevTemporalId = temporalId;
    dpb->prevNalUnitType = nalUnitType;
    dpb->prevRefInfo = *ri;
    return 0;
}

void completeCurrentPicture(H265D_DEC_OBJ *dec)
{
    H265D_DPB *dpb = &dec->dpb;
    if (dpb->curPic < 0)
        return;
    H265D_PICTURE *p = &dpb->pic[dpb->curPic];
    if (p->state != 1 && p->flags != 0) {
        p->state = 1;
        uint32_t *counters[] = {&dec->pathCounts.uiSerial, &dec->pathCounts.uiGatheredSerial,
                                &dec->pathCounts.uiRowJobs, &dec->pathCounts.uiSliceJobs, &dec->pathCounts.uiTileJobs};
        (*counters[dec->pictureVia])++;
    }
}

int32_t outputPicture(H265D_DEC_OBJ *dec, int32_t flush, H265D_OUTARGS *out)
{
    H265D_DPB *dpb = &dec->dpb;
    int waiting = 0, pick = -1;
    for (int i = 0; i < dpb->numSlots; i++) {
        const H265D_PICTURE *p = &dpb->pic[i];
        if (!(p->flags & H265D_PIC_OUTPUT))
            continue;
        waiting++;
        if (pick < 0 || p->cvsId < dpb->pic[pick].cvsId ||
            (p->cvsId == dpb->pic[pick].cvsId && p->poc < dpb->pic[pick].poc))
            pick = i;
    }
    if (!dec->sps)
        return -1;
    if (waiting == 0)
        return -1;
    const uint32_t reorder = dec->sps->sps_max_num_reorder_pics[dec->highestTid];
    const int leave = ((flush || dpb->pic[pick].cvsId < dec->cvsCounter) && waiting > 0) || (uint32_t)waiting > reorder;
    if (!leave)
        return -1;
    H265D_PICTURE *p = &dpb->pic[pick];
    p->flags &= ~H265D_PIC_OUTPUT;
    if (p->state != 1)
        return -1;
    out->uiChannelID = dec->uiChannelID;
    out->uiTimeStamp = p->timeStamp;
    out->eFrameType = 2 - p->lowestSliceType;
    p->lowestSliceType = 2;
    out->uiDecWidth = (uint32_t)p->width;
    out->uiDecHeight = (uint32_t)p->height;
    out->uiYStride = p->yStride;
    out->uiUVStride = p->uvStride;
    out->pucOutYUV[0] = p->display[0];
    out->pucOutYUV[1] = p->display[1];
    out->pucOutYUV[2] = p->display[2];
    out->uiCodedBytes = p->codedBytes;
    if (p->cuStats)
        memcpy(out->auiCuStats, p->cuStats, sizeof out->auiCuStats);
    out->pucUserData = p->userData;
    out->uiUserDataLen = p->userDataLen;
    out->uiAspectRatioIdc = p->aspectRatioIdc;
    out->uiSarWidth = p->sarWidth;
    out->uiSarHeight = p->sarHeight;
    out->uiNumUnitsInTick = p->numUnitsInTick;
    out->uiTimeScale = p->timeScale;
    out->uiErrorFlag = (uint32_t)p->errorFlag[0];
    out->eDecodeStatus = IH265D_STATUS_PICTURE;
    return 0;
}

} // namespace h265d
