#include "test_crypto_util.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/err.h>

#include <cstring>
#include <functional>

#include "crypto/vlong.h"
#include "libapdu.h"

using namespace cryptotest;

namespace {

struct BnCtx {
    BN_CTX* ctx = BN_CTX_new();
    ~BnCtx() { BN_CTX_free(ctx); }
};

BIGNUM* ToBn(const Bytes& b) { return BN_bin2bn(b.data(), static_cast<int>(b.size()), nullptr); }

Bytes FromBn(const BIGNUM* bn) {
    Bytes b(static_cast<size_t>(BN_num_bytes(bn)));
    BN_bn2bin(bn, b.data());
    return b;
}

// Big-endian magnitude without leading zero bytes.
Bytes Mag(const vlong& v) {
    cryptotest::Bytes b(v.size());
    v.to_hex(b.data(), static_cast<unsigned>(b.size()));
    size_t i = 0;
    while (i < b.size() && b[i] == 0) ++i;
    return cryptotest::Bytes(b.begin() + static_cast<long>(i), b.end());
}

vlong V(const cryptotest::Bytes& b) { return vlong(b.data(), static_cast<unsigned>(b.size())); }

// A random number of exactly `bits` bits (top bit set), odd when asked.
cryptotest::Bytes RandomBits(ByteSource& src, unsigned bits, bool odd) {
    cryptotest::Bytes b = src.take((bits + 7) / 8);
    const unsigned top = bits % 8 ? bits % 8 : 8;
    b[0] = static_cast<unsigned char>((b[0] & ((1u << top) - 1)) | (1u << (top - 1)));
    if (odd) b.back() |= 1;
    return b;
}

void ExpectRaises6B00(const std::function<void()>& f) {
    try {
        f();
        ADD_FAILURE() << "nothing raised";
    } catch (const libapdu::IException& e) {
        EXPECT_EQ(e.code(), 0x6B00);
    }
}

}  // namespace

TEST(Vlong, ByteConversions) {
    const unsigned char b0100[] = {0x01, 0x00}, b00000001[] = {0, 0, 0, 1};
    EXPECT_EQ(static_cast<unsigned>(vlong(b0100, 2)), 256u);
    EXPECT_EQ(static_cast<unsigned>(vlong(b00000001, 4)), 1u);
    EXPECT_EQ(vlong(256).size(), 4u);
    EXPECT_EQ(vlong(0u).size(), 0u);
    unsigned char out[8];
    std::memset(out, 0xCC, sizeof out);
    vlong(256).to_hex(out, 8);
    EXPECT_EQ(ToHex(out, 8), "0000000000000100");
    std::memset(out, 0xCC, sizeof out);
    vlong(256).to_hex(out, 2);  // smaller than size(): stays all zero
    EXPECT_EQ(ToHex(out, 2), "0000");
    const unsigned char five[] = {1, 2, 3, 4, 5};
    vlong v(five, 5);
    EXPECT_EQ(v.size(), 8u);
    v.to_hex(out, 8);
    EXPECT_EQ(ToHex(out, 8), "0000000102030405");

    ByteSource src(20);
    for (int i = 0; i < 300; ++i) {
        cryptotest::Bytes b = src.take(static_cast<size_t>(i % 300));
        if (i % 5 == 0 && !b.empty()) b[0] = 0;  // leading zeros are dropped
        BIGNUM* bn = ToBn(b);
        const vlong x = V(b);
        EXPECT_EQ(x.size(), 4 * ((static_cast<unsigned>(BN_num_bytes(bn)) + 3) / 4));
        ASSERT_EQ(ToHex(Mag(x)), ToHex(FromBn(bn))) << i;
        BN_free(bn);
    }
}

TEST(Vlong, ArithmeticAgreesWithOpenSsl) {
    ByteSource src(21);
    BnCtx bc;
    for (int i = 0; i < 300; ++i) {
        const cryptotest::Bytes a = src.take(1 + src.word() % 128), b = src.take(1 + src.word() % 64);
        BIGNUM *A = ToBn(a), *B = ToBn(b), *r = BN_new(), *q = BN_new();
        const vlong x = V(a), y = V(b);
        BN_mul(r, A, B, bc.ctx);
        ASSERT_EQ(ToHex(Mag(x * y)), ToHex(FromBn(r))) << i;
        BN_add(r, A, B);
        ASSERT_EQ(ToHex(Mag(x + y)), ToHex(FromBn(r))) << i;
        if (!BN_is_zero(B)) {
            BN_div(q, r, A, B, bc.ctx);
            ASSERT_EQ(ToHex(Mag(x / y)), ToHex(FromBn(q))) << i;
            ASSERT_EQ(ToHex(Mag(x % y)), ToHex(FromBn(r))) << i;
        }
        if (BN_cmp(A, B) >= 0) {
            BN_sub(r, A, B);
            ASSERT_EQ(ToHex(Mag(x - y)), ToHex(FromBn(r))) << i;
        }
        BN_free(A);
        BN_free(B);
        BN_free(r);
        BN_free(q);
    }
}

