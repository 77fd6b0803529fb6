/* Decoded picture buffer: slots, picture order, reference sets and lists,
 * and the choice of the picture to return. */
#ifndef H265D_DPB_H
#define H265D_DPB_H

#include <stdint.h>

#include "h265d.h"

namespace h265d {

#define H265D_MAX_DPB       17 /* iMaxRefNum 15 + 2 */
#define H265D_RPS_LIST_SIZE 34
#define H265D_MAX_REF_LIST  16
#define H265D_PREV_POC_LIST 1000
#define H265D_CU_STATS      18

#define H265D_PIC_OUTPUT    1u /* waiting for output */
#define H265D_PIC_REFERENCE 2u /* used for reference */

struct H265D_DEC_OBJ;
struct H265D_SLICE_HEADER;
struct H265D_SPS;

typedef struct H265D_RPS_LIST
{
    int32_t num;
    int32_t poc[H265D_RPS_LIST_SIZE];
    uint8_t slot[H265D_RPS_LIST_SIZE];
    uint8_t longTerm[H265D_RPS_LIST_SIZE];
    uint8_t msbPresent[H265D_RPS_LIST_SIZE];
} H265D_RPS_LIST;

typedef struct H265D_REF_INFO
{
    H265D_RPS_LIST stCurrBefore;
    H265D_RPS_LIST stCurrAfter;
    H265D_RPS_LIST stFoll;
    H265D_RPS_LIST ltCurr;
    H265D_RPS_LIST ltFoll;
} H265D_REF_INFO;

typedef struct H265D_REF_LIST
{
    int32_t num;
    int32_t poc[H265D_MAX_REF_LIST];
    uint8_t slot[H265D_MAX_REF_LIST];
    uint8_t longTerm[H265D_MAX_REF_LIST];
} H265D_REF_LIST;

typedef struct H265D_PICTURE
{
    int32_t state; /* 0 being decoded, 1 complete */
    uint64_t timeStamp;
    int32_t width; /* cropped */
    int32_t height;
    int32_t cvsId;
    int32_t temporalId;
    int32_t poc;
    uint32_t flags; /* H265D_PIC_OUTPUT | H265D_PIC_REFERENCE */
    H265D_REF_INFO refInfo;
    H265D_REF_LIST refList[2];
    uint8_t *base[3];    /* the slot's plane memory */
    uint8_t *origin[3];  /* first coded sample */
    uint8_t *display[3]; /* first sample of the conformance window */
    uint32_t yStride;    /* strides the picture was decoded with */
    uint32_t uvStride;
    void *mvStore;
    uint32_t codedBytes;
    int32_t errorFlag[2];
    uint32_t *cuStats; /* H265D_CU_STATS counters */
    int32_t lowestSliceType;
    uint8_t *userData;
    uint32_t userDataLen;
    uint32_t aspectRatioIdc;
    uint32_t sarWidth;
    uint32_t sarHeight;
    uint32_t numUnitsInTick;
    uint32_t timeScale;
    int32_t nalUnitType;
} H265D_PICTURE;

typedef struct H265D_DPB
{
    int32_t numSlots; /* iMaxRefNum + 2 */
    H265D_PICTURE pic[H265D_MAX_DPB];
    int32_t curPic; /* slot of the picture under decode, -1 none */
    /* prevTid0Pic */
    int32_t prevTid0Poc;
    int32_t prevPocCount;
    int32_t prevPocs[H265D_PREV_POC_LIST];
    int32_t havePrevPic;
    int32_t prevNalUnitType;
    int32_t prevTemporalId;
    int32_t prevPoc;
    H265D_REF_INFO prevRefInfo;
    int32_t missingRef;
    int32_t curPoc;
} H265D_DPB;

/* Byte size of one slot's plane block for the create limits (rounded to 64). */
size_t pictureBlockSize(uint32_t w64, uint32_t h64);
void allocPictureBuffer(struct H265D_DEC_OBJ *dec);
int32_t decodePoc(struct H265D_DEC_OBJ *dec, const struct H265D_SLICE_HEADER *sh, int32_t nalUnitType,
                  int32_t temporalId);
void updatePrevTid0(struct H265D_DEC_OBJ *dec, int32_t nalUnitType);
void deriveLongTermPocs(struct H265D_DEC_OBJ *dec, struct H265D_SLICE_HEADER *sh);
void deriveRps(struct H265D_DEC_OBJ *dec, struct H265D_SLICE_HEADER *sh, H265D_REF_INFO *ri);
int32_t checkNumPocTotalCurr(struct H265D_DEC_OBJ *dec, const H265D_REF_INFO *ri, int32_t nalUnitType, int32_t *pNum);
int32_t buildRefPicLists(struct H265D_DEC_OBJ *dec, struct H265D_SLICE_HEADER *sh);
int32_t setupPicture(struct H265D_DEC_OBJ *dec, const struct H265D_SLICE_HEADER *sh, int32_t nalUnitType,
                     int32_t temporalId);
int32_t findRefByPoc(struct H265D_DEC_OBJ *dec, int32_t poc, int32_t withoutMsb);
int32_t outputPicture(struct H265D_DEC_OBJ *dec, int32_t flush, H265D_OUTARGS *out);
/* Headers-only decoding: the picture under decode counts as complete. */
void completeCurrentPicture(struct H265D_DEC_OBJ *dec);

} // namespace h265d

#endif
