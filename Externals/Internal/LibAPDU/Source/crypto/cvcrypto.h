// The cv layer: one caller-owned context record, algorithm init routines and
// generic hash, ECB, CBC, MAC, PKCS#12 and random-byte routines over it.
// Nothing here throws; every routine returns an int result code and records it
// in the exported `rv`.
#ifndef LIBAPDU_CRYPTO_CVCRYPTO_H
#define LIBAPDU_CRYPTO_CVCRYPTO_H

#include <openssl/sha.h>

#include <atomic>

#include "des.h"
#include "md5.h"

namespace libapdu LIBAPDU_API {

struct cvCryptoContext;

// Result codes.
enum : int {
    cvOk = 0,
    cvErrFailure = static_cast<int>(0xFFFF0001u),      // the random source failed
    cvErrBadArgument = static_cast<int>(0xFFFF0004u),  // null pointer, bad length, mode, padding or algorithm kind
    cvErrBadPadding = static_cast<int>(0xFFFF0005u),   // padding check failed when decrypting
    cvErrBadLength = static_cast<int>(0xFFFF0006u),    // data not a whole number of blocks where it must be
    cvErrNoMemory = static_cast<int>(0xFFFF0007u),     // allocation failed
};

// Padding types of the final steps.
enum : int {
    cvPadNone = 0,
    cvPadPkcs5 = 1,
    cvPadIso9797M2 = 2,  // 80 00 .. 00, always added
    cvPadIso9797M1 = 3,  // zeros, only when a partial block is pending
};

extern "C" {

// Algorithm init routine; the hashes ignore mode and key.
typedef int (*cvCryptoAlgorithm)(cvCryptoContext* ctx, int mode, const unsigned char* key, int keyLength);
typedef int (*cvCryptoBlockFn)(cvCryptoContext* ctx, const unsigned char* in, int inLength, unsigned char* out,
                               int* outLength);
typedef void (*cvCryptoFinalizeFn)(cvCryptoContext* ctx);

}  // extern "C"

struct cvCryptoContext {
    cvCryptoFinalizeFn finalize;
    cvCryptoAlgorithm algorithm;  // compared by identity
    cvCryptoBlockFn block;
    int mode;  // 0 encrypt, 1 decrypt
    union {
        MD5_CTX md5;
        SHA_CTX sha1;
        tagDesContext des[3];  // K1, K2, K3
    } state;
    unsigned char chaining[64];
    unsigned char pending[64];
    int pendingCount;
    int blockLength;
    int digestLength;
    int keyLength;
};

extern "C" {

// Result of the last routine that recorded one. Several Java threads write it
// at once, so it is atomic; it has the size and layout of an int.
extern std::atomic<int> rv;

int cvCryptoAlgMD5(cvCryptoContext* ctx, int mode, const unsigned char* key, int keyLength);
int cvCryptoAlgSHA1(cvCryptoContext* ctx, int mode, const unsigned char* key, int keyLength);
int cvCryptoAlgDES3(cvCryptoContext* ctx, int mode, const unsigned char* key, int keyLength);
int cvCryptoAlgDES3_Lite(cvCryptoContext* ctx, int mode, const unsigned char* key, int keyLength);

int cvAlgMD5Process(cvCryptoContext* ctx, const unsigned char* in, int inLength, unsigned char* out, int* outLength);
int cvAlgSHA1Process(cvCryptoContext* ctx, const unsigned char* in, int inLength, unsigned char* out, int* outLength);
int cvAlgDES3Block(cvCryptoContext* ctx, const unsigned char* in, int inLength, unsigned char* out, int* outLength);
int cvAlgDES3LiteBlock(cvCryptoContext* ctx, const unsigned char* in, int inLength, unsigned char* out,
                       int* outLength);
void cvAlgDES3Finalize(cvCryptoContext* ctx);

int cvCryptoFree(cvCryptoContext* ctx);

int cvCryptoHashInit(cvCryptoContext* ctx, cvCryptoAlgorithm alg);
int cvCryptoHashUpdate(cvCryptoContext* ctx, const unsigned char* data, int length);
int cvCryptoHashResult(cvCryptoContext* ctx, unsigned char* out, int* outLength);

int cvCryptoEcbInit(cvCryptoContext* ctx, cvCryptoAlgorithm alg, int mode, const unsigned char* key, int keyLength);
int cvCryptoEcb(cvCryptoContext* ctx, const unsigned char* in, int length, unsigned char* out);

int cvCryptoCbcInit(cvCryptoContext* ctx, cvCryptoAlgorithm alg, int mode, const unsigned char* key, int keyLength,
                    const unsigned char* iv, int ivLength);
int cvCryptoCbc(cvCryptoContext* ctx, const unsigned char* in, int length, unsigned char* out, int* outLength);
int cvCryptoCbcFinal(cvCryptoContext* ctx, const unsigned char* in, int length, int padType, unsigned char* out,
                     int* outLength);

int cvCryptoMacInit(cvCryptoContext* ctx, cvCryptoAlgorithm alg, const unsigned char* key, int keyLength);
int cvCryptoMacUpdate(cvCryptoContext* ctx, const unsigned char* data, int length);
int cvCryptoMacUpdatePadded(cvCryptoContext* ctx, const unsigned char* data, int length, int padType);
int cvCryptoMacResult(cvCryptoContext* ctx, int padType, unsigned char* out, int* outLength);

int cvCryptoPbePkcs12_Raw(cvCryptoAlgorithm hash, const unsigned char* password, int passwordLength,
                          const unsigned char* salt, int saltLength, int iterations, int id, unsigned char* out,
                          int outLength);
int cvCryptoPbePkcs12(cvCryptoAlgorithm hash, const unsigned char* password, int passwordLength,
                      const unsigned char* salt, int saltLength, int iterations, int id, unsigned char* out,
                      int outLength);

// A non-null generator writes nothing and succeeds; otherwise the bytes come
// from the OpenSSL CSPRNG.
int cvCryptoRandomGenerate(void* generator, unsigned char* buffer, int length);

void* cvAllocateMemory(int length);
void cvFreeMemory(void* p);
int cvZeroMemory(void* p, int length);

}  // extern "C"

}  // namespace libapdu

#endif