TEST(Vlong, SignsAndCopyOnWrite) {
    const vlong a(5), b(7);
    const vlong d = a - b;
    EXPECT_TRUE(d.is_neg());
    EXPECT_EQ(d + b, a);
    EXPECT_LT(d, vlong(0u));
    EXPECT_EQ(static_cast<unsigned>((d * b) + vlong(14 + 35)), 35u);  // -14 + 49
    EXPECT_TRUE((vlong(0u) - vlong(0u)).is_neg() == 0);
    EXPECT_EQ((vlong(0u) - vlong(7)) % vlong(3), vlong(0u) - vlong(1));  // sign of the dividend

    vlong x(100);
    vlong copy = x;
    x += vlong(1);
    EXPECT_EQ(static_cast<unsigned>(copy), 100u);
    EXPECT_EQ(static_cast<unsigned>(x), 101u);
}

// Every sign combination of += and -=, including the branch where the smaller
// magnitude is on the left and the result takes the other operand's sign.
TEST(Vlong, SignedAddAndSubtractInPlace) {
    const auto V = [](int n) { return n >= 0 ? vlong(static_cast<unsigned>(n)) : vlong(0u) - vlong(-n); };
    const int values[] = {-9, -4, 0, 4, 9};
    for (int a : values) {
        for (int b : values) {
            vlong sum = V(a), diff = V(a);
            sum += V(b);
            diff -= V(b);
            EXPECT_EQ(sum, V(a + b)) << a << " + " << b;
            EXPECT_EQ(sum.is_neg(), a + b < 0 ? 1 : 0) << a << " + " << b;
            EXPECT_EQ(diff, V(a - b)) << a << " - " << b;
            EXPECT_EQ(diff.is_neg(), a - b < 0 ? 1 : 0) << a << " - " << b;
        }
        vlong self = V(a);
        self -= self;
        EXPECT_EQ(self, vlong(0u)) << a;
        EXPECT_EQ(self.is_neg(), 0) << a;
        self = V(a);
        self += self;
        EXPECT_EQ(self, V(2 * a)) << a;
    }
}

// The Montgomery tests run on each build of the word loops the processor has,
// not only on the one picked for it.
class VlongRows : public ::testing::TestWithParam<vlong_rows> {
protected:
    void SetUp() override {
        if (!vlong_use_rows(GetParam())) GTEST_SKIP() << "this processor lacks that build";
    }
    void TearDown() override { vlong_use_rows(vlong_rows_best); }
};

INSTANTIATE_TEST_SUITE_P(Builds, VlongRows, ::testing::Values(vlong_rows_plain, vlong_rows_avx2, vlong_rows_avx512),
                         [](const ::testing::TestParamInfo<vlong_rows>& i) {
                             return i.param == vlong_rows_plain ? "plain" : i.param == vlong_rows_avx2 ? "avx2" : "avx512";
                         });

TEST_P(VlongRows, ModexpAgreesWithBnModExp) {
    ByteSource src(22);
    BnCtx bc;
    for (unsigned bits : {1024u, 1536u, 2040u}) {
        for (int i = 0; i < 12; ++i) {
            const cryptotest::Bytes m = RandomBits(src, bits, true);
            const cryptotest::Bytes x = src.take(bits / 8 - 1), e = src.take(20);
            BIGNUM *M = ToBn(m), *X = ToBn(x), *E = ToBn(e), *r = BN_new();
            BN_mod_exp(r, X, E, M, bc.ctx);
            ASSERT_EQ(ToHex(Mag(modexp(V(x), V(e), V(m)))), ToHex(FromBn(r))) << bits << "/" << i;
            BN_free(M);
            BN_free(X);
            BN_free(E);
            BN_free(r);
        }
    }
}

// x * y * 2^-N mod m through BN, N the bit length of m.
Bytes MontgomeryProduct(const Bytes& x, const Bytes& y, const Bytes& m, BN_CTX* ctx) {
    BIGNUM *X = ToBn(x), *Y = ToBn(y), *M = ToBn(m), *R = BN_new(), *r = BN_new();
    BN_set_bit(R, BN_num_bits(M));
    BN_mod_inverse(R, R, M, ctx);
    BN_mod_mul(r, X, Y, M, ctx);
    BN_mod_mul(r, r, R, M, ctx);
    Bytes out = FromBn(r);
    BN_free(X);
    BN_free(Y);
    BN_free(M);
    BN_free(R);
    BN_free(r);
    return out;
}

