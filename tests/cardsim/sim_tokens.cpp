#include "sim_tokens.h"

#include "sim_wren.h"

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

std::unique_ptr<CardSim> MakeKiteToken(const std::string& model, const SimTokenOptions& o) {
    const Bytes* atr = model == "kite16"    ? &kAtrKite16
                       : model == "kite32"  ? &kAtrKite32
                       : model == "kite42"  ? &kAtrKite42
                       : model == "kite42b" ? &kAtrKite42b
                                            : nullptr;
    if (!atr) return nullptr;
    std::unique_ptr<CardSim> card(new CardSim(o.atr.empty() ? *atr : o.atr));
    const bool kite4 = model == "kite42" || model == "kite42b";
    SimKiteApplet* kite = card->install(std::unique_ptr<SimKiteApplet>(new SimKiteApplet(kite4, o.fips)));
    if (!o.serial.empty()) kite->serial = o.serial;
    if (!o.userPin.empty() || o.pinTries > 0)
        kite->setUserPin(o.userPin.empty() ? SimKiteApplet::kDefaultUserPin : o.userPin,
                         static_cast<unsigned char>(o.pinTries > 0 ? o.pinTries : 10));
    card->setResident(kite);
    return card;
}

const Bytes kAtrGost = {0x3B, 0x8A, 0x80, 0x01, 0x00, 0x31, 0xC1, 0x73, 0xC8, 0x40, 0x00, 0x00, 0x90, 0x00, 0x90};

template <class Model> static void ApplyStatusFamily(Model& m, const SimTokenOptions& o) {
    if (!o.serial.empty()) {
        Bytes s = o.serial;
        s.resize(8, 0x00);
        m.setSerial(s);
    }
    if (!o.userPin.empty()) m.user().set(o.userPin);
    if (o.freeMemory >= 0) m.setFreeMemory(static_cast<size_t>(o.freeMemory));
}

std::unique_ptr<CardSim> MakeGostToken(const SimTokenOptions& o) {
    std::unique_ptr<CardSim> card(new CardSim(o.atr.empty() ? kAtrGost : o.atr));
    SimGostApplet* a = card->install(std::unique_ptr<SimGostApplet>(new SimGostApplet));
    ApplyStatusFamily(*a, o);
    if (o.pinTries > 0) a->setLimit(static_cast<unsigned char>(o.pinTries));
    return card;
}

std::unique_ptr<CardSim> MakeGost2Token(const SimTokenOptions& o) {
    std::unique_ptr<CardSim> card(new CardSim(o.atr.empty() ? kAtrGost : o.atr));
    SimGost2Applet* a = card->install(std::unique_ptr<SimGost2Applet>(new SimGost2Applet));
    ApplyStatusFamily(*a, o);
    if (o.pinTries > 0) a->user().limit = static_cast<unsigned char>(o.pinTries);
    if (o.gost2Version >= 0) a->setVersion(static_cast<unsigned char>(o.gost2Version));
    return card;
}

const Bytes kAtrWren = {0x3B, 0x81, 0x1F, 0x00, 0xCC, 0x52};

std::unique_ptr<CardSim> MakeDataStoreToken(const SimTokenOptions& o, const SimDataStoreOptions& d) {
    // Found by its AID: the ATR only has to be none of the Kite and Wren ones.
    std::unique_ptr<CardSim> card(new CardSim(o.atr.empty() ? kAtrHeron : o.atr));
    SimDataStoreApplet* a = card->install(std::unique_ptr<SimDataStoreApplet>(new SimDataStoreApplet));
    a->setRecordSize(d.statusRecord);
    if (!o.serial.empty()) a->setSerial(o.serial);
    if (!o.userPin.empty()) a->pin(1)->set(o.userPin);
    if (o.pinTries > 0) a->pin(1)->limit = static_cast<unsigned char>(o.pinTries);
    a->setCapacity(d.capacity);
    if (d.handles == SimDataStoreApplet::Handles::kList)
        a->setHandleList(d.handleList);
    else
        a->setHandles(d.handles, d.handleStart);
    a->setPageSize(d.pageSize);
    a->setIgnoreEnumerationStart(d.ignoreEnumerationStart);
    a->setReadProtection(d.readProtection);
    a->setKeepPinOnDeselect(d.keepPinOnPlatform);
    if (d.platform) {
        SimPlatformApplet* p = card->install(std::unique_ptr<SimPlatformApplet>(new SimPlatformApplet(a)));
        p->setAnswerSize(d.platformAnswer);
    }
    return card;
}

std::unique_ptr<CardSim> MakeWrenToken(const SimTokenOptions& o) {
    std::unique_ptr<CardSim> card(new CardSim(o.atr.empty() ? kAtrWren : o.atr));
    SimWrenApplet* a = card->install(std::unique_ptr<SimWrenApplet>(new SimWrenApplet));
    if (!o.serial.empty()) a->setSerial(o.serial);
    if (!o.userPin.empty()) a->user().set(o.userPin);
    if (o.pinTries > 0) a->user().limit = static_cast<unsigned char>(o.pinTries);
    card->setResident(a);
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
