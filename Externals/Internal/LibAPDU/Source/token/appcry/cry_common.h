// Base of the crypto facets of every family.
#ifndef LIBAPDU_CRY_COMMON_H
#define LIBAPDU_CRY_COMMON_H

#include "libapdu.internal.h"

namespace libapdu {

class CCryCommon : public IAppCrypto, public IAPDUDefinitions {
public:
    explicit CCryCommon(IApplet* applet) : m_applet(applet) {}

protected:
    IApplet* applet() const { return m_applet; }

private:
    IApplet* m_applet;  // the owner; not owned
};

}  // namespace libapdu

#endif
