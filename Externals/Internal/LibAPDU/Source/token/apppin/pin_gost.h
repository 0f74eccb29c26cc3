// PIN facet of the Gost applet: user PIN 2, admin PIN 1. The applet wants the
// current PIN with every change, so a login keeps it in key slot 0.
#ifndef LIBAPDU_PIN_GOST_H
#define LIBAPDU_PIN_GOST_H

#include "apppin/pin_common.h"

namespace libapdu LIBAPDU_API {

// Reads the status record (the answer to the status command with its status
// word removed): 6281 when it is shorter than 24 bytes; bytes past 24 are
// ignored. admin picks the administrator PIN's failure count.
PinInfo ParseGostPinStatus(const TBytes& record, bool admin);

class CPinGost : public CPinCommon {
public:
    explicit CPinGost(IApplet* owner);

    void select(const path& designator) override;
    void login(const TBytes& pin) override;
    void change(const TBytes& newPin) override;
    void logout() override;
    PinInfo info() override;
    int encoding() override;
    void NamesInitProc() override;

private:
    unsigned short m_reference = 1;  // the user PIN's until a select says otherwise
    PinInfo m_info;
};

}  // namespace libapdu

#endif
