#include "sim_rsa.h"

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/core_names.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <map>
#include <mutex>
#include <stdexcept>

namespace cardsim {

namespace {

SimRsaKey Own(EVP_PKEY* k) {
    if (!k) throw std::runtime_error("OpenSSL: no RSA key");
    return SimRsaKey(k, EVP_PKEY_free);
}

Bytes BnParam(const SimRsaKey& key, const char* name) {
    BIGNUM* bn = nullptr;
    if (EVP_PKEY_get_bn_param(key.get(), name, &bn) != 1) throw std::runtime_error("OpenSSL: no key parameter");
    Bytes out(static_cast<size_t>(BN_num_bytes(bn)));
    BN_bn2bin(bn, out.data());
    BN_clear_free(bn);
    return out;
}

struct Ctx {
    EVP_PKEY_CTX* p;
    explicit Ctx(const SimRsaKey& key) : p(EVP_PKEY_CTX_new(key.get(), nullptr)) {}
    ~Ctx() { EVP_PKEY_CTX_free(p); }
};

void AddExtension(X509* cert, int nid, const char* value) {
    X509V3_CTX v3;
    X509V3_set_ctx_nodb(&v3);
    X509V3_set_ctx(&v3, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &v3, nid, value);
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

}  // namespace

SimRsaKey MakeRsaKey(int bits) { return Own(EVP_RSA_gen(static_cast<unsigned int>(bits))); }

SimRsaKey SharedRsaKey(int bits) {
    static std::mutex mu;
    static std::map<int, SimRsaKey> keys;
    std::lock_guard<std::mutex> g(mu);
    SimRsaKey& k = keys[bits];
    if (!k) k = MakeRsaKey(bits);
    return k;
}

SimRsaKey RsaKeyFromParts(const Bytes& n, const Bytes& e, const Bytes& d) {
    BIGNUM* bn = BN_bin2bn(n.data(), static_cast<int>(n.size()), nullptr);
    BIGNUM* be = BN_bin2bn(e.data(), static_cast<int>(e.size()), nullptr);
    BIGNUM* bd = BN_bin2bn(d.data(), static_cast<int>(d.size()), nullptr);
    OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
    OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_N, bn);
    OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_E, be);
    OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_D, bd);
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(bld);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
    EVP_PKEY* key = nullptr;
    if (EVP_PKEY_fromdata_init(ctx) != 1 || EVP_PKEY_fromdata(ctx, &key, EVP_PKEY_KEYPAIR, params) != 1) key = nullptr;
    EVP_PKEY_CTX_free(ctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(bld);
    BN_free(bn);
    BN_free(be);
    BN_clear_free(bd);
    return Own(key);
}

Bytes MakeCertificate(const SimRsaKey& key, int version, const std::string& commonName) {
    X509* cert = X509_new();
    X509_set_version(cert, version - 1);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 0x1234 + version);
    X509_gmtime_adj(X509_getm_notBefore(cert), 0);
    X509_gmtime_adj(X509_getm_notAfter(cert), 365L * 24 * 3600);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName.c_str()),
                               -1, -1, 0);
    X509_set_issuer_name(cert, name);
    X509_set_pubkey(cert, key.get());
    if (version == 3) {
        AddExtension(cert, NID_basic_constraints, "critical,CA:FALSE");
        AddExtension(cert, NID_key_usage, "digitalSignature,keyEncipherment");
    }
    X509_sign(cert, key.get(), EVP_sha256());
    unsigned char* der = nullptr;
    const int n = i2d_X509(cert, &der);
    X509_free(cert);
    if (n <= 0) throw std::runtime_error("OpenSSL: no certificate");
    Bytes out(der, der + n);
    OPENSSL_free(der);
    return out;
}

Bytes RsaModulus(const SimRsaKey& key) { return BnParam(key, OSSL_PKEY_PARAM_RSA_N); }
Bytes RsaPublicExponent(const SimRsaKey& key) { return BnParam(key, OSSL_PKEY_PARAM_RSA_E); }
Bytes RsaPrivatePart(const SimRsaKey& key, const char* name) { return BnParam(key, name); }
int RsaBits(const SimRsaKey& key) { return EVP_PKEY_get_bits(key.get()); }

Bytes RsaEncrypt(const SimRsaKey& key, const Bytes& plain) {
    Ctx c(key);
    size_t n = 0;
    if (EVP_PKEY_encrypt_init(c.p) != 1 || EVP_PKEY_CTX_set_rsa_padding(c.p, RSA_PKCS1_PADDING) != 1 ||
        EVP_PKEY_encrypt(c.p, nullptr, &n, plain.data(), plain.size()) != 1)
        throw std::runtime_error("OpenSSL: no encryption");
    Bytes out(n);
    if (EVP_PKEY_encrypt(c.p, out.data(), &n, plain.data(), plain.size()) != 1)
        throw std::runtime_error("OpenSSL: no encryption");
    out.resize(n);
    return out;
}

bool RsaDecrypt(const SimRsaKey& key, const Bytes& cipher, Bytes& plain) {
    Ctx c(key);
    size_t n = 0;
    if (EVP_PKEY_decrypt_init(c.p) != 1 || EVP_PKEY_CTX_set_rsa_padding(c.p, RSA_PKCS1_PADDING) != 1 ||
        EVP_PKEY_decrypt(c.p, nullptr, &n, cipher.data(), cipher.size()) != 1)
        return false;
    plain.assign(n, 0);
    if (EVP_PKEY_decrypt(c.p, plain.data(), &n, cipher.data(), cipher.size()) != 1) return false;
    plain.resize(n);
    return true;
}

