// Crypto facet of the Tessel applet: RSA key files in the key folder
// 3F00/3000/3002 with attribute files beside them, certificates in attribute
// files of 3F00/3000/3001. No finder: every selection reads the card afresh,
// and the facet reaches the applet's file system, PIN, pack and error facets
// at the time of each call (it is built before the applet's file system).
#ifndef LIBAPDU_CRY_TESSEL_H
#define LIBAPDU_CRY_TESSEL_H

#include "appcry/cry_common.h"

namespace libapdu LIBAPDU_API {

class CCryTessel : public CCryCommon {
public:
    explicit CCryTessel(IApplet* applet);

    void select(path p) override;
    void create(unsigned short fid, CCryptoInfo info) override;
    CCryptoInfo info() override;
    std::vector<path> list(unsigned short) override;
    TBytes encrypt(const TBytes&) override;
    TBytes decrypt(const TBytes& data) override;
    unsigned char genKeyPair(const unsigned char& id, bool) override;
    TBytes signUseHashData(const unsigned char& id, const TBytes&, const TBytes& hash) override;
    CProviderInfo provider(unsigned short id) override;

private:
    [[noreturn]] void raise(unsigned short code, unsigned long line) const;
    TBytes readWhole(const path& p);
    unsigned char userPinReference();
    // The user PIN's reference for a key file about to be created in the
    // directory selected now, which stays the card's selection.
    unsigned char keyOwnerReference();

    CProviderInfo m_providerInfo;
    CCryptoInfo m_current;
};

}  // namespace libapdu

#endif
