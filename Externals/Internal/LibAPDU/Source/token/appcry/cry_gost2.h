// Crypto facet of the Gost2 applet: the applet's own key store, driven by
// class-80 commands: key pairs by number, their lists and public keys, hashing
// in three steps, signing a hash and deriving an agreement key.
#ifndef LIBAPDU_CRY_GOST2_H
#define LIBAPDU_CRY_GOST2_H

#include "appcry/cry_common.h"

namespace libapdu LIBAPDU_API {

class CCryGost2 : public CCryCommon {
public:
    explicit CCryGost2(IApplet* applet);

    unsigned char genKeyPair(const unsigned char& id, bool flag) override;
    void removeKeyPair(const unsigned char& id, unsigned char kind) override;
    TBytes getPublicKey(const unsigned char& kind, const unsigned char& id) override;
    TBytes getListCryptObjects(const unsigned char& kind, const unsigned char& id) override;
    void startHash(const unsigned char& algorithm) override;
    void continueHash(const TBytes& data) override;
    TBytes finishHash() override;
    TBytes signUseHashData(const unsigned char& id, const TBytes& extra, const TBytes& hash) override;
    TBytes genAgreementKey(const TBytes& publicKey, const TBytes& ukm, const unsigned char& id,
                           const unsigned char& mode, bool flag) override;

    static constexpr size_t kPublicKeySize = 64;
    static constexpr size_t kHashSize = 32;
    static constexpr size_t kUkmSize = 8;
    // The signing command carries extra, its length, the key and the hash in one Lc byte.
    static constexpr size_t kMaxExtra = 0xFF - 2 - kHashSize;

private:
    [[noreturn]] void raise(unsigned short code, unsigned long line) const;
    // Sends, judges the status word and returns the answer's data.
    TBytes exchange(const TBytes& command);
};

}  // namespace libapdu

#endif
