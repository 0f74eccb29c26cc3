#include "sim_tokens.h"

namespace cardsim {

const Bytes kAtrJava10 = {0x3B, 0xD5, 0x18, 0x00, 0x81, 0x31, 0xFE, 0x7D, 0x80, 0x73, 0xC8, 0x21, 0x10, 0xF4};
const Bytes kAtrHeron = {0x3B, 0xDC, 0x18, 0xFF, 0x81, 0x91, 0xFE, 0x1F, 0xC3, 0x80, 0x73,
                         0xC8, 0x21, 0x13, 0x66, 0x01, 0x06, 0x11, 0x59, 0x00, 0x01, 0x28};

static void Apply(SimJavaApplet& a, const SimTokenOptions& o) {
    a.setFips(o.fips);
    if (!o.serial.empty()) a.info().serial = o.serial;
    // After the mode: the PIN's keys are derived the way a FIPS token keeps them.
    if (!o.userPin.empty()) a.setPin(SimJavaApplet::kUserPin, o.userPin);
    if (o.pinTries > 0) {
        SimJavaPin* p = a.pin(SimJavaApplet::kUserPin);
        p->limit = p->triesLeft = static_cast<unsigned char>(o.pinTries);
    }
}

std::unique_ptr<CardSim> MakeJavaToken(const SimTokenOptions& o) {
    std::unique_ptr<CardSim> card(new CardSim(o.atr.empty() ? kAtrJava10 : o.atr));
    Apply(*card->install(std::unique_ptr<SimJavaApplet>(new SimJavaApplet)), o);
    SimJavaManagerApplet* mgr = card->install(std::unique_ptr<SimJavaManagerApplet>(new SimJavaManagerApplet));
    if (o.managerVersion >= 0) mgr->setVersion(static_cast<unsigned char>(o.managerVersion));
    if (!o.chipId.empty()) mgr->setChipId(o.chipId);
    return card;
}

std::unique_ptr<CardSim> MakeHeronToken(const SimTokenOptions& o) {
    std::unique_ptr<CardSim> card(new CardSim(o.atr.empty() ? kAtrHeron : o.atr));
    Apply(*card->install(std::unique_ptr<SimHeronApplet>(new SimHeronApplet)), o);
    return card;
}

const Bytes kAtrTessel = {0x3B, 0xD5, 0x18, 0xFF, 0x81, 0x91, 0xFE, 0x1F,
                          0xC3, 0x80, 0x73, 0xC8, 0x21, 0x13, 0x09};

std::unique_ptr<CardSim> MakeTesselToken(const SimTokenOptions& o, bool withContainer) {
    std::unique_ptr<CardSim> card(new CardSim(o.atr.empty() ? kAtrTessel : o.atr));
    const unsigned char loginType = static_cast<unsigned char>(o.loginType >= 0 ? o.loginType : 0x24);
    SimTesselApplet* a = card->install(std::unique_ptr<SimTesselApplet>(new SimTesselApplet(loginType, withContainer)));
    if (!o.serial.empty()) a->serial = o.serial;
    if (!o.userPin.empty() || o.pinTries > 0)
        a->setUserPin(o.userPin.empty() ? SimTesselApplet::kDefaultUserPin : o.userPin,
                      static_cast<unsigned char>(o.pinTries > 0 ? o.pinTries : 10));
    return card;
}

}  // namespace cardsim
