// A PIN as the status families' applets keep it: the PIN itself (they are
// sent it in plain), the wrong presentations counted against a limit, the
// lengths the applet accepts, and whether it is verified in this session.
// Each family answers the outcomes with its own status words.
#ifndef CARDSIM_SIM_PLAIN_PIN_H
#define CARDSIM_SIM_PLAIN_PIN_H

#include "sim_apdu.h"

namespace cardsim {

struct SimPlainPin {
    Bytes value;
    unsigned char limit = 10;
    unsigned char failures = 0;  // wrong presentations since the last right one
    unsigned char minLength = 4;
    unsigned char maxLength = 16;
    bool verified = false;

    enum Outcome { kAccepted, kWrong, kBlocked, kBadLength };

    bool blocked() const { return failures >= limit; }
    unsigned char triesLeft() const { return blocked() ? 0 : static_cast<unsigned char>(limit - failures); }
    bool fits(const Bytes& pin) const { return pin.size() >= minLength && pin.size() <= maxLength; }

    // Personalises the PIN: counter full, not verified.
    void set(const Bytes& pin) {
        value = pin;
        failures = 0;
        verified = false;
    }

    // One presentation. A blocked PIN is not compared at all; a length the
    // applet does not accept costs no try; a wrong PIN costs one and ends the
    // verified state, as ISO cards do.
    Outcome present(const Bytes& pin) {
        if (blocked()) return kBlocked;
        if (!fits(pin)) return kBadLength;
        if (pin == value) {
            failures = 0;
            verified = true;
            return kAccepted;
        }
        ++failures;
        verified = false;
        return kWrong;
    }
};

// Reads "L P" from the command data: one length byte and that many PIN bytes,
// which must end the data; a byte past them ends the command with `trailing`.
inline Bytes TakeLengthPrefixed(SimReader& r, uint16_t trailing) {
    const unsigned char n = r.u8();
    Bytes pin = r.take(n);
    if (!r.empty()) Fail(trailing);
    return pin;
}

// The status words a family answers the outcomes of a presentation with.
struct SimPinWords {
    uint16_t wrong, blocked, badLength;

    // Returns on kAccepted; ends the command with the family's word otherwise.
    void answer(SimPlainPin::Outcome o) const {
        switch (o) {
        case SimPlainPin::kAccepted:
            return;
        case SimPlainPin::kWrong:
            Fail(wrong);
        case SimPlainPin::kBlocked:
            Fail(blocked);
        case SimPlainPin::kBadLength:
            Fail(badLength);
        }
    }

    // A VERIFY whose data goes on with "L P" (a byte past the PIN is a bad length).
    void verifyLengthPrefixed(SimPlainPin& p, SimReader& r) const { answer(p.present(TakeLengthPrefixed(r, badLength))); }

    // A change of the PIN that the applets allow only in the session that
    // verified it; a blocked PIN stays blocked whatever the session.
    void changeVerified(SimPlainPin& p, const Bytes& fresh, uint16_t notVerified) const {
        if (p.blocked()) Fail(blocked);
        if (!p.verified) Fail(notVerified);
        if (!p.fits(fresh)) Fail(badLength);
        p.value = fresh;
    }
};

}  // namespace cardsim

#endif
