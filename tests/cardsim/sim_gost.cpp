#include "sim_gost.h"

namespace cardsim {

const Bytes SimGostApplet::kAid = {0xA0, 0x00, 0x00, 0x04, 0x48, 0x01, 0x01, 0x01, 0x06, 0x02};
const Bytes SimGostApplet::kDefaultUserPin = {'1', '2', '3', '4', '5', '6'};
const Bytes SimGostApplet::kDefaultAdminPin = {'8', '7', '6', '5', '4', '3', '2', '1'};

namespace {
const SimPinWords kWords = {SimGostApplet::kSwWrongPin, SimGostApplet::kSwPinBlocked, SimGostApplet::kSwBadPinLength};
const unsigned char kMinLength = 6, kMaxLength = 32;
const size_t kVerifiedAt = 0, kLimitAt = 11, kUserFailuresAt = 12, kAdminFailuresAt = 13, kSerialAt = 16;
}  // namespace

SimGostApplet::SimGostApplet() {
    user().set(kDefaultUserPin);
    admin().set(kDefaultAdminPin);
    for (auto& p : m_pins) {
        p.minLength = kMinLength;
        p.maxLength = kMaxLength;
    }
    setLimit(10);
}

void SimGostApplet::setLimit(unsigned char limit) {
    for (auto& p : m_pins) p.limit = limit;
}

void SimGostApplet::onDeselect() {
    for (auto& p : m_pins) p.verified = false;
}

SimPlainPin& SimGostApplet::pinAt(unsigned char reference) {
    if (reference > kUserRef) Fail(kSwNoSuchPin);
    return m_pins[reference];
}

Bytes SimGostApplet::statusRecord() const {
    Bytes r(kRecordSize, 0);
    r[kVerifiedAt] = (m_pins[kUserRef].verified ? 1 : 0) | (m_pins[kAdminRef].verified ? 2 : 0);
    r[1] = 0x03;  // version
    r[2] = 0x02;
    r[9] = 0x20;  // free memory
    r[kLimitAt] = m_pins[kUserRef].limit;
    r[kUserFailuresAt] = m_pins[kUserRef].failures;
    r[kAdminFailuresAt] = m_pins[kAdminRef].failures;
    for (size_t i = 0; i < 8; ++i) r[kSerialAt + i] = static_cast<unsigned char>(0x60 + i);
    r.insert(r.end(), m_tail.begin(), m_tail.end());
    return r;
}

Bytes SimGostApplet::doVerify(SimReader& r) {
    SimPlainPin& p = pinAt(r.u8());
    const Bytes given = TakeLengthPrefixed(r, kSwBadPinLength);
    kWords.answer(p.present(given));
    return Respond(kSwOk);
}

// ref, both lengths, then both PINs.
Bytes SimGostApplet::doChange(SimReader& r) {
    SimPlainPin& p = pinAt(r.u8());
    const unsigned char currentLength = r.u8();
    const unsigned char freshLength = r.u8();
    const Bytes current = r.take(currentLength);
    const Bytes fresh = r.take(freshLength);
    if (!r.empty()) Fail(kSwBadPinLength);
    if (fresh.size() < p.minLength || fresh.size() > p.maxLength) Fail(kSwBadPinLength);
    // The current PIN is checked, and counted, as by a verification.
    kWords.answer(p.present(current));
    p.value = fresh;
    return Respond(kSwOk);
}

Bytes SimGostApplet::doLogout() {
    bool any = false;
    for (auto& p : m_pins) {
        any = any || p.verified;
        p.verified = false;
    }
    if (!any) Fail(kSwNobodyLoggedIn);
    return Respond(kSwOk);
}

Bytes SimGostApplet::process(const SimApdu& a) {
    if (a.cla != 0x80) Fail(kSwClaNotSupported);
    SimReader r(a.data, kSwBadPinLength);
    if (a.ins == 0x10 && a.p2 == 0x00) {
        if (a.p1 == 0x20) return doVerify(r);
        if (a.p1 == 0x10) return doChange(r);
        Fail(kSwWrongP1P2);
    }
    // The status and logout commands carry one byte 01.
    if (a.ins == 0x15 && a.p2 == 0x00 && a.data == Bytes{0x01}) {
        if (a.p1 == 0x10) return Respond(statusRecord());
        if (a.p1 == 0x20) return doLogout();
        Fail(kSwWrongP1P2);
    }
    Fail(kSwInsNotSupported);
}

}  // namespace cardsim
