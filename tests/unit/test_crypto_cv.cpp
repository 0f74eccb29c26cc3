#include "test_crypto_util.h"

#include <gtest/gtest.h>
#include <openssl/pkcs12.h>

#include <climits>
#include <cstring>

#include "crypto/cvcrypto.h"

using namespace libapdu;
using namespace cryptotest;

namespace {

// Runs a whole CBC operation through the cv layer: the data in pieces of
// `piece` bytes through cvCryptoCbc, the rest through cvCryptoCbcFinal.
int CvCbc(int mode, const Bytes& key, const Bytes& iv, const Bytes& data, int padType, Bytes& out,
          size_t piece = 0) {
    cvCryptoContext ctx;
    int r = cvCryptoCbcInit(&ctx, cvCryptoAlgDES3, mode, key.data(), static_cast<int>(key.size()),
                            iv.empty() ? nullptr : iv.data(), static_cast<int>(iv.size()));
    if (r != cvOk) return r;
    out.assign(data.size() + 16, 0xEE);
    size_t off = 0, produced = 0;
    int n = 0;
    if (piece)
        for (; off + piece < data.size(); off += piece) {
            if ((r = cvCryptoCbc(&ctx, data.data() + off, static_cast<int>(piece), out.data() + produced, &n)))
                return r;
            produced += static_cast<size_t>(n);
        }
    r = cvCryptoCbcFinal(&ctx, data.data() + off, static_cast<int>(data.size() - off), padType,
                         out.data() + produced, &n);
    if (r == cvOk) out.resize(produced + static_cast<size_t>(n));
    cvCryptoFree(&ctx);
    return r;
}

int SizeQuery(int mode, const Bytes& key, const Bytes& data, int padType, int& size) {
    cvCryptoContext ctx;
    cvCryptoCbcInit(&ctx, cvCryptoAlgDES3, mode, key.data(), static_cast<int>(key.size()), nullptr, 0);
    const int r = cvCryptoCbcFinal(&ctx, data.data(), static_cast<int>(data.size()), padType, nullptr, &size);
    cvCryptoFree(&ctx);
    return r;
}

const Bytes kKey16 = Hex("0123456789ABCDEF FEDCBA9876543210");
const Bytes kKey24 = Hex("0123456789ABCDEF 23456789ABCDEF01 456789ABCDEF0123");

}  // namespace

TEST(CvHash, SizeQueriesAndAlgorithmKindChecks) {
    cvCryptoContext ctx;
    int n = 0;
    ASSERT_EQ(cvCryptoHashInit(&ctx, cvCryptoAlgMD5), cvOk);
    EXPECT_EQ(cvCryptoHashResult(&ctx, nullptr, &n), cvOk);
    EXPECT_EQ(n, 16);
    EXPECT_EQ(cvCryptoHashResult(&ctx, nullptr, nullptr), cvErrBadArgument);
    // The digest is only given out together with its length.
    unsigned char digest[20];
    EXPECT_EQ(cvCryptoHashResult(&ctx, digest, nullptr), cvErrBadArgument);
    EXPECT_EQ(rv.load(), cvErrBadArgument);
    ASSERT_EQ(cvCryptoHashInit(&ctx, cvCryptoAlgSHA1), cvOk);
    EXPECT_EQ(cvCryptoHashResult(&ctx, nullptr, &n), cvOk);
    EXPECT_EQ(n, 20);
    cvCryptoFree(&ctx);

    EXPECT_EQ(cvCryptoHashInit(&ctx, cvCryptoAlgDES3), cvErrBadArgument);
    EXPECT_EQ(cvCryptoEcbInit(&ctx, cvCryptoAlgMD5, 0, kKey16.data(), 16), cvErrBadArgument);
    EXPECT_EQ(cvCryptoCbcInit(&ctx, cvCryptoAlgSHA1, 0, kKey16.data(), 16, nullptr, 0), cvErrBadArgument);
    EXPECT_EQ(cvCryptoEcbInit(&ctx, cvCryptoAlgDES3, 0, kKey16.data(), 8), cvErrBadArgument);
    EXPECT_EQ(cvCryptoEcbInit(&ctx, cvCryptoAlgDES3, 2, kKey16.data(), 16), cvErrBadArgument);
    EXPECT_EQ(cvCryptoCbcInit(&ctx, cvCryptoAlgDES3, 0, kKey16.data(), 16, kKey16.data(), 7), cvErrBadArgument);
    EXPECT_EQ(rv.load(), cvErrBadArgument);
}

