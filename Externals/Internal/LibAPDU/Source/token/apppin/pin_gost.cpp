#include "apppin/pin_gost.h"

#include "apppack/pack_common.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/apppin/pin_gost");

const size_t kStatusCapacity = 258;
const size_t kStatusSize = 24;
const unsigned short kGostMinLength = 6;
const unsigned short kGostMaxLength = 32;
const size_t kCurrentPinSlot = 0;
}  // namespace

PinInfo ParseGostPinStatus(const TBytes& record, bool admin) {
    if (record.size() < kStatusSize) LIBAPDU_RAISE(kSwBadAnswer);
    CByteReader r(record.data(), kStatusSize);
    const unsigned char verified = r.u8();
    r.skip(10);
    const unsigned char limit = r.u8();       // shared by both PINs
    const unsigned char userFailures = r.u8();
    const unsigned char adminFailures = r.u8();
    const unsigned char failures = admin ? adminFailures : userFailures;

    PinInfo p;
    p.triesMax = limit;
    // More failures than the limit means blocked, not a count wrapped round.
    p.triesLeft = failures > limit ? 0 : static_cast<unsigned char>(limit - failures);
    p.loginState = verified ? kLoginVerified : kLoginNotVerified;
    p.minLength = kGostMinLength;
    p.maxLength = kGostMaxLength;
    return p;
}

CPinGost::CPinGost(IApplet* owner) : CPinCommon(owner), m_info(UnknownPinInfo()) {}

void CPinGost::NamesInitProc() {
    m_pathUser.push_back(2);
    m_pathAdmin.push_back(1);
}

int CPinGost::encoding() { return kPinEncodingLocale; }

PinInfo CPinGost::info() { return m_info; }

void CPinGost::select(const path& designator) {
    m_info = UnknownPinInfo();
    if (designator.empty()) LIBAPDU_RAISE(kSwBadArgument);
    m_reference = static_cast<unsigned short>(designator.back() - 1);

    const TBytes record = exchange({0x80, 0x15, 0x10, 0x00, 0x01, 0x01}, kStatusCapacity);
    m_info = ParseGostPinStatus(record, designator == pathAdmin());
}

void CPinGost::login(const TBytes& pin) {
    if (pin.size() > info().maxLength) LIBAPDU_RAISE(kSwBadArgument);
    CPinCommand c(0x80, 0x10, 0x20, 0x00);
    c.byte(static_cast<unsigned char>(m_reference)).lengthOf(pin).bytes(pin);
    const TBytes command = c.build();

    // The PIN of an earlier login must not outlive a new attempt, whatever its outcome.
    clearKeySlots();
    verify(command, m_info, [&] { owner()->pack()->keySet(kCurrentPinSlot, pin); });
}

void CPinGost::change(const TBytes& newPin) {
    if (newPin.size() > info().maxLength) LIBAPDU_RAISE(kSwBadArgument);
    IAppPack* keys = owner()->pack();
    const TBytes current(keys->keyGet(kCurrentPinSlot));

    // Both lengths first, then both PINs: the applet's layout.
    CPinCommand c(0x80, 0x10, 0x10, 0x00);
    c.byte(static_cast<unsigned char>(m_reference))
        .lengthOf(current)
        .lengthOf(newPin)
        .bytes(current)
        .bytes(newPin);
    const TBytes command = c.build();
    exchange(command);
    // The card now knows the new PIN: a further change must present that one,
    // or it fails and costs the user a try.
    keys->keySet(kCurrentPinSlot, newPin);
}

void CPinGost::logout() {
    m_info.loginState = kLoginNotVerified;
    // Before anything is sent, so a rejected or failed logout leaves no PIN behind.
    clearKeySlots();
    unsigned short sw = statusOf(transmit({0x80, 0x15, 0x20, 0x00, 0x01, 0x01}));
    // The applet answers these when nobody was logged in: the goal is reached.
    if (sw == 0x0101 || sw == 0x6E01 || sw == 0x6D01) sw = 0x9000;
    judge(sw);
}

}  // namespace libapdu
