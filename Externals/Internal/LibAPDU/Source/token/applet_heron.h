#ifndef LIBAPDU_APPLET_HERON_H
#define LIBAPDU_APPLET_HERON_H

#include "libapdu.internal.h"

namespace libapdu LIBAPDU_API {

class CAppletHeron : public IApplet, public IAPDUDefinitions {
public:
    explicit CAppletHeron(ISender* sender);
    void selectTokenApp() override;
    void init() override;
    static bool checkIfExist(ISender* sender);
    static const TBytes& aid();
};

}  // namespace libapdu

#endif
