// Base of the crypto facets of every family, the finders that pair key and
// certificate objects into containers, and the two certificate rules.
#ifndef LIBAPDU_CRY_COMMON_H
#define LIBAPDU_CRY_COMMON_H

#include <memory>

#include "libapdu.internal.h"

namespace libapdu LIBAPDU_API {

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

// The facets that discover their containers once, through a finder, and keep
// them for their life: listing by path, selection by path, the description of
// the selection and the provider record. Errors carry the family's source.
class CCryContainers : public CCryCommon {
public:
    CCryptoInfo info() override;
    std::vector<path> list(unsigned short) override;
    TBytes encrypt(const TBytes&) override;
    CProviderInfo provider(unsigned short id) override;

    // Discovers the containers, once: a search that failed is not repeated.
    void init();

protected:
    CCryContainers(IApplet* applet, const wchar_t* source, std::vector<unsigned short> keySizes);
    virtual std::unique_ptr<CCryFinder> makeFinder(const CAdapter& adapter) const = 0;
    // After init, makes the container with this path current (the last one with
    // it wins). An empty path raises 6A82 and keeps the selection; a path no
    // container has raises 6A82 and leaves nothing selected.
    void selectContainer(const path& p);
    [[noreturn]] void raise(unsigned short code, unsigned long line) const;

    CProviderInfo m_providerInfo;
    CCryptoInfo m_current;

private:
    const wchar_t* m_source;
    std::vector<CCryptoInfo> m_containerList;
    bool m_initialised = false;
};

// The children of one kind (1 files, 2 folders) of a card folder; none when the
// folder cannot be selected or listed.
std::vector<unsigned short> ListChildren(CAdapter& a, const path& folder, unsigned char kind);

}  // namespace libapdu

#endif
