// PIN facet of the Gost2 applet. Its commands always name PIN 02, whatever
// designator was selected; counters come from the applet's status record.
#ifndef LIBAPDU_PIN_GOST2_H
#define LIBAPDU_PIN_GOST2_H

#include "apppin/pin_common.h"

namespace libapdu LIBAPDU_API {

// Reads the status record (the answer to the status command with its status
// word removed). Its kind byte must be 2, and its length must match the applet
// version in byte 1: 32 bytes up to version 6, 33 from version 7. Anything
// else, an empty record included, raises 6281 before a byte is read.
PinInfo ParseGost2PinStatus(const TBytes& record);

class CPinGost2 : public CPinCommon {
public:
    explicit CPinGost2(IApplet* owner);

    void select(const path& designator) override;
    void login(const TBytes& pin) override;
    void change(const TBytes& newPin) override;
    void logout() override;
    PinInfo info() override;
    int encoding() override;
    void NamesInitProc() override;

private:
    void checkLength(const TBytes& pin);

    PinInfo m_info;
};

}  // namespace libapdu

#endif
