#include "sim_wren.h"

namespace cardsim {

const Bytes SimWrenApplet::kAid = {0xA0, 0x00, 0x00, 0x04, 0x48, 0x10, 0x01};
const Bytes SimWrenApplet::kDefaultUserPin = {'1', '2', '3', '4'};

namespace {
const SimPinWords kWords = {SimWrenApplet::kSwWrongPin, SimWrenApplet::kSwPinBlocked, SimWrenApplet::kSwBadLength};
}

SimWrenApplet::SimWrenApplet() {
    m_user.set(kDefaultUserPin);
    m_user.limit = 8;
    m_user.minLength = 4;
    m_user.maxLength = 16;
}

void SimWrenApplet::onDeselect() { m_user.verified = false; }

Bytes SimWrenApplet::Answer(const Bytes& data, uint16_t sw) {
    Bytes out(data);
    out.push_back(static_cast<unsigned char>(sw));
    out.push_back(static_cast<unsigned char>(sw >> 8));
    return out;
}

Bytes SimWrenApplet::process(const SimApdu& a) {
    try {
        return handle(a);
    } catch (const SimStatus& s) {
        return Answer(Bytes(), s.sw);
    }
}

Bytes SimWrenApplet::handle(const SimApdu& a) {
    if (a.cla != 0x00) Fail(kSwClaNotSupported);
    if (a.p1 != 0x00 || a.p2 != 0x00) Fail(kSwWrongP1P2);
    SimReader r(a.data, kSwBadLength);
    switch (a.ins) {
    case 0x20: {
        const Bytes given = TakeLengthPrefixed(r, kSwBadLength);
        kWords.answer(m_user.present(given));
        return Answer(Bytes(), kSwOk);
    }
    case 0xD4: {
        const Bytes fresh = TakeLengthPrefixed(r, kSwBadLength);
        kWords.changeVerified(m_user, fresh, kSwNotVerified);
        return Answer(Bytes(), kSwOk);
    }
    case 0xDC:
        if (a.data != Bytes{0x00}) Fail(kSwBadLength);
        m_user.verified = false;
        return Answer(Bytes(), kSwOk);
    }
    Fail(kSwInsNotSupported);
}

}  // namespace cardsim
