/* NAL units: start codes, emulation prevention, the unit header and its
 * types, and the dispatch of one unit to its parser. */
#ifndef H265D_NAL_H
#define H265D_NAL_H

#include <stddef.h>
#include <stdint.h>

#include "h265d.h"

namespace h265d {

struct H265D_DEC_OBJ;

/* nal_unit_type (Table 7-1). Values not named here are reserved or
 * unspecified; no mode decodes them (isSkippedNalType). */
enum NalUnitType : int32_t {
    NAL_TRAIL_N = 0,
    NAL_TRAIL_R = 1,
    NAL_TSA_N = 2,
    NAL_TSA_R = 3,
    NAL_STSA_N = 4,
    NAL_STSA_R = 5,
    NAL_RADL_N = 6,
    NAL_RADL_R = 7,
    NAL_RASL_N = 8,
    NAL_RASL_R = 9,
    NAL_RSV_VCL_N10 = 10,
    NAL_RSV_VCL_N14 = 14,
    NAL_RSV_VCL_R15 = 15,
    NAL_BLA_W_LP = 16,
    NAL_BLA_W_RADL = 17,
    NAL_BLA_N_LP = 18,
    NAL_IDR_W_RADL = 19,
    NAL_IDR_N_LP = 20,
    NAL_CRA_NUT = 21,
    NAL_RSV_IRAP_VCL22 = 22,
    NAL_RSV_IRAP_VCL23 = 23,
    NAL_RSV_VCL31 = 31,
    NAL_VPS_NUT = 32,
    NAL_SPS_NUT = 33,
    NAL_PPS_NUT = 34,
    NAL_AUD_NUT = 35,
    NAL_EOS_NUT = 36,
    NAL_EOB_NUT = 37,
    NAL_FD_NUT = 38,
    NAL_PREFIX_SEI_NUT = 39,
    NAL_SUFFIX_SEI_NUT = 40,
};

/* Slice segments and the reserved VCL types. */
inline bool isVcl(int32_t t)
{
    return t >= NAL_TRAIL_N && t <= NAL_RSV_VCL31;
}
/* Intra random access points, the reserved IRAP types included. */
inline bool isIrap(int32_t t)
{
    return t >= NAL_BLA_W_LP && t <= NAL_RSV_IRAP_VCL23;
}
inline bool isIdr(int32_t t)
{
    return t == NAL_IDR_W_RADL || t == NAL_IDR_N_LP;
}
inline bool isBla(int32_t t)
{
    return t >= NAL_BLA_W_LP && t <= NAL_BLA_N_LP;
}
inline bool isRasl(int32_t t)
{
    return t == NAL_RASL_N || t == NAL_RASL_R;
}
/* Slice segment types this decoder reads: the non-reserved VCL types. */
inline bool isSliceSegment(int32_t t)
{
    return (t >= NAL_TRAIL_N && t <= NAL_RASL_R) || (t >= NAL_BLA_W_LP && t <= NAL_CRA_NUT);
}
/* Parameter sets: a picture's units can no longer be decoded as one list
 * once one arrives among them. */
inline bool isParameterSet(int32_t t)
{
    return t >= NAL_VPS_NUT && t <= NAL_PPS_NUT;
}

typedef struct H265D_NAL_HEADER
{
    int32_t forbidden_zero_bit;
    int32_t nal_unit_type;
    int32_t nuh_layer_id;
    int32_t TemporalId;
} H265D_NAL_HEADER;

const uint8_t *findStartCode(const uint8_t *buf, size_t len, int64_t *offset, int32_t *prefixLen);
size_t removeEmulationPrevention(uint8_t *unit, size_t len, uint8_t *dst);
/* nal_unit_header(), 7.3.1.2. */
int32_t parseNalHeader(const uint8_t *p, H265D_NAL_HEADER *hdr, uint32_t ch, H265D_LOG_FXN log);
int32_t decodeNalUnit(H265D_DEC_OBJ *dec, uint8_t *unit, size_t len, int32_t prefixLen);
/* Types that no mode decodes (delimiters, filler, reserved, unspecified). */
int isSkippedNalType(int32_t type);
/* The unit's first three bytes show a base-layer slice segment that opens a
 * picture: decodeNalUnit answers it with 2 when a picture is under way. */
int nalOpensPicture(const uint8_t *unit, size_t len);
/* Marks the stream and the picture in hand as damaged (uiErrorFlag). */
void raiseErrorFlags(H265D_DEC_OBJ *dec);

} // namespace h265d

#endif
