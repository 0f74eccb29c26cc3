#include "des.h"

#include <cstring>

namespace libapdu LIBAPDU_API {

namespace {

// FIPS 46-3 tables, 1-based bit numbers with bit 1 the most significant.
constexpr unsigned char kPC1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18, 10, 2,  59, 51, 43,
                                    35, 27, 19, 11, 3,  60, 52, 44, 36, 63, 55, 47, 39, 31, 23, 15, 7,  62, 54,
                                    46, 38, 30, 22, 14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};
constexpr unsigned char kPC2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
                                    26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
                                    51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};
constexpr unsigned char kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};
constexpr unsigned char kP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                                  2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};
constexpr unsigned char kS[8][64] = {
    {
        14,  4, 13,  1,  2, 15, 11,  8,  3, 10,  6, 12,  5,  9,  0,  7,
         0, 15,  7,  4, 14,  2, 13,  1, 10,  6, 12, 11,  9,  5,  3,  8,
         4,  1, 14,  8, 13,  6,  2, 11, 15, 12,  9,  7,  3, 10,  5,  0,
        15, 12,  8,  2,  4,  9,  1,  7,  5, 11,  3, 14, 10,  0,  6, 13,
    },
    {
        15,  1,  8, 14,  6, 11,  3,  4,  9,  7,  2, 13, 12,  0,  5, 10,
         3, 13,  4,  7, 15,  2,  8, 14, 12,  0,  1, 10,  6,  9, 11,  5,
         0, 14,  7, 11, 10,  4, 13,  1,  5,  8, 12,  6,  9,  3,  2, 15,
        13,  8, 10,  1,  3, 15,  4,  2, 11,  6,  7, 12,  0,  5, 14,  9,
    },
    {
        10,  0,  9, 14,  6,  3, 15,  5,  1, 13, 12,  7, 11,  4,  2,  8,
        13,  7,  0,  9,  3,  4,  6, 10,  2,  8,  5, 14, 12, 11, 15,  1,
        13,  6,  4,  9,  8, 15,  3,  0, 11,  1,  2, 12,  5, 10, 14,  7,
         1, 10, 13,  0,  6,  9,  8,  7,  4, 15, 14,  3, 11,  5,  2, 12,
    },
    {
         7, 13, 14,  3,  0,  6,  9, 10,  1,  2,  8,  5, 11, 12,  4, 15,
        13,  8, 11,  5,  6, 15,  0,  3,  4,  7,  2, 12,  1, 10, 14,  9,
        10,  6,  9,  0, 12, 11,  7, 13, 15,  1,  3, 14,  5,  2,  8,  4,
         3, 15,  0,  6, 10,  1, 13,  8,  9,  4,  5, 11, 12,  7,  2, 14,
    },
    {
         2, 12,  4,  1,  7, 10, 11,  6,  8,  5,  3, 15, 13,  0, 14,  9,
        14, 11,  2, 12,  4,  7, 13,  1,  5,  0, 15, 10,  3,  9,  8,  6,
         4,  2,  1, 11, 10, 13,  7,  8, 15,  9, 12,  5,  6,  3,  0, 14,
        11,  8, 12,  7,  1, 14,  2, 13,  6, 15,  0,  9, 10,  4,  5,  3,
    },
    {
        12,  1, 10, 15,  9,  2,  6,  8,  0, 13,  3,  4, 14,  7,  5, 11,
        10, 15,  4,  2,  7, 12,  9,  5,  6,  1, 13, 14,  0, 11,  3,  8,
         9, 14, 15,  5,  2,  8, 12,  3,  7,  0,  4, 10,  1, 13, 11,  6,
         4,  3,  2, 12,  9,  5, 15, 10, 11, 14,  1,  7,  6,  0,  8, 13,
    },
    {
         4, 11,  2, 14, 15,  0,  8, 13,  3, 12,  9,  7,  5, 10,  6,  1,
        13,  0, 11,  7,  4,  9,  1, 10, 14,  3,  5, 12,  2, 15,  8,  6,
         1,  4, 11, 13, 12,  3,  7, 14, 10, 15,  6,  8,  0,  5,  9,  2,
         6, 11, 13,  8,  1,  4, 10,  7,  9,  5,  0, 15, 14,  2,  3, 12,
    },
    {
        13,  2,  8,  4,  6, 15, 11,  1, 10,  9,  3, 14,  5,  0, 12,  7,
         1, 15, 13,  8, 10,  3,  7,  4, 12,  5,  6, 11,  0, 14,  9,  2,
         7, 11,  4,  1,  9, 12, 14,  2,  0,  6, 10, 13, 15,  3,  5,  8,
         2,  1, 14,  7,  4, 10,  8, 13, 15, 12,  9,  0,  3,  5,  6, 11,
    },
};

