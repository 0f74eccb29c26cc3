// Card side of the Gost2 applet's user PIN: PIN 02 presented in plain under
// 80 0A 10, changed under 80 0A 20 in the session that verified it, logged out
// under 80 38 10; the information record of kind 0 (80 38 20 00) carries the
// applet version and the PIN entry, one byte further on from version 7. Status
// words are the applet's 67xx codes.
#ifndef CARDSIM_SIM_GOST2_H
#define CARDSIM_SIM_GOST2_H

#include "sim_applet.h"
#include "sim_plain_pin.h"

namespace cardsim {

class SimGost2Applet : public ISimApplet {
public:
    static const Bytes kAid;  // A0 00 00 04 48 00 01 01
    static const Bytes kDefaultUserPin;
    static const unsigned char kUserRef = 0x02;

    enum : uint16_t {
        kSwBadLength = 0x6700,
        kSwWrongPin = 0x6701,
        kSwPinBlocked = 0x6703,
        kSwNotVerified = 0x6705,
        kSwNoSuchPin = 0x6708,
        kSwBadPinLength = 0x670B,
    };

    SimGost2Applet();

    std::string name() const override { return "gost2"; }
    Bytes aid() const override { return kAid; }
    void onDeselect() override;
    Bytes process(const SimApdu& apdu) override;

    SimPlainPin& user() { return m_user; }
    // Version 6 or lower answers 32 record bytes, 7 or higher 33.
    void setVersion(unsigned char v) { m_version = v; }
    unsigned char version() const { return m_version; }
    // The minimum length as the record codes it: (code >> 5) + 6, so 6 to 13.
    void setMinLength(unsigned char n);
    Bytes statusRecord() const;

private:
    Bytes doVerify(SimReader& r);
    Bytes doChange(SimReader& r);

    SimPlainPin m_user;
    unsigned char m_version = 7;
};

}  // namespace cardsim

#endif
