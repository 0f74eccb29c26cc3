#include "apppin/pin_wren.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/apppin/pin_wren");

// Words the applet gives for a wrong PIN besides the ISO ones.
const unsigned short kSwSecurityNotSatisfied = 0x6982;
const unsigned short kSwWrongPinWren = 0x6416;
const unsigned short kSwWrongPin = 0x6300;
}  // namespace

CPinWren::CPinWren(IApplet* owner) : CPinCommon(owner) {}

void CPinWren::NamesInitProc() { m_pathUser.push_back(1); }

int CPinWren::encoding() { return kPinEncodingLocale; }

PinInfo CPinWren::info() {
    // The applet reports neither tries nor login state; only the length limits are known.
    PinInfo p = UnknownPinInfo();
    p.minLength = 4;
    p.maxLength = 16;
    return p;
}

void CPinWren::select(const path& designator) {
    // The applet has the user PIN only; nothing needs selecting on the card.
    if (designator != pathUser()) LIBAPDU_RAISE(kSwNotFound);
}

void CPinWren::login(const TBytes& pin) {
    CPinCommand c(0x00, 0x20, 0x00, 0x00);
    c.lengthOf(pin).bytes(pin);
    const TBytes command = c.build();
    unsigned short sw = statusOf(transmit(command));
    if (sw == kSwSecurityNotSatisfied || sw == kSwWrongPinWren) sw = kSwWrongPin;
    judge(sw);
}

void CPinWren::change(const TBytes& newPin) {
    CPinCommand c(0x00, 0xD4, 0x00, 0x00);
    c.lengthOf(newPin).bytes(newPin);
    const TBytes command = c.build();
    unsigned short sw = statusOf(transmit(command));
    // A change always ends the verified state, whatever its outcome, so the
    // session never stays open on a PIN the caller may no longer know.
    logout();
    if (sw == kSwWrongPinWren) sw = kSwWrongPin;
    judge(sw);
}

void CPinWren::logout() { exchange({0x00, 0xDC, 0x00, 0x00, 0x01, 0x00}); }

}  // namespace libapdu
