// Base of the crypto facets of every family, the finders that pair key and
// certificate objects into containers, and the two certificate rules.
#ifndef LIBAPDU_CRY_COMMON_H
#define LIBAPDU_CRY_COMMON_H

#include "libapdu.internal.h"

namespace libapdu {

class CCryCommon : public IAppCrypto, public IAPDUDefinitions {
public:
    explicit CCryCommon(IApplet* applet) : m_applet(applet) {}

protected:
    IApplet* applet() const { return m_applet; }
    // The applet's facets as they are now. Taken at each use rather than stored:
    // an applet replaces its facets after this one is built (its own crypto slot
    // among them), and a stored copy would point at the objects it deleted.
    CAdapter adapter() const { return AppletToAdapter(m_applet); }

private:
    IApplet* m_applet;  // the owner; not owned
};

// Collects the key and certificate objects of a card and pairs them by name.
// Card data that the certificate rule cannot parse ends `unite` with the plain
// integer 0, which is no IException and passes every card-error handler.
class CCryFinder {
public:
    virtual void getcerts() = 0;
    virtual void getkeys() = 0;
    virtual ~CCryFinder();

    // Pairs `keys` with `certs` into `united`: the pairs (keys outer, certificates
    // inner), then the lone keys, then the lone certificates. Nothing is caught.
    void unite();
    std::vector<CCryptoInfo> containers() const { return united; }

    std::vector<CCryptoInfo> certs;
    std::vector<CCryptoInfo> keys;
    std::vector<CCryptoInfo> united;
};

// The RSA modulus of a DER X.509 certificate: the content of the INTEGER in the
// subject public key, less the 00 that keeps a modulus with its top bit set
// positive. Throws the integer 0 for every malformed structure.
TBytes extractPublicKeyFromCert(const TBytes& certificate);

// True when data has exactly the modulus's length and, big-endian, is below it.
bool isValidDataForRSA(const TBytes& modulus, const TBytes& data);

}  // namespace libapdu

#endif
