/* Annex B start codes, NAL unit headers and the single-threaded dispatch. */
#include <string.h>

#include "nal.h"

#include "decoder.h"
#include "paramsets.h"
#include "picture.h"
#include "slicedata.h"
#include "slicehdr.h"

namespace h265d {

const uint8_t *findStartCode(const uint8_t *buf, size_t len, int64_t *offset, int32_t *prefixLen)
{
    *offset = -1;
    *prefixLen = 0;
    if (!buf || len < 3)
        return nullptr;
    /* Look for the 01 byte and check the zeros before it. */
    size_t i = 2;
    while (i < len) {
        const uint8_t *p = (const uint8_t *)memchr(buf + i, 1, len - i);
        if (!p)
            return nullptr;
        i = (size_t)(p - buf);
        if (buf[i - 1] == 0 && buf[i - 2] == 0) {
            const size_t start = (i >= 3 && buf[i - 3] == 0) ? i - 3 : i - 2;
            *offset = (int64_t)start;
            *prefixLen = (int32_t)(i + 1 - start);
            return buf + start;
        }
        i++;
    }
    return nullptr;
}

size_t removeEmulationPrevention(uint8_t *unit, size_t len, uint8_t *dst)
{
    if (len < 3)
        return 0;
    size_t w = 0;
    int zeros = 0;
    for (size_t r = 2; r < len; r++) {
        const uint8_t b = unit[r];
        if (zeros >= 2 && b == 3) {
            zeros = 0;
            continue;
        }
        zeros = b == 0 ? zeros + 1 : 0;
        dst[w++] = b;
    }
    return w;
}

/* nal_unit_header(), 7.3.1.2. */
int32_t parseNalHeader(const uint8_t *p, H265D_NAL_HEADER *hdr, uint32_t ch, H265D_LOG_FXN log)
{
    const uint32_t v = ((uint32_t)p[0] << 8) | p[1];
    hdr->forbidden_zero_bit = (int32_t)(v >> 15);
    hdr->nal_unit_type = (int32_t)((v >> 9) & 0x3F);
    hdr->nuh_layer_id = (int32_t)((v >> 3) & 0x3F);
    hdr->TemporalId = (int32_t)(v & 7) - 1;
    if (hdr->forbidden_zero_bit)
        log(ch, H265D_LOG_WARNING, "H265D_Decode : The value of forbidden_zero_bit is %d, should be 0!\n", 1);
    if (hdr->nuh_layer_id != 0)
        log(ch, H265D_LOG_WARNING, "H265D_Decode : The value of nuh_layer_id is %d, should be equal to 0!\n",
            hdr->nuh_layer_id);
    if (hdr->TemporalId < 0) {
        log(ch, H265D_LOG_ERROR, "H265D_Decode : The value of nuh_temporal_id is %d, should be in the range of 0~6!\n",
            hdr->TemporalId);
        return H265D_ERR_NAL;
    }
    const int32_t t = hdr->nal_unit_type;
    if (hdr->TemporalId != 0 && isIrap(t))
        log(ch, H265D_LOG_WARNING,
            "H265D_Decode : The value of nuh_temporal_id is %d, it should be equal to 0 when nal_unit_type is in the "
            "range of BLA_W_LP~RSV_IRAP_VCL23!\n",
            hdr->TemporalId);
    if (hdr->TemporalId == 0 && (t == NAL_TSA_R || t == NAL_STSA_N))
        log(ch, H265D_LOG_WARNING,
            "H265D_Decode : The value of nuh_temporal_id is %d, it should not be equal to 0 when nal_unit_type is in "
            "the range of TSA_R~STSA_N!\n",
            0);
    if (hdr->TemporalId != 0 && (t == NAL_VPS_NUT || t == NAL_SPS_NUT || t == NAL_EOS_NUT || t == NAL_EOB_NUT))
        log(ch, H265D_LOG_WARNING,
            "H265D_Decode : The value of nuh_temporal_id is %d, it should be equal to 0 when nal_unit_type is "
            "VPS_NUT, SPS_NUT, EOS_NUT or EOB_NUT!\n",
            hdr->TemporalId);
    return 0;
}

int isSkippedNalType(int32_t t)
{
    return (t >= NAL_RSV_VCL_N10 && t <= NAL_RSV_VCL_R15) || (t >= NAL_RSV_IRAP_VCL22 && t <= NAL_RSV_VCL31) ||
           t == NAL_AUD_NUT || t == NAL_FD_NUT || t > NAL_SUFFIX_SEI_NUT;
}

static void quietLog(uint32_t, int32_t, const char *, ...) {}

int nalOpensPicture(const uint8_t *unit, size_t len)
{
    if (len < 3)
        return 0;
    const int32_t type = (unit[0] >> 1) & 0x3F;
    const int layer = ((unit[0] & 1) << 5) | (unit[1] >> 3);
    const int temporalIdPlus1 = unit[1] & 7;
    return isVcl(type) && !isSkippedNalType(type) && layer == 0 && temporalIdPlus1 != 0 && (unit[2] & 0x80);
}

void raiseErrorFlags(H265D_DEC_OBJ *dec)
{
    if (!dec->errorFlag[1]) {
        dec->errorFlag[0] = 1;
        dec->errorFlag[1] = 1;
    }
}

static void traceUnit(H265D_DEC_OBJ *dec, const uint8_t *unit, size_t len)
{
    if (!dec->traceFxn)
        return;
    const uint32_t v = len >= 2 ? ((uint32_t)unit[0] << 8) | unit[1] : 0;
    dec->traceFxn(dec->traceCtx, "nal_unit", (int64_t)((v >> 9) & 0x3F));
    if (len < 2)
        return;
    dec->traceFxn(dec->traceCtx, "forbidden_zero_bit", v >> 15);
    dec->traceFxn(dec->traceCtx, "nal_unit_type", (v >> 9) & 0x3F);
    dec->traceFxn(dec->traceCtx, "nuh_layer_id", (v >> 3) & 0x3F);
    dec->traceFxn(dec->traceCtx, "nuh_temporal_id_plus1", v & 7);
}

int32_t decodeNalUnit(H265D_DEC_OBJ *dec, uint8_t *unit, size_t len, int32_t prefixLen)
{
    if (!dec)
        return H265D_ERR_NULL;
    if (len < 2) {
        traceUnit(dec, unit, len);
        H265D_LOG(dec, H265D_LOG_ERROR, "H265D_Decode : The length of NAL unit is %d, too short for its header!\n",
                  (int)len);
        raiseErrorFlags(dec);
        return H265D_ERR_NAL;
    }
    const int32_t type = (unit[0] >> 1) & 0x3F;
    /* Delimiters, filler data, reserved and unspecified types carry nothing
     * this decoder uses: pass over them without touching any state. */
    if (isSkippedNalType(type)) {
        traceUnit(dec, unit, len);
        H265D_LOG(dec, H265D_LOG_WARNING, "H265D_Decode : The NAL type %d is not support !\n", type);
        return 0;
    }
    H265D_NAL_HEADER hdr;
    if (parseNalHeader(unit, &hdr, dec->uiChannelID, quietLog)) {
        traceUnit(dec, unit, len);
        parseNalHeader(unit, &hdr, dec->uiChannelID, dec->LogFxn);
        raiseErrorFlags(dec);
        return H265D_ERR_NAL;
    }
    const int vcl = isVcl(type);
    if (vcl && len < 3) {
        traceUnit(dec, unit, len);
        H265D_LOG(dec, H265D_LOG_ERROR, "H265D_Decode : The length of NAL unit is %d, too short for a slice!\n",
                  (int)len);
        raiseErrorFlags(dec);
        return H265D_ERR_NAL;
    }
    /* Enhancement layers are not decoded; their parameter sets must not
     * replace the base layer's. */
    if (hdr.nuh_layer_id > 0) {
        traceUnit(dec, unit, len);
        parseNalHeader(unit, &hdr, dec->uiChannelID, dec->LogFxn);
        return 0;
    }
    /* A threaded instance decodes its gathered picture before anything that
     * could change what that picture's slices refer to, and before the next
     * picture starts. An error there belongs to that picture: the unit in
     * hand is kept for the next call. */
    const int gathering = dec->gathered != nullptr;
    if (gathering && dec->gatherCount > 0 && (!vcl || (unit[2] & 0x80))) {
        if (isParameterSet(type))
            dec->psInPicture = 1;
        const int32_t r = decodePicture(dec);
        if (r) {
            dec->keepUnit = 1;
            return r;
        }
    }
    if (vcl && (unit[2] & 0x80)) {
        if (!dec->firstSliceToggle) {
            dec->firstSliceToggle = 1;
            /* Without slice data the picture is complete once its last
             * slice segment header has been handled. */
            if (dec->bHeadersOnly) {
                if (dec->firstSliceAccepted)
                    completeCurrentPicture(dec);
            }
            return 2;
        }
        dec->firstSliceToggle = 0;
    }
    traceUnit(dec, unit, len);
    parseNalHeader(unit, &dec->nal, dec->uiChannelID, dec->LogFxn);
    if (vcl)
        dec->vclBytes += (uint32_t)(len + (size_t)prefixLen);
    /* trailing_zero_8bits belong to the byte stream, not to the payload. */
    while (len > 2 && unit[len - 1] == 0)
        len--;
    const size_t payload = removeEmulationPrevention(unit, len, unit + 2);
    bitReaderInit(&dec->br, unit + 2, (int32_t)payload, (int32_t)payload + 4);
    dec->br.traceFxn = dec->traceFxn;
    dec->br.traceCtx = dec->traceCtx;

    int32_t r = 0;
    switch (type) {
    case NAL_TRAIL_N:
    case NAL_TRAIL_R:
    case NAL_TSA_N:
    case NAL_TSA_R:
    case NAL_STSA_N:
    case NAL_STSA_R:
    case NAL_RADL_N:
    case NAL_RADL_R:
    case NAL_RASL_N:
    case NAL_RASL_R:
    case NAL_BLA_W_LP:
    case NAL_BLA_W_RADL:
    case NAL_BLA_N_LP:
    case NAL_IDR_W_RADL:
    case NAL_IDR_N_LP:
    case NAL_CRA_NUT:
        if (unit[2] & 0x80) {
            dec->firstSliceNal = dec->nal;
            dec->gatherDropped = 0;
            dec->psInPicture = 0;
        } else if (gathering && dec->psInPicture && dec->eThreadType == 1) {
            /* A slice after a parameter set inside one picture: the
             * picture's units can no longer be decoded as one list. */
            dec->eThreadType = 0;
            dec->pathCounts.uiFallbacks++;
        }
        r = parseSliceHeaderSingle(dec, &dec->br, &dec->sh);
        /* Later slice segments count towards the picture they belong to. */
        if (r == 0 && !dec->sh.first_slice_segment_in_pic_flag && dec->dpb.curPic >= 0) {
            dec->dpb.pic[dec->dpb.curPic].codedBytes += dec->vclBytes;
            dec->vclBytes = 0;
        }
        if (r == 0 && !dec->bHeadersOnly && dec->dpb.curPic >= 0 && dec->dpb.pic[dec->dpb.curPic].flags != 0 &&
            dec->dpb.pic[dec->dpb.curPic].state != 1) {
            if (gathering)
                r = gatherSlice(dec, dec->br.data, (size_t)dec->br.length);
            else
                r = decodeSliceData(dec, dec->br.data, dec->br.data + dec->br.length);
        }
        /* Slice data decoding joins here; pictures with slot flags 0 (skipped
         * leading pictures) are parsed but not decoded. */
        break;
    case NAL_VPS_NUT:
        r = parseVps(dec, &dec->br, dec->uiChannelID, dec->LogFxn);
        break;
    case NAL_SPS_NUT:
        r = parseSps(dec, &dec->br, dec->uiChannelID, dec->LogFxn);
        break;
    case NAL_PPS_NUT:
        r = parsePps(dec, &dec->br, dec->uiChannelID, dec->LogFxn);
        break;
    case NAL_EOS_NUT:
    case NAL_EOB_NUT:
        dec->endOfSequence = 1;
        break;
    case NAL_PREFIX_SEI_NUT:
    case NAL_SUFFIX_SEI_NUT:
        parseSei(dec, &dec->br, dec->uiChannelID, dec->LogFxn);
        break;
    default:
        H265D_LOG(dec, H265D_LOG_ERROR, "H265D_Decode : The NAL type %d is not support !\n", type);
        return H265D_ERR_NAL;
    }
    if (r)
        raiseErrorFlags(dec);
    return r;
}

} // namespace h265d
