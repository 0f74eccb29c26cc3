#include "test_crypto_util.h"

#include <gtest/gtest.h>
#include <openssl/pkcs12.h>
#include <openssl/sha.h>

#include <climits>
#include <cstring>
#include <functional>

#include "crypto/crypto.h"
#include "raised.h"

using namespace libapdu;
using namespace cryptotest;

namespace {

Bytes Md5(const Bytes& d) {
    unsigned char h[16];
    unsigned int n = 0;
    EVP_Digest(d.data(), d.size(), h, &n, EVP_md5(), nullptr);
    return Bytes(h, h + 16);
}

Bytes Str(const char* s) { return Bytes(s, s + std::strlen(s)); }

const Bytes kKey16 = Hex("0123456789ABCDEF FEDCBA9876543210");
const Bytes kKey24 = Hex("0123456789ABCDEF 23456789ABCDEF01 456789ABCDEF0123");

}  // namespace

TEST(CorvidMd5, IteratedAnd32ByteForms) {
    const Bytes pin = Str("1234");
    Bytes out(32, 0xEE);
    crypto_corvid_md5_iterated(pin.data(), pin.size(), out.data(), 16, 3);
    EXPECT_EQ(ToHex(out.data(), 16), ToHex(Md5(Md5(Md5(pin)))));
    crypto_corvid_md5_32(pin.data(), pin.size(), nullptr, 0, out.data(), 32);
    EXPECT_EQ(ToHex(out), ToHex(Md5(pin)) + ToHex(Md5(Md5(pin))));
    // Wrong output lengths or a count of 0 write nothing.
    Bytes untouched(32, 0xEE);
    crypto_corvid_md5_iterated(pin.data(), pin.size(), untouched.data(), 15, 1);
    crypto_corvid_md5_iterated(pin.data(), pin.size(), untouched.data(), 16, 0);
    crypto_corvid_md5_32(pin.data(), pin.size(), nullptr, 0, untouched.data(), 31);
    EXPECT_EQ(untouched, Bytes(32, 0xEE));
}

TEST(CorvidMd5, TwentyFourByteKeyPacksSevenBitsPerByte) {
    for (const char* pin : {"", "0000", "1234", "a much longer pass phrase of the user"}) {
        const Bytes in = Str(pin);
        Bytes out(24, 0xEE);
        crypto_corvid_md5_24(in.data(), in.size(), nullptr, 0, out.data(), 24);
        Bytes pre0{0x00}, pre1{0x01};
        pre0.insert(pre0.end(), in.begin(), in.end());
        pre1.insert(pre1.end(), in.begin(), in.end());
        Bytes h = Md5(pre0);
        const Bytes h1 = Md5(pre1);
        h.insert(h.end(), h1.begin(), h1.end());
        for (int j = 0; j < 24; ++j) {
            unsigned expect = 0;
            for (int b = 0; b < 7; ++b) expect |= ((h[(7 * j + b) / 8] >> ((7 * j + b) % 8)) & 1u) << b;
            EXPECT_EQ(out[j], expect) << pin << " byte " << j;
            EXPECT_EQ(out[j] & 0x80, 0);
        }
    }
    Bytes untouched(24, 0xEE);
    crypto_corvid_md5_24(nullptr, 0, nullptr, 0, untouched.data(), 23);
    EXPECT_EQ(untouched, Bytes(24, 0xEE));
}

