// The card side's cryptography, on OpenSSL alone, shared by the simulator, the
// unit tests' card peer and the crypto tests: it checks the library instead of
// repeating it. Keys of 16 bytes are two-key TDEA (K1 K2 K1), of 24 three-key.
#ifndef CARDSIM_SIM_CRYPTO_H
#define CARDSIM_SIM_CRYPTO_H

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/rand.h>

#include <algorithm>
#include <initializer_list>
#include <vector>

#include "sim_apdu.h"

namespace simcrypto {

typedef cardsim::Bytes Bytes;

// TDEA CBC without padding; an empty IV is a zero IV. The input is a whole
// number of blocks and the key 16 or 24 bytes: callers check before.
inline Bytes TdesCbc(const Bytes& key, const Bytes& in, const Bytes& iv, bool encrypt) {
    const Bytes zero(8, 0);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    Bytes out(in.size() + 16);
    int n = 0, m = 0;
    EVP_CipherInit_ex(ctx, key.size() == 16 ? EVP_des_ede_cbc() : EVP_des_ede3_cbc(), nullptr, key.data(),
                      iv.empty() ? zero.data() : iv.data(), encrypt ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_CipherUpdate(ctx, out.data(), &n, in.data(), static_cast<int>(in.size()));
    EVP_CipherFinal_ex(ctx, out.data() + n, &m);
    EVP_CIPHER_CTX_free(ctx);
    out.resize(static_cast<size_t>(n + m));
    return out;
}

// Single DES of one block, as two-key TDEA with K1 = K2 (E K, D K, E K is E K),
// so that no deprecated single-DES interface is needed.
inline Bytes Des(const Bytes& key, const Bytes& block, bool encrypt) {
    Bytes k(key.begin(), key.begin() + 8);
    k.insert(k.end(), key.begin(), key.begin() + 8);
    return TdesCbc(k, Bytes(block.begin(), block.begin() + 8), Bytes(), encrypt);
}

// ISO/IEC 9797-1 padding method 2: 80, then zeros to the block end; always added.
inline Bytes Pad2(Bytes d) {
    d.push_back(0x80);
    while (d.size() % 8) d.push_back(0x00);
    return d;
}

inline bool Unpad2(Bytes& d) {
    while (!d.empty() && d.back() == 0x00) d.pop_back();
    if (d.empty() || d.back() != 0x80) return false;
    d.pop_back();
    return true;
}

// ISO/IEC 9797-1 MAC algorithm 1 with TDEA, zero IV, padding method 2.
inline Bytes SmMac(const Bytes& key, const Bytes& data) {
    const Bytes c = TdesCbc(key, Pad2(data), Bytes(), true);
    return Bytes(c.end() - 8, c.end());
}

// Key `id` of a PIN: PKCS#12 derivation (SHA-1, 999 rounds, 24 bytes) over the
// PIN's bytes as a BMPString.
inline Bytes JavaKey(int id, const Bytes& pin, const Bytes& salt) {
    Bytes bmp;
    for (unsigned char b : pin) bmp.insert(bmp.end(), {0x00, b});
    bmp.insert(bmp.end(), {0x00, 0x00});
    Bytes out(24);
    PKCS12_key_gen_uni(bmp.data(), static_cast<int>(bmp.size()), const_cast<unsigned char*>(salt.data()),
                       static_cast<int>(salt.size()), id, 999, 24, out.data(), EVP_sha1());
    return out;
}

// 24-byte key from a PIN: MD5(00 || pin) || MD5(01 || pin) read as a bit stream,
// least significant bit first, seven bits to each key byte.
inline Bytes PinKey24(const Bytes& pin) {
    Bytes h(32);
    for (unsigned char prefix = 0; prefix < 2; ++prefix) {
        Bytes in = {prefix};
        in.insert(in.end(), pin.begin(), pin.end());
        EVP_Digest(in.data(), in.size(), h.data() + 16 * prefix, nullptr, EVP_md5(), nullptr);
    }
    Bytes key(24, 0);
    for (size_t j = 0; j < 24; ++j)
        for (size_t b = 0; b < 7; ++b) {
            const size_t bit = 7 * j + b;
            if ((h[bit / 8] >> (bit % 8)) & 1) key[j] = static_cast<unsigned char>(key[j] | (1u << b));
        }
    return key;
}

// Zeros to the block end, only when a partial block remains (an empty input is one block of zeros).
inline Bytes ZeroPad(Bytes d) {
    while (d.size() % 8) d.push_back(0x00);
    if (d.empty()) d.assign(8, 0x00);
    return d;
}

// ISO/IEC 9797-1 MAC algorithm 3: single DES under K1 over the chain, the last
// block D_K2 then E_K3 (K3 = K1 for a 16-byte key), zero IV, zero padding.
inline Bytes RetailMac(const Bytes& key, const Bytes& data) {
    const Bytes k1(key.begin(), key.begin() + 8), k2(key.begin() + 8, key.begin() + 16);
    const Bytes k3 = key.size() == 24 ? Bytes(key.begin() + 16, key.end()) : k1;
    const Bytes padded = ZeroPad(data);
    Bytes h(8, 0);
    for (size_t i = 0; i < padded.size(); i += 8) {
        Bytes b(padded.begin() + static_cast<std::ptrdiff_t>(i), padded.begin() + static_cast<std::ptrdiff_t>(i + 8));
        for (size_t j = 0; j < 8; ++j) b[j] ^= h[j];
        h = Des(k1, b, true);
    }
    return Des(k3, Des(k2, h, false), true);
}

// ISO/IEC 9797-1 MAC algorithm 1 with TDEA, zero IV, zero padding.
inline Bytes TdesMac(const Bytes& key, const Bytes& data) {
    const Bytes c = TdesCbc(key, ZeroPad(data), Bytes(), true);
    return Bytes(c.end() - 8, c.end());
}

inline bool SameBytes(const Bytes& a, const Bytes& b) {
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace simcrypto

// What the simulated cards do with these: a malformed secure-messaging object
// or a key the card cannot use ends the command with a status word.
namespace cardsim {

const uint16_t kSwSmObjects = 0x6988;  // secure-messaging data objects incorrect
const size_t kKeySize = 24;

inline Bytes Random(size_t n) {
    Bytes r(n);
    if (n && RAND_bytes(r.data(), static_cast<int>(n)) != 1) Fail(kSwNoPreciseDiagnosis);
    return r;
}

// A digest over the parts in order, for the answers a card computes from what it is sent.
inline Bytes Digest(const EVP_MD* md, std::initializer_list<const Bytes*> parts) {
    Bytes out(static_cast<size_t>(EVP_MD_size(md)));
    unsigned int n = 0;
    EVP_MD_CTX* c = EVP_MD_CTX_new();
    bool ok = c && EVP_DigestInit_ex(c, md, nullptr) == 1;
    for (const Bytes* p : parts) ok = ok && EVP_DigestUpdate(c, p->data(), p->size()) == 1;
    ok = ok && EVP_DigestFinal_ex(c, out.data(), &n) == 1;
    EVP_MD_CTX_free(c);
    if (!ok) Fail(kSwNoPreciseDiagnosis);
    return out;
}

inline Bytes Sha1(const Bytes& in) { return Digest(EVP_sha1(), {&in}); }

// The card refuses keys and data that TDEA CBC cannot take.
inline Bytes TdesCbc(const Bytes& key, const Bytes& in, const Bytes& iv, bool encrypt) {
    if ((key.size() != 16 && key.size() != 24) || in.size() % 8) Fail(kSwSmObjects);
    return simcrypto::TdesCbc(key, in, iv, encrypt);
}

inline Bytes RetailMac(const Bytes& key, const Bytes& data) {
    if (key.size() != 16 && key.size() != 24) Fail(kSwSmObjects);
    return simcrypto::RetailMac(key, data);
}

using simcrypto::JavaKey;
using simcrypto::Pad2;
using simcrypto::PinKey24;
using simcrypto::SameBytes;
using simcrypto::SmMac;
using simcrypto::TdesMac;
using simcrypto::Unpad2;

}  // namespace cardsim

#endif
