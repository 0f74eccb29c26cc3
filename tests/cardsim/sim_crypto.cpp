#include "sim_crypto.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/rand.h>

namespace cardsim {

Bytes Random(size_t n) {
    Bytes r(n);
    if (n && RAND_bytes(r.data(), static_cast<int>(n)) != 1) Fail(kSwNoPreciseDiagnosis);
    return r;
}

Bytes TdesCbc(const Bytes& key, const Bytes& in, const Bytes& iv, bool encrypt) {
    if ((key.size() != 16 && key.size() != 24) || in.size() % 8) Fail(kSwSmObjects);
    const Bytes zero(8, 0);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    Bytes out(in.size() + 8);
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

Bytes Pad2(Bytes d) {
    d.push_back(0x80);
    while (d.size() % 8) d.push_back(0x00);
    return d;
}

bool Unpad2(Bytes& d) {
    while (!d.empty() && d.back() == 0x00) d.pop_back();
    if (d.empty() || d.back() != 0x80) return false;
    d.pop_back();
    return true;
}

bool SameBytes(const Bytes& a, const Bytes& b) {
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

Bytes Pkcs12Key(int id, const Bytes& pin, const Bytes& salt) {
    Bytes bmp;
    for (unsigned char b : pin) bmp.insert(bmp.end(), {0x00, b});
    bmp.insert(bmp.end(), {0x00, 0x00});
    Bytes out(kKeySize);
    PKCS12_key_gen_uni(bmp.data(), static_cast<int>(bmp.size()), const_cast<unsigned char*>(salt.data()),
                       static_cast<int>(salt.size()), id, 999, static_cast<int>(kKeySize), out.data(), EVP_sha1());
    return out;
}

Bytes Md5Key24(const Bytes& pin) {
    Bytes h(32);
    for (unsigned char prefix = 0; prefix < 2; ++prefix) {
        Bytes in = {prefix};
        in.insert(in.end(), pin.begin(), pin.end());
        EVP_Digest(in.data(), in.size(), h.data() + 16 * prefix, nullptr, EVP_md5(), nullptr);
    }
    Bytes key(kKeySize, 0);
    for (size_t j = 0; j < kKeySize; ++j)
        for (size_t b = 0; b < 7; ++b) {
            const size_t bit = 7 * j + b;
            if ((h[bit / 8] >> (bit % 8)) & 1) key[j] = static_cast<unsigned char>(key[j] | (1u << b));
        }
    return key;
}

namespace {
// Single DES as three-key TDEA with one key three times: OpenSSL 3 keeps plain
// DES in its legacy provider.
Bytes Des(const Bytes& key8, const Bytes& block, bool encrypt) {
    Bytes key = key8;
    key.insert(key.end(), key8.begin(), key8.end());
    key.insert(key.end(), key8.begin(), key8.end());
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    Bytes out(16);
    int n = 0, m = 0;
    EVP_CipherInit_ex(ctx, EVP_des_ede3_ecb(), nullptr, key.data(), nullptr, encrypt ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_CipherUpdate(ctx, out.data(), &n, block.data(), static_cast<int>(block.size()));
    EVP_CipherFinal_ex(ctx, out.data() + n, &m);
    EVP_CIPHER_CTX_free(ctx);
    out.resize(static_cast<size_t>(n + m));
    return out;
}

Bytes ZeroPad(Bytes d) {
    while (d.size() % 8) d.push_back(0x00);
    if (d.empty()) d.assign(8, 0x00);
    return d;
}
}  // namespace

Bytes RetailMac(const Bytes& key, const Bytes& data) {
    if (key.size() != 16 && key.size() != 24) Fail(kSwSmObjects);
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

Bytes TdesMac(const Bytes& key, const Bytes& data) {
    const Bytes c = TdesCbc(key, ZeroPad(data), Bytes(), true);
    return Bytes(c.end() - 8, c.end());
}

}  // namespace cardsim
