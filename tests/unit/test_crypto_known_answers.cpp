// Derivations and MACs checked against values worked out apart from the code
// under test: the PIN key against digests packed by whole-number arithmetic,
// the retail MAC against OpenSSL's EDE cipher (E_K3 D_K2 E_K1 of the last
// chained block is one three-key TDEA encryption).
#include "test_crypto_util.h"

#include <gtest/gtest.h>

#include <cstring>

#include "crypto/crypto.h"

using namespace libapdu;
using namespace cryptotest;

namespace {

const Bytes kK1 = Hex("0123456789ABCDEF"), kK2 = Hex("FEDCBA9876543210"), kK3 = Hex("89ABCDEF01234567");

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// MAC algorithm 3 over already padded data: single DES CBC under K1 (TDEA with
// K1 K1 K1) up to the last block, then that block chained and put through
// three-key TDEA K1 K2 K3.
Bytes RetailMac(const Bytes& k1, const Bytes& k2, const Bytes& k3, const Bytes& padded) {
    Bytes chain(8, 0);
    if (padded.size() > 8) {
        const Bytes head(padded.begin(), padded.end() - 8);
        const Bytes c = EvpTdesCbc(Cat({k1, k1, k1}), Bytes(8, 0), head, true);
        chain.assign(c.end() - 8, c.end());
    }
    return EvpTdesCbc(Cat({k1, k2, k3}), chain, Bytes(padded.end() - 8, padded.end()), true);
}

Bytes PadMethod2(Bytes d) {
    d.push_back(0x80);
    while (d.size() % 8) d.push_back(0);
    return d;
}

Bytes PadMethod1(Bytes d) {
    while (d.size() % 8) d.push_back(0);
    return d;
}

}  // namespace

TEST(CorvidMd5, PinKeysOfKnownPins) {
    struct Case {
        Bytes pin;
        const char* key;
    } cases[] = {
        {Bytes(), "1371166c6a3f0350091b5b270372536a1f63552a0a084256"},
        {Bytes{'1', '2', '3', '4'}, "2c7848263a2978051613367e23555d0b230b356d1852443b"},
        {Bytes(40, 0xFF), "6b667b5c5424691964792f1b30315d6e7301080a7813106b"},
    };
    for (const auto& c : cases) {
        Bytes out(24, 0xEE);
        crypto_corvid_md5_24(c.pin.data(), c.pin.size(), nullptr, 0, out.data(), 24);
        EXPECT_EQ(ToHex(out), c.key) << c.pin.size() << " PIN bytes";
    }
}

TEST(SecureMessaging, RetailMacsUseTheThirdKeyOfALongKey) {
    ByteSource src(41);
    const Bytes key16 = Cat({kK1, kK2}), key24 = Cat({kK1, kK2, kK3});
    for (size_t len : {0u, 5u, 8u, 13u, 24u}) {
        const Bytes data = src.take(len);
        struct Case {
            const char* what;
            const Bytes& key;
            const Bytes& k3;
        } keys[] = {{"16-byte key", key16, kK1}, {"24-byte key", key24, kK3}};
        for (const auto& k : keys) {
            SCOPED_TRACE(std::string(k.what) + ", " + std::to_string(len) + " bytes");
            TBytes kite(3, 0xEE), mirel;
            crypto_sm_mac_kite(k.key, data, kite);
            crypto_sm_mac_mirel(k.key, data, mirel);
            EXPECT_EQ(ToHex(mirel), ToHex(RetailMac(kK1, kK2, k.k3, PadMethod2(data))));
            if (data.empty()) {
                // Method 1 adds no block to an empty input: only the last-block
                // transform of the zero chaining value remains.
                EXPECT_EQ(ToHex(kite), ToHex(OsslDes(k.k3, OsslDes(kK2, Bytes(8, 0), false), true)));
            } else {
                EXPECT_EQ(ToHex(kite), ToHex(RetailMac(kK1, kK2, k.k3, PadMethod1(data))));
            }
        }
    }
}

TEST(SecureMessaging, FullTdesMacWithEitherKeyLength) {
    ByteSource src(42);
    for (const Bytes& key : {Cat({kK1, kK2}), Cat({kK1, kK2, kK3})}) {
        for (size_t len : {0u, 7u, 8u, 17u}) {
            const Bytes data = src.take(len);
            TBytes mac;
            crypto_sm_mac(key, data, mac);
            const Bytes ref = EvpTdesCbc(key, Bytes(8, 0), PadMethod2(data), true);
            EXPECT_EQ(ToHex(mac), ToHex(Bytes(ref.end() - 8, ref.end()))) << key.size() << "/" << len;
        }
    }
}
