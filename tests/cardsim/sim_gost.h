// Card side of the Gost applet's PINs: PIN reference 00 (administrator) and
// 01 (user), presented in plain under 80 10 20; a change under 80 10 10 carries
// the current PIN beside the new one, so it needs no earlier verification.
// The status record under 80 15 10 carries one verified flag, the try limit
// that both PINs share and a failure count per PIN. Status words are the
// applet's 6Dxx codes (its error facet reads 6D and 6E as 00).
#ifndef CARDSIM_SIM_GOST_H
#define CARDSIM_SIM_GOST_H

#include "sim_applet.h"
#include "sim_plain_pin.h"

namespace cardsim {

class SimGostApplet : public ISimApplet {
public:
    static const Bytes kAid;  // A0 00 00 04 48 01 01 01 06 02
    static const Bytes kDefaultUserPin, kDefaultAdminPin;
    static const unsigned char kAdminRef = 0x00, kUserRef = 0x01;
    static const size_t kRecordSize = 24;

    enum : uint16_t {
        kSwNobodyLoggedIn = 0x6E01,
        kSwNoSuchPin = 0x6D12,
        kSwBadPinLength = 0x6D13,
        kSwWrongPin = 0x6DA0,
        kSwPinBlocked = 0x6DA4,
    };

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

private:
    SimPlainPin& pinAt(unsigned char reference);
    Bytes doVerify(SimReader& r);
    Bytes doChange(SimReader& r);
    Bytes doLogout();

    SimPlainPin m_pins[2];
    Bytes m_tail;
};

}  // namespace cardsim

#endif
