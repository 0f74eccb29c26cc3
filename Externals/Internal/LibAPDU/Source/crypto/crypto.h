// Cryptographic primitives used by the card facets.
#ifndef LIBAPDU_CRYPTO_H
#define LIBAPDU_CRYPTO_H

#include <cstdint>

namespace libapdu {

// Fills n bytes of buf with random bytes; returns the generator's result code.
int crypto_random(unsigned char* buf, uint64_t n);

}  // namespace libapdu

#endif