TEST(CvHash, Sha1AndMd5AgreeWithEvp) {
    ByteSource src(10);
    for (size_t len : {0u, 3u, 64u, 200u}) {
        const Bytes data = src.take(len);
        for (auto alg : {cvCryptoAlgMD5, cvCryptoAlgSHA1}) {
            cvCryptoContext ctx;
            ASSERT_EQ(cvCryptoHashInit(&ctx, alg), cvOk);
            const unsigned char dummy = 0;
            ASSERT_EQ(cvCryptoHashUpdate(&ctx, len ? data.data() : &dummy, static_cast<int>(len)), cvOk);
            unsigned char d[20];
            int n = 0;
            ASSERT_EQ(cvCryptoHashResult(&ctx, d, &n), cvOk);
            cvCryptoFree(&ctx);
            unsigned char ref[20];
            unsigned int refLen = 0;
            EVP_Digest(data.data(), len, ref, &refLen, alg == cvCryptoAlgMD5 ? EVP_md5() : EVP_sha1(), nullptr);
            ASSERT_EQ(static_cast<unsigned>(n), refLen);
            EXPECT_EQ(ToHex(d, static_cast<size_t>(n)), ToHex(ref, refLen));
        }
    }
}

TEST(CvCbc, AgreesWithEvpTripleDesInWholeAndSplitCalls) {
    ByteSource src(11);
    for (int i = 0; i < 60; ++i) {
        const Bytes key = src.take(i % 2 ? 24 : 16);
        const Bytes iv = i % 3 ? src.take(8) : Bytes();
        const Bytes data = src.take(8 * (i % 9));
        const Bytes ref = EvpTdesCbc(key, iv.empty() ? Bytes(8, 0) : iv, data, true);
        for (size_t piece : {0u, 1u, 5u, 8u, 13u}) {
            Bytes c, p;
            ASSERT_EQ(CvCbc(0, key, iv, data, cvPadNone, c, piece), cvOk);
            ASSERT_EQ(ToHex(c), ToHex(ref)) << i << " piece " << piece;
            if (data.empty()) continue;  // decryption needs at least one block
            ASSERT_EQ(CvCbc(1, key, iv, c, cvPadNone, p, piece), cvOk);
            ASSERT_EQ(ToHex(p), ToHex(data));
        }
    }
}

TEST(CvCbc, EcbIsTripleDesPerBlock) {
    ByteSource src(12);
    const Bytes data = src.take(32);
    for (const Bytes& key : {kKey16, kKey24}) {
        cvCryptoContext ctx;
        ASSERT_EQ(cvCryptoEcbInit(&ctx, cvCryptoAlgDES3, 0, key.data(), static_cast<int>(key.size())), cvOk);
        Bytes out(32);
        ASSERT_EQ(cvCryptoEcb(&ctx, data.data(), 32, out.data()), cvOk);
        EXPECT_EQ(cvCryptoEcb(&ctx, data.data(), 12, out.data()), cvErrBadLength);
        cvCryptoFree(&ctx);
        for (int b = 0; b < 4; ++b) {
            const Bytes block(data.begin() + 8 * b, data.begin() + 8 * b + 8);
            EXPECT_EQ(ToHex(out.data() + 8 * b, 8), ToHex(EvpTdesCbc(key, Bytes(8, 0), block, true)));
        }
    }
}