// Combined S-box and P tables: kSP[i][v] is P applied to the output of S-box i+1
// for the 6-bit input v, placed in its nibble of the round word.
struct SPTables {
    uint32_t t[8][64];
};

constexpr SPTables MakeSP() {
    SPTables sp{};
    for (int i = 0; i < 8; ++i) {
        for (int v = 0; v < 64; ++v) {
            const int row = ((v >> 4) & 2) | (v & 1);
            const int col = (v >> 1) & 15;
            const uint32_t s = static_cast<uint32_t>(kS[i][row * 16 + col]) << (28 - 4 * i);
            uint32_t p = 0;
            for (int j = 0; j < 32; ++j)
                if (s & (0x80000000u >> (kP[j] - 1))) p |= 0x80000000u >> j;
            sp.t[i][v] = p;
        }
    }
    return sp;
}

constexpr SPTables kSP = MakeSP();

inline uint32_t Load32(const unsigned char* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}
inline void Store32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}
inline uint32_t Rotl(uint32_t v, int n) { return (v << n) | (v >> (32 - n)); }
inline uint32_t Rotr(uint32_t v, int n) { return (v >> n) | (v << (32 - n)); }

// Swaps the bits of b selected by m with the bits of a selected by m << n.
inline void PermOp(uint32_t& a, uint32_t& b, int n, uint32_t m) {
    const uint32_t t = ((a >> n) ^ b) & m;
    b ^= t;
    a ^= t << n;
}

// The initial permutation as swap-and-mask steps; l and r end as L0 and R0.
inline void InitialPermutation(uint32_t& l, uint32_t& r) {
    PermOp(l, r, 4, 0x0f0f0f0fu);
    PermOp(l, r, 16, 0x0000ffffu);
    PermOp(r, l, 2, 0x33333333u);
    PermOp(r, l, 8, 0x00ff00ffu);
    PermOp(l, r, 1, 0x55555555u);
}

// The inverse of InitialPermutation: the same steps in reverse order.
inline void FinalPermutation(uint32_t& l, uint32_t& r) {
    PermOp(l, r, 1, 0x55555555u);
    PermOp(r, l, 8, 0x00ff00ffu);
    PermOp(r, l, 2, 0x33333333u);
    PermOp(l, r, 16, 0x0000ffffu);
    PermOp(l, r, 4, 0x0f0f0f0fu);
}

// The round function: E is implicit in the two rotations, whose 6-bit fields at
// bits 26, 18, 10 and 2 are the S-box inputs 1, 3, 5, 7 and 2, 4, 6, 8.
inline uint32_t F(uint32_t r, const uint32_t* k) {
    const uint32_t x = Rotr(r, 1) ^ k[0];
    const uint32_t y = Rotl(r, 3) ^ k[1];
    return kSP.t[0][(x >> 26) & 63] ^ kSP.t[2][(x >> 18) & 63] ^ kSP.t[4][(x >> 10) & 63] ^
           kSP.t[6][(x >> 2) & 63] ^ kSP.t[1][(y >> 26) & 63] ^ kSP.t[3][(y >> 18) & 63] ^
           kSP.t[5][(y >> 10) & 63] ^ kSP.t[7][(y >> 2) & 63];
}