TEST(CorvidDes3, SingleBlocksAgreeWithEvpAndCheckLengths) {
    const Bytes block = Hex("0011223344556677");
    Bytes out(8, 0);
    crypto_corvid_des3_enc(block.data(), 8, kKey24.data(), 24, out.data(), 8);
    EXPECT_EQ(ToHex(out), ToHex(EvpTdesCbc(kKey24, Bytes(8, 0), block, true)));
    Bytes cbc(8, 0);
    crypto_corvid_des3cbc_enc(block.data(), 8, kKey16.data(), 16, cbc.data(), 8);
    EXPECT_EQ(ToHex(cbc), ToHex(EvpTdesCbc(kKey16, Bytes(8, 0), block, true)));
    // Two-key CBC of a block is three-key ECB under K1 K2 K1.
    Bytes k121 = kKey16;
    k121.insert(k121.end(), kKey16.begin(), kKey16.begin() + 8);
    crypto_corvid_des3_enc(block.data(), 8, k121.data(), 24, out.data(), 8);
    EXPECT_EQ(out, cbc);

    // Any other input, key or output length leaves the output untouched.
    const Bytes longer = Hex("00112233445566778899");
    struct Case {
        unsigned long in, key, out;
    } cases[] = {{7, 24, 8}, {10, 24, 8}, {0, 24, 8}, {8, 16, 8}, {8, 24, 7}};
    for (const auto& c : cases) {
        Bytes o(8, 0xEE);
        crypto_corvid_des3_enc(longer.data(), c.in, kKey24.data(), c.key, o.data(), c.out);
        EXPECT_EQ(o, Bytes(8, 0xEE)) << c.in << "/" << c.key << "/" << c.out;
        Bytes o2(8, 0xEE);
        crypto_corvid_des3cbc_enc(longer.data(), c.in, kKey24.data(), c.key == 24 ? 16 : 24, o2.data(), c.out);
        EXPECT_EQ(o2, Bytes(8, 0xEE)) << c.in << "/" << c.key << "/" << c.out;
    }
}

TEST(CorvidDes3, MacIsTripleDesCbcWithZeroPadding) {
    ByteSource src(30);
    for (size_t len : {8u, 5u, 16u, 21u}) {
        const Bytes data = src.take(len);
        Bytes padded = data;
        padded.resize((len + 7) / 8 * 8, 0);
        const Bytes ref = EvpTdesCbc(kKey24, Bytes(8, 0), padded, true);
        Bytes mac(8, 0);
        crypto_corvid_des3_mac(data.data(), len, kKey24.data(), 24, mac.data(), 8);
        EXPECT_EQ(ToHex(mac), ToHex(ref.data() + ref.size() - 8, 8)) << len;
    }
    Bytes untouched(8, 0xEE);
    crypto_corvid_des3_mac(untouched.data(), 8, kKey16.data(), 16, untouched.data(), 8);
    EXPECT_EQ(untouched, Bytes(8, 0xEE));
}

TEST(CorvidSha1, Pkcs12DerivationOfTheKeySlots) {
    const Bytes salt = Hex("000102030405060708090A0B0C0D0E0F10111213");
    for (const char* pin : {"", "1234", "Pa55word!"}) {
        const Bytes p = Str(pin);
        for (int id = 0; id < 5; ++id) {
            Bytes java(24, 0), kite(24, 0), ref(24, 0);
            crypto_corvid_java_sha1(id, p.data(), p.size(), salt.data(), 20, java.data(), 24);
            crypto_corvid_kite_sha1(id, p.data(), p.size(), salt.data(), 20, kite.data(), 24);
            ASSERT_EQ(PKCS12_key_gen_asc(pin, static_cast<int>(p.size()), const_cast<unsigned char*>(salt.data()), 20,
                                         id, 999, 24, ref.data(), EVP_sha1()),
                      1);
            EXPECT_EQ(ToHex(java), ToHex(ref)) << pin << " id " << id;
            EXPECT_EQ(java, kite);
        }
    }
    for (unsigned long saltLen : {19ul, 21ul}) {
        Bytes out(24, 0xEE);
        const Bytes longSalt(21, 1);
        crypto_corvid_java_sha1(1, salt.data(), 4, longSalt.data(), saltLen, out.data(), 24);
        crypto_corvid_kite_sha1(1, salt.data(), 4, longSalt.data(), saltLen, out.data(), 24);
        EXPECT_EQ(out, Bytes(24, 0xEE));
    }
}

