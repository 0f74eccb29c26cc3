// Helpers shared by the crypto tests: hex conversion, a seeded byte source and
// OpenSSL references.
#ifndef TEST_CRYPTO_UTIL_H
#define TEST_CRYPTO_UTIL_H

#define OPENSSL_SUPPRESS_DEPRECATED 1

#include <openssl/evp.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "sim_crypto.h"

namespace cryptotest {

typedef libapdu::TBytes Bytes;

inline Bytes Hex(const std::string& s) {
    Bytes out;
    int hi = -1;
    for (char c : s) {
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else
            continue;
        if (hi < 0) {
            hi = v;
        } else {
            out.push_back(static_cast<unsigned char>(hi * 16 + v));
            hi = -1;
        }
    }
    return out;
}

inline std::string ToHex(const unsigned char* p, size_t n) {
    static const char kD[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += kD[p[i] >> 4];
        s += kD[p[i] & 15];
    }
    return s;
}
inline std::string ToHex(const Bytes& b) { return ToHex(b.data(), b.size()); }

// Deterministic bytes, so that a failing case can be repeated.
class ByteSource {
public:
    explicit ByteSource(uint32_t seed) : m_rng(seed) {}
    Bytes take(size_t n) {
        Bytes b(n);
        for (auto& x : b) x = static_cast<unsigned char>(m_rng());
        return b;
    }
    uint32_t word() { return static_cast<uint32_t>(m_rng()); }

private:
    std::mt19937 m_rng;
};

// Triple DES (two- or three-key), CBC with the given IV (empty: zero), no padding.
inline Bytes EvpTdesCbc(const Bytes& key, const Bytes& iv, const Bytes& data, bool encrypt) {
    return simcrypto::TdesCbc(key, data, iv, encrypt);
}

// Single DES of one block.
inline Bytes OsslDes(const Bytes& key, const Bytes& block, bool encrypt) { return simcrypto::Des(key, block, encrypt); }

}  // namespace cryptotest

#endif