bool RsaSignRaw(const SimRsaKey& key, const Bytes& hash, Bytes& signature) {
    Ctx c(key);
    size_t n = 0;
    if (EVP_PKEY_sign_init(c.p) != 1 || EVP_PKEY_CTX_set_rsa_padding(c.p, RSA_PKCS1_PADDING) != 1 ||
        EVP_PKEY_sign(c.p, nullptr, &n, hash.data(), hash.size()) != 1)
        return false;
    signature.assign(n, 0);
    if (EVP_PKEY_sign(c.p, signature.data(), &n, hash.data(), hash.size()) != 1) return false;
    signature.resize(n);
    return true;
}

bool RsaVerifyRaw(const SimRsaKey& key, const Bytes& hash, const Bytes& signature) {
    Ctx c(key);
    return EVP_PKEY_verify_init(c.p) == 1 && EVP_PKEY_CTX_set_rsa_padding(c.p, RSA_PKCS1_PADDING) == 1 &&
           EVP_PKEY_verify(c.p, signature.data(), signature.size(), hash.data(), hash.size()) == 1;
}

// ---------------------------------------------------------------- P-256

namespace {
SimEcKey EcFromXY(const Bytes& xy) {
    if (xy.size() != 64) return SimEcKey();
    Bytes point = {0x04};
    point.insert(point.end(), xy.begin(), xy.end());
    char group[] = "prime256v1";
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group, 0),
                           OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size()),
                           OSSL_PARAM_construct_end()};
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr);
    EVP_PKEY* key = nullptr;
    if (EVP_PKEY_fromdata_init(ctx) != 1 || EVP_PKEY_fromdata(ctx, &key, EVP_PKEY_PUBLIC_KEY, params) != 1) key = nullptr;
    EVP_PKEY_CTX_free(ctx);
    if (!key) return SimEcKey();
    // fromdata does not check that the point lies on the curve.
    EVP_PKEY_CTX* check = EVP_PKEY_CTX_new(key, nullptr);
    const bool ok = EVP_PKEY_public_check(check) == 1;
    EVP_PKEY_CTX_free(check);
    if (!ok) {
        EVP_PKEY_free(key);
        return SimEcKey();
    }
    return SimEcKey(key, EVP_PKEY_free);
}
}  // namespace

SimEcKey MakeEcKey() { return Own(EVP_EC_gen("P-256")); }

Bytes EcPublicXY(const SimEcKey& key) {
    Bytes point(65);
    size_t n = 0;
    if (EVP_PKEY_get_octet_string_param(key.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size(), &n) != 1 ||
        n != 65)
        throw std::runtime_error("OpenSSL: no EC point");
    return Bytes(point.begin() + 1, point.end());
}

bool EcSignRaw(const SimEcKey& key, const Bytes& hash, Bytes& signature) {
    Ctx c(key);
    size_t n = 0;
    if (EVP_PKEY_sign_init(c.p) != 1 || EVP_PKEY_sign(c.p, nullptr, &n, hash.data(), hash.size()) != 1) return false;
    Bytes der(n);
    if (EVP_PKEY_sign(c.p, der.data(), &n, hash.data(), hash.size()) != 1) return false;
    const unsigned char* p = der.data();
    ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(n));
    if (!sig) return false;
    signature.assign(64, 0);
    BN_bn2binpad(ECDSA_SIG_get0_r(sig), signature.data(), 32);
    BN_bn2binpad(ECDSA_SIG_get0_s(sig), signature.data() + 32, 32);
    ECDSA_SIG_free(sig);
    return true;
}

bool EcVerifyRaw(const Bytes& publicXY, const Bytes& hash, const Bytes& signature) {
    const SimEcKey key = EcFromXY(publicXY);
    if (!key || signature.size() != 64) return false;
    ECDSA_SIG* sig = ECDSA_SIG_new();
    ECDSA_SIG_set0(sig, BN_bin2bn(signature.data(), 32, nullptr), BN_bin2bn(signature.data() + 32, 32, nullptr));
    unsigned char* der = nullptr;
    const int n = i2d_ECDSA_SIG(sig, &der);
    ECDSA_SIG_free(sig);
    Ctx c(key);
    const bool ok = n > 0 && EVP_PKEY_verify_init(c.p) == 1 &&
                    EVP_PKEY_verify(c.p, der, static_cast<size_t>(n), hash.data(), hash.size()) == 1;
    OPENSSL_free(der);
    return ok;
}

bool EcShared(const SimEcKey& key, const Bytes& peerXY, Bytes& shared) {
    const SimEcKey peer = EcFromXY(peerXY);
    if (!peer) return false;
    Ctx c(key);
    size_t n = 0;
    if (EVP_PKEY_derive_init(c.p) != 1 || EVP_PKEY_derive_set_peer(c.p, peer.get()) != 1 ||
        EVP_PKEY_derive(c.p, nullptr, &n) != 1)
        return false;
    shared.assign(n, 0);
    if (EVP_PKEY_derive(c.p, shared.data(), &n) != 1) return false;
    shared.resize(n);
    return true;
}

}  // namespace cardsim
