// MD5 (RFC 1321) for the PIN derivations.
#ifndef LIBAPDU_CRYPTO_MD5_H
#define LIBAPDU_CRYPTO_MD5_H

#include <cstdint>

#include "libapdu.h"

namespace libapdu LIBAPDU_API {

struct MD5_CTX {
    uint32_t state[4];
    uint32_t count[2];  // bit count, low word first
    unsigned char buffer[64];
};

void MD5Init(MD5_CTX* ctx);
void MD5Update(MD5_CTX* ctx, const unsigned char* data, unsigned int length);
// Writes the digest and then zeroes the whole context.
void MD5Final(unsigned char digest[16], MD5_CTX* ctx);

}  // namespace libapdu

#endif
