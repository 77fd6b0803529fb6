/* MD5 (RFC 1321) for picture checksums. */
#ifndef H265DEC_MD5_H
#define H265DEC_MD5_H

#include <stddef.h>
#include <stdint.h>

#include <string>

class Md5
{
public:
    Md5();
    void update(const uint8_t *data, size_t len);
    std::string hex(); /* finishes the digest */

private:
    void block(const uint8_t *p);
    uint32_t h_[4];
    uint64_t total_ = 0;
    uint8_t buf_[64];
    size_t fill_ = 0;
};

#endif
