#ifndef LIBAPDU_APPLET_GOST_H
#define LIBAPDU_APPLET_GOST_H

#include "libapdu.internal.h"

namespace libapdu LIBAPDU_API {

class CAppletGost : public IApplet, public IAPDUDefinitions {
public:
    explicit CAppletGost(ISender* sender);
    void selectTokenApp() override;
    // Asks the applet for its record once and refuses one too short to be real.
    void init() override;
    static bool checkIfExist(ISender* sender);
    static const TBytes& aid();
};

}  // namespace libapdu

#endif
