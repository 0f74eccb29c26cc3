#ifndef LIBAPDU_APPLET_ZUDEZOZUD_H
#define LIBAPDU_APPLET_ZUDEZOZUD_H

#include "libapdu.internal.h"

namespace libapdu LIBAPDU_API {

// Offers no facet of its own: every slot keeps its bare object.
class CAppletZudezoZud : public IApplet, public IAPDUDefinitions {
public:
    explicit CAppletZudezoZud(ISender* sender);
    void selectTokenApp() override;
    static bool checkIfExist(ISender* sender);
    static const TBytes& aid();
};

}  // namespace libapdu

#endif
