#include "apppin/pin_gost2.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/apppin/pin_gost2");

const size_t kStatusCapacity = 35;
const unsigned char kRecordKind = 2;
const unsigned char kLastShortVersion = 6;
const size_t kShortRecord = 32;  // versions up to 6
const size_t kLongRecord = 33;   // versions from 7: one byte more ahead of the PIN entry
const unsigned short kGost2MinBase = 6;
const unsigned short kGost2MaxLength = 32;
const unsigned char kPinReference = 0x02;
}  // namespace

PinInfo ParseGost2PinStatus(const TBytes& record) {
    if (record.size() < 2) LIBAPDU_RAISE(kSwBadAnswer);
    CByteReader r(record);
    const unsigned char kind = r.u8();
    const unsigned char version = r.u8();
    if (kind != kRecordKind) LIBAPDU_RAISE(kSwBadAnswer);
    const bool shortForm = version <= kLastShortVersion;
    if (record.size() != (shortForm ? kShortRecord : kLongRecord)) LIBAPDU_RAISE(kSwBadAnswer);

    const size_t entry = shortForm ? 12 : 13;
    r.skip(entry - 1 - 2);
    const unsigned char verified = r.u8();
    const unsigned char limit = r.u8();
    const unsigned char failures = r.u8();
    r.skip(7);
    const unsigned char lengthCode = r.u8();

    PinInfo p;
    p.triesMax = limit;
    // More failures than the limit means blocked, not a count wrapped round.
    p.triesLeft = failures > limit ? 0 : static_cast<unsigned char>(limit - failures);
    p.loginState = verified == 1 ? kLoginVerified : kLoginNotVerified;
    p.minLength = static_cast<unsigned short>((lengthCode >> 5) + kGost2MinBase);
    p.maxLength = kGost2MaxLength;
    return p;
}

CPinGost2::CPinGost2(IApplet* owner) : CPinCommon(owner), m_info(UnknownPinInfo()) {}

void CPinGost2::NamesInitProc() {
    m_pathUser.push_back(2);
    m_pathAdmin.push_back(1);
}

int CPinGost2::encoding() { return kPinEncodingLocale; }

PinInfo CPinGost2::info() { return m_info; }

void CPinGost2::checkLength(const TBytes& pin) {
    const PinInfo p = info();
    if (pin.size() > p.maxLength || pin.size() < p.minLength) LIBAPDU_RAISE(kSwBadArgument);
}

void CPinGost2::select(const path&) {
    m_info = UnknownPinInfo();
    const TBytes record = exchange({0x80, 0x38, 0x20, 0x00, 0x00}, kStatusCapacity);
    m_info = ParseGost2PinStatus(record);
}

void CPinGost2::login(const TBytes& pin) {
    checkLength(pin);
    CPinCommand c(0x80, 0x0A, 0x10, 0x00);
    c.byte(kPinReference).lengthOf(pin).bytes(pin);
    const TBytes command = c.build();
    verify(command, m_info);
}

void CPinGost2::change(const TBytes& newPin) {
    checkLength(newPin);
    // The applet changes the PIN of whoever is logged in; refuse before it is asked.
    if (m_info.loginState == kLoginNotVerified) LIBAPDU_RAISE(0x6283);
    CPinCommand c(0x80, 0x0A, 0x20, 0x00);
    c.byte(kPinReference).lengthOf(newPin).bytes(newPin);
    const TBytes command = c.build();
    exchange(command);
}

void CPinGost2::logout() {
    m_info.loginState = kLoginNotVerified;
    exchange({0x80, 0x38, 0x10, 0x00});
}

}  // namespace libapdu
