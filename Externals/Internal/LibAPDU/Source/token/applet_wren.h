#ifndef LIBAPDU_APPLET_WREN_H
#define LIBAPDU_APPLET_WREN_H

#include "libapdu.internal.h"

namespace libapdu LIBAPDU_API {

// The Wren token: known by its answer-to-reset, its applet answers without SELECT.
class CAppletWren : public IApplet {
public:
    explicit CAppletWren(ISender* sender);
    void init() override;
    static bool checkIfExist(ISender* sender);
};

}  // namespace libapdu

#endif
