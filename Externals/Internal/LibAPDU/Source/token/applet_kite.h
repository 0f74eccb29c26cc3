#ifndef LIBAPDU_APPLET_KITE_H
#define LIBAPDU_APPLET_KITE_H

#include "libapdu.internal.h"

namespace libapdu LIBAPDU_API {

// Kite tokens are known by their ATR alone: the applet is current from reset and
// is never selected by an AID.
class CAppletKite : public IApplet, public IAPDUDefinitions {
public:
    explicit CAppletKite(ISender* sender);
    void init() override;
    static bool checkIfExist(ISender* sender);
};

}  // namespace libapdu

#endif