TEST(MirelResponse, TwoKeyTdesOfTheChallengeUnderTheSecretsSha1) {
    const Bytes secret = Str("123456"), challenge = Hex("00112233445566778899AABBCCDDEEFF");
    unsigned char digest[20];
    SHA1(secret.data(), secret.size(), digest);
    const Bytes ref = EvpTdesCbc(Bytes(digest, digest + 16), Bytes(8, 0), challenge, true);
    Bytes out(16, 0);
    crypto_mirel_response(secret.data(), secret.size(), challenge.data(), 16, out.data(), 16);
    EXPECT_EQ(ToHex(out), ToHex(ref));
    Bytes untouched(16, 0xEE);
    crypto_mirel_response(secret.data(), 0, challenge.data(), 16, untouched.data(), 16);
    crypto_mirel_response(secret.data(), secret.size(), challenge.data(), 15, untouched.data(), 16);
    EXPECT_EQ(untouched, Bytes(16, 0xEE));
}

TEST(SecureMessaging, EncryptionPadsWithMethodTwoAndDecryptionStripsIt) {
    ByteSource src(31);
    for (size_t len : {0u, 1u, 7u, 8u, 9u, 100u}) {
        const Bytes data = src.take(len), iv = src.take(8);
        for (const Bytes& key : {kKey16, kKey24}) {
            for (const Bytes& useIv : {Bytes(), iv}) {
                TBytes enc{1, 2, 3};
                crypto_sm_enc(key, data, enc, useIv);
                Bytes padded = data;
                padded.push_back(0x80);
                padded.resize((padded.size() + 7) / 8 * 8, 0);
                EXPECT_EQ(enc.size(), (len / 8 + 1) * 8);
                EXPECT_EQ(ToHex(enc), ToHex(EvpTdesCbc(key, useIv.empty() ? Bytes(8, 0) : useIv, padded, true)));
                TBytes mirel;
                crypto_sm_enc_mirel(key, data, mirel, useIv);
                EXPECT_EQ(mirel, enc);
                TBytes dec(3, 9);
                crypto_sm_dec(key, enc, dec, useIv);
                EXPECT_EQ(ToHex(dec), ToHex(data)) << len;
            }
        }
    }
}

TEST(SecureMessaging, BadDecryptionRaises6281AndLeavesNoPlaintext) {
    const Bytes goodCipher = EvpTdesCbc(kKey16, Bytes(8, 0), Hex("1122334455667788 1122334455667700"), true);
    struct Case {
        const char* what;
        Bytes key, data, iv;
    } cases[] = {
        {"no padding marker", kKey16, goodCipher, {}},
        {"empty data", kKey16, {}, {}},
        {"partial block", kKey16, Bytes(goodCipher.begin(), goodCipher.begin() + 12), {}},
        {"bad key length", Bytes(8, 1), goodCipher, {}},
        {"bad IV length", kKey16, goodCipher, Bytes(4, 0)},
    };
    for (const auto& c : cases) {
        TBytes out(40, 0x77);
        try {
            crypto_sm_dec(c.key, c.data, out, c.iv);
            ADD_FAILURE() << c.what << ": nothing raised";
        } catch (const IException& e) {
            EXPECT_EQ(e.code(), 0x6281) << c.what;
        }
        EXPECT_TRUE(out.empty()) << c.what;
    }
    // A bad key makes the encryption fail as our own error and produce nothing
    // rather than stale bytes.
    TBytes enc(5, 1);
    EXPECT_EQ(CodeOf([&] { crypto_sm_enc(Bytes(10, 1), Bytes(8, 2), enc, {}); }), 0xFFFF);
    EXPECT_TRUE(enc.empty());
}

