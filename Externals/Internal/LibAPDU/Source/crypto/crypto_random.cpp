#include "crypto.h"

#include <openssl/rand.h>

#include "libapdu.internal.h"

namespace libapdu {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("crypto/crypto_random");
}

int crypto_random(unsigned char* buf, uint64_t n) {
    if (!buf || n == 0) return 0;
    // A buffer that was not filled must never pass for random bytes.
    while (n > 0) {
        const int chunk = n > (1u << 30) ? (1 << 30) : static_cast<int>(n);
        if (RAND_bytes(buf, chunk) != 1) LIBAPDU_RAISE(kErrGeneral);
        buf += chunk;
        n -= static_cast<uint64_t>(chunk);
    }
    return 0;
}

}  // namespace libapdu