TEST(CvCbc, EncryptionPaddingsAndSizeQueries) {
    struct Case {
        size_t length;
        int padType;
        int result;
        const char* lastPlainBlock;  // what the padding leaves in the last block
        int query;                   // size query result
    } cases[] = {
        {0, cvPadPkcs5, cvOk, "0808080808080808", 8},
        {0, cvPadIso9797M2, cvOk, "8000000000000000", 8},
        {0, cvPadIso9797M1, cvOk, "", 8},
        {0, cvPadNone, cvOk, "", 0},
        {8, cvPadIso9797M1, cvOk, "", 16},
        {8, cvPadPkcs5, cvOk, "0808080808080808", 16},
        {5, cvPadPkcs5, cvOk, "AAAAAAAAAA030303", 8},
        {5, cvPadIso9797M2, cvOk, "AAAAAAAAAA800000", 8},
        {5, cvPadIso9797M1, cvOk, "AAAAAAAAAA000000", 8},
        {5, cvPadNone, cvErrBadLength, "", cvErrBadLength},
        {7, 4, cvErrBadArgument, "", cvErrBadArgument},
    };
    for (const auto& c : cases) {
        const Bytes data(c.length, 0xAA);
        Bytes out;
        ASSERT_EQ(CvCbc(0, kKey16, {}, data, c.padType, out), c.result) << c.length << "/" << c.padType;
        int size = -1;
        const int q = SizeQuery(0, kKey16, data, c.padType, size);
        if (c.query < 0) {
            EXPECT_EQ(q, c.query);
        } else {
            EXPECT_EQ(q, cvOk);
            EXPECT_EQ(size, c.query) << c.length << "/" << c.padType;
        }
        if (c.result != cvOk) continue;
        const Bytes last = Hex(c.lastPlainBlock);
        const size_t blocks = last.empty() ? c.length / 8 : c.length / 8 + 1;
        ASSERT_EQ(out.size(), 8 * blocks) << c.length << "/" << c.padType;
        if (!last.empty()) {
            const Bytes plain = EvpTdesCbc(kKey16, Bytes(8, 0), out, false);
            EXPECT_EQ(ToHex(plain.data() + plain.size() - 8, 8), ToHex(last));
        }
    }
}

TEST(CvCbc, DecryptionPaddingChecks) {
    struct Case {
        const char* plain;  // whole blocks, padding included
        int padType;
        int result;
        const char* expect;
    } cases[] = {
        {"1122334455667788 0102030405060708", cvPadPkcs5, cvErrBadPadding, ""},
        {"1122334455667788 0102030405060703", cvPadPkcs5, cvErrBadPadding, ""},
        {"1122334455667788 0102030405030303", cvPadPkcs5, cvOk, "1122334455667788 0102030405"},
        {"1122334455667788 0102030405060700", cvPadPkcs5, cvOk, "1122334455667788 0102030405060700"},
        {"1122334455667788 0102030405060709", cvPadPkcs5, cvErrBadPadding, ""},
        {"0808080808080808", cvPadPkcs5, cvOk, ""},
        {"1122334455800000", cvPadIso9797M2, cvOk, "1122334455"},
        {"8000000000000000", cvPadIso9797M2, cvOk, ""},
        {"1122334455667780", cvPadIso9797M2, cvOk, "11223344556677"},
        {"0000000000000000", cvPadIso9797M2, cvErrBadPadding, ""},
        {"1122334455660000", cvPadIso9797M2, cvErrBadPadding, ""},
        {"1122334455660000", cvPadNone, cvOk, "1122334455660000"},
        {"1122334455660000", cvPadIso9797M1, cvErrBadArgument, ""},
        {"", cvPadIso9797M2, cvErrBadLength, ""},
    };
    for (const auto& c : cases) {
        const Bytes cipher = EvpTdesCbc(kKey24, Bytes(8, 0), Hex(c.plain), true);
        Bytes out;
        ASSERT_EQ(CvCbc(1, kKey24, {}, cipher, c.padType, out, 3), c.result) << c.plain;
        if (c.result == cvOk) {
            EXPECT_EQ(ToHex(out), ToHex(Hex(c.expect))) << c.plain;
        }
        int size = -1;
        EXPECT_EQ(SizeQuery(1, kKey24, cipher, c.padType, size), c.result) << c.plain;
        if (c.result == cvOk) {
            EXPECT_EQ(size, static_cast<int>(Hex(c.expect).size())) << c.plain;
        }
    }
    // No block at all, or a truncated one.
    Bytes out;
    EXPECT_EQ(CvCbc(1, kKey24, {}, Bytes(), cvPadNone, out), cvErrBadLength);
    EXPECT_EQ(CvCbc(1, kKey24, {}, Bytes(12, 1), cvPadNone, out), cvErrBadLength);
}