inline void Crypt(const tagDesContext* ctx, unsigned char* block, bool decrypt) {
    uint32_t l = Load32(block), r = Load32(block + 4);
    InitialPermutation(l, r);
    if (!decrypt) {
        for (int i = 0; i < 16; i += 2) {
            l ^= F(r, ctx->subkeys[i]);
            r ^= F(l, ctx->subkeys[i + 1]);
        }
    } else {
        for (int i = 15; i > 0; i -= 2) {
            l ^= F(r, ctx->subkeys[i]);
            r ^= F(l, ctx->subkeys[i - 1]);
        }
    }
    // The last round does not swap: the pre-output is R16 L16.
    FinalPermutation(r, l);
    Store32(block, r);
    Store32(block + 4, l);
}

inline bool Bit(const unsigned char* bytes, int n) { return (bytes[(n - 1) >> 3] >> (7 - ((n - 1) & 7))) & 1; }

}  // namespace

void des_initialize(const unsigned char key[8], tagDesContext* ctx) {
    // C and D as 28-bit values, bit 1 of each at bit 27.
    uint32_t c = 0, d = 0;
    unsigned char chunk[8];
    for (int i = 0; i < 28; ++i) {
        c = (c << 1) | (Bit(key, kPC1[i]) ? 1u : 0u);
        d = (d << 1) | (Bit(key, kPC1[28 + i]) ? 1u : 0u);
    }
    for (int round = 0; round < 16; ++round) {
        for (int s = 0; s < kShifts[round]; ++s) {
            c = ((c << 1) | (c >> 27)) & 0x0fffffffu;
            d = ((d << 1) | (d >> 27)) & 0x0fffffffu;
        }
        std::memset(chunk, 0, sizeof chunk);
        for (int j = 0; j < 48; ++j) {
            const int src = kPC2[j];
            const uint32_t bit = src <= 28 ? (c >> (28 - src)) & 1 : (d >> (56 - src)) & 1;
            chunk[j / 6] = static_cast<unsigned char>(chunk[j / 6] | (bit << (5 - j % 6)));
        }
        ctx->subkeys[round][0] = (uint32_t(chunk[0]) << 26) | (uint32_t(chunk[2]) << 18) |
                                 (uint32_t(chunk[4]) << 10) | (uint32_t(chunk[6]) << 2);
        ctx->subkeys[round][1] = (uint32_t(chunk[1]) << 26) | (uint32_t(chunk[3]) << 18) |
                                 (uint32_t(chunk[5]) << 10) | (uint32_t(chunk[7]) << 2);
    }
    // Nothing of the key may stay on the stack: neither C and D nor the last
    // round's subkey bits.
    volatile uint32_t* vc = &c;
    volatile uint32_t* vd = &d;
    *vc = 0;
    *vd = 0;
    volatile unsigned char* vk = chunk;
    for (size_t i = 0; i < sizeof chunk; ++i) vk[i] = 0;
}

void des_encrypt(const tagDesContext* ctx, unsigned char block[8]) { Crypt(ctx, block, false); }
void des_decrypt(const tagDesContext* ctx, unsigned char block[8]) { Crypt(ctx, block, true); }
void des_finalize(tagDesContext*) {}

void desx_initialize(const unsigned char key[16], tagDesxContext* ctx) {
    des_initialize(key, &ctx->des);
    std::memcpy(ctx->whitening, key + 8, 8);
}

void desx_encrypt(const tagDesxContext* ctx, unsigned char block[8]) {
    for (int i = 0; i < 8; ++i) block[i] ^= ctx->whitening[i];
    des_encrypt(&ctx->des, block);
    for (int i = 0; i < 8; ++i) block[i] ^= ctx->whitening[i];
}

void desx_decrypt(const tagDesxContext* ctx, unsigned char block[8]) {
    for (int i = 0; i < 8; ++i) block[i] ^= ctx->whitening[i];
    des_decrypt(&ctx->des, block);
    for (int i = 0; i < 8; ++i) block[i] ^= ctx->whitening[i];
}

void desx_finalize(tagDesxContext*) {}

}  // namespace libapdu
