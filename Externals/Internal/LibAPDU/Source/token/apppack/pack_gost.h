// The Gost applet's pack: key slots only (slot 0 carries the PIN of the last
// login); the applet has no secure messaging.
#ifndef LIBAPDU_PACK_GOST_H
#define LIBAPDU_PACK_GOST_H

#include "apppack/pack_common.h"

namespace libapdu LIBAPDU_API {

class CPackGost : public CPackCommon {
public:
    explicit CPackGost(IApplet* owner);
    void sm(const TBytes& command, TBytes& response) override;
    void chain(const TBytes& command, TBytes& response) override;
};

}  // namespace libapdu

#endif
