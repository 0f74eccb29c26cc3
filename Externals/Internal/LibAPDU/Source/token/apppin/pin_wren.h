// PIN facet of the Wren applet: one user PIN, ISO commands, no status record.
// The applet's status words come low byte first; its error facet reads them.
#ifndef LIBAPDU_PIN_WREN_H
#define LIBAPDU_PIN_WREN_H

#include "apppin/pin_common.h"

namespace libapdu LIBAPDU_API {

class CPinWren : public CPinCommon {
public:
    explicit CPinWren(IApplet* owner);

    void select(const path& designator) override;
    void login(const TBytes& pin) override;
    void change(const TBytes& newPin) override;
    void logout() override;
    PinInfo info() override;
    int encoding() override;
    void NamesInitProc() override;
};

}  // namespace libapdu

#endif
