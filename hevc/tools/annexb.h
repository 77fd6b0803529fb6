/* Byte-stream scanning shared by the decode tool and the tests. */
#ifndef H265DEC_ANNEXB_H
#define H265DEC_ANNEXB_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

struct NalSpan
{
    size_t start;   /* first byte of the start code */
    size_t payload; /* first byte of the NAL unit header */
    size_t end;     /* next start code or end of data */
    int type;
    int firstSlice; /* VCL unit with first_slice_segment_in_pic_flag 1 */
};

std::vector<NalSpan> scanNalUnits(const uint8_t *data, size_t len);
/* Byte offsets where access units begin (the first is 0). */
std::vector<size_t> accessUnitStarts(const std::vector<NalSpan> &units);
/* VCL bytes with their start codes, as the decoder counts them. */
uint64_t vclBytes(const std::vector<NalSpan> &units);
/* The whole file; false when it cannot be read. */
bool readFile(const std::string &path, std::vector<uint8_t> &out);

#endif
