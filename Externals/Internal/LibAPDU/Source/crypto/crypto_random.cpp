#include "crypto.h"

#include "cvcrypto.h"
#include "libapdu.internal.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("crypto/crypto_random");
}

int crypto_random(unsigned char* buf, uint64_t n) {
    if (!buf || n == 0) return 0;
    // The generator takes an int count; larger requests go in pieces.
    while (n > 0) {
        const int chunk = n > (1u << 30) ? (1 << 30) : static_cast<int>(n);
        // A buffer that was not filled must never pass for random bytes.
        if (cvCryptoRandomGenerate(nullptr, buf, chunk) != cvOk) LIBAPDU_RAISE(kErrGeneral);
        buf += chunk;
        n -= static_cast<uint64_t>(chunk);
    }
    return 0;
}

}  // namespace libapdu
