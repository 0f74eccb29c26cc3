// Crypto facet of the Tessel applet. The key operations are not offered yet:
// every operation answers FACE. It reaches the file system through the applet
// at the time of each call, since the applet installs the file system after it.
#ifndef LIBAPDU_CRY_TESSEL_H
#define LIBAPDU_CRY_TESSEL_H

#include "cry_common.h"

namespace libapdu {

class CCryTessel : public CCryCommon {
public:
    explicit CCryTessel(IApplet* applet) : CCryCommon(applet) {}
};

}  // namespace libapdu

#endif
