// The card side of one applet family. CardSim routes every command to the
// applet selected by AID; the applet answers data followed by SW1 SW2 or
// throws SimStatus for a bare status word.
#ifndef CARDSIM_SIM_APPLET_H
#define CARDSIM_SIM_APPLET_H

#include <string>

#include "sim_apdu.h"

namespace cardsim {

class ISimApplet {
public:
    virtual ~ISimApplet() = default;

    virtual std::string name() const = 0;
    virtual Bytes aid() const = 0;

    // SELECT by AID made this applet current.
    virtual void onSelect() {}
    // Another applet was selected, or the card was reset or powered off: the
    // applet's transient state (current file, verified PINs) is gone, its
    // persistent memory stays.
    virtual void onDeselect() {}

    virtual Bytes process(const SimApdu& apdu) = 0;

    // What the applet keeps, as text for a test to read; empty when it keeps nothing to show.
    virtual std::string dump() const { return std::string(); }
};

}  // namespace cardsim

#endif
