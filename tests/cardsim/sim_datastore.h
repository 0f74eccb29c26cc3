// Card side of the DataStore applet's PINs: PIN 1 (user), 2 (admin) and 3
// (global), addressed on the wire by their number minus one and presented in
// plain under 80 10 (P1 10 verify, 20 change, 30 logout); the status record
// under 80 30 30 00 carries every PIN's verified flag, failure count, try
// limit and lengths. Status words are the applet's own 67xx codes.
#ifndef CARDSIM_SIM_DATASTORE_H
#define CARDSIM_SIM_DATASTORE_H

#include "sim_applet.h"
#include "sim_plain_pin.h"

namespace cardsim {

class SimDataStoreApplet : public ISimApplet {
public:
    static const Bytes kAid;  // A0 00 00 04 48 00 03 01
    static const Bytes kDefaultUserPin, kDefaultAdminPin, kDefaultGlobalPin;

    // The applet's status words.
    enum : uint16_t {
        kSwNoSuchPin = 0x6701,
        kSwWrongPin = 0x6703,
        kSwPinBlocked = 0x6704,
        kSwNotVerified = 0x6709,
        kSwBadPinLength = 0x670A,
    };

    SimDataStoreApplet();

    std::string name() const override { return "datastore"; }
    Bytes aid() const override { return kAid; }
    void onDeselect() override;
    Bytes process(const SimApdu& apdu) override;

    // PIN n = 1, 2 or 3 (the designator's number); null for any other.
    SimPlainPin* pin(unsigned n);
    // 30 bytes (16-bit free memory) or 34 (32-bit free memory after the serial).
    void setRecordSize(size_t n) { m_recordSize = n; }
    Bytes statusRecord() const;

private:
    SimPlainPin& pinAt(unsigned char reference);
    Bytes doVerify(SimReader& r);
    Bytes doChange(SimReader& r);
    Bytes doLogout();

    SimPlainPin m_pins[3];
    size_t m_recordSize = 30;
};

}  // namespace cardsim

#endif
