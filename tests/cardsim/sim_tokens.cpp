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

}  // namespace cardsim
