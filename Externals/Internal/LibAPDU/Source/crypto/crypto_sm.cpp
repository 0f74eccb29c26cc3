// Encryption, decryption and MACs of the secure-messaging facets.
#include <climits>
#include <cstring>

#include "crypto.h"
#include "cvcrypto.h"
#include "libapdu.internal.h"

namespace libapdu LIBAPDU_API {

namespace {

const wchar_t kSource[] = LIBAPDU_SOURCE("crypto/crypto_sm");

bool ValidKey(const TBytes& key) { return key.size() == 16 || key.size() == 24; }
bool ValidIv(const TBytes& iv) { return iv.empty() || iv.size() == 8; }
bool ValidData(const TBytes& data) { return data.size() <= static_cast<size_t>(INT_MAX - 64); }

// TDEA CBC with padding method 2 into a fresh vector, so that the caller's
// output is replaced only by a complete result (and may be the data itself).
bool Cbc(int mode, const TBytes& key, const TBytes& data, const TBytes& iv, TBytes& result) {
    result.clear();
    if (!ValidKey(key) || !ValidIv(iv) || !ValidData(data)) return false;
    cvCryptoContext ctx;
    int n = 0;
    int r = cvCryptoCbcInit(&ctx, cvCryptoAlgDES3, mode, key.data(), static_cast<int>(key.size()),
                            iv.empty() ? nullptr : iv.data(), static_cast<int>(iv.size()));
    const int length = static_cast<int>(data.size());
    if (r == cvOk) r = cvCryptoCbcFinal(&ctx, data.data(), length, cvPadIso9797M2, nullptr, &n);
    if (r == cvOk) {
        result.resize(static_cast<size_t>(n));
        // The query reports the exact length; a result of 0 bytes still needs
        // a buffer address for the final step.
        unsigned char spare[8];
        r = cvCryptoCbcFinal(&ctx, data.data(), length, cvPadIso9797M2, n > 0 ? result.data() : spare, &n);
        if (r == cvOk && static_cast<size_t>(n) <= result.size()) result.resize(static_cast<size_t>(n));
    }
    cvCryptoFree(&ctx);
    if (r != cvOk) {
        SecureWipe(result);
        result.clear();
        return false;
    }
    return true;
}

// A MAC that could not be computed raises FFFF and leaves the output empty:
// a stand-in value (zeros) would be sent to the card or, worse, compared with
// the card's MAC and accepted when the card answers with the same stand-in.
void Mac(cvCryptoAlgorithm alg, int padType, const TBytes& key, const TBytes& data, TBytes& output) {
    unsigned char mac[8] = {0};
    int r = cvErrBadArgument;
    if (ValidKey(key) && ValidData(data)) {
        cvCryptoContext ctx;
        int n = 0;
        r = cvCryptoMacInit(&ctx, alg, key.data(), static_cast<int>(key.size()));
        if (r == cvOk) r = cvCryptoMacUpdate(&ctx, data.data(), static_cast<int>(data.size()));
        if (r == cvOk) r = cvCryptoMacResult(&ctx, padType, mac, &n);
        cvCryptoFree(&ctx);
    }
    SecureWipe(output);
    output.clear();
    if (r != cvOk) {
        SecureWipe(mac, sizeof mac);
        LIBAPDU_RAISE(kErrGeneral);
    }
    output.assign(mac, mac + 8);
    SecureWipe(mac, sizeof mac);
}

}  // namespace

void crypto_sm_enc(const TBytes& key, const TBytes& data, TBytes& output, const TBytes& iv) {
    TBytes result;
    const bool ok = Cbc(0, key, data, iv, result);
    output.swap(result);
    // Our own failure, not the card's: nothing half-made is sent.
    if (!ok) LIBAPDU_RAISE(kErrGeneral);
}

void crypto_sm_enc_mirel(const TBytes& key, const TBytes& data, TBytes& output, const TBytes& iv) {
    crypto_sm_enc(key, data, output, iv);
}

void crypto_sm_dec(const TBytes& key, const TBytes& data, TBytes& output, const TBytes& iv) {
    TBytes result;
    const bool ok = Cbc(1, key, data, iv, result);
    output.swap(result);
    // A wrong length or padding is a malformed answer of the card: no partial
    // plaintext is left behind.
    if (!ok) LIBAPDU_RAISE(kSwBadAnswer);
}

void crypto_sm_mac(const TBytes& key, const TBytes& data, TBytes& output) {
    Mac(cvCryptoAlgDES3, cvPadIso9797M2, key, data, output);
}

void crypto_sm_mac_kite(const TBytes& key, const TBytes& data, TBytes& output) {
    Mac(cvCryptoAlgDES3_Lite, cvPadIso9797M1, key, data, output);
}

void crypto_sm_mac_mirel(const TBytes& key, const TBytes& data, TBytes& output) {
    Mac(cvCryptoAlgDES3_Lite, cvPadIso9797M2, key, data, output);
}

}  // namespace libapdu
