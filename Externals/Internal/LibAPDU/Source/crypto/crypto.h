// Cryptographic primitives used by the card facets: PIN derivations, challenge
// responses, single-block TDEA, the secure-messaging routines and random bytes.
// The byte-buffer routines do nothing, and leave the output untouched, when a
// length is not the one they need; a computation that fails with the right
// lengths raises FFFF, so no unset key or MAC is ever used.
#ifndef LIBAPDU_CRYPTO_H
#define LIBAPDU_CRYPTO_H

#include <cstdint>

#include "libapdu.h"

namespace libapdu LIBAPDU_API {

// Fills n bytes of buf from the OpenSSL CSPRNG; returns the generator's result
// code (0). Raises FFFF when the generator fails. A null buffer or n = 0 fills
// nothing.
int crypto_random(unsigned char* buf, uint64_t n);

// MD5 applied n times (MD5 of the input, then MD5 of the previous digest); output 16.
void crypto_corvid_md5_iterated(const unsigned char* in, unsigned long inLength, unsigned char* out,
                                unsigned long outLength, unsigned long n);
// MD5(in) || MD5(MD5(in)); output 32. The second input is ignored.
void crypto_corvid_md5_32(const unsigned char* in, unsigned long inLength, const unsigned char* in2,
                          unsigned long in2Length, unsigned char* out, unsigned long outLength);
// The 24-byte TDEA key of a PIN (seven bits of MD5 output per byte); output 24.
void crypto_corvid_md5_24(const unsigned char* in, unsigned long inLength, const unsigned char* in2,
                          unsigned long in2Length, unsigned char* out, unsigned long outLength);
// Three-key TDEA encryption of one block: input 8, key 24, output 8.
void crypto_corvid_des3_enc(const unsigned char* in, unsigned long inLength, const unsigned char* key,
                            unsigned long keyLength, unsigned char* out, unsigned long outLength);
// Two-key TDEA CBC encryption of one block under a zero IV: input 8, key 16, output 8.
void crypto_corvid_des3cbc_enc(const unsigned char* in, unsigned long inLength, const unsigned char* key,
                               unsigned long keyLength, unsigned char* out, unsigned long outLength);
// ISO/IEC 9797-1 MAC algorithm 1 with three-key TDEA, padding method 1: key 24, output 8.
void crypto_corvid_des3_mac(const unsigned char* in, unsigned long inLength, const unsigned char* key,
                            unsigned long keyLength, unsigned char* out, unsigned long outLength);
// PKCS#12 key derivation with SHA-1, 999 iterations: salt 20, output 24.
void crypto_corvid_java_sha1(int id, const unsigned char* password, unsigned long passwordLength,
                             const unsigned char* salt, unsigned long saltLength, unsigned char* out,
                             unsigned long outLength);
void crypto_corvid_kite_sha1(int id, const unsigned char* password, unsigned long passwordLength,
                             const unsigned char* salt, unsigned long saltLength, unsigned char* out,
                             unsigned long outLength);
// Two-key TDEA CBC of the 16-byte challenge under the first 16 bytes of
// SHA-1(secret): secret non-empty, challenge 16, output 16.
void crypto_mirel_response(const unsigned char* secret, unsigned long secretLength, const unsigned char* challenge,
                           unsigned long challengeLength, unsigned char* out, unsigned long outLength);

// Secure messaging: TDEA CBC with padding method 2 (80 00 .., always added).
// An empty IV means a zero IV. Keys are 16 or 24 bytes, IVs empty or 8 bytes;
// with any other key or IV the output is left empty and FFFF is raised.
void crypto_sm_enc(const TBytes& key, const TBytes& data, TBytes& output, const TBytes& iv);
void crypto_sm_enc_mirel(const TBytes& key, const TBytes& data, TBytes& output, const TBytes& iv);
// Decrypts and strips padding method 2. A bad key or IV, data that is not a
// non-zero multiple of 8 or a bad padding leaves the output empty and raises 6281.
void crypto_sm_dec(const TBytes& key, const TBytes& data, TBytes& output, const TBytes& iv);
// The MACs raise FFFF and leave the output empty when the key is not 16 or 24
// bytes: no stand-in MAC is ever sent or compared.
// TDEA CBC-MAC (MAC algorithm 1), zero IV, padding method 2; output 8 bytes.
void crypto_sm_mac(const TBytes& key, const TBytes& data, TBytes& output);
// Retail MAC (MAC algorithm 3), zero IV, padding method 1; output 8 bytes.
void crypto_sm_mac_kite(const TBytes& key, const TBytes& data, TBytes& output);
// Retail MAC with padding method 2; output 8 bytes.
void crypto_sm_mac_mirel(const TBytes& key, const TBytes& data, TBytes& output);

}  // namespace libapdu

#endif
