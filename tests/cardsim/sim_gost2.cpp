#include "sim_gost2.h"

namespace cardsim {

const Bytes SimGost2Applet::kAid = {0xA0, 0x00, 0x00, 0x04, 0x48, 0x00, 0x01, 0x01};
const Bytes SimGost2Applet::kDefaultUserPin = {'1', '2', '3', '4', '5', '6', '7', '8'};

namespace {
const SimPinWords kWords = {SimGost2Applet::kSwWrongPin, SimGost2Applet::kSwPinBlocked,
                            SimGost2Applet::kSwBadPinLength};
const unsigned char kRecordKind = 2;
const unsigned char kMinBase = 6, kMaxLength = 32;
}  // namespace

SimGost2Applet::SimGost2Applet() {
    m_user.set(kDefaultUserPin);
    m_user.limit = 5;
    m_user.maxLength = kMaxLength;
    setMinLength(8);
}

void SimGost2Applet::setMinLength(unsigned char n) {
    if (n < kMinBase) n = kMinBase;
    if (n > kMinBase + 7) n = kMinBase + 7;
    m_user.minLength = n;
}

void SimGost2Applet::onDeselect() { m_user.verified = false; }

Bytes SimGost2Applet::statusRecord() const {
    const bool longForm = m_version > 6;
    const size_t i = longForm ? 13 : 12;
    Bytes r(longForm ? 33 : 32, 0);
    r[0] = kRecordKind;
    r[1] = m_version;
    for (size_t k = 2; k < 10; ++k) r[k] = static_cast<unsigned char>(0x70 + k);  // serial number
    r[i - 1] = m_user.verified ? 1 : 0;
    r[i] = m_user.limit;
    r[i + 1] = m_user.failures;
    // Only the top three bits are the length code; the applet keeps flags below.
    r[i + 9] = static_cast<unsigned char>(((m_user.minLength - kMinBase) << 5) | 0x05);
    return r;
}

Bytes SimGost2Applet::doVerify(SimReader& r) {
    if (r.u8() != kUserRef) Fail(kSwNoSuchPin);
    const Bytes given = TakeLengthPrefixed(r, kSwBadLength);
    kWords.answer(m_user.present(given));
    return Respond(kSwOk);
}

Bytes SimGost2Applet::doChange(SimReader& r) {
    if (r.u8() != kUserRef) Fail(kSwNoSuchPin);
    const Bytes fresh = TakeLengthPrefixed(r, kSwBadLength);
    kWords.changeVerified(m_user, fresh, kSwNotVerified);
    return Respond(kSwOk);
}

Bytes SimGost2Applet::process(const SimApdu& a) {
    if (a.cla != 0x80) Fail(kSwClaNotSupported);
    SimReader r(a.data, kSwBadLength);
    if (a.ins == 0x0A && a.p2 == 0x00) {
        if (a.p1 == 0x10) return doVerify(r);
        if (a.p1 == 0x20) return doChange(r);
        Fail(kSwWrongP1P2);
    }
    if (a.ins == 0x38 && a.p1 == 0x10 && a.p2 == 0x00) {
        if (!a.data.empty() || a.hasLe) Fail(kSwBadLength);
        m_user.verified = false;
        return Respond(kSwOk);
    }
    if (a.ins == 0x38 && a.p1 == 0x20 && a.p2 == 0x00) return Respond(statusRecord());
    Fail(kSwInsNotSupported);
}

}  // namespace cardsim
