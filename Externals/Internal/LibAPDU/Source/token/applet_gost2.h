#ifndef LIBAPDU_APPLET_GOST2_H
#define LIBAPDU_APPLET_GOST2_H

#include "libapdu.internal.h"

namespace libapdu LIBAPDU_API {

class CAppletGost2 : public IApplet, public IAPDUDefinitions {
public:
    explicit CAppletGost2(ISender* sender);
    void selectTokenApp() override;
    // Asks the applet for its record once and refuses one too short to be real.
    void init() override;
    static bool checkIfExist(ISender* sender);
    static const TBytes& aid();
};

}  // namespace libapdu

#endif
