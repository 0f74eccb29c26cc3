// Crypto facet of the Gost2 applet. The key operations are not offered yet:
// every operation answers FACE.
#ifndef LIBAPDU_CRY_GOST2_H
#define LIBAPDU_CRY_GOST2_H

#include "cry_common.h"

namespace libapdu {

class CCryGost2 : public CCryCommon {
public:
    explicit CCryGost2(IApplet* applet) : CCryCommon(applet) {}
};

}  // namespace libapdu

#endif