TEST(CvCbc, DecryptionSizeQueryLeavesTheContextAsItWas) {
    ByteSource src(13);
    const Bytes iv = src.take(8), data = src.take(21);
    Bytes padded = data;
    padded.push_back(0x80);
    padded.resize(24, 0);
    const Bytes cipher = EvpTdesCbc(kKey16, iv, padded, true);
    cvCryptoContext ctx;
    ASSERT_EQ(cvCryptoCbcInit(&ctx, cvCryptoAlgDES3, 1, kKey16.data(), 16, iv.data(), 8), cvOk);
    Bytes out(32);
    int n = 0, size = 0;
    // Feed one block first, so that the query starts from a pending block.
    ASSERT_EQ(cvCryptoCbc(&ctx, cipher.data(), 8, out.data(), &n), cvOk);
    EXPECT_EQ(n, 0);
    ASSERT_EQ(cvCryptoCbcFinal(&ctx, cipher.data() + 8, 16, cvPadIso9797M2, nullptr, &size), cvOk);
    EXPECT_EQ(size, 21);
    ASSERT_EQ(cvCryptoCbcFinal(&ctx, cipher.data() + 8, 16, cvPadIso9797M2, out.data(), &n), cvOk);
    EXPECT_EQ(n, 21);
    EXPECT_EQ(ToHex(out.data(), 21), ToHex(data));
    cvCryptoFree(&ctx);
    const cvCryptoContext zero{};
    EXPECT_EQ(std::memcmp(&ctx, &zero, sizeof ctx), 0) << "the freed context still holds key material";
}

// The size query of a split call must never undercount what the same call
// then writes: the caller allocates from it. In decryption the last complete
// block waits only until the next byte comes, so a partial block behind it
// releases it.
TEST(CvCbc, CbcSizeQueryCountsExactlyWhatTheStepWrites) {
    struct Case {
        int mode;
        int fedBefore;  // bytes given in an earlier call
        int length;
        int expect;
    } cases[] = {
        {0, 0, 20, 16}, {0, 3, 5, 8},   {0, 0, 7, 0},   {1, 0, 20, 16}, {1, 0, 12, 8},  {1, 0, 16, 8},
        {1, 0, 8, 0},   {1, 8, 3, 8},   {1, 8, 8, 8},   {1, 8, 0, 0},   {1, 3, 5, 0},   {1, 3, 6, 8},
        {1, 0, 0, 0},
    };
    const Bytes data(64, 0x3C);
    for (const auto& c : cases) {
        cvCryptoContext ctx;
        ASSERT_EQ(cvCryptoCbcInit(&ctx, cvCryptoAlgDES3, c.mode, kKey16.data(), 16, nullptr, 0), cvOk);
        Bytes out(64 + 8, 0xEE);
        int n = -1, size = -1;
        ASSERT_EQ(cvCryptoCbc(&ctx, data.data(), c.fedBefore, out.data(), &n), cvOk);
        EXPECT_EQ(cvCryptoCbc(&ctx, data.data(), c.length, nullptr, &size), cvOk);
        EXPECT_EQ(rv.load(), cvOk);
        EXPECT_EQ(size, c.expect) << c.mode << " " << c.fedBefore << "+" << c.length;
        // Written into a buffer of exactly the queried size, guarded behind.
        Bytes exact(static_cast<size_t>(size) + 8, 0xEE);
        ASSERT_EQ(cvCryptoCbc(&ctx, data.data(), c.length, exact.data(), &n), cvOk);
        EXPECT_EQ(n, size) << c.mode << " " << c.fedBefore << "+" << c.length;
        EXPECT_EQ(ToHex(exact.data() + size, 8), "eeeeeeeeeeeeeeee");
        cvCryptoFree(&ctx);
    }
}

