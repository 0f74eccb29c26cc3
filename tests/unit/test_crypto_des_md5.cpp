#include "test_crypto_util.h"

#include <gtest/gtest.h>
#include <openssl/provider.h>

#include <cstring>

#include "crypto/des.h"
#include "crypto/md5.h"

using namespace libapdu;
using namespace cryptotest;

namespace {

Bytes DesOurs(const Bytes& key, Bytes block, bool encrypt) {
    tagDesContext ctx;
    des_initialize(key.data(), &ctx);
    if (encrypt)
        des_encrypt(&ctx, block.data());
    else
        des_decrypt(&ctx, block.data());
    des_finalize(&ctx);
    return block;
}

Bytes Md5Ours(const Bytes& data) {
    libapdu::MD5_CTX ctx;
    MD5Init(&ctx);
    MD5Update(&ctx, data.data(), static_cast<unsigned int>(data.size()));
    Bytes d(16);
    MD5Final(d.data(), &ctx);
    return d;
}

}  // namespace

TEST(Des, PublishedVectors) {
    struct Case {
        const char* key;
        const char* plain;
        const char* cipher;
    } cases[] = {
        {"0123456789ABCDEF", "4E6F772069732074", "3FA40E8A984D4815"},
        {"133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
        {"0000000000000000", "0000000000000000", "8CA64DE9C1B123A7"},
        {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "7359B2163E4EDC58"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ToHex(DesOurs(Hex(c.key), Hex(c.plain), true)), ToHex(Hex(c.cipher))) << c.key;
        EXPECT_EQ(ToHex(DesOurs(Hex(c.key), Hex(c.cipher), false)), ToHex(Hex(c.plain))) << c.key;
    }
}

TEST(Des, AgreesWithOpenSslOnRandomKeysAndBlocks) {
    ByteSource src(1);
    for (int i = 0; i < 500; ++i) {
        const Bytes key = src.take(8), block = src.take(8);
        const Bytes c = DesOurs(key, block, true);
        ASSERT_EQ(ToHex(c), ToHex(OsslDes(key, block, true))) << i;
        ASSERT_EQ(ToHex(DesOurs(key, c, false)), ToHex(block)) << i;
        ASSERT_EQ(ToHex(DesOurs(key, block, false)), ToHex(OsslDes(key, block, false))) << i;
    }
}

TEST(Des, ParityBitsOfTheKeyAreIgnored) {
    ByteSource src(2);
    for (int i = 0; i < 50; ++i) {
        Bytes key = src.take(8);
        const Bytes block = src.take(8);
        Bytes flipped = key;
        for (auto& b : flipped) b ^= 0x01;
        EXPECT_EQ(ToHex(DesOurs(key, block, true)), ToHex(DesOurs(flipped, block, true)));
    }
}

namespace {

// OpenSSL's DESX is K || W_in || W_out; ours uses one whitening key on both sides.
Bytes OsslDesx(const Bytes& key16, const Bytes& block, bool encrypt) {
    static OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    static OSSL_PROVIDER* deflt = OSSL_PROVIDER_load(nullptr, "default");
    (void)deflt;
    Bytes k(key16.begin(), key16.begin() + 8);
    k.insert(k.end(), key16.begin() + 8, key16.end());
    k.insert(k.end(), key16.begin() + 8, key16.end());
    EVP_CIPHER* cipher = legacy ? EVP_CIPHER_fetch(nullptr, "DESX-CBC", nullptr) : nullptr;
    if (!cipher) {
        // Without the legacy provider: DESX by hand around DES_ecb_encrypt.
        Bytes x = block;
        for (int i = 0; i < 8; ++i) x[i] ^= key16[8 + i];
        x = OsslDes(key16, x, encrypt);
        for (int i = 0; i < 8; ++i) x[i] ^= key16[8 + i];
        return x;
    }
    const unsigned char iv[8] = {0};
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_CipherInit_ex(ctx, cipher, nullptr, k.data(), iv, encrypt ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    Bytes out(16);
    int n = 0;
    EVP_CipherUpdate(ctx, out.data(), &n, block.data(), 8);
    EVP_CIPHER_CTX_free(ctx);
    EVP_CIPHER_free(cipher);
    out.resize(8);
    return out;
}

}  // namespace

TEST(Desx, AgreesWithOpenSslDesxKeyedWithTheSameWhiteningTwice) {
    ByteSource src(3);
    for (int i = 0; i < 200; ++i) {
        const Bytes key = src.take(16), block = src.take(8);
        tagDesxContext ctx;
        desx_initialize(key.data(), &ctx);
        Bytes b = block;
        desx_encrypt(&ctx, b.data());
        ASSERT_EQ(ToHex(b), ToHex(OsslDesx(key, block, true))) << i;
        desx_decrypt(&ctx, b.data());
        ASSERT_EQ(ToHex(b), ToHex(block));
        desx_finalize(&ctx);
    }
}

TEST(Desx, ZeroWhiteningIsPlainDes) {
    Bytes key = Hex("0123456789ABCDEF0000000000000000");
    tagDesxContext ctx;
    desx_initialize(key.data(), &ctx);
    Bytes b = Hex("4E6F772069732074");
    desx_encrypt(&ctx, b.data());
    EXPECT_EQ(ToHex(b), "3fa40e8a984d4815");
}

TEST(Md5, Rfc1321TestSuite) {
    struct Case {
        const char* text;
        const char* digest;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : cases) {
        const Bytes data(c.text, c.text + std::strlen(c.text));
        EXPECT_EQ(ToHex(Md5Ours(data)), c.digest) << c.text;
    }
}

TEST(Md5, AgreesWithEvpMd5AcrossLengthsAndSplitUpdates) {
    ByteSource src(4);
    for (size_t len : {0u, 1u, 55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u, 1000u, 4096u}) {
        const Bytes data = src.take(len);
        unsigned char ref[16];
        unsigned int refLen = 0;
        EVP_Digest(data.data(), data.size(), ref, &refLen, EVP_md5(), nullptr);
        EXPECT_EQ(ToHex(Md5Ours(data)), ToHex(ref, 16)) << len;
        // The same data in uneven pieces.
        libapdu::MD5_CTX ctx;
        MD5Init(&ctx);
        for (size_t off = 0; off < len;) {
            const size_t piece = std::min<size_t>(len - off, 1 + (off * 7) % 70);
            MD5Update(&ctx, data.data() + off, static_cast<unsigned int>(piece));
            off += piece;
        }
        unsigned char d[16];
        MD5Final(d, &ctx);
        EXPECT_EQ(ToHex(d, 16), ToHex(ref, 16)) << len;
    }
}

TEST(Md5, FinalWipesTheContext) {
    libapdu::MD5_CTX ctx;
    MD5Init(&ctx);
    MD5Update(&ctx, reinterpret_cast<const unsigned char*>("secret pin"), 10);
    unsigned char d[16];
    MD5Final(d, &ctx);
    const libapdu::MD5_CTX zero{};
    EXPECT_EQ(std::memcmp(&ctx, &zero, sizeof ctx), 0);
}
