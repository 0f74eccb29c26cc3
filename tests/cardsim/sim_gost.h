// Card side of the Gost applet's PINs: PIN reference 00 (administrator) and
// 01 (user), presented in plain under 80 10 20; a change under 80 10 10 carries
// the current PIN beside the new one, so it needs no earlier verification.
// The status record under 80 15 10 carries one verified flag, the try limit
// that both PINs share and a failure count per PIN. Status words are the
// applet's 6Dxx codes (its error facet reads 6D and 6E as 00).
//
// Files live in an object store: objects with card-assigned handles, a kind
// byte and attributes (a 32-bit identifier and a byte string), under 80 12
// (new, remove, list objects) and 80 13 (get, set, list attributes). An object
// whose attribute 00000002 holds 01 is private: its other attributes are given
// to nobody but the verified user PIN. Every attribute byte and every object
// takes memory; the status record reports what is left (bytes 9-10). The label
// lives under 80 17, random bytes come from 80 14.
#ifndef CARDSIM_SIM_GOST_H
#define CARDSIM_SIM_GOST_H

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "sim_applet.h"
#include "sim_plain_pin.h"

namespace cardsim {

class SimGostApplet : public ISimApplet {
public:
    static const Bytes kAid;  // A0 00 00 04 48 01 01 01 06 02
    static const Bytes kDefaultUserPin, kDefaultAdminPin;
    static constexpr unsigned char kAdminRef = 0x00, kUserRef = 0x01;
    static constexpr size_t kRecordSize = 24;

    enum : uint16_t {
        kSwNobodyLoggedIn = 0x6E01,
        kSwNoSuchPin = 0x6D12,
        kSwBadPinLength = 0x6D13,
        kSwWrongPin = 0x6DA0,
        kSwPinBlocked = 0x6DA4,
        kSwNoMemory = 0x6D06,
        kSwNoAttribute = 0x6D60,
        kSwNoObject = 0x6D82,
        kSwLabelTooLong = 0x6D13,
    };

    struct Object {
        unsigned char kind = 0;
        std::vector<std::pair<uint32_t, Bytes>> attributes;  // in the order first set
        bool isPrivate() const;
        const Bytes* find(uint32_t id) const;
    };
    static constexpr uint32_t kAtrPrivate = 0x00000002;
    static constexpr size_t kObjectCost = 16, kAttributeCost = 8;
    static constexpr size_t kLabelSize = 32;

    SimGostApplet();

    std::string name() const override { return "gost"; }
    Bytes aid() const override { return kAid; }
    void onDeselect() override;
    Bytes process(const SimApdu& apdu) override;

    SimPlainPin& user() { return m_pins[kUserRef]; }
    SimPlainPin& admin() { return m_pins[kAdminRef]; }
    // The limit is one byte of the record for both PINs.
    void setLimit(unsigned char limit);
    // Bytes past the 24 the record is made of (newer applets answer more).
    void setRecordTail(const Bytes& tail) { m_tail = tail; }
    Bytes statusRecord() const;
    void setSerial(const Bytes& eight) { m_serial = eight; }

    // The object store.
    const std::map<uint16_t, Object>& objects() const { return m_objects; }
    // Handles are given out counting up from here (tests push them past 00FF).
    void setNextHandle(uint16_t h) { m_nextHandle = h; }
    // An object made outside the applet's commands (of a kind the library never makes, say).
    uint16_t addObject(unsigned char kind);
    // Memory left, as the status record reports it (at most FFFF); setting it
    // keeps what is stored and leaves this much room beside it.
    size_t freeMemory() const;
    void setFreeMemory(size_t n) { m_capacity = used() + n; }
    size_t used() const;
    Bytes label() const { return m_label; }
    void setLabel(const Bytes& l) { m_label = l; }
    // The store as text: one line per object, its attributes indented below.
    std::string dump() const override;

private:
    SimPlainPin& pinAt(unsigned char reference);
    Bytes doVerify(SimReader& r);
    Bytes doChange(SimReader& r);
    Bytes doLogout();
    Bytes doObjects(const SimApdu& a);
    Bytes doAttributes(const SimApdu& a);
    Bytes doLabel(const SimApdu& a);
    Bytes doRandom(const SimApdu& a);
    Object& objectAt(uint16_t h);
    void charge(size_t more) const;

    SimPlainPin m_pins[2];
    Bytes m_tail;
    Bytes m_serial;
    std::map<uint16_t, Object> m_objects;
    uint16_t m_nextHandle = 0x0001;
    size_t m_capacity;
    Bytes m_label;
};

}  // namespace cardsim

#endif