// Only the decryption dry run reads the data; the other size queries follow
// from the length, and no query may count past what an int holds.
TEST(CvCbc, FinalSizeQueriesNeedDataOnlyForTheDryRun) {
    struct Case {
        int mode;
        int padType;
        int length;
        int result;
        int size;
    } cases[] = {
        {0, cvPadPkcs5, 13, cvOk, 16},
        {0, cvPadIso9797M1, 16, cvOk, 24},
        {0, cvPadNone, 16, cvOk, 16},
        {1, cvPadNone, 24, cvOk, 24},
        {1, cvPadIso9797M2, 16, cvErrBadArgument, -1},
        {0, cvPadPkcs5, INT_MAX - 3, cvErrBadArgument, -1},
        {0, cvPadNone, INT_MAX - 7, cvErrBadArgument, -1},
    };
    for (const auto& c : cases) {
        cvCryptoContext ctx;
        ASSERT_EQ(cvCryptoCbcInit(&ctx, cvCryptoAlgDES3, c.mode, kKey24.data(), 24, nullptr, 0), cvOk);
        int size = -1;
        EXPECT_EQ(cvCryptoCbcFinal(&ctx, nullptr, c.length, c.padType, nullptr, &size), c.result)
            << c.mode << "/" << c.padType << "/" << c.length;
        EXPECT_EQ(rv.load(), c.result);
        EXPECT_EQ(size, c.size) << c.mode << "/" << c.padType << "/" << c.length;
        cvCryptoFree(&ctx);
    }
    // Splitting calls cannot push the count past an int either.
    cvCryptoContext ctx;
    ASSERT_EQ(cvCryptoCbcInit(&ctx, cvCryptoAlgDES3, 0, kKey16.data(), 16, nullptr, 0), cvOk);
    const unsigned char three[3] = {1, 2, 3};
    unsigned char sink[8];
    int n = -1;
    ASSERT_EQ(cvCryptoCbc(&ctx, three, 3, sink, &n), cvOk);  // three bytes now pending
    n = -1;
    EXPECT_EQ(cvCryptoCbc(&ctx, nullptr, INT_MAX - 8, nullptr, &n), cvErrBadArgument);
    EXPECT_EQ(n, -1);
    cvCryptoFree(&ctx);
}

namespace {

Bytes CvMac(cvCryptoAlgorithm alg, const Bytes& key, const Bytes& data, int padType, int* result = nullptr) {
    cvCryptoContext ctx;
    Bytes mac(8, 0);
    int n = 0;
    int r = cvCryptoMacInit(&ctx, alg, key.data(), static_cast<int>(key.size()));
    // In two calls, the first ending inside a block, so that the chaining
    // has to carry a partial block over.
    const int first = static_cast<int>(data.size() / 2 | (data.size() > 1 ? 1 : 0));
    if (r == cvOk) r = cvCryptoMacUpdate(&ctx, data.data(), first);
    if (r == cvOk) r = cvCryptoMacUpdate(&ctx, data.data() + first, static_cast<int>(data.size()) - first);
    if (r == cvOk) r = cvCryptoMacResult(&ctx, padType, mac.data(), &n);
    cvCryptoFree(&ctx);
    if (result) *result = r;
    return mac;
}

Bytes Pad(Bytes d, int padType) {
    if (padType == cvPadIso9797M2) d.push_back(0x80);
    while (d.size() % 8) d.push_back(0);
    return d;
}

}  // namespace

TEST(CvMac, MacAlgorithmOneIsTheLastTripleDesCbcBlock) {
    ByteSource src(14);
    for (size_t len : {0u, 1u, 7u, 8u, 9u, 16u, 31u}) {
        const Bytes data = src.take(len);
        for (int pad : {cvPadIso9797M1, cvPadIso9797M2}) {
            const Bytes padded = Pad(data, pad);
            const Bytes ref =
                padded.empty() ? Bytes(8, 0) : EvpTdesCbc(kKey24, Bytes(8, 0), padded, true);
            EXPECT_EQ(ToHex(CvMac(cvCryptoAlgDES3, kKey24, data, pad)), ToHex(ref.data() + ref.size() - 8, 8))
                << len << "/" << pad;
        }
    }
}

