// The cards' own cryptography, computed with OpenSSL: what the simulated
// applets derive from PINs and how they encrypt and MAC secure-messaging
// objects. Failures end the command with a status word (SimStatus).
#ifndef CARDSIM_SIM_CRYPTO_H
#define CARDSIM_SIM_CRYPTO_H

#include "sim_apdu.h"

namespace cardsim {

const uint16_t kSwSmObjects = 0x6988;  // secure-messaging data objects incorrect
const size_t kKeySize = 24;

Bytes Random(size_t n);
// TDEA CBC without padding; a 16-byte key is two-key, 24 three-key; empty IV is zero.
Bytes TdesCbc(const Bytes& key, const Bytes& in, const Bytes& iv, bool encrypt);
// ISO/IEC 9797-1 padding method 2, and its removal (false when it is not there).
Bytes Pad2(Bytes d);
bool Unpad2(Bytes& d);
// ISO/IEC 9797-1 MAC algorithm 3 (single DES under K1, the last block D_K2 then
// E_K3), zero IV, zeros added only when a partial block remains.
Bytes RetailMac(const Bytes& key, const Bytes& data);
// ISO/IEC 9797-1 MAC algorithm 1 with three-key TDEA, zero IV, zeros added only
// when a partial block remains.
Bytes TdesMac(const Bytes& key, const Bytes& data);
bool SameBytes(const Bytes& a, const Bytes& b);
// Key `id` of a PIN: PKCS#12 derivation (SHA-1, 999 rounds) over the PIN as a BMPString, 24 bytes.
Bytes Pkcs12Key(int id, const Bytes& pin, const Bytes& salt);
// MD5(00 || PIN) || MD5(01 || PIN), seven bits a byte: a 24-byte TDEA key.
Bytes Md5Key24(const Bytes& pin);

}  // namespace cardsim

#endif
