// SHA-1 comes from libcrypto's low-level interface, which OpenSSL 3 marks as
// deprecated; its state is kept inside the caller's context record.
#define OPENSSL_SUPPRESS_DEPRECATED 1

#include "cvcrypto.h"

#include <openssl/rand.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "libapdu.internal.h"

namespace libapdu LIBAPDU_API {

extern "C" {
std::atomic<int> rv{0};
}

static_assert(sizeof(std::atomic<int>) == sizeof(int), "rv keeps the layout of an int");

namespace {

inline int Store(int code) {
    rv.store(code, std::memory_order_relaxed);
    return code;
}

inline bool IsBlockCipher(const cvCryptoContext* ctx) { return ctx->blockLength != 0 && ctx->digestLength == 0; }
inline bool IsHash(const cvCryptoContext* ctx) {
    return ctx->blockLength == 0 && ctx->keyLength == 0 && ctx->digestLength != 0;
}

inline void Xor8(unsigned char* dst, const unsigned char* a, const unsigned char* b) {
    for (int i = 0; i < 8; ++i) dst[i] = static_cast<unsigned char>(a[i] ^ b[i]);
}

// One CBC encryption step: whole blocks go straight to the cipher, a partial
// block waits in `pending` already XORed with the chaining value. With final
// padding the padding bytes are added and the block they complete is encrypted.
int EncryptBlocks(cvCryptoContext* ctx, const unsigned char* in, int length, unsigned char* out, int* outLength,
                  bool final, int padType) {
    const int bl = ctx->blockLength;
    int total = 0, n = 0, r = 0;
    int i = 0;
    while (i < length) {
        if (ctx->pendingCount == 0 && bl == 8 && length - i >= 8) {
            Xor8(ctx->pending, in + i, ctx->chaining);
            i += 8;
        } else {
            ctx->pending[ctx->pendingCount] = static_cast<unsigned char>(in[i] ^ ctx->chaining[ctx->pendingCount]);
            ++i;
            if (++ctx->pendingCount < bl) continue;
        }
        ctx->pendingCount = 0;
        if ((r = ctx->block(ctx, ctx->pending, bl, ctx->chaining, &n)) != cvOk) return r;
        if (out) std::memcpy(out + total, ctx->chaining, static_cast<size_t>(bl));
        total += bl;
    }
    if (final) {
        const int count = ctx->pendingCount;
        bool block = true;
        switch (padType) {
            case cvPadNone:
                if (count != 0) return cvErrBadLength;
                block = false;
                break;
            case cvPadPkcs5:
                for (int j = count; j < bl; ++j)
                    ctx->pending[j] = static_cast<unsigned char>((bl - count) ^ ctx->chaining[j]);
                break;
            case cvPadIso9797M2:
                ctx->pending[count] = static_cast<unsigned char>(0x80 ^ ctx->chaining[count]);
                for (int j = count + 1; j < bl; ++j) ctx->pending[j] = ctx->chaining[j];
                break;
            case cvPadIso9797M1:
                if (count == 0) {
                    block = false;
                    break;
                }
                for (int j = count; j < bl; ++j) ctx->pending[j] = ctx->chaining[j];
                break;
            default:
                return cvErrBadArgument;
        }
        if (block) {
            ctx->pendingCount = 0;
            if ((r = ctx->block(ctx, ctx->pending, bl, ctx->chaining, &n)) != cvOk) return r;
            if (out) std::memcpy(out + total, ctx->chaining, static_cast<size_t>(bl));
            total += bl;
        }
    }
    *outLength = total;
    return cvOk;
}

// One CBC decryption step. The last decrypted block stays pending, so that the
// final step can check and strip its padding.
int DecryptBlocks(cvCryptoContext* ctx, const unsigned char* in, int length, unsigned char* out, int* outLength,
                  bool final, int padType) {
    const int bl = ctx->blockLength;
    unsigned char plain[64];
    int total = 0, n = 0, r = cvOk;
    for (int i = 0; i < length; ++i) {
        if (ctx->pendingCount == bl) {
            if (out) std::memcpy(out + total, ctx->pending, static_cast<size_t>(bl));
            total += bl;
            ctx->pendingCount = 0;
        }
        ctx->pending[ctx->pendingCount++] = in[i];
        if (ctx->pendingCount == bl) {
            if ((r = ctx->block(ctx, ctx->pending, bl, plain, &n)) != cvOk) break;
            for (int j = 0; j < bl; ++j) plain[j] ^= ctx->chaining[j];
            std::memcpy(ctx->chaining, ctx->pending, static_cast<size_t>(bl));
            std::memcpy(ctx->pending, plain, static_cast<size_t>(bl));
        }
    }
    if (r == cvOk && final) {
        int keep = bl;
        if (ctx->pendingCount != bl) {
            r = cvErrBadLength;
        } else if (padType == cvPadPkcs5) {
            const int pad = ctx->pending[bl - 1];
            if (pad > bl) {
                r = cvErrBadPadding;
            } else if (pad != 0) {
                for (int j = bl - pad; j < bl; ++j)
                    if (ctx->pending[j] != pad) r = cvErrBadPadding;
                keep = bl - pad;
            }
        } else if (padType == cvPadIso9797M2) {
            int j = bl - 1;
            while (j >= 0 && ctx->pending[j] == 0) --j;
            if (j < 0 || ctx->pending[j] != 0x80)
                r = cvErrBadPadding;
            else
                keep = j;
        } else if (padType != cvPadNone) {
            r = cvErrBadArgument;
        }
        if (r == cvOk) {
            if (out) std::memcpy(out + total, ctx->pending, static_cast<size_t>(keep));
            total += keep;
            ctx->pendingCount = 0;
        }
    }
    SecureWipe(plain, sizeof plain);
    if (r == cvOk) *outLength = total;
    return r;
}

inline bool ValidPadType(int padType) { return padType >= cvPadNone && padType <= cvPadIso9797M1; }

// Output totals and size queries count in int: refuse input whose output,
// padding block included, could not be counted without overflow.
inline bool TooLong(const cvCryptoContext* ctx, int length) {
    return static_cast<long long>(length) + ctx->pendingCount + ctx->blockLength > INT_MAX;
}

// A hash keeps no key, no mode and no block length of its own: the context
// only gathers the input until the digest.
void StartHash(cvCryptoContext* ctx, cvCryptoAlgorithm algorithm, cvCryptoBlockFn block, int digestLength) {
    ctx->finalize = nullptr;
    ctx->algorithm = algorithm;
    ctx->block = block;
    ctx->mode = 0;
    ctx->pendingCount = 0;
    ctx->blockLength = 0;
    ctx->digestLength = digestLength;
    ctx->keyLength = 0;
}

}  // namespace

extern "C" {

// ------------------------------------------------------------ algorithms

int cvCryptoAlgMD5(cvCryptoContext* ctx, int, const unsigned char*, int) {
    if (!ctx) return Store(cvErrBadArgument);
    StartHash(ctx, cvCryptoAlgMD5, cvAlgMD5Process, 16);
    MD5Init(&ctx->state.md5);
    return Store(cvOk);
}

int cvCryptoAlgSHA1(cvCryptoContext* ctx, int, const unsigned char*, int) {
    if (!ctx) return Store(cvErrBadArgument);
    StartHash(ctx, cvCryptoAlgSHA1, cvAlgSHA1Process, 20);
    SHA1_Init(&ctx->state.sha1);
    return Store(cvOk);
}

int cvCryptoAlgDES3(cvCryptoContext* ctx, int mode, const unsigned char* key, int keyLength) {
    if (!ctx || !key || (keyLength != 16 && keyLength != 24) || (mode != 0 && mode != 1))
        return Store(cvErrBadArgument);
    ctx->finalize = cvAlgDES3Finalize;
    ctx->algorithm = cvCryptoAlgDES3;
    ctx->block = cvAlgDES3Block;
    ctx->mode = mode;
    des_initialize(key, &ctx->state.des[0]);
    des_initialize(key + 8, &ctx->state.des[1]);
    if (keyLength == 24)
        des_initialize(key + 16, &ctx->state.des[2]);
    else
        ctx->state.des[2] = ctx->state.des[0];
    ctx->pendingCount = 0;
    ctx->blockLength = 8;
    ctx->digestLength = 0;
    ctx->keyLength = keyLength;
    return Store(cvOk);
}

int cvCryptoAlgDES3_Lite(cvCryptoContext* ctx, int mode, const unsigned char* key, int keyLength) {
    const int r = cvCryptoAlgDES3(ctx, mode, key, keyLength);
    if (r != cvOk) return r;
    ctx->block = cvAlgDES3LiteBlock;
    ctx->algorithm = cvCryptoAlgDES3_Lite;
    return Store(cvOk);
}

int cvAlgMD5Process(cvCryptoContext* ctx, const unsigned char* in, int inLength, unsigned char* out, int* outLength) {
    if (!ctx) return Store(cvErrBadArgument);
    if (out && outLength) {
        *outLength = 16;
        MD5Final(out, &ctx->state.md5);
        return Store(cvOk);
    }
    if (!out && in && inLength >= 0) {
        MD5Update(&ctx->state.md5, in, static_cast<unsigned int>(inLength));
        return Store(cvOk);
    }
    return Store(cvErrBadArgument);
}

int cvAlgSHA1Process(cvCryptoContext* ctx, const unsigned char* in, int inLength, unsigned char* out,
                     int* outLength) {
    if (!ctx) return Store(cvErrBadArgument);
    if (out && outLength) {
        *outLength = 20;
        SHA1_Final(out, &ctx->state.sha1);
        return Store(cvOk);
    }
    if (!out && in && inLength >= 0) {
        SHA1_Update(&ctx->state.sha1, in, static_cast<size_t>(inLength));
        return Store(cvOk);
    }
    return Store(cvErrBadArgument);
}

int cvAlgDES3Block(cvCryptoContext* ctx, const unsigned char* in, int inLength, unsigned char* out, int* outLength) {
    if (!ctx || !in || !out || !outLength || inLength != 8) return Store(cvErrBadArgument);
    if (out != in) std::memcpy(out, in, 8);
    if (ctx->mode == 0) {
        des_encrypt(&ctx->state.des[0], out);
        des_decrypt(&ctx->state.des[1], out);
        des_encrypt(&ctx->state.des[2], out);
    } else {
        des_decrypt(&ctx->state.des[2], out);
        des_encrypt(&ctx->state.des[1], out);
        des_decrypt(&ctx->state.des[0], out);
    }
    *outLength = 8;
    return Store(cvOk);
}

int cvAlgDES3LiteBlock(cvCryptoContext* ctx, const unsigned char* in, int inLength, unsigned char* out,
                       int* outLength) {
    if (!ctx || !in || !out || !outLength || inLength != 8) return Store(cvErrBadArgument);
    if (out != in) std::memcpy(out, in, 8);
    if (ctx->mode == 0)
        des_encrypt(&ctx->state.des[0], out);
    else
        des_decrypt(&ctx->state.des[0], out);
    *outLength = 8;
    return Store(cvOk);
}

void cvAlgDES3Finalize(cvCryptoContext* ctx) {
    if (!ctx) return;
    for (auto& k : ctx->state.des) des_finalize(&k);
}

// ------------------------------------------------------------ generic routines

int cvCryptoFree(cvCryptoContext* ctx) {
    if (!ctx) return Store(cvErrBadArgument);
    if (ctx->finalize) ctx->finalize(ctx);
    SecureWipe(ctx, sizeof *ctx);
    return Store(cvOk);
}

int cvCryptoHashInit(cvCryptoContext* ctx, cvCryptoAlgorithm alg) {
    if (!ctx || !alg) return Store(cvErrBadArgument);
    const int r = alg(ctx, 0, nullptr, 0);
    if (r != cvOk) return Store(r);
    if (!IsHash(ctx)) return Store(cvErrBadArgument);
    return Store(cvOk);
}

int cvCryptoHashUpdate(cvCryptoContext* ctx, const unsigned char* data, int length) {
    if (!ctx || !ctx->block) return Store(cvErrBadArgument);
    return Store(ctx->block(ctx, data, length, nullptr, nullptr));
}

int cvCryptoHashResult(cvCryptoContext* ctx, unsigned char* out, int* outLength) {
    if (!ctx || !ctx->block) return Store(cvErrBadArgument);
    // The final form of the callback needs the length pointer as well.
    if (out) return Store(ctx->block(ctx, nullptr, 0, out, outLength));
    if (outLength) {
        *outLength = ctx->digestLength;
        return Store(cvOk);
    }
    return Store(cvErrBadArgument);
}

int cvCryptoEcbInit(cvCryptoContext* ctx, cvCryptoAlgorithm alg, int mode, const unsigned char* key, int keyLength) {
    if (!ctx || !alg) return Store(cvErrBadArgument);
    const int r = alg(ctx, mode, key, keyLength);
    if (r != cvOk) return Store(r);
    if (!IsBlockCipher(ctx)) return Store(cvErrBadArgument);
    return Store(cvOk);
}

int cvCryptoEcb(cvCryptoContext* ctx, const unsigned char* in, int length, unsigned char* out) {
    if (!ctx || !ctx->block || ctx->blockLength <= 0 || length < 0) return Store(cvErrBadArgument);
    const int bl = ctx->blockLength;
    if (length % bl != 0) return Store(cvErrBadLength);
    if (length == 0) return Store(cvOk);
    if (!in || !out) return Store(cvErrBadArgument);
    int n = 0;
    for (int i = 0; i < length; i += bl) {
        const int r = ctx->block(ctx, in + i, bl, out + i, &n);
        if (r != cvOk) return Store(r);
    }
    return Store(cvOk);
}

int cvCryptoCbcInit(cvCryptoContext* ctx, cvCryptoAlgorithm alg, int mode, const unsigned char* key, int keyLength,
                    const unsigned char* iv, int ivLength) {
    if (!ctx || !alg) return Store(cvErrBadArgument);
    const int r = alg(ctx, mode, key, keyLength);
    if (r != cvOk) return Store(r);
    if (!IsBlockCipher(ctx)) return Store(cvErrBadArgument);
    std::memset(ctx->chaining, 0, sizeof ctx->chaining);
    if (iv) {
        if (ivLength != ctx->blockLength) return Store(cvErrBadArgument);
        std::memcpy(ctx->chaining, iv, static_cast<size_t>(ivLength));
    }
    ctx->pendingCount = 0;
    return Store(cvOk);
}

int cvCryptoCbc(cvCryptoContext* ctx, const unsigned char* in, int length, unsigned char* out, int* outLength) {
    if (!ctx || !outLength || length < 0 || !ctx->block || !IsBlockCipher(ctx) || TooLong(ctx, length))
        return Store(cvErrBadArgument);
    const int bl = ctx->blockLength;
    if (!out) {
        // Size query. In decryption the last complete block is held back, but
        // only until the next byte arrives: a partial block after it releases
        // it, so anything less than this count would let the step write past
        // a buffer sized from the query.
        const int n = length + ctx->pendingCount;
        if (ctx->mode == 0)
            *outLength = bl * (n / bl);
        else
            *outLength = n > 0 ? bl * ((n - 1) / bl) : 0;
        return Store(cvOk);
    }
    if (length > 0 && !in) return Store(cvErrBadArgument);
    const int r = ctx->mode == 0 ? EncryptBlocks(ctx, in, length, out, outLength, false, cvPadNone)
                                 : DecryptBlocks(ctx, in, length, out, outLength, false, cvPadNone);
    return Store(r);
}

int cvCryptoCbcFinal(cvCryptoContext* ctx, const unsigned char* in, int length, int padType, unsigned char* out,
                     int* outLength) {
    if (!ctx || !outLength || length < 0 || !ctx->block || !IsBlockCipher(ctx) || TooLong(ctx, length))
        return Store(cvErrBadArgument);
    if (!ValidPadType(padType) || (ctx->mode == 1 && padType == cvPadIso9797M1)) return Store(cvErrBadArgument);
    const int bl = ctx->blockLength;
    if (!out) {
        // These sizes follow from the length alone; the data may be absent.
        const int n = length + ctx->pendingCount;
        if (padType == cvPadNone) {
            if (n % bl != 0) return Store(cvErrBadLength);
            *outLength = n;
            return Store(cvOk);
        }
        if (ctx->mode == 0) {
            // One block is always reserved, also for method 1, which may add none.
            *outLength = (n + bl) / bl * bl;
            return Store(cvOk);
        }
        // Decryption with padding: the exact length needs a dry run over the data.
        if (length > 0 && !in) return Store(cvErrBadArgument);
        unsigned char pending[64], chaining[64];
        const int count = ctx->pendingCount;
        std::memcpy(pending, ctx->pending, sizeof pending);
        std::memcpy(chaining, ctx->chaining, sizeof chaining);
        int size = 0;
        const int r = DecryptBlocks(ctx, in, length, nullptr, &size, true, padType);
        std::memcpy(ctx->pending, pending, sizeof pending);
        std::memcpy(ctx->chaining, chaining, sizeof chaining);
        ctx->pendingCount = count;
        SecureWipe(pending, sizeof pending);
        SecureWipe(chaining, sizeof chaining);
        if (r == cvOk) *outLength = size;
        return Store(r);
    }
    if (length > 0 && !in) return Store(cvErrBadArgument);
    const int r = ctx->mode == 0 ? EncryptBlocks(ctx, in, length, out, outLength, true, padType)
                                 : DecryptBlocks(ctx, in, length, out, outLength, true, padType);
    return Store(r);
}

int cvCryptoMacInit(cvCryptoContext* ctx, cvCryptoAlgorithm alg, const unsigned char* key, int keyLength) {
    return cvCryptoCbcInit(ctx, alg, 0, key, keyLength, nullptr, 0);
}

int cvCryptoMacUpdate(cvCryptoContext* ctx, const unsigned char* data, int length) {
    if (!ctx || length < 0 || (length > 0 && !data) || !ctx->block || !IsBlockCipher(ctx) || ctx->mode != 0 ||
        TooLong(ctx, length))
        return Store(cvErrBadArgument);
    int n = 0;
    return Store(EncryptBlocks(ctx, data, length, nullptr, &n, false, cvPadNone));
}

int cvCryptoMacUpdatePadded(cvCryptoContext* ctx, const unsigned char* data, int length, int padType) {
    if (!ctx || length < 0 || (length > 0 && !data) || !ctx->block || !IsBlockCipher(ctx) || ctx->mode != 0 ||
        !ValidPadType(padType) || TooLong(ctx, length))
        return Store(cvErrBadArgument);
    int n = 0;
    return Store(EncryptBlocks(ctx, data, length, nullptr, &n, true, padType));
}

int cvCryptoMacResult(cvCryptoContext* ctx, int padType, unsigned char* out, int* outLength) {
    if (!ctx || padType == cvPadNone || !ValidPadType(padType) || !outLength || !ctx->block ||
        !IsBlockCipher(ctx) || ctx->mode != 0)
        return Store(cvErrBadArgument);
    int n = 0;
    const int r = EncryptBlocks(ctx, nullptr, 0, nullptr, &n, true, padType);
    if (r != cvOk) return Store(r);
    if (out) {
        std::memcpy(out, ctx->chaining, static_cast<size_t>(ctx->blockLength));
        if (ctx->algorithm == cvCryptoAlgDES3_Lite) {
            // Retail MAC: the last block once more through D_K2 and E_K3.
            des_decrypt(&ctx->state.des[1], out);
            des_encrypt(&ctx->state.des[2], out);
        }
    }
    *outLength = ctx->blockLength;
    return Store(cvOk);
}

// ------------------------------------------------------------ PKCS#12

int cvCryptoPbePkcs12_Raw(cvCryptoAlgorithm hash, const unsigned char* password, int passwordLength,
                          const unsigned char* salt, int saltLength, int iterations, int id, unsigned char* out,
                          int outLength) {
    if (!hash || passwordLength < 0 || saltLength < 0 || iterations < 0 || outLength < 0 ||
        (passwordLength > 0 && !password) || (saltLength > 0 && !salt) || (outLength > 0 && !out))
        return Store(cvErrBadArgument);
    constexpr int v = 64;
    const long long sLen = (static_cast<long long>(saltLength) + v - 1) / v * v;
    const long long pLen = (static_cast<long long>(passwordLength) + v - 1) / v * v;
    if (sLen + pLen > INT_MAX - 8) return Store(cvErrBadArgument);
    const int iLen = static_cast<int>(sLen + pLen);
    unsigned char* I = nullptr;
    if (iLen > 0) {
        I = static_cast<unsigned char*>(cvAllocateMemory(iLen));
        if (!I) return Store(cvErrNoMemory);
        for (long long k = 0; k < sLen; ++k) I[k] = salt[k % saltLength];
        for (long long k = 0; k < pLen; ++k) I[sLen + k] = password[k % passwordLength];
    }

    cvCryptoContext ctx;
    std::memset(&ctx, 0, sizeof ctx);
    int r = cvCryptoHashInit(&ctx, hash);
    unsigned char D[v], A[64], B[v];
    std::memset(D, id & 0xFF, sizeof D);
    const int u = ctx.digestLength;
    if (r == cvOk && (u <= 0 || u > 64)) r = cvErrBadArgument;
    int produced = 0;
    while (r == cvOk && produced < outLength) {
        int n = 0;
        // RFC 7292 asks for at least one iteration; a count of 0 is taken as 1.
        for (int it = 0; r == cvOk && it < (iterations > 0 ? iterations : 1); ++it) {
            r = cvCryptoHashInit(&ctx, hash);
            if (r == cvOk) r = it == 0 ? cvCryptoHashUpdate(&ctx, D, v) : cvCryptoHashUpdate(&ctx, A, u);
            if (r == cvOk && it == 0 && iLen > 0) r = cvCryptoHashUpdate(&ctx, I, iLen);
            if (r == cvOk) r = cvCryptoHashResult(&ctx, A, &n);
        }
        if (r != cvOk) break;
        const int take = outLength - produced < u ? outLength - produced : u;
        std::memcpy(out + produced, A, static_cast<size_t>(take));
        produced += take;
        if (produced >= outLength) break;
        for (int k = 0; k < v; ++k) B[k] = A[k % u];
        // I_j = (I_j + B + 1) mod 2^512, big-endian.
        for (int j = 0; j < iLen; j += v) {
            unsigned carry = 1;
            for (int k = v - 1; k >= 0; --k) {
                carry += static_cast<unsigned>(I[j + k]) + B[k];
                I[j + k] = static_cast<unsigned char>(carry);
                carry >>= 8;
            }
        }
    }
    cvCryptoFree(&ctx);
    if (I) cvFreeMemory(I);
    SecureWipe(A, sizeof A);
    SecureWipe(B, sizeof B);
    return Store(r);
}

int cvCryptoPbePkcs12(cvCryptoAlgorithm hash, const unsigned char* password, int passwordLength,
                      const unsigned char* salt, int saltLength, int iterations, int id, unsigned char* out,
                      int outLength) {
    if (passwordLength < 0 || passwordLength > (INT_MAX - 16) / 2 || (passwordLength > 0 && !password))
        return Store(cvErrBadArgument);
    // BMPString: each byte is one Latin-1 character, then a 00 00 terminator.
    const int bmpLength = 2 * passwordLength + 2;
    unsigned char* bmp = static_cast<unsigned char*>(cvAllocateMemory(bmpLength));
    if (!bmp) return Store(cvErrNoMemory);
    for (int k = 0; k < passwordLength; ++k) {
        bmp[2 * k] = 0;
        bmp[2 * k + 1] = password[k];
    }
    bmp[bmpLength - 2] = bmp[bmpLength - 1] = 0;
    const int r = cvCryptoPbePkcs12_Raw(hash, bmp, bmpLength, salt, saltLength, iterations, id, out, outLength);
    cvFreeMemory(bmp);
    return Store(r);
}

// ------------------------------------------------------------ random bytes

int cvCryptoRandomGenerate(void* generator, unsigned char* buffer, int length) {
    if (!buffer || length <= 0) return Store(cvErrBadArgument);
    if (generator) return Store(cvOk);
    if (RAND_bytes(buffer, length) != 1) {
        // A buffer that was not filled must not look like random bytes.
        SecureWipe(buffer, static_cast<size_t>(length));
        return Store(cvErrFailure);
    }
    return Store(cvOk);
}

// ------------------------------------------------------------ memory

void* cvAllocateMemory(int length) {
    if (length <= 0 || length > INT_MAX - static_cast<int>(sizeof(int))) return nullptr;
    unsigned char* block = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(length) + sizeof(int)));
    if (!block) return nullptr;
    std::memcpy(block, &length, sizeof(int));
    return block + sizeof(int);
}

void cvFreeMemory(void* p) {
    if (!p) return;
    unsigned char* block = static_cast<unsigned char*>(p) - sizeof(int);
    int length = 0;
    std::memcpy(&length, block, sizeof(int));
    SecureWipe(p, static_cast<size_t>(length));
    std::free(block);
}

int cvZeroMemory(void* p, int length) {
    if (length < 0 || (length > 0 && !p)) return cvErrBadArgument;
    if (length > 0) SecureWipe(p, static_cast<size_t>(length));
    return cvOk;
}

}  // extern "C"

}  // namespace libapdu