TEST(CvMac, RetailMacIsMacAlgorithmThree) {
    ByteSource src(15);
    const Bytes K(kKey16.begin(), kKey16.begin() + 8), K2(kKey16.begin() + 8, kKey16.end());
    for (size_t len : {1u, 8u, 13u, 24u}) {
        const Bytes data = src.take(len);
        for (int pad : {cvPadIso9797M1, cvPadIso9797M2}) {
            // Single DES CBC under K, then D_K' and E_K on the last block.
            Bytes h(8, 0);
            const Bytes padded = Pad(data, pad);
            for (size_t b = 0; b < padded.size(); b += 8) {
                for (int i = 0; i < 8; ++i) h[i] ^= padded[b + i];
                h = OsslDes(K, h, true);
            }
            h = OsslDes(K, OsslDes(K2, h, false), true);
            EXPECT_EQ(ToHex(CvMac(cvCryptoAlgDES3_Lite, kKey16, data, pad)), ToHex(h)) << len << "/" << pad;
        }
    }
    int r = 0;
    CvMac(cvCryptoAlgDES3, kKey16, Bytes(8, 1), cvPadNone, &r);
    EXPECT_EQ(r, cvErrBadArgument);
}

TEST(CvPkcs12, PublishedVectors) {
    struct Case {
        const char* password;
        const char* salt;
        int id;
        int iterations;
        const char* key;
    } cases[] = {
        {"smeg", "0A58CF64530D823F", 1, 1, "8AAAE6297B6CB04642AB5B077851284EB7128F1A2A7FBCA3"},
        {"smeg", "0A58CF64530D823F", 2, 1, "79993DFE048D3B76"},
        {"queeg", "05DEC959ACFF72F7", 1, 1000, "ED2034E36328830FF09DF1E1A07DD357185DAC0D4F9EB3D4"},
        {"queeg", "05DEC959ACFF72F7", 2, 1000, "11DEDAD7758D4860"},
    };
    for (const auto& c : cases) {
        const Bytes salt = Hex(c.salt), expect = Hex(c.key);
        Bytes out(expect.size());
        ASSERT_EQ(cvCryptoPbePkcs12(cvCryptoAlgSHA1, reinterpret_cast<const unsigned char*>(c.password),
                                    static_cast<int>(std::strlen(c.password)), salt.data(),
                                    static_cast<int>(salt.size()), c.iterations, c.id, out.data(),
                                    static_cast<int>(out.size())),
                  cvOk);
        EXPECT_EQ(ToHex(out), ToHex(expect)) << c.password << " id " << c.id;
    }
}

TEST(CvPkcs12, AgreesWithOpenSslKeyGen) {
    ByteSource src(16);
    for (int i = 0; i < 40; ++i) {
        Bytes pw = src.take(static_cast<size_t>(i % 70));
        for (auto& b : pw) b = static_cast<unsigned char>(0x20 + b % 0x5F);  // printable ASCII
        const std::string password(pw.begin(), pw.end());
        const Bytes salt = src.take(static_cast<size_t>(i % 30));  // empty now and then
        const int id = 1 + i % 3, iterations = i % 4 == 0 ? 999 : 1 + i % 5;
        const int outLen = 1 + (i * 7) % 70;
        // MD5 has a digest that divides the 64-byte block, SHA-1 one that does not.
        const bool md5 = i % 2 != 0;
        Bytes ours(static_cast<size_t>(outLen)), ref(static_cast<size_t>(outLen));
        // Only the low byte of the id counts.
        ASSERT_EQ(cvCryptoPbePkcs12(md5 ? cvCryptoAlgMD5 : cvCryptoAlgSHA1, pw.data(), static_cast<int>(pw.size()),
                                    salt.data(), static_cast<int>(salt.size()), iterations, id | (i << 8),
                                    ours.data(), outLen),
                  cvOk);
        ASSERT_EQ(PKCS12_key_gen_asc(password.c_str(), static_cast<int>(password.size()),
                                     const_cast<unsigned char*>(salt.data()), static_cast<int>(salt.size()), id,
                                     iterations, outLen, ref.data(), md5 ? EVP_md5() : EVP_sha1()),
                  1);
        ASSERT_EQ(ToHex(ours), ToHex(ref)) << i;
    }
}

