#include "sim_datastore.h"

namespace cardsim {

const Bytes SimDataStoreApplet::kAid = {0xA0, 0x00, 0x00, 0x04, 0x48, 0x00, 0x03, 0x01};
const Bytes SimDataStoreApplet::kDefaultUserPin = {'1', '2', '3', '4'};
const Bytes SimDataStoreApplet::kDefaultAdminPin = {'8', '7', '6', '5', '4', '3', '2', '1'};
const Bytes SimDataStoreApplet::kDefaultGlobalPin = {'0', '0', '0', '0', '0', '0'};

namespace {
const SimPinWords kWords = {SimDataStoreApplet::kSwWrongPin, SimDataStoreApplet::kSwPinBlocked,
                            SimDataStoreApplet::kSwBadPinLength};

// Record layout: five tables of one byte per PIN from byte 7.
const size_t kVerifiedAt = 7, kFailuresAt = 10, kLimitAt = 13, kMinAt = 16, kMaxAt = 19;
const size_t kSerialAt = 22;
}  // namespace

SimDataStoreApplet::SimDataStoreApplet() {
    m_pins[0].set(kDefaultUserPin);
    m_pins[0].limit = 5;
    m_pins[1].set(kDefaultAdminPin);
    m_pins[1].limit = 3;
    m_pins[1].minLength = 8;
    m_pins[2].set(kDefaultGlobalPin);
    m_pins[2].limit = 10;
    m_pins[2].minLength = 6;
    m_pins[2].maxLength = 8;
}

SimPlainPin* SimDataStoreApplet::pin(unsigned n) { return n >= 1 && n <= 3 ? &m_pins[n - 1] : nullptr; }

void SimDataStoreApplet::onDeselect() {
    for (auto& p : m_pins) p.verified = false;
}

SimPlainPin& SimDataStoreApplet::pinAt(unsigned char reference) {
    if (reference > 2) Fail(kSwNoSuchPin);
    return m_pins[reference];
}

Bytes SimDataStoreApplet::statusRecord() const {
    Bytes r(m_recordSize, 0);
    r[0] = 0x02;  // version 2.1.0
    r[1] = 0x01;
    r[5] = 0x40;  // 16 KiB free
    for (size_t i = 0; i < 3; ++i) {
        const SimPlainPin& p = m_pins[i];
        r[kVerifiedAt + i] = p.verified ? 1 : 0;
        r[kFailuresAt + i] = p.failures;
        r[kLimitAt + i] = p.limit;
        r[kMinAt + i] = p.minLength;
        r[kMaxAt + i] = p.maxLength;
    }
    for (size_t i = 0; i < 8; ++i) r[kSerialAt + i] = static_cast<unsigned char>(0xD5 + i);
    if (m_recordSize >= 34) r[32] = 0x40;
    return r;
}

Bytes SimDataStoreApplet::doVerify(SimReader& r) {
    SimPlainPin& p = pinAt(r.u8());
    const Bytes given = TakeLengthPrefixed(r, kSwBadPinLength);
    kWords.answer(p.present(given));
    return Respond(kSwOk);
}

Bytes SimDataStoreApplet::doChange(SimReader& r) {
    SimPlainPin& p = pinAt(r.u8());
    const Bytes fresh = TakeLengthPrefixed(r, kSwBadPinLength);
    kWords.changeVerified(p, fresh, kSwNotVerified);
    return Respond(kSwOk);
}

Bytes SimDataStoreApplet::doLogout() {
    for (auto& p : m_pins) p.verified = false;
    return Respond(kSwOk);
}

Bytes SimDataStoreApplet::process(const SimApdu& a) {
    if (a.cla != 0x80) Fail(kSwClaNotSupported);
    SimReader r(a.data, kSwBadPinLength);
    if (a.ins == 0x10 && a.p2 == 0x00) {
        switch (a.p1) {
        case 0x10:
            return doVerify(r);
        case 0x20:
            return doChange(r);
        case 0x30:
            if (!a.data.empty()) Fail(kSwWrongLength);
            return doLogout();
        }
        Fail(kSwWrongP1P2);
    }
    if (a.ins == 0x30 && a.p1 == 0x30 && a.p2 == 0x00) return Respond(statusRecord());
    Fail(kSwInsNotSupported);
}

}  // namespace cardsim
