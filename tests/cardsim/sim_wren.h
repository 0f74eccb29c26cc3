// Card side of the Wren applet's user PIN: ISO VERIFY (00 20), a change of the
// verified PIN under 00 D4 and a logout under 00 DC, each carrying the PIN as
// "L P". The applet keeps no status record. It answers its status words low
// byte first (9000 goes out as 00 90); a command the simulator itself refuses
// before the applet sees it is answered in the usual order.
#ifndef CARDSIM_SIM_WREN_H
#define CARDSIM_SIM_WREN_H

#include "sim_applet.h"
#include "sim_plain_pin.h"

namespace cardsim {

class SimWrenApplet : public ISimApplet {
public:
    // The token is known by its ATR and the applet needs no selection; the
    // simulator routes by AID, so tests select this one once at power-on.
    static const Bytes kAid;
    static const Bytes kDefaultUserPin;

    enum : uint16_t {
        kSwWrongPin = 0x6416,
        kSwNotVerified = 0x6982,
        kSwPinBlocked = 0x6983,
        kSwBadLength = 0x6700,
    };

    SimWrenApplet();

    std::string name() const override { return "wren"; }
    Bytes aid() const override { return kAid; }
    void onDeselect() override;
    Bytes process(const SimApdu& apdu) override;

    SimPlainPin& user() { return m_user; }
    // The answer as the applet puts it on the wire: data, then SW2, then SW1.
    static Bytes Answer(const Bytes& data, uint16_t sw);

private:
    Bytes handle(const SimApdu& a);

    SimPlainPin m_user;
};

}  // namespace cardsim

#endif