TEST(CvPkcs12, ArgumentChecks) {
    unsigned char out[8];
    const unsigned char salt[8] = {1};
    EXPECT_EQ(cvCryptoPbePkcs12_Raw(nullptr, salt, 8, salt, 8, 1, 1, out, 8), cvErrBadArgument);
    EXPECT_EQ(cvCryptoPbePkcs12_Raw(cvCryptoAlgSHA1, nullptr, 8, salt, 8, 1, 1, out, 8), cvErrBadArgument);
    EXPECT_EQ(cvCryptoPbePkcs12_Raw(cvCryptoAlgSHA1, salt, 8, salt, -1, 1, 1, out, 8), cvErrBadArgument);
    EXPECT_EQ(cvCryptoPbePkcs12_Raw(cvCryptoAlgSHA1, salt, 8, salt, 8, 1, 1, nullptr, 8), cvErrBadArgument);
    EXPECT_EQ(cvCryptoPbePkcs12_Raw(cvCryptoAlgDES3, salt, 8, salt, 8, 1, 1, out, 8), cvErrBadArgument);
    EXPECT_EQ(cvCryptoPbePkcs12_Raw(cvCryptoAlgSHA1, salt, 8, salt, 8, 1, 1, out, 0), cvOk);
    // Nothing to repeat: only D is hashed.
    EXPECT_EQ(cvCryptoPbePkcs12_Raw(cvCryptoAlgSHA1, nullptr, 0, nullptr, 0, 1, 1, out, 8), cvOk);
}

TEST(CvRandom, DrawsFromTheCsprngAndChecksArguments) {
    unsigned char a[32], b[32];
    std::memset(a, 0x5A, sizeof a);
    EXPECT_EQ(cvCryptoRandomGenerate(nullptr, a, 0), cvErrBadArgument);
    EXPECT_EQ(cvCryptoRandomGenerate(nullptr, nullptr, 8), cvErrBadArgument);
    for (unsigned char x : a) ASSERT_EQ(x, 0x5A);
    int generator = 0;
    EXPECT_EQ(cvCryptoRandomGenerate(&generator, a, 32), cvOk);
    for (unsigned char x : a) ASSERT_EQ(x, 0x5A);
    // Back to back, within the same second: the bytes must differ.
    ASSERT_EQ(cvCryptoRandomGenerate(nullptr, a, 32), cvOk);
    ASSERT_EQ(cvCryptoRandomGenerate(nullptr, b, 32), cvOk);
    EXPECT_NE(std::memcmp(a, b, 32), 0);
}

TEST(CvResult, RvFollowsTheLastRoutineAndMemoryHelpersWipe) {
    unsigned char buf[4];
    EXPECT_EQ(cvCryptoRandomGenerate(nullptr, buf, -1), cvErrBadArgument);
    EXPECT_EQ(rv.load(), cvErrBadArgument);
    EXPECT_EQ(cvCryptoRandomGenerate(nullptr, buf, 4), cvOk);
    EXPECT_EQ(rv.load(), cvOk);
    // cvZeroMemory reports but never records.
    EXPECT_EQ(cvZeroMemory(nullptr, 4), cvErrBadArgument);
    EXPECT_EQ(cvZeroMemory(buf, -1), cvErrBadArgument);
    EXPECT_EQ(rv.load(), cvOk);
    EXPECT_EQ(cvZeroMemory(nullptr, 0), cvOk);
    EXPECT_EQ(cvZeroMemory(buf, 4), cvOk);
    for (unsigned char x : buf) EXPECT_EQ(x, 0);

    EXPECT_EQ(cvAllocateMemory(0), nullptr);
    EXPECT_EQ(cvAllocateMemory(-5), nullptr);
    unsigned char* p = static_cast<unsigned char*>(cvAllocateMemory(10));
    ASSERT_NE(p, nullptr);
    int recorded = 0;
    std::memcpy(&recorded, p - sizeof(int), sizeof(int));
    EXPECT_EQ(recorded, 10);
    cvFreeMemory(p);
    cvFreeMemory(nullptr);
    EXPECT_EQ(cvCryptoFree(nullptr), cvErrBadArgument);
}
