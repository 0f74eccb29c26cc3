// PIN derivations, challenge responses and single-block TDEA of the card
// families. Every routine checks its lengths first and, when one is wrong,
// returns without touching the output; results go through a local buffer so
// that a failing step never leaves half a key behind. A step that fails with
// the right lengths raises FFFF: a key, response or MAC that could not be
// computed is never left for the caller to send or install.
#include <climits>
#include <cstring>

#include "crypto.h"
#include "cvcrypto.h"
#include "libapdu.internal.h"

namespace libapdu LIBAPDU_API {

namespace {

const wchar_t kSource[] = LIBAPDU_SOURCE("crypto/crypto_corvid");

constexpr int kPkcs12Iterations = 999;

// RAII wipe of a fixed buffer.
template <size_t N>
struct Secret {
    unsigned char b[N] = {0};
    ~Secret() { SecureWipe(b, N); }
};

// MD5 of prefix || in; false when the input is too long for the one update.
bool Md5(const unsigned char* prefix, int prefixLength, const unsigned char* in, unsigned long inLength,
         unsigned char out[16]) {
    if (inLength > static_cast<unsigned long>(INT_MAX) || (inLength > 0 && !in)) return false;
    cvCryptoContext ctx;
    int n = 0;
    int r = cvCryptoHashInit(&ctx, cvCryptoAlgMD5);
    if (r == cvOk && prefixLength > 0) r = cvCryptoHashUpdate(&ctx, prefix, prefixLength);
    if (r == cvOk && inLength > 0) r = cvCryptoHashUpdate(&ctx, in, static_cast<int>(inLength));
    if (r == cvOk) r = cvCryptoHashResult(&ctx, out, &n);
    cvCryptoFree(&ctx);
    return r == cvOk;
}

void Pkcs12Sha1(int id, const unsigned char* password, unsigned long passwordLength, const unsigned char* salt,
                unsigned long saltLength, unsigned char* out, unsigned long outLength) {
    if (saltLength != 20 || outLength != 24 || !salt || !out) return;
    if (passwordLength > 0 && !password) return;
    Secret<24> key;
    if (passwordLength > static_cast<unsigned long>(INT_MAX / 4) ||
        cvCryptoPbePkcs12(cvCryptoAlgSHA1, password, static_cast<int>(passwordLength), salt, 20, kPkcs12Iterations,
                          id & 0xFF, key.b, 24) != cvOk)
        LIBAPDU_RAISE(kErrGeneral);
    std::memcpy(out, key.b, 24);
}

}  // namespace

void crypto_corvid_md5_iterated(const unsigned char* in, unsigned long inLength, unsigned char* out,
                                unsigned long outLength, unsigned long n) {
    if (outLength != 16 || !out || n == 0) return;
    Secret<16> h;
    if (!Md5(nullptr, 0, in, inLength, h.b)) LIBAPDU_RAISE(kErrGeneral);
    for (unsigned long i = 1; i < n; ++i)
        if (!Md5(nullptr, 0, h.b, 16, h.b)) LIBAPDU_RAISE(kErrGeneral);
    std::memcpy(out, h.b, 16);
}

void crypto_corvid_md5_32(const unsigned char* in, unsigned long inLength, const unsigned char*, unsigned long,
                          unsigned char* out, unsigned long outLength) {
    if (outLength != 32 || !out) return;
    Secret<32> h;
    crypto_corvid_md5_iterated(in, inLength, h.b, 16, 1);
    crypto_corvid_md5_iterated(in, inLength, h.b + 16, 16, 2);
    std::memcpy(out, h.b, 32);
}

void crypto_corvid_md5_24(const unsigned char* in, unsigned long inLength, const unsigned char*, unsigned long,
                          unsigned char* out, unsigned long outLength) {
    if (outLength != 24 || !out) return;
    static const unsigned char kZero = 0x00, kOne = 0x01;
    Secret<32> h;
    if (!Md5(&kZero, 1, in, inLength, h.b) || !Md5(&kOne, 1, in, inLength, h.b + 16)) LIBAPDU_RAISE(kErrGeneral);
    Secret<24> key;
    // h as a bit stream, least significant bit of each byte first; seven
    // stream bits per key byte, whose bit 7 (the DES parity bit) stays 0.
    for (int j = 0; j < 24; ++j) {
        unsigned v = 0;
        for (int b = 0; b < 7; ++b) {
            const int bit = 7 * j + b;
            v |= ((h.b[bit >> 3] >> (bit & 7)) & 1u) << b;
        }
        key.b[j] = static_cast<unsigned char>(v);
    }
    std::memcpy(out, key.b, 24);
}

void crypto_corvid_des3_enc(const unsigned char* in, unsigned long inLength, const unsigned char* key,
                            unsigned long keyLength, unsigned char* out, unsigned long outLength) {
    // Only one block is ever read: another input length would read past the
    // caller's buffer or drop bytes.
    if (inLength != 8 || keyLength != 24 || outLength != 8 || !in || !key || !out) return;
    cvCryptoContext ctx;
    Secret<8> block;
    int r = cvCryptoEcbInit(&ctx, cvCryptoAlgDES3, 0, key, 24);
    if (r == cvOk) r = cvCryptoEcb(&ctx, in, 8, block.b);
    cvCryptoFree(&ctx);
    if (r != cvOk) LIBAPDU_RAISE(kErrGeneral);
    std::memcpy(out, block.b, 8);
}

void crypto_corvid_des3cbc_enc(const unsigned char* in, unsigned long inLength, const unsigned char* key,
                               unsigned long keyLength, unsigned char* out, unsigned long outLength) {
    if (inLength != 8 || keyLength != 16 || outLength != 8 || !in || !key || !out) return;
    cvCryptoContext ctx;
    Secret<8> block;
    int n = 0;
    int r = cvCryptoCbcInit(&ctx, cvCryptoAlgDES3, 0, key, 16, nullptr, 0);
    if (r == cvOk) r = cvCryptoCbcFinal(&ctx, in, 8, cvPadNone, block.b, &n);
    cvCryptoFree(&ctx);
    if (r != cvOk || n != 8) LIBAPDU_RAISE(kErrGeneral);
    std::memcpy(out, block.b, 8);
}

void crypto_corvid_des3_mac(const unsigned char* in, unsigned long inLength, const unsigned char* key,
                            unsigned long keyLength, unsigned char* out, unsigned long outLength) {
    if (keyLength != 24 || outLength != 8 || !key || !out || (inLength > 0 && !in)) return;
    if (inLength > static_cast<unsigned long>(INT_MAX)) LIBAPDU_RAISE(kErrGeneral);
    cvCryptoContext ctx;
    Secret<8> mac;
    int n = 0;
    int r = cvCryptoMacInit(&ctx, cvCryptoAlgDES3, key, 24);
    if (r == cvOk) r = cvCryptoMacUpdate(&ctx, in, static_cast<int>(inLength));
    if (r == cvOk) r = cvCryptoMacResult(&ctx, cvPadIso9797M1, mac.b, &n);
    cvCryptoFree(&ctx);
    if (r != cvOk) LIBAPDU_RAISE(kErrGeneral);
    std::memcpy(out, mac.b, 8);
}

void crypto_corvid_java_sha1(int id, const unsigned char* password, unsigned long passwordLength,
                             const unsigned char* salt, unsigned long saltLength, unsigned char* out,
                             unsigned long outLength) {
    Pkcs12Sha1(id, password, passwordLength, salt, saltLength, out, outLength);
}

void crypto_corvid_kite_sha1(int id, const unsigned char* password, unsigned long passwordLength,
                             const unsigned char* salt, unsigned long saltLength, unsigned char* out,
                             unsigned long outLength) {
    Pkcs12Sha1(id, password, passwordLength, salt, saltLength, out, outLength);
}

void crypto_mirel_response(const unsigned char* secret, unsigned long secretLength, const unsigned char* challenge,
                           unsigned long challengeLength, unsigned char* out, unsigned long outLength) {
    if (secretLength == 0 || challengeLength != 16 || outLength != 16 || !secret || !challenge || !out) return;
    if (secretLength > static_cast<unsigned long>(INT_MAX)) LIBAPDU_RAISE(kErrGeneral);
    cvCryptoContext ctx;
    Secret<20> digest;
    Secret<16> response;
    int n = 0;
    int r = cvCryptoHashInit(&ctx, cvCryptoAlgSHA1);
    if (r == cvOk) r = cvCryptoHashUpdate(&ctx, secret, static_cast<int>(secretLength));
    if (r == cvOk) r = cvCryptoHashResult(&ctx, digest.b, &n);
    cvCryptoFree(&ctx);
    if (r != cvOk) LIBAPDU_RAISE(kErrGeneral);
    r = cvCryptoCbcInit(&ctx, cvCryptoAlgDES3, 0, digest.b, 16, nullptr, 0);
    if (r == cvOk) r = cvCryptoCbcFinal(&ctx, challenge, 16, cvPadNone, response.b, &n);
    cvCryptoFree(&ctx);
    if (r != cvOk || n != 16) LIBAPDU_RAISE(kErrGeneral);
    std::memcpy(out, response.b, 16);
}

}  // namespace libapdu