// The squaring loop (taken when both operands share one value) and the general
// product loop, on operands that stress the carries: 0, 1, m - 1, random, and a
// modulus of all one bits; at sizes whose top word is full and one whose is not.
TEST_P(VlongRows, MontgomerySquareAndProductAgreeWithOpenSsl) {
    ByteSource src(24);
    BnCtx bc;
    // Besides the key agreement's sizes, moduli of 1, 2, 8, 9 and 17 words:
    // operands that end at, before and just past a block of eight words.
    for (unsigned bits : {1024u, 1536u, 2040u, 31u, 64u, 250u, 288u, 520u}) {
        const Bytes ones(bits / 8, 0xFF);
        for (int mi = 0; mi < 4; ++mi) {
            const Bytes m = mi == 0 ? ones : RandomBits(src, bits, true);
            BIGNUM* M = ToBn(m);
            BN_sub_word(M, 1);
            const Bytes mMinus1 = FromBn(M);
            BN_free(M);
            const Bytes y = src.take(bits / 8 - 1);
            for (const Bytes& x : {Bytes{}, Bytes{1}, mMinus1, src.take(bits / 8 - 1)}) {
                monty mon(V(m));
                vlong a = V(x);
                mon.mul(a, a);
                ASSERT_EQ(ToHex(Mag(a)), ToHex(MontgomeryProduct(x, x, m, bc.ctx))) << bits << "/" << mi;
                vlong b = V(x), shared = b;  // a shared value is a square too
                mon.mul(b, shared);
                ASSERT_EQ(b, a) << bits << "/" << mi;
                EXPECT_EQ(ToHex(Mag(shared)), ToHex(Mag(V(x))));  // the copy is untouched
                vlong p = V(x);
                mon.mul(p, V(y));
                ASSERT_EQ(ToHex(Mag(p)), ToHex(MontgomeryProduct(x, y, m, bc.ctx))) << bits << "/" << mi;
            }
            // An exponent of one set bit: all squarings and a single product.
            Bytes e(20, 0);
            e[0] = 0x80;
            const Bytes x = src.take(bits / 8 - 1);
            BIGNUM *X = ToBn(x), *E = ToBn(e), *Mm = ToBn(m), *r = BN_new();
            BN_mod_exp(r, X, E, Mm, bc.ctx);
            ASSERT_EQ(ToHex(Mag(modexp(V(x), V(e), V(m)))), ToHex(FromBn(r))) << bits << "/" << mi;
            BN_free(X);
            BN_free(E);
            BN_free(Mm);
            BN_free(r);
        }
    }
    // An operand wider than the modulus is outside the arithmetic.
    ExpectRaises6B00([] {
        const unsigned char wide[] = {1, 0, 0, 0, 0, 0};  // 2^40
        monty mon(vlong(1023));
        vlong x(5);
        mon.mul(x, vlong(wide, sizeof wide));
    });
}

TEST(Vlong, ModexpEdgeCases) {
    EXPECT_EQ(static_cast<unsigned>(modexp(vlong(2), vlong(10), vlong(1023))), 1u);
    EXPECT_EQ(modexp(vlong(5000), vlong(1), vlong(1023)), vlong(5000) % vlong(1023));
    EXPECT_EQ(modexp(vlong(5000), vlong(0u), vlong(1023)), vlong(1));
    EXPECT_EQ(modexp(vlong(0u), vlong(0u), vlong(1023)), vlong(1));
    EXPECT_EQ(modexp(vlong(7), vlong(0u), vlong(1)), vlong(0u));
    EXPECT_EQ(modexp(vlong(7), vlong(3), vlong(1)), vlong(0u));
    EXPECT_EQ(modexp(vlong(0u), vlong(3), vlong(1023)), vlong(0u));
    EXPECT_EQ(static_cast<unsigned>(modexp(vlong(3), vlong(4), vlong(7))), 81u % 7);
    // A base not below the modulus is reduced before it enters the arithmetic.
    monty mon(vlong(1023));
    EXPECT_EQ(mon.exp(vlong(5000), vlong(3)), vlong(5000u * 5000u % 1023u * 5000u % 1023u));
    ExpectRaises6B00([] { modexp(vlong(2), vlong(10), vlong(1024)); });
    ExpectRaises6B00([] { modexp(vlong(2), vlong(10), vlong(0u)); });
    ExpectRaises6B00([] { vlong(5) / vlong(0u); });
    ExpectRaises6B00([] { vlong(5) % vlong(0u); });
}

TEST(Vlong, ModinvAgreesWithBnModInverse) {
    ByteSource src(23);
    BnCtx bc;
    int checked = 0;
    for (int i = 0; i < 200; ++i) {
        const cryptotest::Bytes m = RandomBits(src, 64 + 8 * (i % 60), i % 2 == 0);
        const cryptotest::Bytes a = src.take(m.size() - 1);
        BIGNUM *M = ToBn(m), *A = ToBn(a), *r = BN_new();
        ERR_set_mark();
        if (BN_mod_inverse(r, A, M, bc.ctx)) {
            ASSERT_EQ(ToHex(Mag(modinv(V(a), V(m)))), ToHex(FromBn(r))) << i;
            ++checked;
        }
        ERR_pop_to_mark();
        BN_free(M);
        BN_free(A);
        BN_free(r);
    }
    EXPECT_GT(checked, 100);
    EXPECT_EQ(gcd(vlong(84), vlong(36)), vlong(12));
}