TEST(SecureMessaging, MacsAndTheirPaddings) {
    const Bytes K(kKey16.begin(), kKey16.begin() + 8), K2(kKey16.begin() + 8, kKey16.end());
    auto retail = [&](Bytes padded) {
        Bytes h(8, 0);
        for (size_t b = 0; b < padded.size(); b += 8) {
            for (int i = 0; i < 8; ++i) h[i] ^= padded[b + i];
            h = OsslDes(K, h, true);
        }
        return OsslDes(K, OsslDes(K2, h, false), true);
    };
    const Bytes block = Hex("0102030405060708");
    TBytes mac(3, 0xEE);
    // Method 1: an aligned input gets no padding block.
    crypto_sm_mac_kite(kKey16, block, mac);
    EXPECT_EQ(ToHex(mac), ToHex(retail(block)));
    // Method 2: always a padding block.
    crypto_sm_mac_mirel(kKey16, block, mac);
    EXPECT_EQ(ToHex(mac), ToHex(retail(Hex("0102030405060708 8000000000000000"))));
    TBytes full(20, 0xEE);
    crypto_sm_mac(kKey24, block, full);
    const Bytes ref = EvpTdesCbc(kKey24, Bytes(8, 0), Hex("0102030405060708 8000000000000000"), true);
    EXPECT_EQ(ToHex(full), ToHex(ref.data() + 8, 8));
    // A MAC under a key of the wrong length is refused: no stand-in value and
    // no stale one is left for the caller to send or compare.
    for (auto* mac : {&crypto_sm_mac, &crypto_sm_mac_kite, &crypto_sm_mac_mirel}) {
        TBytes stale(8, 0xEE);
        EXPECT_EQ(CodeOf([&] { mac(Bytes(9, 1), block, stale); }), 0xFFFF);
        EXPECT_TRUE(stale.empty());
    }
}

// With the lengths a routine needs, a computation that still fails (here an
// input too long for the cv layer, never read) raises FFFF and writes nothing:
// no all-zero key is installed and no all-zero response is sent.
TEST(CorvidRoutines, AFailedComputationRaisesAndWritesNothing) {
    const Bytes salt(20, 1), challenge(16, 2), key24(24, 3);
    const unsigned char in[8] = {0};
    const unsigned long huge = static_cast<unsigned long>(INT_MAX) + 1;
    struct Case {
        const char* what;
        size_t outSize;
        std::function<void(unsigned char*)> call;
    } cases[] = {
        {"PKCS#12, Java", 24,
         [&](unsigned char* o) { crypto_corvid_java_sha1(1, in, huge / 4, salt.data(), 20, o, 24); }},
        {"PKCS#12, Kite", 24,
         [&](unsigned char* o) { crypto_corvid_kite_sha1(3, in, huge / 4, salt.data(), 20, o, 24); }},
        {"MD5 key", 24, [&](unsigned char* o) { crypto_corvid_md5_24(in, huge, nullptr, 0, o, 24); }},
        {"MD5 iterated", 16, [&](unsigned char* o) { crypto_corvid_md5_iterated(in, huge, o, 16, 2); }},
        {"challenge MAC", 8,
         [&](unsigned char* o) { crypto_corvid_des3_mac(in, huge, key24.data(), 24, o, 8); }},
        {"challenge response", 16,
         [&](unsigned char* o) { crypto_mirel_response(in, huge, challenge.data(), 16, o, 16); }},
    };
    for (const Case& c : cases) {
        Bytes out(c.outSize, 0xEE);
        EXPECT_EQ(CodeOf([&] { c.call(out.data()); }), 0xFFFF) << c.what;
        EXPECT_EQ(out, Bytes(c.outSize, 0xEE)) << c.what;
    }
}

TEST(CryptoRandom, FillsTheBufferFromTheCsprng) {
    EXPECT_EQ(crypto_random(nullptr, 16), 0);
    unsigned char a[16], b[16];
    std::memset(a, 0, sizeof a);
    EXPECT_EQ(crypto_random(a, 0), 0);
    EXPECT_EQ(crypto_random(a, 16), 0);
    EXPECT_EQ(crypto_random(b, 16), 0);
    EXPECT_NE(std::memcmp(a, b, 16), 0);
}
