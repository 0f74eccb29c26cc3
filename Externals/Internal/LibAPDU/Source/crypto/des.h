// DES (FIPS 46-3) and the single-whitening-key DESX variant under the cv layer.
#ifndef LIBAPDU_CRYPTO_DES_H
#define LIBAPDU_CRYPTO_DES_H

#include <cstdint>

#include "libapdu.h"

namespace libapdu LIBAPDU_API {

// Key schedule: 16 round subkeys of 8 bytes, in round order. Each subkey is kept
// as two words laid out for the combined S-box/permutation tables: the even
// S-box inputs in the first word, the odd ones in the second.
struct tagDesContext {
    uint32_t subkeys[16][2];
};

// A DES schedule followed by the one whitening key used before and after it.
struct tagDesxContext {
    tagDesContext des;
    unsigned char whitening[8];
};

void des_initialize(const unsigned char key[8], tagDesContext* ctx);
void des_encrypt(const tagDesContext* ctx, unsigned char block[8]);
void des_decrypt(const tagDesContext* ctx, unsigned char block[8]);
void des_finalize(tagDesContext* ctx);

void desx_initialize(const unsigned char key[16], tagDesxContext* ctx);
void desx_encrypt(const tagDesxContext* ctx, unsigned char block[8]);
void desx_decrypt(const tagDesxContext* ctx, unsigned char block[8]);
void desx_finalize(tagDesxContext* ctx);

}  // namespace libapdu

#endif
