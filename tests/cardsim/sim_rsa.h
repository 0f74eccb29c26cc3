// RSA keys and X.509 certificates for the simulated cards, and the elliptic-
// curve keys that stand in for a card's own algorithms, all made by OpenSSL:
// the card side deciphers, signs and agrees keys with them, tests encrypt and
// verify with them. Nothing here comes from the library under test.
#ifndef CARDSIM_SIM_RSA_H
#define CARDSIM_SIM_RSA_H

#include <openssl/evp.h>

#include <memory>
#include <string>

#include "sim_apdu.h"

namespace cardsim {

typedef std::shared_ptr<EVP_PKEY> SimRsaKey;

// A fresh RSA key of `bits` bits, public exponent 65537.
SimRsaKey MakeRsaKey(int bits);
// One key per size for the life of the process: key generation is slow, and
// tests that only need some key of a size may share it.
SimRsaKey SharedRsaKey(int bits);
// A key from its parts (big-endian modulus, public and private exponents).
SimRsaKey RsaKeyFromParts(const Bytes& n, const Bytes& e, const Bytes& d);

// A self-signed certificate over the key, DER. Version 1 carries no
// extensions; version 3 carries basic constraints and key usage.
Bytes MakeCertificate(const SimRsaKey& key, int version, const std::string& commonName);

// Modulus and public exponent, big-endian without sign byte.
Bytes RsaModulus(const SimRsaKey& key);
Bytes RsaPublicExponent(const SimRsaKey& key);
// The private exponent and the primes, big-endian, for a key import.
Bytes RsaPrivatePart(const SimRsaKey& key, const char* name);
int RsaBits(const SimRsaKey& key);

// PKCS#1 v1.5 encryption with the public key (what a test hands the card).
Bytes RsaEncrypt(const SimRsaKey& key, const Bytes& plain);
// PKCS#1 v1.5 decryption with the private key; false when the padding is wrong.
bool RsaDecrypt(const SimRsaKey& key, const Bytes& cipher, Bytes& plain);
// PKCS#1 v1.5 signature over a hash given as it is (no DigestInfo added), and its check.
bool RsaSignRaw(const SimRsaKey& key, const Bytes& hash, Bytes& signature);
bool RsaVerifyRaw(const SimRsaKey& key, const Bytes& hash, const Bytes& signature);

// P-256 keys: the public key as X || Y (64 bytes), signatures as r || s (64
// bytes) over a 32-byte hash taken as it is, and the ECDH shared X (32 bytes).
typedef std::shared_ptr<EVP_PKEY> SimEcKey;
SimEcKey MakeEcKey();
Bytes EcPublicXY(const SimEcKey& key);
bool EcSignRaw(const SimEcKey& key, const Bytes& hash, Bytes& signature);
bool EcVerifyRaw(const Bytes& publicXY, const Bytes& hash, const Bytes& signature);
// False when the peer's point is not on the curve.
bool EcShared(const SimEcKey& key, const Bytes& peerXY, Bytes& shared);

}  // namespace cardsim

#endif
