// Card side of the JavaManager applet, the card manager of Java tokens. It
// answers GET DATA of the card production life-cycle data (tag 9F7F), whose
// bytes 3..8 of the answer identify the chip and bytes 11..12 hold the
// operating-system release level, and of the objects 46 and 01.
#ifndef CARDSIM_SIM_JAVAMANAGER_H
#define CARDSIM_SIM_JAVAMANAGER_H

#include "sim_applet.h"

namespace cardsim {

class SimJavaManagerApplet : public ISimApplet {
public:
    static const Bytes kAid;  // A0 00 00 01 51 00 00

    SimJavaManagerApplet();

    std::string name() const override { return "javamanager"; }
    Bytes aid() const override { return kAid; }
    Bytes process(const SimApdu& apdu) override;

    // The 42 data bytes of 9F7F, without tag and length.
    Bytes& cplc() { return m_cplc; }
    // Fabricator, IC type and OS identifier: six bytes, answer bytes 3..8.
    void setChipId(const Bytes& six);
    Bytes chipId() const;
    // The low byte of the OS release level (answer byte 12), which the library
    // reads as the manager's version; the high byte is answer byte 11.
    void setVersion(unsigned char version, unsigned char high = 0x01);
    Bytes& object46() { return m_obj46; }
    Bytes& object01() { return m_obj01; }

private:
    Bytes m_cplc;
    Bytes m_obj46;
    Bytes m_obj01;
};

}  // namespace cardsim

#endif
